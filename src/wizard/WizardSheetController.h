#pragma once
// The sheet controller: the sheet's Home, Back, Next and Help go through it to the controller of
// the page now shown.

#include "wizard/WizardPageController.h"

class CWizardSheet;

class CWizardSheetController : public IWizardSheetController {
 public:
  CWizardSheetController() = default;

  // The sheet whose current page this controller drives; set once. Not owned.
  void SetWizardSheet(CWizardSheet* sheet);
  CWizardSheet* GetWizardSheet() const { return m_sheet; }

  void Home() override;
  void Back() override;
  // The result of the page controller's Next; false without a sheet, page or controller.
  bool Next() override;
  // Opens the help topic of the current page.
  void Help(int language) override;

 private:
  IWizardPageController* CurrentController() const;

  CWizardSheet* m_sheet = nullptr;
};
