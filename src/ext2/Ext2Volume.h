#pragma once
// What lies at a partition's start when it is Ext2 or Ext3: the type, the label and the size, for
// the device and volume lists.

#include <cstdint>
#include <string>

#include "storage/IVolume.h"

class IStorageDevice;

class CExt2Volume : public IVolume {
 public:
  // Opens the file system whose partition starts at `partitionStart` (in the device's own sectors).
  // Anything that keeps it from opening leaves type 7, no label and size 0.
  CExt2Volume(IStorageDevice* device, int64_t partitionStart);

  // 4 Ext2, 5 Ext3, 7 none.
  int32_t GetFileSystemType() const override { return m_type; }
  // In the device's own sectors.
  uint64_t GetSectorCount() const override { return m_sectors; }
  // The 16-byte volume-name field up to its first NUL.
  std::string GetLabel() const override { return m_label; }
  // Copies min(label length + 1, length) bytes into `buffer` and always ends it with NUL at
  // length - 1; a length below 1 copies nothing.
  void CopyLabel(char* buffer, int32_t length) const;

 private:
  int32_t m_type = kFileSystemUnknown;
  std::string m_label;
  uint64_t m_sectors = 0;
};
