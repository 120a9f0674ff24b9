#include "controls/MaskedBitmap.h"

#include <QBitmap>
#include <QImage>
#include <QPainter>
#include <cinttypes>

#include "platform/Log.h"
#include "ui/Resources.h"

namespace {

// The pixmap with the pixels of `key` made transparent.
QPixmap WithoutColor(const QPixmap& pixmap, const QColor& key) {
  QPixmap masked = pixmap;
  masked.setMask(pixmap.createMaskFromColor(key, Qt::MaskInColor));
  return masked;
}

}  // namespace

bool CMaskedBitmap::LoadBitmap(uint32_t id) {
  m_pixmap = corvale::ui::LoadBitmapResource(id);
  return !m_pixmap.isNull();
}

void DrawBitmapAt(const CMaskedBitmap& bitmap, QPainter* dc, int x, int y) {
  if (!dc || bitmap.IsNull()) return;
  dc->drawPixmap(x, y, bitmap.Pixmap());
}

void StretchDrawBitmap(const CMaskedBitmap& bitmap, QPainter* dc, int x, int y, int cx, int cy) {
  if (!dc || bitmap.IsNull()) return;
  dc->drawPixmap(QRect(x, y, cx, cy), bitmap.Pixmap());
}

void DrawBitmapTransparent(const CMaskedBitmap& bitmap, QPainter* dc, int x, int y,
                           const QColor& transparent) {
  if (!dc || bitmap.IsNull()) return;
  dc->drawPixmap(x, y, WithoutColor(bitmap.Pixmap(), transparent));
}

void DrawTransparentBitmap(QPainter* dc, const QPixmap& source, int x, int y, int cxBitmap, int cyBitmap,
                           int xTransparent, int yTransparent) {
  LogError("------------------------ParmInfo:hdc, hBitmapSrc=%" PRIxPTR
           ";x=%x;y=%x;cxBitmap=%x;cyBitmap=%x;"
           "xTransparent=%x;yTransparent=%x",
           static_cast<uintptr_t>(source.cacheKey()), static_cast<unsigned>(x), static_cast<unsigned>(y),
           static_cast<unsigned>(cxBitmap), static_cast<unsigned>(cyBitmap),
           static_cast<unsigned>(xTransparent), static_cast<unsigned>(yTransparent));
  if (!dc || source.isNull() || cxBitmap <= 0 || cyBitmap <= 0) return;
  const QImage sourceImage = source.toImage();
  // A key pixel outside the picture takes the colour the image has there: black, as a new bitmap.
  const QColor key = sourceImage.valid(xTransparent, yTransparent)
                         ? sourceImage.pixelColor(xTransparent, yTransparent)
                         : QColor(Qt::black);
  QImage image(cxBitmap, cyBitmap, QImage::Format_RGB32);
  image.fill(Qt::black);
  {
    QPainter copy(&image);
    copy.drawImage(0, 0, sourceImage);
  }
  const QPixmap picture = QPixmap::fromImage(image);
  dc->fillRect(QRect(x, y, cxBitmap, cyBitmap), dc->background().color());
  dc->drawPixmap(x, y, WithoutColor(picture, key));
}

QSize GetBitmapSize(const QPixmap& bitmap) { return bitmap.size(); }
