#include "wizard/MemoryDCPainter.h"

#include <algorithm>

CMemoryDCPainter::CMemoryDCPainter(QPainter* target, int width, int height) : m_target(target) {
  const qreal ratio = target && target->device() ? target->device()->devicePixelRatioF() : 1.0;
  m_picture = QPixmap(QSize(std::max(width, 1), std::max(height, 1)) * ratio);
  m_picture.setDevicePixelRatio(ratio);
  m_picture.fill(Qt::transparent);
  m_painter.begin(&m_picture);
  if (target) {
    m_painter.setFont(target->font());
    m_painter.setBackground(target->background());
  }
}

CMemoryDCPainter::~CMemoryDCPainter() {
  m_painter.end();
  if (m_target) m_target->drawPixmap(0, 0, m_picture);
}
