#pragma once
// CFATVolumeLabelReader: the volume label of a FAT volume, read from the label entry of its root
// directory.

#include <cstdint>
#include <string>

class CFATDBR;
class IStorageDevice;

class CFATVolumeLabelReader {
 public:
  // Sectors are read from `device`; its sector size is taken (512 without a device).
  explicit CFATVolumeLabelReader(IStorageDevice* device);

  // Reads the root directory of the volume whose boot sector `dbr` was read at `partitionStart` and
  // sets *label from the first live label entry. False when there is none, the boot sector was not
  // taken, or a read fails. The root directory of a FAT32 volume is followed through the FAT for at
  // most the 2 MiB a directory can hold, and never twice through one cluster.
  bool ReadVolumeLabel(uint64_t partitionStart, const CFATDBR& dbr, std::string* label);

 private:
  // Looks for the label in one stretch of directory bytes; stops at the first invalid entry.
  static bool ScanForLabel(const uint8_t* bytes, size_t length, std::string* label);

  IStorageDevice* m_device;
  uint32_t m_sectorSize = 512;
};
