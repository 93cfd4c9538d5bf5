// qmx71-sim: the simulated programmer as a program, for scripts and manual tests.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "sim/simulator.h"

namespace {

using qmx::sim::LoggedCommand;
using qmx::sim::PtySimulator;

constexpr int kUsageExit = 2;

struct ProgramArgs {
  qmx::sim::Options options;
  std::string link;
  bool log = false;
};

void PrintUsage(std::FILE* to) {
  std::fputs(
      "usage: qmx71-sim [--model TEXT] [--vcc-reading R] [--firmware MAJOR.MINOR]\n"
      "                 [--link PATH] [--latency-us N] [--log]\n"
      "  --model TEXT           name answered to GET_NAME (default QMX-71A)\n"
      "  --vcc-reading R        supply reading 1..255 (default 79, shown as 3.30 V)\n"
      "  --firmware MAJOR.MINOR version bytes in hex, shown as typed (default 1.00)\n"
      "  --link PATH            keep a symbolic link at PATH to the current port\n"
      "  --latency-us N         delay each answer by N microseconds\n"
      "  --log                  print every command received to standard error\n"
      "Prints the port path as the first line, then serves until SIGTERM or SIGINT.\n"
      "SIGUSR1 presses the push switch, SIGUSR2 releases it. Standard input takes\n"
      "the lines: press, release, unplug, replug, vcc R, quit.\n",
      to);
}

template <typename T>
bool ParseNumber(std::string_view text, T& out, int base = 10) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out, base);
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
  if (name == "--latency-us") {
    std::uint32_t us = 0;
    if (!ParseNumber(value, us)) return false;
    args.options.answerLatency = std::chrono::microseconds(us);
    return true;
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
    } else if (i + 1 < argc && ParseOption(arg, argv[i + 1], args)) {
      ++i;
    } else {
      std::fprintf(stderr, "qmx71-sim: invalid argument '%s'\n", argv[i]);
      return std::nullopt;
    }
  }
  return args;
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
  const int rc = Serve(sim, signalFd);
  sim.Stop();
  close(signalFd);
  return rc;
}
