#include "ext2/Ext2DirectoryBuilder.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "core/ClusterUseBitMap.h"
#include "core/FileNode.h"
#include "core/IDIRBuildCallback.h"
#include "core/PartitionDisplayName.h"
#include "core/RawFilesFolder.h"
#include "core/WantedFileType.h"
#include "ext2/DirEntry.h"
#include "ext2/Ext2Exceptions.h"
#include "ext2/Ext2File.h"
#include "ext2/Ext2FileProperties.h"
#include "ext2/Ext2FileSystem.h"
#include "ext2/GcAlloc.h"
#include "ext2/InodeIterator.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "platform/StringTable.h"
#include "storage/FileSystemCode.h"
#include "storage/IStorageDevice.h"

using corvale::ext2gc::Ext2GcThreadScope;
using corvale::ext2gc::GcDelete;
using corvale::ext2gc::GcNewAtomic;

namespace {

constexpr uint32_t kTextBuildingDirectories = 479;
constexpr uint32_t kTextReadingFiles = 481;

std::string InodeName(uint32_t inode) {
  char text[32];
  std::snprintf(text, sizeof(text), "Inode_%lx", static_cast<unsigned long>(inode));
  return text;
}

const char* FileSystemText(int32_t type) {
  switch (type) {
    case kFileSystemExt2:
      return "Ext2";
    case kFileSystemExt3:
      return "Ext3";
    default:
      return "Ext?";
  }
}

CExt2FileProperties* PropertiesOf(const CFileNode* node) {
  return static_cast<CExt2FileProperties*>(node->GetFileProperties());
}

bool IsDotEntry(const CExt2File& file) {
  const char* name = file.GetName();
  return (file.GetNameLength() == 1 && name[0] == '.') ||
         (file.GetNameLength() == 2 && name[0] == '.' && name[1] == '.');
}

// A per-inode file from the collector, released when the next one is taken or the scope ends.
class GcFileSlot {
 public:
  GcFileSlot() = default;
  ~GcFileSlot() { GcDelete(m_file); }
  GcFileSlot(const GcFileSlot&) = delete;
  GcFileSlot& operator=(const GcFileSlot&) = delete;
  CExt2File* Replace(const CExt2File& file) {
    GcDelete(m_file);
    m_file = nullptr;
    m_file = GcNewAtomic<CExt2File>(file);
    return m_file;
  }

 private:
  CExt2File* m_file = nullptr;
};

}  // namespace

CExt2DirectoryBuilder::~CExt2DirectoryBuilder() { FreeWaiting(); }

void CExt2DirectoryBuilder::FreeWaiting() {
  for (auto& [inode, node] : m_waitingForParent) FreeFileTree(node);
  m_waitingForParent.clear();
  m_parentOfInode.clear();
  m_deletedNames.clear();
}

CFileSystemNode* CExt2DirectoryBuilder::RunRegistered(const std::function<CFileSystemNode*()>& job) {
  Ext2GcThreadScope gcThread;
  return job();
}

CFileSystemNode* CExt2DirectoryBuilder::BuildFromVolume(IStorageDevice* device, IDIRBuildCallback* callback,
                                                        int64_t superBlockSector, uint32_t recordUsage) {
  if (device == nullptr) return nullptr;
  IStorageDevice* device512 = device->GetDeviceWith512ByteSectors();
  return RunRegistered([&]() -> CFileSystemNode* {
    try {
      CExt2FileSystem fs(device512, superBlockSector);
      return Build(fs, callback, recordUsage != 0);
    } catch (const std::exception& e) {
      LogExt2Exception(e);
      return nullptr;
    }
  });
}

CFileSystemNode* CExt2DirectoryBuilder::BuildFromSearchRecord(const CExt2FileSystem* fs,
                                                              IDIRBuildCallback* callback,
                                                              CRawFileInfoList* carved,
                                                              uint32_t partitionIndex) {
  if (fs == nullptr) return nullptr;
  m_partitionIndex = partitionIndex;
  return RunRegistered([&]() -> CFileSystemNode* {
    CFileSystemNode* root = Build(*fs, callback, true);
    if (root != nullptr) AddRawFilesFolder(*fs, root, carved);
    return root;
  });
}

bool CExt2DirectoryBuilder::Poll() {
  if (m_callback != nullptr && m_callback->Poll() == -1) m_cancelled = true;
  return !m_cancelled;
}

CFileSystemNode* CExt2DirectoryBuilder::Build(const CExt2FileSystem& fs, IDIRBuildCallback* callback,
                                              bool recordUsage) {
  FreeWaiting();
  m_callback = callback;
  m_cancelled = false;
  m_nodeCount = 0;
  m_blockUse.clear();
  m_usageRecorded = false;

  // Files that map their data by extents are found by their inodes but hold nothing readable here;
  // the tree of such a volume is mostly empty, and the log says why.
  if (fs.GetSuperBlock().UsesExtents())
    LogError(
        "Ext2: the volume at sector %lld uses extents (ext4), which are not read: its files are "
        "not listed",
        static_cast<long long>(fs.GetPartitionStart()));
  CFileSystemNode* root = MakeRoot(fs);
  if (recordUsage) {
    // One bit per block, but none for blocks past the device's end: nothing found by signature can
    // lie there, and a damaged block count must not decide how much memory this takes.
    const uint64_t deviceSectors =
        static_cast<uint64_t>(std::max<int64_t>(0, fs.GetDevice()->GetSectorCount()));
    const uint64_t start = static_cast<uint64_t>(fs.GetPartitionStart());
    const uint64_t deviceBlocks =
        deviceSectors > start ? (deviceSectors - start) / fs.GetSuperBlock().GetSectorsPerBlock() : 0;
    m_blockUse.assign(std::min<uint64_t>(fs.GetSuperBlock().GetBlockCount(), deviceBlocks), false);
    m_usageRecorded = true;
  }
  try {
    ScanInodes(fs);
  } catch (const std::exception& e) {
    LogExt2Exception(e);
  }
  if (!m_cancelled) AttachWaitingNodes();
  if (m_cancelled) {
    FreeWaiting();
    FreeFileTree(root);
    m_root = nullptr;
    return nullptr;
  }
  m_parentOfInode.clear();
  m_deletedNames.clear();
  RemoveUnwantedFiles(root);
  m_root = nullptr;
  return root;
}

CFileSystemNode* CExt2DirectoryBuilder::MakeRoot(const CExt2FileSystem& fs) {
  CFileSystemNode* root = CFileSystemNode::CreateInstance();
  CExt2FileProperties* properties = CreateExt2FileProperties();
  CRecoveryContext& context = GetRecoveryContext();
  const int32_t type = fs.GetFileSystemType();
  const std::string name =
      FormatPartitionDisplayName(context.SourceVolumeName, context.SourceDriveLetter, FileSystemText(type),
                                 static_cast<int32_t>(m_partitionIndex + 1));
  properties->SetName(name.c_str());
  properties->SetAttributes(kAttributeFolder);
  properties->SetInodeNumber(2);
  root->SetFileProperties(properties);
  root->SetName(name.c_str());
  root->SetFileSystemType(type);
  // Block runs become sectors through these: block 0 lies at the partition start.
  root->SetPosition(static_cast<uint64_t>(fs.GetPartitionStart()), fs.GetSuperBlock().GetSectorsPerBlock());
  m_root = root;
  try {
    CExt2File rootInode(&fs, 2u);
    if (rootInode.HasValidBlockPointers()) ReadEntries(rootInode, root);
  } catch (const std::exception&) {
    // A root directory that cannot be read leaves its children to hang under the root by number.
  }
  return root;
}

void CExt2DirectoryBuilder::ScanInodes(const CExt2FileSystem& fs) {
  const uint32_t groups = fs.GetGroupCount();
  if (m_callback != nullptr)
    m_callback->BeginStage(corvale::LoadText(kTextReadingFiles).c_str(),
                           static_cast<int32_t>(std::min<uint32_t>(groups, INT32_MAX)));
  GcFileSlot slot;
  uint64_t previousGroup = UINT64_MAX;
  const uint64_t inodesPerGroup = fs.GetSuperBlock().GetInodesPerGroup();
  CExt2InodeIterator it = fs.InodesBegin();
  const CExt2InodeIterator end = fs.InodesEnd();
  for (; !(it == end); ++it) {
    const uint64_t group = (it.GetInodeNumber() - 1) / inodesPerGroup;
    if (group != previousGroup) {
      previousGroup = group;
      if (m_callback != nullptr && m_callback->AddProgress(1) == -1) m_cancelled = true;
    }
    if (!Poll()) return;
    CExt2File* file;
    try {
      file = slot.Replace(it.MakeFile());
    } catch (const std::range_error&) {
      // The group's inode table lies off the device: so do the tables after it.
      throw;
    } catch (const std::exception&) {
      continue;
    }
    try {
      if (file->HasValidBlockPointers()) AddInode(fs, *file);
    } catch (const std::range_error&) {
      throw;
    } catch (const std::exception&) {
    }
  }
}

CExt2FileProperties* CExt2DirectoryBuilder::MakeProperties(const CExt2FileSystem& fs, const CExt2File& file) {
  CExt2FileProperties* properties = CreateExt2FileProperties();
  const CExt2Inode& inode = file.GetInode();
  properties->SetTimes(Ext2TimeToFileTime(inode.GetChangeTime()),
                       Ext2TimeToFileTime(inode.GetModificationTime()),
                       Ext2TimeToFileTime(inode.GetAccessTime()));
  properties->SetSize(file.GetFileSize());
  properties->SetInodeNumber(file.GetInodeNumber());
  properties->SetState(file.IsDeleted() ? CExt2FileProperties::kStateDeleted : 0);
  if (file.IsDirectory()) {
    properties->SetAttributes(kAttributeFolder);
    return properties;
  }
  const bool sparse = file.SizeExceedsAllocation();
  // A live file's missing block inside its size is a hole that reads as zeros, whatever its
  // allocation says (a file whose indirect blocks make up for a hole does not count as sparse by
  // size). A deleted file's missing block may as well be a pointer the deletion cleared: its walk
  // ends there unless its size exceeds its allocation.
  const bool holes = sparse || !file.IsDeleted();

  // The walk covers the logical blocks the file's data needs. Holes are kept as runs of block 0.
  // A file cannot hold more data blocks than the file system has, which bounds what a damaged map
  // can make of it.
  const uint32_t blockSize = fs.GetBlockSize();
  const uint64_t dataBlocks = file.GetDataSize() / blockSize + (file.GetDataSize() % blockSize != 0 ? 1 : 0);
  // Block positions are 32-bit, as in the inode's map.
  const uint64_t walk =
      holes ? std::min({dataBlocks, CExt2BlockIterator::MappableBlocks(blockSize), uint64_t{UINT32_MAX}})
            : std::min<uint64_t>(file.GetBlockCount(), dataBlocks);
  const uint64_t maxDataBlocks = fs.GetSuperBlock().GetBlockCount();
  CExt2DataRunList runs;
  uint64_t used = 0;
  bool hadHole = false;
  CExt2BlockIterator it = file.BlocksBegin();
  for (uint64_t i = 0; i < walk;) {
    const uint32_t block = it.GetPhysicalBlock();
    if (block == 0 && !holes) break;
    // Below an indirect block that could not be read (past the end of a cut device) the blocks are
    // unknown, not holes: the runs end there, so the file is not written as whole with zeros in
    // place of its data, and its recovery fails and is counted.
    if (block == 0 && it.MapUnreadable()) break;
    if (block != 0 && ++used > maxDataBlocks) break;
    // Blocks below a missing indirect block are one hole, taken in one step: a damaged size can
    // otherwise make the walk visit a billion empty blocks one by one.
    const uint64_t step = block != 0 ? 1 : std::min(it.MissingSpan(), walk - i);
    hadHole = hadHole || block == 0;
    runs.AddRun(DataRun{block, step});
    if (block != 0 && m_usageRecorded && block < m_blockUse.size()) m_blockUse[block] = true;
    i += step;
    it.Advance(step);
  }
  // The recovery output writes zeros for runs of block 0 only in files marked so.
  if (sparse || hadHole) properties->SetAttributes(kAttributeSparse);
  if (runs.GetRunCount() != 0) properties->SetPackedRunList(CreatePackedRunList(runs));
  return properties;
}

void CExt2DirectoryBuilder::AddInode(const CExt2FileSystem& fs, const CExt2File& file) {
  const uint32_t n = file.GetInodeNumber();
  CFileNode* node = CFileNode::CreateInstance();
  node->SetFileProperties(MakeProperties(fs, file));
  ++m_nodeCount;
  auto parent = m_parentOfInode.find(n);
  if (parent != m_parentOfInode.end()) {
    CFileNode* directory = parent->second;
    m_parentOfInode.erase(parent);
    std::string name = PropertiesOf(directory)->TakeChildName(n);
    if (name.empty()) name = InodeName(n);
    PropertiesOf(node)->SetName(name.c_str());
    directory->AddChild(node);  // a new node has no children, so it is nobody's ancestor
  } else {
    m_waitingForParent[n] = node;
  }
  if (file.IsDirectory()) ReadEntries(file, node);
}

bool CExt2DirectoryBuilder::IsSelfOrAncestor(const CFileNode* node, const CFileNode* of) const {
  // The tree has no cycles (every attach goes through this test), so the walk up ends at a node
  // without a parent; the count only guards that promise.
  uint64_t steps = 0;
  for (const CFileNode* p = of; p != nullptr && steps <= m_nodeCount + 1; p = p->GetParent(), ++steps)
    if (p == node) return true;
  return false;
}

void CExt2DirectoryBuilder::Attach(CFileNode* node, CFileNode* parent) {
  if (IsSelfOrAncestor(node, parent)) parent = m_root;
  parent->AddChild(node);
}

void CExt2DirectoryBuilder::ReadEntries(const CExt2File& directory, CFileNode* node) {
  try {
    for (CExt2DirEntry e = directory.EntriesBegin(), end = directory.EntriesEnd(); !(e == end); ++e) {
      try {
        CExt2File entry = e.MakeFile();
        if (!entry.HasValidBlockPointers() || IsDotEntry(entry)) continue;
        const uint32_t m = entry.GetInodeNumber();
        const std::string name(entry.GetName(), entry.GetNameLength());
        auto waiting = m_waitingForParent.find(m);
        if (waiting != m_waitingForParent.end()) {
          CFileNode* child = waiting->second;
          m_waitingForParent.erase(waiting);
          PropertiesOf(child)->SetName(name.empty() ? InodeName(m).c_str() : name.c_str());
          Attach(child, node);
        } else {
          PropertiesOf(node)->AddChildName(m, name);
          m_parentOfInode[m] = node;
        }
      } catch (const std::exception&) {
      }
    }
  } catch (const std::exception&) {
    // A directory that cannot be read further ends here; its children are still found by the scan.
  }
  // Entries removed from the directory that its slack still holds: names for deleted inodes that no
  // live entry names. The first directory to hold one for an inode keeps it.
  try {
    const uint32_t inodeCount = directory.GetFileSystem()->GetSuperBlock().GetInodeCount();
    for (Ext2DeletedDirRecord& record : FindDeletedExt2DirRecords(directory)) {
      if (record.inode == 0 || record.inode > inodeCount) continue;
      m_deletedNames.emplace(record.inode, DeletedName{node, std::move(record.name)});
    }
  } catch (const std::exception&) {
  }
}

void CExt2DirectoryBuilder::AttachWaitingNodes() {
  if (m_callback != nullptr)
    m_callback->BeginStage(corvale::LoadText(kTextBuildingDirectories).c_str(),
                           static_cast<int32_t>(std::min<size_t>(m_waitingForParent.size(), INT32_MAX)));
  // Nodes are taken out one at a time, so a cancel leaves the rest to be freed as waiting.
  while (!m_waitingForParent.empty()) {
    if (m_callback != nullptr && m_callback->AddProgress(1) == -1) m_cancelled = true;
    if (!Poll()) return;
    auto first = m_waitingForParent.begin();
    const uint32_t n = first->first;
    CFileNode* node = first->second;
    m_waitingForParent.erase(first);
    CExt2FileProperties* properties = PropertiesOf(node);
    CFileNode* parent = m_root;
    auto removed = m_deletedNames.find(n);
    if (properties->IsDeleted() && removed != m_deletedNames.end() && !removed->second.name.empty()) {
      properties->SetName(removed->second.name.c_str());
      parent = removed->second.directory;
    } else if (properties->GetNameLength() == 0) {
      properties->SetName(InodeName(n).c_str());
    }
    Attach(node, parent);
  }
}

void CExt2DirectoryBuilder::RemoveUnwantedFiles(CFileNode* root) {
  // Iterative: a tree rebuilt from a damaged file system can be deeper than a thread's stack.
  std::vector<CFileNode*> folders{root};
  while (!folders.empty()) {
    CFileNode* folder = folders.back();
    folders.pop_back();
    CFileNode* child = folder->GetFirstChild();
    while (child != nullptr) {
      CFileNode* next = child->GetNextSibling();
      const IFileProperties* properties = child->GetFileProperties();
      if (properties != nullptr && properties->IsFolder()) {
        folders.push_back(child);
      } else if (properties == nullptr || !IsWantedFileType(properties->GetName(), false)) {
        FreeFileTree(child);
      }
      child = next;
    }
  }
}

void CExt2DirectoryBuilder::AddRawFilesFolder(const CExt2FileSystem& fs, CFileSystemNode* root,
                                              CRawFileInfoList* carved) {
  if (!m_usageRecorded) return;
  CClusterUseBitMapInfo info;
  info.bits = &m_blockUse;
  info.firstSector = static_cast<uint64_t>(fs.GetPartitionStart());
  info.sectorsPerCluster = static_cast<uint8_t>(fs.GetSuperBlock().GetSectorsPerBlock());
  info.clusterCount = fs.GetSuperBlock().GetBlockCount();
  CClusterUseBitMap map(info);
  CFileSystemNode* folder = BuildRawFilesFolderOver(fs.GetDevice(), carved, &map, m_callback);
  if (folder != nullptr) root->AddChild(folder);
}
