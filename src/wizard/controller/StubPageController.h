#pragma once
// Stand-in controllers for the pages whose steps are not built yet (all but the welcome page, the
// file-type page, which hands over to the volume (1), device (2) or disk (3) step of the recovery
// mode, and the volume step itself). The stand-in of the file step keeps the tree it is handed. Each shows
// its page and passes the wizard along the way the recovery modes go:
//   1 -> file list (9); 2 -> scanned partitions (7) -> 9; 3 -> found partitions (4) -> scanned
//   partitions (8) -> 9; 9 -> save files (6) -> result (5).
// Back activates the previous controller, Home passes Home back towards the welcome controller;
// both release the step first (Cleanup). They answer the recovery kinds and the
// scan-state numbers of the controllers they stand for, so chains of them can be saved and told
// apart.

#include "wizard/WizardPage.h"
#include "wizard/WizardPageController.h"

class CFileSystemNode;

class CStubPageController : public IWizardPageController {
 public:
  explicit CStubPageController(WIZARD_PAGE page) : m_page(page) {}
  ~CStubPageController() override;

  void Activate() override;
  void Home() override;
  void Back() override;
  bool Next() override;
  void SetPreviousController(IWizardPageController* previous) override { m_previous = previous; }
  IWizardPageController* GetPreviousController() override { return m_previous; }
  void ShowAdvancedSettings() override;
  int GetStateTypeId() override;
  int GetRecoveryKind() override;
  void Cleanup() override;
  // Keeps the tree handed over (freeing one kept before); Cleanup frees it.
  void SetDirectoryTree(CFileSystemNode* root);
  CFileSystemNode* GetDirectoryTree() const { return m_tree; }

  WIZARD_PAGE Page() const { return m_page; }
  void SetPage(CWizardPage* page) { m_pageWindow = page; }
  CWizardPage* GetPage() const { return m_pageWindow; }

  // How often the step was released, and how often its advanced settings were asked for.
  int CleanupCount() const { return m_cleanups; }
  int AdvancedSettingsCount() const { return m_advancedSettings; }

  // The page the stand-in hands over to on Next for recovery mode `mode`; -1 for none.
  static int NextPageOf(WIZARD_PAGE page, int mode);

 private:
  WIZARD_PAGE m_page;
  CWizardPage* m_pageWindow = nullptr;
  IWizardPageController* m_previous = nullptr;
  int m_cleanups = 0;
  int m_advancedSettings = 0;
  CFileSystemNode* m_tree = nullptr;
};

// The stand-in controller of page `page` (one per stand-in page, for the whole run); null for the
// welcome and file-type pages and out of range.
CStubPageController* GetStubPageController(WIZARD_PAGE page);
