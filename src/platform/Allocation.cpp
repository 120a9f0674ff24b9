#include "platform/Allocation.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "platform/Log.h"

namespace platform {
namespace {

void* MallocBlock(size_t size) { return ::malloc(size); }

std::atomic<RawAllocator> g_rawAllocator{&MallocBlock};
std::atomic<OutOfMemoryHandler> g_handler{nullptr};
// Set by the first thread that reports; others wait for it to end the process.
std::atomic<bool> g_reporting{false};
thread_local bool t_reporting = false;

constexpr uint64_t kMiB = 0x100000;

void WriteStderr(const char* text, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(STDERR_FILENO, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    length -= static_cast<size_t>(n);
  }
}

// "Key:   12345 kB" -> bytes; true when the line starts with `key` followed by ':'.
bool ParseMemInfoLine(const char* line, const char* end, const char* key, uint64_t* out) {
  const char* p = line;
  for (const char* k = key; *k; ++k, ++p)
    if (p >= end || *p != *k) return false;
  if (p >= end || *p != ':') return false;
  ++p;
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
  uint64_t value = 0;
  bool any = false;
  while (p < end && *p >= '0' && *p <= '9') {
    uint64_t digit = static_cast<uint64_t>(*p - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
    any = true;
    ++p;
  }
  if (!any) return false;
  while (p < end && *p == ' ') ++p;
  uint64_t unit = 1;
  if (end - p >= 2 && p[0] == 'k' && p[1] == 'B') unit = 1024;
  if (value > UINT64_MAX / unit) return false;
  *out = value * unit;
  return true;
}

}  // namespace

bool ParseMemInfo(const char* text, size_t length, MemoryStatus* out) {
  bool haveTotal = false, haveAvailable = false, haveFree = false;
  uint64_t memFree = 0;
  MemoryStatus status;
  const char* end = text + length;
  for (const char* line = text; line < end;) {
    const char* eol = line;
    while (eol < end && *eol != '\n') ++eol;
    haveTotal |= ParseMemInfoLine(line, eol, "MemTotal", &status.totalPhysical);
    haveAvailable |= ParseMemInfoLine(line, eol, "MemAvailable", &status.availablePhysical);
    haveFree |= ParseMemInfoLine(line, eol, "MemFree", &memFree);
    ParseMemInfoLine(line, eol, "SwapTotal", &status.totalPageFiles);
    ParseMemInfoLine(line, eol, "SwapFree", &status.availablePageFiles);
    line = eol + 1;
  }
  if (!haveTotal || (!haveAvailable && !haveFree)) return false;
  if (!haveAvailable) status.availablePhysical = memFree;
  *out = status;
  return true;
}

bool QueryMemoryStatus(MemoryStatus* out, const char* meminfoPath) {
  int fd = ::open(meminfoPath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[8192];
  size_t used = 0;
  for (;;) {
    ssize_t n = ::read(fd, buffer + used, sizeof buffer - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += static_cast<size_t>(n);
    if (used == sizeof buffer) break;
  }
  ::close(fd);
  return ParseMemInfo(buffer, used, out);
}

void LogMemoryStatus(const char* meminfoPath) {
  MemoryStatus status;
  if (!QueryMemoryStatus(&status, meminfoPath)) {
    LogError("Failed to query memory status.");
    status = MemoryStatus{};
  }
  LogError("Memory status:");
  LogError("Total physical memory:%4" PRId64 " MB\tAvailable physical memory:%4" PRId64 " MB",
           static_cast<int64_t>(status.totalPhysical / kMiB),
           static_cast<int64_t>(status.availablePhysical / kMiB));
  LogError("Total   page    files:%4" PRId64 " MB\tAvailable    page   files:%4" PRId64 " MB",
           static_cast<int64_t>(status.totalPageFiles / kMiB),
           static_cast<int64_t>(status.availablePageFiles / kMiB));
}

OutOfMemoryHandler SetOutOfMemoryHandler(OutOfMemoryHandler handler) { return g_handler.exchange(handler); }

void DefaultOutOfMemoryHandler(size_t) { std::_Exit(kOutOfMemoryExitCode); }

void ReportOutOfMemory(size_t requestedBytes) {
  if (t_reporting) {
    // The report or the handler itself ran out of memory: no second report, no second handler.
    DefaultOutOfMemoryHandler(requestedBytes);
  }
  t_reporting = true;
  if (g_reporting.exchange(true)) {
    // Another thread is reporting and will end the process; this one must not run on.
    for (;;) ::pause();
  }
  if (corvale::log::InsideLogCall()) {
    // This thread holds the log's lock: logging would wait forever. Say it on stderr instead,
    // formatted on the stack.
    char line[64];
    int n = std::snprintf(line, sizeof line, "Failed to alloc 0x%08zx bytes\n", requestedBytes);
    if (n > 0)
      WriteStderr(line, static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);
  } else {
    LogError("Failed to alloc 0x%08zx bytes", requestedBytes);
    LogMemoryStatus();
  }
  if (OutOfMemoryHandler handler = g_handler.load()) handler(requestedBytes);
  DefaultOutOfMemoryHandler(requestedBytes);
}

RawAllocator SetRawAllocatorForTesting(RawAllocator allocator) {
  return g_rawAllocator.exchange(allocator ? allocator : &MallocBlock);
}

}  // namespace platform

void* AllocateMemory(size_t size) {
  // malloc(0) may answer null; every caller expects a block it can free.
  void* block = platform::g_rawAllocator.load(std::memory_order_relaxed)(size ? size : 1);
  if (!block) platform::ReportOutOfMemory(size);
  return block;
}

void FreeMemory(void* block) { std::free(block); }

namespace {
void* AllocateAligned(size_t size, std::align_val_t alignment) {
  size_t align = static_cast<size_t>(alignment);
  if (align < sizeof(void*)) align = sizeof(void*);
  void* block = nullptr;
  if (::posix_memalign(&block, align, size ? size : 1) != 0 || !block) platform::ReportOutOfMemory(size);
  return block;
}
}  // namespace

void* operator new(std::size_t size) { return AllocateMemory(size); }
void* operator new[](std::size_t size) { return AllocateMemory(size); }
void* operator new(std::size_t size, std::align_val_t alignment) { return AllocateAligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return AllocateAligned(size, alignment);
}
// The nothrow forms too: a runtime that brings its own would hand out memory past this allocator,
// and this allocator's callers never see null anyway.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateMemory(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateMemory(size); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}
void operator delete(void* block) noexcept { FreeMemory(block); }
void operator delete[](void* block) noexcept { FreeMemory(block); }
void operator delete(void* block, std::size_t) noexcept { FreeMemory(block); }
void operator delete[](void* block, std::size_t) noexcept { FreeMemory(block); }
void operator delete(void* block, std::align_val_t) noexcept { FreeMemory(block); }
void operator delete[](void* block, std::align_val_t) noexcept { FreeMemory(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { FreeMemory(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { FreeMemory(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { FreeMemory(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { FreeMemory(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { FreeMemory(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { FreeMemory(block); }
