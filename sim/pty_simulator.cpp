#include "sim/pty_simulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
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
// In real timing the firmware takes the host's bytes a USB packet at a time.
constexpr std::size_t kUsbPacketSize = 64;
// How far the firmware's clock may run ahead of real time before input waits.
constexpr auto kMaxLead = std::chrono::milliseconds(1);
// Timed wake-ups of the serving thread: the default 50 us slack would show in every answer.
constexpr unsigned long kTimerSlackNs = 1000;

timespec ToTimespec(std::chrono::nanoseconds d) {
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(d);
  return timespec{static_cast<std::time_t>(secs.count()), static_cast<long>((d - secs).count())};
}

// The answer re-framed with `delta` data bytes fewer or more (never fewer
// than its code).
std::vector<std::uint8_t> Resized(const std::vector<std::uint8_t>& frame, int delta) {
  std::vector<std::uint8_t> payload;
  FrameDecoder decoder;
  decoder.Feed(frame, [&payload](std::span<const std::uint8_t> p) { payload.assign(p.begin(), p.end()); });
  if (payload.empty()) return frame;
  if (delta < 0) {
    payload.resize(std::max<std::size_t>(1, payload.size() - std::min<std::size_t>(payload.size(), -delta)));
  } else {
    payload.insert(payload.end(), static_cast<std::size_t>(delta), 0x5A);
  }
  return EncodeFrame(payload);
}

}  // namespace

PtySimulator::PtySimulator(Options options)
    : programmer_(std::move(options)),
      pacer_(programmer_.Settings().timing == Timing::kReal),
      wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
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
    programmer_.AbandonPendingWork(Clock::now());
    stopRequested_ = false;
    hung_ = false;
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
  lastAnswerDue_ = {};
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
  prctl(PR_SET_TIMERSLACK, kTimerSlackNs);
  bool outputBlocked = false;
  for (;;) {
    short masterEvents = 0;
    WakeUp wakeUp;
    {
      std::lock_guard lock(mu_);
      if (stopRequested_) return;
      const auto now = Clock::now();
      if (TakesInput(now)) masterEvents |= POLLIN;
      if (outputBlocked && !hung_) masterEvents |= POLLOUT;
      wakeUp = NextWakeUp(outputBlocked, now);
    }
    std::array<pollfd, 2> fds = {{{masterFd, masterEvents, 0}, {wakeFd_, POLLIN, 0}}};
    const timespec timeout =
        ToTimespec(std::clamp<Clock::duration>(wakeUp.at - Clock::now(), Clock::duration::zero(), kMaxPollWait));
    const int ready = ppoll(fds.data(), fds.size(), &timeout, nullptr);
    if (ready < 0 && errno != EINTR) IdleBriefly();
    if (ready == 0) AfterTimedWait(wakeUp);
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

void PtySimulator::AfterTimedWait(const WakeUp& wakeUp) {
  if (!wakeUp.answerDue) return;
  pacer_.Woke(wakeUp.at, Clock::now());
  pacer_.SpinUntil(*wakeUp.answerDue);
}

// False when the read found no slave behind the master (EIO or end of file).
// Reads under the lock, so that nothing is taken once Hang has returned.
bool PtySimulator::ReadMaster(int masterFd) {
  std::array<std::uint8_t, kReadBufferSize> buffer;
  consuming_ = true;
  struct Done {
    std::atomic<bool>& flag;
    ~Done() { flag = false; }
  } done{consuming_};
  std::vector<LoggedCommand> observed;
  std::function<void(const LoggedCommand&)> observer;
  {
    std::lock_guard lock(mu_);
    if (!TakesInput(Clock::now())) return true;
    const bool packets = programmer_.Settings().timing == Timing::kReal;
    const ssize_t n = read(masterFd, buffer.data(), packets ? kUsbPacketSize : buffer.size());
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    if (n == 0) return false;
    const auto arrival = Clock::now();
    const std::size_t logged = programmer_.Log().size();
    std::vector<Answer> answers;
    programmer_.Receive(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)), answers,
                        arrival);
    for (Answer& a : answers) ScheduleAnswer(std::move(a));
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
  if (hung_) return false;
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

// Input waits while hung and while the firmware is far behind.
bool PtySimulator::TakesInput(Clock::time_point now) const {
  return !hung_ && programmer_.FreeAt() <= now + kMaxLead;
}

// For the next answer (a little early, see WakePacer) or when the firmware is
// ready for more input, whichever comes first.
PtySimulator::WakeUp PtySimulator::NextWakeUp(bool outputBlocked, Clock::time_point now) const {
  WakeUp wakeUp{now + kMaxPollWait, std::nullopt};
  if (hung_) return wakeUp;
  if (const auto due = queue_.NextDue(); due && !outputBlocked && pacer_.WakeFor(*due) < wakeUp.at) {
    wakeUp = {pacer_.WakeFor(*due), *due};
  }
  if (!TakesInput(now) && programmer_.FreeAt() - kMaxLead < wakeUp.at) {
    wakeUp = {programmer_.FreeAt() - kMaxLead, std::nullopt};
  }
  return wakeUp;
}

void PtySimulator::ScheduleAnswer(Answer answer) {
  if (auto drop = drops_.find(answer.command); drop != drops_.end() && drop->second > 0) {
    if (--drop->second == 0) drops_.erase(drop);
    return;
  }
  if (auto resize = resizes_.find(answer.command); resize != resizes_.end()) {
    answer.frame = Resized(answer.frame, resize->second);
    resizes_.erase(resize);
  }
  Clock::time_point due = answer.due;
  if (auto delay = delays_.find(answer.command); delay != delays_.end()) {
    due += delay->second;
    delays_.erase(delay);
  }
  // A late answer holds up the ones behind it, as the firmware's would: a
  // later answer overtaking it would be taken by a host for the wrong command.
  due = std::max(due, lastAnswerDue_);
  lastAnswerDue_ = due;
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

}  // namespace qmx::sim
