#pragma once
// What the whole-device scan keeps of the FILE records it sees, between blocks and until it
// rebuilds partitions from them: a record's data runs (system files whose data the scan matches),
// a folder's index allocation (paired with the index buffers the scan finds), and a record's data
// size. Each is taken from one record as the scan meets it; every parse is all or nothing.
//
// Records are given as read from the disk (fix-up not applied) or as a view over one. A record
// whose fix-up did not verify is refused: two bytes of each 512-byte stride are not its own and may
// lie inside the run string these records are about.
//
// The holders grow with what is found: one entry per record kept, looked up by sector or by
// directory number in logarithmic time, so a scan of a whole disk with millions of records never
// walks them all for one lookup.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

#include "ntfs/RunList.h"

class CNTFSFileRecordView;

// A FILE record seen by the scan with the runs of its unnamed non-resident $DATA.
class CNTFSFoundFileRecord {
 public:
  // The record must be a FILE record whose fix-up verifies, its sectors per cluster must be
  // inferable from its $DATA (with the device's `sectorSize`), and its unnamed $DATA must give at
  // least one run (the run totals are not compared with the VCN range). Keeps `sector` and the
  // record's log sequence number. False, with the object unchanged, otherwise.
  bool ParseRecord(const uint8_t* buffer, size_t length, int64_t sector, uint32_t sectorSize);
  bool ParseRecord(const CNTFSFileRecordView& view, int64_t sector, uint32_t sectorSize);

  int64_t GetSector() const { return m_sector; }
  const CNTFSRunList& GetRunList() const { return m_runs; }
  // The cluster holding the data's first cluster (VCN 0); -1 when no run holds it.
  int64_t GetFirstLcn() const { return m_runs.VcnToLcn(0); }
  uint64_t GetLogSequenceNumber() const { return m_logSequenceNumber; }
  // 0 until a record was parsed.
  uint8_t GetSectorsPerCluster() const { return m_sectorsPerCluster; }

 private:
  int64_t m_sector = -1;
  CNTFSRunList m_runs;
  uint64_t m_logSequenceNumber = 0;
  uint8_t m_sectorsPerCluster = 0;
};

// A record from `view` at `sector` (ParseRecord), or null.
std::unique_ptr<CNTFSFoundFileRecord> CreateNTFSFoundFileRecord(const CNTFSFileRecordView& view,
                                                                int64_t sector, uint32_t sectorSize);

// Found records by the sector they were seen at, one per sector.
class CNTFSFoundFileRecordMap {
 public:
  // Takes the record; false (and the record dropped) when null or when one is held at its sector
  // already: a sector holds one record, and the first reading of it is kept.
  bool Add(std::unique_ptr<CNTFSFoundFileRecord> record);
  // The record seen at `sector`, or null.
  const CNTFSFoundFileRecord* Find(int64_t sector) const;
  // The record of lowest sector in [first, first + count), or null.
  const CNTFSFoundFileRecord* FindFirstInRange(int64_t first, int64_t count) const;
  size_t GetCount() const { return m_records.size(); }
  void Clear() { m_records.clear(); }
  // In ascending sector order.
  const std::map<int64_t, std::unique_ptr<CNTFSFoundFileRecord>>& Records() const { return m_records; }

 private:
  std::map<int64_t, std::unique_ptr<CNTFSFoundFileRecord>> m_records;
};

// A folder's FILE record with the runs of its $INDEX_ALLOCATION: what places the folder's index
// buffers, so that an index buffer found on the disk tells where the partition holding both starts.
class CNTFSFolderIndexRecord {
 public:
  // Refuses extension records. The directory number is the parent shared by the entries of the
  // $INDEX_ROOT (the directory itself), else the record's own number when its header stores one.
  // The $INDEX_ALLOCATION must be there and its runs must decode; the sectors per cluster are its
  // initialized size / run total / `sectorSize`, rounded up to a cluster size, and must not be 0.
  // The root directory (5) and a folder whose number is not known are refused: the root's number
  // holds in every partition and so places none. False, with the object unchanged, otherwise.
  bool ParseRecord(const uint8_t* buffer, size_t length, int64_t sector, uint32_t sectorSize);
  bool ParseRecord(const CNTFSFileRecordView& view, int64_t sector, uint32_t sectorSize);

  int64_t GetSector() const { return m_sector; }
  const CNTFSRunList& GetRunList() const { return m_runs; }
  uint64_t GetLogSequenceNumber() const { return m_logSequenceNumber; }
  // The folder's record number; -1 when not known.
  int64_t GetDirectoryNumber() const { return m_directoryNumber; }
  void SetDirectoryNumber(int64_t number) { m_directoryNumber = number; }
  bool HasOwnRecordNumber() const { return m_hasOwnRecordNumber; }
  uint32_t GetOwnRecordNumber() const { return m_ownRecordNumber; }
  // 0 until a record was parsed.
  uint32_t GetSectorsPerCluster() const { return m_sectorsPerCluster; }
  // The cluster holding virtual cluster `vcn` of the index allocation; -1 when none does.
  int64_t GetClusterOfVcn(int64_t vcn) const { return m_runs.VcnToLcn(vcn); }

  static constexpr int64_t kRootDirectory = 5;

 private:
  int64_t m_sector = -1;
  CNTFSRunList m_runs;
  uint64_t m_logSequenceNumber = 0;
  int64_t m_directoryNumber = -1;
  uint32_t m_ownRecordNumber = 0;
  bool m_hasOwnRecordNumber = false;
  uint32_t m_sectorsPerCluster = 0;
};

// Folder records by directory number. An index buffer names its directory (the parent of its
// entries), so pairing a buffer with the folders it can belong to is one lookup, not a walk over
// every folder seen. Several records may share a number (copies of one folder, folders of several
// partitions).
class CNTFSFolderIndexRecordMap {
 public:
  using Map = std::multimap<int64_t, std::unique_ptr<CNTFSFolderIndexRecord>>;
  using ConstIterator = Map::const_iterator;

  // Takes the record under its directory number; false (and the record dropped) when null or its
  // number is not known.
  bool Add(std::unique_ptr<CNTFSFolderIndexRecord> record);
  // The records of directory `number`, in the order they were added.
  std::pair<ConstIterator, ConstIterator> FindByDirectory(int64_t number) const {
    return m_records.equal_range(number);
  }
  size_t GetCount() const { return m_records.size(); }
  void Clear() { m_records.clear(); }
  const Map& Records() const { return m_records; }

 private:
  Map m_records;
};

// The data size of a record whose $DATA runs add up to the VCN range they claim.
class CNTFSRecordDataSize {
 public:
  // The record's unnamed $DATA must give its runs with the totals check, a data size above 0 and a
  // run total above 0 (a fix-up that did not verify refuses the record). Keeps `sector` and the data
  // size; false, with the object unchanged, otherwise.
  bool ReadFromRecord(const CNTFSFileRecordView& view, int64_t sector);
  bool ReadFromRecord(const uint8_t* buffer, size_t length, int64_t sector);

  int64_t GetSector() const { return m_sector; }
  // In bytes; -1 until read.
  int64_t GetDataSize() const { return m_dataSize; }

 private:
  int64_t m_sector = -1;
  int64_t m_dataSize = -1;
};
