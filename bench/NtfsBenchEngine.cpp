// The NTFS engine as the recover and scan subcommands use it.
#include "bench/Engines.h"
#include "ntfs/NTFSSearchController.h"
#include "ntfs/NtfsVolumeAnalyze.h"

namespace {

constexpr int32_t kNtfsType = 3;

const EngineRegistration kNtfs({
    "NTFS",
    [](IStorageDevice& device, int64_t start) {
      return CNtfsVolumeAnalyze(&device, uint64_t(start)).GetFileSystemType() == kNtfsType;
    },
    nullptr,  // the volume's directory build
    []() -> IFileSystemSearchController* { return new CNTFSSearchController(); },
});

}  // namespace
