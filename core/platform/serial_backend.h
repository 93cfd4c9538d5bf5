// The operating system's side of the serial channel. One implementation per
// platform, chosen by the build (posix/ or win32/).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qmx {

// Line settings in the platform-neutral codes the channel stores.
struct LineSettings {
  std::int32_t baudRate = 19200;
  std::int32_t byteSize = 8;
  std::int32_t stopBits = 1;     // 0 one, 1 one and a half, 2 two
  std::int32_t parity = 0;       // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::int32_t flowControl = 0;  // 0 none, 1 CTS/RTS, 2 DSR/DTR, 3 XON/XOFF
};

// What woke a receive wait.
enum class ReceiveWait {
  Readable,  // bytes are queued
  Stopped,   // the stop event was signalled
  HungUp,    // the device went away
  Closed,    // the channel is (being) closed
};

class WakeEvent;

class SerialBackend {
 public:
  virtual ~SerialBackend() = default;

  // Opens the device path exclusively; false when it cannot be had.
  virtual bool Open(const std::string& path) = 0;
  // Aborts transfers in flight, empties both queues and closes. Harmless when closed.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  virtual void ApplyLineSettings(const LineSettings& settings) = 0;
  virtual void SetTimeouts(int totalMs) = 0;

  // Whole-block transfers bounded by the total time-out: the count moved
  // (0 on a time-out with nothing moved), or -1 on failure or when closed.
  virtual int Write(const std::uint8_t* data, int count) = 0;
  virtual int Read(std::uint8_t* buffer, int count) = 0;

  // Modem lines; false when the device refuses them (a pseudo-terminal does).
  virtual bool SetDtr(bool on) = 0;
  virtual bool SetRts(bool on) = 0;

  // Bytes waiting in the input queue, or -1.
  virtual int QueuedBytes() = 0;
  // Bytes written but not yet taken by the device (0 when unknown).
  virtual int OutputQueued() = 0;
  // Drops what was written and not yet taken: commands for a programmer that
  // stopped taking them must not run when it recovers.
  virtual void DiscardOutput() {}

  // Sleeps until input is queued, the device hangs up, the channel closes,
  // or `stop` is signalled; with Readable, *queued holds the queued count.
  // Only the reader thread calls it.
  virtual ReceiveWait WaitReceive(WakeEvent& stop, int* queued) = 0;

  // True once the device hung up (seen by the reader or probed now); writes
  // fail from then on.
  virtual bool HungUp() const = 0;
};

std::unique_ptr<SerialBackend> MakeSerialBackend();

// Device path for a port name. POSIX: a name that starts with '/' is a path
// already; any other name is looked up under /dev ("ttyACM0" -> "/dev/ttyACM0"),
// or under $QMX71_DEV_ROOT when that is set and non-empty (tests).
// Win32: a name that starts with '\\' is a path already; any other gets the
// device prefix ("COM12" -> "\\.\COM12").
std::string DevicePathForPort(const std::string& portName);
// True when the port's device exists now (it may still be busy or refused).
bool PortExists(const std::string& portName);
// True when the port exists but this user may not open it for reading and
// writing (no device access rule, not in the group that owns it). Win32 gives
// the same answer for a port another program holds.
bool PortAccessDenied(const std::string& portName);

}  // namespace qmx
