// The ctypes binding reads a part to a file, as a Python host would.
#include <sys/wait.h>

#include <fstream>
#include <iterator>

#include "tests/library/library_fixture.h"

namespace qmxlib {
namespace {

TEST_F(QmxLibraryTest, PythonBindingReadsAPartToAFile) {
  sim->SetModel("QMX-71C");
  ASSERT_TRUE(sim->InsertPart("24C64"));
  const Bytes contents = RandomBytes(8192, 3);
  ASSERT_TRUE(sim->SetPartContents(contents));
  const std::string out = linkPath + ".bin";
  const std::string command = std::string("QMX71A_LIBRARY='") + QMX71A_FILE + "' '" + QMX_PYTHON + "' '" +
                              QMX71A_PY + "' '" + out + "' 7 256 1024 1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  std::ifstream file(out, std::ios::binary);
  const Bytes got{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  std::remove(out.c_str());
  EXPECT_EQ(got, Bytes(contents.begin() + 256, contents.begin() + 1280));
  // The script closed its own connection: supply off, then the query that
  // confirms it, were its last words.
  const auto log = sim->Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2].code, qmx::sim::DEV_CTRL);
  EXPECT_EQ(log[log.size() - 2].args, Bytes{8});
  EXPECT_EQ(log.back().code, qmx::sim::GET_VERSION);
}

}  // namespace
}  // namespace qmxlib
