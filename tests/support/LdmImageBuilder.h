#pragma once
// Writes the LDM database of a dynamic disk, since no tool on this system does: the private header
// (at the disk's last sector, and on MBR disks also at sector 6), two TOC blocks, the VMDB block and
// the VBLK records of a description of disks, volumes, components and partitions. All numbers of
// the database are big-endian; records longer than one 128-byte slot continue in further slots.
//
// Layout of the configuration area written here (sectors from its start):
//   1, 2   "TOCBLOCK"
//   17     "VMDB"
//   18...  VBLK slots, 128 bytes each, one record after another

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace corvale::test::ldm {

constexpr size_t kSlot = 128;

struct DiskRecord {
  uint64_t id = 0;
  std::string name;
  std::string guid;  // text; for the second revision, 36 characters of hex and dashes
  bool secondRevision = false;
};

struct VolumeRecord {
  uint64_t id = 0;
  std::string name;
  uint8_t volumeType = 3;  // 3 generic, 4 RAID-5
  uint8_t partitionType = 0x07;
  uint64_t size = 0;  // 512-byte units
  std::array<uint8_t, 16> guid{};
  uint64_t components = 1;
  std::string driveHint;  // written (flags 2) when not empty
};

struct ComponentRecord {
  uint64_t id = 0;
  std::string name;
  uint8_t type = 2;  // 1 striped, 2 concatenated, 3 RAID-5
  uint64_t volume = 0;
  uint64_t partitions = 1;
  uint64_t stripe = 0;  // 512-byte units; written with the column count (flags 0x10) when nonzero
  uint64_t columns = 0;
};

struct PartitionRecord {
  uint64_t id = 0;
  std::string name;
  uint64_t start = 0;   // 512-byte units from the logical disk start
  uint64_t offset = 0;  // 512-byte units within the volume
  uint64_t size = 0;
  uint64_t component = 0;
  uint64_t disk = 0;
  int32_t column = -1;  // written (flags 0x08) when not negative
};

struct Description {
  std::vector<DiskRecord> disks;
  std::vector<VolumeRecord> volumes;
  std::vector<ComponentRecord> components;
  std::vector<PartitionRecord> partitions;
};

struct Header {
  std::string diskGuid;
  std::string group = "CorvaleDg0";
  uint64_t logicalStart = 63;
  uint64_t logicalSize = 0;
  uint64_t configStart = 0;
  uint64_t configSize = 2048;
};

// A record cut into slots: its first slot holds 104 data bytes, every further slot 112.
std::vector<std::array<uint8_t, kSlot>> Slots(uint32_t group, uint32_t sequence, uint8_t type, uint8_t flags,
                                              const std::vector<uint8_t>& data);
// The record data of each kind, and its flags.
std::vector<uint8_t> VolumeData(const VolumeRecord& v);
std::vector<uint8_t> ComponentData(const ComponentRecord& c);
std::vector<uint8_t> PartitionData(const PartitionRecord& p);
std::vector<uint8_t> DiskData(const DiskRecord& d);

// Every record of the description as VBLK slots, in the order disks, volumes, components,
// partitions; groups numbered from 1.
std::vector<uint8_t> VblkSlots(const Description& d);
// The 512-byte private header.
std::vector<uint8_t> PrivHead(const Header& h);

// Writes the database into a 512-byte-sector disk image held in memory or in a file: the private
// header at the last sector (and at sector 6 when `copyAtSix`), the configuration area at
// h.configStart. `slots` replaces the description's VBLK slots when given.
void WriteDatabase(std::vector<uint8_t>& disk, const Header& h, const std::vector<uint8_t>& slots,
                   bool copyAtSix = false, uint64_t headerSector = UINT64_MAX);
bool WriteDatabase(const std::string& path, const Header& h, const std::vector<uint8_t>& slots,
                   bool copyAtSix = false, uint64_t headerSector = UINT64_MAX);

// Sector of the configuration area where the VBLK slots begin.
constexpr uint64_t kFirstVblkSector = 18;

// A volume for WriteDynamicDisks: the bytes of a file system made by its own tool, laid over the
// pieces given in order, each (disk index, sectors). One piece makes a simple volume, more a spanned
// one.
struct PlacedVolume {
  std::string name;
  std::vector<uint8_t> bytes;  // whole 512-byte sectors
  std::vector<std::pair<size_t, uint64_t>> pieces;
  uint8_t partitionType = 0x07;
  std::array<uint8_t, 16> guid{};
};

// The disk group WriteDynamicDisks writes, and the identifier text of its disk `index`.
constexpr const char* kDynamicGroup = "CorvaleDg0";
std::string DynamicDiskGuid(size_t index);

// Makes one dynamic MBR disk of `diskSectors` sectors at each of `paths` (sfdisk: one partition of
// type 0x42 from sector 63), lays the volumes' bytes onto them (each disk's pieces one after
// another from sector 63), and writes the same LDM database onto every disk (private header at the
// last sector and at sector 6, configuration area in the last 2,048 sectors). `why` says what
// failed.
bool WriteDynamicDisks(const std::vector<std::string>& paths, uint64_t diskSectors,
                       const std::vector<PlacedVolume>& volumes, std::string* why = nullptr);

}  // namespace corvale::test::ldm
