#include "sim/eeprom_part.h"

#include <algorithm>
#include <utility>

#include "sim/protocol.h"

namespace qmx::sim {

EepromPart::EepromPart(std::string name, std::size_t size, std::uint8_t family)
    : name_(std::move(name)), memory_(size, 0xFF), ownFamily_(family) {}

bool EepromPart::SetContents(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != memory_.size()) return false;
  std::copy(bytes.begin(), bytes.end(), memory_.begin());
  return true;
}

bool EepromPart::Active() const {
  return Powered() && OnItsBus() && now_ >= busyUntil_;
}

void EepromPart::OnControl(std::uint8_t sub) {
  if (sub == kCtrlSupplyOn || sub == kCtrlSupplyOff) {
    const bool wasPowered = Powered();
    supplyOn_ = sub == kCtrlSupplyOn;
    if (Powered() != wasPowered) Reset();
    return;
  }
  if (Active()) Line(sub);
}

void EepromPart::OnModeChanged(std::uint8_t family, std::uint8_t) {
  if (family != family_) Reset();  // the pins now carry another bus
  family_ = family;
}

void EepromPart::OnGpio(std::uint8_t levels) { GpioChanged(levels); }

void EepromPart::OnShiftOut(std::span<const std::uint8_t> bytes, bool) {
  if (Active()) {
    ShiftOut(bytes);
  } else if (OnItsBus()) {
    ShiftOutUnanswered();
  }
}

std::vector<std::uint8_t> EepromPart::OnShiftIn(int count, bool i2cLastRead) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(std::max(count, 0)), 0xFF);
  if (!Active()) return out;
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = ShiftInByte(i2cLastRead && i + 1 == out.size());
  return out;
}

std::uint8_t EepromPart::TakeError() { return std::exchange(error_, 0); }

bool EepromPart::TakeWriteCycle() { return std::exchange(writeCycle_, false); }

}  // namespace qmx::sim
