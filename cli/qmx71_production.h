// qmx71 program: erase, blank check, write and verify, with an optional
// serial number placed into the data and one run log line per run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/qmx71_steps.h"

namespace CLI {
class App;
}

namespace qmx::tool {

struct ProductionOptions {
  std::int64_t serialAt = -1;
  std::optional<std::uint64_t> serialStart;
  std::uint64_t serialStep = 1;
  std::string serialFormat = "be32";
  std::string serialState;
  std::string log;
  std::string logFormat = "csv";
};

// The serial and log options of the program subcommand.
void AddProductionOptions(CLI::App* program, ProductionOptions* p);
int CmdProgram(const Options& o, const ProductionOptions& p);

}  // namespace qmx::tool
