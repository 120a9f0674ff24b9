#include "wizard/controller/StubPageController.h"

#include <array>
#include <memory>

#include "core/FileNode.h"
#include "platform/RecoveryContext.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"

CStubPageController* GetStubPageController(WIZARD_PAGE page) {
  static auto* controllers = [] {
    auto* all = new std::array<std::unique_ptr<CStubPageController>, kWizardPageCount>;
    for (int i = 0; i < kWizardPageCount; ++i)
      if (i != RecoveryModeSelect && i != TypeOfFileToRecovery)
        (*all)[i] = std::make_unique<CStubPageController>(static_cast<WIZARD_PAGE>(i));
    return all;
  }();
  if (page < 0 || page >= kWizardPageCount) return nullptr;
  return (*controllers)[page].get();
}

int CStubPageController::NextPageOf(WIZARD_PAGE page, int) {
  switch (page) {
    case RecoveryModeSelect:
    case TypeOfFileToRecovery:
      return -1;
    case DeleteRecoveryPartitionDeviceSelect:
      return FileSelect;
    case CompleteRecoveryPartitionDeviceSelect:
      return CompleteRecoveryScanPartitionDeviceSelect;
    case CompleteRecoveryScanPartitionDeviceSelect:
      return FileSelect;
    case LostRecoveryDiskDeviceSelect:
      return LostRecoveryPartitionDeviceSelect;
    case LostRecoveryPartitionDeviceSelect:
      return LostRecoveryScanPartitionDeviceSelect;
    case LostRecoveryScanPartitionDeviceSelect:
      return FileSelect;
    case FileSelect:
      return SaveFile;
    case SaveFile:
      return SaveResult;
    case SaveResult:
      return -1;
  }
  return -1;
}

void CStubPageController::Activate() {
  if (CWizardSheet* sheet = GetWizardSheet()) sheet->ShowPage(m_page);
}

void CStubPageController::Home() {
  Cleanup();
  if (m_previous) m_previous->Home();
}

void CStubPageController::Back() {
  Cleanup();
  if (m_previous) m_previous->Activate();
}

bool CStubPageController::Next() {
  const int next = NextPageOf(m_page, GetRecoveryContext().RecoveryMode);
  IWizardPageController* controller = next < 0 ? nullptr : GetPageController(static_cast<WIZARD_PAGE>(next));
  if (controller) {
    controller->SetPreviousController(this);
    controller->Activate();
  }
  return true;
}

void CStubPageController::ShowAdvancedSettings() {
  ++m_advancedSettings;
  IWizardPageController::ShowAdvancedSettings();
}

int CStubPageController::GetStateTypeId() {
  switch (m_page) {
    case CompleteRecoveryPartitionDeviceSelect:
      return 0;
    case CompleteRecoveryScanPartitionDeviceSelect:
      return 1;
    case LostRecoveryDiskDeviceSelect:
      return 2;
    case LostRecoveryPartitionDeviceSelect:
      return 3;
    case LostRecoveryScanPartitionDeviceSelect:
      return 4;
    case FileSelect:
      return 5;
    default:
      return kStateTypeNotSaved;
  }
}

int CStubPageController::GetRecoveryKind() {
  switch (m_page) {
    case DeleteRecoveryPartitionDeviceSelect:
      return kRecoveryKindDeleted;
    case CompleteRecoveryPartitionDeviceSelect:
      return kRecoveryKindComplete;
    case LostRecoveryDiskDeviceSelect:
      return kRecoveryKindPartition;
    default:
      return m_previous ? m_previous->GetRecoveryKind() : kRecoveryKindNone;
  }
}

CStubPageController::~CStubPageController() { FreeFileTree(m_tree); }

void CStubPageController::SetDirectoryTree(CFileSystemNode* root) {
  if (root != m_tree) FreeFileTree(m_tree);
  m_tree = root;
}

void CStubPageController::Cleanup() {
  ++m_cleanups;
  FreeFileTree(m_tree);
  m_tree = nullptr;
}
