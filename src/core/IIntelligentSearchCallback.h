#pragma once
// What the progress window of a whole-device search receives from it. Every call except
// OnSearchFinished comes from the search's worker thread; an implementation hands them on to its own
// thread (copy under a lock, queued signal) and answers IsCancelled from an atomic flag, so that the
// worker never waits for the window.

#include <cstdint>

#include "core/IntelligentSearchSummary.h"

class IIntelligentSearchCallback {
 public:
  virtual ~IIntelligentSearchCallback() = default;
  // After every block, with the index of the block just done.
  virtual void SetProgress(int64_t block) = 0;
  // Once before the first block: 0 and the number of blocks of the device.
  virtual void SetRange(int64_t first, int64_t end) = 0;
  // Before every block; true stops the pass (which still ends normally).
  virtual bool IsCancelled() = 0;
  // After every block, after SetProgress.
  virtual void OnBlockDone() = 0;
  // Copies the window's copy of the summary out. The search itself never calls it.
  virtual void GetSummary(IntelligentSearchSummary* out) = 0;
  // After every block, before SetProgress: the window copies the record whole.
  virtual void SetSummary(const IntelligentSearchSummary* summary) = 0;
  // Once, by the thread that ran the search, after the search has returned.
  virtual void OnSearchFinished() = 0;
};
