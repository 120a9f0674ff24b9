#include "core/ClusterUseBitMap.h"

bool CClusterUseBitMap::IsClusterUsed(uint64_t sector) const {
  // Sectors per cluster is read off the disk: a 0 there must not reach the division.
  if (!IsValid()) return false;
  if (sector < m_info.firstSector) return true;
  const uint64_t cluster = (sector - m_info.firstSector) / m_info.sectorsPerCluster;
  if (cluster >= m_info.clusterCount || cluster >= m_info.bits->size()) return true;
  return (*m_info.bits)[cluster];
}
