#pragma once
// One long job of the program (a directory build, a search, a recovery, saving the scan state) as an
// object: the work runs on a thread of its own, and the object tells the window's thread through a
// queued signal when it has finished. The window's thread never waits for the worker and never turns
// an event loop by hand: it stays in Qt's own event loop until `finished` arrives (the progress windows
// run that loop, CProgressDlgBase).
//
// Progress and cancel do not pass through here: the work stores its figures where its window's timer
// reads them, and answers the window's cancel flag (CJobGate) at every report.

#include <QObject>
#include <exception>
#include <functional>
#include <memory>

class QThread;

class CWorkerJob : public QObject {
  Q_OBJECT

 public:
  explicit CWorkerJob(std::function<void()> work, QObject* parent = nullptr);
  // Waits for a thread that is still running: a job is normally destroyed only after `finished`.
  ~CWorkerJob() override;
  CWorkerJob(const CWorkerJob&) = delete;
  CWorkerJob& operator=(const CWorkerJob&) = delete;

  // Starts the work on a new thread. False when no thread could be started: then the work has not
  // run and `finished` never comes.
  bool Start();
  // True once the work has returned (or thrown) and `finished` has been delivered.
  bool IsFinished() const { return m_finished; }
  // Rethrows on the calling thread what the work threw, once it has finished; nothing otherwise.
  void RethrowError() const;

 signals:
  // On the thread that owns the job, after the work has returned.
  void finished();

 private:
  std::function<void()> m_work;
  std::unique_ptr<QThread> m_thread;
  std::exception_ptr m_error;
  bool m_finished = false;
};
