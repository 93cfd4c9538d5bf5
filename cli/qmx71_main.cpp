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
#include "cli/qmx71_production.h"
#include "cli/qmx71_reports.h"
#include "cli/qmx71_steps.h"
#include "core/catalogue/catalogue.h"
#include "core/discovery/port_discovery.h"
#include "core/platform/serial_backend.h"
#include "image/file_io.h"
#include "image/hex_dump.h"
#include "image/intel_hex.h"
#include "image/memory_image.h"
#include "library/qmx71a.h"

namespace {

using namespace qmx::tool;

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0  success\n"
    "  1  verify, blank check, compare or diff mismatch; repeated reads that disagree;\n"
    "     a part that failed in a program loop\n"
    "  2  usage or file error\n"
    "  3  no programmer, no part, or the programmer does not take the part's family\n"
    "  4  programmer error (an operation failed or was not answered)\n"
    "  130 interrupted\n"
    "The port is --port, else the programmer found on USB; QMX71_PORT names one\n"
    "explicitly for programs that cannot pass --port.";

extern "C" void OnInterrupt(int) { g_interrupted = true; }

int CmdParts() {
  for (const std::string& line : qmx::cli::CatalogueLines()) std::printf("%s\n", line.c_str());
  return kOk;
}

int CmdRead(const Options& o) {
  const PartChoice part = ChoosePart(o);
  const Range range = ChooseRange(o, part, o.length);
  FormatOf(o, o.output);  // a bad name fails before the part is read
  Session session;
  ConnectForPart(o, part);
  const Bytes data = ReadStable(o, part, range, "read");
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
  return o.json ? VerifyJson(o, part, want) : Verify(o, part, want);
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
  app.add_flag("--no-pipeline", o.noPipeline,
               "read block by block, each after the answer to the one before (for firmware that cannot keep up)");
  app.add_option("--clock", o.clockHz, "bus clock in Hz")->check(CLI::PositiveNumber);
  app.add_option("--write-time", o.writeTimeMs, "longest write cycle in ms (default 50)")->check(CLI::Range(1, 255));
  app.add_option("--org", o.org, "Microwire organisation (default x16)")->check(CLI::IsMember({"x8", "x16"}));
  app.add_option("--format", o.format,
                 "file format: hex (Intel HEX), srec (S-record) or bin (default: from the file name)")
      ->check(CLI::IsMember({"hex", "srec", "bin"}));

  app.add_subcommand("parts", "list the parts, their sizes and device numbers");
  app.add_subcommand("ports", "list every attached programmer: port, model and firmware (busy: in use)");
  auto* info = app.add_subcommand("info", "show port, model, firmware, supply, clock and whether a part answers");
  info->add_option("part", o.part, "check for this part only");
  auto* read = app.add_subcommand("read", "read a part into a file");
  read->add_option("part", o.part, "part name (qmx71 parts)")->required();
  read->add_option("-o,--output", o.output, "file to write (.hex, .srec/.s19/.s28/.s37/.mot or .bin)")->required();
  auto* write = app.add_subcommand("write", "write a file into a part (no erase, no verify)");
  auto* verify = app.add_subcommand("verify", "compare a part with a file");
  auto* program = app.add_subcommand("program", "erase, blank check, write and verify");
  program->add_flag("--no-erase", o.noErase, "skip the erase and the blank check");
  ProductionOptions production;
  AddProductionOptions(program, &production);
  program->add_flag("--loop", o.loop,
                    "part after part: wait for a part, program it, wait for its removal; Ctrl-C ends "
                    "(exit 0 all passed, 1 some failed)");
  for (auto* sub : {read, verify}) {
    sub->add_option("--repeat", o.repeat,
                    "read N times (2-100) and list every address that changed between reads (a loose contact)")
        ->check(CLI::Range(2, 100));
  }
  for (auto* sub : {write, verify, program}) {
    sub->add_option("part", o.part, "part name (qmx71 parts)")->required();
    sub->add_option("file", o.file, "data file (.hex, .srec/.s19/.s28/.s37/.mot or .bin)")->required()->check(CLI::ExistingFile);
  }
  auto* erase = app.add_subcommand("erase", "fill a part with 0xFF");
  auto* blank = app.add_subcommand("blank", "check that a part is all 0xFF");
  auto* checksum = app.add_subcommand("checksum", "16-bit sum (or CRC-32, SHA-256) of a part's bytes");
  checksum->add_option("--algo", o.algo, "sum16 (default), crc32 (as zlib) or sha256")
      ->check(CLI::IsMember({"sum16", "crc32", "sha256"}));
  auto* diff = app.add_subcommand("diff", "every range where a part and a file, or two files, differ");
  diff->add_option("first", o.part, "part name (qmx71 parts) or file")->required();
  diff->add_option("file", o.file, "data file")->required()->check(CLI::ExistingFile);
  for (auto* sub : {info, verify, checksum, diff})
    sub->add_flag("--json", o.json, "one JSON object on standard output (see the manual page)");
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
    if (name == "ports") return CmdPorts(o);
    if (name == "info") return CmdInfo(o);
    if (name == "read") return CmdRead(o);
    if (name == "dump") return CmdDump(o);
    if (name == "write") return CmdWrite(o);
    if (name == "verify") return CmdVerify(o);
    if (name == "erase") return CmdErase(o);
    if (name == "blank") return CmdBlank(o);
    if (name == "checksum") return CmdChecksum(o);
    if (name == "program") return CmdProgram(o, production);
    if (name == "diff") return CmdDiff(o);
  } catch (const Failure& f) {
    std::fprintf(stderr, "qmx71: %s\n", f.message().c_str());
    return f.code();
  }
  return kUsage;
}
