#pragma once
// The controllers of the last two steps of every recovery. The save controller drives the
// target-folder page (page 6, shown in its modal window): it validates the folder the user chose,
// then copies the ticked files there under the recovering window and keeps the outcome, which the
// result controller's page (page 5) shows.
//
// The step is entered with SetFileTree: the tree whose ticked files are to be recovered (owned by
// the file step) and the device they are read from.

#include <cstdint>
#include <string>
#include <vector>

#include "dialogs/RemainingTimeEstimator.h"
#include "wizard/WizardPageController.h"

class CFileNode;
class CSaveFilePage;
class IStorageDevice;

class ISaveFileController : public IWizardPageController {
 public:
  // Files given to the last recovery, and those of them written whole.
  virtual int GetFileCount() = 0;
  virtual int GetRecoveredFileCount() = 0;
  // The folders the last recovery wrote into, one per top-level item recovered.
  virtual std::string GetResultString(int i) = 0;
  virtual int GetResultStringCount() = 0;
  // True when the user stopped the last recovery before all its files were written.
  virtual bool WasRecoveryCancelled() { return false; }
};

class CSaveFileController : public ISaveFileController {
 public:
  // Results of ValidateTargetFolder; each but kFolderOk has its message (ShowTargetFolderError).
  enum : int {
    kFolderOk = 0,
    kNoDisk = 1,
    kNoSuchDrive = 2,
    kNotFormatted = 3,
    kInvalidPath = 4,
    kRamDisk = 5,
    kNotReady = 6,
    kNotWritable = 7,
    kNotAbsolute = 8,
    kInvalidParameter = 9,
    kInvalidSymbol = 10,
    kPathTooLong = 11,
    kNoFolder = 12,
    // The way to the folder leads through a link of another user, which is not followed.
    kUntrustedLink = 13,
  };
  // The longest folder path accepted, in bytes.
  static constexpr size_t kMaxPathLength = 245;
  // The name of the file the write test makes and removes again.
  static constexpr const char* kWriteTestName = "!t_1_e_s_2_3_t.tst";

  void Activate() override;
  void Home() override;
  void Back() override;
  // Runs the recovery into the page's folder and shows the result.
  bool Next() override;
  void SetPreviousController(IWizardPageController* previous) override { m_previous = previous; }
  IWizardPageController* GetPreviousController() override { return m_previous; }
  int GetRecoveryKind() override;
  void Cleanup() override {}

  int GetFileCount() override { return m_fileCount; }
  int GetRecoveredFileCount() override { return m_restoredCount; }
  std::string GetResultString(int i) override;
  int GetResultStringCount() override { return static_cast<int>(m_results.size()); }
  bool WasRecoveryCancelled() override { return m_cancelled; }
  // Files of the last recovery that could not be written whole (none of them is left behind).
  int GetFailedFileCount() const { return m_failedCount; }

  // Enters the step: the tree whose ticked files are recovered and the device they are read from
  // (neither owned). The page gets the totals and an empty folder.
  void SetFileTree(CFileNode* root, IStorageDevice* source);
  CFileNode* GetFileTree() const { return m_root; }
  IStorageDevice* GetSourceDevice() const { return m_source; }

  // Validates the page's folder (OK of the target-folder window): says why and gives false when
  // the folder cannot take the recovery, or the user would rather not write to the source disk.
  bool CheckTargetFolder();

  // The checks of a target folder path, as codes above; for kUntrustedLink the link refused goes to
  // *refusedLink.
  static int ValidateTargetFolder(const std::string& path, std::string* refusedLink = nullptr);
  // Shows the message of code `code` (for kUntrustedLink, naming the link).
  static void ShowTargetFolderError(int code, const std::string& refusedLink = std::string());
  // The message text of code `code` (string id and its icon are chosen by the code).
  static uint32_t TargetFolderMessageId(int code);

  void SetPage(CSaveFilePage* page) { m_page = page; }
  CSaveFilePage* GetPage() const { return m_page; }
  // The clock of the recovering window (tests give their own).
  void SetClock(TickClock clock) { m_clock = std::move(clock); }

 private:
  CSaveFilePage* m_page = nullptr;
  IWizardPageController* m_previous = nullptr;
  CFileNode* m_root = nullptr;
  IStorageDevice* m_source = nullptr;
  int m_fileCount = 0;
  int m_restoredCount = 0;
  bool m_cancelled = false;
  int m_failedCount = 0;
  std::vector<std::string> m_results;
  TickClock m_clock = SystemTickCount;
};

CSaveFileController* GetSaveFileController();
