#include "wizard/controller/LostRecoveryScanPartitionDeviceSelectController.h"

#include <QApplication>
#include <QWidget>
#include <optional>
#include <string>

#include "core/DIRBuildCallback.h"
#include "core/FileNode.h"
#include "core/SearchedPartitionInfo.h"
#include "core/SourceRecords.h"
#include "core/WorkerPump.h"
#include "dialogs/BuildDirectoryDlg.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFileListState.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"
#include "ui/RunReport.h"
#include "ui/UsageStatistics.h"
#include "wizard/LostRecoveryScanPartitionDeviceSelectPage.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/LostRecoveryDiskDeviceSelectController.h"
#include "wizard/controller/ScanState.h"
#include "wizard/controller/WholeDeviceSearch.h"

namespace {

std::string Text(uint32_t id, const char* fallback) {
  const QString text = corvale::ui::LoadStringResource(id);
  return text.isEmpty() ? fallback : text.toStdString();
}

uint32_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
          .count());
}

// Builds one partition's tree under its own build window, on a worker while this thread keeps the
// windows alive. `cancelled` tells whether the user confirmed Cancel (read before the window goes).
CFileSystemNode* BuildUnderWindow(const std::vector<IFileSystemSearchController*>& controllers,
                                  CSearchedPartitionInfo* partition, IStorageDevice* disk, int32_t ordinal,
                                  bool* cancelled) {
  CBuildDirectoryDlg dialog(nullptr);
  CDIRBuildCallback callback(&dialog);
  std::optional<CFileSystemNode*> tree;
  {
    ProgramWindowsDisabled disabled(&dialog);
    dialog.show();
    dialog.Refresh();
    NotifySearchBuildShown(dialog);
    tree = RunOnWorkerWithPump(
        [&] {
          return BuildDirectoryWithMatchingController(controllers, partition, disk, ordinal, &callback);
        },
        [] { QApplication::processEvents(QEventLoop::AllEvents); });
    *cancelled = dialog.Tick() == -1;
    dialog.hide();
  }
  return tree.value_or(nullptr);
}

}  // namespace

CLostRecoveryScanPartitionDeviceSelectController* GetLostRecoveryScanPartitionDeviceSelectController() {
  static CLostRecoveryScanPartitionDeviceSelectController controller;
  return &controller;
}

CLostRecoveryScanPartitionDeviceSelectController::CLostRecoveryScanPartitionDeviceSelectController() {
  // A saved partition recovery names this step by its state type id.
  RegisterScanStateController(kStateTypeId, [] {
    return static_cast<IWizardPageController*>(GetLostRecoveryScanPartitionDeviceSelectController());
  });
}

CLostRecoveryScanPartitionDeviceSelectController::~CLostRecoveryScanPartitionDeviceSelectController() =
    default;

void CLostRecoveryScanPartitionDeviceSelectController::Activate() {
  m_tick = std::chrono::steady_clock::now();
  SetCurrentControllerStatus(this);
  if (CWizardSheet* sheet = GetWizardSheet()) sheet->ShowPage(LostRecoveryScanPartitionDeviceSelect);
}

void CLostRecoveryScanPartitionDeviceSelectController::Home() {
  Cleanup();
  if (m_previous) m_previous->Home();
}

void CLostRecoveryScanPartitionDeviceSelectController::Back() {
  const auto answer =
      corvale::ui::AskMessageBox(Text(144, "Return to devices list?"), GetProductTitle(),
                                 corvale::ui::MessageButtons::YesNo, corvale::ui::MessageIcon::Question);
  if (answer != corvale::ui::MessageAnswer::Yes) return;
  Cleanup();
  if (m_previous) m_previous->Activate();
}

int CLostRecoveryScanPartitionDeviceSelectController::GetRecoveryKind() {
  return m_previous ? m_previous->GetRecoveryKind() : kRecoveryKindNone;
}

CSourceDeviceChoice CLostRecoveryScanPartitionDeviceSelectController::GetSourceSelection() {
  return m_previous ? m_previous->GetSourceSelection() : CSourceDeviceChoice();
}

void CLostRecoveryScanPartitionDeviceSelectController::Cleanup() {
  if (m_page) m_page->FillPartitions({}, CScanPartitionDeviceSelectPage::kModeDisk);
  m_found.clear();
  m_controllers.clear();
  m_rawFiles.reset();
}

std::vector<IFileSystemSearchController*> CLostRecoveryScanPartitionDeviceSelectController::Controllers()
    const {
  std::vector<IFileSystemSearchController*> list;
  for (const auto& controller : m_controllers) list.push_back(controller.get());
  return list;
}

DiskRecord* CLostRecoveryScanPartitionDeviceSelectController::SourceDisk() const {
  return GetLostRecoveryDiskDeviceSelectController()->GetSourceSelection().GetDiskRecord();
}

void CLostRecoveryScanPartitionDeviceSelectController::SetSearchResults(
    SearchedPartitionInfoList found, SearchControllerList controllers,
    std::unique_ptr<CRawFileInfoList> rawFiles) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // The rows show the old records until they are refilled: empty the page before freeing them.
  Cleanup();
  m_found = std::move(found);
  m_controllers = std::move(controllers);
  m_rawFiles = std::move(rawFiles);
  ShowPartitions();
  SaveScanState(this, false);
  QApplication::restoreOverrideCursor();
}

void CLostRecoveryScanPartitionDeviceSelectController::ShowPartitions() {
  std::vector<CSearchedPartitionInfo*> partitions;
  for (const auto& info : m_found) partitions.push_back(info.get());
  LogSearchedPartitionList(partitions);
  DiskRecord* disk = SourceDisk();
  if (m_page && disk) m_page->ShowForDisk(partitions, *disk);
}

int CLostRecoveryScanPartitionDeviceSelectController::SaveState(IRSData* stream, IDIRBuildCallback*) {
  if (!stream) return 0;
  CRawFileInfoList none;
  const bool saved = SaveFileSystemSearchControllerList(*stream, Controllers()) &&
                     SaveRawFileList(*stream, m_rawFiles ? *m_rawFiles : none) &&
                     SaveSearchedPartitionInfoList(*stream, m_found);
  return saved ? 1 : 0;
}

int CLostRecoveryScanPartitionDeviceSelectController::RestoreState(IRSData* stream, IDIRBuildCallback*) {
  if (!stream) return 0;
  DiskRecord* disk = SourceDisk();
  if (!disk || !disk->Device) return 0;
  // Everything is read into locals first: a state without any of its three parts is not taken.
  SearchControllerList controllers;
  if (!LoadFileSystemSearchControllerList(*stream, MakeSearchControllerOfKind, &controllers)) return 0;
  std::unique_ptr<CRawFileInfoList> rawFiles = LoadRawFileList(*stream);
  if (!rawFiles) return 0;
  for (const auto& controller : controllers) {
    controller->SetResultSink(rawFiles.get());
    controller->SetStorageDevice(disk->Device);
  }
  SearchedPartitionInfoList found;
  if (!LoadSearchedPartitionInfoList(*stream, &found)) return 0;
  Cleanup();
  m_controllers = std::move(controllers);
  m_rawFiles = std::move(rawFiles);
  m_found = std::move(found);
  ShowPartitions();
  return 1;
}

bool CLostRecoveryScanPartitionDeviceSelectController::Next() {
  const std::string caption = GetProductTitle();
  m_cancelled = false;
  if (m_found.empty()) return false;
  DiskRecord* disk = SourceDisk();
  if (!disk || !disk->Device || !m_page) return false;

  std::vector<int> rows;
  for (int row = 0; row < m_page->GetPartitionCount(); ++row)
    if (m_page->GetCheck(row) && m_page->GetPartitionAt(row)) rows.push_back(row);
  if (rows.empty()) {
    corvale::ui::ShowMessageBox(Text(145, "Please choose a partition to recover."), caption);
    return false;
  }
  if (rows.size() > static_cast<size_t>(kMaxPartitions)) {
    corvale::ui::ShowMessageBox(
        Text(146, "Please select partitions, the number of partitions should be no more than 4 !"), caption);
    return false;
  }
  CFileSystemNode* root = CreateRootNode();
  if (!root) return false;

  if (m_tick != std::chrono::steady_clock::time_point{})
    corvale::usage::TimedEvent(kEventNext, MillisecondsSince(m_tick));
  const auto buildStart = std::chrono::steady_clock::now();
  m_tick = buildStart;

  const std::vector<IFileSystemSearchController*> controllers = Controllers();
  int32_t ordinal = 0;
  for (int row : rows) {
    LogBuildingDirectoryTree(row);
    bool cancelled = false;
    CFileSystemNode* tree =
        BuildUnderWindow(controllers, m_page->GetPartitionAt(row), disk->Device, ordinal++, &cancelled);
    if (tree) root->AddChild(tree);
    if (cancelled) {
      corvale::usage::TimedEvent(kEventCancelled, MillisecondsSince(buildStart));
      // Nothing of a cancelled Next is kept, the partitions built before it neither.
      FreeFileTree(root);
      m_cancelled = true;
      return false;
    }
  }
  corvale::usage::TimedEvent(kEventBuilt, MillisecondsSince(buildStart));

  root->RecountSummary();
  SelectionSummary summary;
  root->GetSummary(summary);
  if (summary.files < 1) {
    FreeFileTree(root);
    corvale::ui::ShowMessageBox(Text(61248, "No files found!"), caption);
    return false;
  }
  // With the page skipped (no manual choice), the file step goes back to the step before it.
  IWizardPageController* back = GetRecoveryContext().PageFlowSwitch ? this : m_previous;
  CFileSelectController* next = GetFileSelectController();
  next->SetPreviousController(back);
  next->SetDirectoryTree(root, disk->Device);
  next->Activate();
  m_tick = {};
  return true;
}
