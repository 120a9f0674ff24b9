#pragma once
// The sectors where the whole-device scan saw FILE records, kept as runs of records that follow one
// another two sectors apart (1024-byte records in 512-byte sectors, the layout the scan rebuilds).
// A contiguous MFT of a million records is one run; the directory build of a rebuilt partition reads
// the records back through these runs.
//
// Saved form of a run (little-endian): first sector 8, record count 8. A list: 8-byte run count,
// then each run.

#include <cstddef>
#include <cstdint>
#include <vector>

class IRSData;

struct CNTFSRecordSectorRun {
  static constexpr int64_t kSectorsPerRecord = 2;

  int64_t firstSector = -1;
  int64_t count = 0;  // records, from firstSector on, kSectorsPerRecord apart

  // When `sector` is where the next record of the run would start (first sector + count x 2), the
  // run takes it: count grows by one and the answer is true. Otherwise false, run unchanged.
  bool TryExtend(int64_t sector);
  // The first sector of the run's last record; -1 for an empty run.
  int64_t GetLastSector() const;
  // Whether a record of the run starts at `sector`.
  bool HoldsRecordAt(int64_t sector) const;
  bool operator==(const CNTFSRecordSectorRun&) const = default;
};

// Runs in ascending order: every run holds at least one record, and each starts after the last
// record of the one before it, so each record sector is held once and a sector is found by binary
// search.
class CNTFSRecordSectorRunList {
 public:
  // Adds the record sector. The scan meets sectors in ascending order, which costs one comparison
  // with the last run; a sector met out of order (a record completed across a block end) is put in
  // its place, splitting a run when it falls between two of its records. False when the sector is
  // held already or negative.
  bool Add(int64_t sector);
  bool Contains(int64_t sector) const;
  // The first record sector at or after `sector`: the index of its run and the sector; false when
  // there is none.
  bool FindFirstRecordAtOrAfter(int64_t sector, size_t& runIndex, int64_t& recordSector) const;

  const std::vector<CNTFSRecordSectorRun>& Runs() const { return m_runs; }
  size_t GetRunCount() const { return m_runs.size(); }
  // Records held in all runs.
  uint64_t GetRecordCount() const { return m_records; }
  void Clear();

  void Save(IRSData& writer) const;
  // Reads what Save wrote, replacing the list only when the whole list was read. A cut list is
  // RS_ERROR_SHORT_READ; runs that are empty, start before sector 0, end past 2^63 or are not in
  // ascending order (a list this class could not have written) are RS_ERROR_BAD_DATA. Runs are
  // read one at a time, so a forged count ends at the end of the stream.
  void Load(IRSData& reader);

 private:
  std::vector<CNTFSRecordSectorRun> m_runs;
  uint64_t m_records = 0;
};
