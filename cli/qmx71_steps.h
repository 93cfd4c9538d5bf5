// What qmx71's subcommands share: exit codes, options, the failure they end
// in, and the steps of cli/qmx71_steps.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/part_choice.h"
#include "library/qmx71a.h"

namespace qmx::tool {

using qmx::cli::PartChoice;
using qmx::cli::Range;
using Bytes = std::vector<std::uint8_t>;

enum Exit : int {
  kOk = 0,
  kMismatch = 1,
  kUsage = 2,
  kNoProgrammer = 3,
  kProgrammerError = 4,
  kInterrupted = 130,
};

// Set by the interrupt handler; the steps end with kInterrupted between pieces.
extern std::atomic<bool> g_interrupted;

struct Options {
  std::string port;
  bool quiet = false;
  std::string part;
  std::string file;
  std::string output;
  std::string format;  // hex | srec | bin | "" (from the extension)
  std::string org;     // x8 | x16 | ""
  std::string layout = "bytes";
  std::int64_t start = 0;
  std::int64_t length = -1;
  std::string pageSize;  // "", "auto" or 1..256
  int clockHz = 0;
  int writeTimeMs = 50;
  bool noErase = false;
  bool noPipeline = false;
  bool json = false;           // info, verify, checksum, diff: one JSON object on standard output
  std::string algo = "sum16";  // checksum: sum16 | crc32 | sha256
  int repeat = 0;     // read and verify: reads compared for a loose contact (2..100; 0 one read)
  bool loop = false;  // program: part after part until interrupted
};

class Failure {
 public:
  Failure(int code, std::string message) : code_(code), message_(std::move(message)) {}
  int code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  int code_;
  std::string message_;
};

// Connected for the life of the object; the supply goes off and the port is
// released on every way out.
class Session {
 public:
  Session() = default;
  ~Session() { QmxClose(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
};

// What a file says the range should hold. Binary files are placed at --start;
// HEX and S-record files carry their own addresses.
struct Expected {
  Range range;
  Bytes bytes;  // range.length bytes
};

// Where a comparison first failed, for a report that names the address.
struct Difference {
  std::int64_t address = -1;
  std::size_t count = 0;
};

void Say(const Options& o, const std::string& line);
std::string Hex(std::int64_t v, int digits);
const char* FamilyName(int family);
std::string VersionText(std::int32_t v);
std::string DiscoveredPort();
void Connect(const Options& o, int family, int variant);
void ConnectForPart(const Options& o, const PartChoice& part);
PartChoice ChoosePart(const Options& o);
Range ChooseRange(const Options& o, const PartChoice& part, std::int64_t length);
std::string FormatOf(const Options& o, const std::string& path);
Expected LoadExpected(const Options& o, const PartChoice& part);
Bytes ReadRange(const Options& o, const PartChoice& part, const Range& range, const char* label = "read");
void WriteRange(const Options& o, const PartChoice& part, const Range& range, const Bytes& data);
void EraseRange(const Options& o, const PartChoice& part, const Range& range);
// Reads the range --repeat times (once without it); an address that read
// differently is listed on standard error and ends in kMismatch.
Bytes ReadStable(const Options& o, const PartChoice& part, const Range& range, const char* label);
int Verify(const Options& o, const PartChoice& part, const Expected& want, Difference* difference = nullptr);
int BlankCheck(const Options& o, const PartChoice& part, const Range& range, Difference* difference = nullptr);
void SaveFile(const Options& o, const Range& range, const Bytes& data);
std::string RangeText(const Range& r);
// program --loop on the connected programmer: waits for each part, runs
// `programPart` on it, waits for its removal, until Ctrl-C.
int ProgramLoop(const Options& o, const std::function<int()>& programPart);
// qmx71 ports: every attached programmer with its model and firmware.
int CmdPorts(const Options& o);
// The model a programmer is, from the families it accepts besides I2C.
const char* ModelName(bool microwire, bool spi);

}  // namespace qmx::tool
