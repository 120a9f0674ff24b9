#include "core/DeviceSelectionState.h"

#include <map>
#include <optional>

#include "core/DiskFingerprint.h"
#include "core/StateIo.h"
#include "core/StateSections.h"
#include "platform/Log.h"
#include "storage/DiskDevice.h"
#include "storage/IStorageDevice.h"

using namespace corvale;

const RSGuid kChosenVolumeSection = RSGuid::FromString("{94F5F416-4317-4567-AE44-15B3214ED998}");
const RSGuid kChosenDiskSection = RSGuid::FromString("{B072A676-0548-468B-BA9E-91093A63B517}");

namespace {

// The fingerprint of the disk behind `device`: its description when it is a disk the system
// describes (an image file has none), and its first sector. Nothing when it cannot be read.
std::optional<DiskFingerprint> FingerprintOf(IStorageDevice* device) {
  if (device == nullptr) return std::nullopt;
  DISK_INFO_RECORD info;
  if (auto* disk = dynamic_cast<CDiskDevice*>(device)) disk->GetDiskInfo(&info);
  DiskFingerprint print;
  if (!MakeDiskFingerprint(info, *device, &print)) return std::nullopt;
  return print;
}

// Fingerprints made during one look-up, so that a disk holding many volumes is read once.
class FingerprintCache {
 public:
  bool Matches(IStorageDevice* device, const DiskFingerprint& saved) {
    auto it = m_prints.find(device);
    if (it == m_prints.end()) it = m_prints.emplace(device, FingerprintOf(device)).first;
    return it->second && *it->second == saved;
  }

 private:
  std::map<IStorageDevice*, std::optional<DiskFingerprint>> m_prints;
};

void WriteFingerprint(IRSData& stream, IStorageDevice* device) {
  // A disk whose first sector cannot be read is described by what is known of it; no disk of a
  // later run can give the same, since its own fingerprint would then fail to be made.
  DiskFingerprint print{};
  if (std::optional<DiskFingerprint> made = FingerprintOf(device))
    print = *made;
  else if (auto* disk = dynamic_cast<CDiskDevice*>(device)) {
    DISK_INFO_RECORD info;
    disk->GetDiskInfo(&info);
    info.Write(print.data());
  }
  stream.Write(print.data(), print.size());
}

// What identifies a volume of a physical disk besides the fingerprints of its disks.
bool SameVolume(const VolumeRecord& a, const VolumeRecord& saved, int savedExtents) {
  if (a.Kind != saved.Kind || a.VolumeKind != saved.VolumeKind ||
      a.FileSystemTypeCode != saved.FileSystemTypeCode || a.IsFloppy != saved.IsFloppy ||
      static_cast<int>(a.ExtentCount()) != savedExtents)
    return false;
  // A floppy drive has no extents: its letter is all that tells it.
  if (savedExtents == 0 && a.DriveLetter != saved.DriveLetter) return false;
  for (int i = 0; i < savedExtents; ++i) {
    if (a.Extents[i].FirstSector != saved.Extents[i].FirstSector ||
        a.Extents[i].SectorCount != saved.Extents[i].SectorCount)
      return false;
  }
  return true;
}

}  // namespace

CDeviceSelectionState::CDeviceSelectionState(IRSData& stream, ImageDeviceOpener openImage)
    : m_stream(stream), m_openImage(std::move(openImage)) {}

bool CDeviceSelectionState::SavePartitionDevice(const VolumeRecord& record) {
  return WriteSection(m_stream, kChosenVolumeSection, [&] {
    uint8_t bytes[VolumeRecord::kSize];
    record.Write(bytes);
    m_stream.Write(bytes, sizeof bytes);
    if (record.Kind != kSourceKindDisk) return;
    for (size_t i = 0; i < record.ExtentCount(); ++i) WriteFingerprint(m_stream, record.Extents[i].Disk);
  });
}

bool CDeviceSelectionState::SaveDiskDevice(const DiskRecord& record) {
  return WriteSection(m_stream, kChosenDiskSection, [&] {
    uint8_t bytes[DiskRecord::kSize];
    record.Write(bytes);
    m_stream.Write(bytes, sizeof bytes);
    if (record.Kind == kSourceKindDisk) WriteFingerprint(m_stream, record.Device);
  });
}

VolumeRecord* CDeviceSelectionState::LoadPartitionDevice(
    const std::vector<VolumeRecord*>& current, std::vector<std::shared_ptr<VolumeRecord>>& openedImages) {
  VolumeRecord saved;
  StoredSlots slots;
  std::vector<DiskFingerprint> prints;
  const bool present = ReadSection(m_stream, kChosenVolumeSection, [&] {
    uint8_t bytes[VolumeRecord::kSize];
    ReadExact(m_stream, bytes, sizeof bytes);
    saved = VolumeRecord::Read(bytes, &slots);
    if (saved.Kind != kSourceKindDisk && saved.Kind != kSourceKindImage) ThrowStateError(RS_ERROR_BAD_DATA);
    if (saved.Kind != kSourceKindDisk) return;
    // At most 32, the slots of the record: the count cannot run away.
    prints.resize(static_cast<size_t>(slots.ExtentsWithDisk));
    for (DiskFingerprint& print : prints) ReadExact(m_stream, print.data(), print.size());
  });
  if (!present) return nullptr;

  if (saved.Kind == kSourceKindImage) {
    for (const auto& image : openedImages)
      if (image && image->Kind == kSourceKindImage && image->ImagePath == saved.ImagePath) return image.get();
    if (!m_openImage || saved.ImagePath.empty()) return nullptr;
    std::shared_ptr<IStorageDevice> device = m_openImage(saved.ImagePath);
    if (!device) return nullptr;
    auto record = std::make_shared<VolumeRecord>(std::move(saved));
    record->DeviceOwner = std::move(device);
    record->Device = record->DeviceOwner.get();
    openedImages.push_back(record);
    return record.get();
  }

  FingerprintCache cache;
  for (VolumeRecord* candidate : current) {
    if (candidate == nullptr || candidate->Kind == kSourceKindSkipped) continue;
    if (!SameVolume(*candidate, saved, slots.ExtentsWithDisk)) continue;
    bool disksMatch = true;
    for (int i = 0; i < slots.ExtentsWithDisk && disksMatch; ++i)
      disksMatch = cache.Matches(candidate->Extents[i].Disk, prints[i]);
    if (disksMatch) return candidate;
  }
  return nullptr;
}

DiskRecord* CDeviceSelectionState::LoadDiskDevice(const std::vector<DiskRecord*>& current,
                                                  std::vector<std::shared_ptr<DiskRecord>>& openedImages) {
  DiskRecord saved;
  DiskFingerprint print{};
  const bool present = ReadSection(m_stream, kChosenDiskSection, [&] {
    uint8_t bytes[DiskRecord::kSize];
    ReadExact(m_stream, bytes, sizeof bytes);
    saved = DiskRecord::Read(bytes);
    // A record that is never chosen is never saved: such a kind is not ours.
    if (saved.Kind != kSourceKindDisk && saved.Kind != kSourceKindImage) ThrowStateError(RS_ERROR_BAD_DATA);
    if (saved.Kind == kSourceKindDisk) ReadExact(m_stream, print.data(), print.size());
  });
  if (!present) return nullptr;

  if (saved.Kind == kSourceKindImage) {
    for (const auto& image : openedImages)
      if (image && image->Kind == kSourceKindImage && image->ImagePath == saved.ImagePath) return image.get();
    if (!m_openImage || saved.ImagePath.empty()) return nullptr;
    std::shared_ptr<IStorageDevice> device = m_openImage(saved.ImagePath);
    if (!device) return nullptr;
    auto record = std::make_shared<DiskRecord>(std::move(saved));
    record->DeviceOwner = std::move(device);
    record->Device = record->DeviceOwner.get();
    openedImages.push_back(record);
    return record.get();
  }

  FingerprintCache cache;
  for (DiskRecord* candidate : current) {
    if (candidate == nullptr || candidate->Kind != kSourceKindDisk) continue;
    if (cache.Matches(candidate->Device, print)) return candidate;
  }
  return nullptr;
}
