// The Ext2/Ext3 engine as the recover and scan subcommands use it.
#include "bench/Engines.h"
#include "ext2/EXT2SearchController.h"
#include "ext2/Ext2DirectoryBuilder.h"
#include "ext2/Ext2Volume.h"
#include "storage/FileSystemCode.h"
#include "storage/IStorageDevice.h"

namespace {

const EngineRegistration kExt2({
    "Ext2",
    [](IStorageDevice& device, int64_t start) {
      const int32_t type = CExt2Volume(&device, start).GetFileSystemType();
      return type == kFileSystemExt2 || type == kFileSystemExt3;
    },
    [](IStorageDevice& device, int64_t start, IDIRBuildCallback* callback) -> CFileSystemNode* {
      // The engine reads in 512-byte sectors; the superblock lies 1024 bytes into the volume.
      const int32_t sectorSize = device.GetSectorSize();
      if (start < 0 || sectorSize < 512) return nullptr;
      const int64_t factor = sectorSize / 512;
      CExt2DirectoryBuilder builder;
      return builder.BuildFromVolume(device.GetDeviceWith512ByteSectors(), callback, start * factor + 2, 0);
    },
    []() -> IFileSystemSearchController* { return new CEXT2SearchController(); },
});

}  // namespace
