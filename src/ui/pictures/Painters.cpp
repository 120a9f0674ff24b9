#include "ui/pictures/Painters.h"

#include <algorithm>

#include <QFont>
#include <QFontMetrics>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>

#include "ui/Pictures.h"

namespace corvale::ui::pictures {
namespace {

// Pictures are drawn in one face whatever the user's language, so that they look the same
// everywhere; the metric twin of Arial is installed with the program.
QFont PictureFont(int pixelSize, bool bold) {
  QFont font;
  font.setFamilies(
      {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

const QColor kPrimaryFace(40, 116, 166);
const QColor kPrimaryHover(52, 152, 219);
const QColor kPrimaryPushed(27, 79, 114);
const QColor kSecondaryBorder(127, 140, 141);
const QColor kSecondaryHover(222, 238, 250);
const QColor kSecondaryPushed(190, 220, 242);
const QColor kDisabledFace(213, 219, 223);
const QColor kDisabledBorder(191, 201, 206);
const QColor kDisabledText(149, 165, 166);
const QColor kDarkText(33, 47, 61);
const QColor kLinkHover(255, 214, 140);
const QColor kLinkPushed(169, 204, 227);
const QColor kLinkDisabled(120, 140, 160);
const QColor kLogoSubtitle(169, 204, 227);
const QColor kStepDone(169, 204, 227);
const QColor kStepFuture(96, 128, 160);

void DrawChevron(QPainter& p, QPointF centre, bool right, const QColor& color) {
  QPen pen(color, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  const double dx = right ? 2.5 : -2.5;
  QPolygonF line{QPointF(centre.x() - dx, centre.y() - 5), QPointF(centre.x() + dx, centre.y()),
                 QPointF(centre.x() - dx, centre.y() + 5)};
  p.drawPolyline(line);
}

void DrawHouse(QPainter& p, QPointF centre, const QColor& color) {
  QPen pen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  QPolygonF roof{QPointF(centre.x() - 6, centre.y() - 0.5), QPointF(centre.x(), centre.y() - 6),
                 QPointF(centre.x() + 6, centre.y() - 0.5)};
  p.drawPolyline(roof);
  p.drawRect(QRectF(centre.x() - 4, centre.y() - 1.5, 8, 7));
}

}  // namespace

void DrawBarButton(QPainter& p, const QSize& size, const QString& label, BarButtonIcon icon, bool primary,
                   ButtonState state) {
  p.fillRect(QRect(QPoint(0, 0), size), kBottomBarColor);
  p.setRenderHint(QPainter::Antialiasing, true);
  QColor face = primary ? kPrimaryFace : Qt::white;
  QColor border = primary ? kPrimaryPushed : kSecondaryBorder;
  QColor text = primary ? Qt::white : kDarkText;
  switch (state) {
    case ButtonState::Normal:
      break;
    case ButtonState::Hover:
      face = primary ? kPrimaryHover : kSecondaryHover;
      if (!primary) border = kPrimaryFace;
      break;
    case ButtonState::Pushed:
      face = primary ? kPrimaryPushed : kSecondaryPushed;
      if (!primary) border = kPrimaryFace;
      break;
    case ButtonState::Disabled:
      face = kDisabledFace;
      border = kDisabledBorder;
      text = kDisabledText;
      break;
  }
  const double offset = state == ButtonState::Pushed ? 1.0 : 0.0;
  p.setPen(QPen(border, 1.0));
  p.setBrush(face);
  p.drawRoundedRect(QRectF(0.5, 0.5, size.width() - 1.0, size.height() - 1.0), 4, 4);

  const QFont font = PictureFont(13, true);
  const int textWidth = QFontMetrics(font).horizontalAdvance(label);
  const int signWidth = icon == BarButtonIcon::None ? 0 : 16;
  const double left = (size.width() - textWidth - signWidth) / 2.0 + offset;
  const double middle = size.height() / 2.0 + offset;
  double textLeft = left;
  if (icon == BarButtonIcon::Home) {
    DrawHouse(p, QPointF(left + 6, middle), text);
    textLeft = left + signWidth;
  } else if (icon == BarButtonIcon::Back) {
    DrawChevron(p, QPointF(left + 5, middle), false, text);
    textLeft = left + signWidth;
  } else if (icon == BarButtonIcon::Next) {
    DrawChevron(p, QPointF(left + textWidth + 10, middle), true, text);
  }
  p.setFont(font);
  p.setPen(text);
  p.drawText(QRectF(textLeft, offset, textWidth + 2, size.height()), Qt::AlignLeft | Qt::AlignVCenter, label);
}

void DrawBannerLink(QPainter& p, const QSize& size, const QString& label, bool dropDown, ButtonState state) {
  p.fillRect(QRect(QPoint(0, 0), size), kBannerColor);
  p.setRenderHint(QPainter::Antialiasing, true);
  QColor text = Qt::white;
  if (state == ButtonState::Hover) text = kLinkHover;
  if (state == ButtonState::Pushed) text = kLinkPushed;
  if (state == ButtonState::Disabled) text = kLinkDisabled;
  QFont font = PictureFont(12, false);
  font.setUnderline(state == ButtonState::Hover);
  const int textWidth = QFontMetrics(font).horizontalAdvance(label);
  const int arrowWidth = dropDown ? 10 : 0;
  const double offset = state == ButtonState::Pushed ? 1.0 : 0.0;
  const double left = (size.width() - textWidth - arrowWidth) / 2.0 + offset;
  p.setFont(font);
  p.setPen(text);
  p.drawText(QRectF(left, offset, textWidth + 2, size.height()), Qt::AlignLeft | Qt::AlignVCenter, label);
  if (dropDown) {
    const double x = left + textWidth + 6;
    const double y = size.height() / 2.0 + offset;
    p.setPen(Qt::NoPen);
    p.setBrush(text);
    p.drawPolygon(QPolygonF{QPointF(x - 3.5, y - 1.5), QPointF(x + 3.5, y - 1.5), QPointF(x, y + 2.5)});
  }
}

void DrawLogo(QPainter& p, const QSize& size, ButtonState state) {
  p.fillRect(QRect(QPoint(0, 0), size), kBannerColor);
  p.setRenderHint(QPainter::Antialiasing, true);
  const double offset = state == ButtonState::Pushed ? 1.0 : 0.0;
  const bool disabled = state == ButtonState::Disabled;
  const QColor platter = disabled ? kLinkDisabled : QColor(232, 241, 248);
  const QColor arrow =
      disabled ? kLinkDisabled : (state == ButtonState::Hover ? kLinkHover : kBannerAccentColor);
  const QColor title = disabled ? kLinkDisabled : (state == ButtonState::Hover ? kLinkHover : Qt::white);

  // A disk platter with its hub, and an arrow coming round it: data brought back.
  const QPointF hub(17 + offset, size.height() / 2.0 + offset);
  p.setPen(Qt::NoPen);
  p.setBrush(platter);
  p.drawEllipse(hub, 14, 14);
  p.setBrush(kBannerColor);
  p.drawEllipse(hub, 4, 4);
  p.setPen(QPen(arrow, 3.0, Qt::SolidLine, Qt::FlatCap));
  p.setBrush(Qt::NoBrush);
  const QRectF ring(hub.x() - 9, hub.y() - 9, 18, 18);
  p.drawArc(ring, 120 * 16, 270 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(arrow);
  // The head sits at the end of the arc (at 30 degrees), pointing along it.
  const QPointF tip(hub.x() + 9 * 0.866 + 3.2, hub.y() - 9 * 0.5 + 1.0);
  p.drawPolygon(QPolygonF{QPointF(hub.x() + 9 * 0.866 - 4.5, hub.y() - 9 * 0.5 - 3.5),
                          QPointF(hub.x() + 9 * 0.866 + 4.0, hub.y() - 9 * 0.5 - 5.0), tip});

  p.setPen(title);
  p.setFont(PictureFont(21, true));
  p.drawText(QPointF(40 + offset, 21 + offset), QStringLiteral("Corvale"));
  p.setPen(disabled ? kLinkDisabled : kLogoSubtitle);
  p.setFont(PictureFont(10, false));
  p.drawText(QPointF(41 + offset, 34 + offset), QStringLiteral("Hard Drive Data Recovery"));
}

namespace {

void DrawBannerGround(QPainter& p, const QSize& size) {
  p.fillRect(QRect(QPoint(0, 0), size), kBannerColor);
  p.fillRect(QRect(0, size.height() - 2, size.width(), 2), kBannerAccentColor);
  // The logo sits where the welcome page puts its home-page link, so it stays in place on every page.
  p.save();
  p.translate(50, 11);
  DrawLogo(p, QSize(200, 38), ButtonState::Normal);
  p.restore();
}

}  // namespace

void DrawWelcomeBanner(QPainter& p, const QSize& size) {
  DrawBannerGround(p, size);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(kLogoSubtitle);
  p.setFont(PictureFont(13, false));
  p.drawText(QRectF(290, 11, 420, 38), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Bring back deleted, formatted and lost files"));
}

void DrawStepBanner(QPainter& p, const QSize& size, const QStringList& steps, int current) {
  DrawBannerGround(p, size);
  p.setRenderHint(QPainter::Antialiasing, true);
  if (steps.isEmpty()) return;
  // The steps share the room between the logo and the links at the right.
  const double left = 290;
  const double width = 460;
  const double slot = width / steps.size();
  const double circleY = 20;
  const double radius = 10;
  for (int i = 0; i + 1 < steps.size(); ++i) {
    const double from = left + slot * (i + 0.5) + radius + 4;
    const double to = left + slot * (i + 1.5) - radius - 4;
    p.setPen(QPen(i < current ? kStepDone : kStepFuture, 2.0));
    p.drawLine(QPointF(from, circleY), QPointF(to, circleY));
  }
  for (int i = 0; i < steps.size(); ++i) {
    const QPointF centre(left + slot * (i + 0.5), circleY);
    QColor ring = i < current ? kStepDone : (i == current ? kBannerAccentColor : kStepFuture);
    p.setPen(QPen(ring, 2.0));
    p.setBrush(i == current ? kBannerAccentColor : kBannerColor);
    p.drawEllipse(centre, radius, radius);
    p.setPen(i == current ? Qt::white : ring);
    p.setFont(PictureFont(12, true));
    p.drawText(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), Qt::AlignCenter,
               QString::number(i + 1));
    p.setPen(i == current ? Qt::white : (i < current ? kStepDone : kStepFuture));
    p.setFont(PictureFont(11, i == current));
    p.drawText(QRectF(centre.x() - slot / 2, 33, slot, 18), Qt::AlignHCenter | Qt::AlignTop, steps[i]);
  }
}

void DrawBottomBar(QPainter& p, const QSize& size) {
  p.fillRect(QRect(QPoint(0, 0), size), kBottomBarColor);
  p.fillRect(QRect(0, 0, size.width(), 1), kFrameColor);
}

void DrawMenuCheck(QPainter& p, const QSize& size) {
  p.fillRect(QRect(QPoint(0, 0), size), kMenuSelectionColor);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QPen(QColor(20, 20, 20), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  const double w = size.width();
  const double h = size.height();
  p.drawPolyline(
      QPolygonF{QPointF(w * 0.2, h * 0.5), QPointF(w * 0.42, h * 0.74), QPointF(w * 0.8, h * 0.26)});
}

}  // namespace corvale::ui::pictures
