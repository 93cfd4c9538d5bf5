#include "core/platform/sysfs_provider.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/discovery/port_discovery.h"
#include "fake_sysfs.h"

namespace qmx {
namespace {

using Names = std::vector<std::string>;
using PortMap = std::vector<std::pair<std::string, std::string>>;
using test::FakeSysfs;

constexpr const char* kProgrammer = "VID_7E51&PID_0A16";
constexpr const char* kProduct = "QMX71 Programmer";

std::optional<std::string> NoEnv(const char*) { return std::nullopt; }

// The programmer on ttyACM0, a foreign USB adapter, a platform UART and
// two ttys without devices.
class SysfsTree : public ::testing::Test {
 protected:
  SysfsTree() {
    fake.AddUsbDevice("1-1", "7e51", "0a16", std::string(kProduct) + "\n", {"ttyACM0"});
    fake.AddUsbDevice("1-2", "0403", "6001", "USB Serial\n", {"ttyUSB0"});
    fake.AddPlatformTty("ttyS0", "serial8250", "serial8250");
    fake.AddVirtualTty("tty0");
    fake.AddVirtualTty("ptmx");
  }

  FakeSysfs fake;
  SysfsDeviceListProvider provider{fake.Root()};
  PortDiscovery discovery{provider, NoEnv};
};

TEST(NaturalLess, OrdersDigitRunsByValue) {
  EXPECT_TRUE(NaturalLess("ttyACM2", "ttyACM10"));
  EXPECT_FALSE(NaturalLess("ttyACM10", "ttyACM2"));
  EXPECT_TRUE(NaturalLess("1-1.2", "1-1.10"));
  EXPECT_TRUE(NaturalLess("ttyACM9", "ttyS0"));
  EXPECT_TRUE(NaturalLess("tty", "tty0"));
  EXPECT_FALSE(NaturalLess("ttyS1", "ttyS1"));
  // Equal by value but different text must still order one way only.
  EXPECT_NE(NaturalLess("ttyS01", "ttyS1"), NaturalLess("ttyS1", "ttyS01"));
}

TEST_F(SysfsTree, InstanceNamesMatchVendorAndProductOnly) {
  const Names programmer = {std::string(kProduct) + " (ttyACM0)"};
  EXPECT_EQ(provider.InstanceNames(kProgrammer), programmer);
  EXPECT_EQ(provider.InstanceNames("vid_7e51&pid_0a16"), programmer);
  EXPECT_EQ(provider.InstanceNames("VID_7E51&PID_0A16&MI_00"), programmer);
  EXPECT_EQ(provider.InstanceNames("VID_7E51&PID_0A17"), Names{});
  EXPECT_EQ(provider.InstanceNames("VID_0403&PID_6001"), Names{"USB Serial (ttyUSB0)"});
  EXPECT_EQ(provider.InstanceNames("COM3"), Names{});
}

TEST_F(SysfsTree, ProductIsFirstLineWithoutTrailingSpace) {
  fake.SetProduct("1-1", "QMX71 Programmer \r\nrev B\n");
  EXPECT_EQ(provider.InstanceNames(kProgrammer), Names{"QMX71 Programmer (ttyACM0)"});
}

TEST_F(SysfsTree, UnreadableProductGivesOneEmptyNamePerTty) {
  fake.AddUsbDevice("1-3", "7e51", "0a17", std::nullopt, {"ttyACM1", "ttyACM2"});
  fake.AddUsbDevice("1-4", "7e51", "0a17", std::nullopt, {});
  fake.AddUsbDevice("1-5", "7e51", "0a17", "Spare\n", {});
  EXPECT_EQ(provider.InstanceNames("VID_7E51&PID_0A17"), (Names{"", "", "", "Spare"}));
}

TEST_F(SysfsTree, TtysInNaturalOrderInBothLayouts) {
  fake.AddUsbDevice("1-3", "7e51", "0a17", "B\n", {"ttyACM10", "ttyACM2"});
  fake.AddUsbDevice("1-10", "7E51", "0A17", "C\n", {"ttyACM3"}, FakeSysfs::TtyLayout::TtyColonLink);
  EXPECT_EQ(provider.InstanceNames("VID_7E51&PID_0A17"),
            (Names{"B (ttyACM2)", "B (ttyACM10)", "C (ttyACM3)"}));
  const PortMap map = provider.SerialPortMap();
  ASSERT_EQ(map.size(), 6u);
  EXPECT_EQ(map[0].first, "ttyACM0");
  EXPECT_EQ(map[1].first, "ttyACM2");
  EXPECT_EQ(map[2].first, "ttyACM3");
  EXPECT_EQ(map[3].first, "ttyACM10");
}

TEST_F(SysfsTree, MapHoldsOnlyTtysWithADevice) {
  fake.AddPlatformTty("ttyS1", "serial8250.1", "");
  const PortMap expected = {{"ttyACM0", "ttyACM0"},
                            {"ttyS0", "ttyS0"},
                            {"ttyS1", "ttyS1"},
                            {"ttyUSB0", "ttyUSB0"}};
  EXPECT_EQ(provider.SerialPortMap(), expected);
  EXPECT_EQ(provider.PresentDeviceNames(),
            (Names{std::string(kProduct) + " (ttyACM0)", "serial8250 (ttyS0)",
                   "Serial port (ttyS1)", "USB Serial (ttyUSB0)"}));
}

TEST_F(SysfsTree, DeviceWithoutProductIsNamedAfterItsDriver) {
  fake.AddUsbDevice("1-3", "7e51", "0a17", std::nullopt, {"ttyACM1"});
  const Names present = provider.PresentDeviceNames();
  ASSERT_EQ(present.size(), 4u);
  EXPECT_EQ(present[1], "cdc_acm (ttyACM1)");
}

TEST_F(SysfsTree, RemovalInProgressLeavesNothingBehind) {
  fake.RemoveDeviceOnly("1-1");
  EXPECT_EQ(provider.InstanceNames(kProgrammer), Names{});
  EXPECT_EQ(provider.SerialPortMap(), (PortMap{{"ttyS0", "ttyS0"}, {"ttyUSB0", "ttyUSB0"}}));
}

TEST(SysfsProvider, MissingOrBogusRootFindsNothing) {
  test::TempDir dir;
  std::ofstream(dir.Path() / "file") << "not a directory\n";
  for (const auto& root : {dir.Path() / "absent", dir.Path() / "file", dir.Path()}) {
    SysfsDeviceListProvider provider(root.string());
    EXPECT_EQ(provider.InstanceNames(kProgrammer), Names{}) << root;
    EXPECT_EQ(provider.SerialPortMap(), PortMap{}) << root;
    EXPECT_EQ(provider.PresentDeviceNames(), Names{}) << root;
  }
}

TEST_F(SysfsTree, DiscoveryFindsTheProgrammer) {
  EXPECT_EQ(DiscoverProgrammerPort(discovery), "ttyACM0");
}

TEST_F(SysfsTree, DiscoveryTakesTheLastOfTwoProgrammersInNaturalOrder) {
  fake.Unplug("1-1");
  fake.AddUsbDevice("1-1", "7e51", "0a16", std::string(kProduct) + "\n", {"ttyACM10"});
  fake.AddUsbDevice("1-3", "7e51", "0a17", std::string(kProduct) + "\n", {"ttyACM2"});
  EXPECT_EQ(DiscoverProgrammerPort(discovery), "ttyACM10");
}

TEST_F(SysfsTree, DiscoveryIgnoresForeignAdaptersAndUnplug) {
  ASSERT_EQ(DiscoverProgrammerPort(discovery), "ttyACM0");
  fake.Unplug("1-1");
  EXPECT_EQ(discovery.FindProgrammerPort(), "");
  EXPECT_EQ(DiscoverProgrammerPort(discovery), "");
}

// sysfs only knows present devices, so names collected before a replug on
// another port do not cover it until they are collected again.
TEST_F(SysfsTree, ReplugOnAnotherPortNeedsFreshNames) {
  ASSERT_EQ(DiscoverProgrammerPort(discovery), "ttyACM0");
  fake.Unplug("1-1");
  fake.AddUsbDevice("1-1", "7e51", "0a16", std::string(kProduct) + "\n", {"ttyACM1"});
  EXPECT_EQ(discovery.FindProgrammerPort(), "");
  EXPECT_EQ(DiscoverProgrammerPort(discovery), "ttyACM1");
}

TEST_F(SysfsTree, DefaultProviderHonoursRootVariable) {
  const auto fromEnv = MakeDefaultDeviceListProvider([this](const char* name) {
    return std::string(name) == kSysfsRootVariable ? std::optional<std::string>(fake.Root())
                                                   : std::nullopt;
  });
  PortDiscovery viaDefault(*fromEnv, NoEnv);
  EXPECT_EQ(DiscoverProgrammerPort(viaDefault), "ttyACM0");

  const auto unset = MakeDefaultDeviceListProvider(NoEnv);
  const auto* sysfs = dynamic_cast<const SysfsDeviceListProvider*>(unset.get());
  ASSERT_NE(sysfs, nullptr);
  EXPECT_EQ(sysfs->Root(), "/sys");
}

// Only what must hold on any Linux machine without the programmer attached.
TEST(SysfsProvider, RealSysfsIsReadConsistently) {
  SysfsDeviceListProvider provider;
  const PortMap map = provider.SerialPortMap();
  for (const auto& [entry, port] : map) {
    EXPECT_FALSE(port.empty());
    EXPECT_EQ(entry, port);
  }
  const Names present = provider.PresentDeviceNames();
  ASSERT_EQ(present.size(), map.size());
  for (std::size_t i = 0; i < map.size(); ++i) {
    EXPECT_NE(present[i].find("(" + map[i].second + ")"), std::string::npos) << present[i];
  }
  PortDiscovery discovery(provider, NoEnv);
  EXPECT_EQ(DiscoverProgrammerPort(discovery), "");
}

}  // namespace
}  // namespace qmx
