// The launcher's watch over the main program, run in this process against a stand-in main program
// (tests/programs/FakeCorvale.cpp) and the real crash report, with a short wake-up interval.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <string>

#include "launcher/ChildProcess.h"
#include "launcher/Launcher.h"
#include "platform/Log.h"
#include "platform/NamedMutex.h"
#include "support/Fixtures.h"
#include "support/NamedObjectNamespace.h"
#include "support/Programs.h"

using corvale::launcher::LaunchAndWatch;
using corvale::launcher::WatchSettings;
using corvale::test::ReadFileText;
using corvale::test::ScopedNamedObjectNamespace;
using corvale::test::WaitUntil;

namespace {

// A scratch folder holding the stand-in main program as "corvale" and the crash report beside it,
// with the stand-in's script in the file beside it (the launcher passes no test variables on). It
// holds the loader mutex as the launcher's entry point does, so the programs know it is there.
class Installation {
 public:
  explicit Installation(const std::string& script)
      : m_dir(corvale::test::ScratchDir()), m_loader(corvale::kLoaderMutexName, true) {
    corvale::test::InstallProgram(CORVALE_FAKE_MAIN_PROGRAM, m_dir, "corvale");
    corvale::test::InstallProgram(CORVALE_REPORT_PROGRAM, m_dir, "QBXReport");
    mkdir((m_dir + "/state").c_str(), 0755);
    std::ofstream(m_dir + "/fake-corvale.script") << script << "\n";
  }

  WatchSettings Settings() const {
    WatchSettings settings;
    settings.mainProgram = m_dir + "/corvale";
    settings.reportProgram = m_dir + "/QBXReport";
    settings.logFile = m_dir + "/CorvaleDataRecovery.log";
    settings.wakeIntervalMs = 200;
    settings.crashedProgramGraceMs = 5000;
    return settings;
  }
  int Starts() const {
    std::string text = ReadFileText(m_dir + "/state/starts");
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
  }
  // The process id of the n-th start (from 1), or 0.
  pid_t StartedPid(int n) const {
    std::istringstream lines(ReadFileText(m_dir + "/state/starts"));
    std::string word;
    int run = 0;
    long pid = 0;
    while (lines >> word >> run >> pid)
      if (run == n) return static_cast<pid_t>(pid);
    return 0;
  }
  std::string Log() const { return ReadFileText(m_dir + "/CorvaleDataRecovery.log"); }
  std::string ReportPath() const { return m_dir + "/QBXReport.txt"; }
  bool ReportWritten(int timeoutMs) const {
    return WaitUntil([&] { return !ReadFileText(ReportPath()).empty(); }, timeoutMs);
  }

 private:
  std::string m_dir;
  corvale::NamedMutex m_loader;
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

TEST(LauncherWatch, NormalEndFinishesWithoutReport) {
  ScopedNamedObjectNamespace ns;
  Installation install("log:hello from the program,exit:0");
  EXPECT_EQ(LaunchAndWatch(install.Settings()), 1);
  EXPECT_EQ(install.Starts(), 1);
  EXPECT_TRUE(Contains(install.Log(), "hello from the program\n")) << install.Log();
  EXPECT_FALSE(install.ReportWritten(300));
}

TEST(LauncherWatch, AStartAfterALanguageChangeAddsToTheLogAFreshStartReplacesIt) {
  ScopedNamedObjectNamespace ns;
  Installation install("log:first run,exit:0;log:second run,exit:0;log:third run,exit:0");
  EXPECT_EQ(LaunchAndWatch(install.Settings()), 1);
  WatchSettings restarted = install.Settings();
  restarted.keepLog = true;
  EXPECT_EQ(LaunchAndWatch(restarted), 1);
  std::string log = install.Log();
  EXPECT_TRUE(Contains(log, "first run\n")) << log;
  EXPECT_TRUE(Contains(log, "second run\n")) << log;
  EXPECT_LT(log.find("first run\n"), log.find("second run\n")) << log;

  EXPECT_EQ(LaunchAndWatch(install.Settings()), 1);
  log = install.Log();
  EXPECT_FALSE(Contains(log, "first run\n")) << log;
  EXPECT_TRUE(Contains(log, "third run\n")) << log;
  EXPECT_EQ(install.Starts(), 3);
}

TEST(LauncherWatch, OutOfMemoryEndRestartsTheProgramWithoutReport) {
  ScopedNamedObjectNamespace ns;
  Installation install("log:first run,oom;log:second run,exit:0");
  EXPECT_EQ(LaunchAndWatch(install.Settings()), 1);
  EXPECT_EQ(install.Starts(), 2);
  std::string log = install.Log();
  EXPECT_TRUE(Contains(log, "first run\n")) << log;
  EXPECT_TRUE(Contains(log, "Failed to alloc 0x7fffffff bytes\n"))
      << "the dying program's lines are kept: " << log;
  EXPECT_TRUE(Contains(log, "second run\n")) << log;
  EXPECT_FALSE(install.ReportWritten(300));
}

TEST(LauncherWatch, MemoryCrashEventRestartsOnlyOnceTheOldInstanceHasEnded) {
  ScopedNamedObjectNamespace ns;
  // The first instance signals and then takes a while to end while holding the single-instance
  // mutex; a second instance started too early would find it and refuse.
  Installation install(
      "instance,memevent,sleep:600,log:old instance ends,exit:0;instance,log:new instance runs,exit:0");
  EXPECT_EQ(LaunchAndWatch(install.Settings()), 1);
  EXPECT_EQ(install.Starts(), 2);
  std::string log = install.Log();
  EXPECT_TRUE(Contains(log, "old instance ends\n")) << log;
  EXPECT_TRUE(Contains(log, "new instance runs\n")) << log;
  EXPECT_FALSE(Contains(log, "refused")) << log;
}

TEST(LauncherWatch, CrashBySignalStartsTheReport) {
  ScopedNamedObjectNamespace ns;
  Installation install("log:just before the fault,segv");
  EXPECT_EQ(LaunchAndWatch(install.Settings()), 1) << "the result of starting the report";
  EXPECT_EQ(install.Starts(), 1);
  ASSERT_TRUE(install.ReportWritten(10000));
  EXPECT_TRUE(Contains(ReadFileText(install.ReportPath()), "just before the fault"))
      << "the report holds the log's end";
}

TEST(LauncherWatch, CrashEventStartsTheReportAfterTheProgramsLastLines) {
  ScopedNamedObjectNamespace ns;
  Installation install("crashevent,sleep:500,log:last words,exit:0");
  EXPECT_EQ(LaunchAndWatch(install.Settings()), 1);
  EXPECT_TRUE(Contains(install.Log(), "last words\n")) << install.Log();
  ASSERT_TRUE(install.ReportWritten(10000));
  EXPECT_TRUE(Contains(ReadFileText(install.ReportPath()), "last words"));
}

TEST(LauncherWatch, CrashEventSetJustBeforeTheEndStillCounts) {
  ScopedNamedObjectNamespace ns;
  Installation install("crashevent,exit:0");
  LaunchAndWatch(install.Settings());
  EXPECT_TRUE(install.ReportWritten(10000));
}

TEST(LauncherWatch, CrashEventInTheFirstWaitAfterAMemoryRestartIsIgnoredOnce) {
  ScopedNamedObjectNamespace ns;
  Installation install("memevent,exit:0;crashevent,sleep:50,exit:0");
  // The restarted program must reach its crash event within the launcher's first wait; a long wait
  // keeps that true on a loaded machine, where starting a sanitized program can take a while.
  WatchSettings settings = install.Settings();
  settings.wakeIntervalMs = 5000;
  EXPECT_EQ(LaunchAndWatch(settings), 1);
  EXPECT_EQ(install.Starts(), 2);
  EXPECT_FALSE(install.ReportWritten(500));
}

TEST(LauncherWatch, CrashEventAfterATimeOutOfTheRestartedProgramStartsTheReport) {
  ScopedNamedObjectNamespace ns;
  Installation install("memevent,exit:0;sleep:700,crashevent,exit:0");
  LaunchAndWatch(install.Settings());
  EXPECT_EQ(install.Starts(), 2);
  EXPECT_TRUE(install.ReportWritten(10000));
}

TEST(LauncherWatch, CrashedProgramThatDoesNotEndIsEndedAfterItsGrace) {
  ScopedNamedObjectNamespace ns;
  Installation install("crashevent,hang");
  WatchSettings settings = install.Settings();
  settings.crashedProgramGraceMs = 500;
  auto start = std::chrono::steady_clock::now();
  LaunchAndWatch(settings);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  pid_t hung = install.StartedPid(1);
  ASSERT_GT(hung, 0);
  EXPECT_NE(kill(hung, 0), 0) << "the hung program was ended and collected";
  EXPECT_TRUE(install.ReportWritten(10000));
}

TEST(LauncherWatch, LogIsCopiedWhileTheProgramRuns) {
  ScopedNamedObjectNamespace ns;
  Installation install("log:early line,sleep:4000,exit:0");
  WatchSettings settings = install.Settings();
  auto watch = std::async(std::launch::async, [settings] { return LaunchAndWatch(settings); });
  bool seenEarly = WaitUntil([&] { return Contains(install.Log(), "early line\n"); }, 3000);
  EXPECT_TRUE(seenEarly) << "copied within a few wake-ups, long before the program ends";
  EXPECT_EQ(install.Starts(), 1);
  ASSERT_EQ(watch.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(watch.get(), 1);
}

TEST(LauncherWatch, MissingMainProgramEndsTheWatchAtOnce) {
  ScopedNamedObjectNamespace ns;
  Installation install("exit:0");
  WatchSettings settings = install.Settings();
  settings.mainProgram += ".missing";
  EXPECT_EQ(LaunchAndWatch(settings), 0);
  EXPECT_EQ(install.Starts(), 0);
}

// Running as root the launcher starts only programs of root's that nobody else may change: a main
// program or a crash report that user nobody put in the root-owned folder is not started, and the
// log says why.
TEST(LauncherWatch, ProgramsOfAnotherUserAreNotStarted) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the check is made with raised rights";
  struct Case {
    const char* program;
    const char* script;
    int result;
    int starts;
  } cases[] = {{"corvale", "exit:0", 0, 0}, {"QBXReport", "log:before the fault,segv", 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    ScopedNamedObjectNamespace ns;
    Installation install(c.script);
    WatchSettings settings = install.Settings();
    const std::string planted =
        std::string(c.program) == "corvale" ? settings.mainProgram : settings.reportProgram;
    ASSERT_EQ(chown(planted.c_str(), corvale::test::kOtherUser, corvale::test::kOtherUser), 0);
    corvale::log::ScopedCapture log;
    EXPECT_EQ(LaunchAndWatch(settings), c.result);
    EXPECT_EQ(install.Starts(), c.starts);
    EXPECT_FALSE(install.ReportWritten(300));
    EXPECT_TRUE(log.HasPart(planted + " is not used: it belongs to user 65534"));
  }
}

TEST(ChildEnvironment, OnlyDisplayLocaleRuntimeAndHonouredVariablesWithAFixedPath) {
  const char* const parent[] = {"DISPLAY=:1",
                                "LANG=de_DE.UTF-8",
                                "LC_MESSAGES=C",
                                "XDG_RUNTIME_DIR=/run/user/1000",
                                "CORVALE_DISKS=/dev/sdb",
                                "CORVALE_DEBUG=",
                                "CORVALE_SOMETHING=1",
                                "PATH=/home/u/bin:/usr/bin",
                                "LD_PRELOAD=/home/u/evil.so",
                                "HOME=/home/u",
                                "NOEQUALS",
                                "SUDO_UID=1000",
                                "SUDO_GID=1000",
                                "PKEXEC_UID=0",
                                "SUDO_USER=u",
                                nullptr};
  std::vector<std::string> env = corvale::launcher::ChildEnvironment(parent);
  const std::vector<std::string> expected = {"DISPLAY=:1",
                                             "LANG=de_DE.UTF-8",
                                             "LC_MESSAGES=C",
                                             "XDG_RUNTIME_DIR=/run/user/1000",
                                             "CORVALE_DISKS=/dev/sdb",
                                             "CORVALE_DEBUG=",
                                             "SUDO_UID=1000",
                                             "SUDO_GID=1000",
                                             std::string("PATH=") + corvale::launcher::kChildPath};
  EXPECT_EQ(env, expected);
}

// Who asked for the run is passed on only as a plain number of somebody other than root.
TEST(ChildEnvironment, IdsOfThePersonWhoAskedOnlyAsPlainNumbers) {
  const struct {
    const char* entry;
    bool passed;
  } cases[] = {{"PKEXEC_UID=1000", true}, {"SUDO_UID=65534", true}, {"SUDO_GID=100", true},
               {"SUDO_UID=0", false},     {"SUDO_UID=", false},     {"SUDO_UID=-1", false},
               {"SUDO_UID=1000 ", false}, {"PKEXEC_UID=x", false},  {"SUDO_UID=4294967295", false}};
  for (const auto& c : cases) {
    const char* const parent[] = {c.entry, nullptr};
    const std::vector<std::string> env = corvale::launcher::ChildEnvironment(parent);
    EXPECT_EQ(std::find(env.begin(), env.end(), std::string(c.entry)) != env.end(), c.passed) << c.entry;
  }
}
