#pragma once
// The partition tables of a basic disk read into partition records: the MBR with its chain of
// extended boot records, or the GPT behind a protective MBR. Each record gets a window device and the
// file system found at its start. Dynamic disks give no records here (their volumes come from the
// LDM database).
//
// The file systems are recognised by a detector handed in by the caller, so that this layer knows
// no engine; the core's engine table provides the real one (MakePartitionTableAnalyze).
//
// Every value from the disk is bounded: the EBR chain stops at an EBR already read and after
// kMaxExtendedBootRecords, GPT entries outside the device are dropped, and no record reaches past
// the device end. See PARTITION-TABLES.md.

#include <cstdint>
#include <functional>
#include <string>

#include "storage/PartitionRecord.h"

class IStorageDevice;

// What lies at a start sector: a type code (0 FAT12, 1 FAT16, 2 FAT32, 3 NTFS, 4 EXT2, 5 EXT3, 7
// not recognised), the file system's own size in device sectors (0 when unknown) and its label.
struct DetectedFileSystem {
  int32_t type = PARTITION_RECORD::kFileSystemNotRecognised;
  uint64_t sectorCount = 0;
  std::string label;
};

using FileSystemDetector = std::function<DetectedFileSystem(IStorageDevice& device, uint64_t startSector)>;

class CPartitionTableAnalyze {
 public:
  // A chain of more EBRs than this is cut there: no partitioning tool writes so many.
  static constexpr int kMaxExtendedBootRecords = 4096;
  // Only the first 128 GPT entries are read.
  static constexpr uint32_t kMaxGptEntries = 128;
  // A file system whose size differs from its table entry by more than this is listed twice.
  static constexpr uint32_t kSizeDisagreement = 32129;

  // A null detector recognises nothing.
  explicit CPartitionTableAnalyze(FileSystemDetector detector);

  // Appends the disk's partitions to `list`; returns the list's size. Nothing for a dynamic disk.
  int AnalyzeBasicDiskPartitions(IStorageDevice* device, PartitionRecordList& list) const;
  // The whole-device check (a file system at sector 0), then the MBR and EBR walk.
  int AnalyzeMbrDisk(IStorageDevice* device, PartitionRecordList& list) const;
  // The GPT entries; returns the list's size.
  int AnalyzeGptPartitions(IStorageDevice* device, PartitionRecordList& list) const;

  // Sector 0 has an entry of type 0x42.
  static bool IsDynamicDisk(IStorageDevice* device);
  // Sector 0 ends in 0x55 0xAA and its first entry has type 0xEE.
  static bool IsGptProtectiveMbr(IStorageDevice* device);
  // True when the 128-byte entry's type GUID is a listed partition type (not the MBR scheme type).
  static int IsListedGptType(const uint8_t* entry);
  // "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X" of 16 GUID bytes as stored.
  static std::string FormatGptGuid(const uint8_t* guid);
  // The name of a listed GPT type GUID text, or null.
  static const char* GptTypeName(const std::string& guidText);

 private:
  DetectedFileSystem Detect(IStorageDevice& device, uint64_t start) const;
  void WalkExtended(IStorageDevice* device, uint64_t extendedBase, PartitionRecordList& list) const;
  void AddMbrEntry(IStorageDevice* device, uint64_t base, const uint8_t* entry,
                   PartitionRecordList& list) const;

  FileSystemDetector m_detector;
};

// "FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3"; "UNKNOWN" for anything else.
const char* GetFileSystemTypeName(int32_t type);
// The file-system type an MBR type byte announces (7 when it announces none of ours).
int32_t MbrTypeToFileSystemType(uint8_t mbrType);
