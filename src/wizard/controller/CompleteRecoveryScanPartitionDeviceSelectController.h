#pragma once
// The controller of format recovery's found-partition page (page 7). It owns what a whole-device
// search produced (the found partitions, the search controllers that found them and the files found
// by signature), shows the partitions for ticking, and on Next builds one directory tree per ticked
// partition (at most four) under a common root for the file step, under one directory-build window.
// Its part of a saved format recovery is the search result itself, so a restored scan can be built
// again without searching.

#include <chrono>
#include <vector>

#include "wizard/controller/ScanPartitionDeviceSelectControllerBase.h"

class CCompleteRecoveryScanPartitionDeviceSelectPage;

class CCompleteRecoveryScanPartitionDeviceSelectController : public CScanPartitionDeviceSelectControllerBase {
 public:
  static constexpr int kStateTypeId = 1;
  // Usage events: Next pressed, the build cancelled, the trees built (format / partition recovery).
  static constexpr int kEventNext = 8217;
  static constexpr int kEventCancelled = 8224;
  static constexpr int kEventBuiltFormat = 8225;
  static constexpr int kEventBuiltPartition = 8247;

  CCompleteRecoveryScanPartitionDeviceSelectController();
  ~CCompleteRecoveryScanPartitionDeviceSelectController() override;

  // Takes a search's result over (freeing what was held before), shows the partitions and saves
  // the scan state.
  void SetSearchResults(WholeDeviceSearchOutcome results);
  const WholeDeviceSearchOutcome& Results() const { return HeldResults(); }
  // Whether the last Next stopped because the user cancelled the build.
  bool WasLastBuildCancelled() const { return LastBuildCancelled(); }

  void SetPage(CCompleteRecoveryScanPartitionDeviceSelectPage* page);
  CCompleteRecoveryScanPartitionDeviceSelectPage* GetPage() const { return m_page; }

 protected:
  IStorageDevice* SourceDevice() override;
  IStorageDevice* RestoreDevice() override;
  void OnNextStarted(IStorageDevice* device) override;
  void ShowOnPage(const std::vector<CSearchedPartitionInfo*>& partitions) override;
  bool BuildTrees(const std::vector<TickedPartition>& ticked, IStorageDevice* device, CFileSystemNode* root,
                  std::chrono::steady_clock::time_point buildStart) override;
  int BuiltEventId() const override;
  const char* HandOverLogName() const override {
    return "CCompleteRecoveryScanPartitionDeviceSelectController";
  }

 private:
  CCompleteRecoveryScanPartitionDeviceSelectPage* m_page = nullptr;
};

CCompleteRecoveryScanPartitionDeviceSelectController*
GetCompleteRecoveryScanPartitionDeviceSelectController();
