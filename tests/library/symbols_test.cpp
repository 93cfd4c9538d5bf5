// The shared object exports the twenty functions and nothing else.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

TEST(QmxLibrarySymbols, ExactlyTheTwentyExportsAreDynamic) {
  const std::string command = std::string("nm -D --defined-only ") + QMX71A_FILE;
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> functions;
  std::set<std::string> others;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream in(line);
    std::string address, type, name;
    if (!(in >> address >> type >> name)) continue;
    if (type == "A") continue;  // the version node itself
    const auto at = name.find('@');
    const std::string bare = name.substr(0, at);
    (type == "T" ? functions : others).insert(bare);
  }
  ASSERT_EQ(::pclose(pipe), 0);
  const std::set<std::string> expected = {
      "QmxOpen",   "QmxClose",    "QmxMode",     "QmxCheck",     "QmxRead",     "QmxCompare", "QmxBlankChk",
      "QmxChecksum", "QmxWrite",  "QmxErase",    "QmxDllVer",    "QmxFrmVer",   "QmxSetFreq", "QmxGetFreq",
      "QmxGetSwitch", "QmxSetEvent", "QmxReset", "QmxVpp",       "QmxDWrite",   "QmxDRead"};
  EXPECT_EQ(functions, expected);
  EXPECT_TRUE(others.empty()) << *others.begin();
}

}  // namespace
