#pragma once
// The volumes of dynamic disks read as one device each: simple, spanned, striped, RAID-5 and mirror.
// A volume sector is mapped onto its member disks by the extents the LDM database gives.
//
// Rules every device keeps:
// - A read is refused when its start or count is larger than the volume; a read that runs past the
//   end is shortened and the rest of the buffer stays zero.
// - A member disk is never read outside its extent nor past its own end; such sectors read as zeros.
// - A missing member reads as zeros (simple, spanned, striped), is replaced by the other copy
//   (mirror) or is rebuilt from the others by XOR (RAID-5, one member missing at most). A failed
//   member read is treated the same way: the volume stays readable where its data survives.
//
// The devices do not own the member disks; those must outlive every volume device made over them.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/IStorageDevice.h"

// One stretch of a volume on one member disk.
struct DynamicExtent {
  int32_t column = 0;
  // The member disk's identifier as the database writes it (at most 64 characters).
  std::string diskGuid;
  // Sectors of the member disk.
  uint64_t start = 0;
  // Sectors of the volume.
  uint64_t offset = 0;
  uint64_t length = 0;
  // Not owned; null when the member disk was not found.
  IStorageDevice* disk = nullptr;

  bool operator==(const DynamicExtent& o) const {
    return column == o.column && diskGuid == o.diskGuid && start == o.start && offset == o.offset &&
           length == o.length && disk == o.disk;
  }
};

// What the database says of a volume, beyond its extents.
struct DynamicVolumeDescription {
  std::string diskGroupName;  // at most 31 characters
  std::string volumeName;     // at most 127 characters
  int32_t fileSystemType = 7;
  uint64_t sectorCount = 0;
  // Stripe size in device sectors for striped and RAID-5 volumes; 0 takes the usual 64 KiB.
  uint64_t stripeSectors = 0;
};

enum DynamicVolumeKind : int32_t {
  kDynamicSimple = 2,
  kDynamicMirror = 3,
  kDynamicSpanned = 4,
  kDynamicStriped = 5,
  kDynamicRaid5 = 6,
};

// "SIMPLE", "MIRROR", "SPANNED", "STRIPPED", "RAID5"; "UNKNOWN" for anything else.
const char* DynamicVolumeKindName(int32_t kind);

class IDynamicDevice : public IStorageDevice {
 public:
  // True when the other device is the same kind of volume over exactly the same extents.
  virtual bool IsSameVolume(IDynamicDevice* other) = 0;
  virtual int32_t GetKind() const = 0;
  virtual int32_t GetFileSystemType() const = 0;
  // Appends the extents (for a mirror, those of both copies).
  virtual void GetExtents(std::vector<DynamicExtent>& out) const = 0;
  // The letter this run gives the volume (FindDriveLetterOfDynamicVolume of its name and disk
  // group); 0 when it has none yet.
  virtual char GetDriveLetter();
  virtual const DynamicVolumeDescription& GetDescription() const = 0;
};

// The device of `kind` (simple, spanned, striped or RAID-5) over `extents`, or null when the
// members present cannot make one: simple needs exactly one present member, spanned and striped at
// least one, RAID-5 at least two extents with at most one member missing.
std::unique_ptr<IDynamicDevice> CreateDynamicVolumeDevice(int32_t kind,
                                                          const DynamicVolumeDescription& description,
                                                          std::vector<DynamicExtent> extents);
// A mirror over two copies, either of which may be null; null when both are.
std::unique_ptr<IDynamicDevice> CreateMirrorVolumeDevice(const DynamicVolumeDescription& description,
                                                         std::unique_ptr<IDynamicDevice> first,
                                                         std::unique_ptr<IDynamicDevice> second);
