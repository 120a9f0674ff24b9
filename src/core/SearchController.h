#pragma once
// STAND-IN until the search driver's interface lands; replaced at the merge.
#include <cstdint>
#include <list>

class IStorageDevice;
class IRSData;
class CSearchedPartitionInfo;

struct IntelligentSearchSummary {
  int64_t PartitionTables = 0;
  int64_t FATBootRecords = 0;
  int64_t FATFolders = 0;
  int64_t FATFolderParts = 0;
  int64_t NTFSBootRecords = 0;
  int64_t NTFSFileRecords = 0;
  int64_t FilesIdentified = 0;
  int64_t TotalFilesFound = 0;
  int64_t Work[8] = {};
};

constexpr int kSearchControllerRaw = 2;

class IFileSystemSearchController {
 public:
  virtual ~IFileSystemSearchController() = default;
  virtual void SetStorageDevice(IStorageDevice* device) = 0;
  virtual void SetSectorsPerRead(int sectors) = 0;
  virtual void BeginSearch() = 0;
  virtual void EndSearch() {}
  virtual int AnalyzeBlock(int64_t firstSector, int64_t sectorCount, IntelligentSearchSummary* summary) = 0;
  virtual void GetResults(std::list<CSearchedPartitionInfo*>* results) = 0;
  virtual void SetResultSink(void* sink) = 0;
  virtual void SaveState(IRSData* stream) = 0;
  virtual void LoadState(IRSData* stream) = 0;
  virtual int GetKind() = 0;
};
