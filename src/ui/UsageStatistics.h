#pragma once
// Usage events for the outside usage-statistics library: the start of a run, user steps of the
// wizard with how long they took, the end of the run. The library is optional and none ships with
// the program: "libTallyeye.so" is looked for once, in the program's own folder only, and without
// it (or its export "GetTallyeye") no event goes anywhere. Nothing the library does, throwing
// included, can disturb the program.
//
// Tests install a recorder to see the events that are raised.

#include <cstdint>
#include <functional>

// The object "GetTallyeye" returns: a table of operations of which the program calls the first
// (end of the run), the fifth (a timed event) and the eighth (an event); the others belong to other
// users of the library.
class ITallyeye {
 public:
  virtual void EndRun() = 0;
  virtual void Operation2() = 0;
  virtual void Operation3() = 0;
  virtual void Operation4() = 0;
  virtual void TimedEvent(int eventId, uint32_t elapsedMs, int reserved) = 0;
  virtual void Operation6() = 0;
  virtual void Operation7() = 0;
  virtual void Event(int eventId) = 0;

 protected:
  ~ITallyeye() = default;  // the library owns the object
};

namespace corvale::usage {

constexpr int kEventStart = 8192;

void Event(int eventId);
void TimedEvent(int eventId, uint32_t elapsedMs);
void EndRun();

struct Record {
  enum Kind { kEvent, kTimedEvent, kEndRun } kind;
  int eventId;
  uint32_t elapsedMs;
};
// Sees every event raised, library or not. Null removes it. Returns the previous recorder.
using Recorder = std::function<void(const Record&)>;
Recorder SetRecorder(Recorder recorder);

}  // namespace corvale::usage
