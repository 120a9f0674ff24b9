// A stand-in for the main program in the launcher's tests. It does what FAKE_CORVALE_SCRIPT says,
// one run per start: runs are separated by ';' (the last one repeats), the steps of a run by ','.
//   log:TEXT      log TEXT through the log library (into the launcher's buffer when it is there)
//   sleep:MS      wait MS milliseconds
//   exit:N        end with status N
//   oom           run out of memory the way the program does (the allocator's report and handler)
//   segv          die of a bad memory access
//   crashevent    signal the launcher's crash event; memevent: its memory-crash event
//   env           write its environment, one variable a line, and "umask=NNN" into state/env
//   hang          wait until killed (a minute at most, so that no test can hang on it)
//   instance      take the main program's single-instance mutex; log "refused" and end with 1 when
//                 another instance holds it
// Each start appends "start N PID" to FAKE_CORVALE_STATE/starts, N counting from 1.
// The launcher hands its children only the variables the programs honour, so the script and the
// state folder also come from beside the executable: "fake-corvale.script" and "state/", used when
// the variables are not set.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

#include "platform/Allocation.h"
#include "platform/FileMappingLog.h"
#include "platform/LauncherProtocol.h"
#include "platform/Log.h"
#include "platform/NamedEvent.h"
#include "platform/NamedMutex.h"

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

void SetEvent(const char* name) {
  if (auto event = corvale::NamedEvent::Open(name)) event->Set();
}

std::string OwnFolder() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

template <typename Fallback>
std::string FromEnvironment(const char* name, Fallback fallback) {
  const char* value = std::getenv(name);
  return value && value[0] ? std::string(value) : fallback();
}

}  // namespace

int main() {
  std::string folder = OwnFolder();
  std::string script = FromEnvironment("FAKE_CORVALE_SCRIPT", [&] {
    std::ifstream in(folder + "fake-corvale.script");
    std::string text;
    std::getline(in, text);
    return text;
  });
  std::string state = FromEnvironment("FAKE_CORVALE_STATE", [&] { return folder + "state"; });
  if (script.empty() || folder.empty()) return 97;
  std::string startsFile = std::string(state) + "/starts";
  int run = 1;
  {
    std::ifstream in(startsFile);
    std::string line;
    while (std::getline(in, line)) ++run;
  }
  std::ofstream(startsFile, std::ios::app) << "start " << run << " " << getpid() << "\n";

  if (corvale::NamedMutex::Exists(corvale::kLoaderMutexName) && corvale::ConnectLogToSharedBuffer()) {
    InitLog("", LOGLEVEL_NORMAL, LOGTYPE_SHARED);
  } else {
    InitLog((std::string(state) + "/own.log").c_str(), LOGLEVEL_NORMAL, LOGTYPE_FILE);
  }

  std::vector<std::string> runs = Split(script, ';');
  if (runs.empty()) return 0;
  std::string steps = runs[std::min<size_t>(static_cast<size_t>(run), runs.size()) - 1];
  for (const std::string& step : Split(steps, ',')) {
    std::string what = step.substr(0, step.find(':'));
    std::string arg = step.find(':') == std::string::npos ? "" : step.substr(step.find(':') + 1);
    if (what == "log") {
      LogInfo("%s", arg.c_str());
    } else if (what == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(arg.c_str())));
    } else if (what == "exit") {
      corvale::log::CloseLog();
      std::exit(std::atoi(arg.c_str()));
    } else if (what == "oom") {
      platform::ReportOutOfMemory(0x7FFFFFFF);
    } else if (what == "segv") {
      // The sanitizers would turn the fault into an ordinary exit; the program's own crash has none.
      std::signal(SIGSEGV, SIG_DFL);
      std::raise(SIGSEGV);
    } else if (what == "crashevent") {
      SetEvent(corvale::kCrashEventName);
    } else if (what == "memevent") {
      SetEvent(corvale::kMemoryCrashEventName);
    } else if (what == "instance") {
      static corvale::NamedMutex instance("CORVALETARN0_Mutex_482913_Halvern", true);
      if (instance.AlreadyExisted()) {
        LogInfo("refused");
        corvale::log::CloseLog();
        std::exit(1);
      }
    } else if (what == "env") {
      std::ofstream out(state + "/env");
      for (char** e = environ; *e; ++e) out << *e << "\n";
      mode_t mask = umask(0);
      umask(mask);
      char octal[8];
      std::snprintf(octal, sizeof octal, "%03o", static_cast<unsigned>(mask));
      out << "umask=" << octal << "\n";
    } else if (what == "hang") {
      std::this_thread::sleep_for(std::chrono::minutes(1));
      return 3;
    }
  }
  corvale::log::CloseLog();
  return 0;
}
