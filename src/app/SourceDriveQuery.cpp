#include "app/SourceDriveQuery.h"

#include <algorithm>
#include <string>

#include "core/FileRecoverer.h"
#include "platform/RecoveryContext.h"
#include "platform/SourceDisk.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/DiskDevice.h"
#include "storage/DynamicVolumeDevice.h"
#include "storage/ImageFileDevice.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "storage/VolumeDevice.h"

namespace {

// The paths of the devices and image files the source finally reads, looking through the views
// over them (partition windows, 512-byte views) and into every member disk of a dynamic volume.
// False when some part of the source leads to nothing that names a file: then where the source
// lies cannot be told.
bool CollectSourcePaths(IStorageDevice* device, int depth, std::vector<std::string>* paths) {
  // Views nest a few levels at most; a deeper chain is no source this program made.
  if (device == nullptr || depth > 16) return false;
  if (auto* disk = dynamic_cast<CDiskDevice*>(device)) {
    paths->push_back(disk->GetDevicePath());
    return !disk->GetDevicePath().empty();
  }
  if (auto* volume = dynamic_cast<CVolumeDevice*>(device)) {
    paths->push_back(volume->GetDevicePath());
    return !volume->GetDevicePath().empty();
  }
  if (auto* image = dynamic_cast<CImageFileDevice*>(device)) {
    paths->push_back(image->GetPath());
    return !image->GetPath().empty();
  }
  if (auto* image = dynamic_cast<CImageFileDeviceWithDecompress*>(device)) {
    // The slices of a disk image lie beside its descriptor.
    paths->push_back(image->GetPath());
    return !image->GetPath().empty();
  }
  if (auto* window = dynamic_cast<CBasicPartitionDevice*>(device))
    return CollectSourcePaths(window->GetWindowedDevice(), depth + 1, paths);
  if (auto* dynamic = dynamic_cast<IDynamicDevice*>(device)) {
    std::vector<DynamicExtent> extents;
    dynamic->GetExtents(extents);
    bool known = !extents.empty();
    for (const DynamicExtent& extent : extents)
      known = CollectSourcePaths(extent.disk, depth + 1, paths) && known;
    return known;
  }
  return CollectSourcePaths(device->GetInnerDevice(), depth + 1, paths);
}

}  // namespace

std::vector<uint64_t> SourceDriveDeviceNumbers(IStorageDevice* device) {
  std::vector<std::string> paths;
  if (!CollectSourcePaths(device, 0, &paths)) return platform::AllMountedDeviceNumbers();
  std::vector<uint64_t> numbers;
  for (const std::string& path : paths) {
    std::optional<std::vector<uint64_t>> devices = platform::SourceDeviceNumbers(path);
    if (!devices) return platform::AllMountedDeviceNumbers();
    numbers.insert(numbers.end(), devices->begin(), devices->end());
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

void InstallSourceDriveQuery() {
  CFileRecoverer::SetSourceDeviceQuery(
      [] { return SourceDriveDeviceNumbers(GetRecoveryContext().SourceRootDevice); });
  // The disk-image wizard asks about the device it images.
  CFileRecoverer::SetDeviceNumbersQuery(SourceDriveDeviceNumbers);
}
