#include "wizard/controller/LostRecoveryScanPartitionDeviceSelectController.h"

#include "core/DIRBuildCallback.h"
#include "core/FileNode.h"
#include "core/SearchedPartitionInfo.h"
#include "core/SourceRecords.h"
#include "dialogs/BuildDirectoryDlg.h"
#include "platform/Log.h"
#include "raw/RawFileInfoList.h"
#include "ui/RunReport.h"
#include "wizard/LostRecoveryScanPartitionDeviceSelectPage.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/LostRecoveryDiskDeviceSelectController.h"
#include "wizard/controller/ScanState.h"
#include "wizard/controller/WholeDeviceSearch.h"

namespace {

CScanPartitionDeviceSelectControllerBase::Config PartitionRecoveryConfig() {
  CScanPartitionDeviceSelectControllerBase::Config config;
  config.stateTypeId = CLostRecoveryScanPartitionDeviceSelectController::kStateTypeId;
  config.page = LostRecoveryScanPartitionDeviceSelect;
  config.emptyMode = CScanPartitionDeviceSelectPage::kModeDisk;
  config.backQuestion = 144;
  config.nothingFound = 0;  // Next with nothing found does nothing, without a word.
  config.noneTicked = 145;
  config.tooManyTicked = 146;
  config.eventNext = CLostRecoveryScanPartitionDeviceSelectController::kEventNext;
  config.eventCancelled = CLostRecoveryScanPartitionDeviceSelectController::kEventCancelled;
  config.saveWhenEmpty = true;
  config.cleanupBeforeRestore = false;
  config.reportBuildStatus = false;
  return config;
}

// Builds one partition's tree under its own build window, on the window's worker while this thread
// stays in the window's event loop. `cancelled` tells whether the user confirmed Cancel (read before
// the window goes).
CFileSystemNode* BuildUnderWindow(const std::vector<IFileSystemSearchController*>& controllers,
                                  CSearchedPartitionInfo* partition, IStorageDevice* disk, int32_t ordinal,
                                  bool* cancelled) {
  CBuildDirectoryDlg dialog(nullptr);
  CDIRBuildCallback callback(&dialog);
  CFileSystemNode* tree = nullptr;
  {
    ProgramWindowsDisabled disabled(&dialog);
    dialog.show();
    dialog.Refresh();
    NotifySearchBuildShown(dialog);
    dialog.RunJob([&] {
      tree = BuildDirectoryWithMatchingController(controllers, partition, disk, ordinal, &callback);
    });
    *cancelled = dialog.IsCancelled();
    dialog.hide();
  }
  return tree;
}

}  // namespace

CLostRecoveryScanPartitionDeviceSelectController* GetLostRecoveryScanPartitionDeviceSelectController() {
  static CLostRecoveryScanPartitionDeviceSelectController controller;
  return &controller;
}

CLostRecoveryScanPartitionDeviceSelectController::CLostRecoveryScanPartitionDeviceSelectController()
    : CScanPartitionDeviceSelectControllerBase(PartitionRecoveryConfig()) {
  // A saved partition recovery names this step by its state type id.
  RegisterScanStateController(kStateTypeId, [] {
    return static_cast<IWizardPageController*>(GetLostRecoveryScanPartitionDeviceSelectController());
  });
}

CLostRecoveryScanPartitionDeviceSelectController::~CLostRecoveryScanPartitionDeviceSelectController() =
    default;

void CLostRecoveryScanPartitionDeviceSelectController::SetPage(
    CLostRecoveryScanPartitionDeviceSelectPage* page) {
  m_page = page;
  SetBasePage(page);
}

DiskRecord* CLostRecoveryScanPartitionDeviceSelectController::SourceDisk() const {
  return GetLostRecoveryDiskDeviceSelectController()->GetSourceSelection().GetDiskRecord();
}

IStorageDevice* CLostRecoveryScanPartitionDeviceSelectController::SourceDevice() {
  DiskRecord* disk = SourceDisk();
  return disk ? disk->Device : nullptr;
}

void CLostRecoveryScanPartitionDeviceSelectController::SetSearchResults(
    SearchedPartitionInfoList found, SearchControllerList controllers,
    std::unique_ptr<CRawFileInfoList> rawFiles) {
  WholeDeviceSearchOutcome results;
  results.found = std::move(found);
  results.controllers = std::move(controllers);
  results.rawFiles = std::move(rawFiles);
  TakeSearchResults(std::move(results));
}

void CLostRecoveryScanPartitionDeviceSelectController::ShowOnPage(
    const std::vector<CSearchedPartitionInfo*>& partitions) {
  DiskRecord* disk = SourceDisk();
  if (m_page && disk) m_page->ShowForDisk(partitions, *disk);
}

bool CLostRecoveryScanPartitionDeviceSelectController::BuildTrees(
    const std::vector<TickedPartition>& ticked, IStorageDevice* device, CFileSystemNode* root,
    std::chrono::steady_clock::time_point buildStart) {
  // Each ticked partition gets its own build window.
  const std::vector<IFileSystemSearchController*> controllers = Controllers();
  int32_t ordinal = 0;
  for (const TickedPartition& partition : ticked) {
    LogBuildingDirectoryTree(partition.row);
    bool cancelled = false;
    CFileSystemNode* tree = BuildUnderWindow(controllers, partition.info, device, ordinal++, &cancelled);
    if (tree) root->AddChild(tree);
    if (cancelled) {
      ReportCancelled(buildStart);
      return false;
    }
  }
  return true;
}
