// A Format Recovery scan of a disk holding NTFS, FAT and ext2 partitions, saved into a state file
// and restored in a fresh process: the restored partitions, controllers, files found by signature
// and directory tree save back to the very same bytes, and the files recovered from the restored
// tree are byte for byte those recovered before the save, and those put on the disk.
//
// The fresh process is this test program run again with only the restoring test selected; it learns
// its files from the environment and is skipped when started any other way.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "core/FileSystemTree.h"
#include "core/IntelligentSearchController.h"
#include "core/MemoryStateStream.h"
#include "core/PartitionCandidateSelection.h"
#include "core/RSData.h"
#include "core/RSDataEx.h"
#include "core/SearchedPartitionInfo.h"
#include "core/StateSections.h"
#include "core/TreeHelpers.h"
#include "ext2/EXT2SearchController.h"
#include "fat/FATSearchController.h"
#include "ntfs/NTFSSearchController.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFileListState.h"
#include "storage/ImageFileDevice.h"
#include "support/Fixtures.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kChildEnv = "CORVALE_SCAN_STATE_CHILD";

std::unique_ptr<IFileSystemSearchController> MakeController(int32_t kind) {
  switch (kind) {
    case SEARCH_CONTROLLER_NTFS:
      return std::make_unique<CNTFSSearchController>();
    case SEARCH_CONTROLLER_FAT:
      return std::make_unique<CFATSearchController>();
    case SEARCH_CONTROLLER_RAW:
      return std::make_unique<CRAWSearchController>();
    case SEARCH_CONTROLLER_EXT2:
      return std::make_unique<CEXT2SearchController>();
    default:
      return nullptr;
  }
}

using TreePtr = std::unique_ptr<CFileNode, void (*)(CFileNode*)>;

// What a scan holds once its partitions are chosen and their trees built.
struct ScanState {
  SearchControllerList controllers;
  std::unique_ptr<CRawFileInfoList> found = std::make_unique<CRawFileInfoList>();
  SearchedPartitionInfoList partitions;
  TreePtr tree{nullptr, FreeFileTree};

  std::vector<IFileSystemSearchController*> Controllers() const {
    std::vector<IFileSystemSearchController*> list;
    for (const auto& c : controllers) list.push_back(c.get());
    return list;
  }
};

// The sections in the order the wizard writes them, then the tree.
void SaveSections(IRSData& stream, ScanState& s) {
  ASSERT_TRUE(SaveFileSystemSearchControllerList(stream, s.Controllers()));
  ASSERT_TRUE(SaveRawFileList(stream, *s.found));
  ASSERT_TRUE(SaveSearchedPartitionInfoList(stream, s.partitions));
  ASSERT_TRUE(WriteFileSystemTree(static_cast<CFileSystemNode*>(s.tree.get()), stream, nullptr));
}

// Every section as bytes, one after another, for comparing two scans exactly.
std::string SectionBytes(ScanState& s) {
  MemoryStateStream memory;
  SaveSections(memory, s);
  std::string out;
  for (const RSGuid& g : {kSearchControllerListSection, kRawFileListSection, kSearchedPartitionListSection,
                          kFileSystemTreeSection}) {
    const std::vector<uint8_t>& b = memory.Section(g);
    out += std::to_string(b.size()) + ":";
    out.append(b.begin(), b.end());
  }
  return out;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// Ticks the whole tree and recovers it into `target`; the count of files that failed.
uint32_t RecoverAll(IStorageDevice& device, CFileNode* root, const std::string& target) {
  WalkSubtree(root, [](CFileNode* n) {
    if (n->GetFileProperties()) n->GetFileProperties()->SetCheckState(kChecked);
  });
  fs::create_directories(target);
  CFileRecoverer recoverer;
  std::string top;
  recoverer.RecoverFilesInThread(&device, nullptr, root, target.c_str(), &top);
  return recoverer.GetFailedFileCount();
}

// The files below `folder` by path, with their bytes.
std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = ReadText(e.path());
  return files;
}

}  // namespace

TEST(ScanStateRestore, FormatRecoveryScanComesBackWholeInAFreshProcess) {
  CORVALE_FIXTURE(dir, "three_fs_disk.sh", "three_fs_disk");
  CImageFileDevice device(dir + "/disk.img");
  ASSERT_TRUE(device.IsOpened());

  ScanState scan;
  for (int32_t kind :
       {SEARCH_CONTROLLER_NTFS, SEARCH_CONTROLLER_FAT, SEARCH_CONTROLLER_EXT2, SEARCH_CONTROLLER_RAW})
    scan.controllers.push_back(MakeController(kind));
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&device);
  for (auto& c : scan.controllers) {
    c->SetResultSink(scan.found.get());
    driver.AddFileSystemSearchController(c.get());
  }
  ASSERT_EQ(driver.Search(nullptr), 1);

  std::map<const CSearchedPartitionInfo*, IFileSystemSearchController*> finder;
  for (auto& c : scan.controllers) {
    const size_t before = scan.partitions.size();
    c->GetResults(&scan.partitions);
    for (size_t i = before; i < scan.partitions.size(); ++i) finder[scan.partitions[i].get()] = c.get();
  }
  ComputePartitionWeights(scan.partitions);
  SortSearchedPartitions(scan.partitions);
  SelectPartitionLayout(scan.partitions, device.GetSectorCount());

  // The chosen partitions' trees under one root, as the wizard hangs them.
  scan.tree.reset(treetest::MakePartition("root", 7, 0, 1));
  std::set<int64_t> chosenStarts;
  int32_t index = 0;
  for (const auto& p : scan.partitions) {
    if (p->GetChosenMark() != 1) continue;
    chosenStarts.insert(CandidateRange(*p).first);
    CFileSystemNode* tree = finder[p.get()]->BuildPartitionDirectory(p.get(), &device, index++, nullptr);
    if (tree != nullptr) scan.tree->AddChild(tree);
  }
  EXPECT_EQ(chosenStarts, (std::set<int64_t>{2048, 36864, 71680}));
  ASSERT_NE(scan.tree->GetFirstChild(), nullptr);

  const std::string work = corvale::test::ScratchDir();
  const std::string statePath = work + "/cslast.rdf";
  {
    CRSDataEx writer(RS_MODE_WRITE);
    ASSERT_TRUE(writer.Open(statePath, 1));
    uint8_t header[corvale::kRSHeaderSize] = {};
    std::copy(corvale::kRSMarker.bytes.begin(), corvale::kRSMarker.bytes.end(), header);
    writer.WriteHeader(header);
    SaveSections(writer, scan);
    writer.SetStatus(1);
    writer.Close();
  }
  WriteText(work + "/expected.bin", SectionBytes(scan));
  ASSERT_EQ(RecoverAll(device, scan.tree.get(), work + "/before"), 0u);

  const std::string command = std::string(kChildEnv) + "='" + work + "' '/proc/" + std::to_string(getpid()) +
                              "/exe' --gtest_filter=ScanStateRestoreChild.* --gtest_color=no";
  std::string output;
  ASSERT_EQ(corvale::test::RunCommand(command + " 2>&1", &output), 0) << output;
  ASSERT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;

  EXPECT_TRUE(ReadText(work + "/restored.bin") == ReadText(work + "/expected.bin"))
      << "the restored scan does not save back to the same sections";
  const auto before = Files(work + "/before");
  const auto after = Files(work + "/after");
  EXPECT_FALSE(before.empty());
  EXPECT_EQ(before.size(), after.size());
  for (const auto& [path, bytes] : before) {
    auto it = after.find(path);
    ASSERT_NE(it, after.end()) << path;
    EXPECT_TRUE(it->second == bytes) << path;
  }
  // Every file put on each partition is among those recovered after the restore, byte for byte.
  std::multiset<std::string> recovered;
  for (const auto& [path, bytes] : after) recovered.insert(bytes);
  for (const auto& [path, bytes] : Files(dir + "/content"))
    EXPECT_TRUE(recovered.count(bytes) > 0) << "not recovered after the restore: " << path;
}

TEST(ScanStateRestoreChild, RestoresTheSavedScan) {
  const char* env = std::getenv(kChildEnv);
  if (env == nullptr) GTEST_SKIP() << "run by FormatRecoveryScanComesBackWholeInAFreshProcess only";
  const std::string work = env;
  CORVALE_FIXTURE(dir, "three_fs_disk.sh", "three_fs_disk");
  CImageFileDevice device(dir + "/disk.img");
  ASSERT_TRUE(device.IsOpened());

  ScanState scan;
  CRSDataEx reader(RS_MODE_READ);
  ASSERT_TRUE(reader.Open(work + "/cslast.rdf", 0));
  ASSERT_TRUE(reader.IsValidFile());
  ASSERT_TRUE(LoadFileSystemSearchControllerList(reader, MakeController, &scan.controllers));
  scan.found = LoadRawFileList(reader);
  ASSERT_NE(scan.found, nullptr);
  for (auto& c : scan.controllers) {
    c->SetResultSink(scan.found.get());
    c->SetStorageDevice(&device);
  }
  ASSERT_TRUE(LoadSearchedPartitionInfoList(reader, &scan.partitions));
  scan.tree.reset(ReadFileSystemTree(reader, nullptr));
  ASSERT_NE(scan.tree, nullptr);
  reader.Close();

  WriteText(work + "/restored.bin", SectionBytes(scan));
  EXPECT_EQ(RecoverAll(device, scan.tree.get(), work + "/after"), 0u);
}
