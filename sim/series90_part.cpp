#include "sim/part_models.h"

#include <algorithm>

#include "sim/protocol.h"

namespace qmx::sim {

namespace {

constexpr int kCommandBits = 16;
constexpr int kAddressByteBits = 8;
constexpr std::uint16_t kPreambleMask = 0xF000, kPreamble = 0xA000;
constexpr int kOpcodeShift = 10;
constexpr std::uint16_t kOpRead = 0b10, kOpWrite = 0b01, kOpControl = 0b00;
// Opcode 00: the next two bits choose write enable (11) or disable (00).
constexpr int kControlShift = 8;
constexpr std::uint16_t kControlEnable = 0b11, kControlDisable = 0b00;
constexpr std::size_t kWordBytes = 2;

// Data bits travel least significant first, the programmer shifts most
// significant first: what it sees is the byte mirrored.
std::uint8_t Mirror(std::uint8_t b) {
  std::uint8_t out = 0;
  for (int i = 0; i < 8; ++i) out = static_cast<std::uint8_t>(out | (((b >> i) & 1) << (7 - i)));
  return out;
}

}  // namespace

Series90Part::Series90Part(const PartRow& row)
    : EepromPart(row.name, row.size, kFamilyMicrowire), addressBits_(row.addressBits) {}

void Series90Part::Reset() {
  writeEnabled_ = false;
  phase_ = Phase::Deselected;
  data_.clear();
}

void Series90Part::Line(std::uint8_t sub) {
  if (sub == kCtrlChipSelectLow) {
    phase_ = Phase::Command;
    command_ = 0;
    commandBytes_ = 0;
    data_.clear();
  } else if (sub == kCtrlChipSelectHigh) {
    // A write is programmed when the part is deselected, and only a whole word.
    if (phase_ == Phase::Data && writeEnabled_ && data_.size() == kWordBytes) {
      At(word_ * kWordBytes) = data_[0];
      At(word_ * kWordBytes + 1) = data_[1];
      StartWriteCycle();
    }
    phase_ = Phase::Deselected;
  }
}

void Series90Part::ShiftOut(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t byte : bytes) {
    if (phase_ == Phase::Command) {
      command_ = static_cast<std::uint16_t>((command_ << 8) | byte);
      if (++commandBytes_ == kCommandBits / 8) Decode();
    } else if (phase_ == Phase::Data && data_.size() < kWordBytes) {
      data_.push_back(Mirror(byte));  // bits beyond one word are not clocked in
    }
  }
}

void Series90Part::Decode() {
  phase_ = Phase::Ignoring;
  if ((command_ & kPreambleMask) != kPreamble) return;
  const std::uint16_t opcode = (command_ >> kOpcodeShift) & 0b11;
  // The word address comes least significant bit first: in the second byte,
  // starting in the first byte's low bits when it needs more than eight.
  const int first = kCommandBits - std::max(addressBits_, kAddressByteBits);
  word_ = 0;
  for (int i = 0; i < addressBits_; ++i) {
    const int streamBit = first + i;  // 0 = first bit sent
    word_ |= static_cast<std::size_t>((command_ >> (kCommandBits - 1 - streamBit)) & 1) << i;
  }
  if (opcode == kOpRead) {
    phase_ = Phase::Reading;
    readPosition_ = (word_ * kWordBytes) % Size();
  } else if (opcode == kOpWrite) {
    phase_ = Phase::Data;
  } else if (opcode == kOpControl) {
    const std::uint16_t control = (command_ >> kControlShift) & 0b11;
    if (control == kControlEnable) writeEnabled_ = true;
    if (control == kControlDisable) writeEnabled_ = false;
  }
}

std::uint8_t Series90Part::ShiftInByte(bool) {
  if (phase_ != Phase::Reading) return 0xFF;
  const std::uint8_t byte = Mirror(At(readPosition_));
  readPosition_ = (readPosition_ + 1) % Size();
  return byte;
}

}  // namespace qmx::sim
