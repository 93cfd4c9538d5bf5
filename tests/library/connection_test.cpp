// Connection exports: open per model and family, close, mode, check, versions.
#include <thread>

#include "tests/library/library_fixture.h"

namespace qmxlib {
namespace {

namespace sim = qmx::sim;

TEST_F(QmxLibraryTest, ExportsBeforeOpenRefuseAndSendNothing) {
  Bytes buf(16, 0xCC);
  EXPECT_EQ(QmxDllVer(), 256);
  EXPECT_EQ(QmxMode(0, 0, 50), 0);
  EXPECT_EQ(QmxCheck(), 0);
  EXPECT_EQ(QmxFrmVer(), 0);
  EXPECT_EQ(QmxSetFreq(100000), 0);
  EXPECT_EQ(QmxGetFreq(), 0);
  EXPECT_EQ(QmxVpp(), 0);
  EXPECT_EQ(QmxRead(1, 0, buf.data(), 16, 0), 0);
  EXPECT_EQ(QmxCompare(1, 0, buf.data(), 16, 0), 0);
  EXPECT_EQ(QmxBlankChk(1, 0, nullptr, 16, 0), 0);
  EXPECT_EQ(QmxChecksum(1, 0, nullptr, 16, 0), 0);
  EXPECT_EQ(QmxWrite(1, 0, buf.data(), 16, 0), 0);
  EXPECT_EQ(QmxErase(1, 0, nullptr, 16, 0), 0);
  EXPECT_EQ(QmxGetSwitch(), 0);
  EXPECT_EQ(QmxReset(), 0);  // no port to take the DTR change
  QmxClose();
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(sim->Log().empty());
  EXPECT_EQ(buf, Bytes(16, 0xCC));
}

struct OpenCase {
  const char* model;
  int family;
  bool accepted;
};

TEST_F(QmxLibraryTest, OpenAcceptsOrRefusesPerModelAndFamily) {
  const OpenCase cases[] = {
      {"QMX-71A", 0, true},  {"QMX-71A", 1, true},  {"QMX-71A", 2, false}, {"QMX-71B", 0, false},
      {"QMX-71B", 1, true},  {"QMX-71B", 2, true},  {"QMX-71C", 0, true},  {"QMX-71C", 2, true},
      {"QMX-ISP", 0, true},  {"QMX-ISP", 2, true},  {"EEPROM writer", 0, false},
      {"EEPROM writer", 1, false}, {"EEPROM writer", 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " family " + std::to_string(c.family));
    sim->SetModel(c.model);
    sim->ClearLog();
    EXPECT_EQ(QmxOpen(c.family, 0, 50, 0), c.accepted ? 1 : 0);
    const Log log = Synced();
    ASSERT_EQ(log.size(), c.accepted ? 5u : 3u);
    EXPECT_TRUE(Is(log[0], sim::DEV_CTRL, {1}));
    EXPECT_TRUE(Is(log[1], sim::GET_NAME, {}));
    EXPECT_TRUE(Is(log[2], sim::SET_RESTART, {0}));
    if (c.accepted) {
      EXPECT_TRUE(Is(log[3], sim::SET_MODE, {static_cast<std::uint8_t>(c.family), 0, 50}));
      EXPECT_TRUE(Is(log[4], sim::DEV_CTRL, {7}));
    }
    // A refused family leaves the connection usable for one the model takes.
    const bool identified = std::string(c.model).rfind("QMX-", 0) == 0;
    EXPECT_EQ(QmxMode(1, 0, 50), identified ? 1 : 0);
    const std::size_t sent = Synced().size() + 1;
    QmxClose();
    // The supply-off of the close lands before the next case clears the log.
    ASSERT_TRUE(sim->WaitForLog(sent + 1, 1s));
  }
}

TEST_F(QmxLibraryTest, OpenOnAnOpenConnectionSkipsTheNameQuery) {
  ASSERT_EQ(QmxOpen(1, 0, 50, 0), 1);
  Synced();
  sim->ClearLog();
  ASSERT_EQ(QmxOpen(0, 0, 20, 1), 1);
  const Log log = Synced();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(Is(log[0], sim::SET_RESTART, {0}));
  EXPECT_TRUE(Is(log[1], sim::SET_MODE, {0, 0, 20}));
}

TEST_F(QmxLibraryTest, SupplyFlagLeavesTheSupplyAndCloseSwitchesItOff) {
  ASSERT_EQ(QmxOpen(1, 0, 50, 1), 1);
  EXPECT_TRUE(CommandsOf(Synced(), sim::DEV_CTRL).size() == 1u);  // the connect's DEV_CTRL 1 only
  EXPECT_FALSE(sim->State().supplyOn);
  ASSERT_EQ(QmxOpen(1, 0, 50, 0), 1);
  Synced();
  EXPECT_TRUE(sim->State().supplyOn);
  const std::size_t sent = Synced().size() + 1;
  QmxClose();
  // Close returned only once the programmer had answered after the supply-off.
  const Log log = sim->Log();
  ASSERT_EQ(log.size(), sent + 2);
  EXPECT_TRUE(Is(log[sent], sim::DEV_CTRL, {8}));
  EXPECT_TRUE(Is(log.back(), sim::GET_VERSION, {}));
  EXPECT_FALSE(sim->State().supplyOn);
}

TEST_F(QmxLibraryTest, Series90OpenEndsWithGpioZero) {
  sim->SetModel("QMX-71C");
  ASSERT_EQ(QmxOpen(0, 1, 10, 0), 1);
  const Log log = SyncedAfterConnect();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_TRUE(Is(log[1], sim::SET_MODE, {0, 1, 10}));
  EXPECT_TRUE(Is(log[3], sim::WR_GPIO, {0}));
  // Standard Microwire and other families leave the pins alone.
  ASSERT_EQ(QmxOpen(1, 1, 10, 0), 1);
  EXPECT_TRUE(CommandsOf(Synced(), sim::WR_GPIO).size() == 1u);
}

TEST_F(QmxLibraryTest, CheckReportsPartAndMicrowireAddressBits) {
  sim->SetModel("QMX-71C");
  ASSERT_EQ(QmxOpen(0, 0, 50, 0), 1);
  sim->SetPartPresent(true, 6);
  EXPECT_EQ(QmxCheck(), 6);
  sim->SetPartPresent(true, 0);
  EXPECT_EQ(QmxCheck(), 1);
  sim->SetPartPresent(false, 6);
  EXPECT_EQ(QmxCheck(), 0);
  ASSERT_EQ(QmxMode(1, 0, 50), 1);
  sim->SetPartPresent(true, 6);
  EXPECT_EQ(QmxCheck(), 1);
  sim->DropNextAnswer(sim::CHK_DEVICE);
  EXPECT_EQ(QmxCheck(), 0);
}

TEST_F(QmxLibraryTest, FirmwareVersionIsMajorTimesTwoHundredFiftySixPlusMinor) {
  qmx::sim::Options o;
  o.firmwareMajor = 1;
  o.firmwareMinor = 0x10;
  StartSim(o);
  ASSERT_EQ(QmxOpen(1, 0, 50, 0), 1);
  EXPECT_EQ(QmxFrmVer(), 272);
  sim->DropNextAnswer(sim::GET_VERSION);
  EXPECT_EQ(QmxFrmVer(), 0);
}

TEST_F(QmxLibraryTest, NameWithoutTerminatorStillIdentifiesTheModel) {
  qmx::sim::Options o;
  o.model = "QMX-71B";
  o.nameZeroTerminated = false;
  StartSim(o);
  EXPECT_EQ(QmxOpen(0, 0, 50, 0), 0);  // a 71B refuses Microwire
  EXPECT_EQ(QmxMode(2, 0, 50), 1);
}

TEST_F(QmxLibraryTest, SilentProgrammerLeavesThePortForClose) {
  sim->DropNextAnswer(sim::GET_NAME);
  EXPECT_EQ(QmxOpen(1, 0, 50, 0), 0);
  // Open but not identified: every family is refused, nothing is sent for it.
  EXPECT_EQ(QmxMode(1, 0, 50), 0);
  EXPECT_EQ(CommandsOf(Synced(), sim::SET_MODE).size(), 0u);
}

TEST_F(QmxLibraryTest, UnplugFailsTheCallAndALaterOpenReconnects) {
  ASSERT_EQ(QmxOpen(1, 0, 50, 0), 1);
  sim->Unplug();
  EXPECT_EQ(QmxFrmVer(), 0);
  EXPECT_EQ(QmxCheck(), 0);  // closed by the failed send: refused at once
  EXPECT_EQ(QmxOpen(1, 0, 50, 0), 0);
  ASSERT_TRUE(sim->Replug());
  ASSERT_EQ(QmxOpen(1, 0, 50, 0), 1);
  EXPECT_EQ(QmxFrmVer(), 256);
}

TEST_F(QmxLibraryTest, OpenStraightAfterAReplugReconnects) {
  ASSERT_EQ(QmxOpen(1, 0, 50, 0), 1);
  Synced();
  sim->Unplug();
  ASSERT_TRUE(sim->Replug());
  // No call failed in between: the open itself finds the old port gone.
  ASSERT_EQ(QmxOpen(1, 0, 50, 0), 1);
  EXPECT_EQ(QmxFrmVer(), 256);
}

TEST_F(QmxLibraryTest, SecondCloseDoesNothing) {
  ASSERT_EQ(QmxOpen(1, 0, 50, 0), 1);
  Synced();
  QmxClose();
  QmxClose();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(CommandsOf(sim->Log(), sim::DEV_CTRL).size(), 3u);  // 1, 7 and a single 8
  EXPECT_EQ(QmxFrmVer(), 0);
  EXPECT_EQ(QmxMode(1, 0, 50), 0);
}

TEST_F(QmxLibraryTest, FamilyOutlivesACloseAndIsSetOnlyWhenAccepted) {
  sim->SetModel("QMX-71C");
  ASSERT_EQ(QmxOpen(2, 0, 50, 0), 1);
  QmxClose();
  sim->SetModel("QMX-71A");
  EXPECT_EQ(QmxOpen(2, 0, 50, 0), 0);  // refused: the family stays SPI
  Synced();
  sim->ClearLog();
  std::uint8_t buf[4];
  ASSERT_EQ(QmxDRead(1 | 2, buf, 4), 1);
  const Log log = Synced();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_TRUE(Is(log[0], sim::DEV_CTRL, {3}));
  EXPECT_TRUE(Is(log[2], sim::DEV_CTRL, {2}));
}

}  // namespace
}  // namespace qmxlib
