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

  const int64_t positions = device.GetSectorCount() / 255 / 63;
  EXPECT_EQ(progress.rangeFirst, 0);
  EXPECT_EQ(progress.rangeEnd, positions);
  EXPECT_EQ(progress.step, 1);
  EXPECT_EQ(progress.steps, positions);
  EXPECT_EQ(progress.added, 3);

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

// Today's tools start partitions on 1 MiB boundaries, off the cylinder grid: the quick search does
// not look there, and finds nothing rather than something wrong.
TEST(LostPartitionSearch, PartitionsOffTheTrackGridAreNotFound) {
  CORVALE_FIXTURE(image, "parts_mbr_extended.sh", "parts_mbr_extended.img");
  CImageFileDevice device(image);
  ASSERT_TRUE(device.IsOpened());
  LostPartitionRecordList found;
  CLostPartitionSearcher searcher;
  ASSERT_TRUE(searcher.Search(&device, 255, nullptr, found));
  EXPECT_TRUE(found.empty());
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
