#include "sim/part_models.h"

#include <algorithm>

#include "sim/protocol.h"

namespace qmx::sim {

namespace {

constexpr std::uint8_t kOrgPin = 0x02;  // GP1 drives ORG
constexpr int kOpcodeBits = 2;
constexpr std::uint32_t kOpRead = 0b10, kOpWrite = 0b01, kOpErase = 0b11;
// With opcode 00 the two top address bits select the command.
constexpr std::uint32_t kSubEwds = 0b00, kSubWral = 0b01, kSubEral = 0b10, kSubEwen = 0b11;

}  // namespace

MicrowirePart::MicrowirePart(const PartRow& row)
    : EepromPart(row.name, row.size, kFamilyMicrowire), wordBits_(row.addressBits) {}

void MicrowirePart::Reset() {
  writeEnabled_ = false;  // the latch powers up disabled
  phase_ = Phase::Deselected;
  unit_.reset();
}

void MicrowirePart::GpioChanged(std::uint8_t levels) { wordOrganised_ = (levels & kOrgPin) != 0; }

void MicrowirePart::Line(std::uint8_t sub) {
  if (sub == kCtrlChipSelectHigh) {
    phase_ = Phase::StartBit;
    op_ = Op::None;
    unit_.reset();
    shift_ = 0;
    bitsSeen_ = 0;
  } else if (sub == kCtrlChipSelectLow) {
    if (phase_ != Phase::Deselected) Commit();
    phase_ = Phase::Deselected;
  }
}

void MicrowirePart::ShiftOut(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t byte : bytes) {
    for (int i = 7; i >= 0; --i) Bit(((byte >> i) & 1) != 0);
  }
}

void MicrowirePart::Bit(bool bit) {
  switch (phase_) {
    case Phase::StartBit:
      if (bit) phase_ = Phase::Opcode;  // leading zeros are not clocked in
      return;
    case Phase::Opcode:
    case Phase::Address:
    case Phase::Data:
      shift_ = (shift_ << 1) | (bit ? 1U : 0U);
      ++bitsSeen_;
      break;
    default:
      return;  // the part ignores its input while it reads out or after a command
  }
  if (phase_ == Phase::Opcode && bitsSeen_ == kOpcodeBits) {
    opcode_ = shift_;
    phase_ = Phase::Address;
  } else if (phase_ == Phase::Address && bitsSeen_ == AddressBits()) {
    address_ = shift_;
    AddressComplete();
  } else if (phase_ == Phase::Data && bitsSeen_ == UnitBits()) {
    unit_ = shift_;
    phase_ = Phase::Ignoring;  // the part clocks in one unit; later bits fall on the floor
  } else {
    return;
  }
  shift_ = 0;
  bitsSeen_ = 0;
}

void MicrowirePart::AddressComplete() {
  const std::uint32_t sub = address_ >> (AddressBits() - 2);
  phase_ = Phase::Ignoring;
  if (opcode_ == kOpRead) {
    op_ = Op::Read;
    phase_ = Phase::Reading;
    readPosition_ = (address_ * UnitBytes()) % Size();
  } else if (opcode_ == kOpWrite) {
    op_ = Op::Write;
    phase_ = Phase::Data;
  } else if (opcode_ == kOpErase) {
    op_ = Op::Erase;
  } else if (sub == kSubEwen) {
    writeEnabled_ = true;
  } else if (sub == kSubEwds) {
    writeEnabled_ = false;
  } else if (sub == kSubEral) {
    op_ = Op::EraseAll;
  } else if (sub == kSubWral) {
    op_ = Op::WriteAll;
    phase_ = Phase::Data;
  }
}

std::uint8_t MicrowirePart::ShiftInByte(bool) {
  if (phase_ != Phase::Reading) return 0xFF;  // DO floats high
  const std::uint8_t byte = At(readPosition_);
  readPosition_ = (readPosition_ + 1) % Size();
  return byte;
}

void MicrowirePart::StoreUnit(std::size_t unitAddress, std::uint32_t value) {
  const std::size_t first = unitAddress * UnitBytes();
  if (wordOrganised_) {
    At(first) = static_cast<std::uint8_t>(value >> 8);  // the high byte is shifted first
    At(first + 1) = static_cast<std::uint8_t>(value);
  } else {
    At(first) = static_cast<std::uint8_t>(value);
  }
}

// The programmed cycle starts when chip select falls; a WRITE or WRAL whose
// unit was cut short stores nothing.
void MicrowirePart::Commit() {
  if (!writeEnabled_) return;
  const std::size_t unitCount = Size() / UnitBytes();
  const std::uint32_t blank = wordOrganised_ ? 0xFFFFU : 0xFFU;
  switch (op_) {
    case Op::Write:
      if (!unit_) return;
      StoreUnit(address_, *unit_);
      break;
    case Op::Erase: StoreUnit(address_, blank); break;
    case Op::WriteAll:
      if (!unit_) return;
      for (std::size_t u = 0; u < unitCount; ++u) StoreUnit(u, *unit_);
      break;
    case Op::EraseAll:
      for (std::size_t u = 0; u < unitCount; ++u) StoreUnit(u, blank);
      break;
    default: return;
  }
  StartWriteCycle();
}

}  // namespace qmx::sim
