#include "storage/MemoryDevice.h"

#include <cstring>

MemoryDevice::MemoryDevice(std::vector<uint8_t> bytes, int32_t sectorSize)
    : m_bytes(std::move(bytes)), m_size(sectorSize > 0 ? sectorSize : 512) {}

int64_t MemoryDevice::GetSectorCount() { return static_cast<int64_t>(m_bytes.size() / m_size); }

void MemoryDevice::SetBadSector(uint64_t sector) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bad.insert(sector);
}

std::vector<std::pair<uint64_t, uint64_t>> MemoryDevice::ReadLog() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_log;
}

bool MemoryDevice::ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) {
  m_reads++;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.emplace_back(firstSector, count);
    auto it = m_bad.lower_bound(firstSector);
    if (it != m_bad.end() && *it - firstSector < count) return false;
  }
  uint64_t total = static_cast<uint64_t>(GetSectorCount());
  if (firstSector > total || count > total - firstSector) return false;
  if (count) std::memcpy(buffer, m_bytes.data() + firstSector * m_size, count * m_size);
  return true;
}
