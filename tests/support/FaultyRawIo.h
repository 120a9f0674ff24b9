#pragma once
// A raw-I/O double that serves sources from memory or from a file and misbehaves on request:
// bad sectors answering a medium error, short answers, "no medium" a number of times, refused
// opens, and scripted answers to the geometry, length, READ CAPACITY and storage queries. Every
// read is logged as (byte offset, length). Devices opened twice from one path share one script,
// so a reopen sees the same faults and counters.

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/RawIo.h"

namespace corvale::test {

struct FaultySource {
  // What is served: `bytes`, or the file at `file` when it is set.
  std::vector<uint8_t> bytes;
  std::string file;
  // When nonzero (and no file is served), the source is this long; bytes past `bytes` read as
  // zeros. Lets a test have a large disk without holding it in memory.
  uint64_t virtualSize = 0;

  // Sectors (of `badSectorSize` bytes) whose reads fail with `badErrno`.
  std::set<uint64_t> badSectors;
  uint32_t badSectorSize = 512;
  int badErrno = 5;  // EIO

  // The next reads fail with `notReadyErrno`, this many times.
  int notReadyCount = 0;
  int notReadyErrno = 123;  // ENOMEDIUM

  // Each entry answers one read with at most that many bytes, in order.
  std::deque<size_t> shortAnswers;

  // Scripted query answers; nothing scripted means the query fails (capacity: answers 0).
  std::optional<platform::DriveGeometry> geometry;
  std::optional<uint64_t> lengthBytes;  // defaults to the size served when not set
  bool lengthFails = false;
  uint64_t capacityA = 0;  // READ CAPACITY with addressing 0
  uint64_t capacityB = 0;  // with addressing 1
  std::optional<platform::StorageDescriptor> storage;

  // Opening this source fails with this errno when nonzero.
  int openErrno = 0;

  // Kept by the double.
  std::vector<std::pair<uint64_t, uint64_t>> readLog;  // (byte offset, length)
  int opens = 0;
  int liveHandles = 0;
};

class FaultyRawIo : public platform::IRawIo {
 public:
  FaultyRawIo() = default;
  ~FaultyRawIo() override;

  // Adds (or replaces) the source known under `path` and returns its script for editing.
  FaultySource& Add(const std::string& path, std::vector<uint8_t> bytes = {});
  FaultySource& AddFile(const std::string& path, const std::string& file);
  // Runs `f(source)` under the double's lock (use while devices may be reading).
  template <typename F>
  auto With(const std::string& path, F f) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return f(m_sources.at(path));
  }
  std::vector<std::pair<uint64_t, uint64_t>> ReadLog(const std::string& path);
  void ClearReadLog(const std::string& path);

  std::unique_ptr<platform::IRawDevice> OpenReadOnly(const std::string& path, int* error) override;

 private:
  friend class FaultyRawDevice;
  std::mutex m_mutex;
  std::map<std::string, FaultySource> m_sources;
  int m_nextHandle = 100;
};

// Installs a FaultyRawIo as the current raw I/O for the life of the object.
class ScopedRawIo {
 public:
  explicit ScopedRawIo(platform::IRawIo* io) : m_previous(platform::SetRawIo(io)) {}
  ~ScopedRawIo() { platform::SetRawIo(m_previous); }
  ScopedRawIo(const ScopedRawIo&) = delete;
  ScopedRawIo& operator=(const ScopedRawIo&) = delete;

 private:
  platform::IRawIo* m_previous;
};

}  // namespace corvale::test
