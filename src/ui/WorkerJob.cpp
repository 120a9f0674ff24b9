#include "ui/WorkerJob.h"

#include <QThread>

CWorkerJob::CWorkerJob(std::function<void()> work, QObject* parent)
    : QObject(parent), m_work(std::move(work)) {}

CWorkerJob::~CWorkerJob() {
  if (m_thread) m_thread->wait();
}

bool CWorkerJob::Start() {
  if (m_thread) return false;
  m_thread.reset(QThread::create([this] {
    try {
      if (m_work) m_work();
    } catch (...) {
      // Kept for the owner, who rethrows it on its own thread: nothing is swallowed here.
      m_error = std::current_exception();
    }
  }));
  // QThread::finished is emitted on the worker; the connection carries it over to this object's thread.
  connect(
      m_thread.get(), &QThread::finished, this,
      [this] {
        m_finished = true;
        emit finished();
      },
      Qt::QueuedConnection);
  m_thread->start();
  // A thread that could not be created neither runs nor has finished.
  return m_thread->isRunning() || m_thread->isFinished();
}

void CWorkerJob::RethrowError() const {
  if (m_finished && m_error) std::rethrow_exception(m_error);
}
