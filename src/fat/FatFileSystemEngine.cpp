#include "fat/FatFileSystemEngine.h"

#include "core/FileSystemEngine.h"
#include "fat/FATDBR.h"
#include "fat/FATDirectoryBuilder.h"
#include "fat/FATSearchController.h"
#include "fat/FATSearchedPartitionInfo.h"
#include "fat/FatVolumeAnalyze.h"
#include "fat/PartitionFATSearchController.h"
#include "platform/RecoveryContext.h"

namespace {

int32_t FatType(IStorageDevice& device, int64_t start) {
  return start < 0 ? kFatTypeNone
                   : CFatVolumeAnalyze(&device, static_cast<uint64_t>(start)).GetFileSystemType();
}

// The quick build, as a volume's Deleted File Recovery runs it: the boot sector at the start vouches
// for the volume, and the FAT copies are used as the recovery settings allow.
CFileSystemNode* BuildFatTree(IStorageDevice& device, int64_t start, IDIRBuildCallback* callback) {
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
}

}  // namespace

bool RegisterFATFileSystemEngine() {
  FileSystemEngine engine;
  engine.kind = kEngineFat;
  engine.name = "FAT";
  engine.analyseVolume = [](IStorageDevice& device, uint64_t start) -> std::unique_ptr<IVolume> {
    return std::make_unique<CFatVolumeAnalyze>(&device, start);
  };
  engine.buildTree = &BuildFatTree;
  engine.makeSearchController = []() -> IFileSystemSearchController* { return new CFATSearchController(); };
  engine.makePartitionTester = []() -> IPartitionFileSystemSearchController* {
    return new CPartitionFATSearchController();
  };
  return RegisterFileSystemEngine(std::move(engine));
}
