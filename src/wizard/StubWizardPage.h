#pragma once
// A page whose own contents are not built yet: it has its number, its help topic and its
// controller, and an empty page area.

#include <vector>

#include "wizard/WizardPage.h"

class CStubWizardPage : public CWizardPage {
  Q_OBJECT

 public:
  explicit CStubWizardPage(WIZARD_PAGE page, QWidget* parent = nullptr);

  void SetController(IWizardPageController* controller) { m_controller = controller; }
  IWizardPageController* GetController() override { return m_controller; }
  int GetHelpContextId(int language) override;
  bool OnCommand(int commandId) override;

  WIZARD_PAGE Page() const { return m_page; }
  // The commands sent to the page so far, oldest first.
  const std::vector<int>& ReceivedCommands() const { return m_commands; }

  // The help topic of each page.
  static int HelpTopicOf(WIZARD_PAGE page);

 private:
  WIZARD_PAGE m_page;
  IWizardPageController* m_controller = nullptr;
  std::vector<int> m_commands;
};
