#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "image/file_io.h"
#include "image/raw_binary.h"
#include "image_file_helpers.h"

namespace qmx {
namespace {

using test::ReadFileText;
using test::ScratchDir;
using test::WriteFileText;

mode_t Mode(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(FileIo, ReadWholeFileLimits) {
  ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  const std::string path = dir.File("data");
  const auto bytes = test::RandomBytes(200000, 1);  // several read chunks
  WriteFileText(path, std::string(bytes.begin(), bytes.end()));

  const FileContents exact = ReadWholeFile(path, bytes.size());
  EXPECT_EQ(exact.status, FileReadStatus::kOk);
  EXPECT_EQ(exact.bytes, bytes);
  EXPECT_EQ(ReadWholeFile(path, bytes.size() + 100).bytes, bytes);

  const FileContents over = ReadWholeFile(path, bytes.size() - 1);
  EXPECT_EQ(over.status, FileReadStatus::kTooLong);
  EXPECT_TRUE(over.bytes.empty());

  WriteFileText(path, "");
  EXPECT_EQ(ReadWholeFile(path, 0).status, FileReadStatus::kOk);
  EXPECT_EQ(ReadWholeFile(dir.File("missing"), 100).status, FileReadStatus::kCannotRead);
  EXPECT_EQ(ReadWholeFile(dir.Path().string(), 100).status, FileReadStatus::kCannotRead);
}

TEST(WriteFileReplacing, NewAndReplacedFiles) {
  ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  const std::string path = dir.File("image.bin");
  ASSERT_TRUE(WriteFileReplacing(path, std::string_view("\x00\x01\xFF\r\n", 5)));
  EXPECT_EQ(ReadFileText(path), std::string("\x00\x01\xFF\r\n", 5));
  EXPECT_EQ(Mode(path), 0644u) << "not the 0600 of a fresh temporary";

  // Shorter contents must not leave the old tail; the owner's chosen bits stay.
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(WriteFileReplacing(path, "ab"));
  EXPECT_EQ(ReadFileText(path), "ab");
  EXPECT_EQ(Mode(path), 0640u);
  ASSERT_TRUE(WriteFileReplacing(path, ""));
  EXPECT_EQ(ReadFileText(path), "");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"image.bin"});
}

TEST(WriteFileReplacing, FailuresLeaveEverythingAsItWas) {
  ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  EXPECT_FALSE(WriteFileReplacing(dir.File("no-such-folder/image.bin"), "data"));
  EXPECT_FALSE(test::fs::exists(dir.File("no-such-folder")));

  // Parent is a regular file: nothing can be created beside the target.
  const std::string plain = dir.File("plain");
  WriteFileText(plain, "keep me");
  EXPECT_FALSE(WriteFileReplacing(plain + "/image.bin", "data"));
  EXPECT_EQ(ReadFileText(plain), "keep me");

  // The target is a folder: the temporary is written, then the rename fails.
  ASSERT_TRUE(test::fs::create_directory(dir.File("folder")));
  WriteFileText(dir.File("folder/inside"), "keep me too");
  EXPECT_FALSE(WriteFileReplacing(dir.File("folder"), "data"));
  EXPECT_EQ(ReadFileText(dir.File("folder/inside")), "keep me too");

  std::vector<std::string> entries = dir.Entries();
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"folder", "plain"})) << "a temporary was left behind";
}

TEST(WriteFileReplacing, WriteErrorPartWayLeavesTheOldFile) {
  ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  const std::string path = dir.File("image.bin");
  WriteFileText(path, "old contents");

  // A file size limit stops writes even for root; the temporary fills up to it and then fails.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved_ok = WriteFileReplacing(path, std::string(65536, 'n'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);

  EXPECT_FALSE(saved_ok);
  EXPECT_EQ(ReadFileText(path), "old contents");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"image.bin"});
}

TEST(WriteFileReplacing, ReadOnlyFolderForOrdinaryUsers) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: folder permissions do not stop writes";
  ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  const std::string path = dir.File("image.bin");
  WriteFileText(path, "old");
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
  EXPECT_FALSE(WriteFileReplacing(path, "new"));
  ::chmod(dir.Path().c_str(), 0755);
  EXPECT_EQ(ReadFileText(path), "old");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"image.bin"});
}

class BinaryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.Ok());
    image_.SetSize(1024);
    std::copy(pattern_.begin(), pattern_.end(), image_.Data());
  }

  bool ImageIsPattern() const { return std::equal(pattern_.begin(), pattern_.end(), image_.Data()); }

  ScratchDir dir_;
  MemoryImage image_;
  const std::vector<std::uint8_t> pattern_ = test::RandomBytes(MemoryImage::kCapacity, 9);
};

TEST_F(BinaryFile, SaveWritesTheSizeAndLoadsBack) {
  const std::string path = dir_.File("part.bin");
  ASSERT_TRUE(SaveBinary(image_, path));
  EXPECT_EQ(ReadFileText(path), std::string(pattern_.begin(), pattern_.begin() + 1024));

  MemoryImage loaded;
  loaded.SetSize(1024);
  std::int32_t length = -1;
  EXPECT_EQ(LoadBinary(path, loaded, &length), BinaryLoadStatus::kOk);
  EXPECT_EQ(length, 1024);
  EXPECT_TRUE(std::equal(pattern_.begin(), pattern_.begin() + 1024, loaded.Data()));
  EXPECT_EQ(loaded.Data()[1024], 0xFF);
}

TEST_F(BinaryFile, ShorterFileChangesOnlyItsBytes) {
  const std::string path = dir_.File("short.bin");
  WriteFileText(path, "\x01\x02\x03");
  std::int32_t length = -1;
  EXPECT_EQ(LoadBinary(path, image_, &length), BinaryLoadStatus::kOk);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(image_.Size(), 1024);
  EXPECT_EQ(image_.Data()[0], 1);
  EXPECT_EQ(image_.Data()[2], 3);
  EXPECT_TRUE(std::equal(pattern_.begin() + 3, pattern_.end(), image_.Data() + 3));
}

TEST_F(BinaryFile, RefusedFilesChangeNothing) {
  const std::string path = dir_.File("long.bin");
  WriteFileText(path, std::string(1025, '\0'));
  std::int32_t length = -1;
  EXPECT_EQ(LoadBinary(path, image_, &length), BinaryLoadStatus::kLongerThanImage);
  EXPECT_EQ(LoadBinary(dir_.File("missing.bin"), image_, &length), BinaryLoadStatus::kCannotRead);
  EXPECT_EQ(length, -1);
  EXPECT_TRUE(ImageIsPattern());
  EXPECT_EQ(image_.Size(), 1024);

  // Exactly the image size is fine.
  WriteFileText(path, std::string(1024, '\0'));
  EXPECT_EQ(LoadBinary(path, image_, &length), BinaryLoadStatus::kOk);
  EXPECT_EQ(length, 1024);
}

// The window's load keeps what fits and counts the rest, without reading it.
TEST_F(BinaryFile, CutLoadFillsTheImageAndCountsWhatItLeftOut) {
  const std::string path = dir_.File("long.bin");
  WriteFileText(path, std::string(1024, '\x11') + std::string(100000, '\x22'));
  std::uint64_t dropped = 0;
  EXPECT_EQ(LoadBinaryCut(path, image_, &dropped), BinaryLoadStatus::kOk);
  EXPECT_EQ(dropped, 100000u);
  EXPECT_TRUE(std::all_of(image_.Data(), image_.Data() + 1024, [](std::uint8_t b) { return b == 0x11; }));
  WriteFileText(path, "\x01");
  EXPECT_EQ(LoadBinaryCut(path, image_, &dropped), BinaryLoadStatus::kOk);
  EXPECT_EQ(dropped, 0u);
  EXPECT_EQ(LoadBinaryCut(dir_.File("missing.bin"), image_, &dropped), BinaryLoadStatus::kCannotRead);
}

}  // namespace
}  // namespace qmx
