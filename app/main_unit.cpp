#include "app/main_unit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QThread>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/about_unit.h"
#include "app/fonts.h"
#include "app/hex_edit.h"
#include "core/catalogue/catalogue.h"
#include "core/memory/memory_ops.h"
#include "core/protocol/commands.h"
#include "core/protocol/encoding.h"
#include "core/settings/ini_file.h"
#include "core/settings/settings_path.h"
#include "image/hex_dump.h"
#include "image/intel_hex.h"
#include "image/raw_binary.h"

namespace qmx::app {

namespace {

constexpr int kClientWidth = 602;
constexpr int kClientHeight = 513;
constexpr int kMinimumHeight = 256;
constexpr int kTopPanelHeight = 133;
constexpr int kExtPanelHeight = 64;
constexpr int kMcwExtPanelHeight = 47;

const char* const kLedTexts[4] = {"OFF", "ON", "BUSY", "ERROR"};

// Settings sections per programmer model; C and ISP programmers share one.
const char* ModelSection(int model) {
  switch (model) {
    case kModel71A: return "QMX-71A";
    case kModel71B: return "QMX-71B";
    case kModel71C: return "QMX-ISP";
    default: return nullptr;
  }
}

QLabel* SunkenPanel(QWidget* parent, const char* name, Qt::Alignment align) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setAlignment(align | Qt::AlignVCenter);
  return label;
}

QLabel* Caption(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  return label;
}

QComboBox* DropDown(QWidget* parent, const char* name, const QStringList& items, int selected) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  box->addItems(items);
  box->setCurrentIndex(selected);
  return box;
}

// A stored list position that is not in the list selects the list's initial
// position, so no later step reads past a value table.
void SelectStored(QComboBox* box, int stored, int fallback) {
  box->setCurrentIndex(stored >= 0 && stored < box->count() ? stored : fallback);
}

bool IsBinaryFile(const QString& path) { return path.endsWith(".bin", Qt::CaseInsensitive); }

const QStringList kFileFilters = {QString::fromUtf8("インテルHEXファイル(*.hex)"),
                                  QString::fromUtf8("バイナリファイル(*.bin)")};

}  // namespace

// The procedures' view of the window while they run on the operation thread:
// log lines, progress and the checksum go to the window in order, the
// question waits for the operator's answer.
class WindowOperator : public Operator {
 public:
  explicit WindowOperator(TMainUnit* window) : w_(window) {}
  void LogLine(const std::string& utf8) override {
    QMetaObject::invokeMethod(
        w_, [w = w_, line = QString::fromStdString(utf8)] { w->LogLine(line); }, Qt::QueuedConnection);
  }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    bool ok = false;
    QMetaObject::invokeMethod(
        w_,
        [&] {
          ok = QMessageBox::question(w_, QString::fromStdString(caption), QString::fromStdString(text),
                                     QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
        },
        Qt::BlockingQueuedConnection);
    return ok;
  }
  void StartErrorIndication() override {
    w_->link_.SendCommand2(DEV_CTRL, DEVCTRL_LED_ERROR);  // the link is this thread's while it runs
    QMetaObject::invokeMethod(w_, [w = w_] { w->StartErrorIndication(); }, Qt::QueuedConnection);
  }
  void ShowImageChecksum(std::uint16_t sum) override {
    QMetaObject::invokeMethod(
        w_, [w = w_, sum] { w->statusPanels_[2]->setText(QString::asprintf("checksum=%04X", sum)); },
        Qt::QueuedConnection);
  }
  void Progress(int done, int total) override {
    QMetaObject::invokeMethod(w_, [w = w_, done, total] { w->OnProgress(done, total); }, Qt::QueuedConnection);
  }

 private:
  TMainUnit* w_;
};

TMainUnit::TMainUnit(AppOptions options, QWidget* parent)
    : QMainWindow(parent),
      options_(std::move(options)),
      provider_(MakeDefaultDeviceListProvider()),
      discovery_(std::make_unique<PortDiscovery>(*provider_)) {
  setObjectName("TMainUnit");
  setFont(UiFont());
  image_.Clear();

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(BuildTopPanel());
  column->addWidget(BuildExtPanel());
  column->addWidget(BuildMcwExtPanel());
  column->addWidget(BuildLogArea(), 1);
  setCentralWidget(central);
  BuildMenus();
  BuildStatusBar();

  about_ = new TAboutUnit(this);
  about_->hide();
  hexEdit_ = new THexEdit(this);
  hexEdit_->hide();

  ConnectTimer = new QTimer(this);
  ConnectTimer->setObjectName("ConnectTimer");
  ConnectTimer->setInterval(1000);
  connect(ConnectTimer, &QTimer::timeout, this, &TMainUnit::ConnectTimerTimer);
  ResetTimer = new QTimer(this);
  ResetTimer->setSingleShot(true);
  ResetTimer->setInterval(1000);
  connect(ResetTimer, &QTimer::timeout, this, [this] { link_.Channel().SetDtr(true); });

  ErrorTimer = new QTimer(this);
  ErrorTimer->setObjectName("ErrorTimer");
  ErrorTimer->setInterval(3000);
  ErrorTimer->setTimerType(Qt::PreciseTimer);  // a coarse timer may fire 5 % early
  connect(ErrorTimer, &QTimer::timeout, this, &TMainUnit::ErrorTimerTimer);

  // A failed one-byte send means the programmer is gone: a full disconnect.
  link_.SetCloseHook([this] { OnLinkClosed(); });
  link_.SetSwitchHandler([this](bool pressed) {
    if (pressed) switchPressed_ = true;
  });

  // FormCreate. Qt sizes exclude the window frame: the fixed width is the
  // client width, and the menu bar sits outside the client area.
  setWindowTitle(QStringLiteral("QMX71 Programmer") + " 1.00");
  const int menuHeight = menuBar()->sizeHint().height();
  setMinimumWidth(kClientWidth);
  setMaximumWidth(kClientWidth);
  setMinimumHeight(kMinimumHeight);
  resize(kClientWidth, kClientHeight + menuHeight);
  SetControlsEnabled(false);
  ConnectTimer->start();
  ConnectBtn->hide();
}

TMainUnit::~TMainUnit() { FormDestroy(); }

void TMainUnit::OnLinkClosed() {
  if (QThread::currentThread() == thread()) {
    DisconnectDevice();
    return;
  }
  // On the operation thread: close the link now, tidy the window when the
  // operation has ended.
  link_.Disconnect();
  disconnectPending_ = true;
}

QToolButton* TMainUnit::OperationButton(QWidget* parent, const char* name, const QString& caption,
                                        const char* icon) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setText(caption);
  QIcon picture;
  picture.addFile(QStringLiteral(":/icons/%1.svg").arg(icon), QSize(), QIcon::Normal);
  picture.addFile(QStringLiteral(":/icons/%1-disabled.svg").arg(icon), QSize(), QIcon::Disabled);
  button->setIcon(picture);
  button->setIconSize(QSize(20, 20));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  return button;
}

QWidget* TMainUnit::BuildTopPanel() {
  auto* panel = new QFrame;
  panel->setObjectName("Panel2");
  panel->setFixedHeight(kTopPanelHeight);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);

  Caption(panel, "Label1", "デバイスのタイプ")->setGeometry(8, 4, 180, 16);
  cbType = new QComboBox(panel);
  cbType->setObjectName("cbType");
  cbType->setGeometry(8, 20, 180, 24);
  Caption(panel, "Label2", "デバイスの種類")->setGeometry(196, 4, 130, 16);
  cbDevice = new QComboBox(panel);
  cbDevice->setObjectName("cbDevice");
  cbDevice->setGeometry(196, 20, 130, 24);
  ConnectBtn = new QPushButton("接続", panel);
  ConnectBtn->setObjectName("ConnectBtn");
  ConnectBtn->setGeometry(336, 19, 90, 26);

  Caption(panel, "Label3", "書き込みファイル")->setGeometry(8, 48, 180, 16);
  edDataFile = new QLineEdit(panel);
  edDataFile->setObjectName("edDataFile");
  edDataFile->setReadOnly(true);
  edDataFile->setGeometry(8, 64, 348, 24);
  DataFileBtn = new QPushButton("参照", panel);
  DataFileBtn->setObjectName("DataFileBtn");
  DataFileBtn->setGeometry(362, 63, 64, 26);

  const struct {
    QToolButton** slot;
    const char* name;
    const char* caption;
    const char* icon;
  } buttons[] = {
      {&ReadBtn, "ReadBtn", "読み出し", "read"},   {&WriteBtn, "WriteBtn", "書き込み", "write"},
      {&CompareBtn, "CompareBtn", "比較", "compare"}, {&EraseBtn, "EraseBtn", "消去", "erase"},
      {&BlankChkBtn, "BlankChkBtn", "ﾌﾞﾗﾝｸﾁｪｯｸ", "blank"}, {&ProgBtn, "ProgBtn", "プログラム", "program"},
  };
  int x = 8;
  for (const auto& b : buttons) {
    *b.slot = OperationButton(panel, b.name, QString::fromUtf8(b.caption), b.icon);
    (*b.slot)->setGeometry(x, 92, 69, 38);
    x += 70;
  }

  auto* group = new QGroupBox("プログラム", panel);
  group->setObjectName("GroupBox1");
  group->setGeometry(438, 2, 160, 128);
  Caption(group, "Label4", "実行")->setGeometry(10, 22, 44, 20);
  exeCntLbl = SunkenPanel(group, "exeCntLbl", Qt::AlignRight);
  exeCntLbl->setGeometry(58, 22, 90, 20);
  Caption(group, "Label5", "成功")->setGeometry(10, 46, 44, 20);
  OkCntLbl = SunkenPanel(group, "OkCntLbl", Qt::AlignRight);
  OkCntLbl->setGeometry(58, 46, 90, 20);
  Caption(group, "Label6", "エラー")->setGeometry(10, 70, 44, 20);
  ErrCntLbl = SunkenPanel(group, "ErrCntLbl", Qt::AlignRight);
  ErrCntLbl->setGeometry(58, 70, 90, 20);
  ClearBtn = new QPushButton("リセット", group);
  ClearBtn->setObjectName("ClearBtn");
  ClearBtn->setGeometry(58, 96, 90, 26);
  for (QLabel* l : {exeCntLbl, OkCntLbl, ErrCntLbl}) l->setText("0");

  connect(cbType, &QComboBox::activated, this, [this] { cbTypeChange(); });
  connect(cbDevice, &QComboBox::activated, this, [this] { cbDeviceChange(); });
  connect(ConnectBtn, &QPushButton::clicked, this, &TMainUnit::ConnectBtnClick);
  connect(ClearBtn, &QPushButton::clicked, this, [this] { UpdateCounters(-1); });
  connect(ProgBtn, &QToolButton::clicked, this, &TMainUnit::ProgBtnClick);
  connect(ReadBtn, &QToolButton::clicked, this, &TMainUnit::ReadBtnClick);
  connect(WriteBtn, &QToolButton::clicked, this, &TMainUnit::WriteBtnClick);
  connect(CompareBtn, &QToolButton::clicked, this, &TMainUnit::CompareBtnClick);
  connect(EraseBtn, &QToolButton::clicked, this, &TMainUnit::EraseBtnClick);
  connect(BlankChkBtn, &QToolButton::clicked, this, &TMainUnit::BlankChkBtnClick);
  connect(DataFileBtn, &QPushButton::clicked, this, &TMainUnit::DataFileBtnClick);
  return panel;
}

QWidget* TMainUnit::BuildExtPanel() {
  ExtPanel = new QFrame;
  ExtPanel->setObjectName("ExtPanel");
  ExtPanel->setFixedHeight(kExtPanelHeight);
  auto* group = new QGroupBox("共通", ExtPanel);
  group->setObjectName("GroupBox2");
  group->setGeometry(4, 0, kClientWidth - 8, kExtPanelHeight - 2);

  Caption(group, "Label7", "ページサイズ")->setGeometry(8, 16, 72, 20);
  edPageSize = new QLineEdit("1", group);
  edPageSize->setObjectName("edPageSize");
  edPageSize->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edPageSize));
  edPageSize->setGeometry(82, 16, 48, 20);
  edPageSize->installEventFilter(this);

  Caption(group, "Label8", "動作クロック")->setGeometry(140, 16, 70, 20);
  cbClockFreq = DropDown(group, "cbClockFreq",
                         {"高速(400KHz)", "標準(100KHz)", "低速(10KHz/48KHz)", "超低速(2KHz/48KHz)"}, 1);
  cbClockFreq->setGeometry(212, 16, 140, 20);

  Caption(group, "Label9", "プログラム")->setGeometry(362, 16, 60, 20);
  cbProgramMode = DropDown(group, "cbProgramMode", {"消去しない", "消去する"}, 1);
  cbProgramMode->setGeometry(424, 16, 100, 20);

  Caption(group, "Label10", "書込時間")->setGeometry(8, 38, 72, 20);
  cbMaxWriteTime = DropDown(group, "cbMaxWriteTime", {"5", "10", "20", "30", "50", "80", "100"}, 4);
  cbMaxWriteTime->setGeometry(82, 38, 60, 20);
  Caption(group, "Label11", "ms")->setGeometry(146, 38, 20, 20);

  chVppOut = new QCheckBox("ISPのVPPから3.3Vを出力する", group);
  chVppOut->setObjectName("chVppOut");
  chVppOut->setGeometry(176, 38, 220, 20);
  chVppOut->hide();
  cbExtSave = new QCheckBox("拡張設定を保存", group);
  cbExtSave->setObjectName("cbExtSave");
  cbExtSave->setGeometry(424, 38, 150, 20);

  ExtPanel->hide();
  return ExtPanel;
}

QWidget* TMainUnit::BuildMcwExtPanel() {
  McwExtPanel = new QFrame;
  McwExtPanel->setObjectName("McwExtPanel");
  McwExtPanel->setFixedHeight(kMcwExtPanelHeight);
  auto* group = new QGroupBox("マイクロワイヤデバイス用", McwExtPanel);
  group->setObjectName("GroupBox3");
  group->setGeometry(4, 0, kClientWidth - 8, kMcwExtPanelHeight - 2);

  Caption(group, "Label12", "データ")->setGeometry(8, 18, 40, 20);
  cbMcwDataMode = DropDown(group, "cbMcwDataMode", {"バイトモード", "リトルエンディアン", "ビッグエンディアン"}, 2);
  cbMcwDataMode->setGeometry(50, 18, 130, 20);
  Caption(group, "Label13", "GP0(PRE)")->setGeometry(192, 18, 60, 20);
  cbMcwGP0 = DropDown(group, "cbMcwGP0", {"L", "H"}, 1);
  cbMcwGP0->setGeometry(252, 18, 48, 20);
  Caption(group, "Label16", "GP1(ORG)")->setGeometry(312, 18, 60, 20);
  cbMcwGP1 = DropDown(group, "cbMcwGP1", {"L", "H"}, 1);
  cbMcwGP1->setGeometry(372, 18, 48, 20);
  Caption(group, "Label17", "転送")->setGeometry(434, 18, 30, 20);
  cbReadSize = DropDown(group, "cbReadSize", {"マルチ", "シングル"}, 1);
  cbReadSize->setGeometry(466, 18, 90, 20);

  connect(cbMcwDataMode, &QComboBox::activated, this, [this] { cbMcwDataModeChange(); });
  McwExtPanel->hide();
  return McwExtPanel;
}

QWidget* TMainUnit::BuildLogArea() {
  auto* panel = new QFrame;
  panel->setObjectName("Panel1");
  auto* column = new QVBoxLayout(panel);
  column->setContentsMargins(2, 2, 2, 2);
  column->setSpacing(2);

  auto* row = new QFrame(panel);
  row->setObjectName("Panel3");
  row->setFixedHeight(30);
  auto* line = new QHBoxLayout(row);
  line->setContentsMargins(4, 2, 4, 2);
  line->addWidget(Caption(row, "Label14", "VCC"));
  lblVcc = SunkenPanel(row, "lblVcc", Qt::AlignHCenter);
  lblVcc->setFixedWidth(44);
  lblVcc->setText("0");
  line->addWidget(lblVcc);
  line->addWidget(Caption(row, "Label15", "V"));
  line->addSpacing(16);

  LedTestPnl = new QFrame(row);
  LedTestPnl->setObjectName("LedTestPnl");
  LedTestPnl->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* led = new QHBoxLayout(LedTestPnl);
  led->setContentsMargins(4, 0, 4, 0);
  LedLabel = new QLabel("ON", LedTestPnl);
  LedLabel->setObjectName("LedLabel");
  LedLabel->setMinimumWidth(44);
  LedTestBtn = new QPushButton("LED Test", LedTestPnl);
  LedTestBtn->setObjectName("LedTestBtn");
  led->addWidget(LedLabel);
  led->addWidget(LedTestBtn);
  LedTestPnl->hide();
  line->addWidget(LedTestPnl);

  btnReset = new QPushButton("QMX71RESET", row);
  btnReset->setObjectName("btnReset");
  btnReset->hide();  // a service control nothing in the program shows
  line->addWidget(btnReset);
  line->addStretch(1);
  LogClearBtn = new QPushButton("クリア", row);
  LogClearBtn->setObjectName("LogClearBtn");
  line->addWidget(LogClearBtn);
  column->addWidget(row);

  Memo = new QPlainTextEdit(panel);
  Memo->setObjectName("Memo");
  Memo->setReadOnly(true);
  Memo->setFont(LogFont());
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setContextMenuPolicy(Qt::CustomContextMenu);
  column->addWidget(Memo, 1);

  connect(LedTestBtn, &QPushButton::clicked, this, &TMainUnit::LedTestBtnClick);
  connect(btnReset, &QPushButton::clicked, this, &TMainUnit::mnHWResetClick);
  connect(LogClearBtn, &QPushButton::clicked, this, &TMainUnit::mnLogClearClick);
  return panel;
}

void TMainUnit::BuildMenus() {
  auto add = [this](QMenu* menu, QAction** slot, const char* name, const QString& caption, const QKeySequence& keys) {
    auto* action = menu->addAction(caption);
    action->setObjectName(name);
    if (!keys.isEmpty()) action->setShortcut(keys);
    *slot = action;
    return action;
  };
  QMenu* file = menuBar()->addMenu("ファイル(&F)");
  file->setObjectName("mnFile");
  add(file, &mnSaveHex, "mnSaveHex", "HEXファイルに保存(&S)", QKeySequence("Ctrl+S"));
  add(file, &mnExit, "mnExit", "アプリケーションの終了(&X)", {});
  QMenu* tool = menuBar()->addMenu("ツール(&T)");
  tool->setObjectName("mnTool");
  add(tool, &mnHexEditor, "mnHexEditor", "HexEditorの起動(&H)", QKeySequence("Ctrl+H"));
  add(tool, &mnExtPanel, "mnExtPanel", "拡張設定(&X)", QKeySequence("Ctrl+X"));
  mnExtPanel->setCheckable(true);
  add(tool, &mnCheckSum, "mnCheckSum", "チェックサムの取得(&S)", {});
  add(tool, &mnLogClear, "mnLogClear", "ログの消去(&C)", QKeySequence("Ctrl+Del"));
  add(tool, &mnClearBuffer, "mnClearBuffer", "バッファクリア(&B)", {});
  add(tool, &mnHWReset, "mnHWReset", "ハードウェアリセット", QKeySequence("Ctrl+Alt+R"));
  QMenu* help = menuBar()->addMenu("ヘルプ(&H)");
  help->setObjectName("H1");
  add(help, &mnVersion, "mnVersion", "アプリケーションのバージョン(&V)", QKeySequence("Ctrl+V"));

  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName("PopupMenu");
  QAction* popLogClear = PopupMenu->addAction("ログデータのクリア(&C)");
  popLogClear->setObjectName("popLogClear");
  QAction* popHexEdit = PopupMenu->addAction("HexEditorの起動(&H)");
  popHexEdit->setObjectName("popHexEdit");

  connect(mnExit, &QAction::triggered, this, &QWidget::close);
  // The check state is the panels' state: the handler flips it itself.
  connect(mnExtPanel, &QAction::triggered, this, [this] {
    mnExtPanel->setChecked(!mnExtPanel->isChecked());
    mnExtPanelClick();
  });
  connect(mnHWReset, &QAction::triggered, this, &TMainUnit::mnHWResetClick);
  connect(mnVersion, &QAction::triggered, this, &TMainUnit::mnVersionClick);
  connect(mnLogClear, &QAction::triggered, this, &TMainUnit::mnLogClearClick);
  connect(popLogClear, &QAction::triggered, this, &TMainUnit::mnLogClearClick);
  connect(mnHexEditor, &QAction::triggered, this, &TMainUnit::mnHexEditorClick);
  connect(popHexEdit, &QAction::triggered, this, &TMainUnit::mnHexEditorClick);
  connect(mnSaveHex, &QAction::triggered, this, &TMainUnit::mnSaveHexClick);
  connect(mnCheckSum, &QAction::triggered, this, &TMainUnit::mnCheckSumClick);
  connect(mnClearBuffer, &QAction::triggered, this, &TMainUnit::mnClearBufferClick);
  connect(Memo, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu->popup(Memo->viewport()->mapToGlobal(at)); });
}

void TMainUnit::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName("StatusBar");
  bar->setSizeGripEnabled(false);
  const int widths[3] = {80, 400, 50};
  for (int i = 0; i < 3; ++i) {
    auto* panel = new QLabel(bar);
    panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    if (i < 2) {
      panel->setFixedWidth(widths[i]);
      bar->addWidget(panel);
    } else {
      panel->setMinimumWidth(widths[i]);
      bar->addWidget(panel, 1);  // the last panel takes what is left
    }
    statusPanels_[i] = panel;
  }
  progress_ = new QProgressBar(bar);
  progress_->setObjectName("ProgressBar");
  progress_->setFixedWidth(120);
  progress_->setTextVisible(false);
  progress_->hide();
  bar->addPermanentWidget(progress_);
}

QString TMainUnit::StatusText(int panel) const {
  return panel >= 0 && panel < 3 ? statusPanels_[panel]->text() : QString();
}

void TMainUnit::LogLine(const QString& line) { Memo->appendPlainText(line); }

// --- connection lifecycle ---------------------------------------------------

void TMainUnit::ConnectTimerTimer() {
  // The operation thread has the link: send nothing, and drop a switch press
  // rather than keep it for a second sequence.
  if (opRunning_) {
    switchPressed_ = false;
    return;
  }
  // The device lists are read afresh on every tick: the system lists only
  // present devices, so a programmer plugged in after the start is found too.
  const std::string port = DiscoverProgrammerPort(*discovery_);
  if (port.empty()) retry_.Forget();  // a replugged programmer is tried at once
  if (!link_.IsOpen()) {
    if (!port.empty() && retry_.MayTry(port)) ConnectDevice();
    return;
  }
  if (port.empty()) {
    DisconnectDevice();
    lblVcc->setText("0");
    return;
  }
  if (switchPressed_.exchange(false) && !busy_) ProgBtnClick();
  if (link_.IsOpen() && !opRunning_) ShowSupplyVoltage();
}

bool TMainUnit::ConnectDevice() {
  const std::string port = DiscoverProgrammerPort(*discovery_);
  if (port.empty()) return false;
  std::optional<std::string> name;
  {
    HandshakeWrites shortWrites(link_.Channel());
    if (!link_.OpenPort(port)) return false;
    name = link_.QueryName();
    if (!name) DisconnectDevice();  // its drain, too, waits no longer than a handshake write
  }
  if (!name) {
    retry_.Failed(port);
    return false;
  }
  retry_.Forget();
  // Only a new connection starts new counts: a failed try leaves the last
  // sequence's failure on show.
  UpdateCounters(-1);
  statusPanels_[0]->setText(QString::fromStdString(*name));
  SetModelFamilies(ModelFromNameForProgram(*name));
  SetControlsEnabled(true);
  ConnectBtn->setText("切断");
  link_.Query(GET_VOLTAGE, RESP_VOLTAGE);  // the first reading after connecting is discarded
  ShowSupplyVoltage();
  LoadSettings();
  busy_ = false;
  if (factoryMode_) {
    LedTestPnl->show();
    ledState_ = 1;
  }
  return true;
}

void TMainUnit::DisconnectDevice() {
  link_.Disconnect();
  statusPanels_[0]->clear();
  cbType->clear();
  cbDevice->clear();
  SetControlsEnabled(false);
  ConnectBtn->setText("接続");
  lblVcc->setText("0");
}

void TMainUnit::ConnectBtnClick() {
  if (!link_.IsOpen()) {
    ConnectDevice();
  } else {
    DisconnectDevice();
  }
}

void TMainUnit::SetControlsEnabled(bool enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{ReadBtn, CompareBtn, EraseBtn, ProgBtn, WriteBtn, BlankChkBtn,
                                                    DataFileBtn})
    w->setEnabled(enabled);
  for (QAction* a : {mnSaveHex, mnCheckSum, mnHexEditor}) a->setEnabled(enabled);
  controlsEnabled_ = enabled;
}

void TMainUnit::ShowSupplyVoltage() {
  if (!link_.Query(GET_VOLTAGE, RESP_VOLTAGE)) return;
  const int r = link_.Response().data[0];
  if (r == 0) return;  // no reading to divide by: keep the previous text
  const int tenths = 26100 / r / 10;
  lblVcc->setText(QString::asprintf("%.1f", tenths / 10.0));
}

void TMainUnit::mnHWResetClick() {
  link_.Channel().SetDtr(false);
  ResetTimer->start();  // DTR goes up again in a second; the window keeps painting meanwhile
}

void TMainUnit::LedTestBtnClick() {
  if (opRunning_) return;  // the operation thread has the link
  ledState_ = (ledState_ + 1) % 4;
  LedLabel->setText(kLedTexts[ledState_]);
  link_.SendCommand2(DEV_CTRL, static_cast<std::uint8_t>(DEVCTRL_LED_OFF + ledState_));
}

void TMainUnit::UpdateCounters(int n) {
  if (n < 0) {
    executed_ = succeeded_ = failed_ = 0;
  } else {
    ++executed_;
    ++(n == 0 ? succeeded_ : failed_);
  }
  exeCntLbl->setText(QString::number(executed_));
  OkCntLbl->setText(QString::number(succeeded_));
  ErrCntLbl->setText(QString::number(failed_));
}

QStringList TMainUnit::LogLines() const {
  QStringList lines = Memo->toPlainText().split('\n');
  if (lines.size() == 1 && lines.front().isEmpty()) lines.clear();
  return lines;
}

ProgramSettings TMainUnit::CurrentSettings() const {
  ProgramSettings s;
  s.family = deviceFamily_;
  s.row = cbDevice->currentIndex();
  s.model = programmerModel_;
  s.readSize = cbReadSize->currentIndex();
  s.dataMode = cbMcwDataMode->currentIndex();
  s.gp0 = cbMcwGP0->currentIndex();
  s.gp1 = cbMcwGP1->currentIndex();
  s.clockIndex = cbClockFreq->currentIndex();
  s.maxWriteTime = cbMaxWriteTime->currentText().toStdString();
  s.vppOut = chVppOut->isChecked();
  s.pageSize = edPageSize->text().toStdString();
  return s;
}

int TMainUnit::DumpLayoutIndex() const {
  return deviceFamily_ == kFamilyMicrowire ? cbMcwDataMode->currentIndex() : 0;
}

void TMainUnit::SetOperationControls(bool running) {
  // Nothing that sends to the programmer or changes the image may start
  // while the operation thread has them; the log stays usable.
  for (QWidget* w : {findChild<QWidget*>("Panel2"), ExtPanel, McwExtPanel, static_cast<QWidget*>(LedTestPnl)})
    w->setEnabled(!running);
  menuBar()->setEnabled(!running);
  PopupMenu->setEnabled(!running);
  // Shortcuts belong to the actions, not to the menu bar: switch them too.
  for (QAction* a : {mnExtPanel, mnClearBuffer, mnHWReset, mnVersion}) a->setEnabled(!running);
  for (QAction* a : {mnSaveHex, mnCheckSum, mnHexEditor}) a->setEnabled(!running && controlsEnabled_);
  progress_->setVisible(running);
  if (running) progress_->setRange(0, 0);
}

void TMainUnit::OnProgress(int done, int total) {
  if (!opRunning_ || total <= 0) return;
  progress_->setRange(0, total);
  progress_->setValue(done);
}

void TMainUnit::RunOperation(std::function<int(Operator&)> job, std::function<void(int)> done) {
  if (opRunning_ || !link_.IsOpen()) {
    if (done) done(0);
    return;
  }
  opRunning_ = true;
  SetOperationControls(true);
  worker_ = std::thread([this, job = std::move(job), done = std::move(done)] {
    WindowOperator op(this);
    const int result = job(op);
    QMetaObject::invokeMethod(
        this, [this, result, done] { FinishOperation(result, done); }, Qt::QueuedConnection);
  });
}

void TMainUnit::FinishOperation(int result, const std::function<void(int)>& done) {
  if (worker_.joinable()) worker_.join();
  opRunning_ = false;
  SetOperationControls(false);
  if (done) done(result);
  if (disconnectPending_.exchange(false)) DisconnectDevice();
  if (ledReadyPending_) {
    ledReadyPending_ = false;
    link_.SendCommand2(DEV_CTRL, DEVCTRL_LED_ON);
  }
  emit operationFinished(result);
  if (closePending_) close();
}

TMainUnit::Reload TMainUnit::ReloadDataFile() {
  const QString file = edDataFile->text();
  if (file.isEmpty() || !QFileInfo(file).isFile()) return Reload::kNoFile;
  const bool ok = IsBinaryFile(file) ? LoadBinary(file.toStdString(), image_) == BinaryLoadStatus::kOk
                                     : LoadIntelHex(file.toStdString(), image_);
  return ok ? Reload::kLoaded : Reload::kFailed;
}

void TMainUnit::ProgBtnClick() {
  if (opRunning_ || !link_.IsOpen()) return;
  busy_ = true;
  const Reload reload = ReloadDataFile();
  const QString countLine = QString::asprintf("----- プログラムカウント %d -----", executed_ + 1);
  const bool erase = cbProgramMode->currentIndex() == 1;
  const ProgramSettings settings = CurrentSettings();
  RunOperation(
      [this, reload, countLine, erase, settings](Operator& op) -> int {
        op.LogLine(countLine.toStdString());
        // A file that could not be read whole is never written in part.
        if (reload == Reload::kFailed) {
          op.LogLine("HEXファイルの読み込みに失敗しました。");
          return 0;
        }
        if (erase) {
          if (!ProgramWriteSide(link_, image_, reverse_, settings, op, kErase)) return 0;
          if (!ProgramReadSide(link_, image_, reverse_, settings, op, kBlankCheck)) return 0;
        }
        if (!ProgramWriteSide(link_, image_, reverse_, settings, op, kWrite)) return 0;
        if (!ProgramReadSide(link_, image_, reverse_, settings, op, kCompare)) return 0;
        op.LogLine("-- プログラム正常終了 --");
        return 1;
      },
      [this](int result) {
        UpdateCounters(result == 1 ? 0 : 1);
        busy_ = false;
      });
  if (!opRunning_) busy_ = false;
}

void TMainUnit::ReadBtnClick() {
  const ProgramSettings settings = CurrentSettings();
  RunOperation([this, settings](Operator& op) {
    return ProgramReadSide(link_, image_, reverse_, settings, op, kRead);
  });
}

void TMainUnit::CompareBtnClick() {
  const ProgramSettings settings = CurrentSettings();
  RunOperation([this, settings](Operator& op) {
    return ProgramReadSide(link_, image_, reverse_, settings, op, kCompare);
  });
}

void TMainUnit::BlankChkBtnClick() {
  const ProgramSettings settings = CurrentSettings();
  RunOperation([this, settings](Operator& op) {
    return ProgramReadSide(link_, image_, reverse_, settings, op, kBlankCheck);
  });
}

void TMainUnit::mnCheckSumClick() {
  const ProgramSettings settings = CurrentSettings();
  RunOperation([this, settings](Operator& op) {
    return ProgramReadSide(link_, image_, reverse_, settings, op, kChecksum);
  });
}

void TMainUnit::WriteBtnClick() {
  if (opRunning_ || !link_.IsOpen()) return;
  const Reload reload = ReloadDataFile();
  if (reload == Reload::kFailed) {
    LogLine("HEXファイルの読み込みに失敗しました。");
    return;
  }
  const ProgramSettings settings = CurrentSettings();
  RunOperation([this, settings](Operator& op) {
    return ProgramWriteSide(link_, image_, reverse_, settings, op, kWrite);
  });
}

void TMainUnit::EraseBtnClick() {
  const ProgramSettings settings = CurrentSettings();
  RunOperation([this, settings](Operator& op) {
    return ProgramWriteSide(link_, image_, reverse_, settings, op, kErase);
  });
}

void TMainUnit::StartErrorIndication() {
  // Runs on the window thread; the operation thread has already sent the
  // error code. A second failure does not restart the interval.
  if (!ErrorTimer->isActive()) ErrorTimer->start();
}

void TMainUnit::ErrorTimerTimer() {
  ErrorTimer->stop();
  if (opRunning_) {
    ledReadyPending_ = true;
  } else {
    link_.SendCommand2(DEV_CTRL, DEVCTRL_LED_ON);
  }
}

void TMainUnit::DataFileBtnClick() {
  if (opRunning_) return;
  QFileDialog dialog(this);
  dialog.setObjectName("OpenDlg");
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(kFileFilters);
  dialog.setDefaultSuffix("hex");
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  LoadDataFile(dialog.selectedFiles().front());
}

bool TMainUnit::LoadDataFile(const QString& path) {
  const bool ok = IsBinaryFile(path) ? LoadBinary(path.toStdString(), image_) == BinaryLoadStatus::kOk
                                     : LoadIntelHex(path.toStdString(), image_);
  if (!ok) {
    image_.Clear();
    return false;
  }
  const QFileInfo info(path);
  edDataFile->setText(info.absoluteFilePath());
  statusPanels_[1]->setText(info.fileName());
  LogLine("Hex Data:");
  for (const std::string& line : HexDumpLines(image_.Data(), static_cast<std::size_t>(image_.Size()),
                                              DumpLayoutFromIndex(DumpLayoutIndex())))
    LogLine(QString::fromStdString(line));
  const QString sum = QString::asprintf("checksum=%04X", image_.ImageSum());
  LogLine(sum);
  statusPanels_[2]->setText(sum);
  return true;
}

void TMainUnit::mnSaveHexClick() {
  if (opRunning_) return;
  QFileDialog dialog(this);
  dialog.setObjectName("SaveDlg");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters(kFileFilters);
  dialog.setDefaultSuffix("hex");
  dialog.setOption(QFileDialog::DontConfirmOverwrite);  // the window asks its own question
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  SaveDataFile(dialog.selectedFiles().front());
}

bool TMainUnit::SaveDataFile(const QString& path) {
  if (QFileInfo::exists(path)) {
    QMessageBox ask(QMessageBox::Question, "ファイルの上書き", "ファイルを上書きしてもよろしいですか？",
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    ask.setObjectName("OverwriteQuestion");
    if (ask.exec() != QMessageBox::Ok) return false;
  }
  const bool ok =
      IsBinaryFile(path) ? SaveBinary(image_, path.toStdString()) : SaveIntelHex(image_, path.toStdString());
  // The file as it was stays intact on failure; the operator should know.
  if (!ok) LogLine("ファイルの保存に失敗しました。");
  return ok;
}

void TMainUnit::mnClearBufferClick() {
  if (opRunning_) return;
  image_.Clear();
  LogLine("バッファをクリアしました。");
}

void TMainUnit::mnLogClearClick() { Memo->clear(); }

void TMainUnit::mnHexEditorClick() {
  if (!link_.IsOpen() || opRunning_) return;
  hexEdit_->Open(&image_, image_.Size(), DumpLayoutIndex());
  hexEdit_->exec();
}

void TMainUnit::mnVersionClick() {
  if (opRunning_) return;
  about_->SetAppVersion("1.00");
  QString firmware = "---";
  if (link_.IsOpen() && link_.Query(GET_VERSION, RESP_VERSION)) {
    const Answer& a = link_.Response();
    firmware = QString::fromStdString(VersionText(a.data[0], a.data[1]));
  }
  about_->SetFirmwareVersion(firmware);
  about_->exec();
}

void TMainUnit::closeEvent(QCloseEvent* event) {
  // An operation is never cut off half-way: the window closes when it ends.
  if (opRunning_) {
    closePending_ = true;
    event->ignore();
    return;
  }
  FormDestroy();
  event->accept();
}

void TMainUnit::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  // Destroyed while an operation runs: let it end (its question and log
  // calls need this thread's event loop), then tidy up.
  while (opRunning_) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  ConnectTimer->stop();
  SaveSettings();
  DisconnectDevice();
}

bool TMainUnit::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edPageSize && event->type() == QEvent::FocusOut) edPageSizeExit();
  return QMainWindow::eventFilter(watched, event);
}

// --- device selection -------------------------------------------------------

void TMainUnit::SetModelFamilies(int model) {
  if (model < kModel71A || model > kModelUnknown) return;
  programmerModel_ = model;
  cbType->clear();
  for (int family : ProgramFamilies(model)) cbType->addItem(QString::fromUtf8(FamilyCaption(family)));
  if (model == kModel71A || model == kModel71B) chVppOut->hide();
  if (model == kModel71C) chVppOut->show();
  cbType->setCurrentIndex(cbType->count() > 0 ? 0 : -1);
  cbTypeChange();
}

void TMainUnit::SendSetMode(int family) {
  link_.SendCommand4(SET_MODE, static_cast<std::uint8_t>(family), 0, 50);
}

void TMainUnit::cbTypeChange() {
  const int position = cbType->currentIndex();
  if (position >= 0) {
    const int family = position == 0 ? (programmerModel_ == kModel71B ? kFamilySpi : kFamilyMicrowire)
                       : position == 1 ? kFamilyI2c
                                       : kFamilySpi;
    deviceFamily_ = family;
  }
  microwireVariant_ = 0;
  cbDevice->clear();
  if (deviceFamily_ >= kFamilyMicrowire && deviceFamily_ <= kFamilySpi) {
    for (int row = 0; row < RowCount(deviceFamily_); ++row)
      cbDevice->addItem(QString::fromUtf8(PartName(deviceFamily_, row)));
    cbDevice->setCurrentIndex(DefaultRow(deviceFamily_));
    SendSetMode(deviceFamily_);
    McwExtPanel->setVisible(deviceFamily_ == kFamilyMicrowire && mnExtPanel->isChecked());
  }
  cbDeviceChange();
}

void TMainUnit::cbDeviceChange() {
  const int row = cbDevice->currentIndex();
  int page = 0;
  if (deviceFamily_ >= kFamilyMicrowire && deviceFamily_ <= kFamilySpi && row >= 0 && row < RowCount(deviceFamily_)) {
    image_.SetSize(PartSize(deviceFamily_, row));
    if (deviceFamily_ == kFamilyMicrowire) {
      microwireVariant_ = MicrowireParts()[static_cast<std::size_t>(row)].variant;
      page = 1;
    } else {
      page = DefaultPageSize(deviceFamily_, row);
    }
  }
  image_.Clear();
  edPageSize->setText(QString::number(page));
  const QString file = edDataFile->text();
  if (!file.isEmpty() && QFileInfo(file).isFile()) {
    LoadIntelHex(file.toStdString(), image_);
    statusPanels_[2]->setText(QString::asprintf("checksum=%04X", image_.ImageSum()));
  } else {
    statusPanels_[2]->clear();
  }
}

void TMainUnit::edPageSizeExit() {
  edPageSize->setText(QString::number(ParseIntOr(edPageSize->text().toStdString(), 1)));
}

void TMainUnit::mnExtPanelClick() {
  // Called with the item's state as it was before the click.
  if (mnExtPanel->isChecked()) {
    mnExtPanel->setChecked(false);
    ExtPanel->hide();
    McwExtPanel->hide();
  } else {
    mnExtPanel->setChecked(true);
    ExtPanel->show();
    McwExtPanel->setVisible(deviceFamily_ == kFamilyMicrowire);
  }
}

void TMainUnit::cbMcwDataModeChange() { cbMcwGP1->setCurrentIndex(cbMcwDataMode->currentIndex() == 0 ? 0 : 1); }

// --- settings file ----------------------------------------------------------

void TMainUnit::LoadSettings() {
  const char* section = ModelSection(programmerModel_);
  if (!section || options_.settingsPath.empty()) return;
  IniFile ini;
  ini.Load(options_.settingsPath);
  const int typeBefore = std::max(0, cbType->currentIndex());
  const int deviceBefore = std::max(0, cbDevice->currentIndex());

  const int type = ini.ReadInteger(section, "DeviceType", typeBefore);
  cbType->setCurrentIndex(type >= 0 && type < cbType->count() ? type : typeBefore);
  if (cbType->currentIndex() < 0 && cbType->count() > 0) cbType->setCurrentIndex(0);
  cbTypeChange();

  const int device = ini.ReadInteger(section, "DeviceNo", deviceBefore);
  cbDevice->setCurrentIndex(device >= 0 && device < cbDevice->count() ? device : deviceBefore);
  // A fallback past the rebuilt list too: the family's default part.
  if (cbDevice->currentIndex() < 0 && cbDevice->count() > 0) cbDevice->setCurrentIndex(DefaultRow(deviceFamily_));
  cbDeviceChange();

  microwireVariant_ = ini.ReadInteger(section, "ExtDevType", microwireVariant_);
  factoryMode_ = ini.ReadBool("SYSTEM", "FactoryMode", false);
  cbExtSave->setChecked(ini.ReadBool("ExtSetting", "SaveExtSetting", cbExtSave->isChecked()));
  if (!cbExtSave->isChecked()) return;

  const int page = ini.ReadInteger("ExtSetting", "PageSize", ParseIntOr(edPageSize->text().toStdString(), 0));
  edPageSize->setText(QString::number(page));
  SelectStored(cbClockFreq, ini.ReadInteger("ExtSetting", "FreqSetting", cbClockFreq->currentIndex()), 1);
  SelectStored(cbProgramMode, ini.ReadInteger("ExtSetting", "ProgMode", cbProgramMode->currentIndex()), 1);
  SelectStored(cbMaxWriteTime, ini.ReadInteger("ExtSetting", "WriteTime", cbMaxWriteTime->currentIndex()), 4);
  SelectStored(cbMcwDataMode, ini.ReadInteger("ExtSetting", "EndianType", cbMcwDataMode->currentIndex()), 2);
  SelectStored(cbMcwGP0, ini.ReadInteger("ExtSetting", "GP0Setting", cbMcwGP0->currentIndex()), 1);
  SelectStored(cbMcwGP1, ini.ReadInteger("ExtSetting", "GP1Setting", cbMcwGP1->currentIndex()), 1);
  SelectStored(cbReadSize, ini.ReadInteger("ExtSetting", "ReadSize", cbReadSize->currentIndex()), 1);
  mnExtPanel->setChecked(false);
  mnExtPanelClick();
  chVppOut->setChecked(ini.ReadBool("ExtSetting", "VppOut", chVppOut->isChecked()));
}

void TMainUnit::SaveSettings() {
  const char* section = ModelSection(programmerModel_);
  if (!section || options_.settingsPath.empty()) return;
  IniFile ini;
  // A file that exists but cannot be read is not overwritten: its keys would be lost.
  if (!ini.Load(options_.settingsPath)) return;
  ini.WriteInteger(section, "DeviceType", cbType->currentIndex());
  ini.WriteInteger(section, "DeviceNo", cbDevice->currentIndex());
  ini.WriteInteger(section, "ExtDevType", microwireVariant_);
  ini.WriteBool("ExtSetting", "SaveExtSetting", cbExtSave->isChecked());
  if (cbExtSave->isChecked()) {
    ini.WriteInteger("ExtSetting", "PageSize", ParseIntOr(edPageSize->text().toStdString(), 0));
    ini.WriteInteger("ExtSetting", "FreqSetting", cbClockFreq->currentIndex());
    ini.WriteInteger("ExtSetting", "ProgMode", cbProgramMode->currentIndex());
    ini.WriteInteger("ExtSetting", "WriteTime", cbMaxWriteTime->currentIndex());
    ini.WriteInteger("ExtSetting", "EndianType", cbMcwDataMode->currentIndex());
    ini.WriteInteger("ExtSetting", "GP0Setting", cbMcwGP0->currentIndex());
    ini.WriteInteger("ExtSetting", "GP1Setting", cbMcwGP1->currentIndex());
    ini.WriteInteger("ExtSetting", "ReadSize", cbReadSize->currentIndex());
    ini.WriteBool("ExtSetting", "VppOut", chVppOut->isChecked());
  }
  EnsureParentFolder(options_.settingsPath);
  ini.Save(options_.settingsPath);
}

}  // namespace qmx::app
