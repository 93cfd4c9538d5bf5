#include "sim/protocol.h"

#include <array>
#include <cstdio>

namespace qmx::sim {

namespace {

// Indexed by command code; empty where the protocol has no name.
constexpr std::array<const char*, 29> kCommandNames = {
    "NO_COMMAND", "GET_VERSION", "GET_STATUS",   "SET_MODE",     "GET_MODE",     "SET_GPIO",
    "CLR_GPIO",   "WR_GPIO",     "READ_GPIO",    "DELAY_MS",     "WRITE_DATA",   "READ_DATA",
    "CHK_DEVICE", "DEV_CTRL",    "SET_FREQ",     "GET_FREQ",     "WAIT_DONE",    "WRITE_DONE",
    "BLANK_CHK",  "GET_SUM",     "COMP_DATA",    "GET_LAST_ERR", "GET_NAME",     "SET_QMX_TYPE",
    "WRITE_EEPROM", "READ_EEPROM", "SET_RESTART", "",            "GET_VOLTAGE",
};

}  // namespace

std::string CommandName(std::uint8_t code) {
  if (code < kCommandNames.size() && kCommandNames[code][0] != '\0') return kCommandNames[code];
  char text[8];
  std::snprintf(text, sizeof text, "CMD_%02X", code);
  return text;
}

}  // namespace qmx::sim
