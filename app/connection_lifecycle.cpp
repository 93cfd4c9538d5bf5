#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include "app/main_unit.h"
#include "core/catalogue/catalogue.h"
#include "core/protocol/commands.h"

namespace qmx::app {

namespace {

const char* const kLedTexts[4] = {"OFF", "ON", "BUSY", "ERROR"};

}  // namespace

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
  // A press under any modal window of ours is dropped like one during a
  // sequence: the operator is busy with that window, not with the part.
  if (switchPressed_.exchange(false) && !busy_ && !QApplication::activeModalWidget()) ProgBtnClick();
  if (!busy_ && !opRunning_ && !QApplication::activeModalWidget()) PollSocketForAutoStart();
  if (link_.IsOpen() && !opRunning_) ShowSupplyVoltage();
}

bool TMainUnit::ConnectDevice() {
  const std::string port = DiscoverProgrammerPort(*discovery_);
  if (port.empty()) return false;
  std::optional<std::string> name;
  {
    HandshakeWrites shortWrites(link_.Channel());
    if (!link_.OpenPort(port)) {
      // The port is there but another program has it (a second instance).
      if (retry_.FirstHeld(port)) LogLine(tr("ポートは他のプログラムが使用中です。"));
      return false;
    }
    name = link_.QueryName();
    if (!name) DisconnectDevice();  // its drain, too, waits no longer than a handshake write
  }
  if (!name) {
    retry_.Failed(port);
    return false;
  }
  retry_.Forget();
  connectedPort_ = port;
  // Only a new connection starts new counts: a failed try leaves the last
  // sequence's failure on show.
  UpdateCounters(-1);
  statusPanels_[0]->setText(QString::fromStdString(*name));
  SetModelFamilies(ModelFromNameForProgram(*name));
  SetControlsEnabled(true);
  ConnectBtn->setText(tr("切断"));
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
  // Written now, while the lists still hold the choices: a reconnect reads
  // the settings file, and a USB glitch should not bring back older ones.
  if (cbType->count() > 0) SaveSettings();
  link_.Disconnect();
  statusPanels_[0]->clear();
  cbType->clear();
  cbDevice->clear();
  SetControlsEnabled(false);
  ConnectBtn->setText(tr("接続"));
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

}  // namespace qmx::app
