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

// One file or folder of a files volume, as ntfs-3g showed it (the "entry" lines).
struct NtfsEntry {
  int64_t record = -1;
  bool deleted = false;
  bool directory = false;
  uint64_t size = 0;
  bool hasAttributes = false;
  uint32_t attributes = 0;  // the $STANDARD_INFORMATION file attributes
  bool hasTimes = false;
  uint64_t creationTime = 0, modificationTime = 0, accessTime = 0, changeTime = 0;
  std::string path;
};

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
  std::vector<NtfsEntry> entries;
};

class NtfsTestVolume {
 public:
  // Loads `folder`/volume.img and its manifest; false with *why when something is missing or the
  // volume's own structures cannot be followed.
  bool Load(const std::string& folder, std::string* why);

  std::string folder;
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

// The volume of kind "c4096", "c512", "s4096", "files-c4096", "files-c512" or "files-s4096", or null
// with *why (loaded once per process).
const NtfsTestVolume* GetNtfsTestVolume(const std::string& kind, std::string* why);

#define CORVALE_NTFS_VOLUME(var, kind)                             \
  std::string var##_why;                                           \
  const NtfsTestVolume* var = GetNtfsTestVolume(kind, &var##_why); \
  if (!var) GTEST_SKIP() << "NTFS test volume " << kind << ": " << var##_why
