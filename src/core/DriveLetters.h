#pragma once
// The volumes of the machine (or of the disks named by CORVALE_DISKS) with their letters, device
// paths, mount points and labels. The partition tables of every disk of the catalogue are read
// with the engines' detector; every volume with a recognised file system gets the next letter from
// C, in disk order and table order; then each volume of the dynamic disks gets the next free one.

#include <cstdint>
#include <string>
#include <vector>

#include "core/DeviceCollection.h"
#include "platform/DiskCatalogue.h"
#include "storage/DiskDevice.h"
#include "storage/PartitionRecord.h"
#include "storage/VolumeLetters.h"

class IStorageDevice;

// What AssignVolumeLetters read, for a caller that goes on to read the volumes: the catalogue's
// disks that opened, and the dynamic volumes on them (whose devices read from those disks).
struct LetteredSources {
  DiskDeviceList disks;
  std::vector<CollectedDynamicVolume> dynamicVolumes;
};

// Reads the catalogue's disks, gives out the letters, publishes them for the volume device and
// returns them. `sysfsRoot` and `mountinfoPath` are the system's unless a test names others. With
// `sources`, the disks and dynamic volumes read are handed over instead of being closed.
std::vector<corvale::LetteredVolume> AssignVolumeLetters(
    const std::string& sysfsRoot = "/sys", const std::string& mountinfoPath = "/proc/self/mountinfo",
    LetteredSources* sources = nullptr);

// The first letter handed out.
inline constexpr char kFirstDriveLetter = 'C';

// Gives the next letters (from *next on, while letters last) to the volumes with a recognised file
// system among `records`, the partitions of catalogue disk `disk` (in sectors of `sectorSize`), with
// each volume's device path and mount point, and appends them to `volumes`. AssignVolumeLetters does
// this for every disk; the device collection does it for the disks it reads anyway.
void LetterDiskVolumes(const platform::DiskEntry& disk, int32_t sectorSize,
                       const PartitionRecordList& records, char* next,
                       std::vector<corvale::LetteredVolume>* volumes, const std::string& sysfsRoot = "/sys",
                       const std::string& mountinfoPath = "/proc/self/mountinfo");

// Gives each of `dynamic` (in order) a letter: the one its own look-up found (the letters of this
// run, by name and then by GUID) while no volume of `volumes` holds it, else the next free letter
// from *next on (none once Z is given). Each letter keeps the device the system assembled for the
// volume and where that is mounted, when there is one. The records get their letters, device paths
// and mount points; the letters are appended to `volumes`.
void LetterDynamicVolumes(std::vector<CollectedDynamicVolume>& dynamic, char* next,
                          std::vector<corvale::LetteredVolume>* volumes,
                          const std::string& sysfsRoot = "/sys",
                          const std::string& mountinfoPath = "/proc/self/mountinfo");

// Sets the letter, device path and mount point of each record of disk `diskNumber` from the
// published letters (by start sector); a record without a letter keeps 0.
void AssignDriveLetters(int diskNumber, PartitionRecordList& records);

// The label of the volume on `device` (starting at its sector 0): FAT for types 0 to 2, NTFS for
// 3; 0 (and `out` left empty) for any other type or when there is none.
int GetVolumeLabelByType(IStorageDevice* device, int32_t type, std::string* out);

// 2 "SIMPLE", 3 "MIRROR", 4 "SPANNED", 5 "STRIPPED", 6 "RAID5", else "UNKNOWN".
const char* GetDynamicVolumeKindName(int32_t kind);
