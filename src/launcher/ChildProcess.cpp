#include "launcher/ChildProcess.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <optional>
#include <thread>

#include "platform/RequestingUser.h"
#include "platform/TrustedFile.h"

extern char** environ;

namespace corvale::launcher {

namespace {

bool IsPassedOn(const std::string& name) {
  static const char* const kNames[] = {
      // display
      "DISPLAY",
      "WAYLAND_DISPLAY",
      "XAUTHORITY",
      "QT_QPA_PLATFORM",
      "XDG_SESSION_TYPE",
      // locale
      "LANG",
      "LANGUAGE",
      "LC_ALL",
      "LC_CTYPE",
      "LC_NUMERIC",
      "LC_TIME",
      "LC_COLLATE",
      "LC_MONETARY",
      "LC_MESSAGES",
      "LC_PAPER",
      "LC_NAME",
      "LC_ADDRESS",
      "LC_TELEPHONE",
      "LC_MEASUREMENT",
      "LC_IDENTIFICATION",
      // runtime folder (the named objects of a user other than root)
      "XDG_RUNTIME_DIR",
      // what the programs honour (README.md, "Environment variables")
      "CORVALE_DEBUG",
      "CORVALE_DISKS",
      "CORVALE_NAMESPACE",
      "CORVALE_REGISTRY",
#ifdef CORVALE_TEST_HOOKS
      // the crash trigger of the crash-path tests, which only a test build knows
      "CORVALE_TEST_CRASH",
#endif
  };
  for (const char* known : kNames)
    if (name == known) return true;
  return false;
}

// The ids that tell who asked for the run (pkexec, sudo): passed on only as plain numbers other
// than root's, the form platform::FindRequestingUser accepts.
bool IsUserIdPassedOn(const std::string& name, const std::string& value) {
  if (name != "PKEXEC_UID" && name != "SUDO_UID" && name != "SUDO_GID") return false;
  const std::optional<unsigned> id = platform::ParseUserId(value.c_str());
  return id && *id != 0;
}

}  // namespace

std::vector<std::string> ChildEnvironment(const char* const* parent) {
  std::vector<std::string> env;
  for (const char* const* e = parent; e && *e; ++e) {
    std::string entry = *e;
    size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    const std::string name = entry.substr(0, equals);
    if (!IsPassedOn(name) && !IsUserIdPassedOn(name, entry.substr(equals + 1))) continue;
    env.push_back(std::move(entry));
  }
  env.push_back(std::string("PATH=") + kChildPath);
  return env;
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::string& path, const std::string& argv0,
                                                  const std::vector<std::string>& arguments) {
  if (path.empty()) return nullptr;
  // The launcher and the restart helper run as root: what they start must be root's, and it is run
  // from the descriptor that was checked (platform::StartTrustedProgram, which logs a refusal).
  std::string why;
  std::vector<std::string> argv{argv0};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const pid_t pid = platform::StartTrustedProgram(path, argv, ChildEnvironment(environ), false, &why);
  if (pid <= 0) return nullptr;
  return std::unique_ptr<ChildProcess>(new ChildProcess(pid));
}

bool ChildProcess::HasEnded() {
  if (m_ended) return true;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(m_pid, &status, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == m_pid) {
    m_ended = true;
    m_status = status;
  } else if (r < 0) {
    // Not our child any more (collected elsewhere): it has ended, with no status we can read.
    m_ended = true;
    m_status = 0;
  }
  return m_ended;
}

bool ChildProcess::WaitForEnd(int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  while (!HasEnded()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void ChildProcess::Kill() {
  if (HasEnded()) return;
  kill(m_pid, SIGKILL);
  int status = 0;
  pid_t r;
  do {
    r = waitpid(m_pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  m_ended = true;
  m_status = r == m_pid ? status : 0;
}

bool ChildProcess::Exited() const { return m_ended && WIFEXITED(m_status); }

int ChildProcess::ExitCode() const { return Exited() ? WEXITSTATUS(m_status) : -1; }

int ChildProcess::Signal() const { return m_ended && WIFSIGNALED(m_status) ? WTERMSIG(m_status) : 0; }

bool ChildProcess::EndedByFault() const {
  switch (Signal()) {
    case SIGSEGV:
    case SIGBUS:
    case SIGFPE:
    case SIGILL:
    case SIGABRT:
    case SIGSYS:
    case SIGTRAP:
    case SIGQUIT:
    case SIGXCPU:
    case SIGXFSZ:
      return true;
    default:
      return false;
  }
}

}  // namespace corvale::launcher
