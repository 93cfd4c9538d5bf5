// Command set of the programmer: command codes, answer codes, DEV_CTRL
// sub-codes and the programmer's error codes. The upper-case names are the
// protocol's own.
#pragma once

#include <cstdint>

namespace qmx {

// Command codes (host to programmer, below 128). Codes marked "reserved" are
// part of the programmer's command set but are never sent by the host.
enum CommandCode : std::uint8_t {
  NO_COMMAND = 0,
  GET_VERSION = 1,
  GET_STATUS = 2,  // reserved
  SET_MODE = 3,
  GET_MODE = 4,   // reserved
  SET_GPIO = 5,   // reserved
  CLR_GPIO = 6,   // reserved
  WR_GPIO = 7,
  READ_GPIO = 8,  // reserved
  DELAY_MS = 9,   // reserved
  WRITE_DATA = 10,
  READ_DATA = 11,
  CHK_DEVICE = 12,
  DEV_CTRL = 13,
  SET_FREQ = 14,
  GET_FREQ = 15,
  WAIT_DONE = 16,  // reserved
  WRITE_DONE = 17,
  BLANK_CHK = 18,     // reserved
  GET_SUM = 19,       // reserved
  COMP_DATA = 20,     // reserved
  GET_LAST_ERR = 21,
  GET_NAME = 22,
  SET_QMX_TYPE = 23,  // reserved
  WRITE_EEPROM = 24,  // reserved
  READ_EEPROM = 25,   // reserved
  SET_RESTART = 26,
  RESERVED_27 = 27,   // reserved, unnamed
  GET_VOLTAGE = 28,
};

// Answer codes (programmer to host, bit 7 set). An answer is matched to its
// command only by this code.
enum ResponseCode : std::uint8_t {
  RESP_VERSION = 0x80,   // GET_VERSION: major, minor
  RESP_DATA = 0x84,      // READ_DATA: the bytes shifted in
  RESP_DEVICE = 0x85,    // CHK_DEVICE: part present, detected address bits
  RESP_LAST_ERR = 0x86,  // GET_LAST_ERR: byte 1 is the error code
  RESP_FREQ = 0x87,      // GET_FREQ: value low, value high, unit
  RESP_NAME = 0x89,      // GET_NAME: zero-terminated model name
  RESP_SWITCH = 0x8B,    // unsolicited: bit 0 of byte 0 is the push switch
  RESP_VOLTAGE = 0x8C,   // GET_VOLTAGE: supply reading r
};

// Sub-codes of DEV_CTRL.
enum DevCtrl : std::uint8_t {
  DEVCTRL_INIT = 1,          // sent once after the port is opened
  DEVCTRL_CS_HIGH = 2,
  DEVCTRL_CS_LOW = 3,
  DEVCTRL_I2C_START = 4,
  DEVCTRL_I2C_STOP = 5,
  DEVCTRL_I2C_RESTART = 6,
  DEVCTRL_SUPPLY_ON = 7,
  DEVCTRL_SUPPLY_OFF = 8,
  DEVCTRL_LED_OFF = 12,
  DEVCTRL_LED_ON = 13,
  DEVCTRL_LED_BUSY = 14,
  DEVCTRL_LED_ERROR = 15,
};

// The programmer's error codes (byte 1 of the last-error answer).
enum ProgrammerError : std::uint8_t {
  ERROR_NONE = 0,
  INVALID_CMD_ERROR = 1,
  WAIT_TIMEOUT_ERROR = 2,
  WRITE_COL_ERROR = 3,
  MCW_OVRFLW_ERROR = 4,
  NO_ACK_ERROR = 5,
  BUS_COL_ERROR = 6,
  INVALID_DEV_CTRL_ERROR = 7,
  INVALID_MODE_ERROR = 8,
  WRITE_DATA_ERROR = 9,
  READ_DATA_ERROR = 10,
  INVALID_QMX_TYPE = 11,
  WRITE_EEPROM_ERROR = 12,
  READ_EEPROM_ERROR = 13,
  UNKNOWN_ERROR = 14,
};

// Frame bytes.
inline constexpr std::uint8_t kFrameStart = 0x0F;
inline constexpr std::uint8_t kFrameEnd = 0x04;
inline constexpr std::uint8_t kFrameEscape = 0x05;

// A payload sent by the host carries at most this many bytes before stuffing.
inline constexpr int kMaxSendPayload = 64;
// Every wait for an answer lasts at most this long.
inline constexpr int kResponseTimeoutMs = 50;

// Name of a command code for logs and tests; "?" for codes outside the set.
const char* CommandName(std::uint8_t code);

}  // namespace qmx
