// Partition Recovery's quick search over real disks: the table is gone, the file systems are not.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "DiskTools.h"
#include "core/LostPartitionSearcher.h"
#include "storage/ImageFileDevice.h"
#include "support/Fixtures.h"

using namespace corvale::test;

namespace {

class RecordingCallback : public IPartitionSearchCallback {
 public:
  void Step() override { ++steps; }
  int IsCancelled() override { return cancelAfter >= 0 && steps >= cancelAfter ? 1 : 0; }
  void SetStep(int64_t step) override { this->step = step; }
  void SetRange(int64_t first, int64_t end) override {
    rangeFirst = first;
    rangeEnd = end;
  }
  void AddFoundPartition(const CLostPartitionRecord*) override { ++added; }

  int64_t steps = 0, step = 0, rangeFirst = -1, rangeEnd = -1, added = 0;
  int64_t cancelAfter = -1;
};

struct Expected {
  uint64_t start;
  int32_t type;
  const char* label;
  uint64_t tableSectors;
};

// The three partitions of parts_mbr_primary.sh, as its table gave them.
constexpr Expected kPrimary[] = {
    {63, 3, "NTFSVOL", 32067},
    {32130, 2, "FATVOL", 80325},
    {112518, 4, "extvol", 16002},
};

TEST(LostPartitionSearch, FindsNtfsFat32AndExt2BehindAZeroedMbr) {
  CORVALE_FIXTURE(image, "parts_mbr_primary_zeroed.sh", "parts_mbr_primary_zeroed.img");
  CImageFileDevice device(image);
  ASSERT_TRUE(device.IsOpened());
  RecordingCallback progress;
  LostPartitionRecordList found;
  CLostPartitionSearcher searcher;
  ASSERT_TRUE(searcher.FindNewPartitions(&device, 255, &progress, found));

  // Every cylinder, then every 1 MiB boundary; the boundaries inside the partitions found are
  // passed over without a read.
  const int64_t cylinders = device.GetSectorCount() / 255 / 63;
  const int64_t mebibytes = (device.GetSectorCount() + 2047) / 2048;
  EXPECT_EQ(progress.rangeFirst, 0);
  EXPECT_EQ(progress.rangeEnd, cylinders + mebibytes);
  EXPECT_EQ(progress.step, 1);
  EXPECT_EQ(progress.steps, cylinders + mebibytes);
  EXPECT_EQ(progress.added, 3);
  const int64_t insideFound = (128520 - 2048 + 2047) / 2048;  // from 2048 up to the Ext2 volume's end
  EXPECT_EQ(searcher.GetProbeCount(), uint64_t(2 * cylinders + mebibytes - insideFound));

  ASSERT_EQ(found.size(), 3u);
  for (size_t i = 0; i < found.size(); ++i) {
    SCOPED_TRACE(kPrimary[i].label);
    EXPECT_EQ(found[i]->StartSector, kPrimary[i].start);
    EXPECT_EQ(found[i]->FileSystemType, kPrimary[i].type);
    EXPECT_STREQ(found[i]->Label, kPrimary[i].label);
    EXPECT_EQ(found[i]->FileSystemType, BlkidAt(image, int64_t(kPrimary[i].start)).type);
    // The file system's own size: the whole partition, less what the format leaves unused.
    EXPECT_LE(found[i]->SectorCount, kPrimary[i].tableSectors);
    EXPECT_GE(found[i]->SectorCount, kPrimary[i].tableSectors - 8);
    ASSERT_NE(found[i]->Device, nullptr);
    EXPECT_EQ(uint64_t(found[i]->Device->GetSectorCount()), found[i]->SectorCount);
  }
}

TEST(LostPartitionSearch, PartitionsTheTableStillGivesAreNotNew) {
  CORVALE_FIXTURE(image, "parts_mbr_primary.sh", "parts_mbr_primary.img");
  CImageFileDevice device(image);
  ASSERT_TRUE(device.IsOpened());
  LostPartitionRecordList found;
  CLostPartitionSearcher searcher;
  ASSERT_TRUE(searcher.FindNewPartitions(&device, 255, nullptr, found));
  EXPECT_TRUE(found.empty());
}

// Today's tools start partitions on 1 MiB boundaries, off the cylinder grid: the quick search
// finds each of them at its true start, and nothing inside them (the Ext2 volume's backup
// superblock lies on a 1 MiB boundary of its own).
TEST(LostPartitionSearch, FindsPartitionsOnMebibyteBoundariesBehindAZeroedMbr) {
  CORVALE_FIXTURE(image, "parts_mbr_aligned_zeroed.sh", "parts_mbr_aligned_zeroed.img");
  CImageFileDevice device(image);
  ASSERT_TRUE(device.IsOpened());
  LostPartitionRecordList found;
  CLostPartitionSearcher searcher;
  ASSERT_TRUE(searcher.FindNewPartitions(&device, 255, nullptr, found));
  const Expected expected[] = {
      {2048, 3, "ALIGNNTFS", 32768},
      {34816, 2, "ALIGNFAT", 81920},
      {116736, 4, "alignext", 32768},
  };
  ASSERT_EQ(found.size(), 3u);
  for (size_t i = 0; i < found.size(); ++i) {
    SCOPED_TRACE(expected[i].label);
    EXPECT_EQ(found[i]->StartSector, expected[i].start);
    EXPECT_EQ(found[i]->FileSystemType, expected[i].type);
    EXPECT_EQ(found[i]->FileSystemType, BlkidAt(image, int64_t(expected[i].start)).type);
    EXPECT_STREQ(found[i]->Label, expected[i].label);
    EXPECT_LE(found[i]->SectorCount, expected[i].tableSectors);
    EXPECT_GE(found[i]->SectorCount, expected[i].tableSectors - 8);
  }
}

// The partitions of a disk with an extended partition, all on 1 MiB boundaries (the logical ones
// too): every one with a file system is found where sfdisk says it starts, in disk order.
TEST(LostPartitionSearch, FindsLogicalPartitionsOnMebibyteBoundaries) {
  CORVALE_FIXTURE(image, "parts_mbr_extended.sh", "parts_mbr_extended.img");
  CImageFileDevice device(image);
  ASSERT_TRUE(device.IsOpened());
  LostPartitionRecordList found;
  CLostPartitionSearcher searcher;
  ASSERT_TRUE(searcher.Search(&device, 255, nullptr, found));
  std::vector<std::pair<uint64_t, int32_t>> expected;
  for (const ToolPartition& p : SfdiskPartitions(image)) {
    const ToolFileSystem fs = BlkidAt(image, p.start);
    if (fs.type != 7) expected.push_back({uint64_t(p.start), fs.type});
  }
  ASSERT_GE(expected.size(), 6u);
  std::vector<std::pair<uint64_t, int32_t>> got;
  for (const auto& record : found) got.push_back({record->StartSector, record->FileSystemType});
  EXPECT_EQ(got, expected);
}

TEST(LostPartitionSearch, CancelStopsBeforeTheNextProbe) {
  CORVALE_FIXTURE(image, "parts_mbr_primary_zeroed.sh", "parts_mbr_primary_zeroed.img");
  CImageFileDevice device(image);
  ASSERT_TRUE(device.IsOpened());
  RecordingCallback progress;
  progress.cancelAfter = 1;  // after the first position (which finds the NTFS partition at 63)
  LostPartitionRecordList found;
  CLostPartitionSearcher searcher;
  ASSERT_TRUE(searcher.Search(&device, 255, &progress, found));
  EXPECT_EQ(progress.steps, 1);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->StartSector, 63u);
}

}  // namespace
