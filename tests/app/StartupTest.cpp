// The main program's start-up and shutdown, in this process under Qt's offscreen platform, with the
// log initialisation and the message boxes recorded.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/QBXApp.h"
#include "platform/Allocation.h"
#include "platform/Language.h"
#include "platform/LauncherProtocol.h"
#include "platform/Log.h"
#include "platform/NamedMutex.h"
#include "platform/RecoveryContext.h"
#include "support/Fixtures.h"
#include "support/NamedObjectNamespace.h"
#include "support/Programs.h"
#include "support/QtTestApp.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/UsageStatistics.h"

using corvale::log::Channel;
using corvale::log::ScopedCapture;
using corvale::test::ScopedNamedObjectNamespace;

namespace {

// One application object for every suite of this program.
QApplication& Application() { return corvale::test::TestApplication(); }

struct InitLogCall {
  std::string path;
  int level;
  int type;
  size_t linesBefore;  // captured lines at the time of the call
};

// One start-up with everything it touches outside the process recorded or kept in a scratch folder.
class StartUp {
 public:
  StartUp() : m_folder(corvale::test::ScratchDir() + "/") {
    Application();
    setenv("CORVALE_REGISTRY", (m_folder + "registry.ini").c_str(), 1);
    m_previousBox = corvale::ui::SetMessageBoxHandler(
        [this](const std::string& text, const std::string& caption, corvale::ui::MessageIcon icon) {
          boxes.push_back(caption + "|" + text);
          icons.push_back(icon);
        });
    m_previousRecorder =
        corvale::usage::SetRecorder([this](const corvale::usage::Record& r) { usage.push_back(r); });
    services.readLanguage = [this](int32_t* id) {
      *id = languageId;
      return languageKeyExists;
    };
    services.initLog = [this](const char* path, int level, int type) {
      initLogCalls.push_back({path, level, type, capture.Lines().size()});
    };
    services.connectSharedLog = [this] {
      ++sharedLogConnections;
      return true;
    };
    services.logFolder = [this] { return m_folder; };
  }
  ~StartUp() {
    corvale::ui::SetMessageBoxHandler(m_previousBox);
    corvale::usage::SetRecorder(m_previousRecorder);
    unsetenv("CORVALE_REGISTRY");
  }

  const std::string& Folder() const { return m_folder; }
  std::vector<std::string> InfoLines() const {
    std::vector<std::string> lines;
    for (const auto& line : capture.Lines())
      if (line.channel == Channel::Info) lines.push_back(line.text);
    return lines;
  }

  ScopedCapture capture;
  CQBXApp::Services services;
  int32_t languageId = corvale::kLanguageEnglish;
  int languageKeyExists = 1;
  std::vector<std::string> boxes;
  std::vector<corvale::ui::MessageIcon> icons;
  std::vector<corvale::usage::Record> usage;
  std::vector<InitLogCall> initLogCalls;
  int sharedLogConnections = 0;

 private:
  std::string m_folder;
  corvale::ui::MessageBoxHandler m_previousBox;
  corvale::usage::Recorder m_previousRecorder;
};

const char* const kProgramOnly[] = {"corvale"};

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

TEST(StartUp, LogIsOpenedOnceThenTheRunReportHeaderIsWrittenInOrder) {
  ScopedNamedObjectNamespace ns;
  StartUp s;
  CQBXApp app(s.services);
  ASSERT_TRUE(app.InitInstance(1, kProgramOnly));

  ASSERT_EQ(s.initLogCalls.size(), 1u);
  EXPECT_EQ(s.initLogCalls[0].path, s.Folder() + "CorvaleDataRecovery.log");
  EXPECT_EQ(s.initLogCalls[0].level, LOGLEVEL_NORMAL);
  EXPECT_EQ(s.initLogCalls[0].type, LOGTYPE_FILE) << "started without the launcher";
  EXPECT_EQ(s.sharedLogConnections, 0);
  EXPECT_EQ(s.initLogCalls[0].linesBefore, 0u) << "nothing is logged before the log is opened";

  std::vector<std::string> lines = s.InfoLines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], "Corvale Hard Drive Data Recovery 1.1.1.8 20150212");
  EXPECT_TRUE(StartsWith(lines[1], "Date Generated: "));
  EXPECT_EQ(lines[2], "Memory status:");
  EXPECT_TRUE(StartsWith(lines[3], "Total physical memory:"));
  EXPECT_TRUE(StartsWith(lines[4], "Total   page    files:"));
  EXPECT_TRUE(StartsWith(lines[5], "OS - "));
  EXPECT_TRUE(StartsWith(lines[6], "OS Directory - "));
  EXPECT_TRUE(StartsWith(lines[7], "Module Directory - "));

  ASSERT_NE(app.MainWindow(), nullptr);
  EXPECT_TRUE(app.MainWindow()->isVisible());
  EXPECT_EQ(app.MainWindow()->windowTitle().toStdString(), "Corvale Hard Drive Data Recovery");
  EXPECT_TRUE(s.boxes.empty());
  ASSERT_EQ(s.usage.size(), 1u);
  EXPECT_EQ(s.usage[0].kind, corvale::usage::Record::kEvent);
  EXPECT_EQ(s.usage[0].eventId, 8192);

  EXPECT_EQ(app.ExitInstance(), 0);
  ASSERT_EQ(s.usage.size(), 2u);
  EXPECT_EQ(s.usage[1].kind, corvale::usage::Record::kEndRun);
  EXPECT_EQ(app.MainWindow(), nullptr);
}

TEST(StartUp, TraceSwitchNeedsADashOrSlash) {
  struct Case {
    std::vector<const char*> args;
    int level;
  };
  const Case cases[] = {
      {{"corvale", "-TRACE"}, 1},
      {{"corvale", "/trace"}, 1},
      {{"corvale", "-Trace"}, 1},
      {{"corvale", "x", "/tRaCe"}, 1},
      {{"corvale", "trace"}, 2},
      {{"corvale", "--trace"}, 2},
      {{"corvale", "-tracex"}, 2},
      {{"corvale", "-"}, 2},
      {{"corvale"}, 2},
      {{"-trace"}, 2},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const char* a : c.args) shown += std::string(a) + " ";
    EXPECT_EQ(LogLevelFromCommandLine(static_cast<int>(c.args.size()), c.args.data()), c.level) << shown;
  }
  ScopedNamedObjectNamespace ns;
  StartUp s;
  CQBXApp app(s.services);
  const char* const args[] = {"corvale", "-TRACE"};
  ASSERT_TRUE(app.InitInstance(2, args));
  ASSERT_EQ(s.initLogCalls.size(), 1u);
  EXPECT_EQ(s.initLogCalls[0].level, LOGLEVEL_TRACE);
  app.ExitInstance();
}

TEST(StartUp, WithTheLauncherPresentTheLogGoesToItsBuffer) {
  ScopedNamedObjectNamespace ns;
  corvale::NamedMutex loader(corvale::kLoaderMutexName, true);
  StartUp s;
  CQBXApp app(s.services);
  ASSERT_TRUE(app.InitInstance(1, kProgramOnly));
  ASSERT_EQ(s.initLogCalls.size(), 1u);
  EXPECT_EQ(s.initLogCalls[0].type, LOGTYPE_SHARED);
  EXPECT_EQ(s.sharedLogConnections, 1);
  EXPECT_TRUE(loader.Owned()) << "asking leaves the launcher's mutex with the launcher";
  app.ExitInstance();
}

TEST(StartUp, SecondInstanceIsToldAndEndsBeforeTheLogIsOpened) {
  ScopedNamedObjectNamespace ns;
  corvale::NamedMutex first(kMainInstanceMutexName, true);
  StartUp s;
  CQBXApp app(s.services);
  EXPECT_FALSE(app.InitInstance(1, kProgramOnly));
  EXPECT_EQ(s.boxes,
            std::vector<std::string>{
                "Corvale Hard Drive Data Recovery|Corvale Hard Drive Data Recovery has been running!"});
  EXPECT_EQ(s.icons, std::vector<corvale::ui::MessageIcon>{corvale::ui::MessageIcon::Information});
  EXPECT_TRUE(s.initLogCalls.empty());
  EXPECT_TRUE(s.InfoLines().empty());
  EXPECT_EQ(app.MainWindow(), nullptr);
  EXPECT_NE(app.ExitInstance(), 0);
}

TEST(StartUp, MissingLanguageKeyMeansEnglishWrittenBack) {
  ScopedNamedObjectNamespace ns;
  StartUp s;
  s.languageKeyExists = 0;
  CQBXApp app(s.services);
  ASSERT_TRUE(app.InitInstance(1, kProgramOnly));
  EXPECT_EQ(GetRecoveryContext().LanguageId, corvale::kLanguageEnglish);
  int32_t stored = 0;
  EXPECT_EQ(corvale::ReadLanguageUncached(&stored), 1);
  EXPECT_EQ(stored, corvale::kLanguageEnglish);
  app.ExitInstance();
}

TEST(StartUp, ChosenLanguageWithoutItsTranslationKeepsTheIdAndShowsEnglish) {
  ScopedNamedObjectNamespace ns;
  StartUp s;
  s.languageId = corvale::kLanguageDeutsch;
  CQBXApp app(s.services);
  ASSERT_TRUE(app.InitInstance(1, kProgramOnly));
  EXPECT_EQ(GetRecoveryContext().LanguageId, corvale::kLanguageDeutsch);
  EXPECT_EQ(GetRecoveryContext().LanguageModule, nullptr);
  EXPECT_EQ(GetProductTitle(), "Corvale Hard Drive Data Recovery");
  EXPECT_EQ(app.AlreadyRunningMessage(), "Corvale Hard Drive Data Recovery has been running!");
  app.ExitInstance();
  GetRecoveryContext().LanguageId = corvale::kLanguageEnglish;
}

TEST(StartUp, NoMainWindowEndsTheStart) {
  ScopedNamedObjectNamespace ns;
  StartUp s;
  s.services.createMainFrame = [] { return std::unique_ptr<QWidget>(); };
  CQBXApp app(s.services);
  EXPECT_FALSE(app.InitInstance(1, kProgramOnly));
  EXPECT_NE(app.ExitInstance(), 0);
}

// Memory that runs out where the program's own allocator was not asked, escaping the message loop,
// must still end the program on the out-of-memory path and never as a normal end.
TEST(StartUpDeathTest, OutOfMemoryEscapingTheMessageLoopTakesTheOutOfMemoryPath) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ScopedNamedObjectNamespace ns;
        StartUp s;
        CQBXApp app(s.services);
        if (!app.InitInstance(1, kProgramOnly)) std::_Exit(2);
        QTimer::singleShot(0, [] { throw std::bad_alloc(); });
        app.Run();
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(platform::kOutOfMemoryExitCode), "");
}
