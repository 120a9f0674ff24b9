#include "wizard/controller/CompleteRecoveryScanPartitionDeviceSelectController.h"

#include <QApplication>
#include <QCursor>

#include "core/DIRBuildCallback.h"
#include "core/FileNode.h"
#include "core/SearchedPartitionInfo.h"
#include "core/StateSections.h"
#include "core/WorkerPump.h"
#include "dialogs/AdvanceSettingMasterDlg.h"
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
#include "wizard/CompleteRecoveryScanPartitionDeviceSelectPage.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/ScanState.h"

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

std::vector<CSearchedPartitionInfo*> Pointers(const SearchedPartitionInfoList& list) {
  std::vector<CSearchedPartitionInfo*> pointers;
  for (const auto& partition : list) pointers.push_back(partition.get());
  return pointers;
}

}  // namespace

CCompleteRecoveryScanPartitionDeviceSelectController*
GetCompleteRecoveryScanPartitionDeviceSelectController() {
  static CCompleteRecoveryScanPartitionDeviceSelectController controller;
  return &controller;
}

CCompleteRecoveryScanPartitionDeviceSelectController::CCompleteRecoveryScanPartitionDeviceSelectController() =
    default;
CCompleteRecoveryScanPartitionDeviceSelectController::
    ~CCompleteRecoveryScanPartitionDeviceSelectController() = default;

void CCompleteRecoveryScanPartitionDeviceSelectController::Activate() {
  m_tick = std::chrono::steady_clock::now();
  SetCurrentControllerStatus(this);
  if (CWizardSheet* sheet = GetWizardSheet()) sheet->ShowPage(CompleteRecoveryScanPartitionDeviceSelect);
}

void CCompleteRecoveryScanPartitionDeviceSelectController::Home() {
  Cleanup();
  if (m_previous) m_previous->Home();
}

void CCompleteRecoveryScanPartitionDeviceSelectController::Back() {
  const auto answer = corvale::ui::AskMessageBox(Text(134, "Return to devices list?"), GetProductTitle(),
                                                 corvale::ui::MessageButtons::YesNo);
  if (answer != corvale::ui::MessageAnswer::Yes) return;
  Cleanup();
  if (m_previous) m_previous->Activate();
}

int CCompleteRecoveryScanPartitionDeviceSelectController::GetRecoveryKind() {
  return m_previous ? m_previous->GetRecoveryKind() : kRecoveryKindNone;
}

CSourceDeviceChoice CCompleteRecoveryScanPartitionDeviceSelectController::GetSourceSelection() {
  return m_previous ? m_previous->GetSourceSelection() : CSourceDeviceChoice();
}

void CCompleteRecoveryScanPartitionDeviceSelectController::Cleanup() {
  // The page's rows show the records about to go.
  if (m_page) m_page->FillPartitions({}, CScanPartitionDeviceSelectPage::kModeVolume);
  m_results.Clear();
}

void CCompleteRecoveryScanPartitionDeviceSelectController::SetSearchResults(
    WholeDeviceSearchOutcome results) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // A result held from before is freed, not kept beside the new one.
  Cleanup();
  m_results = std::move(results);
  if (!m_results.rawFiles) m_results.rawFiles = std::make_unique<CRawFileInfoList>();
  ShowPartitions();
  SaveScanState(this, false);
  QApplication::restoreOverrideCursor();
}

void CCompleteRecoveryScanPartitionDeviceSelectController::ShowPartitions() {
  const std::vector<CSearchedPartitionInfo*> partitions = Pointers(m_results.found);
  LogSearchedPartitionList(partitions);
  if (!m_page) return;
  if (VolumeRecord* source = GetSourceSelection().GetPartitionRecord())
    m_page->ShowForVolume(partitions, *source);
  else
    m_page->FillPartitions(partitions, CScanPartitionDeviceSelectPage::kModeVolume);
}

int CCompleteRecoveryScanPartitionDeviceSelectController::SaveState(IRSData* stream, IDIRBuildCallback*) {
  if (!stream || !m_results.rawFiles) return 0;
  if (!SaveFileSystemSearchControllerList(*stream, m_results.ControllerPointers())) return 0;
  if (!SaveRawFileList(*stream, *m_results.rawFiles)) return 0;
  if (!SaveSearchedPartitionInfoList(*stream, m_results.found)) return 0;
  return 1;
}

int CCompleteRecoveryScanPartitionDeviceSelectController::RestoreState(IRSData* stream, IDIRBuildCallback*) {
  if (!stream) return 0;
  Cleanup();
  VolumeRecord* source = GetSourceSelection().GetPartitionRecord();
  if (!source || !source->Device) return 0;
  WholeDeviceSearchOutcome restored;
  if (!LoadFileSystemSearchControllerList(*stream, MakeSearchControllerOfKind, &restored.controllers))
    return 0;
  restored.rawFiles = LoadRawFileList(*stream);
  if (!restored.rawFiles) return 0;
  for (const auto& controller : restored.controllers) {
    controller->SetResultSink(restored.rawFiles.get());
    controller->SetStorageDevice(source->Device);
  }
  if (!LoadSearchedPartitionInfoList(*stream, &restored.found)) return 0;
  restored.searched = true;
  m_results = std::move(restored);
  ShowPartitions();
  return 1;
}

bool CCompleteRecoveryScanPartitionDeviceSelectController::Next() {
  const std::string caption = GetProductTitle();
  m_lastBuildCancelled = false;
  CRecoveryContext& context = GetRecoveryContext();
  IStorageDevice* device = GetSourceSelection().GetSourceDevice();
  context.SourceRootDevice = device;

  if (m_results.found.empty()) {
    corvale::ui::ShowMessageBox(Text(135, "Select a device to recover please."), caption);
    return false;
  }
  // The rows in page order with their records; without a page, the recommended partitions.
  std::vector<CSearchedPartitionInfo*> ticked;
  if (m_page) {
    for (int row = 0; row < m_page->GetPartitionCount(); ++row)
      if (m_page->GetCheck(row) && m_page->GetPartitionAt(row)) ticked.push_back(m_page->GetPartitionAt(row));
  } else {
    for (const auto& partition : m_results.found)
      if (partition->GetChosenMark() == 1) ticked.push_back(partition.get());
  }
  if (ticked.empty()) {
    corvale::ui::ShowMessageBox(Text(136, "Please choose a partition to recover."), caption);
    return false;
  }
  if (ticked.size() > static_cast<size_t>(kMaxPartitions)) {
    corvale::ui::ShowMessageBox(
        Text(137, "Please select partitions, the number of partitions should be no more than 4 !"), caption);
    return false;
  }
  if (!device) return false;
  CFileSystemNode* root = CreateRootNode();
  if (!root) return false;
  if (m_tick != std::chrono::steady_clock::time_point{})
    corvale::usage::TimedEvent(kEventNext, MillisecondsSince(m_tick));

  const std::vector<IFileSystemSearchController*> controllers = m_results.ControllerPointers();
  std::vector<CFileSystemNode*> trees;
  bool cancelled = false;
  QWidget* owner = nullptr;
  if (CWizardSheet* sheet = GetWizardSheet()) owner = sheet->window();
  m_tick = std::chrono::steady_clock::now();
  const auto buildStart = m_tick;
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
    // The engines build on a worker while this thread keeps the windows alive.
    const bool ran = RunWorkWithPump(
        [&] {
          int32_t ordinal = 0;
          for (size_t row = 0; row < ticked.size(); ++row) {
            LogBuildingDirectoryTree(static_cast<int>(row));
            CFileSystemNode* tree =
                BuildDirectoryWithMatchingController(controllers, ticked[row], device, ordinal++, &callback);
            if (tree) trees.push_back(tree);
            if (dialog.Tick() == -1) {
              cancelled = true;
              break;
            }
          }
        },
        [] { QApplication::processEvents(QEventLoop::AllEvents, 50); });
    // The cancel state is read while the window still stands; a cancel after the last build counts.
    if (dialog.Tick() == -1) cancelled = true;
    if (!ran) LogError("the partition build could not be started");
    dialog.hide();
  }
  for (CFileSystemNode* tree : trees) root->AddChild(tree);
  if (cancelled) {
    corvale::usage::TimedEvent(kEventCancelled, MillisecondsSince(buildStart));
    LogRecoveryStatus(kStatusUserAbort);
    FreeFileTree(root);
    m_lastBuildCancelled = true;
    return false;
  }
  corvale::usage::TimedEvent(context.RecoveryMode == 2 ? kEventBuiltPartition : kEventBuiltFormat,
                             MillisecondsSince(buildStart));
  root->RecountSummary();
  SelectionSummary summary;
  root->GetSummary(summary);
  if (summary.files < 1) {
    LogRecoveryStatus(kStatusFoundNothing);
    FreeFileTree(root);
    corvale::ui::ShowMessageBox(Text(61248, "No files found!"), caption);
    return false;
  }

  LogInfo("CCompleteRecoveryScanPartitionDeviceSelectController::next begin!\n");
  CFileSelectController* files = GetFileSelectController();
  // Without the found-partition page, Back on the file page leads to the device page.
  files->SetPreviousController(context.PageFlowSwitch ? this : m_previous);
  files->SetDirectoryTree(root, device);
  files->Activate();
  LogInfo("CCompleteRecoveryScanPartitionDeviceSelectController::next end!\n");
  m_tick = {};
  return true;
}
