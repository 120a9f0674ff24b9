#include "dialogs/RBClickRecoverFileDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"

CSingleFileCopyDlg::CSingleFileCopyDlg(int templateId, const SingleFileCopyRequest& request, uint32_t titleId,
                                       uint32_t statusId, bool showsFileName, QWidget* parent)
    : CProgressDlgBase(templateId, parent, 0),
      m_request(request),
      m_titleId(titleId),
      m_showsFileName(showsFileName) {
  using corvale::ui::DluSize;
  m_name = corvale::ui::LoadStringResource(statusId);
  m_status = new QLabel(m_name, this);
  m_status->setAlignment(Qt::AlignCenter);
  // A long file name is cut rather than widening the window.
  m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  m_status->setMinimumWidth(DluSize(font(), 236, 8).width());
  auto* process = new QLabel(QStringLiteral("Process:"), this);
  process->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  m_percent = new QLabel(this);
  auto* remaining = new QLabel(QStringLiteral("Remaining Time:"), this);
  remaining->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  m_time = new QLabel(this);
  m_bar = new QProgressBar(this);
  m_bar->setRange(0, 100);
  m_bar->setTextVisible(false);
  m_bar->setFixedHeight(std::max(DluSize(font(), 236, 6).height(), 10));
  // The Abort button wears the pictures of the dialogs' Cancel button.
  const auto& abort = corvale::ui::buttons::kDialogCancel;
  m_abort = new CButtonPlus(abort.normal, abort.hover, abort.push, abort.disable, this);
  m_abort->SetControlId(2);
  SetCancelButton(m_abort);
  connect(m_abort, &QAbstractButton::clicked, this, &CSingleFileCopyDlg::Cancel);

  // The captions end at the middle, their values start there.
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(6);
  grid->addWidget(m_status, 0, 0, 1, 2);
  grid->addWidget(process, 1, 0);
  grid->addWidget(m_percent, 1, 1);
  grid->addWidget(remaining, 2, 0);
  grid->addWidget(m_time, 2, 1);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_abort);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(11, 16, 11, 8);
  layout->setSpacing(10);
  layout->addLayout(grid);
  layout->addWidget(m_bar);
  layout->addStretch(1);
  layout->addLayout(buttons);
  setMinimumSize(DluSize(font(), 251, 93).expandedTo(layout->minimumSize()));

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
  m_start = Now();
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

int32_t CSingleFileCopyDlg::Poll() { return PassGate() ? -1 : 0; }

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
  m_time->setText(RemainingTimeText(MillisecondsSince(m_start), done, total));
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
  CFileRecoverer recoverer;
  CRBClickRecoverFileCallback callback(this);
  int32_t written = 0;
  const bool ran = RunJob([&] {
    written = recoverer.RecoverFileInThread(m_request.device, &callback, m_request.node,
                                            m_request.targetPath.c_str(), false);
  });
  m_refresh.stop();
  if (written == 1) {
    m_allFilesDone = true;
    Refresh();
    done(QDialog::Accepted);
    return;
  }
  // A copy that could not even start failed as much as one that could not write.
  if (!IsCancelled() && (!ran || recoverer.GetResultCode() == CFileRecoverer::kResultFailed)) ShowFailure();
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
