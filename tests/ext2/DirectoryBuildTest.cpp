// The Ext2/Ext3 directory build: every inode becomes a node, named from the directory entry that
// names it (or a removed entry that still does), and the tree recovers byte for byte through the
// recovery output. Real images made by mke2fs and changed by debugfs; what e2fsprogs dumps from them
// is the reference.

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Ext2TestSupport.h"
#include "core/ClusterUseBitMap.h"
#include "core/FileNode.h"
#include "core/FileRecoverer.h"
#include "core/FileSystemEngine.h"
#include "core/FileSystemTree.h"
#include "core/IDIRBuildCallback.h"
#include "core/MemoryStateStream.h"
#include "core/RawFilesFolder.h"
#include "ext2/BlockIterator.h"
#include "ext2/Ext2DirectoryBuilder.h"
#include "ext2/Ext2Engine.h"
#include "ext2/Ext2FileProperties.h"
#include "ext2/Ext2FileSystemEngine.h"
#include "ext2/Ext2Volume.h"
#include "ext2/GcAlloc.h"
#include "ext2/InodeIterator.h"
#include "platform/Log.h"
#include "storage/BasicPartitionDevice.h"

namespace {

using namespace ext2test;
namespace fs = std::filesystem;

using Tree = std::unique_ptr<CFileSystemNode, void (*)(CFileNode*)>;
Tree Own(CFileSystemNode* root) { return Tree(root, &FreeFileTree); }

const CExt2FileProperties& Props(const CFileNode* node) {
  return *static_cast<const CExt2FileProperties*>(node->GetFileProperties());
}

// Every node below the root by its path ("docs/readme.md"); iterative, so deep trees are fine.
std::map<std::string, const CFileNode*> Collect(const CFileNode* root, size_t* count = nullptr) {
  std::map<std::string, const CFileNode*> out;
  std::vector<std::pair<const CFileNode*, std::string>> stack{{root, ""}};
  size_t n = 0;
  while (!stack.empty()) {
    auto [node, path] = stack.back();
    stack.pop_back();
    for (const CFileNode* c = node->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
      ++n;
      std::string p = path.empty() ? Props(c).GetName() : path + "/" + Props(c).GetName();
      out[p] = c;
      stack.emplace_back(c, p);
    }
  }
  if (count != nullptr) *count = n;
  return out;
}

CFileSystemNode* BuildVolume(IStorageDevice* device, IDIRBuildCallback* callback = nullptr) {
  CExt2DirectoryBuilder builder;
  return builder.BuildFromVolume(device, callback, 2, 0);
}

// What debugfs dumps of an image (mtimes kept): every directory below the root whole, and the
// top-level files up to `maxBytes`. Paths relative to the dump folder.
std::map<std::string, fs::path> DumpImage(const std::string& image, const std::string& into,
                                          uint64_t maxBytes) {
  fs::create_directories(into);
  std::vector<std::string> requests;
  for (const LsEntry& e : DebugfsLs(image, "/")) {
    if (e.name == "." || e.name == "..") continue;
    if ((e.mode & 0xF000) == 0x4000)
      requests.push_back("rdump \"/" + e.name + "\" " + into);
    else if ((e.mode & 0xF000) == 0x8000 && e.size <= maxBytes)
      requests.push_back("dump -p \"/" + e.name + "\" \"" + into + "/" + e.name + "\"");
  }
  // DebugfsBatch keeps its requests in the test's scratch folder, which holds the dump: run it here.
  const std::string list = into + ".requests";
  std::FILE* f = std::fopen(list.c_str(), "w");
  for (const std::string& r : requests) std::fprintf(f, "%s\n", r.c_str());
  std::fclose(f);
  corvale::test::RunCommand("debugfs -f '" + list + "' '" + image + "' >/dev/null 2>&1");
  std::map<std::string, fs::path> out;
  for (const auto& entry : fs::recursive_directory_iterator(into))
    if (entry.is_regular_file()) out[fs::relative(entry.path(), into).string()] = entry.path();
  return out;
}

std::string ReadText(const fs::path& path) {
  std::vector<uint8_t> bytes = ReadFileBytes(path.string());
  return std::string(bytes.begin(), bytes.end());
}

// Sets TZ for the scope: inode times are UTC seconds and must come out the same in any zone.
class TimeZoneScope {
 public:
  explicit TimeZoneScope(const char* zone) {
    if (const char* old = std::getenv("TZ")) m_old = old, m_had = true;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~TimeZoneScope() {
    if (m_had)
      ::setenv("TZ", m_old.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string m_old;
  bool m_had = false;
};

struct Volume {
  Image image;
  int32_t type;
  const char* rootName;
};

class Ext2VolumeBuild : public ::testing::TestWithParam<Volume> {};

TEST_P(Ext2VolumeBuild, EveryFileIsAtItsPathAndRecoversByteExactWithItsTimes) {
  EXT2_IMAGE(path, GetParam().image);
  TimeZoneScope zone("Asia/Tokyo");
  PaddedImageDevice device(path);
  Tree tree = Own(BuildVolume(&device));
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->GetFileSystemType(), GetParam().type);
  EXPECT_STREQ(Props(tree.get()).GetName(), GetParam().rootName);
  uint64_t first = 1;
  uint32_t perBlock = 0;
  ASSERT_TRUE(tree->GetPosition(first, perBlock));
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(perBlock, CExt2FileSystem(&device, 2).GetSuperBlock().GetSectorsPerBlock());
  std::map<std::string, const CFileNode*> nodes = Collect(tree.get());

  const std::string scratch = corvale::test::ScratchDir();
  const std::string dump = scratch + "/dump";
  const std::map<std::string, fs::path> expected = DumpImage(path, dump, 100u << 20);
  ASSERT_GT(expected.size(), 10u);
  const std::set<std::string> deleted = {"docs/killed.txt", "docs/removed.txt"};
  for (const auto& [rel, file] : expected) {
    auto found = nodes.find(rel);
    ASSERT_NE(found, nodes.end()) << rel;
    EXPECT_EQ(Props(found->second).GetSize(), FileBytes(file.string())) << rel;
    EXPECT_EQ(Props(found->second).IsDeleted(), deleted.count(rel) != 0) << rel;
  }
  // Removed with rm: no live entry names it, the slack of the entry before it still does.
  ASSERT_TRUE(nodes.count("docs/removed.txt"));
  EXPECT_TRUE(Props(nodes["docs/removed.txt"]).IsDeleted());
  for (const char* folder : {"docs", "utf8", "lost+found"}) {
    ASSERT_TRUE(nodes.count(folder)) << folder;
    EXPECT_TRUE(Props(nodes[folder]).IsFolder()) << folder;
  }
  // The journal (inode 8) is reserved, so not listed.
  for (const auto& [p, node] : nodes) EXPECT_NE(Props(node).GetInodeNumber(), 8u) << p;

  tree->ToggleCheck(tree.get(), false);
  const std::string target = scratch + "/recovered";
  std::string top;
  CFileRecoverer recoverer;
  ASSERT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, tree.get(), target.c_str(), &top),
            CFileRecoverer::kResultOk);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 0u);
  for (const auto& [rel, file] : expected) {
    const std::string got = top + "/" + rel;
    ASSERT_TRUE(fs::exists(got)) << got;
    EXPECT_TRUE(ReadFileBytes(got) == ReadFileBytes(file.string())) << rel;
    struct stat mine {
    }, theirs{};
    ASSERT_EQ(::stat(got.c_str(), &mine), 0);
    ASSERT_EQ(::stat(file.c_str(), &theirs), 0);
    EXPECT_EQ(mine.st_mtime, theirs.st_mtime) << rel;
  }
  EXPECT_EQ(ReadText(top + "/docs/removed.txt"), "this file was removed\n");

  // The sparse file: its data blocks where debugfs places them, zeros in the holes.
  const std::string sparse = top + "/sparse.bin";
  ASSERT_TRUE(fs::exists(sparse));
  CExt2FileSystem fsys(&device, 2);
  const uint32_t bs = fsys.GetBlockSize();
  EXPECT_EQ(FileBytes(sparse), Props(nodes["sparse.bin"]).GetSize());
  EXPECT_NE(Props(nodes["sparse.bin"]).GetAttributes() & kAttributeSparse, 0);
  const std::map<uint64_t, uint64_t> blocks = DebugfsDataBlocks(path, "/sparse.bin");
  ASSERT_FALSE(blocks.empty());
  std::FILE* f = std::fopen(sparse.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> got(bs), want(bs);
  for (const auto& [logical, physical] : blocks) {
    ASSERT_EQ(::fseeko(f, static_cast<off_t>(logical * bs), SEEK_SET), 0);
    const size_t n = std::fread(got.data(), 1, bs, f);
    fsys.ReadBlocks(want.data(), physical, 1);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n), want.begin()))
        << logical;
  }
  // A hole between the data.
  uint64_t holeBlock = 0;
  while (blocks.count(holeBlock) != 0) ++holeBlock;
  const uint64_t hole = holeBlock * bs;
  ASSERT_EQ(::fseeko(f, static_cast<off_t>(hole), SEEK_SET), 0);
  ASSERT_EQ(std::fread(got.data(), 1, bs, f), bs);
  std::fclose(f);
  EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](uint8_t b) { return b == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Ext2, Ext2VolumeBuild,
                         ::testing::Values(Volume{kTree1k, 4, "Ext2 1"}, Volume{kTree4k, 5, "Ext3 1"}),
                         [](const auto& info) { return std::string(info.param.image.name).substr(0, 8); });

// What a file deleted by the kernel's Ext3 driver leaves: the inode, marked deleted, with its size
// and block pointers cleared. It is found (under its old folder when the removed entry still names
// it, else by its number under the root) as an empty deleted file; the live files are untouched.
TEST(Ext2DirectoryBuild, FileDeletedThroughAMountedExt3IsFoundEmpty) {
  CORVALE_REQUIRE_ROOT();
  EXT2_IMAGE(path, kTree4k);
  const std::string scratch = corvale::test::ScratchDir();
  const std::string copy = scratch + "/ext3.img";
  const std::string mnt = scratch + "/mnt";
  fs::create_directories(mnt);
  ASSERT_EQ(corvale::test::RunCommand("cp --sparse=always '" + path + "' '" + copy + "'"), 0);
  const uint32_t readme = DebugfsInode(copy, "/docs", "readme.md");
  ASSERT_NE(readme, 0u);
  if (corvale::test::RunCommand("mount -o loop '" + copy + "' '" + mnt + "' 2>/dev/null") != 0)
    GTEST_SKIP() << "cannot mount an ext3 image here";
  const int removed = corvale::test::RunCommand("rm '" + mnt + "/docs/readme.md'");
  ASSERT_EQ(corvale::test::RunCommand("umount '" + mnt + "'"), 0);
  ASSERT_EQ(removed, 0);

  PaddedImageDevice device(copy);
  Tree tree = Own(BuildVolume(&device));
  ASSERT_NE(tree, nullptr);
  std::map<std::string, const CFileNode*> nodes = Collect(tree.get());
  const CFileNode* found = nullptr;
  for (const auto& [p, node] : nodes)
    if (Props(node).GetInodeNumber() == readme) found = node;
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(Props(found).IsDeleted());
  EXPECT_EQ(Props(found).GetSize(), 0u);
  for (const char* live : {"hello.txt", "docs/zkeep.txt", "large.bin", "folder/inner/inner.txt"}) {
    ASSERT_TRUE(nodes.count(live)) << live;
    EXPECT_FALSE(Props(nodes[live]).IsDeleted()) << live;
  }
}

// Files deleted by the kernel (ext2_cleared_deletes.sh): deleting cleared each inode's size and block
// pointers, so nothing of what the files held is left. They are listed (under their old folder when
// a removed entry still names them) as deleted files with that reason; a recovery of everything
// writes none of them, not even empty, and counts each as failed, while the live files and the one
// file whose inode kept its blocks come back whole.
TEST(Ext2DirectoryBuild, FilesWhoseInodesTheKernelClearedAreListedWithNothingLeftAndNotWritten) {
  CORVALE_FIXTURE(folder, "ext2_cleared_deletes.sh", "ext2_cleared_deletes");
  const std::string image = folder + "/ext2.img";
  size_t clearedCount = 0;
  {
    std::ifstream list(folder + "/cleared.txt");
    for (std::string path; std::getline(list, path);) ++clearedCount;
  }
  ASSERT_EQ(clearedCount, 4u);
  PaddedImageDevice device(image);
  Tree tree = Own(BuildVolume(&device));
  ASSERT_NE(tree, nullptr);
  const std::map<std::string, const CFileNode*> nodes = Collect(tree.get());
  std::set<std::string> nothingLeft;
  for (const auto& [p, node] : nodes) {
    const CExt2FileProperties& props = Props(node);
    if (props.GetUnrecoverableReason() == 0) continue;
    nothingLeft.insert(p);
    EXPECT_EQ(props.GetUnrecoverableReason(), kStringNoDataLeft) << p;
    EXPECT_TRUE(props.IsDeleted()) << p;
    EXPECT_EQ(props.GetSize(), 0u) << p;
  }
  EXPECT_EQ(nothingLeft.size(), clearedCount);
  for (const char* kept : {"live.txt", "backup.bin"}) {
    ASSERT_TRUE(nodes.count(kept)) << kept;
    EXPECT_EQ(Props(nodes.at(kept)).GetUnrecoverableReason(), 0u) << kept;
  }

  tree->ToggleCheck(tree.get(), false);
  const std::string target = corvale::test::ScratchDir() + "/recovered";
  std::string top;
  CFileRecoverer recoverer;
  corvale::log::ScopedCapture log;
  ASSERT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, tree.get(), target.c_str(), &top),
            CFileRecoverer::kResultOk);
  std::set<std::string> written;
  for (const auto& e : fs::recursive_directory_iterator(top))
    if (e.is_regular_file()) written.insert(fs::relative(e.path(), top).string());
  for (const std::string& p : nothingLeft) EXPECT_FALSE(written.count(p)) << p;
  EXPECT_TRUE(written.count("live.txt"));
  ASSERT_TRUE(written.count("backup.bin"));
  EXPECT_EQ(ReadFileBytes(top + "/backup.bin"), ReadFileBytes(folder + "/kept/backup.bin"));
  EXPECT_EQ(recoverer.GetRecoveredFileCount(), written.size());
  EXPECT_EQ(recoverer.GetFailedFileCount(), clearedCount);
  size_t reasons = 0;
  for (const std::string& line : log.Texts())
    if (line.find(" can be recovered: Nothing of this file is left to recover") != std::string::npos)
      ++reasons;
  EXPECT_EQ(reasons, clearedCount);
}

// One byte of the primary superblock changed so that its inode count is no longer groups x inodes
// per group (a mutation of a real image): inodes would be looked for in the wrong places, and the
// tree would be made of other inodes' bytes. The copy in group 1 opens the volume instead, and the
// tree is the intact image's, file for file. With every copy changed alike, nothing is opened.
TEST(Ext2DirectoryBuild, GroupSizesThatDisagreeInThePrimaryOpenFromABackupWithTheSameTree) {
  EXT2_IMAGE(path, kTree1k);
  const auto summary = [](const CFileNode* root) {
    std::map<std::string, std::pair<uint64_t, bool>> out;
    for (const auto& [p, node] : Collect(root)) out[p] = {Props(node).GetSize(), Props(node).IsDeleted()};
    return out;
  };
  PaddedImageDevice clean(path);
  Tree intact = Own(BuildVolume(&clean));
  ASSERT_NE(intact, nullptr);
  const auto expected = summary(intact.get());
  ASSERT_GT(expected.size(), 600u);

  struct Row {
    const char* what;
    uint32_t offset;  // in the superblock
    uint8_t value;
  };
  // 16384 inodes in 8 groups of 2048 (0x0800).
  for (const Row& row : {Row{"inodes per group 2049", ext2sb::kInodesPerGroup, 0x01},
                         Row{"inodes per group 0x0A00", ext2sb::kInodesPerGroup + 1, 0x0A},
                         Row{"inodes per group 0x0400", ext2sb::kInodesPerGroup + 1, 0x04},
                         Row{"inode count 0x5000", ext2sb::kInodeCount + 1, 0x50}}) {
    SCOPED_TRACE(row.what);
    PaddedImageDevice damaged(path);
    damaged.Patch(1024 + row.offset, row.value);
    corvale::log::ScopedCapture log;
    Tree tree = Own(BuildVolume(&damaged));
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(summary(tree.get()), expected);
    EXPECT_TRUE(log.HasPart("the superblock at sector 2 is damaged; opened from its copy in group 1"));
    CExt2Volume volume(&damaged, 0);
    EXPECT_EQ(volume.GetFileSystemType(), 4);

    // Every copy alike: refused.
    for (uint32_t group : {1u, 3u, 5u, 7u}) damaged.Patch((group * 8192 + 1) * 1024 + row.offset, row.value);
    EXPECT_EQ(BuildVolume(&damaged), nullptr);
    EXPECT_EQ(CExt2Volume(&damaged, 0).GetFileSystemType(), 7);
  }
}

// ext4 volumes (ext4_extents.sh), whose files map their data by extents. One without flex_bg keeps
// the ext3 layout and is taken as Ext3, but its files are not read through block pointers that are
// none (they would give other files' blocks or zeros): its tree holds no file, the build's log says
// why, and the engine's notice tells the user. One with flex_bg is not taken at all.
TEST(Ext2DirectoryBuild, Ext4VolumeOfExtentsIsListedEmptyAndTheEngineSaysWhy) {
  CORVALE_FIXTURE(folder, "ext4_extents.sh", "ext4_extents");
  ASSERT_TRUE(RegisterExt2FileSystemEngine());
  const std::optional<FileSystemEngine> engine = FileSystemEngineOfKind(kEngineExt2);
  ASSERT_TRUE(engine && engine->volumeNotice);

  PaddedImageDevice noflex(folder + "/noflex.img");
  EXPECT_EQ(CExt2Volume(&noflex, 0).GetFileSystemType(), 5);
  EXPECT_EQ(engine->volumeNotice(noflex, 0), kStringExt2Extents);
  corvale::log::ScopedCapture log;
  Tree tree = Own(BuildVolume(&noflex));
  ASSERT_NE(tree, nullptr);
  for (const auto& [p, node] : Collect(tree.get())) ADD_FAILURE() << "listed: " << p;
  EXPECT_TRUE(log.HasPart("uses extents (ext4), which are not read"));

  PaddedImageDevice flex(folder + "/flex.img");
  EXPECT_EQ(CExt2Volume(&flex, 0).GetFileSystemType(), 7);
  EXPECT_EQ(BuildVolume(&flex), nullptr);

  EXT2_IMAGE(ext2, kTree1k);
  PaddedImageDevice plain(ext2);
  EXPECT_EQ(engine->volumeNotice(plain, 0), 0u);
}

// A hashed (dir_index) folder with two index levels, whose leaves lie before and after its interior
// index blocks, and from which some files were removed: every live file is found under its own name
// in its own folder (none hangs under the root by number), and so is every removed one whose entry
// survives in the slack of the entry before it.
TEST(Ext2DirectoryBuild, HashedFolderGivesEveryFileItsNameAndPath) {
  CORVALE_FIXTURE(folder, "ext3_hashed_dir.sh", "ext3_hashed_dir");
  const std::string path = folder + "/volume.img";
  std::map<std::string, bool> manifest;  // name -> removed
  {
    std::FILE* f = std::fopen((folder + "/manifest.txt").c_str(), "r");
    ASSERT_NE(f, nullptr);
    char state[16], name[256];
    while (std::fscanf(f, "%15s %255s", state, name) == 2) manifest[name] = std::string(state) == "removed";
    std::fclose(f);
  }
  ASSERT_GT(manifest.size(), 3000u);
  PaddedImageDevice device(path);
  Tree tree = Own(BuildVolume(&device));
  ASSERT_NE(tree, nullptr);
  const std::map<std::string, const CFileNode*> nodes = Collect(tree.get());

  // The removed files whose names the slack keeps: debugfs lists them as "<inode> (length) name". One
  // that was the first entry of its block kept its name with inode 0, which names no file.
  std::vector<std::string> tokens;
  {
    std::istringstream words(Debugfs(path, "ls -d /big"));
    for (std::string w; words >> w;) tokens.push_back(w);
  }
  auto slackKeeps = [&](const std::string& name) {
    for (size_t i = 2; i < tokens.size(); ++i)
      if (tokens[i] == name && tokens[i - 2].size() > 2 && tokens[i - 2][0] == '<') return true;
    return false;
  };
  int namedRemoved = 0;
  for (const auto& [name, removed] : manifest) {
    auto found = nodes.find("big/" + name);
    if (!removed) {
      ASSERT_NE(found, nodes.end()) << name;
      EXPECT_FALSE(Props(found->second).IsDeleted()) << name;
      continue;
    }
    if (slackKeeps(name)) {
      ++namedRemoved;
      ASSERT_NE(found, nodes.end()) << name;
      EXPECT_TRUE(Props(found->second).IsDeleted()) << name;
    }
  }
  EXPECT_GE(namedRemoved, 3);
  for (const char* other : {"top.txt", "big/sub/inner.txt"}) EXPECT_EQ(nodes.count(other), 1u) << other;
  // Only a removed file whose name went with its inode number hangs under the root by number.
  for (const auto& [p, node] : nodes)
    if (p.rfind("Inode_", 0) == 0) {
      EXPECT_TRUE(Props(node).IsDeleted()) << p;
    }
}

// The largest block (data or indirect) in a `debugfs stat` output: it decides whether a cut device
// still holds the whole file.
uint64_t LastBlockOf(const std::string& stat) {
  const size_t at = stat.find("BLOCKS:");
  if (at == std::string::npos) return 0;
  uint64_t last = 0;
  for (uint64_t b : NumbersAfter(stat.substr(at), ":")) last = std::max(last, b);
  return last;
}

// An image cut short: the volume is still opened and built; files whose blocks (data and indirect)
// all lie before the cut recover byte for byte, and every other file found is counted as a failure.
// Cut by the last 1 KiB, and just before a file's single-indirect block.
TEST(Ext2DirectoryBuild, CutImageRecoversWhatIsThereAndCountsTheRest) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice original(path);
  const uint64_t sectors = static_cast<uint64_t>(original.GetSectorCount());
  // The second cut falls at the single-indirect block of a file whose first twelve blocks lie before
  // it: those read, the rest of the file is unknown (not a hole), so the file fails.
  uint64_t atIndirect = 0;
  {
    CExt2FileSystem fsys(&original, 2);
    std::unique_ptr<CExt2File> medium;
    ASSERT_TRUE(FindPath(fsys, "/medium.bin", &medium));
    ASSERT_LT(medium->GetInode().GetBlockPointer(11), medium->GetInode().GetBlockPointer(12));
    atIndirect = static_cast<uint64_t>(medium->GetInode().GetBlockPointer(12)) * 2;
  }
  // The last block of every file of the whole image, by inode (before the dump: the batch clears the
  // scratch folder).
  std::map<uint32_t, uint64_t> lastBlock;
  {
    Tree whole = Own(BuildVolume(&original));
    ASSERT_NE(whole, nullptr);
    std::vector<uint32_t> inodes;
    std::vector<std::string> requests;
    for (const auto& [p, node] : Collect(whole.get()))
      if (!Props(node).IsFolder()) {
        inodes.push_back(Props(node).GetInodeNumber());
        requests.push_back("stat <" + std::to_string(inodes.back()) + ">");
      }
    const std::vector<std::string> stats = DebugfsBatch(path, requests);
    for (size_t i = 0; i < inodes.size(); ++i) lastBlock[inodes[i]] = LastBlockOf(stats[i]);
  }
  const std::string scratch = corvale::test::ScratchDir();
  const std::map<std::string, fs::path> expected = DumpImage(path, scratch + "/dump", 100u << 20);
  for (uint64_t cut : {sectors - 2, atIndirect}) {
    SCOPED_TRACE("cut at sector " + std::to_string(cut));
    CBasicPartitionDevice device(&original, 0, static_cast<int64_t>(cut));
    Tree tree = Own(BuildVolume(&device));
    ASSERT_NE(tree, nullptr);
    const std::map<std::string, const CFileNode*> nodes = Collect(tree.get());
    ASSERT_TRUE(nodes.count("hello.txt"));

    std::vector<std::string> files;
    std::set<std::string> intact;
    for (const auto& [p, node] : nodes) {
      if (Props(node).IsFolder()) continue;
      files.push_back(p);
      auto last = lastBlock.find(Props(node).GetInodeNumber());
      ASSERT_NE(last, lastBlock.end()) << p;
      if ((last->second + 1) * 2 <= cut) intact.insert(p);
    }
    EXPECT_TRUE(intact.count("hello.txt"));
    if (cut == atIndirect) {
      EXPECT_FALSE(intact.count("medium.bin"));
    }

    tree->ToggleCheck(tree.get(), false);
    const std::string target = scratch + "/recovered" + std::to_string(cut);
    std::string top;
    CFileRecoverer recoverer;
    recoverer.RecoverFilesInThread(&device, nullptr, tree.get(), target.c_str(), &top);
    EXPECT_EQ(recoverer.GetFailedFileCount(), files.size() - intact.size());
    EXPECT_EQ(recoverer.GetRecoveredFileCount(), intact.size());
    for (const std::string& p : intact) {
      auto want = expected.find(p);
      if (want == expected.end()) continue;  // a removed file debugfs does not dump
      EXPECT_TRUE(ReadFileBytes(top + "/" + p) == ReadFileBytes(want->second.string())) << p;
    }
  }
}

// A few KB of data whose size high word says 4 GiB more: the file is sparse by size, its missing
// blocks are holes, and the recovered file has the full size, its data in place, and holes in place
// of the rest (it takes no more space on disk than its data).
TEST(Ext2DirectoryBuild, SizeHighWordOnASmallFileRecoversAsASparseFile) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice device(path);
  std::vector<uint8_t> small;
  uint32_t inode = 0;
  {
    CExt2FileSystem fsys(&device, 2);
    std::unique_ptr<CExt2File> f;
    ASSERT_TRUE(FindPath(fsys, "/small.bin", &f));
    small = ReadThroughBlocks(*f);
    inode = f->GetInodeNumber();
    uint64_t block;
    uint32_t offset;
    ASSERT_TRUE(fsys.LocateInode(inode, &block, &offset));
    device.PatchLE(block * 1024 + offset + 108, 1, 4);
  }
  ASSERT_EQ(small.size(), 5000u);
  Tree tree = Own(BuildVolume(&device));
  ASSERT_NE(tree, nullptr);
  std::map<std::string, const CFileNode*> nodes = Collect(tree.get());
  ASSERT_TRUE(nodes.count("small.bin"));
  const uint64_t size = (uint64_t{1} << 32) + 5000;
  EXPECT_EQ(Props(nodes["small.bin"]).GetSize(), size);
  EXPECT_NE(Props(nodes["small.bin"]).GetAttributes() & kAttributeSparse, 0);

  tree->ToggleCheck(tree.get(), false);
  const std::string target = corvale::test::ScratchDir() + "/recovered";
  std::string top;
  CFileRecoverer recoverer;
  ASSERT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, tree.get(), target.c_str(), &top),
            CFileRecoverer::kResultOk);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 0u);
  const std::string out = top + "/small.bin";
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), size);
  EXPECT_LE(static_cast<uint64_t>(st.st_blocks) * 512, uint64_t{1} << 20);
  std::FILE* f = std::fopen(out.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> head(5000), tail(4096);
  EXPECT_EQ(std::fread(head.data(), 1, head.size(), f), head.size());
  ASSERT_EQ(::fseeko(f, static_cast<off_t>(size - tail.size()), SEEK_SET), 0);
  EXPECT_EQ(std::fread(tail.data(), 1, tail.size(), f), tail.size());
  std::fclose(f);
  EXPECT_TRUE(head == small);
  EXPECT_TRUE(std::all_of(tail.begin(), tail.end(), [](uint8_t b) { return b == 0; }));
}

// Cancels at its n-th call.
class CancelAt : public IDIRBuildCallback {
 public:
  explicit CancelAt(int n) : m_left(n) {}
  int32_t BeginStage(const char*, int32_t) override { return Next(); }
  int32_t AddProgress(int32_t) override { return Next(); }
  int32_t StepTo(int32_t) override { return Next(); }
  int32_t EndStage() override { return Next(); }
  int32_t Poll() override { return Next(); }
  int calls = 0;

 private:
  int32_t Next() {
    ++calls;
    return --m_left <= 0 ? -1 : 0;
  }
  int m_left;
};

TEST(Ext2DirectoryBuild, CancelInEitherStageLeavesNoTree) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice device(path);
  CancelAt never(1 << 30);
  Tree whole = Own(BuildVolume(&device, &never));
  ASSERT_NE(whole, nullptr);
  const int total = never.calls;
  ASSERT_GT(total, 100);
  for (int n : {1, 2, 50, total / 2, total - 3, total - 1}) {
    CancelAt cancel(n);
    EXPECT_EQ(BuildVolume(&device, &cancel), nullptr) << n;
  }
}

TEST(Ext2DirectoryBuild, RootWithoutModeHangsTopLevelByInodeAndKeepsDeeperNames) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice clean(path);
  CExt2FileSystem fsys(&clean, 2);
  uint64_t block;
  uint32_t offset;
  ASSERT_TRUE(fsys.LocateInode(2, &block, &offset));
  PaddedImageDevice device(path);
  device.PatchLE(block * fsys.GetBlockSize() + offset, 0, 2);
  Tree tree = Own(BuildVolume(&device));
  ASSERT_NE(tree, nullptr);
  std::map<std::string, const CFileNode*> nodes = Collect(tree.get());
  char docs[32];
  std::snprintf(docs, sizeof docs, "Inode_%x", DebugfsInode(path, "/", "docs"));
  EXPECT_TRUE(nodes.count(std::string(docs) + "/readme.md")) << docs;
  char hello[32];
  std::snprintf(hello, sizeof hello, "Inode_%x", DebugfsInode(path, "/", "hello.txt"));
  EXPECT_TRUE(nodes.count(hello)) << hello;
  EXPECT_FALSE(nodes.count("docs"));
}

// A live file whose size claims far more than its blocks (a damaged or hugely sparse inode): the
// blocks past its last one are a single hole reaching as far as the map can, whether the walk meets
// the missing indirect blocks one by one or passes them whole.
TEST(Ext2DirectoryBuild, HugeSizeWithoutBlocksEndsInOneHoleAsFarAsTheMapReaches) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice clean(path);
  CExt2FileSystem fsys(&clean, 2);
  const uint32_t inode = DebugfsInode(path, "/", "hello.txt");
  uint64_t block;
  uint32_t offset;
  ASSERT_TRUE(fsys.LocateInode(inode, &block, &offset));
  PaddedImageDevice device(path);
  // Size 2^40 + 1 bytes: low word 1, high word 0x100.
  device.PatchLE(block * fsys.GetBlockSize() + offset + 4, 1, 4);
  device.PatchLE(block * fsys.GetBlockSize() + offset + 108, 0x100, 4);
  Tree tree = Own(BuildVolume(&device));
  ASSERT_NE(tree, nullptr);
  const std::map<std::string, const CFileNode*> nodes = Collect(tree.get());
  ASSERT_TRUE(nodes.count("hello.txt"));
  const auto runs = Props(nodes.at("hello.txt")).CreateDataRunList();
  ASSERT_NE(runs, nullptr);
  uint64_t total = 0;
  for (const DataRun& run : runs->Runs()) total += run.length;
  EXPECT_EQ(total, CExt2BlockIterator::MappableBlocks(fsys.GetBlockSize()));
  ASSERT_GE(runs->GetRunCount(), 2u);
  EXPECT_NE(runs->Runs().front().start, 0u);
  EXPECT_EQ(runs->Runs().back().start, 0u);
}

// Directory entries that make a folder its own ancestor: the tree stays a tree, every folder is in
// it exactly once and nothing is lost.
TEST(Ext2DirectoryBuild, DirectoryCyclesKeepEveryFolderOnce) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice clean(path);
  CExt2FileSystem fsys(&clean, 2);
  Tree reference = Own(BuildVolume(&clean));
  ASSERT_NE(reference, nullptr);
  size_t referenceCount = 0;
  Collect(reference.get(), &referenceCount);

  // In /deep/a/b/c the entry "d" names /deep instead, and in /deep/a/b/c/d the entry "e" names d.
  struct Redirect {
    const char* folder;
    const char* entry;
    const char* target;
  };
  for (const Redirect& r : {Redirect{"/deep/a/b/c", "d", "/deep"},
                            Redirect{"/deep/a/b/c/d", "e", "/deep/a/b/c/d"}, Redirect{"/deep/a", "b", "/"}}) {
    SCOPED_TRACE(std::string(r.folder) + "/" + r.entry + " -> " + r.target);
    std::unique_ptr<CExt2File> folder, target;
    ASSERT_TRUE(FindPath(fsys, r.folder, &folder));
    ASSERT_TRUE(FindPath(fsys, r.target, &target));
    PaddedImageDevice device(path);
    bool patched = false;
    for (CExt2DirEntry e = folder->EntriesBegin(), end = folder->EntriesEnd(); !(e == end); ++e) {
      CExt2File f = e.MakeFile();
      if (std::string(f.GetName(), f.GetNameLength()) != r.entry) continue;
      CExt2BlockIterator it(folder.get(), static_cast<uint32_t>(e.GetPosition() / fsys.GetBlockSize()));
      const uint64_t at = static_cast<uint64_t>(it.GetPhysicalBlock()) * fsys.GetBlockSize() +
                          e.GetPosition() % fsys.GetBlockSize();
      device.PatchLE(at, target->GetInodeNumber(), 4);
      patched = true;
    }
    ASSERT_TRUE(patched);
    Tree tree = Own(BuildVolume(&device));
    ASSERT_NE(tree, nullptr);
    size_t count = 0;
    std::map<std::string, const CFileNode*> nodes = Collect(tree.get(), &count);
    std::multiset<uint32_t> inodes;
    for (const auto& [p, node] : nodes) inodes.insert(Props(node).GetInodeNumber());
    for (uint32_t n : inodes) EXPECT_EQ(inodes.count(n), 1u) << n;
    // The folder that lost its entry is still there (under the root when nothing else names it).
    EXPECT_GE(count + 1, referenceCount);
    bool leaf = false;
    for (const auto& [p, node] : nodes)
      leaf = leaf || (p.size() >= 8 && p.substr(p.size() - 8) == "leaf.txt");
    EXPECT_TRUE(leaf);
  }
}

TEST(Ext2DirectoryBuild, SearchRecordWayRecordsTheBlocksOfFoundFiles) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice device(path);
  CExt2FileSystem opened(&device, 2);
  CExt2FileSystem fsys(&device, 0, opened.GetSuperBlock().Bytes(), opened.GetGroupDescriptorTable(),
                       opened.GetGroupDescriptorTableBytes());
  CExt2DirectoryBuilder builder;
  Tree tree = Own(builder.BuildFromSearchRecord(&fsys, nullptr, nullptr, 2));
  ASSERT_NE(tree, nullptr);
  EXPECT_STREQ(Props(tree.get()).GetName(), "Ext2 3");
  ASSERT_TRUE(builder.IsUsageRecorded());
  const std::vector<bool>& used = builder.GetBlockUse();
  ASSERT_EQ(used.size(), fsys.GetSuperBlock().GetBlockCount());
  std::set<uint64_t> fileBlocks;
  for (const char* file : {"/medium.bin", "/sparse.bin", "/docs/readme.md"})
    for (const auto& [logical, physical] : DebugfsDataBlocks(path, file)) fileBlocks.insert(physical);
  for (uint64_t b : fileBlocks) EXPECT_TRUE(used[b]) << b;
  // The last block of the file system holds nothing.
  EXPECT_FALSE(used[used.size() - 1]);
  // Nothing found by signature: no folder of such files.
  for (const CFileNode* c = tree->GetFirstChild(); c != nullptr; c = c->GetNextSibling())
    EXPECT_STRNE(Props(c).GetName(), "Raw Files");
}

// The folder of files found by signature is asked for with a map that places block b of the partition
// at sector start + b x sectors per block, and hangs under the root.
TEST(Ext2DirectoryBuild, SearchRecordWayHandsTheBlockMapToTheRawFilesFolder) {
  EXT2_IMAGE(path, kTree1k);
  const uint64_t start = 4096;
  PaddedImageDevice device(path, 512, start * 512);
  CExt2FileSystem opened(&device, start + 2);
  CExt2FileSystem fsys(&device, static_cast<int64_t>(start), opened.GetSuperBlock().Bytes(),
                       opened.GetGroupDescriptorTable(), opened.GetGroupDescriptorTableBytes());
  const uint64_t mediumBlock = DebugfsDataBlocks(path, "/medium.bin").at(0);
  const uint64_t lastBlock = fsys.GetSuperBlock().GetBlockCount() - 1;
  static std::vector<std::pair<uint64_t, bool>> asked;
  static std::vector<uint64_t> sectors;
  asked.clear();
  sectors = {start + mediumBlock * 2 + 1, start + lastBlock * 2, start - 1};
  RawFilesFolderHooks hooks;
  hooks.buildFolder = [](IStorageDevice*, CRawFileInfoList*, IIsClusterUsed* used, IDIRBuildCallback*) {
    for (uint64_t s : sectors) asked.emplace_back(s, used->IsClusterUsed(s));
    CFileSystemNode* folder = CFileSystemNode::CreateInstance();
    CExt2FileProperties* properties = CreateExt2FileProperties();
    properties->SetName("Raw Files");
    properties->SetAttributes(kAttributeFolder);
    folder->SetFileProperties(properties);
    return folder;
  };
  RegisterRawFilesFolderHooks(hooks);
  int carved = 0;  // stands for the scan's list, which the folder's builder alone reads
  CExt2DirectoryBuilder builder;
  Tree tree =
      Own(builder.BuildFromSearchRecord(&fsys, nullptr, reinterpret_cast<CRawFileInfoList*>(&carved), 0));
  RegisterRawFilesFolderHooks(RawFilesFolderHooks{});
  ASSERT_NE(tree, nullptr);
  const std::vector<std::pair<uint64_t, bool>> want = {
      {sectors[0], true}, {sectors[1], false}, {sectors[2], true}};
  EXPECT_EQ(asked, want);
  std::map<std::string, const CFileNode*> nodes = Collect(tree.get());
  EXPECT_TRUE(nodes.count("Raw Files"));
}

// A built tree saved into a state stream and read back gives the same names, sizes, times, states
// and runs: the Ext2 properties are restorable by code 2.
TEST(Ext2FileProperties, TreeSurvivesAStateFile) {
  ASSERT_TRUE(RegisterExt2Engine());
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice device(path);
  Tree tree = Own(BuildVolume(&device));
  ASSERT_NE(tree, nullptr);
  MemoryStateStream stream;
  ASSERT_TRUE(WriteFileSystemTree(tree.get(), stream, nullptr));
  stream.StartReading();
  Tree back = Own(ReadFileSystemTree(stream, nullptr));
  ASSERT_NE(back, nullptr);
  std::map<std::string, const CFileNode*> a = Collect(tree.get()), b = Collect(back.get());
  ASSERT_EQ(a.size(), b.size());
  for (const auto& [p, node] : a) {
    ASSERT_TRUE(b.count(p)) << p;
    const CExt2FileProperties &x = Props(node), &y = Props(b[p]);
    EXPECT_EQ(y.GetPersistenceCode(), kPropertiesExt2);
    EXPECT_EQ(x.GetSize(), y.GetSize()) << p;
    EXPECT_EQ(x.GetAttributes(), y.GetAttributes()) << p;
    EXPECT_EQ(x.GetCreationTime(), y.GetCreationTime()) << p;
    EXPECT_EQ(x.GetTime2(), y.GetTime2()) << p;
    EXPECT_EQ(x.GetTime3(), y.GetTime3()) << p;
    EXPECT_EQ(x.GetTypeWord(), y.GetTypeWord()) << p;
    auto ra = x.CreateDataRunList(), rb = y.CreateDataRunList();
    ASSERT_EQ(ra == nullptr, rb == nullptr) << p;
    if (ra) {
      EXPECT_TRUE(ra->Runs() == rb->Runs()) << p;
    }
  }
}

TEST(Ext2FileProperties, GarbageSavedFormsNeverLoadHalfway) {
  ASSERT_TRUE(RegisterExt2Engine());
  CExt2FileProperties good;
  good.SetName("name.txt");
  good.SetSize(1234);
  CExt2DataRunList runs;
  runs.AddRun({7, 3});
  good.SetPackedRunList(CreatePackedRunList(runs));
  MemoryStateStream stream;
  const RSGuid section = TestSection(1);
  stream.BeginSection(section);
  good.Save(stream);
  stream.EndSection();
  const std::vector<uint8_t> bytes = stream.Section(section);
  std::mt19937 random(0xE2);
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> damaged = bytes;
    if (round % 3 == 0) damaged.resize(random() % damaged.size());
    for (int e = 0; e < 1 + round % 5; ++e)
      if (!damaged.empty()) damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
    MemoryStateStream in;
    in.Section(section) = damaged;
    in.StartReading();
    in.BeginSection(section);
    CExt2FileProperties loaded;
    loaded.SetName("before");
    try {
      loaded.Load(in);
      auto list = loaded.CreateDataRunList();
      (void)list;
    } catch (const CRSException&) {
      EXPECT_STREQ(loaded.GetName(), "before");
    }
  }
}

TEST(Ext2DataRunList, RunsMergeWhenTheyContinueOrAreBothHoles) {
  struct Row {
    std::vector<DataRun> add;
    std::vector<DataRun> want;
  };
  const Row rows[] = {
      {{{5, 1}, {6, 1}, {7, 1}}, {{5, 3}}},
      {{{5, 1}, {9, 1}, {10, 2}}, {{5, 1}, {9, 3}}},
      {{{0, 1}, {0, 1}, {4, 1}, {0, 2}}, {{0, 2}, {4, 1}, {0, 2}}},
      {{{9, 1}, {8, 1}}, {{9, 1}, {8, 1}}},
  };
  for (const Row& row : rows) {
    CExt2DataRunList list;
    for (const DataRun& r : row.add) list.AddRun(r);
    EXPECT_EQ(std::vector<DataRun>(list.Runs().begin(), list.Runs().end()), row.want);
    EXPECT_EQ(list.GetKind(), kRunListExt2);
  }
}

TEST(Ext2FileProperties, InodeTimesAreUtcSecondsAndNeverBefore1970) {
  EXPECT_EQ(Ext2TimeToFileTime(0), 116444736000000000ULL);
  EXPECT_EQ(Ext2TimeToFileTime(1), 116444736010000000ULL);
  EXPECT_EQ(Ext2TimeToFileTime(0x80000000u), 116444736000000000ULL);
  EXPECT_EQ(Ext2TimeToFileTime(0x7FFFFFFFu), 116444736000000000ULL + 0x7FFFFFFFULL * 10000000ULL);
}

// Random bytes over the metadata of a real image, then the whole build: it ends, without faults, with
// a tree in which every node is reached once.
TEST(Ext2DirectoryBuild, SeededMutationsOfMetadataBuildWithoutFaulting) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice clean(path);
  CExt2FileSystem fsys(&clean, 2);
  const uint64_t bs = fsys.GetBlockSize();
  std::vector<std::pair<uint64_t, uint64_t>> ranges = {{1024, 1024}, {2 * bs, bs}};
  ranges.emplace_back(fsys.GetGroupDescriptor(0).inodeTable * bs, 16 * bs);
  for (const char* dir : {"/", "/docs", "/many", "/deep", "/deep/a", "/utf8"}) {
    std::unique_ptr<CExt2File> f;
    if (!FindPath(fsys, dir, &f)) continue;
    for (uint32_t i = 0; i < f->GetBlockCount() && i < 3; ++i)
      if (uint32_t b = CExt2BlockIterator(f.get(), i).GetPhysicalBlock()) ranges.emplace_back(b * bs, bs);
  }
  for (const char* file : {"/medium.bin", "/sparse.bin"}) {
    std::unique_ptr<CExt2File> f;
    if (!FindPath(fsys, file, &f)) continue;
    for (uint32_t p = 12; p < 15; ++p)
      if (uint32_t b = f->GetInode().GetBlockPointer(p)) ranges.emplace_back(b * bs, bs);
  }
  const auto start = std::chrono::steady_clock::now();
  std::mt19937_64 random(0xB111D);
  int built = 0;
  int rounds = 0;
  for (; rounds < 60; ++rounds) {
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(40)) break;
    PaddedImageDevice damaged(path);
    const int edits = 1 + static_cast<int>(random() % 24);
    for (int e = 0; e < edits; ++e) {
      const auto& range = ranges[random() % ranges.size()];
      const uint64_t at = range.first + random() % range.second;
      switch (random() % 4) {
        case 0:
          damaged.Patch(at, static_cast<uint8_t>(random()));
          break;
        case 1:
          damaged.PatchLE(at & ~3ull, (random() % 2) ? 0xFFFFFFFFull : random() % 70000, 4);
          break;
        case 2:
          damaged.Patch(at, static_cast<uint8_t>(1u << (random() % 8)));
          break;
        default:
          for (int i = 0; i < 8; ++i) damaged.Patch(at + i, 0);
      }
    }
    SCOPED_TRACE("round " + std::to_string(rounds));
    Tree tree = Own(BuildVolume(&damaged));
    if (tree == nullptr) continue;
    ++built;
    size_t count = 0;
    Collect(tree.get(), &count);
    EXPECT_LE(count, fsys.GetSuperBlock().GetInodeCount() + 1u);
  }
  EXPECT_GT(built, rounds / 3);
}

}  // namespace
