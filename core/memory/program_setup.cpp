#include "core/memory/program_setup.h"

#include <charconv>
#include <string>

#include "core/catalogue/catalogue.h"
#include "core/link/connection.h"
#include "core/memory/memory_ops.h"
#include "core/memory/part_target.h"
#include "core/protocol/encoding.h"

namespace qmx {

int ParseIntOr(const std::string& text, int fallback) {
  std::size_t begin = text.find_first_not_of(' ');
  std::size_t end = text.find_last_not_of(' ');
  if (begin == std::string::npos) return fallback;
  int value = 0;
  const char* first = text.data() + begin;
  const char* last = text.data() + end + 1;
  if (*first == '+') ++first;
  const auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || ptr != last) return fallback;
  return value;
}

int PageLengthFromText(const std::string& text) {
  const int p = ParseIntOr(text, 1);
  return p > 256 ? 256 : (p < 1 ? 1 : p);
}

int ClockHz(int clockIndex) {
  static constexpr int kClock[] = {400000, 100000, 10000, 2000};
  return clockIndex >= 0 && clockIndex < 4 ? kClock[clockIndex] : kClock[1];
}

int LastError(Connection& link) {
  if (!link.Query(GET_LAST_ERR, RESP_LAST_ERR)) return UNKNOWN_ERROR;
  return link.Response().data[1];
}

bool ProgramDeviceSetup(Connection& link, const ProgramSettings& settings, const PartTarget& part, Operator& op) {
  link.SendCommand2(SET_RESTART, 0);
  const int writeTime = ParseIntOr(settings.maxWriteTime, 50);
  link.SendCommand4(SET_MODE, static_cast<std::uint8_t>(part.family), part.series90 ? 1 : 0,
                    static_cast<std::uint8_t>(writeTime & 0xFF));
  if (!(settings.model == kModel71C && !settings.vppOut)) link.SendCommand2(DEV_CTRL, DEVCTRL_SUPPLY_ON);
  if (part.family == kFamilyMicrowire) {
    const int levels = part.series90 ? 0 : ((settings.gp1 & 1) * 2 + (settings.gp0 & 1));
    link.SendCommand2(WR_GPIO, static_cast<std::uint8_t>(levels));
  }
  const FreqArgs f = EncodeFrequency(static_cast<std::uint32_t>(ClockHz(settings.clockIndex)));
  const std::uint8_t freq[4] = {SET_FREQ, f.valueLow, f.valueHigh, f.unit};
  link.SendFrame(freq, 4);

  if (!link.Query(CHK_DEVICE, RESP_DEVICE)) {
    // Without a word the operator would not know why nothing happened.
    op.LogLine("プログラマが応答しません。");
    link.SendCommand2(DEV_CTRL, DEVCTRL_SUPPLY_OFF);
    return false;
  }
  const std::uint8_t present = link.Response().data[0];
  const std::uint8_t bits = link.Response().data[1];
  if (present == 0) {
    op.LogLine("デバイスが挿入されていません。");
    link.SendCommand2(DEV_CTRL, DEVCTRL_SUPPLY_OFF);
    return false;
  }
  if (part.family != kFamilyMicrowire || part.series90) return true;
  if (bits == part.addressBits) return true;
  if (bits == 1) {
    op.LogLine("このデバイスは、メモリサイズが識別できません。。");
    return true;
  }
  op.LogLine("デバイスのメモリサイズが異なります。");
  if (op.AskOkCancel("デバイスのメモリサイズが異なります。このまま続行しますか？", "メモリサイズエラー")) return true;
  link.SendCommand2(DEV_CTRL, DEVCTRL_SUPPLY_OFF);
  return false;
}

}  // namespace qmx
