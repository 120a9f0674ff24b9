#pragma once
// The lost-partition search's tester for FAT: a partition starts at a position when its sector is a
// FAT boot sector and the sector after the reserved sectors begins a FAT.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/IPartitionFileSystemSearchController.h"

class CPartitionFATSearchController : public IPartitionFileSystemSearchController {
 public:
  void SetDevice(IStorageDevice* device) override;
  int TestSector(const void* sector, int64_t position, CLostPartitionRecord* out) override;

  // True when `bytes` begin a FAT of the type code's kind: FAT32 media entry 0x0FFFFFF8 in its low 28
  // bits and an end-of-chain second entry; FAT16 0xFFFFFFF8; FAT12 a media byte and 0xFF 0xFF.
  static bool BeginsFatTable(const uint8_t* bytes, size_t length, int32_t type);

 private:
  IStorageDevice* m_device = nullptr;
  uint32_t m_sectorSize = 512;
  std::vector<uint8_t> m_fatSector;
};
