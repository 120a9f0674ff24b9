#pragma once
// Builds the directory tree of one volume under the directory-build window: the program's windows
// are disabled, the window is shown, the file-system engine builds the tree on the window's worker
// while this thread stays in the window's event loop, and everything is torn down again when the
// worker ends.
// A cancelled build leaves nothing behind: what the engine returned is freed and null is returned,
// with IsCancelled true.

#include <cstdint>
#include <functional>

class CBuildDirectoryDlg;
class CFileSystemNode;
class IStorageDevice;

class CDirectoryTreeBuilder {
 public:
  // The tree of the volume on `partition` (its sector 0 is the volume's first sector), built by the
  // engine of file-system code `fileSystemCode` (FileSystemCode.h): NTFS; FAT12, FAT16 and FAT32;
  // Ext2 and Ext3. Null for another code, when no engine of that kind is registered, when the build
  // fails, and when it is cancelled.
  CFileSystemNode* BuildDirectoryTree(int32_t fileSystemCode, IStorageDevice* partition);
  CFileSystemNode* BuildNTFSDirectoryTree(IStorageDevice* partition);
  CFileSystemNode* BuildFATDirectoryTree(IStorageDevice* partition);
  CFileSystemNode* BuildExt2DirectoryTree(IStorageDevice* partition);

  // True when the user confirmed Cancel during the last build.
  bool IsCancelled() const { return m_cancelled; }
  // After a build that was not cancelled: the id of the engine's notice about the volume (files it
  // cannot read), or 0.
  uint32_t GetVolumeNotice() const { return m_notice; }

  // Called on this thread with the window once it is shown and before the build starts (tests act
  // on the window here). Returns the previous hook.
  using ShownHook = std::function<void(CBuildDirectoryDlg& dialog)>;
  static ShownHook SetShownHook(ShownHook hook);

 private:
  CFileSystemNode* Build(int32_t engineKind, IStorageDevice* partition);

  bool m_cancelled = false;
  uint32_t m_notice = 0;
};
