#pragma once
// A FAT partition that the whole-device search rebuilt from what it saw on the disk: the generic
// found-partition fields (start sector = the data area's first sector, partition start, sector
// count, folder and file matches, score) and the FAT geometry and evidence behind them.
//
// Saved form (little-endian), after the base's 73 bytes: reserved sectors 2, sectors per FAT 4,
// cluster count 4, root 4, evidence flags 4: 91 bytes in all. Saved under kind 1.

#include <cstddef>
#include <cstdint>

#include "core/SearchedPartitionInfo.h"

// The evidence that found a FAT partition: the bits of its evidence flags.
inline constexpr uint32_t kFatFromFat12BootSector = 0x001;
inline constexpr uint32_t kFatFromFat16BootSector = 0x002;
inline constexpr uint32_t kFatFromFat32BootSector = 0x004;
inline constexpr uint32_t kFatFromFat32BackupBootSector = 0x008;
inline constexpr uint32_t kFatFromFolders = 0x010;
inline constexpr uint32_t kFatFoundFirstCopy = 0x040;
inline constexpr uint32_t kFatUseFirstCopy = 0x080;  // set with 0x040 when the first copy may be used
inline constexpr uint32_t kFatFoundSecondCopy = 0x100;
inline constexpr uint32_t kFatUseSecondCopy = 0x200;  // set with 0x100 when the second copy may be used
inline constexpr uint32_t kFatBootSectorEvidence = 0x0F;

class CFATSearchedPartitionInfo : public CSearchedPartitionInfo {
 public:
  static constexpr size_t kOwnSavedSize = 2 + 4 * 4;
  static constexpr size_t kSavedSize = CSearchedPartitionInfo::kSavedSize + kOwnSavedSize;

  explicit CFATSearchedPartitionInfo(uint32_t sectorSize) : CSearchedPartitionInfo(sectorSize) {}

  int32_t GetInfoType() const override { return kPartitionInfoFat; }
  bool Save(IRSData& writer) const override;
  // Reads what Save wrote; on any error the object is left as it was. The values are taken as
  // they stand: the directory build checks the geometry before it reads anything by it.
  bool Load(IRSData& reader) override;

  uint16_t GetReservedSectors() const { return m_reservedSectors; }
  void SetReservedSectors(uint16_t count) { m_reservedSectors = count; }
  uint32_t GetSectorsPerFAT() const { return m_sectorsPerFat; }
  void SetSectorsPerFAT(uint32_t count) { m_sectorsPerFat = count; }
  uint32_t GetClusterCount() const { return m_clusterCount; }
  void SetClusterCount(uint32_t count) { m_clusterCount = count; }
  // FAT12/16: the root directory's sectors; FAT32: the root directory's first cluster.
  uint32_t GetRoot() const { return m_root; }
  void SetRoot(uint32_t root) { m_root = root; }
  uint32_t GetEvidenceFlags() const { return m_evidenceFlags; }
  void SetEvidenceFlags(uint32_t flags) { m_evidenceFlags = flags; }
  void AddEvidenceFlags(uint32_t flags) { m_evidenceFlags |= flags; }

 private:
  uint16_t m_reservedSectors = 0;
  uint32_t m_sectorsPerFat = 0;
  uint32_t m_clusterCount = 0;
  uint32_t m_root = 0;
  uint32_t m_evidenceFlags = 0;
};

// Registers the FAT kind (1) with the recovery core, so that saved partition lists holding FAT
// partitions can be restored. Repeating it does no harm.
bool RegisterFATSearchedPartitionInfo();
