// program --loop: the production bench. Waits for a part in the socket,
// programs it, reports the result with a running count, waits for the part
// to be taken out, and starts over until Ctrl-C. The status LED tells a
// failed part as the desktop program does.
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "cli/qmx71_steps.h"
#include "core/protocol/commands.h"
#include "library/qmx71a.h"
#include "library/status_led.h"

namespace qmx::tool {

namespace {

// CHK_DEVICE about twice a second: quick enough for a hand at the socket.
constexpr auto kPollInterval = std::chrono::milliseconds(500);
constexpr auto kSleepSlice = std::chrono::milliseconds(50);

// As long as the desktop program shows ERROR after a failure.
constexpr auto kErrorIndication = std::chrono::milliseconds(3000);

enum class Wait { kDone, kInterrupted };

// ERROR when a part failed, back to ON once the indication has run its time.
// A second failure within it does not lengthen it. ON that falls due while a
// part is being programmed waits for that part's end, and gives way to a new
// indication if that part failed too.
class StatusLed {
 public:
  using Clock = std::chrono::steady_clock;
  void PartDone(bool passed) {
    if (!passed) {
      qmx::LibraryStatusLed(DEVCTRL_LED_ERROR);
      if (!until_ || Clock::now() >= *until_) until_ = Clock::now() + kErrorIndication;
    } else {
      Tick();
    }
  }
  void Tick() {
    if (until_ && Clock::now() >= *until_) Ready();
  }
  void Ready() {
    if (until_) qmx::LibraryStatusLed(DEVCTRL_LED_ON);
    until_.reset();
  }

 private:
  std::optional<Clock::time_point> until_;
};

// Sleeps one poll interval in slices, so that Ctrl-C is taken at once.
bool Nap(StatusLed& led) {
  for (auto slept = std::chrono::milliseconds(0); slept < kPollInterval; slept += kSleepSlice) {
    if (g_interrupted) return false;
    led.Tick();
    std::this_thread::sleep_for(kSleepSlice);
  }
  return !g_interrupted;
}

// Until a part answers (present) or none does (!present). A programmer that
// stops answering ends the loop: no part could be seen again.
Wait WaitForPart(bool present, StatusLed& led) {
  for (;;) {
    if (g_interrupted) return Wait::kInterrupted;
    if ((QmxCheck() != 0) == present) return Wait::kDone;
    if (QmxFrmVer() == 0) throw Failure(kNoProgrammer, "the programmer stopped answering");
    if (!Nap(led)) return Wait::kInterrupted;
  }
}

struct Counts {
  int passed = 0;
  int failed = 0;
  std::string Text() const {
    return "passed " + std::to_string(passed) + ", failed " + std::to_string(failed);
  }
};

// One part; every failure but an interruption, or trouble with the files
// the series and the log are kept in, counts against the part.
bool ProgramOne(const std::function<int()>& programPart, int number) {
  try {
    return programPart() == kOk;
  } catch (const Failure& f) {
    if (f.code() == kInterrupted || f.code() == kUsage) throw;
    std::fprintf(stderr, "qmx71: part %d: %s\n", number, f.message().c_str());
    return false;
  }
}

}  // namespace

int ProgramLoop(const Options& o, const std::function<int()>& programPart) {
  Counts counts;
  // Report lines go out at once: an operator or a script watches them.
  auto report = [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  };
  StatusLed led;
  for (;;) {
    if (!o.quiet) report("waiting for a part (Ctrl-C ends)");
    if (WaitForPart(true, led) == Wait::kInterrupted) break;
    const int number = counts.passed + counts.failed + 1;
    bool passed = false;
    try {
      passed = ProgramOne(programPart, number);
    } catch (const Failure& f) {
      report("part " + std::to_string(number) + (f.code() == kInterrupted ? ": interrupted; " : ": stopped; ") +
             counts.Text());
      throw;
    }
    ++(passed ? counts.passed : counts.failed);
    led.PartDone(passed);
    report("part " + std::to_string(number) + ": " + (passed ? "PASS" : "FAIL") + "; " + counts.Text());
    if (!o.quiet) report("take the part out");
    if (WaitForPart(false, led) == Wait::kInterrupted) break;
  }
  // An ERROR still lit goes back to ON, as its interval would have put it.
  led.Ready();
  report("stopped: " + counts.Text());
  return counts.failed == 0 ? kOk : kMismatch;
}

}  // namespace qmx::tool
