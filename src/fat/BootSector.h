#pragma once
// The FAT boot sector (FORMAT.md, "Boot sector") parsed into host values, and the volume geometry
// derived from it. The geometry is checked once, here: nothing downstream divides, shifts or sizes
// a buffer by a boot-sector value that has not passed through GetGeometry.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fat/FatParse.h"

namespace corvale::fat::boot {
constexpr size_t kSize = 512;
constexpr size_t kJump = 0x00;
constexpr size_t kOemName = 0x03;  // 8 bytes
constexpr size_t kBytesPerSector = 0x0B;
constexpr size_t kSectorsPerCluster = 0x0D;
constexpr size_t kReservedSectors = 0x0E;
constexpr size_t kFatCount = 0x10;
constexpr size_t kRootEntries = 0x11;
constexpr size_t kTotalSectors16 = 0x13;
constexpr size_t kMedia = 0x15;
constexpr size_t kSectorsPerFat16 = 0x16;
constexpr size_t kHiddenSectors = 0x1C;
constexpr size_t kTotalSectors32 = 0x20;
// FAT12/16 extended fields.
constexpr size_t kVolumeLabel16 = 0x2B;  // 11 bytes
constexpr size_t kFsType16 = 0x36;       // 8 bytes, "FAT12   " or "FAT16   "
// FAT32 fields.
constexpr size_t kSectorsPerFat32 = 0x24;
constexpr size_t kExtFlags = 0x28;
constexpr size_t kRootCluster = 0x2C;
constexpr size_t kFsInfoSector = 0x30;
constexpr size_t kBackupBootSector = 0x32;
constexpr size_t kVolumeLabel32 = 0x47;  // 11 bytes
constexpr size_t kFsType32 = 0x52;       // 8 bytes, "FAT32   "
constexpr size_t kEndMarker = 0x1FE;     // 0x55 0xAA
}  // namespace corvale::fat::boot

namespace corvale::fat {

// The format's three variants. FAT32 is told by its layout (no 16-bit FAT size); FAT12 and FAT16
// only by the cluster count, as every reader of the format decides it.
enum class FatVariant { Fat12, Fat16, Fat32 };
const char* ToString(FatVariant variant);

inline constexpr uint32_t kMaxFat12Clusters = 4084;
inline constexpr uint32_t kMaxFat16Clusters = 65524;
// Cluster numbers from 0x0FFFFFF7 up are the bad mark and chain ends, so a FAT32 volume has at
// most this many clusters (numbered 2 .. 0x0FFFFFF6).
inline constexpr uint32_t kMaxFat32Clusters = 0x0FFFFFF5;

// Where the parts of a volume lie, in sectors from the volume's first sector.
struct FatVolumeGeometry {
  FatVariant variant = FatVariant::Fat16;
  uint32_t bytesPerSector = 0;     // 512, 1024, 2048 or 4096
  uint32_t sectorsPerCluster = 0;  // 1 to 128, a power of two
  uint32_t clusterBytes = 0;       // at most 512 KiB
  uint32_t reservedSectors = 0;    // at least 1
  uint32_t fatCount = 0;           // at least 1
  uint32_t sectorsPerFat = 0;      // FAT12/16: the 16-bit field; FAT32: the 32-bit one
  uint32_t rootEntries = 0;        // FAT12/16 only
  uint32_t rootDirSectors = 0;     // FAT12/16 only
  uint32_t rootCluster = 0;        // FAT32 only; 2 <= rootCluster < clusterCount + 2
  uint64_t totalSectors = 0;
  uint64_t fatStart = 0;      // first sector of the first FAT copy
  uint64_t rootDirStart = 0;  // FAT12/16: the fixed root directory
  uint64_t dataStart = 0;     // sector of cluster 2
  uint32_t clusterCount = 0;  // data clusters, numbered 2 .. clusterCount + 1

  // Sectors of the data area that whole clusters cover.
  uint64_t DataSectors() const { return static_cast<uint64_t>(clusterCount) * sectorsPerCluster; }
  bool IsDataCluster(uint64_t cluster) const { return cluster >= 2 && cluster - 2 < clusterCount; }
  // First sector of `cluster`, counted from `volumeStart`; none for a cluster outside the data area.
  std::optional<uint64_t> ClusterToSector(uint64_t volumeStart, uint64_t cluster) const;
};

struct FatBootSector {
  uint8_t jump = 0;
  char oemName[9] = {};
  uint16_t bytesPerSector = 0;
  uint8_t sectorsPerCluster = 0;
  uint16_t reservedSectors = 0;
  uint8_t fatCount = 0;
  uint16_t rootEntries = 0;
  uint16_t totalSectors16 = 0;
  uint8_t media = 0;
  uint16_t sectorsPerFat16 = 0;
  uint32_t hiddenSectors = 0;
  uint32_t totalSectors32 = 0;
  uint32_t sectorsPerFat32 = 0;
  uint16_t extFlags = 0;
  uint32_t rootCluster = 0;
  uint16_t fsInfoSector = 0;
  uint16_t backupBootSector = 0;
  char fsType16[9] = {};
  char fsType32[9] = {};
  char volumeLabel16[12] = {};
  char volumeLabel32[12] = {};

  // A sector without the 0x55 0xAA end marker, or one without any parameter block (no sector
  // size and no cluster size, as in a partition table), is NotThisStructure. One whose sector size
  // is not 512, 1024, 2048 or 4096, whose cluster size is not a power of two up to 128 sectors,
  // or that has no reserved sector, no FAT copy, no FAT size or no sector count is Damaged.
  static ParseResult Parse(const uint8_t* sector, size_t length, FatBootSector& out);

  // The layout the fields describe: Damaged when the data area would start at or past the volume's
  // end, holds no whole cluster, has more clusters than the variant can number or than the FAT has
  // entries for, or when a FAT32 root cluster lies outside it. Only a parsed boot sector asks.
  ParseResult GetGeometry(FatVolumeGeometry& out) const;

  // The sector count the format defines: the 16-bit field, or the 32-bit one when that is 0.
  uint64_t TotalSectors() const { return totalSectors16 != 0 ? totalSectors16 : totalSectors32; }
  bool HasFat32Layout() const { return sectorsPerFat16 == 0; }

  // Every field, one per line; for trace logging.
  std::string describe() const;
};

}  // namespace corvale::fat
