#include "dialogs/BuildDirectoryDlg.h"

#include <QCloseEvent>
#include <algorithm>
#include <cstdio>
#include <limits>

#include "platform/Log.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string Text(uint32_t id, const char* fallback) {
  const QString text = corvale::ui::LoadStringResource(id);
  return text.isEmpty() ? fallback : text.toStdString();
}

// The bar counts in int; a range or position from an engine may be anything.
int ClampToInt(int64_t value) {
  return static_cast<int>(std::clamp<int64_t>(value, 0, std::numeric_limits<int>::max()));
}

}  // namespace

CBuildDirectoryDlg::CBuildDirectoryDlg(QWidget* parent) : CSearchSuperDlg(kTemplateId, parent) {
  setWindowTitle(QStringLiteral("Building directory"));
  setFixedSize(477, 163);
  setFont(corvale::ui::MakeUiFont(14, 400));
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);

  m_stepLabel = new QLabel(this);
  m_stepLabel->setObjectName(QString::number(kStepTextId));
  m_stepLabel->setGeometry(21, 23, 430, 16);
  m_bar = new QProgressBar(this);
  m_bar->setObjectName(QString::number(kProgressId));
  m_bar->setGeometry(15, 54, 447, 23);
  m_bar->setTextVisible(false);
  m_bar->setRange(0, 1);
  m_bar->setValue(0);
  m_bar->setStyleSheet(
      "QProgressBar { background: rgb(242, 247, 250); border: 1px solid rgb(203, 212, 219); }"
      "QProgressBar::chunk { background: rgb(60, 140, 210); }");
  auto* elapsedCaption = new QLabel(QStringLiteral("Elapsed Time:"), this);
  elapsedCaption->setGeometry(183, 98, 90, 16);
  m_elapsedLabel = new QLabel(QStringLiteral("00:00:00"), this);
  m_elapsedLabel->setObjectName(QString::number(kElapsedId));
  m_elapsedLabel->setGeometry(273, 98, 80, 16);
  m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
  m_cancel->setGeometry(378, 128, 88, 28);
  connect(m_cancel, &QPushButton::clicked, this, &CBuildDirectoryDlg::OnCancel);

  m_stepStartMs = NowMs();
  m_lastTextRefreshMs = m_stepStartMs.load();
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
  m_stepStartMs = NowMs();
  ++m_stepGeneration;
  LogInfo("%s", text ? text : "");
}

void CBuildDirectoryDlg::AddProgress(int32_t n) { m_position += n; }

void CBuildDirectoryDlg::SetProgress(int32_t position) { m_position = position; }

void CBuildDirectoryDlg::CompleteStep() { m_position = m_range.load(); }

int32_t CBuildDirectoryDlg::Tick() { return m_cancelled ? -1 : 0; }

void CBuildDirectoryDlg::HideCancelButton() {
  m_cancelHidden = true;
  m_cancel->hide();
}

std::string CBuildDirectoryDlg::FormatElapsed(uint64_t milliseconds) {
  const uint64_t s = milliseconds / 1000;
  char text[64];
  std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
                static_cast<unsigned long long>(s % 3600 / 60), static_cast<unsigned long long>(s % 60));
  return text;
}

void CBuildDirectoryDlg::Refresh() {
  ++m_refreshes;
  const int64_t now = NowMs();
  const uint64_t generation = m_stepGeneration.load();
  const bool newStep = generation != m_shownGeneration;
  const int range = ClampToInt(m_range.load());
  // A range of 0 leaves the bar empty; Qt would show 0..0 as a busy bar instead.
  const int shownRange = std::max(range, 1);
  if (m_bar->maximum() != shownRange || newStep) m_bar->setRange(0, shownRange);
  const int position = std::min(ClampToInt(m_position.load()), range);
  if (m_bar->value() != position) m_bar->setValue(position);
  if (newStep || now - m_lastTextRefreshMs > kTextInterval.count()) {
    m_lastTextRefreshMs = now;
    m_shownGeneration = generation;
    std::string text;
    {
      std::lock_guard<std::mutex> lock(m_textMutex);
      text = m_stepText;
    }
    m_stepLabel->setText(QString::fromStdString(text));
    m_elapsedLabel->setText(QString::fromStdString(
        FormatElapsed(static_cast<uint64_t>(std::max<int64_t>(now - m_stepStartMs, 0)))));
  }
}

void CBuildDirectoryDlg::OnCancel() {
  if (m_cancelHidden || m_cancelled) return;
  const std::string caption = corvale::ui::LoadStringResource(346).toStdString();
  const auto answer =
      corvale::ui::AskMessageBox(Text(216, "Abort Building?"), caption, corvale::ui::MessageButtons::YesNo,
                                 corvale::ui::MessageIcon::Question);
  if (answer != corvale::ui::MessageAnswer::Yes) return;
  m_cancelled = true;
  m_cancel->setEnabled(false);
  setWindowTitle(QString::fromStdString(Text(402, "Cancelling...")));
}

// Escape and the window's close box mean Cancel; the window itself goes only when its opener ends it.
void CBuildDirectoryDlg::reject() { OnCancel(); }

void CBuildDirectoryDlg::closeEvent(QCloseEvent* event) {
  event->ignore();
  OnCancel();
}
