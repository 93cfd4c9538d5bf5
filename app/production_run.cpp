// The window's production steps: the production panel in the window, the
// start on insertion, and the serial number and run log of a Program run.
#include "app/production_run.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

#include "app/height_guard.h"
#include "app/main_unit.h"
#include "app/production_panel.h"
#include "core/production/serial_number.h"
#include "image/digests.h"
#include "core/protocol/commands.h"

namespace qmx::app {

QWidget* TMainUnit::BuildProductionPanel() {
  production_ = new ProductionPanel;
  production_->installEventFilter(new MinimumHeightGuard(this));
  return production_;
}

// Polled once a second while idle. A part that sits in the socket when the
// option is turned on, or after its run, is not programmed again: the socket
// must be seen empty first, so each inserted part runs once.
void TMainUnit::PollSocketForAutoStart() {
  if (!production_->AutoStart() || !link_.IsOpen() || deviceFamily_ < 0) {
    socketEmptySeen_ = false;
    return;
  }
  SendSetMode(deviceFamily_);
  if (!link_.Query(CHK_DEVICE, RESP_DEVICE)) return;  // no answer: no change
  const bool present = link_.Response().data[0] != 0;
  if (!present) {
    socketEmptySeen_ = true;
    return;
  }
  if (!socketEmptySeen_) return;
  socketEmptySeen_ = false;
  ProgBtnClick();
}

namespace {

std::optional<std::uint32_t> FileCrc32(const QString& path) {
  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray bytes = file.readAll();
  return Crc32(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
}

}  // namespace

std::shared_ptr<ProductionRun> TMainUnit::PrepareProductionRun(bool* refused) {
  *refused = false;
  const ProductionChoices c = production_->Choices();
  if (!c.serialOn && c.runLog.isEmpty()) return nullptr;
  auto refuse = [&](const QString& why) -> std::shared_ptr<ProductionRun> {
    LogLine(why);
    *refused = true;
    return nullptr;
  };
  auto run = std::make_shared<ProductionRun>();
  run->started = std::chrono::steady_clock::now();
  production::RunRecord& r = run->record;
  r.time = std::chrono::system_clock::now();
  r.model = statusPanels_[0]->text().toStdString();
  r.port = connectedPort_;
  r.part = cbDevice->currentText().toStdString();
  r.file = edDataFile->text().toStdString();
  r.fileCrc32 = FileCrc32(edDataFile->text());
  std::string error;
  if (!c.runLog.isEmpty()) {
    const auto format = c.runLogJson ? production::RunLogFormat::kJsonLines : production::RunLogFormat::kCsv;
    run->log = production::RunLog::Open(c.runLog.toStdString(), format, &error);
    if (!run->log) return refuse(tr("実行ログを開けません: %1").arg(QString::fromStdString(error)));
  }
  if (!c.serialOn) return run;

  const std::optional<production::SerialFormat> format =
      production::ParseSerialFormat(c.serialFormat.toStdString(), &error);
  if (!format) return refuse(tr("シリアル番号の形式が正しくありません: %1").arg(QString::fromStdString(error)));
  bool addressOk = false;
  const qint64 at = c.serialAt.toLongLong(&addressOk, 16);
  const std::optional<std::uint64_t> step =
      c.serialStep.isEmpty() ? std::optional<std::uint64_t>(1) : production::ParseDecimal(c.serialStep.toStdString());
  if (!addressOk || !step || *step == 0) return refuse(tr("シリアル番号のアドレスまたは増分が正しくありません。"));
  production::SerialStateRequest request;
  request.path = c.serialState.toStdString();
  if (!c.serialStart.isEmpty()) request.start = production::ParseDecimal(c.serialStart.toStdString());
  // The window waits on the lock: another station's run is short, a stuck one is not waited out.
  request.wait = std::chrono::seconds(2);
  production::SerialStateError code = production::SerialStateError::kNone;
  run->serial = production::SerialState::Open(request, &code, &error);
  if (!run->serial) return refuse(tr("シリアル番号の状態ファイル: %1").arg(QString::fromStdString(error)));
  const auto bytes = production::EncodeSerial(run->serial->Next(), *format, &error);
  if (!bytes) return refuse(tr("シリアル番号: %1").arg(QString::fromStdString(error)));
  if (at < 0 || at + static_cast<qint64>(bytes->size()) > image_.Size())
    return refuse(tr("シリアル番号がデバイスに収まりません。"));
  std::copy(bytes->begin(), bytes->end(), image_.Data() + at);
  run->step = *step;
  r.serial = run->serial->Next();
  LogLine(tr("シリアル番号 %1").arg(run->serial->Next()));
  return run;
}

int TMainUnit::FinishProductionRun(ProductionRun& run, int result) {
  bool passed = result == 1;
  std::string error;
  if (passed && run.serial) {
    production::SerialStateError code = production::SerialStateError::kNone;
    if (run.serial->Advance(run.step, &code, &error)) {
      production_->ShowNextSerial(tr("次の番号 %1").arg(run.serial->Next()));
    } else {
      // The part holds its number, but the next part would get it too.
      LogLine(tr("次のシリアル番号を保存できません: %1").arg(QString::fromStdString(error)));
      StartErrorIndication();
      passed = false;
      run.failedStep = "serial-state";
    }
  }
  run.serial.reset();  // the series is free for the next run, here or at another station
  if (run.log) {
    production::RunRecord& r = run.record;
    r.passed = passed;
    r.failedStep = passed ? std::string() : run.failedStep;
    const QStringList lines = LogLines();
    if (!passed && !lines.isEmpty()) r.detail = lines.back().toStdString();
    // The compare kept what it read: where the part first parts from the image.
    const std::vector<std::uint8_t>& read = partAsRead_.bytes;
    if (!passed && run.failedStep == "verify") {
      const auto end = read.begin() + std::min<std::ptrdiff_t>(std::ssize(read), image_.Size());
      const auto at = std::mismatch(read.begin(), end, image_.Data()).first;
      if (at != end) r.firstDifference = at - read.begin();
    }
    r.duration = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - run.started);
    if (!run.log->Append(r, &error)) LogLine(tr("実行ログに書き込めません: %1").arg(QString::fromStdString(error)));
    run.log.reset();
  }
  return passed ? 1 : 0;
}

}  // namespace qmx::app
