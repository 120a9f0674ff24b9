#include "storage/BasicPartitionDevice.h"

#include <cstring>

#include "storage/CheckedMath.h"

CBasicPartitionDevice::CBasicPartitionDevice(IStorageDevice* inner, uint64_t firstSector,
                                             uint64_t sectorCount)
    : m_inner(inner), m_firstSector(firstSector), m_sectorCount(sectorCount) {}

int32_t CBasicPartitionDevice::GetSectorSize() { return m_inner ? m_inner->GetSectorSize() : 512; }

bool CBasicPartitionDevice::ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) {
  if (firstSector >= m_sectorCount || count > m_sectorCount) return false;
  // A window taken from a damaged table can sit so high that its sectors have no address.
  auto innerFirst = corvale::checkedAdd(m_firstSector, firstSector);
  if (!m_inner || !innerFirst) return false;

  uint64_t inside = count;
  if (count > m_sectorCount - firstSector) inside = m_sectorCount - firstSector;
  bool ok = m_inner->ReadSectors(buffer, *innerFirst, inside);

  uint64_t sectorSize = static_cast<uint64_t>(m_inner->GetSectorSize() > 0 ? m_inner->GetSectorSize() : 0);
  if (inside < count && sectorSize > 0) {
    std::memset(static_cast<uint8_t*>(buffer) + inside * sectorSize, 0, (count - inside) * sectorSize);
  }
  return ok;
}
