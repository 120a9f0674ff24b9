#pragma once
// The window of a recovery run: copies the ticked files of a found-file tree into the target folder
// and shows files and bytes done against the selection, elapsed and remaining time, the file being
// written and a progress bar, with a Cancel button.
//
// DoModal shows the window and runs the whole recovery before it returns: each ticked top-level
// node of the tree goes to the recovery output (CFileRecoverer) on the window's worker while this
// thread stays in the window's event loop. The worker's reports only store counters; the window
// reads them at most once a second, on its own thread. Enter and Escape never end the run. Cancel
// asks "Quit recovering?" first and holds the copy at its next report while the question is open, so
// nothing more is written or counted until the answer; on Yes the file being written is removed
// again (a file in the target is whole or not there), and no further node is handed over.

#include <QTimer>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/FileRecoverCallback.h"
#include "dialogs/ProgressDlgBase.h"
#include "dialogs/RemainingTimeEstimator.h"

class CButtonPlus;
class CFileNode;
class IStorageDevice;
class QLabel;
class QProgressBar;

class CRecoveringDlg : public CProgressDlgBase, public IRecoveringDlg {
  Q_OBJECT

 public:
  // Control numbers of the window.
  static constexpr int kTemplateId = 134;
  static constexpr int kIdFilesDone = 1015;
  static constexpr int kIdSelectedFiles = 1018;
  static constexpr int kIdDoneSize = 1021;
  static constexpr int kIdTotalSize = 1024;
  static constexpr int kIdRemaining = 1027;
  static constexpr int kIdElapsed = 1029;
  static constexpr int kIdCurrentFile = 1033;
  static constexpr int kIdProgress = 1044;
  static constexpr int kIdExpand = 1110;
  static constexpr int kIdCollapse = 1129;
  // Refreshes of the texts are at least this far apart.
  static constexpr uint32_t kRefreshMs = 1000;

  // `root`: the tree whose ticked children are recovered; `source`: the device they are read from;
  // neither is owned.
  CRecoveringDlg(CFileNode* root, IStorageDevice* source, std::string targetFolder, QWidget* parent = nullptr,
                 TickClock clock = SystemTickCount);
  ~CRecoveringDlg() override;

  // Shows the window, runs the recovery and returns QDialog::Accepted when it has ended.
  int DoModal();

  int GetFileCount() const;
  int GetRecoveredFileCount() const;
  int64_t GetRecoveredBytes() const;
  // Files that were ticked but could not be written whole (none of them is left in the target).
  int GetFailedFileCount() const { return m_failed; }
  // The folder each top-level node went into, in the order they were written.
  const std::vector<std::string>& GetSavedFolders() const { return m_savedFolders; }

  // The reports of the run (IRecoveringDlg), called on the worker thread.
  int32_t Begin(int32_t files, uint64_t totalBytes) override;
  int32_t AddFiles(int32_t n) override;
  int32_t AddBytes(uint64_t n) override;
  int32_t SubtractBytes(uint32_t n) override;
  int32_t SetCurrentFile(const char* name) override;
  int32_t Poll() override;

  // Shows the detail rows, or hides them and makes the window shorter.
  void ShowDetails(bool show);
  bool DetailsShown() const { return m_detailsShown; }
  // Refreshes the texts and the bar now when a refresh is due (or always with `force`).
  void Refresh(bool force = false);
  // The text of control `id` as shown now.
  QString Text(int id) const;
  QProgressBar* ProgressBar() const { return m_bar; }
  CButtonPlus* CancelButton() const { return m_cancel; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Build();

  CFileNode* m_root;
  IStorageDevice* m_source;
  std::string m_target;

  // Written by the worker and read by the window; under the lock.
  mutable std::mutex m_mutex;
  int32_t m_selectedFiles = 0;
  int32_t m_filesDone = 0;
  int64_t m_bytesDone = 0;
  int64_t m_totalBytes = 0;
  std::string m_currentFile;
  uint32_t m_start = 0;
  uint32_t m_lastRefresh = 0;
  bool m_begun = false;

  int m_failed = 0;
  bool m_detailsShown = true;
  std::vector<std::string> m_savedFolders;
  QTimer m_timer;
  QProgressBar* m_bar = nullptr;
  CButtonPlus* m_cancel = nullptr;
  CButtonPlus* m_expand = nullptr;
  CButtonPlus* m_collapse = nullptr;
  std::vector<QWidget*> m_detailRows;
};
