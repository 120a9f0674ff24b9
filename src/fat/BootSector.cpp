#include "fat/BootSector.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "storage/ByteReader.h"
#include "storage/CheckedMath.h"

namespace corvale::fat {

namespace {

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

void CopyText(const ByteReader& r, size_t offset, char* out, size_t length) {
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<char>(r.u8(offset + i));
  out[length] = '\0';
}

}  // namespace

const char* ToString(FatVariant variant) {
  switch (variant) {
    case FatVariant::Fat12:
      return "FAT12";
    case FatVariant::Fat16:
      return "FAT16";
    case FatVariant::Fat32:
      return "FAT32";
  }
  return "?";
}

std::optional<uint64_t> FatVolumeGeometry::ClusterToSector(uint64_t volumeStart, uint64_t cluster) const {
  if (!IsDataCluster(cluster)) return std::nullopt;
  const uint64_t offset = (cluster - 2) * sectorsPerCluster;  // below 2^28 * 2^7
  const auto inVolume = checkedAdd(dataStart, offset);
  return inVolume ? checkedAdd(volumeStart, *inVolume) : std::nullopt;
}

ParseResult FatBootSector::Parse(const uint8_t* sector, size_t length, FatBootSector& out) {
  using namespace boot;
  if (sector == nullptr || length < kSize)
    return ParseResult::NotThis("sector", "is shorter than a boot sector", length);
  const ByteReader r(sector, kSize);
  if (r.u8(kEndMarker) != 0x55 || r.u8(kEndMarker + 1) != 0xAA)
    return ParseResult::NotThis("end marker", "is not 0x55 0xAA", r.u16(kEndMarker), kEndMarker);
  FatBootSector b;
  b.jump = r.u8(kJump);
  CopyText(r, kOemName, b.oemName, 8);
  b.bytesPerSector = r.u16(kBytesPerSector);
  b.sectorsPerCluster = r.u8(kSectorsPerCluster);
  b.reservedSectors = r.u16(kReservedSectors);
  b.fatCount = r.u8(kFatCount);
  b.rootEntries = r.u16(kRootEntries);
  b.totalSectors16 = r.u16(kTotalSectors16);
  b.media = r.u8(kMedia);
  b.sectorsPerFat16 = r.u16(kSectorsPerFat16);
  b.hiddenSectors = r.u32(kHiddenSectors);
  b.totalSectors32 = r.u32(kTotalSectors32);
  b.sectorsPerFat32 = r.u32(kSectorsPerFat32);
  b.extFlags = r.u16(kExtFlags);
  b.rootCluster = r.u32(kRootCluster);
  b.fsInfoSector = r.u16(kFsInfoSector);
  b.backupBootSector = r.u16(kBackupBootSector);
  CopyText(r, kFsType16, b.fsType16, 8);
  CopyText(r, kFsType32, b.fsType32, 8);
  CopyText(r, kVolumeLabel16, b.volumeLabel16, 11);
  CopyText(r, kVolumeLabel32, b.volumeLabel32, 11);

  // A partition table sector ends in the same marker but has no parameter block at all.
  if (b.bytesPerSector == 0 && b.sectorsPerCluster == 0)
    return ParseResult::NotThis("parameter block", "is empty", 0, kBytesPerSector);
  if (b.bytesPerSector != 512 && b.bytesPerSector != 1024 && b.bytesPerSector != 2048 &&
      b.bytesPerSector != 4096)
    return ParseResult::Damaged("bytes per sector", "is not 512, 1024, 2048 or 4096", b.bytesPerSector,
                                kBytesPerSector);
  // Every cluster computation divides or multiplies by this value.
  if (!IsPowerOfTwo(b.sectorsPerCluster))
    return ParseResult::Damaged("sectors per cluster", "is not a power of two", b.sectorsPerCluster,
                                kSectorsPerCluster);
  // The boot sector itself is the first reserved sector.
  if (b.reservedSectors == 0) return ParseResult::Damaged("reserved sectors", "is 0", 0, kReservedSectors);
  if (b.fatCount == 0) return ParseResult::Damaged("number of FATs", "is 0", 0, kFatCount);
  if (b.sectorsPerFat16 == 0 && b.sectorsPerFat32 == 0)
    return ParseResult::Damaged("sectors per FAT", "is 0", 0, kSectorsPerFat16);
  if (b.TotalSectors() == 0) return ParseResult::Damaged("total sectors", "is 0", 0, kTotalSectors32);
  out = b;
  return ParseResult::Valid();
}

ParseResult FatBootSector::GetGeometry(FatVolumeGeometry& out) const {
  using namespace boot;
  FatVolumeGeometry g;
  g.bytesPerSector = bytesPerSector;
  g.sectorsPerCluster = sectorsPerCluster;
  g.clusterBytes = g.bytesPerSector * g.sectorsPerCluster;
  g.reservedSectors = reservedSectors;
  g.fatCount = fatCount;
  g.totalSectors = TotalSectors();
  const bool fat32 = HasFat32Layout();
  g.sectorsPerFat = fat32 ? sectorsPerFat32 : sectorsPerFat16;
  if (g.sectorsPerFat == 0)
    return ParseResult::Damaged("sectors per FAT", "is 0", 0, fat32 ? kSectorsPerFat32 : kSectorsPerFat16);
  if (!fat32) {
    g.rootEntries = rootEntries;
    g.rootDirSectors = (g.rootEntries * 32 + g.bytesPerSector - 1) / g.bytesPerSector;
  }
  // All below 2^16 + 2^8 * 2^32 + 2^16: no overflow in 64 bits.
  g.fatStart = g.reservedSectors;
  g.rootDirStart = g.fatStart + static_cast<uint64_t>(g.fatCount) * g.sectorsPerFat;
  g.dataStart = g.rootDirStart + g.rootDirSectors;
  if (g.dataStart >= g.totalSectors)
    return ParseResult::Damaged("total sectors", "end before the data area", g.totalSectors, kTotalSectors32,
                                g.dataStart);
  const uint64_t clusters = (g.totalSectors - g.dataStart) / g.sectorsPerCluster;
  if (clusters == 0)
    return ParseResult::Damaged("total sectors", "leave no whole cluster", g.totalSectors, kTotalSectors32);
  unsigned entryBits = 32;
  if (fat32) {
    g.variant = FatVariant::Fat32;
    if (clusters > kMaxFat32Clusters)
      return ParseResult::Damaged("cluster count", "is more than FAT32 can number", clusters, kTotalSectors32,
                                  kMaxFat32Clusters);
  } else if (clusters <= kMaxFat12Clusters) {
    g.variant = FatVariant::Fat12;
    entryBits = 12;
  } else if (clusters <= kMaxFat16Clusters) {
    g.variant = FatVariant::Fat16;
    entryBits = 16;
  } else {
    return ParseResult::Damaged("cluster count", "is more than a 16-bit FAT can number", clusters,
                                kTotalSectors16, kMaxFat16Clusters);
  }
  g.clusterCount = static_cast<uint32_t>(clusters);
  // A FAT without an entry for every cluster leaves the last clusters with no chain at all.
  const uint64_t fatEntries = static_cast<uint64_t>(g.sectorsPerFat) * g.bytesPerSector * 8 / entryBits;
  if (fatEntries < clusters + 2)
    return ParseResult::Damaged("sectors per FAT", "hold fewer entries than clusters", g.sectorsPerFat,
                                fat32 ? kSectorsPerFat32 : kSectorsPerFat16, clusters + 2);
  if (fat32) {
    g.rootCluster = rootCluster;
    if (!g.IsDataCluster(g.rootCluster))
      return ParseResult::Damaged("root cluster", "lies outside the data area", g.rootCluster, kRootCluster,
                                  clusters + 2);
  }
  out = g;
  return ParseResult::Valid();
}

std::string FatBootSector::describe() const {
  char text[1024];
  std::snprintf(
      text, sizeof text,
      "jump 0x%02X\noem name \"%s\"\nbytes per sector %u\nsectors per cluster %u\nreserved sectors %u\n"
      "number of FATs %u\nroot entries %u\ntotal sectors (16-bit) %u\nmedia 0x%02X\n"
      "sectors per FAT (16-bit) %u\nhidden sectors %" PRIu32 "\ntotal sectors (32-bit) %" PRIu32
      "\nsectors per FAT (32-bit) %" PRIu32 "\next flags 0x%04X\nroot cluster %" PRIu32
      "\nfsinfo sector %u\nbackup boot sector %u\ntype text (16) \"%s\"\ntype text (32) \"%s\"\n"
      "label (16) \"%s\"\nlabel (32) \"%s\"\n",
      jump, oemName, bytesPerSector, sectorsPerCluster, reservedSectors, fatCount, rootEntries,
      totalSectors16, media, sectorsPerFat16, hiddenSectors, totalSectors32, sectorsPerFat32, extFlags,
      rootCluster, fsInfoSector, backupBootSector, fsType16, fsType32, volumeLabel16, volumeLabel32);
  return text;
}

}  // namespace corvale::fat
