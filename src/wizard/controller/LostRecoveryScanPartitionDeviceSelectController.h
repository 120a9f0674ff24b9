#pragma once
// The controller of partition recovery's found-partition page (page 8). After the search of a whole
// disk it holds what the search produced: the partitions found, the file-system search controllers
// that found them (each one builds its own partitions' trees) and the list of files found by
// signature, which they share. It shows the partitions on the page and, on Next, builds the tree of
// each ticked partition (at most four) from the disk, each under its own build window, and hands
// the trees, under one root, to the file step. The disk is always the one chosen on the disk page.

#include <chrono>
#include <memory>
#include <vector>

#include "core/IFileSystemSearchController.h"
#include "core/StateSections.h"
#include "wizard/controller/ScanPartitionDeviceSelectControllerBase.h"

class CLostRecoveryScanPartitionDeviceSelectPage;
class CRawFileInfoList;

class CLostRecoveryScanPartitionDeviceSelectController : public CScanPartitionDeviceSelectControllerBase {
 public:
  static constexpr int kStateTypeId = 4;
  // Usage events: Next (time on the page), a cancelled build and a finished one (time building).
  static constexpr int kEventNext = 8245;
  static constexpr int kEventCancelled = 8246;
  static constexpr int kEventBuilt = 8247;

  CLostRecoveryScanPartitionDeviceSelectController();
  ~CLostRecoveryScanPartitionDeviceSelectController() override;

  // Takes over what a whole-disk search produced (what was held before is freed), shows the
  // partitions and saves the scan state.
  void SetSearchResults(SearchedPartitionInfoList found, SearchControllerList controllers,
                        std::unique_ptr<CRawFileInfoList> rawFiles);
  const SearchedPartitionInfoList& FoundPartitions() const { return HeldResults().found; }
  std::vector<IFileSystemSearchController*> Controllers() const { return HeldResults().ControllerPointers(); }
  CRawFileInfoList* RawFiles() const { return HeldResults().rawFiles.get(); }
  // True when the last Next stopped because the user cancelled a build.
  bool WasCancelled() const { return LastBuildCancelled(); }

  void SetPage(CLostRecoveryScanPartitionDeviceSelectPage* page);
  CLostRecoveryScanPartitionDeviceSelectPage* GetPage() const { return m_page; }

 protected:
  IStorageDevice* SourceDevice() override;
  bool ReadyForTicks(IStorageDevice* device) const override { return device && m_page; }
  void ShowOnPage(const std::vector<CSearchedPartitionInfo*>& partitions) override;
  bool BuildTrees(const std::vector<TickedPartition>& ticked, IStorageDevice* device, CFileSystemNode* root,
                  std::chrono::steady_clock::time_point buildStart) override;
  int BuiltEventId() const override { return kEventBuilt; }

 private:
  struct DiskRecord* SourceDisk() const;

  CLostRecoveryScanPartitionDeviceSelectPage* m_page = nullptr;
};

CLostRecoveryScanPartitionDeviceSelectController* GetLostRecoveryScanPartitionDeviceSelectController();
