#pragma once
// The progress window of the quick search for lost partitions on one disk ("Quick Partition
// Searching"): a bar, the elapsed and the estimated remaining time, and Cancel.
//
// The search calls the IPartitionSearchCallback operations on its worker thread. They never touch a
// widget: they store the range, the count of positions done and the found partitions, and the
// window's own 300 ms timer reads that snapshot and paints it. Cancel asks "Do you want to stop
// searching?" first and holds the search at its next position while the question is open; on Yes the
// search stops there, the button is disabled, the title becomes "Cancelling..." and the remaining
// time stops changing. The window stays up until the search has ended (CProgressDlgBase).
//
// RunLostPartitionSearch runs the whole step: the window over the program's window (which is
// disabled meanwhile), the search of the disk on the window's worker, and the found partitions
// handed back.

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "core/IPartitionSearchCallback.h"
#include "core/LostPartitionSearcher.h"
#include "dialogs/ProgressDlgBase.h"

class IStorageDevice;

class CLostPartitionSearchingDialog : public CProgressDlgBase, public IPartitionSearchCallback {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 222;
  static constexpr int kProgressId = 1019;
  static constexpr int kElapsedId = 1142;
  static constexpr int kRemainingId = 1143;
  static constexpr std::chrono::milliseconds kTimerInterval{300};
  // Usage event: the search cancelled, with the milliseconds since the window opened.
  static constexpr int kEventCancelled = 8243;

  explicit CLostPartitionSearchingDialog(QWidget* parent = nullptr, TickClock clock = {});
  ~CLostPartitionSearchingDialog() override;

  // IPartitionSearchCallback: called from the search's worker (or any thread). IsCancelled and
  // PumpMessages wait while the stop question is open.
  void PumpMessages() override { PassGate(); }
  void Step() override;
  int IsCancelled() override { return PassGate() ? 1 : 0; }
  void SetStep(int64_t step) override;
  void StepBy(int64_t steps) override;
  void SetRange(int64_t first, int64_t end) override;
  void SetPosition(int64_t position) override;
  void AddFoundPartition(const CLostPartitionRecord* record) override;

  // Appends a copy of every partition reported so far, in order; the caller owns the copies. Called
  // once the worker has ended.
  void GetFoundPartitions(LostPartitionRecordList& out) const;
  size_t FoundCount() const;
  // Positions the search has reported done.
  int64_t DoneCount() const { return m_done.load(); }

  // "%02d:%02d:%02d" of the whole seconds in `milliseconds`.
  static std::string FormatTime(uint64_t milliseconds) { return FormatElapsed(milliseconds); }
  // The remaining time the window shows for `done` of `total` positions after `elapsedMs`:
  // "Calculating..." for the first 5 seconds and while nothing is done.
  static std::string RemainingText(int64_t total, int64_t done, uint64_t elapsedMs);

  // Paints the snapshot with the time elapsed on the window's clock (the timer does it).
  void OnTimer();

  QProgressBar* ProgressBar() const { return m_bar; }
  QLabel* ElapsedLabel() const { return m_elapsedLabel; }
  QLabel* RemainingLabel() const { return m_remainingLabel; }
  QPushButton* CancelButton() const { return m_cancel; }

 public slots:
  void OnCancel() { RequestCancel(); }

 protected:
  void OnCancelConfirmed() override;

 private:
  QProgressBar* m_bar = nullptr;
  QLabel* m_elapsedLabel = nullptr;
  QLabel* m_remainingLabel = nullptr;
  QPushButton* m_cancel = nullptr;
  QTimer m_timer;

  // The worker's snapshot.
  std::atomic<int64_t> m_first{0};
  std::atomic<int64_t> m_total{0};
  std::atomic<int64_t> m_done{0};
  std::atomic<int64_t> m_position{0};
  std::atomic<bool> m_rangeSet{false};
  mutable std::mutex m_foundMutex;
  LostPartitionRecordList m_found;
  // The elapsed time counts from the window's opening until the search gives its range, then from
  // there.
  std::atomic<uint32_t> m_startTick{0};
  uint32_t m_opened = 0;
  std::string m_remaining;
};

// Searches `disk` for partitions its table no longer holds under the searching window, with the
// program's window `window` (may be null) disabled meanwhile, and appends them to `found`. False when
// the search could not run. A cancelled search keeps what it had found until then.
bool RunLostPartitionSearch(IStorageDevice* disk, QWidget* window, LostPartitionRecordList& found);

// Called on the window's thread with the searching window once it is shown and before the search
// starts (tests act on the window here). Returns the previous hook.
using LostPartitionSearchShownHook = std::function<void(CLostPartitionSearchingDialog& dialog)>;
LostPartitionSearchShownHook SetLostPartitionSearchShownHook(LostPartitionSearchShownHook hook);
