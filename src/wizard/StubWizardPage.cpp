#include "wizard/StubWizardPage.h"

CStubWizardPage::CStubWizardPage(WIZARD_PAGE page, QWidget* parent) : CWizardPage(parent), m_page(page) {}

int CStubWizardPage::HelpTopicOf(WIZARD_PAGE page) {
  static const int kTopics[kWizardPageCount] = {15, 16, 50, 51, 51, 27, 25, 50, 51, 23, 52};
  return page >= 0 && page < kWizardPageCount ? kTopics[page] : 0;
}

int CStubWizardPage::GetHelpContextId(int) { return HelpTopicOf(m_page); }

bool CStubWizardPage::OnCommand(int commandId) {
  m_commands.push_back(commandId);
  return false;
}
