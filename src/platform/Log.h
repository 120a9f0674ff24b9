#pragma once
// The program's logging library. Both programs write their run log through these calls; the texts
// handed in are printf formats whose wording other parts of the program (and users reading the log)
// rely on, so callers pass them unchanged and this library only adds a time stamp when writing.
//
// Levels: 1 writes every line including DebugTrace (the "trace" switch); 2 drops DebugTrace.
// Types: 0 writes the log file itself; 1 hands every line to the writer registered with
// SetSharedLogWriter (the launcher's shared buffer); without such a writer it falls back to the file.
// Calls before InitLog are accepted: they reach captures and, with CORVALE_DEBUG set, stderr.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum LOGLEVEL : int { LOGLEVEL_TRACE = 1, LOGLEVEL_NORMAL = 2 };
enum LOGTYPE : int { LOGTYPE_FILE = 0, LOGTYPE_SHARED = 1 };

void InitLog(const char* path, int level, int type);
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ReleaseTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The debugger-output channel: slow-step and timing lines. Written to stderr only when CORVALE_DEBUG
// is set; always visible to captures.
void OutputDebugText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A stable 16-bit code for a source file name, printed as "FileNO:%X" in error lines.
uint16_t FileNameToFileCode(const char* sourcePath);

namespace corvale::log {

enum class Channel { Error, Info, Debug, Release, DebugOutput };

struct Line {
  Channel channel;
  std::string text;  // exactly as formatted from the caller's format, without time stamp
};

// Collects every line logged on any thread while it lives. Several captures may be active at once.
class ScopedCapture {
 public:
  ScopedCapture();
  ~ScopedCapture();
  ScopedCapture(const ScopedCapture&) = delete;
  ScopedCapture& operator=(const ScopedCapture&) = delete;

  std::vector<Line> Lines() const;
  std::vector<std::string> Texts() const;
  // True when some line's text equals `text` exactly.
  bool Has(std::string_view text) const;
  // True when some line's text contains `part`.
  bool HasPart(std::string_view part) const;
  size_t Count(std::string_view text) const;
  void Clear();

  void Add(Channel channel, const std::string& text);  // used by the library

 private:
  mutable void* m_mutex;
  std::vector<Line> m_lines;
};

// Receives every written line (already stamped) when InitLog was called with type 1. Calls come one
// at a time, from any thread; the writer may use OutputDebugText but no other logging call.
using SharedLogWriter = std::function<void(std::string_view)>;
void SetSharedLogWriter(SharedLogWriter writer);

// True while the calling thread is inside one of the logging calls above. A path that logs from
// within an allocation (the out-of-memory report) checks it: logging again there would wait on a
// lock this thread already holds.
bool InsideLogCall();

// Flushes and closes the log file (tests and shutdown).
void CloseLog();

}  // namespace corvale::log
