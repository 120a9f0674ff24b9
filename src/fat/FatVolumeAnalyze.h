#pragma once
// CFatVolumeAnalyze: whether a FAT16 or FAT32 file system starts at a sector of a device, how
// large it is and what its label says.

#include <cstdint>
#include <string>

#include "storage/IVolume.h"

class IStorageDevice;

class CFatVolumeAnalyze : public IVolume {
 public:
  // Reads the boot sector at `startSector` of `device` and, when it is taken, the label.
  CFatVolumeAnalyze(IStorageDevice* device, uint64_t startSector);

  // 1 FAT16, 2 FAT32; 7 when nothing was recognised.
  int32_t GetFileSystemType() const override { return m_type; }
  // The boot sector's sector count; 0 when nothing was recognised.
  uint64_t GetSectorCount() const override { return m_sectorCount; }
  std::string GetLabel() const override { return m_label; }

 private:
  int32_t m_type;
  uint64_t m_sectorCount = 0;
  std::string m_label;
};
