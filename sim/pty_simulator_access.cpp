// The thread-safe front end of PtySimulator: switch, log, state, socket and
// fault injection, each under the simulator's lock.
#include "sim/pty_simulator.h"

#include <sys/ioctl.h>

#include <thread>

#include "sim/frame_codec.h"

namespace qmx::sim {

void PtySimulator::PressSwitch() {
  std::vector<std::uint8_t> frame;
  {
    std::lock_guard lock(mu_);
    frame = programmer_.SwitchReport(true);
  }
  SendNow(std::move(frame));
}

void PtySimulator::ReleaseSwitch() {
  std::vector<std::uint8_t> frame;
  {
    std::lock_guard lock(mu_);
    frame = programmer_.SwitchReport(false);
  }
  SendNow(std::move(frame));
}

void PtySimulator::SendUnsolicited(std::vector<std::uint8_t> payload) { SendNow(EncodeFrame(payload)); }

void PtySimulator::SendRaw(std::vector<std::uint8_t> bytes) { SendNow(std::move(bytes)); }

std::vector<LoggedCommand> PtySimulator::Log() const {
  std::lock_guard lock(mu_);
  return programmer_.Log();
}

void PtySimulator::ClearLog() {
  std::lock_guard lock(mu_);
  programmer_.ClearLog();
}

bool PtySimulator::WaitForLog(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mu_);
  return logChanged_.wait_for(lock, timeout, [&] { return programmer_.Log().size() >= count; });
}

bool PtySimulator::WaitIdle(std::chrono::milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int pending = 0;
    bool answering = false;
    {
      std::lock_guard lock(mu_);
      const int fd = port_.MasterFd();
      if (fd >= 0 && ::ioctl(fd, FIONREAD, &pending) != 0) pending = 0;
      answering = !queue_.Empty();
    }
    // Pending bytes first, then the flag: a read that just took them has set it.
    if (pending == 0 && !consuming_ && !answering) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void PtySimulator::SetCommandObserver(std::function<void(const LoggedCommand&)> observer) {
  std::lock_guard lock(mu_);
  observer_ = std::move(observer);
}

ProgrammerState PtySimulator::State() const {
  std::lock_guard lock(mu_);
  return programmer_.State();
}

void PtySimulator::SetVccReading(std::uint8_t r) {
  std::lock_guard lock(mu_);
  programmer_.SetVccReading(r);
}

void PtySimulator::SetModel(const std::string& name) {
  std::lock_guard lock(mu_);
  programmer_.SetModel(name);
}

void PtySimulator::SetPartPresent(bool present, std::uint8_t addressBits) {
  std::lock_guard lock(mu_);
  programmer_.SetPartPresent(present, addressBits);
}

void PtySimulator::AttachDevice(std::shared_ptr<BusDevice> device) {
  std::lock_guard lock(mu_);
  programmer_.AttachDevice(std::move(device));
}

bool PtySimulator::InsertPart(const std::string& name) {
  std::lock_guard lock(mu_);
  return programmer_.InsertPart(name);
}

void PtySimulator::RemovePart() {
  std::lock_guard lock(mu_);
  programmer_.RemovePart();
}

std::string PtySimulator::PartName() const {
  std::lock_guard lock(mu_);
  return programmer_.PartName();
}

std::vector<std::uint8_t> PtySimulator::PartContents() const {
  std::lock_guard lock(mu_);
  return programmer_.PartContents();
}

bool PtySimulator::SetPartContents(const std::vector<std::uint8_t>& bytes) {
  std::lock_guard lock(mu_);
  return programmer_.SetPartContents(bytes);
}

void PtySimulator::SetFlakyContact(double rate, std::uint32_t seed) {
  std::lock_guard lock(mu_);
  programmer_.SetFlakyContact(rate, seed);
}

void PtySimulator::DropNextAnswer(std::uint8_t command, int times) {
  std::lock_guard lock(mu_);
  if (times > 0) {
    drops_[command] = times;
  } else {
    drops_.erase(command);
  }
}

void PtySimulator::DelayNextAnswer(std::uint8_t command, std::chrono::milliseconds delay) {
  std::lock_guard lock(mu_);
  delays_[command] = delay;
}

void PtySimulator::ResizeNextAnswer(std::uint8_t command, int delta) {
  std::lock_guard lock(mu_);
  resizes_[command] = delta;
}

void PtySimulator::GarbageBeforeNextAnswer(std::vector<std::uint8_t> junk) {
  std::lock_guard lock(mu_);
  garbage_ = std::move(junk);
}

void PtySimulator::Hang() {
  std::lock_guard lock(mu_);
  hung_ = true;
}

void PtySimulator::Resume() {
  {
    std::lock_guard lock(mu_);
    hung_ = false;
  }
  Wake();
}

bool PtySimulator::Hung() const {
  std::lock_guard lock(mu_);
  return hung_;
}

TimingAccount PtySimulator::Account() const {
  std::lock_guard lock(mu_);
  return programmer_.Account();
}

void PtySimulator::ResetAccount() {
  std::lock_guard lock(mu_);
  programmer_.ResetAccount();
}

void PtySimulator::SplitNextAnswer(int pieces, std::chrono::milliseconds gap) {
  std::lock_guard lock(mu_);
  splitPieces_ = pieces;
  splitGap_ = gap;
}

}  // namespace qmx::sim
