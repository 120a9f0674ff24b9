#include "core/DiskFingerprint.h"

#include <algorithm>
#include <cstring>

#include "storage/DiskDevice.h"
#include "storage/IStorageDevice.h"

namespace {
constexpr size_t kSectorOffset = DISK_INFO_RECORD::kSize;
constexpr size_t kSectorRoom = 4096;
constexpr size_t kPartitionTableOffset = kSectorOffset + 446;
constexpr size_t kPartitionTableSize = 64;
}  // namespace

bool MakeDiskFingerprint(const DISK_INFO_RECORD& info, IStorageDevice& device, DiskFingerprint* out) {
  out->fill(0);
  info.Write(out->data());
  const int32_t sectorSize = device.GetSectorSize();
  if (sectorSize <= 0) return false;
  std::vector<uint8_t> sector(static_cast<size_t>(sectorSize));
  if (!device.ReadSectors(sector.data(), 0, 1)) return false;
  // Sectors may be any multiple of 512 bytes; the record has room for 4096 of them.
  std::memcpy(out->data() + kSectorOffset, sector.data(), std::min(sector.size(), kSectorRoom));
  std::memset(out->data() + kPartitionTableOffset, 0, kPartitionTableSize);
  return true;
}

IStorageDevice* FindDiskByFingerprint(const std::vector<FingerprintCandidate>& candidates,
                                      const DiskFingerprint& saved) {
  for (const FingerprintCandidate& c : candidates) {
    if (c.Device == nullptr || c.Info == nullptr) continue;
    DiskFingerprint mine;
    if (MakeDiskFingerprint(*c.Info, *c.Device, &mine) && mine == saved) return c.Device;
  }
  return nullptr;
}
