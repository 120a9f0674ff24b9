#pragma once
// The lost-partition search's tester for NTFS: a partition starts at a position when its sector is
// an NTFS boot sector that is not the backup at the end of a volume, and the first four records at
// the $MFT (or at its mirror) are $MFT, $MFTMirr, $LogFile and $Volume.

#include <cstdint>
#include <vector>

#include "core/IPartitionFileSystemSearchController.h"

class CNTFSDBR;

class CPartitionNTFSSearchController : public IPartitionFileSystemSearchController {
 public:
  void SetDevice(IStorageDevice* device) override;
  int TestSector(const void* sector, int64_t position, CLostPartitionRecord* out) override;

 private:
  // The sector at `position` is the backup of a boot sector one volume earlier.
  bool IsBackupBootSector(const CNTFSDBR& boot, uint64_t position, uint64_t volumeSectors);
  // The four system records at `byteOffset` of the device, `recordSize` bytes apart.
  bool HasSystemRecords(uint64_t byteOffset, uint32_t recordSize);

  IStorageDevice* m_device = nullptr;
  uint32_t m_sectorSize = 512;
  std::vector<uint8_t> m_buffer;
};
