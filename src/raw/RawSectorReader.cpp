#include "raw/RawSectorReader.h"

#include <algorithm>

#include "platform/RecoveryContext.h"
#include "storage/CheckedMath.h"
#include "storage/IStorageDevice.h"

CRawSectorReader::CRawSectorReader(IStorageDevice* device, uint64_t startSector, uint64_t deviceSectors)
    : m_device(device), m_startSector(startSector) {
  if (m_device) {
    const int32_t size = m_device->GetSectorSize();
    if (size > 0) m_sectorSize = static_cast<uint32_t>(size);
    if (deviceSectors == 0) {
      const int64_t count = m_device->GetSectorCount();
      deviceSectors = count > 0 ? static_cast<uint64_t>(count) : 0;
    }
    m_deviceSectors = deviceSectors;
  }
  m_windowBytes = kWindowSectors * m_sectorSize;
  if (m_startSector < m_deviceSectors) {
    m_bytesToEnd = corvale::checkedMul(m_deviceSectors - m_startSector, m_sectorSize).value_or(UINT64_MAX);
  }
}

bool CRawSectorReader::Load(uint64_t firstSector, uint64_t sectors) {
  m_held = false;
  const uint64_t available = m_deviceSectors - m_startSector;  // only called while start < device end
  if (firstSector >= available) return false;
  sectors = std::min(sectors, available - firstSector);
  const uint64_t bytes = sectors * m_sectorSize;
  if (m_capacity < bytes) {
    // Not zeroed: only bytes a read brought are ever answered.
    m_buffer.reset(new uint8_t[static_cast<size_t>(bytes)]);
    m_capacity = bytes;
  }
  ++m_reads;
  if (!m_device->ReadSectors(m_buffer.get(), m_startSector + firstSector, sectors)) return false;
  m_held = true;
  m_heldStart = firstSector * m_sectorSize;
  m_heldBytes = bytes;
  return true;
}

corvale::ByteReader CRawSectorReader::ReadAt(uint64_t byteOffset) {
  if (byteOffset >= m_bytesToEnd || !m_device) return {};
  const uint64_t window = byteOffset / m_windowBytes;
  if (!m_held || m_heldWindow != window) {
    if (!Load(window * kWindowSectors, kWindowSectors + 1)) return {};
    m_heldWindow = window;
  }
  if (byteOffset - m_heldStart >= m_heldBytes) return {};
  return corvale::ByteReader(m_buffer.get() + (byteOffset - m_heldStart),
                             static_cast<size_t>(m_heldBytes - (byteOffset - m_heldStart)));
}

corvale::ByteReader CRawSectorReader::Read(uint64_t byteOffset, uint64_t length) {
  if (!m_device || length == 0 || length > kMaxSpanBytes) return {};
  if (!corvale::rangeFits(byteOffset, length, m_bytesToEnd)) return {};
  auto held = [&]() -> corvale::ByteReader {
    if (!m_held || byteOffset < m_heldStart) return {};
    if (!corvale::rangeFits(byteOffset - m_heldStart, length, m_heldBytes)) return {};
    return corvale::ByteReader(m_buffer.get() + (byteOffset - m_heldStart), static_cast<size_t>(length));
  };
  if (auto view = held(); view.size() == length) return view;

  // The window that holds the offset serves the request when the range ends inside the data that
  // window's read brings; otherwise the read starts at the offset's own sector.
  const uint64_t window = byteOffset / m_windowBytes;
  const uint64_t windowEnd = window * m_windowBytes + (kWindowSectors + 1) * m_sectorSize;
  if (byteOffset + length <= windowEnd) {
    if (!Load(window * kWindowSectors, kWindowSectors + 1)) return {};
    m_heldWindow = window;
  } else {
    const uint64_t first = byteOffset / m_sectorSize;
    const uint64_t last = (byteOffset + length - 1) / m_sectorSize;
    if (!Load(first, std::max<uint64_t>(last - first + 1, kWindowSectors + 1))) return {};
    m_heldWindow = UINT64_MAX;  // not a window: the next ReadAt reads its own
  }
  return held();
}

namespace corvale {

namespace {
thread_local RawWalkPumpHook t_pumpHook = nullptr;
}

void SetRawWalkPumpHook(RawWalkPumpHook hook) { t_pumpHook = hook; }

void RawWalkPump::Step() {
  if (m_steps++ % 10 == 0 && t_pumpHook) t_pumpHook();
}

void RawWalkPump::Steps(uint64_t n) {
  if (n == 0) return;
  // Whether a multiple of 10 lies among steps m_steps .. m_steps + n - 1.
  const bool due = (m_steps + n + 9) / 10 != (m_steps + 9) / 10;
  m_steps += n;
  if (due && t_pumpHook) t_pumpHook();
}

uint64_t RawWalkLimit() {
  const uint64_t limit = static_cast<uint64_t>(GetRecoveryContext().MaxRawFileSize);
  return (limit >> 32) == 0 ? limit : UINT64_MAX;
}

uint64_t CapRawFileSize(uint64_t size, uint64_t bytesToDeviceEnd) {
  size = std::min(size, bytesToDeviceEnd);
  const int64_t limit = GetRecoveryContext().MaxRawFileSize;
  if (limit > 0) size = std::min(size, static_cast<uint64_t>(limit));
  return size;
}

}  // namespace corvale
