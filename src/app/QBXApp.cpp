#include "app/QBXApp.h"

#include <strings.h>

#include <QApplication>
#include <QWidget>
#include <cstring>
#include <new>

#include "app/MainFrame.h"
#include "platform/Allocation.h"
#include "platform/FileMappingLog.h"
#include "platform/Language.h"
#include "platform/LauncherProtocol.h"
#include "platform/Log.h"
#include "platform/NamedObjects.h"
#include "platform/ProgramFolder.h"
#include "platform/StringTable.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/RunReport.h"
#include "ui/UsageStatistics.h"

int LogLevelFromCommandLine(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg && (arg[0] == '-' || arg[0] == '/') && strcasecmp(arg + 1, "trace") == 0) return LOGLEVEL_TRACE;
  }
  return LOGLEVEL_NORMAL;
}

std::unique_ptr<QWidget> CreateMainFrame() { return std::make_unique<CMainFrame>(); }

CQBXApp::CQBXApp() : CQBXApp(Services{}) {}

CQBXApp::CQBXApp(Services services) : m_services(std::move(services)) {
  if (!m_services.readLanguage) m_services.readLanguage = ReadLanguageFromReg;
  if (!m_services.initLog) m_services.initLog = InitLog;
  if (!m_services.connectSharedLog) m_services.connectSharedLog = corvale::ConnectLogToSharedBuffer;
  if (!m_services.logFolder) m_services.logFolder = platform::ProgramFolder;
  if (!m_services.createMainFrame) m_services.createMainFrame = CreateMainFrame;
}

CQBXApp::~CQBXApp() = default;

bool CQBXApp::IsAlreadyRunning() {
  // The mutex stays held for the life of the process.
  m_instanceMutex = std::make_unique<corvale::NamedMutex>(kMainInstanceMutexName, true);
  return m_instanceMutex->IsValid() && m_instanceMutex->AlreadyExisted();
}

bool CQBXApp::InitInstance(int argc, const char* const* argv) {
  CRecoveryContext& context = GetRecoveryContext();
  int32_t languageId = corvale::kLanguageEnglish;
  if (!m_services.readLanguage(&languageId))
    WriteLanguageToReg(corvale::LanguageName(corvale::kLanguageEnglish));
  context.LanguageId = languageId;
  // Without the translation every text comes from the built-in English table, while the settings
  // keep the chosen language.
  context.LanguageModule = LoadLanguageLibrary(languageId);

  m_alreadyRunningMessage = corvale::LoadText(kStringAlreadyRunning);
  SetProductTitle(corvale::LoadText(kStringProductTitle));

  if (std::string problem = corvale::UnusableLockFolderText(); !problem.empty()) {
    // Without its lock the program could not tell a second instance from none; carrying on would
    // hand that decision to whoever made the folder.
    corvale::ui::ShowMessageBox(problem, GetProductTitle(), corvale::ui::MessageIcon::Information);
    m_exitCode = 1;
    return false;
  }
  if (IsAlreadyRunning()) {
    corvale::ui::ShowMessageBox(m_alreadyRunningMessage, GetProductTitle(),
                                corvale::ui::MessageIcon::Information);
    m_exitCode = 1;
    return false;
  }

  int level = LogLevelFromCommandLine(argc, argv);
  int type =
      corvale::NamedMutex(corvale::kLoaderMutexName, false).AlreadyExisted() ? LOGTYPE_SHARED : LOGTYPE_FILE;

  std::string folder = m_services.logFolder();
  std::string path = folder.empty() ? std::string() : folder + corvale::kLogFileName;
  if (type == LOGTYPE_SHARED) m_services.connectSharedLog();
  m_services.initLog(path.c_str(), level, type);

  LogBanner();
  LogDateGenerated();
  LogMemoryStatus();
  LogOsVersion();
  LogOsDirectory();
  LogModuleDirectory();

  m_mainFrame = m_services.createMainFrame();
  if (!m_mainFrame) {
    m_exitCode = 1;
    return false;
  }
  m_mainFrame->show();

  corvale::usage::Event(corvale::usage::kEventStart);
  return true;
}

int CQBXApp::Run() {
  try {
    m_exitCode = QApplication::exec();
  } catch (const std::bad_alloc&) {
    // Memory ran out somewhere the program's own allocator was not asked. Ending quietly with
    // status 0 would tell the launcher that all went well; this takes the out-of-memory path, as
    // the allocator would have.
    platform::ReportOutOfMemory(0);
  }
  return ExitInstance();
}

int CQBXApp::ExitInstance() {
  m_mainFrame.reset();
  CRecoveryContext& context = GetRecoveryContext();
  if (context.LanguageModule) {
    FreeLanguageLibrary(context.LanguageModule);
    context.LanguageModule = nullptr;
  }
  corvale::usage::EndRun();
  return m_exitCode;
}
