#pragma once
// The device and volume collection the wizard shows before the user picks what to scan: the disks
// of the disk catalogue (physical disks, loop devices, or the image files named by CORVALE_DISKS),
// and every volume on them (basic partitions with or without a letter, dynamic volumes, floppy
// drives), each described by a volume record. The file system of each volume is found by the
// engines' detector. Every step writes its table to the run log; the volume collection is timed.
//
// Letters: the collection hands out the drive letters of this run as it reads the partition tables
// (every volume with a recognised file system, from C upward, in disk and table order) and
// publishes them, so that a volume device can be opened by letter afterwards.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/SourceRecords.h"

class CDiskDevice;
struct DISK_INFO_RECORD;

// The disks found; the list owns them (and so the disks of every volume record made from them).
using DiskDeviceList = std::vector<std::unique_ptr<CDiskDevice>>;
// The volumes found; each record owns its device.
using VolumeRecordList = std::vector<std::shared_ptr<VolumeRecord>>;

class CCollectPhysicalDiskDevice {
 public:
  // Appends every disk of the catalogue that opens, logging the disk table, and hands a summary
  // of them to the usage statistics.
  void CollectPhysicalDiskDevice(DiskDeviceList& disks);
};

class CCollectAllBasicPartitionandDynamicVolume {
 public:
  // Appends the basic partitions and dynamic volumes of `disks` and the floppy drives, then sorts
  // the list. Nothing when `disks` is empty.
  void CollectAllBasicPartitionandDynamicVolume(const DiskDeviceList& disks, VolumeRecordList& volumes);
  // Lettered volumes in letter order, then those without a letter in their earlier order.
  static void sort(VolumeRecordList& volumes);
};

class CCollectFloppyDiskDevice {
 public:
  // Appends A: and then B: while they are floppy drives; stops at the first that is not.
  void CollectFloppyDiskDevice(VolumeRecordList& volumes);
};

// A dynamic volume as the dynamic-disk database gives it: its record (kind 1, file system, label,
// letter, device, extents and parent-disk text, filled with AddVolumeExtent), its layout kind (2
// simple, 3 mirror, 4 spanned, 5 striped, 6 RAID-5), its size, and the names and GUID the database
// knows it by.
struct CollectedDynamicVolume {
  std::shared_ptr<VolumeRecord> Record;
  int32_t DynamicKind = 0;
  int64_t SectorCount = 0;
  std::string GroupName;
  std::string VolumeName;
  std::array<uint8_t, 16> VolumeGuid{};
};

// The dynamic volumes of the dynamic disks among `disks`, each once, as the dynamic-disk database
// describes them: file system and label by the engines' detector, the volume device owned by the
// record, and an extent for every member piece whose disk is present, pointing at that disk.
std::vector<CollectedDynamicVolume> CollectDynamicVolumes(const DiskDeviceList& disks);

// Adds a member extent to a volume record: into the first free of the 32 slots (an extent beyond
// them is dropped, and false returned), and its disk's description line to the parent-disk text,
// once per disk, lines joined by "\n"; the text is cut to fit its 512-byte field.
bool AddVolumeExtent(VolumeRecord& record, int64_t firstSector, int64_t sectorCount, CDiskDevice* disk);

// The description of a disk in the lists and the log: "vendor  product  revision", or "product
// revision" without a vendor (a vendor beginning with '(' counts as none), at most 49 characters.
std::string DiskDescriptionText(const DISK_INFO_RECORD& info);

// The name of a disk that the system does not describe (an image file named as a disk, a loop or
// RAM disk without a model): the last part of the path it is read from. Empty without a path.
std::string DiskFileName(const CDiskDevice& disk);

// True when `description` says nothing (empty, or blanks only).
bool IsBlankDescription(const std::string& description);

// The first record with drive letter `letter`, or null.
VolumeRecord* FindVolumeByDriveLetter(char letter, const VolumeRecordList& volumes);
// Whether `record` is the volume of `letter` or shares sectors with it: false for a record whose
// kind is not 0; true when it has that letter; false when it has another; otherwise true when some
// extent of each lies on the same disk and the two ranges overlap.
bool IsVolumeOnDriveLetter(const VolumeRecord& record, char letter, const VolumeRecordList& volumes);

// What the usage statistics are told of the disks found.
struct DiskUsageSummary {
  int64_t SectorCount = 0;
  int32_t BytesPerSector = 0;
  uint32_t BusType = 0;
  std::u16string Product;
};
// Receives the summary of each disk collection that found a disk. The user interface installs the
// one that reaches the usage-statistics library; by default nothing is told. Returns the previous.
using DiskSummarySink = std::function<void(const std::vector<DiskUsageSummary>&)>;
DiskSummarySink SetDiskSummarySink(DiskSummarySink sink);
