// The real programs as `make run` starts them: the launcher QBX starting the main program on Qt's
// offscreen platform, and the main program started on its own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <string>
#include <vector>

#include "support/Fixtures.h"
#include "support/NamedObjectNamespace.h"
#include "support/Programs.h"

using corvale::test::Environment;
using corvale::test::ReadFileText;
using corvale::test::RunningProgram;
using corvale::test::ScopedNamedObjectNamespace;
using corvale::test::WaitUntil;

namespace {

constexpr const char* kAlreadyRunning = "Corvale Hard Drive Data Recovery has been running!";

// QBX, QBXReport and the main program installed side by side in a scratch folder, as the build
// leaves them, with a settings file of their own.
class Installation {
 public:
  Installation() : m_dir(corvale::test::ScratchDir()) {
    corvale::test::InstallProgram(CORVALE_QBX_PROGRAM, m_dir, "QBX");
    corvale::test::InstallProgram(CORVALE_REPORT_PROGRAM, m_dir, "QBXReport");
    corvale::test::InstallProgram(CORVALE_MAIN_PROGRAM, m_dir, "corvale");
  }
  Environment Env() const {
    return {{"QT_QPA_PLATFORM", "offscreen"},
            {"CORVALE_REGISTRY", m_dir + "/registry.ini"},
            {"CORVALE_DEBUG", ""}};
  }
  std::string Path(const std::string& name) const { return m_dir + "/" + name; }
  std::string Log() const { return ReadFileText(Path("CorvaleDataRecovery.log")); }

 private:
  std::string m_dir;
};

// Where each of `parts` starts in `text`, in order; npos for one that is missing or out of order.
std::vector<size_t> InOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::vector<size_t> at;
  size_t from = 0;
  for (const std::string& part : parts) {
    size_t pos = from == std::string::npos ? std::string::npos : text.find(part, from);
    at.push_back(pos);
    from = pos == std::string::npos ? pos : pos + part.size();
  }
  return at;
}

const std::vector<std::string> kHeader = {
    "Corvale Hard Drive Data Recovery 1.1.1.8 20150212\n",
    "Date Generated: ",
    "Memory status:\n",
    "Total physical memory:",
    "Total   page    files:",
    "OS - ",
    "OS Directory - /",
    "Module Directory - /",
};

}  // namespace

TEST(Programs, LauncherStartsTheMainProgramWhoseRunReportReachesTheLog) {
  ScopedNamedObjectNamespace ns;
  Installation install;
  RunningProgram qbx(install.Path("QBX"), {}, install.Env());
  ASSERT_TRUE(qbx.Started());
  // The header arrives through the launcher's buffer within one wake-up of at most five seconds.
  ASSERT_TRUE(
      WaitUntil([&] { return install.Log().find("Module Directory - ") != std::string::npos; }, 30000))
      << "log: " << install.Log() << "\nlauncher: " << qbx.Stderr();
  for (size_t at : InOrder(install.Log(), kHeader)) EXPECT_NE(at, std::string::npos) << install.Log();
  EXPECT_NE(install.Log().find("Module Directory - " + install.Path("") + "\n"), std::string::npos);
  EXPECT_NE(ReadFileText(install.Path("registry.ini")).find("Language=English"), std::string::npos)
      << "a missing language is stored as English";

  std::vector<pid_t> children = corvale::test::ChildrenOf(qbx.Pid());
  ASSERT_EQ(children.size(), 1u) << "the launcher runs the main program";

  // A second main program, started by hand meanwhile, refuses.
  RunningProgram second(install.Path("corvale"), {}, install.Env());
  ASSERT_TRUE(second.Wait(30000));
  EXPECT_EQ(second.ExitCode(), 1);
  EXPECT_NE(second.Stderr().find(kAlreadyRunning), std::string::npos) << second.Stderr();

  kill(children[0], SIGTERM);
  ASSERT_TRUE(qbx.Wait(30000));
  EXPECT_EQ(qbx.ExitCode(), 0) << qbx.Stderr();
  EXPECT_TRUE(ReadFileText(install.Path("QBXReport.txt")).empty()) << "no crash, no report";
}

TEST(Programs, MainProgramStartedAloneWritesItsOwnLog) {
  ScopedNamedObjectNamespace ns;
  Installation install;
  RunningProgram corvale(install.Path("corvale"), {"-trace"}, install.Env());
  ASSERT_TRUE(
      WaitUntil([&] { return install.Log().find("Module Directory - ") != std::string::npos; }, 30000))
      << corvale.Stderr();
  for (size_t at : InOrder(install.Log(), kHeader)) EXPECT_NE(at, std::string::npos) << install.Log();
  EXPECT_FALSE(corvale.Ended());
  // What it writes for itself is its user's alone.
  EXPECT_NE(ReadFileText("/proc/" + std::to_string(corvale.Pid()) + "/status").find("Umask:\t0077\n"),
            std::string::npos);
  struct stat st {};
  ASSERT_EQ(stat(install.Path("CorvaleDataRecovery.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  corvale.Kill(SIGTERM);
  ASSERT_TRUE(corvale.Wait(30000));
}

TEST(Programs, MainProgramAsRootRefusesAFolderOthersCanWrite) {
  if (geteuid() != 0) GTEST_SKIP() << "the folder is checked when running as root";
  ScopedNamedObjectNamespace ns;
  Installation install;
  chmod(install.Path("").c_str(), 0777);
  RunningProgram corvale(install.Path("corvale"), {}, install.Env());
  ASSERT_TRUE(corvale.Wait(30000));
  EXPECT_EQ(corvale.ExitCode(), 1);
  EXPECT_NE(corvale.Stderr().find("can be written by other users"), std::string::npos) << corvale.Stderr();
  EXPECT_TRUE(install.Log().empty()) << "nothing written there";
}

namespace {

struct CrashCase {
  const char* trigger;
  bool dumpWritten;  // false when the handler itself faults before the dump
};

class ProgramCrash : public ::testing::TestWithParam<CrashCase> {};

}  // namespace

// A crash of the main program under the launcher leaves a dump in the program folder; the launcher
// starts the crash report, which collects it. A second fault inside the crash handler ends the
// program at once, and the launcher still reports.
TEST_P(ProgramCrash, LeavesADumpThatTheLaunchersReportCollects) {
  ScopedNamedObjectNamespace ns;
  Installation install;
  Environment env = install.Env();
  env.push_back({"CORVALE_TEST_CRASH", GetParam().trigger});
  RunningProgram qbx(install.Path("QBX"), {}, env);
  ASSERT_TRUE(qbx.Started());
  ASSERT_TRUE(qbx.Wait(60000)) << "the launcher ends once the crashed program is gone";
  EXPECT_EQ(qbx.ExitCode(), 0) << qbx.Stderr();
  ASSERT_TRUE(WaitUntil([&] { return !ReadFileText(install.Path("QBXReport.txt")).empty(); }, 30000))
      << qbx.Stderr();
  const std::string report = ReadFileText(install.Path("QBXReport.txt"));
  const std::string dump = ReadFileText(install.Path("Qbxdump0.dmp"));
  if (GetParam().dumpWritten) {
    EXPECT_NE(dump.find("crash dump\nSignal: 11 SIGSEGV"), std::string::npos) << dump;
    EXPECT_NE(dump.find("\nStack:\n"), std::string::npos) << dump;
    EXPECT_NE(report.find(install.Path("Qbxdump0.dmp")), std::string::npos) << report;
  } else {
    EXPECT_TRUE(dump.empty()) << dump;
  }
  // The run report reached the log before the crash, and the crash report carries the log's end.
  EXPECT_NE(install.Log().find("Module Directory - "), std::string::npos);
  EXPECT_NE(report.find("End of CorvaleDataRecovery.log:\n2"), std::string::npos) << report;
}

INSTANTIATE_TEST_SUITE_P(Triggers, ProgramCrash,
                         ::testing::Values(CrashCase{"segv", true}, CrashCase{"twice", false}),
                         [](const auto& info) { return std::string(info.param.trigger); });

// Started alone, a program that runs out of memory tells the user what to change (RAW recovery is
// on by default) and ends with the out-of-memory status.
TEST(Programs, RunningOutOfMemoryTellsTheUserAndEndsWithTheMemoryStatus) {
  ScopedNamedObjectNamespace ns;
  Installation install;
  Environment env = install.Env();
  env.push_back({"CORVALE_TEST_CRASH", "oom"});
  RunningProgram corvale(install.Path("corvale"), {}, env);
  ASSERT_TRUE(corvale.Wait(60000));
  EXPECT_EQ(corvale.ExitCode(), 86) << corvale.Stderr();
  EXPECT_NE(corvale.Stderr().find("Failed to allocate the memory. Please untick"), std::string::npos)
      << corvale.Stderr();
}
