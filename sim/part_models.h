// Bus-level models of the four part families; made through MakePart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "sim/eeprom_part.h"
#include "sim/part_table.h"

namespace qmx::sim {

// 93Cx6 parts: chip select high frames a transfer, bits go MSB first, the ORG
// pin (GP1) chooses 16-bit words (high) or bytes (low). A WRITE stores exactly
// one unit; data clocked after it is ignored.
class MicrowirePart : public EepromPart {
 public:
  explicit MicrowirePart(const PartRow& row);
  std::uint8_t DetectedAddressBits() const override { return static_cast<std::uint8_t>(AddressBits()); }

 protected:
  void Line(std::uint8_t sub) override;
  void ShiftOut(std::span<const std::uint8_t> bytes) override;
  std::uint8_t ShiftInByte(bool lastOfTransfer) override;
  void Reset() override;
  void GpioChanged(std::uint8_t levels) override;

 private:
  enum class Phase { Deselected, StartBit, Opcode, Address, Data, Reading, Ignoring };
  enum class Op { None, Read, Write, Erase, WriteAll, EraseAll };

  int AddressBits() const { return wordBits_ + (wordOrganised_ ? 0 : 1); }
  int UnitBits() const { return wordOrganised_ ? 16 : 8; }
  std::size_t UnitBytes() const { return wordOrganised_ ? 2 : 1; }
  void Bit(bool bit);
  void AddressComplete();
  void Commit();
  void StoreUnit(std::size_t unitAddress, std::uint32_t value);

  int wordBits_;
  bool wordOrganised_ = false;
  bool writeEnabled_ = false;
  Phase phase_ = Phase::Deselected;
  Op op_ = Op::None;
  std::uint32_t shift_ = 0;  // bits of the field being received
  int bitsSeen_ = 0;
  std::uint32_t opcode_ = 0;
  std::uint32_t address_ = 0;
  std::optional<std::uint32_t> unit_;  // the data unit of a WRITE or WRAL
  std::size_t readPosition_ = 0;
};

// 9010..9016 parts: chip select low frames a transfer; a 16-bit command
// (preamble 1010, opcode, padding, word address LSB first), data bits LSB first.
class Series90Part : public EepromPart {
 public:
  explicit Series90Part(const PartRow& row);

 protected:
  void Line(std::uint8_t sub) override;
  void ShiftOut(std::span<const std::uint8_t> bytes) override;
  std::uint8_t ShiftInByte(bool lastOfTransfer) override;
  void Reset() override;

 private:
  enum class Phase { Deselected, Command, Data, Reading, Ignoring };

  void Decode();

  int addressBits_;
  bool writeEnabled_ = false;
  Phase phase_ = Phase::Deselected;
  std::uint16_t command_ = 0;
  int commandBytes_ = 0;
  std::size_t word_ = 0;
  std::vector<std::uint8_t> data_;
  std::size_t readPosition_ = 0;
};

// 24Cxx parts: START, device byte, address bytes, then a page write committed
// at STOP or a repeated START into a sequential read.
class I2cPart : public EepromPart {
 public:
  explicit I2cPart(const PartRow& row);

 protected:
  void Line(std::uint8_t sub) override;
  void ShiftOut(std::span<const std::uint8_t> bytes) override;
  std::uint8_t ShiftInByte(bool lastOfTransfer) override;
  void ShiftOutUnanswered() override;
  void Reset() override;

 private:
  enum class Phase { Idle, DeviceByte, Address, Data, Reading };

  bool Addresses(std::uint8_t deviceByte) const;
  void Byte(std::uint8_t byte);
  void DeviceByte(std::uint8_t byte);
  void Stop();

  std::size_t pageSize_;
  int addressBytes_;
  int blockBits_;
  Phase phase_ = Phase::Idle;
  std::size_t block_ = 0;    // address bits 8.. from the device byte
  std::size_t address_ = 0;  // address bytes collected so far
  int addressBytesSeen_ = 0;
  std::size_t pointer_ = 0;  // the part's address counter
  std::vector<std::pair<std::size_t, std::uint8_t>> pending_;  // page write in progress
};

// 25Cxxx parts: chip select low frames an instruction; page writes commit when
// chip select rises and need the write-enable latch, which they clear.
class SpiPart : public EepromPart {
 public:
  explicit SpiPart(const PartRow& row);

 protected:
  void Line(std::uint8_t sub) override;
  void ShiftOut(std::span<const std::uint8_t> bytes) override;
  std::uint8_t ShiftInByte(bool lastOfTransfer) override;
  void Reset() override;

 private:
  enum class Phase { Deselected, Instruction, Address, Data, Reading, Status, Ignoring };

  void Byte(std::uint8_t byte);
  void Instruction(std::uint8_t byte);
  void Deselect();

  std::size_t pageSize_;
  int addressBytes_;
  bool a8InInstruction_;
  bool writeEnabled_ = false;
  bool writing_ = false;  // the instruction was WRITE
  Phase phase_ = Phase::Deselected;
  std::size_t address_ = 0;
  int addressBytesSeen_ = 0;
  std::size_t pointer_ = 0;
  std::vector<std::pair<std::size_t, std::uint8_t>> pending_;
};

}  // namespace qmx::sim
