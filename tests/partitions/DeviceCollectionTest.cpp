// The device and volume collection over real disks (image files named by CORVALE_DISKS, and loop
// devices when running as root), held against what sfdisk, blkid and lsblk say of the same disks;
// and the volumes of dynamic disks; and the chosen device of a saved scan found again among the
// disks of a later collection by its fingerprint, with damaged sections refused.

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "DiskTools.h"
#include "core/DeviceCollection.h"
#include "core/DeviceSelectionState.h"
#include "core/MemoryStateStream.h"
#include "core/RSException.h"
#include "platform/Log.h"
#include "storage/DiskDevice.h"
#include "storage/PartitionTableAnalyze.h"
#include "storage/VolumeDevice.h"
#include "storage/VolumeLetters.h"
#include "support/Fixtures.h"
#include "support/LdmImageBuilder.h"

using namespace corvale::test;

namespace {

class DisksVariable {
 public:
  explicit DisksVariable(const std::string& value) { setenv("CORVALE_DISKS", value.c_str(), 1); }
  ~DisksVariable() {
    unsetenv("CORVALE_DISKS");
    corvale::SetLetteredVolumes({});
  }
};

struct Collection {
  DiskDeviceList disks;
  VolumeRecordList volumes;
};

Collection Collect() {
  Collection c;
  CCollectPhysicalDiskDevice().CollectPhysicalDiskDevice(c.disks);
  CCollectAllBasicPartitionandDynamicVolume().CollectAllBasicPartitionandDynamicVolume(c.disks, c.volumes);
  return c;
}

const VolumeRecord* RecordAt(const Collection& c, int disk, int64_t start) {
  for (const auto& v : c.volumes)
    if (v->Extents[0].Disk != nullptr && v->Extents[0].Disk->GetCatalogueNumber() == disk &&
        v->Extents[0].FirstSector == start)
      return v.get();
  return nullptr;
}

std::vector<uint8_t> FileBytes(const std::string& path, uint64_t offset, size_t n) {
  std::vector<uint8_t> bytes(n);
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(n));
  return bytes;
}

TEST(DeviceCollection, ImageFilesListTheirPartitionsWithLettersFileSystemsAndLabels) {
  CORVALE_FIXTURE(primary, "parts_mbr_primary.sh", "parts_mbr_primary.img");
  CORVALE_FIXTURE(extended, "parts_mbr_extended.sh", "parts_mbr_extended.img");
  DisksVariable variable(primary + ":" + extended);
  corvale::log::ScopedCapture log;
  const Collection c = Collect();
  ASSERT_EQ(c.disks.size(), 2u);

  // Every partition the tools see is listed once, with the tools' file system and label; those
  // with a file system have letters from C in disk and table order, ahead of those without.
  char letter = 'C';
  size_t lettered = 0;
  const std::string images[] = {primary, extended};
  for (int d = 0; d < 2; ++d) {
    for (const ToolPartition& p : SfdiskPartitions(images[d])) {
      SCOPED_TRACE(images[d] + " at " + std::to_string(p.start));
      const VolumeRecord* r = RecordAt(c, d, p.start);
      ASSERT_NE(r, nullptr);
      const ToolFileSystem fs = BlkidAt(images[d], p.start);
      EXPECT_EQ(r->FileSystemTypeCode, fs.type);
      EXPECT_EQ(r->VolumeName, fs.label);
      // The size is the file system's own where one was found, which may end a few sectors before
      // its partition does.
      EXPECT_LE(r->Extents[0].SectorCount, p.sectors);
      EXPECT_GE(r->Extents[0].SectorCount, fs.type == 7 ? p.sectors : p.sectors - 8);
      EXPECT_EQ(r->Kind, kSourceKindDisk);
      EXPECT_EQ(r->VolumeKind, kVolumeKindBasic);
      ASSERT_NE(r->Device, nullptr);
      EXPECT_EQ(r->Device->GetSectorCount(), r->Extents[0].SectorCount);
      if (fs.type != 7) {
        EXPECT_EQ(r->DriveLetter, letter++);
        EXPECT_EQ(c.volumes[lettered++].get(), r);
      } else {
        EXPECT_EQ(r->DriveLetter, 0);
      }
    }
  }
  ASSERT_GE(lettered, 4u);
  for (size_t i = lettered; i < c.volumes.size(); ++i) EXPECT_EQ(c.volumes[i]->DriveLetter, 0);

  // The log tables, row by row as the run log shows them.
  EXPECT_TRUE(log.Has("Disk    TotalSectors       Cylinders    Heads    Sectors/Track     DIskInfo"));
  EXPECT_TRUE(
      log.Has("-----------------------------begin collect basic volume-----------------------------------"));
  EXPECT_TRUE(log.Has(
      "-----------------------------end collect dynamic volume-------------------------------------\r\n"));
  const VolumeRecord& first = *c.volumes[0];
  char row[256];
  std::snprintf(row, sizeof row, "%c  %16s  %16" PRId64 "  %16" PRId64 "  %16d  %20s\r\n", 'C',
                GetFileSystemTypeName(first.FileSystemTypeCode), first.Extents[0].FirstSector,
                first.Extents[0].SectorCount, 0, first.VolumeName.c_str());
  EXPECT_TRUE(log.Has(row)) << row;
  EXPECT_TRUE(
      log.HasPart("CCollectAllBasicPartitionandDynamicVolume::CollectAllBasicPartitionandDynamicVolume "
                  "dwElapsedTime "));

  // A volume opened by its letter reads the partition's own sectors, and stops at its end.
  const VolumeRecord* d = FindVolumeByDriveLetter('D', c.volumes);
  ASSERT_NE(d, nullptr);
  CVolumeDevice byLetter('D');
  ASSERT_TRUE(byLetter.IsOpened());
  EXPECT_EQ(byLetter.GetSectorCount(), d->Extents[0].SectorCount);
  std::vector<uint8_t> sector(512);
  ASSERT_TRUE(byLetter.ReadSectors(sector.data(), 1, 1));
  EXPECT_EQ(sector, FileBytes(primary, uint64_t(d->Extents[0].FirstSector + 1) * 512, 512));
  EXPECT_FALSE(byLetter.ReadSectors(sector.data(), uint64_t(d->Extents[0].SectorCount), 1));
  EXPECT_TRUE(IsVolumeOnDriveLetter(*d, 'D', c.volumes));
  EXPECT_FALSE(IsVolumeOnDriveLetter(*d, 'C', c.volumes));
}

std::vector<uint8_t> WholeFile(const std::string& path) {
  return FileBytes(path, 0, static_cast<size_t>(std::filesystem::file_size(path)));
}

TEST(DeviceCollection, DynamicDisksListEachVolumeOnceOverItsMemberDisks) {
  for (const char* tool : {"sfdisk", "mke2fs", "mkfs.fat", "blkid"})
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  namespace ldm = corvale::test::ldm;
  constexpr uint64_t kDiskSectors = 24576, kLogical = 63;
  const std::string dir = ScratchDir();

  // Two dynamic disks, one partition of type 0x42 each, and the file systems of two volumes: an
  // Ext2 spanned over both disks and a FAT16 simple volume on the second.
  const std::string ext2 = dir + "/span.img", fat = dir + "/simple.img";
  ASSERT_EQ(RunCommand("truncate -s 4M '" + ext2 + "' && mke2fs -q -F -t ext2 -b 1024 -L SpanLabel '" + ext2 +
                       "' >/dev/null 2>&1"),
            0);
  ASSERT_EQ(RunCommand("truncate -s 4M '" + fat + "' && mkfs.fat -F 16 -S 512 -s 1 -n SIMPLEVOL '" + fat +
                       "' >/dev/null 2>&1"),
            0);
  const std::vector<uint8_t> span = WholeFile(ext2), simple = WholeFile(fat);
  const uint64_t spanSectors = span.size() / 512, simpleSectors = simple.size() / 512;
  const uint64_t firstPiece = 5000, secondPiece = spanSectors - firstPiece;

  std::vector<std::string> images;
  for (int i = 0; i < 2; ++i) {
    const std::string path = dir + "/dynamic" + std::to_string(i) + ".img";
    ASSERT_EQ(RunCommand("truncate -s " + std::to_string(kDiskSectors * 512) + " '" + path +
                         "' && printf 'label: dos\\nstart=63, type=42\\n' | sfdisk --quiet --no-reread "
                         "--no-tell-kernel '" +
                         path + "' >/dev/null 2>&1"),
              0);
    images.push_back(path);
  }
  auto lay = [](const std::string& path, uint64_t sector, const uint8_t* data, uint64_t count) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(sector * 512));
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count * 512));
    return f.good();
  };
  ASSERT_TRUE(lay(images[0], kLogical, span.data(), firstPiece));
  ASSERT_TRUE(lay(images[1], kLogical, span.data() + firstPiece * 512, secondPiece));
  ASSERT_TRUE(lay(images[1], kLogical + secondPiece, simple.data(), simpleSectors));

  ldm::Description d;
  for (uint64_t i = 0; i < 2; ++i)
    d.disks.push_back({0x10 + i, "Disk" + std::to_string(i + 1),
                       "5c1a7e40-91c4-11e0-8a3b-00155d01020" + std::to_string(i)});
  d.volumes.push_back({0x20, "Volume1", 3, 0x83, spanSectors, {}, 1, ""});
  d.components.push_back({0x21, "Volume1-01", 2, 0x20, 2});
  d.partitions.push_back({0x22, "Disk1-01", 0, 0, firstPiece, 0x21, 0x10});
  d.partitions.push_back({0x23, "Disk2-01", 0, firstPiece, secondPiece, 0x21, 0x11});
  d.volumes.push_back({0x30, "Volume2", 3, 0x06, simpleSectors, {}, 1, ""});
  d.components.push_back({0x31, "Volume2-01", 2, 0x30, 1});
  d.partitions.push_back({0x32, "Disk2-02", secondPiece, 0, simpleSectors, 0x31, 0x11});
  const auto slots = ldm::VblkSlots(d);
  for (size_t i = 0; i < 2; ++i) {
    ldm::Header h;
    h.diskGuid = d.disks[i].guid;
    h.logicalStart = kLogical;
    h.configStart = kDiskSectors - 2048;
    h.logicalSize = h.configStart - kLogical;
    ASSERT_TRUE(ldm::WriteDatabase(images[i], h, slots, true));
  }

  DisksVariable variable(images[0] + ":" + images[1]);
  corvale::log::ScopedCapture log;
  const Collection c = Collect();
  ASSERT_EQ(c.disks.size(), 2u);
  std::map<std::string, const VolumeRecord*> dynamic;
  for (const auto& v : c.volumes)
    if (v->VolumeKind == kVolumeKindDynamic) {
      EXPECT_EQ(dynamic.count(v->VolumeName), 0u) << v->VolumeName;
      dynamic[v->VolumeName] = v.get();
    }
  ASSERT_EQ(dynamic.size(), 2u);

  struct Expected {
    std::string flat;
    const std::vector<uint8_t>* bytes;
    std::vector<VolumeExtent> extents;
    std::string parents;
    const char* kind;
    char letter;
  };
  CDiskDevice* disk0 = c.disks[0].get();
  CDiskDevice* disk1 = c.disks[1].get();
  // Each parent disk by its description, or, for these image files that the system does not
  // describe, by its file's name.
  const auto parentName = [](CDiskDevice* disk) {
    DISK_INFO_RECORD info;
    disk->GetDiskInfo(&info);
    const std::string description = DiskDescriptionText(info);
    return IsBlankDescription(description) ? std::filesystem::path(disk->GetDevicePath()).filename().string()
                                           : description;
  };
  const Expected expected[] = {
      {ext2,
       &span,
       {{int64_t(kLogical), int64_t(firstPiece), disk0}, {int64_t(kLogical), int64_t(secondPiece), disk1}},
       parentName(disk0) + "\n" + parentName(disk1),
       "SPANNED",
       'C'},
      {fat,
       &simple,
       {{int64_t(kLogical + secondPiece), int64_t(simpleSectors), disk1}},
       parentName(disk1),
       "SIMPLE",
       'D'},
  };
  for (const Expected& e : expected) {
    const ToolFileSystem fs = BlkidAt(e.flat, 0);
    SCOPED_TRACE(fs.label);
    ASSERT_EQ(dynamic.count(fs.label), 1u);
    const VolumeRecord& r = *dynamic[fs.label];
    EXPECT_EQ(r.Kind, kSourceKindDisk);
    EXPECT_EQ(r.FileSystemTypeCode, fs.type);
    // No basic volume is there: the dynamic volumes take the letters from C, in the database's order.
    EXPECT_EQ(r.DriveLetter, e.letter);
    ASSERT_EQ(r.ExtentCount(), e.extents.size());
    for (size_t i = 0; i < e.extents.size(); ++i) {
      EXPECT_EQ(r.Extents[i].FirstSector, e.extents[i].FirstSector);
      EXPECT_EQ(r.Extents[i].SectorCount, e.extents[i].SectorCount);
      EXPECT_EQ(r.Extents[i].Disk, e.extents[i].Disk);
    }
    EXPECT_EQ(r.ParentDiskText, e.parents);

    // The record owns its device, which reads the volume's own bytes and nothing past its end.
    ASSERT_NE(r.Device, nullptr);
    EXPECT_EQ(r.DeviceOwner.get(), r.Device);
    ASSERT_EQ(uint64_t(r.Device->GetSectorCount()) * 512, e.bytes->size());
    std::vector<uint8_t> read(e.bytes->size());
    ASSERT_TRUE(r.Device->ReadSectors(read.data(), 0, r.Device->GetSectorCount()));
    EXPECT_TRUE(read == *e.bytes);

    char row[512];
    std::snprintf(row, sizeof row, "%c  %16s  %16s  %16" PRId64 "  %20s  %50s\r\n", e.letter,
                  GetFileSystemTypeName(fs.type), e.kind, r.Device->GetSectorCount(), fs.label.c_str(),
                  e.parents.c_str());
    EXPECT_TRUE(log.Has(row)) << row;
  }
  // Lettered volumes come first, in letter order.
  ASSERT_GE(c.volumes.size(), 2u);
  EXPECT_EQ(c.volumes[0]->DriveLetter, 'C');
  EXPECT_EQ(c.volumes[1]->DriveLetter, 'D');
}

// What lsblk reports of one block device: size in bytes, file-system type and label (the last two
// empty where the system keeps no device database).
struct LsblkRow {
  uint64_t size = 0;
  std::string fstype;
  std::string label;
};
LsblkRow Lsblk(const std::string& device) {
  std::string out;
  RunCommand("lsblk -b -d -n -P -o SIZE,FSTYPE,LABEL '" + device + "'", &out);
  LsblkRow row;
  auto field = [&out](const std::string& name) {
    const size_t at = out.find(name + "=\"");
    if (at == std::string::npos) return std::string();
    const size_t start = at + name.size() + 2;
    return out.substr(start, out.find('"', start) - start);
  };
  row.size = std::strtoull(field("SIZE").c_str(), nullptr, 10);
  row.fstype = field("FSTYPE");
  row.label = field("LABEL");
  return row;
}

TEST(DeviceCollection, LoopDevicesListWhatLsblkShows) {
  CORVALE_REQUIRE_ROOT();
  if (!HaveTool("lsblk") || !HaveTool("mke2fs")) GTEST_SKIP() << "lsblk or mke2fs missing";
  CORVALE_FIXTURE(primary, "parts_mbr_primary.sh", "parts_mbr_primary.img");
  const std::string dir = ScratchDir();
  // Two whole-disk file systems besides the partitioned disk.
  const std::string ext = dir + "/ext2.img", ext3 = dir + "/ext3.img";
  ASSERT_EQ(RunCommand("truncate -s 8M '" + ext + "' && mke2fs -q -F -t ext2 -L loopext '" + ext + "'"), 0);
  ASSERT_EQ(RunCommand("truncate -s 12M '" + ext3 + "' && mke2fs -q -F -t ext3 -L loopext3 '" + ext3 + "'"),
            0);
  LoopDevice partitioned(primary), whole1(ext), whole2(ext3);
  if (!partitioned.ok() || !whole1.ok() || !whole2.ok())
    GTEST_SKIP() << partitioned.error() << whole1.error();
  const std::string loops[] = {partitioned.path(), whole1.path(), whole2.path()};
  DisksVariable variable(loops[0] + ":" + loops[1] + ":" + loops[2]);
  const Collection c = Collect();
  ASSERT_EQ(c.disks.size(), 3u);

  for (int d = 0; d < 3; ++d) {
    SCOPED_TRACE(loops[d]);
    const LsblkRow disk = Lsblk(loops[d]);
    EXPECT_EQ(uint64_t(c.disks[d]->GetSectorCount()) * uint64_t(c.disks[d]->GetSectorSize()), disk.size);
  }
  // The whole-disk volumes: the loop device is the volume, and lsblk (or, without a device
  // database, blkid) names its file system and label.
  const std::string images[] = {primary, ext, ext3};
  for (int d = 1; d < 3; ++d) {
    SCOPED_TRACE(loops[d]);
    const VolumeRecord* r = RecordAt(c, d, 0);
    ASSERT_NE(r, nullptr);
    const LsblkRow row = Lsblk(loops[d]);
    EXPECT_EQ(uint64_t(r->Extents[0].SectorCount) * 512, row.size);
    const ToolFileSystem fs = BlkidAt(images[d], 0);
    if (!row.fstype.empty()) {
      EXPECT_EQ(row.fstype == "ext2" ? 4 : row.fstype == "ext3" ? 5 : -1, fs.type);
    }
    EXPECT_EQ(r->FileSystemTypeCode, fs.type);
    EXPECT_EQ(r->VolumeName, row.label.empty() ? fs.label : row.label);
    EXPECT_EQ(r->DevicePath, loops[d]);
    ASSERT_NE(r->DriveLetter, 0);
    CVolumeDevice byLetter(r->DriveLetter);
    EXPECT_TRUE(byLetter.IsOpened());
    EXPECT_EQ(byLetter.GetDevicePath(), loops[d]);
  }
  // The partitions of the partitioned loop device, as sfdisk and blkid read them.
  char letter = 'C';
  for (const ToolPartition& p : SfdiskPartitions(primary)) {
    const VolumeRecord* r = RecordAt(c, 0, p.start);
    ASSERT_NE(r, nullptr);
    EXPECT_LE(r->Extents[0].SectorCount, p.sectors);
    const ToolFileSystem fs = BlkidAt(primary, p.start);
    EXPECT_EQ(r->FileSystemTypeCode, fs.type);
    EXPECT_EQ(r->VolumeName, fs.label);
    if (fs.type != 7) {
      EXPECT_EQ(r->DriveLetter, letter++);
    }
  }
}

// A copy of `image` with bytes changed, named `name` in `dir`.
std::string ChangedCopy(const std::string& image, const std::string& dir, const std::string& name,
                        uint64_t offset, const std::vector<uint8_t>& bytes) {
  const std::string copy = dir + "/" + name;
  std::filesystem::copy_file(image, copy, std::filesystem::copy_options::overwrite_existing);
  std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return copy;
}

std::vector<VolumeRecord*> Pointers(const VolumeRecordList& list) {
  std::vector<VolumeRecord*> out;
  for (const auto& r : list) out.push_back(r.get());
  return out;
}

std::vector<std::shared_ptr<DiskRecord>> DiskRecords(const DiskDeviceList& disks) {
  std::vector<std::shared_ptr<DiskRecord>> out;
  for (const auto& d : disks) {
    auto r = std::make_shared<DiskRecord>();
    r->Device = d.get();
    r->DiskNumber = d->GetCatalogueNumber();
    out.push_back(r);
  }
  return out;
}
std::vector<DiskRecord*> Pointers(const std::vector<std::shared_ptr<DiskRecord>>& list) {
  std::vector<DiskRecord*> out;
  for (const auto& r : list) out.push_back(r.get());
  return out;
}

TEST(DeviceSelectionState, TheChosenDeviceIsFoundAgainByItsFingerprintAndNoOtherIs) {
  CORVALE_FIXTURE(primary, "parts_mbr_primary.sh", "parts_mbr_primary.img");
  const std::string dir = ScratchDir();
  // The same disk after its partition table was rewritten, and disks of the same size and layout
  // that are not it: another disk signature, other contents at the start.
  const std::string rewritten = ChangedCopy(primary, dir, "rewritten.img", 446 + 8, {0x40, 0, 0, 0});
  const std::string otherSignature = ChangedCopy(primary, dir, "signature.img", 440, {1, 2, 3, 4});
  const std::string otherBoot = ChangedCopy(primary, dir, "boot.img", 0, {0xEB, 0x58, 0x90});

  MemoryStateStream stream;
  {
    DisksVariable variable(primary);
    const Collection c = Collect();
    const VolumeRecord* chosen = FindVolumeByDriveLetter('D', c.volumes);
    ASSERT_NE(chosen, nullptr);
    CDeviceSelectionState state(stream);
    ASSERT_TRUE(state.SavePartitionDevice(*chosen));
    ASSERT_TRUE(state.SaveDiskDevice(*DiskRecords(c.disks)[0]));
  }
  EXPECT_EQ(stream.Section(kChosenVolumeSection).size(), VolumeRecord::kSize + 5400);
  EXPECT_EQ(stream.Section(kChosenDiskSection).size(), DiskRecord::kSize + 5400);
  stream.StartReading();

  struct Case {
    const char* what;
    std::string disks;  // CORVALE_DISKS of the later run
    int expectedDisk;   // the catalogue number the chosen device is found on, -1 none
  };
  const Case cases[] = {
      {"the same disk, listed second", otherSignature + ":" + primary, 1},
      {"the disk with its table rewritten", rewritten, 0},
      {"only a disk with another signature", otherSignature, -1},
      {"only a disk with other boot code", otherBoot, -1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    DisksVariable variable(k.disks);
    const Collection c = Collect();
    std::vector<std::shared_ptr<VolumeRecord>> openedVolumes;
    std::vector<std::shared_ptr<DiskRecord>> openedDisks;
    CDeviceSelectionState state(stream);
    const VolumeRecord* volume = state.LoadPartitionDevice(Pointers(c.volumes), openedVolumes);
    const auto diskRecords = DiskRecords(c.disks);
    const DiskRecord* disk = state.LoadDiskDevice(Pointers(diskRecords), openedDisks);
    EXPECT_TRUE(openedVolumes.empty());
    EXPECT_TRUE(openedDisks.empty());
    if (k.expectedDisk < 0) {
      EXPECT_EQ(volume, nullptr);
      EXPECT_EQ(disk, nullptr);
      continue;
    }
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->Extents[0].FirstSector, 32130);
    EXPECT_EQ(volume->Extents[0].Disk->GetCatalogueNumber(), k.expectedDisk);
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(disk->DiskNumber, k.expectedDisk);
  }
}

TEST(DeviceSelectionState, AnImageVolumeIsFoundByItsPathOrOpenedOnce) {
  MemoryStateStream stream;
  VolumeRecord image;
  image.Kind = kSourceKindImage;
  image.ImagePath = "/images/one.kbi";
  image.DisplayName = "disk one";
  CDeviceSelectionState(stream).SavePartitionDevice(image);
  stream.StartReading();

  int opened = 0;
  auto opener = [&opened](const std::string& path) -> std::shared_ptr<IStorageDevice> {
    ++opened;
    if (path != "/images/one.kbi") return nullptr;
    return std::make_shared<CDiskDevice>(std::string("/nonexistent"));
  };
  std::vector<std::shared_ptr<VolumeRecord>> images;
  VolumeRecord* found = CDeviceSelectionState(stream, opener).LoadPartitionDevice({}, images);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(opened, 1);
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].get(), found);
  EXPECT_NE(found->Device, nullptr);
  EXPECT_EQ(found->DisplayName, "disk one");
  // A second restore finds the image already open.
  EXPECT_EQ(CDeviceSelectionState(stream, opener).LoadPartitionDevice({}, images), found);
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(images.size(), 1u);
}

TEST(DeviceSelectionState, DamagedSectionsEndInTheStreamErrorAndChangeNothing) {
  CORVALE_FIXTURE(primary, "parts_mbr_primary.sh", "parts_mbr_primary.img");
  DisksVariable variable(primary);
  const Collection c = Collect();
  const VolumeRecord* chosen = FindVolumeByDriveLetter('C', c.volumes);
  ASSERT_NE(chosen, nullptr);
  MemoryStateStream saved;
  CDeviceSelectionState(saved).SavePartitionDevice(*chosen);
  CDeviceSelectionState(saved).SaveDiskDevice(*DiskRecords(c.disks)[0]);
  const std::vector<uint8_t> volumeBytes = saved.Section(kChosenVolumeSection);
  const std::vector<uint8_t> diskBytes = saved.Section(kChosenDiskSection);

  struct Forged {
    std::string what;
    const RSGuid* section;
    std::vector<uint8_t> bytes;
  };
  std::vector<Forged> forged;
  auto changed = [](std::vector<uint8_t> bytes, size_t offset, uint8_t value) {
    bytes[offset] = value;
    return bytes;
  };
  // A record announcing more extents (and so more fingerprints) than follow.
  forged.push_back(
      {"a second extent slot set", &kChosenVolumeSection, changed(volumeBytes, 125 + 20 + 16, 1)});
  forged.push_back({"a volume kind no writer makes", &kChosenVolumeSection, changed(volumeBytes, 0, 9)});
  forged.push_back({"a disk kind never chosen", &kChosenDiskSection, changed(diskBytes, 0, 2)});
  std::vector<uint8_t> longer = volumeBytes;
  longer.push_back(0);
  forged.push_back({"a byte left over", &kChosenVolumeSection, longer});
  for (size_t cut = 0; cut < volumeBytes.size(); ++cut)
    forged.push_back({"volume cut at " + std::to_string(cut), &kChosenVolumeSection,
                      std::vector<uint8_t>(volumeBytes.begin(), volumeBytes.begin() + cut)});
  for (size_t cut = 0; cut < diskBytes.size(); ++cut)
    forged.push_back({"disk cut at " + std::to_string(cut), &kChosenDiskSection,
                      std::vector<uint8_t>(diskBytes.begin(), diskBytes.begin() + cut)});

  const auto diskRecords = DiskRecords(c.disks);
  for (const Forged& f : forged) {
    SCOPED_TRACE(f.what);
    MemoryStateStream stream;
    stream.Section(*f.section) = f.bytes;
    stream.StartReading();
    auto keptVolume = std::make_shared<VolumeRecord>();
    auto keptDisk = std::make_shared<DiskRecord>();
    std::vector<std::shared_ptr<VolumeRecord>> volumes = {keptVolume};
    std::vector<std::shared_ptr<DiskRecord>> disks = {keptDisk};
    int opened = 0;
    CDeviceSelectionState state(stream, [&opened](const std::string&) {
      ++opened;
      return std::shared_ptr<IStorageDevice>();
    });
    try {
      if (f.section == &kChosenVolumeSection)
        state.LoadPartitionDevice(Pointers(c.volumes), volumes);
      else
        state.LoadDiskDevice(Pointers(diskRecords), disks);
      ADD_FAILURE() << "accepted";
    } catch (const CRSException& e) {
      EXPECT_TRUE(e.GetCode() == RS_ERROR_SHORT_READ || e.GetCode() == RS_ERROR_BAD_DATA) << e.GetCode();
    }
    EXPECT_EQ(opened, 0);
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes[0], keptVolume);
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0], keptDisk);
  }
}

}  // namespace
