#include "core/link/scommx.h"

#include <utility>

namespace qmx {

SCommX::SCommX() : SCommX(MakeSerialBackend()) {}

SCommX::SCommX(std::unique_ptr<SerialBackend> backend) : backend_(std::move(backend)) {}

// The owner closes the channel before it goes; closing here as well keeps a
// forgotten port from outliving the object.
SCommX::~SCommX() { backend_->Close(); }

bool SCommX::IsOpen() const { return backend_->IsOpen(); }

void SCommX::SetBaudRate(std::int32_t value) {
  baudRate = value;
  ApplyLineSettings();
}

void SCommX::SetByteSize(std::int32_t value) {
  byteSize = value;
  ApplyLineSettings();
}

void SCommX::SetStopBits(std::int32_t value) {
  stopBits = value;
  ApplyLineSettings();
}

void SCommX::SetParity(std::int32_t value) {
  parity = value;
  ApplyLineSettings();
}

void SCommX::SetFlowControl(std::int32_t value) {
  flowControl = value;
  ApplyLineSettings();
}

void SCommX::ApplyLineSettings() {
  if (!IsOpen()) return;
  dcb = LineSettings{baudRate, byteSize, stopBits, parity, flowControl};
  backend_->ApplyLineSettings(dcb);
}

void SCommX::SetTimeouts(std::int32_t ms) {
  timeoutMs = ms;
  if (IsOpen()) backend_->SetTimeouts(ms);
}

bool SCommX::Open() {
  if (!backend_->Open(DevicePathForPort(portName))) return false;
  ApplyLineSettings();
  SetTimeouts(timeoutMs);
  return true;
}

bool SCommX::Close() {
  backend_->Close();
  return true;
}

bool SCommX::SetDtr(bool on) { return backend_->SetDtr(on); }
bool SCommX::SetRts(bool on) { return backend_->SetRts(on); }

int SCommX::Write(const std::uint8_t* data, int count) { return backend_->Write(data, count); }
int SCommX::Read(std::uint8_t* buffer, int count) { return backend_->Read(buffer, count); }

int SCommX::QueuedBytes() { return backend_->QueuedBytes(); }
int SCommX::OutputQueued() { return backend_->OutputQueued(); }
void SCommX::DiscardOutput() { backend_->DiscardOutput(); }
ReceiveWait SCommX::WaitReceive(WakeEvent& stop, int* queued) { return backend_->WaitReceive(stop, queued); }
bool SCommX::HungUp() const { return backend_->HungUp(); }

}  // namespace qmx
