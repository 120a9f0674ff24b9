#pragma once
// A program the launcher starts: the main program, which it watches to its end, or the crash
// report, which it leaves to run on its own.

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace corvale::launcher {

// The variables a child gets, from `parent` (NAME=value entries): those of the display, the
// locale and the runtime folder, the CORVALE_* variables the programs honour, and PKEXEC_UID,
// SUDO_UID and SUDO_GID when they are plain numbers other than 0 (so that what the main program
// makes belongs to the person who asked), with PATH set to kChildPath. A program that runs as root
// must not take its search path, libraries or anything else from whoever started it.
std::vector<std::string> ChildEnvironment(const char* const* parent);

inline constexpr const char* kChildPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

class ChildProcess {
 public:
  // Starts `path` with `argv0` and `arguments` as its arguments and the part of the launcher's environment
  // that the programs need (ChildEnvironment). Null when it cannot be started: missing, not executable, or,
  // running as root, not root's or open to changes by others (the reason is logged).
  static std::unique_ptr<ChildProcess> Start(const std::string& path, const std::string& argv0,
                                             const std::vector<std::string>& arguments = {});

  // A process the caller no longer watches is not ended; only its status is left uncollected.
  ~ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return m_pid; }

  // True once the process has ended (its status is then collected). Never blocks.
  bool HasEnded();
  // Waits at most `timeoutMs` for the end.
  bool WaitForEnd(int timeoutMs);
  // Ends the process at once and collects its status.
  void Kill();

  // Valid once HasEnded() was true.
  bool Exited() const;
  int ExitCode() const;
  // Ended by a signal whose default action dumps core: a fault of the program itself (bad memory
  // access, illegal instruction, abort, ...), as opposed to being told to stop.
  bool EndedByFault() const;
  int Signal() const;

 private:
  explicit ChildProcess(pid_t pid) : m_pid(pid) {}

  pid_t m_pid;
  bool m_ended = false;
  int m_status = 0;
};

}  // namespace corvale::launcher
