#pragma once
// CExt2DirectoryBuilder: turns an Ext2/Ext3 file system into a tree of found files.
//
// It does not walk down from the root: it reads every inode of every group, so deleted files whose
// directory entries are gone are found too, and it names each inode from the directory entry that
// names it, wherever in the scan that entry is met (a child met before its directory waits for it;
// a name met before its inode is kept by the directory's properties). An inode no live entry names
// takes the name a removed entry still holds in a directory's slack when the inode is deleted, and
// otherwise hangs under the partition's root as "Inode_%lx". A directory that would become its own
// ancestor also hangs under the root, so no subtree is lost.
//
// The build runs on the thread that calls it (a window calls it from its job's worker); progress and
// cancel go through an IDIRBuildCallback, on that thread. A cancelled build gives no tree.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

class CExt2File;
class CExt2FileSystem;
class CExt2FileProperties;
class CFileNode;
class CFileSystemNode;
class CRawFileInfoList;
class IDIRBuildCallback;
class IStorageDevice;

class CExt2DirectoryBuilder {
 public:
  CExt2DirectoryBuilder() = default;
  // Frees whatever a build left waiting.
  ~CExt2DirectoryBuilder();
  CExt2DirectoryBuilder(const CExt2DirectoryBuilder&) = delete;
  CExt2DirectoryBuilder& operator=(const CExt2DirectoryBuilder&) = delete;

  // The tree of the file system whose superblock copy is at `superBlockSector` of `device`, counted in
  // 512-byte sectors (the device is read through its 512-byte view). With `recordUsage` the blocks of the
  // files found are recorded (GetBlockUse). Null when the file system cannot be opened, the build was
  // cancelled.
  CFileSystemNode* BuildFromVolume(IStorageDevice* device, IDIRBuildCallback* callback,
                                   int64_t superBlockSector, uint32_t recordUsage);
  // The tree of a partition the scan found, opened by the caller; `carved` (may be null) holds the
  // files the same scan found by signature: those over blocks no found file uses become the root's
  // "Raw Files" folder. `partitionIndex` + 1 is the number in the root's name.
  CFileSystemNode* BuildFromSearchRecord(const CExt2FileSystem* fs, IDIRBuildCallback* callback,
                                         CRawFileInfoList* carved, uint32_t partitionIndex);

  // The build itself, on the calling thread (which must be registered with the collector).
  CFileSystemNode* Build(const CExt2FileSystem& fs, IDIRBuildCallback* callback, bool recordUsage);

  bool WasCancelled() const { return m_cancelled; }
  // One bit per block of the file system (as far as the device reaches) once usage was recorded.
  const std::vector<bool>& GetBlockUse() const { return m_blockUse; }
  bool IsUsageRecorded() const { return m_usageRecorded; }

 private:
  struct DeletedName {
    CFileNode* directory = nullptr;
    std::string name;
  };

  // Runs `job` on the calling thread, registered with the collector for its length.
  CFileSystemNode* RunRegistered(const std::function<CFileSystemNode*()>& job);
  CFileSystemNode* MakeRoot(const CExt2FileSystem& fs);
  void ScanInodes(const CExt2FileSystem& fs);
  void AddInode(const CExt2FileSystem& fs, const CExt2File& file);
  CExt2FileProperties* MakeProperties(const CExt2FileSystem& fs, const CExt2File& file);
  void ReadEntries(const CExt2File& directory, CFileNode* node);
  void AttachWaitingNodes();
  void RemoveUnwantedFiles(CFileNode* root);
  void AddRawFilesFolder(const CExt2FileSystem& fs, CFileSystemNode* root, CRawFileInfoList* carved);
  // Puts `node` under `parent`, or under the root when `node` is `parent` or one of its ancestors.
  void Attach(CFileNode* node, CFileNode* parent);
  bool IsSelfOrAncestor(const CFileNode* node, const CFileNode* of) const;
  bool Poll();
  void FreeWaiting();

  uint32_t m_partitionIndex = 0;
  bool m_cancelled = false;
  bool m_usageRecorded = false;
  std::vector<bool> m_blockUse;
  IDIRBuildCallback* m_callback = nullptr;
  CFileSystemNode* m_root = nullptr;
  uint64_t m_nodeCount = 0;
  // Nodes made from inodes that no directory entry has named yet.
  std::map<uint32_t, CFileNode*> m_waitingForParent;
  // Directories whose entries name an inode that has no node yet (the name is in their properties).
  std::map<uint32_t, CFileNode*> m_parentOfInode;
  // Names that removed entries in a directory's slack still give to an inode.
  std::map<uint32_t, DeletedName> m_deletedNames;
};
