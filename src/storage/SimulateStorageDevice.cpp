#include "storage/SimulateStorageDevice.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr uint64_t kPiece = 512;
}

// Kept beside the view it creates, so the interface itself needs to know nothing of it.
IStorageDevice* IStorageDevice::GetDeviceWith512ByteSectors() {
  int32_t size = GetSectorSize();
  // A device that does not know its sector size yet gives a view nothing to cut.
  if (size == 512 || size <= 0) return this;
  if (!m_view512) m_view512 = std::make_unique<CSimulateStorageDevice>(this);
  return m_view512.get();
}

CSimulateStorageDevice::CSimulateStorageDevice(IStorageDevice* inner)
    : m_inner(inner), m_ratio(1), m_innerSectorSize(0) {
  if (m_inner) {
    m_innerSectorSize = m_inner->GetSectorSize();
    // An inner size of 0 (device not open) would make every division by the ratio fault.
    m_ratio = std::max<int32_t>(1, m_innerSectorSize / 512);
  }
  m_sector.assign(std::max<size_t>(kPiece * m_ratio, m_innerSectorSize > 0 ? m_innerSectorSize : 0), 0);
}

int64_t CSimulateStorageDevice::GetSectorCount() {
  if (!m_inner) return 0;
  int64_t inner = m_inner->GetSectorCount();
  if (inner <= 0) return 0;
  int64_t count;
  if (__builtin_mul_overflow(inner, static_cast<int64_t>(m_ratio), &count)) return INT64_MAX;
  return count;
}

bool CSimulateStorageDevice::ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) {
  if (count == 0) return true;
  // The held buffer was sized for the inner sectors the view was built over; a device that now
  // reports another size would write past it.
  if (!m_inner || m_innerSectorSize <= 0 || m_inner->GetSectorSize() != m_innerSectorSize) return false;

  const uint64_t ratio = static_cast<uint64_t>(m_ratio);
  const uint64_t innerBytes = ratio * kPiece;
  // Whole inner sectors can land in the caller's buffer only when they are exactly ratio pieces.
  const bool wholeSectorsFit = static_cast<uint64_t>(m_innerSectorSize) == innerBytes;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  // After a failed range read the same sectors are read one by one, up to this 512-byte sector.
  uint64_t singleUntil = 0;

  while (count > 0) {
    uint64_t inner = firstSector / ratio;
    if (m_held > 0 && inner == m_held - 1) {
      std::memcpy(out, m_sector.data() + (firstSector % ratio) * kPiece, kPiece);
      ++firstSector;
      --count;
      out += kPiece;
      continue;
    }

    if (wholeSectorsFit && firstSector % ratio == 0 && count >= ratio && firstSector >= singleUntil) {
      uint64_t whole = count / ratio;
      if (m_inner->ReadSectors(out, inner, whole)) {
        // The last of them becomes the sector held, as if the pieces had been read one at a time.
        std::memcpy(m_sector.data(), out + (whole - 1) * innerBytes, innerBytes);
        m_held = inner + whole;
        firstSector += whole * ratio;
        count -= whole * ratio;
        out += whole * innerBytes;
        continue;
      }
      // Repeated sector by sector, so the sectors before the bad one still reach the caller.
      singleUntil = firstSector + whole * ratio;
    }

    if (!m_inner->ReadSectors(m_sector.data(), inner, 1)) {
      // A failed read may have left part of the buffer written, so it no longer holds any sector.
      m_held = 0;
      return false;
    }
    m_held = inner + 1;
  }
  return true;
}
