#include "platform/ChildStart.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace platform {

int HighestDescriptor() {
  struct rlimit limit {};
  constexpr rlim_t kCap = 1 << 20;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > kCap)
    return static_cast<int>(kCap);
  return static_cast<int>(limit.rlim_cur);
}

void ResetSignalsInChild() {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    ::sigaction(sig, &dfl, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

void MarkDescriptorsCloseOnExec(int highestDescriptor) {
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
  for (int fd = 3; fd < highestDescriptor; ++fd) {
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0 && (flags & FD_CLOEXEC) == 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  }
}

ChildReport::~ChildReport() {
  if (m_read >= 0) ::close(m_read);
  if (m_write >= 0) ::close(m_write);
}

bool ChildReport::Open() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  m_read = fds[0];
  m_write = fds[1];
  return true;
}

void ChildReport::Fail(ChildStage stage, int error) {
  const int message[2] = {static_cast<int>(stage), error};
  const ssize_t ignored = ::write(m_write, message, sizeof message);
  (void)ignored;
}

void ChildReport::CloseWriteEnd() {
  if (m_write >= 0) ::close(m_write);
  m_write = -1;
}

bool ChildReport::Read(std::string* failure) {
  int message[2] = {0, 0};
  size_t have = 0;
  while (have < sizeof message) {
    const ssize_t n = ::read(m_read, reinterpret_cast<char*>(message) + have, sizeof message - have);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    have += static_cast<size_t>(n);
  }
  if (have == 0) return true;
  if (failure) {
    const char* stage = "";
    switch (static_cast<ChildStage>(message[0])) {
      case ChildStage::kFork:
        stage = "cannot detach";
        break;
      case ChildStage::kGroups:
        stage = "cannot take the user's groups";
        break;
      case ChildStage::kGroup:
        stage = "cannot take the user's group";
        break;
      case ChildStage::kUser:
        stage = "cannot become the user";
        break;
      case ChildStage::kUserCheck:
        stage = "the change of user did not hold";
        break;
      case ChildStage::kDescriptors:
        stage = "cannot set up its standard input and output";
        break;
      case ChildStage::kExec:
        stage = "cannot run";
        break;
    }
    *failure = std::string(stage) + ": " + std::strerror(message[1]);
  }
  return false;
}

}  // namespace platform
