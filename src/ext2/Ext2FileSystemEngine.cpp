#include "ext2/Ext2FileSystemEngine.h"

#include "core/FileSystemEngine.h"
#include "ext2/EXT2SearchController.h"
#include "ext2/Ext2DirectoryBuilder.h"
#include "ext2/Ext2Volume.h"
#include "ext2/PartitionEXT2SearchController.h"
#include "ext2/Superblock.h"
#include "storage/IStorageDevice.h"

bool RegisterExt2FileSystemEngine() {
  FileSystemEngine engine;
  engine.kind = kEngineExt2;
  engine.name = "Ext2";
  engine.analyseVolume = [](IStorageDevice& device, uint64_t start) -> std::unique_ptr<IVolume> {
    if (start > static_cast<uint64_t>(INT64_MAX)) return nullptr;
    return std::make_unique<CExt2Volume>(&device, static_cast<int64_t>(start));
  };
  engine.buildTree = [](IStorageDevice& device, int64_t start,
                        IDIRBuildCallback* callback) -> CFileSystemNode* {
    // The engine reads in 512-byte sectors; the superblock lies 1024 bytes into the volume.
    const int32_t sectorSize = device.GetSectorSize();
    if (start < 0 || sectorSize < 512) return nullptr;
    const int64_t factor = sectorSize / 512;
    CExt2DirectoryBuilder builder;
    return builder.BuildFromVolume(device.GetDeviceWith512ByteSectors(), callback, start * factor + 2, 0);
  };
  engine.volumeNotice = [](IStorageDevice& device, int64_t start) -> uint32_t {
    // The superblock says whether the files use extents; the primary copy is read (a backup says
    // the same of the same volume).
    const int32_t sectorSize = device.GetSectorSize();
    if (start < 0 || sectorSize < 512 || start > INT64_MAX / 16) return 0;
    IStorageDevice* device512 = device.GetDeviceWith512ByteSectors();
    uint8_t bytes[ext2sb::kSize] = {};
    const uint64_t sector = static_cast<uint64_t>(start) * (sectorSize / 512) + 2;
    if (device512 == nullptr || !device512->ReadSectors(bytes, sector, ext2sb::kSize / 512)) return 0;
    const CExt2SuperBlock superBlock(bytes);
    return superBlock.GetMagic() == ext2sb::kMagicValue && superBlock.UsesExtents() ? kStringExt2Extents : 0;
  };
  engine.makeSearchController = []() -> IFileSystemSearchController* { return new CEXT2SearchController(); };
  engine.makePartitionTester = []() -> IPartitionFileSystemSearchController* {
    return new CPartitionEXT2SearchController();
  };
  return RegisterFileSystemEngine(std::move(engine));
}
