#pragma once
// CFATDBR: the classifier of a FAT boot sector (FORMAT.md, "Which boot sectors are taken"). It
// decides the FAT type code the rest of the engine works with and answers the boot-sector fields by
// that type. A boot sector is taken only when it passes the FAT16 or FAT32 test of its type text
// and its geometry is sound, so every caller can use the geometry without checking it again.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fat/BootSector.h"
#include "fat/FatParse.h"
#include "storage/FileSystemCode.h"

// FAT type codes: the FAT members of the file-system type codes that volumes, partition records
// and tree nodes carry.
enum FatTypeCode : int32_t {
  kFatType12 = kFileSystemFat12,
  kFatType16 = kFileSystemFat16,
  kFatType32 = kFileSystemFat32,
  kFatTypeNone = kFileSystemUnknown,
};

// The first test a scan makes of a sector: byte 0 is not 0 and it ends in 0x55 0xAA.
bool IsDBRSector(const uint8_t* buffer, size_t length);

class CFATDBR {
 public:
  // Classifies the first 512 bytes of `sector` (nothing is kept of the caller's buffer) against a
  // device whose sectors are `deviceSectorSize` bytes.
  CFATDBR(const uint8_t* sector, size_t length, uint32_t deviceSectorSize);

  int32_t GetFATType() const { return m_type; }
  bool IsValid() const { return m_type != kFatTypeNone; }
  uint32_t GetDeviceSectorSize() const { return m_deviceSectorSize; }

  // The fields by type; 0 for a sector that was not taken.
  uint8_t GetSectorsPerCluster() const;
  uint16_t GetReservedSectors() const;
  uint8_t GetNumberOfFATs() const;
  uint32_t GetSectorsPerFAT() const;
  uint64_t GetTotalSectors() const;
  uint16_t GetRootEntries() const;
  uint32_t GetRootFirstCluster() const;

  // Why the sector was or was not taken: Valid; NotThisStructure for a sector that is no FAT16 or
  // FAT32 boot sector at all (FAT12 ones included); Damaged, naming the field, for one whose type
  // text matches but whose fields or geometry do not hold.
  const corvale::fat::ParseResult& GetCheckResult() const { return m_check; }
  // The checked geometry of a taken sector (all zeros otherwise).
  const corvale::fat::FatVolumeGeometry& GetGeometry() const { return m_geometry; }
  const corvale::fat::FatBootSector& GetBootSector() const { return m_boot; }

  // The type, the check result and every field; for trace logging.
  std::string describe() const;

 private:
  corvale::fat::ParseResult Classify(const uint8_t* sector, size_t length);

  int32_t m_type = kFatTypeNone;
  uint32_t m_deviceSectorSize = 0;
  corvale::fat::ParseResult m_check;
  corvale::fat::FatBootSector m_boot;
  corvale::fat::FatVolumeGeometry m_geometry;
};
