#include "core/discovery/port_discovery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fake_sysfs.h"

namespace qmx {
namespace {

using Names = std::vector<std::string>;

class FakeDeviceLists : public DeviceListProvider {
 public:
  std::vector<std::string> InstanceNames(const std::string& identifier) override {
    ++calls;
    const auto it = instances.find(identifier);
    return it == instances.end() ? Names{} : it->second;
  }
  std::vector<std::pair<std::string, std::string>> SerialPortMap() override {
    ++calls;
    return portMap;
  }
  std::vector<std::string> PresentDeviceNames() override {
    ++calls;
    return present;
  }

  // Plugs a device in: its port into the map, its name into the present list.
  void Attach(const std::string& port, const std::string& name) {
    portMap.emplace_back("\\Device\\" + port, port);
    present.push_back(name);
  }

  std::map<std::string, Names> instances;
  std::vector<std::pair<std::string, std::string>> portMap;
  Names present;
  int calls = 0;
};

std::optional<std::string> NoEnv(const char*) { return std::nullopt; }

class PortDiscoveryTest : public ::testing::Test {
 protected:
  void Know(const Names& names) {
    lists.instances[kProgrammerIdentifiers[0]] = names;
    discovery.ClearKnownDeviceNames();
    discovery.AddKnownDeviceNames(kProgrammerIdentifiers[0]);
  }

  FakeDeviceLists lists;
  PortDiscovery discovery{lists, NoEnv};
};

TEST_F(PortDiscoveryTest, EmptyMapGivesEmptyResult) {
  Know({"QMX71 (ttyACM0)"});
  lists.present = {"QMX71 (ttyACM0)"};
  EXPECT_EQ(discovery.FindProgrammerPort(), "");
}

TEST_F(PortDiscoveryTest, SearchTextIncludesBothParentheses) {
  Know({"QMX71 (ttyACM10)"});
  lists.portMap = {{"a", "ttyACM1"}};
  lists.present = {"QMX71 (ttyACM10)", "Modem (ttyACM1x)"};
  EXPECT_EQ(discovery.FindDeviceNameForPort("ttyACM1"), "(ttyACM1)");
  EXPECT_EQ(discovery.FindProgrammerPort(), "");
  lists.portMap.emplace_back("b", "ttyACM10");
  EXPECT_EQ(discovery.FindProgrammerPort(), "ttyACM10");
}

TEST_F(PortDiscoveryTest, DeviceNameIsFirstContainingSearchTextAnywhere) {
  lists.present = {"Other (ttyS0)", "(ttyACM0) QMX71", "QMX71 (ttyACM0)"};
  EXPECT_EQ(discovery.FindDeviceNameForPort("ttyACM0"), "(ttyACM0) QMX71");
  EXPECT_EQ(discovery.FindDeviceNameForPort("ttyS0"), "Other (ttyS0)");
  EXPECT_EQ(discovery.FindDeviceNameForPort("ttyUSB0"), "(ttyUSB0)");

  Know({"(ttyACM0) QMX71"});
  lists.portMap = {{"x", "ttyACM0"}};
  EXPECT_EQ(discovery.FindProgrammerPort(), "ttyACM0");
}

TEST_F(PortDiscoveryTest, FoundWhereverItStandsInTheMap) {
  Know({"QMX71 (ttyACM7)"});
  const std::vector<std::pair<std::string, std::string>> others = {
      {"\\Device\\Serial0", "ttyS0"}, {"x", "ttyUSB12"}, {"a-much-longer-entry-name", "ttyS1"}};
  for (std::size_t at = 0; at <= others.size(); ++at) {
    lists.portMap = others;
    lists.portMap.insert(lists.portMap.begin() + static_cast<std::ptrdiff_t>(at),
                         {"e" + std::to_string(at), "ttyACM7"});
    lists.present = {"Other (ttyS0)", "QMX71 (ttyACM7)", "Other (ttyUSB12)"};
    EXPECT_EQ(discovery.FindProgrammerPort(), "ttyACM7") << "position " << at;
  }
}

TEST_F(PortDiscoveryTest, LastMatchingPortInTheMapWins) {
  Know({"QMX71 (ttyACM0)", "QMX71 (ttyACM1)"});
  lists.Attach("ttyACM1", "QMX71 (ttyACM1)");
  lists.Attach("ttyS0", "UART (ttyS0)");
  lists.Attach("ttyACM0", "QMX71 (ttyACM0)");
  EXPECT_EQ(discovery.FindProgrammerPort(), "ttyACM0");
}

TEST_F(PortDiscoveryTest, UnplugGivesEmptyResult) {
  Know({"QMX71 (ttyACM0)"});
  lists.Attach("ttyS0", "UART (ttyS0)");
  lists.Attach("ttyACM0", "QMX71 (ttyACM0)");
  ASSERT_EQ(discovery.FindProgrammerPort(), "ttyACM0");
  lists.portMap.pop_back();
  lists.present.pop_back();
  EXPECT_EQ(discovery.FindProgrammerPort(), "");
}

TEST_F(PortDiscoveryTest, MatchIsByExactNameOnly) {
  // An absent instance's name now carried by some other device is taken for it.
  Know({"QMX71 (ttyACM3)"});
  lists.Attach("ttyACM3", "QMX71 (ttyACM3)");
  EXPECT_EQ(discovery.FindProgrammerPort(), "ttyACM3");
  // Byte-equal: case, length and surrounding text all count.
  for (const char* near : {"qmx71 (ttyACM3)", "QMX71 (ttyACM3) ", "QMX71  (ttyACM3)"}) {
    lists.present = {near};
    EXPECT_EQ(discovery.FindProgrammerPort(), "") << near;
  }
}

TEST_F(PortDiscoveryTest, EmptyInstanceNameNeverMatches) {
  Know({""});
  EXPECT_EQ(discovery.KnownDeviceNames(), Names{""});
  lists.portMap = {{"a", "ttyACM0"}, {"b", "ttyACM1"}};
  lists.present = {"", "Other (ttyACM1)"};
  EXPECT_EQ(discovery.FindProgrammerPort(), "");
}

TEST_F(PortDiscoveryTest, AddAppendsInOrderAndClearEmpties) {
  lists.instances["A"] = {"one", "", "one"};
  lists.instances["B"] = {"two"};
  discovery.AddKnownDeviceNames("A");
  discovery.AddKnownDeviceNames("missing");
  discovery.AddKnownDeviceNames("B");
  EXPECT_EQ(discovery.KnownDeviceNames(), (Names{"one", "", "one", "two"}));
  discovery.ClearKnownDeviceNames();
  EXPECT_EQ(discovery.KnownDeviceNames(), Names{});
}

TEST_F(PortDiscoveryTest, DiscoverRebuildsNamesFromBothIdentifiers) {
  lists.instances[kProgrammerIdentifiers[0]] = {"QMX71 (ttyACM0)"};
  lists.instances[kProgrammerIdentifiers[1]] = {"QMX71 rev B (ttyACM4)"};
  discovery.AddKnownDeviceNames("stale");
  lists.instances["stale"] = {"Stale (ttyS0)"};
  discovery.AddKnownDeviceNames("stale");
  lists.Attach("ttyS0", "Stale (ttyS0)");
  lists.Attach("ttyACM4", "QMX71 rev B (ttyACM4)");
  EXPECT_EQ(DiscoverProgrammerPort(discovery), "ttyACM4");
  EXPECT_EQ(discovery.KnownDeviceNames(), (Names{"QMX71 (ttyACM0)", "QMX71 rev B (ttyACM4)"}));
}

class PortOverrideTest : public PortDiscoveryTest {
 protected:
  PortOverrideTest() {
    Know({"QMX71 (ttyACM0)"});
    lists.Attach("ttyACM0", "QMX71 (ttyACM0)");
  }

  PortDiscovery WithOverride(std::optional<std::string> value) {
    return PortDiscovery(lists, [value](const char* name) {
      return std::string(name) == kPortOverrideVariable ? value : std::nullopt;
    });
  }

  test::TempDir dir;
};

TEST_F(PortOverrideTest, PathIsTheResultWhileItExists) {
  const std::string port = (dir.Path() / "pts-link").string();
  std::ofstream(port) << "";
  PortDiscovery overridden = WithOverride(port);
  overridden.AddKnownDeviceNames(kProgrammerIdentifiers[0]);
  const int callsBefore = lists.calls;
  EXPECT_EQ(overridden.FindProgrammerPort(), port);
  std::filesystem::remove(port);
  EXPECT_EQ(overridden.FindProgrammerPort(), "");
  EXPECT_EQ(lists.calls, callsBefore) << "the provider must not be consulted";
}

TEST_F(PortOverrideTest, LinkToVanishedTargetCountsAsGone) {
  const auto target = dir.Path() / "pts";
  const auto link = dir.Path() / "port-link";
  std::ofstream(target) << "";
  std::filesystem::create_symlink(target, link);
  PortDiscovery overridden = WithOverride(link.string());
  EXPECT_EQ(overridden.FindProgrammerPort(), link.string());
  std::filesystem::remove(target);
  EXPECT_EQ(overridden.FindProgrammerPort(), "");
}

// A bare name is the device of that name under /dev, as the channel opens it,
// not a file of that name in the working folder.
TEST_F(PortOverrideTest, BareNameIsLookedForUnderDev) {
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  EXPECT_EQ(WithOverride("null").FindProgrammerPort(), "null");
  std::ofstream("qmx71-no-such-device") << "";
  EXPECT_EQ(WithOverride("qmx71-no-such-device").FindProgrammerPort(), "");
  std::filesystem::current_path(cwd);
}

TEST_F(PortOverrideTest, EmptyOrUnsetValueLeavesDiscoveryOn) {
  for (const auto& value : {std::optional<std::string>(""), std::optional<std::string>()}) {
    PortDiscovery normal = WithOverride(value);
    normal.AddKnownDeviceNames(kProgrammerIdentifiers[0]);
    EXPECT_EQ(normal.FindProgrammerPort(), "ttyACM0");
  }
}

}  // namespace
}  // namespace qmx
