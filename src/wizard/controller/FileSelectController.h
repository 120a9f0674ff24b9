#pragma once
// The controller of the file page (page 9) in every recovery mode. The step that built a found-file
// tree hands it over with SetDirectoryTree before activating this controller; the page then shows it
// and owns it. Next hands the ticked files to the save step, Back (after asking) returns to the step
// that built the tree and frees it, and the tree is the last part of a saved scan state.

#include <chrono>

#include "wizard/WizardPageController.h"

class CFileNode;
class CFileSelectPage;
class CFileSystemNode;
class IStorageDevice;

class IFileSelectController : public IWizardPageController {
 public:
  // The device the found files are read from.
  virtual IStorageDevice* GetSourceDevice() = 0;
};

class CFileSelectController : public IFileSelectController {
 public:
  // Usage events by recovery mode: Next (one-argument, then timed) and Home (timed).
  static constexpr int kEventNext[3] = {8209, 8230, 8258};
  static constexpr int kEventNextTimed[3] = {8210, 8231, 8259};
  static constexpr int kEventHome[3] = {8211, 8232, 8260};

  void Activate() override;
  void Home() override;
  void Back() override;
  bool Next() override;
  void SetPreviousController(IWizardPageController* previous) override { m_previous = previous; }
  IWizardPageController* GetPreviousController() override { return m_previous; }
  int RestoreState(IRSData* stream, IDIRBuildCallback* progress) override;
  int SaveState(IRSData* stream, IDIRBuildCallback* progress) override;
  int GetStateTypeId() override { return 5; }
  int GetRecoveryKind() override;
  CSourceDeviceChoice GetSourceSelection() override;
  void Cleanup() override;
  IStorageDevice* GetSourceDevice() override;

  // The one entry for a built tree: shows `root` (the page owns it from now on). The found files'
  // data are read from `device`, or, when it is null, from the source the previous steps chose.
  // In a complete or partition recovery the scan state is saved with the tree (the previous
  // controller must be linked first).
  void SetDirectoryTree(CFileSystemNode* root, IStorageDevice* device = nullptr);
  // The tree on show (owned by the page), for the save step.
  CFileNode* GetFileTree() const;

  void SetPage(CFileSelectPage* page) { m_page = page; }
  CFileSelectPage* GetPage() const { return m_page; }

 private:
  int Mode() const;
  void ShowTree(CFileSystemNode* root, IStorageDevice* device);

  CFileSelectPage* m_page = nullptr;
  CFileSystemNode* m_tree = nullptr;
  IStorageDevice* m_device = nullptr;
  IWizardPageController* m_previous = nullptr;
  std::chrono::steady_clock::time_point m_activated{};
};

CFileSelectController* GetFileSelectController();
