#include "platform/Log.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "platform/ProgramFolder.h"

namespace corvale::log {
namespace {

struct LogState {
  std::mutex mutex;
  std::FILE* file = nullptr;
  std::string path;
  int level = LOGLEVEL_NORMAL;
  int type = LOGTYPE_FILE;
  bool initialised = false;
  std::vector<ScopedCapture*> captures;
  // The size of `captures`, readable without the lock.
  std::atomic<size_t> captureCount{0};
  SharedLogWriter sharedWriter;
};

LogState& State() {
  // Never destroyed: worker threads may still log while static destructors run at exit.
  static LogState* state = new LogState;
  return *state;
}

bool DebugEnvSet() {
  static const bool set = std::getenv("CORVALE_DEBUG") != nullptr;
  return set;
}

const char* ChannelTag(Channel channel) {
  switch (channel) {
    case Channel::Error:
      return "ERROR";
    case Channel::Info:
      return "INFO ";
    case Channel::Debug:
      return "DEBUG";
    case Channel::Release:
      return "TRACE";
    case Channel::DebugOutput:
      return "DBGOUT";
  }
  return "";
}

std::string Stamp(Channel channel) {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d [%ld] %s ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms,
                static_cast<long>(syscall(SYS_gettid)), ChannelTag(channel));
  return buf;
}

std::string Format(const char* format, va_list args) {
  if (!format) return {};
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return format;
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(big.data(), big.size(), format, args);
  big.resize(static_cast<size_t>(n));
  return big;
}

// Serialises the calls of the shared writer. It is a lock of its own, not the state's, because the
// writer reports its own failures on the debugger-output channel, which takes the state's lock.
std::mutex& SharedWriterMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

// Set while this thread is inside Emit, so that the allocator's out-of-memory report, which logs,
// knows when it would wait on the lock its own thread already holds.
thread_local int t_emitDepth = 0;

struct EmitDepth {
  EmitDepth() { ++t_emitDepth; }
  ~EmitDepth() { --t_emitDepth; }
};

void Emit(Channel channel, const char* format, va_list args) {
  LogState& s = State();
  // Debugger output is written per block by the scan loops; when nobody reads it, it is not even
  // formatted.
  if (channel == Channel::DebugOutput && !DebugEnvSet() &&
      s.captureCount.load(std::memory_order_acquire) == 0)
    return;
  EmitDepth depth;
  std::string text = Format(format, args);
  std::unique_lock<std::mutex> lock(s.mutex);
  for (ScopedCapture* c : s.captures) c->Add(channel, text);

  bool toStderr = DebugEnvSet();
  bool dropped = channel == Channel::Debug && s.level > LOGLEVEL_TRACE;
  if (channel == Channel::DebugOutput) {
    if (toStderr) std::fprintf(stderr, "%s", text.c_str());
    return;
  }
  if (dropped) return;
  std::string line = Stamp(channel) + text;
  if (line.empty() || line.back() != '\n') line += '\n';
  if (toStderr) std::fputs(line.c_str(), stderr);
  if (!s.initialised) return;
  if (s.type == LOGTYPE_SHARED && s.sharedWriter) {
    SharedLogWriter writer = s.sharedWriter;
    lock.unlock();
    std::lock_guard<std::mutex> writing(SharedWriterMutex());
    writer(line);
    return;
  }
  if (s.file) {
    std::fputs(line.c_str(), s.file);
    std::fflush(s.file);
  }
}

}  // namespace

ScopedCapture::ScopedCapture() : m_mutex(new std::mutex) {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.captures.push_back(this);
  s.captureCount.store(s.captures.size(), std::memory_order_release);
}

ScopedCapture::~ScopedCapture() {
  LogState& s = State();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.captures.erase(std::remove(s.captures.begin(), s.captures.end(), this), s.captures.end());
    s.captureCount.store(s.captures.size(), std::memory_order_release);
  }
  delete static_cast<std::mutex*>(m_mutex);
}

void ScopedCapture::Add(Channel channel, const std::string& text) {
  std::lock_guard<std::mutex> lock(*static_cast<std::mutex*>(m_mutex));
  m_lines.push_back({channel, text});
}

std::vector<Line> ScopedCapture::Lines() const {
  std::lock_guard<std::mutex> lock(*static_cast<std::mutex*>(m_mutex));
  return m_lines;
}

std::vector<std::string> ScopedCapture::Texts() const {
  std::vector<std::string> out;
  for (const Line& l : Lines()) out.push_back(l.text);
  return out;
}

bool ScopedCapture::Has(std::string_view text) const { return Count(text) > 0; }

bool ScopedCapture::HasPart(std::string_view part) const {
  for (const Line& l : Lines())
    if (l.text.find(part) != std::string::npos) return true;
  return false;
}

size_t ScopedCapture::Count(std::string_view text) const {
  size_t n = 0;
  for (const Line& l : Lines())
    if (l.text == text) ++n;
  return n;
}

void ScopedCapture::Clear() {
  std::lock_guard<std::mutex> lock(*static_cast<std::mutex*>(m_mutex));
  m_lines.clear();
}

bool InsideLogCall() { return t_emitDepth > 0; }

void SetSharedLogWriter(SharedLogWriter writer) {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.sharedWriter = std::move(writer);
}

void CloseLog() {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.file) std::fclose(s.file);
  s.file = nullptr;
  s.initialised = false;
}

}  // namespace corvale::log

using corvale::log::Channel;

void InitLog(const char* path, int level, int type) {
  auto& s = corvale::log::State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.file) std::fclose(s.file);
  s.file = nullptr;
  s.path = path ? path : "";
  s.level = level;
  s.type = type;
  s.initialised = true;
  if (!s.path.empty() && (type == LOGTYPE_FILE || !s.sharedWriter)) {
    int fd = platform::OpenPrivateFile(s.path, O_WRONLY | O_CREAT | O_APPEND);
    if (fd >= 0) {
      s.file = fdopen(fd, "a");
      if (!s.file) close(fd);
    }
  }
}

#define CORVALE_EMIT(channel)                \
  va_list args;                              \
  va_start(args, format);                    \
  corvale::log::Emit(channel, format, args); \
  va_end(args)

void LogError(const char* format, ...) { CORVALE_EMIT(Channel::Error); }
void LogInfo(const char* format, ...) { CORVALE_EMIT(Channel::Info); }
void DebugTrace(const char* format, ...) { CORVALE_EMIT(Channel::Debug); }
void ReleaseTrace(const char* format, ...) { CORVALE_EMIT(Channel::Release); }
void OutputDebugText(const char* format, ...) { CORVALE_EMIT(Channel::DebugOutput); }

uint16_t FileNameToFileCode(const char* sourcePath) {
  // FNV-1a over the path with separators unified and letters folded, folded to 16 bits, so the
  // same source file gives the same code whatever the build machine's spelling of its path.
  uint32_t h = 2166136261u;
  for (const char* p = sourcePath ? sourcePath : ""; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    h ^= c;
    h *= 16777619u;
  }
  return static_cast<uint16_t>((h >> 16) ^ (h & 0xFFFF));
}
