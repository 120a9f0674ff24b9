#pragma once
// The fingerprint a state file keeps of each physical disk a saved scan was made on, so that a later
// run finds the same disk again among the disks it sees, whatever number the system gave it.
//
// 5400 bytes, zero-filled: the disk's 1304-byte description (bus type, vendor, product, revision,
// serial and bus texts) at offset 0, then the disk's sector 0 at offset 1304 (at most 4096 bytes of
// it), with its partition table (sector bytes 446-509, at offset 1750) zeroed: a disk whose
// partitions were rewritten since the scan is still the same disk.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class IStorageDevice;
struct DISK_INFO_RECORD;

inline constexpr size_t kDiskFingerprintSize = 5400;
using DiskFingerprint = std::array<uint8_t, kDiskFingerprintSize>;

// The fingerprint of `device` described by `info`. False when sector 0 cannot be read: a disk that
// cannot be read cannot be told apart from another.
bool MakeDiskFingerprint(const DISK_INFO_RECORD& info, IStorageDevice& device, DiskFingerprint* out);

// The first of `candidates` whose fingerprint equals `saved`, or null. Each candidate pairs a device
// with its description.
struct FingerprintCandidate {
  IStorageDevice* Device = nullptr;
  const DISK_INFO_RECORD* Info = nullptr;
};
IStorageDevice* FindDiskByFingerprint(const std::vector<FingerprintCandidate>& candidates,
                                      const DiskFingerprint& saved);
