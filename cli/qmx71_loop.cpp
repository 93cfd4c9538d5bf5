// program --loop: the production bench. Waits for a part in the socket,
// programs it, reports the result with a running count, waits for the part
// to be taken out, and starts over until Ctrl-C.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "cli/qmx71_steps.h"
#include "library/qmx71a.h"

namespace qmx::tool {

namespace {

// CHK_DEVICE about twice a second: quick enough for a hand at the socket.
constexpr auto kPollInterval = std::chrono::milliseconds(500);
constexpr auto kSleepSlice = std::chrono::milliseconds(50);

enum class Wait { kDone, kInterrupted };

// Sleeps one poll interval in slices, so that Ctrl-C is taken at once.
bool Nap() {
  for (auto slept = std::chrono::milliseconds(0); slept < kPollInterval; slept += kSleepSlice) {
    if (g_interrupted) return false;
    std::this_thread::sleep_for(kSleepSlice);
  }
  return !g_interrupted;
}

// Until a part answers (present) or none does (!present). A programmer that
// stops answering ends the loop: no part could be seen again.
Wait WaitForPart(bool present) {
  for (;;) {
    if (g_interrupted) return Wait::kInterrupted;
    if ((QmxCheck() != 0) == present) return Wait::kDone;
    if (QmxFrmVer() == 0) throw Failure(kNoProgrammer, "the programmer stopped answering");
    if (!Nap()) return Wait::kInterrupted;
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
  for (;;) {
    if (!o.quiet) report("waiting for a part (Ctrl-C ends)");
    if (WaitForPart(true) == Wait::kInterrupted) break;
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
    report("part " + std::to_string(number) + ": " + (passed ? "PASS" : "FAIL") + "; " + counts.Text());
    if (!o.quiet) report("take the part out");
    if (WaitForPart(false) == Wait::kInterrupted) break;
  }
  report("stopped: " + counts.Text());
  return counts.failed == 0 ? kOk : kMismatch;
}

}  // namespace qmx::tool
