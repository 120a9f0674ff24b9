// The complete directory-tree build: on intact images it finds what the quick build finds; on a
// volume formatted again it finds the old folders and files the quick build cannot see; its folder
// linking survives ".." entries that would make cycles, and a cancel leaves nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "FatTestSupport.h"
#include "FatTreeSupport.h"
#include "core/ClusterUseBitMap.h"
#include "core/FileNode.h"
#include "core/FileRecoverer.h"
#include "core/RawFilesFolder.h"
#include "core/TestProperties.h"
#include "fat/FATDBR.h"
#include "fat/FATDirSectorAnalyzer.h"
#include "fat/FATDirectoryBuilder.h"
#include "fat/FATSearchedPartitionInfo.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

using namespace fattest;
namespace fs = std::filesystem;

namespace {

const FatFixture kReformatted16{
    "fat16_reformatted.sh", "fat16_reformatted.img", 16, 4, 512, "FAT16VOL", kFatType16};
const FatFixture kReformatted32{
    "fat32_reformatted.sh", "fat32_reformatted.img", 32, 1, 512, "FAT32VOL", kFatType32};

// The partition a boot sector and both FAT copies vouch for, as the search records it.
CFATSearchedPartitionInfo PartitionOf(const OpenedImage& image) {
  const auto& g = image.geometry;
  const bool fat32 = g.variant == corvale::fat::FatVariant::Fat32;
  CFATSearchedPartitionInfo info(g.bytesPerSector);
  info.SetFileSystemType(fat32 ? kFatType32 : kFatType16);
  info.SetSectorsPerCluster(static_cast<uint8_t>(g.sectorsPerCluster));
  info.SetStartSector(static_cast<int64_t>(g.dataStart));
  info.SetPartitionStart(0);
  info.SetSectorCount(static_cast<int64_t>(g.totalSectors));
  info.SetReservedSectors(static_cast<uint16_t>(g.reservedSectors));
  info.SetSectorsPerFAT(g.sectorsPerFat);
  info.SetClusterCount(g.clusterCount);
  info.SetRoot(fat32 ? g.rootCluster : g.rootDirSectors);
  info.SetEvidenceFlags((fat32 ? kFatFromFat32BootSector : kFatFromFat16BootSector) | kFatFoundFirstCopy |
                        kFatUseFirstCopy | kFatFoundSecondCopy | kFatUseSecondCopy);
  return info;
}

// Every directory sector of the device, as a whole-device search records them.
CFATDirSectorSet DirectorySectors(IStorageDevice& device) {
  const uint32_t ss = static_cast<uint32_t>(device.GetSectorSize());
  const uint64_t count = static_cast<uint64_t>(device.GetSectorCount());
  CFATDirSectorSet set;
  CFATDirSectorAnalyzer analyzer(ss);
  std::vector<uint8_t> block(256 * ss);
  for (uint64_t first = 0; first < count; first += 256) {
    const uint64_t n = std::min<uint64_t>(256, count - first);
    if (!device.ReadSectors(block.data(), first, n)) continue;
    for (uint64_t k = 0; k < n; ++k) {
      const uint8_t* sector = block.data() + k * ss;
      if (sector[0] == 0 || !analyzer.Analyze(sector, ss)) continue;
      if (analyzer.GetKind() == CFATDirSectorAnalyzer::kFirstDirectorySector) {
        set.Add({first + k, analyzer.GetDotCluster(), analyzer.GetDotDotCluster()});
      } else {
        set.Add({first + k, FATDirSectorRecord::kNoCluster, FATDirSectorRecord::kNoCluster});
      }
    }
  }
  return set;
}

Tree Complete(IStorageDevice* device, const CFATDirSectorSet& records, const CFATSearchedPartitionInfo& info,
              IDIRBuildCallback* callback = nullptr) {
  CFATDirectoryBuilder builder;
  Tree tree(builder.BuildComplete(callback, records, info, nullptr, device, 0));
  return tree;
}

Tree Quick(IStorageDevice* device) {
  CFATDirectoryBuilder builder;
  FATBuildSource source;
  source.evidenceFlags = 0x07 | corvale::fat::kEvidenceFirstFat | corvale::fat::kEvidenceSecondFat;
  return Tree(builder.Build(nullptr, source, device, true));
}

// Recovers the whole tree and compares each listed node's file with the bytes the script wrote.
void ExpectRecoveredByteExact(IStorageDevice* device, CFileSystemNode* root,
                              const std::vector<std::pair<std::string, Expected>>& files) {
  root->ToggleCheck(root, false);
  const std::string target = corvale::test::ScratchDir() + "/recovered";
  std::string top;
  CFileRecoverer recoverer;
  ASSERT_EQ(recoverer.RecoverFilesInThread(device, nullptr, root, target.c_str(), &top),
            CFileRecoverer::kResultOk);
  for (const auto& [path, e] : files) {
    const std::vector<uint8_t> got = ReadAll(top + "/" + path);
    EXPECT_EQ(std::string(got.begin(), got.end()), Pattern(e.tag, e.size)) << path;
  }
}

class FatCompleteBuildIntact : public ::testing::TestWithParam<FatFixture> {};

TEST_P(FatCompleteBuildIntact, FindsEveryFileOfTheQuickBuildAtItsPathAndRecoversIt) {
  FAT_IMAGE(image, GetParam());
  const CFATDirSectorSet records = DirectorySectors(*image.device);
  ASSERT_FALSE(records.empty());
  Tree tree = Complete(image.device.get(), records, PartitionOf(image));
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->GetFileSystemType(), GetParam().typeCode);
  std::map<std::string, const CFileNode*> nodes;
  Collect(tree.get(), "", &nodes);
  const uint32_t cb = GetParam().sectorsPerCluster * GetParam().sectorSize;
  std::vector<std::pair<std::string, Expected>> files;
  for (const Expected& e : ExpectedFiles(cb)) {
    auto found = nodes.find(e.path);
    ASSERT_NE(found, nodes.end()) << e.path << " missing from\n" << Describe(nodes);
    EXPECT_EQ(Props(found->second).IsDeleted(), e.deleted) << e.path;
    EXPECT_EQ(Props(found->second).GetSize(), e.size) << e.path;
    files.emplace_back(e.path, e);
  }
  // Every directory cluster was read from its folder: nothing is left for "Lost Folders".
  EXPECT_FALSE(nodes.count("Lost Folders")) << Describe(nodes);
  ExpectRecoveredByteExact(image.device.get(), tree.get(), files);
}

TEST_P(FatCompleteBuildIntact, CancelAtAnyCallLeavesNoTree) {
  FAT_IMAGE(image, GetParam());
  const CFATDirSectorSet records = DirectorySectors(*image.device);
  CancelAt counting(-1);
  ASSERT_NE(Complete(image.device.get(), records, PartitionOf(image), &counting), nullptr);
  ASSERT_GT(counting.calls, 10);
  for (int k = 0; k < counting.calls; k += std::max(1, counting.calls / 16)) {
    CancelAt callback(k);
    EXPECT_EQ(Complete(image.device.get(), records, PartitionOf(image), &callback), nullptr)
        << k << " of " << counting.calls;
  }
}

TEST_P(FatCompleteBuildIntact, SeededMutationsOfFatsAndDirectoriesNeverLoopOrCrash) {
  FAT_IMAGE(image, GetParam());
  const std::vector<uint8_t> original = ReadAll(image.path);
  const auto& g = image.geometry;
  const uint32_t ss = g.bytesPerSector;
  const CFATSearchedPartitionInfo info = PartitionOf(image);
  // The FATs, the fixed root and the first directory clusters; chains that loop, cross or point past
  // the end, and directories that name their ancestors, come out of it.
  const uint64_t from = static_cast<uint64_t>(g.fatStart) * ss;
  const uint64_t span =
      std::min<uint64_t>(original.size() - from, (g.dataStart + 64ULL * g.sectorsPerCluster) * ss - from);
  std::mt19937 random(7041);
  for (int round = 0; round < 12; ++round) {
    std::vector<uint8_t> bytes = original;
    const int flips = 1 + static_cast<int>(random() % 300);
    for (int i = 0; i < flips; ++i) bytes[from + random() % span] = static_cast<uint8_t>(random());
    MemoryDevice device(std::move(bytes), static_cast<int32_t>(ss));
    const CFATDirSectorSet records = DirectorySectors(device);
    CFATDirectoryBuilder builder;
    FreeFileTree(builder.BuildComplete(nullptr, records, info, nullptr, &device, round));
  }
  // A partition record whose geometry lies (from a damaged state file) builds nothing or reads
  // inside the device only.
  MemoryDevice device(original, static_cast<int32_t>(ss));
  const CFATDirSectorSet records = DirectorySectors(device);
  for (int round = 0; round < 24; ++round) {
    CFATSearchedPartitionInfo lying = info;
    switch (round % 6) {
      case 0:
        lying.SetSectorsPerCluster(static_cast<uint8_t>(random()));
        break;
      case 1:
        lying.SetStartSector(static_cast<int64_t>(random()) - 1000);
        break;
      case 2:
        lying.SetSectorCount(static_cast<int64_t>(random()) * 4096);
        break;
      case 3:
        lying.SetRoot(static_cast<uint32_t>(random()));
        break;
      case 4:
        lying.SetClusterCount(static_cast<uint32_t>(random()));
        break;
      default:
        lying.SetPartitionStart(static_cast<int64_t>(random() % 4096) - 2048);
        break;
    }
    CFATDirectoryBuilder builder;
    FreeFileTree(builder.BuildComplete(nullptr, records, lying, nullptr, &device, round));
  }
}

INSTANTIATE_TEST_SUITE_P(Images, FatCompleteBuildIntact,
                         ::testing::Values(FatImages()[1], FatImages()[3], FatImages()[4]),
                         [](const auto& info) {
                           std::string n = info.param.image;
                           for (char& c : n)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

// What the found-files hook was asked and answered, for the test below.
struct RawHookRecord {
  std::vector<uint64_t> sectors;  // asked about
  std::vector<bool> used;         // the map's answers
  IStorageDevice* device = nullptr;
} g_rawHook;

CFileSystemNode* FakeRawFilesFolder(IStorageDevice* device, CRawFileInfoList*, IIsClusterUsed* used,
                                    IDIRBuildCallback*) {
  g_rawHook.device = device;
  for (uint64_t sector : g_rawHook.sectors)
    g_rawHook.used.push_back(used != nullptr && used->IsClusterUsed(sector));
  CFileSystemNode* folder = CreateFileSystemNode();
  folder->SetFileProperties(new TestFileProperties("Raw Files", 0, kAttributeFolder, nullptr));
  return folder;
}

TEST(FatCompleteBuildRawFiles, TheFoundFilesFolderHangsUnderTheRootAndSeesTheFilesClustersAsUsed) {
  FAT_IMAGE(image, FatImages()[1]);
  const auto& g = image.geometry;
  const auto hello = FindEntry(image, "", "hello.txt", false);
  ASSERT_TRUE(hello);
  const uint32_t lastCluster = g.clusterCount + 1;
  ASSERT_EQ(image.fat->GetNextCluster(lastCluster), 0u) << "the volume's last cluster is free";
  const auto sectorOf = [&g](uint32_t cluster) {
    return g.dataStart + uint64_t(cluster - 2) * g.sectorsPerCluster;
  };
  g_rawHook = {};
  g_rawHook.sectors = {sectorOf(hello->GetFirstCluster()), sectorOf(lastCluster), g.dataStart - 1};
  RawFilesFolderHooks hooks;
  hooks.buildFolder = &FakeRawFilesFolder;
  RegisterRawFilesFolderHooks(hooks);
  // The list of found files is only passed through; the hook stands in for the engine that reads it.
  int notAList = 0;
  CFATDirectoryBuilder builder;
  Tree tree(builder.BuildComplete(nullptr, DirectorySectors(*image.device), PartitionOf(image),
                                  reinterpret_cast<CRawFileInfoList*>(&notAList), image.device.get(), 0));
  RegisterRawFilesFolderHooks(RawFilesFolderHooks{});
  ASSERT_NE(tree, nullptr);
  std::map<std::string, const CFileNode*> nodes;
  Collect(tree.get(), "", &nodes);
  ASSERT_TRUE(nodes.count("Raw Files")) << Describe(nodes);
  EXPECT_EQ(nodes["Raw Files"]->GetParent(), tree.get());
  EXPECT_EQ(g_rawHook.device, image.device.get());
  EXPECT_EQ(g_rawHook.used, (std::vector<bool>{true, false, true}));
}

// The files of the old volume whose names lived in folders below the root (the root itself is
// new), by name: a folder whose own entry went with the root is a made-up "DIR" folder.
std::vector<Expected> FilesBelowTheRoot(uint32_t cb) {
  std::vector<Expected> kept;
  for (const Expected& e : ExpectedFiles(cb)) {
    // D.bin is fragmented: without its old chain only its first piece is where the build looks.
    if (e.path.find('/') != std::string::npos && e.path != "frag/D.bin") kept.push_back(e);
  }
  return kept;
}

class FatCompleteBuildReformatted : public ::testing::TestWithParam<FatFixture> {};

TEST_P(FatCompleteBuildReformatted, FindsTheOldFoldersTheQuickBuildMissesAndRecoversTheirFiles) {
  FAT_IMAGE(image, GetParam());
  const uint32_t cb = GetParam().sectorsPerCluster * GetParam().sectorSize;

  Tree quick = Quick(image.device.get());
  ASSERT_NE(quick, nullptr);
  std::map<std::string, const CFileNode*> quickNodes;
  Collect(quick.get(), "", &quickNodes);
  for (const auto& [path, node] : quickNodes)
    EXPECT_NE(BaseName(path), "leaf file.txt") << Describe(quickNodes);

  const CFATDirSectorSet records = DirectorySectors(*image.device);
  Tree tree = Complete(image.device.get(), records, PartitionOf(image));
  ASSERT_NE(tree, nullptr);
  std::map<std::string, const CFileNode*> nodes;
  Collect(tree.get(), "", &nodes);
  std::map<std::string, std::string> byName;  // file name -> its path in the tree
  for (const auto& [path, node] : nodes) byName[BaseName(path)] = path;

  std::vector<std::pair<std::string, Expected>> files;
  size_t manyFound = 0;
  for (const Expected& e : FilesBelowTheRoot(cb)) {
    auto found = byName.find(BaseName(e.path));
    if (e.path.rfind("many/", 0) == 0) {
      // Without the old chain, the folder's later clusters are read as lost clusters, and a long name
      // that a cluster boundary cut is shorter: those found whole are checked.
      if (found == byName.end()) continue;
      ++manyFound;
      files.emplace_back(found->second, e);
      continue;
    }
    ASSERT_NE(found, byName.end()) << e.path << " missing from\n" << Describe(nodes);
    // The path below the made-up top folder is the old one.
    const std::string& path = found->second;
    const size_t top = e.path.find('/');
    EXPECT_EQ(path.substr(path.size() - (e.path.size() - top)), e.path.substr(top)) << path;
    EXPECT_EQ(Props(nodes[path]).GetSize(), e.size) << path;
    files.emplace_back(path, e);
  }
  EXPECT_GE(manyFound, 20u) << Describe(nodes);
  // The deleted folder and the deleted folder inside it are there again, with their names where
  // a folder above them held the name.
  EXPECT_TRUE(std::any_of(nodes.begin(), nodes.end(), [](const auto& n) {
    return BaseName(n.first) == "Inner" && Props(n.second).IsDeleted();
  })) << Describe(nodes);
  ExpectRecoveredByteExact(image.device.get(), tree.get(), files);
}

TEST_P(FatCompleteBuildReformatted, DotDotEntriesThatMakeCyclesLeaveEveryFolderInTheTree) {
  FAT_IMAGE(image, GetParam());
  CFATDirSectorSet records = DirectorySectors(*image.device);
  // The old top folders are made up from their records; give the first one a ".." naming itself and
  // the next two ".." entries naming each other.
  std::vector<FATDirSectorRecord> changed = records.Records();
  std::vector<size_t> tops;
  for (size_t i = 0; i < changed.size(); ++i) {
    if (changed[i].IsFirstDirectorySector() && changed[i].dotDotCluster == 0) tops.push_back(i);
  }
  ASSERT_GE(tops.size(), 3u);
  changed[tops[0]].dotDotCluster = changed[tops[0]].dotCluster;
  changed[tops[1]].dotDotCluster = changed[tops[2]].dotCluster;
  changed[tops[2]].dotDotCluster = changed[tops[1]].dotCluster;
  records.Assign(changed);

  Tree tree = Complete(image.device.get(), records, PartitionOf(image));
  ASSERT_NE(tree, nullptr);
  // A walk that would not end on a cycle: bounded, and every node is met once.
  std::set<const CFileNode*> seen;
  std::vector<const CFileNode*> stack{tree.get()};
  while (!stack.empty()) {
    const CFileNode* node = stack.back();
    stack.pop_back();
    ASSERT_TRUE(seen.insert(node).second) << "a node reached twice";
    ASSERT_LT(seen.size(), 100000u);
    for (const CFileNode* c = node->GetFirstChild(); c != nullptr; c = c->GetNextSibling())
      stack.push_back(c);
  }
  std::set<uint32_t> folders;
  for (const CFileNode* node : seen) {
    const CFATFileProperties* p = node == tree.get() ? nullptr : FatProps(node);
    if (p != nullptr && p->IsFolder()) folders.insert(p->GetFirstCluster());
  }
  for (size_t i : {tops[0], tops[1], tops[2]}) EXPECT_TRUE(folders.count(changed[i].dotCluster)) << i;
}

INSTANTIATE_TEST_SUITE_P(Images, FatCompleteBuildReformatted,
                         ::testing::Values(kReformatted16, kReformatted32), [](const auto& info) {
                           return std::string(info.param.fatBits == 16 ? "fat16" : "fat32");
                         });

}  // namespace
