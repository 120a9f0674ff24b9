#include "wizard/WizardPage.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPainter>

#include "platform/Log.h"
#include "ui/UiFont.h"
#include "wizard/MemoryDCPainter.h"

CWizardPage::CWizardPage(QWidget* parent)
    : QWidget(parent), m_boldFont(corvale::ui::MakeUiPointFont(100, 700)) {}

CWizardPage::~CWizardPage() = default;

void CWizardPage::Layout(int, int) {}

void CWizardPage::Draw(QPainter*) {}

bool CWizardPage::OnCommand(int) { return false; }

void CWizardPage::resizeEvent(QResizeEvent* event) {
  LogError("------------------------ParmInfo: UINT nType, int cx, int cy");
  QWidget::resizeEvent(event);
  const int cx = width();
  const int cy = height();
  m_titleRect = RectFromEdges(kBandSide, 0, cx - kBandSide, kTitleBandHeight);
  m_subtitleRect = RectFromEdges(kBandSide, kTitleBandHeight, cx - kBandSide, kSubtitleBandBottom);
  m_bottomRect = RectFromEdges(kBandSide, cy - kBottomBandTop, cx - kBandSide, cy - kBottomBandBottom);
  Layout(cx, cy);
}

void CWizardPage::paintEvent(QPaintEvent*) {
  QPainter target(this);
  CMemoryDCPainter memory(&target, width(), height());
  QPainter* dc = memory.DC();
  dc->fillRect(rect(), Qt::white);
  dc->save();
  dc->setFont(m_boldFont);
  Draw(dc);
  dc->restore();
}

void CWizardPage::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    auto* button = qobject_cast<QAbstractButton*>(focusWidget());
    if (button && isAncestorOf(button) && button->isEnabled()) button->animateClick();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}
