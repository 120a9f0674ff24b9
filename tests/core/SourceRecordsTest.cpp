// The disk and volume records of the source lists: their stored layouts byte for byte (pointer
// slots stored as 1 or 0), reading back, texts cut to their fields, the extents of a volume kept to
// their 32 slots, the sort of the volume list and the questions asked of it by drive letter.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/DeviceCollection.h"
#include "core/SourceRecords.h"
#include "storage/DiskDevice.h"
#include "storage/MemoryDevice.h"

namespace {

uint32_t At32(const uint8_t* p, size_t offset) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t{p[offset + i]} << (8 * i);
  return v;
}
uint64_t At64(const uint8_t* p, size_t offset) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= uint64_t{p[offset + i]} << (8 * i);
  return v;
}
std::string TextAt(const uint8_t* p, size_t offset) { return reinterpret_cast<const char*>(p + offset); }

// Disks that open nothing: the records only keep their addresses.
struct TwoDisks {
  CDiskDevice first{std::string("/nonexistent/disk0"), 0};
  CDiskDevice second{std::string("/nonexistent/disk1"), 1};
};

TEST(SourceRecords, VolumeRecordOfADiskIsStoredAtItsOffsetsAndReadsBack) {
  TwoDisks disks;
  MemoryDevice device(std::vector<uint8_t>(512 * 8));
  VolumeRecord r;
  r.Device = &device;
  r.VolumeKind = kVolumeKindDynamic;
  r.FileSystemTypeCode = kFileSystemNtfs;
  r.DriveLetter = 'E';
  r.VolumeName = "DATA";
  r.IsUsb = 1;
  r.Extents[0] = {2048, 1000, &disks.first};
  r.Extents[1] = {63, 0x123456789, &disks.second};
  r.ParentDiskText = "ATA  Disk one  1.0\nATA  Disk two  2.0";
  uint8_t bytes[VolumeRecord::kSize];
  std::memset(bytes, 0xCC, sizeof bytes);
  r.Write(bytes);

  EXPECT_EQ(At32(bytes, 0), 0u);
  EXPECT_EQ(At32(bytes, 4), 1u);  // the device slot: present, never an address
  EXPECT_EQ(At32(bytes, 8), 1u);
  EXPECT_EQ(At32(bytes, 12), 3u);
  EXPECT_EQ(bytes[16], 'E');
  EXPECT_EQ(TextAt(bytes, 17), "DATA");
  EXPECT_EQ(At32(bytes, 117), 0u);
  EXPECT_EQ(At32(bytes, 121), 1u);
  EXPECT_EQ(At64(bytes, 125), 2048u);
  EXPECT_EQ(At64(bytes, 133), 1000u);
  EXPECT_EQ(At32(bytes, 141), 1u);
  EXPECT_EQ(At64(bytes, 145), 63u);
  EXPECT_EQ(At64(bytes, 153), 0x123456789u);
  EXPECT_EQ(At32(bytes, 161), 1u);
  for (size_t i = 165; i < 765; ++i) ASSERT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(TextAt(bytes, 765), r.ParentDiskText);
  EXPECT_EQ(bytes[1276], 0);

  StoredSlots slots;
  const VolumeRecord back = VolumeRecord::Read(bytes, &slots);
  EXPECT_TRUE(slots.Device);
  EXPECT_EQ(slots.ExtentsWithDisk, 2);
  EXPECT_EQ(back.Device, nullptr);
  EXPECT_EQ(back.Kind, r.Kind);
  EXPECT_EQ(back.VolumeKind, r.VolumeKind);
  EXPECT_EQ(back.FileSystemTypeCode, r.FileSystemTypeCode);
  EXPECT_EQ(back.DriveLetter, r.DriveLetter);
  EXPECT_EQ(back.VolumeName, r.VolumeName);
  EXPECT_EQ(back.IsFloppy, r.IsFloppy);
  EXPECT_EQ(back.IsUsb, r.IsUsb);
  EXPECT_EQ(back.ParentDiskText, r.ParentDiskText);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(back.Extents[i].FirstSector, r.Extents[i].FirstSector);
    EXPECT_EQ(back.Extents[i].SectorCount, r.Extents[i].SectorCount);
  }
  // Writing what was read gives the same bytes but for the pointer slots, now empty (and with them
  // the extents, which end at the first one without a disk).
  uint8_t again[VolumeRecord::kSize];
  back.Write(again);
  bytes[4] = 0;
  EXPECT_EQ(std::memcmp(again, bytes, 125), 0);
  EXPECT_EQ(std::memcmp(again + 165, bytes + 165, VolumeRecord::kSize - 165), 0);
}

TEST(SourceRecords, VolumeAndDiskRecordsOfImagesKeepTheirPaths) {
  MemoryDevice device(std::vector<uint8_t>(512));
  VolumeRecord v;
  v.Kind = kSourceKindImage;
  v.Device = &device;
  v.RunningNumber = 3;
  v.DisplayName = "\\\\.\\PHYSICALDRIVE1";
  v.SectorCount = 0x100000000;
  v.ImagePath = "/home/user/images/disk.kbi";
  v.FileSystemTypeCode = kFileSystemFat32;
  uint8_t vb[VolumeRecord::kSize];
  v.Write(vb);
  EXPECT_EQ(At32(vb, 0), 1u);
  EXPECT_EQ(At32(vb, 4), 1u);
  EXPECT_EQ(At32(vb, 8), 3u);
  EXPECT_EQ(TextAt(vb, 12), v.DisplayName);
  EXPECT_EQ(At64(vb, 272), 0x100000000u);
  EXPECT_EQ(TextAt(vb, 280), v.ImagePath);
  EXPECT_EQ(At32(vb, 540), 2u);
  const VolumeRecord vBack = VolumeRecord::Read(vb);
  EXPECT_EQ(vBack.ImagePath, v.ImagePath);
  EXPECT_EQ(vBack.DisplayName, v.DisplayName);
  EXPECT_EQ(vBack.SectorCount, v.SectorCount);
  EXPECT_EQ(vBack.RunningNumber, v.RunningNumber);
  EXPECT_EQ(vBack.FileSystemTypeCode, v.FileSystemTypeCode);

  DiskRecord image;
  image.Kind = kSourceKindImage;
  image.Device = &device;
  image.DiskNumber = 2;
  image.RunningNumber = 1;
  image.DisplayText = "WDC WD5000";
  image.SectorCount = 976773168;
  image.ImagePath = "/srv/disk.kbi";
  image.IsImageSource = 1;
  uint8_t db[DiskRecord::kSize];
  image.Write(db);
  EXPECT_EQ(At32(db, 0), 1u);
  EXPECT_EQ(At32(db, 4), 1u);
  EXPECT_EQ(At32(db, 8), 2u);
  EXPECT_EQ(At32(db, 12), 1u);
  EXPECT_EQ(TextAt(db, 16), image.DisplayText);
  EXPECT_EQ(At64(db, 276), 976773168u);
  EXPECT_EQ(TextAt(db, 284), image.ImagePath);
  EXPECT_EQ(At32(db, 544), 1u);
  const DiskRecord imageBack = DiskRecord::Read(db);
  EXPECT_EQ(imageBack.Kind, image.Kind);
  EXPECT_EQ(imageBack.DiskNumber, image.DiskNumber);
  EXPECT_EQ(imageBack.RunningNumber, image.RunningNumber);
  EXPECT_EQ(imageBack.DisplayText, image.DisplayText);
  EXPECT_EQ(imageBack.SectorCount, image.SectorCount);
  EXPECT_EQ(imageBack.ImagePath, image.ImagePath);
  EXPECT_EQ(imageBack.IsImageSource, image.IsImageSource);

  DiskRecord disk;
  disk.DiskNumber = 4;
  disk.IsUsb = 1;
  disk.DisplayText = "Kingston  DataTraveler  1.00";
  disk.ImagePath = "not stored for a disk";
  disk.Write(db);
  EXPECT_EQ(At32(db, 0), 0u);
  EXPECT_EQ(At32(db, 4), 0u);  // no device: the slot is empty
  EXPECT_EQ(At32(db, 8), 4u);
  EXPECT_EQ(At32(db, 12), 1u);
  EXPECT_EQ(At32(db, 16), 0u);
  EXPECT_EQ(TextAt(db, 20), disk.DisplayText);
  for (size_t i = 280; i < 548; ++i) ASSERT_EQ(db[i], 0) << i;
  StoredSlots slots;
  const DiskRecord diskBack = DiskRecord::Read(db, &slots);
  EXPECT_FALSE(slots.Device);
  EXPECT_EQ(diskBack.DiskNumber, 4);
  EXPECT_EQ(diskBack.IsUsb, 1);
  EXPECT_EQ(diskBack.DisplayText, disk.DisplayText);
  EXPECT_TRUE(diskBack.ImagePath.empty());
}

TEST(SourceRecords, TextsAreCutToTheirFieldsWithTheTerminatorKept) {
  struct Case {
    std::string text;
    size_t stored;
  };
  const Case cases[] = {
      {std::string(99, 'x'), 99},
      {std::string(100, 'x'), 99},
      {std::string(300, 'x'), 99},
      // A two-byte character across the cut is dropped whole.
      {std::string(98, 'x') + "\xC3\xA9", 98},
  };
  for (const Case& c : cases) {
    VolumeRecord r;
    r.VolumeName = c.text;
    r.ParentDiskText = std::string(700, 'p');
    uint8_t bytes[VolumeRecord::kSize];
    r.Write(bytes);
    const VolumeRecord back = VolumeRecord::Read(bytes);
    EXPECT_EQ(back.VolumeName.size(), c.stored);
    EXPECT_EQ(back.ParentDiskText.size(), 511u);
  }
  // A stored text without its terminator is read to the end of its field, no further.
  uint8_t bytes[VolumeRecord::kSize] = {};
  std::memset(bytes + 17, 'L', 100);
  std::memset(bytes + 117, 'F', 4);
  EXPECT_EQ(VolumeRecord::Read(bytes).VolumeName, std::string(100, 'L'));
}

TEST(SourceRecords, ExtentsStopAtThirtyTwoAndEachDiskIsDescribedOnce) {
  TwoDisks disks;
  VolumeRecord r;
  int added = 0;
  for (int i = 0; i < 40; ++i)
    added += AddVolumeExtent(r, i * 100, 100, i % 2 ? &disks.second : &disks.first);
  EXPECT_EQ(added, 32);
  EXPECT_EQ(r.ExtentCount(), 32u);
  EXPECT_EQ(r.Extents[31].FirstSector, 3100);
  // Two disks, two lines, however many extents each holds; a disk the system does not describe is
  // named by its file.
  EXPECT_EQ(std::count(r.ParentDiskText.begin(), r.ParentDiskText.end(), '\n'), 1);
  EXPECT_EQ(r.ParentDiskText, "disk0\ndisk1");
  EXPECT_FALSE(AddVolumeExtent(r, 0, 1, nullptr));
}

TEST(SourceRecords, DiskDescriptionJoinsTheDriveTexts) {
  struct Case {
    const char* vendor;
    const char* product;
    const char* revision;
    std::string expected;
  };
  const Case cases[] = {
      {"ATA", "Samsung SSD", "1B6Q", "ATA  Samsung SSD  1B6Q"},
      {"", "WDC WD5000AAKS", "01.03B01", "WDC WD5000AAKS  01.03B01"},
      {"(Standard disk drives)", "USB Disk", "1.00", "USB Disk  1.00"},
      {"VENDORNAME", "A PRODUCT NAME THAT GOES ON AND ON AND ON", "REV9",
       std::string("VENDORNAME  A PRODUCT NAME THAT GOES ON AND ON AN")},
  };
  for (const Case& c : cases) {
    DISK_INFO_RECORD info;
    std::strcpy(info.vendor, c.vendor);
    std::strcpy(info.product, c.product);
    std::strcpy(info.revision, c.revision);
    const std::string text = DiskDescriptionText(info);
    EXPECT_EQ(text, c.expected);
    EXPECT_LE(text.size(), 49u);
  }
}

std::shared_ptr<VolumeRecord> Volume(char letter, CDiskDevice* disk, int64_t start, int64_t count) {
  auto r = std::make_shared<VolumeRecord>();
  r->DriveLetter = letter;
  if (disk != nullptr) r->Extents[0] = {start, count, disk};
  r->VolumeName = std::string(1, letter ? letter : '-') + std::to_string(start);
  return r;
}

TEST(SourceRecords, SortPutsLetteredVolumesFirstInLetterOrder) {
  VolumeRecordList list = {Volume('D', nullptr, 1, 1), Volume(0, nullptr, 2, 1), Volume('C', nullptr, 3, 1),
                           Volume(0, nullptr, 4, 1), Volume('A', nullptr, 5, 1)};
  CCollectAllBasicPartitionandDynamicVolume::sort(list);
  std::vector<std::string> names;
  for (const auto& r : list) names.push_back(r->VolumeName);
  EXPECT_EQ(names, (std::vector<std::string>{"A5", "C3", "D1", "-2", "-4"}));
  VolumeRecordList none = {Volume(0, nullptr, 1, 1), Volume(0, nullptr, 2, 1)};
  CCollectAllBasicPartitionandDynamicVolume::sort(none);
  EXPECT_EQ(none[0]->VolumeName, "-1");
}

TEST(SourceRecords, AVolumeIsOnALetterWhenItIsThatVolumeOrSharesItsSectors) {
  TwoDisks disks;
  VolumeRecordList list = {Volume('C', &disks.first, 1000, 500), Volume('D', &disks.second, 0, 100)};
  struct Case {
    const char* what;
    std::shared_ptr<VolumeRecord> record;
    bool expected;
  };
  auto image = Volume(0, &disks.first, 1000, 500);
  image->Kind = kSourceKindImage;
  const Case cases[] = {
      {"the volume itself", list[0], true},
      {"another letter", list[1], false},
      {"overlapping start", Volume(0, &disks.first, 900, 101), true},
      {"ending just before", Volume(0, &disks.first, 900, 100), false},
      {"inside", Volume(0, &disks.first, 1200, 10), true},
      {"starting at its end", Volume(0, &disks.first, 1500, 10), false},
      {"covering it", Volume(0, &disks.first, 0, 1 << 20), true},
      {"same sectors, other disk", Volume(0, &disks.second, 1000, 500), false},
      {"no extents", Volume(0, nullptr, 0, 0), false},
      {"an image's volume", image, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsVolumeOnDriveLetter(*c.record, 'C', list), c.expected) << c.what;
  EXPECT_EQ(FindVolumeByDriveLetter('D', list), list[1].get());
  EXPECT_EQ(FindVolumeByDriveLetter('Q', list), nullptr);
}

}  // namespace
