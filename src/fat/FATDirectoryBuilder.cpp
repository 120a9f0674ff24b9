#include "fat/FATDirectoryBuilder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/ClusterUseBitMap.h"
#include "core/PartitionDisplayName.h"
#include "core/RawFilesFolder.h"
#include "fat/FATDBR.h"
#include "fat/FATDataRunList.h"
#include "fat/FATDirEntry.h"
#include "fat/FATDirSectorAnalyzer.h"
#include "fat/FATFileProperties.h"
#include "fat/FATSearchedPartitionInfo.h"
#include "fat/FATTable.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "platform/StringTable.h"

namespace {

using corvale::fat::dirent::kSize;

constexpr uint32_t kStretchSectors = 128;
constexpr uint32_t kBufferSectors = 130;
constexpr uint32_t kChainEnd = 0x0FFFFFF8;
constexpr size_t kMaxCarryOver = 1024;
// Clusters looked at between two progress steps (and cancel checks) of the search for lost
// directory clusters.
constexpr uint64_t kLostSearchStep = 4096;
// Up to this cluster size the search for lost directory clusters reads whole clusters, several at
// a time; larger clusters are read one sector each (the sector a directory cluster starts with).
constexpr uint32_t kLostSearchWholeClusterSectors = 8;

std::string Text(uint32_t id);
CFileNode* MakeUpFolder(const std::string& name, uint32_t firstCluster, uint32_t parentCluster);
CFileNode* MakeUpNumberedFolder(uint32_t firstCluster, uint32_t parentCluster);

// One build's view of the volume and what it has found so far.
class CFATBuildContext {
 public:
  IDIRBuildCallback* callback = nullptr;
  IStorageDevice* device = nullptr;
  int32_t fatType = kFatType16;
  uint64_t partitionStart = 0;
  uint32_t sectorsPerCluster = 1;
  uint64_t rootStart = 0;
  uint32_t rootSectors = 0;
  uint32_t rootCluster = 0;
  uint32_t hasRoot = 0;
  uint64_t dataStart = 0;
  uint64_t sectorCount = 0;
  uint32_t clusterCount = 0;
  const IFATTable* fat = nullptr;
  std::atomic<int32_t> cancelled{0};
  std::map<uint32_t, CFileNode*> directories;
  std::unordered_set<uint32_t> visited;
  std::vector<bool> usedClusters;
  CFileSystemNode* root = nullptr;
  uint32_t sectorSize = 512;
  // Set when a directory's chain stopped before the directory ended: the chain was freed (a
  // deleted folder) or is damaged, while its last cluster read has no end-of-directory entry.
  bool cutShort = false;

  bool IsCancelled() const { return cancelled.load() == 2; }
  void Cancel() { cancelled.store(2); }
  // Passes a callback answer on; -1 cancels the build.
  bool Ok(int32_t answer) {
    if (answer == -1) Cancel();
    return !IsCancelled();
  }

  CFileSystemNode* MakeRoot(int32_t number);
  bool ReadRootDirectory(std::deque<CFileNode*>* queue, bool includeExisting);
  bool ReadDirectoryChain(CFileNode* folder, uint32_t firstCluster, std::deque<CFileNode*>* queue,
                          bool rootRule, bool includeExisting);
  int64_t ParseEntries(const uint8_t* buffer, size_t length, CFileNode* parent, std::deque<CFileNode*>* queue,
                       bool lostMode, bool includeExisting);
  // Reads, breadth-first, the folders in the queue that have not been read yet. With `stepProgress`
  // the walk moves the callback's bar by the share of folders done.
  void WalkQueue(std::deque<CFileNode*>* queue, bool includeExisting, bool stepProgress);
  // Free clusters that no chain leads to but whose first sector holds directory entries (and not
  // the start of a directory): the later clusters of deleted folders, whose chains are freed. Each
  // becomes a made-up folder under "Lost Folders" holding what its entries name; the folders named
  // there go onto the queue.
  void ReadLostDirectoryClusters(std::deque<CFileNode*>* queue, bool includeExisting);

 private:
  // The next cluster of a directory chain, or 0 where the chain may not go on: its end, a free or bad
  // entry, or a number outside the data area.
  uint32_t NextDirectoryCluster(uint32_t cluster) const {
    if (fat == nullptr) return 0;
    const uint32_t next = fat->GetNextCluster(cluster);
    if (next < 2 || next >= kChainEnd || next == kFatBadCluster || next >= clusterCount + 2ULL) return 0;
    return next;
  }
  bool IsDataCluster(uint32_t cluster) const { return cluster >= 2 && cluster < clusterCount + 2ULL; }
  uint64_t ClusterSector(uint32_t cluster) const {
    return dataStart + static_cast<uint64_t>(cluster - 2) * sectorsPerCluster;
  }
  // A cluster that may hold a lost part of a directory: no directory read took it, and the FAT
  // (when there is one) says it is free.
  bool MayBeLostDirectoryCluster(uint32_t cluster) const {
    return visited.count(cluster) == 0 && (fat == nullptr || fat->GetNextCluster(cluster) == 0);
  }
  std::vector<uint32_t> FindLostDirectoryClusters();
  void AddFolder(CFileNode* parent, CFileNode* node, CFATFileProperties* properties,
                 std::deque<CFileNode*>* queue, bool lostMode);
};

// The FAT properties of a node; null for a node without them (the "Raw Files" folder and its files
// carry the RAW engine's).
CFATFileProperties* FatProperties(const CFileNode* node) {
  return node ? dynamic_cast<CFATFileProperties*>(node->GetFileProperties()) : nullptr;
}

bool IsAncestor(const CFileNode* candidate, const CFileNode* node) {
  for (const CFileNode* n = node; n != nullptr; n = n->GetParent()) {
    if (n == candidate) return true;
  }
  return false;
}

// Whether a new folder with the same first cluster takes an old one's place.
bool NewFolderReplaces(const CFATFileProperties& old, const CFATFileProperties& fresh) {
  const bool oldMadeUp = (old.GetState() & CFATFileProperties::kStateMadeUp) != 0;
  const bool newMadeUp = (fresh.GetState() & CFATFileProperties::kStateMadeUp) != 0;
  if (oldMadeUp) return !newMadeUp;
  if (old.IsDeleted()) {
    if (newMadeUp) return false;
    if (!fresh.IsDeleted()) return true;
    const uint64_t a = old.GetTime2(), b = fresh.GetTime2();
    if ((a >> 32) != (b >> 32)) return (a >> 32) < (b >> 32);
    return (a & 0xFFFFFFFFULL) < (b & 0xFFFFFFFFULL);
  }
  if (!fresh.IsDeleted() && !newMadeUp) {
    LogInfo(
        "Some thing must be wrong! \t\t\t\t\t\t\tWe found two undeleted directory got the same first cluster "
        "number!");
  }
  return false;
}

const char* FileSystemName(int32_t type) {
  switch (type) {
    case kFatType12:
      return "FAT12";
    case kFatType16:
      return "FAT16";
    case kFatType32:
      return "FAT32";
    default:
      return "UNKNOWN";
  }
}

CFileSystemNode* CFATBuildContext::MakeRoot(int32_t number) {
  auto* node = CreateFileSystemNode();
  if (node == nullptr) return nullptr;
  auto* properties = new CFATFileProperties();
  CRecoveryContext& context = GetRecoveryContext();
  std::string name = FormatPartitionDisplayName(context.SourceVolumeName, context.SourceDriveLetter,
                                                FileSystemName(fatType), number);
  if (name.size() > 49) {
    size_t cut = 49;
    while (cut > 0 && (static_cast<uint8_t>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  properties->SetName(name.c_str());
  properties->SetAttributes(static_cast<uint16_t>(properties->GetAttributes() | kAttributeFolder));
  properties->SetFirstCluster(0);
  properties->SetParentCluster(CFATFileProperties::kNoCluster);
  node->SetFileProperties(properties);
  node->SetName(name.c_str());
  node->SetPosition(dataStart, sectorsPerCluster);
  node->SetFileSystemType(fatType);
  root = node;
  return node;
}

void CFATBuildContext::AddFolder(CFileNode* parent, CFileNode* node, CFATFileProperties* properties,
                                 std::deque<CFileNode*>* queue, bool lostMode) {
  const uint32_t first = properties->GetFirstCluster();
  LogInfo("Find directory: %s at cluster :%x, parent :%x", properties->GetName(), first,
          properties->GetParentCluster());
  auto found = directories.find(first);
  if (found != directories.end() && first != 0) {
    CFileNode* old = found->second;
    CFATFileProperties* oldProperties = FatProperties(old);
    // A folder found inside the one it would replace would take its own ancestor as a child.
    const bool replaces = oldProperties != nullptr && NewFolderReplaces(*oldProperties, *properties) &&
                          !IsAncestor(old, parent);
    if (!replaces) {
      LogInfo("Discard a directory named %s, cur:%x, parent:%x", properties->GetName(), first,
              properties->GetParentCluster());
      FreeFileTree(node);
      return;
    }
    if (lostMode) {
      properties->SetParentCluster(oldProperties->GetParentCluster());
      old->SetFileProperties(properties);
      delete oldProperties;
      node->SetFileProperties(nullptr);
      DestroyFileNode(node);
      return;
    }
    LogInfo("Discard a directory named %s, cur: %x, parent:%x", oldProperties->GetName(), first,
            oldProperties->GetParentCluster());
    if (old->GetParent() != nullptr) old->GetParent()->RemoveChild(old);
    MoveChildNodes(old, node);
    found->second = node;
    for (auto& queued : *queue) {
      if (queued == old) queued = nullptr;
    }
    FreeFileTree(old);
  } else if (found == directories.end()) {
    directories[first] = node;
  }
  parent->AddChild(node);
  queue->push_back(node);
}

int64_t CFATBuildContext::ParseEntries(const uint8_t* buffer, size_t length, CFileNode* parent,
                                       std::deque<CFileNode*>* queue, bool lostMode, bool includeExisting) {
  CFATFileProperties* parentProperties = FatProperties(parent);
  const bool parentDeleted = parentProperties != nullptr && parentProperties->IsDeleted();
  // A folder the build made up is "deleted" only because its real entry was not found; the files in
  // it keep the chains their own entries vouch for.
  const bool parentMadeUp =
      parentProperties != nullptr && (parentProperties->GetState() & CFATFileProperties::kStateMadeUp) != 0;
  const uint32_t parentCluster = parentProperties ? parentProperties->GetFirstCluster() : 0;
  int64_t sequenceStart = -1;
  int dots = 0;
  size_t offset = 0;
  for (; offset + kSize <= length; offset += kSize) {
    CFATDirEntry entry(buffer, length, offset);
    if (!entry.IsValid(false)) {
      sequenceStart = -1;
      if (lostMode) break;
      continue;
    }
    if (entry.IsLongNamePiece()) {
      if (sequenceStart < 0) sequenceStart = static_cast<int64_t>(offset);
      continue;
    }
    const size_t start = sequenceStart >= 0 ? static_cast<size_t>(sequenceStart) : offset;
    sequenceStart = -1;
    if (entry.IsVolumeLabel()) {
      if (!lostMode) DebugTrace("Volume label %s", entry.GetShortName(false).c_str());
      continue;
    }
    if (entry.FirstByte() == '.') {
      if (++dots > 2) return -1;
      continue;
    }
    const bool deleted = entry.IsDeleted();
    if (!includeExisting && !entry.IsDirectory() && !deleted && !parentDeleted) continue;
    const uint32_t first = entry.GetFirstCluster();
    if (first > 2 && static_cast<uint64_t>(first - 2) * sectorsPerCluster >= sectorCount) {
      if (lostMode) break;
      continue;
    }
    if (first == parentCluster && first != 0) continue;
    std::unique_ptr<CFATFileProperties> properties =
        CreateFATFileFromEntries(buffer + start, offset + kSize - start);
    if (!properties) continue;
    if (parentDeleted) properties->SetDeleted();
    properties->SetParentCluster(parentCluster);
    properties->SetFirstCluster(first);
    CFileNode* node = CreateFileNode();
    if (node == nullptr) continue;
    if (entry.IsDirectory()) {
      // A folder without a data cluster has no directory to read and could only stand for the root.
      if (!IsDataCluster(first)) {
        DestroyFileNode(node);
        continue;
      }
      CFATFileProperties* raw = properties.release();
      node->SetFileProperties(raw);
      AddFolder(parent, node, raw, queue, lostMode);
      continue;
    }
    LogInfo("Found a File %s!", properties->GetName());
    FATRunListContext runContext;
    runContext.fat = fat;
    runContext.sectorsPerCluster = sectorsPerCluster;
    runContext.sectorSize = sectorSize;
    runContext.dataSectors =
        partitionStart + sectorCount > dataStart ? partitionStart + sectorCount - dataStart : 0;
    runContext.usedClusters = &usedClusters;
    std::unique_ptr<CFATDataRunList> runs;
    const FATRunListResult result = BuildFATRunList(runContext, first, properties->GetSize(),
                                                    parentMadeUp ? deleted : properties->IsDeleted(), &runs);
    if (result == FATRunListResult::Refused) {
      LogInfo("Failed build Datarun list!");
      DestroyFileNode(node);
      continue;
    }
    if (result == FATRunListResult::Built && runs) properties->SetPackedRunList(CreatePackedRunList(*runs));
    node->SetFileProperties(properties.release());
    parent->AddChild(node);
  }
  if (sequenceStart >= 0) {
    LogInfo("Unporcessed long file name directory entry at %d", static_cast<int>(sequenceStart));
    return sequenceStart;
  }
  return static_cast<int64_t>(offset);
}

bool CFATBuildContext::ReadDirectoryChain(CFileNode* folder, uint32_t firstCluster,
                                          std::deque<CFileNode*>* queue, bool rootRule,
                                          bool includeExisting) {
  if (sectorsPerCluster == 0 || sectorsPerCluster > kStretchSectors) return false;
  std::vector<uint8_t> buffer(static_cast<size_t>(kBufferSectors) * sectorSize);
  size_t carry = 0;
  bool firstStretch = true;
  uint32_t cluster = IsDataCluster(firstCluster) ? firstCluster : 0;
  uint32_t lastRead = 0;
  bool endSeen = false;
  while (cluster != 0) {
    // The stretch of consecutive clusters from here, at most 128 sectors.
    uint32_t count = 1;
    uint32_t last = cluster;
    while ((count + 1) * sectorsPerCluster <= kStretchSectors) {
      const uint32_t next = NextDirectoryCluster(last);
      if (next != last + 1 || visited.count(next) != 0) break;
      last = next;
      ++count;
    }
    if (callback && !Ok(callback->Poll())) return false;
    if (visited.count(cluster) != 0) return false;
    const uint64_t sectors = static_cast<uint64_t>(count) * sectorsPerCluster;
    const uint64_t firstSector = dataStart + static_cast<uint64_t>(cluster - 2) * sectorsPerCluster;
    if (!device->ReadSectors(buffer.data() + carry, firstSector, sectors)) return false;
    for (uint32_t c = cluster; c <= last; ++c) visited.insert(c);
    const size_t length = carry + sectors * sectorSize;
    lastRead = last;
    endSeen = false;
    for (size_t at = 0; at + kSize <= length && !endSeen; at += kSize) endSeen = buffer[at] == 0;
    if (firstStretch) {
      const CFATDirEntry dot(buffer.data(), length, 0);
      const CFATDirEntry dotDot(buffer.data(), length, kSize);
      if (rootRule ? (dot.IsDotEntry() || dotDot.IsDotDotEntry())
                   : !(dot.IsDotEntry() && dotDot.IsDotDotEntry())) {
        return false;
      }
      firstStretch = false;
    }
    const int64_t parsed = ParseEntries(buffer.data(), length, folder, queue, false, includeExisting);
    if (parsed < 0) return true;
    const size_t rest = length - static_cast<size_t>(parsed);
    carry = 0;
    if (rest > 0 && rest < kMaxCarryOver) {
      LogInfo("Found unproessed buffer, lengh:%d bytes", static_cast<int>(rest));
      std::memmove(buffer.data(), buffer.data() + parsed, rest);
      carry = rest;
    }
    cluster = NextDirectoryCluster(last);
  }
  // A chain that ends without its end mark, in a cluster the directory fills to its end, leaves
  // the rest of the directory somewhere else.
  if (lastRead != 0 && !endSeen && (fat == nullptr || fat->GetNextCluster(lastRead) < kChainEnd))
    cutShort = true;
  return true;
}

void CFATBuildContext::WalkQueue(std::deque<CFileNode*>* queue, bool includeExisting, bool stepProgress) {
  uint64_t count = 0;
  int32_t shown = 0;
  while (!queue->empty() && !IsCancelled()) {
    ++count;
    const int32_t percent = static_cast<int32_t>(count * 100 / (count + queue->size()));
    if (stepProgress && percent > shown) {
      shown = percent;
      if (callback && !Ok(callback->StepTo(percent))) break;
    }
    CFileNode* folder = queue->front();
    queue->pop_front();
    if (folder == nullptr || folder->GetFirstChild() != nullptr) continue;
    const CFATFileProperties* properties = FatProperties(folder);
    ReadDirectoryChain(folder, properties->GetFirstCluster(), queue, false, includeExisting);
  }
}

std::vector<uint32_t> CFATBuildContext::FindLostDirectoryClusters() {
  std::vector<uint32_t> found;
  if (sectorsPerCluster == 0 || sectorsPerCluster > kStretchSectors) return found;
  CFATDirSectorAnalyzer analyzer(sectorSize);
  // Small clusters are read whole, as many consecutive ones as a stretch holds; of larger ones only
  // the first sector is read.
  const bool whole = sectorsPerCluster <= kLostSearchWholeClusterSectors;
  const uint32_t batch = whole ? kStretchSectors / sectorsPerCluster : 1;
  const uint64_t readSectors = whole ? sectorsPerCluster : 1;
  const size_t clusterBytes = static_cast<size_t>(readSectors) * sectorSize;
  std::vector<uint8_t> buffer(static_cast<size_t>(batch) * clusterBytes);
  const uint64_t end = clusterCount + 2ULL;
  uint64_t looked = 0;
  for (uint64_t cluster = 2; cluster < end;) {
    if (looked >= kLostSearchStep) {
      if (callback && !Ok(callback->AddProgress(static_cast<int32_t>(looked)))) break;
      looked = 0;
    }
    if (!MayBeLostDirectoryCluster(static_cast<uint32_t>(cluster))) {
      ++cluster;
      ++looked;
      continue;
    }
    uint64_t count = 1;
    while (count < batch && cluster + count < end &&
           MayBeLostDirectoryCluster(static_cast<uint32_t>(cluster + count)))
      ++count;
    const uint64_t sectors = whole ? count * sectorsPerCluster : 1;
    if (device->ReadSectors(buffer.data(), ClusterSector(static_cast<uint32_t>(cluster)), sectors)) {
      for (uint64_t i = 0; i < count; ++i) {
        analyzer.Analyze(buffer.data() + i * clusterBytes, clusterBytes);
        if (analyzer.GetKind() == CFATDirSectorAnalyzer::kPartialDirectory)
          found.push_back(static_cast<uint32_t>(cluster + i));
      }
    }
    cluster += count;
    looked += count;
  }
  return found;
}

void CFATBuildContext::ReadLostDirectoryClusters(std::deque<CFileNode*>* queue, bool includeExisting) {
  if (callback && !Ok(callback->BeginStage(Text(479).c_str(), static_cast<int32_t>(std::min<uint64_t>(
                                                                  clusterCount, INT32_MAX))))) {
    return;
  }
  const std::vector<uint32_t> clusters = FindLostDirectoryClusters();
  CFileNode* lostFolders = nullptr;
  std::vector<uint8_t> buffer(static_cast<size_t>(sectorsPerCluster) * sectorSize);
  for (const uint32_t cluster : clusters) {
    if (IsCancelled() || (callback && !Ok(callback->Poll()))) return;
    // A folder named in a lost cluster read before may have taken this one.
    if (visited.count(cluster) != 0) continue;
    const uint64_t sector = ClusterSector(cluster);
    if (!device->ReadSectors(buffer.data(), sector, sectorsPerCluster)) continue;
    visited.insert(cluster);
    LogInfo("Build Lost Cluster %d Sector %lld", static_cast<int>(cluster), static_cast<long long>(sector));
    if (lostFolders == nullptr) {
      lostFolders =
          MakeUpFolder("Lost Folders", CFATFileProperties::kNoCluster, CFATFileProperties::kNoCluster);
      if (lostFolders == nullptr) return;
      root->AddChild(lostFolders);
    }
    CFileNode* lost = MakeUpNumberedFolder(cluster, CFATFileProperties::kNoCluster);
    if (lost == nullptr) continue;
    lostFolders->AddChild(lost);
    ParseEntries(buffer.data(), buffer.size(), lost, queue, true, includeExisting);
  }
  if (callback && !IsCancelled()) Ok(callback->EndStage());
}

bool CFATBuildContext::ReadRootDirectory(std::deque<CFileNode*>* queue, bool includeExisting) {
  if (fatType == kFatType32) return ReadDirectoryChain(root, rootCluster, queue, true, includeExisting);
  if (rootSectors == 0) return true;
  std::vector<uint8_t> buffer(static_cast<size_t>(rootSectors) * sectorSize);
  if (!device->ReadSectors(buffer.data(), rootStart, rootSectors)) return false;
  ParseEntries(buffer.data(), buffer.size(), root, queue, false, includeExisting);
  return true;
}

// Removes, breadth-first, every deleted folder that holds nothing.
void RemoveEmptyDeletedFolders(CFileNode* root) {
  std::deque<CFileNode*> queue{root};
  while (!queue.empty()) {
    CFileNode* folder = queue.front();
    queue.pop_front();
    CFileNode* child = folder->GetFirstChild();
    while (child != nullptr) {
      CFileNode* next = child->GetNextSibling();
      const CFATFileProperties* properties = FatProperties(child);
      if (properties != nullptr && (properties->GetAttributes() & kAttributeFolder) != 0) {
        if (properties->IsDeleted() && child->GetFirstChild() == nullptr) {
          FreeFileTree(child);
        } else {
          queue.push_back(child);
        }
      }
      child = next;
    }
  }
}

bool CheckBootSector(IStorageDevice* device, uint64_t sector, uint32_t sectorSize, uint64_t partitionStart,
                     std::unique_ptr<CFATDBR>* out) {
  std::vector<uint8_t> bytes(sectorSize);
  if (!device->ReadSectors(bytes.data(), sector, 1)) return false;
  auto dbr = std::make_unique<CFATDBR>(bytes.data(), bytes.size(), sectorSize);
  if (!dbr->IsValid()) return false;
  if (dbr->GetTotalSectors() < static_cast<uint64_t>(dbr->GetSectorsPerFAT()) * dbr->GetNumberOfFATs())
    return false;
  const uint64_t copy1 = partitionStart + dbr->GetReservedSectors();
  for (uint64_t at : {copy1, copy1 + dbr->GetSectorsPerFAT()}) {
    if (device->ReadSectors(bytes.data(), at, 1) && IsFATTableStartSector(bytes.data(), bytes.size())) {
      *out = std::move(dbr);
      return true;
    }
  }
  return false;
}

std::string Text(uint32_t id) { return corvale::LoadText(id); }

CFileSystemNode* QuickBuild(IDIRBuildCallback* callback, const FATBuildSource& source, IStorageDevice* device,
                            bool includeExisting) {
  using namespace corvale::fat;
  const auto started = std::chrono::steady_clock::now();
  CFATBuildContext context;
  context.callback = callback;
  context.device = device;
  context.partitionStart = source.startSector;
  const int32_t deviceSectorSize = device->GetSectorSize();
  context.sectorSize = deviceSectorSize > 0 ? static_cast<uint32_t>(deviceSectorSize) : 512;
  if (callback) callback->BeginStage(Text(480).c_str(), 100);

  std::unique_ptr<CFATDBR> dbr;
  bool good = false;
  if ((source.evidenceFlags & kEvidenceBootSector) != 0) {
    good = CheckBootSector(device, source.startSector, context.sectorSize, source.startSector, &dbr);
    if (callback) callback->AddProgress(30);
  }
  if (!good && (source.evidenceFlags & kEvidenceBackupBootSector) != 0) {
    good = CheckBootSector(device, source.startSector + 6, context.sectorSize, source.startSector, &dbr);
    if (callback) callback->AddProgress(30);
  }
  if (!good) {
    LogError("Failed to read DBR information!");
    if (callback) callback->EndStage();
    return nullptr;
  }
  const FatVolumeGeometry& g = dbr->GetGeometry();
  context.fatType = dbr->GetFATType();
  std::unique_ptr<CDoubleFATTable> fat = CreateDoubleFATTable(
      device, source.startSector + g.reservedSectors, context.fatType, g.sectorsPerFat,
      (source.evidenceFlags & kEvidenceFirstFat) != 0, (source.evidenceFlags & kEvidenceSecondFat) != 0);
  context.fat = fat.get();
  if (callback && callback->EndStage() == -1) {
    LogInfo("User abort searching!");
    return nullptr;
  }
  // The classifier's geometry is checked: the data area lies inside the volume and the FAT32 root
  // cluster is a data cluster.
  context.sectorsPerCluster = g.sectorsPerCluster;
  context.dataStart = source.startSector + g.dataStart;
  context.rootStart = source.startSector + g.rootDirStart;
  context.rootSectors = g.rootDirSectors;
  context.rootCluster = g.rootCluster;
  context.sectorCount = g.totalSectors;
  context.clusterCount = g.clusterCount;
  context.hasRoot = 1;
  context.usedClusters.assign(static_cast<size_t>(g.clusterCount) + 3, false);
  if (callback) callback->BeginStage(Text(479).c_str(), 100);

  CFileSystemNode* root = context.MakeRoot(1);
  if (root != nullptr) {
    std::deque<CFileNode*> queue;
    if (callback && !context.Ok(callback->StepTo(1))) {
    } else {
      context.ReadRootDirectory(&queue, includeExisting);
      context.WalkQueue(&queue, includeExisting, true);
      // A deleted folder's chain is freed, so only its first cluster was read. Where one did not end
      // there, its other clusters are looked for among the free ones, as the whole-device scan finds
      // them.
      if (context.cutShort && !context.IsCancelled()) {
        if (callback && !context.IsCancelled()) context.Ok(callback->EndStage());
        context.ReadLostDirectoryClusters(&queue, includeExisting);
        context.WalkQueue(&queue, includeExisting, false);
      }
    }
    if (context.IsCancelled() || (callback && callback->Poll() == -1)) {
      FreeFileTree(root);
      root = nullptr;
    } else {
      RemoveEmptyDeletedFolders(root);
    }
  }
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
          .count();
  LogInfo("FAT Quick Build directory tree used %d millseconds!", static_cast<int>(elapsed));
  return root;
}

// The number of the next "DIR%d" folder: one count for the whole run of the program, so that the
// made-up folders of every partition built have names of their own.
std::atomic<uint32_t> g_madeUpFolderNumber{0};

CFileNode* MakeUpFolder(const std::string& name, uint32_t firstCluster, uint32_t parentCluster) {
  CFileNode* node = CreateFileNode();
  if (node == nullptr) return nullptr;
  auto* properties = new CFATFileProperties();
  properties->SetName(name.c_str());
  properties->SetAttributes(kAttributeFolder);
  properties->SetState(CFATFileProperties::kStateMadeUpFolder);
  properties->SetFirstCluster(firstCluster);
  properties->SetParentCluster(parentCluster);
  node->SetFileProperties(properties);
  return node;
}

CFileNode* MakeUpNumberedFolder(uint32_t firstCluster, uint32_t parentCluster) {
  char name[32];
  std::snprintf(name, sizeof name, "DIR%u", g_madeUpFolderNumber.fetch_add(1));
  return MakeUpFolder(name, firstCluster, parentCluster);
}

// In every folder, an empty deleted subfolder that has the first cluster of a made-up sibling gives
// that sibling its name and properties (and takes the made-up ones, so that it is removed with the
// other empty deleted folders).
void ReplaceMadeUpFolders(CFATBuildContext& context) {
  std::deque<CFileNode*> queue{context.root};
  uint64_t count = 0;
  int32_t shown = 0;
  while (!queue.empty() && !context.IsCancelled()) {
    CFileNode* folder = queue.front();
    queue.pop_front();
    if (++count > 5) {
      const int32_t percent = static_cast<int32_t>(count * 100 / (count + queue.size()));
      if (percent > shown) {
        shown = percent;
        if (context.callback && !context.Ok(context.callback->StepTo(percent))) break;
      }
    }
    std::vector<CFileNode*> madeUp;
    std::vector<CFileNode*> emptyDeleted;
    for (CFileNode* child = folder->GetFirstChild(); child != nullptr; child = child->GetNextSibling()) {
      const CFATFileProperties* p = FatProperties(child);
      if (p == nullptr || (p->GetAttributes() & kAttributeFolder) == 0) continue;
      queue.push_back(child);
      if ((p->GetState() & CFATFileProperties::kStateMadeUp) != 0) {
        madeUp.push_back(child);
      } else if (p->IsDeleted() && child->GetFirstChild() == nullptr) {
        emptyDeleted.push_back(child);
      }
    }
    for (CFileNode* empty : emptyDeleted) {
      CFATFileProperties* real = FatProperties(empty);
      for (CFileNode*& made : madeUp) {
        if (made == nullptr) continue;
        CFATFileProperties* temp = FatProperties(made);
        if (temp->GetFirstCluster() != real->GetFirstCluster()) continue;
        LogInfo("Replace a temp directory %s first clusternum %x with directory %s firstclusternum %x!",
                temp->GetName(), temp->GetFirstCluster(), real->GetName(), real->GetFirstCluster());
        made->SetFileProperties(real);
        empty->SetFileProperties(temp);
        made = nullptr;
        break;
      }
    }
  }
}

// Whether the partition's records give a geometry the build can read by: a known FAT type, a cluster
// size the format allows, and a data area inside the partition with at least one cluster.
bool TakeGeometry(const CFATSearchedPartitionInfo& info, CFATBuildContext& context) {
  const int32_t type = info.GetFileSystemType();
  const uint32_t spc = info.GetSectorsPerCluster();
  if (type != kFatType12 && type != kFatType16 && type != kFatType32) return false;
  if (spc == 0 || (spc & (spc - 1)) != 0 || spc > 128) return false;
  const int64_t start = info.GetPartitionStart();
  const int64_t dataStart = info.GetStartSector();
  const int64_t count = info.GetSectorCount();
  int64_t end = 0;
  if (start < 0 || count <= 0 || dataStart < start || __builtin_add_overflow(start, count, &end) ||
      dataStart >= end)
    return false;
  // A boot sector states the volume's size, and a copy cut short still holds entries of the files
  // past the cut: they stay in the tree, and their recovery fails where the device ends instead of
  // the files vanishing unreported. A partition guessed from folders ends where its sectors do.
  const bool stated = (info.GetEvidenceFlags() & kFatBootSectorEvidence) != 0;
  uint64_t clusters = std::min<uint64_t>(info.GetClusterCount(), corvale::fat::kMaxFat32Clusters);
  if (!stated) clusters = std::min<uint64_t>(clusters, static_cast<uint64_t>(end - dataStart) / spc);
  if (clusters == 0) return false;
  context.fatType = type;
  context.partitionStart = static_cast<uint64_t>(start);
  context.sectorsPerCluster = spc;
  context.dataStart = static_cast<uint64_t>(dataStart);
  context.sectorCount = std::max<uint64_t>(static_cast<uint64_t>(count),
                                           static_cast<uint64_t>(dataStart - start) + clusters * spc);
  context.clusterCount = static_cast<uint32_t>(clusters);
  return true;
}

CFileSystemNode* CompleteBuild(IDIRBuildCallback* callback, const CFATDirSectorSet& records,
                               const CFATSearchedPartitionInfo& info, CRawFileInfoList* rawFiles,
                               IStorageDevice* device, int32_t index) {
  const auto started = std::chrono::steady_clock::now();
  CFATBuildContext context;
  context.callback = callback;
  context.device = device;
  const int32_t deviceSectorSize = device->GetSectorSize();
  context.sectorSize = deviceSectorSize > 0 ? static_cast<uint32_t>(deviceSectorSize) : 512;
  if (!TakeGeometry(info, context)) {
    LogInfo("FAT partition at sector %lld has no geometry to build by",
            static_cast<long long>(info.GetStartSector()));
    return nullptr;
  }
  const uint32_t flags = info.GetEvidenceFlags();
  if (callback && !context.Ok(callback->BeginStage(Text(480).c_str(), 100))) return nullptr;
  std::unique_ptr<CDoubleFATTable> fat = CreateDoubleFATTable(
      device, context.partitionStart + info.GetReservedSectors(), context.fatType, info.GetSectorsPerFAT(),
      (flags & kFatUseFirstCopy) != 0, (flags & kFatUseSecondCopy) != 0);
  context.fat = fat.get();
  if (callback && !context.Ok(callback->AddProgress(50))) return nullptr;

  // A boot sector vouches for the root, when its place agrees with the rest of the geometry.
  if ((flags & kFatBootSectorEvidence) != 0) {
    if (context.fatType == kFatType32) {
      context.rootCluster = info.GetRoot();
      context.hasRoot = context.rootCluster >= 2 && context.rootCluster - 2ULL < context.clusterCount ? 1 : 0;
    } else {
      context.rootStart = context.partitionStart + info.GetReservedSectors() + 2ULL * info.GetSectorsPerFAT();
      context.rootSectors = info.GetRoot();
      // A fixed root holds at most 65536 entries and ends where the data area begins.
      const uint64_t maxSectors = 65536ULL * kSize / context.sectorSize;
      context.hasRoot =
          context.rootSectors <= maxSectors && context.rootStart + context.rootSectors <= context.dataStart;
    }
  }
  if (callback && !context.Ok(callback->EndStage())) return nullptr;

  context.usedClusters.assign(static_cast<size_t>(context.clusterCount) + 3, false);
  CFileSystemNode* root = context.MakeRoot(index + 1);
  if (root == nullptr) return nullptr;
  std::deque<CFileNode*> queue;  // the complete build reads folders by their records, not by a walk
  if (context.hasRoot) context.ReadRootDirectory(&queue, true);
  queue.clear();
  context.directories[0] = root;

  // The records from the data area's start (for a FAT12/16 partition no boot sector vouches for,
  // from 128 KiB before it, where its fixed root lies) to the partition's end.
  uint64_t lower = context.dataStart;
  if (!context.hasRoot && context.fatType != kFatType32) {
    const uint64_t back = 131072 / context.sectorSize;
    lower = lower > back ? lower - back : 0;
  }
  const uint64_t upper = context.partitionStart + context.sectorCount;
  const auto& all = records.Records();
  auto first = std::lower_bound(all.begin(), all.end(), lower,
                                [](const FATDirSectorRecord& r, uint64_t s) { return r.sector < s; });
  auto last = std::lower_bound(first, all.end(), upper,
                               [](const FATDirSectorRecord& r, uint64_t s) { return r.sector < s; });
  const auto clusterOf = [&context](uint64_t sector) -> uint32_t {
    // The cluster starting at `sector`, or 0 when no cluster of the data area starts there.
    if (sector < context.dataStart) return 0;
    const uint64_t offset = sector - context.dataStart;
    if (offset % context.sectorsPerCluster != 0) return 0;
    const uint64_t index = offset / context.sectorsPerCluster;
    return index < context.clusterCount ? static_cast<uint32_t>(index + 2) : 0;
  };

  if (first != last && !context.IsCancelled()) {
    const int32_t recordCount = static_cast<int32_t>(std::min<size_t>(last - first, INT32_MAX));
    if (callback) context.Ok(callback->BeginStage(Text(475).c_str(), recordCount));
    std::vector<uint8_t> sector(context.sectorSize);
    for (auto it = first; it != last && !context.IsCancelled(); ++it) {
      if (callback && !context.Ok(callback->AddProgress(1))) break;
      if (it->sector < context.dataStart) {
        if (device->ReadSectors(sector.data(), it->sector, 1)) {
          context.ParseEntries(sector.data(), sector.size(), root, &queue, true, true);
          queue.clear();
        }
        continue;
      }
      if (!it->IsFirstDirectorySector()) continue;
      const uint32_t cluster = clusterOf(it->sector);
      if (cluster == 0 || cluster != it->dotCluster) continue;
      LogInfo("Build Cluster %d Sector %lld", static_cast<int>(cluster), static_cast<long long>(it->sector));
      CFileNode* folder = nullptr;
      auto found = context.directories.find(cluster);
      if (found != context.directories.end()) {
        folder = found->second;
      } else {
        folder = MakeUpNumberedFolder(cluster, it->dotDotCluster);
        if (folder == nullptr) continue;
        context.directories[cluster] = folder;
      }
      context.ReadDirectoryChain(folder, cluster, &queue, false, true);
      // Folders are read by their own records; what the read queued is not walked.
      queue.clear();
    }
    if (callback && !context.IsCancelled()) context.Ok(callback->EndStage());

    // Folders without a parent go under the folder their ".." names, or under "Lost Folders" when
    // that is not known or would put a folder inside itself.
    CFileNode* lostFolders =
        MakeUpFolder("Lost Folders", CFATFileProperties::kNoCluster, CFATFileProperties::kNoCluster);
    if (lostFolders != nullptr) root->AddChild(lostFolders);
    if (!context.IsCancelled() && callback) {
      context.Ok(callback->BeginStage(
          Text(476).c_str(), static_cast<int32_t>(std::min<size_t>(context.directories.size(), INT32_MAX))));
    }
    for (auto& [cluster, folder] : context.directories) {
      if (context.IsCancelled()) break;
      if (callback && !context.Ok(callback->AddProgress(1))) break;
      if (folder == root || folder->GetParent() != nullptr) continue;
      const uint32_t parentCluster = FatProperties(folder)->GetParentCluster();
      auto parent = parentCluster == CFATFileProperties::kNoCluster ? context.directories.end()
                                                                    : context.directories.find(parentCluster);
      if (parent != context.directories.end() && !IsAncestor(folder, parent->second)) {
        parent->second->AddChild(folder);
      } else if (lostFolders != nullptr) {
        lostFolders->AddChild(folder);
      }
    }
    // Folders that could be placed nowhere must still be freed with the tree.
    for (auto& [cluster, folder] : context.directories) {
      if (folder != root && folder->GetParent() == nullptr) root->AddChild(folder);
    }
    if (callback && !context.IsCancelled()) context.Ok(callback->EndStage());

    // Directory clusters that no folder read: their entries go to made-up folders under "Lost Folders".
    if (!context.IsCancelled() && callback) context.Ok(callback->BeginStage(Text(478).c_str(), recordCount));
    std::vector<uint8_t> buffer(static_cast<size_t>(context.sectorsPerCluster) * context.sectorSize);
    for (auto it = first; it != last && !context.IsCancelled(); ++it) {
      if (it->IsFirstDirectorySector()) continue;
      const uint32_t cluster = clusterOf(it->sector);
      if (cluster == 0 || context.visited.count(cluster) != 0) continue;
      if (callback && !context.Ok(callback->Poll())) break;
      context.visited.insert(cluster);
      if (!device->ReadSectors(buffer.data(), it->sector, context.sectorsPerCluster)) continue;
      LogInfo("Build Lost Cluster %d Sector %lld", static_cast<int>(cluster),
              static_cast<long long>(it->sector));
      CFileNode* lost = MakeUpNumberedFolder(cluster, CFATFileProperties::kNoCluster);
      if (lost == nullptr) continue;
      (lostFolders != nullptr ? lostFolders : static_cast<CFileNode*>(root))->AddChild(lost);
      context.ParseEntries(buffer.data(), buffer.size(), lost, &queue, true, true);
      queue.clear();
    }
    if (callback && !context.IsCancelled()) context.Ok(callback->EndStage());

    if (!context.IsCancelled()) {
      if (callback) context.Ok(callback->BeginStage(Text(477).c_str(), 100));
      ReplaceMadeUpFolders(context);
      if (callback && !context.IsCancelled()) context.Ok(callback->EndStage());
    }

    if (context.IsCancelled()) {
      FreeFileTree(root);
      root = nullptr;
    } else {
      CClusterUseBitMapInfo used;
      used.bits = &context.usedClusters;
      used.firstSector = context.dataStart;
      used.sectorsPerCluster = static_cast<uint8_t>(context.sectorsPerCluster);
      used.clusterCount = context.clusterCount;
      CClusterUseBitMap usedMap(used);
      if (CFileSystemNode* rawFolder = BuildRawFilesFolderOver(device, rawFiles, &usedMap, callback)) {
        root->AddChild(rawFolder);
      }
      RemoveEmptyDeletedFolders(root);
    }
  } else if (context.IsCancelled()) {
    FreeFileTree(root);
    root = nullptr;
  }
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
          .count();
  LogInfo("FAT Complete Build directory tree used %d millseconds!", static_cast<int>(elapsed));
  return root;
}

}  // namespace

CFileSystemNode* CFATDirectoryBuilder::Build(IDIRBuildCallback* callback, const FATBuildSource& source,
                                             IStorageDevice* device, bool includeExisting) {
  if (device == nullptr) return nullptr;
  return QuickBuild(callback, source, device, includeExisting);
}

CFileSystemNode* CFATDirectoryBuilder::BuildComplete(IDIRBuildCallback* callback,
                                                     const CFATDirSectorSet& records,
                                                     const CFATSearchedPartitionInfo& partition,
                                                     CRawFileInfoList* rawFiles, IStorageDevice* device,
                                                     int32_t index) {
  if (device == nullptr) return nullptr;
  return CompleteBuild(callback, records, partition, rawFiles, device, index);
}
