#pragma once
// What every progress window of a long job shares: running the job, the stop question, cancelling,
// and the elapsed clock.
//
// RunJob hands the work to a worker (CWorkerJob) and keeps this thread in a local Qt event loop until
// the worker's `finished` signal arrives, so the window paints, its timer reads the worker's figures
// and its buttons answer while the work goes on. The worker reports by storing figures and passing
// the window's gate (PassGate) at every report.
//
// Cancel (the button, Escape, the close box) asks the window's stop question first, when it has one.
// While the question is open the gate is held: the worker stops at its next report and nothing more
// is read, written or counted until the person answers. No lets it go on as before; Yes cancels it:
// the button is disabled, the title becomes "Cancelling..." and every later report answers
// "cancelled", so the work winds down where it stood. The window itself stays until the job has
// ended; a job that ends while the question is still open waits for the answer.
//
// The elapsed clock is monotonic (QElapsedTimer), in milliseconds that wrap like a 32-bit tick
// counter; a test may hand in a clock of its own.

#include <QElapsedTimer>
#include <cstdint>
#include <functional>
#include <string>

#include "controls/SearchSuperDlg.h"
#include "core/JobGate.h"
#include "dialogs/RemainingTimeEstimator.h"
#include "ui/MessageBox.h"

class QAbstractButton;
class QCloseEvent;
class QEventLoop;

class CProgressDlgBase : public CSearchSuperDlg {
  Q_OBJECT

 public:
  ~CProgressDlgBase() override;

  // Runs `work` on a worker while this window is shown and this thread handles its events; returns
  // once the work has ended (and any open question is answered). False when no worker could be
  // started (then the work has not run). What the work throws is rethrown here.
  bool RunJob(const std::function<void()>& work);
  bool IsJobRunning() const { return m_loop != nullptr; }
  // True once the job's work has returned (the window may still wait for an answer to its question).
  bool HasJobEnded() const { return m_jobEnded; }

  // Worker side: waits while the stop question is open, then true when the job is cancelled. Called
  // on the window's own thread it never waits.
  bool PassGate();
  bool IsCancelled() const { return m_gate.IsCancelled(); }
  // True while the stop question holds the work and the worker waits for the answer.
  bool IsWorkHeld() const { return m_gate.IsHeld() && m_gate.IsWorkerWaiting(); }
  bool IsAsking() const { return m_asking; }

  // For jobs that must not be interrupted: the Cancel button goes away and Cancel is ignored.
  void HideCancelButton();
  bool IsCancelHidden() const { return m_cancelHidden; }

  // The window's clock (ms) and the time since `start` on it; unsigned, so a wrap does no harm.
  uint32_t Now() const;
  uint32_t MillisecondsSince(uint32_t start) const { return Now() - start; }

  // "%02d:%02d:%02d" of the whole seconds in `milliseconds`; hours do not wrap at 24.
  static std::string FormatElapsed(uint64_t milliseconds);

 public slots:
  // Cancel as the button, Escape and the close box ask for it.
  void RequestCancel();
  // Escape and the close box: Cancel. The window itself goes only when its job has ended.
  void reject() override;

 protected:
  // `questionId`: the stop question's text (0: Cancel asks nothing); `icon`: the question's icon.
  CProgressDlgBase(int templateId, QWidget* parent, uint32_t questionId,
                   corvale::ui::MessageIcon icon = corvale::ui::MessageIcon::Question, TickClock clock = {});

  // The button that Cancel disables once confirmed (not owned).
  void SetCancelButton(QAbstractButton* button) { m_cancelButton = button; }
  QAbstractButton* CancelButtonBase() const { return m_cancelButton; }

  // Called on the window's thread once the person has confirmed the cancel.
  virtual void OnCancelConfirmed() {}

  void closeEvent(QCloseEvent* event) override;

 private:
  CJobGate m_gate;
  uint32_t m_questionId;
  corvale::ui::MessageIcon m_icon;
  TickClock m_clock;
  QElapsedTimer m_monotonic;
  QAbstractButton* m_cancelButton = nullptr;
  QEventLoop* m_loop = nullptr;
  bool m_jobEnded = false;
  bool m_asking = false;
  bool m_cancelHidden = false;
};
