// qmx71: program, verify and read serial EEPROMs from the command line,
// through the public library like any other host program.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_os.h"
#include "cli/part_choice.h"
#include "core/catalogue/catalogue.h"
#include "core/discovery/port_discovery.h"
#include "core/platform/serial_backend.h"
#include "image/file_io.h"
#include "image/hex_dump.h"
#include "image/intel_hex.h"
#include "image/memory_image.h"
#include "library/qmx71a.h"

namespace {

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

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0  success\n"
    "  1  verify, blank check or compare mismatch\n"
    "  2  usage or file error\n"
    "  3  no programmer, no part, or the programmer does not take the part's family\n"
    "  4  programmer error (an operation failed or was not answered)\n"
    "  130 interrupted\n"
    "The port is --port, else the programmer found on USB; QMX71_PORT names one\n"
    "explicitly for programs that cannot pass --port.";

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) { g_interrupted = true; }

struct Options {
  std::string port;
  bool quiet = false;
  std::string part;
  std::string file;
  std::string output;
  std::string format;  // hex | bin | "" (from the extension)
  std::string org;     // x8 | x16 | ""
  std::string layout = "bytes";
  std::int64_t start = 0;
  std::int64_t length = -1;
  std::string pageSize;  // "", "auto" or 1..256
  int clockHz = 0;
  int writeTimeMs = 50;
  bool noErase = false;
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

// One line on standard error, redrawn in place; only on a terminal.
class Progress {
 public:
  Progress(bool enabled, std::string label, std::int64_t total)
      : enabled_(enabled && qmx::cli::StderrIsTerminal()), label_(std::move(label)), total_(total) {
    Draw(0);
  }
  ~Progress() {
    if (enabled_ && drawn_) std::fputs("\r\033[K", stderr);
  }
  void Draw(std::int64_t done) {
    if (!enabled_ || total_ <= 0) return;
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(done * kWidth / total_);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kWidth, ' ');
    std::fprintf(stderr, "\r%-8s [%s] %3d%% %lld/%lld bytes", label_.c_str(), bar.c_str(),
                 static_cast<int>(done * 100 / total_), static_cast<long long>(done),
                 static_cast<long long>(total_));
    std::fflush(stderr);
    drawn_ = true;
  }

 private:
  bool enabled_;
  std::string label_;
  std::int64_t total_;
  bool drawn_ = false;
};

void Say(const Options& o, const std::string& line) {
  if (!o.quiet) std::printf("%s\n", line.c_str());
}

std::string Hex(std::int64_t v, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<long long>(v));
  return buf;
}

const char* FamilyName(int family) {
  switch (family) {
    case qmx::kFamilyMicrowire: return "Microwire";
    case qmx::kFamilyI2c: return "I2C";
    case qmx::kFamilySpi: return "SPI";
    default: return "?";
  }
}

std::string VersionText(std::int32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X.%02X", static_cast<unsigned>(v >> 8), static_cast<unsigned>(v & 0xFF));
  return buf;
}

std::string DiscoveredPort() {
  auto provider = qmx::MakeDefaultDeviceListProvider();
  qmx::PortDiscovery discovery(*provider);
  return qmx::DiscoverProgrammerPort(discovery);
}

// The library and this program find the port the same way; --port wins.
void ApplyPort(const Options& o) {
  if (!o.port.empty()) qmx::cli::SetPortOverride(o.port);
}

// Connected for the life of the object; the supply goes off and the port is
// released on every way out.
class Session {
 public:
  Session() = default;
  ~Session() { QmxClose(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
};

void Connect(const Options& o, int family, int variant) {
  ApplyPort(o);
  if (QmxOpen(family, variant, o.writeTimeMs, 0) == 1) return;
  const std::string port = DiscoveredPort();
  if (port.empty())
    throw Failure(kNoProgrammer, "no programmer found: plug it in, or name its port with --port");
  // The port is there but closed to this user: say how to open it, not that
  // nothing answers.
  if (qmx::PortAccessDenied(port))
    throw Failure(kNoProgrammer, "permission denied on " + qmx::DevicePathForPort(port) +
                                     ": " + qmx::cli::AccessDeniedAdvice());
  if (QmxFrmVer() == 0) throw Failure(kNoProgrammer, "the programmer on " + port + " does not answer");
  throw Failure(kNoProgrammer, std::string("the programmer on ") + port + " does not take " + FamilyName(family) +
                                   " parts");
}

void ConnectForPart(const Options& o, const PartChoice& part) {
  Connect(o, part.family, part.variant);
  if (o.clockHz > 0 && QmxSetFreq(o.clockHz) != 1)
    throw Failure(kProgrammerError, "the programmer refused the clock setting");
  const std::int32_t check = QmxCheck();
  if (check == 0) throw Failure(kNoProgrammer, "no part answers in the socket (is " + part.name + " inserted?)");
  if (part.family == qmx::kFamilyMicrowire && part.variant == 0 && check != part.addressBits)
    std::fprintf(stderr, "warning: the part reports %d address bits; %s in %s has %d\n", static_cast<int>(check),
                 part.name.c_str(), part.wordOrganised ? "x16" : "x8", part.addressBits);
}

PartChoice ChoosePart(const Options& o) {
  qmx::cli::Organisation org = qmx::cli::Organisation::kDefault;
  if (o.org == "x8") org = qmx::cli::Organisation::kX8;
  if (o.org == "x16") org = qmx::cli::Organisation::kX16;
  std::string error;
  auto part = qmx::cli::ChoosePart(o.part, org, &error);
  if (!part) throw Failure(kUsage, error);
  std::string note;
  if (!qmx::cli::ApplyPageSize(*part, o.pageSize, &note, &error)) throw Failure(kUsage, error);
  // On standard error: dump's standard output is the part's contents.
  if (!note.empty() && !o.quiet) std::fprintf(stderr, "%s\n", note.c_str());
  return *part;
}

Range ChooseRange(const Options& o, const PartChoice& part, std::int64_t length) {
  std::string error;
  auto range = qmx::cli::CheckRange(part, o.start, length, &error);
  if (!range) throw Failure(kUsage, error);
  return *range;
}

std::string FormatOf(const Options& o, const std::string& path) {
  if (!o.format.empty()) return o.format;
  auto dot = path.find_last_of('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext == "hex" || ext == "ihex" || ext == "ihx") return "hex";
  if (ext == "bin" || ext == "rom" || ext == "eep") return "bin";
  throw Failure(kUsage, "cannot tell the format of " + path + " from its name: use --format hex|bin");
}

// What a file says the range should hold. Binary files are placed at --start;
// HEX files carry their own addresses.
struct Expected {
  Range range;
  Bytes bytes;  // range.length bytes
};

Expected LoadExpected(const Options& o, const PartChoice& part) {
  const std::string format = FormatOf(o, o.file);
  if (format == "bin") {
    const qmx::FileContents file = qmx::ReadWholeFile(o.file, static_cast<std::size_t>(part.size));
    if (file.status == qmx::FileReadStatus::kCannotRead) throw Failure(kUsage, "cannot read " + o.file);
    if (file.status == qmx::FileReadStatus::kTooLong)
      throw Failure(kUsage, o.file + " is longer than " + part.name + " (" + std::to_string(part.size) + " bytes)");
    std::int64_t length = static_cast<std::int64_t>(file.bytes.size());
    if (o.length >= 0) {
      if (o.length > length) throw Failure(kUsage, "--length is longer than " + o.file);
      length = o.length;
    }
    ChooseRange(o, part, 0);  // --start inside the part before it takes part in any sum
    if (length > part.size - o.start)
      throw Failure(kUsage, o.file + " does not fit in " + part.name + " from " + Hex(o.start, 4));
    const Range range = ChooseRange(o, part, length);
    // Writing or verifying nothing would report success for a part nobody touched.
    if (range.length == 0) throw Failure(kUsage, "nothing to write: " + o.file + " or the range is empty");
    return {range, Bytes(file.bytes.begin(), file.bytes.begin() + range.length)};
  }
  qmx::MemoryImage image;
  image.SetSize(part.size);
  qmx::IntelHexStats stats;
  const bool ok = qmx::LoadIntelHex(o.file, image, &stats);
  if (stats.lineTooLong) throw Failure(kUsage, o.file + ": a line is longer than 255 characters");
  if (stats.checksumError) throw Failure(kUsage, o.file + ": a record is damaged (bad checksum or digits)");
  if (!ok) throw Failure(kUsage, "cannot read " + o.file);
  if (stats.droppedBytes > 0)
    throw Failure(kUsage, o.file + " holds data up to " + Hex(stats.highestAddress, 4) + ", beyond " + part.name +
                              " (" + std::to_string(part.size) + " bytes)");
  // Without a single data record the whole part would be written as 0xFF: an
  // empty file, a file in another format, or text that only looks like HEX.
  if (stats.dataBytes == 0) throw Failure(kUsage, o.file + " holds no Intel HEX data records");
  if (!stats.endRecord)
    std::fprintf(stderr, "qmx71: warning: %s has no end record; it may be cut short\n", o.file.c_str());
  if (stats.ignoredLines > 0)
    std::fprintf(stderr, "qmx71: warning: %s: %lld line(s) that are not records were ignored\n", o.file.c_str(),
                 static_cast<long long>(stats.ignoredLines));
  const Range range = ChooseRange(o, part, o.length);
  if (range.length == 0) throw Failure(kUsage, "nothing to write: the range is empty");
  return {range, Bytes(image.Data() + range.start, image.Data() + range.start + range.length)};
}

void CheckInterrupt() {
  if (g_interrupted) throw Failure(kInterrupted, "interrupted");
}

// Runs `step` over page-aligned pieces with progress; a failed piece stops it.
void ForPieces(const Options& o, const char* label, const PartChoice& part, const Range& range,
               const std::function<bool(const Range&)>& step, const char* whatFailed) {
  Progress progress(!o.quiet, label, range.length);
  std::int64_t done = 0;
  const std::int32_t piece = std::max<std::int32_t>(part.page, std::max<std::int32_t>(256, range.length / 64));
  for (const Range& r : qmx::cli::SplitRange(range, part.page, piece)) {
    CheckInterrupt();
    if (!step(r)) throw Failure(kProgrammerError, std::string(whatFailed) + " at " + Hex(r.start, 4));
    done += r.length;
    progress.Draw(done);
  }
}

Bytes ReadRange(const Options& o, const PartChoice& part, const Range& range, const char* label = "read") {
  Bytes data(static_cast<std::size_t>(range.length), 0xFF);
  ForPieces(o, label, part, range, [&](const Range& r) {
    return QmxRead(part.device, r.start, data.data() + (r.start - range.start), r.length, 256) == 1;
  }, "reading failed");
  return data;
}

// Pages are streamed; the programmer carries them out in order at its own
// pace. Any answer it gives afterwards comes after the last page is written.
void ConfirmCarriedOut(const char* what) {
  if (QmxFrmVer() == 0)
    throw Failure(kProgrammerError, std::string(what) + " failed: the programmer did not confirm the last page");
}

void WriteRange(const Options& o, const PartChoice& part, const Range& range, const Bytes& data) {
  ForPieces(o, "write", part, range, [&](const Range& r) {
    return QmxWrite(part.device, r.start, data.data() + (r.start - range.start), r.length, part.page) == 1;
  }, "writing failed (the programmer did not take every page)");
  ConfirmCarriedOut("writing");
}

void EraseRange(const Options& o, const PartChoice& part, const Range& range) {
  ForPieces(o, "erase", part, range, [&](const Range& r) {
    return QmxErase(part.device, r.start, nullptr, r.length, part.page) == 1;
  }, "erasing failed");
  ConfirmCarriedOut("erasing");
}

// 0 when equal; otherwise reports the first difference and gives kMismatch.
int ReportDifferences(const Range& range, const Bytes& part, const Bytes& expected, const char* what) {
  std::size_t differing = 0, first = 0;
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (part[i] == expected[i]) continue;
    if (differing++ == 0) first = i;
  }
  if (differing == 0) return kOk;
  std::fprintf(stderr, "%s: %zu byte(s) differ; first at %s: part %s, %s %s\n", what, differing,
               Hex(range.start + static_cast<std::int64_t>(first), 4).c_str(), Hex(part[first], 2).c_str(),
               what[0] == 'b' ? "expected" : "file", Hex(expected[first], 2).c_str());
  return kMismatch;
}

int Verify(const Options& o, const PartChoice& part, const Expected& want) {
  const Bytes got = ReadRange(o, part, want.range, "verify");
  const int result = ReportDifferences(want.range, got, want.bytes, "verify");
  if (result == kOk) Say(o, "verify: " + std::to_string(want.range.length) + " bytes match");
  return result;
}

int BlankCheck(const Options& o, const PartChoice& part, const Range& range) {
  const Bytes got = ReadRange(o, part, range, "blank");
  const int result = ReportDifferences(range, got, Bytes(got.size(), 0xFF), "blank check");
  if (result == kOk) Say(o, "blank: " + std::to_string(range.length) + " bytes are 0xFF");
  return result;
}

void SaveFile(const Options& o, const Range& range, const Bytes& data) {
  const std::string format = FormatOf(o, o.output);
  bool ok = false;
  if (format == "bin") {
    ok = qmx::WriteFileReplacing(o.output, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  } else {
    ok = qmx::WriteFileReplacing(o.output, qmx::FormatIntelHexRange(data.data(), range.start, range.length));
  }
  if (!ok) throw Failure(kUsage, "cannot write " + o.output + " (an existing file was left as it was)");
}

std::string RangeText(const Range& r) {
  return Hex(r.start, 4) + ".." + Hex(static_cast<std::int64_t>(r.start) + r.length - 1, 4) + " (" +
         std::to_string(r.length) + " bytes)";
}

// --- subcommands -----------------------------------------------------------

int CmdParts() {
  for (const std::string& line : qmx::cli::CatalogueLines()) std::printf("%s\n", line.c_str());
  return kOk;
}

int CmdInfo(const Options& o) {
  Session session;
  Connect(o, qmx::kFamilyI2c, 0);  // every model takes I2C
  const std::string port = o.port.empty() ? DiscoveredPort() : o.port;
  const bool microwire = QmxMode(qmx::kFamilyMicrowire, 0, o.writeTimeMs) == 1;
  const bool spi = QmxMode(qmx::kFamilySpi, 0, o.writeTimeMs) == 1;
  const char* model = microwire && spi ? "QMX-71C" : microwire ? "QMX-71A" : spi ? "QMX-71B" : "unknown";
  std::printf("port:       %s\n", port.c_str());
  std::printf("model:      %s (families: %s)\n", model,
              microwire && spi ? "Microwire, I2C, SPI" : microwire ? "Microwire, I2C" : spi ? "SPI, I2C" : "I2C");
  const std::int32_t firmware = QmxFrmVer();
  std::printf("firmware:   %s\n", firmware ? VersionText(firmware).c_str() : "no answer");
  const std::int32_t supply = QmxVpp();
  if (supply > 0) {
    std::printf("supply:     %d.%02d V\n", static_cast<int>(supply / 100), static_cast<int>(supply % 100));
  } else {
    std::printf("supply:     no reading\n");
  }
  std::vector<int> families{qmx::kFamilyI2c};
  if (microwire) families.insert(families.begin(), qmx::kFamilyMicrowire);
  if (spi) families.push_back(qmx::kFamilySpi);
  if (!o.part.empty()) {
    const PartChoice part = ChoosePart(o);
    families = {part.family};
  }
  for (int family : families) {
    if (QmxMode(family, 0, o.writeTimeMs) != 1) continue;
    if (o.clockHz > 0) QmxSetFreq(o.clockHz);
    const std::int32_t hz = QmxGetFreq();
    // QmxGetFreq gives 0 both for a clock of 0 and for no answer; a
    // programmer that still answers did send the 0.
    const std::string clock = hz > 0 ? std::to_string(hz) + " Hz" : QmxFrmVer() != 0 ? "0 Hz (not set)" : "no answer";
    const std::int32_t check = QmxCheck();
    std::string present = check == 0 ? "no part" : "part present";
    if (check != 0 && family == qmx::kFamilyMicrowire) present += " (" + std::to_string(check) + " address bits)";
    std::printf("%-10s  clock %s, %s\n", (std::string(FamilyName(family)) + ":").c_str(), clock.c_str(),
                present.c_str());
  }
  return kOk;
}

int CmdRead(const Options& o) {
  const PartChoice part = ChoosePart(o);
  const Range range = ChooseRange(o, part, o.length);
  FormatOf(o, o.output);  // a bad name fails before the part is read
  Session session;
  ConnectForPart(o, part);
  const Bytes data = ReadRange(o, part, range);
  SaveFile(o, range, data);
  Say(o, "read " + part.name + " " + RangeText(range) + " into " + o.output);
  return kOk;
}

int CmdDump(const Options& o) {
  const PartChoice part = ChoosePart(o);
  const Range range = ChooseRange(o, part, o.length);
  qmx::DumpLayout layout = qmx::DumpLayout::kBytes;
  if (o.layout == "le") layout = qmx::DumpLayout::kLittleEndianWords;
  if (o.layout == "be") layout = qmx::DumpLayout::kBigEndianWords;
  if (range.start % 16 != 0 || range.length % 16 != 0)
    throw Failure(kUsage, "dump shows whole lines: --start and --length must be multiples of 16");
  Session session;
  ConnectForPart(o, part);
  const Bytes data = ReadRange(o, part, range);
  // Addresses count from the range's start in the dump's own unit.
  const std::int64_t step = layout == qmx::DumpLayout::kBytes ? 16 : 8;
  std::int64_t address = (layout == qmx::DumpLayout::kBytes ? range.start : range.start / 2);
  for (const std::string& line : qmx::HexDumpLines(data.data(), data.size(), layout)) {
    std::printf("%05llX%s\n", static_cast<unsigned long long>(address), line.c_str() + 5);
    address += step;
  }
  return kOk;
}

int CmdWrite(const Options& o) {
  const PartChoice part = ChoosePart(o);
  const Expected want = LoadExpected(o, part);
  Session session;
  ConnectForPart(o, part);
  WriteRange(o, part, want.range, want.bytes);
  Say(o, "wrote " + part.name + " " + RangeText(want.range) + " (not verified: qmx71 verify checks it)");
  return kOk;
}

int CmdVerify(const Options& o) {
  const PartChoice part = ChoosePart(o);
  const Expected want = LoadExpected(o, part);
  Session session;
  ConnectForPart(o, part);
  return Verify(o, part, want);
}

int CmdErase(const Options& o) {
  const PartChoice part = ChoosePart(o);
  const Range range = ChooseRange(o, part, o.length);
  Session session;
  ConnectForPart(o, part);
  EraseRange(o, part, range);
  Say(o, "erased " + part.name + " " + RangeText(range));
  return kOk;
}

int CmdBlank(const Options& o) {
  const PartChoice part = ChoosePart(o);
  const Range range = ChooseRange(o, part, o.length);
  Session session;
  ConnectForPart(o, part);
  return BlankCheck(o, part, range);
}

int CmdChecksum(const Options& o) {
  const PartChoice part = ChoosePart(o);
  const Range range = ChooseRange(o, part, o.length);
  Session session;
  ConnectForPart(o, part);
  const Bytes data = ReadRange(o, part, range, "checksum");
  std::uint32_t sum = 0;
  for (std::uint8_t b : data) sum += b;
  std::printf("%04X\n", static_cast<unsigned>(sum & 0xFFFF));
  if (!o.quiet) std::fprintf(stderr, "sum of %s %s: %u\n", part.name.c_str(), RangeText(range).c_str(), sum);
  return kOk;
}

int CmdProgram(const Options& o) {
  const PartChoice part = ChoosePart(o);
  const Expected want = LoadExpected(o, part);
  Session session;
  ConnectForPart(o, part);
  if (!o.noErase) {
    EraseRange(o, part, want.range);
    Say(o, "erase: done");
    if (int r = BlankCheck(o, part, want.range); r != kOk) return r;
  }
  WriteRange(o, part, want.range, want.bytes);
  Say(o, "write: " + std::to_string(want.range.length) + " bytes written");
  const int result = Verify(o, part, want);
  if (result == kOk) Say(o, "programmed " + part.name + " " + RangeText(want.range) + " from " + o.file);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"qmx71: read, write and verify serial EEPROMs with the QMX71 programmer"};
  app.footer(kExitCodes);
  app.require_subcommand(1);
  app.fallthrough();
  Options o;
  app.add_option("--port", o.port, "serial port of the programmer (else USB discovery)");
  app.add_flag("-q,--quiet", o.quiet, "no progress bar and no report lines");
  app.add_option("--start", o.start, "first address of the range (default 0)");
  auto* lengthOption =
      app.add_option("--length", o.length, "bytes in the range (default: to the end, or the binary file's length)");
  app.add_option("--page-size", o.pageSize,
                 "bytes per write command, 1-256, or auto: the part's datasheet page (recommended, with a verify "
                 "after it; default: the catalogue's page, 1)");
  app.add_option("--clock", o.clockHz, "bus clock in Hz")->check(CLI::PositiveNumber);
  app.add_option("--write-time", o.writeTimeMs, "longest write cycle in ms (default 50)")->check(CLI::Range(1, 255));
  app.add_option("--org", o.org, "Microwire organisation (default x16)")->check(CLI::IsMember({"x8", "x16"}));
  app.add_option("--format", o.format, "file format (default: from the file name)")
      ->check(CLI::IsMember({"hex", "bin"}));

  app.add_subcommand("parts", "list the parts, their sizes and device numbers");
  auto* info = app.add_subcommand("info", "show port, model, firmware, supply, clock and whether a part answers");
  info->add_option("part", o.part, "check for this part only");
  auto* read = app.add_subcommand("read", "read a part into a file");
  read->add_option("part", o.part, "part name (qmx71 parts)")->required();
  read->add_option("-o,--output", o.output, "file to write (.hex or .bin)")->required();
  auto* write = app.add_subcommand("write", "write a file into a part (no erase, no verify)");
  auto* verify = app.add_subcommand("verify", "compare a part with a file");
  auto* program = app.add_subcommand("program", "erase, blank check, write and verify");
  program->add_flag("--no-erase", o.noErase, "skip the erase and the blank check");
  for (auto* sub : {write, verify, program}) {
    sub->add_option("part", o.part, "part name (qmx71 parts)")->required();
    sub->add_option("file", o.file, "data file (.hex or .bin)")->required()->check(CLI::ExistingFile);
  }
  auto* erase = app.add_subcommand("erase", "fill a part with 0xFF");
  auto* blank = app.add_subcommand("blank", "check that a part is all 0xFF");
  auto* checksum = app.add_subcommand("checksum", "16-bit sum of a part's bytes");
  auto* dump = app.add_subcommand("dump", "hex dump of a part on standard output");
  dump->add_option("--layout", o.layout, "bytes, le (16-bit little-endian words) or be")
      ->check(CLI::IsMember({"bytes", "le", "be"}));
  for (auto* sub : {erase, blank, checksum, dump}) sub->add_option("part", o.part, "part name (qmx71 parts)")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kOk : kUsage;
  }
  // -1 stands for "not given" inside; a negative length typed by the user is no range.
  if (lengthOption->count() > 0 && o.length < 0) {
    std::fprintf(stderr, "qmx71: --length must not be negative\n");
    return kUsage;
  }

  qmx::cli::CatchInterrupts(OnInterrupt);

  const std::string name = app.get_subcommands().front()->get_name();
  try {
    if (name == "parts") return CmdParts();
    if (name == "info") return CmdInfo(o);
    if (name == "read") return CmdRead(o);
    if (name == "dump") return CmdDump(o);
    if (name == "write") return CmdWrite(o);
    if (name == "verify") return CmdVerify(o);
    if (name == "erase") return CmdErase(o);
    if (name == "blank") return CmdBlank(o);
    if (name == "checksum") return CmdChecksum(o);
    if (name == "program") return CmdProgram(o);
  } catch (const Failure& f) {
    std::fprintf(stderr, "qmx71: %s\n", f.message().c_str());
    return f.code();
  }
  return kUsage;
}
