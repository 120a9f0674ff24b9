#pragma once
// What the whole-device scan gathers about one system file of NTFS ($LogFile, $AttrDef, $UpCase):
// the FILE records of that file it met, and the sectors whose contents are that file's (a sector
// equal to a piece of the standard table, a $LogFile page). At the end of the scan each candidate
// partition asks which record is its own and how many of that file's sectors, placed where the
// candidate's geometry puts them, were seen: a count that only the right start and cluster size
// make large.
//
// Both lists grow with what the disk holds; lookups are logarithmic, so that a scan with thousands
// of candidates and millions of content sectors counts each candidate's matches run by run, not
// sector by sector.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ntfs/NTFSScanEvidence.h"

class CNTFSFileRecordView;
class CSearchedNTFSPartitionInfo;

class CNTFSSystemFileCollector {
 public:
  static constexpr size_t kMaxRecords = 500000;
  // A disk filled with copies of a table could otherwise grow the list without end.
  static constexpr size_t kMaxContentSectors = size_t{1} << 22;

  // `recordNumber`: the file's fixed place in the MFT (2, 4 or 10).
  explicit CNTFSSystemFileCollector(int64_t recordNumber) : m_recordNumber(recordNumber) {}

  int64_t GetRecordNumber() const { return m_recordNumber; }

  // Keeps the file's record seen at `sector` (the record must give its data runs, see
  // CNTFSFoundFileRecord). Null when refused, when a record is held at that sector already, or when
  // kMaxRecords are kept.
  const CNTFSFoundFileRecord* AddRecord(const CNTFSFileRecordView& view, int64_t sector, uint32_t sectorSize);
  // Notes that `sector` holds a piece of the file's contents. Sectors may come in any order; each
  // is counted once.
  void AddContentSector(int64_t sector);

  // What one candidate gets: its record's sector (-1 when none) and the match count.
  struct Finding {
    int64_t sector = -1;
    int64_t match = 0;
  };
  // The candidate's record is the one kept at the file's fixed place after the candidate's $MFT
  // record (record number x sectors per record on) when the $MFT sector is known, else the first
  // kept record inside the candidate's sectors. The match is the number of content sectors inside
  // the runs of that record's data, each run placed at candidate start + cluster x sectors per
  // cluster. Sorts the content sectors on first use after a change.
  Finding Examine(const CSearchedNTFSPartitionInfo& candidate);

  const CNTFSFoundFileRecordMap& Records() const { return m_records; }
  size_t GetContentSectorCount();
  void Clear();

 private:
  void Sort();
  int64_t CountInRange(int64_t first, int64_t end) const;

  int64_t m_recordNumber;
  CNTFSFoundFileRecordMap m_records;
  std::vector<int64_t> m_contentSectors;
  bool m_sorted = true;
};
