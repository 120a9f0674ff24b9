#include "ntfs/NtfsFileSystemEngine.h"

#include "core/FileSystemEngine.h"
#include "ntfs/NTFSDirectoryBuilder.h"
#include "ntfs/NTFSSearchController.h"
#include "ntfs/NtfsVolumeAnalyze.h"
#include "ntfs/PartitionNTFSSearchController.h"

bool RegisterNTFSFileSystemEngine() {
  FileSystemEngine engine;
  engine.kind = kEngineNtfs;
  engine.name = "NTFS";
  engine.analyseVolume = [](IStorageDevice& device, uint64_t start) -> std::unique_ptr<IVolume> {
    return std::make_unique<CNtfsVolumeAnalyze>(&device, start);
  };
  engine.buildTree = [](IStorageDevice& device, int64_t start,
                        IDIRBuildCallback* callback) -> CFileSystemNode* {
    if (start < 0) return nullptr;
    return CNTFSDirectoryBuilder().Build(uint64_t(start), &device, callback);
  };
  engine.makeSearchController = []() -> IFileSystemSearchController* { return new CNTFSSearchController(); };
  engine.makePartitionTester = []() -> IPartitionFileSystemSearchController* {
    return new CPartitionNTFSSearchController();
  };
  return RegisterFileSystemEngine(std::move(engine));
}
