// NTFS partitions rebuilt by the whole-device scan from what is left on a disk: the real search
// driver with the NTFS controller, the end of the pass, and the candidate selection over its
// results, on disk images made by tests/fixtures/ntfs_rebuild.sh (boot sectors zeroed, a volume
// formatted over another one, a partition table zeroed); then the directory tree of every partition
// chosen, built by the controller that ran the scan, and recovered file by file.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "RecoveredFiles.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "core/IntelligentSearchController.h"
#include "core/MemoryStateStream.h"
#include "core/PartitionCandidateSelection.h"
#include "core/RSException.h"
#include "core/RawFilesFolder.h"
#include "core/TypedFileExtent.h"
#include "ntfs/FileRecordHeader.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/NTFSDirectoryBuilder.h"
#include "ntfs/NTFSScanEvidence.h"
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

#define CORVALE_REBUILD_DISK(var, name)                           \
  CORVALE_FIXTURE(var##_root, "ntfs_rebuild.sh", "ntfs_rebuild"); \
  Disk var;                                                       \
  ASSERT_TRUE(LoadDisk(var##_root, name, var)) << "no manifest in " << var##_root << "/" << name

struct Rebuild {
  CNTFSSearchController controller;
  int64_t deviceSectors = 0;
  SearchedPartitionInfoList candidates;
  std::vector<const CSearchedNTFSPartitionInfo*> chosen;
};

// The scan, the end of the pass and the selection, as the program runs them.
void RunRebuild(const std::string& image, Rebuild& r, CRawFileInfoList* sink = nullptr) {
  CImageFileDevice device(image);
  ASSERT_TRUE(device.IsOpened());
  r.deviceSectors = device.GetSectorCount();
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&r.controller);
  r.controller.SetResultSink(sink);
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
  for (int64_t at = p.start;
       r.controller.GetFileRecordSectors().FindFirstRecordAtOrAfter(at, runIndex, sector) &&
       sector < p.start + p.sectors;
       at = sector + 1)
    ++inside;
  EXPECT_GE(inside, entries);
}

TEST(NTFSPartitionRebuild, BothBootSectorsZeroed) {
  CORVALE_REBUILD_DISK(disk, "noboot");
  Rebuild r;
  RunRebuild(disk.folder + "/disk.img", r);
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
  RunRebuild(disk.folder + "/disk.img", r);
  ASSERT_EQ(disk.partitions.size(), 2u);
  for (size_t i = 0; i < disk.partitions.size(); ++i) {
    ExpectRebuilt(r, disk.partitions[i]);
    const CSearchedNTFSPartitionInfo* c = ChosenAt(r, disk.partitions[i].start);
    ASSERT_NE(c, nullptr);
    // Both boot sectors are there: the size is the volume's own.
    EXPECT_EQ(c->GetFoundByFlags() & (kFoundByFirstBootRecord | kFoundByLastBootRecord),
              kFoundByFirstBootRecord | kFoundByLastBootRecord);
    EXPECT_EQ(c->GetSectorCount(),
              disk.partitions[i].volumeSectors / c->GetSectorsPerCluster() * c->GetSectorsPerCluster());
    ExpectBuildEvidence(r, disk, i);
  }
  ExpectNoOverlap(r);
}

std::vector<uint8_t> SaveScanState(CNTFSSearchController& c) {
  MemoryStateStream s;
  s.BeginSection(TestSection(1));
  c.SaveState(s);
  return s.Section(TestSection(1));
}

// Loads saved bytes into `c`; the stream exception's code, 0 when none.
int32_t LoadScanState(CNTFSSearchController& c, const std::vector<uint8_t>& bytes) {
  MemoryStateStream s;
  s.Section(TestSection(1)) = bytes;
  s.StartReading();
  s.BeginSection(TestSection(1));
  try {
    c.LoadState(s);
  } catch (const IRSException& e) {
    return e.GetCode();
  }
  return 0;
}

void ExpectSameBuildEvidence(const CNTFSSearchController& a, const CNTFSSearchController& b) {
  ASSERT_EQ(a.GetMftLocations().size(), b.GetMftLocations().size());
  for (size_t i = 0; i < a.GetMftLocations().size(); ++i) {
    EXPECT_EQ(a.GetMftLocations()[i]->GetSector(), b.GetMftLocations()[i]->GetSector());
    EXPECT_EQ(a.GetMftLocations()[i]->GetSectorsPerCluster(), b.GetMftLocations()[i]->GetSectorsPerCluster());
    EXPECT_EQ(a.GetMftLocations()[i]->GetInitializedSize(), b.GetMftLocations()[i]->GetInitializedSize());
    EXPECT_TRUE(a.GetMftLocations()[i]->GetRunList().IsEqual(b.GetMftLocations()[i]->GetRunList()));
  }
  EXPECT_EQ(a.GetFileRecordSectors().Runs(), b.GetFileRecordSectors().Runs());
}

TEST(NTFSPartitionRebuild, VolumeFormattedOverAnOlderOne) {
  CORVALE_REBUILD_DISK(disk, "reformat");
  Rebuild r;
  RunRebuild(disk.folder + "/disk.img", r);
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

  // The new volume's $MFT is kept with its initialized size, which ends before the old records the
  // new MFT's clusters still hold; the size goes with the scan state.
  const CNTFSMFTLocation* mft = nullptr;
  for (const auto& location : r.controller.GetMftLocations())
    if (location->GetSector() == p.MftSector()) mft = location.get();
  ASSERT_NE(mft, nullptr);
  EXPECT_GT(mft->GetInitializedSize(), 16 * 1024);
  size_t pastInNewMft = 0;
  for (const OldFile& f : disk.oldFiles)
    pastInNewMft += mft->GetRunList().VcnToLcn(f.record * 1024 / (p.sectorsPerCluster * 512)) >= 0 &&
                    mft->IsPastInitializedSize(f.record, 1024);
  EXPECT_GT(pastInNewMft, 0u);
  CNTFSSearchController restored;
  ASSERT_EQ(LoadScanState(restored, SaveScanState(r.controller)), 0);
  ExpectSameBuildEvidence(r.controller, restored);
}

// The same volume built through its own boot sector, which reads the new $MFT's clusters only: the
// old records they still hold past the $MFT's initialized size are listed, each only in a LostFiles
// folder.
TEST(NTFSPartitionRebuild, VolumeBuildListsTheOlderVolumesRecordsOnlyAsOrphans) {
  CORVALE_REBUILD_DISK(disk, "reformat");
  const ManifestPartition& p = disk.partitions.at(0);
  CImageFileDevice device(disk.folder + "/disk.img");
  ASSERT_TRUE(device.IsOpened());
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(
      CNTFSDirectoryBuilder().Build(uint64_t(p.start), &device, nullptr), FreeFileTree);
  ASSERT_TRUE(tree);
  size_t old = 0;
  WalkSubtree(tree.get(), [&](CFileNode* n) {
    const IFileProperties* properties = n->GetFileProperties();
    if (properties == nullptr || std::string(properties->GetName()).rfind("old_", 0) != 0) return;
    ++old;
    const CFileNode* top = n;
    while (top->GetParent() != nullptr && top->GetParent() != tree.get()) top = top->GetParent();
    EXPECT_EQ(std::string(top->GetFileProperties()->GetName()).rfind("LostFiles", 0), 0u)
        << properties->GetName() << " under " << top->GetFileProperties()->GetName();
  });
  EXPECT_GT(old, 0u);
}

// ---------------------------------------------------------------------------------------------
// The tree of a rebuilt partition, recovered

using Files = std::multiset<std::pair<std::string, std::string>>;

// What the recovery of one chosen partition wrote: each file's path below the partition's own folder
// and its bytes.
struct RecoveredPartition {
  Files files;
  uint32_t failed = 0;
};

// Builds the tree of the candidate chosen at the partition's start with the controller that ran the
// scan, ticks all of it and recovers it into a fresh folder.
void RecoverPartition(Rebuild& r, const std::string& image, const ManifestPartition& p, int32_t index,
                      RecoveredPartition& out) {
  CSearchedPartitionInfo* candidate = nullptr;
  for (const auto& c : r.candidates)
    if (c->GetChosenMark() == 1 && c->GetPartitionStart() == p.start) candidate = c.get();
  ASSERT_NE(candidate, nullptr);
  CImageFileDevice device(image);
  ASSERT_TRUE(device.IsOpened());
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(
      r.controller.BuildPartitionDirectory(candidate, &device, index, nullptr), FreeFileTree);
  ASSERT_TRUE(tree);
  WalkSubtree(tree.get(), [](CFileNode* n) {
    if (n->GetFileProperties()) n->GetFileProperties()->SetCheckState(kChecked);
  });
  const std::string target = corvale::test::ScratchDir();
  CFileRecoverer recoverer;
  std::string top;
  ASSERT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, tree.get(), target.c_str(), &top),
            CFileRecoverer::kResultOk);
  out.failed = recoverer.GetFailedFileCount();
  for (const recovered::Output& o : recovered::ListOutputs(top)) out.files.emplace(o.path, o.content);
  std::filesystem::remove_all(target);
}

// What was written to the volume, as the recovery names it.
Files WrittenFiles(const std::string& content) {
  Files files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(content))
    if (e.is_regular_file())
      files.emplace(recovered::OutputPath(std::filesystem::relative(e.path(), content).string()),
                    recovered::ReadWhole(e.path()));
  return files;
}

// The old volume's files whose records are still where the old MFT put them, by name: a small file's
// data lies in its record, so the record still holding the file's bytes is the file itself.
std::set<std::string> SurvivingOldFiles(const Disk& disk, const ManifestPartition& p) {
  std::set<std::string> names;
  CImageFileDevice device(disk.folder + "/disk.img");
  if (!device.IsOpened()) return names;
  for (const OldFile& f : disk.oldFiles) {
    const std::string content = recovered::ReadWhole(disk.folder + "/content.old/" + f.path.substr(1));
    std::vector<uint8_t> record(1024);
    if (content.empty() || content.size() > 200 ||
        !device.ReadSectors(record.data(), uint64_t(p.MftSector() + 2 * f.record), 2))
      continue;
    CNTFSFileRecordView view(record.data(), record.size());
    if (!view.IsValid() || view.GetOwnRecordNumber() != f.record) continue;
    if (std::search(record.begin(), record.end(), content.begin(), content.end()) != record.end())
      names.insert(std::filesystem::path(f.path).filename().string());
  }
  return names;
}

class NTFSRebuiltPartitionRecovery : public ::testing::TestWithParam<const char*> {};

// Every file written to each partition comes back at its path below the partition's folder with its
// bytes, and nothing else does but the files of a volume formatted over: each of those whose record
// survived comes back with its own bytes, folderless in LostFiles since their folder's record was
// written over. Old records left in the new $MFT's clusters past its initialized size are numbered
// by their place there, and their parent numbers are those of old folders: none of them may sit
// under the new folder that took such a number.
TEST_P(NTFSRebuiltPartitionRecovery, EveryFileComesBackAtItsPathWithItsBytes) {
  CORVALE_REBUILD_DISK(disk, GetParam());
  const std::string image = disk.folder + "/disk.img";
  std::map<std::string, std::string> old;
  for (const OldFile& f : disk.oldFiles)
    old[std::filesystem::path(f.path).filename().string()] =
        recovered::ReadWhole(disk.folder + "/content.old/" + f.path.substr(1));
  Rebuild r;
  RunRebuild(image, r);
  for (size_t i = 0; i < disk.partitions.size(); ++i) {
    const ManifestPartition& p = disk.partitions[i];
    SCOPED_TRACE(testing::Message() << "partition at " << p.start);
    RecoveredPartition got;
    RecoverPartition(r, image, p, int32_t(i), got);
    EXPECT_EQ(got.failed, 0u);
    const Files written = WrittenFiles(disk.folder + "/content/" + std::to_string(i));
    ASSERT_GT(written.size(), 40u);
    std::string missing;
    for (const auto& f : written)
      if (got.files.count(f) != written.count(f)) missing += f.first + "\n";
    EXPECT_TRUE(missing.empty()) << "written but not recovered whole:\n" << missing;

    std::set<std::string> oldFound;
    size_t oldInLostFiles = 0;
    for (const auto& f : got.files) {
      if (written.count(f)) continue;
      const std::string name = std::filesystem::path(f.first).filename().string();
      const auto it = old.find(name);
      if (it == old.end()) {
        ADD_FAILURE() << f.first << " is none of the files written";
        continue;
      }
      oldFound.insert(name);
      oldInLostFiles += f.first.rfind("LostFiles", 0) == 0;
      // The old picture's clusters went to the new volume's files.
      if (name != "old_picture.jpg") {
        EXPECT_TRUE(f.second == it->second) << f.first;
      }
    }
    EXPECT_EQ(oldFound.size(), size_t(std::count_if(got.files.begin(), got.files.end(),
                                                    [&](const auto& f) { return written.count(f) == 0; })));
    const std::set<std::string> survivors = SurvivingOldFiles(disk, p);
    EXPECT_EQ(survivors.empty(), disk.oldFiles.empty());
    std::string lost;
    for (const std::string& name : survivors)
      if (!oldFound.count(name)) lost += name + " ";
    EXPECT_TRUE(lost.empty()) << "old records still on the disk but not recovered: " << lost;
    EXPECT_EQ(oldInLostFiles, oldFound.size());
    EXPECT_GE(oldInLostFiles, disk.oldFiles.size() * 3 / 4);
  }
}

INSTANTIATE_TEST_SUITE_P(Disks, NTFSRebuiltPartitionRecovery, ::testing::Values("noboot", "reformat", "two"));

// What the build needs is saved with the scan state after the pass and read back whole; a state
// cut anywhere is refused and leaves the controller as it was.
TEST(NTFSPartitionRebuild, BuildEvidenceIsSavedWithTheScanState) {
  CORVALE_REBUILD_DISK(disk, "noboot");
  Rebuild r;
  RunRebuild(disk.folder + "/disk.img", r);
  ASSERT_FALSE(r.controller.GetMftLocations().empty());
  const std::vector<uint8_t> saved = SaveScanState(r.controller);
  CNTFSSearchController restored;
  ASSERT_EQ(LoadScanState(restored, saved), 0);
  ExpectSameBuildEvidence(r.controller, restored);
  for (size_t cut = 0; cut < saved.size(); ++cut) {
    SCOPED_TRACE(cut);
    EXPECT_EQ(LoadScanState(restored, std::vector<uint8_t>(saved.begin(), saved.begin() + long(cut))),
              RS_ERROR_SHORT_READ);
    ExpectSameBuildEvidence(r.controller, restored);
  }
}

// A found file of every start sector, of one type.
class AnyStartIs : public ISignatureResults {
 public:
  bool FindFileType(uint64_t, int32_t& typeId) const override {
    typeId = type;
    return true;
  }
  int32_t type = 0;
};
AnyStartIs g_anyStart;

// Named files of the partition whose data starts where a file of their type was found count for it:
// here every start holds a JPG, and the volume has one file named so with its data in clusters.
TEST(NTFSPartitionRebuild, NamedFilesWhereSignaturesFoundThemCount) {
  CORVALE_REBUILD_DISK(disk, "noboot");
  CTypedFileExtent jpg;
  static const char16_t kName[] = u"x.jpg";
  ASSERT_TRUE(jpg.SetFromUnicodeName(kName, 5, 0, 0));
  g_anyStart.type = jpg.GetFileType();
  RawFilesFolderHooks hooks;
  hooks.signatureResults = [](const CRawFileInfoList*) -> const ISignatureResults* { return &g_anyStart; };
  RegisterRawFilesFolderHooks(hooks);
  Rebuild r;
  // Any address stands for the scan's list of found files: only the registered engine reads it.
  RunRebuild(disk.folder + "/disk.img", r, reinterpret_cast<CRawFileInfoList*>(&g_anyStart));
  RegisterRawFilesFolderHooks(RawFilesFolderHooks{});
  const CSearchedNTFSPartitionInfo* c = ChosenAt(r, disk.partitions[0].start);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetFilesMatch(), 1);  // docs/photo.jpg
}

void PutPage(std::fstream& image, int64_t sector, bool restart, uint16_t usn) {
  std::vector<uint8_t> page(4096, 0x11);
  auto put16 = [&](size_t at, uint16_t v) {
    page[at] = uint8_t(v);
    page[at + 1] = uint8_t(v >> 8);
  };
  if (restart) {
    std::memcpy(page.data(), "RSTR", 4);
    static const uint8_t kClient[8] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
    std::memcpy(page.data() + 0x90, kClient, 8);
    put16(0x1E, usn);
  } else {
    std::memcpy(page.data(), "RCRD", 4);
    put16(4, 40);
    put16(6, 9);
    put16(40, usn);
  }
  for (size_t s = 0; s < 8; ++s) put16(s * 512 + 510, usn);
  image.seekp(std::streamoff(sector) * 512);
  image.write(reinterpret_cast<const char*>(page.data()), std::streamsize(page.size()));
}

// A $LogFile in use: its two restart pages and its log pages lie in its clusters, and they count
// for the partition whose $LogFile record places them there.
TEST(NTFSPartitionRebuild, LogFilePagesCountWhereTheLogFileRecordPutsThem) {
  CORVALE_REBUILD_DISK(disk, "noboot");
  const ManifestPartition& p = disk.partitions[0];
  const std::string image = corvale::test::ScratchDir() + "/logfile.img";
  std::filesystem::copy_file(disk.folder + "/disk.img", image);
  CImageFileDevice original(disk.folder + "/disk.img");
  std::vector<uint8_t> record(1024);
  const int64_t logRecord = p.MftSector() + 2 * 2;
  ASSERT_TRUE(original.ReadSectors(record.data(), uint64_t(logRecord), 2));
  CNTFSFoundFileRecord log;
  ASSERT_TRUE(log.ParseRecord(record.data(), record.size(), logRecord, 512));
  const int64_t logStart = p.start + log.GetFirstLcn() * p.sectorsPerCluster;
  const int64_t logPages = 40;
  ASSERT_GE(log.GetRunList().GetTotalClusters() * p.sectorsPerCluster, (logPages + 2) * 8);
  {
    std::fstream out(image, std::ios::in | std::ios::out | std::ios::binary);
    PutPage(out, logStart, true, 1);
    PutPage(out, logStart + 8, true, 1);
    for (int64_t i = 0; i < logPages; ++i) PutPage(out, logStart + 16 + 8 * i, false, uint16_t(2 + i));
    ASSERT_TRUE(out.good());
  }
  Rebuild r;
  RunRebuild(image, r);
  const CSearchedNTFSPartitionInfo* c = ChosenAt(r, p.start);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetLogFileSector(), logRecord);
  EXPECT_EQ(c->GetLogFileMatch(), logPages + 2);
  EXPECT_EQ(c->GetFoundByFlags() & (kFoundByFirstRstr | kFoundBySecondRstr),
            kFoundByFirstRstr | kFoundBySecondRstr);
  EXPECT_EQ(c->GetScore(), CNTFSSearchController::ScoreCandidate(*c));
}

}  // namespace
