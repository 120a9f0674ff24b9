#pragma once
// The LDM database of dynamic disks: the private header near the disk's end and the configuration
// area of 128-byte VBLK records describing volumes, components, partitions and disks. The records
// are linked into volume trees and every complete volume becomes a readable device. Nothing is
// written. See LDM.md for the layout and for what the reader refuses.
//
// Everything read from the database is bounded: record lengths must fit their slots, every field
// must lie inside its record, each object is linked to one parent at most, and no volume reaches a
// member disk outside that disk.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/DynamicVolumeDevice.h"
#include "storage/PartitionTableAnalyze.h"

class IStorageDevice;

// The private header, in host order.
struct LdmPrivateHeader {
  static constexpr size_t kSize = 512;
  uint16_t versionMajor = 0;
  uint16_t versionMinor = 0;
  std::string diskGuid;   // the disk's identifier as text
  std::string groupName;  // the disk group, at most 31 characters
  uint64_t logicalDiskStart = 0;
  uint64_t logicalDiskSize = 0;
  uint64_t configStart = 0;
  uint64_t configSize = 0;
  // Read and kept, not used.
  uint64_t unknown13b = 0;
  uint64_t unknown143 = 0;
  uint64_t unknown153 = 0;
  uint64_t unknown15b = 0;
  uint32_t unknown14b = 0;
  uint32_t unknown14f = 0;
  uint32_t unknown163 = 0;

  // Parses 512 bytes; false when they do not begin with the header's letters.
  bool Parse(const uint8_t* block, size_t size);
};

// The private header of `disk`: at its last sector, at sector 6, at sector 2081, or at the last
// sector of a GPT entry named "LDM metadata partition".
bool FindPrivHead(IStorageDevice* disk, uint8_t (&out)[LdmPrivateHeader::kSize]);

// One dynamic volume as the volume list holds it.
struct DynamicVolumeRecord {
  int64_t SectorCount = 0;
  // DynamicVolumeKindName of the device's kind.
  std::string KindName;
  int32_t FileSystemType = 7;
  // At most 99 bytes.
  std::string Label;
  char DriveLetter = 0;
  std::string VolumeName;
  std::string DiskGroupName;
  std::array<uint8_t, 16> VolumeGuid{};
  std::unique_ptr<IDynamicDevice> Device;
};
using DynamicVolumeList = std::vector<std::unique_ptr<DynamicVolumeRecord>>;

// Reads the database of every disk in `disks` (in order) and appends one record per volume not yet
// in `out`; returns the size of `out`. A disk without a database gives nothing. The member disks of
// every volume are found among `disks`, which must outlive the records. `detect` tells the file
// system at a sector (type, own size, label); a null one recognises nothing.
int LoadDynamicVolumes(const std::vector<IStorageDevice*>& disks, DynamicVolumeList& out,
                       const FileSystemDetector& detect);
