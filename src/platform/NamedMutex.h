#pragma once
// A mutex that processes find by name: a lock file in the named-object folder (NamedObjects.h) with
// an open-file-description lock on it. The kernel drops the lock when its holder closes the file or
// dies, so a crashed owner never leaves the mutex taken; a stale lock file means nothing.
//
// "The mutex exists" means that some holder owns it: the single-instance and loader mutexes are only
// ever held by their owner, and the other side only asks whether they exist.
//
// One object may be locked from several threads: they queue on an in-process lock first. Two
// objects of the same name in one process exclude each other like two processes do.

#include <mutex>
#include <string>
#include <string_view>

namespace corvale {

class NamedMutex {
 public:
  // Opens the mutex `name`, making its lock file when missing. With `takeOwnership` it tries to own
  // the mutex at once; AlreadyExisted() then tells whether somebody else held it.
  NamedMutex(std::string_view name, bool takeOwnership);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // False when the lock file could not be opened; every other call then fails.
  bool IsValid() const { return m_fd >= 0; }
  // True when, at construction, another holder owned the mutex.
  bool AlreadyExisted() const { return m_alreadyExisted; }
  bool Owned() const { return m_owned; }

  // Waits at most `timeoutMs` for ownership. False on time-out or on an invalid mutex. Not for a
  // mutex already owned since construction: that one stays owned until Unlock or destruction.
  bool Lock(int timeoutMs);
  void Unlock();

  // True when somebody owns the mutex `name` now. Takes no lock itself, so it never makes another
  // process's attempt to own the mutex fail.
  static bool Exists(std::string_view name);

 private:
  bool TryOwn();
  void Disown();

  std::string m_path;
  int m_fd = -1;
  bool m_owned = false;
  bool m_alreadyExisted = false;
  bool m_threadHolds = false;  // ownership came from Lock(), which also holds m_threads
  std::timed_mutex m_threads;
};

// Holds a NamedMutex for one scope when the wait succeeded.
class NamedMutexLock {
 public:
  NamedMutexLock(NamedMutex& mutex, int timeoutMs) : m_mutex(mutex), m_locked(mutex.Lock(timeoutMs)) {}
  ~NamedMutexLock() {
    if (m_locked) m_mutex.Unlock();
  }
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;
  bool Locked() const { return m_locked; }

 private:
  NamedMutex& m_mutex;
  bool m_locked;
};

}  // namespace corvale
