#pragma once
// A step timer for the search controllers: it notes the time it was made and, when the step ends
// and took more than 30 ms, writes the step's name, the sector it was at and the milliseconds to the
// debugger output. Only slow steps are written, so it can sit around the rare, costly steps of a
// scan (a boot record, a restart page) at no cost to the others.
//
// It allocates nothing: the name is copied into a fixed buffer (cut to 259 characters).

#include <chrono>
#include <cstdint>

class CTimingScope {
 public:
  static constexpr uint32_t kSlowStepMilliseconds = 30;

  explicit CTimingScope(const char* name, int64_t sector = 0);
  // Ends the step.
  ~CTimingScope();
  CTimingScope(const CTimingScope&) = delete;
  CTimingScope& operator=(const CTimingScope&) = delete;

  void SetSector(int64_t sector) { m_sector = sector; }
  // Ends a step: when more than 30 ms have passed since the start (or the last slow step), writes
  // the line and starts counting again from now. A quick step is not written and the count goes
  // on, so that a run of quick steps that adds up past the limit is still reported.
  void End();

 private:
  using Clock = std::chrono::steady_clock;
  char m_name[260];
  int64_t m_sector;
  Clock::time_point m_start;
};
