#include "core/memory/bus_sequences.h"

#include <cstring>

#include "core/catalogue/catalogue.h"
#include "core/link/connection.h"
#include "image/memory_image.h"

namespace qmx {

namespace {

void Control(Connection& link, std::uint8_t sub) { link.SendCommand2(DEV_CTRL, sub); }

void WriteData(Connection& link, std::uint8_t byte) { link.SendCommand2(WRITE_DATA, byte); }

void WriteData2(Connection& link, std::uint8_t first, std::uint8_t second) {
  const std::uint8_t payload[3] = {WRITE_DATA, first, second};
  link.SendFrame(payload, 3);
}

// The data answer must carry exactly what was asked for: fewer bytes would
// leave stale slot contents standing in for the part's data.
bool AwaitData(Connection& link, int count, Answer& out) {
  if (!link.WaitResponse(RESP_DATA)) return false;
  out = link.Response();
  return out.length == count;
}

// Plain count byte (Microwire, SPI); 256 goes out as 0.
std::uint8_t PlainCount(int count) { return static_cast<std::uint8_t>(count & 0xFF); }
// The negated form that ends an I2C read transfer.
std::uint8_t NegatedCount(int count) { return static_cast<std::uint8_t>((256 - count) & 0xFF); }

void SendAddressBytes(Connection& link, std::int32_t addressWidth, std::int32_t address) {
  if (addressWidth == 16) WriteData(link, static_cast<std::uint8_t>((address >> 8) & 0xFF));
  WriteData(link, static_cast<std::uint8_t>(address & 0xFF));
}

}  // namespace

int MaxSpiData(const SpiPart& part) { return part.addressWidth == 16 ? 60 : 61; }

void MicrowireSendRead(Connection& link, int addressBits, int unitAddress, int count) {
  const std::uint16_t word = MicrowireReadWord(addressBits, unitAddress);
  Control(link, DEVCTRL_CS_HIGH);
  WriteData2(link, static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word & 0xFF));
  link.SendCommand2(READ_DATA, PlainCount(count));
  Control(link, DEVCTRL_CS_LOW);
}

void Series90SendRead(Connection& link, const BitReversal& reverse, int addressBits, int wordAddress, int count) {
  const Series90Command cmd = Series90Address(addressBits, wordAddress, /*write=*/false);
  Control(link, DEVCTRL_CS_LOW);
  WriteData2(link, cmd.header, reverse(cmd.address));
  link.SendCommand2(READ_DATA, PlainCount(count));
  Control(link, DEVCTRL_CS_HIGH);
}

// The bus is released (STOP, chip select) right behind the read command,
// before its answer: the same frames in the same order, whatever comes back.
void I2cSendRead(Connection& link, const I2cPart& part, std::int32_t address, int count) {
  const std::uint8_t device = I2cDeviceAddress(part, address);
  Control(link, DEVCTRL_I2C_START);
  WriteData(link, device);
  SendAddressBytes(link, part.addressWidth, address);
  Control(link, DEVCTRL_I2C_RESTART);
  WriteData(link, device | 0x01);
  link.SendCommand2(READ_DATA, NegatedCount(count));
  Control(link, DEVCTRL_I2C_STOP);
}

void SpiSendRead(Connection& link, const SpiPart& part, std::int32_t address, int count) {
  Control(link, DEVCTRL_CS_LOW);
  WriteData(link, SpiInstruction(part, address, /*write=*/false));
  SendAddressBytes(link, part.addressWidth, address);
  link.SendCommand2(READ_DATA, PlainCount(count));
  Control(link, DEVCTRL_CS_HIGH);
}

bool AwaitReadData(Connection& link, int count, Answer& out, const BitReversal* reverse) {
  if (!AwaitData(link, count, out)) return false;
  if (reverse != nullptr) reverse->ReverseInPlace(out.data.data(), static_cast<std::size_t>(out.length));
  return true;
}

bool MicrowireReadBlock(Connection& link, int addressBits, int unitAddress, int count, Answer& out) {
  link.Expect(RESP_DATA);
  MicrowireSendRead(link, addressBits, unitAddress, count);
  return AwaitReadData(link, count, out, nullptr);
}

bool Series90ReadBlock(Connection& link, const BitReversal& reverse, int addressBits, int wordAddress, int count,
                       Answer& out) {
  link.Expect(RESP_DATA);
  Series90SendRead(link, reverse, addressBits, wordAddress, count);
  return AwaitReadData(link, count, out, &reverse);
}

bool I2cReadBlock(Connection& link, const I2cPart& part, std::int32_t address, int count, Answer& out) {
  link.Expect(RESP_DATA);
  I2cSendRead(link, part, address, count);
  return AwaitReadData(link, count, out, nullptr);
}

bool SpiReadBlock(Connection& link, const SpiPart& part, std::int32_t address, int count, Answer& out) {
  link.Expect(RESP_DATA);
  SpiSendRead(link, part, address, count);
  return AwaitReadData(link, count, out, nullptr);
}

void MicrowireWriteEnable(Connection& link, int addressBits) {
  const std::uint16_t word = MicrowireEwenWord(addressBits);
  Control(link, DEVCTRL_CS_HIGH);
  WriteData2(link, static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word & 0xFF));
  Control(link, DEVCTRL_CS_LOW);
}

void Series90WriteEnable(Connection& link) {
  Control(link, DEVCTRL_CS_LOW);
  WriteData2(link, kSeries90EnableHeader, kSeries90EnableAddress);
  Control(link, DEVCTRL_CS_HIGH);
}

void MicrowireWriteUnits(Connection& link, int addressBits, int unitAddress, const std::uint8_t* data, int count) {
  if (count < 0 || count > kMaxMicrowireData) return;  // callers split to the frame limit
  const std::uint16_t word = MicrowireWriteWord(addressBits, unitAddress);
  std::uint8_t payload[3 + kMaxMicrowireData] = {WRITE_DONE, static_cast<std::uint8_t>(word >> 8),
                                                 static_cast<std::uint8_t>(word & 0xFF)};
  std::memcpy(payload + 3, data, static_cast<std::size_t>(count));
  Control(link, DEVCTRL_CS_HIGH);
  link.SendFrame(payload, 3 + count);
  Control(link, DEVCTRL_CS_LOW);
}

void Series90WriteWord(Connection& link, const BitReversal& reverse, int addressBits, int wordAddress,
                       const std::uint8_t* data) {
  const Series90Command cmd = Series90Address(addressBits, wordAddress, /*write=*/true);
  const std::uint8_t payload[5] = {WRITE_DONE, cmd.header, reverse(cmd.address), reverse(data[0]), reverse(data[1])};
  Control(link, DEVCTRL_CS_LOW);
  link.SendFrame(payload, 5);
  Control(link, DEVCTRL_CS_HIGH);
}

void I2cWritePage(Connection& link, const I2cPart& part, std::int32_t address, const std::uint8_t* data, int count) {
  if (count < 0 || count > kMaxI2cData) return;
  std::uint8_t payload[1 + kMaxI2cData] = {WRITE_DONE};
  std::memcpy(payload + 1, data, static_cast<std::size_t>(count));
  Control(link, DEVCTRL_I2C_START);
  WriteData(link, I2cDeviceAddress(part, address));
  SendAddressBytes(link, part.addressWidth, address);
  link.SendFrame(payload, 1 + count);
  Control(link, DEVCTRL_I2C_STOP);
}

void SpiWritePage(Connection& link, const SpiPart& part, std::int32_t address, const std::uint8_t* data, int count) {
  if (count < 0 || count > MaxSpiData(part)) return;
  std::uint8_t payload[kMaxSendPayload] = {WRITE_DONE, SpiInstruction(part, address, /*write=*/true)};
  int n = 2;
  if (part.addressWidth == 16) payload[n++] = static_cast<std::uint8_t>((address >> 8) & 0xFF);
  payload[n++] = static_cast<std::uint8_t>(address & 0xFF);
  std::memcpy(payload + n, data, static_cast<std::size_t>(count));
  Control(link, DEVCTRL_CS_LOW);
  WriteData(link, kSpiWriteEnable);
  Control(link, DEVCTRL_CS_HIGH);
  Control(link, DEVCTRL_CS_LOW);
  link.SendFrame(payload, n + count);
  Control(link, DEVCTRL_CS_HIGH);
}

}  // namespace qmx
