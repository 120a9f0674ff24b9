// The NTFS directory-tree build over real volumes made by tests/fixtures/ntfs_records.sh (mkntfs, files
// written and deleted through ntfs-3g): every live and deleted file in its folder with its name, and
// recovered byte for byte; volumes damaged by hand (a folder record zeroed, a record broken, parents
// that name each other, the $MFT record gone); cancel and progress; and the tree of a partition
// found by the whole-device search, compared with the volume's own.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "HandMadeRecords.h"
#include "NtfsTestVolume.h"
#include "RecoveredFiles.h"
#include "core/ClusterUseBitMap.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "core/IDIRBuildCallback.h"
#include "core/IntelligentSearchController.h"
#include "core/RawFilesFolder.h"
#include "core/SearchedPartitionInfo.h"
#include "ntfs/FileRecordAttribute.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/NTFSDirectoryBuilder.h"
#include "ntfs/NTFSFileProperties.h"
#include "ntfs/NTFSSearchController.h"
#include "platform/Log.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

namespace fs = std::filesystem;
using namespace recovered;

namespace {

using Tree = std::unique_ptr<CFileSystemNode, void (*)(CFileNode*)>;

Tree Owned(CFileSystemNode* root) { return Tree(root, FreeFileTree); }

// Records what the build reports; cancels at the first poll of a stage whose title contains
// `cancelIn`, when given.
class RecordingCallback : public IDIRBuildCallback {
 public:
  std::string cancelIn;
  std::vector<std::pair<std::string, int32_t>> stages;
  int64_t added = 0;
  std::vector<int32_t> positions;

  int32_t BeginStage(const char* title, int32_t range) override {
    stages.emplace_back(title, range);
    return Answer();
  }
  int32_t AddProgress(int32_t n) override {
    added += n;
    return Answer();
  }
  int32_t StepTo(int32_t position) override {
    positions.push_back(position);
    return Answer();
  }
  int32_t EndStage() override { return Answer(); }
  int32_t Poll() override { return Answer(); }

 private:
  int32_t Answer() {
    if (!cancelIn.empty() && !stages.empty() && stages.back().first.find(cancelIn) != std::string::npos)
      m_cancelled = true;
    return m_cancelled ? -1 : 0;
  }
  bool m_cancelled = false;
};

Tree BuildVolume(const std::vector<uint8_t>& image, int32_t sectorSize, IDIRBuildCallback* callback = nullptr,
                 uint64_t start = 0) {
  MemoryDevice device(image, sectorSize);
  RecordingCallback quiet;
  return Owned(CNTFSDirectoryBuilder().Build(start, &device, callback ? callback : &quiet));
}

std::string NameOf(const CFileNode* node) {
  const IFileProperties* p = node->GetFileProperties();
  return p ? p->GetName() : "";
}

// Path of every node below the root ("a/b/c"), with the node.
std::multimap<std::string, CFileNode*> PathsOf(CFileNode* root) {
  std::multimap<std::string, CFileNode*> out;
  WalkSubtree(root, [&](CFileNode* node) {
    if (node == root) return;
    std::string path = NameOf(node);
    for (CFileNode* up = node->GetParent(); up != nullptr && up != root; up = up->GetParent())
      path = NameOf(up) + "/" + path;
    out.emplace(path, node);
  });
  return out;
}

const CNTFSFileProperties* Ntfs(const CFileNode* node) {
  return dynamic_cast<const CNTFSFileProperties*>(node->GetFileProperties());
}

// (path, deleted, folder) of every entry of the tree, or of the manifest.
using Shape = std::multiset<std::tuple<std::string, bool, bool>>;

Shape ShapeOf(CFileNode* root) {
  Shape shape;
  for (const auto& [path, node] : PathsOf(root))
    shape.emplace(path, Ntfs(node)->IsDeleted(), Ntfs(node)->IsFolder());
  return shape;
}

Shape ShapeOf(const NtfsManifest& manifest) {
  Shape shape;
  for (const NtfsEntry& e : manifest.entries) shape.emplace(e.path, e.deleted, e.directory);
  return shape;
}

// What one shape holds that the other does not, for failure messages.
std::string Difference(const Shape& a, const Shape& b) {
  std::string out;
  auto add = [&](const char* side, const Shape& x, const Shape& y) {
    for (const auto& item : x)
      if (x.count(item) != y.count(item)) out += std::string(side) + std::get<0>(item) + "\n";
  };
  add("only left: ", a, b);
  add("only right: ", b, a);
  return out;
}

#define EXPECT_SAME_SHAPE(a, b)                                \
  do {                                                         \
    const Shape left_ = (a), right_ = (b);                     \
    EXPECT_TRUE(left_ == right_) << Difference(left_, right_); \
  } while (0)

const NtfsEntry* EntryAt(const NtfsManifest& manifest, const std::string& path, bool deleted) {
  for (const NtfsEntry& e : manifest.entries)
    if (e.path == path && e.deleted == deleted) return &e;
  return nullptr;
}

// The image with record `n` at its place in it handed to `edit` (raw bytes, fix-up not applied).
template <typename Edit>
void EditRecord(const NtfsTestVolume& volume, std::vector<uint8_t>& image, uint64_t n, Edit edit) {
  const uint64_t at = uint64_t(volume.RecordSector(n)) * volume.geometry.bytesPerSector;
  ASSERT_LE(at + volume.RecordSize(), image.size());
  edit(image.data() + at);
}

// Offsets (in the record) of the parent references of the record's $FILE_NAME attributes.
std::vector<size_t> ParentReferenceOffsets(const NtfsTestVolume& volume, uint64_t n) {
  std::vector<size_t> out;
  CNTFSFileRecordView view(volume.records[n].data(), volume.records[n].size());
  ForEachAttribute(view.GetBuffer(), view.GetLength(), [&](const CNTFSFileRecordAttribute& a) {
    if (a.GetType() == corvale::ntfs::attr::kFileName) out.push_back(a.GetOffset() + a.GetValueOffset());
    return true;
  });
  return out;
}

void SetParent(const NtfsTestVolume& volume, std::vector<uint8_t>& image, uint64_t n, uint64_t parent) {
  for (size_t offset : ParentReferenceOffsets(volume, n)) {
    // The last two bytes of each 512-byte stride belong to the update sequence.
    ASSERT_LT(offset % 512, 502u);
    EditRecord(volume, image, n, [&](uint8_t* record) {
      for (int i = 0; i < 6; ++i) record[offset + i] = uint8_t(parent >> (8 * i));
    });
  }
}

CFileNode* ChildNamed(CFileNode* folder, const std::string& name) {
  for (CFileNode* c = folder->GetFirstChild(); c != nullptr; c = c->GetNextSibling())
    if (NameOf(c) == name) return c;
  return nullptr;
}

std::set<std::string> ChildNames(CFileNode* folder) {
  std::set<std::string> names;
  for (CFileNode* c = folder->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) names.insert(NameOf(c));
  return names;
}

// ---------------------------------------------------------------------------------------------

struct Case {
  const char* kind;
  int32_t deviceSectorSize;  // 0: the volume's own
};

class NTFSDirectoryBuild : public ::testing::TestWithParam<Case> {};

TEST_P(NTFSDirectoryBuild, EveryLiveAndDeletedFileSitsInItsFolderAndComesBackByteForByte) {
  CORVALE_NTFS_VOLUME(volume, GetParam().kind);
  const int32_t sectorSize =
      GetParam().deviceSectorSize ? GetParam().deviceSectorSize : int32_t(volume->geometry.bytesPerSector);
  MemoryDevice device(volume->image, sectorSize);
  RecordingCallback callback;
  Tree tree = Owned(CNTFSDirectoryBuilder().Build(0, &device, &callback));
  ASSERT_TRUE(tree);
  EXPECT_STREQ(tree->GetName(), "CorvaleFiles");
  ASSERT_EQ(callback.stages.size(), 2u);
  EXPECT_EQ(callback.stages[0].first, "NTFS:Reading files");
  EXPECT_EQ(callback.stages[1].first, "NTFS:Building Directories...");

  // The tree holds what ntfs-3g showed, the deleted entries under their own folders, and no more.
  EXPECT_SAME_SHAPE(ShapeOf(tree.get()), ShapeOf(volume->manifest));
  for (const auto& [path, node] : PathsOf(tree.get()))
    EXPECT_EQ(NameOf(node).rfind("LostFiles", 0), std::string::npos) << path;

  // Everything recovered, compared by path and content with what was written.
  std::multiset<std::pair<std::string, std::string>> expected;
  std::set<std::string> known;
  for (const NtfsEntry& e : volume->manifest.entries) {
    known.insert(OutputPath(e.path));
    if (e.directory) continue;
    const fs::path copy =
        fs::path(volume->folder) / (e.deleted ? "content.deleted" : "content.live") / e.path;
    expected.emplace(OutputPath(e.path), ReadWhole(copy));
  }
  WalkSubtree(tree.get(), [](CFileNode* n) { n->GetFileProperties()->SetCheckState(kChecked); });
  const std::string target = corvale::test::ScratchDir();
  CFileRecoverer recoverer;
  std::string top;
  ASSERT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, tree.get(), target.c_str(), &top),
            CFileRecoverer::kResultOk);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 0u);
  std::multiset<std::pair<std::string, std::string>> recovered;
  for (const Output& o : ListOutputs(top)) recovered.emplace(PlainPath(o.path, known), o.content);
  EXPECT_EQ(recovered, expected);
  fs::remove_all(target);
}

INSTANTIATE_TEST_SUITE_P(Volumes, NTFSDirectoryBuild,
                         ::testing::Values(Case{"files-c4096", 0}, Case{"files-c512", 0},
                                           Case{"files-s4096", 0}, Case{"files-s4096", 512}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name = info.param.kind;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name + (info.param.deviceSectorSize ? "_on_512_byte_sectors" : "");
                         });

TEST(NTFSDirectoryBuild, OnlyDeletedFilesTickedComeBackUnderTheirFolders) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  MemoryDevice device(volume->image, 512);
  RecordingCallback callback;
  Tree tree = Owned(CNTFSDirectoryBuilder().Build(0, &device, &callback));
  ASSERT_TRUE(tree);
  WalkSubtree(tree.get(), [](CFileNode* n) {
    auto* p = const_cast<CNTFSFileProperties*>(Ntfs(n));
    if (p) p->SetCheckState(!p->IsFolder() && p->IsDeleted() ? kChecked : kNotChecked);
  });
  UpdateFolderStates(tree.get());
  const std::string target = corvale::test::ScratchDir();
  CFileRecoverer recoverer;
  std::string top;
  ASSERT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, tree.get(), target.c_str(), &top),
            CFileRecoverer::kResultOk);
  std::multiset<std::pair<std::string, std::string>> expected, recovered;
  for (const NtfsEntry& e : volume->manifest.entries)
    if (e.deleted && !e.directory)
      expected.emplace(e.path, ReadWhole(fs::path(volume->folder) / "content.deleted" / e.path));
  ASSERT_FALSE(expected.empty());
  for (const Output& o : ListOutputs(top)) recovered.emplace(o.path, o.content);
  EXPECT_EQ(recovered, expected);
  fs::remove_all(target);
}

TEST(NTFSDirectoryBuild, ChildrenOfAZeroedFolderRecordLandInLostFilesNumberedAfreshEachBuild) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  const NtfsEntry* gone = EntryAt(volume->manifest, "gone", true);
  ASSERT_NE(gone, nullptr);
  std::vector<uint8_t> image = volume->image;
  EditRecord(*volume, image, uint64_t(gone->record),
             [&](uint8_t* record) { std::memset(record, 0, volume->RecordSize()); });

  for (int build = 0; build < 2; ++build) {
    SCOPED_TRACE(build);
    Tree tree = BuildVolume(image, 512);
    ASSERT_TRUE(tree);
    EXPECT_EQ(ChildNamed(tree.get(), "gone"), nullptr);
    CFileNode* lost = ChildNamed(tree.get(), "LostFiles1");
    ASSERT_NE(lost, nullptr);
    EXPECT_EQ(ChildNamed(tree.get(), "LostFiles2"), nullptr);
    EXPECT_EQ(Ntfs(lost)->GetStatus(), CNTFSFileProperties::kStatusLostFiles);
    EXPECT_TRUE(Ntfs(lost)->IsFolder());
    EXPECT_EQ(ChildNames(lost),
              (std::set<std::string>{"deleted_1.txt", "deleted_2.txt", "deleted_3.txt", "sub"}));
    // The orphan folder keeps its own files.
    EXPECT_EQ(ChildNames(ChildNamed(lost, "sub")),
              (std::set<std::string>{"deleted_large.bin", "deleted_frag_x.bin", "deleted_frag_y.bin"}));
  }
}

TEST(NTFSDirectoryBuild, DamagedRecordIsSkippedAndLogged) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  const NtfsEntry* victim = EntryAt(volume->manifest, "plain/p5000.bin", false);
  ASSERT_NE(victim, nullptr);
  std::vector<uint8_t> image = volume->image;
  // The first attribute claims to run far past the record's end.
  EditRecord(*volume, image, uint64_t(victim->record), [](uint8_t* record) {
    const uint16_t first = uint16_t(record[0x14] | record[0x15] << 8);
    record[first + 4] = 0xF0;
    record[first + 5] = 0x7F;
  });
  corvale::log::ScopedCapture log;
  Tree tree = BuildVolume(image, 512);
  ASSERT_TRUE(tree);
  Shape expected = ShapeOf(volume->manifest);
  expected.erase(expected.find({"plain/p5000.bin", false, false}));
  EXPECT_SAME_SHAPE(ShapeOf(tree.get()), expected);
  bool logged = false;
  for (const std::string& line : log.Texts())
    logged |= line.find("damaged FILE record " + std::to_string(victim->record) + " ") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST(NTFSDirectoryBuild, FoldersNamingEachOtherOrThemselvesAsParentOrASystemFileEndInLostFiles) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  const NtfsEntry* plain = EntryAt(volume->manifest, "plain", false);
  const NtfsEntry* frag = EntryAt(volume->manifest, "frag", false);
  const NtfsEntry* attrs = EntryAt(volume->manifest, "attrs", false);
  ASSERT_TRUE(plain && frag && attrs);
  ASSERT_GT(plain->record, 24);
  ASSERT_GT(frag->record, 24);
  std::vector<uint8_t> image = volume->image;
  SetParent(*volume, image, uint64_t(plain->record), uint64_t(frag->record));
  SetParent(*volume, image, uint64_t(frag->record), uint64_t(plain->record));
  SetParent(*volume, image, uint64_t(attrs->record), uint64_t(attrs->record));
  // A file whose names both give a system record as parent belongs in no folder.
  const NtfsEntry* file = EntryAt(volume->manifest, "plain/p1000.bin", false);
  ASSERT_NE(file, nullptr);
  SetParent(*volume, image, uint64_t(file->record), 3);

  Tree tree = BuildVolume(image, 512);
  ASSERT_TRUE(tree);
  CFileNode* lost = ChildNamed(tree.get(), "LostFiles1");
  ASSERT_NE(lost, nullptr);
  // One of the pair took the other; the self-named folder took nothing of itself.
  const std::set<std::string> names = ChildNames(lost);
  EXPECT_TRUE(names == (std::set<std::string>{"plain", "attrs", "p1000.bin"}) ||
              names == (std::set<std::string>{"frag", "attrs", "p1000.bin"}))
      << names.size();
  CFileNode* outer = ChildNamed(lost, names.count("plain") ? "plain" : "frag");
  EXPECT_NE(ChildNamed(outer, names.count("plain") ? "frag" : "plain"), nullptr);
  CFileNode* plainFolder = names.count("plain") ? outer : ChildNamed(outer, "plain");
  ASSERT_NE(plainFolder, nullptr);
  EXPECT_NE(ChildNamed(plainFolder, "p5000.bin"), nullptr) << "a folder keeps the files naming it";
  EXPECT_EQ(ChildNamed(plainFolder, "p1000.bin"), nullptr);
  // Nothing was lost on the way.
  EXPECT_EQ(PathsOf(tree.get()).size(), volume->manifest.entries.size() + 1);
}

TEST(NTFSDirectoryBuild, OrphanFoldersAbove24AdoptWhatNamesThemAndNoneBelow) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  // Folder records written into free MFT slots (ntfs-3g leaves 27 to 63 unused), their parent a
  // record that does not exist: 30, 40 naming 30, and 20; a file moved under 20.
  using namespace handmade;
  auto folder = [](uint32_t number, uint64_t parent, const std::string& name) {
    Record r(number, 0, 0x0003);
    r.AddResident(0x10, StandardInformationValue(0));
    std::vector<uint8_t> fileName = FileNameValue(parent | (uint64_t{1} << 48), name);
    Put(fileName, 0x38, 0x10000000, 4);
    r.AddResident(0x30, fileName);
    return r.Finish();
  };
  const NtfsEntry* file = EntryAt(volume->manifest, "plain/p4097.bin", false);
  ASSERT_NE(file, nullptr);
  for (int64_t n : {20, 30, 40})
    ASSERT_FALSE(IsInUse(volume->records[size_t(n)].data(), volume->RecordSize())) << n;
  std::vector<uint8_t> image = volume->image;
  for (auto [number, parent, name] :
       {std::tuple{20u, 9999u, "twenty"}, std::tuple{30u, 9999u, "thirty"}, std::tuple{40u, 30u, "forty"}}) {
    const std::vector<uint8_t> bytes = folder(number, parent, name);
    EditRecord(*volume, image, number,
               [&](uint8_t* record) { std::copy(bytes.begin(), bytes.end(), record); });
  }
  SetParent(*volume, image, uint64_t(file->record), 20);

  Tree tree = BuildVolume(image, 512);
  ASSERT_TRUE(tree);
  CFileNode* lost = ChildNamed(tree.get(), "LostFiles1");
  ASSERT_NE(lost, nullptr);
  EXPECT_EQ(ChildNames(lost), (std::set<std::string>{"thirty", "twenty", "p4097.bin"}));
  EXPECT_EQ(ChildNames(ChildNamed(lost, "thirty")), (std::set<std::string>{"forty"}));
  EXPECT_EQ(ChildNamed(lost, "twenty")->GetFirstChild(), nullptr);
}

TEST(NTFSDirectoryBuild, DamagedMftRecordFallsBackToTheMirror) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  std::vector<uint8_t> image = volume->image;
  EditRecord(*volume, image, 0, [&](uint8_t* record) { std::memset(record, 0, volume->RecordSize()); });
  Tree tree = BuildVolume(image, 512);
  ASSERT_TRUE(tree);
  EXPECT_SAME_SHAPE(ShapeOf(tree.get()), ShapeOf(volume->manifest));

  // With the mirror gone as well there is nothing to read the MFT by.
  const uint64_t mirror = volume->geometry.mftMirrByteOffset;
  std::memset(image.data() + mirror, 0, volume->RecordSize());
  EXPECT_FALSE(BuildVolume(image, 512));
}

// A run string of (start cluster, length) runs, starts as signed deltas in as few bytes as they need.
std::vector<uint8_t> RunString(const std::vector<NTFSRun>& runs) {
  std::vector<uint8_t> out;
  int64_t previous = 0;
  for (const NTFSRun& run : runs) {
    const int64_t delta = run.lcn - previous;
    previous = run.lcn;
    unsigned l = 1, o = 1;
    while (l < 8 && (uint64_t(run.length) >> (8 * l)) != 0) ++l;
    while (o < 8 && !(delta >= -(int64_t(1) << (8 * o - 1)) && delta < (int64_t(1) << (8 * o - 1)))) ++o;
    out.push_back(uint8_t(o << 4 | l));
    for (unsigned i = 0; i < l; ++i) out.push_back(uint8_t(uint64_t(run.length) >> (8 * i)));
    for (unsigned i = 0; i < o; ++i) out.push_back(uint8_t(uint64_t(delta) >> (8 * i)));
  }
  out.push_back(0);
  return out;
}

TEST(NTFSDirectoryBuild, MftWhoseRunsGoOnInAnExtensionRecordIsReadWhole) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  // The $MFT's data split at cluster 8: the first piece stays in record 0 with an attribute list,
  // the rest moves to record 16, which lies inside the first piece.
  const int64_t split = 8;
  const int64_t clusters = volume->mftRuns.GetTotalClusters();
  ASSERT_GT(clusters, split + 4);
  std::vector<NTFSRun> first, rest;
  for (const NTFSRun& run : volume->mftRuns.Runs()) {
    ASSERT_GE(run.lcn, 0);
    if (run.vcn + run.length <= split) {
      first.push_back(run);
    } else if (run.vcn >= split) {
      rest.push_back(run);
    } else {
      first.push_back({run.lcn, run.vcn, split - run.vcn});
      rest.push_back({run.lcn + split - run.vcn, split, run.vcn + run.length - split});
    }
  }
  using namespace handmade;
  Record mft(0);
  mft.AddResident(0x10, StandardInformationValue(0x06));
  mft.AddResident(0x20, AttributeListValue({{0x10, 0}, {0x30, 0}, {0x80, 0}, {0x80, 16}}));
  mft.AddResident(0x30, FileNameValue(5 | (uint64_t{5} << 48), "$MFT"));
  const int64_t bytes = clusters * volume->geometry.bytesPerCluster;
  mft.AddNonResident(0x80, bytes, volume->mftDataSize, volume->mftDataSize, RunString(first), split - 1);
  Record extension(16, uint64_t{1} << 48);
  extension.AddNonResident(0x80, 0, 0, 0, RunString(rest), clusters - 1, "", 0, split);

  std::vector<uint8_t> image = volume->image;
  for (auto [number, bytesOfRecord] : {std::pair{0, mft.Finish()}, std::pair{16, extension.Finish()}})
    EditRecord(*volume, image, uint64_t(number),
               [&](uint8_t* record) { std::copy(bytesOfRecord.begin(), bytesOfRecord.end(), record); });

  corvale::log::ScopedCapture log;
  Tree tree = BuildVolume(image, 512);
  ASSERT_TRUE(tree);
  EXPECT_SAME_SHAPE(ShapeOf(tree.get()), ShapeOf(volume->manifest));
  const std::string expected = "MFT file record has 0x20 attribute, MFT start sector is " +
                               std::to_string(volume->RecordSector(0)) + "\n";
  size_t seen = 0;
  for (const std::string& line : log.Texts()) seen += line.find(expected) != std::string::npos;
  EXPECT_EQ(seen, 1u);

  // Without its extension record only the first piece is read, which holds the system files alone
  // (ntfs-3g places the first file at record 64): a tree without files, as of an empty volume.
  EditRecord(*volume, image, 16, [&](uint8_t* record) { std::memset(record, 0, volume->RecordSize()); });
  Tree systemFilesOnly = BuildVolume(image, 512);
  ASSERT_TRUE(systemFilesOnly);
  EXPECT_EQ(systemFilesOnly->GetFirstChild(), nullptr);
}

TEST(NTFSDirectoryBuild, UnreadableMftBatchLosesItsOwnRecordsOnly) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  MemoryDevice intactDevice(volume->image, 512);
  RecordingCallback quiet;
  Tree intact = Owned(CNTFSDirectoryBuilder().Build(0, &intactDevice, &quiet));
  ASSERT_TRUE(intact);
  // A bad sector in the MFT, well after the first batch: the batch it falls in cannot be read.
  const auto& [number, paths] = *volume->manifest.live.lower_bound(int64_t(volume->records.size() / 2));
  MemoryDevice device(volume->image, 512);
  device.SetBadSector(uint64_t(volume->RecordSector(uint64_t(number))));
  Tree tree = Owned(CNTFSDirectoryBuilder().Build(0, &device, &quiet));
  ASSERT_TRUE(tree);
  std::multiset<std::string> all, left;
  for (const auto& item : PathsOf(intact.get())) all.insert(item.first);
  for (const auto& item : PathsOf(tree.get())) left.insert(item.first);
  EXPECT_EQ(left.count(paths.front()), 0u) << paths.front();
  EXPECT_LT(left.size(), all.size());
  // Nothing of an earlier batch comes back a second time in place of the lost ones.
  for (const std::string& path : left) {
    if (path.rfind("LostFiles", 0) != 0) {
      EXPECT_LE(left.count(path), all.count(path)) << path;
    }
  }
}

TEST(NTFSDirectoryBuild, ProgressCountsBatchesOf128SectorsAndCancelWhileReadingGivesNoTree) {
  CORVALE_NTFS_VOLUME(volume, "files-c512");
  RecordingCallback progress;
  ASSERT_TRUE(BuildVolume(volume->image, 512, &progress));
  const int64_t mftSectors = volume->mftRuns.GetTotalClusters() * (volume->geometry.bytesPerCluster / 512);
  ASSERT_GT(mftSectors, 256);
  ASSERT_EQ(progress.stages.size(), 2u);
  EXPECT_EQ(progress.stages[0].second, mftSectors / 128);
  // One position per whole batch, the last partial one processed without a step.
  ASSERT_EQ(progress.positions.size(), size_t(mftSectors / 128));
  EXPECT_EQ(progress.positions.back(), mftSectors / 128);
  // Every linked entry advanced the second step by one.
  EXPECT_EQ(progress.added, int64_t(PathsOf(BuildVolume(volume->image, 512).get()).size()));

  for (const char* stage : {"Reading files", "Building Directories"}) {
    SCOPED_TRACE(stage);
    RecordingCallback cancel;
    cancel.cancelIn = stage;
    EXPECT_FALSE(BuildVolume(volume->image, 512, &cancel));
  }
}

TEST(NTFSDirectoryBuild, UnusableBootSectorsAndGarbageGiveNoTreeAndNoFault) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  // No boot sector at all, and a boot sector whose record size is none the build can use.
  std::vector<uint8_t> zeros(1 << 20, 0);
  EXPECT_FALSE(BuildVolume(zeros, 512));
  std::vector<uint8_t> odd = volume->image;
  odd[0x40] = 0x7F;
  EXPECT_FALSE(BuildVolume(odd, 512));
  // Records of 1024 bytes cannot be placed by sectors of 4096.
  std::vector<uint8_t> image = volume->image;
  image.resize(image.size() / 4096 * 4096);
  EXPECT_FALSE(BuildVolume(image, 4096));

  // An $MFT record whose run claims 2^40 clusters: read as far as the volume goes, the records found.
  {
    using namespace handmade;
    Record mft(0);
    mft.AddResident(0x10, StandardInformationValue(0x06));
    mft.AddResident(0x30, FileNameValue(5 | (uint64_t{5} << 48), "$MFT"));
    const int64_t huge = int64_t{1} << 40;
    mft.AddNonResident(0x80, huge * 4096, volume->mftDataSize, volume->mftDataSize,
                       RunString({{volume->mftRuns.Runs().front().lcn, 0, huge}}), huge - 1);
    std::vector<uint8_t> longMft = volume->image;
    const std::vector<uint8_t> bytes = mft.Finish();
    EditRecord(*volume, longMft, 0, [&](uint8_t* record) { std::copy(bytes.begin(), bytes.end(), record); });
    Tree tree = BuildVolume(longMft, 512);
    ASSERT_TRUE(tree);
    CFileNode* big = ChildNamed(tree.get(), "big");
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(ChildNames(big).size(), volume->manifest.bigCount);
  }

  // The MFT's records with random bytes thrown in: whatever is built, the build ends cleanly.
  std::mt19937 random(20261210);
  const uint64_t mft = volume->geometry.mftByteOffset;
  for (int round = 0; round < 8; ++round) {
    std::vector<uint8_t> damaged = volume->image;
    for (int i = 0; i < 4000; ++i) {
      const uint64_t at = mft + random() % (volume->records.size() * volume->RecordSize());
      damaged[at] = uint8_t(random());
    }
    Tree tree = BuildVolume(damaged, 512);
    if (tree) {
      EXPECT_GT(PathsOf(tree.get()).size(), 0u);
    }
  }
}

// A volume as mkntfs -Q leaves it holds only its system files: the build reads its MFT and gives a
// root without children (an empty volume, not a failed build), and recovering it writes nothing and
// counts no failure.
TEST(NTFSDirectoryBuild, FreshlyFormattedVolumeIsAnEmptyTree) {
  CORVALE_FIXTURE(path, "ntfs_empty.sh", "ntfs_empty.img");
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(image.size(), 1u << 20);
  MemoryDevice device(image, 512);
  RecordingCallback progress;
  CNTFSDirectoryBuilder builder;
  Tree tree = Owned(builder.Build(0, &device, &progress));
  ASSERT_TRUE(tree);
  EXPECT_EQ(tree->GetFirstChild(), nullptr) << "a fresh volume shows " << NameOf(tree->GetFirstChild());
  EXPECT_GE(builder.GetRecordCount(), 16u);  // the system files were read

  WalkSubtree(tree.get(), [](CFileNode* n) {
    if (n->GetFileProperties()) n->GetFileProperties()->SetCheckState(kChecked);
  });
  const std::string target = corvale::test::ScratchDir();
  CFileRecoverer recoverer;
  std::string top;
  EXPECT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, tree.get(), target.c_str(), &top),
            CFileRecoverer::kResultOk);
  EXPECT_EQ(recoverer.GetRecoveredFileCount(), 0u);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 0u);
  EXPECT_TRUE(ListOutputs(target).empty());
  fs::remove_all(target);
}

TEST(NTFSDirectoryBuild, DataFileInARecycleBinTakesTheNameItsIndexFileRecords) {
  CORVALE_FIXTURE(image, "ntfs_recycle_bin.sh", "ntfs_recycle_bin.img");
  std::vector<uint8_t> bytes(fs::file_size(image));
  std::ifstream(image, std::ios::binary)
      .read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
  Tree tree = BuildVolume(bytes, 512);
  ASSERT_TRUE(tree);
  const auto paths = PathsOf(tree.get());
  EXPECT_EQ(paths.count("$Recycle.Bin/S-1-5-21-1000/quarterly report.docx"), 1u);
  EXPECT_EQ(paths.count("$Recycle.Bin/S-1-5-21-1000/$IAB12CD.docx"), 1u);
  EXPECT_EQ(paths.count("$Recycle.Bin/S-1-5-21-1000/$RAB12CD.docx"), 0u);
  // Outside a bin such names are names like any other.
  EXPECT_EQ(paths.count("outside/$RXY98ZW.docx"), 1u);
  EXPECT_EQ(paths.count("outside/$IXY98ZW.docx"), 1u);
}

// ---------------------------------------------------------------------------------------------
// A partition found by the whole-device search

// A stand-in for the RAW engine's folder builder: asks the cluster map about the sectors given and
// answers with an empty "Raw Files" folder.
struct ClusterProbe {
  std::vector<uint64_t> sectors;
  std::vector<bool> used;
  bool called = false;
};
ClusterProbe g_probe;

CFileSystemNode* ProbeRawFilesFolder(IStorageDevice*, CRawFileInfoList*, IIsClusterUsed* map,
                                     IDIRBuildCallback*) {
  g_probe.called = true;
  g_probe.used.clear();
  for (uint64_t sector : g_probe.sectors)
    g_probe.used.push_back(map != nullptr && map->IsClusterUsed(sector));
  CFileSystemNode* folder = CreateFileSystemNode();
  CNTFSFileProperties* properties = CreateNTFSFileProperties();
  properties->SetName("Raw Files");
  properties->SetAttributes(kAttributeFolder);
  folder->SetFileProperties(properties);
  return folder;
}

TEST(NTFSSearchedPartitionBuild, FoundPartitionGivesTheTreeOfTheVolumeItself) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  const int64_t offset = 2048;
  std::vector<uint8_t> disk(size_t(offset) * 512, 0);
  disk.insert(disk.end(), volume->image.begin(), volume->image.end());
  disk.resize(disk.size() + 1024 * 512, 0);
  // Without its boot sectors the volume can only be placed by the scan's evidence.
  std::memset(disk.data() + offset * 512, 0, 512);
  MemoryDevice device(disk, 512);

  CNTFSSearchController controller;
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&controller);
  ASSERT_EQ(driver.Search(nullptr), 1);
  SearchedPartitionInfoList found;
  controller.GetResults(&found);
  CSearchedPartitionInfo* partition = nullptr;
  for (auto& p : found)
    if (p->GetStartSector() == offset && p->GetSectorsPerCluster() == 8) partition = p.get();
  ASSERT_NE(partition, nullptr);

  std::vector<uint8_t> intact(disk);
  std::memcpy(intact.data() + offset * 512, volume->image.data(), 512);
  const Tree expected = BuildVolume(intact, 512, nullptr, uint64_t(offset));
  ASSERT_TRUE(expected);

  // Records placed through the MFT the search saw: the same tree.
  auto* ntfs = dynamic_cast<CSearchedNTFSPartitionInfo*>(partition);
  ASSERT_NE(ntfs, nullptr);
  ntfs->SetUseMft(true);
  RecordingCallback progress;
  Tree tree = Owned(controller.BuildPartitionDirectory(partition, &device, 1, &progress));
  ASSERT_TRUE(tree);
  EXPECT_SAME_SHAPE(ShapeOf(tree.get()), ShapeOf(expected.get()));
  EXPECT_STREQ(tree->GetName(), "CorvaleFiles");
  uint64_t start = 0;
  uint32_t sectorsPerCluster = 0;
  ASSERT_TRUE(tree->GetPosition(start, sectorsPerCluster));
  EXPECT_EQ(start, uint64_t(offset));
  EXPECT_EQ(sectorsPerCluster, 8u);
  ASSERT_EQ(progress.stages.size(), 2u);
  EXPECT_EQ(progress.stages[0].first, "NTFS:Reading files");
  EXPECT_GT(progress.stages[0].second, 0);

  // Without the MFT no folder is known by number but the ones the records carry; the root's own
  // files then have no folder and gather in LostFiles1, the subfolders under them as before.
  ntfs->SetUseMft(false);
  Tree loose = Owned(controller.BuildPartitionDirectory(partition, &device, 1, nullptr));
  ASSERT_TRUE(loose);
  CFileNode* lost = ChildNamed(loose.get(), "LostFiles1");
  ASSERT_NE(lost, nullptr);
  Shape inLost;
  for (const auto& [path, node] : PathsOf(lost))
    inLost.emplace(path, Ntfs(node)->IsDeleted(), Ntfs(node)->IsFolder());
  // A file whose names the volume moved out to extension records cannot be named without the MFT
  // that places those records.
  Shape expectedLoose = ShapeOf(expected.get());
  expectedLoose.erase({"manyruns.bin", false, false});
  EXPECT_SAME_SHAPE(inLost, expectedLoose);

  // The clusters of the files found are marked as used for the signature-found files: a file's data,
  // its record, but not a cluster no file holds.
  const auto paths = PathsOf(expected.get());
  const auto big = paths.find("plain/p1048577.bin");
  ASSERT_NE(big, paths.end());
  auto runs = Ntfs(big->second)->CreateDataRunList();
  ASSERT_TRUE(runs && !runs->IsResident() && runs->GetRunCount() > 0);
  const uint64_t bigSector = uint64_t(offset) + runs->Runs().front().start * 8;
  const uint64_t freeCluster = uint64_t(partition->GetSectorCount()) / 8 * 3 / 4;
  for (const auto& [path, node] : paths) {
    auto nodeRuns = Ntfs(node)->CreateDataRunList();
    if (!nodeRuns || nodeRuns->IsResident()) continue;
    for (const DataRun& run : nodeRuns->Runs())
      ASSERT_FALSE(!run.IsSparse() && run.start <= freeCluster && freeCluster < run.start + run.length)
          << path;
  }
  g_probe = ClusterProbe{
      {bigSector, uint64_t(Ntfs(big->second)->GetRecordSector()), uint64_t(offset) + freeCluster * 8},
      {},
      false};
  RawFilesFolderHooks hooks;
  hooks.buildFolder = ProbeRawFilesFolder;
  RegisterRawFilesFolderHooks(hooks);
  // The found-file list is only handed through to the folder builder, which does not look at it here.
  static int notAList = 0;
  controller.SetResultSink(reinterpret_cast<CRawFileInfoList*>(&notAList));
  ntfs->SetUseMft(true);
  Tree withRaw = Owned(controller.BuildPartitionDirectory(partition, &device, 1, nullptr));
  RegisterRawFilesFolderHooks(RawFilesFolderHooks{});
  controller.SetResultSink(nullptr);
  ASSERT_TRUE(withRaw);
  EXPECT_NE(ChildNamed(withRaw.get(), "Raw Files"), nullptr);
  ASSERT_TRUE(g_probe.called);
  EXPECT_EQ(g_probe.used, (std::vector<bool>{true, true, false}));

  // Partition records with values no scan would give end cleanly: no tree, or the tree of what lies
  // inside them.
  struct Odd {
    int64_t start, count;
    uint8_t sectorsPerCluster;
    int64_t mftSector;
  };
  const int64_t deviceSectors = device.GetSectorCount();
  for (const Odd& odd : {Odd{deviceSectors + 5, 100, 8, -1}, Odd{offset, INT64_MAX, 8, INT64_MAX},
                         Odd{offset, 100000, 3, offset}, Odd{offset, 1, 128, deviceSectors - 1},
                         Odd{0, deviceSectors, 8, 0}}) {
    SCOPED_TRACE(odd.start);
    CSearchedNTFSPartitionInfo strange(512);
    strange.SetStartSector(odd.start);
    strange.SetSectorCount(odd.count);
    strange.SetSectorsPerCluster(odd.sectorsPerCluster);
    strange.SetMftSector(odd.mftSector);
    strange.SetUseMft(true);
    Tree any = Owned(controller.BuildPartitionDirectory(&strange, &device, 2, nullptr));
    if (any) {
      EXPECT_NE(any->GetFirstChild(), nullptr);
    }
  }

  // Another kind of partition is not this build's.
  CSearchedPartitionInfo other(512);
  EXPECT_EQ(controller.BuildPartitionDirectory(&other, &device, 1, nullptr), nullptr);
}

}  // namespace
