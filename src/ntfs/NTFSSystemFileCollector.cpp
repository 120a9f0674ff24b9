#include "ntfs/NTFSSystemFileCollector.h"

#include <algorithm>
#include <memory>

#include "ntfs/SearchedNTFSPartitionInfo.h"

const CNTFSFoundFileRecord* CNTFSSystemFileCollector::AddRecord(const CNTFSFileRecordView& view,
                                                                int64_t sector, uint32_t sectorSize) {
  if (m_records.GetCount() >= kMaxRecords || m_records.Find(sector)) return nullptr;
  auto record = CreateNTFSFoundFileRecord(view, sector, sectorSize);
  if (!record) return nullptr;
  const CNTFSFoundFileRecord* kept = record.get();
  return m_records.Add(std::move(record)) ? kept : nullptr;
}

void CNTFSSystemFileCollector::AddContentSector(int64_t sector) {
  if (sector < 0 || m_contentSectors.size() >= kMaxContentSectors) return;
  if (!m_contentSectors.empty() && sector <= m_contentSectors.back()) m_sorted = false;
  m_contentSectors.push_back(sector);
}

void CNTFSSystemFileCollector::Sort() {
  if (m_sorted) return;
  std::sort(m_contentSectors.begin(), m_contentSectors.end());
  m_contentSectors.erase(std::unique(m_contentSectors.begin(), m_contentSectors.end()),
                         m_contentSectors.end());
  m_sorted = true;
}

size_t CNTFSSystemFileCollector::GetContentSectorCount() {
  Sort();
  return m_contentSectors.size();
}

int64_t CNTFSSystemFileCollector::CountInRange(int64_t first, int64_t end) const {
  const auto from = std::lower_bound(m_contentSectors.begin(), m_contentSectors.end(), first);
  const auto to = std::lower_bound(from, m_contentSectors.end(), end);
  return static_cast<int64_t>(to - from);
}

CNTFSSystemFileCollector::Finding CNTFSSystemFileCollector::Examine(
    const CSearchedNTFSPartitionInfo& candidate) {
  Sort();
  Finding finding;
  const int64_t start = candidate.GetStartSector();
  const int64_t c = candidate.GetSectorsPerCluster();
  const CNTFSFoundFileRecord* record = nullptr;
  const int64_t mft = candidate.GetMftSector();
  int64_t at = 0;
  if (mft >= 0) {
    if (!__builtin_mul_overflow(m_recordNumber, static_cast<int64_t>(candidate.GetSectorsPerFileRecord()),
                                &at) &&
        !__builtin_add_overflow(at, mft, &at))
      record = m_records.Find(at);
  } else if (candidate.GetSectorCount() > 0) {
    record = m_records.FindFirstInRange(start, candidate.GetSectorCount());
  }
  if (!record) return finding;
  finding.sector = record->GetSector();
  if (c <= 0 || start < 0) return finding;
  for (const NTFSRun& run : record->GetRunList().Runs()) {
    if (run.lcn < 0 || run.length <= 0) continue;
    int64_t first, length, end;
    // Runs from a damaged record may name clusters no device has: such a run matches nothing.
    if (__builtin_mul_overflow(run.lcn, c, &first) || __builtin_add_overflow(first, start, &first) ||
        __builtin_mul_overflow(run.length, c, &length) || __builtin_add_overflow(first, length, &end))
      continue;
    finding.match += CountInRange(first, end);
  }
  return finding;
}

void CNTFSSystemFileCollector::Clear() {
  m_records.Clear();
  std::vector<int64_t>().swap(m_contentSectors);
  m_sorted = true;
}
