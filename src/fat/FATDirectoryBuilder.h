#pragma once
// CFATDirectoryBuilder: turns a FAT volume into a tree of found files and folders, live and deleted,
// each carrying its CFATFileProperties. The quick build reads the boot sector, then walks the
// directories from the root through the FAT. The work runs on a worker thread while the calling
// thread keeps its pump turning; progress and cancel go through an IDIRBuildCallback.
#include <cstdint>
#include <functional>

#include "core/FileNode.h"
#include "core/IDIRBuildCallback.h"
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

class CFATDirectoryBuilder {
 public:
  // Turned while the caller waits for the worker (a UI hands its event processing in).
  using MessagePump = std::function<void()>;

  explicit CFATDirectoryBuilder(MessagePump pump = {}) : m_pump(std::move(pump)) {}

  // The quick build. Returns the root node (owned by the caller, freed with FreeFileTree), or null
  // when no boot sector could be used, the build was cancelled or the worker could not start.
  // Without `includeExisting` live files in live folders are left out.
  CFileSystemNode* Build(IDIRBuildCallback* callback, const FATBuildSource& source, IStorageDevice* device,
                         bool includeExisting);

 private:
  MessagePump m_pump;
};
