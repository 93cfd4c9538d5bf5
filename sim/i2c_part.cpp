#include "sim/part_models.h"

#include "sim/protocol.h"

namespace qmx::sim {

namespace {

constexpr std::uint8_t kDeviceTypeMask = 0xF0, kDeviceType = 0xA0;
constexpr std::uint8_t kReadBit = 0x01;
// Device-byte bits 1..3: block bits where the part has them, chip-enable pins
// (wired low in the socket) where it does not.
constexpr int kSelectShift = 1;
constexpr std::uint8_t kSelectMask = 0x07;

}  // namespace

I2cPart::I2cPart(const PartRow& row)
    : EepromPart(row.name, row.size, kFamilyI2c),
      pageSize_(static_cast<std::size_t>(row.pageSize)),
      addressBytes_(row.addressBytes),
      blockBits_(row.blockBits) {}

void I2cPart::Reset() {
  phase_ = Phase::Idle;
  pending_.clear();
  pointer_ = 0;
}

void I2cPart::Line(std::uint8_t sub) {
  if (sub == kCtrlI2cStart || sub == kCtrlI2cRestart) {
    pending_.clear();  // a START before the STOP abandons a page write
    phase_ = Phase::DeviceByte;
  } else if (sub == kCtrlI2cStop) {
    Stop();
  }
}

void I2cPart::ShiftOut(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t byte : bytes) Byte(byte);
}

// Nobody acknowledges: the programmer reports it.
void I2cPart::ShiftOutUnanswered() { RaiseError(NO_ACK_ERROR); }

bool I2cPart::Addresses(std::uint8_t deviceByte) const {
  const std::uint8_t blockMask = static_cast<std::uint8_t>((1U << blockBits_) - 1);
  const std::uint8_t select = (deviceByte >> kSelectShift) & kSelectMask;
  return (deviceByte & kDeviceTypeMask) == kDeviceType && (select & ~blockMask) == 0;
}

void I2cPart::Byte(std::uint8_t byte) {
  switch (phase_) {
    case Phase::DeviceByte: DeviceByte(byte); return;
    case Phase::Address:
      address_ = (address_ << 8) | byte;
      if (++addressBytesSeen_ < addressBytes_) return;
      pointer_ = ((block_ << 8) | address_) % Size();
      phase_ = Phase::Data;
      return;
    case Phase::Data: {
      // The address counter rolls over inside the page.
      const std::size_t base = pointer_ - pointer_ % pageSize_;
      const std::size_t offset = (pointer_ + pending_.size()) % pageSize_;
      pending_.emplace_back(base + offset, byte);
      return;
    }
    default: RaiseError(NO_ACK_ERROR); return;  // not listening, or driving the bus itself
  }
}

void I2cPart::DeviceByte(std::uint8_t byte) {
  if (!Addresses(byte)) {
    RaiseError(NO_ACK_ERROR);
    phase_ = Phase::Idle;
    return;
  }
  if ((byte & kReadBit) != 0) {
    phase_ = Phase::Reading;  // reads go on from the address counter
    return;
  }
  block_ = (byte >> kSelectShift) & ((1U << blockBits_) - 1);
  address_ = 0;
  addressBytesSeen_ = 0;
  phase_ = Phase::Address;
}

std::uint8_t I2cPart::ShiftInByte(bool lastOfTransfer) {
  if (phase_ != Phase::Reading) return 0xFF;
  const std::uint8_t byte = At(pointer_);
  pointer_ = (pointer_ + 1) % Size();
  if (lastOfTransfer) phase_ = Phase::Idle;  // not acknowledged: the part lets go of the bus
  return byte;
}

void I2cPart::Stop() {
  if (phase_ == Phase::Data && !pending_.empty()) {
    for (const auto& [address, value] : pending_) At(address) = value;
    const std::size_t base = pointer_ - pointer_ % pageSize_;
    pointer_ = base + (pointer_ + pending_.size()) % pageSize_;
    StartWriteCycle();
  }
  pending_.clear();
  phase_ = Phase::Idle;
}

}  // namespace qmx::sim
