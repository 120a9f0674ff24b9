#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/HandleFile.h"
#include "support/Fixtures.h"

namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

struct WriteLineCase {
  const char* name;
  std::string text;
  std::string written;
};

class HandleFileWriteLine : public ::testing::TestWithParam<WriteLineCase> {};

TEST_P(HandleFileWriteLine, EndsTheLineWithCrLfOnce) {
  const WriteLineCase& c = GetParam();
  std::string path = corvale::test::ScratchDir() + "/line.txt";
  CHandleFile file(path, 3);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_TRUE(file.WriteLine(c.text.data(), c.text.size()));
  file.Close();
  EXPECT_EQ(ReadWhole(path), c.written);
}

INSTANTIATE_TEST_SUITE_P(Cases, HandleFileWriteLine,
                         ::testing::Values(WriteLineCase{"alreadyEnded", "abc\r\n", "abc\r\n"},
                                           WriteLineCase{"plain", "abc", "abc\r\n"},
                                           WriteLineCase{"empty", "", ""},
                                           WriteLineCase{"lineFeedOnly", "abc\n", "abc\n\r\n"},
                                           WriteLineCase{"carriageReturnOnly", "abc\r", "abc\r\r\n"},
                                           WriteLineCase{"justCrLf", "\r\n", "\r\n"}),
                         [](const ::testing::TestParamInfo<WriteLineCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(HandleFile, ReadLineKeepsTheLineFeedAndEndsWithZero) {
  std::string path = corvale::test::ScratchDir() + "/lines.txt";
  WriteWhole(path, "ab\ncd");
  CHandleFile file(path, 0);
  ASSERT_TRUE(file.IsOpen());
  // Exactly n + 1 bytes: the sanitizer catches a write past them.
  std::vector<char> buffer(11, '#');
  EXPECT_EQ(file.ReadLine(buffer.data(), 10), 3u);
  EXPECT_STREQ(buffer.data(), "ab\n");
  EXPECT_EQ(file.ReadLine(buffer.data(), 10), 2u);
  EXPECT_STREQ(buffer.data(), "cd");
  EXPECT_EQ(file.ReadLine(buffer.data(), 10), 0u);
  EXPECT_STREQ(buffer.data(), "");
}

TEST(HandleFile, ReadLineStopsAtTheBufferSize) {
  std::string path = corvale::test::ScratchDir() + "/long.txt";
  WriteWhole(path, "abcdef\nz");
  CHandleFile file(path, 0);
  std::vector<char> buffer(5);
  EXPECT_EQ(file.ReadLine(buffer.data(), 4), 4u);
  EXPECT_STREQ(buffer.data(), "abcd");
  EXPECT_EQ(file.ReadLine(buffer.data(), 4), 3u);
  EXPECT_STREQ(buffer.data(), "ef\n");
  EXPECT_EQ(file.ReadLine(buffer.data(), 0), 0u);
  EXPECT_STREQ(buffer.data(), "");
  EXPECT_EQ(file.ReadLine(buffer.data(), 4), 1u);
}

struct ModeCase {
  int mode;
  bool fileExists;
  bool opens;
  std::string contentAfter;  // "-" when no file should be there
  bool canRead;
  bool canWrite;
};

class HandleFileMode : public ::testing::TestWithParam<ModeCase> {};

TEST_P(HandleFileMode, OpensAsTheModeSays) {
  const ModeCase& c = GetParam();
  std::string path = corvale::test::ScratchDir() + "/f.bin";
  if (c.fileExists) WriteWhole(path, "old");
  CHandleFile file;
  EXPECT_EQ(file.Open(path, c.mode), c.opens);
  EXPECT_EQ(file.IsOpen(), c.opens);
  if (c.opens) {
    char byte;
    EXPECT_EQ(file.Read(&byte, 1) == 1, c.canRead && c.fileExists && c.contentAfter == "old");
    EXPECT_EQ(file.Write("", 0), true);
    file.SeekToEnd();
    EXPECT_EQ(file.Write("!", 1), c.canWrite);
    file.Close();
    EXPECT_EQ(ReadWhole(path), c.canWrite ? c.contentAfter + "!" : c.contentAfter);
  } else {
    EXPECT_EQ(Exists(path), c.contentAfter != "-");
    if (c.fileExists) {
      EXPECT_EQ(ReadWhole(path), "old");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, HandleFileMode,
    ::testing::Values(
        ModeCase{0, true, true, "old", true, false}, ModeCase{0, false, false, "-", false, false},
        ModeCase{1, true, true, "old", false, true}, ModeCase{1, false, false, "-", false, false},
        ModeCase{2, true, true, "old", true, true}, ModeCase{2, false, false, "-", false, false},
        ModeCase{3, true, true, "", true, true}, ModeCase{3, false, true, "", true, true},
        ModeCase{4, true, true, "old", true, true}, ModeCase{4, false, true, "", true, true},
        ModeCase{5, true, false, "old", false, false}, ModeCase{5, false, false, "-", false, false},
        ModeCase{-1, true, false, "old", false, false}));

TEST(HandleFile, RefusedModeClosesWhatWasOpen) {
  std::string path = corvale::test::ScratchDir() + "/f.bin";
  WriteWhole(path, "x");
  CHandleFile file(path, 0);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_FALSE(file.Open(path, 5));
  EXPECT_FALSE(file.IsOpen());
}

TEST(HandleFile, CreateNewNeverOpensAnExistingName) {
  std::string dir = corvale::test::ScratchDir();
  WriteWhole(dir + "/taken.jpg", "user's photo");
  ASSERT_EQ(symlink((dir + "/nowhere").c_str(), (dir + "/dangling.jpg").c_str()), 0);

  CHandleFile file;
  EXPECT_FALSE(file.CreateNew(dir + "/taken.jpg"));
  EXPECT_EQ(file.LastError(), EEXIST);
  EXPECT_EQ(ReadWhole(dir + "/taken.jpg"), "user's photo");
  EXPECT_FALSE(file.CreateNew(dir + "/dangling.jpg"));
  EXPECT_EQ(file.LastError(), EEXIST);
  EXPECT_FALSE(Exists(dir + "/nowhere"));

  ASSERT_TRUE(file.CreateNew(dir + "/fresh.jpg"));
  EXPECT_TRUE(file.Write("data", 4));
  EXPECT_GE(file.GetDescriptor(), 0);
  file.Close();
  EXPECT_EQ(ReadWhole(dir + "/fresh.jpg"), "data");
}

// The modes that create (3 create or empty, 4 create or keep) never do so through a link: a link
// under the name, pointing at a file or nowhere, is refused and what it points at stays as it was.
TEST(HandleFile, CreatingModesNeverFollowALink) {
  std::string dir = corvale::test::ScratchDir();
  WriteWhole(dir + "/kept", "root's");
  ASSERT_EQ(symlink((dir + "/kept").c_str(), (dir + "/to-file").c_str()), 0);
  ASSERT_EQ(symlink((dir + "/nowhere").c_str(), (dir + "/dangling").c_str()), 0);
  for (int mode : {3, 4}) {
    for (const char* name : {"/to-file", "/dangling"}) {
      CHandleFile file;
      EXPECT_FALSE(file.Open(dir + name, mode)) << mode << name;
      EXPECT_EQ(file.LastError(), ELOOP) << mode << name;
    }
  }
  EXPECT_EQ(ReadWhole(dir + "/kept"), "root's");
  EXPECT_FALSE(Exists(dir + "/nowhere"));
}

TEST(HandleFile, FoldersAreRefusedInEveryMode) {
  std::string dir = corvale::test::ScratchDir();
  CHandleFile file;
  for (int mode = 0; mode <= 4; ++mode) {
    EXPECT_FALSE(file.Open(dir, mode)) << mode;
    EXPECT_EQ(file.LastError(), EISDIR) << mode;
  }
}

TEST(HandleFile, ClosedFileAnswersZero) {
  CHandleFile file;
  char buffer[8] = "xxxxxxx";
  uint64_t size = 7;
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Read(buffer, 4), 0u);
  EXPECT_FALSE(file.Write("a", 1));
  EXPECT_FALSE(file.WriteLine("a", 1));
  EXPECT_TRUE(file.WriteLine("a", 0));
  EXPECT_EQ(file.ReadLine(buffer, 4), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(file.Seek(0));
  EXPECT_FALSE(file.SeekToBegin());
  EXPECT_FALSE(file.SeekToEnd());
  EXPECT_EQ(file.GetPosition(), UINT64_MAX);
  EXPECT_FALSE(file.GetSize(&size));
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(file.GetDescriptor(), -1);
}

TEST(HandleFile, PositionsAndSize) {
  std::string path = corvale::test::ScratchDir() + "/p.bin";
  CHandleFile file(path, 3);
  ASSERT_TRUE(file.Write("0123456789", 10));
  uint64_t size = 0;
  ASSERT_TRUE(file.GetSize(&size));
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(file.GetPosition(), 10u);
  ASSERT_TRUE(file.Seek(4));
  char buffer[4];
  EXPECT_EQ(file.Read(buffer, 4), 4u);
  EXPECT_EQ(std::string(buffer, 4), "4567");
  EXPECT_EQ(file.GetPosition(), 8u);
  EXPECT_EQ(file.Read(buffer, 4), 2u);  // short only at the end
  ASSERT_TRUE(file.SeekToBegin());
  EXPECT_EQ(file.GetPosition(), 0u);
  ASSERT_TRUE(file.SeekToEnd());
  EXPECT_EQ(file.GetPosition(), 10u);
  // Past the end is allowed, as on any file; beyond the signed range is not.
  EXPECT_TRUE(file.Seek(1 << 20));
  EXPECT_EQ(file.GetPosition(), 1u << 20);
  EXPECT_FALSE(file.Seek(UINT64_MAX));
  EXPECT_EQ(file.GetPosition(), 1u << 20);
}

TEST(HandleFile, WriteThatCannotCompleteFails) {
  CHandleFile full("/dev/full", 1);
  if (!full.IsOpen()) GTEST_SKIP() << "no /dev/full";
  EXPECT_FALSE(full.Write("abc", 3));
  EXPECT_EQ(full.LastError(), ENOSPC);
  EXPECT_FALSE(full.WriteLine("abc", 3));
}

}  // namespace
