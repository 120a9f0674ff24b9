#include "core/TimingScope.h"

#include <cinttypes>
#include <cstring>

#include "platform/Log.h"

CTimingScope::CTimingScope(const char* name, int64_t sector) : m_sector(sector), m_start(Clock::now()) {
  const char* text = name ? name : "";
  size_t n = strnlen(text, sizeof m_name - 1);
  std::memcpy(m_name, text, n);
  m_name[n] = '\0';
}

CTimingScope::~CTimingScope() { End(); }

void CTimingScope::End() {
  const Clock::time_point now = Clock::now();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_start).count();
  if (elapsed <= static_cast<int64_t>(kSlowStepMilliseconds)) return;
  OutputDebugText("%s curSector %" PRId64 " dwElapsedTime %u \n", m_name, m_sector,
                  static_cast<unsigned>(elapsed));
  m_start = now;
}
