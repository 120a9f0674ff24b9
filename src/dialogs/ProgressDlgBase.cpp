#include "dialogs/ProgressDlgBase.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include "ui/AppInfo.h"
#include "ui/Resources.h"
#include "ui/WorkerJob.h"

namespace {

constexpr uint32_t kCancellingTitle = 402;

}  // namespace

CProgressDlgBase::CProgressDlgBase(int templateId, QWidget* parent, uint32_t questionId,
                                   corvale::ui::MessageIcon icon, TickClock clock)
    : CSearchSuperDlg(templateId, parent), m_questionId(questionId), m_icon(icon), m_clock(std::move(clock)) {
  m_monotonic.start();
}

CProgressDlgBase::~CProgressDlgBase() = default;

uint32_t CProgressDlgBase::Now() const {
  return m_clock ? m_clock() : static_cast<uint32_t>(m_monotonic.elapsed());
}

std::string CProgressDlgBase::FormatElapsed(uint64_t milliseconds) {
  return recovering::TimeText(static_cast<int64_t>(milliseconds / 1000));
}

bool CProgressDlgBase::RunJob(const std::function<void()>& work) {
  CWorkerJob job(work);
  QEventLoop loop;
  m_jobEnded = false;
  connect(&job, &CWorkerJob::finished, &loop, [this, &loop] {
    m_jobEnded = true;
    // An open question is answered first; its handler ends the loop.
    if (!m_asking) loop.quit();
  });
  // The work starts from the loop, once what was already waiting for this thread has been handled:
  // a Cancel pressed as the window opened is answered before anything is read or written.
  bool started = false;
  QTimer::singleShot(0, &loop, [&] {
    started = job.Start();
    if (!started) loop.quit();
  });
  m_loop = &loop;
  loop.exec();
  m_loop = nullptr;
  if (!started) return false;
  job.RethrowError();
  return true;
}

bool CProgressDlgBase::PassGate() {
  // The window's own thread must never wait for its own answer.
  if (QThread::currentThread() == thread()) return m_gate.IsCancelled();
  return m_gate.Pass();
}

void CProgressDlgBase::HideCancelButton() {
  m_cancelHidden = true;
  if (m_cancelButton != nullptr) m_cancelButton->hide();
}

void CProgressDlgBase::RequestCancel() {
  if (m_cancelHidden || m_asking || m_gate.IsCancelled()) return;
  if (m_questionId != 0) {
    m_asking = true;
    m_gate.Hold();
    const auto answer =
        corvale::ui::AskMessageBox(corvale::ui::LoadStringResource(m_questionId).toStdString(),
                                   GetProductTitle(), corvale::ui::MessageButtons::YesNo, m_icon);
    m_asking = false;
    if (answer != corvale::ui::MessageAnswer::Yes) {
      m_gate.Release();
      if (m_jobEnded && m_loop != nullptr) m_loop->quit();
      return;
    }
  }
  m_gate.Cancel();
  if (m_cancelButton != nullptr) m_cancelButton->setEnabled(false);
  setWindowTitle(corvale::ui::LoadStringResource(kCancellingTitle));
  OnCancelConfirmed();
  if (m_jobEnded && m_loop != nullptr) m_loop->quit();
}

// Escape and the window's close box mean Cancel; the window itself goes only when its job has ended.
void CProgressDlgBase::reject() { RequestCancel(); }

void CProgressDlgBase::closeEvent(QCloseEvent* event) {
  event->ignore();
  RequestCancel();
}
