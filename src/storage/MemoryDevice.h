#pragma once
// A sector device over bytes in memory: the device under parser tests and the mutation loops, and a
// stand-in wherever a test needs a device of a given sector size without touching a disk.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

#include "storage/IStorageDevice.h"

class MemoryDevice : public IStorageDevice {
 public:
  explicit MemoryDevice(std::vector<uint8_t> bytes, int32_t sectorSize = 512);

  bool ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) override;
  int64_t GetSectorCount() override;
  int32_t GetSectorSize() override { return m_size; }
  bool Open() override { return true; }
  bool Close() override { return true; }

  // A read touching one of these sectors fails (the buffer is left as it was).
  void SetBadSector(uint64_t sector);
  // Reads made so far, as (first sector, count).
  std::vector<std::pair<uint64_t, uint64_t>> ReadLog() const;
  uint64_t ReadCount() const { return m_reads.load(); }
  std::vector<uint8_t>& Bytes() { return m_bytes; }

 private:
  std::vector<uint8_t> m_bytes;
  int32_t m_size;
  std::set<uint64_t> m_bad;
  mutable std::mutex m_mutex;
  std::vector<std::pair<uint64_t, uint64_t>> m_log;
  std::atomic<uint64_t> m_reads{0};
};
