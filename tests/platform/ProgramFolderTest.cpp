#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

// Without raised rights the user's own state folder: $XDG_STATE_HOME/corvale, else under $HOME. As
// root this runs as user nobody, in a folder of nobody's.
TEST(ProgramFolder, OtherwiseThePrivateStateFolderIsMade) {
  corvale::test::PublicScratchDir folder;
  const std::string scratch = folder.path();
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(scratch.c_str(), corvale::test::kOtherUser, corvale::test::kOtherUser), 0);
  }
  const auto checks = [&] {
    bool ok = true;
    const auto expect = [&](bool condition) { ok = ok && condition; };
    std::string notWritable = scratch + "/no-such-folder";
    {
      ScopedEnv xdg("XDG_STATE_HOME", (scratch + "/xdg/state").c_str());
      expect(platform::ChooseProgramFolder(notWritable) == scratch + "/xdg/state/corvale/");
      struct stat st {};
      expect(stat((scratch + "/xdg/state/corvale").c_str(), &st) == 0 && (st.st_mode & 0777) == 0700u);
      expect(stat((scratch + "/xdg").c_str(), &st) == 0 && (st.st_mode & 0777) == 0700u);
    }
    {
      // A relative XDG_STATE_HOME does not count; the default under HOME is used.
      ScopedEnv xdg("XDG_STATE_HOME", "relative/state");
      ScopedEnv home("HOME", (scratch + "/home").c_str());
      expect(platform::ChooseProgramFolder("") == scratch + "/home/.local/state/corvale/");
    }
    {
      // A file in the way: no folder, said by an empty answer.
      FILE* f = fopen((scratch + "/blocked").c_str(), "w");
      expect(f != nullptr);
      if (f) fclose(f);
      ScopedEnv xdg("XDG_STATE_HOME", (scratch + "/blocked").c_str());
      expect(platform::ChooseProgramFolder(notWritable).empty());
    }
    return ok;
  };
  if (root) {
    EXPECT_TRUE(corvale::test::RunAsOtherUser(checks));
  } else {
    EXPECT_TRUE(checks());
  }
}

// As root the environment belongs to whoever started the program: HOME and XDG_STATE_HOME are not
// asked, and only a folder closed to others is written into. User nobody owns the folder the
// environment names and has planted a link where the state folder would be.
TEST(ProgramFolder, AsRootOnlyRootsOwnStateFolderOrAClosedExecutableFolder) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  corvale::test::PublicScratchDir attacker;
  corvale::test::PublicScratchDir roots;
  ASSERT_EQ(chown(attacker.path().c_str(), corvale::test::kOtherUser, corvale::test::kOtherUser), 0);
  ASSERT_EQ(mkdir((roots.path() + "/etc").c_str(), 0755), 0);
  ASSERT_TRUE(corvale::test::RunAsOtherUser([&] {
    return mkdir((attacker.path() + "/state").c_str(), 0755) == 0 &&
           symlink((roots.path() + "/etc").c_str(), (attacker.path() + "/state/corvale").c_str()) == 0;
  }));
  ScopedEnv xdg("XDG_STATE_HOME", (attacker.path() + "/state").c_str());
  ScopedEnv home("HOME", attacker.path().c_str());
  const std::string own = platform::RootStateFolder();
  ASSERT_FALSE(own.empty());
  const std::string closed = corvale::test::ScratchDir();
  const struct {
    const char* what;
    std::string executableDir;
    std::string chosen;
  } cases[] = {{"a closed executable folder", closed, closed + "/"},
               {"no writable executable folder", closed + "/missing", own},
               {"an executable folder of nobody's", attacker.path(), own}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(platform::ChooseProgramFolder(c.executableDir), c.chosen);
  }
  struct stat st {};
  ASSERT_EQ(stat(own.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  std::string problem;
  EXPECT_TRUE(platform::IsFolderClosedToOthers(own, &problem)) << problem;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(roots.path() + "/etc"),
                          std::filesystem::directory_iterator()),
            0);
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
