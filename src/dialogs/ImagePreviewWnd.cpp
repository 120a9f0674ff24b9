#include "dialogs/ImagePreviewWnd.h"

#include <QImageReader>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>

#include "platform/StringTable.h"

CImageWindow::CImageWindow(QWidget* parent) : QAbstractScrollArea(parent) {
  setFrameShape(QFrame::Box);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFocusPolicy(Qt::StrongFocus);
}

bool CImageWindow::Load(const std::string& path) {
  m_image = QImage();
  m_scaled = QPixmap();
  m_failure.clear();
  QImageReader reader(QString::fromStdString(path));
  // The reader refuses pictures whose declared size needs more than this, whatever the file claims.
  reader.setAllocationLimit(kAllocationLimitMiB);
  QImage image = reader.read();
  if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
    m_failure = reader.errorString();
  } else {
    m_image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  }
  horizontalScrollBar()->setValue(0);
  verticalScrollBar()->setValue(0);
  UpdateBars();
  viewport()->update();
  return HasImage();
}

void CImageWindow::SetMode(bool fit) {
  m_fit = fit;
  UpdateBars();
  viewport()->update();
}

QRect CImageWindow::DrawRect(QSize image, QSize client, bool fit, QPoint scroll) {
  if (image.isEmpty() || client.isEmpty()) return {};
  const bool fits = client.width() >= image.width() && client.height() >= image.height();
  if (!fit || fits) {
    const int w = std::min(image.width() - scroll.x(), client.width());
    const int h = std::min(image.height() - scroll.y(), client.height());
    const int x = w < client.width() ? (client.width() - w) / 2 : 0;
    const int y = h < client.height() ? (client.height() - h) / 2 : 0;
    return {x, y, w, h};
  }
  const double rx = static_cast<double>(image.width()) / client.width();
  const double ry = static_cast<double>(image.height()) / client.height();
  if (ry < rx) {
    const int h = std::max(1, static_cast<int>(client.height() * ry / rx + 0.5));
    return {0, (client.height() - h) / 2, client.width(), h};
  }
  const int w = std::max(1, static_cast<int>(client.width() * rx / ry + 0.5));
  return {(client.width() - w) / 2, 0, w, client.height()};
}

void CImageWindow::UpdateBars() {
  const QSize client = viewport()->size();
  const bool show = HasImage() && !m_fit;
  const bool needH = show && client.width() < m_image.width();
  const bool needV = show && client.height() < m_image.height();
  setHorizontalScrollBarPolicy(needH ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(needV ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  const QSize area = viewport()->size();
  horizontalScrollBar()->setRange(0, needH ? std::max(0, m_image.width() - area.width()) : 0);
  horizontalScrollBar()->setPageStep(std::max(1, area.width()));
  verticalScrollBar()->setRange(0, needV ? std::max(0, m_image.height() - area.height()) : 0);
  verticalScrollBar()->setPageStep(std::max(1, area.height()));
}

void CImageWindow::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QRect client = viewport()->rect();
  painter.fillRect(client, Qt::white);
  if (!HasImage()) {
    painter.setPen(Qt::black);
    painter.drawText(client, Qt::AlignCenter | Qt::TextSingleLine,
                     QString::fromStdString(corvale::LoadText(181)));
    return;
  }
  const QPoint scroll =
      m_fit ? QPoint() : QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
  const QRect target = DrawRect(m_image.size(), client.size(), m_fit, scroll);
  if (target.isEmpty()) return;
  if (target.size() == m_image.size() || !m_fit ||
      (client.width() >= m_image.width() && client.height() >= m_image.height())) {
    painter.drawImage(target.topLeft(), m_image, QRect(scroll, target.size()));
    return;
  }
  // Scaled once per size, not in every paint.
  if (m_scaled.size() != target.size())
    m_scaled =
        QPixmap::fromImage(m_image.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  painter.drawPixmap(target.topLeft(), m_scaled);
}

void CImageWindow::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateBars();
}

void CImageWindow::wheelEvent(QWheelEvent* event) {
  QScrollBar* bar = verticalScrollBar();
  if (!m_fit && bar->maximum() > bar->minimum())
    bar->setValue(std::clamp(bar->value() - event->angleDelta().y(), bar->minimum(), bar->maximum()));
  event->accept();
}

void CImageWindow::scrollContentsBy(int, int) { viewport()->update(); }
