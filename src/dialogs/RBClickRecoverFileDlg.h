#pragma once
// The two dialogs that copy one found file out of the source: the single-file recovery dialog
// (to a path the user chose) and the preview-loading dialog (to a temporary path, for a preview).
// Each shows a percentage, a bar, the remaining time and an Abort button while the copy runs on the
// dialog's worker; the worker reports through IFileRecoverCallback into counters that a timer of the
// dialog reads, and Abort (which asks nothing) cancels at once: the worker's next report answers -1.
//
// The dialog ends Accepted when the file was written whole and Rejected when it failed or was
// aborted; in both of the latter cases nothing of the file is left at the path (the recoverer
// removes a partial file itself).

#include <QProgressBar>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/IFileRecoverCallback.h"
#include "dialogs/ProgressDlgBase.h"

class CButtonPlus;
class CFileNode;
class IStorageDevice;
class QLabel;

// What the opener hands a single-file dialog.
struct SingleFileCopyRequest {
  IStorageDevice* device = nullptr;
  CFileNode* node = nullptr;
  std::string targetPath;
  QWidget* parent = nullptr;
};

// The part the two dialogs share: texts, counters, refresh rule, the run and Abort.
class CSingleFileCopyDlg : public CProgressDlgBase {
  Q_OBJECT

 public:
  ~CSingleFileCopyDlg() override;

  // Runs the copy modally; QDialog::Accepted when the file was written.
  int DoModal();

  // The callback operations (called on the worker thread).
  void Begin(int32_t files, uint64_t bytes);
  int32_t AddFiles(int32_t n);
  int32_t AddBytes(uint64_t n);
  int32_t SubtractBytes(uint32_t n);
  int32_t SetCurrentFile(const char* name);
  int32_t Poll();

  // Abort: no question asked; the title says "Cancelling..." and the button is disabled.
  void Cancel() { RequestCancel(); }

  // The texts as they are now shown (time, name or status, percent) and the bar.
  QString TimeText() const;
  QString StatusText() const;
  QString PercentText() const;
  int BarPosition() const;
  CButtonPlus* AbortButton() const { return m_abort; }
  // The remaining-time text for `elapsedMs` since the start, with `done` of `total` bytes written.
  static QString RemainingTimeText(uint32_t elapsedMs, int64_t done, int64_t total);

 protected:
  CSingleFileCopyDlg(int templateId, const SingleFileCopyRequest& request, uint32_t titleId,
                     uint32_t statusId, bool showsFileName, QWidget* parent);
  // The message shown when the copy failed (not when it was aborted), and its icon.
  virtual void ShowFailure() = 0;

 private:
  void Run();
  void Refresh();

  SingleFileCopyRequest m_request;
  uint32_t m_titleId;
  bool m_showsFileName;
  QLabel* m_status;
  QLabel* m_percent;
  QLabel* m_time;
  QProgressBar* m_bar;
  CButtonPlus* m_abort;
  QTimer m_refresh;
  // Written by the worker, read by the refresh timer.
  std::atomic<int64_t> m_total{0};
  std::atomic<int64_t> m_done{0};
  std::atomic<bool> m_allFilesDone{false};
  std::atomic<uint32_t> m_start{0};
  mutable std::mutex m_nameMutex;
  QString m_name;
};

class CRBClickRecoverFileDlg : public CSingleFileCopyDlg {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 356;
  explicit CRBClickRecoverFileDlg(const SingleFileCopyRequest& request);

 protected:
  void ShowFailure() override;
};

class CPreviewLoadingDlg : public CSingleFileCopyDlg {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 303;
  explicit CPreviewLoadingDlg(const SingleFileCopyRequest& request);

 protected:
  void ShowFailure() override;
};

// The callbacks that forward every operation to their dialog.
class CRBClickRecoverFileCallback : public IFileRecoverCallback {
 public:
  explicit CRBClickRecoverFileCallback(CSingleFileCopyDlg* dialog) : m_dialog(dialog) {}
  void Begin(int32_t files, uint64_t bytes) override { m_dialog->Begin(files, bytes); }
  int32_t AddFiles(int32_t n) override { return m_dialog->AddFiles(n); }
  int32_t AddBytes(uint64_t n) override { return m_dialog->AddBytes(n); }
  int32_t SubtractBytes(uint32_t n) override { return m_dialog->SubtractBytes(n); }
  int32_t SetCurrentFile(const char* name) override { return m_dialog->SetCurrentFile(name); }
  int32_t Poll() override { return m_dialog->Poll(); }

 private:
  CSingleFileCopyDlg* m_dialog;
};

using CFilePreViewLoadingCallback = CRBClickRecoverFileCallback;
