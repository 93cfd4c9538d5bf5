// Protocol constants of the programmer as the firmware model sees them.
// Deliberately separate from the host's tables: the simulator is an oracle.
#pragma once

#include <cstdint>
#include <string>

namespace qmx::sim {

// Frame bytes (both directions).
inline constexpr std::uint8_t kFrameStart = 0x0F;
inline constexpr std::uint8_t kFrameEnd = 0x04;
inline constexpr std::uint8_t kFrameEscape = 0x05;

// Command codes (host to programmer).
inline constexpr std::uint8_t GET_VERSION = 1;
inline constexpr std::uint8_t GET_STATUS = 2;
inline constexpr std::uint8_t SET_MODE = 3;
inline constexpr std::uint8_t GET_MODE = 4;
inline constexpr std::uint8_t SET_GPIO = 5;
inline constexpr std::uint8_t CLR_GPIO = 6;
inline constexpr std::uint8_t WR_GPIO = 7;
inline constexpr std::uint8_t READ_GPIO = 8;
inline constexpr std::uint8_t DELAY_MS = 9;
inline constexpr std::uint8_t WRITE_DATA = 10;
inline constexpr std::uint8_t READ_DATA = 11;
inline constexpr std::uint8_t CHK_DEVICE = 12;
inline constexpr std::uint8_t DEV_CTRL = 13;
inline constexpr std::uint8_t SET_FREQ = 14;
inline constexpr std::uint8_t GET_FREQ = 15;
inline constexpr std::uint8_t WAIT_DONE = 16;
inline constexpr std::uint8_t WRITE_DONE = 17;
inline constexpr std::uint8_t BLANK_CHK = 18;
inline constexpr std::uint8_t GET_SUM = 19;
inline constexpr std::uint8_t COMP_DATA = 20;
inline constexpr std::uint8_t GET_LAST_ERR = 21;
inline constexpr std::uint8_t GET_NAME = 22;
inline constexpr std::uint8_t SET_QMX_TYPE = 23;
inline constexpr std::uint8_t WRITE_EEPROM = 24;
inline constexpr std::uint8_t READ_EEPROM = 25;
inline constexpr std::uint8_t SET_RESTART = 26;
inline constexpr std::uint8_t GET_VOLTAGE = 28;

// Answer codes (programmer to host).
inline constexpr std::uint8_t kAnswerVersion = 0x80;
inline constexpr std::uint8_t kAnswerData = 0x84;
inline constexpr std::uint8_t kAnswerDeviceCheck = 0x85;
inline constexpr std::uint8_t kAnswerLastError = 0x86;
inline constexpr std::uint8_t kAnswerFrequency = 0x87;
inline constexpr std::uint8_t kAnswerName = 0x89;
inline constexpr std::uint8_t kAnswerSwitch = 0x8B;
inline constexpr std::uint8_t kAnswerVoltage = 0x8C;

// DEV_CTRL sub-codes.
inline constexpr std::uint8_t kCtrlInit = 1;
inline constexpr std::uint8_t kCtrlChipSelectHigh = 2;
inline constexpr std::uint8_t kCtrlChipSelectLow = 3;
inline constexpr std::uint8_t kCtrlI2cStart = 4;
inline constexpr std::uint8_t kCtrlI2cStop = 5;
inline constexpr std::uint8_t kCtrlI2cRestart = 6;
inline constexpr std::uint8_t kCtrlSupplyOn = 7;
inline constexpr std::uint8_t kCtrlSupplyOff = 8;
inline constexpr std::uint8_t kCtrlLedOff = 12;
inline constexpr std::uint8_t kCtrlLedOn = 13;
inline constexpr std::uint8_t kCtrlLedBusy = 14;
inline constexpr std::uint8_t kCtrlLedError = 15;

// SET_MODE families and Microwire variants.
inline constexpr std::uint8_t kFamilyMicrowire = 0;
inline constexpr std::uint8_t kFamilyI2c = 1;
inline constexpr std::uint8_t kFamilySpi = 2;
inline constexpr std::uint8_t kVariantStandard = 0;
inline constexpr std::uint8_t kVariantSeries90 = 1;

// Programmer error codes, reported by GET_LAST_ERR.
inline constexpr std::uint8_t ERROR_NONE = 0;
inline constexpr std::uint8_t INVALID_CMD_ERROR = 1;
inline constexpr std::uint8_t WAIT_TIMEOUT_ERROR = 2;
inline constexpr std::uint8_t WRITE_COL_ERROR = 3;
inline constexpr std::uint8_t MCW_OVRFLW_ERROR = 4;
inline constexpr std::uint8_t NO_ACK_ERROR = 5;
inline constexpr std::uint8_t BUS_COL_ERROR = 6;
inline constexpr std::uint8_t INVALID_DEV_CTRL_ERROR = 7;
inline constexpr std::uint8_t INVALID_MODE_ERROR = 8;
inline constexpr std::uint8_t WRITE_DATA_ERROR = 9;
inline constexpr std::uint8_t READ_DATA_ERROR = 10;
inline constexpr std::uint8_t INVALID_QMX_TYPE = 11;
inline constexpr std::uint8_t WRITE_EEPROM_ERROR = 12;
inline constexpr std::uint8_t READ_EEPROM_ERROR = 13;
inline constexpr std::uint8_t UNKNOWN_ERROR = 14;

// "GET_NAME", "DEV_CTRL", ...; codes without a name come out as "CMD_1B".
std::string CommandName(std::uint8_t code);

}  // namespace qmx::sim
