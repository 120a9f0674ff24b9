#pragma once
// The cancel flag and the pause of one long job, shared by the window that shows the job and the
// worker thread that does it.
//
// The worker passes the gate at every report it makes (Pass). While the window holds the gate (its
// "stop?" question is open), Pass waits there: nothing more is read, written or counted until the
// person has answered, so the figures they look at stay what they were and a Yes stops the work where
// it stood. Cancel lets a waiting worker go and makes Pass answer true from then on; Release lets it
// go on as before. The window never waits for the worker here: holding and releasing only set state.

#include <condition_variable>
#include <mutex>

class CJobGate {
 public:
  // Worker side: waits while the gate is held, then answers whether the job is cancelled.
  bool Pass();
  // Whether the job is cancelled, without waiting.
  bool IsCancelled() const;

  // Window side. Hold and Release pair up around a question; Cancel is final and also releases.
  void Hold();
  void Release();
  void Cancel();
  bool IsHeld() const;
  // True while a worker waits in Pass (the work has come to a stop at the held gate).
  bool IsWorkerWaiting() const;

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_held = false;
  bool m_cancelled = false;
  int m_waiting = 0;
};
