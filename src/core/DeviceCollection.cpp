#include "core/DeviceCollection.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "core/DriveLetters.h"
#include "core/FileSystemEngine.h"
#include "core/ScopeTimeTrace.h"
#include "core/StateIo.h"
#include "platform/DiskCatalogue.h"
#include "platform/Log.h"
#include "storage/DiskDevice.h"
#include "storage/DynamicVolumeDevice.h"
#include "storage/LdmDatabase.h"
#include "storage/PartitionTableAnalyze.h"
#include "storage/VolumeDevice.h"
#include "storage/VolumeLetters.h"

namespace {

constexpr const char* kRule =
    "----------------------------------------------------------------------------------------------------";
constexpr size_t kMaxDescription = 49;
constexpr uint32_t kBusTypeUsb = 7;

struct SinkHolder {
  std::mutex mutex;
  DiskSummarySink sink;
};
SinkHolder& Sink() {
  static SinkHolder holder;
  return holder;
}

std::u16string Widen(const char* text) {
  // The drive's texts are plain ASCII; anything else is kept byte for byte.
  std::u16string out;
  for (const char* p = text; *p != '\0'; ++p) out += static_cast<char16_t>(static_cast<unsigned char>(*p));
  return out;
}

// The description of `disk` as the lists show it, and whether it is on USB.
struct DiskFacts {
  std::string description;
  bool usb = false;
};
DiskFacts FactsOf(CDiskDevice& disk) {
  DISK_INFO_RECORD info;
  disk.GetDiskInfo(&info);
  std::string description = DiskDescriptionText(info);
  // A disk the system does not describe is named by its file, so that it is never a blank line.
  if (IsBlankDescription(description)) description = DiskFileName(disk);
  return {description, info.busType == kBusTypeUsb};
}

int32_t CatalogueNumber(const CDiskDevice* disk) { return disk != nullptr ? disk->GetCatalogueNumber() : -1; }

bool SameDisk(const CDiskDevice* a, const CDiskDevice* b) {
  if (a == nullptr || b == nullptr) return false;
  return a == b || (a->GetCatalogueNumber() >= 0 && a->GetCatalogueNumber() == b->GetCatalogueNumber());
}

}  // namespace

std::string DiskDescriptionText(const DISK_INFO_RECORD& info) {
  const char* vendor = info.vendor[0] == '(' ? "" : info.vendor;
  std::string text;
  if (vendor[0] != '\0')
    text = std::string(vendor) + "  " + info.product + "  " + info.revision;
  else
    text = std::string(info.product) + "  " + info.revision;
  if (text.size() > kMaxDescription) text.resize(kMaxDescription);
  return text;
}

std::string DiskFileName(const CDiskDevice& disk) {
  const std::string& path = disk.GetDevicePath();
  const size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return corvale::CutUtf8(name.c_str(), kMaxDescription);
}

bool IsBlankDescription(const std::string& description) {
  return description.find_first_not_of(' ') == std::string::npos;
}

DiskSummarySink SetDiskSummarySink(DiskSummarySink sink) {
  SinkHolder& holder = Sink();
  std::lock_guard<std::mutex> lock(holder.mutex);
  return std::exchange(holder.sink, std::move(sink));
}

void CCollectPhysicalDiskDevice::CollectPhysicalDiskDevice(DiskDeviceList& disks) {
  LogInfo("%s", kRule);
  LogInfo("Disk    TotalSectors       Cylinders    Heads    Sectors/Track     DIskInfo");
  std::vector<DiskUsageSummary> summary;
  for (const platform::DiskEntry& entry : platform::ListDisks()) {
    auto disk = std::make_unique<CDiskDevice>(entry.devicePath, entry.number);
    // A disk that does not open is left out without a word (the device layer has logged a refusal
    // for lack of rights).
    if (!disk->IsOpened()) continue;
    platform::DriveGeometry geometry;
    disk->GetDriveGeometry(&geometry);
    DISK_INFO_RECORD info;
    disk->GetDiskInfo(&info);
    const std::string description = DiskDescriptionText(info);
    LogInfo("%d  %16" PRId64 "  %10" PRId64 "  %10d   %16d   %30s", entry.number, disk->GetSectorCount(),
            geometry.cylinders, static_cast<int>(geometry.tracksPerCylinder),
            static_cast<int>(geometry.sectorsPerTrack), description.c_str());
    summary.push_back({disk->GetSectorCount(), disk->GetSectorSize(), info.busType, Widen(info.product)});
    disks.push_back(std::move(disk));
  }
  if (!summary.empty()) {
    SinkHolder& holder = Sink();
    std::lock_guard<std::mutex> lock(holder.mutex);
    if (holder.sink) {
      // The statistics are no business of the collection: whatever goes wrong there is ignored.
      try {
        holder.sink(summary);
      } catch (...) {
      }
    }
  }
  LogInfo("%s", kRule);
}

bool AddVolumeExtent(VolumeRecord& record, int64_t firstSector, int64_t sectorCount, CDiskDevice* disk) {
  if (disk == nullptr) return false;
  const size_t used = record.ExtentCount();
  if (used >= VolumeRecord::kMaxExtents) return false;
  bool diskListed = false;
  for (size_t i = 0; i < used; ++i) diskListed = diskListed || SameDisk(record.Extents[i].Disk, disk);
  record.Extents[used] = {firstSector, sectorCount, disk};
  if (!diskListed) {
    std::string text = record.ParentDiskText;
    if (!text.empty()) text += "\n";
    text += FactsOf(*disk).description;
    if (text.size() > VolumeRecord::kParentTextSize - 1) text.resize(VolumeRecord::kParentTextSize - 1);
    record.ParentDiskText = std::move(text);
  }
  return true;
}

std::vector<CollectedDynamicVolume> CollectDynamicVolumes(const DiskDeviceList& disks) {
  std::vector<IStorageDevice*> members;
  members.reserve(disks.size());
  for (const auto& disk : disks) members.push_back(disk.get());
  DynamicVolumeList found;
  LoadDynamicVolumes(members, found, DetectFileSystem);

  std::vector<CollectedDynamicVolume> out;
  for (auto& volume : found) {
    if (!volume || !volume->Device) continue;
    std::vector<DynamicExtent> extents;
    volume->Device->GetExtents(extents);
    const int32_t dynamicKind = volume->Device->GetKind();

    auto record = std::make_shared<VolumeRecord>();
    record->Kind = kSourceKindDisk;
    record->VolumeKind = kVolumeKindDynamic;
    record->FileSystemTypeCode = volume->FileSystemType;
    record->VolumeName = volume->Label;
    record->DriveLetter = volume->DriveLetter;
    // The record keeps the volume device alive; the member disks it reads belong to `disks`.
    record->DeviceOwner = std::shared_ptr<IStorageDevice>(std::move(volume->Device));
    record->Device = record->DeviceOwner.get();
    for (const DynamicExtent& extent : extents) {
      if (extent.disk == nullptr) continue;
      // The member pointers are those handed in above, so each is one of the listed disks.
      CDiskDevice* disk = nullptr;
      for (size_t i = 0; i < members.size() && disk == nullptr; ++i)
        if (members[i] == extent.disk) disk = disks[i].get();
      if (disk == nullptr) continue;
      AddVolumeExtent(*record, static_cast<int64_t>(extent.start), static_cast<int64_t>(extent.length), disk);
    }
    out.push_back({std::move(record), dynamicKind, volume->SectorCount, volume->DiskGroupName,
                   volume->VolumeName, volume->VolumeGuid});
  }
  return out;
}

void CCollectAllBasicPartitionandDynamicVolume::CollectAllBasicPartitionandDynamicVolume(
    const DiskDeviceList& disks, VolumeRecordList& volumes) {
  if (disks.empty()) return;
  CScopeTimeTrace trace(
      "CCollectAllBasicPartitionandDynamicVolume::CollectAllBasicPartitionandDynamicVolume");

  // Basic volumes. The letters of the run are handed out over the same reading of the tables.
  LogInfo("-----------------------------begin collect basic volume-----------------------------------");
  LogInfo(
      "DriverLetter   FileSystem  StartSector     TotalSectors     ParentDisk: Disk      VolumeLabel\r\n");
  std::map<int, platform::DiskEntry> entries;
  for (platform::DiskEntry& entry : platform::ListDisks()) entries.emplace(entry.number, std::move(entry));
  const CPartitionTableAnalyze analyze = MakePartitionTableAnalyze();
  std::vector<PartitionRecordList> tables(disks.size());
  std::vector<corvale::LetteredVolume> lettered;
  char next = kFirstDriveLetter;
  for (size_t d = 0; d < disks.size(); ++d) {
    analyze.AnalyzeBasicDiskPartitions(disks[d].get(), tables[d]);
    auto entry = entries.find(disks[d]->GetCatalogueNumber());
    if (entry != entries.end())
      LetterDiskVolumes(entry->second, disks[d]->GetSectorSize(), tables[d], &next, &lettered);
  }
  corvale::SetLetteredVolumes(lettered);

  for (size_t d = 0; d < disks.size(); ++d) {
    CDiskDevice* disk = disks[d].get();
    const DiskFacts facts = FactsOf(*disk);
    for (auto& partition : tables[d]) {
      if (!partition->Device) continue;
      auto record = std::make_shared<VolumeRecord>();
      record->Kind = kSourceKindDisk;
      record->VolumeKind = kVolumeKindBasic;
      record->DeviceOwner = std::shared_ptr<IStorageDevice>(std::move(partition->Device));
      record->Device = record->DeviceOwner.get();
      record->Extents[0] = {partition->StartSector, partition->SectorCount, disk};
      record->FileSystemTypeCode = partition->FileSystemType;
      record->VolumeName = partition->Label;
      record->IsUsb = facts.usb ? 1 : 0;
      record->ParentDiskText = facts.description;
      for (const corvale::LetteredVolume& v : lettered) {
        if (v.diskNumber != disk->GetCatalogueNumber() || v.startSector != partition->StartSector) continue;
        record->DriveLetter = v.letter;
        record->DevicePath = v.devicePath;
        record->MountPoint = v.mountPoint;
        break;
      }
      LogInfo("%c  %16s  %16" PRId64 "  %16" PRId64 "  %16d  %20s\r\n",
              record->DriveLetter != 0 ? record->DriveLetter : '*',
              GetFileSystemTypeName(record->FileSystemTypeCode), partition->StartSector,
              partition->SectorCount, CatalogueNumber(disk), record->VolumeName.c_str());
      volumes.push_back(std::move(record));
    }
  }
  LogInfo("-----------------------------end collect basic volume-----------------------------------\r\n");

  // Dynamic volumes.
  LogInfo("-----------------------------begin collect dynamic volume-----------------------------------");
  LogInfo(
      "DriverLetter   FileSystem   DynamicVolumeType   TotalSectors       VolumeLabel      "
      "ParentDiskInfo\r\n");
  // The dynamic volumes take the letters after the basic ones; their own look-ups see the letters of
  // this collection only.
  std::vector<CollectedDynamicVolume> dynamicVolumes = CollectDynamicVolumes(disks);
  LetterDynamicVolumes(dynamicVolumes, &next, &lettered);
  corvale::SetLetteredVolumes(lettered);
  for (CollectedDynamicVolume& dynamic : dynamicVolumes) {
    if (!dynamic.Record || dynamic.Record->Device == nullptr) continue;
    const VolumeRecord& r = *dynamic.Record;
    LogInfo("%c  %16s  %16s  %16" PRId64 "  %20s  %50s\r\n", r.DriveLetter != 0 ? r.DriveLetter : '*',
            GetFileSystemTypeName(r.FileSystemTypeCode), GetDynamicVolumeKindName(dynamic.DynamicKind),
            dynamic.SectorCount, r.VolumeName.c_str(), r.ParentDiskText.c_str());
    volumes.push_back(std::move(dynamic.Record));
  }
  LogInfo("-----------------------------end collect dynamic volume-------------------------------------\r\n");

  CCollectFloppyDiskDevice().CollectFloppyDiskDevice(volumes);
  sort(volumes);
}

void CCollectFloppyDiskDevice::CollectFloppyDiskDevice(VolumeRecordList& volumes) {
  CScopeTimeTrace trace("CCollectFloppyDiskDevice::CollectFloppyDiskDevice");
  for (char letter : {'A', 'B'}) {
    auto device = std::make_shared<CVolumeDevice>(letter);
    const int32_t media = device->GetMediaType();
    if (media == 0 || media == static_cast<int32_t>(platform::kMediaRemovable) ||
        media == static_cast<int32_t>(platform::kMediaFixed))
      return;
    auto record = std::make_shared<VolumeRecord>();
    record->DeviceOwner = device;
    record->Device = device.get();
    record->DriveLetter = letter;
    record->IsFloppy = 1;
    record->DevicePath = device->GetDevicePath();
    const DetectedFileSystem found = DetectFileSystem(*device, 0);
    record->FileSystemTypeCode = found.type;
    record->VolumeName = found.label;
    volumes.push_back(std::move(record));
  }
}

void CCollectAllBasicPartitionandDynamicVolume::sort(VolumeRecordList& volumes) {
  CScopeTimeTrace trace("CCollectAllBasicPartitionandDynamicVolume::sort");
  std::stable_sort(volumes.begin(), volumes.end(), [](const auto& a, const auto& b) {
    return static_cast<unsigned char>(a->DriveLetter) < static_cast<unsigned char>(b->DriveLetter);
  });
  // The letterless records came first; they go behind the lettered ones, in their order.
  const auto firstLettered =
      std::find_if(volumes.begin(), volumes.end(), [](const auto& r) { return r->DriveLetter != 0; });
  std::rotate(volumes.begin(), firstLettered, volumes.end());
}

VolumeRecord* FindVolumeByDriveLetter(char letter, const VolumeRecordList& volumes) {
  for (const auto& r : volumes)
    if (r && r->DriveLetter == letter) return r.get();
  return nullptr;
}

bool IsVolumeOnDriveLetter(const VolumeRecord& record, char letter, const VolumeRecordList& volumes) {
  // No letter names no volume.
  if (record.Kind != 0 || letter == 0) return false;
  if (record.DriveLetter == letter) return true;
  if (record.DriveLetter != 0) return false;
  const VolumeRecord* other = FindVolumeByDriveLetter(letter, volumes);
  if (other == nullptr || other->Kind != 0) return false;
  for (size_t i = 0; i < record.ExtentCount(); ++i) {
    const VolumeExtent& a = record.Extents[i];
    for (size_t j = 0; j < other->ExtentCount(); ++j) {
      const VolumeExtent& b = other->Extents[j];
      if (!SameDisk(a.Disk, b.Disk)) continue;
      // Compared as differences so that no sum of values can overflow.
      const bool aBeforeB = a.FirstSector < b.FirstSector && b.FirstSector - a.FirstSector >= a.SectorCount;
      const bool bBeforeA = b.FirstSector <= a.FirstSector && a.FirstSector - b.FirstSector >= b.SectorCount;
      if (!aBeforeB && !bBeforeA) return true;
    }
  }
  return false;
}
