#include "core/ScopeTimeTrace.h"

#include <utility>

#include "platform/Log.h"

namespace {
CScopeTimeTrace::Observer& TheObserver() {
  static CScopeTimeTrace::Observer observer;
  return observer;
}
}  // namespace

CScopeTimeTrace::CScopeTimeTrace(const char* label)
    : m_label(label != nullptr ? label : ""), m_start(std::chrono::steady_clock::now()) {}

CScopeTimeTrace::~CScopeTimeTrace() { Check(); }

void CScopeTimeTrace::Check() {
  const auto elapsed = std::chrono::steady_clock::now() - m_start;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  OutputDebugText("%s dwElapsedTime %u \n", m_label.c_str(), static_cast<unsigned>(ms));
  if (const Observer& observer = TheObserver())
    observer(m_label, std::chrono::duration<double>(elapsed).count());
}

CScopeTimeTrace::Observer CScopeTimeTrace::SetObserver(Observer observer) {
  return std::exchange(TheObserver(), std::move(observer));
}
