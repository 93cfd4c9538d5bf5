// qmx71 program as a production run. The serial number is read from its
// state file and placed into the data before anything is sent; the state
// moves on only after the part verified, and the state stays locked for the
// whole run (see core/production/serial_state.h). The run log line is
// written on every way out once the log is open, passed or failed.
#include "cli/qmx71_production.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

#include "core/catalogue/catalogue.h"
#include "core/production/run_log.h"
#include "core/production/serial_number.h"
#include "core/production/serial_state.h"
#include "image/digests.h"
#include "image/file_io.h"

namespace qmx::tool {

namespace {

using namespace qmx::production;

constexpr auto kStateWait = std::chrono::seconds(120);
constexpr std::size_t kLargestLoggedFile = 64 * 1024 * 1024;

// What a run has learnt so far, for its log line; `step` names what it is doing.
struct Run {
  RunRecord record;
  std::string step = "file";
};

std::optional<std::uint32_t> FileCrc(const std::string& path) {
  const qmx::FileContents file = qmx::ReadWholeFile(path, kLargestLoggedFile);
  if (file.status != qmx::FileReadStatus::kOk) return std::nullopt;
  return qmx::Crc32(file.bytes.data(), file.bytes.size());
}

std::string StateAdvice(SerialStateError code) {
  switch (code) {
    case SerialStateError::kMissing:
      return ": give --serial-start N to begin a new series in it; a lost state file must be restored, not begun "
             "again";
    case SerialStateError::kDamaged: return "; restore it from a backup (a series is never begun again by itself)";
    case SerialStateError::kOtherSeries:
      return ": leave out --serial-start to go on with it, or name another state file for a new series";
    case SerialStateError::kBusy: return " (waited " + std::to_string(kStateWait.count()) + " s)";
    default: return "";
  }
}

std::unique_ptr<SerialState> OpenSerialState(const Options& o, const ProductionOptions& p) {
  SerialStateRequest request{p.serialState, p.serialStart, std::chrono::milliseconds(0),
                             [] { return g_interrupted.load(); }};
  SerialStateError code = SerialStateError::kNone;
  std::string error;
  auto state = SerialState::Open(request, &code, &error);
  if (!state && code == SerialStateError::kBusy) {
    if (!o.quiet) std::fprintf(stderr, "waiting for another run that holds %s.lock\n", p.serialState.c_str());
    request.wait = kStateWait;
    state = SerialState::Open(request, &code, &error);
    if (g_interrupted) throw Failure(kInterrupted, "interrupted");
  }
  if (!state) throw Failure(kUsage, error + StateAdvice(code));
  return state;
}

// Checks the serial's place before the state is touched, then takes the
// series' next number and puts it into the data.
std::unique_ptr<SerialState> ApplySerial(const Options& o, const ProductionOptions& p, const PartChoice& part,
                                         Expected& want, Run& run) {
  std::string error;
  const auto format = ParseSerialFormat(p.serialFormat, &error);
  if (!format) throw Failure(kUsage, error);
  if (p.serialStep == 0) throw Failure(kUsage, "--serial-step must be 1 or more");
  // A new series' first number is known before its state file is made.
  if (p.serialStart && !EncodeSerial(*p.serialStart, *format, &error)) throw Failure(kUsage, error);
  Bytes trial = want.bytes;
  if (!PlaceSerial(trial, want.range.start, part.size, p.serialAt, Bytes(format->width), &error))
    throw Failure(kUsage, error);

  run.step = "serial-state";
  auto state = OpenSerialState(o, p);
  run.record.serial = state->Next();
  const auto bytes = EncodeSerial(state->Next(), *format, &error);
  if (!bytes) throw Failure(kUsage, error);
  PlaceSerial(want.bytes, want.range.start, part.size, p.serialAt, *bytes, &error);
  Say(o, "serial: " + std::to_string(state->Next()) + " at " + Hex(p.serialAt, 4) + " (" + p.serialFormat + ")");
  return state;
}

// The programmer's model as qmx71 info tells it: by the families it takes.
std::string ProbeModel(const Options& o, const PartChoice& part) {
  Connect(o, part.family, part.variant);
  const bool microwire = QmxMode(qmx::kFamilyMicrowire, 0, o.writeTimeMs) == 1;
  const bool spi = QmxMode(qmx::kFamilySpi, 0, o.writeTimeMs) == 1;
  return ModelName(microwire, spi);
}

// A comparison that failed: the run's result, with the address it failed at.
int Compared(int result, const Difference& difference, Run& run) {
  if (result == kOk) return kOk;
  run.record.firstDifference = difference.address;
  run.record.detail = std::to_string(difference.count) + " byte(s) differ";
  return result;
}

int PartSteps(const Options& o, const ProductionOptions& p, const PartChoice& part, const Expected& want,
              SerialState* state, Run& run);

int ProgramSteps(const Options& o, const ProductionOptions& p, bool logging, Run& run) {
  const PartChoice part = ChoosePart(o);
  run.record.part = part.name;
  Expected want = LoadExpected(o, part);
  const auto state = p.serialState.empty() ? nullptr : ApplySerial(o, p, part, want, run);

  run.step = "connect";
  Session session;
  run.record.port = o.port.empty() ? DiscoveredPort() : o.port;
  if (logging) run.record.model = ProbeModel(o, part);
  ConnectForPart(o, part);
  return PartSteps(o, p, part, want, state.get(), run);
}

// Loaded and connected, the serial number (if any) in the data.
int PartSteps(const Options& o, const ProductionOptions& p, const PartChoice& part, const Expected& want,
              SerialState* state, Run& run) {
  Difference difference;
  if (!o.noErase) {
    run.step = "erase";
    EraseRange(o, part, want.range);
    Say(o, "erase: done");
    run.step = "blank";
    if (int r = Compared(BlankCheck(o, part, want.range, &difference), difference, run); r != kOk) return r;
  }
  run.step = "write";
  WriteRange(o, part, want.range, want.bytes);
  Say(o, "write: " + std::to_string(want.range.length) + " bytes written");
  run.step = "verify";
  if (int r = Compared(Verify(o, part, want, &difference), difference, run); r != kOk) return r;

  if (state) {
    run.step = "serial-state";
    const std::uint64_t used = state->Next();
    SerialStateError code = SerialStateError::kNone;
    std::string error;
    if (!state->Advance(p.serialStep, &code, &error))
      throw Failure(kUsage, "the part verified with serial " + std::to_string(used) + ", but " + error +
                                ": count the part as failed and set it aside; the number will be given again");
    Say(o, "serial: " + std::to_string(used) + " used, next " + std::to_string(state->Next()));
  }
  Say(o, "programmed " + part.name + " " + RangeText(want.range) + " from " + o.file);
  return kOk;
}

// Appends the run's line; a line that cannot be written is an error of its own.
int Logged(RunLog* log, Run& run, int result, std::chrono::steady_clock::time_point began) {
  if (!log) return result;
  run.record.passed = result == kOk;
  if (!run.record.passed) run.record.failedStep = run.step;
  run.record.duration =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
  std::string error;
  if (log->Append(run.record, &error)) return result;
  std::fprintf(stderr, "qmx71: %s\n", error.c_str());
  return result == kOk ? kUsage : result;
}

}  // namespace

void AddProductionOptions(CLI::App* program, ProductionOptions* p) {
  auto* at = program->add_option("--serial-at", p->serialAt, "address of the serial number inside the file's range");
  auto* state = program->add_option("--serial-state", p->serialState,
                                     "state file of the series: holds the next number, locked while a run uses it");
  at->needs(state);
  state->needs(at);
  program->add_option_function<std::uint64_t>("--serial-start", [p](const std::uint64_t& n) { p->serialStart = n; },
                                             "first number of a new series: creates a missing state file")
      ->needs(at);
  program->add_option("--serial-step", p->serialStep, "added after each part that verified (default 1)")->needs(at);
  program->add_option("--serial-format", p->serialFormat,
                      "be16, be32 (default), le16, le32, bcd (4 bytes), bcd:N (N bytes), ascii:W (W digits)")
      ->needs(at);
  auto* log = program->add_option("--log", p->log, "append one line per run to this file");
  program->add_option("--log-format", p->logFormat, "csv (default, with a header) or jsonl")
      ->check(CLI::IsMember({"csv", "jsonl"}))
      ->needs(log);
}

namespace {

// One run, one part: its log line on every way out.
int LoggedRun(RunLog* log, Run& run, const std::function<int(Run&)>& steps) {
  const auto began = std::chrono::steady_clock::now();
  int result = kOk;
  try {
    result = steps(run);
  } catch (const Failure& f) {
    run.record.detail = f.message();
    Logged(log, run, f.code(), began);
    throw;
  }
  return Logged(log, run, result, began);
}

// program --loop: connected once; each part its own serial number and log line.
int LoopedProgram(const Options& o, const ProductionOptions& p, RunLog* log, const Run& first) {
  const PartChoice part = ChoosePart(o);
  const Expected want = LoadExpected(o, part);
  Session session;
  Run base = first;
  base.record.part = part.name;
  base.record.port = o.port.empty() ? DiscoveredPort() : o.port;
  if (log) base.record.model = ProbeModel(o, part);
  Connect(o, part.family, part.variant);
  if (o.clockHz > 0 && QmxSetFreq(o.clockHz) != 1)
    throw Failure(kProgrammerError, "the programmer refused the clock setting");
  return ProgramLoop(o, [&] {
    Run run = base;
    run.record.time = std::chrono::system_clock::now();
    const int result = LoggedRun(log, run, [&](Run& r) {
      Expected mine = want;
      const auto state = p.serialState.empty() ? nullptr : ApplySerial(o, p, part, mine, r);
      return PartSteps(o, p, part, mine, state.get(), r);
    });
    // A log that can no longer be written ends the loop, as a state file that cannot be does.
    if (result == kUsage) throw Failure(kUsage, "the run log could not be written: the loop stops");
    return result;
  });
}

}  // namespace

int CmdProgram(const Options& o, const ProductionOptions& p) {
  std::unique_ptr<RunLog> log;
  if (!p.log.empty()) {
    std::string error;
    log = RunLog::Open(p.log, p.logFormat == "jsonl" ? RunLogFormat::kJsonLines : RunLogFormat::kCsv, &error);
    if (!log) throw Failure(kUsage, error);
  }
  Run run;
  run.record.time = std::chrono::system_clock::now();
  run.record.part = o.part;
  run.record.file = o.file;
  if (log) run.record.fileCrc32 = FileCrc(o.file);
  if (o.loop) return LoopedProgram(o, p, log.get(), run);
  return LoggedRun(log.get(), run, [&](Run& r) { return ProgramSteps(o, p, log != nullptr, r); });
}

}  // namespace qmx::tool
