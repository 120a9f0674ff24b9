#include "platform/NamedEvent.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace corvale {

NamedEvent::NamedEvent(std::unique_ptr<SharedMemory> memory)
    : m_memory(std::move(memory)), m_sem(reinterpret_cast<sem_t*>(m_memory->Data())) {}

std::unique_ptr<NamedEvent> NamedEvent::CreateNew(std::string_view name) {
  std::unique_ptr<SharedMemory> memory = SharedMemory::Create(name, sizeof(sem_t));
  if (!memory) return nullptr;
  // A fresh object is all zeros, which is already an unsignalled shared semaphore, so a side that
  // opens it before this line finds a usable one.
  if (sem_init(reinterpret_cast<sem_t*>(memory->Data()), 1, 0) != 0) return nullptr;
  return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(memory)));
}

std::unique_ptr<NamedEvent> NamedEvent::Open(std::string_view name) {
  std::unique_ptr<SharedMemory> memory = SharedMemory::Open(name, sizeof(sem_t));
  if (!memory) return nullptr;
  return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(memory)));
}

NamedEvent::~NamedEvent() = default;

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
