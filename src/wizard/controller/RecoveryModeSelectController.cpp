#include "wizard/controller/RecoveryModeSelectController.h"

#include <cinttypes>

#include "platform/Log.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/TypeOfFileToRecoveryController.h"

CRecoveryModeSelectController* GetRecoveryModeSelectController() {
  static CRecoveryModeSelectController controller;
  return &controller;
}

void CRecoveryModeSelectController::SetPage(CRecoveryModeSelectPage* page) {
  LogError("------------------------ParmInfo:CRecoveryModeSelectPage* pPage=%" PRIxPTR,
           reinterpret_cast<uintptr_t>(page));
  m_page = page;
}

void CRecoveryModeSelectController::Activate() {
  if (CWizardSheet* sheet = GetWizardSheet()) sheet->ShowPage(RecoveryModeSelect);
}

void CRecoveryModeSelectController::Home() { Activate(); }

void CRecoveryModeSelectController::Back() {}

bool CRecoveryModeSelectController::Next() {
  CTypeOfFileToRecoveryController* next = GetTypeOfFileToRecoveryController();
  next->SetRecoveryMode(m_mode);
  next->SetPreviousController(this);
  next->Activate();
  return true;
}
