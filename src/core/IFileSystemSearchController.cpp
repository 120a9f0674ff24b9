#include "core/IFileSystemSearchController.h"

#include "core/PartitionCandidateSelection.h"
#include "core/SearchedPartitionInfo.h"

const char* SearchControllerKindName(int32_t kind) {
  switch (kind) {
    case SEARCH_CONTROLLER_NTFS:
      return "NTFS";
    case SEARCH_CONTROLLER_FAT:
      return "FAT";
    case SEARCH_CONTROLLER_RAW:
      return "RAW";
    case SEARCH_CONTROLLER_EXT2:
      return "EXT2";
  }
  return "UNKNOWN";
}

void SetResultSinkForAllControllers(const std::vector<IFileSystemSearchController*>& controllers,
                                    CRawFileInfoList* sink) {
  for (IFileSystemSearchController* controller : controllers)
    if (controller) controller->SetResultSink(sink);
}

SearchedPartitionInfoList CollectSearchedPartitions(
    const std::vector<IFileSystemSearchController*>& controllers, int64_t deviceSectors) {
  SearchedPartitionInfoList found;
  for (IFileSystemSearchController* controller : controllers)
    if (controller) controller->GetResults(&found);
  ComputePartitionWeights(found);
  SortSearchedPartitions(found);
  SelectPartitionLayout(found, deviceSectors);
  return found;
}

CFileSystemNode* BuildDirectoryWithMatchingController(
    const std::vector<IFileSystemSearchController*>& controllers, CSearchedPartitionInfo* partition,
    IStorageDevice* device, int32_t index, IDIRBuildCallback* callback) {
  if (partition == nullptr || device == nullptr) return nullptr;
  const int32_t type = partition->GetFileSystemType();
  for (IFileSystemSearchController* controller : controllers)
    if (controller && controller->AcceptsPartitionType(type))
      return controller->BuildPartitionDirectory(partition, device, index, callback);
  return nullptr;
}
