#include "ntfs/NTFSDBR.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "storage/ByteReader.h"
#include "storage/CheckedMath.h"

using corvale::ByteReader;
using corvale::ntfs::ParseResult;
namespace boot = corvale::ntfs::boot;

namespace {

bool IsPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

char ToUpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool IsNTFSOEMID(const uint8_t* sector, size_t length) {
  static const char kOem[] = "NTFS    ";
  if (!sector || length < boot::kOemId + 8) return false;
  for (size_t i = 0; i < 8; ++i) {
    if (ToUpperAscii(static_cast<char>(sector[boot::kOemId + i])) != kOem[i]) return false;
  }
  return true;
}

ParseResult CheckNTFSDBR(const uint8_t* sector, size_t length) {
  if (!sector || length < boot::kSize)
    return ParseResult::NotThis("boot sector", "is shorter than 512 bytes", length);
  if (!IsNTFSOEMID(sector, length))
    return ParseResult::NotThis("OEM id", "is not \"NTFS    \"", 0, boot::kOemId);
  ByteReader r(sector, length);
  uint16_t bps = r.u16(boot::kBytesPerSector);
  if (bps == 0 || bps % 512 != 0)
    return ParseResult::Damaged("bytes per sector", "is not a multiple of 512", bps, boot::kBytesPerSector);
  if (r.u16(boot::kReservedSectors) != 0)
    return ParseResult::Damaged("reserved sectors", "is not 0", r.u16(boot::kReservedSectors),
                                boot::kReservedSectors);
  uint8_t spc = r.u8(boot::kSectorsPerCluster);
  if (!IsPowerOfTwo(spc))
    return ParseResult::Damaged("sectors per cluster", "is not a power of two up to 128", spc,
                                boot::kSectorsPerCluster);
  if (r.u8(boot::kFatCount) != 0)
    return ParseResult::Damaged("FAT count", "is not 0", r.u8(boot::kFatCount), boot::kFatCount);
  if (r.u16(boot::kRootEntries) != 0)
    return ParseResult::Damaged("root entries", "is not 0", r.u16(boot::kRootEntries), boot::kRootEntries);
  if (r.u16(boot::kTotalSectors16) != 0)
    return ParseResult::Damaged("16-bit total sectors", "is not 0", r.u16(boot::kTotalSectors16),
                                boot::kTotalSectors16);
  if (r.u16(boot::kSectorsPerFat) != 0)
    return ParseResult::Damaged("sectors per FAT", "is not 0", r.u16(boot::kSectorsPerFat),
                                boot::kSectorsPerFat);
  if (r.u32(boot::kTotalSectors32) != 0)
    return ParseResult::Damaged("32-bit total sectors", "is not 0", r.u32(boot::kTotalSectors32),
                                boot::kTotalSectors32);
  if (r.u8(boot::kEndMarker) != 0x55 || r.u8(boot::kEndMarker + 1) != 0xAA)
    return ParseResult::Damaged("end marker", "is not 55 AA", r.be16(boot::kEndMarker), boot::kEndMarker);
  return ParseResult::Valid();
}

bool IsValidNTFSDBR(const uint8_t* sector, size_t length) { return CheckNTFSDBR(sector, length).IsValid(); }

uint32_t FileRecordSizeFromClustersPerRecord(int8_t n, uint32_t bytesPerSector, uint32_t sectorsPerCluster) {
  uint64_t size = 0;
  if (n < 0) {
    // 2^-n: only -10 to -12 give a record size anyone writes; larger shifts are not even defined.
    if (n < -12 || n > -10) return 0;
    size = uint64_t{1} << -n;
  } else if (n == 0) {
    size = 1024;
  } else {
    size = uint64_t(n) * bytesPerSector * sectorsPerCluster;
  }
  if (size < 1024 || size > 4096 || !IsPowerOfTwo(size)) return 0;
  return static_cast<uint32_t>(size);
}

CNTFSDBR::CNTFSDBR() { std::memset(m_sector, 0, sizeof m_sector); }

bool CNTFSDBR::SetDBR(const uint8_t* sector, size_t length) {
  if (!IsValidNTFSDBR(sector, length)) return false;
  std::memcpy(m_sector, sector, sizeof m_sector);
  return true;
}

uint64_t CNTFSDBR::GetMFTCluster() const {
  return ByteReader(m_sector, sizeof m_sector).u64(boot::kMftCluster);
}
uint64_t CNTFSDBR::GetMFTMirrCluster() const {
  return ByteReader(m_sector, sizeof m_sector).u64(boot::kMftMirrCluster);
}
uint64_t CNTFSDBR::GetTotalSectors() const {
  return ByteReader(m_sector, sizeof m_sector).u64(boot::kTotalSectors);
}
uint64_t CNTFSDBR::GetVolumeSerialNumber() const {
  return ByteReader(m_sector, sizeof m_sector).u64(boot::kSerialNumber);
}
uint8_t CNTFSDBR::GetSectorsPerCluster() const { return m_sector[boot::kSectorsPerCluster]; }
uint16_t CNTFSDBR::GetBytesPerSector() const {
  return ByteReader(m_sector, sizeof m_sector).u16(boot::kBytesPerSector);
}
std::string CNTFSDBR::GetOEMID() const {
  return std::string(reinterpret_cast<const char*>(m_sector + boot::kOemId), 8);
}

uint32_t CNTFSDBR::GetFileRecordSize() const {
  return FileRecordSizeFromClustersPerRecord(static_cast<int8_t>(m_sector[boot::kClustersPerRecord]),
                                             GetBytesPerSector(), GetSectorsPerCluster());
}

ParseResult CNTFSDBR::GetGeometry(NTFSVolumeGeometry& out) const {
  ParseResult check = CheckNTFSDBR(m_sector, sizeof m_sector);
  if (!check.IsValid()) return check;
  uint16_t bps = GetBytesPerSector();
  if (bps < 512 || bps > 4096 || !IsPowerOfTwo(bps))
    return ParseResult::Damaged("bytes per sector", "is not 512, 1024, 2048 or 4096", bps,
                                boot::kBytesPerSector);
  uint32_t spc = GetSectorsPerCluster();
  uint32_t recordSize = GetFileRecordSize();
  if (recordSize == 0)
    return ParseResult::Damaged("clusters per record", "gives no record size of 1024 to 4096 bytes",
                                m_sector[boot::kClustersPerRecord], boot::kClustersPerRecord);
  uint64_t totalSectors = GetTotalSectors();
  uint64_t totalClusters = totalSectors / spc;
  if (totalClusters == 0)
    return ParseResult::Damaged("total sectors", "is smaller than one cluster", totalSectors,
                                boot::kTotalSectors);
  // A volume of 2^63 bytes or more has no byte offsets we could use.
  if (!corvale::checkedMul(totalSectors, bps) ||
      *corvale::checkedMul(totalSectors, bps) > uint64_t(INT64_MAX))
    return ParseResult::Damaged("total sectors", "gives more bytes than a volume can hold", totalSectors,
                                boot::kTotalSectors);
  uint32_t bpc = bps * spc;
  if (GetMFTCluster() >= totalClusters)
    return ParseResult::Damaged("$MFT cluster", "lies beyond the volume end", GetMFTCluster(),
                                boot::kMftCluster, totalClusters);
  if (GetMFTMirrCluster() >= totalClusters)
    return ParseResult::Damaged("$MFTMirr cluster", "lies beyond the volume end", GetMFTMirrCluster(),
                                boot::kMftMirrCluster, totalClusters);
  out.bytesPerSector = bps;
  out.sectorsPerCluster = spc;
  out.bytesPerCluster = bpc;
  out.fileRecordSize = recordSize;
  out.totalSectors = totalSectors;
  out.totalClusters = totalClusters;
  out.mftCluster = GetMFTCluster();
  out.mftMirrCluster = GetMFTMirrCluster();
  // Both are below totalClusters, whose byte count was checked above.
  out.mftByteOffset = out.mftCluster * bpc;
  out.mftMirrByteOffset = out.mftMirrCluster * bpc;
  return ParseResult::Valid();
}

std::string CNTFSDBR::describe() const {
  ByteReader r(m_sector, sizeof m_sector);
  char text[768];
  std::snprintf(
      text, sizeof text,
      "OEM id \"%s\"\nbytes per sector %u\nsectors per cluster %u\nreserved sectors %u\nFAT count %u\n"
      "root entries %u\n16-bit total sectors %u\nmedia 0x%02X\nsectors per FAT %u\n"
      "32-bit total sectors %u\ntotal sectors %" PRIu64 "\n$MFT cluster %" PRIu64
      "\n$MFTMirr cluster %" PRIu64
      "\nclusters per record %d\nclusters per index buffer %d\n"
      "serial number %016" PRIX64 "\nend marker %04X\nrecord size %u",
      GetOEMID().c_str(), r.u16(boot::kBytesPerSector), r.u8(boot::kSectorsPerCluster),
      r.u16(boot::kReservedSectors), r.u8(boot::kFatCount), r.u16(boot::kRootEntries),
      r.u16(boot::kTotalSectors16), r.u8(0x15), r.u16(boot::kSectorsPerFat), r.u32(boot::kTotalSectors32),
      GetTotalSectors(), GetMFTCluster(), GetMFTMirrCluster(),
      static_cast<int8_t>(r.u8(boot::kClustersPerRecord)),
      static_cast<int8_t>(r.u8(boot::kClustersPerIndexBuffer)), GetVolumeSerialNumber(),
      r.be16(boot::kEndMarker), GetFileRecordSize());
  return text;
}
