#include "controls/SectorSelectCtrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace {
constexpr int kThumbWidth = 8;
}

CSectorSelectCtrl::CSectorSelectCtrl(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setMinimumSize(60, 40);
  Layout();
}

void CSectorSelectCtrl::Layout() {
  m_inner = rect().adjusted(0, 15, 0, -15);
  m_track = m_inner.adjusted(12, 0, -12, 0);
  if (m_track.width() < 1) m_track.setWidth(1);
  m_sectorsPerPixel = static_cast<double>(m_maximum) / m_track.width();
}

uint64_t CSectorSelectCtrl::SetSectorCount(uint64_t count) {
  m_maximum = count > 0 ? count - 1 : 0;
  Layout();
  m_selection = m_track;
  m_first = 0;
  m_last = m_maximum;
  PlaceThumbs();
  update();
  return m_maximum;
}

void CSectorSelectCtrl::PlaceThumbs() {
  const int top = m_track.top() + m_track.height() / 5;
  const int height = std::max(1, m_track.height() * 3 / 5);
  m_leftThumb = QRect(m_selection.left() - kThumbWidth, top, kThumbWidth, height);
  m_rightThumb = QRect(m_selection.right() + 1, top, kThumbWidth, height);
}

void CSectorSelectCtrl::SetSelectedRange(uint64_t first, uint64_t last) {
  if (first > last || first > m_maximum || last > m_maximum) m_reset = true;
  const double scale = m_sectorsPerPixel > 0 ? m_sectorsPerPixel : 1.0;
  if (m_reset) {
    first = 0;
    last = m_maximum;
    m_selection = m_track;
  } else {
    const int left = m_track.left() + static_cast<int>(static_cast<double>(first) / scale);
    const int right = m_track.left() + static_cast<int>(static_cast<double>(last) / scale);
    m_selection = QRect(QPoint(left, m_track.top()), QPoint(std::max(left, right), m_track.bottom()));
  }
  m_first = first;
  m_last = last;
  PlaceThumbs();
  if (m_reset) {
    m_reset = false;
    emit rangeChanged();
  }
  update();
}

void CSectorSelectCtrl::GetSelectedRange(uint64_t& first, uint64_t& last) {
  auto toSector = [this](int pixels) {
    const double value = std::max(0, pixels) * m_sectorsPerPixel;
    return std::min<uint64_t>(static_cast<uint64_t>(value), m_maximum);
  };
  const uint64_t newFirst = toSector(m_selection.left() - m_track.left());
  uint64_t newLast;
  if (m_dragMode == kDragWhole) {
    // A moved selection keeps its length in sectors whatever the pixel rounding says.
    newLast = std::min<uint64_t>(newFirst + (m_last - m_first), m_maximum);
  } else {
    newLast =
        m_selection.right() >= m_track.right() ? m_maximum : toSector(m_selection.right() - m_track.left());
  }
  m_first = newFirst;
  m_last = std::max(newFirst, newLast);
  first = m_first;
  last = m_last;
}

void CSectorSelectCtrl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), m_backgroundColour);
  painter.setPen(Qt::black);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
  painter.drawRect(m_track.adjusted(0, 0, -1, -1));
  painter.fillRect(m_track.adjusted(1, 1, -1, -1), m_trackColour);
  const int middle = m_leftThumb.center().y();
  for (const QRect& thumb : {m_leftThumb, m_rightThumb}) {
    painter.fillRect(thumb, m_backgroundColour);
    painter.setPen(Qt::black);
    painter.drawRect(thumb.adjusted(0, 0, -1, -1));
    const bool left = thumb == m_leftThumb;
    for (int i = 0; i < kThumbWidth; ++i) {
      const int x = left ? thumb.left() + i : thumb.right() - i;
      if (i >= 1) painter.drawLine(x, middle - (i - 1), x, middle + (i - 1));
    }
  }
  if (!m_selection.isEmpty()) {
    QRect edge = m_selection;
    if (edge.width() > 1) edge.adjust(1, 0, -1, 0);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(edge.topLeft(), edge.topRight());
    painter.drawLine(edge.topLeft(), edge.bottomLeft());
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(edge.bottomLeft(), edge.bottomRight());
    painter.drawLine(edge.topRight(), edge.bottomRight());
    QRect inside = edge;
    if (inside.width() > 1) inside.adjust(1, 1, -1, -1);
    painter.fillRect(inside, m_selectionColour);
  }
}

void CSectorSelectCtrl::mousePressEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  m_capture = true;
  m_lastX = at.x();
  if (m_selection.contains(at))
    m_dragMode = kDragWhole;
  else if (m_leftThumb.contains(at))
    m_dragMode = kDragLeft;
  else if (m_rightThumb.contains(at))
    m_dragMode = kDragRight;
  else
    m_dragMode = kDragNone;
}

void CSectorSelectCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  m_capture = true;
  m_lastX = event->position().toPoint().x();
}

void CSectorSelectCtrl::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (m_selection.adjusted(1, 1, -1, -1).contains(at))
    setCursor(Qt::SizeAllCursor);
  else if (m_leftThumb.contains(at) || m_rightThumb.contains(at))
    setCursor(Qt::SizeHorCursor);
  else
    unsetCursor();
  if (m_capture && (event->buttons() & Qt::LeftButton)) DragStep(at.x());
}

void CSectorSelectCtrl::DragStep(int x) {
  const int dx = x - m_lastX;
  if (m_dragMode == kDragWhole) {
    if (m_selection.width() < m_track.width()) {
      QRect moved = m_selection.translated(dx, 0);
      if (moved.left() < m_track.left()) moved.moveLeft(m_track.left());
      if (moved.right() > m_track.right()) moved.moveRight(m_track.right());
      m_selection = moved;
    }
  } else if (m_dragMode == kDragLeft) {
    m_selection.setLeft(std::clamp(x, m_track.left(), m_selection.right()));
  } else if (m_dragMode == kDragRight) {
    m_selection.setRight(std::clamp(x, m_selection.left(), m_track.right()));
  }
  PlaceThumbs();
  update();
  emit rangeChanged();
  m_lastX = x;
}

void CSectorSelectCtrl::mouseReleaseEvent(QMouseEvent*) { m_capture = false; }

void CSectorSelectCtrl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const uint64_t first = m_first;
  const uint64_t last = m_last;
  Layout();
  SetSelectedRange(first, last);
}
