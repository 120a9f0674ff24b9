#pragma once
// Where an MFT lies: the sector of its $MFT record and the $MFT's own run list, with the geometry
// inferred from the record. The scan keeps one per $MFT record it sees, the directory build of a
// rebuilt partition reads the MFT's records through it, and both the scan state and the build take
// it through the state stream.
//
// Saved form (little-endian): sector 8, sectors per record 1, sectors per cluster 1; when bit 7 of
// the sectors-per-record byte is set, the $MFT's initialized size follows in 8 bytes (a location
// saved without it has that bit clear and an unknown size); then the run list's saved form (8-byte
// run count, then per run 8 bytes start cluster, 8 bytes length, 8 bytes first virtual cluster).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ntfs/RunList.h"

class CNTFSFileRecordView;
class IRSData;

class CNTFSMFTLocation {
 public:
  static constexpr uint8_t kDefaultSectorsPerRecord = 2;

  // Takes the $DATA runs and the sectors per cluster of the $MFT record, and `sector` as where it
  // lies. The sectors per cluster are inferred from the record's data size and run total with the
  // device's `sectorSize`, and must be a cluster size; at least one run must be collected (the run
  // totals are not compared with the VCN range: an $MFT may be spread over extension records). A
  // record whose fix-up did not verify is refused: two bytes of each stride are not its own, and
  // they may lie inside the run string. False, with the location unchanged, when any step fails.
  // The buffer form takes the record as read from the disk, fix-up not applied.
  bool ReadFromRecord(const CNTFSFileRecordView& view, int64_t sector, uint32_t sectorSize);
  bool ReadFromRecord(const uint8_t* buffer, size_t length, int64_t sector, uint32_t sectorSize);

  // Sector of the $MFT record; -1 when not known.
  int64_t GetSector() const { return m_sector; }
  void SetSector(int64_t sector) { m_sector = sector; }
  // The cluster holding the MFT's first cluster (VCN 0); -1 when no run holds it.
  int64_t GetFirstLcn() const { return m_runs.VcnToLcn(0); }
  const CNTFSRunList& GetRunList() const { return m_runs; }
  CNTFSRunList& GetRunList() { return m_runs; }
  uint8_t GetSectorsPerRecord() const { return m_sectorsPerRecord; }
  void SetSectorsPerRecord(uint8_t count) { m_sectorsPerRecord = count; }
  // 0 until inferred.
  uint8_t GetSectorsPerCluster() const { return m_sectorsPerCluster; }
  void SetSectorsPerCluster(uint8_t count) { m_sectorsPerCluster = count; }
  // Bytes of the MFT that hold its records: the initialized size of the $MFT's data, never above its
  // data size. What lies past it in the MFT's clusters was never written by this volume (it may be
  // a volume formatted over). -1 when not known.
  int64_t GetInitializedSize() const { return m_initializedSize; }
  void SetInitializedSize(int64_t bytes) { m_initializedSize = bytes < 0 ? -1 : bytes; }
  // Whether the record of `number`, `recordBytes` long, lies past the initialized size.
  bool IsPastInitializedSize(int64_t number, uint32_t recordBytes) const;

  void Save(IRSData& writer) const;
  // Reads what Save wrote; on any error the location is left as it was. A cut record is
  // RS_ERROR_SHORT_READ. Bad data (RS_ERROR_BAD_DATA): a sector below -1, sectors per record other
  // than 1, 2, 4 or 8, a negative initialized size, sectors per cluster other than 0 or a power of two up to
  // 128, or a run that no decoded run list holds (see IsSoundNTFSRunList). The runs are read one at a time,
  // so a forged count ends at the end of the stream, not in an allocation of its size.
  void Load(IRSData& reader);

 private:
  int64_t m_sector = -1;
  CNTFSRunList m_runs;
  uint8_t m_sectorsPerRecord = kDefaultSectorsPerRecord;
  uint8_t m_sectorsPerCluster = 0;
  int64_t m_initializedSize = -1;
};

// The initialized size of the MFT whose $MFT record `view` holds, capped at its data size: of the
// unnamed non-resident $DATA starting at VCN 0. -1 when there is none or its sizes are negative.
int64_t GetMftInitializedSize(const CNTFSFileRecordView& view);

// A location read from the $MFT record in `view` at `sector` (ReadFromRecord), whose first cluster
// is mapped; null otherwise.
std::unique_ptr<CNTFSMFTLocation> CreateNTFSMFTLocation(const CNTFSFileRecordView& view, int64_t sector,
                                                        uint32_t sectorSize);

// Whether every run could have come out of a run string: a first virtual cluster of 0 or more, a
// length of 1 or more, a start cluster of 0 or more (or -1 for a hole), and no end past 2^63.
// Run lists read back from a state file are held to this, since their readers add and compare
// these values without further checks.
bool IsSoundNTFSRunList(const CNTFSRunList& runs);

// The list of the MFTs a scan kept: 8-byte count, then each location's saved form.
void SaveNTFSMFTLocations(IRSData& writer, const std::vector<std::unique_ptr<CNTFSMFTLocation>>& locations);
// Reads such a list, appending to `out` only when the whole list was read. Locations are read one
// at a time: the count is never used to size anything.
void LoadNTFSMFTLocations(IRSData& reader, std::vector<std::unique_ptr<CNTFSMFTLocation>>& out);
