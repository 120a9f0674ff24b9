#pragma once
// The records of the wizard's source lists as the user interface keeps them: one disk (or opened
// disk image) of the disk lists, one volume (or opened image) of the volume lists. They hold what
// the windows and the run log show; the device-selection steps fill them from the engine's disk
// and volume collection and keep them for the run. Only the fields in use so far are here.

#include <cstdint>
#include <string>

#include "storage/FileSystemCode.h"

class IStorageDevice;

inline constexpr int32_t kSourceKindDisk = 0;
inline constexpr int32_t kSourceKindImage = 1;

struct DiskRecord {
  int32_t Kind = kSourceKindDisk;    // 0 a physical disk, 1 an opened disk image
  IStorageDevice* Device = nullptr;  // not owned here
  int32_t IsUsb = 0;                 // nonzero for a disk on USB
  std::string DisplayText;           // a disk's model; an image's source name
  std::string ImagePath;             // an image's descriptor file
};

struct VolumeRecord {
  int32_t Kind = 0;                  // 1 an opened disk image; any other value a volume
  IStorageDevice* Device = nullptr;  // not owned here
  int32_t FileSystemTypeCode = kFileSystemUnknown;
  char DriveLetter = 0;  // 0 when the volume has none
  std::string VolumeName;
  std::string DisplayName;  // an image's source name
  std::string ImagePath;    // an image's descriptor file
};
