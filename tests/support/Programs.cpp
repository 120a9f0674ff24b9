#include "support/Programs.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace corvale::test {

bool InstallProgram(const std::string& from, const std::string& folder, const std::string& name) {
  std::error_code ec;
  fs::path to = fs::path(folder) / name;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) return false;
  fs::permissions(to,
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec,
                  ec);
  return !ec;
}

RunningProgram::RunningProgram(const std::string& path, const std::vector<std::string>& args,
                               const Environment& environment, long user) {
  static int counter = 0;
  m_stderrPath = (fs::temp_directory_path() /
                  ("corvale-test-stderr." + std::to_string(getpid()) + "." + std::to_string(++counter)))
                     .string();
  // Everything the child needs is made before the fork: after it only async-signal-safe calls.
  std::vector<std::string> argStrings;
  argStrings.push_back(fs::path(path).filename().string());
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string key = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& [k, v] : environment) replaced = replaced || k == key;
    if (!replaced) envStrings.push_back(entry);
  }
  for (const auto& [k, v] : environment)
    if (!v.empty() || k.empty()) envStrings.push_back(k + "=" + v);
  std::vector<char*> argv;
  for (std::string& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  int errFd = open(m_stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (errFd < 0) return;
  fchmod(errFd, 0666);

  m_pid = fork();
  if (m_pid == 0) {
    dup2(errFd, 2);
    if (user >= 0) {
      gid_t gid = static_cast<gid_t>(user);
      if (setgroups(1, &gid) != 0 || setgid(gid) != 0 || setuid(static_cast<uid_t>(user)) != 0) _exit(126);
    }
    execve(path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(errFd);
}

RunningProgram::~RunningProgram() {
  if (m_pid > 0 && !Wait(0)) {
    kill(m_pid, SIGKILL);
    Wait(10000);
  }
  std::remove(m_stderrPath.c_str());
}

bool RunningProgram::Wait(int timeoutMs) {
  if (m_pid <= 0) return true;
  if (m_ended) return true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    pid_t r = waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
      m_ended = true;
      m_status = status;
      return true;
    }
    if (r < 0 && errno != EINTR) {
      m_ended = true;
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void RunningProgram::Kill(int signal) {
  if (m_pid > 0 && !m_ended) kill(m_pid, signal);
}

int RunningProgram::ExitCode() const { return m_ended && WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1; }

int RunningProgram::TermSignal() const { return m_ended && WIFSIGNALED(m_status) ? WTERMSIG(m_status) : 0; }

std::string RunningProgram::Stderr() const { return ReadFileText(m_stderrPath); }

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<pid_t> ChildrenOf(pid_t pid) {
  std::vector<pid_t> children;
  std::string text =
      ReadFileText("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  std::istringstream in(text);
  pid_t child;
  while (in >> child) children.push_back(child);
  return children;
}

}  // namespace corvale::test
