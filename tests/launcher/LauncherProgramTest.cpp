// The launcher's entry point, in this process with its checks answered by the test, and the real
// QBX program started as the user starts it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include "launcher/ChildProcess.h"
#include "launcher/Launcher.h"
#include "platform/NamedMutex.h"
#include "support/Fixtures.h"
#include "support/NamedObjectNamespace.h"
#include "support/Programs.h"

using corvale::NamedMutex;
using corvale::launcher::LauncherMain;
using corvale::launcher::LauncherServices;
using corvale::launcher::WatchSettings;
using corvale::test::Environment;
using corvale::test::ReadFileText;
using corvale::test::RunningProgram;
using corvale::test::ScopedNamedObjectNamespace;
using corvale::test::WaitUntil;

namespace {

constexpr const char* kTitle = "Corvale Hard Drive Data Recovery";
constexpr const char* kAlreadyRunning = "Corvale Hard Drive Data Recovery has been running!";
constexpr const char* kNeedsAdministrator =
    "You must have administrator rights to run Corvale Hard Drive Data Recovery!";
constexpr const char* kUnsupportedSystem =
    "Corvale Hard Drive Data Recovery should be running Under Windows 2000/XP/2003/VISTA/7/2008!";

struct Shown {
  std::string text;
  std::string caption;
};

// Entry-point services that record the boxes and the watch instead of showing and starting.
struct RecordingServices {
  std::vector<Shown> boxes;
  int watches = 0;
  bool loaderHeldDuringWatch = false;
  LauncherServices services;

  RecordingServices() {
    services.messageBox = [this](const std::string& text, const std::string& caption) {
      boxes.push_back({text, caption});
    };
    services.isUserAdmin = [] { return true; };
    services.systemName = [] { return std::string("Linux"); };
    services.launchAndWatch = [this](const WatchSettings&) {
      ++watches;
      loaderHeldDuringWatch = NamedMutex::Exists(corvale::kLoaderMutexName);
      return 1;
    };
  }
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The programs installed side by side as the build installs them, with the stand-in or the real
// main program as "corvale", in a folder of their own under /tmp: a test may run them as a user who
// could not reach the build folder (a checkout under /root), and, run as root, they refuse a folder
// that others can write.
class Installation {
 public:
  explicit Installation(const std::string& mainProgram) : m_dir(m_folder.path()) {
    corvale::test::InstallProgram(CORVALE_QBX_PROGRAM, m_dir, "QBX");
    corvale::test::InstallProgram(CORVALE_REPORT_PROGRAM, m_dir, "QBXReport");
    corvale::test::InstallProgram(mainProgram, m_dir, "corvale");
    mkdir((m_dir + "/state").c_str(), 0755);
  }
  bool ok() const { return !m_dir.empty(); }
  // The stand-in's script goes into the file beside it: the launcher passes no test variables on.
  Environment Env(const std::string& script) const {
    std::ofstream(m_dir + "/fake-corvale.script") << script << "\n";
    return {{"CORVALE_REGISTRY", m_dir + "/registry.ini"},
            {"QT_QPA_PLATFORM", "offscreen"},
            {"CORVALE_DEBUG", ""}};
  }
  std::string Qbx() const { return m_dir + "/QBX"; }
  std::string Dir() const { return m_dir; }
  std::string Log() const { return ReadFileText(m_dir + "/CorvaleDataRecovery.log"); }
  std::string Report() const { return ReadFileText(m_dir + "/QBXReport.txt"); }
  bool Started() const { return !ReadFileText(m_dir + "/state/starts").empty(); }

 private:
  corvale::test::PublicScratchDir m_folder;
  std::string m_dir;
};

}  // namespace

TEST(LauncherEntry, RefusalsShowTheirTextAndEndWithOne) {
  ScopedNamedObjectNamespace ns;
  struct Case {
    const char* name;
    std::string system;
    bool admin;
    const char* text;
  };
  const Case cases[] = {
      {"not Linux", "FreeBSD", true, kUnsupportedSystem},
      {"no rights", "Linux", false, kNeedsAdministrator},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingServices r;
    r.services.systemName = [&] { return c.system; };
    r.services.isUserAdmin = [&] { return c.admin; };
    EXPECT_EQ(LauncherMain(r.services), 1);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, c.text);
    EXPECT_EQ(r.boxes[0].caption, kTitle);
    EXPECT_EQ(r.watches, 0);
  }
}

TEST(LauncherEntry, SecondLauncherIsRefused) {
  ScopedNamedObjectNamespace ns;
  NamedMutex first(corvale::launcher::kLauncherMutexName, true);
  RecordingServices r;
  EXPECT_EQ(LauncherMain(r.services), 1);
  ASSERT_EQ(r.boxes.size(), 1u);
  EXPECT_EQ(r.boxes[0].text, kAlreadyRunning);
  EXPECT_EQ(r.watches, 0);
}

TEST(LauncherEntry, LoaderMutexIsHeldWhileTheMainProgramIsWatched) {
  ScopedNamedObjectNamespace ns;
  RecordingServices r;
  EXPECT_EQ(LauncherMain(r.services), 0);
  EXPECT_TRUE(r.boxes.empty());
  EXPECT_EQ(r.watches, 1);
  EXPECT_TRUE(r.loaderHeldDuringWatch);
  EXPECT_FALSE(NamedMutex::Exists(corvale::kLoaderMutexName));
  EXPECT_FALSE(NamedMutex::Exists(corvale::launcher::kLauncherMutexName));
}

TEST(LauncherRights, RootOrAUserWhoCanReadEveryDisk) {
  std::string dir = corvale::test::ScratchDir();
  std::string sys = dir + "/sys";
  std::string dev = dir + "/dev";
  for (const char* d : {"/sys", "/sys/sda", "/sys/sda/device", "/sys/loop0", "/dev"})
    mkdir((dir + d).c_str(), 0755);
  EXPECT_FALSE(corvale::launcher::CanReadMachineDisks(sys, dev)) << "a disk that cannot be opened";
  int fd = open((dev + "/sda").c_str(), O_CREAT | O_WRONLY, 0644);
  close(fd);
  EXPECT_TRUE(corvale::launcher::CanReadMachineDisks(sys, dev)) << "loop devices are not the machine's disks";
  EXPECT_FALSE(corvale::launcher::CanReadMachineDisks(dir + "/none", dev));
  if (geteuid() == 0) {
    EXPECT_TRUE(corvale::launcher::IsUserAdmin());
  }
}

TEST(LauncherProgram, UserWithoutRightsIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the launcher as another user";
  ScopedNamedObjectNamespace ns;
  Installation install(CORVALE_FAKE_MAIN_PROGRAM);
  ASSERT_TRUE(install.ok());
  Environment env = install.Env("exit:0");
  env.push_back({"XDG_RUNTIME_DIR", ""});
  RunningProgram qbx(install.Qbx(), {}, env, corvale::test::kOtherUser);
  ASSERT_TRUE(qbx.Wait(30000));
  EXPECT_EQ(qbx.ExitCode(), 1) << qbx.Stderr();
  EXPECT_TRUE(Contains(qbx.Stderr(), kNeedsAdministrator)) << qbx.Stderr();
  EXPECT_FALSE(install.Started());
}

TEST(LauncherProgram, SecondLauncherRefusesWhileTheFirstWatches) {
  ScopedNamedObjectNamespace ns;
  Installation install(CORVALE_FAKE_MAIN_PROGRAM);
  RunningProgram first(install.Qbx(), {}, install.Env("log:running,hang"));
  ASSERT_TRUE(WaitUntil([&] { return install.Started(); }, 20000)) << first.Stderr();

  RunningProgram second(install.Qbx(), {}, install.Env("exit:0"));
  ASSERT_TRUE(second.Wait(30000));
  EXPECT_EQ(second.ExitCode(), 1);
  EXPECT_TRUE(Contains(second.Stderr(), std::string(kTitle) + ": " + kAlreadyRunning)) << second.Stderr();

  // The first launcher's log gets the program's lines within one wake-up.
  EXPECT_TRUE(WaitUntil([&] { return Contains(install.Log(), "running\n"); }, 15000)) << install.Log();
  for (pid_t child : corvale::test::ChildrenOf(first.Pid())) kill(child, SIGTERM);
  ASSERT_TRUE(first.Wait(30000));
  EXPECT_EQ(first.ExitCode(), 0);
  EXPECT_TRUE(install.Report().empty()) << "being told to stop is no crash";
}

TEST(LauncherProgram, RestartsAfterOutOfMemoryAndReportsACrash) {
  ScopedNamedObjectNamespace ns;
  Installation install(CORVALE_FAKE_MAIN_PROGRAM);
  RunningProgram qbx(install.Qbx(), {}, install.Env("oom;log:restarted,segv"));
  ASSERT_TRUE(qbx.Wait(60000)) << qbx.Stderr();
  EXPECT_EQ(qbx.ExitCode(), 0) << qbx.Stderr();
  std::string log = install.Log();
  EXPECT_TRUE(Contains(log, "Failed to alloc")) << log;
  EXPECT_TRUE(Contains(log, "restarted\n")) << log;
  EXPECT_TRUE(WaitUntil([&] { return !install.Report().empty(); }, 10000));
}

TEST(LauncherProgram, RootRefusesAProgramFolderOthersCanWrite) {
  if (geteuid() != 0) GTEST_SKIP() << "the folder is checked when running as root";
  for (mode_t mode : {0777, 0775, 0757}) {
    SCOPED_TRACE(mode);
    ScopedNamedObjectNamespace ns;
    Installation install(CORVALE_FAKE_MAIN_PROGRAM);
    ASSERT_TRUE(install.ok());
    chmod(install.Dir().c_str(), mode);
    RunningProgram qbx(install.Qbx(), {}, install.Env("exit:0"));
    ASSERT_TRUE(qbx.Wait(30000));
    EXPECT_EQ(qbx.ExitCode(), 1) << qbx.Stderr();
    EXPECT_TRUE(Contains(qbx.Stderr(), "can be written by other users")) << qbx.Stderr();
    EXPECT_FALSE(install.Started());
    struct stat st {};
    EXPECT_NE(stat((install.Dir() + "/CorvaleDataRecovery.log").c_str(), &st), 0) << "nothing written there";
  }
}

TEST(LauncherProgram, MainProgramGetsOnlyTheEnvironmentItNeeds) {
  ScopedNamedObjectNamespace ns;
  Installation install(CORVALE_FAKE_MAIN_PROGRAM);
  ASSERT_TRUE(install.ok());
  Environment env = install.Env("env,exit:0");
  env.push_back({"PATH", "/tmp/evil:/usr/bin:/bin"});
  env.push_back({"LD_LIBRARY_PATH", "/tmp/evil"});
  env.push_back({"HOSTILE_SETTING", "1"});
  env.push_back({"CORVALE_NOT_HONOURED", "1"});
  env.push_back({"LC_ALL", "C.UTF-8"});
  RunningProgram qbx(install.Qbx(), {}, env);
  ASSERT_TRUE(qbx.Wait(30000));
  EXPECT_EQ(qbx.ExitCode(), 0) << qbx.Stderr();
  std::string seen = ReadFileText(install.Dir() + "/state/env");
  ASSERT_FALSE(seen.empty()) << qbx.Stderr();
  struct Case {
    std::string line;
    bool present;
  };
  const Case cases[] = {
      {std::string("PATH=") + corvale::launcher::kChildPath + "\n", true},
      {"LC_ALL=C.UTF-8\n", true},
      {"QT_QPA_PLATFORM=offscreen\n", true},
      {"CORVALE_REGISTRY=" + install.Dir() + "/registry.ini\n", true},
      {"CORVALE_NAMESPACE=" + ns.Tag() + "\n", true},
      {"umask=077\n", true},
      {"/tmp/evil", false},
      {"LD_LIBRARY_PATH", false},
      {"HOSTILE_SETTING", false},
      {"CORVALE_NOT_HONOURED", false},
  };
  for (const Case& c : cases) EXPECT_EQ(Contains(seen, c.line), c.present) << c.line << " in\n" << seen;

  // The launcher's log is its user's alone.
  struct stat st {};
  ASSERT_EQ(stat((install.Dir() + "/CorvaleDataRecovery.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(LauncherProgram, LogFileThatIsALinkIsNotFollowed) {
  ScopedNamedObjectNamespace ns;
  Installation install(CORVALE_FAKE_MAIN_PROGRAM);
  ASSERT_TRUE(install.ok());
  corvale::test::PublicScratchDir outside;
  const std::string victim = outside.path() + "/victim";
  { std::ofstream(victim) << "untouched\n"; }
  ASSERT_EQ(symlink(victim.c_str(), (install.Dir() + "/CorvaleDataRecovery.log").c_str()), 0);
  RunningProgram qbx(install.Qbx(), {}, install.Env("log:secret line,exit:0"));
  ASSERT_TRUE(qbx.Wait(30000));
  EXPECT_EQ(qbx.ExitCode(), 0) << qbx.Stderr();
  EXPECT_TRUE(install.Started());
  EXPECT_EQ(ReadFileText(victim), "untouched\n");
}

// Started through sudo, the results a person asks for are theirs: the launcher passes the ids on,
// and a recovery into a new folder, a disk image and an exported result, all made by the program's
// own code in folders of root's, belong to that person and are private to them.
TEST(LauncherProgram, ResultsMadeThroughSudoBelongToThePersonWhoAsked) {
  if (geteuid() != 0) GTEST_SKIP() << "only root gives files to another user";
  ScopedNamedObjectNamespace ns;
  Installation install(CORVALE_RESULTS_MAIN_PROGRAM);
  ASSERT_TRUE(install.ok());
  corvale::test::PublicScratchDir work;
  for (const char* sub : {"/recovered", "/images", "/exports", "/state"})
    ASSERT_EQ(mkdir((work.path() + sub).c_str(), 0755), 0) << sub;
  { std::ofstream(work.path() + "/state/cstemp.rdf") << "scan state"; }
  { std::ofstream(install.Dir() + "/results-corvale.folder") << work.path() << "\n"; }
  Environment env = install.Env("exit:0");
  env.push_back({"SUDO_UID", "65534"});
  env.push_back({"SUDO_GID", "65534"});
  RunningProgram qbx(install.Qbx(), {}, env);
  ASSERT_TRUE(qbx.Wait(60000));
  EXPECT_EQ(qbx.ExitCode(), 0) << qbx.Stderr();
  ASSERT_EQ(ReadFileText(work.path() + "/finished"), "done\n") << qbx.Stderr();

  const struct {
    const char* path;
    mode_t mode;
  } made[] = {{"/recovered/new", 0700},   {"/recovered/new/D#", 0700}, {"/recovered/new/D#/a.txt", 0600},
              {"/images/disk.kbi", 0600}, {"/images/disk.kbp", 0600},  {"/images/disk.part0.kbf", 0600},
              {"/exports/scan.rsf", 0600}};
  for (const auto& m : made) {
    struct stat st {};
    ASSERT_EQ(lstat((work.path() + m.path).c_str(), &st), 0) << m.path;
    EXPECT_EQ(st.st_uid, 65534u) << m.path;
    EXPECT_EQ(st.st_gid, 65534u) << m.path;
    EXPECT_EQ(st.st_mode & 07777, m.mode) << m.path;
  }
}
