// Seam between the firmware model and the bus-level part models.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qmx::sim {

// The dispatcher forwards bus primitives to the attached device; with none
// attached the bus floats high. Calls arrive on the simulator's serving thread,
// one at a time, with the simulator's lock held: a device must not call back
// into the PtySimulator that owns it.
class BusDevice {
 public:
  virtual ~BusDevice() = default;
  // DEV_CTRL sub-codes 1 to 8: init, chip select, I2C start/stop/restart, supply.
  virtual void OnControl(std::uint8_t devCtrlSubCode) { (void)devCtrlSubCode; }
  virtual void OnModeChanged(std::uint8_t family, std::uint8_t variant) {
    (void)family;
    (void)variant;
  }
  virtual void OnGpio(std::uint8_t levels) { (void)levels; }
  // WRITE_DATA (done=false) / WRITE_DONE (done=true).
  virtual void OnShiftOut(std::span<const std::uint8_t> bytes, bool done) {
    (void)bytes;
    (void)done;
  }
  // READ_DATA. A result of the wrong length is cut or padded with 0xFF.
  virtual std::vector<std::uint8_t> OnShiftIn(int count, bool i2cLastRead) {
    (void)i2cLastRead;
    return std::vector<std::uint8_t>(static_cast<std::size_t>(count), 0xFF);
  }
  // An error code to latch as the programmer's last error (0 = none), asked
  // after each primitive.
  virtual std::uint8_t TakeError() { return 0; }
  // True once after a primitive started the part's internal write cycle, so
  // that the programmer can wait for it (asked after each primitive).
  virtual bool TakeWriteCycle() { return false; }
};

}  // namespace qmx::sim
