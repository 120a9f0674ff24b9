#pragma once
// The NTFS boot sector (FORMAT.md, "Boot sector"): the tests that decide whether a sector is one,
// the geometry it gives, and CNTFSDBR, the 512-byte copy a volume or a scan keeps.

#include <cstddef>
#include <cstdint>
#include <string>

#include "ntfs/NtfsParse.h"

namespace corvale::ntfs::boot {
constexpr size_t kSize = 512;
constexpr size_t kOemId = 0x03;  // 8 bytes, "NTFS    "
constexpr size_t kBytesPerSector = 0x0B;
constexpr size_t kSectorsPerCluster = 0x0D;
constexpr size_t kReservedSectors = 0x0E;
constexpr size_t kFatCount = 0x10;
constexpr size_t kRootEntries = 0x11;
constexpr size_t kTotalSectors16 = 0x13;
constexpr size_t kSectorsPerFat = 0x16;
constexpr size_t kTotalSectors32 = 0x20;
constexpr size_t kTotalSectors = 0x28;
constexpr size_t kMftCluster = 0x30;
constexpr size_t kMftMirrCluster = 0x38;
constexpr size_t kClustersPerRecord = 0x40;  // signed byte
constexpr size_t kClustersPerIndexBuffer = 0x44;
constexpr size_t kSerialNumber = 0x48;
constexpr size_t kEndMarker = 0x1FE;  // 0x55 0xAA
}  // namespace corvale::ntfs::boot

// Where the volume's parts lie, checked once: nothing downstream divides or multiplies by a boot
// sector value that has not passed through here.
struct NTFSVolumeGeometry {
  uint32_t bytesPerSector = 0;     // 512, 1024, 2048 or 4096
  uint32_t sectorsPerCluster = 0;  // 1 to 128, a power of two
  uint32_t bytesPerCluster = 0;    // at most 512 KiB
  uint32_t fileRecordSize = 0;     // 1024, 2048 or 4096
  uint64_t totalSectors = 0;       // the boot sector's count (the volume less its backup boot sector)
  uint64_t totalClusters = 0;
  uint64_t mftCluster = 0;      // inside the volume
  uint64_t mftMirrCluster = 0;  // inside the volume
  uint64_t mftByteOffset = 0;   // from the volume start
  uint64_t mftMirrByteOffset = 0;
};

// True when the 8 bytes at 0x03 are "NTFS    " ignoring case.
bool IsNTFSOEMID(const uint8_t* sector, size_t length = corvale::ntfs::boot::kSize);
// The recognition test: OEM id, bytes per sector a multiple of 512, no reserved sectors, sectors
// per cluster a power of two up to 128, the FAT-only fields zero, and the 0x55 0xAA end marker.
bool IsValidNTFSDBR(const uint8_t* sector, size_t length = corvale::ntfs::boot::kSize);
// The same test with three outcomes: a sector without the OEM id is not a boot sector; one with
// the OEM id that fails a later test is Damaged, naming the field.
corvale::ntfs::ParseResult CheckNTFSDBR(const uint8_t* sector, size_t length = corvale::ntfs::boot::kSize);

// The record size given by a clusters-per-record byte n: 2^-n bytes for n < 0, 1024 for 0, and n
// clusters for n > 0. Only 1024, 2048 and 4096 are record sizes any reader here handles; anything
// else gives 0, so that no caller allocates or shifts by a value taken straight off the disk.
uint32_t FileRecordSizeFromClustersPerRecord(int8_t n, uint32_t bytesPerSector, uint32_t sectorsPerCluster);

class CNTFSDBR {
 public:
  CNTFSDBR();

  // Keeps a copy of the 512 bytes when IsValidNTFSDBR accepts them; returns whether it did.
  bool SetDBR(const uint8_t* sector, size_t length = corvale::ntfs::boot::kSize);

  uint64_t GetMFTCluster() const;
  uint64_t GetMFTMirrCluster() const;
  uint64_t GetTotalSectors() const;
  uint64_t GetVolumeSerialNumber() const;
  uint8_t GetSectorsPerCluster() const;
  uint16_t GetBytesPerSector() const;
  std::string GetOEMID() const;
  // Bytes per FILE record; 0 when the boot sector's value is not a usable record size.
  uint32_t GetFileRecordSize() const;

  // Fills `out` when the kept boot sector describes a volume that can be read: a sector size of
  // 512 to 4096 (a power of two), a usable record size, a non-empty volume and $MFT and $MFTMirr
  // inside it. Otherwise Damaged, naming the field.
  corvale::ntfs::ParseResult GetGeometry(NTFSVolumeGeometry& out) const;

  const uint8_t* GetBytes() const { return m_sector; }
  // Every field, one per line; for trace logging.
  std::string describe() const;

 private:
  uint8_t m_sector[corvale::ntfs::boot::kSize];
};
