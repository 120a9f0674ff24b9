#include "platform/NamedEvent.h"

#include <cerrno>
#include <cstdint>
#include <ctime>

#include <fcntl.h>

#include "platform/NamedObjects.h"

namespace corvale {

NamedEvent::NamedEvent(sem_t* sem, std::string posixName, bool created)
    : m_sem(sem), m_posixName(std::move(posixName)), m_created(created) {}

std::unique_ptr<NamedEvent> NamedEvent::CreateNew(std::string_view name) {
  std::string posixName = PosixObjectName(name);
  if (posixName.empty()) return nullptr;
  sem_unlink(posixName.c_str());
  sem_t* sem = sem_open(posixName.c_str(), O_CREAT | O_EXCL, 0600, 0);
  if (sem == SEM_FAILED) return nullptr;
  return std::unique_ptr<NamedEvent>(new NamedEvent(sem, std::move(posixName), true));
}

std::unique_ptr<NamedEvent> NamedEvent::Open(std::string_view name) {
  std::string posixName = PosixObjectName(name);
  if (posixName.empty()) return nullptr;
  sem_t* sem = sem_open(posixName.c_str(), 0);
  if (sem == SEM_FAILED) return nullptr;
  return std::unique_ptr<NamedEvent>(new NamedEvent(sem, std::move(posixName), false));
}

NamedEvent::~NamedEvent() {
  sem_close(m_sem);
  if (m_created) sem_unlink(m_posixName.c_str());
}

bool NamedEvent::Set() {
  // An event that is already signalled stays signalled once: two sets before a wait wake one wait.
  // Two setters racing may still post twice; the waiter then sees one extra wake-up, which the
  // watch tolerates.
  int value = 0;
  if (sem_getvalue(m_sem, &value) == 0 && value > 0) return true;
  return sem_post(m_sem) == 0;
}

bool NamedEvent::TryWait() {
  while (sem_trywait(m_sem) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool NamedEvent::Wait(int timeoutMs) {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  int64_t ns = deadline.tv_nsec + static_cast<int64_t>(timeoutMs < 0 ? 0 : timeoutMs) * 1000000;
  deadline.tv_sec += static_cast<time_t>(ns / 1000000000);
  deadline.tv_nsec = static_cast<long>(ns % 1000000000);
  while (sem_timedwait(m_sem, &deadline) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

unsigned NamedEvent::Handle() const { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(m_sem)); }

}  // namespace corvale
