#include "ntfs/NTFSRecordSectorRuns.h"

#include <algorithm>

#include "core/RSData.h"
#include "core/StateIo.h"
#include "storage/ByteReader.h"

using namespace corvale;

namespace {

constexpr uint64_t kStride = CNTFSRecordSectorRun::kSectorsPerRecord;

// Distances are taken in unsigned 64 bits: sectors are never negative here, so a later sector minus
// an earlier one always fits, and so does twice any record count.
uint64_t Distance(int64_t from, int64_t to) {
  return static_cast<uint64_t>(to) - static_cast<uint64_t>(from);
}

}  // namespace

bool CNTFSRecordSectorRun::TryExtend(int64_t sector) {
  if (firstSector < 0 || count < 0 || sector < firstSector) return false;
  if (Distance(firstSector, sector) != kStride * static_cast<uint64_t>(count)) return false;
  ++count;
  return true;
}

int64_t CNTFSRecordSectorRun::GetLastSector() const {
  if (firstSector < 0 || count <= 0) return -1;
  return firstSector + kSectorsPerRecord * (count - 1);
}

bool CNTFSRecordSectorRun::HoldsRecordAt(int64_t sector) const {
  if (firstSector < 0 || count <= 0 || sector < firstSector) return false;
  const uint64_t d = Distance(firstSector, sector);
  return d % kStride == 0 && d / kStride < static_cast<uint64_t>(count);
}

bool CNTFSRecordSectorRunList::Add(int64_t sector) {
  if (sector < 0) return false;
  // The common case: the scan goes up the disk.
  if (m_runs.empty() || sector > m_runs.back().GetLastSector()) {
    if (m_runs.empty() || !m_runs.back().TryExtend(sector)) m_runs.push_back({sector, 1});
    ++m_records;
    return true;
  }

  // Out of order. `next` is the first run starting after the sector; the run before it (if any)
  // is the only one whose records may surround the sector.
  auto next =
      std::upper_bound(m_runs.begin(), m_runs.end(), sector,
                       [](int64_t s, const CNTFSRecordSectorRun& run) { return s < run.firstSector; });
  if (next != m_runs.begin()) {
    auto run = std::prev(next);
    if (sector <= run->GetLastSector()) {
      const uint64_t d = Distance(run->firstSector, sector);
      if (d % kStride == 0) return false;  // held already
      // Between two of the run's records: the records before the sector stay, the sector becomes a
      // run of its own, and the records after it a third run.
      const int64_t before = static_cast<int64_t>(d / kStride) + 1;
      const CNTFSRecordSectorRun tail{run->firstSector + CNTFSRecordSectorRun::kSectorsPerRecord * before,
                                      run->count - before};
      run->count = before;
      const size_t at = static_cast<size_t>(run - m_runs.begin()) + 1;
      m_runs.insert(m_runs.begin() + static_cast<std::ptrdiff_t>(at), {{sector, 1}, tail});
      ++m_records;
      return true;
    }
    if (run->TryExtend(sector)) {
      // The sector may close the gap to the next run.
      if (next != m_runs.end() && Distance(sector, next->firstSector) == kStride) {
        run->count += next->count;
        m_runs.erase(next);
      }
      ++m_records;
      return true;
    }
  }
  if (next != m_runs.end() && Distance(sector, next->firstSector) == kStride) {
    next->firstSector = sector;
    ++next->count;
  } else {
    m_runs.insert(next, {sector, 1});
  }
  ++m_records;
  return true;
}

bool CNTFSRecordSectorRunList::FindFirstRecordAtOrAfter(int64_t sector, size_t& runIndex,
                                                        int64_t& recordSector) const {
  // The first run whose last record is at or after the sector.
  auto run = std::lower_bound(m_runs.begin(), m_runs.end(), sector,
                              [](const CNTFSRecordSectorRun& r, int64_t s) { return r.GetLastSector() < s; });
  if (run == m_runs.end()) return false;
  runIndex = static_cast<size_t>(run - m_runs.begin());
  if (sector <= run->firstSector) {
    recordSector = run->firstSector;
  } else {
    const uint64_t d = Distance(run->firstSector, sector);
    recordSector = run->firstSector + static_cast<int64_t>((d + kStride - 1) / kStride * kStride);
  }
  return true;
}

bool CNTFSRecordSectorRunList::Contains(int64_t sector) const {
  size_t index;
  int64_t found;
  return sector >= 0 && FindFirstRecordAtOrAfter(sector, index, found) && found == sector;
}

void CNTFSRecordSectorRunList::Clear() {
  m_runs.clear();
  m_records = 0;
}

void CNTFSRecordSectorRunList::Save(IRSData& writer) const {
  StateRecordWriter record(writer);
  record.U64(m_runs.size());
  for (const CNTFSRecordSectorRun& run : m_runs)
    record.U64(static_cast<uint64_t>(run.firstSector)).U64(static_cast<uint64_t>(run.count));
  record.Flush();
}

void CNTFSRecordSectorRunList::Load(IRSData& reader) {
  const uint64_t count = ReadU64(reader);
  std::vector<CNTFSRecordSectorRun> runs;
  uint64_t records = 0;
  int64_t previousLast = -1;
  for (uint64_t i = 0; i < count; ++i) {
    uint8_t bytes[16];
    ReadExact(reader, bytes, sizeof(bytes));
    const ByteReader in(bytes, sizeof(bytes));
    const CNTFSRecordSectorRun run{static_cast<int64_t>(in.u64(0)), static_cast<int64_t>(in.u64(8))};
    // The last record must start at a sector that fits: first + 2 x (count - 1) <= 2^63 - 1.
    if (run.firstSector < 0 || run.count < 1 ||
        static_cast<uint64_t>(run.count - 1) >
            (static_cast<uint64_t>(INT64_MAX - run.firstSector)) / kStride ||
        run.firstSector <= previousLast)
      ThrowStateError(RS_ERROR_BAD_DATA);
    previousLast = run.GetLastSector();
    records += static_cast<uint64_t>(run.count);
    runs.push_back(run);
  }
  m_runs = std::move(runs);
  m_records = records;
}
