#pragma once
// Recognises an NTFS volume at a start sector of a device and reports its type, size and label,
// for the partition-table walk that asks each engine what lies at a partition's start.

#include <cstdint>
#include <string>

#include "storage/IVolume.h"

class IStorageDevice;

class CNtfsVolumeAnalyze : public IVolume {
 public:
  // Reads the sector at `start`. When it is an NTFS boot sector: type 3 (NTFS), the size the boot
  // sector gives (in the device's sectors, whatever the volume's own sector size), and the label
  // kept in MFT record 3. Otherwise type 7, size 0 and no label.
  CNtfsVolumeAnalyze(IStorageDevice* device, uint64_t start);

  int32_t GetFileSystemType() const override { return m_type; }
  uint64_t GetSectorCount() const override { return m_sectorCount; }
  std::string GetLabel() const override { return m_label; }

 private:
  int32_t m_type = kFileSystemUnknown;
  uint64_t m_sectorCount = 0;
  std::string m_label;
};
