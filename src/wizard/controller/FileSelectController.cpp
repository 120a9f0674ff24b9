#include "wizard/controller/FileSelectController.h"

#include <QApplication>

#include "core/FileNode.h"
#include "core/FileSystemTree.h"
#include "platform/RecoveryContext.h"
#include "platform/StringTable.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/RunReport.h"
#include "ui/UsageStatistics.h"
#include "wizard/FileSelectPage.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/SaveFileController.h"
#include "wizard/controller/ScanState.h"

namespace {
constexpr uint32_t kStringQuitSearching = 138;
constexpr uint32_t kStringSelectFiles = 139;
constexpr int kStatusShowingTree = 6;
}  // namespace

CFileSelectController* GetFileSelectController() {
  static CFileSelectController controller;
  return &controller;
}

int CFileSelectController::Mode() const { return GetRecoveryContext().RecoveryMode; }

void CFileSelectController::Activate() {
  m_activated = std::chrono::steady_clock::now();
  if (m_tree == nullptr) return;
  if (CWizardSheet* sheet = GetWizardSheet()) sheet->ShowPage(FileSelect);
}

void CFileSelectController::Home() {
  Cleanup();
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_activated);
  const int mode = Mode();
  if (mode >= 0 && mode <= 2)
    corvale::usage::TimedEvent(kEventHome[mode], static_cast<uint32_t>(elapsed.count()));
  if (m_previous) m_previous->Home();
}

void CFileSelectController::Back() {
  const auto answer = corvale::ui::AskMessageBox(corvale::LoadText(kStringQuitSearching), GetProductTitle(),
                                                 corvale::ui::MessageButtons::YesNo);
  if (answer != corvale::ui::MessageAnswer::Yes) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  Cleanup();
  if (m_previous) m_previous->Activate();
  QApplication::restoreOverrideCursor();
}

bool CFileSelectController::Next() {
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_activated);
  const int mode = Mode();
  if (mode >= 0 && mode <= 2) {
    corvale::usage::Event(kEventNext[mode]);
    corvale::usage::TimedEvent(kEventNextTimed[mode], static_cast<uint32_t>(elapsed.count()));
  }
  SelectionSummary summary;
  if (auto* root = dynamic_cast<CFileSystemNode*>(GetFileTree())) root->GetSummary(summary);
  if (summary.checkedFiles < 1) {
    corvale::ui::ShowMessageBox(corvale::LoadText(kStringSelectFiles), GetProductTitle());
    return false;
  }
  CSaveFileController* save = GetSaveFileController();
  save->SetFileTree(GetFileTree(), GetSourceDevice());
  save->SetPreviousController(this);
  save->Activate();
  return true;
}

int CFileSelectController::RestoreState(IRSData* stream, IDIRBuildCallback* progress) {
  if (stream == nullptr) return 1;
  // A state without its tree cannot be taken up: the file page would have nothing to show.
  CFileSystemNode* root = ReadFileSystemTree(*stream, progress);
  if (root == nullptr) return 0;
  // The tree comes from the state being read: showing it must not write the state again.
  ShowTree(root, m_device);
  return 1;
}

int CFileSelectController::SaveState(IRSData* stream, IDIRBuildCallback* progress) {
  if (stream == nullptr) return 0;
  return WriteFileSystemTree(m_tree, *stream, progress) ? 1 : 0;
}

int CFileSelectController::GetRecoveryKind() {
  return m_previous ? m_previous->GetRecoveryKind() : kRecoveryKindNone;
}

CSourceDeviceChoice CFileSelectController::GetSourceSelection() {
  return m_previous ? m_previous->GetSourceSelection() : CSourceDeviceChoice();
}

IStorageDevice* CFileSelectController::GetSourceDevice() {
  if (m_device != nullptr) return m_device;
  return GetSourceSelection().GetSourceDevice();
}

void CFileSelectController::Cleanup() {
  if (m_page) m_page->Reset();
  m_tree = nullptr;
  // The device goes with the tree: the step that opened it may close it once its files are gone.
  m_device = nullptr;
}

void CFileSelectController::SetDirectoryTree(CFileSystemNode* root, IStorageDevice* device) {
  ShowTree(root, device);
  // A complete or partition recovery keeps the tree with the steps that built it, so that the
  // scan can be taken up again (or exported) without searching anew.
  const int kind = GetRecoveryKind();
  if (kind == kRecoveryKindComplete || kind == kRecoveryKindPartition) SaveScanState(this, true);
}

void CFileSelectController::ShowTree(CFileSystemNode* root, IStorageDevice* device) {
  // The page frees the tree it shows when it is given another; forget ours first.
  m_tree = nullptr;
  m_device = device;
  if (m_page) m_page->SetFileTree(root);
  m_tree = root;
  LogRecoveryStatus(kStatusShowingTree);
}

CFileNode* CFileSelectController::GetFileTree() const { return m_page ? m_page->GetFileTree() : m_tree; }
