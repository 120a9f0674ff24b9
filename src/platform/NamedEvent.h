#pragma once
// An auto-reset event that processes find by name: a process-shared semaphore in a shared-memory
// object of its own (SharedMemory.h, NamedObjects.h), which carries the same checks of owner,
// permissions and size as the log buffer. Set
// leaves it signalled once however often it is called; one successful wait takes the signal away.
//
// The side that creates it (the launcher, once per run of the main program) makes it anew and
// removes the name when done, so a signal left over from an earlier run can never fire. The other
// side only opens an existing event and never creates one. Set only reads and posts the semaphore,
// with no allocation and no lock, so a crash handler may call it.

#include <semaphore.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/SharedMemory.h"

namespace corvale {

class NamedEvent {
 public:
  // A new, unsignalled event `name`, replacing an object of that name left by the effective user.
  // Null on failure, and when another user made an object of that name.
  static std::unique_ptr<NamedEvent> CreateNew(std::string_view name);
  // The existing event `name`, or null when there is none, it cannot be opened, or it is not a
  // private object of the effective user.
  static std::unique_ptr<NamedEvent> Open(std::string_view name);

  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  bool Set();
  // Takes the signal when there is one; never blocks.
  bool TryWait();
  // Waits at most `timeoutMs` for the signal and takes it.
  bool Wait(int timeoutMs);

  // A number naming this event in trace lines.
  unsigned Handle() const;

 private:
  explicit NamedEvent(std::unique_ptr<SharedMemory> memory);

  std::unique_ptr<SharedMemory> m_memory;  // the creator's removes the name again
  sem_t* m_sem;
};

}  // namespace corvale
