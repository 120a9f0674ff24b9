#include "wizard/WizardPages.h"

#include "wizard/StubWizardPage.h"
#include "wizard/controller/StubPageController.h"

IWizardPageController* GetPageController(WIZARD_PAGE page) { return GetStubPageController(page); }

std::array<CWizardPage*, kWizardPageCount> CreateWizardPages(QWidget* sheet) {
  std::array<CWizardPage*, kWizardPageCount> pages{};
  for (int i = 0; i < kWizardPageCount; ++i) {
    const auto index = static_cast<WIZARD_PAGE>(i);
    auto* page = new CStubWizardPage(index, sheet);
    CStubPageController* controller = GetStubPageController(index);
    page->SetController(controller);
    controller->SetPage(page);
    pages[i] = page;
  }
  return pages;
}

void ReleaseWizardPages(const std::array<CWizardPage*, kWizardPageCount>& pages) {
  for (int i = 0; i < kWizardPageCount; ++i) {
    CStubPageController* controller = GetStubPageController(static_cast<WIZARD_PAGE>(i));
    if (controller && controller->GetPage() == pages[i]) controller->SetPage(nullptr);
  }
}
