#pragma once
// The progress window of the quick search for lost partitions on one disk ("Quick Partition
// Searching"): a bar, the elapsed and the estimated remaining time, and Cancel.
//
// The search calls the IPartitionSearchCallback operations on its worker thread. They never touch a
// widget: they store the range, the count of positions done and the found partitions, and the
// window's own 300 ms timer reads that snapshot and paints it. Cancel asks "Do you want to stop
// searching?" first; on Yes the search sees IsCancelled at its next position, the button is disabled,
// the title becomes "Cancelling..." and the remaining time stops changing. The window stays up until
// its opener closes it once the worker has ended.
//
// RunLostPartitionSearch runs the whole step: the window over the program's window (which is
// disabled meanwhile), the search of the disk on a worker, and the found partitions handed back.

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

#include "controls/SearchSuperDlg.h"
#include "core/IPartitionSearchCallback.h"
#include "core/LostPartitionSearcher.h"

class IStorageDevice;

class CLostPartitionSearchingDialog : public CSearchSuperDlg, public IPartitionSearchCallback {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 222;
  static constexpr int kProgressId = 1019;
  static constexpr int kElapsedId = 1142;
  static constexpr int kRemainingId = 1143;
  static constexpr std::chrono::milliseconds kTimerInterval{300};
  // Usage event: the search cancelled, with the milliseconds since the window opened.
  static constexpr int kEventCancelled = 8243;

  explicit CLostPartitionSearchingDialog(QWidget* parent = nullptr);
  ~CLostPartitionSearchingDialog() override;

  // IPartitionSearchCallback: called from the search's worker (or any thread).
  void Step() override;
  int IsCancelled() override { return m_cancelled.load() ? 1 : 0; }
  void SetStep(int64_t step) override;
  void StepBy(int64_t steps) override;
  void SetRange(int64_t first, int64_t end) override;
  void SetPosition(int64_t position) override;
  void AddFoundPartition(const CLostPartitionRecord* record) override;

  // Appends a copy of every partition reported so far, in order; the caller owns the copies. Called
  // once the worker has ended.
  void GetFoundPartitions(LostPartitionRecordList& out) const;
  size_t FoundCount() const;

  // "%02d:%02d:%02d" of the whole seconds in `milliseconds`.
  static std::string FormatTime(uint64_t milliseconds);
  // The remaining time the window shows for `done` of `total` positions after `elapsedMs`:
  // "Calculating..." for the first 5 seconds and while nothing is done.
  static std::string RemainingText(int64_t total, int64_t done, uint64_t elapsedMs);

  // Advances the window's clock by one timer period and paints the snapshot (the timer does it).
  void OnTimer();

  QProgressBar* ProgressBar() const { return m_bar; }
  QLabel* ElapsedLabel() const { return m_elapsedLabel; }
  QLabel* RemainingLabel() const { return m_remainingLabel; }
  QPushButton* CancelButton() const { return m_cancel; }

 public slots:
  void OnCancel();

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QProgressBar* m_bar = nullptr;
  QLabel* m_elapsedLabel = nullptr;
  QLabel* m_remainingLabel = nullptr;
  QPushButton* m_cancel = nullptr;
  QTimer m_timer;

  std::atomic<bool> m_cancelled{false};
  bool m_asking = false;
  // The worker's snapshot.
  std::atomic<int64_t> m_first{0};
  std::atomic<int64_t> m_total{0};
  std::atomic<int64_t> m_done{0};
  std::atomic<int64_t> m_position{0};
  std::atomic<bool> m_rangeSet{false};
  mutable std::mutex m_foundMutex;
  LostPartitionRecordList m_found;
  // The window's clock: advanced by the timer period at every tick; the start is taken when the
  // search gives its range.
  std::atomic<uint64_t> m_runningTick{0};
  std::atomic<uint64_t> m_startTick{0};
  std::chrono::steady_clock::time_point m_opened;
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
