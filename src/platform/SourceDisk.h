#pragma once
// Which file systems a recovery must not write to: those that live on the disk it reads from.
//
// For a block device (a disk, a partition, or a device stacked over them) the answer is found in
// sysfs: the device is followed down its slaves to the disks at the bottom (a loop device to the
// file behind it), and from each such disk up again: the disk, its partitions, and every device
// stacked over any of them (holders: device-mapper, loop, md), at any depth. For an image file it
// is the file system holding the file, the loop devices attached to the file, and what is stacked
// over those. In both cases a file system mounted from one of these devices counts with its own
// device number too (btrfs and FUSE file systems report one that is not their block device's).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The device numbers (as stat's st_dev) of every file system that lives on the source `source`, or
// nothing when that cannot be told (the source is missing, or a block device sysfs does not know).
std::optional<std::vector<uint64_t>> SourceDeviceNumbers(const std::string& source);

// The device numbers of every mounted file system: what a question that cannot tell answers with,
// so that every target counts as on the source.
std::vector<uint64_t> AllMountedDeviceNumbers();

enum class TargetPlace { OffSource, OnSource, Unknown };

// Whether `target` (or, for a path that does not exist yet, its nearest existing folder) lies on
// the source `source`. Unknown when either cannot be examined; a caller treats that as OnSource.
TargetPlace WhereIsTarget(const std::string& source, const std::string& target);

}  // namespace platform
