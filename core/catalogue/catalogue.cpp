#include "core/catalogue/catalogue.h"

#include <cstddef>

namespace qmx {

namespace {

constexpr MicrowirePart kMicrowireParts[] = {
    {.name = "93C06", .size = 32, .addressBits = 6, .variant = kStandard},
    {.name = "93C46", .size = 128, .addressBits = 6, .variant = kStandard},
    {.name = "93C56", .size = 256, .addressBits = 8, .variant = kStandard},
    {.name = "93C57", .size = 256, .addressBits = 7, .variant = kStandard},
    {.name = "93C66", .size = 512, .addressBits = 8, .variant = kStandard},
    {.name = "93C76", .size = 1024, .addressBits = 10, .variant = kStandard},
    {.name = "93C86", .size = 2048, .addressBits = 10, .variant = kStandard},
    {.name = "9010", .size = 128, .addressBits = 6, .variant = kSeries90},
    {.name = "9020", .size = 256, .addressBits = 7, .variant = kSeries90},
    {.name = "9040", .size = 512, .addressBits = 8, .variant = kSeries90},
    {.name = "9080", .size = 1024, .addressBits = 9, .variant = kSeries90},
    {.name = "9016", .size = 2048, .addressBits = 10, .variant = kSeries90},
};

constexpr I2cPart kI2cParts[] = {
    {.name = "24C00", .size = 16, .defaultPage = 1, .addressWidth = 8, .blockBits = {-1, -1, -1}},
    {.name = "24C01", .size = 128, .defaultPage = 1, .addressWidth = 8, .blockBits = {-1, -1, -1}},
    {.name = "24C02", .size = 256, .defaultPage = 1, .addressWidth = 8, .blockBits = {-1, -1, -1}},
    {.name = "24C04", .size = 512, .defaultPage = 1, .addressWidth = 8, .blockBits = {8, -1, -1}},
    {.name = "24C08", .size = 1024, .defaultPage = 1, .addressWidth = 8, .blockBits = {8, 9, -1}},
    {.name = "24C16", .size = 2048, .defaultPage = 1, .addressWidth = 8, .blockBits = {8, 9, 10}},
    {.name = "24C32", .size = 4096, .defaultPage = 1, .addressWidth = 16, .blockBits = {-1, -1, -1}},
    {.name = "24C64", .size = 8192, .defaultPage = 1, .addressWidth = 16, .blockBits = {-1, -1, -1}},
};

constexpr SpiPart kSpiParts[] = {
    {.name = "25C010", .size = 128, .defaultPage = 1, .addressWidth = 8, .addressBit8InstructionBit = -1},
    {.name = "25C020", .size = 256, .defaultPage = 1, .addressWidth = 8, .addressBit8InstructionBit = -1},
    {.name = "25C040", .size = 512, .defaultPage = 1, .addressWidth = 8, .addressBit8InstructionBit = 3},
    {.name = "25C080", .size = 1024, .defaultPage = 1, .addressWidth = 16, .addressBit8InstructionBit = -1},
    {.name = "25C160", .size = 2048, .defaultPage = 1, .addressWidth = 16, .addressBit8InstructionBit = -1},
    {.name = "25C320", .size = 4096, .defaultPage = 1, .addressWidth = 16, .addressBit8InstructionBit = -1},
    {.name = "25C640", .size = 8192, .defaultPage = 1, .addressWidth = 16, .addressBit8InstructionBit = -1},
};

// Library device-number ranges for Microwire.
constexpr int kByteOrganisationBase = 100;
constexpr int kSeries90Base = 200;
constexpr int kSeries90FirstRow = 7;

template <typename Row>
bool InRange(std::span<const Row> rows, int row) {
  return row >= 0 && static_cast<std::size_t>(row) < rows.size();
}

struct ModelString {
  std::string_view text;
  ProgrammerModel model;
};

ProgrammerModel FirstModelFound(std::string_view name, std::span<const ModelString> order) {
  for (const ModelString& m : order) {
    if (name.find(m.text) != std::string_view::npos) return m.model;
  }
  return kModelUnknown;
}

}  // namespace

std::span<const MicrowirePart> MicrowireParts() { return kMicrowireParts; }
std::span<const I2cPart> I2cParts() { return kI2cParts; }
std::span<const SpiPart> SpiParts() { return kSpiParts; }

int RowCount(int family) {
  switch (family) {
    case kFamilyMicrowire: return static_cast<int>(MicrowireParts().size());
    case kFamilyI2c: return static_cast<int>(I2cParts().size());
    case kFamilySpi: return static_cast<int>(SpiParts().size());
    default: return 0;
  }
}

const char* PartName(int family, int row) {
  if (row < 0 || row >= RowCount(family)) return nullptr;
  switch (family) {
    case kFamilyMicrowire: return kMicrowireParts[row].name;
    case kFamilyI2c: return kI2cParts[row].name;
    default: return kSpiParts[row].name;
  }
}

std::int32_t PartSize(int family, int row) {
  if (row < 0 || row >= RowCount(family)) return 0;
  switch (family) {
    case kFamilyMicrowire: return kMicrowireParts[row].size;
    case kFamilyI2c: return kI2cParts[row].size;
    default: return kSpiParts[row].size;
  }
}

std::int32_t DefaultPageSize(int family, int row) {
  if (row < 0 || row >= RowCount(family)) return 0;
  switch (family) {
    case kFamilyMicrowire: return 1;
    case kFamilyI2c: return kI2cParts[row].defaultPage;
    default: return kSpiParts[row].defaultPage;
  }
}

int DefaultRow(int family) {
  switch (family) {
    case kFamilyMicrowire: return 1;  // 93C46
    case kFamilyI2c: return 2;        // 24C02
    case kFamilySpi: return 1;        // 25C020
    default: return -1;
  }
}

const char* FamilyCaption(int family) {
  switch (family) {
    case kFamilyMicrowire: return "マイクロワイヤデバイス";
    case kFamilyI2c: return "I2Cデバイス";
    case kFamilySpi: return "SPIデバイス";
    default: return nullptr;
  }
}

int MicrowireAddressBits(int row, bool byteOrganisation) {
  if (!InRange(MicrowireParts(), row)) return 0;
  return kMicrowireParts[row].addressBits + (byteOrganisation ? 1 : 0);
}

std::optional<LibraryDevice> ResolveDeviceNumber(int family, int deviceNumber) {
  LibraryDevice device{.family = family, .row = deviceNumber, .size = 0,
                       .series90Protocol = false, .byteOrganisation = false, .addressBits = 0};
  if (family == kFamilyMicrowire) {
    if (deviceNumber >= kSeries90Base) {
      device.row = deviceNumber - kSeries90Base + kSeries90FirstRow;
      device.series90Protocol = true;
    } else if (deviceNumber >= kByteOrganisationBase) {
      device.row = deviceNumber - kByteOrganisationBase;
      device.byteOrganisation = true;
    }
    // 205 and up run past the last Series90 row and are refused here.
    if (!InRange(MicrowireParts(), device.row)) return std::nullopt;
    device.addressBits = MicrowireAddressBits(device.row, device.byteOrganisation);
  } else if (deviceNumber < 0 || deviceNumber >= RowCount(family)) {
    return std::nullopt;
  }
  device.size = PartSize(family, device.row);
  return device;
}

ProgrammerModel ModelFromNameForProgram(std::string_view name) {
  static constexpr ModelString kOrder[] = {
      {"QMX-71B", kModel71B}, {"QMX-71C", kModel71C}, {"QMX-71A", kModel71A}, {"QMX-ISP", kModel71C}};
  return FirstModelFound(name, kOrder);
}

ProgrammerModel ModelFromNameForLibrary(std::string_view name) {
  static constexpr ModelString kOrder[] = {
      {"QMX-71A", kModel71A}, {"QMX-71B", kModel71B}, {"QMX-71C", kModel71C}, {"QMX-ISP", kModel71C}};
  return FirstModelFound(name, kOrder);
}

std::vector<int> ProgramFamilies(int model) {
  switch (model) {
    case kModel71A: return {kFamilyMicrowire, kFamilyI2c};
    case kModel71B: return {kFamilySpi, kFamilyI2c};
    case kModel71C: return {kFamilyMicrowire, kFamilyI2c, kFamilySpi};
    default: return {};
  }
}

int FamilyAtListPosition(int model, int position) {
  const std::vector<int> families = ProgramFamilies(model);
  if (position < 0 || static_cast<std::size_t>(position) >= families.size()) return kFamilyNone;
  return families[static_cast<std::size_t>(position)];
}

bool LibraryAcceptsFamily(int model, int family) {
  if (model == kModel71A && family == kFamilySpi) return false;
  if (model == kModel71B && family == kFamilyMicrowire) return false;
  if (model == kModelUnknown) return false;
  return true;
}

std::uint16_t MicrowireReadWord(int n, int unitAddress) {
  return static_cast<std::uint16_t>((0b110 << n) + unitAddress);
}

std::uint16_t MicrowireWriteWord(int n, int unitAddress) {
  return static_cast<std::uint16_t>((0b101 << n) + unitAddress);
}

std::uint16_t MicrowireEwenWord(int n) {
  return static_cast<std::uint16_t>((0b100 << n) | (0b11 << (n - 2)));
}

Series90Command Series90Address(int n, int wordAddress, bool write) {
  const int base = write ? 0xA4 : 0xA8;
  int header = base;
  int address = wordAddress;
  if (n == 9) {
    header |= wordAddress & 1;
    address = wordAddress >> 1;
  } else if (n >= 10) {
    // The two low address bits ride in the header, bit 0 of w in 0x02, so the
    // stream still carries the address least significant bit first.
    if (wordAddress & 1) header |= 0x02;
    if (wordAddress & 2) header |= 0x01;
    address = wordAddress >> 2;
  }
  return {static_cast<std::uint8_t>(header), static_cast<std::uint8_t>(address)};
}

std::uint8_t I2cDeviceAddress(const I2cPart& part, std::int32_t address) {
  int byte = 0xA0;
  for (int i = 0; i < 3; ++i) {
    const std::int32_t bit = part.blockBits[i];
    if (bit >= 0 && ((address >> bit) & 1) != 0) byte |= 0x02 << i;
  }
  return static_cast<std::uint8_t>(byte);
}

std::uint8_t SpiInstruction(const SpiPart& part, std::int32_t address, bool write) {
  int instruction = write ? 0x02 : 0x03;
  if (part.addressBit8InstructionBit == 3 && (address & 0x100) != 0) instruction |= 0x08;
  return static_cast<std::uint8_t>(instruction);
}

}  // namespace qmx
