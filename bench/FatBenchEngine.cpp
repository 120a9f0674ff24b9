// The FAT engine as the recover and scan subcommands use it.
#include "bench/Engines.h"
#include "fat/FATDBR.h"
#include "fat/FATDirectoryBuilder.h"
#include "fat/FATSearchController.h"
#include "fat/FATSearchedPartitionInfo.h"
#include "fat/FatVolumeAnalyze.h"
#include "platform/RecoveryContext.h"

namespace {

int32_t FatType(IStorageDevice& device, int64_t start) {
  return start < 0 ? kFatTypeNone : CFatVolumeAnalyze(&device, static_cast<uint64_t>(start)).GetFileSystemType();
}

const EngineRegistration kFat({
    "FAT",
    [](IStorageDevice& device, int64_t start) { return FatType(device, start) != kFatTypeNone; },
    // The quick build, as a volume's Deleted File Recovery runs it: the boot sector at the start
    // vouches for the volume, and the FAT copies are used as the recovery settings allow.
    [](IStorageDevice& device, int64_t start, IDIRBuildCallback* callback) -> CFileSystemNode* {
      const int32_t type = FatType(device, start);
      if (type == kFatTypeNone) return nullptr;
      const CRecoveryContext& context = GetRecoveryContext();
      FATBuildSource source;
      source.startSector = static_cast<uint64_t>(start);
      source.evidenceFlags = (type == kFatType32   ? kFatFromFat32BootSector
                              : type == kFatType16 ? kFatFromFat16BootSector
                                                   : kFatFromFat12BootSector) |
                             (context.UseFirstFatCopy ? corvale::fat::kEvidenceFirstFat : 0u) |
                             (context.UseSecondFatCopy ? corvale::fat::kEvidenceSecondFat : 0u);
      CFATDirectoryBuilder builder;
      return builder.Build(callback, source, &device, true);
    },
    []() -> IFileSystemSearchController* { return new CFATSearchController(); },
});

}  // namespace
