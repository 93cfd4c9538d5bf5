// One Program run of the window with the production panel's choices: the
// serial number's series, locked for the run, and the run log.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "core/production/run_log.h"
#include "core/production/serial_state.h"

namespace qmx::app {

struct ProductionRun {
  std::unique_ptr<production::SerialState> serial;  // nothing: no serial number
  std::uint64_t step = 1;
  std::unique_ptr<production::RunLog> log;  // nothing: no run log
  production::RunRecord record;
  std::chrono::steady_clock::time_point started;
  // Set by the sequence on the operation thread, read once it has ended.
  std::string failedStep;
};

}  // namespace qmx::app
