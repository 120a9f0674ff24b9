#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/Registry.h"
#include "support/Fixtures.h"

using platform::RegistryGetString;
using platform::RegistrySetString;
using platform::RegistryStatus;

namespace {

constexpr const char* kKey = "SOFTWARE\\Corvale\\TarnRecovery";

// Points CORVALE_REGISTRY at a file in a folder that does not exist yet.
class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("CORVALE_REGISTRY");
    if (old) m_old = old;
    m_hadOld = old != nullptr;
    m_scratch = corvale::test::ScratchDir();
    m_folder = m_scratch + "/etc/corvale";
    m_path = m_folder + "/registry.ini";
    setenv("CORVALE_REGISTRY", m_path.c_str(), 1);
  }
  void TearDown() override {
    if (m_hadOld)
      setenv("CORVALE_REGISTRY", m_old.c_str(), 1);
    else
      unsetenv("CORVALE_REGISTRY");
  }
  std::string m_scratch, m_folder, m_path, m_old;
  bool m_hadOld = false;
};

TEST_F(Registry, FileNamedByTheEnvironmentElseTheMachineFile) {
  EXPECT_EQ(platform::RegistryFilePath(), m_path);
  unsetenv("CORVALE_REGISTRY");
  EXPECT_EQ(platform::RegistryFilePath(), "/etc/corvale/registry.ini");
  setenv("CORVALE_REGISTRY", "", 1);
  EXPECT_EQ(platform::RegistryFilePath(), "/etc/corvale/registry.ini");
}

TEST_F(Registry, MissingFileMeansTheKeyCannotBeOpened) {
  std::string out = "untouched";
  EXPECT_EQ(RegistryGetString(kKey, "Language", &out), RegistryStatus::KeyMissing);
  EXPECT_EQ(out, "untouched");
}

TEST_F(Registry, WriteCreatesFolderAndFileThenReadsBack) {
  ASSERT_EQ(RegistrySetString(kKey, "Language", "English"), RegistryStatus::Ok);
  struct stat st {};
  ASSERT_EQ(stat(m_folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  ASSERT_EQ(stat(m_path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  std::string out;
  EXPECT_EQ(RegistryGetString(kKey, "Language", &out), RegistryStatus::Ok);
  EXPECT_EQ(out, "English");
  // Names match as the registry's do, without regard to case.
  EXPECT_EQ(RegistryGetString("software\\corvale\\tarnrecovery", "LANGUAGE", &out), RegistryStatus::Ok);
  EXPECT_EQ(RegistryGetString(kKey, "UpdateUrl", &out), RegistryStatus::ValueMissing);
  EXPECT_EQ(RegistryGetString("SOFTWARE\\Other", "Language", &out), RegistryStatus::KeyMissing);
}

TEST_F(Registry, SecondWriteKeepsOtherValuesAndReplacesItsOwn) {
  ASSERT_EQ(RegistrySetString(kKey, "Language", "Deutsch"), RegistryStatus::Ok);
  ASSERT_EQ(RegistrySetString(kKey, "UpdateUrl", "http://updates.example/corvale"), RegistryStatus::Ok);
  ASSERT_EQ(RegistrySetString(std::string(kKey) + "\\Language", "Language", "Japanese"), RegistryStatus::Ok);
  ASSERT_EQ(RegistrySetString(kKey, "Language", "English"), RegistryStatus::Ok);
  std::string out;
  ASSERT_EQ(RegistryGetString(kKey, "Language", &out), RegistryStatus::Ok);
  EXPECT_EQ(out, "English");
  ASSERT_EQ(RegistryGetString(kKey, "UpdateUrl", &out), RegistryStatus::Ok);
  EXPECT_EQ(out, "http://updates.example/corvale");
  ASSERT_EQ(RegistryGetString(std::string(kKey) + "\\Language", "Language", &out), RegistryStatus::Ok);
  EXPECT_EQ(out, "Japanese");
}

TEST_F(Registry, WritersInParallelLoseNothing) {
  std::vector<std::thread> writers;
  for (int i = 0; i < 8; ++i)
    writers.emplace_back([i] {
      for (int round = 0; round < 5; ++round)
        EXPECT_EQ(RegistrySetString(kKey, "Value" + std::to_string(i), std::to_string(round)),
                  RegistryStatus::Ok);
    });
  for (std::thread& t : writers) t.join();
  for (int i = 0; i < 8; ++i) {
    std::string out;
    EXPECT_EQ(RegistryGetString(kKey, "Value" + std::to_string(i), &out), RegistryStatus::Ok);
    EXPECT_EQ(out, "4");
  }
}

TEST_F(Registry, FailuresAreTold) {
  std::string out;
  int error = 0;
  EXPECT_EQ(RegistrySetString(kKey, "Bad", "two\nlines", &error), RegistryStatus::InvalidName);
  EXPECT_EQ(RegistrySetString(kKey, "a=b", "1"), RegistryStatus::InvalidName);
  EXPECT_NE(access(m_folder.c_str(), F_OK), 0);  // nothing was made for a write that could not be

  // A folder where the file should be: it can be neither read nor replaced.
  ASSERT_EQ(mkdir((m_scratch + "/etc").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(m_folder.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(m_path.c_str(), 0755), 0);
  EXPECT_EQ(RegistryGetString(kKey, "Language", &out, &error), RegistryStatus::Unreadable);
  EXPECT_EQ(error, EISDIR);
  EXPECT_EQ(RegistrySetString(kKey, "Language", "English", &error), RegistryStatus::WriteFailed);
  EXPECT_NE(error, 0);

  // A file where the folder should be.
  std::string blocked = m_scratch + "/file";
  FILE* f = fopen(blocked.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  setenv("CORVALE_REGISTRY", (blocked + "/registry.ini").c_str(), 1);
  EXPECT_EQ(RegistrySetString(kKey, "Language", "English", &error), RegistryStatus::WriteFailed);
  EXPECT_EQ(error, ENOTDIR);
}

}  // namespace
