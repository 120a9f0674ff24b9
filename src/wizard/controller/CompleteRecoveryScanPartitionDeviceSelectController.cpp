#include "wizard/controller/CompleteRecoveryScanPartitionDeviceSelectController.h"

#include <QWidget>

#include "core/DIRBuildCallback.h"
#include "core/FileNode.h"
#include "core/SearchedPartitionInfo.h"
#include "core/SourceRecords.h"
#include "dialogs/BuildDirectoryDlg.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "raw/RawFileInfoList.h"
#include "ui/RunReport.h"
#include "wizard/CompleteRecoveryScanPartitionDeviceSelectPage.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"

namespace {

CScanPartitionDeviceSelectControllerBase::Config FormatRecoveryConfig() {
  CScanPartitionDeviceSelectControllerBase::Config config;
  config.stateTypeId = CCompleteRecoveryScanPartitionDeviceSelectController::kStateTypeId;
  config.page = CompleteRecoveryScanPartitionDeviceSelect;
  config.emptyMode = CScanPartitionDeviceSelectPage::kModeVolume;
  config.backQuestion = 134;
  config.nothingFound = 135;
  config.noneTicked = 136;
  config.tooManyTicked = 137;
  config.eventNext = CCompleteRecoveryScanPartitionDeviceSelectController::kEventNext;
  config.eventCancelled = CCompleteRecoveryScanPartitionDeviceSelectController::kEventCancelled;
  config.saveWhenEmpty = false;
  config.cleanupBeforeRestore = true;
  config.reportBuildStatus = true;
  return config;
}

}  // namespace

CCompleteRecoveryScanPartitionDeviceSelectController*
GetCompleteRecoveryScanPartitionDeviceSelectController() {
  static CCompleteRecoveryScanPartitionDeviceSelectController controller;
  return &controller;
}

CCompleteRecoveryScanPartitionDeviceSelectController::CCompleteRecoveryScanPartitionDeviceSelectController()
    : CScanPartitionDeviceSelectControllerBase(FormatRecoveryConfig()) {}

CCompleteRecoveryScanPartitionDeviceSelectController::
    ~CCompleteRecoveryScanPartitionDeviceSelectController() = default;

void CCompleteRecoveryScanPartitionDeviceSelectController::SetPage(
    CCompleteRecoveryScanPartitionDeviceSelectPage* page) {
  m_page = page;
  SetBasePage(page);
}

void CCompleteRecoveryScanPartitionDeviceSelectController::SetSearchResults(
    WholeDeviceSearchOutcome results) {
  if (!results.rawFiles) results.rawFiles = std::make_unique<CRawFileInfoList>();
  TakeSearchResults(std::move(results));
}

IStorageDevice* CCompleteRecoveryScanPartitionDeviceSelectController::SourceDevice() {
  return GetSourceSelection().GetSourceDevice();
}

IStorageDevice* CCompleteRecoveryScanPartitionDeviceSelectController::RestoreDevice() {
  VolumeRecord* source = GetSourceSelection().GetPartitionRecord();
  return source ? source->Device : nullptr;
}

void CCompleteRecoveryScanPartitionDeviceSelectController::OnNextStarted(IStorageDevice* device) {
  GetRecoveryContext().SourceRootDevice = device;
}

void CCompleteRecoveryScanPartitionDeviceSelectController::ShowOnPage(
    const std::vector<CSearchedPartitionInfo*>& partitions) {
  if (!m_page) return;
  if (VolumeRecord* source = GetSourceSelection().GetPartitionRecord())
    m_page->ShowForVolume(partitions, *source);
  else
    m_page->FillPartitions(partitions, CScanPartitionDeviceSelectPage::kModeVolume);
}

int CCompleteRecoveryScanPartitionDeviceSelectController::BuiltEventId() const {
  return GetRecoveryContext().RecoveryMode == 2 ? kEventBuiltPartition : kEventBuiltFormat;
}

bool CCompleteRecoveryScanPartitionDeviceSelectController::BuildTrees(
    const std::vector<TickedPartition>& ticked, IStorageDevice* device, CFileSystemNode* root,
    std::chrono::steady_clock::time_point buildStart) {
  // All ticked partitions are built under one build window.
  const std::vector<IFileSystemSearchController*> controllers = Results().ControllerPointers();
  std::vector<CFileSystemNode*> trees;
  bool cancelled = false;
  QWidget* owner = nullptr;
  if (CWizardSheet* sheet = GetWizardSheet()) owner = sheet->window();
  {
    // No parent: the build window must stay usable while the program's windows are disabled. It is
    // shown over its owner instead.
    CBuildDirectoryDlg dialog(nullptr);
    if (owner) dialog.move(owner->frameGeometry().center() - dialog.rect().center());
    CDIRBuildCallback callback(&dialog);
    ProgramWindowsDisabled disabled(&dialog);
    dialog.show();
    dialog.Refresh();
    NotifySearchBuildShown(dialog);
    // The engines build on the window's worker while this thread stays in the window's event loop.
    const bool ran = dialog.RunJob([&] {
      int32_t ordinal = 0;
      for (size_t row = 0; row < ticked.size(); ++row) {
        LogBuildingDirectoryTree(static_cast<int>(row));
        CFileSystemNode* tree =
            BuildDirectoryWithMatchingController(controllers, ticked[row].info, device, ordinal++, &callback);
        if (tree) trees.push_back(tree);
        if (dialog.Tick() == -1) {
          cancelled = true;
          break;
        }
      }
    });
    // The cancel state is read while the window still stands; a cancel after the last build counts.
    if (dialog.IsCancelled()) cancelled = true;
    if (!ran) LogError("the partition build could not be started");
    dialog.hide();
  }
  for (CFileSystemNode* tree : trees) root->AddChild(tree);
  if (cancelled) ReportCancelled(buildStart);
  return !cancelled;
}
