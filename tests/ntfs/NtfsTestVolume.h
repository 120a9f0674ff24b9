#pragma once
// The NTFS volumes made by tests/fixtures/ntfs_records.sh, loaded into memory once per test program:
// the image bytes, the manifest of what was put on it, the boot sector, and every MFT record as
// raw bytes (fix-up not applied), found through the $MFT's own run list.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ntfs/NTFSDBR.h"
#include "ntfs/RunList.h"

struct NtfsManifest {
  uint32_t sectorSize = 0;
  uint32_t clusterSize = 0;
  std::string label;
  size_t bigCount = 0;
  std::map<int64_t, std::vector<std::string>> live;  // record number -> paths (several for hard links)
  std::map<int64_t, std::string> deleted;
  std::set<std::string> bigNames;
  int64_t bigDirectory = -1;
  int64_t hardLinked = -1;
  std::vector<int64_t> fragmented;
  int64_t sparse = -1;
  int64_t stream = -1;
};

class NtfsTestVolume {
 public:
  // Loads `folder`/volume.img and its manifest; false with *why when something is missing or the
  // volume's own structures cannot be followed.
  bool Load(const std::string& folder, std::string* why);

  std::vector<uint8_t> image;
  NtfsManifest manifest;
  CNTFSDBR bootSector;
  NTFSVolumeGeometry geometry;
  CNTFSRunList mftRuns;
  int64_t mftDataSize = 0;
  // Raw bytes of every record in the $MFT's data, by record number.
  std::vector<std::vector<uint8_t>> records;

  uint32_t RecordSize() const { return geometry.fileRecordSize; }
  // The sector (of the volume's own sector size) where record `n` starts.
  int64_t RecordSector(uint64_t n) const;
  // `length` bytes of the data described by `runs`, from `byteOffset` of that data (zeros for holes).
  std::vector<uint8_t> ReadRuns(const CNTFSRunList& runs, uint64_t byteOffset, size_t length) const;
};

// The volume of kind "c4096", "c512" or "s4096", or null with *why (loaded once per process).
const NtfsTestVolume* GetNtfsTestVolume(const std::string& kind, std::string* why);

#define CORVALE_NTFS_VOLUME(var, kind)                             \
  std::string var##_why;                                           \
  const NtfsTestVolume* var = GetNtfsTestVolume(kind, &var##_why); \
  if (!var) GTEST_SKIP() << "NTFS test volume " << kind << ": " << var##_why
