#include "storage/BufferStorageDevice.h"

#include <cstring>

#include "storage/CheckedMath.h"

bool CBufferStorageDevice::Init(IStorageDevice* underlying, uint64_t windowStart, int32_t sectorSize,
                                uint32_t sectorsPerBlock, uint32_t blockCount) {
  m_initialised = false;
  m_ring.Reset(0);
  m_underlying = underlying;
  m_windowStart = windowStart;
  m_sectorSize = sectorSize;
  m_sectorsPerBlock = sectorsPerBlock;
  m_blockCount = blockCount;
  m_buffered = 0;
  m_writePosition = 0;
  m_begun = false;
  m_sectorBytes = static_cast<uint64_t>(GetSectorSize());

  // The ring index is taken modulo the capacity, so an empty ring would divide by zero.
  auto capacity = corvale::checkedMul(sectorsPerBlock, blockCount);
  if (!capacity || *capacity == 0 || *capacity > UINT32_MAX) {
    m_capacity = 0;
    return false;
  }
  auto bytes = corvale::checkedMul(*capacity, m_sectorBytes);
  if (!bytes || *bytes > SIZE_MAX) {
    m_capacity = 0;
    return false;
  }
  m_capacity = static_cast<uint32_t>(*capacity);
  // Not zeroed: the ring answers only for sectors pushed into it.
  m_ring.Reset(static_cast<size_t>(*bytes));
  m_initialised = true;
  return true;
}

void CBufferStorageDevice::PushBlock(const void* block) {
  if (!m_initialised) return;
  m_begun = false;
  std::memcpy(RingSector(m_writePosition), block, m_sectorsPerBlock * m_sectorBytes);
  m_writePosition =
      static_cast<uint32_t>((static_cast<uint64_t>(m_writePosition) + m_sectorsPerBlock) % m_capacity);
  if (m_buffered < m_capacity) {
    m_buffered += m_sectorsPerBlock;
  } else {
    m_windowStart += m_sectorsPerBlock;
  }
}

void CBufferStorageDevice::PushBlock(uint64_t firstSector, const void* block) {
  if (!m_initialised) return;
  if (!FollowsOn(firstSector)) {
    m_windowStart = firstSector;
    m_buffered = 0;
    m_writePosition = 0;
  }
  PushBlock(block);
}

uint8_t* CBufferStorageDevice::BeginBlock(uint64_t firstSector) {
  if (!m_initialised) return nullptr;
  // A block begun before and never committed left its storage out of the ring already: it
  // follows on from what the ring still holds, or starts a new window, like any other block.
  if (!FollowsOn(firstSector)) {
    m_windowStart = firstSector;
    m_buffered = 0;
    m_writePosition = 0;
  } else if (m_buffered == m_capacity) {
    // The oldest block's storage is about to be overwritten: it leaves the ring now.
    m_windowStart += m_sectorsPerBlock;
    m_buffered -= m_sectorsPerBlock;
  }
  m_begun = true;
  return RingSector(m_writePosition);
}

void CBufferStorageDevice::CommitBlock(uint64_t firstSector) {
  // Only the block just begun can be committed; anything else would claim storage never written.
  if (!m_initialised || !m_begun) return;
  m_begun = false;
  if (firstSector < m_windowStart || firstSector - m_windowStart != m_buffered) return;
  m_writePosition =
      static_cast<uint32_t>((static_cast<uint64_t>(m_writePosition) + m_sectorsPerBlock) % m_capacity);
  m_buffered += m_sectorsPerBlock;
}

bool CBufferStorageDevice::ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) {
  if (!m_initialised) return false;
  bool held = m_buffered > 0 && firstSector >= m_windowStart && count <= m_buffered &&
              firstSector - m_windowStart <= m_buffered - count;
  if (!held) return m_underlying ? m_underlying->ReadSectors(buffer, firstSector, count) : false;
  if (count == 0) return true;

  // The oldest sector held sits `buffered` sectors behind the write position; adding the capacity
  // first keeps the difference from wrapping below zero.
  uint64_t m =
      (m_writePosition + static_cast<uint64_t>(m_capacity) - m_buffered + (firstSector - m_windowStart)) %
      m_capacity;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  // A range that runs past the ring's end continues at index 0.
  uint64_t head = count;
  if (m + count > m_capacity) head = m_capacity - m;
  std::memcpy(out, RingSector(m), head * m_sectorBytes);
  if (head < count) std::memcpy(out + head * m_sectorBytes, RingSector(0), (count - head) * m_sectorBytes);
  return true;
}
