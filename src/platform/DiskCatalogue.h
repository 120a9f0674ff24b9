#pragma once
// The machine's disks in a stable order, in place of the numbered physical drives: disk N is the
// entry whose number is N.
//
// The catalogue: whole-disk block devices under /sys/block, grouped sd, vd, xvd, hd, nvme, mmcblk and
// in name order within a group (sdb before sdaa, nvme2n1 before nvme10n1), then loop devices that
// have a backing file and a size. Left out: ram and zram disks (memory, nothing to recover), optical
// and floppy drives, and the assembled devices dm-* and md* (LVM, dm-crypt, software RAID): they are
// volumes built from disks that are already listed, and listing them as disks as well would offer the
// same sectors twice, under a second partition-table reading. Hidden nvme multipath paths and the
// eMMC boot and RPMB areas are left out too.
//
// CORVALE_DISKS (a colon-separated list of block devices or image files) replaces the catalogue, for
// tests and for users who want to name their sources; its entries are numbered in the order given.
// Running as root, an entry is read only when it is a block device node of root's or an image file
// of root's that nobody else may write; any other is left out (its number stays unused) and logged.
//
// Numbers hold for the whole run: a disk keeps the number it was first listed under, a disk that
// appears later gets the next free number, and a disk that goes away leaves its number unused (so
// reopening disk N never reaches another disk).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct DiskEntry {
  int number = 0;           // the disk number
  std::string name;         // "sda", "loop3", or the file name for an image named in CORVALE_DISKS
  std::string devicePath;   // "/dev/sda", or the path of the image or device as named
  std::string sysfsPath;    // "/sys/block/sda"; empty for an image file
  std::string backingFile;  // a loop device's backing file, else empty
  bool isImageFile = false;
};

// The disks now present, by ascending number (numbers may have gaps when disks went away).
std::vector<DiskEntry> ListDisks();
// The entry of disk `number`, or nothing when there is no such disk.
std::optional<DiskEntry> DiskByNumber(int number);

// One reading of the catalogue under sysfs root `sysfsRoot` ("/sys" on a real machine), or of the
// list `disksVariable` when it is not null and not empty. Numbers are the positions in the result.
// Used by ListDisks, and by tests over a made-up sysfs tree.
std::vector<DiskEntry> ReadDiskCatalogue(const std::string& sysfsRoot, const char* disksVariable);

}  // namespace platform
