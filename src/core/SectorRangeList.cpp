#include "core/SectorRangeList.h"

CSectorRangeList::CSectorRangeList(int64_t sectorCount) {
  if (sectorCount > 0) m_ranges.emplace(0, sectorCount);
}

CSectorRangeList::Map::const_iterator CSectorRangeList::FindHolder(const SectorRange& range) const {
  if (range.count <= 0 || range.first < 0) return m_ranges.end();
  // The entries are disjoint, so only the last one starting at or before the range can hold it.
  auto it = m_ranges.upper_bound(range.first);
  if (it == m_ranges.begin()) return m_ranges.end();
  --it;
  // Entries never reach past INT64_MAX, so entry end - range first cannot overflow; comparing the
  // count against it keeps range first + count from overflowing.
  const int64_t entryEnd = it->first + it->second;
  if (range.first >= entryEnd || range.count > entryEnd - range.first) return m_ranges.end();
  return it;
}

bool CSectorRangeList::Contains(const SectorRange& range) const {
  return FindHolder(range) != m_ranges.end();
}

void CSectorRangeList::Remove(const SectorRange& range) {
  auto it = FindHolder(range);
  if (it == m_ranges.end()) return;
  const int64_t entryFirst = it->first;
  const int64_t entryEnd = it->first + it->second;
  const int64_t rangeEnd = range.first + range.count;
  m_ranges.erase(it);
  if (range.first > entryFirst) m_ranges.emplace(entryFirst, range.first - entryFirst);
  if (rangeEnd < entryEnd) m_ranges.emplace(rangeEnd, entryEnd - rangeEnd);
}

std::vector<SectorRange> CSectorRangeList::Entries() const {
  std::vector<SectorRange> out;
  out.reserve(m_ranges.size());
  for (const auto& [first, count] : m_ranges) out.push_back({first, count});
  return out;
}
