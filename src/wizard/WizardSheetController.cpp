#include "wizard/WizardSheetController.h"

#include <cinttypes>

#include "controls/HelpFile.h"
#include "platform/Log.h"
#include "wizard/WizardPage.h"
#include "wizard/WizardSheet.h"

void CWizardSheetController::SetWizardSheet(CWizardSheet* sheet) {
  LogError("------------------------ParmInfo:CWizardSheet=%" PRIxPTR, reinterpret_cast<uintptr_t>(sheet));
  m_sheet = sheet;
}

IWizardPageController* CWizardSheetController::CurrentController() const {
  CWizardPage* page = m_sheet ? m_sheet->GetCurrentPage() : nullptr;
  return page ? page->GetController() : nullptr;
}

void CWizardSheetController::Home() {
  if (IWizardPageController* controller = CurrentController()) controller->Home();
}

void CWizardSheetController::Back() {
  if (IWizardPageController* controller = CurrentController()) controller->Back();
}

bool CWizardSheetController::Next() {
  IWizardPageController* controller = CurrentController();
  return controller ? controller->Next() : false;
}

void CWizardSheetController::Help(int language) {
  CWizardPage* page = m_sheet ? m_sheet->GetCurrentPage() : nullptr;
  if (page) ShowHelpFile(nullptr, page->GetHelpContextId(language));
}
