#include "wizard/controller/VolumeCollection.h"

#include <optional>

#include "core/DriveLetters.h"
#include "platform/DiskCatalogue.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/DiskDevice.h"

std::vector<std::unique_ptr<CollectedVolume>> CollectLetteredVolumes() {
  std::vector<std::unique_ptr<CollectedVolume>> result;
  for (const corvale::LetteredVolume& lettered : AssignVolumeLetters()) {
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
    if (volume->bytesPerSector > 0) {
      std::vector<uint8_t> sector(static_cast<size_t>(volume->bytesPerSector));
      volume->readable = volume->volume->ReadSectors(sector.data(), 0, 1);
    }
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
  return result;
}
