#include "sim/pty_simulator.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>

#include "sim/frame_codec.h"

namespace qmx::sim {

namespace {

// Upper bound of every wait of the serving thread, so nothing can hang it.
constexpr auto kMaxPollWait = std::chrono::milliseconds(200);
// Pause after a master read that found no slave, instead of spinning on EIO.
constexpr int kNoSlaveRetryMs = 5;
constexpr std::size_t kReadBufferSize = 4096;

timespec ToTimespec(std::chrono::nanoseconds d) {
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(d);
  return timespec{static_cast<std::time_t>(secs.count()), static_cast<long>((d - secs).count())};
}

}  // namespace

PtySimulator::PtySimulator(Options options)
    : programmer_(std::move(options)), wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  programmer_.SetCommandObserver([this](const LoggedCommand& cmd) {
    if (observer_) toObserve_.push_back(cmd);
  });
}

PtySimulator::~PtySimulator() {
  Stop();
  if (wakeFd_ >= 0) close(wakeFd_);
}

bool PtySimulator::Start() {
  std::lock_guard life(lifecycleMu_);
  if (Plugged()) return true;
  return PlugLocked();
}

void PtySimulator::Stop() {
  std::lock_guard life(lifecycleMu_);
  UnplugLocked();
}

void PtySimulator::Unplug() {
  std::lock_guard life(lifecycleMu_);
  UnplugLocked();
}

bool PtySimulator::Replug() {
  std::lock_guard life(lifecycleMu_);
  UnplugLocked();
  return PlugLocked();
}

bool PtySimulator::PlugLocked() {
  if (wakeFd_ < 0) return false;
  PtyPort port;
  int masterFd = -1;
  {
    std::lock_guard lock(mu_);
    if (!port.Open(lastPath_)) return false;
    lastPath_ = port.Path();
    if (!linkPath_.empty()) PointLink(linkPath_, port.Path());
    programmer_.ResetDecoder();
    stopRequested_ = false;
    port_ = std::move(port);
    masterFd = port_.MasterFd();
  }
  thread_ = std::thread(&PtySimulator::ServeLoop, this, masterFd);
  return true;
}

void PtySimulator::UnplugLocked() {
  {
    std::lock_guard lock(mu_);
    stopRequested_ = true;
  }
  Wake();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mu_);
  port_.Close();
  queue_.Clear();
  RemoveLink(linkPath_);
}

std::string PtySimulator::PortPath() const {
  std::lock_guard lock(mu_);
  return port_.Path();
}

bool PtySimulator::Plugged() const {
  std::lock_guard lock(mu_);
  return port_.IsOpen();
}

bool PtySimulator::SetLinkPath(const std::string& path) {
  std::lock_guard life(lifecycleMu_);
  std::lock_guard lock(mu_);
  if (path != linkPath_) RemoveLink(linkPath_);
  linkPath_ = path;
  if (path.empty() || !port_.IsOpen()) return true;
  return PointLink(path, port_.Path());
}

void PtySimulator::ServeLoop(int masterFd) {
  bool outputBlocked = false;
  for (;;) {
    timespec timeout{};
    {
      std::lock_guard lock(mu_);
      if (stopRequested_) return;
      timeout = ToTimespec(PollTimeout(outputBlocked));
    }
    const short masterEvents = static_cast<short>(POLLIN | (outputBlocked ? POLLOUT : 0));
    std::array<pollfd, 2> fds = {{{masterFd, masterEvents, 0}, {wakeFd_, POLLIN, 0}}};
    if (ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR) IdleBriefly();
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] ssize_t n = read(wakeFd_, &count, sizeof count);
    }
    if ((fds[0].revents & POLLIN) != 0) {
      if (!ReadMaster(masterFd)) IdleBriefly();
    } else if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      IdleBriefly();
    }
    outputBlocked = WriteDue(masterFd);
  }
}

// False when the read found no slave behind the master (EIO or end of file).
bool PtySimulator::ReadMaster(int masterFd) {
  std::array<std::uint8_t, kReadBufferSize> buffer;
  consuming_ = true;
  struct Done {
    std::atomic<bool>& flag;
    ~Done() { flag = false; }
  } done{consuming_};
  const ssize_t n = read(masterFd, buffer.data(), buffer.size());
  if (n < 0) return errno == EAGAIN || errno == EINTR;
  if (n == 0) return false;
  std::vector<LoggedCommand> observed;
  std::function<void(const LoggedCommand&)> observer;
  {
    std::lock_guard lock(mu_);
    const std::size_t logged = programmer_.Log().size();
    std::vector<Answer> answers;
    programmer_.Receive(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)), answers);
    const auto now = Clock::now();
    for (Answer& a : answers) ScheduleAnswer(std::move(a), now);
    if (programmer_.Log().size() != logged) logChanged_.notify_all();
    observed.swap(toObserve_);
    observer = observer_;
  }
  for (const LoggedCommand& cmd : observed) observer(cmd);
  return true;
}

// Writes what is due; true when the port would not take more (wait for POLLOUT).
bool PtySimulator::WriteDue(int masterFd) {
  std::lock_guard lock(mu_);
  for (;;) {
    const auto now = Clock::now();
    const std::span<const std::uint8_t> bytes = queue_.DueBytes(now);
    if (bytes.empty()) return false;
    const ssize_t n = write(masterFd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return true;
      queue_.DropFront();
      continue;
    }
    queue_.Consumed(static_cast<std::size_t>(n), now);
    if (static_cast<std::size_t>(n) < bytes.size()) return true;
  }
}

SendQueue::Clock::duration PtySimulator::PollTimeout(bool outputBlocked) const {
  const Clock::duration longest = kMaxPollWait;
  if (outputBlocked) return longest;
  const auto due = queue_.NextDue();
  if (!due) return longest;
  return std::clamp<Clock::duration>(*due - Clock::now(), Clock::duration::zero(), longest);
}

void PtySimulator::ScheduleAnswer(Answer answer, Clock::time_point now) {
  if (auto drop = drops_.find(answer.command); drop != drops_.end() && drop->second > 0) {
    if (--drop->second == 0) drops_.erase(drop);
    return;
  }
  Clock::time_point due = now + programmer_.Settings().answerLatency;
  if (auto delay = delays_.find(answer.command); delay != delays_.end()) {
    due += delay->second;
    delays_.erase(delay);
  }
  SendQueue::Chunks chunks = SplitIntoPieces(answer.frame, splitPieces_);
  const Clock::duration gap = splitGap_;
  splitPieces_ = 0;
  chunks.front().insert(chunks.front().begin(), garbage_.begin(), garbage_.end());
  garbage_.clear();
  queue_.Schedule(due, std::move(chunks), gap);
}

void PtySimulator::SendNow(std::vector<std::uint8_t> bytes) {
  {
    std::lock_guard lock(mu_);
    if (!port_.IsOpen()) return;
    SendQueue::Chunks chunks;
    chunks.push_back(std::move(bytes));
    queue_.Schedule(Clock::now(), std::move(chunks));
  }
  Wake();
}

void PtySimulator::Wake() const {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

void PtySimulator::IdleBriefly() const {
  pollfd fd{wakeFd_, POLLIN, 0};
  poll(&fd, 1, kNoSlaveRetryMs);
}

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
    {
      std::lock_guard lock(mu_);
      const int fd = port_.MasterFd();
      if (fd >= 0 && ::ioctl(fd, FIONREAD, &pending) != 0) pending = 0;
    }
    // Pending bytes first, then the flag: a read that just took them has set it.
    if (pending == 0 && !consuming_) return true;
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

void PtySimulator::GarbageBeforeNextAnswer(std::vector<std::uint8_t> junk) {
  std::lock_guard lock(mu_);
  garbage_ = std::move(junk);
}

void PtySimulator::SplitNextAnswer(int pieces, std::chrono::milliseconds gap) {
  std::lock_guard lock(mu_);
  splitPieces_ = pieces;
  splitGap_ = gap;
}

}  // namespace qmx::sim
