// The faults a programmer, its cable or its firmware can show, each as what
// to do to the simulated programmer before, during and after one step of a
// front end. Shared by the front-end suites (no test framework in here).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/protocol/commands.h"
#include "sim/simulator.h"

namespace qmx::fault {

using namespace std::chrono_literals;

enum class Step { kConnect, kRead, kWrite };
// What a sound front end reports: a failure, a (correct) success, or either,
// as long as a success is true (a fault that may come after the work is done).
enum class Expect { kFailure, kSuccess, kTruthful };

struct Fault {
  std::string name;
  Step step;
  Expect instant;  // against the instant simulator
  Expect real;     // against a programmer's own pace
  std::function<void(sim::PtySimulator&)> arm = [](sim::PtySimulator&) {};
  // Fired once the step has sent `after` commands with code `when`.
  std::uint8_t when = 0;
  int after = 0;
  std::function<void(sim::PtySimulator&)> during = nullptr;
  std::function<void(sim::PtySimulator&)> recover = [](sim::PtySimulator&) {};
};

// Watches the command log from another thread (the serving thread must not
// unplug itself) and fires the fault's `during` once; bounded, joined at the end.
class Trigger {
 public:
  Trigger(sim::PtySimulator& sim, const Fault& fault) : sim_(sim), fault_(fault), base_(sim.Log().size()) {
    if (fault_.during) thread_ = std::thread([this] { Watch(); });
  }
  ~Trigger() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  Trigger(const Trigger&) = delete;
  Trigger& operator=(const Trigger&) = delete;
  bool Fired() const { return fired_; }

 private:
  void Watch() {
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!stop_ && std::chrono::steady_clock::now() < until) {
      const auto log = sim_.Log();
      int seen = 0;
      for (std::size_t i = base_; i < log.size(); ++i) seen += log[i].code == fault_.when;
      if (seen >= fault_.after) {
        fired_ = true;  // before: the front end may see the fault before it returns
        fault_.during(sim_);
        return;
      }
      std::this_thread::sleep_for(200us);
    }
  }

  sim::PtySimulator& sim_;
  const Fault& fault_;
  std::size_t base_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> fired_{false};
  std::thread thread_;
};

inline void PressRepeatedly(sim::PtySimulator& sim) {
  for (int i = 0; i < 5; ++i) {
    sim.PressSwitch();
    std::this_thread::sleep_for(2ms);
    sim.ReleaseSwitch();
    std::this_thread::sleep_for(2ms);
  }
}

inline const std::vector<Fault>& Faults() {
  static const std::vector<Fault> faults = {
      {.name = "DroppedAnswer", .step = Step::kRead, .instant = Expect::kFailure, .real = Expect::kFailure,
       .arm = [](sim::PtySimulator& s) { s.DropNextAnswer(READ_DATA); }},
      {.name = "LateAnswer", .step = Step::kRead, .instant = Expect::kFailure, .real = Expect::kFailure,
       .arm = [](sim::PtySimulator& s) { s.DelayNextAnswer(READ_DATA, 400ms); }},
      // Bytes outside frames, including lone frame ends, are line noise.
      {.name = "GarbageBetweenFrames", .step = Step::kRead, .instant = Expect::kSuccess, .real = Expect::kSuccess,
       .arm = [](sim::PtySimulator& s) { s.GarbageBeforeNextAnswer({0x00, 0x55, 0x04, 0xFF, 0x04, 0x33}); }},
      {.name = "SplitFrame", .step = Step::kRead, .instant = Expect::kSuccess, .real = Expect::kSuccess,
       .arm = [](sim::PtySimulator& s) { s.SplitNextAnswer(4, 8ms); }},
      {.name = "UnsolicitedAnswersAndSwitchReports", .step = Step::kRead, .instant = Expect::kSuccess,
       .real = Expect::kSuccess, .when = READ_DATA, .after = 2,
       .during =
           [](sim::PtySimulator& s) {
             s.SendUnsolicited({RESP_VERSION, 1, 0});
             s.PressSwitch();
             s.SendUnsolicited({RESP_VOLTAGE, 0x50});
             s.ReleaseSwitch();
           }},
      {.name = "ShortDataAnswer", .step = Step::kRead, .instant = Expect::kFailure, .real = Expect::kFailure,
       .arm = [](sim::PtySimulator& s) { s.ResizeNextAnswer(READ_DATA, -1); }},
      {.name = "LongDataAnswer", .step = Step::kRead, .instant = Expect::kFailure, .real = Expect::kFailure,
       .arm = [](sim::PtySimulator& s) { s.ResizeNextAnswer(READ_DATA, 1); }},
      // The first block's answer is held back a little, so the unplug always
      // falls inside the read, however few blocks the front end reads in.
      {.name = "UnplugDuringRead", .step = Step::kRead, .instant = Expect::kFailure, .real = Expect::kFailure,
       .arm = [](sim::PtySimulator& s) { s.DelayNextAnswer(READ_DATA, 30ms); }, .when = READ_DATA, .after = 1,
       .during = [](sim::PtySimulator& s) { s.Unplug(); },
       .recover = [](sim::PtySimulator& s) { s.Replug(); }},
      {.name = "UnplugDuringWrite", .step = Step::kWrite, .instant = Expect::kTruthful, .real = Expect::kFailure,
       .when = WRITE_DONE, .after = 3, .during = [](sim::PtySimulator& s) { s.Unplug(); },
       .recover = [](sim::PtySimulator& s) { s.Replug(); }},
      // The name query goes unanswered and the programmer vanishes meanwhile.
      {.name = "UnplugDuringConnect", .step = Step::kConnect, .instant = Expect::kFailure, .real = Expect::kFailure,
       .arm = [](sim::PtySimulator& s) { s.DropNextAnswer(GET_NAME); }, .when = GET_NAME, .after = 1,
       .during = [](sim::PtySimulator& s) { s.Unplug(); }, .recover = [](sim::PtySimulator& s) { s.Replug(); }},
      {.name = "StopsTakingBytesMidWrite", .step = Step::kWrite, .instant = Expect::kTruthful,
       .real = Expect::kFailure, .when = WRITE_DONE, .after = 3, .during = [](sim::PtySimulator& s) { s.Hang(); },
       .recover = [](sim::PtySimulator& s) { s.Resume(); }},
      {.name = "SwitchPressedRepeatedly", .step = Step::kWrite, .instant = Expect::kSuccess, .real = Expect::kSuccess,
       .when = WRITE_DONE, .after = 2, .during = PressRepeatedly},
  };
  return faults;
}

}  // namespace qmx::fault
