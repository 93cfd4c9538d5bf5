#include "core/link/connection.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "core/protocol/encoding.h"

namespace qmx {

Connection::Connection() = default;

Connection::Connection(std::unique_ptr<SerialBackend> backend) : channel_(std::move(backend)) {}

Connection::~Connection() { Disconnect(); }

void Connection::SetSwitchHandler(std::function<void(bool pressed)> handler) {
  slot_.SetSwitchHandler(std::move(handler));
}

bool Connection::OpenPort(const std::string& portName) {
  if (channel_.IsOpen()) return true;
  channel_.portName = portName;
  channel_.SetBaudRate(19200);
  channel_.SetByteSize(8);
  channel_.SetStopBits(1);
  channel_.SetParity(0);
  channel_.SetFlowControl(0);
  if (!channel_.Open()) return false;
  // Handshake mode 0 leaves both lines low after the settings; the programmer
  // wants them up for as long as the connection lasts. A pseudo-terminal
  // refuses them, which is harmless.
  channel_.SetDtr(true);
  channel_.SetRts(true);
  slot_.OpenEvent();
  // An answer cut off by the last disconnect would swallow the first one now.
  decoder_.Reset();
  pace_.Reset();
  expectMarks_.clear();
  usualAnswer_ = std::chrono::microseconds(0);
  cut_ = false;
  // Answers owed to an earlier connection come before the name (the connect
  // waits for it), and a different code never satisfies a wait.
  owed_ = false;
  outOfStep_ = false;
  if (!reader_.Start(channel_, decoder_)) {
    Disconnect();
    return false;
  }
  // A frame end on its own: a programmer left inside a frame that an earlier
  // connection could not finish ends it here, instead of reading our first
  // command as that frame's data. Outside a frame it is ignored.
  const std::uint8_t end = kFrameEnd;
  channel_.Write(&end, 1);
  return true;
}

void Connection::Disconnect() {
  // What was sent should reach a programmer that is still there before the
  // channel closes; a vanished one, or one that stopped taking bytes, gets
  // nothing more.
  if (channel_.IsOpen() && !PortGone() && !cut_) {
    WriteWhole(pending_.data(), static_cast<int>(pending_.size()));
    if (!cut_) DrainOutput();
  }
  // What a programmer that stopped taking bytes has not taken yet is dropped:
  // it must not write stale pages should it recover.
  if (cut_) channel_.DiscardOutput();
  pending_.clear();
  channel_.Close();
  reader_.Stop();
  slot_.CloseEvent();
}

namespace {
// Enough to keep the port busy, small enough that one write never nears the
// channel's time-out even when the programmer takes the stream slowly (a
// Microwire write unit at 2 kHz takes it about 18 ms for some 15 bytes).
constexpr std::size_t kBatchFlushBytes = 512;
// Streamed work below this does not change how soon an answer comes.
constexpr std::chrono::microseconds kPlainWork{5000};
}  // namespace

bool Connection::SendFrame(const std::uint8_t* payload, int length) {
  if (length < 0 || length > kMaxSendPayload) return false;
  if (!channel_.IsOpen() || cut_) {
    ++sendFailures_;
    return false;
  }
  std::uint8_t frame[2 + 2 * kMaxSendPayload];
  const std::size_t n = EncodeFrameInto({payload, static_cast<std::size_t>(length)}, frame);
  pace_.OnSent(payload, length);
  if (batchDepth_ > 0) {
    pending_.insert(pending_.end(), frame, frame + n);
    return pending_.size() < kBatchFlushBytes || WritePending();
  }
  if (WriteWhole(frame, static_cast<int>(n))) return true;
  Lost();
  return false;
}

// One write of whole frames; a failed or short one marks the channel cut.
bool Connection::WriteWhole(const std::uint8_t* bytes, int size) {
  if (size == 0) return true;
  if (cut_) return false;
  if (channel_.Write(bytes, size) == size) return true;
  ++sendFailures_;
  cut_ = true;
  return false;
}

bool Connection::WritePending() {
  const bool ok = WriteWhole(pending_.data(), static_cast<int>(pending_.size()));
  pending_.clear();
  if (!ok) Lost();
  return ok;
}

// The programmer stopped taking bytes, or the port failed under a write: the
// connection ends here, so that nothing is appended to a cut frame.
void Connection::Lost() {
  if (closing_) return;
  closing_ = true;
  if (closeHook_) {
    closeHook_();
  } else {
    Disconnect();
  }
  closing_ = false;
}

bool Connection::Flush() { return WritePending(); }

void Connection::Abandon() {
  if (!channel_.IsOpen()) return;
  cut_ = true;
  Lost();
}

void Connection::DrainOutput() {
  // A USB serial driver may hold kilobytes of streamed writes; the answer
  // window should start when the programmer has our last command, not before.
  // Bounded by the channel's write time-out.
  // A device that is slow (long write cycles) but still taking bytes is
  // waited for; one that takes nothing for the write time-out is not.
  if (cut_) return;
  int queued = channel_.OutputQueued();
  if (queued <= 0) return;
  const auto patience = std::chrono::milliseconds(channel_.timeoutMs);
  auto deadline = std::chrono::steady_clock::now() + patience;
  while (queued > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int now = channel_.OutputQueued();
    if (now < queued) deadline = std::chrono::steady_clock::now() + patience;
    queued = now;
  }
}

void Connection::EndBatch() {
  if (batchDepth_ > 0 && --batchDepth_ == 0) Flush();
}

bool Connection::SendCommand(std::uint8_t code) {
  if (SendFrame(&code, 1)) return true;
  Lost();  // also on a closed channel, where it has nothing left to do
  return false;
}

bool Connection::SendCommand2(std::uint8_t code, std::uint8_t arg) {
  const std::uint8_t payload[2] = {code, arg};
  return SendFrame(payload, 2);
}

bool Connection::SendCommand4(std::uint8_t code, std::uint8_t a, std::uint8_t b, std::uint8_t c) {
  const std::uint8_t payload[4] = {code, a, b, c};
  return SendFrame(payload, 4);
}

void Connection::Expect(std::uint8_t responseCode) {
  if (owed_) {
    owed_ = false;
    outOfStep_ = !Query(GET_VERSION, RESP_VERSION);
    owed_ = outOfStep_;
  }
  slot_.Arm(responseCode);
  expectMarks_.assign(1, pace_.Mark());
}

void Connection::AbandonExpected() {
  if (expectMarks_.empty()) return;
  expectMarks_.clear();
  owed_ = true;
}

void Connection::ExpectAnother(std::uint8_t responseCode) {
  if (expectMarks_.empty()) return Expect(responseCode);
  slot_.ArmAnother(responseCode);
  expectMarks_.push_back(pace_.Mark());
}

bool Connection::WaitResponse(std::uint8_t responseCode, int timeoutMs) {
  Flush();  // what provokes the answer may still sit in a batch
  if (outOfStep_) {
    outOfStep_ = false;
    expectMarks_.clear();
    return false;
  }
  DrainOutput();
  const auto outstanding = std::chrono::ceil<std::chrono::milliseconds>(pace_.Outstanding());
  const int window = (timeoutMs < 0 ? answerWindowMs_ : timeoutMs) + static_cast<int>(outstanding.count());
  // Everything sent before the command that provoked the answer is done once
  // it arrives; without an armed mark, everything sent so far.
  const std::int64_t mark = expectMarks_.empty() ? pace_.Mark() : expectMarks_.front();
  if (!expectMarks_.empty()) expectMarks_.pop_front();
  // Answers owed behind this one: its wait is no measure of a usual answer.
  const bool last = expectMarks_.empty();
  // An answer behind little streamed work comes about as fast as the last
  // such one did: the programmer's latency and the transfer's bus time.
  const bool plain = pace_.Outstanding() < kPlainWork;
  const bool ok = slot_.WaitResponse(responseCode, window, plain ? usualAnswer_ * 7 / 8 : std::chrono::microseconds(0));
  if (ok) pace_.Confirm(mark);
  if (!ok) {
    owed_ = true;
    expectMarks_.clear();
  }
  if (ok && plain && last)
    usualAnswer_ = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - slot_.ArmedAt());
  return ok;
}

bool Connection::Query(std::uint8_t command, std::uint8_t responseCode) {
  Expect(responseCode);
  if (!SendCommand(command)) return false;
  return WaitResponse(responseCode);
}

bool Connection::Settle() { return IsOpen() && Query(GET_VERSION, RESP_VERSION); }

std::optional<std::string> Connection::QueryName() {
  SendCommand2(DEV_CTRL, DEVCTRL_INIT);
  if (!Query(GET_NAME, RESP_NAME)) return std::nullopt;
  const Answer& a = Response();
  const auto* begin = reinterpret_cast<const char*>(a.data.data());
  const std::size_t length = a.length > 0 ? static_cast<std::size_t>(a.length) : 0;
  return std::string(begin, strnlen(begin, length));
}

}  // namespace qmx
