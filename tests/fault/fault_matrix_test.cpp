// Every fault of the table against every non-graphical front end, on both
// paces: each step ends within the bound in a reported failure or a true
// success (never a success that is not), a read retried at once is never
// wrong, and a new connection afterwards reads the part correctly.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/link/connection.h"
#include "library/qmx71a.h"
#include "tests/e2e/memory_fixture.h"
#include "tests/fault/fault_table.h"

namespace qmx::fault {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using testdata::RandomBytes;
constexpr auto kBound = 5s;
constexpr int kPartSize = 256;  // a 24C02: 16 read blocks, 32 pages of 8
constexpr int kI2c = 1;
constexpr int kLibrary24C02 = 2;

// One way of driving the programmer; each step says whether it reported success.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  virtual bool Connect() = 0;
  virtual bool Read(Bytes& out) = 0;
  virtual bool Write(const Bytes& data) = 0;
};

// The desktop program's passes without the window: the core with an operator.
class ProgramFrontEnd : public FrontEnd {
 public:
  explicit ProgramFrontEnd(std::string port) : port_(std::move(port)) {
    settings_.family = kFamilyI2c;
    settings_.row = 2;
    settings_.model = kModel71C;
    settings_.pageSize = "8";
    settings_.maxWriteTime = "10";
    image_.SetSize(kPartSize);
  }
  bool Connect() override {
    link_.Disconnect();
    return link_.OpenPort(port_) && link_.QueryName().has_value();
  }
  bool Read(Bytes& out) override {
    image_.Clear();
    const bool ok = ProgramReadSide(link_, image_, reverse_, settings_, op_, kRead) == 1;
    out.assign(image_.Data(), image_.Data() + kPartSize);
    return ok;
  }
  bool Write(const Bytes& data) override {
    std::copy(data.begin(), data.end(), image_.Data());
    return ProgramWriteSide(link_, image_, reverse_, settings_, op_, kWrite) == 1;
  }

 private:
  std::string port_;
  Connection link_;
  BitReversal reverse_;
  MemoryImage image_;
  ProgramSettings settings_;
  test::RecordingOperator op_;
};

// The shared library through its exports; a write counts once a compare
// after it agrees, which is how a host learns that it was carried out.
class LibraryFrontEnd : public FrontEnd {
 public:
  ~LibraryFrontEnd() override { QmxClose(); }
  bool Connect() override {
    QmxClose();
    return QmxOpen(kI2c, 0, 10, 0) == 1;
  }
  bool Read(Bytes& out) override {
    out.assign(kPartSize, 0);
    return QmxRead(kLibrary24C02, 0, out.data(), kPartSize, 16) == 1;
  }
  bool Write(const Bytes& data) override {
    return QmxWrite(kLibrary24C02, 0, data.data(), kPartSize, 8) == 1 &&
           QmxCompare(kLibrary24C02, 0, data.data(), kPartSize, 16) == 1;
  }
};

// The command-line tool as a program: its exit code is its report.
class CliFrontEnd : public FrontEnd {
 public:
  explicit CliFrontEnd(fs::path dir, std::string port) : dir_(std::move(dir)), port_(std::move(port)) {}
  bool Connect() override { return Run("info") == 0; }
  bool Read(Bytes& out) override {
    const fs::path file = dir_ / "read.bin";
    fs::remove(file);
    const bool ok = Run("read 24C02 -o '" + file.string() + "'") == 0;
    std::ifstream f(file, std::ios::binary);
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return ok;
  }
  bool Write(const Bytes& data) override {
    const fs::path file = dir_ / "data.bin";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), kPartSize);
    return Run("write 24C02 '" + file.string() + "' --page-size 8 --write-time 10") == 0;
  }

 private:
  int Run(const std::string& args) {
    const std::string command = "QMX71_SYSFS_ROOT='" + (dir_ / "nosys").string() + "' QMX71_PORT='" + port_ +
                                "' timeout 60 '" + QMX71_EXE + "' --quiet " + args + " >/dev/null 2>&1 </dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  fs::path dir_;
  std::string port_;
};

enum class Kind { kProgram, kLibrary, kCli };

struct Cell {
  Kind kind;
  bool real;
  std::size_t fault;
};

std::string CellName(const ::testing::TestParamInfo<Cell>& info) {
  static const char* const kKinds[] = {"Program", "Library", "Cli"};
  return std::string(kKinds[static_cast<int>(info.param.kind)]) + "_" + Faults()[info.param.fault].name + "_" +
         (info.param.real ? "Paced" : "Instant");
}

class FaultMatrix : public ::testing::TestWithParam<Cell> {
 protected:
  void SetUp() override {
    sim::Options options;
    options.timing = GetParam().real ? sim::Timing::kReal : sim::Timing::kInstant;
    sim_ = std::make_unique<sim::PtySimulator>(options);
    ASSERT_TRUE(sim_->Start());
    dir_ = fs::temp_directory_path() / ("qmx-fault-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    port_ = (dir_ / "port").string();
    ASSERT_TRUE(sim_->SetLinkPath(port_));
    ::setenv("QMX71_PORT", port_.c_str(), 1);
    ::setenv("QMX71_SYSFS_ROOT", (dir_ / "nosys").c_str(), 1);
    ASSERT_TRUE(sim_->InsertPart("24C02"));
    ASSERT_TRUE(sim_->SetPartContents(RandomBytes(kPartSize, 3)));
    switch (GetParam().kind) {
      case Kind::kProgram: front_ = std::make_unique<ProgramFrontEnd>(port_); break;
      case Kind::kLibrary: front_ = std::make_unique<LibraryFrontEnd>(); break;
      case Kind::kCli: front_ = std::make_unique<CliFrontEnd>(dir_, port_); break;
    }
  }
  void TearDown() override {
    front_.reset();
    sim_->Stop();
    fs::remove_all(dir_);
  }

  std::unique_ptr<sim::PtySimulator> sim_;
  std::unique_ptr<FrontEnd> front_;
  fs::path dir_;
  std::string port_;
};

TEST_P(FaultMatrix, EndsInAReportOrATruthWithinTheBoundAndTheNextConnectWorks) {
  const Fault& fault = Faults()[GetParam().fault];
  const Expect expect = GetParam().real ? fault.real : fault.instant;
  if (fault.step != Step::kConnect) {
    ASSERT_TRUE(front_->Connect());
  }
  const Bytes before = sim_->PartContents();
  const Bytes data = RandomBytes(kPartSize, 4);
  Bytes read;

  bool reported = false;
  const auto t0 = std::chrono::steady_clock::now();
  {
    fault.arm(*sim_);
    Trigger trigger(*sim_, fault);
    switch (fault.step) {
      case Step::kConnect: reported = front_->Connect(); break;
      case Step::kRead: reported = front_->Read(read); break;
      case Step::kWrite: reported = front_->Write(data); break;
    }
    EXPECT_TRUE(!fault.during || trigger.Fired() || reported) << "the fault never came";
  }
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(took, kBound) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
  if (expect == Expect::kFailure) {
    EXPECT_FALSE(reported) << "a failure reported as success";
  }
  if (expect == Expect::kSuccess) {
    EXPECT_TRUE(reported) << "a harmless fault failed the step";
  }

  fault.recover(*sim_);
  // A success must be true: what was read is the part, what was written is in it.
  if (reported && fault.step == Step::kRead) {
    EXPECT_EQ(read, before);
  }
  if (reported && fault.step == Step::kWrite) {
    EXPECT_EQ(sim_->PartContents(), data);
  }

  // A host that retries at once, while answers owed to the failed step may
  // still be on their way, may fail again but must never read wrong data.
  Bytes again;
  if (front_->Read(again)) {
    EXPECT_EQ(again, sim_->PartContents()) << "a retry took an answer owed to the failed step";
  }
  ASSERT_TRUE(sim_->WaitIdle(5s));
  ASSERT_TRUE(front_->Connect()) << "no new connection after the fault";
  ASSERT_TRUE(front_->Read(again));
  EXPECT_EQ(again, sim_->PartContents());
}

std::vector<Cell> AllCells() {
  std::vector<Cell> cells;
  for (Kind kind : {Kind::kProgram, Kind::kLibrary, Kind::kCli})
    for (bool real : {false, true})
      for (std::size_t f = 0; f < Faults().size(); ++f) cells.push_back({kind, real, f});
  return cells;
}

INSTANTIATE_TEST_SUITE_P(EveryFrontEnd, FaultMatrix, ::testing::ValuesIn(AllCells()), CellName);

}  // namespace
}  // namespace qmx::fault
