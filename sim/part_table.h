// The simulator's own catalogue of the parts it can put in the socket,
// with the datasheet figures the bus models need (real page sizes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qmx::sim {

enum class PartBus : std::uint8_t { Microwire, Series90, I2c, Spi };

struct PartRow {
  const char* name;
  PartBus bus;
  std::size_t size;          // bytes
  int addressBits = 0;       // Microwire and Series90: address bits in 16-bit word organisation
  int pageSize = 1;          // I2C and SPI: bytes one write may fill
  int addressBytes = 0;      // I2C and SPI: address bytes after the device byte / instruction
  int blockBits = 0;         // I2C: memory address bits 8, 9, 10 ride in device-byte bits 1, 2, 3
  bool a8InInstruction = false;  // SPI: memory address bit 8 rides in instruction bit 3
};

std::span<const PartRow> PartRows();
const PartRow* FindPartRow(std::string_view name);  // nullptr when unknown

}  // namespace qmx::sim
