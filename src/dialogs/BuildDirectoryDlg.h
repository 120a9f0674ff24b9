#pragma once
// The small progress window of a directory-tree build (and of saving or restoring the wizard's
// state): the step's text, a bar, the elapsed time of the step and a Cancel button.
//
// The build's worker calls the IBuildDirectoryDlg operations. They never touch a widget and never
// post an event: they store the step's text, range and position, and the window's own timer reads
// that snapshot a few times a second and paints it. So however fast a worker reports, the window's
// thread sees a fixed, small number of updates. The step text and the elapsed time are refreshed at
// most every 500 ms; the bar follows the timer.
//
// Cancel asks "Abort Building?" first, holding the build at its next report while the question is
// open; on Yes every later report answers -1, the button is disabled and the title becomes
// "Cancelling...". The window stays up until the build has ended (CProgressDlgBase).

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/DIRBuildCallback.h"
#include "dialogs/ProgressDlgBase.h"

class CBuildDirectoryDlg : public CProgressDlgBase, public IBuildDirectoryDlg {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 135;
  static constexpr int kStepTextId = 1041;
  static constexpr int kProgressId = 1038;
  static constexpr int kElapsedId = 1170;
  // How often the window reads the worker's snapshot, and the least time between text refreshes.
  static constexpr std::chrono::milliseconds kReadInterval{100};
  static constexpr std::chrono::milliseconds kTextInterval{500};

  explicit CBuildDirectoryDlg(QWidget* parent = nullptr);
  ~CBuildDirectoryDlg() override;

  // IBuildDirectoryDlg: called from the worker (or any thread).
  void BeginStep(const char* text, int32_t range) override;
  void AddProgress(int32_t n) override;
  void SetProgress(int32_t position) override;
  void CompleteStep() override;
  int32_t Tick() override;

  // Reads the worker's snapshot into the window now (the timer does it on its own).
  void Refresh();

  QProgressBar* ProgressBar() const { return m_bar; }
  QLabel* StepLabel() const { return m_stepLabel; }
  QLabel* ElapsedLabel() const { return m_elapsedLabel; }
  QPushButton* CancelButton() const { return m_cancel; }
  // How many times the window took the snapshot (for measuring the progress traffic).
  uint64_t RefreshCount() const { return m_refreshes; }

 public slots:
  // Cancel: asks, and on Yes marks the build cancelled.
  void OnCancel() { RequestCancel(); }

 private:
  QLabel* m_stepLabel = nullptr;
  QProgressBar* m_bar = nullptr;
  QLabel* m_elapsedLabel = nullptr;
  QPushButton* m_cancel = nullptr;
  QTimer m_timer;

  // The worker's snapshot.
  std::mutex m_textMutex;
  std::string m_stepText;
  std::atomic<uint64_t> m_stepGeneration{0};
  std::atomic<int64_t> m_range{0};
  std::atomic<int64_t> m_position{0};
  std::atomic<uint32_t> m_stepStart{0};
  // The window's side (its thread only).
  uint64_t m_shownGeneration = 0;
  uint32_t m_lastTextRefresh = 0;
  uint64_t m_refreshes = 0;
};
