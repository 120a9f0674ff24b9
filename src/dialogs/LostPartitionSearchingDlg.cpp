#include "dialogs/LostPartitionSearchingDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "controls/DialogTemplate.h"
#include "platform/Log.h"
#include "storage/DiskDevice.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"
#include "ui/UsageStatistics.h"

namespace {

int ClampToInt(int64_t value) {
  return static_cast<int>(std::clamp<int64_t>(value, 0, std::numeric_limits<int>::max()));
}

LostPartitionSearchShownHook& ShownHook() {
  static LostPartitionSearchShownHook hook;
  return hook;
}

}  // namespace

LostPartitionSearchShownHook SetLostPartitionSearchShownHook(LostPartitionSearchShownHook hook) {
  LostPartitionSearchShownHook previous = std::move(ShownHook());
  ShownHook() = std::move(hook);
  return previous;
}

CLostPartitionSearchingDialog::CLostPartitionSearchingDialog(QWidget* parent, TickClock clock)
    : CProgressDlgBase(kTemplateId, parent, 241, corvale::ui::MessageIcon::Question, std::move(clock)) {
  using corvale::ui::DluSize;
  setWindowTitle(QStringLiteral("Quick Partition Searching"));
  setFont(corvale::ui::MakeUiFont(14, 400));
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);

  m_bar = new QProgressBar(this);
  m_bar->setObjectName(QString::number(kProgressId));
  m_bar->setMinimumWidth(DluSize(font(), 294, 13).width());
  m_bar->setTextVisible(false);
  m_bar->setRange(0, 1);
  m_bar->setValue(0);
  m_bar->setStyleSheet(
      "QProgressBar { background: rgb(242, 247, 250); border: 1px solid rgb(203, 212, 219); }"
      "QProgressBar::chunk { background: rgb(60, 140, 210); }");
  auto* elapsedCaption = new QLabel(QStringLiteral("Elapsed Time:"), this);
  m_elapsedLabel = new QLabel(QStringLiteral("00:00:00"), this);
  m_elapsedLabel->setObjectName(QString::number(kElapsedId));
  auto* remainingCaption = new QLabel(QStringLiteral("Remaining Time:"), this);
  m_remainingLabel = new QLabel(QStringLiteral("00:00:00"), this);
  m_remainingLabel->setObjectName(QString::number(kRemainingId));
  // "Calculating..." is wider than a time: the value keeps room for it so the row never jumps.
  m_remainingLabel->setMinimumWidth(m_remainingLabel->fontMetrics().horizontalAdvance(
      corvale::ui::LoadStringResource(132) + QStringLiteral("  ")));
  m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
  SetCancelButton(m_cancel);
  connect(m_cancel, &QPushButton::clicked, this, &CLostPartitionSearchingDialog::OnCancel);

  auto* times = new QHBoxLayout;
  times->addStretch(1);
  times->addWidget(elapsedCaption);
  times->addWidget(m_elapsedLabel);
  times->addSpacing(30);
  times->addWidget(remainingCaption);
  times->addWidget(m_remainingLabel);
  times->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_cancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(11, 20, 11, 10);
  layout->setSpacing(14);
  layout->addWidget(m_bar);
  layout->addLayout(times);
  layout->addStretch(1);
  layout->addLayout(buttons);
  setMinimumSize(DluSize(font(), 308, 89).expandedTo(layout->minimumSize()));

  m_opened = Now();
  m_startTick = m_opened;
  m_timer.setInterval(kTimerInterval);
  connect(&m_timer, &QTimer::timeout, this, &CLostPartitionSearchingDialog::OnTimer);
  m_timer.start();
}

CLostPartitionSearchingDialog::~CLostPartitionSearchingDialog() { m_timer.stop(); }

void CLostPartitionSearchingDialog::Step() { ++m_done; }

void CLostPartitionSearchingDialog::SetStep(int64_t) {}

void CLostPartitionSearchingDialog::StepBy(int64_t steps) {
  m_position += steps;
  ++m_done;
}

void CLostPartitionSearchingDialog::SetRange(int64_t first, int64_t end) {
  m_first = first;
  m_total = end;
  m_startTick = Now();
  m_rangeSet = true;
}

void CLostPartitionSearchingDialog::SetPosition(int64_t position) { m_position = position; }

void CLostPartitionSearchingDialog::AddFoundPartition(const CLostPartitionRecord* record) {
  if (!record) return;
  LostPartitionRecordPtr copy = CopyLostPartitionRecord(*record);
  if (!copy) return;
  std::lock_guard<std::mutex> lock(m_foundMutex);
  m_found.push_back(std::move(copy));
}

void CLostPartitionSearchingDialog::GetFoundPartitions(LostPartitionRecordList& out) const {
  std::lock_guard<std::mutex> lock(m_foundMutex);
  for (const auto& record : m_found)
    if (LostPartitionRecordPtr copy = CopyLostPartitionRecord(*record)) out.push_back(std::move(copy));
}

size_t CLostPartitionSearchingDialog::FoundCount() const {
  std::lock_guard<std::mutex> lock(m_foundMutex);
  return m_found.size();
}

std::string CLostPartitionSearchingDialog::RemainingText(int64_t total, int64_t done, uint64_t elapsedMs) {
  if (elapsedMs < 5000 || done <= 0) return corvale::ui::StringOrUtf8(132, "Calculating...");
  // Positions beyond the total (a search that reports more than it announced) count as none left.
  const int64_t left = std::max<int64_t>(total - done, 0);
  const long double ms = static_cast<long double>(left) * static_cast<long double>(elapsedMs) / done;
  return FormatElapsed(static_cast<uint64_t>(ms) + 1000);
}

void CLostPartitionSearchingDialog::OnTimer() {
  const uint32_t elapsed = MillisecondsSince(m_startTick.load());
  const int64_t first = m_first.load();
  const int64_t total = m_total.load();
  const int64_t done = m_done.load();
  if (m_rangeSet) {
    // A range of 0 leaves the bar empty; Qt would show 0..0 as a busy bar instead.
    const int low = ClampToInt(first);
    const int high = std::max(ClampToInt(total), low + 1);
    if (m_bar->minimum() != low || m_bar->maximum() != high) m_bar->setRange(low, high);
    const int position = std::clamp(ClampToInt(std::max(done, m_position.load())), low, high);
    if (m_bar->value() != position) m_bar->setValue(position);
  }
  m_elapsedLabel->setText(QString::fromStdString(FormatElapsed(elapsed)));
  // While the question is open, and for good after Yes, the remaining time stands still.
  if (elapsed < 5000)
    m_remaining = corvale::ui::StringOrUtf8(132, "Calculating...");
  else if (!IsAsking() && !IsCancelled())
    m_remaining = RemainingText(total, done, elapsed);
  m_remainingLabel->setText(QString::fromStdString(m_remaining));
}

void CLostPartitionSearchingDialog::OnCancelConfirmed() {
  corvale::usage::TimedEvent(kEventCancelled, MillisecondsSince(m_opened));
}

bool RunLostPartitionSearch(IStorageDevice* disk, QWidget* window, LostPartitionRecordList& found) {
  if (!disk) return false;
  const bool wasEnabled = window && window->isEnabled();
  if (wasEnabled) window->setEnabled(false);
  bool ran = false;
  {
    CLostPartitionSearchingDialog dialog(window);
    dialog.setEnabled(true);
    dialog.show();
    if (ShownHook()) ShownHook()(dialog);
    CLostPartitionSearcher searcher;
    // The window sees every partition the search reports; only those the disk's table no longer
    // holds are handed back. The disk's own geometry decides whether the 240-head cylinders are
    // walked too; an image, or a disk that gives no geometry, counts as 255 heads.
    int32_t heads = 255;
    if (auto* physical = dynamic_cast<CDiskDevice*>(disk)) heads = physical->GetTracksPerCylinder();
    dialog.RunJob([&] { ran = searcher.FindNewPartitions(disk, heads, &dialog, found); });
    dialog.hide();
  }
  if (wasEnabled) {
    window->setEnabled(true);
    window->activateWindow();
  }
  return ran;
}
