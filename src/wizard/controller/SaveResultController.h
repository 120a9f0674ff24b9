#pragma once
// The controller of the result page (page 5): it only shows the page, whose window reads the
// outcome from the save controller, and passes Home and Back on.

#include "wizard/WizardPageController.h"

class CSaveResultPage;

class ISaveResultController : public IWizardPageController {};

class CSaveResultController : public ISaveResultController {
 public:
  void Activate() override;
  void Home() override;
  void Back() override;
  bool Next() override { return true; }
  void SetPreviousController(IWizardPageController* previous) override { m_previous = previous; }
  IWizardPageController* GetPreviousController() override { return m_previous; }
  int GetRecoveryKind() override;
  void Cleanup() override {}

  void SetPage(CSaveResultPage* page) { m_page = page; }
  CSaveResultPage* GetPage() const { return m_page; }

 private:
  CSaveResultPage* m_page = nullptr;
  IWizardPageController* m_previous = nullptr;
};

CSaveResultController* GetSaveResultController();
