#pragma once
// A scope timer for the stages of the device collection: it keeps its label and the time it was
// made, and when it ends (or at `Check`) writes "<label> dwElapsedTime <ms> " to the debugger output.
// A process-wide observer (the benchmark) can also receive each reading, to the microsecond.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

class CScopeTimeTrace {
 public:
  explicit CScopeTimeTrace(const char* label);
  ~CScopeTimeTrace();
  CScopeTimeTrace(const CScopeTimeTrace&) = delete;
  CScopeTimeTrace& operator=(const CScopeTimeTrace&) = delete;

  // Writes the time passed since the start, which goes on counting.
  void Check();

  // Receives every reading: the label and the seconds since the start. Null removes it; returns the
  // previous one. Meant to be set while no collection runs.
  using Observer = std::function<void(const std::string& label, double seconds)>;
  static Observer SetObserver(Observer observer);

 private:
  std::string m_label;
  std::chrono::steady_clock::time_point m_start;
};
