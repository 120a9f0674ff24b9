#include "ui/pictures/DevicePainters.h"

#include <QPainterPath>
#include <cmath>

namespace corvale::ui::pictures {

void DrawDeviceIcon(QPainter& p, const QSize& size, DeviceIcon icon) {
  p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF box(2, 4, size.width() - 4, size.height() - 8);
  const QColor body(90, 110, 130);
  p.setPen(QPen(body.darker(130), 1));
  switch (icon) {
    case DeviceIcon::Floppy:
      p.setBrush(QColor(70, 90, 160));
      p.drawRect(QRectF(4, 4, size.width() - 8, size.height() - 8));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(8, 6, size.width() - 16, size.height() / 3.0));
      break;
    case DeviceIcon::Disk:
    case DeviceIcon::Spare:
      p.setBrush(QColor(160, 170, 180));
      p.drawRoundedRect(box, 3, 3);
      p.setBrush(QColor(60, 200, 90));
      p.drawEllipse(QRectF(box.right() - 7, box.bottom() - 7, 4, 4));
      break;
    case DeviceIcon::Volume:
    case DeviceIcon::Spare2:
      p.setBrush(QColor(200, 210, 220));
      p.drawRoundedRect(box, 3, 3);
      p.setBrush(QColor(22, 64, 104));
      p.drawRect(QRectF(box.left() + 3, box.top() + 3, box.width() - 6, box.height() / 3.0));
      p.setBrush(QColor(60, 200, 90));
      p.drawEllipse(QRectF(box.right() - 7, box.bottom() - 7, 4, 4));
      break;
    case DeviceIcon::Image:
      p.setBrush(QColor(243, 156, 18));
      p.drawEllipse(QRectF(3, 3, size.width() - 6, size.height() - 6));
      p.setBrush(Qt::white);
      p.drawEllipse(QRectF(size.width() / 2.0 - 3, size.height() / 2.0 - 3, 6, 6));
      break;
    case DeviceIcon::Usb:
      p.setBrush(QColor(70, 130, 200));
      p.drawRoundedRect(QRectF(6, 2, size.width() - 12, size.height() - 10), 2, 2);
      p.setBrush(QColor(190, 190, 190));
      p.drawRect(QRectF(10, size.height() - 9, size.width() - 20, 7));
      break;
  }
}

void DrawBusyStrip(QPainter& p, const QSize& size, int frames) {
  p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  if (frames <= 0) return;
  p.setRenderHint(QPainter::Antialiasing);
  const double width = double(size.width()) / frames;
  const double radius = std::min(width, double(size.height())) * 0.36;
  const double dot = radius * 0.28;
  for (int f = 0; f < frames; ++f) {
    const QPointF centre(width * f + width / 2, size.height() / 2.0);
    for (int i = 0; i < frames; ++i) {
      const double angle = 2 * M_PI * i / frames - M_PI / 2;
      const int age = (f - i + frames) % frames;
      const int shade = std::min(200, 30 + age * 18);
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(shade / 3, 64 + shade / 2, 104 + shade / 2));
      p.drawEllipse(centre + QPointF(std::cos(angle) * radius, std::sin(angle) * radius), dot, dot);
    }
  }
}

void DrawDeviceToolbarStrip(QPainter& p, const QSize& size) {
  p.fillRect(QRect(QPoint(0, 0), size), QColor(238, 242, 245));
  p.setPen(QColor(203, 212, 219));
  p.drawLine(0, size.height() - 1, size.width(), size.height() - 1);
}

}  // namespace corvale::ui::pictures
