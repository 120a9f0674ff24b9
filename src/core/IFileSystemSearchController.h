#pragma once
// One file system's recogniser in the whole-device search. The search driver offers it every block
// of the device in ascending order; it keeps its own evidence and, once the pass is over, turns that
// evidence into found partitions (or carved files). One object per file system taking part; the
// driver calls it from its worker thread only, one call at a time.
//
// Call order during a pass: SetStorageDevice, SetSectorsPerRead, BeginSearch, AnalyzeBlock for every
// block from the start block on, EndSearch. The device handed to SetStorageDevice is the driver's
// read-ahead cached device and is freed right after EndSearch: a controller must not use it once
// EndSearch has returned (BuildPartitionDirectory gets the device to read from as an argument).
//
// A call that throws is caught by the driver, logged, and the next controller still gets the block;
// the thrower's evidence is then whatever the throw left behind.

#include <cstdint>
#include <memory>
#include <vector>

#include "core/IntelligentSearchSummary.h"

class IStorageDevice;
class IRSData;
class CSearchedPartitionInfo;
class CRawFileInfoList;
class CFileSystemNode;
class IDIRBuildCallback;

// The found partitions of a search, owned by the list's holder.
using SearchedPartitionInfoList = std::vector<std::unique_ptr<CSearchedPartitionInfo>>;

// The kind of a search controller (GetKind), also the kind a saved controller state is tagged with.
// Not the file-system type codes of volumes and partitions.
enum FileSystemSearchControllerKind : int32_t {
  SEARCH_CONTROLLER_NTFS = 0,
  SEARCH_CONTROLLER_FAT = 1,
  SEARCH_CONTROLLER_RAW = 2,
  SEARCH_CONTROLLER_EXT2 = 3,
};

// "NTFS", "FAT", "RAW" or "EXT2"; "UNKNOWN" for any other value.
const char* SearchControllerKindName(int32_t kind);

class IFileSystemSearchController {
 public:
  virtual ~IFileSystemSearchController() = default;
  // The device the blocks are read from.
  virtual void SetStorageDevice(IStorageDevice* device) = 0;
  // The block length, in sectors, that the driver will offer.
  virtual void SetSectorsPerRead(int32_t sectors) = 0;
  // Prepares the evidence tables.
  virtual void BeginSearch() = 0;
  // Turns the collected evidence into found partitions.
  virtual void EndSearch() {}
  // Examines sectors [firstSector, firstSector + sectorCount) and adds to the summary's counters.
  // The result is the controller's own; the driver ignores it.
  virtual int32_t AnalyzeBlock(int64_t firstSector, int64_t sectorCount,
                               IntelligentSearchSummary* summary) = 0;
  // Appends every found partition to `list`; the list's holder owns them from then on.
  virtual void GetResults(SearchedPartitionInfoList* list) = 0;
  // The list of files found by signature, shared by all controllers of a scan (not owned); the
  // directory build uses it.
  virtual void SetResultSink(CRawFileInfoList* sink) = 0;
  // Writes the controller's evidence into the open state section; reads it back. State-stream errors
  // are thrown as IRSException.
  virtual void SaveState(IRSData& writer) = 0;
  virtual void LoadState(IRSData& reader) = 0;
  // One of FileSystemSearchControllerKind.
  virtual int32_t GetKind() = 0;
  // Builds the directory tree of a found partition read from `device` (the source device, not the
  // search's cached one); `index` is the partition's ordinal among those built in this run. Returns
  // the tree's root, owned by the caller, or null when no tree was built.
  virtual CFileSystemNode* BuildPartitionDirectory(CSearchedPartitionInfo* partition, IStorageDevice* device,
                                                   int32_t index, IDIRBuildCallback* callback) {
    (void)partition;
    (void)device;
    (void)index;
    (void)callback;
    return nullptr;
  }
  // Whether BuildPartitionDirectory handles partitions of file-system type code `type`.
  virtual bool AcceptsPartitionType(int32_t type) {
    (void)type;
    return false;
  }
};

// Hands the one list of files found by signature to every controller of a scan, so that all of them
// add to (and build from) the same list.
void SetResultSinkForAllControllers(const std::vector<IFileSystemSearchController*>& controllers,
                                    CRawFileInfoList* sink);

// Every controller's found partitions in one list, in controller order, then weighed, sorted and
// with a layout chosen for a device of `deviceSectors` sectors.
SearchedPartitionInfoList CollectSearchedPartitions(
    const std::vector<IFileSystemSearchController*>& controllers, int64_t deviceSectors);

// Builds the tree of `partition` with the first controller that handles its file-system type
// (the kind of controller that found it), reading from `device`. Null when none handles it, when
// the partition is null, or when the build gives no tree.
CFileSystemNode* BuildDirectoryWithMatchingController(
    const std::vector<IFileSystemSearchController*>& controllers, CSearchedPartitionInfo* partition,
    IStorageDevice* device, int32_t index, IDIRBuildCallback* callback);

class IContainerofFileSystemSearchController {
 public:
  virtual ~IContainerofFileSystemSearchController() = default;
  virtual void AddFileSystemSearchController(IFileSystemSearchController* controller) = 0;
};
