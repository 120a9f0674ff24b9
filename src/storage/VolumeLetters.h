#pragma once
// Drive letters in place of the system's: every partition or whole-disk volume with a recognised
// file system gets a letter from C upward, in the order of the disk catalogue and, within a disk, of
// its partition table; the volumes of dynamic disks take the next free letters after them. Each
// letter keeps the volume's device path, mount point and label; letters hold for one run. The core
// fills the table (it knows the file systems); this layer answers "which volume has letter X" for
// the volume device, and which letter a dynamic volume has.
//
// The system's side is read from sysfs (the block device of a partition, by the disk's name and the
// partition's start; the device-mapper device that assembles a dynamic volume, by its name) and
// from mountinfo (where that block device is mounted).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvale {

struct LetteredVolume {
  char letter = 0;
  int diskNumber = -1;
  int64_t startSector = 0;  // in the disk's sectors
  int64_t sectorCount = 0;
  int32_t sectorSize = 512;  // the disk's
  int32_t fileSystemType = 7;
  std::string label;
  // The volume's own block device (/dev/sdb1, /dev/loop3p2, or the disk for a volume without a
  // table); for a partition that has none (a partition of an image file) the disk's path.
  std::string devicePath;
  // True when devicePath holds exactly this volume, so that it can be opened as one.
  bool devicePathIsVolume = false;
  std::string mountPoint;  // empty when not mounted
  // A volume of dynamic disks: its disk group, its name and its GUID as the dynamic-disk database
  // gives them. Such a volume lies on no one disk (diskNumber is -1, startSector 0).
  bool dynamic = false;
  std::string dynamicGroup;
  std::string dynamicName;
  std::array<uint8_t, 16> volumeGuid{};
};

struct PartitionNode {
  std::string name;        // "sdb1"
  std::string devicePath;  // "/dev/sdb1"
  unsigned major = 0;
  unsigned minor = 0;
};

// The partition of the disk whose sysfs folder is `diskDir` ("/sys/block/sdb") whose start (sysfs
// counts 512-byte units) is `startSector` in sectors of `sectorSize`; the first match in name order
// wins.
std::optional<PartitionNode> FindPartitionNode(const std::string& diskDir, uint64_t startSector,
                                               int32_t sectorSize);
// MAJ:MIN of the block device whose sysfs folder is `dir`, or nothing.
std::optional<std::pair<unsigned, unsigned>> BlockDeviceNumber(const std::string& dir);
// The first mount point of block device MAJ:MIN in a mountinfo file, or empty.
std::string MountPointOf(const std::string& mountinfoPath, unsigned major, unsigned minor);
// The device-mapper device that assembles dynamic volume `volumeName` of disk group `groupName`
// (named "ldm_vol_<group>_<volume>", as the Linux tools for dynamic disks name it), found under
// `sysfsRoot`: its path under /dev/mapper and its MAJ:MIN; nothing when the system made none.
std::optional<PartitionNode> FindDynamicVolumeNode(const std::string& sysfsRoot, const std::string& groupName,
                                                   const std::string& volumeName);

// Publishes the letters of this run (replacing any earlier table).
void SetLetteredVolumes(std::vector<LetteredVolume> volumes);
std::vector<LetteredVolume> LetteredVolumes();
std::optional<LetteredVolume> VolumeOfLetter(char letter);

}  // namespace corvale

// The letter of this run's dynamic volume `volumeName` of disk group `groupName`; 0 when it has
// none (the letters are looked through from A to Z, the first that names the volume wins).
char FindDriveLetterOfDynamicVolume(const std::string& volumeName, const std::string& groupName);
// The letter of this run's volume with this GUID; 0 when none has it. An all-zero GUID names no
// volume.
char GetDriveLetterOfVolumeGuid(const std::array<uint8_t, 16>& guid);
