// Win32 backend of the serial channel: a COM device opened for overlapped I/O.
//
// Close may run on one thread while the reader thread sleeps in WaitReceive
// or drains with Read, and while a sender waits in Write. The handle must not
// be closed while a call still has an OVERLAPPED record on it, so transfers
// hold the lock shared and Close takes it exclusively, after waking every wait
// through the abort event; a woken wait cancels its own call and reaps it
// before it lets go of the lock.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <shared_mutex>

#include "core/platform/serial_backend.h"
#include "core/platform/wake_event.h"
#include "core/platform/win32/comm_state_map.h"

namespace qmx {

namespace {

// The largest block the reader takes at once; the driver may grant less.
constexpr DWORD kQueueSize = 4096;
// The driver's total time-out ends every transfer. This much later the driver
// is taken to be stuck (a device pulled mid-transfer) and the call is cancelled.
constexpr DWORD kDriverGraceMs = 1000;
constexpr DWORD kWaitMask = EV_RXCHAR;

// An unnamed manual-reset event owned for the backend's whole life, so that
// no wait can ever see it closed.
class OwnedEvent {
 public:
  OwnedEvent() : handle_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~OwnedEvent() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  OwnedEvent(const OwnedEvent&) = delete;
  OwnedEvent& operator=(const OwnedEvent&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

HANDLE HandleOf(const WakeEvent& event) { return reinterpret_cast<HANDLE>(event.Native()); }

// The driver's queue counts; false when the device no longer answers (pulled).
bool QueueState(HANDLE port, COMSTAT& stat) {
  DWORD errors = 0;
  // Also clears a line error, which would otherwise hold up further I/O on
  // a port set to abort on errors.
  return ::ClearCommError(port, &errors, &stat) != 0;
}

// A transfer the total time-out (or our cancel after it) cut short. Some
// drivers complete it with STATUS_TIMEOUT, which a few GetOverlappedResult
// implementations report as a failure rather than a short count.
bool EndedByTimeout(DWORD error) {
  return error == ERROR_OPERATION_ABORTED || error == WAIT_TIMEOUT || error == ERROR_TIMEOUT ||
         error == ERROR_SEM_TIMEOUT;
}

void ApplyTimeouts(HANDLE port, int totalMs) {
  const DWORD total = static_cast<DWORD>(std::max(totalMs, 0));
  COMMTIMEOUTS timeouts{};
  // No interval limit: a read waits for the whole block or the total time-out.
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = total;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  // 0 would mean "no limit" for a write, not "at once".
  timeouts.WriteTotalTimeoutConstant = std::max<DWORD>(total, 1);
  ::SetCommTimeouts(port, &timeouts);
}

class Win32SerialBackend final : public SerialBackend {
 public:
  ~Win32SerialBackend() override { Close(); }

  bool Open(const std::string& path) override {
    std::unique_lock lock(mutex_);
    // Without its events no wait could be woken or completed.
    if (port_.load() != INVALID_HANDLE_VALUE || !abort_.Valid() || readEvent_.get() == nullptr ||
        writeEvent_.get() == nullptr || waitEvent_.get() == nullptr) {
      return false;
    }
    // Share mode 0: the port is ours alone until Close.
    const HANDLE port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) return false;
    // A disk file or pipe opens as well; only a character device can be a port.
    if (::GetFileType(port) != FILE_TYPE_CHAR) {
      ::CloseHandle(port);
      return false;
    }
    // A driver may refuse large queues: halve down to one byte, then carry on with its own.
    for (DWORD size = kQueueSize; size >= 1; size /= 2) {
      if (::SetupComm(port, size, size)) break;
    }
    ::SetCommMask(port, kWaitMask);
    ApplyTimeouts(port, timeoutMs_.load());
    // Answers that came after an earlier holder closed the port are owed to
    // its commands; taken now they would answer ours.
    ::PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR);
    hungUp_ = false;
    port_ = port;
    return true;
  }

  void Close() override {
    if (port_.load() == INVALID_HANDLE_VALUE) return;
    aborting_ = true;
    abort_.Set();
    std::unique_lock lock(mutex_);
    const HANDLE port = port_.load();
    if (port != INVALID_HANDLE_VALUE) {
      // Unread input is dropped; output only when it is still queued (the
      // device stopped taking it), as on POSIX: bytes the device is taking
      // are commands the caller sent.
      COMSTAT stat{};
      const bool outputLeft = QueueState(port, stat) && stat.cbOutQue > 0;
      ::PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | (outputLeft ? PURGE_TXABORT | PURGE_TXCLEAR : 0));
      ::CloseHandle(port);
      port_ = INVALID_HANDLE_VALUE;
    }
    abort_.Reset();
    aborting_ = false;
  }

  bool IsOpen() const override { return port_.load() != INVALID_HANDLE_VALUE; }

  void ApplyLineSettings(const LineSettings& s) override {
    std::shared_lock lock(mutex_);
    const HANDLE port = port_.load();
    if (port == INVALID_HANDLE_VALUE) return;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb)) return;
    MapLineSettings(s, dcb);
    // A refused setting leaves the port as it was; the open still stands.
    // The DCB's line controls also put DTR and RTS where the mode rests them.
    ::SetCommState(port, &dcb);
  }

  void SetTimeouts(int totalMs) override {
    timeoutMs_ = totalMs;
    std::shared_lock lock(mutex_);
    const HANDLE port = port_.load();
    if (port != INVALID_HANDLE_VALUE) ApplyTimeouts(port, totalMs);
  }

  int Write(const std::uint8_t* data, int count) override {
    if (aborting_) return -1;
    std::shared_lock lock(mutex_);
    const HANDLE port = port_.load();
    if (port == INVALID_HANDLE_VALUE || hungUp_) return -1;
    return Transfer(port, const_cast<std::uint8_t*>(data), count, /*writing=*/true);
  }

  int Read(std::uint8_t* buffer, int count) override {
    if (aborting_) return -1;
    std::shared_lock lock(mutex_);
    const HANDLE port = port_.load();
    if (port == INVALID_HANDLE_VALUE) return -1;
    return Transfer(port, buffer, count, /*writing=*/false);
  }

  bool SetDtr(bool on) override { return Escape(on ? SETDTR : CLRDTR); }
  bool SetRts(bool on) override { return Escape(on ? SETRTS : CLRRTS); }

  int QueuedBytes() override {
    if (aborting_) return -1;
    std::shared_lock lock(mutex_);
    const HANDLE port = port_.load();
    COMSTAT stat{};
    if (port == INVALID_HANDLE_VALUE || !QueueState(port, stat)) return -1;
    return static_cast<int>(stat.cbInQue);
  }

  int OutputQueued() override {
    if (aborting_) return 0;
    std::shared_lock lock(mutex_);
    const HANDLE port = port_.load();
    COMSTAT stat{};
    if (port == INVALID_HANDLE_VALUE || !QueueState(port, stat)) return 0;
    return static_cast<int>(stat.cbOutQue);
  }

  void DiscardOutput() override {
    std::shared_lock lock(mutex_);
    const HANDLE port = port_.load();
    if (port != INVALID_HANDLE_VALUE) ::PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR);
  }

  ReceiveWait WaitReceive(WakeEvent& stop, int* queuedOut) override {
    *queuedOut = 0;
    if (aborting_) return ReceiveWait::Closed;
    std::shared_lock lock(mutex_);
    const HANDLE port = port_.load();
    if (port == INVALID_HANDLE_VALUE) return ReceiveWait::Closed;
    if (hungUp_) return ReceiveWait::HungUp;

    // Bytes queued before the wait starts raise no new event: take them now.
    COMSTAT stat{};
    if (!QueueState(port, stat)) return GoneAway();
    if (stat.cbInQue > 0) {
      *queuedOut = static_cast<int>(stat.cbInQue);
      return ReceiveWait::Readable;
    }

    OVERLAPPED ov{};
    ov.hEvent = waitEvent_.get();
    ::ResetEvent(ov.hEvent);
    DWORD events = 0;
    if (!::WaitCommEvent(port, &events, &ov)) {
      if (::GetLastError() != ERROR_IO_PENDING) {
        if (!QueueState(port, stat)) return GoneAway();
        // Refused, yet the device answers: pause so the reader cannot spin.
        ::Sleep(1);
        return ReceiveWait::Readable;
      }
      // The order gives a stop precedence over a close, and both over data.
      const HANDLE waits[3] = {HandleOf(stop), HandleOf(abort_), ov.hEvent};
      const DWORD woke = ::WaitForMultipleObjects(3, waits, FALSE, INFINITE);
      if (woke != WAIT_OBJECT_0 + 2) {
        // The record lives on this stack: the wait must end here. Setting
        // the mask again completes a pending event wait (not every driver
        // completes a cancelled one); the cancel is for those that do.
        ::SetCommMask(port, kWaitMask);
        ::CancelIoEx(port, &ov);
        DWORD ignored = 0;
        ::GetOverlappedResult(port, &ov, &ignored, TRUE);
        return woke == WAIT_OBJECT_0 ? ReceiveWait::Stopped : ReceiveWait::Closed;
      }
      DWORD ignored = 0;
      ::GetOverlappedResult(port, &ov, &ignored, FALSE);
    }

    if (!QueueState(port, stat)) return GoneAway();
    if (stat.cbInQue > 0) {
      *queuedOut = static_cast<int>(stat.cbInQue);
    } else {
      // Woken with nothing queued: a line event, not data. Pause so a stuck
      // condition cannot turn the reader into a spin.
      ::Sleep(1);
    }
    return ReceiveWait::Readable;
  }

  bool HungUp() const override {
    if (hungUp_) return true;
    // Asked before the reader thread woke to the hang-up: look for ourselves.
    std::shared_lock lock(mutex_);
    const HANDLE port = port_.load();
    COMSTAT stat{};
    return port != INVALID_HANDLE_VALUE && !QueueState(port, stat);
  }

 private:
  ReceiveWait GoneAway() {
    hungUp_ = true;
    return ReceiveWait::HungUp;
  }

  bool Escape(DWORD function) {
    if (aborting_) return false;
    std::shared_lock lock(mutex_);
    const HANDLE port = port_.load();
    return port != INVALID_HANDLE_VALUE && ::EscapeCommFunction(port, function) != 0;
  }

  // One overlapped call for the whole block; the port's total time-out ends
  // it, with the count moved so far (0 included).
  int Transfer(HANDLE port, std::uint8_t* data, int count, bool writing) {
    if (count <= 0) return 0;
    OVERLAPPED ov{};
    ov.hEvent = writing ? writeEvent_.get() : readEvent_.get();
    ::ResetEvent(ov.hEvent);
    const DWORD size = static_cast<DWORD>(count);
    const BOOL started = writing ? ::WriteFile(port, data, size, nullptr, &ov) : ::ReadFile(port, data, size, nullptr, &ov);
    if (!started && ::GetLastError() != ERROR_IO_PENDING) return Failed(port, 0);
    bool aborted = false;
    if (!started) {
      const HANDLE waits[2] = {ov.hEvent, HandleOf(abort_)};
      const DWORD limit = static_cast<DWORD>(std::max(timeoutMs_.load(), 0)) + kDriverGraceMs;
      const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, limit);
      if (woke != WAIT_OBJECT_0) {
        aborted = woke == WAIT_OBJECT_0 + 1;
        ::CancelIoEx(port, &ov);
      }
    }
    // Waits only for a cancelled call, which must be done with the record.
    DWORD moved = 0;
    const bool ok = ::GetOverlappedResult(port, &ov, &moved, TRUE) != 0;
    const int done = static_cast<int>(moved);
    if (aborted) return done > 0 ? done : -1;
    if (ok || EndedByTimeout(::GetLastError())) return done;
    return Failed(port, done);
  }

  // A failed call on a device that no longer answers means it went away.
  int Failed(HANDLE port, int done) {
    COMSTAT stat{};
    if (!QueueState(port, stat)) hungUp_ = true;
    return done > 0 ? done : -1;
  }

  mutable std::shared_mutex mutex_;
  std::atomic<HANDLE> port_{INVALID_HANDLE_VALUE};
  std::atomic<bool> aborting_{false};
  std::atomic<bool> hungUp_{false};
  std::atomic<int> timeoutMs_{3000};
  WakeEvent abort_;
  OwnedEvent readEvent_;
  OwnedEvent writeEvent_;
  OwnedEvent waitEvent_;
};

}  // namespace

std::unique_ptr<SerialBackend> MakeSerialBackend() {
  return std::make_unique<Win32SerialBackend>();
}

}  // namespace qmx
