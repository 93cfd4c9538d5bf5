// The serial EEPROMs both deliverables can program, the bus families each
// programmer model offers, and the pure encoders that turn a row and a memory
// address into the bytes that select that address on the bus.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace qmx {

// One byte on the wire: the first argument of SET_MODE.
enum DeviceFamily : int { kFamilyNone = -1, kFamilyMicrowire = 0, kFamilyI2c = 1, kFamilySpi = 2 };

// Second argument of SET_MODE for Microwire parts.
enum MicrowireVariant : int { kStandard = 0, kSeries90 = 1 };

enum ProgrammerModel : int { kModel71A = 0, kModel71B = 1, kModel71C = 2, kModelUnknown = 3 };

// addressBits is for word (16-bit) organisation; byte organisation needs one more.
struct MicrowirePart {
  const char* name;
  std::int32_t size;
  std::int32_t addressBits;
  MicrowireVariant variant;
};

// blockBits[i] is the memory-address bit carried in bit i + 1 of the
// device-address byte, or -1 for none. addressWidth is 8 or 16.
struct I2cPart {
  const char* name;
  std::int32_t size;
  std::int32_t defaultPage;
  std::int32_t addressWidth;
  std::int32_t blockBits[3];
};

// addressBit8InstructionBit: the instruction bit that carries address bit 8,
// or -1. Only 3 occurs and only 3 is acted on.
struct SpiPart {
  const char* name;
  std::int32_t size;
  std::int32_t defaultPage;
  std::int32_t addressWidth;
  std::int32_t addressBit8InstructionBit;
};

// Tables in the order of the program's part lists; rows are referred to by index.
std::span<const MicrowirePart> MicrowireParts();
std::span<const I2cPart> I2cParts();
std::span<const SpiPart> SpiParts();

// Row lookups by family value; anything outside the tables gives the neutral
// answer (0, nullptr) rather than indexing past a row.
int RowCount(int family);
const char* PartName(int family, int row);
std::int32_t PartSize(int family, int row);
// Microwire parts have no page column: one unit per write command, so 1.
std::int32_t DefaultPageSize(int family, int row);
// Row chosen when the operator picks a family; -1 for no family.
int DefaultRow(int family);
// Family list texts (UTF-8); nullptr for no family.
const char* FamilyCaption(int family);
// Table value, plus 1 in byte organisation; 0 out of range.
int MicrowireAddressBits(int row, bool byteOrganisation);

// What a library caller's device number stands for under the current family.
struct LibraryDevice {
  int family;
  int row;
  std::int32_t size;
  bool series90Protocol;  // numbers 200-204
  bool byteOrganisation;  // numbers 100-111
  int addressBits;        // Microwire, for the organisation used; 0 otherwise
};
// Numbers outside the defined ranges are refused instead of reaching past a table.
std::optional<LibraryDevice> ResolveDeviceNumber(int family, int deviceNumber);

// The two deliverables search the programmer's name for the model strings in
// different orders; a name holding more than one string therefore differs.
ProgrammerModel ModelFromNameForProgram(std::string_view name);
ProgrammerModel ModelFromNameForLibrary(std::string_view name);
// Families of the program's family list, in list order.
std::vector<int> ProgramFamilies(int model);
// Family at a position of that list, -1 outside it.
int FamilyAtListPosition(int model, int position);
// The library's SelectMode gate: it names only what each model refuses, so a
// family value outside 0..2 passes wherever no refusal applies.
bool LibraryAcceptsFamily(int model, int family);

// Microwire Standard command words, n address bits, unit address a. The
// leading 1 is the start bit; the zeros above it are clocked out first.
std::uint16_t MicrowireReadWord(int n, int unitAddress);
std::uint16_t MicrowireWriteWord(int n, int unitAddress);
std::uint16_t MicrowireEwenWord(int n);

// Series90 command: header sent as is, address byte sent bit-reversed (the
// reversal is the caller's, beside its data). n above 10 follows the n = 10 rule.
struct Series90Command {
  std::uint8_t header;
  std::uint8_t address;
};
Series90Command Series90Address(int n, int wordAddress, bool write);
// Write enable for Series90: neither byte is reversed.
inline constexpr std::uint8_t kSeries90EnableHeader = 0xA3;
inline constexpr std::uint8_t kSeries90EnableAddress = 0x00;

// Device-address byte in its write form; the read form is this | 0x01.
std::uint8_t I2cDeviceAddress(const I2cPart& part, std::int32_t address);

// READ 0x03 / WRITE 0x02, | 0x08 when the part carries address bit 8 in bit 3.
std::uint8_t SpiInstruction(const SpiPart& part, std::int32_t address, bool write);
inline constexpr std::uint8_t kSpiWriteEnable = 0x06;

}  // namespace qmx
