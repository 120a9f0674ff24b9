#pragma once
// One allocator for all heap memory of the program; it never hands its caller a null pointer.
//
// AllocateMemory gets the block from malloc. When malloc fails it logs the failure and the memory
// situation, then calls the process's out-of-memory handler, which never returns: nothing that asked
// for the memory runs on, and no catch-all anywhere can swallow the failure, because no exception is
// thrown. The global operators new and delete (single, array, sized, aligned) are replaced by ones
// over these two functions, the nothrow forms included (they never answer null either).
//
// The default handler ends the process with exit status kOutOfMemoryExitCode, the status the
// launcher takes as the memory-crash path (it restarts the program). The user interface installs a
// handler that first tells the user what to change, then ends the same way.
//
// Linking: the replacement operators live in the same object as AllocateMemory, and the platform
// library makes every program that links it ask the linker for operator new (--undefined=_Znwm), so
// that object is linked into every program even when nothing else calls AllocateMemory directly.

#include <cstddef>
#include <cstdint>

// The block of `size` bytes (not zeroed). Never returns null.
void* AllocateMemory(size_t size);
void FreeMemory(void* block);

namespace platform {

// Exit status of a process ended by the default out-of-memory handler.
constexpr int kOutOfMemoryExitCode = 86;

// Called with the size that could not be allocated. It must not return; if it does, the default
// handler ends the process. It runs at most once per process: a second thread that runs out of
// memory meanwhile waits for the first one to end the process, and an allocation that fails inside
// the handler itself goes straight to the default handler.
using OutOfMemoryHandler = void (*)(size_t requestedBytes);

// Installs `handler` (null: the default one); returns the previous handler.
OutOfMemoryHandler SetOutOfMemoryHandler(OutOfMemoryHandler handler);

// Ends the process with kOutOfMemoryExitCode, without running static destructors (which might
// allocate).
[[noreturn]] void DefaultOutOfMemoryHandler(size_t requestedBytes);

// The failure path of AllocateMemory: logs "Failed to alloc 0x%08x bytes" and the memory status,
// then calls the handler. For code that learns of exhausted memory another way (a library's own
// allocator failing).
[[noreturn]] void ReportOutOfMemory(size_t requestedBytes);

// The memory situation, in bytes. "Page files" are the swap areas.
struct MemoryStatus {
  uint64_t totalPhysical = 0;
  uint64_t availablePhysical = 0;
  uint64_t totalPageFiles = 0;
  uint64_t availablePageFiles = 0;
};

// Reads /proc/meminfo (or `meminfoPath`): MemTotal, MemAvailable (MemFree on kernels without it),
// SwapTotal, SwapFree. Allocates nothing, so it works when memory has run out.
bool QueryMemoryStatus(MemoryStatus* out, const char* meminfoPath = "/proc/meminfo");
bool ParseMemInfo(const char* text, size_t length, MemoryStatus* out);

// Logs "Memory status:" and the two lines of totals in MiB; first "Failed to query memory status."
// when the status cannot be read (the totals are then 0).
void LogMemoryStatus(const char* meminfoPath = "/proc/meminfo");

// The function AllocateMemory takes memory from; tests put in one that fails. Returns the previous.
using RawAllocator = void* (*)(size_t);
RawAllocator SetRawAllocatorForTesting(RawAllocator allocator);

}  // namespace platform
