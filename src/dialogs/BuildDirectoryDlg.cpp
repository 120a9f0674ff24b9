#include "dialogs/BuildDirectoryDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "controls/DialogTemplate.h"
#include "platform/Log.h"
#include "ui/UiFont.h"

namespace {

// The bar counts in int; a range or position from an engine may be anything.
int ClampToInt(int64_t value) {
  return static_cast<int>(std::clamp<int64_t>(value, 0, std::numeric_limits<int>::max()));
}

}  // namespace

CBuildDirectoryDlg::CBuildDirectoryDlg(QWidget* parent) : CProgressDlgBase(kTemplateId, parent, 216) {
  using corvale::ui::DluSize;
  setWindowTitle(QStringLiteral("Building directory"));
  setFont(corvale::ui::MakeUiFont(14, 400));
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);

  m_stepLabel = new QLabel(this);
  m_stepLabel->setObjectName(QString::number(kStepTextId));
  // A long step text is cut rather than widening the window while it runs.
  m_stepLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  m_stepLabel->setMinimumWidth(DluSize(font(), 184, 8).width());
  m_bar = new QProgressBar(this);
  m_bar->setObjectName(QString::number(kProgressId));
  m_bar->setMinimumWidth(DluSize(font(), 298, 14).width());
  m_bar->setTextVisible(false);
  m_bar->setRange(0, 1);
  m_bar->setValue(0);
  m_bar->setStyleSheet(
      "QProgressBar { background: rgb(242, 247, 250); border: 1px solid rgb(203, 212, 219); }"
      "QProgressBar::chunk { background: rgb(60, 140, 210); }");
  auto* elapsedCaption = new QLabel(QStringLiteral("Elapsed Time:"), this);
  m_elapsedLabel = new QLabel(QStringLiteral("00:00:00"), this);
  m_elapsedLabel->setObjectName(QString::number(kElapsedId));
  m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
  SetCancelButton(m_cancel);
  connect(m_cancel, &QPushButton::clicked, this, &CBuildDirectoryDlg::OnCancel);

  auto* times = new QHBoxLayout;
  times->addStretch(1);
  times->addWidget(elapsedCaption);
  times->addWidget(m_elapsedLabel);
  times->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_cancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(15, 15, 15, 10);
  layout->setSpacing(12);
  layout->addWidget(m_stepLabel);
  layout->addWidget(m_bar);
  layout->addLayout(times);
  layout->addStretch(1);
  layout->addLayout(buttons);
  setMinimumSize(DluSize(font(), 318, 100).expandedTo(layout->minimumSize()));

  m_stepStart = Now();
  m_lastTextRefresh = m_stepStart.load();
  m_timer.setInterval(kReadInterval);
  connect(&m_timer, &QTimer::timeout, this, &CBuildDirectoryDlg::Refresh);
  m_timer.start();
}

CBuildDirectoryDlg::~CBuildDirectoryDlg() { m_timer.stop(); }

void CBuildDirectoryDlg::BeginStep(const char* text, int32_t range) {
  {
    std::lock_guard<std::mutex> lock(m_textMutex);
    m_stepText = text ? text : "";
  }
  m_range = std::max<int32_t>(range, 0);
  m_position = 0;
  m_stepStart = Now();
  ++m_stepGeneration;
  LogInfo("%s", text ? text : "");
}

void CBuildDirectoryDlg::AddProgress(int32_t n) { m_position += n; }

void CBuildDirectoryDlg::SetProgress(int32_t position) { m_position = position; }

void CBuildDirectoryDlg::CompleteStep() { m_position = m_range.load(); }

int32_t CBuildDirectoryDlg::Tick() { return PassGate() ? -1 : 0; }

void CBuildDirectoryDlg::Refresh() {
  ++m_refreshes;
  const uint32_t now = Now();
  const uint64_t generation = m_stepGeneration.load();
  const bool newStep = generation != m_shownGeneration;
  const int range = ClampToInt(m_range.load());
  // A range of 0 leaves the bar empty; Qt would show 0..0 as a busy bar instead.
  const int shownRange = std::max(range, 1);
  if (m_bar->maximum() != shownRange || newStep) m_bar->setRange(0, shownRange);
  const int position = std::min(ClampToInt(m_position.load()), range);
  if (m_bar->value() != position) m_bar->setValue(position);
  if (newStep || now - m_lastTextRefresh > kTextInterval.count()) {
    m_lastTextRefresh = now;
    m_shownGeneration = generation;
    std::string text;
    {
      std::lock_guard<std::mutex> lock(m_textMutex);
      text = m_stepText;
    }
    m_stepLabel->setText(QString::fromStdString(text));
    m_elapsedLabel->setText(QString::fromStdString(FormatElapsed(MillisecondsSince(m_stepStart))));
  }
}
