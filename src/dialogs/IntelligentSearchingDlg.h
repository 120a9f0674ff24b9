#pragma once
// The window of a whole-device search: what the file-system searchers have found so far, the
// elapsed and remaining time, a progress bar and Cancel.
//
// The search's worker calls the IIntelligentSearchCallback operations. They never touch a widget:
// they store the range, the block done and the running summary, and the window reads that snapshot
// on its own thread from a timer, at most once per kRefreshMs, so the search never waits for the
// window. The elapsed time is read from the window's monotonic clock. Cancel asks first and holds the
// search before its next block while the question is open; on Yes the search stops there, and the
// window stays until the search has finished.

#include <QTimer>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "core/IIntelligentSearchCallback.h"
#include "core/IntelligentSearchSummary.h"
#include "dialogs/ProgressDlgBase.h"
#include "dialogs/RemainingTimeEstimator.h"

class CButtonPlus;
class CIntelligentSearchController;
class QLabel;
class QProgressBar;

class CIntelligentSearchingDlg : public CProgressDlgBase, public IIntelligentSearchCallback {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 129;
  static constexpr int kIdProgress = 1000;
  static constexpr int kIdElapsed = 1023;
  static constexpr int kIdRemaining = 1026;
  static constexpr int kIdTotalCollapsed = 1030;
  static constexpr int kIdExpand = 1110;
  static constexpr int kIdCollapse = 1129;
  // Value controls of the eight counters, in the summary's order.
  static constexpr int kCounterIds[8] = {1003, 1006, 1008, 1010, 1020, 1017, 1012, 1014};
  // The Ext2/Ext3 rows below the others: superblocks seen, file systems made of them.
  static constexpr int kIdExt2Superblocks = 1040;
  static constexpr int kIdExt2FileSystems = 1041;
  static constexpr uint32_t kRefreshMs = 300;
  // The bar has at most this many units; positions are divided by a power of ten to fit.
  static constexpr int64_t kMaxBarUnits = 1000;

  explicit CIntelligentSearchingDlg(QWidget* parent = nullptr, TickClock clock = SystemTickCount);
  ~CIntelligentSearchingDlg() override;

  // Shows the window, runs `driver`'s search with this window as its callback on the window's worker
  // while this thread stays in the window's event loop, and returns once the search has finished
  // (completed or cancelled). 1 when the search ran, 0 when it could not be started.
  int32_t RunSearch(CIntelligentSearchController& driver);

  // IIntelligentSearchCallback, called on the search's worker.
  void SetProgress(int64_t block) override;
  void SetRange(int64_t first, int64_t end) override;
  // Asked before every block: waits while the stop question is open, then tells whether to stop.
  bool IsCancelled() override { return PassGate(); }
  void OnBlockDone() override {}
  void GetSummary(IntelligentSearchSummary* out) override;
  void SetSummary(const IntelligentSearchSummary* summary) override;
  void OnSearchFinished() override { m_finished.store(true); }

  bool IsFinished() const { return m_finished.load(); }
  // The divisor from blocks to bar units for a search of `blocks` blocks.
  static int64_t ScaleFor(int64_t blocks);
  // Reads the worker's snapshot into the window when a refresh is due (always with `force`).
  void Refresh(bool force = false);
  // Shows the time elapsed since the window opened, and the snapshot (the one-second timer calls it).
  void OnSecond();
  void ShowDetails(bool show);
  bool DetailsShown() const { return m_detailsShown; }
  QString Text(int id) const;
  QProgressBar* ProgressBar() const { return m_bar; }
  // The square that opens the counters' rows.
  CButtonPlus* ExpandButton() const { return m_expand; }
  CButtonPlus* CancelButton() const { return m_cancel; }
  // The last block the search reported done (-1 before the first).
  int64_t ReportedBlock() const;

 protected:
  // Tells the usage statistics how long the search had run before it was stopped.
  void OnCancelConfirmed() override;

 private:
  void Build();

  TickClock m_clock;
  // Written by the worker, read by the window.
  mutable std::mutex m_mutex;
  IntelligentSearchSummary m_summary;
  int64_t m_rangeBlocks = -1;
  int64_t m_block = -1;
  std::atomic<bool> m_finished{false};

  // The window's own.
  int64_t m_shownRange = -1;
  int64_t m_shownBlock = -1;
  int64_t m_scale = 1;
  uint32_t m_lastRefresh = 0;
  uint32_t m_startTick = 0;
  bool m_remainingShown = false;
  bool m_detailsShown = false;
  CRemainingTimeEstimator m_estimator;
  QTimer m_readTimer;
  QTimer m_secondTimer;
  QProgressBar* m_bar = nullptr;
  CButtonPlus* m_cancel = nullptr;
  CButtonPlus* m_expand = nullptr;
  CButtonPlus* m_collapse = nullptr;
  std::vector<QWidget*> m_detailRows;
  std::vector<QWidget*> m_collapsedRow;
};
