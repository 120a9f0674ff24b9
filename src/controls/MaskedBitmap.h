#pragma once
// The bitmap object of the custom controls and its drawing operations: a plain copy, a stretched
// copy, and a copy that leaves one colour out. Bitmaps are loaded by number from the program's
// resources (ui/Resources.h).

#include <QColor>
#include <QPixmap>
#include <QSize>
#include <cstdint>

class QPainter;

class CMaskedBitmap {
 public:
  CMaskedBitmap() = default;
  explicit CMaskedBitmap(QPixmap pixmap) : m_pixmap(std::move(pixmap)) {}

  // Loads bitmap `id`, replacing what was held. False (and nothing held) when there is no such bitmap.
  bool LoadBitmap(uint32_t id);
  void SetPixmap(QPixmap pixmap) { m_pixmap = std::move(pixmap); }

  bool IsNull() const { return m_pixmap.isNull(); }
  QSize GetSize() const { return m_pixmap.size(); }
  const QPixmap& Pixmap() const { return m_pixmap; }

 private:
  QPixmap m_pixmap;
};

// Copies the whole bitmap to (x, y) in its own size.
void DrawBitmapAt(const CMaskedBitmap& bitmap, QPainter* dc, int x, int y);
// Stretches the whole bitmap into (x, y, cx, cy).
void StretchDrawBitmap(const CMaskedBitmap& bitmap, QPainter* dc, int x, int y, int cx, int cy);
// Copies the bitmap to (x, y), leaving the pixels of colour `transparent` unpainted: what was drawn
// there before shows through.
void DrawBitmapTransparent(const CMaskedBitmap& bitmap, QPainter* dc, int x, int y,
                           const QColor& transparent);

// Copies the top-left cxBitmap x cyBitmap pixels of `source` to (x, y), taking the colour of the
// source pixel (xTransparent, yTransparent) as transparent. Transparent pixels show the painter's
// background colour (QPainter::background), not what was drawn there before.
void DrawTransparentBitmap(QPainter* dc, const QPixmap& source, int x, int y, int cxBitmap, int cyBitmap,
                           int xTransparent, int yTransparent);

// The width and height of a bitmap.
QSize GetBitmapSize(const QPixmap& bitmap);
