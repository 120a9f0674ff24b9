#include <gtest/gtest.h>

#include <vector>

#include "FatTestSupport.h"
#include "core/FileDataReader.h"
#include "core/FileNode.h"
#include "fat/FATDBR.h"
#include "fat/FATDataRunList.h"
#include "fat/FATFileProperties.h"
#include "platform/Log.h"
#include "storage/ByteReader.h"
#include "storage/MemoryDevice.h"

using namespace corvale;
using namespace corvale::fat;
using namespace fattest;

namespace {

FATRunListContext ContextOf(const OpenedImage& image, std::vector<bool>* used) {
  FATRunListContext c;
  c.fat = image.fat.get();
  c.sectorsPerCluster = image.geometry.sectorsPerCluster;
  c.sectorSize = image.geometry.bytesPerSector;
  c.dataSectors = image.geometry.totalSectors - image.geometry.dataStart;
  c.usedClusters = used;
  return c;
}

// The file's bytes read through its runs the way recovery reads them: from a tree node under a
// partition node placed at the data area.
std::string ReadThroughRuns(IStorageDevice* device, const FatVolumeGeometry& g,
                            std::unique_ptr<CFATFileProperties> properties) {
  CFileSystemNode* root = CreateFileSystemNode();
  root->SetPosition(g.dataStart, g.sectorsPerCluster);
  CFileNode* file = CreateFileNode();
  const uint64_t size = properties->GetSize();
  file->SetFileProperties(properties.release());
  root->AddChild(file);
  std::string bytes(size, '\0');
  FileDataReader reader;
  size_t got = 0;
  if (reader.Open(device, file)) got = reader.ReadAt(0, bytes.data(), bytes.size());
  bytes.resize(got);
  FreeFileTree(root);
  return bytes;
}

class RunsOfImage : public ::testing::TestWithParam<FatFixture> {};

}  // namespace

TEST_P(RunsOfImage, FilesReadThroughTheirRunsHoldWhatWasWritten) {
  const FatFixture& fixture = GetParam();
  FAT_IMAGE(image, fixture);
  const uint64_t cb = image.geometry.clusterBytes;
  struct Row {
    const char* folder;
    const char* name;
    const char* tag;
    uint64_t size;
    bool deleted;
  };
  const Row rows[] = {
      {"", "hello.txt", "hello", 100, false},
      {"", "Long File Name Example.dat", "longname", cb * 5 / 2, false},
      {"", "Ünïcødé 名前.txt", "unicode", 300, false},
      {"frag", "A.bin", "A", cb * 2, false},
      {"frag", "D.bin", "D", cb * 6 + 100, false},
      {"deep/level1/level2/level3/level4/level5", "leaf file.txt", "leaf", cb + 1, false},
      {"many", "Many file number 27 with a long name.txt", "many27", 64, false},
      {"", "Deleted Long Name Document.txt", "deldoc", cb * 3, true},
      {"", "#one.bin", "gone", cb / 2, true},
      {"deep/level1", "#emoved.txt", "removed", 200, true},
      {"Old Folder", "#nner1.txt", "inner1", 150, true},
      {"Old Folder/Inner", "Some long inner name.txt", "inner2", cb + 10, true},
  };
  std::vector<bool> used(image.geometry.clusterCount, false);
  const FATRunListContext context = ContextOf(image, &used);
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.folder) + "/" + row.name);
    auto p = FindEntry(image, row.folder, row.name, row.deleted);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->GetSize(), row.size);
    std::unique_ptr<CFATDataRunList> runs;
    ASSERT_EQ(BuildFATRunList(context, p->GetFirstCluster(), p->GetSize(), p->IsDeleted(), &runs),
              FATRunListResult::Built);
    std::vector<uint32_t> clusters;
    for (const DataRun& run : runs->Runs()) {
      for (uint64_t i = 0; i < run.length; ++i) {
        clusters.push_back(static_cast<uint32_t>(run.start + i + 2));
        EXPECT_TRUE(used[run.start + i]);
      }
    }
    if (!row.deleted) {
      EXPECT_EQ(clusters, MshowfatClusters(image.path, std::string(row.folder) + "/" + row.name));
    }
    p->SetPackedRunList(CreatePackedRunList(*runs));
    EXPECT_EQ(ReadThroughRuns(image.device.get(), image.geometry, std::move(p)), Pattern(row.tag, row.size));
  }
  // The fragmented file needs two runs.
  auto d = FindEntry(image, "frag", "D.bin", false);
  std::unique_ptr<CFATDataRunList> runs;
  BuildFATRunList(context, d->GetFirstCluster(), d->GetSize(), false, &runs);
  EXPECT_EQ(runs->GetRunCount(), 2u);
  // An empty file needs none and is no failure.
  auto empty = FindEntry(image, "", "empty.txt", false);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(BuildFATRunList(context, empty->GetFirstCluster(), 0, false, &runs), FATRunListResult::NoData);
  EXPECT_EQ(runs, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Images, RunsOfImage, ::testing::ValuesIn(FatImages()), [](const auto& info) {
  std::string name = info.param.image;
  return name.substr(0, name.find('.'));
});

namespace {

// A FAT16 table of 16 sectors (4096 entries) with the chains a test sets.
class SmallFat : public IFATTable {
 public:
  uint32_t GetNextCluster(uint32_t cluster) const override {
    return cluster < m_entries.size() ? m_entries[cluster] : 0;
  }
  void Chain(std::initializer_list<uint32_t> clusters, uint32_t end = kFatEndOfChain) {
    auto it = clusters.begin();
    for (auto next = std::next(it); next != clusters.end(); ++it, ++next) m_entries[*it] = *next;
    m_entries[*it] = end;
  }
  void Set(uint32_t cluster, uint32_t value) { m_entries[cluster] = value; }

 private:
  std::vector<uint32_t> m_entries = std::vector<uint32_t>(4096, 0);
};

// 512-byte clusters over a data area of 1000 clusters.
FATRunListContext SmallContext(const IFATTable* fat, std::vector<bool>* used = nullptr) {
  FATRunListContext c;
  c.fat = fat;
  c.sectorsPerCluster = 1;
  c.sectorSize = 512;
  c.dataSectors = 1000;
  c.usedClusters = used;
  return c;
}

std::vector<DataRun> Runs(const CFATDataRunList& list) { return {list.Runs().begin(), list.Runs().end()}; }

}  // namespace

TEST(FatRunList, EdgeCasesOfTheWalk) {
  SmallFat fat;
  fat.Chain({10, 11, 12, 20, 21, 40});
  fat.Set(101, kFatBadCluster);
  fat.Chain({200});
  fat.Chain({300, 301}, 0xFFFFFFFF);  // a FAT12 end mark
  fat.Chain({400, 401, 400});         // two links in a circle
  fat.Chain({500, 999, 1000, 1001, 1002});
  fat.Chain({600, 601}, 0);  // runs into a free entry
  struct Row {
    const char* name;
    uint32_t first;
    uint64_t size;
    bool deleted;
    bool withFat;
    FATRunListResult result;
    std::vector<DataRun> runs;
  };
  const Row rows[] = {
      {"chain with jumps", 10, 6 * 512, false, true, FATRunListResult::Built, {{8, 3}, {18, 2}, {38, 1}}},
      // A run grows with its chain; the jump after it ends the walk. Only the size is ever read.
      {"chain longer than the size", 10, 2 * 512, false, true, FATRunListResult::Built, {{8, 3}}},
      {"chain shorter than the size", 200, 3 * 512, false, true, FATRunListResult::Built, {{198, 3}}},
      {"deleted, second cluster bad", 100, 3 * 512, true, true, FATRunListResult::Built, {{98, 1}, {100, 2}}},
      {"deleted, contiguous", 700, 1000, true, true, FATRunListResult::Built, {{698, 2}}},
      {"deleted, runs into the end", 998, 5 * 512, true, true, FATRunListResult::Built, {{996, 4}}},
      {"deleted without a FAT", 700, 1000, true, false, FATRunListResult::Built, {{698, 2}}},
      {"live without a FAT", 10, 6 * 512, false, false, FATRunListResult::Built, {{8, 6}}},
      {"FAT12 end mark", 300, 2 * 512, false, true, FATRunListResult::Built, {{298, 2}}},
      {"circle ends the chain", 400, 4 * 512, false, true, FATRunListResult::Built, {{398, 4}}},
      {"free entry ends the chain", 600, 2 * 512, false, true, FATRunListResult::Built, {{598, 2}}},
      {"chain past the partition", 500, 5 * 512, false, true, FATRunListResult::Refused, {}},
      {"stretch past the partition", 998, 10 * 512, false, false, FATRunListResult::Refused, {}},
      {"first cluster past the partition", 1002, 512, true, true, FATRunListResult::Refused, {}},
      {"first cluster 0 with data", 0, 512, false, true, FATRunListResult::Refused, {}},
      {"first cluster 1", 1, 512, true, true, FATRunListResult::Refused, {}},
      {"empty file", 0, 0, false, true, FATRunListResult::NoData, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<CFATDataRunList> list;
    EXPECT_EQ(
        BuildFATRunList(SmallContext(row.withFat ? &fat : nullptr), row.first, row.size, row.deleted, &list),
        row.result);
    if (row.result == FATRunListResult::Built) {
      ASSERT_NE(list, nullptr);
      EXPECT_EQ(Runs(*list), row.runs);
      EXPECT_EQ(list->GetKind(), kRunListFat);
    } else {
      EXPECT_EQ(list, nullptr);
    }
  }
}

TEST(FatRunList, OverflowIsLoggedAndUsedClustersAreMarked) {
  SmallFat fat;
  fat.Chain({500, 999, 1000, 1001, 1002});
  fat.Chain({20, 21, 30});
  {
    log::ScopedCapture capture;
    std::unique_ptr<CFATDataRunList> list;
    EXPECT_EQ(BuildFATRunList(SmallContext(&fat), 500, 5 * 512, false, &list), FATRunListResult::Refused);
    EXPECT_TRUE(capture.Has("File overflows partition!"));
  }
  // Bits are set for the clusters of the runs only, and never past the vector.
  std::vector<bool> used(25, false);
  std::unique_ptr<CFATDataRunList> list;
  ASSERT_EQ(BuildFATRunList(SmallContext(&fat, &used), 20, 3 * 512, false, &list), FATRunListResult::Built);
  std::vector<bool> expected(25, false);
  expected[18] = expected[19] = true;  // cluster 30 (index 28) lies past the vector
  EXPECT_EQ(used, expected);
  FATRunListContext noClusters = SmallContext(&fat);
  noClusters.sectorsPerCluster = 0;
  EXPECT_EQ(BuildFATRunList(noClusters, 20, 512, false, &list), FATRunListResult::Refused);
}

TEST(FatRunList, AddRunExtendsOnlyARunItContinues) {
  CFATDataRunList list;
  list.AddRun(5, 2);
  list.AddRun(7, 3);
  list.AddRun(11, 1);
  list.AppendRun(kSparseRunStart, 2);
  list.AddRun(kSparseRunStart + 2, 1);  // a run after one without a start is never merged
  list.AddRun(12, 1);
  EXPECT_EQ(Runs(list),
            (std::vector<DataRun>{{5, 5}, {11, 1}, {kSparseRunStart, 2}, {kSparseRunStart + 2, 1}, {12, 1}}));
}
