#include "fat/FATDirSectorRecord.h"

#include <algorithm>

void CFATDirSectorSet::Add(const FATDirSectorRecord& record) {
  if (m_records.empty() || m_records.back().sector < record.sector) {
    m_records.push_back(record);
    return;
  }
  auto at = std::lower_bound(m_records.begin(), m_records.end(), record.sector,
                             [](const FATDirSectorRecord& r, uint64_t s) { return r.sector < s; });
  if (at != m_records.end() && at->sector == record.sector) {
    *at = record;
  } else {
    m_records.insert(at, record);
  }
}

void CFATDirSectorSet::Assign(std::vector<FATDirSectorRecord> records) {
  std::stable_sort(
      records.begin(), records.end(),
      [](const FATDirSectorRecord& a, const FATDirSectorRecord& b) { return a.sector < b.sector; });
  std::vector<FATDirSectorRecord> kept;
  kept.reserve(records.size());
  for (const FATDirSectorRecord& r : records) {
    if (!kept.empty() && kept.back().sector == r.sector) {
      kept.back() = r;
    } else {
      kept.push_back(r);
    }
  }
  m_records = std::move(kept);
}
