#include "core/protocol/commands.h"

#include <array>

namespace qmx {

const char* CommandName(std::uint8_t code) {
  static constexpr std::array<const char*, 29> kNames = {
      "No Error",     "GET_VERSION", "GET_STATUS", "SET_MODE",     "GET_MODE",     "SET_GPIO",
      "CLR_GPIO",     "WR_GPIO",     "READ_GPIO",  "DELAY_MS",     "WRITE_DATA",   "READ_DATA",
      "CHK_DEVICE",   "DEV_CTRL",    "SET_FREQ",   "GET_FREQ",     "WAIT_DONE",    "WRITE_DONE",
      "BLANK_CHK",    "GET_SUM",     "COMP_DATA",  "GET_LAST_ERR", "GET_NAME",     "SET_QMX_TYPE",
      "WRITE_EEPROM", "READ_EEPROM", "SET_RESTART", "?",           "GET_VOLTAGE"};
  return code < kNames.size() ? kNames[code] : "?";
}

}  // namespace qmx
