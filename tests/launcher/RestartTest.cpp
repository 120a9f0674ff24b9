// The restart helper QBXRestart: it waits for the instance that asked for the restart to end, then
// starts the program again, through the launcher when the launcher was running.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include "launcher/Launcher.h"
#include "launcher/Restart.h"
#include "platform/LauncherProtocol.h"
#include "platform/NamedMutex.h"
#include "support/Fixtures.h"
#include "support/NamedObjectNamespace.h"
#include "support/Programs.h"

using corvale::NamedMutex;
using corvale::test::RunningProgram;
using corvale::test::ScopedNamedObjectNamespace;
using corvale::test::WaitUntil;

namespace {

// QBXRestart beside two stand-ins that leave a mark when started: "corvale" and "QBX".
class Installation {
 public:
  Installation() : m_dir(corvale::test::ScratchDir()) {
    corvale::test::InstallProgram(CORVALE_RESTART_PROGRAM, m_dir, "QBXRestart");
    for (const char* name : {"corvale", "QBX"}) {
      const std::string path = m_dir + "/" + name;
      std::ofstream(path) << "#!/bin/sh\necho \"$0\" \"$@\" >\"" << m_dir << "/" << name << ".started\"\n";
      chmod(path.c_str(), 0755);
    }
  }
  std::string Path(const std::string& name) const { return m_dir + "/" + name; }
  // The arguments the stand-in `name` was started with, after its own name.
  std::string Arguments(const std::string& name) const {
    std::ifstream in(Path(name + ".started"));
    std::string line;
    std::getline(in, line);
    const size_t blank = line.find(' ');
    return blank == std::string::npos ? std::string() : line.substr(blank + 1);
  }
  bool Started(const std::string& name) const {
    struct stat st {};
    return stat(Path(name + ".started").c_str(), &st) == 0;
  }

 private:
  std::string m_dir;
};

}  // namespace

TEST(Restart, StartsTheMainProgramAgainOnceTheOldInstanceHasEnded) {
  ScopedNamedObjectNamespace ns;
  Installation install;
  auto instance = std::make_unique<NamedMutex>(corvale::kMainInstanceMutexName, true);
  ASSERT_TRUE(instance->Owned());

  RunningProgram restart(install.Path("QBXRestart"), {}, {});
  ASSERT_TRUE(restart.Started());
  EXPECT_FALSE(restart.Wait(700)) << "it waits while the old instance runs";
  EXPECT_FALSE(install.Started("corvale"));

  instance.reset();
  ASSERT_TRUE(restart.Wait(30000));
  EXPECT_EQ(restart.ExitCode(), 0) << restart.Stderr();
  EXPECT_TRUE(WaitUntil([&] { return install.Started("corvale"); }, 30000));
  EXPECT_FALSE(install.Started("QBX"));
  EXPECT_EQ(install.Arguments("corvale"), "");
}

TEST(Restart, StartsTheLauncherWhenTheLauncherHadStartedTheProgram) {
  ScopedNamedObjectNamespace ns;
  Installation install;
  auto loader = std::make_unique<NamedMutex>(corvale::kLoaderMutexName, true);
  auto launcher = std::make_unique<NamedMutex>(corvale::launcher::kLauncherMutexName, true);
  auto instance = std::make_unique<NamedMutex>(corvale::kMainInstanceMutexName, true);

  RunningProgram restart(install.Path("QBXRestart"), {}, {});
  ASSERT_TRUE(restart.Started());
  EXPECT_FALSE(restart.Wait(500));
  instance.reset();
  EXPECT_FALSE(restart.Wait(500))
      << "the launcher ends after its main program; a new one would refuse before";
  loader.reset();
  launcher.reset();
  ASSERT_TRUE(restart.Wait(30000));
  EXPECT_EQ(restart.ExitCode(), 0) << restart.Stderr();
  EXPECT_TRUE(WaitUntil([&] { return install.Started("QBX"); }, 30000));
  EXPECT_FALSE(install.Started("corvale"));
  // The launcher is told to add to the log of the run that asked for the restart.
  EXPECT_TRUE(WaitUntil([&] { return install.Arguments("QBX") == "--restarted"; }, 5000))
      << install.Arguments("QBX");
}

TEST(Restart, NothingStartsWhenTheOldInstanceOutlivesTheWaitOrTheProgramIsMissing) {
  ScopedNamedObjectNamespace ns;
  Installation install;
  corvale::launcher::RestartSettings settings;
  settings.mainProgram = install.Path("corvale");
  settings.launcherProgram = install.Path("QBX");
  settings.waitLimitMs = 200;
  {
    NamedMutex instance(corvale::kMainInstanceMutexName, true);
    EXPECT_EQ(corvale::launcher::RestartMain(settings), 1);
  }
  EXPECT_FALSE(install.Started("corvale"));
  settings.mainProgram = install.Path("missing");
  EXPECT_EQ(corvale::launcher::RestartMain(settings), 1);
}

// Running as root the helper starts only a program of root's: a "corvale" that user nobody put in
// the root-owned folder is not started.
TEST(Restart, AProgramOfAnotherUserIsNotStarted) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the check is made with raised rights";
  ScopedNamedObjectNamespace ns;
  Installation install;
  ASSERT_EQ(chown(install.Path("corvale").c_str(), corvale::test::kOtherUser, corvale::test::kOtherUser), 0);
  RunningProgram restart(install.Path("QBXRestart"), {}, {{"CORVALE_DEBUG", "1"}});
  ASSERT_TRUE(restart.Wait(30000));
  EXPECT_EQ(restart.ExitCode(), 1);
  EXPECT_NE(restart.Stderr().find(install.Path("corvale") + " is not used: it belongs to user 65534"),
            std::string::npos)
      << restart.Stderr();
  EXPECT_FALSE(WaitUntil([&] { return install.Started("corvale"); }, 300));
}

// Like the launcher and the main program, the restart helper and the crash report do not run as
// root from a folder that others could change: they start nothing and write nothing there.
TEST(HelperPrograms, AsRootTheyRefuseAFolderOthersCanChange) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the check is made with raised rights";
  corvale::test::PublicScratchDir scratch;
  struct Case {
    const char* folderMode;
    mode_t mode;
    uid_t owner;
  } folders[] = {{"writable by all", 0777, 0}, {"user nobody's", 0755, corvale::test::kOtherUser}};
  for (const auto& folder : folders) {
    for (const auto& [program, name] :
         {std::pair{CORVALE_RESTART_PROGRAM, "QBXRestart"}, std::pair{CORVALE_REPORT_PROGRAM, "QBXReport"}}) {
      SCOPED_TRACE(std::string(name) + " in a folder " + folder.folderMode);
      ScopedNamedObjectNamespace ns;
      const std::string dir =
          scratch.path() + "/" + name + std::to_string(folder.mode) + std::to_string(folder.owner);
      ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
      ASSERT_TRUE(corvale::test::InstallProgram(program, dir, name));
      std::ofstream(dir + "/corvale") << "#!/bin/sh\ntouch '" << dir << "/started'\n";
      chmod((dir + "/corvale").c_str(), 0755);
      chmod(dir.c_str(), folder.mode);
      chown(dir.c_str(), folder.owner, folder.owner);
      RunningProgram run(dir + "/" + name, {}, {});
      ASSERT_TRUE(run.Wait(30000));
      EXPECT_EQ(run.ExitCode(), 1);
      EXPECT_NE(run.Stderr().find("does not run as root from a folder that other users can change"),
                std::string::npos)
          << run.Stderr();
      EXPECT_FALSE(WaitUntil([&] { return access((dir + "/started").c_str(), F_OK) == 0; }, 200));
      EXPECT_NE(access((dir + "/QBXReport.txt").c_str(), F_OK), 0) << "no report written";
    }
  }
}
