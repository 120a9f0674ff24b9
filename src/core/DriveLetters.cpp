#include "core/DriveLetters.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/FileSystemEngine.h"
#include "platform/DiskCatalogue.h"
#include "storage/DiskDevice.h"
#include "storage/PartitionTableAnalyze.h"

using corvale::LetteredVolume;

namespace {

constexpr char kFirstLetter = kFirstDriveLetter;
constexpr char kLastLetter = 'Z';

// Where the system shows volume (start, count) of `disk`: its block device and mount point.
void LocateVolume(const platform::DiskEntry& disk, int32_t sectorSize, LetteredVolume& volume,
                  const std::string& sysfsRoot, const std::string& mountinfoPath) {
  volume.devicePath = disk.devicePath;
  if (disk.isImageFile) {
    // An image file has no block devices: only a volume that fills it from sector 0 is the file.
    volume.devicePathIsVolume = volume.startSector == 0;
    return;
  }
  const std::string diskDir = !disk.sysfsPath.empty() ? disk.sysfsPath : sysfsRoot + "/block/" + disk.name;
  std::optional<std::pair<unsigned, unsigned>> number;
  if (auto node = corvale::FindPartitionNode(diskDir, uint64_t(volume.startSector), sectorSize)) {
    volume.devicePath = node->devicePath;
    volume.devicePathIsVolume = true;
    number = std::make_pair(node->major, node->minor);
  } else if (volume.startSector == 0) {
    volume.devicePathIsVolume = true;
    number = corvale::BlockDeviceNumber(diskDir);
  }
  if (number) volume.mountPoint = corvale::MountPointOf(mountinfoPath, number->first, number->second);
}

}  // namespace

void LetterDiskVolumes(const platform::DiskEntry& disk, int32_t sectorSize,
                       const PartitionRecordList& records, char* next, std::vector<LetteredVolume>* volumes,
                       const std::string& sysfsRoot, const std::string& mountinfoPath) {
  for (const auto& record : records) {
    if (record->FileSystemType == PARTITION_RECORD::kFileSystemNotRecognised) continue;
    LetteredVolume volume;
    if (*next >= kFirstLetter && *next <= kLastLetter) volume.letter = (*next)++;
    volume.diskNumber = disk.number;
    volume.startSector = record->StartSector;
    volume.sectorCount = record->SectorCount;
    volume.sectorSize = sectorSize;
    volume.fileSystemType = record->FileSystemType;
    volume.label = record->Label;
    LocateVolume(disk, sectorSize, volume, sysfsRoot, mountinfoPath);
    volumes->push_back(std::move(volume));
  }
}

void LetterDynamicVolumes(std::vector<CollectedDynamicVolume>& dynamic, char* next,
                          std::vector<LetteredVolume>* volumes, const std::string& sysfsRoot,
                          const std::string& mountinfoPath) {
  auto taken = [&](char letter) {
    return std::any_of(volumes->begin(), volumes->end(),
                       [&](const LetteredVolume& v) { return v.letter == letter; });
  };
  for (CollectedDynamicVolume& d : dynamic) {
    // As on a basic disk, only a volume with a file system the engines know gets a letter.
    if (!d.Record || d.Record->Device == nullptr ||
        d.Record->FileSystemTypeCode == PARTITION_RECORD::kFileSystemNotRecognised)
      continue;
    VolumeRecord& record = *d.Record;
    LetteredVolume volume;
    char letter = record.DriveLetter;
    if (letter < kFirstLetter || letter > kLastLetter || taken(letter)) {
      letter = 0;
      while (*next >= kFirstLetter && *next <= kLastLetter && taken(*next)) ++*next;
      if (*next >= kFirstLetter && *next <= kLastLetter) letter = (*next)++;
    }
    volume.letter = letter;
    volume.sectorCount = record.Device->GetSectorCount();
    volume.sectorSize = record.Device->GetSectorSize();
    volume.fileSystemType = record.FileSystemTypeCode;
    volume.label = record.VolumeName;
    volume.dynamic = true;
    volume.dynamicGroup = d.GroupName;
    volume.dynamicName = d.VolumeName;
    volume.volumeGuid = d.VolumeGuid;
    // Where the system has assembled the volume itself (a device-mapper device), that device is the
    // volume, and may be mounted.
    if (auto node = corvale::FindDynamicVolumeNode(sysfsRoot, d.GroupName, d.VolumeName)) {
      volume.devicePath = node->devicePath;
      volume.devicePathIsVolume = true;
      volume.mountPoint = corvale::MountPointOf(mountinfoPath, node->major, node->minor);
    }
    record.DriveLetter = letter;
    record.DevicePath = volume.devicePath;
    record.MountPoint = volume.mountPoint;
    volumes->push_back(std::move(volume));
  }
}

std::vector<LetteredVolume> AssignVolumeLetters(const std::string& sysfsRoot,
                                                const std::string& mountinfoPath, LetteredSources* sources) {
  std::vector<LetteredVolume> volumes;
  char next = kFirstLetter;
  LetteredSources local;
  LetteredSources& read = sources != nullptr ? *sources : local;
  for (const platform::DiskEntry& disk : platform::ListDisks()) {
    auto device = std::make_unique<CDiskDevice>(disk.devicePath, disk.number);
    if (!device->IsOpened()) continue;
    PartitionRecordList records;
    MakePartitionTableAnalyze().AnalyzeBasicDiskPartitions(device.get(), records);
    LetterDiskVolumes(disk, device->GetSectorSize(), records, &next, &volumes, sysfsRoot, mountinfoPath);
    read.disks.push_back(std::move(device));
  }
  // The basic letters are published first, so that the dynamic volumes' own look-ups see the
  // letters of this run and nothing older.
  corvale::SetLetteredVolumes(volumes);
  read.dynamicVolumes = CollectDynamicVolumes(read.disks);
  LetterDynamicVolumes(read.dynamicVolumes, &next, &volumes, sysfsRoot, mountinfoPath);
  corvale::SetLetteredVolumes(volumes);
  return volumes;
}

void AssignDriveLetters(int diskNumber, PartitionRecordList& records) {
  const std::vector<LetteredVolume> volumes = corvale::LetteredVolumes();
  for (auto& record : records) {
    for (const LetteredVolume& v : volumes) {
      if (v.diskNumber != diskNumber || v.startSector != record->StartSector) continue;
      record->DriveLetter = v.letter;
      record->DevicePath = v.devicePath;
      record->MountPoint = v.mountPoint;
      break;
    }
  }
}

int GetVolumeLabelByType(IStorageDevice* device, int32_t type, std::string* out) {
  if (out != nullptr) out->clear();
  int32_t kind = -1;
  if (type >= 0 && type <= 2) kind = kEngineFat;
  if (type == 3) kind = kEngineNtfs;
  if (device == nullptr || out == nullptr || kind < 0) return 0;
  std::optional<FileSystemEngine> engine = FileSystemEngineOfKind(kind);
  if (!engine || !engine->analyseVolume) return 0;
  std::unique_ptr<IVolume> volume = engine->analyseVolume(*device, 0);
  if (!volume || volume->GetFileSystemType() == PARTITION_RECORD::kFileSystemNotRecognised) return 0;
  *out = volume->GetLabel();
  return out->empty() ? 0 : 1;
}

const char* GetDynamicVolumeKindName(int32_t kind) {
  switch (kind) {
    case 2:
      return "SIMPLE";
    case 3:
      return "MIRROR";
    case 4:
      return "SPANNED";
    case 5:
      return "STRIPPED";
    case 6:
      return "RAID5";
    default:
      return "UNKNOWN";
  }
}
