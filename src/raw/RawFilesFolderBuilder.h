#pragma once
// CRawFilesFolderBuilder: turns the files found by signature into the folder "Raw Files" of the
// found-file tree, with one subfolder per file type and numbered names (carved files have no names of
// their own). It keeps only the chosen file types, drops files that start in clusters a file system
// still uses, measures the files whose size the scan left at 0, drops JPEG images that are embedded
// copies inside a larger JPEG, caps sizes, and splits large type folders into subfolders of 300.
//
// The tree it returns (root, folders, files and their properties) belongs to the caller and is freed
// with FreeFileTree. The found-file records are only read, except that a record measured here gets
// its size set back to 0, so that a later build over another partition measures it again.
//
// The analyser list and its reader buffers are used without locks: no search may run meanwhile.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/Iterator.h"

class CFileNode;
class CFileSystemNode;
class CRAWFileProperties;
class CRawFileInfo;
class IDIRBuildCallback;
class IIsClusterUsed;
class IStorageDevice;

class CRawFilesFolderBuilder {
 public:
  static constexpr int32_t kTypeCount = 2000;
  // Files per range folder of a large type folder.
  static constexpr int32_t kFilesPerFolder = 300;
  // Longest folder and file name, without the NUL.
  static constexpr size_t kMaxNodeName = 79;
  // The text of the build's progress step.
  static constexpr uint32_t kBuildingTextId = 482;
  // The analyser whose images may hold embedded copies of smaller ones.
  static constexpr int32_t kJpegAnalyserId = 33;

  CRawFilesFolderBuilder();
  CRawFilesFolderBuilder(const CRawFilesFolderBuilder&) = delete;
  CRawFilesFolderBuilder& operator=(const CRawFilesFolderBuilder&) = delete;

  // Builds the folder over the files of `files` (from its first element). `usedClusters` may be
  // null (no file system over the files), and so may `callback`. With `inWorkerThread` 0 it builds
  // in the calling thread; otherwise on a thread of its own while the calling thread waits, and when
  // no thread can be started it returns what the builder held before (null on a fresh builder).
  // Null when RAW recovery is off. A cancel through the callback ends the walk after the current
  // file; the folder built so far is returned with its names finished.
  CFileSystemNode* BuildRawFilesFolder(IStorageDevice* device, IIterator<CRawFileInfo*>* files,
                                       IIsClusterUsed* usedClusters, IDIRBuildCallback* callback,
                                       int inWorkerThread);

  // The records (from the first) for which there is no map, no record, or whose start sector
  // times `sectorRatio` the map reports as not used.
  static int CountFilesOutsideUsedClusters(IIterator<CRawFileInfo*>* files, IIsClusterUsed* usedClusters,
                                           uint64_t sectorRatio = 1);

  // The name of the next file of type `id`: "<prefix><count>.<ext>", or "FILE<count>.<ext>" without
  // a prefix, the count at least three digits wide. The prefix is cut so that the name fits in
  // kMaxNodeName bytes; characters no file name may hold become '_'.
  std::string FileName(int32_t id, const std::string& prefix) const;

  bool IsRootCreated() const { return m_rootCreated != 0; }
  bool AreNamesFinished() const { return m_namesFinished != 0; }
  int GetFileCount(int32_t id) const;

 private:
  CFileSystemNode* Build();
  void CreateRoot();
  CFileNode* CreateTypeFolder(int32_t id);
  // `startSector` in the unit the tree's runs are read in.
  void AddFile(const CRawFileInfo& file, uint64_t startSector);
  void FinishNames();

  int32_t m_rootCreated = 0;
  int32_t m_namesFinished = 0;
  CFileSystemNode* m_root = nullptr;
  std::vector<int> m_fileCounts;
  std::vector<CFileNode*> m_typeFolders;

  // What the build works on, set before it starts.
  IStorageDevice* m_device = nullptr;
  IIterator<CRawFileInfo*>* m_files = nullptr;
  IIsClusterUsed* m_usedClusters = nullptr;
  IDIRBuildCallback* m_callback = nullptr;
};
