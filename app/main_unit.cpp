#include "app/main_unit.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/about_unit.h"
#include "app/fonts.h"
#include "app/hex_edit.h"
#include "app/log_follow.h"
#include "app/window_metrics.h"
#include "core/protocol/commands.h"

namespace qmx::app {

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
  column->addWidget(BuildProductionPanel());
  column->addWidget(BuildLogArea(), 1);
  setCentralWidget(central);
  FollowLogEnd(Memo);
  BuildMenus();
  BuildStatusBar();

  about_ = new TAboutUnit(this);
  about_->hide();
  hexEdit_ = new THexEdit(this);
  hexEdit_->hide();
  hexEdit_->SetPartSource([this] { return PartAsReadForEditor(); });

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

QString TMainUnit::StatusText(int panel) const {
  return panel >= 0 && panel < 3 ? statusPanels_[panel]->text() : QString();
}

void TMainUnit::LogLine(const QString& line) { Memo->appendPlainText(line); }

QStringList TMainUnit::LogLines() const {
  QStringList lines = Memo->toPlainText().split('\n');
  if (lines.size() == 1 && lines.front().isEmpty()) lines.clear();
  return lines;
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

}  // namespace qmx::app
