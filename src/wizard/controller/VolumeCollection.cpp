#include "wizard/controller/VolumeCollection.h"

#include <algorithm>
#include <optional>
#include <string>

#include "core/DriveLetters.h"
#include "platform/DiskCatalogue.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/DiskDevice.h"

namespace {

// Whether sector 0 of `device` can be read now.
bool FirstSectorReads(IStorageDevice& device, int32_t sectorSize) {
  if (sectorSize <= 0) return false;
  std::vector<uint8_t> sector(static_cast<size_t>(sectorSize));
  return device.ReadSectors(sector.data(), 0, 1);
}

}  // namespace

std::vector<std::unique_ptr<CollectedVolume>> CollectLetteredVolumes() {
  std::vector<std::unique_ptr<CollectedVolume>> result;
  LetteredSources sources;
  const std::vector<corvale::LetteredVolume> letters =
      AssignVolumeLetters("/sys", "/proc/self/mountinfo", &sources);
  for (const corvale::LetteredVolume& lettered : letters) {
    if (lettered.dynamic) continue;
    const std::optional<platform::DiskEntry> disk = platform::DiskByNumber(lettered.diskNumber);
    if (!disk || lettered.sectorCount <= 0 || lettered.startSector < 0) continue;
    auto volume = std::make_unique<CollectedVolume>();
    auto device = std::make_unique<CDiskDevice>(disk->devicePath);
    volume->bytesPerSector = device->IsOpened() ? device->GetSectorSize() : 512;
    volume->volume =
        std::make_unique<CBasicPartitionDevice>(device.get(), static_cast<uint64_t>(lettered.startSector),
                                                static_cast<uint64_t>(lettered.sectorCount));
    volume->disk = std::move(device);
    volume->diskNumber = lettered.diskNumber;
    volume->startSector = lettered.startSector;
    volume->sectorCount = lettered.sectorCount;
    volume->readable = FirstSectorReads(*volume->volume, volume->bytesPerSector);
    volume->information = lettered.devicePath;
    if (!lettered.devicePathIsVolume)
      volume->information += ", from sector " + std::to_string(lettered.startSector);
    if (!lettered.mountPoint.empty()) volume->information += ", mounted on " + lettered.mountPoint;

    VolumeRecord& record = volume->record;
    record.Kind = 0;
    record.Device = volume->volume.get();
    record.FileSystemTypeCode = lettered.fileSystemType;
    record.DriveLetter = lettered.letter;
    record.VolumeName = lettered.label;
    result.push_back(std::move(volume));
  }

  // The volumes of dynamic disks, read through the disks the letters were given from; they took
  // the letters after the basic volumes, so the list stays in letter order.
  auto members = std::make_shared<const DiskDeviceList>(std::move(sources.disks));
  for (CollectedDynamicVolume& dynamic : sources.dynamicVolumes) {
    if (!dynamic.Record || !dynamic.Record->DeviceOwner) continue;
    auto volume = std::make_unique<CollectedVolume>();
    volume->memberDisks = members;
    volume->record = *dynamic.Record;
    volume->volume = dynamic.Record->DeviceOwner;
    volume->record.Device = volume->volume.get();
    volume->sectorCount = volume->volume->GetSectorCount();
    const int32_t sectorSize = volume->volume->GetSectorSize();
    volume->bytesPerSector = sectorSize > 0 ? sectorSize : 512;
    volume->readable = volume->sectorCount > 0 && FirstSectorReads(*volume->volume, sectorSize);
    // What the user knows the volume by: its layout and the disks it lies on, and the device the
    // system made of it, if any.
    const VolumeRecord& record = volume->record;
    std::string information = std::string(GetDynamicVolumeKindName(dynamic.DynamicKind)) + " volume on ";
    std::vector<std::string> paths;
    for (size_t i = 0; i < record.ExtentCount(); ++i) {
      const std::string path = record.Extents[i].Disk->GetDevicePath();
      if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
    }
    for (size_t i = 0; i < paths.size(); ++i) information += (i ? ", " : "") + paths[i];
    if (!record.DevicePath.empty()) information += ", " + record.DevicePath;
    if (!record.MountPoint.empty()) information += ", mounted on " + record.MountPoint;
    volume->information = information;
    result.push_back(std::move(volume));
  }
  sources.dynamicVolumes.clear();
  return result;
}
