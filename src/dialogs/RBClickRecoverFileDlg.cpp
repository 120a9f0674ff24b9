#include "dialogs/RBClickRecoverFileDlg.h"

#include <QCoreApplication>
#include <QLabel>
#include <chrono>

#include "controls/ButtonPlus.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"

namespace {

uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// Dialog units of the 8-point dialog font to pixels.
QRect Dlu(int x, int y, int w, int h) { return QRect(x * 3 / 2, y * 13 / 8, w * 3 / 2, h * 13 / 8); }

}  // namespace

CSingleFileCopyDlg::CSingleFileCopyDlg(int templateId, const SingleFileCopyRequest& request, uint32_t titleId,
                                       uint32_t statusId, bool showsFileName, QWidget* parent)
    : CSearchSuperDlg(templateId, parent),
      m_request(request),
      m_titleId(titleId),
      m_showsFileName(showsFileName) {
  const QRect area = Dlu(0, 0, 251, 93);
  setFixedSize(area.size());
  m_name = corvale::ui::LoadStringResource(statusId);
  m_status = new QLabel(m_name, this);
  m_status->setAlignment(Qt::AlignCenter);
  m_status->setGeometry(Dlu(7, 12, 236, 8));
  // The captions end where the template's do; they may start further left than there, since this
  // font is wider than the template's.
  auto* process = new QLabel(QStringLiteral("Process:"), this);
  process->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  process->setGeometry(Dlu(40, 25, 85, 8));
  m_percent = new QLabel(this);
  m_percent->setGeometry(Dlu(132, 25, 102, 8));
  auto* remaining = new QLabel(QStringLiteral("Remaining Time:"), this);
  remaining->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  remaining->setGeometry(Dlu(20, 38, 105, 8));
  m_time = new QLabel(this);
  m_time->setGeometry(Dlu(132, 38, 110, 8));
  for (QLabel* label : {m_status, process, m_percent, remaining, m_time}) label->setMinimumHeight(16);
  m_bar = new QProgressBar(this);
  m_bar->setRange(0, 100);
  m_bar->setTextVisible(false);
  m_bar->setGeometry(Dlu(7, 51, 236, 6));
  // The Abort button wears the pictures of the dialogs' Cancel button.
  const auto& abort = corvale::ui::buttons::kDialogCancel;
  m_abort = new CButtonPlus(abort.normal, abort.hover, abort.push, abort.disable, this);
  m_abort->SetControlId(2);
  const QRect place = Dlu(194, 71, 50, 19);
  m_abort->MoveTo(place.right() - m_abort->GetBitmapSize().width(), place.top());
  connect(m_abort, &QAbstractButton::clicked, this, &CSingleFileCopyDlg::Cancel);
  m_refresh.setInterval(500);
  connect(&m_refresh, &QTimer::timeout, this, &CSingleFileCopyDlg::Refresh);
}

CSingleFileCopyDlg::~CSingleFileCopyDlg() = default;

int CSingleFileCopyDlg::DoModal() {
  QTimer::singleShot(0, this, &CSingleFileCopyDlg::Run);
  return exec();
}

void CSingleFileCopyDlg::Begin(int32_t, uint64_t bytes) {
  m_total = static_cast<int64_t>(bytes);
  m_startMs = NowMs();
}

int32_t CSingleFileCopyDlg::AddFiles(int32_t) {
  m_allFilesDone = true;
  return 1;
}

int32_t CSingleFileCopyDlg::AddBytes(uint64_t n) {
  m_done += static_cast<int64_t>(n);
  return Poll();
}

int32_t CSingleFileCopyDlg::SubtractBytes(uint32_t n) {
  m_done -= n;
  return Poll();
}

int32_t CSingleFileCopyDlg::SetCurrentFile(const char* name) {
  if (m_showsFileName && name != nullptr) {
    std::lock_guard<std::mutex> lock(m_nameMutex);
    m_name = QString::fromUtf8(name);
  }
  return Poll();
}

int32_t CSingleFileCopyDlg::Poll() { return m_cancelled ? -1 : 0; }

void CSingleFileCopyDlg::Cancel() {
  if (m_cancelled.exchange(true)) return;
  setWindowTitle(corvale::ui::LoadStringResource(402));
  m_abort->setEnabled(false);
}

QString CSingleFileCopyDlg::RemainingTimeText(uint32_t elapsedMs, int64_t done, int64_t total) {
  if (elapsedMs < 500) return corvale::ui::LoadStringResource(132);
  int64_t s = 0;
  if (done > 0) s = ((total - done) * static_cast<int64_t>(elapsedMs) / done) / 1000 + 1;
  if (s < 0) s = 0;
  return QString::asprintf("%02d:%02d:%02d", static_cast<int>(s / 3600), static_cast<int>((s % 3600) / 60),
                           static_cast<int>(s % 60));
}

void CSingleFileCopyDlg::Refresh() {
  const int64_t total = m_total, done = m_done;
  const uint64_t start = m_startMs;
  m_time->setText(RemainingTimeText(static_cast<uint32_t>(NowMs() - start), done, total));
  int percent = 100;
  if (total != 0 && !m_allFilesDone)
    percent = static_cast<int>(std::clamp<int64_t>(done * 100 / total, 0, 100));
  m_percent->setText(QString::asprintf("%d%%", percent));
  m_bar->setValue(percent);
  std::lock_guard<std::mutex> lock(m_nameMutex);
  m_status->setText(m_name);
}

QString CSingleFileCopyDlg::TimeText() const { return m_time->text(); }
QString CSingleFileCopyDlg::StatusText() const { return m_status->text(); }
QString CSingleFileCopyDlg::PercentText() const { return m_percent->text(); }
int CSingleFileCopyDlg::BarPosition() const { return m_bar->value(); }

void CSingleFileCopyDlg::Run() {
  setWindowTitle(corvale::ui::LoadStringResource(m_titleId));
  const IFileProperties* p = m_request.node != nullptr ? m_request.node->GetFileProperties() : nullptr;
  Begin(1, p != nullptr ? p->GetSize() : 0);
  if (p != nullptr) SetCurrentFile(p->GetName());
  Refresh();
  m_refresh.start();
  CFileRecoverer recoverer([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
  CRBClickRecoverFileCallback callback(this);
  const int32_t written = recoverer.RecoverFileInThread(m_request.device, &callback, m_request.node,
                                                        m_request.targetPath.c_str(), true);
  m_refresh.stop();
  if (written == 1) {
    m_allFilesDone = true;
    Refresh();
    done(QDialog::Accepted);
    return;
  }
  if (!m_cancelled && recoverer.GetResultCode() == CFileRecoverer::kResultFailed) ShowFailure();
  done(QDialog::Rejected);
}

CRBClickRecoverFileDlg::CRBClickRecoverFileDlg(const SingleFileCopyRequest& request)
    : CSingleFileCopyDlg(kTemplateId, request, 433, 189, true, request.parent) {}

void CRBClickRecoverFileDlg::ShowFailure() {
  corvale::ui::ShowMessageBox(corvale::ui::LoadStringResource(245).toStdString(), GetProductTitle(),
                              corvale::ui::MessageIcon::Warning);
}

CPreviewLoadingDlg::CPreviewLoadingDlg(const SingleFileCopyRequest& request)
    : CSingleFileCopyDlg(kTemplateId, request, 411, 244, false, request.parent) {}

void CPreviewLoadingDlg::ShowFailure() {
  corvale::ui::ShowMessageBox(corvale::ui::LoadStringResource(243).toStdString(), GetProductTitle(),
                              corvale::ui::MessageIcon::Information);
}
