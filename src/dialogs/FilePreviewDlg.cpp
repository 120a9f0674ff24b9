#include "dialogs/FilePreviewDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>

#include "controls/ButtonPlus.h"
#include "dialogs/FilePreviewViews.h"
#include "dialogs/ImagePreviewWnd.h"
#include "platform/StringTable.h"
#include "ui/Pictures.h"

namespace {
QString Text(uint32_t id) { return QString::fromStdString(corvale::LoadText(id)); }
}  // namespace

CFilePreViewDlg::CFilePreViewDlg(QWidget* parent) : CSearchSuperDlg(kTemplateId, parent) {
  setMinimumSize(200, 200);
  resize(640, 480);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 5);
  layout->setSpacing(10);
  auto* frame = new QWidget(this);
  auto* frameLayout = new QVBoxLayout(frame);
  frameLayout->setContentsMargins(2, 0, 2, 2);
  frameLayout->setSpacing(2);
  m_tabs = new QTabBar(frame);
  m_tabs->addTab(Text(315));
  m_tabs->addTab(Text(316));
  m_tabs->addTab(Text(317));
  frameLayout->addWidget(m_tabs);
  m_pages = new QStackedWidget(frame);
  frameLayout->addWidget(m_pages, 1);
  layout->addWidget(frame, 1);

  // Text and Hex: the view beside the shared bar.
  auto* lines = new QWidget(m_pages);
  auto* linesLayout = new QHBoxLayout(lines);
  linesLayout->setContentsMargins(0, 0, 0, 0);
  linesLayout->setSpacing(0);
  m_text = new CTextFilePreViewEdit(lines);
  m_hex = new CHexFilePreViewEdit(lines);
  m_bar = new QScrollBar(Qt::Vertical, lines);
  m_bar->setRange(0, 0);
  linesLayout->addWidget(m_text, 1);
  linesLayout->addWidget(m_hex, 1);
  linesLayout->addWidget(m_bar);
  m_hex->hide();
  m_pages->addWidget(lines);

  // Image: the picture above a strip with the two zoom buttons.
  auto* picture = new QWidget(m_pages);
  auto* pictureLayout = new QVBoxLayout(picture);
  pictureLayout->setContentsMargins(0, 0, 0, 0);
  pictureLayout->setSpacing(0);
  m_image = new CImageWindow(picture);
  pictureLayout->addWidget(m_image, 1);
  m_strip = new QLabel(picture);
  auto* stripLayout = new QHBoxLayout(m_strip);
  stripLayout->setContentsMargins(0, 2, 0, 0);
  m_fit = new QPushButton(QStringLiteral("FIT"), m_strip);
  m_actual = new QPushButton(QStringLiteral("ORG"), m_strip);
  m_fit->setToolTip(QStringLiteral("Best Fit"));
  m_actual->setToolTip(QStringLiteral("Actual Size"));
  m_fit->setEnabled(false);
  stripLayout->addStretch(1);
  stripLayout->addWidget(m_fit);
  stripLayout->addWidget(m_actual);
  stripLayout->addStretch(1);
  pictureLayout->addWidget(m_strip);
  m_pages->addWidget(picture);

  // Recover and Close, each centred in its half.
  using namespace corvale::ui::buttons;
  m_recover = new CButtonPlus(kNextFilePage.normal, kNextFilePage.hover, kNextFilePage.push,
                              kNextFilePage.disable, this);
  m_close = new CButtonPlus(kDialogCancel.normal, kDialogCancel.hover, kDialogCancel.push,
                            kDialogCancel.disable, this);
  m_recover->setToolTip(Text(329));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_recover);
  buttons->addStretch(2);
  buttons->addWidget(m_close);
  buttons->addStretch(1);
  layout->addLayout(buttons);

  m_text->SetForwardBar(m_bar);
  m_hex->SetForwardBar(m_bar);
  connect(m_tabs, &QTabBar::currentChanged, this, &CFilePreViewDlg::OnTabChanged);
  connect(m_bar, &QScrollBar::valueChanged, this, &CFilePreViewDlg::OnBarMoved);
  connect(m_text, &CFilePreViewEdit::VisibleLinesChanged, this, [this] { Refresh(true); });
  connect(m_hex, &CFilePreViewEdit::VisibleLinesChanged, this, [this] { Refresh(true); });
  connect(m_fit, &QPushButton::clicked, this, [this] { SetZoom(true); });
  connect(m_actual, &QPushButton::clicked, this, [this] { SetZoom(false); });
  connect(m_recover, &QAbstractButton::clicked, this, [this] {
    m_recoverAsked = true;
    accept();
  });
  connect(m_close, &QAbstractButton::clicked, this, &QDialog::reject);
}

CFilePreViewDlg::~CFilePreViewDlg() = default;

void CFilePreViewDlg::SetFile(const std::string& path, const std::string& displayName) {
  m_path = path;
  m_name = displayName;
  m_loaded = false;
}

void CFilePreViewDlg::LoadFile() {
  m_loaded = true;
  setWindowTitle(QString::fromStdString(m_name) + Text(314));
  m_text->Load(m_path);
  m_hex->Load(m_path);
  const bool picture = m_image->Load(m_path);
  m_barOnHex = false;
  const QSignalBlocker block(m_bar);
  m_bar->setRange(0, static_cast<int>(std::min<int64_t>(m_text->GetLineCount(), INT32_MAX)));
  m_bar->setValue(0);
  const QSignalBlocker blockTabs(m_tabs);
  m_tabs->setCurrentIndex(picture ? kTabImage : kTabText);
  OnTabChanged(m_tabs->currentIndex());
}

void CFilePreViewDlg::showEvent(QShowEvent* event) {
  if (!m_loaded) LoadFile();
  CSearchSuperDlg::showEvent(event);
}

int CFilePreViewDlg::CurrentTab() const { return m_tabs->currentIndex(); }

void CFilePreViewDlg::SelectTab(int tab) { m_tabs->setCurrentIndex(tab); }

void CFilePreViewDlg::OnTabChanged(int tab) {
  const QSignalBlocker block(m_bar);
  if (tab == kTabText) {
    if (m_barOnHex) {
      const int64_t line = m_text->OffsetToLine(m_hex->LineToOffset(m_bar->value()));
      m_bar->setRange(0, static_cast<int>(std::min<int64_t>(m_text->GetLineCount(), INT32_MAX)));
      m_bar->setValue(static_cast<int>(line));
      m_barOnHex = false;
    }
    m_hex->hide();
    m_text->show();
    m_pages->setCurrentIndex(0);
    m_text->setFocus();
  } else if (tab == kTabHex) {
    if (!m_barOnHex) {
      const int64_t line = m_hex->OffsetToLine(m_text->LineToOffset(m_bar->value()));
      m_bar->setRange(0, static_cast<int>(std::min<int64_t>(m_hex->GetLineCount(), INT32_MAX)));
      m_bar->setValue(static_cast<int>(line));
      m_barOnHex = true;
    }
    m_text->hide();
    m_hex->show();
    m_pages->setCurrentIndex(0);
    m_hex->setFocus();
  } else {
    m_pages->setCurrentIndex(1);
    m_image->setFocus();
  }
  Refresh(true);
}

void CFilePreViewDlg::OnBarMoved(int value) {
  Refresh(value <= m_bar->minimum() || value >= m_bar->maximum());
}

void CFilePreViewDlg::Refresh(bool force) {
  if (!force && m_lastRefresh.isValid() && m_lastRefresh.elapsed() < 100) {
    // The last position of a fast move is still shown, once the interval is over.
    if (!m_refreshPending) {
      m_refreshPending = true;
      QTimer::singleShot(100, this, [this] { Refresh(true); });
    }
    return;
  }
  m_refreshPending = false;
  m_lastRefresh.start();
  const int tab = m_tabs->currentIndex();
  if (tab == kTabImage) {
    m_image->viewport()->update();
    return;
  }
  CFilePreViewEdit* view = tab == kTabHex ? static_cast<CFilePreViewEdit*>(m_hex) : m_text;
  view->Render(m_bar->value());
  const int page = view->GetVisibleLines();
  const QSignalBlocker block(m_bar);
  m_bar->setPageStep(page);
  m_bar->setEnabled(page < m_bar->maximum());
}

void CFilePreViewDlg::SetZoom(bool fit) {
  m_image->SetMode(fit);
  m_fit->setEnabled(!fit);
  m_actual->setEnabled(fit);
  m_image->setFocus();
}
