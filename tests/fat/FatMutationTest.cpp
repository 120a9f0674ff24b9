// Seeded mutation of real boot sectors, FAT sectors and directory sectors, fed to every FAT
// structure reader. Run under AddressSanitizer and UBSan, it shows that no value read off a disk
// makes a reader go out of bounds, divide by zero, overflow or loop without end. Each input kind
// gets a fixed number of mutants, so the run takes seconds and is the same every time. Beside them,
// each volume cut at every KiB of the last 64 KiB its files reach, read both as a volume and by the
// scan, with the files counted true; and disks whose every sector is the same boot, FAT or
// directory sector.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <vector>

#include "FatTestSupport.h"
#include "FatTreeSupport.h"
#include "core/FileNode.h"
#include "core/FileRecoverer.h"
#include "core/IntelligentSearchController.h"
#include "core/PartitionCandidateSelection.h"
#include "fat/FATDBR.h"
#include "fat/FATDataRunList.h"
#include "fat/FATDirEntry.h"
#include "fat/FATDirSectorAnalyzer.h"
#include "fat/FATDirectoryBuilder.h"
#include "fat/FATSearchController.h"
#include "fat/FATSearchedPartitionInfo.h"
#include "fat/FATTable.h"
#include "fat/FATVolumeLabelReader.h"
#include "fat/FatChain.h"
#include "fat/FatVolumeAnalyze.h"
#include "storage/ByteReader.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

using namespace corvale;
using namespace corvale::fat;
using namespace fattest;

namespace {

constexpr int kMutantsPerInput = 400;

// Changes a few bytes of `bytes` in [from, to): single bytes, boundary values, or a 16/32-bit field.
void Mutate(std::mt19937& random, std::vector<uint8_t>& bytes, size_t from, size_t to) {
  static constexpr uint8_t kValues[] = {0x00, 0x01, 0x02, 0x05, 0x0F, 0x10, 0x20, 0x2E,
                                        0x40, 0x7F, 0x80, 0xE5, 0xF7, 0xF8, 0xFF};
  const int changes = 1 + static_cast<int>(random() % 6);
  for (int i = 0; i < changes; ++i) {
    const size_t at = from + random() % (to - from);
    switch (random() % 4) {
      case 0:
        bytes[at] = static_cast<uint8_t>(random());
        break;
      case 1:
        bytes[at] = kValues[random() % sizeof kValues];
        break;
      case 2:
        if (at + 2 <= to) putLE(&bytes[at], random() % 2 ? random() : 0xFFFF, 2);
        break;
      default:
        if (at + 4 <= to) putLE(&bytes[at], random() % 2 ? random() : 0x0FFFFFF7 + random() % 9, 4);
        break;
    }
  }
}

// The first `sectors` sectors of an image, as bytes.
std::vector<uint8_t> Head(OpenedImage& image, uint64_t sectors) {
  const uint32_t ss = image.geometry.bytesPerSector;
  std::vector<uint8_t> bytes(sectors * ss);
  if (!image.device->ReadSectors(bytes.data(), 0, sectors)) bytes.clear();
  return bytes;
}

void ReadEveryWay(const std::vector<uint8_t>& directory, uint32_t clusterCount) {
  CFATDirSectorAnalyzer analyzer(512);
  for (size_t s = 0; s + 512 <= directory.size(); s += 512) {
    analyzer.Analyze(directory.data() + s, 512);
    EXPECT_LE(analyzer.GetEntryCount(), 16u);
  }
  size_t sequence = SIZE_MAX;
  for (size_t offset = 0; offset + 32 <= directory.size(); offset += 32) {
    const CFATDirEntry entry(directory.data(), directory.size(), offset);
    entry.GetShortName(true);
    entry.describe();
    if (!isPlausibleFatDirEntry(directory.data(), directory.size(), offset, {clusterCount, 7})) {
      sequence = SIZE_MAX;
      continue;
    }
    if (entry.IsLongNamePiece()) {
      if (sequence == SIZE_MAX) sequence = offset;
      continue;
    }
    const size_t start = sequence == SIZE_MAX ? offset : sequence;
    sequence = SIZE_MAX;
    auto p = CreateFATFileFromEntries(directory.data() + start, offset + 32 - start);
    if (p) {
      EXPECT_LE(p->GetNameLength(), CFATFileProperties::kMaxNameLength);
    }
  }
  // Any starting offset, also one inside an entry.
  std::string name;
  for (size_t offset = 0; offset < directory.size(); offset += 97)
    GetNameFromEntries(directory.data() + offset, directory.size() - offset, &name, nullptr);
}

// The files of a tree, and how many of them lie wholly on `device`: the sectors their bytes need,
// run by run, end before its end.
struct FileCount {
  size_t files = 0;
  size_t onDevice = 0;
};
// Runs count clusters from the data area's start.
FileCount CountFiles(CFileNode* root, uint64_t dataStart, uint32_t sectorsPerCluster, uint32_t sectorSize,
                     uint64_t deviceSectors) {
  FileCount count;
  WalkSubtree(root, [&](CFileNode* n) {
    const IFileProperties* p = n->GetFileProperties();
    if (p == nullptr || p->IsFolder() || dynamic_cast<const CFATFileProperties*>(p) == nullptr) return;
    ++count.files;
    const auto runs = p->CreateDataRunList();
    uint64_t left = p->GetSize();
    bool inside = true;
    if (runs) {
      for (const DataRun& run : runs->Runs()) {
        if (left == 0) break;
        const uint64_t bytes = std::min<uint64_t>(left, run.length * sectorsPerCluster * sectorSize);
        inside =
            inside && dataStart + run.start * sectorsPerCluster + (bytes + sectorSize - 1) / sectorSize <=
                          deviceSectors;
        left -= bytes;
      }
    }
    count.onDevice += inside ? 1 : 0;
  });
  return count;
}

// Recovers the whole tree into a fresh folder: every file either comes back or is counted failed,
// and those that lie wholly on the device come back.
void RecoverCountsTrue(IStorageDevice& device, CFileSystemNode* root, const FileCount& count,
                       const std::string& what) {
  root->ToggleCheck(root, false);
  const std::string target = corvale::test::ScratchDir() + "/recovered";
  std::string top;
  CFileRecoverer recoverer;
  recoverer.RecoverFilesInThread(&device, nullptr, root, target.c_str(), &top);
  EXPECT_EQ(recoverer.GetRecoveredFileCount() + recoverer.GetFailedFileCount(), count.files) << what;
  EXPECT_EQ(recoverer.GetRecoveredFileCount(), count.onDevice) << what;
  std::error_code ec;
  std::filesystem::remove_all(target, ec);
}

class MutatedImage : public ::testing::TestWithParam<FatFixture> {};

}  // namespace

TEST_P(MutatedImage, BootSectorsNeverLeadAReaderAstray) {
  const FatFixture& fixture = GetParam();
  FAT_IMAGE(image, fixture);
  const uint32_t ss = fixture.sectorSize;
  // Enough of the volume for the label reader: the FATs, the root and a few clusters.
  const std::vector<uint8_t> head = Head(image, image.geometry.dataStart + 16 * fixture.sectorsPerCluster);
  ASSERT_FALSE(head.empty());
  std::mt19937 random(1000 + fixture.fatBits);
  MemoryDevice device(head, static_cast<int32_t>(ss));
  std::vector<uint8_t>& bytes = device.Bytes();
  for (int i = 0; i < kMutantsPerInput; ++i) {
    std::copy(head.begin(), head.begin() + 512, bytes.begin());
    Mutate(random, bytes, 0, 512);
    FatBootSector boot;
    if (FatBootSector::Parse(bytes.data(), bytes.size(), boot).IsValid()) {
      FatVolumeGeometry g;
      if (boot.GetGeometry(g).IsValid()) {
        EXPECT_LT(g.dataStart, g.totalSectors);
        EXPECT_GT(g.clusterCount, 0u);
      }
      boot.describe();
    }
    const CFATDBR dbr(bytes.data(), bytes.size(), ss);
    dbr.describe();
    const CFatVolumeAnalyze volume(&device, 0);
    EXPECT_EQ(volume.GetFileSystemType(), dbr.GetFATType());
    EXPECT_LE(volume.GetLabel().size(), IVolume::kMaxLabelBytes);
    if (!dbr.IsValid()) continue;
    const FatVolumeGeometry& g = dbr.GetGeometry();
    EXPECT_TRUE(g.variant == FatVariant::Fat32 || g.rootCluster == 0);
    // The tables themselves are mutated below; here only where a changed boot sector puts them.
    if (g.fatStart == image.geometry.fatStart && g.sectorsPerFat == image.geometry.sectorsPerFat) continue;
    auto fat = CreateDoubleFATTable(&device, g.fatStart, dbr.GetFATType(), g.sectorsPerFat, true, true);
    std::vector<uint32_t> chain;
    FollowFATChain(*fat, g.variant == FatVariant::Fat32 ? g.rootCluster : 2, g.clusterCount, 1 << 16, &chain);
    EXPECT_LE(chain.size(), g.clusterCount);
  }
}

TEST_P(MutatedImage, FatSectorsNeverLeadAWalkAstray) {
  const FatFixture& fixture = GetParam();
  FAT_IMAGE(image, fixture);
  const FatVolumeGeometry& g = image.geometry;
  const int32_t type = fixture.fatBits == 12 ? kFatType12 : fixture.fatBits == 16 ? kFatType16 : kFatType32;
  const std::vector<uint8_t> head = Head(image, g.fatStart + g.sectorsPerFat);
  ASSERT_FALSE(head.empty());
  const size_t fatFrom = g.fatStart * fixture.sectorSize;
  const size_t fatTo =
      std::min<size_t>(head.size(), fatFrom + 4 * fixture.sectorSize);  // where the files' entries are
  std::mt19937 random(2000 + fixture.fatBits);
  std::vector<bool> used(g.clusterCount);
  MemoryDevice device(head, static_cast<int32_t>(fixture.sectorSize));
  std::vector<uint8_t>& bytes = device.Bytes();
  for (int i = 0; i < kMutantsPerInput; ++i) {
    std::copy(head.begin() + static_cast<long>(fatFrom), head.begin() + static_cast<long>(fatTo),
              bytes.begin() + static_cast<long>(fatFrom));
    Mutate(random, bytes, fatFrom, fatTo);
    // The copy is read whatever its validity says, as the walks may meet any table.
    std::unique_ptr<IRealFATTable> table;
    if (type == kFatType12)
      table = std::make_unique<CFAT12Table>(&device, g.fatStart, g.sectorsPerFat);
    else if (type == kFatType16)
      table = std::make_unique<CFAT16Table>(&device, g.fatStart, g.sectorsPerFat);
    else
      table = std::make_unique<CFAT32Table>(&device, g.fatStart, g.sectorsPerFat);
    table->IsValid();
    IsFATTableStartSector(bytes.data() + fatFrom, fatTo - fatFrom);
    FATRunListContext context;
    context.fat = table.get();
    context.sectorsPerCluster = g.sectorsPerCluster;
    context.sectorSize = g.bytesPerSector;
    context.dataSectors = g.totalSectors - g.dataStart;
    context.usedClusters = &used;
    for (uint32_t first : {2u, 3u, 9u, 11u, 28u, 70u}) {
      std::vector<uint32_t> chain;
      FollowFATChain(*table, first, g.clusterCount, 1 << 20, &chain);
      EXPECT_LE(chain.size(), g.clusterCount);
      for (bool deleted : {false, true}) {
        std::unique_ptr<CFATDataRunList> runs;
        if (BuildFATRunList(context, first, 40 * g.clusterBytes, deleted, &runs) == FATRunListResult::Built) {
          for (const DataRun& run : runs->Runs())
            EXPECT_LE((run.start + run.length) * g.sectorsPerCluster, context.dataSectors);
        }
      }
    }
  }
}

TEST_P(MutatedImage, DirectorySectorsNeverLeadAParserAstray) {
  const FatFixture& fixture = GetParam();
  FAT_IMAGE(image, fixture);
  std::vector<std::vector<uint8_t>> directories = {ReadDirectoryBytes(image, 0, false)};
  for (const char* folder : {"many", "Old Folder"}) {
    std::vector<FoundEntry> root;
    ASSERT_TRUE(ListFolder(image, "", &root));
    for (const FoundEntry& e : root) {
      if (e.name == folder)
        directories.push_back(
            ReadDirectoryBytes(image, e.properties->GetFirstCluster(), e.properties->IsDeleted()));
    }
  }
  ASSERT_EQ(directories.size(), 3u);
  std::mt19937 random(3000 + fixture.fatBits);
  for (const auto& original : directories) {
    ASSERT_GE(original.size(), 512u);
    const size_t length = std::min<size_t>(original.size(), 4096);
    for (int i = 0; i < kMutantsPerInput; ++i) {
      std::vector<uint8_t> bytes(original.begin(), original.begin() + static_cast<long>(length));
      Mutate(random, bytes, 0, bytes.size());
      ReadEveryWay(bytes, image.geometry.clusterCount);
    }
  }
}

TEST_P(MutatedImage, VolumesCutNearTheEndOfTheirFilesCountEveryFileTrue) {
  const FatFixture& fixture = GetParam();
  FAT_IMAGE(image, fixture);
  const FatVolumeGeometry& g = image.geometry;
  const uint32_t ss = fixture.sectorSize;
  // The end of the last cluster in use: past it the volume holds nothing.
  uint64_t lastUsed = 2;
  for (uint64_t c = 2; c < g.clusterCount + 2ULL; ++c)
    if (image.fat->GetNextCluster(static_cast<uint32_t>(c)) != 0) lastUsed = c;
  const uint64_t usedEnd = (g.dataStart + (lastUsed - 1) * g.sectorsPerCluster) * ss;
  std::vector<uint8_t> whole((usedEnd + ss - 1) / ss * ss);
  ASSERT_TRUE(image.device->ReadSectors(whole.data(), 0, whole.size() / ss));

  uint64_t previous = 0;
  for (uint64_t back = 0; back <= 64 * 1024; back += 1024) {
    if (back >= usedEnd) break;
    const uint64_t cut = (usedEnd - back) / ss * ss;
    if (cut == previous || cut <= g.dataStart * ss) continue;
    previous = cut;
    const std::string what = "cut at " + std::to_string(cut);
    MemoryDevice device(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(cut)),
                        static_cast<int32_t>(ss));
    const uint64_t sectors = cut / ss;

    // As a volume: its boot sector tells the geometry. (The volume build takes FAT16 and FAT32
    // tables only; a FAT12 volume is read by the scan alone.)
    FileCount count;
    if (fixture.fatBits != 12) {
      CFATDirectoryBuilder builder;
      FATBuildSource source;
      source.evidenceFlags = 0x01 | kEvidenceFirstFat | kEvidenceSecondFat;
      Tree volume(builder.Build(nullptr, source, &device, true));
      ASSERT_NE(volume, nullptr) << what;
      count = CountFiles(volume.get(), g.dataStart, g.sectorsPerCluster, ss, sectors);
      RecoverCountsTrue(device, volume.get(), count, what + ", as a volume");
    }

    // By the scan: the partition its boot sector places, with the same files.
    CFATSearchController controller;
    CIntelligentSearchController driver;
    driver.SetStartSectorSource([] { return uint64_t{0}; });
    driver.SetStorageDevice(&device);
    driver.AddFileSystemSearchController(&controller);
    ASSERT_EQ(driver.Search(nullptr), 1);
    SearchedPartitionInfoList list;
    controller.GetResults(&list);
    ComputePartitionWeights(list);
    SortSearchedPartitions(list);
    SelectPartitionLayout(list, device.GetSectorCount());
    // The scan proposes no FAT12 partition even on the intact floppy (it knows no FAT12 table
    // start): there it only has to end.
    if (fixture.fatBits == 12) continue;
    ASSERT_FALSE(list.empty()) << what;
    const auto* chosen = dynamic_cast<const CFATSearchedPartitionInfo*>(list.front().get());
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->GetPartitionStart(), 0) << what;
    EXPECT_EQ(chosen->GetStartSector(), static_cast<int64_t>(g.dataStart)) << what;
    Tree scanned(controller.BuildPartitionDirectory(list.front().get(), &device, 0, nullptr));
    ASSERT_NE(scanned, nullptr) << what;
    const FileCount found = CountFiles(scanned.get(), g.dataStart, g.sectorsPerCluster, ss, sectors);
    EXPECT_GE(found.files, count.files) << what;
    RecoverCountsTrue(device, scanned.get(), found, what + ", by the scan");
  }
}

// Every sector of a disk the same boot sector, first FAT sector or directory sector: the scan ends,
// counts what each sector is, and whatever candidates it keeps build without harm.
TEST_P(MutatedImage, OneStructureSectorInEverySectorNeverLeadsTheScanAstray) {
  const FatFixture& fixture = GetParam();
  FAT_IMAGE(image, fixture);
  const FatVolumeGeometry& g = image.geometry;
  const uint32_t ss = fixture.sectorSize;
  constexpr uint64_t kSectors = 2048;
  std::vector<uint8_t> fatStart(ss);
  ASSERT_TRUE(image.device->ReadSectors(fatStart.data(), g.fatStart, 1));
  // A folder's first sector, with its "." and ".." entries.
  std::vector<FoundEntry> rootEntries;
  ASSERT_TRUE(ListFolder(image, "", &rootEntries));
  std::vector<uint8_t> directory;
  for (const FoundEntry& e : rootEntries)
    if (e.name == "many") directory = ReadDirectoryBytes(image, e.properties->GetFirstCluster(), false);
  ASSERT_GE(directory.size(), ss);
  directory.resize(ss);
  std::vector<uint8_t> boot(image.bootSector);
  boot.resize(ss, 0);
  for (const auto& [name, sector] : std::map<std::string, const std::vector<uint8_t>*>{
           {"boot sector", &boot}, {"first FAT sector", &fatStart}, {"folder sector", &directory}}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> bytes;
    for (uint64_t s = 0; s < kSectors; ++s) bytes.insert(bytes.end(), sector->begin(), sector->end());
    MemoryDevice device(std::move(bytes), static_cast<int32_t>(ss));
    CFATSearchController controller;
    CIntelligentSearchController driver;
    driver.SetStartSectorSource([] { return uint64_t{0}; });
    driver.SetStorageDevice(&device);
    driver.AddFileSystemSearchController(&controller);
    ASSERT_EQ(driver.Search(nullptr), 1);
    const IntelligentSearchSummary summary = driver.GetSummary();
    EXPECT_LE(summary.FATBootRecords, static_cast<int64_t>(kSectors));
    EXPECT_EQ(summary.FATFolders + summary.FATFolderParts,
              name == "folder sector" ? static_cast<int64_t>(kSectors) : 0);
    SearchedPartitionInfoList list;
    controller.GetResults(&list);
    for (size_t i = 0; i < list.size() && i < 3; ++i)
      FreeFileTree(
          controller.BuildPartitionDirectory(list[i].get(), &device, static_cast<int32_t>(i), nullptr));
  }
}

INSTANTIATE_TEST_SUITE_P(Images, MutatedImage, ::testing::ValuesIn(FatImages()), [](const auto& info) {
  std::string name = info.param.image;
  return name.substr(0, name.find('.'));
});
