#pragma once
// What the lost-partition search tells the window that follows it, and asks of it. The search calls
// it from its worker thread: an implementation passes what it is told to its own thread and answers
// IsCancelled from a flag, never blocking the worker.

#include <cstdint>

class CLostPartitionRecord;

class IPartitionSearchCallback {
 public:
  virtual ~IPartitionSearchCallback() = default;
  // Called twice per position: lets the window handle what is pending (nothing to do on a worker).
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
