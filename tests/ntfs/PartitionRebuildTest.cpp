// NTFS partitions rebuilt by the whole-device scan from what is left on a disk: the real search
// driver with the NTFS controller, the end of the pass, and the candidate selection over its
// results, on disk images made by tests/fixtures/ntfs_rebuild.sh (boot sectors zeroed, a volume
// formatted over another one, a partition table zeroed).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/IntelligentSearchController.h"
#include "core/PartitionCandidateSelection.h"
#include "ntfs/FileRecordHeader.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/NTFSSearchController.h"
#include "storage/ImageFileDevice.h"
#include "support/Fixtures.h"

namespace {

struct ManifestPartition {
  int64_t start = 0;
  int64_t sectors = 0;
  uint32_t sectorsPerCluster = 0;
  int64_t mftCluster = 0;
  int64_t volumeSectors = 0;
  int64_t MftSector() const { return start + mftCluster * sectorsPerCluster; }
};

struct OldFile {
  int64_t record = -1;
  std::string path;
};

struct Disk {
  std::string folder;
  std::vector<ManifestPartition> partitions;
  std::vector<OldFile> oldFiles;
};

bool LoadDisk(const std::string& root, const std::string& name, Disk& disk) {
  disk.folder = root + "/" + name;
  std::ifstream in(disk.folder + "/manifest.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "partition") {
      ManifestPartition p;
      words >> p.start >> p.sectors >> p.sectorsPerCluster >> p.mftCluster >> p.volumeSectors;
      disk.partitions.push_back(p);
    } else if (key == "old") {
      OldFile f;
      uint64_t size;
      words >> f.record >> size;
      std::getline(words, f.path);
      disk.oldFiles.push_back(f);
    }
  }
  return !disk.partitions.empty();
}

#define CORVALE_REBUILD_DISK(var, name)                                                   \
  CORVALE_FIXTURE(var##_root, "ntfs_rebuild.sh", "ntfs_rebuild");                         \
  Disk var;                                                                               \
  ASSERT_TRUE(LoadDisk(var##_root, name, var)) << "no manifest in " << var##_root << "/" << name

struct Rebuild {
  CNTFSSearchController controller;
  int64_t deviceSectors = 0;
  SearchedPartitionInfoList candidates;
  std::vector<const CSearchedNTFSPartitionInfo*> chosen;
};

// The scan, the end of the pass and the selection, as the program runs them.
void RunRebuild(const Disk& disk, Rebuild& r) {
  CImageFileDevice device(disk.folder + "/disk.img");
  ASSERT_TRUE(device.IsOpened());
  r.deviceSectors = device.GetSectorCount();
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&r.controller);
  ASSERT_EQ(driver.Search(nullptr), 1);
  r.controller.GetResults(&r.candidates);
  ComputePartitionWeights(r.candidates);
  SortSearchedPartitions(r.candidates);
  SelectPartitionLayout(r.candidates, r.deviceSectors);
  for (const auto& c : r.candidates)
    if (c->GetChosenMark() == 1) r.chosen.push_back(static_cast<const CSearchedNTFSPartitionInfo*>(c.get()));
}

const CSearchedNTFSPartitionInfo* ChosenAt(const Rebuild& r, int64_t start) {
  for (const CSearchedNTFSPartitionInfo* c : r.chosen)
    if (c->GetPartitionStart() == start) return c;
  return nullptr;
}

// The chosen partition of the manifest's geometry: start, cluster size, $MFT, and a size from the
// volume's own clusters up to the partition's end.
void ExpectRebuilt(const Rebuild& r, const ManifestPartition& p) {
  SCOPED_TRACE(testing::Message() << "partition at " << p.start);
  const CSearchedNTFSPartitionInfo* c = ChosenAt(r, p.start);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetStartSector(), p.start);
  EXPECT_EQ(c->GetFileSystemType(), 3);
  EXPECT_EQ(c->GetSectorsPerCluster(), p.sectorsPerCluster);
  EXPECT_EQ(c->GetMftSector(), p.MftSector());
  EXPECT_GE(c->GetSectorCount(), p.volumeSectors / p.sectorsPerCluster * p.sectorsPerCluster);
  EXPECT_LE(c->GetSectorCount(), p.sectors);
  EXPECT_EQ(c->GetTotalClusters() * p.sectorsPerCluster, c->GetSectorCount());
  // The system files a new volume has are where its $MFT says, and all of $AttrDef and $UpCase
  // were recognised by their contents.
  EXPECT_EQ(c->GetLogFileSector(), p.MftSector() + 2 * 2);
  EXPECT_EQ(c->GetAttrDefSector(), p.MftSector() + 4 * 2);
  EXPECT_EQ(c->GetUpCaseSector(), p.MftSector() + 10 * 2);
  EXPECT_EQ(c->GetAttrDefMatch(), 5);
  EXPECT_EQ(c->GetUpCaseMatch(), 256);
  EXPECT_EQ(c->GetScore(), CNTFSSearchController::ScoreCandidate(*c));
  EXPECT_GE(c->GetScore(), 30 + 10 + 10);  // the $MFT/$MFTMirr pair, $AttrDef, $UpCase
  EXPECT_GT(c->GetFoldersMatch(), 0);
  EXPECT_TRUE(c->GetUseMft());
}

// The layout chosen from the evidence does not overlap and fits the device. A candidate the
// selection marks for spanning the whole device is chosen whatever it overlaps, by design; such a
// mark is left out here.
void ExpectNoOverlap(const Rebuild& r) {
  std::vector<const CSearchedNTFSPartitionInfo*> layout;
  for (const CSearchedNTFSPartitionInfo* c : r.chosen)
    if (c->GetWholeDeviceMark() != 1) layout.push_back(c);
  for (size_t i = 0; i < layout.size(); ++i) {
    const SectorRange a = CandidateRange(*layout[i]);
    EXPECT_GE(a.first, 0);
    EXPECT_LE(a.first + a.count, r.deviceSectors);
    for (size_t j = i + 1; j < layout.size(); ++j) {
      const SectorRange b = CandidateRange(*layout[j]);
      EXPECT_TRUE(a.first + a.count <= b.first || b.first + b.count <= a.first)
          << a.first << "+" << a.count << " and " << b.first << "+" << b.count;
    }
  }
}

// What the directory build of a chosen partition reads is still there after the pass: the $MFT's
// location and a FILE-record sector for every file and folder of the volume.
void ExpectBuildEvidence(const Rebuild& r, const Disk& disk, size_t index) {
  const ManifestPartition& p = disk.partitions[index];
  bool mftKept = false;
  for (const auto& location : r.controller.GetMftLocations())
    mftKept = mftKept || (location->GetSector() == p.MftSector() && location->GetFirstLcn() == p.mftCluster);
  EXPECT_TRUE(mftKept) << p.MftSector();
  size_t entries = 0;
  std::error_code ec;
  const std::string content = disk.folder + "/content/" + std::to_string(index);
  for (auto it = std::filesystem::recursive_directory_iterator(content, ec);
       it != std::filesystem::recursive_directory_iterator(); ++it)
    ++entries;
  ASSERT_GT(entries, 300u);
  size_t runIndex = 0;
  int64_t sector = 0;
  uint64_t inside = 0;
  for (int64_t at = p.start; r.controller.GetFileRecordSectors().FindFirstRecordAtOrAfter(at, runIndex, sector) &&
                             sector < p.start + p.sectors;
       at = sector + 1)
    ++inside;
  EXPECT_GE(inside, entries);
}

TEST(NTFSPartitionRebuild, BothBootSectorsZeroed) {
  CORVALE_REBUILD_DISK(disk, "noboot");
  Rebuild r;
  RunRebuild(disk, r);
  ASSERT_EQ(disk.partitions.size(), 1u);
  ExpectRebuilt(r, disk.partitions[0]);
  const CSearchedNTFSPartitionInfo* c = ChosenAt(r, disk.partitions[0].start);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetFoundByFlags() & (kFoundByFirstBootRecord | kFoundByLastBootRecord), 0u);
  EXPECT_TRUE(c->GetFoundByFlags() & kFoundByMftFilesPair);
  // The size comes from the $Bitmap's cluster count.
  EXPECT_EQ(c->GetSectorsFromSystemFiles(), c->GetSectorCount());
  ExpectNoOverlap(r);
  ExpectBuildEvidence(r, disk, 0);
}

TEST(NTFSPartitionRebuild, TwoPartitionsWithoutTheirTable) {
  CORVALE_REBUILD_DISK(disk, "two");
  Rebuild r;
  RunRebuild(disk, r);
  ASSERT_EQ(disk.partitions.size(), 2u);
  for (size_t i = 0; i < disk.partitions.size(); ++i) {
    ExpectRebuilt(r, disk.partitions[i]);
    const CSearchedNTFSPartitionInfo* c = ChosenAt(r, disk.partitions[i].start);
    ASSERT_NE(c, nullptr);
    // Both boot sectors are there: the size is the volume's own.
    EXPECT_EQ(c->GetFoundByFlags() & (kFoundByFirstBootRecord | kFoundByLastBootRecord),
              kFoundByFirstBootRecord | kFoundByLastBootRecord);
    EXPECT_EQ(c->GetSectorCount(), disk.partitions[i].volumeSectors / c->GetSectorsPerCluster() *
                                       c->GetSectorsPerCluster());
    ExpectBuildEvidence(r, disk, i);
  }
  ExpectNoOverlap(r);
}

TEST(NTFSPartitionRebuild, VolumeFormattedOverAnOlderOne) {
  CORVALE_REBUILD_DISK(disk, "reformat");
  Rebuild r;
  RunRebuild(disk, r);
  ASSERT_EQ(disk.partitions.size(), 1u);
  const ManifestPartition& p = disk.partitions[0];
  ExpectRebuilt(r, p);
  ExpectNoOverlap(r);

  // The old volume's records past what the new MFT wrote over are still on the disk, where the
  // old MFT put them; each of them is among the record sectors the build will read.
  CImageFileDevice device(disk.folder + "/disk.img");
  ASSERT_TRUE(device.IsOpened());
  size_t survivors = 0;
  for (const OldFile& f : disk.oldFiles) {
    const int64_t sector = p.MftSector() + 2 * f.record;
    std::vector<uint8_t> record(1024);
    ASSERT_TRUE(device.ReadSectors(record.data(), uint64_t(sector), 2));
    CNTFSFileRecordView view(record.data(), record.size());
    if (!view.IsValid() || view.GetOwnRecordNumber() != f.record) continue;
    ++survivors;
    EXPECT_TRUE(r.controller.GetFileRecordSectors().Contains(sector)) << f.path;
  }
  EXPECT_GT(survivors, 300u);
}

}  // namespace
