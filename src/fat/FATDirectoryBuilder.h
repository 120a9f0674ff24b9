#pragma once
// CFATDirectoryBuilder: turns a FAT volume into a tree of found files and folders, live and deleted,
// each carrying its CFATFileProperties. The quick build reads the boot sector, then walks the
// directories from the root through the FAT. The complete build works on a partition the
// whole-device search rebuilt: besides the root (when a boot sector vouched for one) it reads every
// directory sector the search recorded, gives orphaned folders their parents or a "Lost Folders"
// folder, reads lost directory clusters, and hangs the files found by signature in unused clusters
// under a "Raw Files" folder. The work runs on the thread that calls it (a window calls it from its
// job's worker); progress and cancel go through an IDIRBuildCallback.
#include <cstdint>
#include <functional>

#include "core/FileNode.h"
#include "core/IDIRBuildCallback.h"
#include "fat/FATDirSectorRecord.h"
#include "storage/IStorageDevice.h"

// Where a FAT partition lies and what vouches for it.
struct FATBuildSource {
  uint64_t startSector = 0;
  // Evidence flags: 0x01/0x02/0x04 a boot sector at the start, 0x08 its copy at start + 6,
  // 0x80 use the first FAT copy, 0x200 use the second.
  uint32_t evidenceFlags = 0;
};

namespace corvale::fat {
inline constexpr uint32_t kEvidenceBootSector = 0x07;
inline constexpr uint32_t kEvidenceBackupBootSector = 0x08;
inline constexpr uint32_t kEvidenceFirstFat = 0x80;
inline constexpr uint32_t kEvidenceSecondFat = 0x200;
}  // namespace corvale::fat

class CFATSearchedPartitionInfo;
class CRawFileInfoList;

class CFATDirectoryBuilder {
 public:
  // The quick build. Returns the root node (owned by the caller, freed with FreeFileTree), or null
  // when no boot sector could be used or the build was cancelled.
  // Without `includeExisting` live files in live folders are left out.
  CFileSystemNode* Build(IDIRBuildCallback* callback, const FATBuildSource& source, IStorageDevice* device,
                         bool includeExisting);

  // The complete build of a partition the search found, read from `device` (the device the
  // partition's sectors are numbered on). `records` are the directory sectors the search saw;
  // `rawFiles` the files it found by signature (may be null); `index` numbers the partition among
  // those built in this run. Returns the root node (owned by the caller), or null when the
  // partition's geometry cannot be used or the build was cancelled.
  CFileSystemNode* BuildComplete(IDIRBuildCallback* callback, const CFATDirSectorSet& records,
                                 const CFATSearchedPartitionInfo& partition, CRawFileInfoList* rawFiles,
                                 IStorageDevice* device, int32_t index);
};
