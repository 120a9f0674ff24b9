#include "ntfs/NTFSDirectoryBuilder.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdint>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <string>

#include "core/ClusterUseBitMap.h"
#include "core/FileDataReader.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/IDIRBuildCallback.h"
#include "core/RawFilesFolder.h"
#include "core/RecycleBin.h"
#include "ntfs/FileRecord.h"
#include "ntfs/FileRecordAttribute.h"
#include "ntfs/FileRecordHeader.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/IndexBuffer.h"
#include "ntfs/NTFSDBR.h"
#include "ntfs/NTFSRecordSectorRuns.h"
#include "ntfs/NTFSRootEntries.h"
#include "ntfs/VolumeLabelReader.h"
#include "platform/Log.h"
#include "platform/StringTable.h"
#include "storage/IStorageDevice.h"

namespace attr = corvale::ntfs::attr;
namespace rec = corvale::ntfs::rec;

namespace {

constexpr uint32_t kBatchSectors = 128;
// Sectors tested from one record start on the search's path: the largest record in 512-byte sectors.
constexpr uint32_t kRecordTestSectors = 16;
constexpr int64_t kRootRecordNumber = 5;
// Orphan folders below this number are system folders and adopt nothing.
constexpr int64_t kLowestAdoptingRecord = 24;
constexpr uint32_t kStringBuildingDirectories = 479;
constexpr uint32_t kStringReadingFiles = 481;
constexpr size_t kMaxStepText = 259;

// Numbers the LostFiles folders of one build 1, 2, ...; reset when a build starts. Builds do not run
// in parallel.
std::atomic<int32_t> g_lostFilesCounter{0};

std::string StepText(uint32_t id) {
  std::string text = "NTFS:" + corvale::LoadText(id);
  if (text.size() > kMaxStepText) text.resize(kMaxStepText);
  return text;
}

// Progress and cancel of one build. A callback answer of -1 cancels; once cancelled every later
// question answers "stop" without asking again.
class Progress {
 public:
  explicit Progress(IDIRBuildCallback* callback) : m_callback(callback) {}
  bool Begin(uint32_t textId, int64_t total) {
    if (!m_callback) return !m_cancelled;
    const int32_t range = static_cast<int32_t>(std::clamp<int64_t>(total, 0, INT32_MAX));
    return Take(m_callback->BeginStage(StepText(textId).c_str(), range));
  }
  bool Add(int32_t n) { return m_callback ? Take(m_callback->AddProgress(n)) : !m_cancelled; }
  bool StepTo(int64_t position) {
    if (!m_callback) return !m_cancelled;
    return Take(m_callback->StepTo(static_cast<int32_t>(std::clamp<int64_t>(position, 0, INT32_MAX))));
  }
  bool Poll() { return m_callback ? Take(m_callback->Poll()) : !m_cancelled; }
  bool Cancelled() const { return m_cancelled; }

 private:
  bool Take(int32_t answer) {
    if (answer == -1) m_cancelled = true;
    return !m_cancelled;
  }
  IDIRBuildCallback* m_callback;
  bool m_cancelled = false;
};

// The parent a record names: the second $FILE_NAME's parent when it is 5 or more, else the first's
// when it is 5 or more, else -1 (record numbers below 5 are system files).
int64_t ParentFromFileNames(const CNTFSFileRecordView& view) {
  for (int n : {1, 0}) {
    const CNTFSFileRecordFileNameAttribute name(view.FindAttribute(attr::kFileName, n));
    if (!name.IsUsable()) continue;
    const uint64_t parent = name.GetFileName().ParentRecordNumber();
    if (parent >= static_cast<uint64_t>(kRootRecordNumber)) return static_cast<int64_t>(parent);
  }
  return -1;
}

// What the record-to-entry step needs to know of where the record came from.
struct EntrySource {
  IStorageDevice* device = nullptr;
  const NTFSMftPlacement* placement = nullptr;  // null: extension records are not looked up
  uint32_t recordSize = 1024;
  uint32_t bytesPerCluster = 0;
};

// Makes the entry of one record (fix-up not applied) that lies at `recordSector`. False when the
// record is no FILE record, an extension record or a metadata file. A record that carries the FILE
// signature but fails the checks is damaged: it is logged and skipped. The record is looked at in
// the caller's buffer, its fix-up applied there and undone before the record is copied, so the
// batch loop allocates no second copy per record.
bool CreateNTFSEntryFromRecord(uint8_t* raw, size_t length, int64_t recordSector, int64_t recordNumber,
                               const EntrySource& source, CNTFSFileEntry& entry) {
  if (length < rec::kMinRecordSize || std::memcmp(raw, "FILE", 4) != 0) return false;
  std::unique_ptr<std::vector<NTFSExtensionRecordRef>> extensions;
  {
    CNTFSFileRecordView view(raw, length, false);
    if (!view.IsValid()) {
      LogInfo("NTFS: damaged FILE record %" PRId64 " at sector %" PRId64 " skipped (%s)", recordNumber,
              recordSector, CheckFileRecord(raw, length).describe().c_str());
      return false;
    }
    if (view.IsExtensionRecord() || IsMetadataFileRecord(view)) return false;

    entry.isDirectory = view.IsDirectoryRecord() ? 1 : 0;
    entry.recordNumber = recordNumber >= 0 ? recordNumber : view.GetOwnRecordNumber();
    entry.parent = ParentFromFileNames(view);
    entry.recordSector = recordSector;

    if (source.placement != nullptr)
      extensions = BuildAttributeListEntries(view.GetBuffer(), view.GetLength(), recordSector,
                                             entry.recordNumber, source.device, *source.placement);
  }  // the view undoes its fix-up here: the record below makes its own fixed-up copy
  CNTFSFileRecord record(raw, length, recordSector, source.device, extensions.get(), source.recordSize,
                         entry.recordNumber);
  int64_t parent = -1;
  entry.properties =
      CreateNTFSFilePropertiesFromRecord(recordSector, record, source.bytesPerCluster, &parent);
  if (entry.properties) {
    if (entry.properties->GetSignedSize() < 0) {
      // No size recorded: the clusters the runs hold (saturating: the lengths come from the disk).
      uint64_t bytes = 0;
      if (auto runs = entry.properties->CreateDataRunList(); runs && !runs->IsResident())
        for (const DataRun& run : runs->Runs()) {
          const uint64_t add =
              run.length > uint64_t(INT64_MAX) / std::max<uint32_t>(source.bytesPerCluster, 1)
                  ? uint64_t(INT64_MAX)
                  : run.length * source.bytesPerCluster;
          bytes = std::min<uint64_t>(uint64_t(INT64_MAX), bytes + std::min(add, uint64_t(INT64_MAX) - bytes));
        }
      entry.properties->SetSize(static_cast<int64_t>(bytes));
    }
    entry.properties->SetExtensionRecords(std::move(extensions));
    // A file with many names keeps them in extension records, where only the properties step sees
    // them.
    if (entry.parent == -1) entry.parent = parent;
  }
  return true;
}

CFileNode* CreateLostFilesFolder() {
  auto* properties = CreateNTFSFileProperties();
  const std::string name = "LostFiles" + std::to_string(++g_lostFilesCounter);
  properties->SetName(name.c_str());
  properties->SetAttributes(kAttributeFolder);
  properties->SetStatus(CNTFSFileProperties::kStatusLostFiles);
  CFileNode* folder = CreateFileNode();
  folder->SetFileProperties(properties);
  return folder;
}

// Links a list of entries into the tree below `root`. The entries are keyed by their parent record
// (stable order: equal keys keep the order the records were read in); linking walks the folders
// breadth-first from (root, 5) with a work list; what is left goes through the orphan pass.
class Linker {
 public:
  // `keyOf` gives the record number a folder's children name, or -1 when it is not known.
  Linker(std::vector<CNTFSFileEntry>& entries, IStorageDevice* device, Progress& progress,
         std::function<int64_t(const CNTFSFileEntry&)> keyOf)
      : m_entries(entries), m_device(device), m_progress(progress), m_keyOf(std::move(keyOf)) {
    m_order.reserve(entries.size());
    // An entry without properties names no file and is never shown.
    for (uint32_t i = 0; i < entries.size(); ++i)
      if (entries[i].properties) m_order.push_back(i);
    std::stable_sort(m_order.begin(), m_order.end(),
                     [&](uint32_t a, uint32_t b) { return entries[a].parent < entries[b].parent; });
    m_linked.assign(entries.size(), false);
  }

  // False when cancelled.
  bool LinkChildrenFromRoot(CFileNode* root) {
    std::deque<std::pair<CFileNode*, int64_t>> work{{root, kRootRecordNumber}};
    while (!work.empty()) {
      auto [folder, key] = work.front();
      work.pop_front();
      if (!LinkChildrenOfDirectory(folder, key, work)) return false;
      if (!m_progress.Poll()) return false;
    }
    return true;
  }

  // The entries no folder took: folders above 24 adopt the ones naming them, unless that would make
  // a folder its own ancestor; the rest go into a new LostFiles folder under `root`. False when
  // cancelled.
  bool LinkOrphans(CFileNode* root) {
    struct Orphan {
      CFileNode* node;
      int64_t number;
      bool folder;
    };
    std::vector<Orphan> orphans;
    std::multimap<int64_t, size_t> byParent;
    for (uint32_t i : m_order) {
      if (m_linked[i]) continue;
      CNTFSFileEntry& e = m_entries[i];
      const bool folder = e.properties->IsFolder();
      CFileNode* node = MakeNode(e);
      byParent.emplace(e.parent, orphans.size());
      orphans.push_back({node, m_keyOf(e), folder});
    }
    for (const Orphan& d : orphans) {
      if (!d.folder || d.number <= kLowestAdoptingRecord) continue;
      auto range = byParent.equal_range(d.number);
      for (auto it = range.first; it != range.second;) {
        CFileNode* child = orphans[it->second].node;
        if (child->GetParent() != nullptr || child == d.node || IsAncestor(child, d.node)) {
          ++it;
          continue;
        }
        d.node->AddChild(child);
        it = byParent.erase(it);
      }
      if (!m_progress.Poll()) break;
    }
    CFileNode* lost = nullptr;
    for (const Orphan& o : orphans) {
      if (o.node->GetParent() != nullptr) continue;
      if (lost == nullptr) lost = CreateLostFilesFolder();
      lost->AddChild(o.node);
    }
    if (lost != nullptr) root->AddChild(lost);
    return !m_progress.Cancelled();
  }

 private:
  CFileNode* MakeNode(CNTFSFileEntry& e) {
    CFileNode* node = CreateFileNode();
    node->SetFileProperties(e.properties.release());
    return node;
  }

  static bool IsAncestor(const CFileNode* candidate, const CFileNode* node) {
    for (const CFileNode* n = node->GetParent(); n != nullptr; n = n->GetParent())
      if (n == candidate) return true;
    return false;
  }

  bool LinkChildrenOfDirectory(CFileNode* folder, int64_t key,
                               std::deque<std::pair<CFileNode*, int64_t>>& work) {
    // Entries whose parent is not known all share key -1: they belong to no folder in particular.
    if (key < 0) return true;
    auto first = std::lower_bound(m_order.begin(), m_order.end(), key,
                                  [&](uint32_t i, int64_t k) { return m_entries[i].parent < k; });
    const bool inBin = IsInRecycleBin(folder);
    std::list<CFileNode*> waiting;
    for (auto it = first; it != m_order.end() && m_entries[*it].parent == key; ++it) {
      const uint32_t i = *it;
      if (m_linked[i]) continue;
      CNTFSFileEntry& e = m_entries[i];
      // Its parent number is that of an older volume's folder: the folder of this volume that has
      // the number now is not its own.
      if (e.pastInitializedSize) continue;
      m_linked[i] = true;
      CFileNode* node = MakeNode(e);
      folder->AddChild(node);
      if (e.isDirectory) work.emplace_back(node, m_keyOf(e));
      if (!m_progress.Add(1)) return false;
      if (inBin) {
        if (CFileNode* partner = FindRecycleBinPartner(waiting, node)) {
          const bool nodeIsIndex = IsRecycleBinIndexFile(node);
          RestoreRecycledFileName(m_device, nodeIsIndex ? node : partner, nodeIsIndex ? partner : node);
        }
      }
      if (!m_progress.Poll()) return false;
    }
    return true;
  }

  std::vector<CNTFSFileEntry>& m_entries;
  IStorageDevice* m_device;
  Progress& m_progress;
  std::function<int64_t(const CNTFSFileEntry&)> m_keyOf;
  std::vector<uint32_t> m_order;
  std::vector<bool> m_linked;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Volume path

namespace {

struct VolumeMft {
  CNTFSRunList runs;  // in ascending VCN order
  int64_t recordSector = -1;
  CNTFSMFTLocation location;  // carries the initialized size only
};

// The $MFT's runs from its record at `sector`, extension records included. False when the record
// cannot be read or is not the $MFT record.
bool ReadMFTLocationAt(IStorageDevice* device, int64_t sector, const NTFSVolumeGeometry& g,
                       int64_t partitionStart, uint32_t sectorSize, VolumeMft& out) {
  const uint32_t sectors = g.fileRecordSize / sectorSize;
  std::vector<uint8_t> buffer(static_cast<size_t>(sectors) * sectorSize);
  if (sector < 0 || !device->ReadSectors(buffer.data(), static_cast<uint64_t>(sector), sectors)) return false;
  CNTFSFileRecordView view(buffer.data(), buffer.size());
  if (!view.IsValid() || !IsMFTFileRecord(view)) return false;
  out.location.SetInitializedSize(GetMftInitializedSize(view));

  if (!view.FindAttribute(attr::kAttributeList)) {
    CNTFSMFTLocation location;
    if (!location.ReadFromRecord(view, sector, sectorSize)) return false;
    out.runs = location.GetRunList();
    out.recordSector = sector;
  } else {
    LogInfo("MFT file record has 0x20 attribute, MFT start sector is %" PRId64 "\n", sector);
    CNTFSRunList runs;
    if (!view.IsFixupApplied() ||
        !GetDataRunListOfRecord(view.GetBuffer(), view.GetLength(), runs, false, nullptr))
      return false;
    NTFSMftPlacement placement{&runs, partitionStart, sectorSize, g.bytesPerCluster, g.fileRecordSize};
    std::vector<uint64_t> references;
    GetAttributeListReferences(view.GetBuffer(), view.GetLength(), device, placement, references);
    std::erase(references, 0);
    // Extension records that lie in parts of the MFT known only from other extension records are
    // reached in later rounds; a round that reaches nothing new ends the search.
    std::vector<uint8_t> record(g.fileRecordSize);
    for (bool progress = true; progress && !references.empty();) {
      progress = false;
      for (auto it = references.begin(); it != references.end();) {
        const int64_t at = MftRecordToSector(*it, placement);
        if (at < 0) {
          ++it;
          continue;
        }
        if (device->ReadSectors(record.data(), static_cast<uint64_t>(at), sectors)) {
          CNTFSFileRecordView extension(record.data(), record.size());
          if (extension.IsValid() && extension.IsFixupApplied())
            GetDataRunListOfRecord(extension.GetBuffer(), extension.GetLength(), runs, false, nullptr);
        }
        it = references.erase(it);
        progress = true;
      }
    }
    std::vector<NTFSRun> sorted = runs.Runs();
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const NTFSRun& a, const NTFSRun& b) { return a.vcn < b.vcn; });
    for (const NTFSRun& run : sorted) out.runs.Append(run);
  }
  return !out.runs.IsEmpty();
}

}  // namespace

CFileSystemNode* CNTFSDirectoryBuilder::Build(uint64_t partitionStart, IStorageDevice* device,
                                              IDIRBuildCallback* callback) {
  m_records = 0;
  if (device == nullptr) return nullptr;
  const int32_t sectorSize = device->GetSectorSize();
  const int64_t sectorCount = device->GetSectorCount();
  if (sectorSize < 512 || sectorSize > 4096 ||
      partitionStart >= static_cast<uint64_t>(std::max<int64_t>(sectorCount, 0)))
    return nullptr;
  m_device = device;
  m_callback = callback;
  m_sectorSize = static_cast<uint32_t>(sectorSize);
  m_lastSector = sectorCount - 1;
  m_partition.SetPartitionStart(static_cast<int64_t>(partitionStart));

  std::vector<uint8_t> sector(m_sectorSize);
  CNTFSDBR boot;
  if (!device->ReadSectors(sector.data(), partitionStart, 1) || !boot.SetDBR(sector.data(), sector.size()))
    return nullptr;
  m_sectorsPerCluster = boot.GetSectorsPerCluster();
  return Run();
}

CFileSystemNode* CNTFSDirectoryBuilder::Run() {
  CFileSystemNode* result = BuildNTFSTreeOfVolume();
  if (result != nullptr && m_callback != nullptr && m_callback->Poll() == -1) {
    FreeFileTree(result);
    result = nullptr;
  }
  return result;
}

CFileSystemNode* CNTFSDirectoryBuilder::BuildNTFSTreeOfVolume() {
  g_lostFilesCounter = 0;
  const int64_t start = m_partition.GetPartitionStart();
  std::vector<uint8_t> sector(m_sectorSize);
  CNTFSDBR boot;
  NTFSVolumeGeometry g;
  if (!m_device->ReadSectors(sector.data(), static_cast<uint64_t>(start), 1) ||
      !boot.SetDBR(sector.data(), sector.size()) || !boot.GetGeometry(g).IsValid())
    return nullptr;
  // Records or clusters smaller than a device sector cannot be told apart by their sector.
  if (g.fileRecordSize < m_sectorSize || g.bytesPerCluster < m_sectorSize) return nullptr;
  const uint32_t sectorsPerCluster = g.bytesPerCluster / m_sectorSize;
  const uint32_t sectorsPerRecord = g.fileRecordSize / m_sectorSize;
  m_sectorsPerCluster = sectorsPerCluster;

  VolumeMft mft;
  const int64_t mftSector = start + static_cast<int64_t>(g.mftByteOffset / m_sectorSize);
  const int64_t mirrSector = start + static_cast<int64_t>(g.mftMirrByteOffset / m_sectorSize);
  if (!ReadMFTLocationAt(m_device, mftSector, g, start, m_sectorSize, mft) &&
      !ReadMFTLocationAt(m_device, mirrSector, g, start, m_sectorSize, mft))
    return nullptr;

  char label[kNTFSVolumeNameBytes + 1] = {};
  if (mft.recordSector >= 0) CNTFSVolumeLabelReader(m_device).ReadVolumeLabel(start, boot, label);

  Progress progress(m_callback);
  NTFSMftPlacement placement{&mft.runs, start, m_sectorSize, g.bytesPerCluster, g.fileRecordSize};
  EntrySource source{m_device, &placement, g.fileRecordSize, g.bytesPerCluster};
  std::vector<CNTFSFileEntry> entries;

  // The MFT is read only as far as it lies inside the volume and on the device: a run of a damaged
  // $MFT record may name any cluster and any length, and reading on past the device would only
  // produce batches of zeros.
  const int64_t volumeClusters = static_cast<int64_t>(std::min<uint64_t>(
      g.totalClusters, static_cast<uint64_t>(m_lastSector - start + 1) / sectorsPerCluster));
  std::vector<NTFSRun> mftRuns;
  int64_t totalClusters = 0;
  for (NTFSRun run : mft.runs.Runs()) {
    if (run.length <= 0 || totalClusters >= volumeClusters || run.lcn >= volumeClusters) break;
    run.length = std::min(run.length, volumeClusters - totalClusters);
    if (run.lcn >= 0) run.length = std::min(run.length, volumeClusters - run.lcn);
    mftRuns.push_back(run);
    totalClusters += run.length;
  }

  // One entry per record at most; the estimate is capped so a damaged run list cannot ask for much.
  entries.reserve(
      static_cast<size_t>(std::min<int64_t>(totalClusters * sectorsPerCluster / sectorsPerRecord, 1 << 22)));

  // ReadAllMFTRecords: the runs in order, 128 sectors a batch; each sector's absolute number kept.
  progress.Begin(kStringReadingFiles, totalClusters * sectorsPerCluster / kBatchSectors);
  std::vector<uint8_t> batch(static_cast<size_t>(kBatchSectors) * m_sectorSize);
  std::vector<int64_t> sectors(kBatchSectors);
  uint32_t filled = 0;
  int64_t counter = 0;  // MFT sectors before the batch
  auto processBatch = [&](uint32_t n) {
    for (uint32_t gi = 0; gi < n; gi += sectorsPerRecord) {
      const uint32_t k = std::min(sectorsPerRecord, n - gi);
      const int64_t number = (counter + gi) / sectorsPerRecord;
      ++m_records;
      CNTFSFileEntry entry;
      if (CreateNTFSEntryFromRecord(batch.data() + static_cast<size_t>(gi) * m_sectorSize,
                                    static_cast<size_t>(k) * m_sectorSize, sectors[gi], number, source,
                                    entry)) {
        entry.recordNumber = number;
        entry.pastInitializedSize = mft.location.IsPastInitializedSize(number, g.fileRecordSize);
        entries.push_back(std::move(entry));
      }
    }
  };
  bool cancelled = false;
  for (const NTFSRun& run : mftRuns) {
    if (cancelled) break;
    const int64_t runSectors = run.length * sectorsPerCluster;
    if (run.lcn < 0) {
      // A hole in the MFT holds no records: nothing is read, but the records after it keep their
      // numbers.
      processBatch(filled);
      counter += filled + runSectors;
      filled = 0;
      continue;
    }
    int64_t first = start + run.lcn * sectorsPerCluster;
    for (int64_t left = runSectors; left > 0 && !cancelled;) {
      const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(left, kBatchSectors - filled));
      uint8_t* to = batch.data() + static_cast<size_t>(filled) * m_sectorSize;
      const bool inside = first >= 0 && first + n - 1 <= m_lastSector;
      // A failed read leaves zeros, not the records of the batch before.
      if (!inside || !m_device->ReadSectors(to, static_cast<uint64_t>(first), n))
        std::memset(to, 0, static_cast<size_t>(n) * m_sectorSize);
      for (uint32_t i = 0; i < n; ++i) sectors[filled + i] = first + i;
      filled += n;
      first += n;
      left -= n;
      if (filled == kBatchSectors) {
        processBatch(filled);
        counter += kBatchSectors;
        filled = 0;
        if (!progress.StepTo(counter / kBatchSectors) || !progress.Poll()) cancelled = true;
      }
    }
  }
  if (cancelled) return nullptr;
  processBatch(filled);

  progress.Begin(kStringBuildingDirectories, static_cast<int64_t>(entries.size()));
  CFileSystemNode* root = CreateNTFSRootNode(static_cast<uint64_t>(start), sectorsPerCluster, 0, label);
  Linker linker(entries, m_device, progress, [](const CNTFSFileEntry& e) { return e.recordNumber; });
  if (linker.LinkChildrenFromRoot(root)) linker.LinkOrphans(root);
  // Entries that were never linked still own their properties; the vector frees them. A root without
  // children is a volume that holds no user files, such as a freshly formatted one: its MFT was
  // read, so it is an empty tree, not a failed build.
  return root;
}

// ---------------------------------------------------------------------------------------------
// Searched-partition path

namespace {

class SearchedPartitionBuild {
 public:
  SearchedPartitionBuild(const NTFSFoundRecordLists& found, CSearchedNTFSPartitionInfo& partition,
                         IStorageDevice* device, uint32_t sectorSize, int32_t index,
                         IDIRBuildCallback* callback)
      : m_found(found),
        m_partition(partition),
        m_device(device),
        m_sectorSize(sectorSize),
        m_index(index),
        m_progress(callback),
        m_callback(callback) {}

  CFileSystemNode* Run();

 private:
  struct Window {
    int64_t start;
    uint32_t length;
  };
  template <typename Visit>
  void ForEachWindow(Visit visit);
  void SelectMFTGroups();
  void ProcessRecordWindow(const Window& w);
  CNTFSMFTGroup* GroupOf(int64_t sector);
  int64_t RecordSectorToRecordNumber(const CNTFSMFTGroup& group, int64_t sector) const;
  void MarkUsedClustersAndAddSignatureFiles(CFileSystemNode* root);

  const NTFSFoundRecordLists& m_found;
  CSearchedNTFSPartitionInfo& m_partition;
  IStorageDevice* m_device;
  uint32_t m_sectorSize;
  int32_t m_index;
  Progress m_progress;
  IDIRBuildCallback* m_callback;

  int64_t m_start = 0;
  int64_t m_end = 0;  // first sector past the partition
  int64_t m_lastSector = -1;
  uint32_t m_sectorsPerCluster = 0;
  uint32_t m_sectorsPerRecord = 2;
  std::vector<std::unique_ptr<CNTFSMFTGroup>> m_groups;
  std::vector<NTFSMftPlacement> m_placements;
  std::vector<CNTFSFileEntry> m_ungrouped;
  std::vector<uint8_t> m_buffer;
};

template <typename Visit>
void SearchedPartitionBuild::ForEachWindow(Visit visit) {
  const CNTFSRecordSectorRunList* runs = m_found.recordSectors;
  if (runs == nullptr) return;
  size_t runIndex = 0;
  int64_t recordSector = -1;
  if (!runs->FindFirstRecordAtOrAfter(m_start, runIndex, recordSector)) return;
  while (recordSector < m_end) {
    const int64_t windowStart = recordSector;
    const int64_t windowEnd = std::min(m_end, windowStart + static_cast<int64_t>(kBatchSectors));
    const int64_t length = windowEnd - windowStart;
    if (length >= 1 && length <= kBatchSectors && windowStart <= m_lastSector) {
      if (!visit(Window{windowStart, static_cast<uint32_t>(length)})) return;
    }
    if (!runs->FindFirstRecordAtOrAfter(windowStart + kBatchSectors, runIndex, recordSector)) return;
  }
}

void SearchedPartitionBuild::SelectMFTGroups() {
  if (m_found.mftLocations == nullptr) return;
  for (const auto& location : *m_found.mftLocations) {
    if (!location || location->GetRunList().IsEmpty()) continue;
    if (!IsMFTAtPartitionStart(location->GetSector(), location->GetFirstLcn(), m_start, m_sectorsPerCluster))
      continue;
    int64_t lastCluster = -1;
    for (const NTFSRun& run : location->GetRunList().Runs())
      if (run.lcn >= 0 && run.length > 0) lastCluster = std::max(lastCluster, run.lcn + (run.length - 1));
    if (lastCluster < 0 || lastCluster >= (m_end - m_start) / m_sectorsPerCluster) continue;
    auto group = std::make_unique<CNTFSMFTGroup>();
    group->location.GetRunList() = location->GetRunList();
    group->location.SetSector(location->GetSector());
    group->location.SetSectorsPerCluster(static_cast<uint8_t>(m_sectorsPerCluster));
    group->location.SetInitializedSize(location->GetInitializedSize());
    m_groups.push_back(std::move(group));
  }
  for (const auto& group : m_groups)
    m_placements.push_back(NTFSMftPlacement{&group->location.GetRunList(), m_start, m_sectorSize,
                                            m_sectorsPerCluster * m_sectorSize,
                                            m_sectorsPerRecord * m_sectorSize});
}

CNTFSMFTGroup* SearchedPartitionBuild::GroupOf(int64_t sector) {
  const int64_t cluster = (sector - m_start) / m_sectorsPerCluster;
  for (const auto& group : m_groups)
    if (group->location.GetRunList().ContainsLcn(cluster)) return group.get();
  return nullptr;
}

int64_t SearchedPartitionBuild::RecordSectorToRecordNumber(const CNTFSMFTGroup& group, int64_t sector) const {
  const int64_t offset = sector - m_start;
  if (offset < 0) return -1;
  const int64_t vcn = group.location.GetRunList().LcnToVcn(offset / m_sectorsPerCluster);
  if (vcn < 0 || vcn > INT64_MAX / m_sectorsPerCluster - 1) return -1;
  const int64_t mftSector = vcn * m_sectorsPerCluster + offset % m_sectorsPerCluster;
  if (mftSector % m_sectorsPerRecord != 0) return -1;
  return mftSector / m_sectorsPerRecord;
}

void SearchedPartitionBuild::ProcessRecordWindow(const Window& w) {
  // Read a little past the window, so that a record starting in its last sectors is whole.
  int64_t readEnd =
      std::min<int64_t>(w.start + w.length + kRecordTestSectors - 1, std::min(m_end, m_lastSector + 1));
  readEnd = std::max<int64_t>(readEnd, w.start + w.length);
  const uint32_t readLength = static_cast<uint32_t>(readEnd - w.start);
  if (!m_device->ReadSectors(m_buffer.data(), static_cast<uint64_t>(w.start), readLength)) {
    if (!m_device->ReadSectors(m_buffer.data(), static_cast<uint64_t>(w.start), w.length)) return;
    std::memset(m_buffer.data() + static_cast<size_t>(w.length) * m_sectorSize, 0,
                static_cast<size_t>(readLength - w.length) * m_sectorSize);
  }
  for (uint32_t i = 0; i < w.length; ++i) {
    uint8_t* p = m_buffer.data() + static_cast<size_t>(i) * m_sectorSize;
    if (std::memcmp(p, "FILE", 4) != 0) continue;
    const uint32_t k = std::min(readLength - i, kRecordTestSectors);
    const size_t length = static_cast<size_t>(k) * m_sectorSize;
    if (!IsValidNTFSFileRecord(p, length) || IsExtensionRecord(p, length)) continue;
    const int64_t sector = w.start + i;
    CNTFSMFTGroup* group = GroupOf(sector);
    if (group == nullptr && m_partition.GetFilesOfMftOnly()) continue;
    if (!m_partition.GetUseMft()) group = nullptr;
    EntrySource source{m_device, nullptr, m_sectorsPerRecord * m_sectorSize,
                       m_sectorsPerCluster * m_sectorSize};
    int64_t number = -1;
    if (group != nullptr) {
      number = RecordSectorToRecordNumber(*group, sector);
      const size_t g = static_cast<size_t>(
          std::find_if(m_groups.begin(), m_groups.end(), [&](const auto& x) { return x.get() == group; }) -
          m_groups.begin());
      source.placement = &m_placements[g];
    }
    CNTFSFileEntry entry;
    if (!CreateNTFSEntryFromRecord(p, FileRecordLength(p, length), sector, number, source, entry)) continue;
    if (group != nullptr) {
      entry.recordNumber = number;
      entry.pastInitializedSize =
          group->location.IsPastInitializedSize(number, m_sectorsPerRecord * m_sectorSize);
    }
    (group != nullptr ? group->entries : m_ungrouped).push_back(std::move(entry));
  }
}

CFileSystemNode* SearchedPartitionBuild::Run() {
  g_lostFilesCounter = 0;
  m_start = m_partition.GetStartSector();
  const int64_t count = m_partition.GetSectorCount();
  m_sectorsPerCluster = m_partition.GetSectorsPerCluster();
  m_sectorsPerRecord = m_partition.GetSectorsPerFileRecord();
  const int64_t deviceSectors = m_device->GetSectorCount();
  if (m_start < 0 || count <= 0 || m_sectorsPerCluster == 0 || m_sectorsPerRecord == 0 || deviceSectors <= 0)
    return nullptr;
  // The partition as far as the device holds it: a sector count from the scan's evidence may run past
  // the device, and the cluster map is sized by it.
  m_end = std::min(count > INT64_MAX - m_start ? INT64_MAX : m_start + count, deviceSectors);
  if (m_end <= m_start) return nullptr;
  m_lastSector = deviceSectors - 1;
  m_buffer.assign(static_cast<size_t>(kBatchSectors + kRecordTestSectors) * m_sectorSize, 0);

  SelectMFTGroups();

  int64_t windows = 0;
  ForEachWindow([&](const Window&) {
    ++windows;
    return true;
  });
  m_progress.Begin(kStringReadingFiles, windows);
  ForEachWindow([&](const Window& w) {
    ProcessRecordWindow(w);
    return m_progress.Add(1);
  });

  size_t total = m_ungrouped.size();
  for (const auto& group : m_groups) total += group->entries.size();
  m_progress.Begin(kStringBuildingDirectories, static_cast<int64_t>(total));
  auto keyOf = [this](const CNTFSFileEntry& e) {
    if (e.recordNumber >= 0) return e.recordNumber;
    // Entries outside every MFT have no number to compute one from.
    return int64_t{-1};
  };
  for (auto& group : m_groups) {
    group->root = CreateFileNode();
    Linker linker(group->entries, m_device, m_progress, keyOf);
    if (linker.LinkChildrenFromRoot(group->root)) linker.LinkOrphans(group->root);
  }

  char label[kNTFSVolumeNameBytes + 1] = {};
  const uint32_t recordBytes = m_sectorsPerRecord * m_sectorSize;
  if (m_partition.GetMftSector() >= 0 && m_partition.GetMftSector() <= m_lastSector && recordBytes >= 1024 &&
      recordBytes <= 4096) {
    // The $Volume record is the fourth record of the MFT.
    const uint64_t at = static_cast<uint64_t>(m_partition.GetMftSector()) * m_sectorSize + 3ull * recordBytes;
    const uint64_t first = at / m_sectorSize;
    const uint32_t sectors = (recordBytes + m_sectorSize - 1) / m_sectorSize + 1;
    std::vector<uint8_t> buffer(static_cast<size_t>(sectors) * m_sectorSize);
    if (first + sectors <= static_cast<uint64_t>(deviceSectors) &&
        m_device->ReadSectors(buffer.data(), first, sectors)) {
      const size_t offset = static_cast<size_t>(at % m_sectorSize);
      GetNTFSVolumeName(buffer.data() + offset, recordBytes, label);
    }
  }
  CFileSystemNode* root =
      CreateNTFSRootNode(static_cast<uint64_t>(m_start), m_sectorsPerCluster, m_index, label);
  for (auto& group : m_groups) {
    MoveChildNodes(group->root, root);
    DestroyFileNode(group->root);
    group->root = nullptr;
  }
  if (!m_progress.Cancelled()) {
    Linker linker(m_ungrouped, m_device, m_progress, keyOf);
    linker.LinkOrphans(root);
  }

  MarkUsedClustersAndAddSignatureFiles(root);
  m_groups.clear();
  if (root->GetFirstChild() == nullptr) {
    FreeFileTree(root);
    return nullptr;
  }
  return root;
}

void SearchedPartitionBuild::MarkUsedClustersAndAddSignatureFiles(CFileSystemNode* root) {
  const uint64_t clusterCount = static_cast<uint64_t>(m_end - m_start) / m_sectorsPerCluster;
  std::vector<bool> bits(clusterCount, false);
  const uint64_t bytesPerCluster = static_cast<uint64_t>(m_sectorsPerCluster) * m_sectorSize;
  auto markCluster = [&](int64_t cluster) {
    if (cluster >= 0 && static_cast<uint64_t>(cluster) < clusterCount)
      bits[static_cast<size_t>(cluster)] = true;
  };
  auto clusterOfSector = [&](int64_t sector) {
    return sector < m_start ? -1 : (sector - m_start) / m_sectorsPerCluster;
  };
  WalkSubtree(root, [&](CFileNode* node) {
    auto* properties = dynamic_cast<CNTFSFileProperties*>(node->GetFileProperties());
    if (properties == nullptr || node == root) return;
    if (auto runs = properties->CreateDataRunList()) {
      if (runs->IsResident()) {
        markCluster(clusterOfSector(properties->GetRecordSector()));
      } else {
        uint64_t covered = 0;
        const uint64_t size = properties->GetSize();
        for (const DataRun& run : runs->Runs()) {
          if (covered >= size) break;
          if (run.IsSparse()) {
            covered += run.length * bytesPerCluster;
            continue;
          }
          for (uint64_t c = 0; c < run.length && covered < size; ++c, covered += bytesPerCluster) {
            if (run.start + c >= clusterCount) {
              covered += (run.length - c - 1) * bytesPerCluster;
              break;
            }
            markCluster(static_cast<int64_t>(run.start + c));
          }
        }
      }
    }
    if (properties->GetStatus() == CNTFSFileProperties::kStatusLostFiles) return;
    const int64_t recordCluster = clusterOfSector(properties->GetRecordSector());
    markCluster(recordCluster);
    if (m_sectorsPerCluster == 1 && recordCluster >= 0) markCluster(recordCluster + 1);
  });
  CClusterUseBitMapInfo info;
  info.bits = &bits;
  info.firstSector = static_cast<uint64_t>(m_start);
  info.sectorsPerCluster = static_cast<uint8_t>(m_sectorsPerCluster);
  info.clusterCount = clusterCount;
  CClusterUseBitMap map(info);
  if (CFileSystemNode* folder = BuildRawFilesFolderOver(m_device, m_found.signatureFiles, &map, m_callback))
    root->AddChild(folder);
}

}  // namespace

CFileSystemNode* BuildNTFSTreeOfSearchedPartitionInThread(const NTFSFoundRecordLists& found,
                                                          CSearchedPartitionInfo* partition,
                                                          IStorageDevice* device, uint32_t sectorSize,
                                                          int32_t index, IDIRBuildCallback* callback) {
  auto* ntfs = dynamic_cast<CSearchedNTFSPartitionInfo*>(partition);
  if (ntfs == nullptr || device == nullptr) return nullptr;
  if (sectorSize == 0) sectorSize = static_cast<uint32_t>(std::max(device->GetSectorSize(), 0));
  if (sectorSize < 512 || sectorSize > 4096) return nullptr;
  SearchedPartitionBuild build(found, *ntfs, device, sectorSize, index, callback);
  return build.Run();
}
