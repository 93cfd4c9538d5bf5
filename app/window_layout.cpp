#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStatusBar>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/fonts.h"
#include "app/height_guard.h"
#include "app/main_unit.h"
#include "app/production_panel.h"
#include "app/window_metrics.h"

namespace qmx::app {

namespace {

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

}  // namespace

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

  Caption(panel, "Label1", tr("デバイスのタイプ"))->setGeometry(8, 4, 180, 16);
  cbType = new QComboBox(panel);
  cbType->setObjectName("cbType");
  cbType->setGeometry(8, 20, 180, 24);
  Caption(panel, "Label2", tr("デバイスの種類"))->setGeometry(196, 4, 130, 16);
  cbDevice = new QComboBox(panel);
  cbDevice->setObjectName("cbDevice");
  cbDevice->setGeometry(196, 20, 130, 24);
  ConnectBtn = new QPushButton(tr("接続"), panel);
  ConnectBtn->setObjectName("ConnectBtn");
  ConnectBtn->setGeometry(336, 19, 90, 26);

  Caption(panel, "Label3", tr("書き込みファイル"))->setGeometry(8, 48, 180, 16);
  edDataFile = new QLineEdit(panel);
  edDataFile->setObjectName("edDataFile");
  edDataFile->setReadOnly(true);
  edDataFile->setGeometry(8, 64, 348, 24);
  DataFileBtn = new QPushButton(tr("参照"), panel);
  DataFileBtn->setObjectName("DataFileBtn");
  DataFileBtn->setGeometry(362, 63, 64, 26);

  const struct {
    QToolButton** slot;
    const char* name;
    const char* caption;
    const char* icon;
  } buttons[] = {
      {&ReadBtn, "ReadBtn", QT_TR_NOOP("読み出し"), "read"},
      {&WriteBtn, "WriteBtn", QT_TR_NOOP("書き込み"), "write"},
      {&CompareBtn, "CompareBtn", QT_TR_NOOP("比較"), "compare"},
      {&EraseBtn, "EraseBtn", QT_TR_NOOP("消去"), "erase"},
      {&BlankChkBtn, "BlankChkBtn", QT_TR_NOOP("ﾌﾞﾗﾝｸﾁｪｯｸ"), "blank"},
      {&ProgBtn, "ProgBtn", QT_TR_NOOP("プログラム"), "program"},
  };
  int x = 8;
  for (const auto& b : buttons) {
    *b.slot = OperationButton(panel, b.name, tr(b.caption), b.icon);
    (*b.slot)->setGeometry(x, 92, 69, 38);
    x += 70;
  }

  auto* group = new QGroupBox(tr("プログラム"), panel);
  group->setObjectName("GroupBox1");
  group->setGeometry(438, 2, 160, 128);
  Caption(group, "Label4", tr("実行"))->setGeometry(10, 22, 44, 20);
  exeCntLbl = SunkenPanel(group, "exeCntLbl", Qt::AlignRight);
  exeCntLbl->setGeometry(58, 22, 90, 20);
  Caption(group, "Label5", tr("成功"))->setGeometry(10, 46, 44, 20);
  OkCntLbl = SunkenPanel(group, "OkCntLbl", Qt::AlignRight);
  OkCntLbl->setGeometry(58, 46, 90, 20);
  Caption(group, "Label6", tr("エラー"))->setGeometry(10, 70, 44, 20);
  ErrCntLbl = SunkenPanel(group, "ErrCntLbl", Qt::AlignRight);
  ErrCntLbl->setGeometry(58, 70, 90, 20);
  ClearBtn = new QPushButton(tr("リセット"), group);
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
  auto* group = new QGroupBox(tr("共通"), ExtPanel);
  group->setObjectName("GroupBox2");
  group->setGeometry(4, 0, kClientWidth - 8, kExtPanelHeight - 2);

  Caption(group, "Label7", tr("ページサイズ"))->setGeometry(8, 16, 72, 20);
  edPageSize = new QLineEdit("1", group);
  edPageSize->setObjectName("edPageSize");
  edPageSize->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edPageSize));
  edPageSize->setGeometry(82, 16, 48, 20);
  edPageSize->installEventFilter(this);
  // The field keeps the catalogue's page; the datasheet's is only offered.
  lbPageHint = new QLabel(group);
  lbPageHint->setObjectName("lbPageHint");
  lbPageHint->setGeometry(530, 16, 66, 20);

  Caption(group, "Label8", tr("動作クロック"))->setGeometry(140, 16, 70, 20);
  cbClockFreq = DropDown(group, "cbClockFreq",
                         {tr("高速(400KHz)"), tr("標準(100KHz)"), tr("低速(10KHz/48KHz)"), tr("超低速(2KHz/48KHz)")}, 1);
  cbClockFreq->setGeometry(212, 16, 140, 20);

  Caption(group, "Label9", tr("プログラム"))->setGeometry(362, 16, 60, 20);
  cbProgramMode = DropDown(group, "cbProgramMode", {tr("消去しない"), tr("消去する")}, 1);
  cbProgramMode->setGeometry(424, 16, 100, 20);

  Caption(group, "Label10", tr("書込時間"))->setGeometry(8, 38, 72, 20);
  cbMaxWriteTime = DropDown(group, "cbMaxWriteTime", {"5", "10", "20", "30", "50", "80", "100"}, 4);
  cbMaxWriteTime->setGeometry(82, 38, 60, 20);
  Caption(group, "Label11", "ms")->setGeometry(146, 38, 20, 20);

  chVppOut = new QCheckBox(tr("ISPのVPPから3.3Vを出力する"), group);
  chVppOut->setObjectName("chVppOut");
  chVppOut->setGeometry(176, 38, 220, 20);
  chVppOut->hide();
  cbExtSave = new QCheckBox(tr("拡張設定を保存"), group);
  cbExtSave->setObjectName("cbExtSave");
  cbExtSave->setGeometry(424, 38, 150, 20);

  ExtPanel->hide();
  return ExtPanel;
}

QWidget* TMainUnit::BuildMcwExtPanel() {
  McwExtPanel = new QFrame;
  McwExtPanel->setObjectName("McwExtPanel");
  McwExtPanel->setFixedHeight(kMcwExtPanelHeight);
  auto* group = new QGroupBox(tr("マイクロワイヤデバイス用"), McwExtPanel);
  group->setObjectName("GroupBox3");
  group->setGeometry(4, 0, kClientWidth - 8, kMcwExtPanelHeight - 2);

  Caption(group, "Label12", tr("データ"))->setGeometry(8, 18, 40, 20);
  cbMcwDataMode = DropDown(group, "cbMcwDataMode", {tr("バイトモード"), tr("リトルエンディアン"), tr("ビッグエンディアン")}, 2);
  cbMcwDataMode->setGeometry(50, 18, 130, 20);
  Caption(group, "Label13", "GP0(PRE)")->setGeometry(192, 18, 60, 20);
  cbMcwGP0 = DropDown(group, "cbMcwGP0", {"L", "H"}, 1);
  cbMcwGP0->setGeometry(252, 18, 48, 20);
  Caption(group, "Label16", "GP1(ORG)")->setGeometry(312, 18, 60, 20);
  cbMcwGP1 = DropDown(group, "cbMcwGP1", {"L", "H"}, 1);
  cbMcwGP1->setGeometry(372, 18, 48, 20);
  Caption(group, "Label17", tr("転送"))->setGeometry(434, 18, 30, 20);
  cbReadSize = DropDown(group, "cbReadSize", {tr("マルチ"), tr("シングル")}, 1);
  cbReadSize->setGeometry(466, 18, 90, 20);

  connect(cbMcwDataMode, &QComboBox::activated, this, [this] { cbMcwDataModeChange(); });
  McwExtPanel->hide();
  auto* guard = new MinimumHeightGuard(this);
  ExtPanel->installEventFilter(guard);
  McwExtPanel->installEventFilter(guard);
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
  line->addWidget(BuildProgressPanel(row));
  line->addWidget(CancelBtn);
  line->addSpacing(12);
  LogClearBtn = new QPushButton(tr("クリア"), row);
  LogClearBtn->setObjectName("LogClearBtn");
  line->addWidget(LogClearBtn);
  column->addWidget(row);

  Memo = new QPlainTextEdit(panel);
  Memo->setObjectName("Memo");
  Memo->setReadOnly(true);
  Memo->setFont(LogFont());
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setContextMenuPolicy(Qt::CustomContextMenu);
  // Two lines at least, not the scroll area's default: at the window's
  // smallest height the log gives way, not the panels above it.
  Memo->setMinimumHeight(2 * Memo->fontMetrics().lineSpacing() + 2 * Memo->frameWidth());
  column->addWidget(Memo, 1);

  connect(LedTestBtn, &QPushButton::clicked, this, &TMainUnit::LedTestBtnClick);
  connect(btnReset, &QPushButton::clicked, this, &TMainUnit::mnHWResetClick);
  connect(LogClearBtn, &QPushButton::clicked, this, &TMainUnit::mnLogClearClick);
  return panel;
}

void TMainUnit::BuildMenus() {
  auto add = [](QMenu* menu, QAction** slot, const char* name, const QString& caption, const QKeySequence& keys) {
    auto* action = menu->addAction(caption);
    action->setObjectName(name);
    if (!keys.isEmpty()) action->setShortcut(keys);
    *slot = action;
    return action;
  };
  QMenu* file = menuBar()->addMenu(tr("ファイル(&F)"));
  file->setObjectName("mnFile");
  add(file, &mnSaveHex, "mnSaveHex", tr("HEXファイルに保存(&S)"), QKeySequence("Ctrl+S"));
  add(file, &mnExit, "mnExit", tr("アプリケーションの終了(&X)"), {});
  QMenu* tool = menuBar()->addMenu(tr("ツール(&T)"));
  tool->setObjectName("mnTool");
  add(tool, &mnHexEditor, "mnHexEditor", tr("HexEditorの起動(&H)"), QKeySequence("Ctrl+H"));
  add(tool, &mnExtPanel, "mnExtPanel", tr("拡張設定(&X)"), QKeySequence("Ctrl+X"));
  mnExtPanel->setCheckable(true);
  add(tool, &mnProduction, "mnProduction", tr("量産パネル(&P)"), {});
  mnProduction->setCheckable(true);
  connect(mnProduction, &QAction::toggled, production_, &QWidget::setVisible);
  add(tool, &mnCheckSum, "mnCheckSum", tr("チェックサムの取得(&S)"), {});
  add(tool, &mnDigests, "mnDigests", tr("チェックサムの取得 (CRC-32, SHA-256)(&D)"), {});
  add(tool, &mnLogClear, "mnLogClear", tr("ログの消去(&C)"), QKeySequence("Ctrl+Del"));
  add(tool, &mnClearBuffer, "mnClearBuffer", tr("バッファクリア(&B)"), {});
  add(tool, &mnHWReset, "mnHWReset", tr("ハードウェアリセット"), QKeySequence("Ctrl+Alt+R"));
  QMenu* help = menuBar()->addMenu(tr("ヘルプ(&H)"));
  help->setObjectName("H1");
  add(help, &mnVersion, "mnVersion", tr("アプリケーションのバージョン(&V)"), QKeySequence("Ctrl+V"));

  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName("PopupMenu");
  QAction* popLogClear = PopupMenu->addAction(tr("ログデータのクリア(&C)"));
  popLogClear->setObjectName("popLogClear");
  QAction* popHexEdit = PopupMenu->addAction(tr("HexEditorの起動(&H)"));
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
  connect(mnDigests, &QAction::triggered, this, &TMainUnit::mnDigestsClick);
  // Offered whenever Checksum is.
  connect(mnCheckSum, &QAction::changed, mnDigests, [this] { mnDigests->setEnabled(mnCheckSum->isEnabled()); });
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
}

QWidget* TMainUnit::BuildProgressPanel(QWidget* parent) {
  // In the log's own row: it stays usable while the operation thread runs,
  // and showing it takes no height from the panels above. 中止 is the
  // caller's to place, beside it.
  ProgressPanel = new QWidget(parent);
  ProgressPanel->setObjectName("ProgressPanel");
  auto* shown = new QHBoxLayout(ProgressPanel);
  shown->setContentsMargins(0, 0, 0, 0);
  ProgressLabel = new QLabel(ProgressPanel);
  ProgressLabel->setObjectName("ProgressLabel");
  // Against the bar: as the text grows it takes from the stretch on its
  // left, and the bar and 中止 stay where they are.
  ProgressLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  progress_ = new QProgressBar(ProgressPanel);
  progress_->setObjectName("ProgressBar");
  progress_->setMinimumWidth(60);  // room for the factory's LED test in the same row
  progress_->setMaximumWidth(120);
  progress_->setTextVisible(false);
  shown->addWidget(ProgressLabel);
  shown->addWidget(progress_);
  ProgressPanel->hide();
  CancelBtn = new QPushButton(tr("中止"), parent);
  CancelBtn->setObjectName("CancelBtn");
  CancelBtn->setEnabled(false);
  connect(CancelBtn, &QPushButton::clicked, this, &TMainUnit::CancelBtnClick);
  // A button's own shortcut clicks it only after 100 ms of pressed look; a
  // stop should not wait for an animation.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] {
    if (CancelBtn->isEnabled()) CancelBtnClick();
  });

  ProgressTimer = new QTimer(this);
  ProgressTimer->setInterval(500);  // the seconds count on while no block ends
  connect(ProgressTimer, &QTimer::timeout, this, &TMainUnit::ShowProgressText);
  return ProgressPanel;
}

}  // namespace qmx::app
