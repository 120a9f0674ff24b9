#include "wizard/controller/TypeOfFileToRecoveryController.h"

#include <string>

#include "core/BuiltInFileTypes.h"
#include "platform/FileTypeExtensionSet.h"
#include "platform/RecoveryContext.h"
#include "ui/RunReport.h"
#include "ui/UsageStatistics.h"
#include "wizard/TypeOfFileToRecoveryPage.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/MapFileTypeInfo.h"

CTypeOfFileToRecoveryController* GetTypeOfFileToRecoveryController() {
  static CTypeOfFileToRecoveryController controller;
  return &controller;
}

void CTypeOfFileToRecoveryController::Activate() {
  m_activated = std::chrono::steady_clock::now();
  if (CWizardSheet* sheet = GetWizardSheet()) sheet->ShowPage(TypeOfFileToRecovery);
}

void CTypeOfFileToRecoveryController::Home() {
  Cleanup();
  if (m_previous) m_previous->Home();
}

void CTypeOfFileToRecoveryController::Back() {
  Cleanup();
  if (m_previous) m_previous->Activate();
}

int CTypeOfFileToRecoveryController::GetRecoveryKind() {
  if (m_mode == 1) return kRecoveryKindComplete;
  if (m_mode == 2) return kRecoveryKindPartition;
  return kRecoveryKindDeleted;
}

std::vector<int32_t> CTypeOfFileToRecoveryController::ChooseRawFileTypes(const CFileTypeExtensionSet& set) {
  std::vector<int32_t> ids;
  const bool all = set.GetSize() == 0;
  for (int32_t id = kFirstBuiltInFileType; id <= kLastBuiltInFileType; ++id)
    if (all || set.IsFileTypeInList(std::string(".") + GetBuiltInFileTypeExtension(id))) ids.push_back(id);
  return ids;
}

bool CTypeOfFileToRecoveryController::Next() {
  CFileTypeExtensionSet& set = GetFileTypeExtensionSet();
  if (m_page) BuildFromCatalogue(set, *m_page->GetFileTypeCatalogue(), m_page->IsAllTypesChecked());

  // The list is made anew on every Next, never added to an earlier choice.
  CRecoveryContext& context = GetRecoveryContext();
  context.RawFileTypes = ChooseRawFileTypes(set);

  // Only the three modes have a line; any other status code would write an unrelated one.
  if (m_mode >= 0 && m_mode <= 2) LogRecoveryStatus(m_mode);
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_activated);
  if (m_mode >= 0 && m_mode <= 2)
    corvale::usage::TimedEvent(kEventNext[m_mode], static_cast<uint32_t>(elapsed.count()));

  static const WIZARD_PAGE kNextPage[3] = {DeleteRecoveryPartitionDeviceSelect,
                                           CompleteRecoveryPartitionDeviceSelect,
                                           LostRecoveryDiskDeviceSelect};
  if (m_mode < 0 || m_mode > 2) return true;
  if (IWizardPageController* next = GetPageController(kNextPage[m_mode])) {
    next->SetPreviousController(this);
    next->Activate();
  }
  return true;
}
