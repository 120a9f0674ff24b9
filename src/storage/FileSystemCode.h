#pragma once
// The file-system type codes: what a volume analyser answers (IVolume), what a partition
// description, a found partition and a tree's partition node carry, and what the volume and
// partition records of the state and result files store. The values are stored in those files:
// they never change.

#include <cstdint>

enum FileSystemCode : int32_t {
  kFileSystemFat12 = 0,
  kFileSystemFat16 = 1,
  kFileSystemFat32 = 2,
  kFileSystemNtfs = 3,
  kFileSystemExt2 = 4,
  kFileSystemExt3 = 5,
  kFileSystemRaw = 6,
  // Nothing recognised.
  kFileSystemUnknown = 7,
};
