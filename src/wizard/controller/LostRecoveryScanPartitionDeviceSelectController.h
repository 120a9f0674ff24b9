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
#include "wizard/WizardPageController.h"

class CLostRecoveryScanPartitionDeviceSelectPage;
class CRawFileInfoList;

class CLostRecoveryScanPartitionDeviceSelectController : public IWizardPageController {
 public:
  static constexpr int kStateTypeId = 4;
  // The most partitions one Next builds.
  static constexpr int kMaxPartitions = 4;
  // Usage events: Next (time on the page), a cancelled build and a finished one (time building).
  static constexpr int kEventNext = 8245;
  static constexpr int kEventCancelled = 8246;
  static constexpr int kEventBuilt = 8247;

  CLostRecoveryScanPartitionDeviceSelectController();
  ~CLostRecoveryScanPartitionDeviceSelectController() override;

  void Activate() override;
  void Home() override;
  void Back() override;
  bool Next() override;
  void SetPreviousController(IWizardPageController* previous) override { m_previous = previous; }
  IWizardPageController* GetPreviousController() override { return m_previous; }
  int RestoreState(IRSData* stream, IDIRBuildCallback* progress) override;
  int SaveState(IRSData* stream, IDIRBuildCallback* progress) override;
  int GetStateTypeId() override { return kStateTypeId; }
  int GetRecoveryKind() override;
  CSourceDeviceChoice GetSourceSelection() override;
  void Cleanup() override;

  // Takes over what a whole-disk search produced (what was held before is freed), shows the
  // partitions and saves the scan state.
  void SetSearchResults(SearchedPartitionInfoList found, SearchControllerList controllers,
                        std::unique_ptr<CRawFileInfoList> rawFiles);
  const SearchedPartitionInfoList& FoundPartitions() const { return m_found; }
  std::vector<IFileSystemSearchController*> Controllers() const;
  CRawFileInfoList* RawFiles() const { return m_rawFiles.get(); }
  // True when the last Next stopped because the user cancelled a build.
  bool WasCancelled() const { return m_cancelled; }

  void SetPage(CLostRecoveryScanPartitionDeviceSelectPage* page) { m_page = page; }
  CLostRecoveryScanPartitionDeviceSelectPage* GetPage() const { return m_page; }

 private:
  void ShowPartitions();
  struct DiskRecord* SourceDisk() const;

  CLostRecoveryScanPartitionDeviceSelectPage* m_page = nullptr;
  IWizardPageController* m_previous = nullptr;
  SearchControllerList m_controllers;
  SearchedPartitionInfoList m_found;
  std::unique_ptr<CRawFileInfoList> m_rawFiles;
  std::chrono::steady_clock::time_point m_tick{};
  bool m_cancelled = false;
};

CLostRecoveryScanPartitionDeviceSelectController* GetLostRecoveryScanPartitionDeviceSelectController();
