#include "core/JobGate.h"

bool CJobGate::Pass() {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_held && !m_cancelled) {
    ++m_waiting;
    m_changed.wait(lock, [this] { return !m_held || m_cancelled; });
    --m_waiting;
  }
  return m_cancelled;
}

bool CJobGate::IsCancelled() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_cancelled;
}

void CJobGate::Hold() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_held = true;
}

void CJobGate::Release() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_held = false;
  }
  m_changed.notify_all();
}

void CJobGate::Cancel() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancelled = true;
    m_held = false;
  }
  m_changed.notify_all();
}

bool CJobGate::IsHeld() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_held;
}

bool CJobGate::IsWorkerWaiting() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_waiting > 0;
}
