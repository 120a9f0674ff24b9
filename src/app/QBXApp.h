#pragma once
// The main program's application object: start-up, the run, shutdown.
//
// Start-up, in this order: the user-interface language; the product texts; refusal of a second
// instance; the "trace" switch of the command line; whether the launcher started the program; the
// log; the header of the run report; the main window; the start event for the usage statistics.
// Shutdown gives back the language and reports the end of the run.
//
// The Qt application object is made by the caller before InitInstance, as the window framework
// exists before its application object starts.

#include <functional>
#include <memory>
#include <string>

#include "platform/LauncherProtocol.h"
#include "platform/NamedMutex.h"
#include "platform/RecoveryContext.h"

class QWidget;

inline constexpr const char* kMainInstanceMutexName = corvale::kMainInstanceMutexName;

// String ids used at start-up.
constexpr unsigned kStringProductTitle = 346;
constexpr unsigned kStringAlreadyRunning = 434;

// The log level the command line asks for: 1 when an argument after the program name is "trace"
// behind '-' or '/', in any case; 2 otherwise.
int LogLevelFromCommandLine(int argc, const char* const* argv);

class CQBXApp {
 public:
  // What start-up asks of the world; tests replace parts of it.
  struct Services {
    std::function<int(int32_t* id)> readLanguage;                        // ReadLanguageFromReg
    std::function<void(const char* path, int level, int type)> initLog;  // InitLog
    std::function<bool()> connectSharedLog;                              // ConnectLogToSharedBuffer
    std::function<std::string()> logFolder;                              // the program folder
    std::function<std::unique_ptr<QWidget>()> createMainFrame;
  };

  CQBXApp();
  explicit CQBXApp(Services services);
  ~CQBXApp();
  CQBXApp(const CQBXApp&) = delete;
  CQBXApp& operator=(const CQBXApp&) = delete;

  // True to run the message loop, false to end the process.
  bool InitInstance(int argc, const char* const* argv);
  // The message loop, then shutdown; returns the process's exit status.
  int Run();
  // Shutdown; returns the exit status.
  int ExitInstance();

  const std::string& AlreadyRunningMessage() const { return m_alreadyRunningMessage; }
  QWidget* MainWindow() const { return m_mainFrame.get(); }

 private:
  bool IsAlreadyRunning();

  Services m_services;
  std::string m_alreadyRunningMessage;
  std::unique_ptr<corvale::NamedMutex> m_instanceMutex;  // held for the life of the process
  std::unique_ptr<QWidget> m_mainFrame;
  int m_exitCode = 0;
};

// The main window: the frame whose view holds the wizard sheet.
std::unique_ptr<QWidget> CreateMainFrame();
