#pragma once
// Running the project's programs from tests: installed side by side in a scratch folder, started
// with extra environment, waited for with a bound, and ended when the test is over. No wait here
// is without a limit.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace corvale::test {

// Variables to set for a program; a pair with an empty value removes that variable.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Copies `from` to `folder`/`name`, executable.
bool InstallProgram(const std::string& from, const std::string& folder, const std::string& name);

class RunningProgram {
 public:
  // Starts `path` with `args` (after argv[0], which is the file name) in the test's environment
  // plus `environment`. With `user` >= 0 the program runs as that user and group (needs root).
  RunningProgram(const std::string& path, const std::vector<std::string>& args,
                 const Environment& environment, long user = -1);
  // Kills the program when it still runs.
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool Started() const { return m_pid > 0; }
  pid_t Pid() const { return m_pid; }
  // True once it ended, waiting at most `timeoutMs`.
  bool Wait(int timeoutMs);
  bool Ended() { return Wait(0); }
  void Kill(int signal);
  // Valid after the end: the exit status, or -1 when ended by a signal.
  int ExitCode() const;
  int TermSignal() const;
  std::string Stderr() const;

 private:
  pid_t m_pid = -1;
  bool m_ended = false;
  int m_status = 0;
  std::string m_stderrPath;
};

// Polls `done` every 20 ms until it is true or `timeoutMs` passed; returns its last answer.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

std::string ReadFileText(const std::string& path);

// The ids of the running children of process `pid`.
std::vector<pid_t> ChildrenOf(pid_t pid);

}  // namespace corvale::test
