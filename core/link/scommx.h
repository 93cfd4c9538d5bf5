// The serial channel to the programmer's port. Knows nothing of frames.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/platform/serial_backend.h"

namespace qmx {

class WakeEvent;

class SCommX {
 public:
  SCommX();
  explicit SCommX(std::unique_ptr<SerialBackend> backend);
  ~SCommX();
  SCommX(const SCommX&) = delete;
  SCommX& operator=(const SCommX&) = delete;

  bool IsOpen() const;

  // Each setter stores the value; on an open channel it takes effect at once,
  // on a closed one at the next Open.
  void SetBaudRate(std::int32_t value);
  void SetByteSize(std::int32_t value);
  void SetStopBits(std::int32_t value);
  void SetParity(std::int32_t value);
  void SetFlowControl(std::int32_t value);
  void ApplyLineSettings();
  void SetTimeouts(std::int32_t ms);

  // Opens portName exclusively ("ttyACM0" opens /dev/ttyACM0, a name that
  // starts with '/' is a path). False when it cannot be had.
  bool Open();
  // Purges and closes; always true, harmless when closed.
  bool Close();

  bool SetDtr(bool on);
  bool SetRts(bool on);

  // Bytes moved (0 when the total time-out passed with nothing), or -1 on
  // failure or a closed channel.
  int Write(const std::uint8_t* data, int count);
  int Read(std::uint8_t* buffer, int count);

  // For the reader thread: queued input and the wait for it.
  int QueuedBytes();
  int OutputQueued();
  void DiscardOutput();
  ReceiveWait WaitReceive(WakeEvent& stop, int* queued);
  bool HungUp() const;

  // Settings last applied to the port (the line-settings record).
  LineSettings dcb;
  std::int32_t baudRate = 19200;
  std::int32_t byteSize = 8;
  std::int32_t stopBits = 1;
  std::int32_t parity = 0;
  std::int32_t flowControl = 0;
  std::string portName;
  std::int32_t timeoutMs = 3000;

 private:
  std::unique_ptr<SerialBackend> backend_;
};

}  // namespace qmx
