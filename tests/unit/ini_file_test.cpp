#include "core/settings/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <string>

#include "core/settings/settings_path.h"
#include "image_file_helpers.h"

namespace qmx {
namespace {

using test::ReadFileText;
using test::ScratchDir;
using test::WriteFileText;

// Loads `text` from a real file, as the program does.
IniFile Loaded(const ScratchDir& dir, const std::string& text) {
  WriteFileText(dir.File("in.ini"), text);
  IniFile ini;
  EXPECT_TRUE(ini.Load(dir.File("in.ini")));
  return ini;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

TEST(IniFile, WritesTouchOnlyTheirOwnLines) {
  ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  const std::string original =
      "; written by hand\n"
      "orphan=above any section\n"
      "\n"
      "[Other Tool]\n"
      "  Colour =  blue   \n"
      "# hash comment\n"
      "not a key line\n"
      "[Empty]\n"
      "; note\n"
      "[Window]   ; trailing note\n"
      "\tLeft = 10  \n"
      "Top = 20 \n"
      "\n"
      "; about the next one\n"
      "[Last]\n"
      "k=v";  // no final line end
  IniFile ini = Loaded(dir, original);
  ini.WriteInteger("window", "LEFT", 15);
  ini.WriteString("Window", "Top", "20");  // same value: the line stays as it was, blanks and all
  std::string expected = Replaced(original, "\tLeft = 10  \n", "\tLeft = 15\n");
  EXPECT_EQ(ini.Text(), expected);

  ini.WriteString("Window", "Width", "640");
  expected = Replaced(expected, "Top = 20 \n", "Top = 20 \nWidth=640\n");
  EXPECT_EQ(ini.Text(), expected) << "after the section's last entry, not at the end of the file";

  ini.WriteString("Empty", "a", "1");
  expected = Replaced(expected, "[Empty]\n", "[Empty]\na=1\n");
  EXPECT_EQ(ini.Text(), expected);

  ini.WriteString("Last", "k2", "v2");
  ini.WriteString("New", "Flag", "1");
  expected += "\nk2=v2\n\n[New]\nFlag=1\n";
  EXPECT_EQ(ini.Text(), expected);

  ASSERT_TRUE(ini.Save(dir.File("out.ini")));
  EXPECT_EQ(ReadFileText(dir.File("out.ini")), expected);
}

TEST(IniFile, CrLfAndByteOrderMarkKept) {
  ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  const std::string bom = "\xEF\xBB\xBF";
  IniFile ini = Loaded(dir, bom + "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
  EXPECT_EQ(ini.ReadString("A", "x"), "1") << "the BOM is not part of the first section name";
  ini.WriteString("A", "x", "one");
  ini.WriteString("A", "z", "3");
  ini.WriteString("C", "w", "4");
  EXPECT_EQ(ini.Text(), bom + "[A]\r\nx=one\r\nz=3\r\n\r\n[B]\r\ny=2\r\n\r\n[C]\r\nw=4\r\n");

  // A lone CR is text, not a line end, and the value keeps it.
  ini = Loaded(dir, "[A]\nx=a\rb\n");
  EXPECT_EQ(ini.ReadString("A", "x"), "a\rb");
  ini.WriteString("A", "y", "line\r\nbreak");
  EXPECT_EQ(ini.Text(), "[A]\nx=a\rb\ny=line  break\n");
}

TEST(IniFile, LoadOutcomes) {
  ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  IniFile ini = Loaded(dir, "[S]\nold=1\n");
  ASSERT_TRUE(ini.Load(dir.File("missing.ini")));
  EXPECT_EQ(ini.ReadString("S", "old"), std::nullopt) << "loading replaces the document";
  ini.WriteString("S", "k", "v");
  ASSERT_TRUE(ini.Save(dir.File("missing.ini")));
  EXPECT_EQ(ReadFileText(dir.File("missing.ini")), "[S]\nk=v\n");

  ini = Loaded(dir, "[S]\nold=1\n");
  WriteFileText(dir.File("big.ini"), "[S]\nold=1\n" + std::string(kIniFileLimit, ';'));
  EXPECT_FALSE(ini.Load(dir.File("big.ini")));
  EXPECT_EQ(ini.Text(), "");
  ini = Loaded(dir, "[S]\nold=1\n");
  EXPECT_FALSE(ini.Load(dir.Path().string())) << "a folder exists but is not readable as a file";
  EXPECT_EQ(ini.Text(), "");
  // Only a name that does not exist is a new file; a broken path is an error.
  WriteFileText(dir.File("plain"), "");
  EXPECT_FALSE(ini.Load(dir.File("plain/x.ini")));

  // The folder is missing: nothing to write into, and no exception either.
  ini.WriteString("S", "k", "v");
  bool saved = true;
  EXPECT_NO_THROW(saved = ini.Save(dir.File("no-folder/x.ini")));
  EXPECT_FALSE(saved);
}

TEST(IniFile, LookupRules) {
  ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  IniFile ini = Loaded(dir,
                       "top=0\n"
                       "[Paths]\n"
                       ";Last=commented\n"
                       "Query = a=b = c \n"
                       "Empty=\n"
                       "= no key\n"
                       "[Broken\n"
                       "inBroken=still Paths\n"
                       "[ paths ]\n"
                       "last=second part\n"
                       "query=shadowed\n");
  EXPECT_EQ(ini.ReadString("PATHS", "QUERY"), "a=b = c");
  EXPECT_EQ(ini.ReadString(" Paths ", "\tQuery "), "a=b = c");
  EXPECT_EQ(ini.ReadString("Paths", "Empty"), "");
  EXPECT_EQ(ini.ReadString("Paths", "inBroken"), "still Paths");
  EXPECT_EQ(ini.ReadString("Paths", "Last"), "second part") << "duplicate sections are searched in order";
  EXPECT_EQ(ini.ReadString("", "top"), std::nullopt);
  EXPECT_EQ(ini.ReadString("Paths", ""), std::nullopt);
  EXPECT_EQ(ini.ReadString("Nope", "Query"), std::nullopt);

  // The first match is the one written, under its own spelling.
  ini.WriteString(" paths", "query ", "new");
  EXPECT_EQ(ini.ReadString("Paths", "Query"), "new");
  EXPECT_NE(ini.Text().find("Query = new\n"), std::string::npos);
  EXPECT_NE(ini.Text().find("query=shadowed\n"), std::string::npos);

  // Names that would not read back as written are refused.
  const std::string before = ini.Text();
  ini.WriteString("Paths", "a=b", "1");
  ini.WriteString("Paths", " ", "1");
  ini.WriteString("Pa]ths", "k", "1");
  ini.WriteString("Paths", "k\nx", "1");
  EXPECT_EQ(ini.Text(), before);
}

TEST(IniFile, IntegersAndBools) {
  ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  struct Case {
    const char* text;
    int expected;
  };
  constexpr int kDefault = 99;
  const Case cases[] = {
      {"0x1F", 31}, {"0X10", 16}, {"0xff", 255}, {" 7 ", 7}, {"-3", -3}, {"+5", 5}, {"007", 7},
      {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}, {"0x7FFFFFFF", INT_MAX},
      {"0x", kDefault}, {"0xZZ", kDefault}, {"0x1G", kDefault}, {"0x-1", kDefault}, {"-0x1", kDefault},
      {"12abc", kDefault}, {"", kDefault}, {"-", kDefault}, {"+-5", kDefault}, {"- 3", kDefault},
      {"1 2", kDefault}, {"2147483648", kDefault}, {"-2147483649", kDefault}, {"0x80000000", kDefault},
      {"0xFFFFFFFF", kDefault}, {"99999999999999999999999", kDefault},
  };
  for (const Case& c : cases) {
    IniFile ini = Loaded(dir, std::string("[S]\nv=") + c.text + "\n");
    EXPECT_EQ(ini.ReadInteger("S", "v", kDefault), c.expected) << '"' << c.text << '"';
  }
  IniFile ini = Loaded(dir, "[S]\nzero=0\ntwo=2\nword=abc\n");
  EXPECT_FALSE(ini.ReadBool("S", "zero", true));
  EXPECT_TRUE(ini.ReadBool("S", "two", false));
  EXPECT_TRUE(ini.ReadBool("S", "word", true));
  EXPECT_FALSE(ini.ReadBool("S", "word", false));
  EXPECT_TRUE(ini.ReadBool("S", "missing", true));
  EXPECT_EQ(ini.ReadInteger("S", "missing", -7), -7);

  ini.WriteInteger("S", "neg", INT_MIN);
  ini.WriteBool("S", "zero", true);
  ini.WriteBool("S", "two", false);
  EXPECT_EQ(ini.Text(), "[S]\nzero=1\ntwo=0\nword=abc\nneg=-2147483648\n");
}

TEST(SettingsPath, Choice) {
  std::string checked;
  SettingsPathInputs in;
  in.programPath = "/opt/qmx/Qmx71aApp";
  in.xdgConfigHome = "/x/cfg";
  in.home = "/home/u";
  in.dirWritable = [&checked](const std::string& dir) {
    checked = dir;
    return dir == "/opt/qmx";
  };
  EXPECT_EQ(SettingsFilePath(in), "/opt/qmx/Qmx71aApp.ini");
  EXPECT_EQ(checked, "/opt/qmx");
  in.programPath = "/opt/qmx/Qmx71aApp.exe";
  EXPECT_EQ(SettingsFilePath(in), "/opt/qmx/Qmx71aApp.ini");
  in.overridePath = "rel/own.ini";
  EXPECT_EQ(SettingsFilePath(in), "rel/own.ini");
  in.overridePath.clear();

  in.programPath = "/usr/bin/Qmx71aApp";
  EXPECT_EQ(SettingsFilePath(in), "/x/cfg/qmx71a/Qmx71aApp.ini");
  in.dirWritable = nullptr;
  in.programPath = "/opt/qmx/Qmx71aApp";
  EXPECT_EQ(SettingsFilePath(in), "/x/cfg/qmx71a/Qmx71aApp.ini");
  in.xdgConfigHome = "relative/cfg";
  EXPECT_EQ(SettingsFilePath(in), "/home/u/.config/qmx71a/Qmx71aApp.ini");
  in.xdgConfigHome.clear();
  EXPECT_EQ(SettingsFilePath(in), "/home/u/.config/qmx71a/Qmx71aApp.ini");
  in.home.clear();
  EXPECT_EQ(SettingsFilePath(in), "");
}

TEST(SettingsPath, ProcessInputsAndParentFolders) {
  const SettingsPathInputs in = ProcessSettingsInputs("");
  EXPECT_EQ(test::fs::path(in.programPath).filename(), "qmx_unit_settings");
  ASSERT_TRUE(in.dirWritable);

  ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  EXPECT_TRUE(in.dirWritable(dir.Path().string()));
  const std::string file = dir.File("a/b/Qmx71aApp.ini");
  ASSERT_TRUE(EnsureParentFolder(file));
  struct stat info {};
  ASSERT_EQ(::stat(dir.File("a/b").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat(dir.File("a").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(EnsureParentFolder(file)) << "already there";
  WriteFileText(dir.File("plain"), "");
  EXPECT_FALSE(EnsureParentFolder(dir.File("plain/c/x.ini")));
}

}  // namespace
}  // namespace qmx
