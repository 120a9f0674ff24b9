#pragma once
// An NTFS partition that the whole-device scan rebuilt from what it saw on the disk: the generic
// found-partition fields and the NTFS evidence behind them (which structures found it, where the
// system files lie, how many of their sectors matched), with the two options that steer the
// directory build over it.
//
// Saved form (little-endian), after the base's 73 bytes: extra value 8, sectors per record 4,
// found-by flags 4, use $MFT 4, files of $MFT only 4, then 8 bytes each of total clusters,
// $LogFile match, $AttrDef match, $UpCase match, $MFT sector, $LogFile sector, $AttrDef sector,
// $UpCase sector and sectors from system files: 169 bytes in all. Saved under kind 0.

#include <cstddef>
#include <cstdint>

#include "core/SearchedPartitionInfo.h"

// The evidence that found a partition; the bits of the found-by flags.
enum NTFSFoundByFlag : uint32_t {
  kFoundByFirstBootRecord = 0x001,
  kFoundByLastBootRecord = 0x002,
  kFoundByMftFilesPair = 0x004,
  kFoundBySingleMft = 0x008,
  kFoundByMftMirr = 0x010,
  kFoundByIndexFolderComparison = 0x020,
  kFoundByFirstRstr = 0x040,
  kFoundBySecondRstr = 0x080,
  kFoundByFilesAnalysis = 0x100,
};

class CSearchedNTFSPartitionInfo : public CSearchedPartitionInfo {
 public:
  static constexpr size_t kOwnSavedSize = 8 + 4 * 4 + 9 * 8;
  static constexpr size_t kSavedSize = CSearchedPartitionInfo::kSavedSize + kOwnSavedSize;
  static constexpr uint32_t kDefaultSectorsPerFileRecord = 2;

  explicit CSearchedNTFSPartitionInfo(uint32_t sectorSize);

  int32_t GetInfoType() const override { return kPartitionInfoNtfs; }
  bool Save(IRSData& writer) const override;
  // Reads what Save wrote. Beyond the base's rules: sectors per record other than 1, 2, 4 or 8
  // (the directory build divides by it), an option other than 0 or 1, or an evidence value below
  // -1 (each is a count, a sector or -1 for "not known") is bad data. On any error the object is
  // left as it was.
  bool Load(IRSData& reader) override;

  // Kept for the scan, which alone gives it a meaning.
  int64_t GetExtraValue() const { return m_extraValue; }
  void SetExtraValue(int64_t value) { m_extraValue = value; }
  // Device sectors per $MFT file record: 1, 2, 4 or 8. Anything else is refused (false, unchanged).
  uint32_t GetSectorsPerFileRecord() const { return m_sectorsPerFileRecord; }
  bool SetSectorsPerFileRecord(uint32_t count);
  static bool IsSectorsPerFileRecord(uint32_t count);

  uint32_t GetFoundByFlags() const { return m_foundByFlags; }
  void SetFoundByFlags(uint32_t mask) { m_foundByFlags = mask; }
  void AddFoundByFlags(uint32_t mask) { m_foundByFlags |= mask; }

  // Attach the records the directory build reads to the MFTs the scan found.
  bool GetUseMft() const { return m_useMft; }
  void SetUseMft(bool on) { m_useMft = on; }
  // Skip record sectors that lie outside every MFT found.
  bool GetFilesOfMftOnly() const { return m_filesOfMftOnly; }
  void SetFilesOfMftOnly(bool on) { m_filesOfMftOnly = on; }

  // Evidence values; -1 while not known.
  int64_t GetTotalClusters() const { return m_totalClusters; }
  void SetTotalClusters(int64_t count) { m_totalClusters = count; }
  int64_t GetLogFileMatch() const { return m_logFileMatch; }
  void SetLogFileMatch(int64_t count) { m_logFileMatch = count; }
  int64_t GetAttrDefMatch() const { return m_attrDefMatch; }
  void SetAttrDefMatch(int64_t count) { m_attrDefMatch = count; }
  int64_t GetUpCaseMatch() const { return m_upCaseMatch; }
  void SetUpCaseMatch(int64_t count) { m_upCaseMatch = count; }
  // Sector of the $MFT record on the device.
  int64_t GetMftSector() const { return m_mftSector; }
  void SetMftSector(int64_t sector) { m_mftSector = sector; }
  int64_t GetLogFileSector() const { return m_logFileSector; }
  void SetLogFileSector(int64_t sector) { m_logFileSector = sector; }
  int64_t GetAttrDefSector() const { return m_attrDefSector; }
  void SetAttrDefSector(int64_t sector) { m_attrDefSector = sector; }
  int64_t GetUpCaseSector() const { return m_upCaseSector; }
  void SetUpCaseSector(int64_t sector) { m_upCaseSector = sector; }
  // The partition's sector count as the system files give it.
  int64_t GetSectorsFromSystemFiles() const { return m_sectorsFromSystemFiles; }
  void SetSectorsFromSystemFiles(int64_t count) { m_sectorsFromSystemFiles = count; }

 private:
  int64_t m_extraValue = 0;
  uint32_t m_sectorsPerFileRecord = kDefaultSectorsPerFileRecord;
  uint32_t m_foundByFlags = 0;
  bool m_useMft = false;
  bool m_filesOfMftOnly = false;
  int64_t m_totalClusters = -1;
  int64_t m_logFileMatch = -1;
  int64_t m_attrDefMatch = -1;
  int64_t m_upCaseMatch = -1;
  int64_t m_mftSector = -1;
  int64_t m_logFileSector = -1;
  int64_t m_attrDefSector = -1;
  int64_t m_upCaseSector = -1;
  int64_t m_sectorsFromSystemFiles = -1;
};

// Registers the NTFS kind (0) with the recovery core, so that saved partition lists holding NTFS
// partitions can be restored. Called once when the program starts; repeating it does no harm.
bool RegisterSearchedNTFSPartitionInfo();
