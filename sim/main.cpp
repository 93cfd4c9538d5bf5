// qmx71-sim: the simulated programmer as a program, for scripts and manual tests.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/simulator.h"

namespace {

using qmx::sim::LoggedCommand;
using qmx::sim::PtySimulator;

constexpr int kUsageExit = 2;

struct ProgramArgs {
  qmx::sim::Options options;
  std::string link;
  std::string part, load, save;
  bool log = false;
};

void PrintUsage(std::FILE* to) {
  std::fputs(
      "usage: qmx71-sim [--model TEXT] [--vcc-reading R] [--firmware MAJOR.MINOR]\n"
      "                 [--link PATH] [--timing instant|real] [--latency-us N] [--log]\n"
      "                 [--part NAME [--load FILE] [--save FILE]] [--write-cycle-us N]\n"
      "                 [--external-supply] [--flaky-contact RATE]\n"
      "  --model TEXT           name answered to GET_NAME (default QMX-71A)\n"
      "  --vcc-reading R        supply reading 1..255 (default 79, shown as 3.30 V)\n"
      "  --firmware MAJOR.MINOR version bytes in hex, shown as typed (default 1.00)\n"
      "  --link PATH            keep a symbolic link at PATH to the current port\n"
      "  --timing instant|real  instant (default), or real: commands take bus time at the set\n"
      "                         clock (100 kHz until SET_FREQ) and run strictly in order\n"
      "  --latency-us N         delay each answer by N microseconds (default 0, real: 1000)\n"
      "  --log                  print every command received to standard error\n"
      "  --part NAME            put the part NAME (93C46, 9016, 24C02, 25C640, ...) in the socket\n"
      "  --load FILE            fill the part from a raw binary file (from address 0)\n"
      "  --save FILE            write the part's contents to FILE on exit\n"
      "  --write-cycle-us N     each write keeps the part busy for N microseconds\n"
      "                         (default 0, real: 5000)\n"
      "  --external-supply      the part is powered whatever the programmer's supply\n"
      "  --flaky-contact RATE   a bad contact: each byte read has a random bit flipped with\n"
      "                         probability RATE (0..1); the part's contents stay as they are\n"
      "Prints the port path as the first line, then serves until SIGTERM or SIGINT.\n"
      "SIGUSR1 presses the push switch, SIGUSR2 releases it. Standard input takes\n"
      "the lines: press, release, unplug, replug, vcc R, part NAME, remove, quit,\n"
      "hang (stop reading from and answering the host), resume.\n",
      to);
}

template <typename T>
bool ParseNumber(std::string_view text, T& out, int base = 10) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out, base);
  return ec == std::errc() && ptr == end && !text.empty();
}

bool ParseNumber(std::string_view text, double& out) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end && !text.empty();
}

bool ParseFirmware(std::string_view text, qmx::sim::Options& options) {
  const auto dot = text.find('.');
  if (dot == std::string_view::npos) return false;
  return ParseNumber(text.substr(0, dot), options.firmwareMajor, 16) &&
         ParseNumber(text.substr(dot + 1), options.firmwareMinor, 16);
}

bool ParseVcc(std::string_view text, std::uint8_t& out) { return ParseNumber(text, out) && out != 0; }

bool ParseOption(std::string_view name, std::string_view value, ProgramArgs& args) {
  if (name == "--model") {
    args.options.model = value;
    return true;
  }
  if (name == "--vcc-reading") return ParseVcc(value, args.options.vccReading);
  if (name == "--firmware") return ParseFirmware(value, args.options);
  if (name == "--link") {
    args.link = value;
    return !value.empty();
  }
  if (name == "--timing") {
    if (value != "instant" && value != "real") return false;
    args.options.timing = value == "real" ? qmx::sim::Timing::kReal : qmx::sim::Timing::kInstant;
    return true;
  }
  if (name == "--latency-us" || name == "--write-cycle-us") {
    std::uint32_t us = 0;
    if (!ParseNumber(value, us)) return false;
    (name == "--latency-us" ? args.options.answerLatency : args.options.writeCycle) = std::chrono::microseconds(us);
    return true;
  }
  if (name == "--flaky-contact") {
    double rate = 0;
    if (!ParseNumber(value, rate) || rate < 0 || rate > 1) return false;
    args.options.flakyContactRate = rate;
    return true;
  }
  if (name == "--part") {
    args.part = value;
    return qmx::sim::FindPartRow(value) != nullptr;
  }
  if (name == "--load" || name == "--save") {
    (name == "--load" ? args.load : args.save) = value;
    return !value.empty();
  }
  return false;
}

std::optional<ProgramArgs> ParseArgs(int argc, char** argv) {
  ProgramArgs args;
  args.options.keepLog = false;  // nobody reads it, and the program may run for days
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--log") {
      args.log = true;
    } else if (arg == "--external-supply") {
      args.options.externalSupply = true;
    } else if (i + 1 < argc && ParseOption(arg, argv[i + 1], args)) {
      ++i;
    } else {
      std::fprintf(stderr, "qmx71-sim: invalid argument '%s'\n", argv[i]);
      return std::nullopt;
    }
  }
  if ((!args.load.empty() || !args.save.empty()) && args.part.empty()) {
    std::fputs("qmx71-sim: --load and --save need --part\n", stderr);
    return std::nullopt;
  }
  return args;
}

// Raw binary, from address 0; a file longer than the part is refused.
bool LoadPart(const std::string& path, PtySimulator& sim) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "qmx71-sim: cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::uint8_t> contents = sim.PartContents();
  if (file.size() > contents.size()) {
    std::fprintf(stderr, "qmx71-sim: %s holds %zu bytes, the part only %zu\n", path.c_str(), file.size(),
                 contents.size());
    return false;
  }
  std::copy(file.begin(), file.end(), contents.begin());
  return sim.SetPartContents(contents);
}

// Through a temporary file, so that an interrupted save never leaves half a file.
bool SavePart(const std::string& path, const PtySimulator& sim) {
  const std::vector<std::uint8_t> contents = sim.PartContents();
  if (contents.empty()) {
    std::fputs("qmx71-sim: no part in the socket, nothing saved\n", stderr);
    return false;
  }
  const std::string temp = path + ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    if (!out.flush()) {
      std::remove(temp.c_str());
      std::fprintf(stderr, "qmx71-sim: cannot write %s\n", temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    std::fprintf(stderr, "qmx71-sim: cannot replace %s\n", path.c_str());
    return false;
  }
  return true;
}

void PrintCommand(const LoggedCommand& cmd) {
  std::string line = qmx::sim::CommandName(cmd.code);
  for (std::uint8_t b : cmd.args) {
    std::array<char, 4> hex{};
    std::snprintf(hex.data(), hex.size(), " %02X", b);
    line += hex.data();
  }
  line += '\n';
  std::fputs(line.c_str(), stderr);
}

void PrintPath(const PtySimulator& sim) {
  std::printf("%s\n", sim.PortPath().c_str());
  std::fflush(stdout);
}

// A script may start us with descriptors 0 to 2 closed; a pty must not land there.
void FillStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDWR);
  }
}

// Returns false when the line asks to quit.
bool HandleLine(std::string_view line, PtySimulator& sim) {
  if (line == "quit") return false;
  std::uint8_t r = 0;
  if (line == "press") {
    sim.PressSwitch();
  } else if (line == "release") {
    sim.ReleaseSwitch();
  } else if (line == "unplug") {
    sim.Unplug();
  } else if (line == "replug") {
    if (sim.Replug()) {
      PrintPath(sim);
    } else {
      std::fputs("qmx71-sim: replug failed\n", stderr);
    }
  } else if (line.starts_with("vcc ") && ParseVcc(line.substr(4), r)) {
    sim.SetVccReading(r);
  } else if (line.starts_with("part ")) {
    if (!sim.InsertPart(std::string(line.substr(5)))) std::fputs("qmx71-sim: unknown part\n", stderr);
  } else if (line == "remove") {
    sim.RemovePart();
  } else if (line == "hang") {
    sim.Hang();
  } else if (line == "resume") {
    sim.Resume();
  } else if (!line.empty()) {
    std::fprintf(stderr, "qmx71-sim: unknown command '%.*s'\n", static_cast<int>(line.size()), line.data());
  }
  return true;
}

// Returns false when a signal asks to stop.
bool HandleSignal(int signalFd, PtySimulator& sim) {
  signalfd_siginfo info{};
  if (read(signalFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return true;
  switch (info.ssi_signo) {
    case SIGUSR1: sim.PressSwitch(); return true;
    case SIGUSR2: sim.ReleaseSwitch(); return true;
    default: return false;
  }
}

// Returns false on quit; clears `open` at end of input, which does not stop us.
bool HandleInput(std::string& pending, bool& open, PtySimulator& sim) {
  std::array<char, 512> buffer;
  const ssize_t n = read(STDIN_FILENO, buffer.data(), buffer.size());
  if (n <= 0) {
    if (n == 0 || (errno != EINTR && errno != EAGAIN)) open = false;
    return true;
  }
  pending.append(buffer.data(), static_cast<std::size_t>(n));
  for (auto eol = pending.find('\n'); eol != std::string::npos; eol = pending.find('\n')) {
    std::string line = pending.substr(0, eol);
    pending.erase(0, eol + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!HandleLine(line, sim)) return false;
  }
  return true;
}

int Serve(PtySimulator& sim, int signalFd) {
  std::string pending;
  bool stdinOpen = true;
  for (;;) {
    std::array<pollfd, 2> fds = {{{signalFd, POLLIN, 0}, {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}}};
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    if ((fds[0].revents & POLLIN) && !HandleSignal(signalFd, sim)) return 0;
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      if (!HandleInput(pending, stdinOpen, sim)) return 0;
    } else if (fds[1].revents & POLLNVAL) {
      stdinOpen = false;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintUsage(stdout);
      return 0;
    }
  }
  std::optional<ProgramArgs> args = ParseArgs(argc, argv);
  if (!args) {
    PrintUsage(stderr);
    return kUsageExit;
  }
  FillStandardDescriptors();
  signal(SIGPIPE, SIG_IGN);
  // Blocked before any thread starts, so only the signalfd ever sees them.
  sigset_t handled;
  sigemptyset(&handled);
  for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2}) sigaddset(&handled, s);
  pthread_sigmask(SIG_BLOCK, &handled, nullptr);
  const int signalFd = signalfd(-1, &handled, SFD_CLOEXEC);
  if (signalFd < 0) {
    std::perror("qmx71-sim: signalfd");
    return 1;
  }

  PtySimulator sim(args->options);
  if (!args->part.empty()) sim.InsertPart(args->part);
  if (!args->load.empty() && !LoadPart(args->load, sim)) return kUsageExit;
  if (args->log) sim.SetCommandObserver(PrintCommand);
  if (!sim.Start()) {
    std::fputs("qmx71-sim: cannot open a pseudo-terminal\n", stderr);
    return 1;
  }
  if (!args->link.empty() && !sim.SetLinkPath(args->link)) {
    std::fprintf(stderr, "qmx71-sim: cannot create link %s\n", args->link.c_str());
    return 1;
  }
  PrintPath(sim);
  int rc = Serve(sim, signalFd);
  sim.Stop();
  close(signalFd);
  if (!args->save.empty() && !SavePart(args->save, sim)) rc = 1;
  return rc;
}
