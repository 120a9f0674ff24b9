#include "dialogs/RecoveringDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"

using corvale::ui::ControlId;
using corvale::ui::SetControlId;

namespace {

QLabel* MakeLabel(const char* text, int id, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  if (id != 0) SetControlId(label, id);
  return label;
}

// Files ticked below `root` and their bytes: nodes that are not folders, ticked whole.
void CountTicked(CFileNode* root, int32_t* files, uint64_t* bytes) {
  *files = 0;
  *bytes = 0;
  if (root == nullptr) return;
  WalkSubtree(root, [&](CFileNode* node) {
    const IFileProperties* p = node->GetFileProperties();
    if (p == nullptr || p->IsFolder() || p->GetCheckState() != kChecked) return;
    if (*files < INT32_MAX) ++*files;
    *bytes += p->GetSize();
  });
}

}  // namespace

CRecoveringDlg::CRecoveringDlg(CFileNode* root, IStorageDevice* source, std::string targetFolder,
                               QWidget* parent, TickClock clock)
    : CProgressDlgBase(kTemplateId, parent, 246, corvale::ui::MessageIcon::Question, std::move(clock)),
      m_root(root),
      m_source(source),
      m_target(std::move(targetFolder)) {
  Build();
}

CRecoveringDlg::~CRecoveringDlg() = default;

void CRecoveringDlg::Build() {
  setWindowTitle(QStringLiteral("Recovering"));
  setFont(corvale::ui::MakeUiPointFont(90, 400));
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(6);

  m_expand = new CButtonPlus(130, 130, 130, 130, this);
  m_expand->SetControlId(kIdExpand);
  m_collapse = new CButtonPlus(131, 131, 131, 131, this);
  m_collapse->SetControlId(kIdCollapse);
  auto* toggles = new QHBoxLayout;
  toggles->setSpacing(0);
  toggles->addWidget(m_expand);
  toggles->addWidget(m_collapse);
  grid->addLayout(toggles, 0, 0);
  connect(m_expand, &QAbstractButton::clicked, this, [this] { ShowDetails(true); });
  connect(m_collapse, &QAbstractButton::clicked, this, [this] { ShowDetails(false); });

  grid->addWidget(MakeLabel("Remaining Time:", 1157, this), 0, 1);
  grid->addWidget(MakeLabel("00:00:00", kIdRemaining, this), 0, 2);
  grid->addWidget(MakeLabel("Elapsed Time:", 1158, this), 0, 3);
  grid->addWidget(MakeLabel("00:00:00", kIdElapsed, this), 0, 4);

  const struct {
    int row, column;
    const char* text;
    int id;
  } details[] = {
      {1, 1, "Recovered Files:", 1153},      {1, 2, "0", kIdFilesDone},
      {1, 3, "Recovered Data Size:", 1155},  {1, 4, "0", kIdDoneSize},
      {2, 1, "Selected Files:", 1154},       {2, 2, "0", kIdSelectedFiles},
      {2, 3, "Total Data Size:", 1156},      {2, 4, "0", kIdTotalSize},
      {3, 1, "Recovering File Name:", 1159},
  };
  for (const auto& d : details) {
    QLabel* label = MakeLabel(d.text, d.id, this);
    grid->addWidget(label, d.row, d.column);
    m_detailRows.push_back(label);
  }
  QLabel* current = MakeLabel("", kIdCurrentFile, this);
  current->setMinimumWidth(300);
  current->setMaximumWidth(420);
  current->setTextFormat(Qt::PlainText);
  grid->addWidget(current, 3, 2, 1, 3);
  m_detailRows.push_back(current);

  m_bar = new QProgressBar(this);
  SetControlId(m_bar, kIdProgress);
  m_bar->setTextVisible(false);
  m_bar->setRange(0, 1);
  m_bar->setValue(0);
  m_bar->setStyleSheet(QStringLiteral("QProgressBar { background: rgb(242, 247, 250); }"));

  m_cancel = new CButtonPlus(176, 175, 174, 173, this);
  m_cancel->SetControlId(corvale::ui::kIdCancel);
  SetControlId(m_cancel, corvale::ui::kIdCancel);
  SetCancelButton(m_cancel);
  connect(m_cancel, &QAbstractButton::clicked, this, &CRecoveringDlg::RequestCancel);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(m_cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(m_bar);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  m_expand->hide();
  connect(&m_timer, &QTimer::timeout, this, [this] { Refresh(); });
}

void CRecoveringDlg::ShowDetails(bool show) {
  m_detailsShown = show;
  for (QWidget* row : m_detailRows) row->setVisible(show);
  m_collapse->setVisible(show);
  m_expand->setVisible(!show);
  adjustSize();
  update();
}

int CRecoveringDlg::DoModal() {
  setWindowModality(Qt::ApplicationModal);
  ShowDetails(true);
  show();

  int32_t files = 0;
  uint64_t bytes = 0;
  CountTicked(m_root, &files, &bytes);
  m_timer.start(static_cast<int>(kRefreshMs));
  Begin(files, bytes);
  Refresh(true);

  RunJob([this] {
    CFileRecoverCallback callback(this);
    CFileRecoverer recoverer;
    for (CFileNode* child = m_root != nullptr ? m_root->GetFirstChild() : nullptr;
         child != nullptr && child->IsFileSystemNode(); child = child->GetNextSibling()) {
      // Once cancelled, no further node is handed over: each would only leave an empty folder.
      if (IsCancelled()) break;
      const IFileProperties* properties = child->GetFileProperties();
      if (properties == nullptr || properties->GetCheckState() == kNotChecked) continue;
      std::string folder;
      const int32_t result =
          recoverer.RecoverFilesInThread(m_source, &callback, child, m_target.c_str(), &folder);
      m_failed += static_cast<int>(recoverer.GetFailedFileCount());
      if (result != CFileRecoverer::kResultFailed && !folder.empty()) m_savedFolders.push_back(folder);
    }
  });
  m_timer.stop();
  Refresh(true);
  hide();
  setResult(QDialog::Accepted);
  return QDialog::Accepted;
}

int CRecoveringDlg::GetFileCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_selectedFiles;
}

int CRecoveringDlg::GetRecoveredFileCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_filesDone;
}

int64_t CRecoveringDlg::GetRecoveredBytes() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bytesDone;
}

int32_t CRecoveringDlg::Begin(int32_t files, uint64_t totalBytes) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_selectedFiles = files;
    m_totalBytes = static_cast<int64_t>(std::min<uint64_t>(totalBytes, INT64_MAX));
    m_start = m_lastRefresh = Now();
    m_begun = true;
  }
  return PassGate() ? -1 : 0;
}

// Each report stores its figures first and then passes the gate: while the stop question is open the
// worker waits there, with everything it has done already counted.
int32_t CRecoveringDlg::AddFiles(int32_t n) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_filesDone += n;
  }
  return PassGate() ? -1 : 0;
}

int32_t CRecoveringDlg::AddBytes(uint64_t n) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bytesDone += static_cast<int64_t>(std::min<uint64_t>(n, INT64_MAX - std::max<int64_t>(m_bytesDone, 0)));
  }
  return PassGate() ? -1 : 0;
}

int32_t CRecoveringDlg::SubtractBytes(uint32_t n) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Only what was counted is taken back: the bytes done never go below 0.
    m_bytesDone = std::max<int64_t>(m_bytesDone - n, 0);
  }
  return PassGate() ? -1 : 0;
}

int32_t CRecoveringDlg::SetCurrentFile(const char* name) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_currentFile = name != nullptr ? name : "";
  }
  return PassGate() ? -1 : 0;
}

int32_t CRecoveringDlg::Poll() { return PassGate() ? -1 : 0; }

void CRecoveringDlg::Refresh(bool force) {
  int32_t selected, done;
  int64_t bytes, total;
  std::string current;
  uint32_t elapsed;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint32_t now = Now();
    if (!force && !(m_begun && now - m_lastRefresh > kRefreshMs)) return;
    if (m_begun) m_lastRefresh = now;
    selected = m_selectedFiles;
    done = m_filesDone;
    bytes = m_bytesDone;
    total = m_totalBytes;
    current = m_currentFile;
    elapsed = m_begun ? m_lastRefresh - m_start : 0;
  }
  m_bar->setRange(0, recovering::BarMaximum(total));
  m_bar->setValue(recovering::BarPosition(total, bytes));
  const auto set = [this](int id, const std::string& text) {
    if (auto* label = corvale::ui::FindControl<QLabel>(this, id))
      label->setText(QString::fromStdString(text));
  };
  set(kIdSelectedFiles, std::to_string(selected));
  set(kIdFilesDone, std::to_string(done));
  set(kIdElapsed, recovering::TimeText(elapsed / 1000));
  set(kIdRemaining, recovering::RemainingText(total, bytes, elapsed));
  set(kIdCurrentFile, current);
  set(kIdDoneSize, recovering::SizeText(bytes));
  set(kIdTotalSize, recovering::SizeText(total));
}

QString CRecoveringDlg::Text(int id) const {
  auto* label = corvale::ui::FindControl<QLabel>(this, id);
  return label != nullptr ? label->text() : QString();
}

void CRecoveringDlg::keyPressEvent(QKeyEvent* event) {
  // Neither Enter nor Escape ends or cancels the run.
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  CSearchSuperDlg::keyPressEvent(event);
}
