#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/NamedObjects.h"

namespace corvale {
namespace {

struct flock WholeFile(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return lock;
}

int OpenLockFile(const std::string& path) {
  if (path.empty()) return -1;
  return open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

}  // namespace

NamedMutex::NamedMutex(std::string_view name, bool takeOwnership) : m_path(NamedMutexFile(name)) {
  m_fd = OpenLockFile(m_path);
  if (m_fd < 0) return;
  if (takeOwnership) {
    m_owned = TryOwn();
    m_alreadyExisted = !m_owned;
  } else {
    m_alreadyExisted = Exists(name);
  }
}

NamedMutex::~NamedMutex() {
  if (m_fd >= 0) close(m_fd);  // closing drops an owned lock
}

bool NamedMutex::TryOwn() {
  struct flock lock = WholeFile(F_WRLCK);
  return fcntl(m_fd, F_OFD_SETLK, &lock) == 0;
}

void NamedMutex::Disown() {
  struct flock lock = WholeFile(F_UNLCK);
  fcntl(m_fd, F_OFD_SETLK, &lock);
  m_owned = false;
}

bool NamedMutex::Lock(int timeoutMs) {
  if (m_fd < 0) return false;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  if (!m_threads.try_lock_until(deadline)) return false;
  // The kernel offers no timed wait for this kind of lock, so poll; holders keep it for a copy
  // of at most a few megabytes, so a short step costs nothing.
  for (;;) {
    if (TryOwn()) {
      m_owned = true;
      m_threadHolds = true;
      return true;
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  m_threads.unlock();
  return false;
}

void NamedMutex::Unlock() {
  if (m_fd < 0 || !m_owned) return;
  Disown();
  if (m_threadHolds) {
    m_threadHolds = false;
    m_threads.unlock();
  }
}

bool NamedMutex::Exists(std::string_view name) {
  std::string path = NamedMutexFile(name);
  if (path.empty()) return false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;  // no lock file: nobody ever made the mutex
  struct flock probe = WholeFile(F_WRLCK);
  bool held = fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  close(fd);
  return held;
}

}  // namespace corvale
