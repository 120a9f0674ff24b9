// Seeded mutation of real records, index buffers, boot sectors and run strings, each mutant handed
// to every parser. Under the sanitizers this shows that no input crashes, hangs or reads outside its
// buffer; the loop is bounded by a count so it takes seconds. Inputs that once broke a parser are
// kept in tests/fixtures/regress/ntfs/ and replayed.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "NtfsTestVolume.h"
#include "RecordMutation.h"
#include "RecoveredFiles.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "core/IDIRBuildCallback.h"
#include "core/IntelligentSearchController.h"
#include "core/PartitionCandidateSelection.h"
#include "ntfs/FileRecord.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/IndexBuffer.h"
#include "ntfs/LogRecord.h"
#include "ntfs/NTFSDBR.h"
#include "ntfs/NTFSDirectoryBuilder.h"
#include "ntfs/NTFSSearchController.h"
#include "ntfs/VolumeLabelReader.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

namespace attr = corvale::ntfs::attr;

namespace {

// Keeps the optimiser from dropping results the loop only computes.
volatile uint64_t g_sink;

const uint32_t kTypes[] = {attr::kStandardInformation, attr::kAttributeList, attr::kFileName,
                           attr::kVolumeName,          attr::kData,          attr::kIndexRoot,
                           attr::kIndexAllocation,     attr::kBitmap,        attr::kLoggedUtilityStream};

// The lookups over the first `cut` bytes of a record, held in a buffer of exactly that size, so that
// a read past an attribute at the end of the buffer is a read past the allocation.
void RunLookups(const uint8_t* record, size_t cut) {
  uint64_t sink = 0;
  std::vector<uint8_t> b(record, record + cut);
  for (uint32_t type : kTypes) {
    for (int i = 0; i < 3; ++i) {
      CNTFSFileRecordAttribute a = FindAttribute(b.data(), b.size(), type, i);
      if (!a) break;
      sink += CheckAttribute(a.GetData(), a.GetLength()).IsValid() +
              CheckFileNameAttribute(a.GetData(), a.GetLength()).IsValid();
      CNTFSFileRecordFileNameAttribute name(a);
      if (name.IsUsable()) sink += name.GetFileName().NameUtf8().size();
      CNTFSFileRecordDataRunsAttribute runs(a);
      sink += runs.GetRunList().GetCount();
      sink += uint64_t(GetIndexRootParentReference(a));
    }
  }
  sink += uint64_t(CheckFileRecordAttributes(b.data(), b.size()).outcome);
  g_sink = sink;
}

void RunRecordParsers(const std::vector<uint8_t>& input, IStorageDevice* device,
                      const NTFSMftPlacement& placement, size_t cut = 0) {
  uint64_t sink = 0;
  std::vector<uint8_t> record = input;
  sink += uint64_t(CheckFileRecord(record.data(), record.size()).outcome);
  sink += IsValidNTFSFileRecord(record.data(), record.size());
  sink += IsFileRecordHeaderValid(record.data(), record.size());
  sink += VerifyFileRecordFixup(record.data(), record.size());
  {
    CNTFSFileRecordView inPlace(record.data(), record.size(), false);
    sink += inPlace.describe().size();
  }
  if (record != input) ADD_FAILURE() << "a view did not put the caller's buffer back";
  CNTFSFileRecordView view(record.data(), record.size());
  const uint8_t* b = view.IsValid() ? view.GetBuffer() : record.data();
  size_t n = view.IsValid() ? view.GetLength() : record.size();
  for (uint32_t type : kTypes) {
    sink += CountAttributes(b, n, type);
    for (int i = 0; i < 3; ++i) {
      CNTFSFileRecordAttribute a = FindAttribute(b, n, type, i);
      if (!a) break;
      sink += a.GetValue().size() + a.GetRunString().size() + a.GetNameUtf8().size();
      CNTFSFileRecordDataRunsAttribute runs(a);
      sink += runs.GetRunList().GetCount() + uint64_t(GetAttributeRunTotal(a));
      CNTFSFileRecordFileNameAttribute name(a);
      if (name.IsUsable()) sink += name.GetFileName().NameUtf8().size();
      NTFSStandardInformation info;
      sink += ParseStandardInformationValue(a.GetValue(), info).IsValid();
      sink += uint64_t(GetIndexRootParentReference(a));
      ForEachIndexRootEntry(a, [&](const NTFSIndexEntry& e) {
        NTFSFileName key;
        sink += e.GetFileName(key).IsValid() + IsIndexEntrySizeSane(e);
        return true;
      });
    }
  }
  sink += uint64_t(GetMetadataFileNumber(view)) + IsMetadataFileRecord(view) + IsMFTFileRecord(view);
  sink += HasNonResidentIndexAllocation(b, n);
  char label[kNTFSVolumeNameBytes];
  size_t written = 0;
  sink += GetNTFSVolumeName(record.data(), record.size(), label, &written) + written;
  CNTFSRunList runs;
  int64_t size = 0;
  sink += GetDataRunListOfRecord(b, n, runs, true, &size) + GetDataRunListOfRecord(b, n, runs, false, &size);
  uint32_t spc = 0;
  sink += InferSectorsPerCluster(b, n, 512, spc) + spc;
  CNTFSFileRecordHeader header;
  sink += header.CopyFileRecordHeader(record.data(), record.size());
  auto list = BuildAttributeListEntries(b, n, 100, -1, device, placement);
  CNTFSFileRecord file(record.data(), record.size(), 100, device, list.get(), placement.recordSize);
  for (uint32_t type : kTypes) sink += bool(file.FindAttribute(type, 1));
  if (cut > 0 && cut <= n) RunLookups(b, cut);
  g_sink = sink;
}

void RunIndexParsers(const std::vector<uint8_t>& input) {
  uint64_t sink = 0;
  std::vector<uint8_t> buffer = input;
  sink += uint64_t(CheckIndexBuffer(buffer.data(), buffer.size()).outcome);
  sink += IsValidIndexBuffer(buffer.data(), buffer.size()) +
          IsIndexBufferHeaderValid(buffer.data(), buffer.size());
  if (buffer != input) ADD_FAILURE() << "an index test changed its buffer";
  sink += ApplyIndexBufferFixup(buffer.data(), buffer.size());
  sink += AreIndexEntriesConsistent(buffer.data(), buffer.size());
  sink += uint64_t(GetIndexBufferParent(buffer.data(), buffer.size()));
  ForEachIndexBufferEntry(buffer.data(), buffer.size(), [&](const NTFSIndexEntry& e) {
    NTFSFileName key;
    if (e.GetFileName(key).IsValid()) sink += key.NameUtf8().size();
    sink += IsIndexEntrySizeSane(e) + GetIndexEntryFileReference(e);
    return true;
  });
  sink += RestoreIndexBufferFixup(buffer.data(), buffer.size());
  sink += DescribeIndexBuffer(buffer.data(), buffer.size()).size();
  sink +=
      IsValidLogRecordPage(buffer.data(), buffer.size()) + IsValidRestartPage(buffer.data(), buffer.size());
  g_sink = sink;
}

void RunBootParsers(const std::vector<uint8_t>& sector, IStorageDevice* device) {
  uint64_t sink = uint64_t(CheckNTFSDBR(sector.data(), sector.size()).outcome);
  CNTFSDBR dbr;
  if (dbr.SetDBR(sector.data(), sector.size())) {
    NTFSVolumeGeometry geometry;
    sink += dbr.GetGeometry(geometry).IsValid() + dbr.GetFileRecordSize() + dbr.describe().size();
    char label[kNTFSVolumeNameBytes];
    size_t written = 0;
    CNTFSVolumeLabelReader reader(device);
    sink += reader.ReadVolumeLabel(0, dbr, label, &written) + written;
  }
  g_sink = sink;
}

void RunRunStringParsers(const std::vector<uint8_t>& s) {
  uint64_t sink = IsValidDataRunString(s.data(), s.size()) + uint64_t(SumDataRunLengths(s.data(), s.size()));
  std::vector<NTFSRun> runs;
  sink += DecodeNTFSDataRuns(s.data(), s.size(), runs);
  CNTFSRunList list;
  sink += list.Decode(s.data(), s.size()) + list.AppendDecoded(s.data(), s.size(), int64_t(s.size()) << 40);
  for (const NTFSRun& run : list.Runs())
    sink += uint64_t(list.VcnToLcn(run.vcn)) + uint64_t(list.LcnToVcn(run.lcn));
  sink += uint64_t(list.GetTotalClusters());
  g_sink = sink;
}

NTFSMftPlacement PlacementOf(const NtfsTestVolume& v) {
  NTFSMftPlacement p;
  p.mftRuns = &v.mftRuns;
  p.sectorSize = v.geometry.bytesPerSector;
  p.bytesPerCluster = v.geometry.bytesPerCluster;
  p.recordSize = v.geometry.fileRecordSize;
  return p;
}

}  // namespace

TEST(NtfsMutationLoop, RealRecordsAndBuffersNeverBreakAParser) {
  for (const char* kind : {"c4096", "s4096"}) {
    CORVALE_NTFS_VOLUME(volume, kind);
    SCOPED_TRACE(kind);
    std::mt19937_64 rng(0xC0FFEE + volume->geometry.fileRecordSize);
    MemoryDevice device(volume->image, volume->geometry.bytesPerSector);
    NTFSMftPlacement placement = PlacementOf(*volume);
    const NtfsManifest& m = volume->manifest;

    // Records of every kind: system files, folders with index buffers, runs, holes, streams, an
    // attribute list, extension records, a deleted file.
    std::vector<int64_t> picks = {
        0, 1, 2, 3, 4, 5, 6, 9, 10, 11, 24, m.bigDirectory, m.hardLinked, m.sparse, m.stream};
    picks.insert(picks.end(), m.fragmented.begin(), m.fragmented.end());
    picks.push_back(m.deleted.begin()->first);
    for (size_t n = 27; n < volume->records.size(); ++n) {
      if (IsExtensionRecord(volume->records[n].data(), volume->records[n].size())) {
        picks.push_back(int64_t(n));
        break;
      }
    }
    for (int i = 0; i < 6000; ++i) {
      std::vector<uint8_t> record = volume->records.at(picks[rng() % picks.size()]);
      // Half the mutants are made on the fixed-up record and protected again, so that they pass the
      // fix-up and reach the attribute walk.
      bool reprotect = rng() % 2 == 0 && ApplyFileRecordFixup(record.data(), record.size());
      Mutate(record, rng);
      if (reprotect) RestoreFileRecordFixup(record.data(), record.size());
      RunRecordParsers(record, &device, placement, 0x30 + rng() % (record.size() - 0x30));
    }

    // Index buffers of the big folder.
    const std::vector<uint8_t>& big = volume->records.at(m.bigDirectory);
    CNTFSFileRecordView folder(big.data(), big.size());
    CNTFSFileRecordDataRunsAttribute allocation(folder.FindAttribute(attr::kIndexAllocation));
    ASSERT_TRUE(allocation.HasRuns());
    uint32_t block = folder.FindAttribute(attr::kIndexRoot).GetValue().u32(8);
    for (int i = 0; i < 3000; ++i) {
      uint64_t at = (rng() % uint64_t(allocation.GetDataSize() / block)) * block;
      std::vector<uint8_t> buffer = volume->ReadRuns(allocation.GetRunList(), at, block);
      bool reprotect = rng() % 2 == 0 && ApplyIndexBufferFixup(buffer.data(), buffer.size());
      Mutate(buffer, rng);
      if (reprotect) RestoreIndexBufferFixup(buffer.data(), buffer.size());
      RunIndexParsers(buffer);
    }

    for (int i = 0; i < 3000; ++i) {
      std::vector<uint8_t> sector(volume->image.begin(), volume->image.begin() + 512);
      Mutate(sector, rng);
      RunBootParsers(sector, &device);
    }

    // Run strings: real ones mutated, and random bytes.
    for (int i = 0; i < 6000; ++i) {
      std::vector<uint8_t> s;
      if (i % 2 == 0) {
        const std::vector<uint8_t>& r = volume->records.at(m.fragmented[rng() % m.fragmented.size()]);
        CNTFSFileRecordView view(r.data(), r.size());
        corvale::ByteReader runs = view.FindAttribute(attr::kData).GetRunString();
        s.assign(runs.data(), runs.data() + runs.size());
        Mutate(s, rng);
      } else {
        s.resize(rng() % 48);
        for (uint8_t& c : s) c = uint8_t(rng());
      }
      RunRunStringParsers(s);
    }
  }
}

TEST(NtfsMutationLoop, KeptInputsReplay) {
  namespace fs = std::filesystem;
  fs::path folder = fs::path(CORVALE_FIXTURE_SCRIPTS) / "regress" / "ntfs";
  std::error_code ec;
  size_t replayed = 0;
  NTFSMftPlacement placement;
  CNTFSRunList runs;
  runs.Append({0, 0, 64});
  placement.mftRuns = &runs;
  placement.bytesPerCluster = 4096;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().filename().string());
    MemoryDevice device(std::vector<uint8_t>(256 * 1024, 0));
    RunRecordParsers(bytes, &device, placement, bytes.size());
    RunIndexParsers(bytes);
    RunBootParsers(bytes, &device);
    RunRunStringParsers(bytes);
    ++replayed;
  }
  if (replayed == 0) GTEST_SKIP() << "no kept inputs in " << folder;
}

// ---------------------------------------------------------------------------------------------
// Whole images: the directory build, the scan and the recovery over images cut short or made of
// one header sector repeated.

namespace {

using Tree = std::unique_ptr<CFileSystemNode, void (*)(CFileNode*)>;

class QuietCallback : public IDIRBuildCallback {
 public:
  int32_t BeginStage(const char*, int32_t) override { return 0; }
  int32_t AddProgress(int32_t) override { return 0; }
  int32_t StepTo(int32_t) override { return 0; }
  int32_t EndStage() override { return 0; }
  int32_t Poll() override { return 0; }
};

Tree BuildTree(IStorageDevice& device) {
  CNTFSDirectoryBuilder builder;
  QuietCallback quiet;
  return Tree(builder.Build(0, &device, &quiet), FreeFileTree);
}

size_t CountFiles(CFileNode* root) {
  size_t files = 0;
  WalkSubtree(root, [&](CFileNode* n) {
    const IFileProperties* p = n->GetFileProperties();
    files += p != nullptr && !p->IsFolder();
  });
  return files;
}

// The byte just past the last byte of the file's data on the volume (0 for data held in its record),
// or UINT64_MAX when its data is not plain clusters (compressed or encrypted files are read by units
// of their own).
uint64_t DataEnd(const IFileProperties& p, uint64_t bytesPerCluster) {
  if (p.GetAttributes() & (kAttributeCompressed | kAttributeEncrypted)) return UINT64_MAX;
  auto runs = p.CreateDataRunList();
  if (!runs || runs->IsResident()) return 0;
  uint64_t covered = 0, end = 0;
  for (const DataRun& run : runs->Runs()) {
    if (covered >= p.GetSize()) break;
    const uint64_t need = (p.GetSize() - covered + bytesPerCluster - 1) / bytesPerCluster;
    const uint64_t take = std::min<uint64_t>(run.length, need);
    if (!run.IsSparse()) end = std::max(end, (run.start + take) * bytesPerCluster);
    covered += take * bytesPerCluster;
  }
  return end;
}

// Ticks the files whose data ends inside [from, to] and recovers them from `device`; returns the
// recovered outputs by path, and the recovered and failed counts.
struct Recovery {
  std::map<std::string, std::string> outputs;
  uint32_t recovered = 0, failed = 0;
  size_t ticked = 0;
  size_t whole = 0;  // ticked files whose data ends at or before the device's end
};

Recovery RecoverTail(CFileNode* root, IStorageDevice& device, uint64_t bytesPerCluster, uint64_t from,
                     uint64_t to) {
  Recovery r;
  const uint64_t deviceEnd = uint64_t(device.GetSectorCount()) * uint64_t(device.GetSectorSize());
  WalkSubtree(root, [&](CFileNode* n) {
    IFileProperties* p = n->GetFileProperties();
    if (p == nullptr) return;
    p->SetCheckState(kNotChecked);
    if (p->IsFolder()) return;
    const uint64_t end = DataEnd(*p, bytesPerCluster);
    if (end == UINT64_MAX || end < from || end > to) return;
    p->SetCheckState(kChecked);
    ++r.ticked;
    r.whole += end <= deviceEnd;
  });
  UpdateFolderStates(root);
  const std::string target = corvale::test::ScratchDir();
  CFileRecoverer recoverer;
  std::string top;
  EXPECT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, root, target.c_str(), &top),
            CFileRecoverer::kResultOk);
  r.recovered = recoverer.GetRecoveredFileCount();
  r.failed = recoverer.GetFailedFileCount();
  for (const recovered::Output& o : recovered::ListOutputs(target)) r.outputs.emplace(o.path, o.content);
  std::filesystem::remove_all(target);
  return r;
}

}  // namespace

// The image cut at every KiB of the last 64 KiB of the image and of the last 64 KiB of its file data:
// the MFT is whole, so the build finds every file; of the files whose data ends in the window, those
// whose data the cut image still holds come back with their bytes and the others are counted as
// failures, none written.
TEST(NtfsMutationLoop, ImageCutAtEveryKiBNearItsEnd) {
  // 4096-byte sectors: most cuts leave a part of a sector, which the device does not serve.
  for (const char* kind : {"files-s4096"}) {
    CORVALE_NTFS_VOLUME(volume, kind);
    SCOPED_TRACE(kind);
    const uint32_t sectorSize = volume->geometry.bytesPerSector;
    const uint64_t bytesPerCluster = volume->geometry.bytesPerCluster;
    MemoryDevice whole(volume->image, int32_t(sectorSize));
    Tree full = BuildTree(whole);
    ASSERT_TRUE(full);
    const size_t files = CountFiles(full.get());
    uint64_t dataEnd = 0;
    WalkSubtree(full.get(), [&](CFileNode* n) {
      const IFileProperties* p = n->GetFileProperties();
      if (p != nullptr && !p->IsFolder()) {
        const uint64_t end = DataEnd(*p, bytesPerCluster);
        if (end != UINT64_MAX) dataEnd = std::max(dataEnd, end);
      }
    });
    uint64_t mftEnd = 0;
    for (const NTFSRun& run : volume->mftRuns.Runs())
      if (run.lcn >= 0) mftEnd = std::max<uint64_t>(mftEnd, uint64_t(run.lcn + run.length) * bytesPerCluster);
    size_t failedSomewhere = 0;
    for (uint64_t windowEnd : {uint64_t(volume->image.size()), (dataEnd + 1023) / 1024 * 1024}) {
      const uint64_t windowStart = windowEnd - 64 * 1024;
      ASSERT_GT(windowStart, mftEnd);
      // What the whole image gives for the files of the window.
      const Recovery reference = RecoverTail(full.get(), whole, bytesPerCluster, windowStart, windowEnd);
      ASSERT_EQ(reference.failed, 0u);
      ASSERT_EQ(reference.recovered, reference.ticked);
      for (uint64_t cut = windowStart; cut < windowEnd; cut += 1024) {
        SCOPED_TRACE(cut);
        MemoryDevice device(std::vector<uint8_t>(volume->image.begin(), volume->image.begin() + long(cut)),
                            int32_t(sectorSize));
        Tree tree = BuildTree(device);
        ASSERT_TRUE(tree);
        EXPECT_EQ(CountFiles(tree.get()), files);
        const Recovery got = RecoverTail(tree.get(), device, bytesPerCluster, windowStart, windowEnd);
        EXPECT_EQ(got.ticked, reference.ticked);
        EXPECT_EQ(got.recovered, got.whole);
        EXPECT_EQ(got.failed, got.ticked - got.whole);
        EXPECT_EQ(got.outputs.size(), got.recovered);
        for (const auto& [path, content] : got.outputs) {
          auto it = reference.outputs.find(path);
          ASSERT_NE(it, reference.outputs.end()) << path;
          EXPECT_TRUE(it->second == content) << path;
        }
        failedSomewhere += got.failed;
      }
    }
    EXPECT_GT(failedSomewhere, 0u);
  }
}

// One header sector in every sector of a small image: the boot sector, the first sector of the
// $MFT record, of a small file's record, of an index buffer and of a log page. The scan, the
// build of every partition it chooses and their recovery end; the counts they give agree.
TEST(NtfsMutationLoop, HeaderSectorRepeatedInEverySector) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  const NtfsManifest& m = volume->manifest;
  std::vector<std::pair<const char*, std::vector<uint8_t>>> sectors;
  sectors.emplace_back("boot sector",
                       std::vector<uint8_t>(volume->image.begin(), volume->image.begin() + 512));
  sectors.emplace_back("$MFT record",
                       std::vector<uint8_t>(volume->records[0].begin(), volume->records[0].begin() + 512));
  // The smallest live file: its whole record (with its data) in the first sector or not, it is one.
  int64_t small = -1;
  for (const NtfsEntry& e : m.entries)
    if (!e.deleted && !e.directory && e.size > 0 && e.size < 64 && e.record > 24) {
      small = e.record;
      break;
    }
  ASSERT_GE(small, 0);
  sectors.emplace_back("file record", std::vector<uint8_t>(volume->records[size_t(small)].begin(),
                                                           volume->records[size_t(small)].begin() + 512));
  for (const std::vector<uint8_t>& record : volume->records) {
    CNTFSFileRecordView folder(record.data(), record.size());
    if (!folder.IsValid() || !HasNonResidentIndexAllocation(folder.GetBuffer(), folder.GetLength())) continue;
    CNTFSFileRecordDataRunsAttribute allocation(folder.FindAttribute(attr::kIndexAllocation));
    if (!allocation.HasRuns()) continue;
    sectors.emplace_back("index buffer", volume->ReadRuns(allocation.GetRunList(), 0, 512));
    break;
  }
  ASSERT_EQ(sectors.size(), 4u);
  {
    std::vector<uint8_t> page(512, 0);
    std::memcpy(page.data(), "RSTR", 4);
    sectors.emplace_back("restart page", page);
  }

  for (const auto& [name, sector] : sectors) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> image(4 << 20);
    for (size_t at = 0; at < image.size(); at += 512) std::memcpy(image.data() + at, sector.data(), 512);
    MemoryDevice device(image, 512);

    // The volume's own build: a sector repeated is no volume whose MFT can be followed, or one
    // whose records all say the same.
    Tree own = BuildTree(device);
    if (own) {
      EXPECT_LE(CountFiles(own.get()), image.size() / 1024);
    }

    CNTFSSearchController controller;
    CIntelligentSearchController driver;
    driver.SetStartSectorSource([] { return uint64_t{0}; });
    driver.SetStorageDevice(&device);
    driver.AddFileSystemSearchController(&controller);
    ASSERT_EQ(driver.Search(nullptr), 1);
    SearchedPartitionInfoList candidates;
    controller.GetResults(&candidates);
    ComputePartitionWeights(candidates);
    SortSearchedPartitions(candidates);
    SelectPartitionLayout(candidates, device.GetSectorCount());
    EXPECT_LE(controller.GetFileRecordSectors().GetRecordCount(), uint64_t(device.GetSectorCount()));
    int32_t index = 0;
    for (const auto& c : candidates) {
      if (c->GetChosenMark() != 1 || index >= 4) continue;
      Tree tree(controller.BuildPartitionDirectory(c.get(), &device, index++, nullptr), FreeFileTree);
      if (!tree) continue;
      // Every file of the tree came from a FILE record the scan saw, one record at most each.
      const size_t files = CountFiles(tree.get());
      EXPECT_LE(files, controller.GetFileRecordSectors().GetRecordCount());
      WalkSubtree(tree.get(), [](CFileNode* n) {
        if (n->GetFileProperties()) n->GetFileProperties()->SetCheckState(kChecked);
      });
      const std::string target = corvale::test::ScratchDir();
      CFileRecoverer recoverer;
      std::string top;
      EXPECT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, tree.get(), target.c_str(), &top),
                CFileRecoverer::kResultOk);
      EXPECT_EQ(size_t(recoverer.GetRecoveredFileCount()) + recoverer.GetFailedFileCount(), files);
      EXPECT_EQ(recovered::ListOutputs(target).size(), recoverer.GetRecoveredFileCount());
      std::filesystem::remove_all(target);
    }
  }
}

// An image missing the second half of its file data: the files are still listed, those whose data
// is there come back byte for byte, and each of the others is counted as a failure, none written.
TEST(NtfsCutImage, RecoversWhatIsThereAndCountsTheRestAsFailures) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  const uint64_t bytesPerCluster = volume->geometry.bytesPerCluster;
  MemoryDevice whole(volume->image, 512);
  Tree full = BuildTree(whole);
  ASSERT_TRUE(full);
  std::vector<uint64_t> ends;
  WalkSubtree(full.get(), [&](CFileNode* n) {
    const IFileProperties* p = n->GetFileProperties();
    if (p == nullptr || p->IsFolder()) return;
    const uint64_t end = DataEnd(*p, bytesPerCluster);
    if (end != UINT64_MAX && end > 0) ends.push_back(end);
  });
  ASSERT_GT(ends.size(), 10u);
  std::sort(ends.begin(), ends.end());
  // Past the MFT's last cluster, so that every record is still there.
  uint64_t mftEnd = 0;
  for (const NTFSRun& run : volume->mftRuns.Runs())
    if (run.lcn >= 0) mftEnd = std::max<uint64_t>(mftEnd, uint64_t(run.lcn + run.length) * bytesPerCluster);
  const uint64_t cut = std::max(mftEnd, ends[ends.size() / 2] / bytesPerCluster * bytesPerCluster);
  const Recovery reference = RecoverTail(full.get(), whole, bytesPerCluster, 0, UINT64_MAX - 1);
  ASSERT_EQ(reference.failed, 0u);

  MemoryDevice device(std::vector<uint8_t>(volume->image.begin(), volume->image.begin() + long(cut)), 512);
  Tree tree = BuildTree(device);
  ASSERT_TRUE(tree);
  // Every file is listed but one whose names are reachable only through an attribute list that lay
  // in the lost part: its base record holds no $FILE_NAME, so nothing names it.
  std::set<std::string> before, after;
  WalkSubtree(full.get(), [&](CFileNode* n) {
    if (n->GetFileProperties() && !n->GetFileProperties()->IsFolder())
      before.insert(n->GetFileProperties()->GetName());
  });
  WalkSubtree(tree.get(), [&](CFileNode* n) {
    if (n->GetFileProperties() && !n->GetFileProperties()->IsFolder())
      after.insert(n->GetFileProperties()->GetName());
  });
  size_t unnamed = 0;
  for (const std::string& name : before) {
    if (after.count(name)) continue;
    ++unnamed;
    for (const NtfsEntry& e : volume->manifest.entries) {
      if (std::filesystem::path(e.path).filename() != name) continue;
      const std::vector<uint8_t>& r = volume->records.at(size_t(e.record));
      EXPECT_EQ(CountAttributes(r.data(), r.size(), attr::kFileName), 0) << name;
      EXPECT_TRUE(FindAttribute(r.data(), r.size(), attr::kAttributeList).IsNonResident()) << name;
    }
  }
  EXPECT_LE(unnamed, 1u);
  EXPECT_EQ(CountFiles(tree.get()) + unnamed, CountFiles(full.get()));
  const Recovery got = RecoverTail(tree.get(), device, bytesPerCluster, 0, UINT64_MAX - 1);
  EXPECT_LE(got.ticked, reference.ticked);
  EXPECT_GE(got.ticked + unnamed, reference.ticked);
  EXPECT_GT(got.whole, 0u);
  EXPECT_LT(got.whole, got.ticked);
  EXPECT_EQ(got.recovered, got.whole);
  EXPECT_EQ(got.failed, got.ticked - got.whole);
  EXPECT_EQ(got.outputs.size(), got.recovered);
  for (const auto& [path, content] : got.outputs) {
    auto it = reference.outputs.find(path);
    ASSERT_NE(it, reference.outputs.end()) << path;
    EXPECT_TRUE(it->second == content) << path;
  }
}

namespace {

// The FILE-record sectors a whole-device scan of `image` keeps, in order.
std::vector<int64_t> ScannedRecordSectors(const std::vector<uint8_t>& image) {
  MemoryDevice device(image, 512);
  CNTFSSearchController controller;
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&controller);
  EXPECT_EQ(driver.Search(nullptr), 1);
  std::vector<int64_t> sectors;
  size_t run = 0;
  int64_t sector = 0;
  for (int64_t at = 0; controller.GetFileRecordSectors().FindFirstRecordAtOrAfter(at, run, sector);
       at = sector + 1)
    sectors.push_back(sector);
  EXPECT_EQ(sectors.size(), controller.GetFileRecordSectors().GetRecordCount());
  return sectors;
}

}  // namespace

// A device that ends inside the MFT, cut at every sector of the MFT's last 64 KiB (every other cut
// falls in the middle of a record): the scan keeps the records that lie whole on the device, the same
// ones a longer device shows, and not the record the end cuts in two.
TEST(NtfsMutationLoop, ScanOfADeviceEndingInsideTheMft) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  uint64_t mftEnd = 0;
  for (const NTFSRun& run : volume->mftRuns.Runs())
    if (run.lcn >= 0)
      mftEnd = std::max<uint64_t>(mftEnd, uint64_t(run.lcn + run.length) * volume->geometry.bytesPerCluster);
  ASSERT_GT(mftEnd, 128u * 1024);
  const std::vector<uint8_t> longer(volume->image.begin(), volume->image.begin() + long(mftEnd + 64 * 1024));
  const std::vector<int64_t> all = ScannedRecordSectors(longer);
  ASSERT_GT(all.size(), 64u);
  for (uint64_t cut = mftEnd - 64 * 1024; cut <= mftEnd; cut += 512) {
    SCOPED_TRACE(cut);
    std::vector<int64_t> expected;
    for (int64_t s : all)
      if (uint64_t(s) * 512 + 1024 <= cut) expected.push_back(s);
    EXPECT_EQ(ScannedRecordSectors(std::vector<uint8_t>(longer.begin(), longer.begin() + long(cut))),
              expected);
  }
}
