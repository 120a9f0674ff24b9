#pragma once
// The directory-tree build of an NTFS partition: every live and deleted file of its MFT becomes a
// node of the found-file tree, placed under its parent folder; files whose folder is gone are
// gathered in "LostFiles%d" folders under the root.
//
// Two ways in, sharing the record-to-entry step and the linking:
//  - CNTFSDirectoryBuilder::Build reads an existing volume through its boot sector and the $MFT's
//    own run list, 128 sectors at a time;
//  - BuildNTFSTreeOfSearchedPartitionInThread reads a partition that the whole-device search rebuilt,
//    through the runs of FILE-record sectors the search saw, and hangs the signature-found files
//    over unused clusters beside the tree.
//
// Both run on the thread that calls them (a window calls them from its job's worker), and report
// progress and poll for cancel through IDIRBuildCallback.
//
// Linking never recurses: folders are taken breadth-first from a work list, and every entry is
// linked at most once, so parent cycles and records naming themselves as parent cannot loop; such
// entries end up in a LostFiles folder.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ntfs/NTFSFileProperties.h"
#include "ntfs/NTFSMFTLocation.h"
#include "ntfs/SearchedNTFSPartitionInfo.h"

class CFileNode;
class CFileSystemNode;
class CNTFSRecordSectorRunList;
class CRawFileInfoList;
class CSearchedPartitionInfo;
class IDIRBuildCallback;
class IStorageDevice;

// One accepted FILE record, held by the build until it is linked into the tree.
struct CNTFSFileEntry {
  uint32_t isDirectory = 0;   // the record header's directory flag
  int64_t recordSector = -1;  // absolute device sector of the record
  int64_t parent = -1;        // record number of the parent folder; -1 unknown
  std::unique_ptr<CNTFSFileProperties> properties;
  int64_t recordNumber = -1;  // own record number; -1 unknown
  // The record lies past the initialized size of its MFT: it was left by a volume formatted over,
  // and its parent number names a folder of that older volume, not of this one. Such an entry goes
  // only through the orphan pass.
  bool pastInitializedSize = false;
};

// An MFT that fits a rebuilt partition, the entries whose records lie in it and the root its files
// are linked under.
struct CNTFSMFTGroup {
  CNTFSMFTLocation location;
  std::vector<CNTFSFileEntry> entries;
  CFileNode* root = nullptr;
};

class CNTFSDirectoryBuilder {
 public:
  // The tree of the NTFS volume whose boot sector is at `partitionStart` (device sectors). Returns
  // the root node (owned by the caller, freed with FreeFileTree), or null: no usable boot sector, no
  // readable $MFT or $MFTMirr record, FILE records or clusters smaller than a device sector, or a
  // cancel. A volume with no user files (freshly formatted) gives a root
  // without children: it is an empty volume, not a failure.
  CFileSystemNode* Build(uint64_t partitionStart, IStorageDevice* device, IDIRBuildCallback* callback);

  // MFT records looked at by the last build (for measuring).
  uint64_t GetRecordCount() const { return m_records; }

 private:
  CFileSystemNode* Run();
  CFileSystemNode* BuildNTFSTreeOfVolume();

  IStorageDevice* m_device = nullptr;
  IDIRBuildCallback* m_callback = nullptr;
  CSearchedNTFSPartitionInfo m_partition{512};
  int64_t m_lastSector = -1;
  uint32_t m_sectorSize = 512;
  uint32_t m_sectorsPerCluster = 0;
  uint64_t m_records = 0;
};

// What the whole-device search kept for the build of a partition it rebuilt.
struct NTFSFoundRecordLists {
  // The MFTs the search saw ($MFT record and its runs).
  const std::vector<std::unique_ptr<CNTFSMFTLocation>>* mftLocations = nullptr;
  // The sectors where it saw FILE records.
  const CNTFSRecordSectorRunList* recordSectors = nullptr;
  // The files found by signature, for the "Raw Files" folder (may be null).
  CRawFileInfoList* signatureFiles = nullptr;
};

// The tree of a partition the search rebuilt. `partition` must be a CSearchedNTFSPartitionInfo;
// `sectorSize` is the device's (0: asked of the device); `index` is the partition's number among
// those built in this run, shown in the root's name. The callback may be null. Returns the root
// (owned by the caller) or null when the partition is of another kind or nothing was found.
CFileSystemNode* BuildNTFSTreeOfSearchedPartitionInThread(const NTFSFoundRecordLists& found,
                                                          CSearchedPartitionInfo* partition,
                                                          IStorageDevice* device, uint32_t sectorSize,
                                                          int32_t index, IDIRBuildCallback* callback);
