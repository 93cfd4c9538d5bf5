#include "sim/part_models.h"

#include "sim/protocol.h"

namespace qmx::sim {

namespace {

constexpr std::uint8_t kWren = 0x06, kWrdi = 0x04, kRdsr = 0x05, kRead = 0x03, kWrite = 0x02;
constexpr std::uint8_t kA8Bit = 0x08;  // address bit 8 of the parts that need one more
constexpr std::uint8_t kStatusWel = 0x02;

}  // namespace

SpiPart::SpiPart(const PartRow& row)
    : EepromPart(row.name, row.size, kFamilySpi),
      pageSize_(static_cast<std::size_t>(row.pageSize)),
      addressBytes_(row.addressBytes),
      a8InInstruction_(row.a8InInstruction) {}

void SpiPart::Reset() {
  writeEnabled_ = false;
  phase_ = Phase::Deselected;
  pending_.clear();
}

void SpiPart::Line(std::uint8_t sub) {
  if (sub == kCtrlChipSelectLow) {
    phase_ = Phase::Instruction;
    pending_.clear();
    writing_ = false;
  } else if (sub == kCtrlChipSelectHigh) {
    Deselect();
  }
}

void SpiPart::ShiftOut(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t byte : bytes) Byte(byte);
}

void SpiPart::Byte(std::uint8_t byte) {
  switch (phase_) {
    case Phase::Instruction: Instruction(byte); return;
    case Phase::Address:
      address_ = (address_ << 8) | byte;
      if (++addressBytesSeen_ < addressBytes_) return;
      pointer_ = address_ % Size();
      phase_ = writing_ ? Phase::Data : Phase::Reading;
      return;
    case Phase::Data: {
      const std::size_t base = pointer_ - pointer_ % pageSize_;
      pending_.emplace_back(base + (pointer_ + pending_.size()) % pageSize_, byte);
      return;
    }
    default: return;  // input is ignored while the part reads out
  }
}

void SpiPart::Instruction(std::uint8_t byte) {
  phase_ = Phase::Ignoring;
  const std::uint8_t a8 = a8InInstruction_ ? kA8Bit : 0;
  const std::uint8_t base = static_cast<std::uint8_t>(byte & ~a8);
  if (byte == kWren) {
    writeEnabled_ = true;
  } else if (byte == kWrdi) {
    writeEnabled_ = false;
  } else if (byte == kRdsr) {
    phase_ = Phase::Status;
  } else if (base == kRead || base == kWrite) {
    writing_ = base == kWrite;
    address_ = (byte & a8) != 0 ? 1 : 0;  // becomes bit 8 once the address byte is shifted in
    addressBytesSeen_ = 0;
    phase_ = Phase::Address;
  }
  // WRSR and anything else: block protection is not modelled, so nothing to do.
}

std::uint8_t SpiPart::ShiftInByte(bool) {
  if (phase_ == Phase::Status) return writeEnabled_ ? kStatusWel : 0;  // never busy when asked
  if (phase_ != Phase::Reading) return 0xFF;
  const std::uint8_t byte = At(pointer_);
  pointer_ = (pointer_ + 1) % Size();
  return byte;
}

// The page is programmed when chip select rises; the write clears the latch.
void SpiPart::Deselect() {
  if (phase_ == Phase::Data && !pending_.empty() && writeEnabled_) {
    for (const auto& [address, value] : pending_) At(address) = value;
    writeEnabled_ = false;
    StartWriteCycle();
  }
  pending_.clear();
  phase_ = Phase::Deselected;
}

}  // namespace qmx::sim
