#pragma once
// One partition found by the lost-partition search: where its file system starts, how long it is,
// its type code and label, and a partition window device over it. Records are copied whole between
// the search and the windows that show them. The record does not own its device: whoever holds the
// list of found records deletes each device with its record.

#include <cstdint>

#include "storage/FileSystemCode.h"

class IStorageDevice;

class CLostPartitionRecord {
 public:
  static constexpr int32_t kFileSystemNotRecognised = kFileSystemUnknown;
  static constexpr int kLabelSize = 100;

  uint64_t StartSector = 0;
  uint64_t SectorCount = 0;
  int32_t FileSystemType = kFileSystemNotRecognised;
  char Label[kLabelSize] = {};  // NUL-terminated
  IStorageDevice* Device = nullptr;
};
