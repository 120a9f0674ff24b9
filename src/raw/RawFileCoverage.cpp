#include "raw/RawFileCoverage.h"

#include <algorithm>

#include "storage/CheckedMath.h"

namespace corvale {

bool CRawFileCoverage::Take(uint64_t startSector, uint64_t size) {
  const uint64_t sectors = size / m_sectorSize + (size % m_sectorSize != 0 ? 1 : 0);
  const uint64_t end = checkedAdd(startSector, sectors).value_or(UINT64_MAX);
  if (startSector >= m_end) {
    m_room = checkedAdd(m_room, size).value_or(UINT64_MAX);
  } else if (size <= m_room) {
    m_room -= size;
  } else {
    m_room = 0;
    return false;
  }
  m_end = std::max(m_end, end);
  return true;
}

}  // namespace corvale
