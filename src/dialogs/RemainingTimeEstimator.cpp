#include "dialogs/RemainingTimeEstimator.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "ui/Resources.h"

uint32_t SystemTickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void CRemainingTimeEstimator::Start(int32_t total) {
  m_total = total;
  m_start = m_clock();
}

void CRemainingTimeEstimator::Update(int32_t done) {
  if (done < 1) return;
  m_elapsedMs = m_clock() - m_start;
  // The time per unit is taken in tenths of a second, as the windows show it.
  const __int128 left = static_cast<__int128>(m_total) - done;
  const __int128 remaining = (static_cast<__int128>(m_elapsedMs / 100) * left / done) * 100;
  m_remainingMs = static_cast<int32_t>(std::clamp<__int128>(remaining, INT32_MIN, INT32_MAX));
}

namespace recovering {

std::string SizeText(int64_t v) {
  char text[64];
  if (v / (int64_t(1) << 30) != 0)
    std::snprintf(text, sizeof text, "%.2f GB", double(v) / 1073741824.0);
  else if (v / (int64_t(1) << 20) != 0)
    std::snprintf(text, sizeof text, "%.2f MB", double(v) / 1048576.0);
  else if (v / 1024 != 0)
    std::snprintf(text, sizeof text, "%.2f KB", double(v) / 1024.0);
  else
    std::snprintf(text, sizeof text, "%" PRId64 " Byte", v);
  return text;
}

std::string TimeText(int64_t s) {
  char text[64];
  if (s < 0) s = 0;
  std::snprintf(text, sizeof text, "%02" PRId64 ":%02d:%02d", s / 3600, int((s % 3600) / 60), int(s % 60));
  return text;
}

int64_t RemainingMs(int64_t totalBytes, int64_t doneBytes, uint64_t elapsedMs) {
  if (doneBytes <= 0) return -1;
  if (doneBytes >= totalBytes) return 0;
  const __int128 r = static_cast<__int128>(totalBytes - doneBytes) * elapsedMs / doneBytes;
  return r > INT64_MAX ? INT64_MAX : static_cast<int64_t>(r);
}

std::string RemainingText(int64_t totalBytes, int64_t doneBytes, uint64_t elapsedMs) {
  const int64_t r = RemainingMs(totalBytes, doneBytes, elapsedMs);
  if (elapsedMs < 5000 || r < 0) return corvale::ui::LoadStringResource(132).toStdString();
  return TimeText(r / 1000 + 1);
}

int32_t BarMaximum(int64_t totalBytes) {
  if (totalBytes <= 0) return 1;
  if (totalBytes / (int64_t(1) << 30) != 0)
    return static_cast<int32_t>(std::min<int64_t>(totalBytes >> 20, INT32_MAX));
  return static_cast<int32_t>(totalBytes);
}

int32_t BarPosition(int64_t totalBytes, int64_t doneBytes) {
  if (totalBytes <= 0) return 1;
  const int64_t done = std::clamp<int64_t>(doneBytes, 0, totalBytes);
  if (totalBytes / (int64_t(1) << 30) != 0)
    return static_cast<int32_t>(std::min<int64_t>(done >> 20, INT32_MAX));
  return static_cast<int32_t>(done);
}

}  // namespace recovering
