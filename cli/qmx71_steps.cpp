// The steps qmx71's subcommands are made of: connecting, choosing the part
// and range, loading what a file says, reading, writing and erasing ranges
// with progress, and reporting differences.
#include "cli/qmx71_steps.h"

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
#include "cli/qmx71_files.h"
#include "core/catalogue/catalogue.h"
#include "core/discovery/port_discovery.h"
#include "core/platform/serial_backend.h"
#include "image/file_io.h"
#include "image/hex_dump.h"
#include "image/intel_hex.h"
#include "image/memory_image.h"
#include "library/qmx71a.h"

namespace qmx::tool {

std::atomic<bool> g_interrupted{false};

namespace {

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

}  // namespace

void Say(const Options& o, const std::string& line) {
  if (!o.quiet && !o.json) std::printf("%s\n", line.c_str());  // JSON alone on standard output
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

// The library reads its port and read pipelining where this program sets them; --port wins over discovery.
void ApplyPort(const Options& o) {
  if (!o.port.empty()) qmx::cli::SetLibraryVariable("QMX71_PORT", o.port);
  if (o.noPipeline) qmx::cli::SetLibraryVariable("QMX71_PIPELINE", "0");
}

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
  if (ext == "srec" || ext == "s19" || ext == "s28" || ext == "s37" || ext == "mot") return "srec";
  if (ext == "bin" || ext == "rom" || ext == "eep") return "bin";
  throw Failure(kUsage, "cannot tell the format of " + path + " from its name: use --format hex|srec|bin");
}

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
  const TextLoad stats = LoadTextImage(o.file, format, image);
  if (stats.droppedBytes > 0)
    throw Failure(kUsage, o.file + " holds data up to " + Hex(stats.highestAddress, 4) + ", beyond " + part.name +
                              " (" + std::to_string(part.size) + " bytes)");
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

Bytes ReadRange(const Options& o, const PartChoice& part, const Range& range, const char* label) {
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
int ReportDifferences(const Range& range, const Bytes& part, const Bytes& expected, const char* what,
                      Difference* difference) {
  std::size_t differing = 0, first = 0;
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (part[i] == expected[i]) continue;
    if (differing++ == 0) first = i;
  }
  if (differing == 0) return kOk;
  if (difference) *difference = {range.start + static_cast<std::int64_t>(first), differing};
  std::fprintf(stderr, "%s: %zu byte(s) differ; first at %s: part %s, %s %s\n", what, differing,
               Hex(range.start + static_cast<std::int64_t>(first), 4).c_str(), Hex(part[first], 2).c_str(),
               what[0] == 'b' ? "expected" : "file", Hex(expected[first], 2).c_str());
  return kMismatch;
}

int Verify(const Options& o, const PartChoice& part, const Expected& want, Difference* difference) {
  const Bytes got = ReadStable(o, part, want.range, "verify");
  const int result = ReportDifferences(want.range, got, want.bytes, "verify", difference);
  if (result == kOk) Say(o, "verify: " + std::to_string(want.range.length) + " bytes match");
  // One read cannot tell bits that flip on a loose contact from wrong data.
  if (result != kOk && o.repeat < 2)
    std::fprintf(stderr, "verify: qmx71 verify --repeat 5 tells a loose contact from wrong data\n");
  return result;
}

int BlankCheck(const Options& o, const PartChoice& part, const Range& range, Difference* difference) {
  const Bytes got = ReadRange(o, part, range, "blank");
  const int result = ReportDifferences(range, got, Bytes(got.size(), 0xFF), "blank check", difference);
  if (result == kOk) Say(o, "blank: " + std::to_string(range.length) + " bytes are 0xFF");
  return result;
}

void SaveFile(const Options& o, const Range& range, const Bytes& data) {
  SaveRange(o.output, FormatOf(o, o.output), range, data);
}

std::string RangeText(const Range& r) {
  return Hex(r.start, 4) + ".." + Hex(static_cast<std::int64_t>(r.start) + r.length - 1, 4) + " (" +
         std::to_string(r.length) + " bytes)";
}

}  // namespace qmx::tool
