// The one connection of a deliverable: a serial channel, the response slot
// and its decoder, the reader thread, and the send operations.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/link/frame_decoder.h"
#include "core/link/pace.h"
#include "core/link/reader_thread.h"
#include "core/link/response_slot.h"
#include "core/link/scommx.h"
#include "core/protocol/commands.h"

namespace qmx {

class Connection {
 public:
  Connection();
  explicit Connection(std::unique_ptr<SerialBackend> backend);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  SCommX& Channel() { return channel_; }
  ResponseSlot& Slot() { return slot_; }
  bool IsOpen() const { return channel_.IsOpen(); }
  bool PortGone() const { return reader_.PortGone() || channel_.HungUp(); }

  // What a failed one-byte send runs (the library closes its connection, the
  // program disconnects its window). Without a hook the connection just
  // disconnects itself.
  void SetCloseHook(std::function<void()> hook) { closeHook_ = std::move(hook); }
  // Switch reports, on the reader thread.
  void SetSwitchHandler(std::function<void(bool pressed)> handler);

  // Port set-up of the connect sequence: port name, 19200 8 / stop code 1 /
  // no parity / no handshake, open, DTR and RTS up, response event, reader.
  bool OpenPort(const std::string& portName);
  // Closes the channel first (which ends the reader's wait), then stops the
  // reader, then drops the response event. Harmless when closed.
  void Disconnect();

  // Frame out: false when the payload is longer than 64 bytes (nothing sent)
  // or the write failed or was short (the device stopped taking data). A
  // failed or short write on an open channel closes the connection through
  // the close hook: the frames behind a cut one would be read as its data.
  bool SendFrame(const std::uint8_t* payload, int length);
  // One-byte command; a failure runs the close hook before returning false.
  bool SendCommand(std::uint8_t code);
  bool SendCommand2(std::uint8_t code, std::uint8_t arg);
  bool SendCommand4(std::uint8_t code, std::uint8_t a, std::uint8_t b, std::uint8_t c);

  // Between BeginBatch and EndBatch frames are collected and written together
  // (each frame whole, in order) when a wait begins, when the batch ends, or
  // when enough has piled up: one write per round trip instead of one per
  // frame. A failed write of a batch closes the connection like any other.
  void BeginBatch() { ++batchDepth_; }
  void EndBatch();
  bool Flush();

  // Frames lost since the connection was made: failed or short writes, and
  // frames refused on a closed channel. A pass that streams without waiting
  // compares it before and after, so that it never reports a write it could
  // not send whole.
  std::uint64_t SendFailures() const { return sendFailures_; }

  // The programmer stopped answering with work queued: the connection ends
  // as after a cut write, and what the port still holds is dropped, so that
  // a programmer that recovers does not carry out stale pages.
  void Abandon();

  // Arm the answer's code before sending what provokes it; then wait. After
  // a wait that failed, the programmer may still owe that answer, which the
  // next wait for the same code would take for its own: the first arming
  // after it puts a version query in between and waits for its answer (every
  // answer owed comes before it). When even that goes unanswered, the next
  // wait fails at once.
  void Expect(std::uint8_t responseCode);
  // One more answer of the same code, for a command sent before the earlier
  // ones were answered; waits take them in order.
  void ExpectAnother(std::uint8_t responseCode);
  // Armed answers that will not be waited for (a pass that ended early) are
  // still on their way: the next arming takes them out of the way first.
  void AbandonExpected();
  // Without a time-out, the connection's answer window (50 ms). Either window
  // is lengthened by the work streamed to the programmer that no answer has
  // confirmed yet (bus time, write cycles): a busy programmer is not a lost one.
  bool WaitResponse(std::uint8_t responseCode, int timeoutMs = -1);
  // The work the programmer may still be carrying out.
  std::chrono::microseconds Outstanding() const { return pace_.Outstanding(); }
  // All the work streamed on this connection so far, as a running total.
  std::chrono::nanoseconds WorkSent() const { return std::chrono::nanoseconds(pace_.Mark()); }
  // The window every wait without its own time-out uses. Only test builds
  // under sanitizers widen it: their simulator falls behind real hardware.
  void SetAnswerWindowMs(int ms) { answerWindowMs_ = ms > 0 ? ms : kResponseTimeoutMs; }
  // The waiter's copy of the last awaited answer.
  const Answer& Response() const { return slot_.Awaited(); }

  // Arm, one-byte command, wait: the shape of every query.
  bool Query(std::uint8_t command, std::uint8_t responseCode);
  // A harmless query (GET_VERSION): once it is answered, the programmer has
  // carried out everything sent before it. False when it never answered.
  bool Settle();

  // DEV_CTRL 1, GET_NAME and its answer as text (bounded by the data when it
  // carries no terminating zero); nullopt when it did not arrive.
  std::optional<std::string> QueryName();

 private:
  SCommX channel_;
  ResponseSlot slot_;
  FrameDecoder decoder_{slot_};
  ReaderThread reader_;
  bool WritePending();
  bool WriteWhole(const std::uint8_t* bytes, int size);
  void DrainOutput();
  void Lost();

  std::function<void()> closeHook_;
  int batchDepth_ = 0;
  std::vector<std::uint8_t> pending_;
  std::uint64_t sendFailures_ = 0;
  int answerWindowMs_ = kResponseTimeoutMs;
  PaceAccount pace_;
  // The work sent before each armed answer's command, oldest first.
  std::deque<std::int64_t> expectMarks_;
  std::chrono::microseconds usualAnswer_{0};  // how soon the last plain answer came
  bool cut_ = false;              // a write was cut: send nothing more on this channel
  bool owed_ = false;             // a wait failed: an answer may still be on its way
  bool outOfStep_ = false;        // the query after it went unanswered too
  bool closing_ = false;
};

// Scope of a batch.
class SendBatch {
 public:
  explicit SendBatch(Connection& link) : link_(link) { link_.BeginBatch(); }
  ~SendBatch() { link_.EndBatch(); }
  SendBatch(const SendBatch&) = delete;
  SendBatch& operator=(const SendBatch&) = delete;

 private:
  Connection& link_;
};

}  // namespace qmx
