#pragma once
// The records of the source lists: one disk (or opened disk image) of the disk lists, one volume (or
// opened image) of the volume lists. The device collection fills them, the device-selection steps
// show and keep them, and a saved scan stores the chosen one whole, in a fixed layout: 548 bytes
// for a disk record, 1277 for a volume record.
//
// In memory the records hold real pointers and texts; Write and Read turn them into the stored
// layout field by field, little-endian. A pointer slot is stored as 1 when the pointer is set and 0
// when it is not, never as an address: an address means nothing to a later run, which finds its
// devices again by their fingerprints.
//
// Stored volume record (kind 0, a volume of a physical disk or a floppy drive):
//   0 kind | 4 device slot | 8 volume kind (0 basic or floppy, 1 dynamic) | 12 file-system code |
//   16 drive letter (0 none) | 17 label[100] | 117 floppy flag | 121 USB flag |
//   125 32 extents of 20 bytes: first sector u64, sector count u64, disk slot u32 |
//   765 parent-disk text[512]: one line per parent disk, joined by "\n"
// Stored volume record (kind 1, a volume read from a disk image):
//   0 kind | 4 device slot | 8 running number | 12 display name[260] | 272 sector count u64 |
//   280 image path[260] | 540 file-system code
// Stored disk record (kind 0, a physical disk; 2, one the lists show but that is never chosen):
//   0 kind | 4 device slot | 8 disk number | 12 USB flag | 16 device slot | 20 display text[260] |
//   544 image-source flag
// Stored disk record (kind 1, an opened disk image):
//   0 kind | 4 device slot | 8 source disk number | 12 running number | 16 display name[260] |
//   276 sector count u64 | 284 image path[260] | 544 image-source flag
// Fields not listed are 0. Texts are NUL-terminated; a longer text is cut (never inside a UTF-8
// sequence) so that its terminator fits.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "storage/FileSystemCode.h"

class IStorageDevice;
class CDiskDevice;

inline constexpr int32_t kSourceKindDisk = 0;
inline constexpr int32_t kSourceKindImage = 1;
// A disk-list entry that is shown but never taken as the source (and never matched on restore).
inline constexpr int32_t kSourceKindSkipped = 2;

inline constexpr int32_t kVolumeKindBasic = 0;
inline constexpr int32_t kVolumeKindDynamic = 1;

// The pointer slots as they were stored: which pointers were set when the record was written.
struct StoredSlots {
  bool Device = false;
  // The extents that had a disk; the extents of a stored volume end at the first one without.
  int ExtentsWithDisk = 0;
};

struct DiskRecord {
  static constexpr size_t kSize = 548;
  static constexpr size_t kTextSize = 260;

  int32_t Kind = kSourceKindDisk;    // 0 a physical disk, 1 an opened disk image, 2 never chosen
  IStorageDevice* Device = nullptr;  // the disk or image device; owned by DeviceOwner when set
  // A disk: its number in the disk catalogue. An image: the number of the disk it was made from.
  int32_t DiskNumber = -1;
  int32_t IsUsb = 0;          // nonzero for a disk on USB
  std::string DisplayText;    // a disk's model; an image's source name
  int32_t RunningNumber = 0;  // an image: its place among the opened images
  int64_t SectorCount = 0;    // an image: its size in sectors
  std::string ImagePath;      // an image's descriptor file
  int32_t IsImageSource = 0;  // nonzero when the disk is read through an image of it

  // Holds Device alive when the record owns it (an opened image).
  std::shared_ptr<IStorageDevice> DeviceOwner;

  void Write(uint8_t* out) const;  // kSize bytes
  // A record whose pointers are null; `slots` (may be null) receives what the stored slots said.
  static DiskRecord Read(const uint8_t* in, StoredSlots* slots = nullptr);
};

struct VolumeExtent {
  int64_t FirstSector = 0;
  int64_t SectorCount = 0;
  CDiskDevice* Disk = nullptr;  // the parent disk; owned by the disk list
};

struct VolumeRecord {
  static constexpr size_t kSize = 1277;
  static constexpr size_t kLabelSize = 100;
  static constexpr size_t kMaxExtents = 32;
  static constexpr size_t kParentTextSize = 512;
  static constexpr size_t kImageTextSize = 260;

  int32_t Kind = 0;                  // 1 a volume of an opened disk image; 0 any other volume
  IStorageDevice* Device = nullptr;  // the volume's device; owned by DeviceOwner when set
  int32_t VolumeKind = kVolumeKindBasic;
  int32_t FileSystemTypeCode = kFileSystemUnknown;
  char DriveLetter = 0;    // 0 when the volume has none
  std::string VolumeName;  // the label
  int32_t IsFloppy = 0;
  int32_t IsUsb = 0;  // the parent disk is on USB
  std::array<VolumeExtent, kMaxExtents> Extents{};
  std::string ParentDiskText;

  // A volume of an opened disk image.
  int32_t RunningNumber = 0;
  std::string DisplayName;  // an image's source name
  int64_t SectorCount = 0;
  std::string ImagePath;  // an image's descriptor file

  // Where the system shows the volume, for the user to recognise it; not stored.
  std::string DevicePath;
  std::string MountPoint;

  // Holds Device alive when the record owns it (the collection's partition windows and volume
  // devices, an opened image).
  std::shared_ptr<IStorageDevice> DeviceOwner;

  // The number of extents in use: they end at the first one without a disk.
  size_t ExtentCount() const;

  void Write(uint8_t* out) const;  // kSize bytes
  static VolumeRecord Read(const uint8_t* in, StoredSlots* slots = nullptr);
};
