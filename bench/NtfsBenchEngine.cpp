// The NTFS engine as the recover and scan subcommands use it.
#include "bench/Engines.h"
#include "ntfs/NTFSDirectoryBuilder.h"
#include "ntfs/NTFSSearchController.h"
#include "ntfs/NtfsVolumeAnalyze.h"
#include "storage/FileSystemCode.h"

namespace {

const EngineRegistration kNtfs({
    "NTFS",
    [](IStorageDevice& device, int64_t start) {
      return CNtfsVolumeAnalyze(&device, uint64_t(start)).GetFileSystemType() == kFileSystemNtfs;
    },
    [](IStorageDevice& device, int64_t start, IDIRBuildCallback* callback) -> CFileSystemNode* {
      return CNTFSDirectoryBuilder().Build(uint64_t(start), &device, callback);
    },
    []() -> IFileSystemSearchController* { return new CNTFSSearchController(); },
});

}  // namespace
