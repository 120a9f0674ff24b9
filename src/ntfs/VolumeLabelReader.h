#pragma once
// Reads the volume label of an NTFS partition from MFT record 3 ($Volume).

#include <cstddef>
#include <cstdint>

class IStorageDevice;
class CNTFSDBR;

class CNTFSVolumeLabelReader {
 public:
  explicit CNTFSVolumeLabelReader(IStorageDevice* device) : m_device(device) {}

  // Record 3 lies 3 records after the start of the $MFT's first cluster. Its bytes are located from
  // the boot sector's geometry (so any record and sector size works: records smaller than a sector
  // are found inside it) and handed to GetNTFSVolumeName: at most 80 bytes of UTF-8 into `out`, no
  // terminator, `*written` the byte count. False when the boot sector gives no usable geometry, the
  // read fails or the record holds no label.
  bool ReadVolumeLabel(int64_t partitionStart, const CNTFSDBR& bootSector, char* out,
                       size_t* written = nullptr);

 private:
  IStorageDevice* m_device;
};
