#include "sim/part_table.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>

#include "sim/eeprom_part.h"
#include "sim/part_models.h"

namespace qmx::sim {

namespace {

constexpr PartRow Microwire(const char* name, std::size_t size, int addressBits) {
  return {.name = name, .bus = PartBus::Microwire, .size = size, .addressBits = addressBits};
}

constexpr PartRow Series90(const char* name, std::size_t size, int addressBits) {
  return {.name = name, .bus = PartBus::Series90, .size = size, .addressBits = addressBits};
}

constexpr PartRow I2c(const char* name, std::size_t size, int page, int addressBytes, int blockBits) {
  return {.name = name, .bus = PartBus::I2c, .size = size, .pageSize = page,
          .addressBytes = addressBytes, .blockBits = blockBits};
}

constexpr PartRow Spi(const char* name, std::size_t size, int page, int addressBytes, bool a8 = false) {
  return {.name = name, .bus = PartBus::Spi, .size = size, .pageSize = page,
          .addressBytes = addressBytes, .a8InInstruction = a8};
}

constexpr std::array<PartRow, 27> kParts = {{
    Microwire("93C06", 32, 6),
    Microwire("93C46", 128, 6),
    Microwire("93C56", 256, 8),
    Microwire("93C57", 256, 7),
    Microwire("93C66", 512, 8),
    Microwire("93C76", 1024, 10),
    Microwire("93C86", 2048, 10),
    Series90("9010", 128, 6),
    Series90("9020", 256, 7),
    Series90("9040", 512, 8),
    Series90("9080", 1024, 9),
    Series90("9016", 2048, 10),
    I2c("24C00", 16, 1, 1, 0),
    I2c("24C01", 128, 8, 1, 0),
    I2c("24C02", 256, 8, 1, 0),
    I2c("24C04", 512, 16, 1, 1),
    I2c("24C08", 1024, 16, 1, 2),
    I2c("24C16", 2048, 16, 1, 3),
    I2c("24C32", 4096, 32, 2, 0),
    I2c("24C64", 8192, 32, 2, 0),
    Spi("25C010", 128, 16, 1),
    Spi("25C020", 256, 16, 1),
    Spi("25C040", 512, 16, 1, true),
    Spi("25C080", 1024, 16, 2),
    Spi("25C160", 2048, 16, 2),
    Spi("25C320", 4096, 32, 2),
    Spi("25C640", 8192, 32, 2),
}};

}  // namespace

std::span<const PartRow> PartRows() { return kParts; }

const PartRow* FindPartRow(std::string_view name) {
  auto it = std::find_if(kParts.begin(), kParts.end(), [name](const PartRow& p) { return p.name == name; });
  return it == kParts.end() ? nullptr : &*it;
}

std::shared_ptr<EepromPart> MakePart(const std::string& name) {
  const PartRow* row = FindPartRow(name);
  if (row == nullptr) return nullptr;
  switch (row->bus) {
    case PartBus::Microwire: return std::make_shared<MicrowirePart>(*row);
    case PartBus::Series90: return std::make_shared<Series90Part>(*row);
    case PartBus::I2c: return std::make_shared<I2cPart>(*row);
    case PartBus::Spi: return std::make_shared<SpiPart>(*row);
  }
  return nullptr;
}

}  // namespace qmx::sim
