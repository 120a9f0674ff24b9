#include "app/SourceDriveQuery.h"

#include <string>

#include "core/FileRecoverer.h"
#include "platform/RecoveryContext.h"
#include "platform/SourceDisk.h"
#include "storage/DiskDevice.h"
#include "storage/ImageFileDevice.h"
#include "storage/VolumeDevice.h"

namespace {

// The path of the device or image the source finally reads, looking through the wrappers (cache,
// partition views) to the device that opened it.
std::string SourcePath(IStorageDevice* device) {
  for (int depth = 0; device && depth < 64; ++depth, device = device->GetInnerDevice()) {
    if (auto* disk = dynamic_cast<CDiskDevice*>(device)) return disk->GetDevicePath();
    if (auto* volume = dynamic_cast<CVolumeDevice*>(device)) return volume->GetDevicePath();
    if (auto* image = dynamic_cast<CImageFileDevice*>(device)) return image->GetPath();
  }
  return {};
}

}  // namespace

std::vector<uint64_t> SourceDriveDeviceNumbers(IStorageDevice* device) {
  std::string path = SourcePath(device);
  if (!path.empty()) {
    if (std::optional<std::vector<uint64_t>> devices = platform::SourceDeviceNumbers(path)) return *devices;
  }
  return platform::AllMountedDeviceNumbers();
}

void InstallSourceDriveQuery() {
  CFileRecoverer::SetSourceDeviceQuery(
      [] { return SourceDriveDeviceNumbers(GetRecoveryContext().SourceRootDevice); });
  // The disk-image wizard asks about the device it images.
  CFileRecoverer::SetDeviceNumbersQuery(SourceDriveDeviceNumbers);
}
