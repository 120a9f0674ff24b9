#pragma once
// One partition of a basic disk as the partition tables give it: where it lies, the file system
// found at its start, its label and drive letter, and a window device over it. The list that holds
// a record owns it and its device.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/BasicPartitionDevice.h"
#include "storage/FileSystemCode.h"

struct PARTITION_RECORD {
  static constexpr int32_t kFileSystemNotRecognised = kFileSystemUnknown;
  static constexpr int kLabelSize = 100;

  int64_t StartSector = 0;
  int64_t SectorCount = 0;
  char Label[kLabelSize] = {};  // NUL-terminated
  int32_t DriveLetter = 0;      // 0 when the volume has none
  int32_t FileSystemType = kFileSystemNotRecognised;
  char Text1[20] = {};  // kept zero by the table readers
  char Text2[40] = {};
  std::unique_ptr<CBasicPartitionDevice> Device;

  // Where the system shows the volume, for the user to recognise it (filled by the volume list;
  // empty when the partition has no block device or is not mounted).
  std::string DevicePath;
  std::string MountPoint;
};

using PartitionRecordList = std::vector<std::unique_ptr<PARTITION_RECORD>>;
