#pragma once
// The controller of the welcome page (page 0): it holds the recovery mode the user started (0
// deleted files, 1 format recovery, 2 partition recovery) and hands over to the file-type step.
// The welcome page is the root of every chain of controllers: Home shows it again, Back does
// nothing.

#include <cstdint>

#include "wizard/WizardPageController.h"

class CRecoveryModeSelectPage;

class IRecoveryModeSelectController : public IWizardPageController {
 public:
  virtual void SetRecoveryMode(int mode) = 0;
  virtual int GetRecoveryMode() = 0;
};

class CRecoveryModeSelectController : public IRecoveryModeSelectController {
 public:
  void Activate() override;
  void Home() override;
  void Back() override;
  // Passes the mode to the file-type controller, links it back here and activates it.
  bool Next() override;
  void SetPreviousController(IWizardPageController* previous) override { m_previous = previous; }
  IWizardPageController* GetPreviousController() override { return m_previous; }
  void SetRecoveryMode(int mode) override { m_mode = mode; }
  int GetRecoveryMode() override { return m_mode; }

  void SetPage(CRecoveryModeSelectPage* page);
  CRecoveryModeSelectPage* GetPage() const { return m_page; }

 private:
  CRecoveryModeSelectPage* m_page = nullptr;
  int m_mode = 0;
  IWizardPageController* m_previous = nullptr;
};

CRecoveryModeSelectController* GetRecoveryModeSelectController();
