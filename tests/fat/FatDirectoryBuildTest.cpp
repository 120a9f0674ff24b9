// The quick directory-tree build on the mtools images: every file at its path, deleted ones marked,
// recovered byte for byte with mdir's times, and garbage (directory cycles, looping chains, mutated
// images) that never loops or crashes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "FatTestSupport.h"
#include "FatTreeSupport.h"
#include "core/FileNode.h"
#include "core/FileRecoverer.h"
#include "fat/FATDBR.h"
#include "fat/FATDirectoryBuilder.h"
#include "fat/FATFileProperties.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

using namespace fattest;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kAllEvidence = 0x01 | corvale::fat::kEvidenceFirstFat | corvale::fat::kEvidenceSecondFat;

Tree BuildTree(IStorageDevice* device, bool includeExisting = true, IDIRBuildCallback* callback = nullptr,
               uint32_t evidence = kAllEvidence) {
  CFATDirectoryBuilder builder;
  FATBuildSource source;
  source.evidenceFlags = evidence;
  Tree tree(builder.Build(callback, source, device, includeExisting));
  return tree;
}

class FatQuickBuild : public ::testing::TestWithParam<FatFixture> {};

TEST_P(FatQuickBuild, EveryFileIsAtItsPathAndRecoversByteExactWithMdirTimes) {
  FAT_IMAGE(image, GetParam());
  Tree tree = BuildTree(image.device.get());
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->GetFileSystemType(), GetParam().typeCode);
  std::map<std::string, const CFileNode*> nodes;
  Collect(tree.get(), "", &nodes);
  const uint32_t cb = GetParam().sectorsPerCluster * GetParam().sectorSize;

  for (const Expected& e : ExpectedFiles(cb)) {
    auto found = nodes.find(e.path);
    ASSERT_NE(found, nodes.end()) << e.path << " missing from\n" << Describe(nodes);
    EXPECT_EQ(Props(found->second).IsDeleted(), e.deleted) << e.path;
    EXPECT_EQ(Props(found->second).GetSize(), e.size) << e.path;
  }
  // Deleted folders are marked, and so is everything inside them.
  for (const char* folder : {"Old Folder", "Old Folder/Inner"}) {
    ASSERT_TRUE(nodes.count(folder)) << folder;
    EXPECT_TRUE(Props(nodes[folder]).IsDeleted()) << folder;
  }
  for (const char* folder : {"frag", "deep", "many", "deep/level1/level2/level3/level4/level5"}) {
    ASSERT_TRUE(nodes.count(folder)) << folder;
    EXPECT_FALSE(Props(nodes[folder]).IsDeleted()) << folder;
  }
  // Every folder here ends where its chain does (the deleted ones within their first cluster):
  // nothing is looked for among the free clusters, and no made-up folder appears.
  EXPECT_FALSE(nodes.count("Lost Folders")) << Describe(nodes);

  tree->ToggleCheck(tree.get(), false);
  const std::string target = corvale::test::ScratchDir() + "/recovered";
  std::string top;
  CFileRecoverer recoverer;
  ASSERT_EQ(recoverer.RecoverFilesInThread(image.device.get(), nullptr, tree.get(), target.c_str(), &top),
            CFileRecoverer::kResultOk);
  for (const Expected& e : ExpectedFiles(cb)) {
    const std::string path = top + "/" + e.path;
    ASSERT_TRUE(fs::exists(path)) << path;
    const std::string want = Pattern(e.tag, e.size);
    const std::vector<uint8_t> got = ReadAll(path);
    EXPECT_EQ(std::string(got.begin(), got.end()), want) << e.path;
  }
  // Recovered files carry the modification time mdir lists.
  for (const std::string folder : {"", "frag", "many"}) {
    for (const MdirLine& line : Mdir(image.path, folder)) {
      if (line.directory) continue;
      const std::string name = line.longName.empty() ? line.shortName : line.longName;
      const std::string path = top + (folder.empty() ? "" : "/" + folder) + "/" + name;
      struct stat st {};
      ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
      const uint64_t fileTime = static_cast<uint64_t>(st.st_mtime) * 10000000ULL + 116444736000000000ULL;
      EXPECT_EQ(FormatMinute(fileTime), line.minute) << path;
    }
  }
}

TEST_P(FatQuickBuild, WithoutExistingFilesOnlyDeletedOnesAndFoldersRemain) {
  FAT_IMAGE(image, GetParam());
  Tree tree = BuildTree(image.device.get(), false);
  ASSERT_NE(tree, nullptr);
  std::map<std::string, const CFileNode*> nodes;
  Collect(tree.get(), "", &nodes);
  EXPECT_FALSE(nodes.count("hello.txt"));
  EXPECT_FALSE(nodes.count("frag/A.bin"));
  EXPECT_TRUE(nodes.count("Deleted Long Name Document.txt"));
  EXPECT_TRUE(nodes.count("deep/level1/#emoved.txt"));
  EXPECT_TRUE(nodes.count("Old Folder/Inner/Some long inner name.txt"));
}

TEST_P(FatQuickBuild, CancelAtAnyCallLeavesNoTree) {
  FAT_IMAGE(image, GetParam());
  CancelAt counting(-1);
  ASSERT_NE(BuildTree(image.device.get(), true, &counting), nullptr);
  ASSERT_GT(counting.calls, 6);
  // The first two calls (the boot-sector step's start and progress) do not look at the answer.
  for (int k = 2; k < counting.calls; k += std::max(1, counting.calls / 12)) {
    CancelAt callback(k);
    EXPECT_EQ(BuildTree(image.device.get(), true, &callback), nullptr) << k << " of " << counting.calls;
  }
}

INSTANTIATE_TEST_SUITE_P(Images, FatQuickBuild, ::testing::ValuesIn([] {
                           std::vector<FatFixture> taken;
                           for (const FatFixture& f : FatImages()) {
                             if (f.typeCode != kFatTypeNone) taken.push_back(f);
                           }
                           return taken;
                         }()),
                         [](const auto& info) {
                           std::string n = info.param.image;
                           for (char& c : n)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

// A deleted folder whose directory went on in a second cluster, elsewhere on the volume or right
// after its first (fat_deleted_split_folder.sh). Deleting freed the folder's chain, so the walk
// reads only its first cluster; the second is found among the free clusters, as the whole-device
// scan finds it, and its entries are listed in a made-up folder under "Lost Folders" (a deleted
// subfolder named there is read in turn). Every file of the folder comes back whole: those of the
// first cluster under the folder itself, the others under the made-up one.
class FatDeletedSplitFolder : public ::testing::TestWithParam<const char*> {};

// The files below `folder` by path, with their bytes.
std::map<std::string, std::vector<uint8_t>> FilesBelow(const std::string& folder) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = ReadAll(e.path().string());
  return files;
}

TEST_P(FatDeletedSplitFolder, FilesOfTheLaterClusterComeBackUnderLostFolders) {
  CORVALE_FIXTURE(fixture, "fat_deleted_split_folder.sh", "fat_deleted_split_folder");
  const std::string image = fixture + "/" + GetParam() + ".img";
  const std::string copies = fixture + "/" + GetParam();
  std::vector<uint8_t> bytes = ReadAll(image);
  ASSERT_FALSE(bytes.empty());
  MemoryDevice device(std::move(bytes));
  Tree tree = BuildTree(&device);
  ASSERT_NE(tree, nullptr);
  std::map<std::string, const CFileNode*> nodes;
  Collect(tree.get(), "", &nodes);
  ASSERT_TRUE(nodes.count("#rip")) << Describe(nodes);
  ASSERT_TRUE(nodes.count("Lost Folders")) << Describe(nodes);
  // One cluster was lost, so one made-up folder holds its entries.
  const CFileNode* lostFolders = nodes["Lost Folders"];
  ASSERT_NE(lostFolders->GetFirstChild(), nullptr);
  EXPECT_EQ(lostFolders->GetFirstChild()->GetNextSibling(), nullptr) << Describe(nodes);
  const std::string lost =
      std::string("Lost Folders/") + lostFolders->GetFirstChild()->GetFileProperties()->GetName();

  // Where each deleted file belongs, and the bytes it held.
  std::map<std::string, std::vector<uint8_t>> expected;
  for (const auto& [path, content] : FilesBelow(copies + "/first")) expected["#rip/" + path] = content;
  for (const auto& [path, content] : FilesBelow(copies + "/later")) expected[lost + "/" + path] = content;
  for (const auto& [path, content] : expected) {
    ASSERT_TRUE(nodes.count(path)) << path << " missing from\n" << Describe(nodes);
    EXPECT_TRUE(Props(nodes[path]).IsDeleted()) << path;
  }

  tree->ToggleCheck(tree.get(), false);
  const std::string target = corvale::test::ScratchDir() + "/recovered";
  std::string top;
  CFileRecoverer recoverer;
  ASSERT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, tree.get(), target.c_str(), &top),
            CFileRecoverer::kResultOk);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 0u);
  std::map<std::string, std::vector<uint8_t>> recovered = FilesBelow(top);
  recovered.erase("kept.txt");
  EXPECT_EQ(recovered, expected);
}

TEST_P(FatDeletedSplitFolder, CancelWhileLookingForLostClustersLeavesNoTree) {
  CORVALE_FIXTURE(fixture, "fat_deleted_split_folder.sh", "fat_deleted_split_folder");
  std::vector<uint8_t> bytes = ReadAll(fixture + "/" + GetParam() + ".img");
  MemoryDevice device(std::move(bytes));
  CancelAt counting(-1);
  Tree whole = BuildTree(&device, true, &counting);
  ASSERT_NE(whole, nullptr);
  // The calls of the search for lost clusters come last: cancelling at each of them gives no tree.
  ASSERT_GT(counting.calls, 8);
  for (int k = counting.calls - 6; k < counting.calls; ++k) {
    CancelAt callback(k);
    EXPECT_EQ(BuildTree(&device, true, &callback), nullptr) << k << " of " << counting.calls;
  }
}

INSTANTIATE_TEST_SUITE_P(Images, FatDeletedSplitFolder,
                         ::testing::Values("fat16", "fat32", "fat16_adjacent"));

TEST(FatQuickBuildRefusal, TheFat12FloppyAndAVolumeWithoutEvidenceGiveNoTree) {
  FAT_IMAGE(floppy, FatImages()[0]);
  EXPECT_EQ(BuildTree(floppy.device.get()), nullptr);
  FAT_IMAGE(image, FatImages()[1]);
  EXPECT_EQ(BuildTree(image.device.get(), true, nullptr, 0), nullptr);
}

// Patches FAT entry `cluster` of every copy of a FAT16 or FAT32 image held in memory.
void SetFatEntry(std::vector<uint8_t>& bytes, const OpenedImage& image, uint32_t cluster, uint32_t value) {
  const auto& g = image.geometry;
  const bool fat32 = g.variant == corvale::fat::FatVariant::Fat32;
  for (uint32_t copy = 0; copy < g.fatCount; ++copy) {
    const uint64_t at = (g.fatStart + static_cast<uint64_t>(copy) * g.sectorsPerFat) * g.bytesPerSector +
                        static_cast<uint64_t>(cluster) * (fat32 ? 4 : 2);
    for (int i = 0; i < (fat32 ? 4 : 2); ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

uint64_t ClusterOffset(const OpenedImage& image, uint32_t cluster) {
  const auto& g = image.geometry;
  return (g.dataStart + static_cast<uint64_t>(cluster - 2) * g.sectorsPerCluster) * g.bytesPerSector;
}

class FatBuildGarbage : public ::testing::TestWithParam<FatFixture> {};

TEST_P(FatBuildGarbage, DirectoryCyclesAndLoopingChainsAreReadOnce) {
  FAT_IMAGE(image, GetParam());
  std::vector<uint8_t> bytes = ReadAll(image.path);
  const auto many = FindEntry(image, "", "many", false);
  const auto level2 = FindEntry(image, "deep/level1", "level2", false);
  const auto deep = FindEntry(image, "", "deep", false);
  ASSERT_TRUE(many && level2 && deep);
  // The chain of "many" runs back to its first cluster from its last (in both copies).
  const std::vector<uint32_t> chain = MshowfatClusters(image.path, "many");
  ASSERT_GE(chain.size(), 2u);
  SetFatEntry(bytes, image, chain.back(), chain.front());
  // level3 inside level2 now names the cluster of "deep", an ancestor: a folder that holds itself.
  const uint64_t level2Dir = ClusterOffset(image, level2->GetFirstCluster());
  for (uint64_t at = level2Dir + 64; at < level2Dir + image.geometry.clusterBytes; at += 32) {
    if (std::string(reinterpret_cast<char*>(&bytes[at]), 6) == "LEVEL3") {
      bytes[at + 26] = static_cast<uint8_t>(deep->GetFirstCluster());
      bytes[at + 27] = static_cast<uint8_t>(deep->GetFirstCluster() >> 8);
      bytes[at + 20] = static_cast<uint8_t>(deep->GetFirstCluster() >> 16);
      bytes[at + 21] = static_cast<uint8_t>(deep->GetFirstCluster() >> 24);
    }
  }
  MemoryDevice device(bytes, static_cast<int32_t>(image.geometry.bytesPerSector));
  Tree tree = BuildTree(&device);
  ASSERT_NE(tree, nullptr);
  std::map<std::string, const CFileNode*> nodes;
  Collect(tree.get(), "", &nodes);
  size_t manyFiles = 0;
  for (const auto& [path, node] : nodes) manyFiles += path.rfind("many/", 0) == 0;
  // A table holding a circle is refused as a whole, so every folder keeps only its first cluster.
  EXPECT_GT(manyFiles, 0u) << Describe(nodes);
  EXPECT_LE(manyFiles, 40u) << Describe(nodes);
  EXPECT_TRUE(nodes.count("deep/level1/level2")) << Describe(nodes);
  EXPECT_FALSE(nodes.count("deep/level1/level2/level3/level4")) << Describe(nodes);
}

TEST_P(FatBuildGarbage, SeededMutationsNeverLoopOrCrash) {
  FAT_IMAGE(image, GetParam());
  const std::vector<uint8_t> original = ReadAll(image.path);
  const auto& g = image.geometry;
  // Mutate the metadata: the FATs, the fixed root and the first directory clusters.
  const uint64_t span =
      std::min<uint64_t>(original.size(), (g.dataStart + 64ULL * g.sectorsPerCluster) * g.bytesPerSector);
  std::mt19937 random(20261210);
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> bytes = original;
    const int flips = 1 + static_cast<int>(random() % 200);
    for (int i = 0; i < flips; ++i) {
      const uint64_t at = g.bytesPerSector + random() % (span - g.bytesPerSector);
      bytes[at] = static_cast<uint8_t>(random());
    }
    MemoryDevice device(std::move(bytes), static_cast<int32_t>(g.bytesPerSector));
    CFATDirectoryBuilder builder;
    FATBuildSource source;
    source.evidenceFlags = kAllEvidence;
    FreeFileTree(builder.Build(nullptr, source, &device, true));
  }
}

INSTANTIATE_TEST_SUITE_P(Images, FatBuildGarbage, ::testing::Values(FatImages()[1], FatImages()[4]),
                         [](const auto& info) {
                           return std::string(info.param.typeCode == 1 ? "fat16" : "fat32");
                         });

}  // namespace
