#pragma once
// A partition that a scan found or rebuilt, or that the user picked: where it lies, its file-system
// type and geometry, and how much evidence supports it. The NTFS, FAT and Ext2/3 engines derive
// their own kinds with the evidence only they understand; core handles every kind through this
// base and restores saved ones through factories the engines register when the program starts.
//
// Saved form (little-endian, 73 bytes): file-system type 4, sectors per cluster 1, start sector 8,
// partition start 8, files match 8, folders match 8, whole-device mark 4, sector count 8, score 8,
// weight 8 (the bits of a double), chosen mark 4, sector size 4. A derived kind writes this first
// and its own fields after it.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "storage/FileSystemCode.h"

class IRSData;

// The kind under which a partition is saved in the list of found partitions; stored in state
// files. A separate numbering from the file-system type codes and the search-controller kinds.
enum SearchedPartitionInfoType : int32_t {
  kPartitionInfoNtfs = 0,  // CSearchedNTFSPartitionInfo
  kPartitionInfoFat = 1,   // CFATSearchedPartitionInfo
  kPartitionInfoExt2 = 2,  // CExt2SearchedPartitionInfo
  kPartitionInfoBase = 3,  // CSearchedPartitionInfo itself
};

class CSearchedPartitionInfo {
 public:
  static constexpr uint32_t kDefaultSectorSize = 512;
  // No device reports a larger sector; a larger value can only come from a damaged state file.
  static constexpr uint32_t kMaxSectorSize = 65536;
  static constexpr size_t kSavedSize = 73;
  static constexpr int32_t kFileSystemNotRecognised = kFileSystemUnknown;

  // `sectorSize` of 0, one that is not a multiple of 512 or one beyond kMaxSectorSize gives 512.
  explicit CSearchedPartitionInfo(uint32_t sectorSize);
  virtual ~CSearchedPartitionInfo() = default;

  virtual int32_t GetInfoType() const { return kPartitionInfoBase; }
  // Writes the saved form; stream errors are thrown as the stream's exception.
  virtual bool Save(IRSData& writer) const;
  // Reads what Save wrote. A file-system type outside 0..7 or a weight that is not a finite number
  // is bad data (RS_ERROR_BAD_DATA), a cut record is RS_ERROR_SHORT_READ; on either the object is
  // left as it was. A sector size that no device has becomes 512, as in the constructor.
  virtual bool Load(IRSData& reader);

  // The sector size rule of the constructor and of Load.
  static uint32_t NormaliseSectorSize(uint32_t sectorSize);

  int32_t GetFileSystemType() const { return m_fileSystemType; }
  void SetFileSystemType(int32_t code) { m_fileSystemType = code; }
  uint8_t GetSectorsPerCluster() const { return m_sectorsPerCluster; }
  void SetSectorsPerCluster(uint8_t count) { m_sectorsPerCluster = count; }
  // First sector of the partition's data area on the device.
  int64_t GetStartSector() const { return m_startSector; }
  void SetStartSector(int64_t sector) { m_startSector = sector; }
  // First sector of the partition itself on the device; the engines derive the file system's
  // positions from it. A directory build over a partition device sets it to 0.
  int64_t GetPartitionStart() const { return m_partitionStart; }
  void SetPartitionStart(int64_t sector) { m_partitionStart = sector; }
  // Files found by signature whose start agrees with a file of this partition.
  int64_t GetFilesMatch() const { return m_filesMatch; }
  void SetFilesMatch(int64_t count) { m_filesMatch = count; }
  int64_t GetFoldersMatch() const { return m_foldersMatch; }
  void SetFoldersMatch(int64_t count) { m_foldersMatch = count; }
  uint32_t GetSectorSize() const { return m_sectorSize; }
  void SetSectorSize(uint32_t sectorSize) { m_sectorSize = NormaliseSectorSize(sectorSize); }
  // Set when the candidate selection chose this partition because it spans the whole device.
  int32_t GetWholeDeviceMark() const { return m_wholeDeviceMark; }
  void SetWholeDeviceMark(int32_t mark) { m_wholeDeviceMark = mark; }
  int64_t GetSectorCount() const { return m_sectorCount; }
  void SetSectorCount(int64_t count) { m_sectorCount = count; }
  // The confidence the engine that found the partition gives it; 1 until it says otherwise.
  int64_t GetScore() const { return m_score; }
  void SetScore(int64_t score) { m_score = score; }
  // The suggestion weight of the candidate selection, 0 to 1.
  double GetWeight() const { return m_weight; }
  void SetWeight(double weight) { m_weight = weight; }
  // Set on the partitions the candidate selection (or the user) recommends.
  int32_t GetChosenMark() const { return m_chosenMark; }
  void SetChosenMark(int32_t mark) { m_chosenMark = mark; }

 private:
  int32_t m_fileSystemType = kFileSystemNotRecognised;
  uint8_t m_sectorsPerCluster = 0;
  int64_t m_startSector = 0;
  int64_t m_partitionStart = 0;
  int64_t m_filesMatch = 0;
  int64_t m_foldersMatch = 0;
  uint32_t m_sectorSize;
  int32_t m_wholeDeviceMark = 0;
  int64_t m_sectorCount = 0;
  int64_t m_score = 1;
  double m_weight = 0.0;
  int32_t m_chosenMark = 0;
};

// The engines register how to make an empty object of their kind (with sector size 512) when the
// program starts, so that core can restore saved partition lists without knowing the engines.
using SearchedPartitionInfoFactory = CSearchedPartitionInfo* (*)();
// Registers (or with null, removes) the factory of kinds 0 to 2; kind 3 is core's own. False for
// any other kind.
bool RegisterSearchedPartitionInfoFactory(int32_t type, SearchedPartitionInfoFactory factory);
// An empty object of that kind with sector size 512, or null when no factory makes that kind.
std::unique_ptr<CSearchedPartitionInfo> CreateSearchedPartitionInfo(int32_t type);

// One item of a saved partition list: the 4-byte kind (GetInfoType) and the object's saved form.
void SaveSearchedPartitionInfoRecord(IRSData& writer, const CSearchedPartitionInfo& info);
// Reads an item written by SaveSearchedPartitionInfoRecord. A kind no factory makes is bad data
// (RS_ERROR_BAD_DATA): without its reader the item's length is unknown, so nothing after it could
// be read. Stream exceptions pass to the caller; nothing half-loaded is returned.
std::unique_ptr<CSearchedPartitionInfo> LoadSearchedPartitionInfoRecord(IRSData& reader);
