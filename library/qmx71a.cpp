// The twenty exports over one process-wide connection. Every export catches
// everything: an exception must never unwind into a C host.
#include "library/qmx71a.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "core/catalogue/catalogue.h"
#include "core/discovery/port_discovery.h"
#include "core/link/connection.h"
#include "core/memory/memory_ops.h"
#include "core/protocol/commands.h"
#include "core/protocol/encoding.h"
#include "image/memory_image.h"
#include "library/library_lifetime.h"
#include "library/status_led.h"
#include "library/switch_notice.h"

namespace qmx {
namespace {

constexpr int kMaxRawTransfer = 256;
// One WRITE_DATA/WRITE_DONE frame carries the code and at most this many bytes.
constexpr int kRawChunk = kMaxSendPayload - 1;

// The first piece of an I2C raw read of `rest` bytes. The count byte is read
// as plain (1..127, 0 for 256) or negated (256 - count, 1..128), so a longer
// read goes as plain pieces first and only the last one carries the negation.
int I2cReadPiece(int rest, bool negatedLast) {
  if (negatedLast) return rest <= 128 ? rest : std::min(rest - 1, 127);
  return (rest <= 127 || rest == 256) ? rest : 127;
}

class Library {
 public:
  Library() : provider_(MakeDefaultDeviceListProvider()), discovery_(*provider_) {
    link_.SetCloseHook([this] { CloseConnection(); });
    link_.SetSwitchHandler([this](bool pressed) { OnSwitch(pressed); });
  }
  // Unload: a host that forgot QmxClose still gets the supply off and the
  // port released; Disconnect is bounded, so this never hangs the loader.
  ~Library() {
    try {
      Close();
    } catch (...) {
    }
  }

  Connection& Link() { return link_; }
  const BitReversal& Reverse() const { return reverse_; }
  int Family() const { return family_; }
  int Switch() const { return switchState_.load(); }
  intptr_t SetEvent(intptr_t fd) {
    switchFd_.store(fd);
    return fd;
  }

  bool OpenConnection() {
    // A vanished port would keep every later open failing; start afresh.
    if (link_.IsOpen() && link_.PortGone()) CloseConnection();
    if (link_.IsOpen()) return true;
    const std::string port = DiscoverProgrammerPort(discovery_);
    if (port.empty()) return false;
    if (!link_.OpenPort(port)) return false;
    HoldImageLoaded();
    const auto name = link_.QueryName();
    if (!name) return false;  // left open: the host's QmxClose releases it
    name_ = *name;
    model_ = ModelFromNameForLibrary(name_);
    return true;
  }

  void CloseConnection() {
    link_.Disconnect();
    ReleaseImageHold();
    name_.clear();
    // The next programmer must identify itself before a family is accepted.
    model_ = kModelUnknown;
  }

  bool SelectMode(int family, int variant, int writeTime) {
    if (!LibraryAcceptsFamily(model_, family)) return false;
    family_ = family;
    return link_.SendCommand4(SET_MODE, static_cast<std::uint8_t>(family), static_cast<std::uint8_t>(variant),
                              static_cast<std::uint8_t>(writeTime));
  }

  // The process is ending and the system has ended its other threads, the
  // reader among them, perhaps holding the channel's locks: the supply-off
  // is written, and nothing is closed, joined or waited for after it. The
  // system releases the port.
  void AtProcessExit() {
    if (link_.IsOpen()) link_.SendCommand2(DEV_CTRL, DEVCTRL_SUPPLY_OFF);
    leftAtExit_ = true;
    ForgetImageHold();
  }
  bool LeftAtExit() const { return leftAtExit_; }

  void Close() {
    // Pages streamed by a write just before may still be in the programmer's
    // hands: closing now would cut them short, and the part must not be left
    // powered. An answer after the supply-off says both are done; a
    // programmer that never answers is given up within its pace window.
    if (link_.IsOpen() && link_.SendCommand2(DEV_CTRL, DEVCTRL_SUPPLY_OFF)) link_.Settle();
    CloseConnection();
  }

  // Begin and end codes of a raw transfer by family; 0 for none.
  std::uint8_t BeginCode() const {
    switch (family_) {
      case kFamilyMicrowire: return DEVCTRL_CS_HIGH;
      case kFamilyI2c: return DEVCTRL_I2C_START;
      case kFamilySpi: return DEVCTRL_CS_LOW;
      default: return 0;
    }
  }
  std::uint8_t EndCode() const {
    switch (family_) {
      case kFamilyMicrowire: return DEVCTRL_CS_LOW;
      case kFamilyI2c: return DEVCTRL_I2C_STOP;
      case kFamilySpi: return DEVCTRL_CS_HIGH;
      default: return 0;
    }
  }

 private:
  void OnSwitch(bool pressed) {
    switchState_.store(pressed ? 1 : 0);
    const intptr_t fd = switchFd_.load();
    if (pressed && fd != 0) SendSwitchNotice(fd);
  }

  std::unique_ptr<DeviceListProvider> provider_;
  PortDiscovery discovery_;
  Connection link_;
  BitReversal reverse_;
  std::string name_;
  int model_ = kModelUnknown;
  int family_ = kFamilyMicrowire;
  std::atomic<int> switchState_{0};
  std::atomic<intptr_t> switchFd_{0};
  bool leftAtExit_ = false;
};

// Left undestroyed once the process exit took over the connection: its
// members would close the port and join the reader.
class LibraryHolder {
 public:
  LibraryHolder() = default;
  ~LibraryHolder() {
    if (!library_->LeftAtExit()) delete library_;
  }
  LibraryHolder(const LibraryHolder&) = delete;
  LibraryHolder& operator=(const LibraryHolder&) = delete;
  Library& Get() { return *library_; }

 private:
  Library* library_ = new Library;
};

Library& State() {
  static LibraryHolder holder;
  return holder.Get();
}

// Built with the library image rather than at first use, so the unload path
// has an object to close and a first call never pays for it.
[[maybe_unused]] Library& kEager = State();

template <typename F>
auto Guard(F&& f) noexcept -> decltype(f()) {
  using Result = decltype(f());
  try {
    return f();
  } catch (...) {
    if constexpr (!std::is_void_v<Result>) return Result{};
  }
}

void SendControl(std::uint8_t code) {
  if (code != 0) State().Link().SendCommand2(DEV_CTRL, code);
}

// Flags 1 and 4, the part of a raw transfer before the data.
void RawBegin(int flags) {
  if (flags & 1) SendControl(State().BeginCode());
  if ((flags & 4) && State().Family() == kFamilyI2c) SendControl(DEVCTRL_I2C_RESTART);
}
void RawEnd(int flags) {
  if (flags & 2) SendControl(State().EndCode());
}

std::int32_t ReadSide(int operation, std::int32_t device, std::int32_t start, const std::uint8_t* buffer,
                      std::int32_t length, std::int32_t blockSize) {
  return Guard([&]() -> std::int32_t {
    Library& s = State();
    // Compare only reads the caller's bytes; the core takes one pointer type for all four.
    return LibraryReadSide(s.Link(), s.Reverse(), s.Family(), operation, device, start,
                           const_cast<std::uint8_t*>(buffer), length, blockSize);
  });
}

std::int32_t WriteSide(int operation, std::int32_t device, std::int32_t start, const std::uint8_t* buffer,
                       std::int32_t length, std::int32_t blockSize) {
  return Guard([&]() -> std::int32_t {
    Library& s = State();
    return LibraryWriteSide(s.Link(), s.Reverse(), s.Family(), operation, device, start, buffer, length,
                            blockSize);
  });
}

}  // namespace

void LibraryAtProcessExit() {
  Guard([] { State().AtProcessExit(); });
}

bool LibraryStatusLed(std::uint8_t code) {
  return Guard([code] {
    Library& s = State();
    return code >= DEVCTRL_LED_OFF && code <= DEVCTRL_LED_ERROR && s.Link().IsOpen() &&
           s.Link().SendCommand2(DEV_CTRL, code);
  });
}

}  // namespace qmx

using qmx::Guard;
using qmx::State;

extern "C" {

int32_t QmxOpen(int32_t family, int32_t variant, int32_t maxWriteTimeMs, int32_t supplyFlag) {
  return Guard([&]() -> int32_t {
    auto& s = State();
    if (!s.OpenConnection()) return 0;
    s.Link().SendCommand2(qmx::SET_RESTART, 0);
    if (!s.SelectMode(family, variant, maxWriteTimeMs)) return 0;
    if (supplyFlag == 0) s.Link().SendCommand2(qmx::DEV_CTRL, qmx::DEVCTRL_SUPPLY_ON);
    if (family == qmx::kFamilyMicrowire && variant == 1) s.Link().SendCommand2(qmx::WR_GPIO, 0);
    return 1;
  });
}

void QmxClose(void) {
  Guard([] { State().Close(); });
}

int32_t QmxMode(int32_t family, int32_t variant, int32_t maxWriteTimeMs) {
  return Guard([&]() -> int32_t {
    auto& s = State();
    if (!s.Link().IsOpen()) return 0;
    return s.SelectMode(family, variant, maxWriteTimeMs) ? 1 : 0;
  });
}

int32_t QmxCheck(void) {
  return Guard([]() -> int32_t {
    auto& s = State();
    if (!s.Link().IsOpen()) return 0;
    if (!s.Link().Query(qmx::CHK_DEVICE, qmx::RESP_DEVICE)) return 0;
    const auto& a = s.Link().Response();
    if (a.data[0] == 0) return 0;
    if (s.Family() != qmx::kFamilyMicrowire) return 1;
    return a.data[1] != 0 ? a.data[1] : 1;
  });
}

int32_t QmxRead(int32_t device, int32_t start, uint8_t* buffer, int32_t length, int32_t blockSize) {
  return qmx::ReadSide(qmx::kRead, device, start, buffer, length, blockSize);
}
int32_t QmxCompare(int32_t device, int32_t start, const uint8_t* buffer, int32_t length, int32_t blockSize) {
  return qmx::ReadSide(qmx::kCompare, device, start, buffer, length, blockSize);
}
int32_t QmxBlankChk(int32_t device, int32_t start, const uint8_t* buffer, int32_t length, int32_t blockSize) {
  return qmx::ReadSide(qmx::kBlankCheck, device, start, buffer, length, blockSize);
}
int32_t QmxChecksum(int32_t device, int32_t start, const uint8_t* buffer, int32_t length, int32_t blockSize) {
  return qmx::ReadSide(qmx::kChecksum, device, start, buffer, length, blockSize);
}
int32_t QmxWrite(int32_t device, int32_t start, const uint8_t* buffer, int32_t length, int32_t blockSize) {
  return qmx::WriteSide(qmx::kWrite, device, start, buffer, length, blockSize);
}
int32_t QmxErase(int32_t device, int32_t start, const uint8_t* buffer, int32_t length, int32_t blockSize) {
  return qmx::WriteSide(qmx::kErase, device, start, buffer, length, blockSize);
}

int32_t QmxDllVer(void) { return 256; }

int32_t QmxFrmVer(void) {
  return Guard([]() -> int32_t {
    auto& s = State();
    if (!s.Link().IsOpen()) return 0;
    if (!s.Link().Query(qmx::GET_VERSION, qmx::RESP_VERSION)) return 0;
    const auto& a = s.Link().Response();
    return qmx::VersionNumber(a.data[0], a.data[1]);
  });
}

int32_t QmxSetFreq(int32_t hz) {
  return Guard([&]() -> int32_t {
    auto& s = State();
    if (!s.Link().IsOpen()) return 0;
    // A negative clock takes the Hz unit, its low 16 bits as the value.
    const qmx::FreqArgs f = hz < 0 ? qmx::FreqArgs{static_cast<std::uint8_t>(hz & 0xFF),
                                                   static_cast<std::uint8_t>((hz >> 8) & 0xFF), 0}
                                   : qmx::EncodeFrequency(static_cast<std::uint32_t>(hz));
    const std::uint8_t payload[4] = {qmx::SET_FREQ, f.valueLow, f.valueHigh, f.unit};
    s.Link().SendFrame(payload, 4);
    return 1;
  });
}

int32_t QmxGetFreq(void) {
  return Guard([]() -> int32_t {
    auto& s = State();
    if (!s.Link().Query(qmx::GET_FREQ, qmx::RESP_FREQ)) return 0;
    const auto& a = s.Link().Response();
    return static_cast<int32_t>(qmx::DecodeFrequency(a.data[0], a.data[1], a.data[2]));
  });
}

int32_t QmxGetSwitch(void) { return Guard([]() -> int32_t { return State().Switch(); }); }

intptr_t QmxSetEvent(intptr_t handle) {
  return Guard([&]() -> intptr_t { return State().SetEvent(handle); });
}

int32_t QmxReset(void) {
  return Guard([]() -> int32_t {
    auto& channel = State().Link().Channel();
    channel.SetDtr(false);
    return channel.SetDtr(true) ? 1 : 0;
  });
}

int32_t QmxVpp(void) {
  return Guard([]() -> int32_t {
    auto& s = State();
    if (!s.Link().Query(qmx::GET_VOLTAGE, qmx::RESP_VOLTAGE)) return 0;
    return qmx::SupplyCentivolts(s.Link().Response().data[0]);
  });
}

int32_t QmxDWrite(int32_t flags, const uint8_t* data, int32_t n) {
  return Guard([&]() -> int32_t {
    if (n < 0 || n > qmx::kMaxRawTransfer || (n > 0 && data == nullptr)) return 0;
    auto& link = State().Link();
    qmx::RawBegin(flags);
    // Longer blocks go out as several frames, in order; only the last one
    // may be the WRITE_DONE that flag 8 asks for.
    for (int offset = 0; offset < n;) {
      const int chunk = std::min(qmx::kRawChunk, n - offset);
      const bool last = offset + chunk == n;
      std::uint8_t payload[qmx::kMaxSendPayload];
      payload[0] = (last && (flags & 8)) ? qmx::WRITE_DONE : qmx::WRITE_DATA;
      std::memcpy(payload + 1, data + offset, static_cast<std::size_t>(chunk));
      link.SendFrame(payload, chunk + 1);
      offset += chunk;
    }
    qmx::RawEnd(flags);
    return 1;
  });
}

int32_t QmxDRead(int32_t flags, uint8_t* buffer, int32_t n) {
  return Guard([&]() -> int32_t {
    if (n < 0 || n > qmx::kMaxRawTransfer || (n > 0 && buffer == nullptr)) return 0;
    auto& link = State().Link();
    qmx::RawBegin(flags);
    const bool i2c = State().Family() == qmx::kFamilyI2c;
    const bool negated = (flags & 8) != 0;
    for (int offset = 0; offset < n;) {
      const int rest = n - offset;
      const int count = i2c ? qmx::I2cReadPiece(rest, negated) : rest;
      const bool last = count == rest;
      const int code = (last && negated) ? -count : count;
      link.Expect(qmx::RESP_DATA);
      link.SendCommand2(qmx::READ_DATA, static_cast<std::uint8_t>(code & 0xFF));
      if (!link.WaitResponse(qmx::RESP_DATA)) break;
      // Only the bytes that came: the rest of the buffer stays as it was.
      const auto& answer = link.Response();
      std::memcpy(buffer + offset, answer.data.data(), static_cast<std::size_t>(std::min(count, answer.length)));
      if (answer.length < count) break;
      offset += count;
    }
    qmx::RawEnd(flags);
    return 1;
  });
}

}  // extern "C"
