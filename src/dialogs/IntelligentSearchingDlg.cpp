#include "dialogs/IntelligentSearchingDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "core/IntelligentSearchController.h"
#include "platform/RecoveryContext.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"
#include "ui/UsageStatistics.h"

using corvale::ui::LoadStringResource;
using corvale::ui::SetControlId;

namespace {

constexpr int kEventCancelledComplete = 8216;
constexpr int kEventCancelledPartition = 8244;

QLabel* MakeLabel(const char* text, int id, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  if (id != 0) SetControlId(label, id);
  return label;
}

QString Clock(int64_t h, int64_t m, int64_t s) {
  return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(h), static_cast<long long>(m),
                           static_cast<long long>(s));
}

}  // namespace

CIntelligentSearchingDlg::CIntelligentSearchingDlg(QWidget* parent, TickClock clock)
    : CProgressDlgBase(kTemplateId, parent, 239, corvale::ui::MessageIcon::Question, clock),
      m_clock(std::move(clock)),
      m_estimator(m_clock) {
  Build();
  m_startTick = Now();
  m_lastRefresh = m_startTick;
}

CIntelligentSearchingDlg::~CIntelligentSearchingDlg() = default;

void CIntelligentSearchingDlg::Build() {
  setWindowTitle(QStringLiteral("Intelligent Searching"));
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

  grid->addWidget(MakeLabel("Elapsed Time:", 0, this), 0, 1);
  grid->addWidget(MakeLabel("00:00:00", kIdElapsed, this), 0, 2);
  grid->addWidget(MakeLabel("Remaining Time:", 0, this), 0, 3);
  grid->addWidget(MakeLabel("00:00:00", kIdRemaining, this), 0, 4);

  const char* names[8] = {
      "Partition Tables:",  "FAT Boot Records:",  "FAT Folders:",      "FAT Folder Parts:",
      "NTFS Boot Records:", "NTFS File Records:", "Files Identified:", "Total Files Found:"};
  const int labelIds[8] = {1162, 1163, 1164, 1165, 1166, 1167, 1168, 1169};
  for (int i = 0; i < 8; ++i) {
    const int row = 1 + i % 4;
    const int column = i < 4 ? 1 : 3;
    QLabel* label = MakeLabel(names[i], labelIds[i], this);
    QLabel* value = MakeLabel("0", kCounterIds[i], this);
    grid->addWidget(label, row, column);
    grid->addWidget(value, row, column + 1);
    m_detailRows.push_back(label);
    m_detailRows.push_back(value);
  }
  // The Ext2/Ext3 searcher's own evidence, in a row of its own below the others.
  const struct {
    const char* name;
    int id;
  } ext2Rows[2] = {{"Ext2 Superblocks:", kIdExt2Superblocks}, {"Ext2 File Systems:", kIdExt2FileSystems}};
  for (int i = 0; i < 2; ++i) {
    QLabel* label = MakeLabel(ext2Rows[i].name, 0, this);
    QLabel* value = MakeLabel("0", ext2Rows[i].id, this);
    grid->addWidget(label, 5, 1 + 2 * i);
    grid->addWidget(value, 5, 2 + 2 * i);
    m_detailRows.push_back(label);
    m_detailRows.push_back(value);
  }
  QLabel* totalLabel = MakeLabel("Total Files Found:", 1227, this);
  QLabel* total = MakeLabel("", kIdTotalCollapsed, this);
  grid->addWidget(totalLabel, 6, 1);
  grid->addWidget(total, 6, 2);
  m_collapsedRow = {totalLabel, total};

  m_bar = new QProgressBar(this);
  SetControlId(m_bar, kIdProgress);
  m_bar->setTextVisible(false);
  m_bar->setRange(0, 1);
  m_bar->setValue(0);
  m_bar->setMinimumWidth(460);
  m_bar->setStyleSheet(QStringLiteral("QProgressBar { background: rgb(242, 247, 250); }"));

  const auto& cancel = corvale::ui::buttons::kSearchingCancel;
  m_cancel = new CButtonPlus(cancel.normal, cancel.hover, cancel.push, cancel.disable, this);
  m_cancel->SetControlId(corvale::ui::kIdCancel);
  SetControlId(m_cancel, corvale::ui::kIdCancel);
  SetCancelButton(m_cancel);
  connect(m_cancel, &QAbstractButton::clicked, this, &CIntelligentSearchingDlg::RequestCancel);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(m_cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(m_bar);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  ShowDetails(false);
  m_readTimer.setInterval(static_cast<int>(kRefreshMs));
  connect(&m_readTimer, &QTimer::timeout, this, [this] { Refresh(); });
  m_secondTimer.setInterval(1000);
  connect(&m_secondTimer, &QTimer::timeout, this, [this] { OnSecond(); });
}

int64_t CIntelligentSearchingDlg::ScaleFor(int64_t blocks) {
  int64_t scale = 1;
  while (blocks / scale > kMaxBarUnits && scale <= INT64_MAX / 10) scale *= 10;
  return scale;
}

void CIntelligentSearchingDlg::SetRange(int64_t first, int64_t end) {
  std::lock_guard lock(m_mutex);
  m_rangeBlocks = end > first ? end - first : 0;
}

void CIntelligentSearchingDlg::SetProgress(int64_t block) {
  std::lock_guard lock(m_mutex);
  m_block = block;
}

void CIntelligentSearchingDlg::SetSummary(const IntelligentSearchSummary* summary) {
  if (summary == nullptr) return;
  std::lock_guard lock(m_mutex);
  m_summary = *summary;
}

void CIntelligentSearchingDlg::GetSummary(IntelligentSearchSummary* out) {
  if (out == nullptr) return;
  std::lock_guard lock(m_mutex);
  *out = m_summary;
}

void CIntelligentSearchingDlg::Refresh(bool force) {
  IntelligentSearchSummary summary;
  int64_t range = 0;
  int64_t block = 0;
  {
    std::lock_guard lock(m_mutex);
    summary = m_summary;
    range = m_rangeBlocks;
    block = m_block;
  }
  if (range >= 0 && range != m_shownRange) {
    m_shownRange = range;
    m_scale = ScaleFor(range);
    const int64_t units = range / m_scale;
    m_bar->setRange(0, static_cast<int>(units > 0 ? units : 1));
    m_estimator.Start(static_cast<int32_t>(units));
  }
  const uint32_t now = m_clock();
  if (!force && now - m_lastRefresh <= kRefreshMs) return;
  m_lastRefresh = now;
  if (block >= 0 && block != m_shownBlock && m_shownRange >= 0) {
    m_shownBlock = block;
    // The block reported is the one just done.
    const int64_t units = std::min<int64_t>((block + 1) / m_scale, m_bar->maximum());
    m_bar->setValue(static_cast<int>(units));
    m_estimator.Update(static_cast<int32_t>(units));
    const uint32_t r = static_cast<uint32_t>(std::max<int32_t>(m_estimator.GetRemainingMs(), 0));
    const uint32_t h = r / 3600000, m = (r / 60000) % 60, s = (r / 1000) % 60;
    auto* remaining = corvale::ui::FindControl<QLabel>(this, kIdRemaining);
    if (h != 0 || m != 0 || s != 0 || m_remainingShown) {
      remaining->setText(Clock(h, m, s));
      m_remainingShown = true;
    } else {
      remaining->setText(corvale::ui::StringOr(132, "Calculating..."));
    }
  }
  const int64_t* counters[8] = {&summary.PartitionTables, &summary.FATBootRecords,  &summary.FATFolders,
                                &summary.FATFolderParts,  &summary.NTFSBootRecords, &summary.NTFSFileRecords,
                                &summary.FilesIdentified, &summary.TotalFilesFound};
  for (int i = 0; i < 8; ++i)
    if (auto* value = corvale::ui::FindControl<QLabel>(this, kCounterIds[i]))
      value->setText(QString::number(*counters[i]));
  if (auto* total = corvale::ui::FindControl<QLabel>(this, kIdTotalCollapsed))
    total->setText(QString::number(summary.TotalFilesFound));
  if (auto* value = corvale::ui::FindControl<QLabel>(this, kIdExt2Superblocks))
    value->setText(QString::number(summary.At(IntelligentSearchSummary::kExt2Superblocks)));
  if (auto* value = corvale::ui::FindControl<QLabel>(this, kIdExt2FileSystems))
    value->setText(QString::number(summary.At(IntelligentSearchSummary::kExt2FileSystems)));
}

void CIntelligentSearchingDlg::OnSecond() {
  if (auto* elapsed = corvale::ui::FindControl<QLabel>(this, kIdElapsed))
    elapsed->setText(QString::fromStdString(FormatElapsed(MillisecondsSince(m_startTick))));
  Refresh(true);
}

int64_t CIntelligentSearchingDlg::ReportedBlock() const {
  std::lock_guard lock(m_mutex);
  return m_block;
}

void CIntelligentSearchingDlg::ShowDetails(bool show) {
  m_detailsShown = show;
  for (QWidget* w : m_detailRows) w->setVisible(show);
  for (QWidget* w : m_collapsedRow) w->setVisible(!show);
  m_collapse->setVisible(show);
  m_expand->setVisible(!show);
  adjustSize();
  update();
}

QString CIntelligentSearchingDlg::Text(int id) const {
  auto* label = corvale::ui::FindControl<QLabel>(this, id);
  return label != nullptr ? label->text() : QString();
}

void CIntelligentSearchingDlg::OnCancelConfirmed() {
  const int mode = GetRecoveryContext().RecoveryMode;
  const uint32_t elapsed = MillisecondsSince(m_startTick);
  if (mode == 1) corvale::usage::TimedEvent(kEventCancelledComplete, elapsed);
  if (mode == 2) corvale::usage::TimedEvent(kEventCancelledPartition, elapsed);
}

int32_t CIntelligentSearchingDlg::RunSearch(CIntelligentSearchController& driver) {
  show();
  Refresh(true);
  m_readTimer.start();
  m_secondTimer.start();
  int32_t result = 0;
  const bool ran = RunJob([&] { result = RunIntelligentSearch(driver, this); });
  m_readTimer.stop();
  m_secondTimer.stop();
  OnSecond();
  hide();
  return ran ? result : 0;
}
