#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/ProgramFolder.h"
#include "support/Fixtures.h"

namespace {

// Sets (or, with null, unsets) an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    const char* old = std::getenv(name);
    m_had = old != nullptr;
    if (old) m_old = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (m_had)
      setenv(m_name, m_old.c_str(), 1);
    else
      unsetenv(m_name);
  }

 private:
  const char* m_name;
  std::string m_old;
  bool m_had;
};

TEST(ProgramFolder, ExecutableDirectoryHoldsThisProgram) {
  std::string dir = platform::ExecutableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(access((dir + "platform_tests").c_str(), X_OK), 0) << dir;
}

TEST(ProgramFolder, WritableExecutableFolderIsTheProgramFolder) {
  std::string dir = corvale::test::ScratchDir();
  EXPECT_EQ(platform::ChooseProgramFolder(dir), dir + "/");
  EXPECT_EQ(platform::ChooseProgramFolder(dir + "/"), dir + "/");
  // The process-wide choice is made once and is a folder the program can write to.
  std::string chosen = platform::ProgramFolder();
  ASSERT_FALSE(chosen.empty());
  EXPECT_EQ(chosen, platform::ProgramFolder());
  EXPECT_EQ(access(chosen.c_str(), W_OK), 0);
}

TEST(ProgramFolder, OtherwiseThePrivateStateFolderIsMade) {
  std::string scratch = corvale::test::ScratchDir();
  std::string notWritable = scratch + "/no-such-folder";
  {
    ScopedEnv xdg("XDG_STATE_HOME", (scratch + "/xdg/state").c_str());
    EXPECT_EQ(platform::ChooseProgramFolder(notWritable), scratch + "/xdg/state/corvale/");
    struct stat st {};
    ASSERT_EQ(stat((scratch + "/xdg/state/corvale").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((scratch + "/xdg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  {
    // A relative XDG_STATE_HOME does not count; the default under HOME is used.
    ScopedEnv xdg("XDG_STATE_HOME", "relative/state");
    ScopedEnv home("HOME", (scratch + "/home").c_str());
    EXPECT_EQ(platform::ChooseProgramFolder(""), scratch + "/home/.local/state/corvale/");
  }
  {
    // A file in the way: no folder, said by an empty answer.
    FILE* f = fopen((scratch + "/blocked").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    ScopedEnv xdg("XDG_STATE_HOME", (scratch + "/blocked").c_str());
    EXPECT_EQ(platform::ChooseProgramFolder(notWritable), "");
  }
}

struct StartSectorCase {
  const char* name;
  const char* content;  // null: no file
  uint64_t expected;
};

class SearchStartSector : public ::testing::TestWithParam<StartSectorCase> {};

TEST_P(SearchStartSector, ReadsPosOfSectionMain) {
  const StartSectorCase& c = GetParam();
  std::string path = corvale::test::ScratchDir() + "/config.ini";
  if (c.content) {
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs(c.content, f);
    fclose(f);
  }
  EXPECT_EQ(platform::ReadSearchStartSectorFrom(path), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SearchStartSector,
    ::testing::Values(StartSectorCase{"noFile", nullptr, 0},
                      StartSectorCase{"plain", "[main]\npos=24581\n", 24581},
                      StartSectorCase{"caseAndBlanks", "[MAIN]\r\n POS = 8192 \r\n", 8192},
                      StartSectorCase{"plusSign", "[main]\npos=+5\n", 5},
                      StartSectorCase{"largest", "[main]\npos=9223372036854775807\n", 9223372036854775807ull},
                      StartSectorCase{"overflow", "[main]\npos=9223372036854775808\n", 0},
                      StartSectorCase{"negative", "[main]\npos=-8\n", 0},
                      StartSectorCase{"notANumber", "[main]\npos=abc\n", 0},
                      StartSectorCase{"trailingJunk", "[main]\npos=12abc\n", 0},
                      StartSectorCase{"empty", "[main]\npos=\n", 0},
                      StartSectorCase{"noKey", "[main]\nother=5\n", 0},
                      StartSectorCase{"otherSection", "[side]\npos=5\n", 0},
                      StartSectorCase{"binaryGarbage", "\x7f\x45\x4c\x46\x01\xff\xfe[main\x01", 0}),
    [](const ::testing::TestParamInfo<StartSectorCase>& info) { return std::string(info.param.name); });

}  // namespace
