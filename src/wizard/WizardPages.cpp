#include "wizard/WizardPages.h"

#include "ui/Pictures.h"
#include "wizard/CompleteRecoveryPartitionDeviceSelectPage.h"
#include "wizard/CompleteRecoveryScanPartitionDeviceSelectPage.h"
#include "wizard/DeleteRecoveryPartitionDeviceSelectPage.h"
#include "wizard/FileSelectPage.h"
#include "wizard/LostRecoveryDiskDeviceSelectPage.h"
#include "wizard/LostRecoveryPartitionDeviceSelectPage.h"
#include "wizard/LostRecoveryScanPartitionDeviceSelectPage.h"
#include "wizard/RecoveryModeSelectPage.h"
#include "wizard/SaveFilePage.h"
#include "wizard/SaveResultPage.h"
#include "wizard/TypeOfFileToRecoveryPage.h"
#include "wizard/controller/CompleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/CompleteRecoveryScanPartitionDeviceSelectController.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/LostRecoveryDiskDeviceSelectController.h"
#include "wizard/controller/LostRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/LostRecoveryScanPartitionDeviceSelectController.h"
#include "wizard/controller/RecoveryModeSelectController.h"
#include "wizard/controller/SaveFileController.h"
#include "wizard/controller/SaveResultController.h"
#include "wizard/controller/TypeOfFileToRecoveryController.h"

IWizardPageController* GetPageController(WIZARD_PAGE page) {
  if (page == RecoveryModeSelect) return GetRecoveryModeSelectController();
  if (page == TypeOfFileToRecovery) return GetTypeOfFileToRecoveryController();
  if (page == DeleteRecoveryPartitionDeviceSelect) return GetDeleteRecoveryPartitionDeviceSelectController();
  if (page == FileSelect) return GetFileSelectController();
  if (page == CompleteRecoveryPartitionDeviceSelect)
    return GetCompleteRecoveryPartitionDeviceSelectController();
  if (page == CompleteRecoveryScanPartitionDeviceSelect)
    return GetCompleteRecoveryScanPartitionDeviceSelectController();
  if (page == LostRecoveryDiskDeviceSelect) return GetLostRecoveryDiskDeviceSelectController();
  if (page == LostRecoveryPartitionDeviceSelect) return GetLostRecoveryPartitionDeviceSelectController();
  if (page == LostRecoveryScanPartitionDeviceSelect)
    return GetLostRecoveryScanPartitionDeviceSelectController();
  if (page == SaveFile) return GetSaveFileController();
  if (page == SaveResult) return GetSaveResultController();
  return nullptr;
}

std::array<CWizardPage*, kWizardPageCount> CreateWizardPages(QWidget* sheet) {
  std::array<CWizardPage*, kWizardPageCount> pages{};
  for (int i = 0; i < kWizardPageCount; ++i) {
    const auto index = static_cast<WIZARD_PAGE>(i);
    if (index == RecoveryModeSelect) {
      auto* page = new CRecoveryModeSelectPage(corvale::ui::bitmap::kWelcomeComment, sheet);
      page->SetController(GetRecoveryModeSelectController());
      GetRecoveryModeSelectController()->SetPage(page);
      pages[i] = page;
    } else if (index == TypeOfFileToRecovery) {
      auto* page = new CTypeOfFileToRecoveryPage(sheet);
      page->SetController(GetTypeOfFileToRecoveryController());
      GetTypeOfFileToRecoveryController()->SetPage(page);
      pages[i] = page;
    } else if (index == DeleteRecoveryPartitionDeviceSelect) {
      auto* page = new CDeleteRecoveryPartitionDeviceSelectPage(sheet);
      page->SetController(GetDeleteRecoveryPartitionDeviceSelectController());
      GetDeleteRecoveryPartitionDeviceSelectController()->SetPage(page);
      pages[i] = page;
    } else if (index == CompleteRecoveryPartitionDeviceSelect) {
      auto* page = new CCompleteRecoveryPartitionDeviceSelectPage(sheet);
      page->SetController(GetCompleteRecoveryPartitionDeviceSelectController());
      GetCompleteRecoveryPartitionDeviceSelectController()->SetPage(page);
      pages[i] = page;
    } else if (index == CompleteRecoveryScanPartitionDeviceSelect) {
      auto* page = new CCompleteRecoveryScanPartitionDeviceSelectPage(sheet);
      page->SetController(GetCompleteRecoveryScanPartitionDeviceSelectController());
      GetCompleteRecoveryScanPartitionDeviceSelectController()->SetPage(page);
      pages[i] = page;
    } else if (index == LostRecoveryDiskDeviceSelect) {
      auto* page = new CLostRecoveryDiskDeviceSelectPage(sheet);
      page->SetController(GetLostRecoveryDiskDeviceSelectController());
      GetLostRecoveryDiskDeviceSelectController()->SetPage(page, page->GetDeviceSelectCtrl());
      pages[i] = page;
    } else if (index == LostRecoveryPartitionDeviceSelect) {
      auto* page = new CLostRecoveryPartitionDeviceSelectPage(sheet);
      page->SetController(GetLostRecoveryPartitionDeviceSelectController());
      GetLostRecoveryPartitionDeviceSelectController()->SetPage(page);
      pages[i] = page;
    } else if (index == LostRecoveryScanPartitionDeviceSelect) {
      auto* page = new CLostRecoveryScanPartitionDeviceSelectPage(sheet);
      page->SetController(GetLostRecoveryScanPartitionDeviceSelectController());
      GetLostRecoveryScanPartitionDeviceSelectController()->SetPage(page);
      pages[i] = page;
    } else if (index == FileSelect) {
      auto* page = new CFileSelectPage(sheet);
      page->SetController(GetFileSelectController());
      GetFileSelectController()->SetPage(page);
      pages[i] = page;
    } else if (index == SaveFile) {
      auto* page = new CSaveFilePage(sheet);
      page->SetController(GetSaveFileController());
      GetSaveFileController()->SetPage(page);
      pages[i] = page;
    } else if (index == SaveResult) {
      auto* page = new CSaveResultPage(sheet);
      page->SetController(GetSaveResultController());
      GetSaveResultController()->SetPage(page);
      pages[i] = page;
    }
  }
  return pages;
}

void ReleaseWizardPages(const std::array<CWizardPage*, kWizardPageCount>& pages) {
  if (GetRecoveryModeSelectController()->GetPage() == pages[RecoveryModeSelect])
    GetRecoveryModeSelectController()->SetPage(nullptr);
  if (GetTypeOfFileToRecoveryController()->GetPage() == pages[TypeOfFileToRecovery])
    GetTypeOfFileToRecoveryController()->SetPage(nullptr);
  if (GetDeleteRecoveryPartitionDeviceSelectController()->GetPage() ==
      pages[DeleteRecoveryPartitionDeviceSelect])
    GetDeleteRecoveryPartitionDeviceSelectController()->SetPage(nullptr);
  if (GetLostRecoveryDiskDeviceSelectController()->GetPage() == pages[LostRecoveryDiskDeviceSelect]) {
    GetLostRecoveryDiskDeviceSelectController()->Cleanup();
    GetLostRecoveryDiskDeviceSelectController()->SetPage(nullptr, nullptr);
  }
  if (GetLostRecoveryPartitionDeviceSelectController()->GetPage() ==
      pages[LostRecoveryPartitionDeviceSelect]) {
    GetLostRecoveryPartitionDeviceSelectController()->Cleanup();
    GetLostRecoveryPartitionDeviceSelectController()->SetPage(nullptr, nullptr);
  }
  if (GetCompleteRecoveryPartitionDeviceSelectController()->GetPage() ==
      pages[CompleteRecoveryPartitionDeviceSelect]) {
    GetCompleteRecoveryPartitionDeviceSelectController()->Cleanup();
    GetCompleteRecoveryPartitionDeviceSelectController()->SetPage(nullptr);
  }
  if (GetCompleteRecoveryScanPartitionDeviceSelectController()->GetPage() ==
      pages[CompleteRecoveryScanPartitionDeviceSelect]) {
    GetCompleteRecoveryScanPartitionDeviceSelectController()->Cleanup();
    GetCompleteRecoveryScanPartitionDeviceSelectController()->SetPage(nullptr);
  }
  if (GetLostRecoveryScanPartitionDeviceSelectController()->GetPage() ==
      pages[LostRecoveryScanPartitionDeviceSelect]) {
    GetLostRecoveryScanPartitionDeviceSelectController()->Cleanup();
    GetLostRecoveryScanPartitionDeviceSelectController()->SetPage(nullptr);
  }
  if (GetFileSelectController()->GetPage() == pages[FileSelect]) {
    GetFileSelectController()->Cleanup();
    GetFileSelectController()->SetPage(nullptr);
  }
  if (GetSaveFileController()->GetPage() == pages[SaveFile]) GetSaveFileController()->SetPage(nullptr);
  if (GetSaveResultController()->GetPage() == pages[SaveResult]) GetSaveResultController()->SetPage(nullptr);
}
