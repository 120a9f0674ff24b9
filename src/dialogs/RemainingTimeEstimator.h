#pragma once
// Times and sizes of a running recovery as its window shows them, and the small estimator of the
// time left that the search window uses. Every function here is pure or reads the clock it is
// given, so the texts can be checked at any moment of a run without waiting for it.

#include <cstdint>
#include <functional>
#include <string>

// Milliseconds of a monotonic clock; wraps like a 32-bit tick counter.
using TickClock = std::function<uint32_t()>;
// The system's monotonic clock in milliseconds.
uint32_t SystemTickCount();

class CRemainingTimeEstimator {
 public:
  explicit CRemainingTimeEstimator(TickClock clock = SystemTickCount) : m_clock(std::move(clock)) {}

  // Starts a run of `total` units now.
  void Start(int32_t total);
  // `done` units are finished; ignored below 1.
  void Update(int32_t done);
  // The time left at the last Update, in ms (0 before the first one).
  int32_t GetRemainingMs() const { return m_remainingMs; }

 private:
  TickClock m_clock;
  int32_t m_total = 0;
  uint32_t m_start = 0;
  uint32_t m_elapsedMs = 0;
  int32_t m_remainingMs = 0;
};

namespace recovering {

// "%.2f GB", "%.2f MB", "%.2f KB" by steps of 1024, or "%lld Byte" below 1 KB (negative values too).
std::string SizeText(int64_t bytes);
// "%02d:%02d:%02d" of hours, minutes and seconds; hours do not wrap at 24.
std::string TimeText(int64_t seconds);

// The time left of a copy, in ms, when `elapsedMs` took `doneBytes` of `totalBytes`: the remaining
// bytes at the same rate. Computed wide enough that terabytes after days of copying do not
// overflow; 0 when nothing is left; -1 when there is no rate yet (nothing done).
int64_t RemainingMs(int64_t totalBytes, int64_t doneBytes, uint64_t elapsedMs);

// The remaining-time text of the window: "Calculating..." in the first five seconds and while
// nothing is done, else the time text of the remaining seconds plus one.
std::string RemainingText(int64_t totalBytes, int64_t doneBytes, uint64_t elapsedMs);

// The progress bar counts bytes, or whole MiB for a selection of 1 GiB or more, so that its range
// fits an int. Its upper end is at least 1.
int32_t BarMaximum(int64_t totalBytes);
int32_t BarPosition(int64_t totalBytes, int64_t doneBytes);

}  // namespace recovering
