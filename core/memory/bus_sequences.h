// One bus sequence per family: the commands of one block read and one page
// write, and the write enables.
#pragma once

#include <cstdint>

namespace qmx {

class BitReversal;
class Connection;
struct Answer;
struct I2cPart;
struct SpiPart;

// Frame limits of the data carried by one write command.
inline constexpr int kMaxMicrowireData = 61;  // WRITE_DONE, two command-word bytes
inline constexpr int kMaxI2cData = 63;        // address goes in separate commands
int MaxSpiData(const SpiPart& part);          // 61 with one address byte, 60 with two

// Read of `count` bytes; false when the data answer did not arrive in time
// or carried another number of bytes. The answer is left in `out`.
bool MicrowireReadBlock(Connection& link, int addressBits, int unitAddress, int count, Answer& out);
bool Series90ReadBlock(Connection& link, const BitReversal& reverse, int addressBits, int wordAddress, int count,
                       Answer& out);
bool I2cReadBlock(Connection& link, const I2cPart& part, std::int32_t address, int count, Answer& out);
bool SpiReadBlock(Connection& link, const SpiPart& part, std::int32_t address, int count, Answer& out);

// The same as two halves, so that reads can run ahead of their answers: the
// frames of one block read (the caller arms the data answer first), then the
// wait for its answer (`reverse` for Series90 data, else null).
void MicrowireSendRead(Connection& link, int addressBits, int unitAddress, int count);
void Series90SendRead(Connection& link, const BitReversal& reverse, int addressBits, int wordAddress, int count);
void I2cSendRead(Connection& link, const I2cPart& part, std::int32_t address, int count);
void SpiSendRead(Connection& link, const SpiPart& part, std::int32_t address, int count);
bool AwaitReadData(Connection& link, int count, Answer& out, const BitReversal* reverse);

void MicrowireWriteEnable(Connection& link, int addressBits);
void Series90WriteEnable(Connection& link);

// One write command each; the callers split pages to the frame limits.
void MicrowireWriteUnits(Connection& link, int addressBits, int unitAddress, const std::uint8_t* data, int count);
void Series90WriteWord(Connection& link, const BitReversal& reverse, int addressBits, int wordAddress,
                       const std::uint8_t* data);
void I2cWritePage(Connection& link, const I2cPart& part, std::int32_t address, const std::uint8_t* data, int count);
void SpiWritePage(Connection& link, const SpiPart& part, std::int32_t address, const std::uint8_t* data, int count);

}  // namespace qmx
