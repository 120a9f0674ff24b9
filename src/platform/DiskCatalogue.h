#pragma once
// The machine's disks in a stable order, in place of the numbered physical drives: disk N is the
// N-th entry. Whole-disk block devices under /sys/block in name order (sd, vd, xvd, hd, nvme,
// mmcblk), then loop devices that have a backing file. CORVALE_DISKS (a colon-separated list of
// block devices or image files) replaces the catalogue, for tests and for users who want to name
// their sources.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct DiskEntry {
  std::string name;         // "sda", "loop3", or the file name for an image named in CORVALE_DISKS
  std::string devicePath;   // "/dev/sda", or the image file
  std::string sysfsPath;    // "/sys/block/sda", empty for an image file
  std::string backingFile;  // a loop device's backing file, else empty
  bool isImageFile = false;
};

std::vector<DiskEntry> ListDisks();
// The entry of disk `number`, or nothing when there is no such disk.
std::optional<DiskEntry> DiskByNumber(int number);

}  // namespace platform
