#include "wizard/controller/LostRecoveryPartitionDeviceSelectController.h"

#include <QWidget>
#include <cstring>
#include <string>

#include "controls/DeviceSelectCtrl.h"
#include "controls/Formatting.h"
#include "core/FileNode.h"
#include "core/SearchedPartitionInfo.h"
#include "core/SourceRecords.h"
#include "core/StateSections.h"
#include "dialogs/DirectoryTreeBuilder.h"
#include "dialogs/HasCheckboxPromptDlg.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "raw/RawFileInfoList.h"
#include "storage/FileSystemCode.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"
#include "ui/RunReport.h"
#include "wizard/LostRecoveryPartitionDeviceSelectPage.h"
#include "wizard/WizardPage.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/HintSettings.h"
#include "wizard/controller/LostRecoveryScanPartitionDeviceSelectController.h"
#include "wizard/controller/ScanState.h"
#include "wizard/controller/WholeDeviceSearch.h"

namespace {

constexpr uint32_t kPicturePartition = 3;

}  // namespace

CLostRecoveryPartitionDeviceSelectController* GetLostRecoveryPartitionDeviceSelectController() {
  static CLostRecoveryPartitionDeviceSelectController controller;
  return &controller;
}

bool& CLostRecoveryPartitionDeviceSelectController::FullScanHintEnabled() {
  static bool enabled = true;
  return enabled;
}

CLostRecoveryPartitionDeviceSelectController::CLostRecoveryPartitionDeviceSelectController() = default;
CLostRecoveryPartitionDeviceSelectController::~CLostRecoveryPartitionDeviceSelectController() = default;

void CLostRecoveryPartitionDeviceSelectController::SetPage(CLostRecoveryPartitionDeviceSelectPage* page) {
  SetPage(page, page ? page->GetDeviceSelectCtrl() : nullptr);
}

void CLostRecoveryPartitionDeviceSelectController::Activate() {
  // Nothing the quick search found: the whole disk is searched at once, without showing the page.
  if (m_found.empty()) {
    SearchWholeDisk();
    return;
  }
  SetCurrentControllerStatus(this);
  if (CWizardSheet* sheet = GetWizardSheet()) sheet->ShowPage(LostRecoveryPartitionDeviceSelect);
}

void CLostRecoveryPartitionDeviceSelectController::Home() {
  Cleanup();
  if (m_previous) m_previous->Home();
  ResetFullScan();
}

void CLostRecoveryPartitionDeviceSelectController::Back() {
  Cleanup();
  if (m_previous) m_previous->Activate();
  ResetFullScan();
}

void CLostRecoveryPartitionDeviceSelectController::ResetFullScan() {
  m_fullScan = 0;
  if (auto* page = dynamic_cast<CLostRecoveryPartitionDeviceSelectPage*>(m_page)) page->ResetFullScan();
}

int CLostRecoveryPartitionDeviceSelectController::GetRecoveryKind() {
  return m_previous ? m_previous->GetRecoveryKind() : kRecoveryKindNone;
}

CSourceDeviceChoice CLostRecoveryPartitionDeviceSelectController::GetSourceSelection() {
  if (m_chosen) return CSourceDeviceChoice(m_chosen);
  return m_previous ? m_previous->GetSourceSelection() : CSourceDeviceChoice();
}

void CLostRecoveryPartitionDeviceSelectController::Cleanup() {
  m_chosen = nullptr;
  if (m_list) m_list->DeleteAllItems();
  m_found.clear();
}

void CLostRecoveryPartitionDeviceSelectController::SetFoundPartitions(LostPartitionRecordList found) {
  m_chosen = nullptr;
  m_found = std::move(found);
  ShowFoundPartitions();
  SaveScanState(this, false);
}

int CLostRecoveryPartitionDeviceSelectController::SaveState(IRSData* stream, IDIRBuildCallback*) {
  if (!stream) return 0;
  std::vector<CLostPartitionRecord> records;
  int32_t current = -1;
  for (size_t i = 0; i < m_found.size(); ++i) {
    records.push_back(*m_found[i]);
    if (m_found[i].get() == m_chosen) current = static_cast<int32_t>(i);
  }
  return SavePartitionInfoList(*stream, records, current) ? 1 : 0;
}

int CLostRecoveryPartitionDeviceSelectController::RestoreState(IRSData* stream, IDIRBuildCallback*) {
  if (!stream || !m_previous) return 0;
  DiskRecord* disk = m_previous->GetSourceSelection().GetDiskRecord();
  if (!disk || !disk->Device) return 0;
  LostPartitionList list;
  if (!LoadPartitionInfoList(*stream, disk->Device, &list)) return 0;
  LostPartitionRecordList found;
  for (const CLostPartitionRecord& record : list.Records)
    if (LostPartitionRecordPtr copy = CopyLostPartitionRecord(record)) found.push_back(std::move(copy));
  m_chosen = nullptr;
  m_found = std::move(found);
  if (list.Current >= 0 && static_cast<size_t>(list.Current) < m_found.size())
    m_chosen = m_found[list.Current].get();
  ShowFoundPartitions();
  return 1;
}

void CLostRecoveryPartitionDeviceSelectController::ShowFoundPartitions() {
  std::vector<LostPartitionRow> rows;
  for (const auto& record : m_found) {
    LostPartitionRow row;
    row.fileSystemTypeCode = record->FileSystemType;
    row.startSector = static_cast<int64_t>(record->StartSector);
    row.sectorCount = static_cast<int64_t>(record->SectorCount);
    rows.push_back(row);
  }
  LogLostPartitionList(rows);
  if (!m_list) return;
  m_list->DeleteAllItems();
  for (const auto& record : m_found) {
    char label[CLostPartitionRecord::kLabelSize + 1] = {};
    std::memcpy(label, record->Label, CLostPartitionRecord::kLabelSize);
    const std::string name =
        std::string(label) + "-" + GetFileSystemName(static_cast<uint32_t>(record->FileSystemType));
    DEVICE_ITEM_INFO item;
    item.kind = kPicturePartition;
    item.name = name.c_str();
    item.sectorCount = record->SectorCount;
    item.itemData = record.get();
    m_list->AddItem(&item);
  }
}

bool CLostRecoveryPartitionDeviceSelectController::Next() {
  if (m_fullScan) return SearchWholeDisk();
  return BuildChosenPartition();
}

bool CLostRecoveryPartitionDeviceSelectController::SearchWholeDisk() {
  m_chosen = nullptr;
  DiskRecord* disk = m_previous ? m_previous->GetSourceSelection().GetDiskRecord() : nullptr;
  if (!disk || !disk->Device) return false;
  LogSearchDiskDevice(*disk, false);
  QWidget* owner = m_page ? m_page->window() : nullptr;
  WholeDeviceSearchOutcome outcome = RunWholeDeviceSearch(disk->Device, owner);
  // When this step's page was never shown, the next step goes back to the disk page.
  IWizardPageController* back = m_found.empty() ? m_previous : this;

  if (outcome.found.empty()) {
    LogInfo("Bnh-Do Not SearchedPartitionInfo");
    LogRecoveryStatus(kStatusNoPartitionBuildingRaw);
    CFileSystemNode* root = BuildRawFilesTree(outcome, disk->Device, owner);
    if (!root) return false;
    CFileSelectController* next = GetFileSelectController();
    next->SetPreviousController(back);
    next->SetDirectoryTree(root, disk->Device);
    next->Activate();
    return true;
  }

  CLostRecoveryScanPartitionDeviceSelectController* scan =
      GetLostRecoveryScanPartitionDeviceSelectController();
  scan->SetPreviousController(back);
  scan->SetSearchResults(std::move(outcome.found), std::move(outcome.controllers),
                         std::move(outcome.rawFiles));
  if (GetRecoveryContext().PageFlowSwitch) {
    scan->Activate();
    return true;
  }
  // The partitions were chosen for the user: build them straight away. A build that cannot go on
  // for another reason than the user's cancel (nothing ticked, nothing in the trees) shows the
  // found partitions instead of throwing the search away.
  if (scan->Next()) {
    scan->Cleanup();
    return true;
  }
  if (scan->WasCancelled()) {
    scan->Cleanup();
    return false;
  }
  scan->Activate();
  return true;
}

bool CLostRecoveryPartitionDeviceSelectController::BuildChosenPartition() {
  const std::string caption = GetProductTitle();
  const int row = m_list ? m_list->GetCurSel() : -1;
  m_chosen = m_list ? static_cast<CLostPartitionRecord*>(m_list->GetItemData(row)) : nullptr;
  if (!m_chosen) {
    corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(143, "Select a partition to recover please."),
                                caption);
    return false;
  }
  if (!m_chosen->Device) return false;
  LogBuildingDirectoryTree(row);

  const int32_t code = m_chosen->FileSystemType;
  CDirectoryTreeBuilder builder;
  CFileSystemNode* tree = nullptr;
  if (code >= kFileSystemFat12 && code <= kFileSystemExt3)
    tree = builder.BuildDirectoryTree(code, m_chosen->Device);
  if (builder.IsCancelled()) {
    FreeFileTree(tree);
    m_chosen = nullptr;
    return false;
  }
  if (!tree) {
    LogRecoveryStatus(kStatusFoundNothing);
    m_chosen = nullptr;
    corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(61248, "No files found!"), caption);
    return false;
  }
  CFileSystemNode* root = CreateRootNode();
  if (!root) {
    FreeFileTree(tree);
    m_chosen = nullptr;
    corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(61248, "No files found!"), caption);
    return false;
  }
  uint64_t firstSector = 0;
  uint32_t sectorsPerCluster = 0;
  tree->GetPosition(firstSector, sectorsPerCluster);
  root->SetPosition(firstSector, sectorsPerCluster);
  root->SetFileSystemType(tree->GetFileSystemType());
  root->AddChild(tree);
  root->RecountSummary();
  SelectionSummary summary;
  root->GetSummary(summary);

  if (FullScanHintEnabled() && corvale::hints::IsHintShown(corvale::hints::kFullScanHint)) {
    CHasCheckboxPromptDlg hint(
        corvale::ui::StringOrUtf8(61250,
                                  "If the files you need are not found, please select the \"Full scan\"."),
        m_page ? m_page->window() : nullptr);
    hint.DoModal();
    FullScanHintEnabled() = hint.GetAnswer() == 0;
    if (hint.GetAnswer() != 0) corvale::hints::HideHint(corvale::hints::kFullScanHint);
  }
  if (summary.files < 1) {
    FreeFileTree(root);
    m_chosen = nullptr;
    corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(61248, "No files found!"), caption);
    return true;
  }
  CFileSelectController* next = GetFileSelectController();
  next->SetPreviousController(this);
  next->SetDirectoryTree(root, m_chosen->Device);
  next->Activate();
  return true;
}
