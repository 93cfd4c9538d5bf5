// The Win32 side of the platform layer. Cases that need a COM port take its
// name from $QMX_WIN_TEST_PORT: a port whose far end echoes every byte.
#include <initguid.h>  // defines GUID_DEVCLASS_PORTS here
#include <windows.h>

#include <devguid.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/discovery/port_discovery.h"
#include "core/platform/registry_provider.h"
#include "core/platform/serial_backend.h"
#include "core/platform/wake_event.h"
#include "core/platform/win32/comm_state_map.h"
#include "core/settings/settings_path.h"
#include "image/file_io.h"
#include "library/switch_notice.h"

namespace qmx {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(CommStateMap, HandshakeModesAndCodes) {
  struct Row {
    int flow;
    DWORD cts, dsr, dtr, rts, outX, inX;
  };
  const Row rows[] = {
      {0, 0, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, 0, 0},
      {1, 1, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE, 0, 0},
      {2, 0, 1, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, 0, 0},
      {3, 0, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, 1, 1},
      {7, 0, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.flow);
    // Start from the opposite of every expected handshake member, and with
    // members the mapping must leave as the driver reported them.
    DCB dcb{};
    dcb.fOutxCtsFlow = !row.cts;
    dcb.fOutxDsrFlow = !row.dsr;
    dcb.fDtrControl = row.dtr == DTR_CONTROL_ENABLE ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    dcb.fRtsControl = row.rts == RTS_CONTROL_ENABLE ? RTS_CONTROL_TOGGLE : RTS_CONTROL_ENABLE;
    dcb.fOutX = !row.outX;
    dcb.fInX = !row.inX;
    dcb.fBinary = 1;
    dcb.fAbortOnError = 1;
    dcb.XonChar = 0x11;
    dcb.XoffLim = 77;
    const LineSettings s{57600, 0x107, 0x202, 0x302, row.flow};
    MapLineSettings(s, dcb);
    EXPECT_EQ(dcb.BaudRate, 57600u);
    EXPECT_EQ(dcb.ByteSize, 7);  // low bytes only, as the channel's codes
    EXPECT_EQ(dcb.StopBits, 2);
    EXPECT_EQ(dcb.Parity, 2);
    EXPECT_EQ(dcb.fOutxCtsFlow, row.cts);
    EXPECT_EQ(dcb.fOutxDsrFlow, row.dsr);
    EXPECT_EQ(dcb.fDtrControl, row.dtr);
    EXPECT_EQ(dcb.fRtsControl, row.rts);
    EXPECT_EQ(dcb.fOutX, row.outX);
    EXPECT_EQ(dcb.fInX, row.inX);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fAbortOnError, 1u);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffLim, 77);
  }
}

TEST(DevicePath, PortNamesAndPaths) {
  EXPECT_EQ(DevicePathForPort("COM5"), "\\\\.\\COM5");
  EXPECT_EQ(DevicePathForPort("COM12"), "\\\\.\\COM12");
  EXPECT_EQ(DevicePathForPort("\\\\.\\COM12"), "\\\\.\\COM12");
  EXPECT_EQ(DevicePathForPort(""), "\\\\.\\");
  EXPECT_FALSE(PortExists("COM251"));
  EXPECT_FALSE(PortExists(""));
}

TEST(WakeEvent, ManualResetAndTimeout) {
  WakeEvent event;
  ASSERT_TRUE(event.Valid());
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(0));  // stays set until Reset
  event.Reset();
  const auto start = Clock::now();
  EXPECT_FALSE(event.Wait(60));
  EXPECT_GE(MsSince(start), 50);
  // Set from another thread wakes an unbounded wait.
  auto waiter = std::async(std::launch::async, [&] { return event.Wait(-1); });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  event.Set();
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_TRUE(waiter.get());
}

TEST(SwitchNotice, SetsTheHostsEventAndLeavesItOpen) {
  const HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  SendSwitchNotice(reinterpret_cast<intptr_t>(event));
  EXPECT_EQ(::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  // Still the host's: usable again after the notice.
  SendSwitchNotice(reinterpret_cast<intptr_t>(event));
  EXPECT_EQ(::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(::CloseHandle(event));
}

TEST(SettingsPath, WindowsFolders) {
  SettingsPathInputs in;
  in.programPath = "C:\\Tools\\Qmx71aApp.exe";
  in.dirWritable = [](const std::string&) { return false; };
  in.xdgConfigHome = "C:\\Users\\u\\AppData\\Roaming";
  in.home = "C:\\Users\\u";
  EXPECT_EQ(SettingsFilePath(in), "C:\\Users\\u\\AppData\\Roaming\\qmx71a\\Qmx71aApp.ini");
  in.xdgConfigHome = "AppData";  // relative: not a place to write to
  EXPECT_EQ(SettingsFilePath(in), "C:\\Users\\u\\.config\\qmx71a\\Qmx71aApp.ini");
  in.dirWritable = [](const std::string& dir) { return dir == "C:\\Tools"; };
  EXPECT_EQ(SettingsFilePath(in), "C:\\Tools\\Qmx71aApp.ini");

  const SettingsPathInputs process = ProcessSettingsInputs("");
  EXPECT_TRUE(std::filesystem::path(process.programPath).is_absolute()) << process.programPath;
  EXPECT_EQ(std::filesystem::path(process.programPath).extension(), ".exe");
}

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char base[MAX_PATH];
    ASSERT_NE(::GetTempPathA(MAX_PATH, base), 0u);
    dir_ = std::filesystem::path(base) / ("qmx-win-test-" + std::to_string(::GetCurrentProcessId()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string In(const std::string& name) const { return (dir_ / name).string(); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    return names;
  }
  std::filesystem::path dir_;
};

TEST_F(TempFolder, WriteReplacesAndReadKnowsTheLimit) {
  const std::string file = In("image.hex");
  std::ofstream(file, std::ios::binary) << "old contents that are longer";
  ASSERT_TRUE(WriteFileReplacing(file, "new\r\n"));
  // Replaced in place, and no temporary left beside it.
  EXPECT_EQ(Names(), std::vector<std::string>{"image.hex"});
  const FileContents whole = ReadWholeFile(file, 100);
  EXPECT_EQ(whole.status, FileReadStatus::kOk);
  EXPECT_EQ(std::string(whole.bytes.begin(), whole.bytes.end()), "new\r\n");

  const FileContents cut = ReadWholeFile(file, 3, /*keepPrefix=*/true);
  EXPECT_EQ(cut.status, FileReadStatus::kTooLong);
  EXPECT_EQ(cut.length, 5u);
  EXPECT_EQ(std::string(cut.bytes.begin(), cut.bytes.end()), "new");

  EXPECT_EQ(ReadWholeFile(dir_.string(), 100).status, FileReadStatus::kCannotRead);
  EXPECT_EQ(ReadWholeFile(In("missing.bin"), 100).status, FileReadStatus::kCannotRead);
  EXPECT_FALSE(WriteFileReplacing(In("no-such-folder\\x.bin"), "x"));
  EXPECT_FALSE(WriteFileReplacing(dir_.string() + "\\", "x"));
}

TEST_F(TempFolder, SerialBackendRefusesWhatIsNoPort) {
  const std::string file = In("not-a-port");
  std::ofstream(file) << "x";
  auto backend = MakeSerialBackend();
  EXPECT_FALSE(backend->Open(file));
  EXPECT_FALSE(backend->Open(DevicePathForPort("COM251")));
  EXPECT_FALSE(backend->IsOpen());
  std::uint8_t byte = 0;
  EXPECT_EQ(backend->Write(&byte, 1), -1);
  EXPECT_EQ(backend->Read(&byte, 1), -1);
  EXPECT_FALSE(backend->SetDtr(true));
  backend->Close();  // harmless when closed
  WakeEvent stop;
  int queued = 5;
  EXPECT_EQ(backend->WaitReceive(stop, &queued), ReceiveWait::Closed);
  EXPECT_EQ(queued, 0);
}

// Registry keys are written to the test's own prefix and removed afterwards.
// Not volatile: a volatile key would make the missing keys above it volatile
// too, and the system could then keep no lasting device key below them.
class RegistryKeys : public ::testing::Test {
 protected:
  static constexpr const char* kInstances = "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_7E51&PID_0A17";
  static constexpr const char* kSerialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

  static bool SetText(const std::string& key, const char* name, const std::string& text) {
    HKEY h = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                          &h, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const LONG rc = ::RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                     static_cast<DWORD>(text.size() + 1));
    ::RegCloseKey(h);
    return rc == ERROR_SUCCESS;
  }
  void TearDown() override {
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kInstances);
    HKEY h = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_ALL_ACCESS, &h) == ERROR_SUCCESS) {
      ::RegDeleteValueA(h, "\\Device\\QmxTest0");
      ::RegDeleteValueA(h, "\\Device\\QmxTest1");
      ::RegCloseKey(h);
    }
  }
};

TEST_F(RegistryKeys, InstanceNamesAndPortMap) {
  const std::string base = kInstances;
  if (!SetText(base + "\\5&1a2b&0&1", "FriendlyName", "QMX-71A Serial (COM41)")) {
    GTEST_SKIP() << "HKLM is not writable here";
  }
  ASSERT_TRUE(SetText(base + "\\5&1a2b&0&2", "Other", "no friendly name"));
  ASSERT_TRUE(SetText(kSerialComm, "\\Device\\QmxTest0", "COM41"));
  ASSERT_TRUE(SetText(kSerialComm, "\\Device\\QmxTest1", "COM42"));

  RegistryDeviceListProvider provider;
  EXPECT_EQ(provider.InstanceNames("VID_7E51&PID_0A17"),
            (std::vector<std::string>{"QMX-71A Serial (COM41)", ""}));
  EXPECT_TRUE(provider.InstanceNames("VID_7E51&PID_0A99").empty());
  const auto map = provider.SerialPortMap();
  const auto has = [&](const char* entry, const char* port) {
    for (const auto& e : map) {
      if (e.first == entry) return e.second == port;
    }
    return false;
  };
  EXPECT_TRUE(has("\\Device\\QmxTest0", "COM41"));
  EXPECT_TRUE(has("\\Device\\QmxTest1", "COM42"));
}

// A present device is made through SetupDi (wine lists a registered one as
// present), which also writes its instance key and friendly name; the port
// map entry is written by hand. Discovery then finds the port by name alone.
TEST_F(RegistryKeys, DiscoveryFindsAPresentProgrammerAndNotAGoneOne) {
  ::SetEnvironmentVariableA("QMX71_PORT", nullptr);
  const HDEVINFO set = ::SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  if (!::SetupDiCreateDeviceInfoA(set, "USB\\VID_7E51&PID_0A16\\QMXTEST1", &GUID_DEVCLASS_PORTS, nullptr, nullptr,
                                  0, &device)) {
    ::SetupDiDestroyDeviceInfoList(set);
    GTEST_SKIP() << "cannot create a device here";
  }
  const char name[] = "QMX-71A Serial (COM45)";
  ASSERT_TRUE(::SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME,
                                                  reinterpret_cast<const BYTE*>(name), sizeof name));
  ASSERT_TRUE(::SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr));
  ASSERT_TRUE(SetText(kSerialComm, "\\Device\\QmxTest0", "COM45"));
  ASSERT_TRUE(SetText(kSerialComm, "\\Device\\QmxTest1", "COM46"));  // a port of another device

  RegistryDeviceListProvider provider;
  PortDiscovery discovery(provider);
  EXPECT_EQ(DiscoverProgrammerPort(discovery), "COM45");

  // Unplugged: the instance key stays, the device is no longer present.
  ASSERT_TRUE(::SetupDiRemoveDevice(set, &device));
  ::SetupDiDestroyDeviceInfoList(set);
  PortDiscovery after(provider);
  EXPECT_EQ(DiscoverProgrammerPort(after), "");
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_7E51&PID_0A16\\QMXTEST1");
}

// A COM port whose far end echoes: only with $QMX_WIN_TEST_PORT.
class EchoPort : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("QMX_WIN_TEST_PORT");
    if (port == nullptr || *port == '\0') GTEST_SKIP() << "no echo port ($QMX_WIN_TEST_PORT)";
    port_ = port;
    backend_ = MakeSerialBackend();
    ASSERT_TRUE(backend_->Open(DevicePathForPort(port_)));
    backend_->ApplyLineSettings(LineSettings{});
    backend_->SetTimeouts(3000);
  }
  void TearDown() override {
    if (backend_) backend_->Close();
  }
  std::string port_;
  std::unique_ptr<SerialBackend> backend_;
};

TEST_F(EchoPort, WholeBlocksBothWaysAndTimeout) {
  std::vector<std::uint8_t> out(300);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(i * 7 + 1);
  ASSERT_EQ(backend_->Write(out.data(), static_cast<int>(out.size())), 300);
  std::vector<std::uint8_t> in(300);
  ASSERT_EQ(backend_->Read(in.data(), 300), 300);
  EXPECT_EQ(in, out);

  // Nothing more comes: a read ends at the total time-out with 0, not -1.
  backend_->SetTimeouts(200);
  const auto start = Clock::now();
  EXPECT_EQ(backend_->Read(in.data(), 1), 0);
  EXPECT_GE(MsSince(start), 150);
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_EQ(backend_->QueuedBytes(), 0);
  EXPECT_FALSE(backend_->HungUp());
}

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST_F(EchoPort, OpenIsExclusive) {
  // Windows' serial drivers refuse a second open; wine's pass-through does not.
  if (UnderWine()) GTEST_SKIP() << "wine does not keep a COM port exclusive";
  auto second = MakeSerialBackend();
  EXPECT_FALSE(second->Open(DevicePathForPort(port_)));
  EXPECT_TRUE(PortAccessDenied(port_));
  backend_->Close();
  EXPECT_FALSE(PortAccessDenied(port_));
  EXPECT_TRUE(second->Open(DevicePathForPort(port_)));
  second->Close();
}

// A wait may wake for a line event with nothing queued (Readable, 0): the
// reader just waits again. A handful in a row is fine; a spin is not.
ReceiveWait WaitPastLineEvents(SerialBackend& backend, WakeEvent& stop, int* queued) {
  ReceiveWait result = ReceiveWait::Readable;
  for (int i = 0; i < 20; ++i) {
    result = backend.WaitReceive(stop, queued);
    if (result != ReceiveWait::Readable || *queued > 0) return result;
  }
  return result;
}

TEST_F(EchoPort, WaitReceiveWakesForDataStopAndClose) {
  WakeEvent stop;
  int queued = 0;
  const std::uint8_t ping[4] = {1, 2, 3, 4};
  ASSERT_EQ(backend_->Write(ping, 4), 4);
  // Echoed bytes may arrive in pieces: wait until all four are queued.
  const auto start = Clock::now();
  int seen = 0;
  while (seen < 4 && MsSince(start) < 3000) {
    ASSERT_EQ(WaitPastLineEvents(*backend_, stop, &queued), ReceiveWait::Readable);
    seen = queued;
  }
  EXPECT_EQ(seen, 4);
  std::uint8_t back[4] = {};
  ASSERT_EQ(backend_->Read(back, 4), 4);

  // Nothing queued: the stop event ends the wait.
  auto stopped = std::async(std::launch::async, [&] { return WaitPastLineEvents(*backend_, stop, &queued); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  stop.Set();
  ASSERT_EQ(stopped.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(stopped.get(), ReceiveWait::Stopped);
  stop.Reset();

  // Close from another thread wakes a waiting reader and then closes.
  auto closed = std::async(std::launch::async, [&] { return WaitPastLineEvents(*backend_, stop, &queued); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto closing = Clock::now();
  backend_->Close();
  EXPECT_LT(MsSince(closing), 1000);
  ASSERT_EQ(closed.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(closed.get(), ReceiveWait::Closed);
  EXPECT_FALSE(backend_->IsOpen());
  EXPECT_EQ(backend_->Write(ping, 4), -1);
}

}  // namespace
}  // namespace qmx
