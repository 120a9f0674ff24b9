// The restart helper QBXRestart: it waits for the instance that asked for the restart to end, then
// starts the program again, through the launcher when the launcher was running.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
      std::ofstream(path) << "#!/bin/sh\necho \"$0\" >\"" << m_dir << "/" << name << ".started\"\n";
      chmod(path.c_str(), 0755);
    }
  }
  std::string Path(const std::string& name) const { return m_dir + "/" + name; }
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
