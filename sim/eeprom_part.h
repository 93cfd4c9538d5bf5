// A serial EEPROM in the programmer's socket: memory, supply and bus gating
// shared by the four family models.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim/bus_device.h"

namespace qmx::sim {

// Memory is a byte array in address order (Microwire word w = bytes 2w, 2w+1,
// high byte first), 0xFF when new. The part answers only while its supply is
// on and the programmer drives the bus it is wired to; otherwise reads float
// high and writes are lost. Switching the supply resets the latches.
class EepromPart : public BusDevice {
 public:
  EepromPart(std::string name, std::size_t size, std::uint8_t family);

  const std::string& Name() const { return name_; }
  std::size_t Size() const { return memory_.size(); }
  const std::vector<std::uint8_t>& Contents() const { return memory_; }
  bool SetContents(std::span<const std::uint8_t> bytes);  // false on a wrong size

  // CHK_DEVICE byte 1: address bits a Standard Microwire part needs in its
  // current organisation, 1 ("undetermined") for every other part.
  virtual std::uint8_t DetectedAddressBits() const { return 1; }
  // A board that powers the part itself: DEV_CTRL 7/8 no longer matter.
  void SetExternalSupply(bool external) { externalSupply_ = external; }
  // During its write cycle the part ignores the bus (an I2C part does not
  // acknowledge). Times are on the firmware's clock, which hands the part the
  // start of each command.
  void SetBusyUntil(std::chrono::steady_clock::time_point end) { busyUntil_ = end; }
  void SetTime(std::chrono::steady_clock::time_point now) { now_ = now; }

  void OnControl(std::uint8_t devCtrlSubCode) final;
  void OnModeChanged(std::uint8_t family, std::uint8_t variant) final;
  void OnGpio(std::uint8_t levels) final;
  void OnShiftOut(std::span<const std::uint8_t> bytes, bool done) final;
  std::vector<std::uint8_t> OnShiftIn(int count, bool i2cLastRead) final;
  std::uint8_t TakeError() final;
  bool TakeWriteCycle() final;

 protected:
  // Called only while the part is powered and its bus is selected.
  virtual void Line(std::uint8_t devCtrlSubCode) = 0;
  virtual void ShiftOut(std::span<const std::uint8_t> bytes) = 0;
  virtual std::uint8_t ShiftInByte(bool lastOfTransfer) = 0;
  // Bytes clocked on the part's bus while it cannot answer.
  virtual void ShiftOutUnanswered() {}
  // Power-up state: latches cleared, transfer abandoned.
  virtual void Reset() = 0;
  virtual void GpioChanged(std::uint8_t levels) { (void)levels; }

  std::uint8_t& At(std::size_t address) { return memory_[address % memory_.size()]; }
  void RaiseError(std::uint8_t code) { error_ = code; }
  void StartWriteCycle() { writeCycle_ = true; }
  bool OnItsBus() const { return family_ == ownFamily_; }

 private:
  bool Powered() const { return externalSupply_ || supplyOn_; }
  bool Active() const;

  std::string name_;
  std::vector<std::uint8_t> memory_;
  std::uint8_t ownFamily_;
  std::uint8_t family_ = 0;
  bool supplyOn_ = false;
  bool externalSupply_ = false;
  std::uint8_t error_ = 0;
  bool writeCycle_ = false;
  std::chrono::steady_clock::time_point busyUntil_{};
  std::chrono::steady_clock::time_point now_{};
};

// The catalogued part called `name` ("93C46", "24C16", ...), blank; nullptr
// for a name the simulator does not know.
std::shared_ptr<EepromPart> MakePart(const std::string& name);

}  // namespace qmx::sim
