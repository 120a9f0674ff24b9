// The Ext2/Ext3 search controller driven by the real search driver over disk images: the partitions
// it rebuilds from superblock copies (with the primary copy or the partition table gone), their
// scores, and the directory trees built over them, recovered byte for byte.

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Ext2TestSupport.h"
#include "core/FileNode.h"
#include "core/FileRecoverer.h"
#include "core/IntelligentSearchController.h"
#include "core/MemoryStateStream.h"
#include "core/PartitionCandidateSelection.h"
#include "ext2/EXT2SearchController.h"
#include "ext2/Ext2Engine.h"
#include "ext2/Ext2FileProperties.h"
#include "storage/ImageFileDevice.h"

namespace {

using namespace ext2test;
namespace fs = std::filesystem;

constexpr Image kDisk{"ext2_disk.sh", "ext2_disk.img"};
constexpr int64_t kPartitionStart = 2048;
constexpr uint64_t kPartitionBytes = kPartitionStart * 512;

using Tree = std::unique_ptr<CFileSystemNode, void (*)(CFileNode*)>;
Tree Own(CFileSystemNode* root) { return Tree(root, &FreeFileTree); }

const CExt2FileProperties& Props(const CFileNode* node) {
  return *static_cast<const CExt2FileProperties*>(node->GetFileProperties());
}

std::map<std::string, const CFileNode*> Collect(const CFileNode* root) {
  std::map<std::string, const CFileNode*> out;
  std::vector<std::pair<const CFileNode*, std::string>> stack{{root, ""}};
  while (!stack.empty()) {
    auto [node, path] = stack.back();
    stack.pop_back();
    for (const CFileNode* c = node->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
      std::string p = path.empty() ? Props(c).GetName() : path + "/" + Props(c).GetName();
      out[p] = c;
      stack.emplace_back(c, p);
    }
  }
  return out;
}

// A copy of `image` with the byte ranges zeroed.
std::string DamagedCopy(const std::string& image, const std::string& into,
                        const std::vector<std::pair<uint64_t, uint64_t>>& zeroed) {
  const std::string path = into + "/disk.img";
  fs::copy_file(image, path, fs::copy_options::overwrite_existing);
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  for (const auto& [offset, length] : zeroed) {
    std::vector<uint8_t> zeros(length, 0);
    std::fseek(f, static_cast<long>(offset), SEEK_SET);
    std::fwrite(zeros.data(), 1, zeros.size(), f);
  }
  std::fclose(f);
  return path;
}

SearchedPartitionInfoList Scan(IStorageDevice& device, CEXT2SearchController& controller) {
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&controller);
  EXPECT_EQ(driver.Search(nullptr), 1);
  SearchedPartitionInfoList results;
  controller.GetResults(&results);
  return results;
}

struct DiskCase {
  const char* name;
  std::vector<std::pair<uint64_t, uint64_t>> zeroed;
  int64_t score;
  int64_t foundSector;  // where the copy the record stands for was seen
};

class Ext2DiskScan : public ::testing::TestWithParam<DiskCase> {};

TEST_P(Ext2DiskScan, RebuildsThePartitionAndItsFilesRecoverByteExact) {
  EXT2_IMAGE(clean, kDisk);
  const std::string scratch = corvale::test::ScratchDir();
  const std::string path = DamagedCopy(clean, scratch, GetParam().zeroed);
  CImageFileDevice device(path);
  ASSERT_TRUE(device.IsOpened());
  CEXT2SearchController controller;
  SearchedPartitionInfoList results = Scan(device, controller);
  ASSERT_EQ(results.size(), 1u);
  auto* record = dynamic_cast<CExt2SearchedPartitionInfo*>(results[0].get());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->GetPartitionStart(), kPartitionStart);
  EXPECT_EQ(record->GetStartSector(), GetParam().foundSector);
  EXPECT_EQ(record->GetFileSystemType(), 4);
  EXPECT_EQ(record->GetSectorsPerCluster(), 2);
  EXPECT_EQ(record->GetSectorCount(), 96256 * 2);
  EXPECT_EQ(record->GetScore(), GetParam().score);
  EXPECT_GE(record->GetCopies(), 2u);

  ComputePartitionWeights(results);
  SortSearchedPartitions(results);
  SelectPartitionLayout(results, device.GetSectorCount());
  EXPECT_EQ(results[0]->GetChosenMark(), 1);

  ASSERT_TRUE(controller.AcceptsPartitionType(record->GetFileSystemType()));
  Tree tree = Own(controller.BuildPartitionDirectory(record, &device, 0, nullptr));
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->GetFileSystemType(), 4);
  std::map<std::string, const CFileNode*> nodes = Collect(tree.get());

  // The reference: what debugfs dumps from the undamaged image, live files and deleted inodes.
  const std::string fsImage = clean + "?offset=" + std::to_string(kPartitionBytes);
  const std::string dump = scratch + "/dump";
  fs::create_directories(dump + "/data");
  const std::vector<std::string> live = {"hello.txt",     "docs/readme.md", "docs/zkeep.txt",
                                         "data/live.bin", "data/holey.bin", "data/inner/inner.txt",
                                         "utf8/café.txt"};
  struct Deleted {
    std::string path;
    uint32_t inode;
  };
  std::vector<Deleted> deleted;
  {
    std::string lsdel = Debugfs(fsImage, "lsdel");
    std::istringstream lines(lsdel);
    std::string line;
    std::vector<std::pair<uint32_t, uint64_t>> inodes;  // inode, size
    while (std::getline(lines, line)) {
      unsigned inode, owner, mode;
      unsigned long long size;
      if (std::sscanf(line.c_str(), " %u %u %o %llu", &inode, &owner, &mode, &size) == 4)
        inodes.emplace_back(inode, size);
    }
    ASSERT_EQ(inodes.size(), 3u) << lsdel;
    for (const auto& [inode, size] : inodes) {
      const std::string where = size == 22       ? "docs/removed.txt"
                                : size == 400000 ? "data/old.bin"
                                                 : "data/killed.bin";
      deleted.push_back({where, inode});
    }
  }
  std::vector<std::string> requests;
  for (const std::string& p : live) requests.push_back("dump -p \"/" + p + "\" \"" + dump + "/" + p + "\"");
  for (const Deleted& d : deleted)
    requests.push_back("dump <" + std::to_string(d.inode) + "> " + dump + "/" + d.path);
  fs::create_directories(dump + "/docs");
  fs::create_directories(dump + "/data/inner");
  fs::create_directories(dump + "/utf8");
  {
    const std::string list = scratch + "/requests";
    std::FILE* f = std::fopen(list.c_str(), "w");
    for (const std::string& r : requests) std::fprintf(f, "%s\n", r.c_str());
    std::fclose(f);
    corvale::test::RunCommand("debugfs -f '" + list + "' '" + fsImage + "' >/dev/null 2>&1");
  }

  for (const std::string& p : live) {
    ASSERT_TRUE(nodes.count(p)) << p;
    EXPECT_FALSE(Props(nodes[p]).IsDeleted()) << p;
  }
  for (const Deleted& d : deleted) {
    ASSERT_TRUE(nodes.count(d.path)) << d.path;
    EXPECT_TRUE(Props(nodes[d.path]).IsDeleted()) << d.path;
  }

  tree->ToggleCheck(tree.get(), false);
  std::string top;
  CFileRecoverer recoverer;
  ASSERT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, tree.get(), (scratch + "/out").c_str(), &top),
            CFileRecoverer::kResultOk);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 0u);
  std::vector<std::string> all = live;
  for (const Deleted& d : deleted) all.push_back(d.path);
  for (const std::string& p : all) {
    const std::vector<uint8_t> want = ReadFileBytes(dump + "/" + p);
    ASSERT_FALSE(want.empty()) << p;
    EXPECT_TRUE(ReadFileBytes(top + "/" + p) == want) << p;
  }
}

// Sector numbers of the disk: the partition's primary superblock (1 KiB at byte 1024 of the
// partition) and the partition table.
INSTANTIATE_TEST_SUITE_P(
    Ext2, Ext2DiskScan,
    ::testing::Values(
        DiskCase{"Intact", {}, 100, kPartitionStart + 2},
        DiskCase{"PartitionTableZeroed", {{0, 512}}, 100, kPartitionStart + 2},
        DiskCase{"PrimarySuperblockZeroed", {{kPartitionBytes + 1024, 1024}}, 90, kPartitionStart + 8193 * 2},
        DiskCase{"BothZeroed", {{0, 512}, {kPartitionBytes + 1024, 1024}}, 90, kPartitionStart + 8193 * 2}),
    [](const auto& info) { return std::string(info.param.name); });

// A found partition saved with the partition list and read back has no superblock copy and no table:
// the build reads them again from the disk and gives the same tree.
TEST(Ext2SearchedPartitionInfo, RestoredRecordBuildsTheSameTree) {
  ASSERT_TRUE(RegisterExt2Engine());
  EXT2_IMAGE(path, kDisk);
  CImageFileDevice device(path);
  CEXT2SearchController controller;
  SearchedPartitionInfoList results = Scan(device, controller);
  ASSERT_EQ(results.size(), 1u);
  MemoryStateStream stream;
  const RSGuid section = TestSection(7);
  stream.BeginSection(section);
  SaveSearchedPartitionInfoRecord(stream, *results[0]);
  stream.EndSection();
  EXPECT_EQ(stream.Section(section).size(), 4 + CExt2SearchedPartitionInfo::kSavedSize);
  stream.StartReading();
  stream.BeginSection(section);
  std::unique_ptr<CSearchedPartitionInfo> loaded = LoadSearchedPartitionInfoRecord(stream);
  auto* record = dynamic_cast<CExt2SearchedPartitionInfo*>(loaded.get());
  ASSERT_NE(record, nullptr);
  EXPECT_FALSE(record->HasDescriptorTable());
  EXPECT_EQ(record->GetPartitionStart(), kPartitionStart);
  EXPECT_EQ(record->GetScore(), results[0]->GetScore());
  Tree fresh = Own(controller.BuildPartitionDirectory(results[0].get(), &device, 0, nullptr));
  Tree restored = Own(controller.BuildPartitionDirectory(record, &device, 0, nullptr));
  ASSERT_NE(fresh, nullptr);
  ASSERT_NE(restored, nullptr);
  std::map<std::string, const CFileNode*> a = Collect(fresh.get()), b = Collect(restored.get());
  EXPECT_EQ(a.size(), b.size());
  for (const auto& [p, node] : a) EXPECT_TRUE(b.count(p)) << p;

  // A restored record whose disk no longer holds the superblock builds nothing.
  const std::string scratch = corvale::test::ScratchDir();
  CImageFileDevice wiped(DamagedCopy(path, scratch, {{kPartitionBytes + 1024, 1024}}));
  stream.StartReading();
  stream.BeginSection(section);
  std::unique_ptr<CSearchedPartitionInfo> again = LoadSearchedPartitionInfoRecord(stream);
  EXPECT_EQ(controller.BuildPartitionDirectory(again.get(), &wiped, 0, nullptr), nullptr);
}

TEST(Ext2SearchedPartitionInfo, GarbageSavedFormsAreRefusedWhole) {
  ASSERT_TRUE(RegisterExt2Engine());
  CExt2SearchedPartitionInfo good(512);
  good.SetPartitionStart(2048);
  good.SetStartSector(2050);
  MemoryStateStream stream;
  const RSGuid section = TestSection(8);
  stream.BeginSection(section);
  good.Save(stream);
  stream.EndSection();
  const std::vector<uint8_t> bytes = stream.Section(section);
  ASSERT_EQ(bytes.size(), CExt2SearchedPartitionInfo::kSavedSize);
  struct Row {
    const char* what;
    size_t offset;
    uint64_t value;
    unsigned width;
  };
  for (const Row& row : {Row{"flag 2", 81, 2, 4}, Row{"table sector -2", 73, uint64_t(-2), 8},
                         Row{"partition start -1", 13, uint64_t(-1), 8}}) {
    std::vector<uint8_t> damaged = bytes;
    for (unsigned i = 0; i < row.width; ++i)
      damaged[row.offset + i] = static_cast<uint8_t>(row.value >> (8 * i));
    MemoryStateStream in;
    in.Section(section) = damaged;
    in.StartReading();
    in.BeginSection(section);
    CExt2SearchedPartitionInfo loaded(512);
    loaded.SetPartitionStart(77);
    EXPECT_THROW(loaded.Load(in), CRSException) << row.what;
    EXPECT_EQ(loaded.GetPartitionStart(), 77) << row.what;
  }
}

// Windows fed straight to the controller: the sectors of a real image, rearranged.
class WindowFeed {
 public:
  explicit WindowFeed(std::vector<uint8_t> bytes) : m_device(std::move(bytes)) {
    m_controller.SetStorageDevice(&m_device);
    m_controller.SetSectorsPerRead(8192);
    m_controller.BeginSearch();
  }
  // Offers the device in blocks of `blockSectors`.
  void Run(int64_t blockSectors) {
    const int64_t n = m_device.GetSectorCount();
    for (int64_t s = 0; s < n; s += blockSectors)
      m_controller.AnalyzeBlock(s, std::min(blockSectors, n - s), nullptr);
    m_controller.EndSearch();
  }
  CEXT2SearchController& Controller() { return m_controller; }
  MemoryDevice& Device() { return m_device; }

 private:
  MemoryDevice m_device;
  CEXT2SearchController m_controller;
};

std::vector<uint8_t> Sectors(const std::vector<uint8_t>& image, uint64_t first, uint64_t count) {
  return std::vector<uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(first * 512),
                              image.begin() + static_cast<std::ptrdiff_t>((first + count) * 512));
}

TEST(EXT2SearchController, SecondSuperblockBeforeTheFirstTableIsCompleteReplacesIt) {
  EXT2_IMAGE(path, kTree1k);
  const std::vector<uint8_t> image = ReadFileBytes(path);
  // Boot block and superblock, then the superblock again where the descriptor table should be, then
  // the table and the rest of the first group.
  std::vector<uint8_t> bytes = Sectors(image, 0, 4);
  const std::vector<uint8_t> again = Sectors(image, 2, 2);
  bytes.insert(bytes.end(), again.begin(), again.end());
  const std::vector<uint8_t> rest = Sectors(image, 4, 200);
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  WindowFeed feed(bytes);
  feed.Run(8192);
  const auto& records = feed.Controller().GetCompletedRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]->GetStartSector(), 4);
  EXPECT_EQ(records[0]->GetPartitionStart(), 2);
}

TEST(EXT2SearchController, SuperblockStraddlingTwoBlocksIsFoundWhateverTheBlockLength) {
  EXT2_IMAGE(path, kTree1k);
  const std::vector<uint8_t> image = ReadFileBytes(path);
  const std::vector<uint8_t> first = Sectors(image, 0, 300);
  for (int64_t block : {1, 3, 7, 8, 13, 8192}) {
    WindowFeed feed(first);
    feed.Run(block);
    SearchedPartitionInfoList results;
    feed.Controller().GetResults(&results);
    ASSERT_EQ(results.size(), 1u) << block;
    EXPECT_EQ(results[0]->GetPartitionStart(), 0) << block;
    EXPECT_EQ(results[0]->GetScore(), 60) << block;  // one valid primary copy
  }
}

// Two copies of one file system on a disk (a clone): one record per file system, the one seen most
// often, handed out once.
TEST(EXT2SearchController, CopiesOfOneFileSystemGiveOneRecordHandedOutOnce) {
  EXT2_IMAGE(path, kTree1k);
  std::vector<uint8_t> image = ReadFileBytes(path);
  // debugfs stamps the primary superblock's write time when it closes the fixture, the backups keep
  // mke2fs's: when the two ran in different seconds the copies would name two file systems. A clone
  // whose copies agree is what this test is about, so the group-1 backup takes the primary's times.
  const size_t primary = 1024, backup = 8193 * 1024;
  for (size_t field : {44u, 48u, 64u}) {  // mount, write and last-check time
    std::memcpy(&image[backup + field], &image[primary + field], 4);
  }
  const uint64_t partSectors = 9000 * 2;  // groups 0 and 1, with the copy in group 1
  const uint64_t secondStart = 40000;
  std::vector<uint8_t> bytes = Sectors(image, 0, partSectors);
  bytes.resize(secondStart * 512, 0);
  const std::vector<uint8_t> clone = Sectors(image, 0, partSectors);
  bytes.insert(bytes.end(), clone.begin(), clone.end());
  WindowFeed feed(bytes);
  feed.Run(8192);
  // The two primaries are one file system; the clone's backup places a partition of its own.
  ASSERT_EQ(feed.Controller().GetCompletedRecords().size(), 2u);
  SearchedPartitionInfoList results;
  feed.Controller().GetResults(&results);
  ASSERT_EQ(results.size(), 1u);
  auto* record = static_cast<CExt2SearchedPartitionInfo*>(results[0].get());
  EXPECT_EQ(record->GetPartitionStart(), 0);
  EXPECT_EQ(record->GetCopies(), 3u);
  EXPECT_EQ(record->GetFoldersMatch(), 2);
  EXPECT_EQ(record->GetScore(), 100);
  SearchedPartitionInfoList again;
  feed.Controller().GetResults(&again);
  EXPECT_TRUE(again.empty());
  EXPECT_TRUE(feed.Controller().GetCompletedRecords().empty());
}

// A sector that cannot be read is tested as zeros, never as what the window held before: the primary
// superblock on a bad sector leaves the partition to its backup.
TEST(EXT2SearchController, UnreadableSectorsReadAsZeros) {
  EXT2_IMAGE(path, kTree1k);
  const std::vector<uint8_t> image = ReadFileBytes(path);
  std::vector<uint8_t> bytes = Sectors(image, 0, 9000 * 2);
  WindowFeed feed(bytes);
  feed.Device().SetBadSector(2);
  feed.Run(8192);
  SearchedPartitionInfoList results;
  feed.Controller().GetResults(&results);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]->GetPartitionStart(), 0);
  EXPECT_EQ(results[0]->GetStartSector(), 8193 * 2);
  EXPECT_EQ(results[0]->GetScore(), 45);
}

TEST(EXT2SearchController, PrimaryCopyAtTheDeviceStartPlacesNoPartitionBeforeIt) {
  EXT2_IMAGE(path, kTree1k);
  const std::vector<uint8_t> image = ReadFileBytes(path);
  // The image without its boot block: the primary superblock is at sector 0, its partition would
  // start at sector -2.
  WindowFeed feed(Sectors(image, 2, 300));
  feed.Run(8192);
  EXPECT_TRUE(feed.Controller().GetCompletedRecords().empty());
  EXPECT_EQ(feed.Controller().GetPendingRecord(), nullptr);
}

TEST(EXT2SearchController, AcceptsOnlyExt2AndExt3Partitions) {
  CEXT2SearchController controller;
  for (int32_t type = 0; type < 8; ++type)
    EXPECT_EQ(controller.AcceptsPartitionType(type), type == 4 || type == 5);
  EXPECT_EQ(controller.GetKind(), SEARCH_CONTROLLER_EXT2);
}

// The image cut short by 1 KiB and by 64 KiB: the scan still finds the file system, offers it as the
// part the device holds, so that the layout chooses it, and its tree builds.
TEST(EXT2SearchController, CutImageIsFoundAndChosen) {
  EXT2_IMAGE(path, kTree1k);
  const std::vector<uint8_t> image = ReadFileBytes(path);
  const int64_t whole = static_cast<int64_t>(image.size() / 512);
  for (int64_t cutSectors : {int64_t{2}, int64_t{128}}) {
    SCOPED_TRACE("cut by " + std::to_string(cutSectors) + " sectors");
    MemoryDevice device(std::vector<uint8_t>(image.begin(), image.end() - cutSectors * 512));
    CEXT2SearchController controller;
    SearchedPartitionInfoList results = Scan(device, controller);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0]->GetPartitionStart(), 0);
    EXPECT_EQ(results[0]->GetSectorCount(), whole - cutSectors);
    ComputePartitionWeights(results);
    SortSearchedPartitions(results);
    SelectPartitionLayout(results, device.GetSectorCount());
    EXPECT_EQ(results[0]->GetChosenMark(), 1);
    Tree tree = Own(controller.BuildPartitionDirectory(results[0].get(), &device, 0, nullptr));
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(Collect(tree.get()).count("hello.txt"), 1u);
  }
}

// Random bytes over the superblocks and descriptor tables the scan reads: it ends, and whatever it
// proposes builds (or refuses to build) without faults.
TEST(EXT2SearchController, SeededMutationsOfSuperblocksAndTablesScanWithoutFaulting) {
  EXT2_IMAGE(path, kTree1k);
  const std::vector<uint8_t> image = ReadFileBytes(path);
  // Group 0 and the copy in group 1: superblock and table of each.
  const std::vector<std::pair<uint64_t, uint64_t>> ranges = {{1024, 1024}, {2048, 1024}, {8193 * 1024, 2048}};
  std::mt19937_64 random(0x5CA9);
  const auto start = std::chrono::steady_clock::now();
  int proposed = 0;
  for (int round = 0; round < 40; ++round) {
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(40)) break;
    std::vector<uint8_t> bytes(image.begin(), image.begin() + 9000 * 1024);
    for (int e = 0, edits = 1 + static_cast<int>(random() % 12); e < edits; ++e) {
      const auto& range = ranges[random() % ranges.size()];
      const uint64_t at = range.first + random() % range.second;
      if (random() % 2)
        bytes[at] = static_cast<uint8_t>(random());
      else
        for (int i = 0; i < 4; ++i) bytes[(at & ~3ull) + i] = 0xFF;
    }
    SCOPED_TRACE("round " + std::to_string(round));
    WindowFeed feed(std::move(bytes));
    feed.Run(8192);
    SearchedPartitionInfoList results;
    feed.Controller().GetResults(&results);
    for (auto& r : results) {
      ++proposed;
      Tree tree = Own(feed.Controller().BuildPartitionDirectory(r.get(), &feed.Device(), 0, nullptr));
    }
  }
  EXPECT_GT(proposed, 0);
}

}  // namespace
