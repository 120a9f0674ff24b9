#include "wizard/controller/SaveResultController.h"

#include "wizard/WizardSheet.h"

CSaveResultController* GetSaveResultController() {
  static auto* controller = new CSaveResultController;
  return controller;
}

void CSaveResultController::Activate() {
  if (CWizardSheet* sheet = GetWizardSheet()) sheet->ShowPage(SaveResult);
}

void CSaveResultController::Home() {
  Cleanup();
  if (m_previous) m_previous->Home();
}

void CSaveResultController::Back() {
  Cleanup();
  if (m_previous) m_previous->Back();
}

int CSaveResultController::GetRecoveryKind() {
  return m_previous ? m_previous->GetRecoveryKind() : kRecoveryKindNone;
}
