// qmx71adll.dll as a Windows host sees it: loaded at run time, its exports
// found by name and by ordinal, driven against the simulated programmer on
// the COM port named in $QMX_WIN_TEST_PORT (cases that need it skip without).
// Run with "--exit-connected", the program connects and returns from main
// without QmxClose: a host that forgot it.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

constexpr const char* kDll = "qmx71adll.dll";
constexpr const char* kExports[20] = {
    "_QmxOpen",      "_QmxClose",    "_QmxMode",   "_QmxCheck",    "_QmxRead",
    "_QmxCompare",   "_QmxBlankChk", "_QmxChecksum", "_QmxWrite",  "_QmxErase",
    "_QmxDllVer",    "_QmxFrmVer",   "_QmxSetFreq", "_QmxGetFreq", "_QmxGetSwitch",
    "_QmxSetEvent",  "_QmxReset",    "_QmxVpp",    "_QmxDWrite",   "_QmxDRead"};

// 24C64 in the simulator's socket: I2C, device 7.
constexpr std::int32_t kI2c = 1;
constexpr std::int32_t k24C64 = 7;
constexpr std::int32_t kPartSize = 8192;

using OpenFn = std::int32_t (*)(std::int32_t, std::int32_t, std::int32_t, std::int32_t);
using CloseFn = void (*)();
using RangeFn = std::int32_t (*)(std::int32_t, std::int32_t, std::uint8_t*, std::int32_t, std::int32_t);
using SetEventFn = std::intptr_t (*)(std::intptr_t);
using IntFn = std::int32_t (*)();

// The exports by ordinal, as older hosts bind them.
struct Dll {
  HMODULE module = ::LoadLibraryA(kDll);
  template <typename F>
  F At(int ordinal) const {
    // Through void(*)(): the one function type every other converts to cleanly.
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
  }
  OpenFn Open() const { return At<OpenFn>(1); }
  CloseFn Close() const { return At<CloseFn>(2); }
  RangeFn Read() const { return At<RangeFn>(5); }
  RangeFn Compare() const { return At<RangeFn>(6); }
  RangeFn Write() const { return At<RangeFn>(9); }
  SetEventFn SetEvent() const { return At<SetEventFn>(16); }
  IntFn GetSwitch() const { return At<IntFn>(15); }
};

std::string SimPort() {
  const char* port = std::getenv("QMX_WIN_TEST_PORT");
  return port != nullptr && std::getenv("QMX_WIN_SIM_LOG") != nullptr ? port : "";
}

// Through the process block, where the library looks (not the C runtime's copy).
void UsePort(const std::string& port) { ::SetEnvironmentVariableA("QMX71_PORT", port.c_str()); }

std::vector<std::uint8_t> Pattern(unsigned seed) {
  std::vector<std::uint8_t> bytes(kPartSize);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i * 131 + seed) >> 3);
  return bytes;
}

// Commands the simulator logged with this text, e.g. "DEV_CTRL 08" (supply off).
int LoggedCount(const std::string& text) {
  std::ifstream log(std::getenv("QMX_WIN_SIM_LOG"));
  int count = 0;
  for (std::string line; std::getline(log, line);) count += line == text ? 1 : 0;
  return count;
}

TEST(DllExports, EveryOrdinalIsItsNameAndNothingElse) {
  Dll dll;
  ASSERT_NE(dll.module, nullptr);
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(kExports[i]);
    const FARPROC byName = ::GetProcAddress(dll.module, kExports[i]);
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(dll.At<FARPROC>(i + 1), byName);
  }
  EXPECT_EQ(dll.At<FARPROC>(21), nullptr);
  EXPECT_EQ(::GetProcAddress(dll.module, "QmxOpen"), nullptr);
  EXPECT_EQ(::GetProcAddress(dll.module, "DllMain"), nullptr);
  // Unconnected, the last FreeLibrary unloads it.
  ASSERT_TRUE(::FreeLibrary(dll.module));
  EXPECT_EQ(::GetModuleHandleA(kDll), nullptr);
}

class SimulatedProgrammer : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = SimPort();
    if (port_.empty()) GTEST_SKIP() << "no simulated programmer ($QMX_WIN_TEST_PORT, $QMX_WIN_SIM_LOG)";
    UsePort(port_);
    ASSERT_NE(dll_.module, nullptr);
  }
  void TearDown() override {
    if (dll_.module != nullptr) {
      dll_.Close()();
      ::FreeLibrary(dll_.module);
    }
  }
  std::string port_;
  Dll dll_;
};

TEST_F(SimulatedProgrammer, WriteReadCompareAndTheSwitchEvent) {
  ASSERT_EQ(dll_.Open()(kI2c, 0, 50, 0), 1);
  std::vector<std::uint8_t> data = Pattern(5);
  ASSERT_EQ(dll_.Write()(k24C64, 0, data.data(), kPartSize, 32), 1);
  std::vector<std::uint8_t> back(kPartSize);
  ASSERT_EQ(dll_.Read()(k24C64, 0, back.data(), kPartSize, 64), 1);
  EXPECT_EQ(back, data);
  EXPECT_EQ(dll_.Compare()(k24C64, 0, data.data(), kPartSize, 64), 1);
  data[4000] ^= 0x10;
  EXPECT_EQ(dll_.Compare()(k24C64, 0, data.data(), kPartSize, 64), 0);

  // The harness presses the switch twice a second: the host's event is set
  // and stays the host's.
  const HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(dll_.SetEvent()(reinterpret_cast<std::intptr_t>(event)), reinterpret_cast<std::intptr_t>(event));
  // Reports arrive with answers: keep the link busy while waiting.
  const auto start = Clock::now();
  bool set = false;
  while (!set && MsSince(start) < 5000) {
    dll_.Read()(k24C64, 0, back.data(), 16, 16);
    set = ::WaitForSingleObject(event, 50) == WAIT_OBJECT_0;
  }
  EXPECT_TRUE(set);
  const std::int32_t state = dll_.GetSwitch()();
  EXPECT_TRUE(state == 0 || state == 1) << state;
  dll_.SetEvent()(0);
  EXPECT_TRUE(::CloseHandle(event));
}

TEST_F(SimulatedProgrammer, FreeLibraryWhileConnectedNeverHangsTheHost) {
  ASSERT_EQ(dll_.Open()(kI2c, 0, 50, 0), 1);
  // The reader thread still runs the library's code: FreeLibrary returns at
  // once and the library stays loaded, connected, until QmxClose.
  const auto start = Clock::now();
  ASSERT_TRUE(::FreeLibrary(dll_.module));
  EXPECT_LT(MsSince(start), 1000);
  ASSERT_EQ(::GetModuleHandleA(kDll), dll_.module);
  dll_.module = ::LoadLibraryA(kDll);
  std::vector<std::uint8_t> back(256);
  EXPECT_EQ(dll_.Read()(k24C64, 0, back.data(), 256, 64), 1);
  const int offs = LoggedCount("DEV_CTRL 08");
  dll_.Close()();
  EXPECT_EQ(LoggedCount("DEV_CTRL 08"), offs + 1);
  ASSERT_TRUE(::FreeLibrary(dll_.module));
  dll_.module = nullptr;
  EXPECT_EQ(::GetModuleHandleA(kDll), nullptr);
}

TEST_F(SimulatedProgrammer, HostExitingWithoutCloseSwitchesTheSupplyOff) {
  char self[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  std::string command = std::string("\"") + self + "\" --exit-connected";
  const int offs = LoggedCount("DEV_CTRL 08");
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const auto start = Clock::now();
  ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  const DWORD waited = ::WaitForSingleObject(pi.hProcess, 10000);
  DWORD code = 99;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  ASSERT_EQ(waited, WAIT_OBJECT_0) << "the host did not exit";
  EXPECT_EQ(code, 0u);
  EXPECT_LT(MsSince(start), 5000);
  // The simulator logs what it took a moment later, in order.
  while (LoggedCount("DEV_CTRL 08") == offs && MsSince(start) < 5000) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(LoggedCount("DEV_CTRL 08"), offs + 1);
  // The port was released: the next connect works.
  EXPECT_EQ(dll_.Open()(kI2c, 0, 50, 0), 1);
}

// The child of the case above: connected, busy, and gone without QmxClose.
int ExitConnected() {
  Dll dll;
  if (dll.module == nullptr || dll.Open()(kI2c, 0, 50, 0) != 1) return 2;
  std::vector<std::uint8_t> back(256);
  if (dll.Read()(k24C64, 0, back.data(), 256, 64) != 1) return 3;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--exit-connected") return ExitConnected();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
