#pragma once
// What the lost-partition search tells the window that follows it, and asks of it. The search calls
// it from its worker thread: an implementation stores what it is told for its own thread to read and
// answers IsCancelled from a flag. The worker waits only where the window holds it on purpose (while
// it asks whether to stop), never for the window's thread to handle anything.

#include <cstdint>

class CLostPartitionRecord;

class IPartitionSearchCallback {
 public:
  virtual ~IPartitionSearchCallback() = default;
  // Called twice per position: a point where the window may hold the search (it runs on a worker,
  // so there is nothing of the window's to handle here).
  virtual void PumpMessages() {}
  // Once per position.
  virtual void Step() = 0;
  // Asked before every position; nonzero stops the search.
  virtual int IsCancelled() = 0;
  virtual void SetStep(int64_t step) = 0;
  virtual void StepBy(int64_t /*steps*/) {}
  // Once, with 0 and the total number of positions.
  virtual void SetRange(int64_t first, int64_t end) = 0;
  virtual void SetPosition(int64_t /*position*/) {}
  // For every partition found; the record is reused by the search after the call, so the window
  // copies it.
  virtual void AddFoundPartition(const CLostPartitionRecord* record) = 0;
};
