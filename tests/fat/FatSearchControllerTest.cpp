// The FAT search controller: the candidates boot sectors, FAT copies and directory sectors give,
// their scores and pruning, its saved state, and the whole road on a disk whose FAT partition lost
// its boot sector, backup and FATs: the search driver, the candidate selection and the complete
// build over the chosen partition, whose files are recovered byte for byte. Mutated disks never
// loop or crash any of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "FatTestSupport.h"
#include "FatTreeSupport.h"
#include "core/FileRecoverer.h"
#include "core/IntelligentSearchController.h"
#include "core/MemoryStateStream.h"
#include "core/PartitionCandidateSelection.h"
#include "core/RawFilesFolder.h"
#include "core/StateIo.h"
#include "core/TypedFileExtent.h"
#include "fat/FATDBR.h"
#include "fat/FATSearchController.h"
#include "fat/FATSearchedPartitionInfo.h"
#include "storage/ImageFileDevice.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

using namespace fattest;

namespace {

// A device of `count` zero sectors but for the ones a test puts there.
class SparseDevice : public IStorageDevice {
 public:
  SparseDevice(int64_t count, int32_t sectorSize = 512) : m_count(count), m_size(sectorSize) {}
  void Put(int64_t sector, const uint8_t* bytes) { m_sectors[sector].assign(bytes, bytes + m_size); }
  bool ReadSectors(void* buffer, uint64_t first, uint64_t count) override {
    if (first + count > static_cast<uint64_t>(m_count)) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    std::memset(out, 0, count * m_size);
    for (auto it = m_sectors.lower_bound(static_cast<int64_t>(first));
         it != m_sectors.end() && it->first < static_cast<int64_t>(first + count); ++it)
      std::memcpy(out + (it->first - first) * m_size, it->second.data(), m_size);
    return true;
  }
  int64_t GetSectorCount() override { return m_count; }
  int32_t GetSectorSize() override { return m_size; }
  bool Open() override { return true; }
  bool Close() override { return true; }

 private:
  int64_t m_count;
  int32_t m_size;
  std::map<int64_t, std::vector<uint8_t>> m_sectors;
};

// Offers the whole device to the controller in the driver's blocks, without the driver.
void Offer(CFATSearchController& controller, IStorageDevice& device, IntelligentSearchSummary* summary) {
  controller.SetStorageDevice(&device);
  controller.SetSectorsPerRead(8192);
  controller.BeginSearch();
  for (int64_t first = 0; first < device.GetSectorCount(); first += 8192)
    controller.AnalyzeBlock(first, std::min<int64_t>(8192, device.GetSectorCount() - first), summary);
  controller.EndSearch();
}

// The real search driver over the device with the FAT controller alone.
IntelligentSearchSummary Scan(CFATSearchController& controller, IStorageDevice& device) {
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&controller);
  EXPECT_EQ(driver.Search(nullptr), 1);
  return driver.GetSummary();
}

// A first directory sector whose "." names `dot` and ".." names `dotDot`, with one file entry.
std::vector<uint8_t> FirstDirectorySector(uint32_t dot, uint32_t dotDot) {
  std::vector<uint8_t> s(512, 0);
  auto entry = [&s](size_t at, const char* name, uint8_t attributes, uint32_t cluster, uint32_t size) {
    std::memcpy(&s[at], name, 11);
    s[at + 11] = attributes;
    s[at + 20] = static_cast<uint8_t>(cluster >> 16);
    s[at + 21] = static_cast<uint8_t>(cluster >> 24);
    s[at + 26] = static_cast<uint8_t>(cluster);
    s[at + 27] = static_cast<uint8_t>(cluster >> 8);
    for (int i = 0; i < 4; ++i) s[at + 28 + i] = static_cast<uint8_t>(size >> (8 * i));
  };
  entry(0, ".          ", 0x10, dot, 0);
  entry(32, "..         ", 0x10, dotDot, 0);
  entry(64, "PHOTO   JPG", 0x20, dot + 1, 5000);
  return s;
}

TEST(FATSearchedPartitionInfo, SavedFormRoundTripsAndACutRecordChangesNothing) {
  RegisterFATSearchedPartitionInfo();
  CFATSearchedPartitionInfo info(4096);
  info.SetFileSystemType(kFatType32);
  info.SetSectorsPerCluster(8);
  info.SetStartSector(123456);
  info.SetPartitionStart(2048);
  info.SetSectorCount(987654);
  info.SetFoldersMatch(12);
  info.SetScore(95);
  info.SetReservedSectors(32);
  info.SetSectorsPerFAT(1009);
  info.SetClusterCount(129022);
  info.SetRoot(2);
  info.SetEvidenceFlags(0x3D4);
  MemoryStateStream stream;
  stream.BeginSection(TestSection(1));
  SaveSearchedPartitionInfoRecord(stream, info);
  EXPECT_EQ(stream.Section(TestSection(1)).size(), 4 + CFATSearchedPartitionInfo::kSavedSize);
  stream.EndSection();
  const std::vector<uint8_t> whole = stream.Section(TestSection(1));

  stream.StartReading();
  stream.BeginSection(TestSection(1));
  auto loaded = LoadSearchedPartitionInfoRecord(stream);
  ASSERT_NE(loaded, nullptr);
  ASSERT_EQ(loaded->GetInfoType(), kPartitionInfoFat);
  const auto& fat = static_cast<const CFATSearchedPartitionInfo&>(*loaded);
  EXPECT_EQ(fat.GetStartSector(), 123456);
  EXPECT_EQ(fat.GetPartitionStart(), 2048);
  EXPECT_EQ(fat.GetSectorCount(), 987654);
  EXPECT_EQ(fat.GetFoldersMatch(), 12);
  EXPECT_EQ(fat.GetScore(), 95);
  EXPECT_EQ(fat.GetSectorSize(), 4096u);
  EXPECT_EQ(fat.GetReservedSectors(), 32);
  EXPECT_EQ(fat.GetSectorsPerFAT(), 1009u);
  EXPECT_EQ(fat.GetClusterCount(), 129022u);
  EXPECT_EQ(fat.GetRoot(), 2u);
  EXPECT_EQ(fat.GetEvidenceFlags(), 0x3D4u);

  // Cut inside the own fields: the object it was read into keeps what it held.
  for (size_t cut : {whole.size() - 1, whole.size() - 10}) {
    MemoryStateStream partial;
    partial.Section(TestSection(2)).assign(whole.begin() + 4, whole.begin() + cut);
    partial.StartReading();
    partial.BeginSection(TestSection(2));
    CFATSearchedPartitionInfo target(512);
    target.SetRoot(77);
    EXPECT_THROW(target.Load(partial), CRSException) << cut;
    EXPECT_EQ(target.GetRoot(), 77u);
    EXPECT_EQ(target.GetStartSector(), 0);
  }
}

TEST(FATSearchController, FirstDirectorySectorsProposeCandidatesThatFurtherFoldersConfirm) {
  // "." cluster 2 at sector 20000: cluster 2 starts there, whatever the cluster size.
  SparseDevice device(20000 + 40000);
  device.Put(20000, FirstDirectorySector(2, 0).data());
  CFATSearchController controller;
  IntelligentSearchSummary summary;
  Offer(controller, device, &summary);
  EXPECT_EQ(summary.FATFolders, 1);
  EXPECT_EQ(summary.TotalFilesFound, 1);
  ASSERT_FALSE(controller.GetCandidates().empty());
  for (const auto& [key, candidate] : controller.GetCandidates()) {
    EXPECT_EQ(candidate->GetStartSector(), 20000);
    EXPECT_EQ(candidate->GetEvidenceFlags(), kFatFromFolders);
    EXPECT_EQ(candidate->GetFoldersMatch(), 0);
    EXPECT_LE(candidate->GetPartitionStart() + candidate->GetSectorCount(), device.GetSectorCount());
  }
  const CFATSearchedPartitionInfo* one = controller.FindCandidate(20000, 1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->GetFileSystemType(), kFatType16);

  // A second folder, cluster 10 at sector 20008, agrees with cluster size 1; a folder whose "."
  // names no data cluster places nothing.
  device.Put(20008, FirstDirectorySector(10, 2).data());
  device.Put(30000, FirstDirectorySector(1, 0).data());
  CFATSearchController again;
  Offer(again, device, &summary);
  EXPECT_EQ(again.GetDirectorySectors().size(), 3u);
  EXPECT_EQ(again.FindCandidate(20000, 1)->GetFoldersMatch(), 1);
  SearchedPartitionInfoList results;
  again.GetResults(&results);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]->GetStartSector(), 20000);
  EXPECT_EQ(results[0]->GetSectorsPerCluster(), 1);
  EXPECT_EQ(results[0]->GetScore(), 20);
  EXPECT_TRUE(again.GetCandidates().empty());
  EXPECT_EQ(again.GetDirectorySectors().size(), 3u);
}

// The signature search's answer for the test below: one file of `type` starting at `sector`.
struct OneFoundFile : ISignatureResults {
  uint64_t sector = 0;
  int32_t type = 0;
  bool FindFileType(uint64_t at, int32_t& typeId) const override {
    if (at != sector) return false;
    typeId = type;
    return true;
  }
} g_oneFoundFile;

const ISignatureResults* OneFoundFileResults(const CRawFileInfoList*) { return &g_oneFoundFile; }

TEST(FATSearchController, ANamedFileWhereTheSignatureSearchFoundOneOfItsTypeIsAFileMatch) {
  // Two folders that agree on one sector per cluster from sector 20000; each names PHOTO.JPG at
  // the cluster after its own.
  SparseDevice device(60000);
  device.Put(20000, FirstDirectorySector(2, 0).data());
  device.Put(20008, FirstDirectorySector(10, 2).data());
  CTypedFileExtent jpg;
  ASSERT_TRUE(jpg.SetFromAnsiName("PHOTO.JPG", 9, 0, 0));
  g_oneFoundFile.type = jpg.GetFileType();
  g_oneFoundFile.sector = 20000 + (11 - 2);  // cluster 11, PHOTO.JPG of the second folder
  RawFilesFolderHooks hooks;
  hooks.signatureResults = &OneFoundFileResults;
  RegisterRawFilesFolderHooks(hooks);
  // The list of found files is only passed through; the hook stands in for the engine that reads it.
  int notAList = 0;
  CFATSearchController controller;
  controller.SetResultSink(reinterpret_cast<CRawFileInfoList*>(&notAList));
  Offer(controller, device, nullptr);
  EXPECT_EQ(controller.GetTypedFileExtents().GetCount(), 2u);
  SearchedPartitionInfoList results;
  controller.GetResults(&results);
  RegisterRawFilesFolderHooks(RawFilesFolderHooks{});
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]->GetFilesMatch(), 1);
  EXPECT_EQ(controller.GetTypedFileExtents().GetCount(), 0u);
}

// The boot sector of a FAT16 image and the first sector of each FAT copy, placed at sector 2048
// of a device, one row per evidence kept.
struct BootCase {
  const char* name;
  bool firstCopy;
  bool secondCopy;
  bool kept;
  int64_t score;
};

class FatBootEvidence : public ::testing::TestWithParam<BootCase> {};

TEST_P(FatBootEvidence, ABootSectorNeedsAFatCopyOrAFolderAndScoresByWhatWasFound) {
  FAT_IMAGE(image, FatImages()[1]);
  const auto& g = image.geometry;
  const int64_t start = 2048;
  SparseDevice device(start + static_cast<int64_t>(g.totalSectors) + 64);
  device.Put(start, image.bootSector.data());
  std::vector<uint8_t> fat(512);
  ASSERT_TRUE(image.device->ReadSectors(fat.data(), g.fatStart, 1));
  if (GetParam().firstCopy) device.Put(start + g.fatStart, fat.data());
  if (GetParam().secondCopy) device.Put(start + g.fatStart + g.sectorsPerFat, fat.data());
  CFATSearchController controller;
  IntelligentSearchSummary summary;
  Offer(controller, device, &summary);
  EXPECT_EQ(summary.FATBootRecords, 1);
  const CFATSearchedPartitionInfo* found =
      controller.FindCandidate(start + static_cast<int64_t>(g.dataStart), g.sectorsPerCluster);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->GetPartitionStart(), start);
  EXPECT_EQ(found->GetSectorCount(), static_cast<int64_t>(g.totalSectors));
  EXPECT_EQ(found->GetClusterCount(), g.clusterCount);
  EXPECT_EQ(found->GetRoot(), g.rootDirSectors);
  SearchedPartitionInfoList results;
  controller.GetResults(&results);
  ASSERT_EQ(results.size(), GetParam().kept ? 1u : 0u);
  if (GetParam().kept) {
    EXPECT_EQ(results[0]->GetScore(), GetParam().score);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, FatBootEvidence,
                         ::testing::Values(BootCase{"BootSectorAlone", false, false, false, 0},
                                           BootCase{"FirstCopy", true, false, true, 95},
                                           BootCase{"SecondCopy", false, true, true, 95},
                                           BootCase{"BothCopies", true, true, true, 100}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FATSearchController, TwoBootSectorsPlacingOneDataAreaMakeOneCandidateThatKeepsTheFirstGeometry) {
  FAT_IMAGE(image, FatImages()[1]);
  const auto& g = image.geometry;
  ASSERT_GT(g.reservedSectors, 2u);
  const int64_t start = 2048;
  SparseDevice device(start + static_cast<int64_t>(g.totalSectors) + 64);
  device.Put(start, image.bootSector.data());
  // Two sectors later, fewer reserved sectors: the same data area and cluster size.
  std::vector<uint8_t> other = image.bootSector;
  const uint16_t reserved = static_cast<uint16_t>(g.reservedSectors - 2);
  other[14] = static_cast<uint8_t>(reserved);
  other[15] = static_cast<uint8_t>(reserved >> 8);
  device.Put(start + 2, other.data());
  std::vector<uint8_t> fat(512);
  ASSERT_TRUE(image.device->ReadSectors(fat.data(), g.fatStart, 1));
  device.Put(start + g.fatStart, fat.data());
  CFATSearchController controller;
  IntelligentSearchSummary summary;
  Offer(controller, device, &summary);
  EXPECT_EQ(summary.FATBootRecords, 2);
  ASSERT_EQ(controller.GetCandidates().size(), 1u);
  const CFATSearchedPartitionInfo& kept = *controller.GetCandidates().begin()->second;
  EXPECT_EQ(kept.GetStartSector(), start + static_cast<int64_t>(g.dataStart));
  EXPECT_EQ(kept.GetPartitionStart(), start);
  EXPECT_EQ(kept.GetReservedSectors(), g.reservedSectors);
  EXPECT_EQ(kept.GetEvidenceFlags(), kFatFromFat16BootSector | kFatFoundFirstCopy | kFatUseFirstCopy);
}

TEST(FATSearchController, Fat32AtSectorZeroAndItsBackupMakeOneCandidateWithBothBootFlags) {
  FAT_IMAGE(image, FatImages()[4]);
  const auto& g = image.geometry;
  CFATSearchController controller;
  const IntelligentSearchSummary summary = Scan(controller, *image.device);
  EXPECT_EQ(summary.FATBootRecords, 2);
  EXPECT_GE(summary.FATFolders, 10);
  const CFATSearchedPartitionInfo* atZero = controller.FindCandidate(static_cast<int64_t>(g.dataStart), 1);
  const CFATSearchedPartitionInfo* atSix = controller.FindCandidate(static_cast<int64_t>(g.dataStart) + 6, 1);
  ASSERT_TRUE(atZero && atSix);
  EXPECT_EQ(atZero->GetEvidenceFlags(), kFatFromFat32BootSector | kFatFromFat32BackupBootSector |
                                            kFatFromFolders | kFatFoundFirstCopy | kFatUseFirstCopy |
                                            kFatFoundSecondCopy | kFatUseSecondCopy);
  EXPECT_EQ(atSix->GetEvidenceFlags(), kFatFromFat32BootSector);
  EXPECT_EQ(atZero->GetRoot(), g.rootCluster);
  EXPECT_EQ(controller.GetCandidates().size(), 2u) << "no folder proposed a candidate of its own";
  SearchedPartitionInfoList results;
  controller.GetResults(&results);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]->GetPartitionStart(), 0);
  EXPECT_EQ(results[0]->GetScore(), 100);
  EXPECT_GE(results[0]->GetFoldersMatch(), 10);
}

TEST(FATSearchController, DirectorySectorsSurviveTheStateStreamAndABadStreamChangesNothing) {
  FAT_IMAGE(image, FatImages()[1]);
  CFATSearchController controller;
  Scan(controller, *image.device);
  ASSERT_GT(controller.GetDirectorySectors().size(), 5u);
  MemoryStateStream stream;
  stream.BeginSection(TestSection(3));
  controller.SaveState(stream);
  stream.EndSection();
  const std::vector<uint8_t> whole = stream.Section(TestSection(3));
  EXPECT_EQ(whole.size(), 4 + 16 * controller.GetDirectorySectors().size());

  stream.StartReading();
  stream.BeginSection(TestSection(3));
  CFATSearchController restored;
  restored.LoadState(stream);
  EXPECT_EQ(restored.GetDirectorySectors().Records(), controller.GetDirectorySectors().Records());

  // A cut record, and a count far beyond the records that follow: the stream's error, and the set
  // as it was.
  std::vector<uint8_t> cut(whole.begin(), whole.end() - 3);
  std::vector<uint8_t> lying = whole;
  lying[0] = lying[1] = lying[2] = lying[3] = 0xFF;
  for (const auto& bytes : {cut, lying}) {
    MemoryStateStream bad;
    bad.Section(TestSection(4)) = bytes;
    bad.StartReading();
    bad.BeginSection(TestSection(4));
    EXPECT_THROW(restored.LoadState(bad), CRSException);
    EXPECT_EQ(restored.GetDirectorySectors().Records(), controller.GetDirectorySectors().Records());
  }
}

// ---------------------------------------------------------------------------------------------
// A FAT32 image cut short: the scan keeps the partition its boot sector places, and the files past
// the cut stay in the tree, where their recovery fails and is counted, as a recovery of the volume
// itself counts it.

TEST(FatCutImage, TheScanKeepsTheBootSectorsStartAndCountsTheFilesPastTheCutAsFailures) {
  std::string why;
  const std::string path = corvale::test::FixtureImage("fat32_cut.sh", "fat32_cut.img", &why);
  if (path.empty()) GTEST_SKIP() << why;
  CImageFileDevice device(path);
  ASSERT_TRUE(device.IsOpened());
  CFATSearchController controller;
  const IntelligentSearchSummary summary = Scan(controller, device);
  EXPECT_GE(summary.FATBootRecords, 1);
  SearchedPartitionInfoList list;
  controller.GetResults(&list);
  ComputePartitionWeights(list);
  SortSearchedPartitions(list);
  SelectPartitionLayout(list, device.GetSectorCount());
  ASSERT_FALSE(list.empty());
  CSearchedPartitionInfo* chosen = list.front().get();
  EXPECT_EQ(chosen->GetChosenMark(), 1);
  const auto* fat = dynamic_cast<const CFATSearchedPartitionInfo*>(chosen);
  ASSERT_NE(fat, nullptr);
  EXPECT_EQ(fat->GetPartitionStart(), 0);
  EXPECT_EQ(fat->GetFileSystemType(), kFatType32);
  // No partition reaches past the image, whatever its boot sector says.
  EXPECT_LE(fat->GetPartitionStart() + fat->GetSectorCount(), device.GetSectorCount());
  for (const auto& other : list) {
    if (other.get() != chosen) {
      EXPECT_NE(other->GetChosenMark(), 1) << "start " << other->GetStartSector();
    }
  }

  Tree tree(controller.BuildPartitionDirectory(chosen, &device, 0, nullptr));
  ASSERT_NE(tree, nullptr);
  std::map<std::string, const CFileNode*> nodes;
  Collect(tree.get(), "", &nodes);
  size_t files = 0;
  for (const auto& [p, node] : nodes) files += BaseName(p).rfind("FILE", 0) == 0 ? 1 : 0;
  EXPECT_EQ(files, 60u) << Describe(nodes);

  tree->ToggleCheck(tree.get(), false);
  const std::string target = corvale::test::ScratchDir() + "/recovered";
  std::string top;
  CFileRecoverer recoverer;
  ASSERT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, tree.get(), target.c_str(), &top),
            CFileRecoverer::kResultOk);
  // Files 1 to 34 lie before the cut; 35 runs across it and 36 to 60 lie past it.
  EXPECT_EQ(recoverer.GetRecoveredFileCount(), 34u);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 26u);
  for (int i = 1; i <= 34; ++i) {
    char name[32], tag[32];
    std::snprintf(name, sizeof name, "FILE%02d.DAT", i);
    std::snprintf(tag, sizeof tag, "file%02d", i);
    const std::vector<uint8_t> got = ReadAll(top + "/" + name);
    EXPECT_EQ(std::string(got.begin(), got.end()), Pattern(tag, 300 * 1024)) << name;
  }
}

// ---------------------------------------------------------------------------------------------
// A disk whose FAT partition lost its boot sector, backup and FATs.

struct LostBootDisk {
  const char* script;
  const char* image;
  FatFixture same;  // the intact volume made with the same parameters, for the layout
};

void PrintTo(const LostBootDisk& disk, std::ostream* os) { *os << disk.image; }

class FatLostBootDisk : public ::testing::TestWithParam<LostBootDisk> {};

TEST_P(FatLostBootDisk, TheScanRebuildsThePartitionFromItsFoldersAndItsFilesAreRecovered) {
  std::string why;
  const std::string path = corvale::test::FixtureImage(GetParam().script, GetParam().image, &why);
  if (path.empty()) GTEST_SKIP() << why;
  FAT_IMAGE(layout, GetParam().same);
  const int64_t partition = 2048;
  const int64_t dataStart = partition + static_cast<int64_t>(layout.geometry.dataStart);
  CImageFileDevice device(path);
  ASSERT_TRUE(device.IsOpened());

  CFATSearchController controller;
  const IntelligentSearchSummary summary = Scan(controller, device);
  EXPECT_EQ(summary.FATBootRecords, 0);
  SearchedPartitionInfoList list;
  controller.GetResults(&list);
  ComputePartitionWeights(list);
  SortSearchedPartitions(list);
  SelectPartitionLayout(list, device.GetSectorCount());
  ASSERT_FALSE(list.empty());
  CSearchedPartitionInfo* chosen = list.front().get();
  EXPECT_EQ(chosen->GetChosenMark(), 1);
  EXPECT_EQ(chosen->GetStartSector(), dataStart);
  EXPECT_EQ(chosen->GetSectorsPerCluster(), layout.geometry.sectorsPerCluster);
  EXPECT_EQ(chosen->GetFileSystemType(), GetParam().same.typeCode);
  ASSERT_TRUE(controller.AcceptsPartitionType(chosen->GetFileSystemType()));

  Tree tree(controller.BuildPartitionDirectory(chosen, &device, 0, nullptr));
  ASSERT_NE(tree, nullptr);
  std::map<std::string, const CFileNode*> nodes;
  Collect(tree.get(), "", &nodes);
  std::map<std::string, std::string> byName;
  for (const auto& [p, node] : nodes) byName[BaseName(p)] = p;
  const uint32_t cb = layout.geometry.clusterBytes;
  std::vector<std::pair<std::string, Expected>> files;
  size_t manyFound = 0;
  for (const Expected& e : ExpectedFiles(cb)) {
    // Without the FATs a fragmented file reads as one stretch from its first cluster.
    if (e.path == "frag/D.bin") continue;
    const bool many = e.path.rfind("many/", 0) == 0;
    auto found = byName.find(BaseName(e.path));
    if (found == byName.end() && !many) {
      // Sectors and clusters read on their own lose the long-name pieces before their start: the
      // name's end is missing, but at least a piece's worth of it is there.
      for (auto it = byName.begin(); it != byName.end(); ++it) {
        if (it->first.size() >= 13 && BaseName(e.path).rfind(it->first, 0) == 0) found = it;
      }
    }
    if (many) {
      // The folder's later clusters are lost clusters, and its names all begin alike: only whole
      // names are taken.
      if (found == byName.end()) continue;
      ++manyFound;
    } else {
      ASSERT_NE(found, byName.end()) << e.path << " missing from\n" << Describe(nodes);
    }
    files.emplace_back(found->second, e);
  }
  EXPECT_GE(manyFound, 20u);

  tree->ToggleCheck(tree.get(), false);
  const std::string target = corvale::test::ScratchDir() + "/recovered";
  std::string top;
  CFileRecoverer recoverer;
  ASSERT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, tree.get(), target.c_str(), &top),
            CFileRecoverer::kResultOk);
  for (const auto& [p, e] : files) {
    const std::vector<uint8_t> got = ReadAll(top + "/" + p);
    EXPECT_EQ(std::string(got.begin(), got.end()), Pattern(e.tag, e.size)) << p;
  }
}

TEST_P(FatLostBootDisk, SeededMutationsOfTheDiskNeverLoopOrCrashTheScanOrTheBuild) {
  std::string why;
  const std::string path = corvale::test::FixtureImage(GetParam().script, GetParam().image, &why);
  if (path.empty()) GTEST_SKIP() << why;
  FAT_IMAGE(layout, GetParam().same);
  const std::vector<uint8_t> original = ReadAll(path);
  const auto& g = layout.geometry;
  // The partition's system area and its first directory clusters.
  const uint64_t from = 2048ULL * 512;
  const uint64_t span = (g.dataStart + 96ULL * g.sectorsPerCluster) * 512;
  std::mt19937 random(20261210);
  for (int round = 0; round < 8; ++round) {
    std::vector<uint8_t> bytes = original;
    const int flips = 1 + static_cast<int>(random() % 400);
    for (int i = 0; i < flips; ++i) bytes[from + random() % span] = static_cast<uint8_t>(random());
    // Some rounds also get back a boot sector whose geometry lies.
    if (round % 2 == 1) {
      std::memcpy(&bytes[from], layout.bootSector.data(), 512);
      for (int i = 0; i < 6; ++i) bytes[from + 11 + random() % 30] = static_cast<uint8_t>(random());
    }
    MemoryDevice device(std::move(bytes), 512);
    CFATSearchController controller;
    Scan(controller, device);
    SearchedPartitionInfoList list;
    controller.GetResults(&list);
    for (size_t i = 0; i < list.size() && i < 3; ++i)
      FreeFileTree(
          controller.BuildPartitionDirectory(list[i].get(), &device, static_cast<int32_t>(i), nullptr));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Disks, FatLostBootDisk,
    ::testing::Values(LostBootDisk{"fat16_disk_lost_boot.sh", "fat16_disk_lost_boot.img", FatImages()[1]},
                      LostBootDisk{"fat32_disk_lost_boot.sh", "fat32_disk_lost_boot.img", FatImages()[4]}),
    [](const auto& info) { return std::string(info.param.same.fatBits == 16 ? "fat16" : "fat32"); });

}  // namespace
