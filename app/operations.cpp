#include <QComboBox>
#include <QPushButton>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>

#include "app/main_unit.h"
#include "app/production_run.h"
#include "app/translations.h"
#include "core/memory/memory_ops.h"
#include "core/protocol/commands.h"

namespace qmx::app {

// The procedures' view of the window while they run on the operation thread:
// log lines, progress and the checksum go to the window in order, the
// question waits for the operator's answer. core's texts are Japanese: they
// reach the window in its language.
class WindowOperator : public Operator {
 public:
  explicit WindowOperator(TMainUnit* window) : w_(window) {}
  void LogLine(const std::string& utf8) override {
    QMetaObject::invokeMethod(w_, [w = w_, utf8] { w->LogLine(CoreText(utf8)); }, Qt::QueuedConnection);
  }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    bool ok = false;
    QMetaObject::invokeMethod(
        w_,
        [&] {
          ok = QMessageBox::question(w_, CoreText(caption), CoreText(text), QMessageBox::Ok | QMessageBox::Cancel,
                                     QMessageBox::Ok) == QMessageBox::Ok;
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
  bool Cancelled() override { return w_->cancelRequested_.load(); }
  // The window reads these only once the operation has ended.
  void ComparedBlock(std::int32_t offset, const std::uint8_t* data, int count) override {
    std::vector<std::uint8_t>& bytes = w_->partAsRead_.bytes;
    if (offset == 0) bytes.clear();  // a Program's compare after its write starts afresh
    if (offset != std::int32_t(bytes.size()) || count <= 0) return;
    bytes.insert(bytes.end(), data, data + count);
  }

 private:
  TMainUnit* w_;
};

void TMainUnit::ForgetPartAsRead(const ProgramSettings& settings) {
  partAsRead_ = {settings.model, settings.family, settings.row, settings.dataMode == 0, {}};
}

std::vector<std::uint8_t> TMainUnit::PartAsReadForEditor() const {
  const ProgramSettings now = CurrentSettings();
  const PartAsRead& p = partAsRead_;
  if (p.model != now.model || p.family != now.family || p.row != now.row || p.byteOrganised != (now.dataMode == 0))
    return {};
  return p.bytes;
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
  ProgressPanel->setVisible(running);
  CancelBtn->setEnabled(running);
  if (running) {
    progress_->setRange(0, 0);
    ProgressTimer->start();
    ShowProgressText();
  } else {
    ProgressTimer->stop();
  }
}

void TMainUnit::OnProgress(int done, int total) {
  if (!opRunning_ || total <= 0) return;
  progress_->setRange(0, total);
  progress_->setValue(done);
  const int percent = static_cast<int>(100LL * done / total);
  if (percent == opPercent_) return;
  opPercent_ = percent;
  ShowProgressText();
}

void TMainUnit::ShowProgressText() {
  QString text = opName_;
  if (opPercent_ >= 0) text += QStringLiteral("  %1%").arg(opPercent_);
  // Short passes are over before a count of seconds would mean anything.
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - opStarted_).count();
  if (seconds >= 1) text += QStringLiteral("  ") + tr("%1秒").arg(seconds);
  ProgressLabel->setText(text);
}

void TMainUnit::CancelBtnClick() {
  if (opRunning_) cancelRequested_ = true;
}

void TMainUnit::RunOperation(std::function<int(Operator&)> job, std::function<void(int)> done) {
  if (opRunning_ || !link_.IsOpen()) {
    if (done) done(0);
    return;
  }
  opRunning_ = true;
  cancelRequested_ = false;  // a press meant for the last operation
  opPercent_ = -1;
  opStarted_ = std::chrono::steady_clock::now();
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

void TMainUnit::ProgBtnClick() {
  if (opRunning_ || !link_.IsOpen()) return;
  busy_ = true;
  const Reload reload = ReloadDataFile();
  bool refused = false;
  // After the reload: the serial number goes into the file's data.
  const std::shared_ptr<ProductionRun> run = PrepareProductionRun(&refused);
  if (refused) {
    StartErrorIndication();
    UpdateCounters(1);
    busy_ = false;
    return;
  }
  const QString countLine = tr("----- プログラムカウント %1 -----").arg(executed_ + 1);
  const bool erase = cbProgramMode->currentIndex() == 1;
  const ProgramSettings settings = CurrentSettings();
  ForgetPartAsRead(settings);
  opName_ = tr("プログラム");
  RunOperation(
      [this, reload, countLine, erase, settings, run](Operator& op) -> int {
        op.LogLine(countLine.toStdString());
        // A file that could not be read whole is never written in part.
        if (reload == Reload::kFailed) {
          if (run) run->failedStep = "file";
          op.LogLine(tr("HEXファイルの読み込みに失敗しました。").toStdString());
          return 0;
        }
        // A cancel that comes between two steps stops the sequence too.
        auto stopped = [&op] {
          if (op.Cancelled()) op.LogLine(tr("中止しました。").toStdString());
          return op.Cancelled();
        };
        // The run log names the step a failed run stopped at.
        auto note = [&run](const char* step) {
          if (run) run->failedStep = step;
        };
        auto write = [&](WriteSideOperation step) {
          note(step == kErase ? "erase" : "write");
          return !stopped() && ProgramWriteSide(link_, image_, reverse_, settings, op, step);
        };
        auto read = [&](ReadSideOperation step) {
          note(step == kBlankCheck ? "blank" : "verify");
          return !stopped() && ProgramReadSide(link_, image_, reverse_, settings, op, step);
        };
        if (erase && !(write(kErase) && read(kBlankCheck))) return 0;
        if (!write(kWrite) || !read(kCompare)) return 0;
        op.LogLine(tr("-- プログラム正常終了 --").toStdString());
        return 1;
      },
      [this, run](int result) {
        if (run) result = FinishProductionRun(*run, result);
        UpdateCounters(result == 1 ? 0 : 1);
        busy_ = false;
      });
  if (!opRunning_) busy_ = false;
}

// The four read-side commands differ only in their name and operation.
void TMainUnit::StartReadSide(const QString& name, int operation) {
  if (opRunning_ || !link_.IsOpen()) return;  // the panel keeps the running one's name
  const ProgramSettings settings = CurrentSettings();
  if (operation == kRead || operation == kCompare) ForgetPartAsRead(settings);
  opName_ = name;
  RunOperation([this, settings, operation](Operator& op) {
    return ProgramReadSide(link_, image_, reverse_, settings, op, operation);
  });
}

void TMainUnit::ReadBtnClick() { StartReadSide(tr("読み出し"), kRead); }
void TMainUnit::CompareBtnClick() { StartReadSide(tr("比較"), kCompare); }
void TMainUnit::BlankChkBtnClick() { StartReadSide(tr("ブランクチェック"), kBlankCheck); }
void TMainUnit::mnCheckSumClick() { StartReadSide(tr("チェックサム"), kChecksum); }

void TMainUnit::WriteBtnClick() {
  if (opRunning_ || !link_.IsOpen()) return;
  const Reload reload = ReloadDataFile();
  if (reload == Reload::kFailed) {
    LogLine(tr("HEXファイルの読み込みに失敗しました。"));
    return;
  }
  const ProgramSettings settings = CurrentSettings();
  ForgetPartAsRead(settings);
  opName_ = tr("書き込み");
  RunOperation([this, settings](Operator& op) {
    return ProgramWriteSide(link_, image_, reverse_, settings, op, kWrite);
  });
}

void TMainUnit::EraseBtnClick() {
  if (opRunning_ || !link_.IsOpen()) return;  // the panel keeps the running one's name
  const ProgramSettings settings = CurrentSettings();
  ForgetPartAsRead(settings);
  opName_ = tr("消去");
  RunOperation([this, settings](Operator& op) {
    return ProgramWriteSide(link_, image_, reverse_, settings, op, kErase);
  });
}

void TMainUnit::StartErrorIndication() {
  // Runs on the window thread; the operation thread has already sent the
  // error code. A second failure does not restart the interval. An ON that
  // fell due while this operation ran would put the new ERROR out at once:
  // this failure's interval ends it instead.
  ledReadyPending_ = false;
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

}  // namespace qmx::app
