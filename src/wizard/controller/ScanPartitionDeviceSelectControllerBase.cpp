#include "wizard/controller/ScanPartitionDeviceSelectControllerBase.h"

#include <QApplication>
#include <string>

#include "core/FileNode.h"
#include "core/SearchedPartitionInfo.h"
#include "core/StateSections.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFileListState.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"
#include "ui/RunReport.h"
#include "ui/UsageStatistics.h"
#include "wizard/ScanPartitionDeviceSelectPage.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/ScanState.h"

namespace {}  // namespace

CScanPartitionDeviceSelectControllerBase::CScanPartitionDeviceSelectControllerBase(const Config& config)
    : m_config(config) {}

CScanPartitionDeviceSelectControllerBase::~CScanPartitionDeviceSelectControllerBase() = default;

uint32_t CScanPartitionDeviceSelectControllerBase::MillisecondsSince(
    std::chrono::steady_clock::time_point start) {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
          .count());
}

void CScanPartitionDeviceSelectControllerBase::Activate() {
  m_tick = std::chrono::steady_clock::now();
  SetCurrentControllerStatus(this);
  if (CWizardSheet* sheet = GetWizardSheet()) sheet->ShowPage(m_config.page);
}

void CScanPartitionDeviceSelectControllerBase::Home() {
  Cleanup();
  if (m_previous) m_previous->Home();
}

void CScanPartitionDeviceSelectControllerBase::Back() {
  const auto answer = corvale::ui::AskMessageBox(
      corvale::ui::StringOrUtf8(m_config.backQuestion, "Return to devices list?"), GetProductTitle(),
      corvale::ui::MessageButtons::YesNo, corvale::ui::MessageIcon::Question);
  if (answer != corvale::ui::MessageAnswer::Yes) return;
  Cleanup();
  if (m_previous) m_previous->Activate();
}

int CScanPartitionDeviceSelectControllerBase::GetRecoveryKind() {
  return m_previous ? m_previous->GetRecoveryKind() : kRecoveryKindNone;
}

CSourceDeviceChoice CScanPartitionDeviceSelectControllerBase::GetSourceSelection() {
  return m_previous ? m_previous->GetSourceSelection() : CSourceDeviceChoice();
}

void CScanPartitionDeviceSelectControllerBase::Cleanup() {
  // The page's rows show the records about to go: empty it first.
  if (m_page) m_page->FillPartitions({}, m_config.emptyMode);
  m_results.Clear();
}

void CScanPartitionDeviceSelectControllerBase::TakeSearchResults(WholeDeviceSearchOutcome results) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // A result held from before is freed, not kept beside the new one.
  Cleanup();
  m_results = std::move(results);
  ShowPartitions();
  SaveScanState(this, false);
  QApplication::restoreOverrideCursor();
}

void CScanPartitionDeviceSelectControllerBase::ShowPartitions() {
  std::vector<CSearchedPartitionInfo*> partitions;
  for (const auto& partition : m_results.found) partitions.push_back(partition.get());
  LogSearchedPartitionList(partitions);
  ShowOnPage(partitions);
}

int CScanPartitionDeviceSelectControllerBase::SaveState(IRSData* stream, IDIRBuildCallback*) {
  if (!stream) return 0;
  if (!m_results.rawFiles && !m_config.saveWhenEmpty) return 0;
  CRawFileInfoList none;
  const bool saved = SaveFileSystemSearchControllerList(*stream, m_results.ControllerPointers()) &&
                     SaveRawFileList(*stream, m_results.rawFiles ? *m_results.rawFiles : none) &&
                     SaveSearchedPartitionInfoList(*stream, m_results.found);
  return saved ? 1 : 0;
}

int CScanPartitionDeviceSelectControllerBase::RestoreState(IRSData* stream, IDIRBuildCallback*) {
  if (!stream) return 0;
  if (m_config.cleanupBeforeRestore) Cleanup();
  IStorageDevice* device = RestoreDevice();
  if (!device) return 0;
  // Read into a local first: a state without any of its three parts is not taken.
  WholeDeviceSearchOutcome restored;
  if (!LoadFileSystemSearchControllerList(*stream, MakeSearchControllerOfKind, &restored.controllers))
    return 0;
  restored.rawFiles = LoadRawFileList(*stream);
  if (!restored.rawFiles) return 0;
  for (const auto& controller : restored.controllers) {
    controller->SetResultSink(restored.rawFiles.get());
    controller->SetStorageDevice(device);
  }
  if (!LoadSearchedPartitionInfoList(*stream, &restored.found)) return 0;
  restored.searched = true;
  Cleanup();
  m_results = std::move(restored);
  ShowPartitions();
  return 1;
}

std::vector<CScanPartitionDeviceSelectControllerBase::TickedPartition>
CScanPartitionDeviceSelectControllerBase::TickedPartitions() const {
  std::vector<TickedPartition> ticked;
  if (m_page) {
    for (int row = 0; row < m_page->GetPartitionCount(); ++row)
      if (m_page->GetCheck(row) && m_page->GetPartitionAt(row))
        ticked.push_back({row, m_page->GetPartitionAt(row)});
  } else {
    for (const auto& partition : m_results.found)
      if (partition->GetChosenMark() == 1) ticked.push_back({-1, partition.get()});
  }
  return ticked;
}

void CScanPartitionDeviceSelectControllerBase::ReportCancelled(
    std::chrono::steady_clock::time_point buildStart) const {
  corvale::usage::TimedEvent(m_config.eventCancelled, MillisecondsSince(buildStart));
}

bool CScanPartitionDeviceSelectControllerBase::Next() {
  const std::string caption = GetProductTitle();
  m_lastBuildCancelled = false;
  IStorageDevice* device = SourceDevice();
  OnNextStarted(device);

  if (m_results.found.empty()) {
    if (m_config.nothingFound != 0)
      corvale::ui::ShowMessageBox(
          corvale::ui::StringOrUtf8(m_config.nothingFound, "Select a device to recover please."), caption);
    return false;
  }
  if (!ReadyForTicks(device)) return false;
  const std::vector<TickedPartition> ticked = TickedPartitions();
  if (ticked.empty()) {
    corvale::ui::ShowMessageBox(
        corvale::ui::StringOrUtf8(m_config.noneTicked, "Please choose a partition to recover."), caption);
    return false;
  }
  if (ticked.size() > static_cast<size_t>(kMaxPartitions)) {
    corvale::ui::ShowMessageBox(
        corvale::ui::StringOrUtf8(
            m_config.tooManyTicked,
            "Please select partitions, the number of partitions should be no more than 4 !"),
        caption);
    return false;
  }
  if (!device) return false;
  CFileSystemNode* root = CreateRootNode();
  if (!root) return false;
  if (m_tick != std::chrono::steady_clock::time_point{})
    corvale::usage::TimedEvent(m_config.eventNext, MillisecondsSince(m_tick));

  m_tick = std::chrono::steady_clock::now();
  const auto buildStart = m_tick;
  if (!BuildTrees(ticked, device, root, buildStart)) {
    if (m_config.reportBuildStatus) LogRecoveryStatus(kStatusUserAbort);
    // Nothing of a cancelled Next is kept, the partitions built before the cancel neither.
    FreeFileTree(root);
    m_lastBuildCancelled = true;
    return false;
  }
  corvale::usage::TimedEvent(BuiltEventId(), MillisecondsSince(buildStart));
  root->RecountSummary();
  SelectionSummary summary;
  root->GetSummary(summary);
  if (summary.files < 1) {
    if (m_config.reportBuildStatus) LogRecoveryStatus(kStatusFoundNothing);
    FreeFileTree(root);
    corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(61248, "No files found!"), caption);
    return false;
  }

  const char* logName = HandOverLogName();
  if (logName) LogInfo("%s::next begin!\n", logName);
  CFileSelectController* files = GetFileSelectController();
  // Without the found-partition page, Back on the file page leads to the step before it.
  files->SetPreviousController(GetRecoveryContext().PageFlowSwitch ? this : m_previous);
  files->SetDirectoryTree(root, device);
  files->Activate();
  if (logName) LogInfo("%s::next end!\n", logName);
  m_tick = {};
  return true;
}
