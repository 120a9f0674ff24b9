#pragma once
// Painting into an off-screen picture of the window's size that is copied to the window in one
// piece when the painter goes away, so that a window drawn in layers never shows a half-drawn state.

#include <QPainter>
#include <QPixmap>

class CMemoryDCPainter {
 public:
  CMemoryDCPainter(QPainter* target, int width, int height);
  ~CMemoryDCPainter();
  CMemoryDCPainter(const CMemoryDCPainter&) = delete;
  CMemoryDCPainter& operator=(const CMemoryDCPainter&) = delete;

  // The painter of the off-screen picture; draw here.
  QPainter* DC() { return &m_painter; }

 private:
  QPainter* m_target;
  QPixmap m_picture;
  QPainter m_painter;
};
