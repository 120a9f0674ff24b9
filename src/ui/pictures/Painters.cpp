#include "ui/pictures/Painters.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <algorithm>

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
  p.translate(kBannerLogoLeft, kBannerLogoTop);
  DrawLogo(p, QSize(kBannerLogoWidth, kBannerLogoHeight), ButtonState::Normal);
  p.restore();
}

}  // namespace

void DrawWelcomeBanner(QPainter& p, const QSize& size, double textLeft, double textRight) {
  DrawBannerGround(p, size);
  if (textRight <= textLeft) return;
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(kLogoSubtitle);
  const QFont font = PictureFont(13, false);
  p.setFont(font);
  const QString line = QStringLiteral("Bring back deleted, formatted and lost files");
  const int room = static_cast<int>(textRight - textLeft);
  p.drawText(QRectF(textLeft, kBannerLogoTop, room, kBannerLogoHeight), Qt::AlignLeft | Qt::AlignVCenter,
             QFontMetrics(font).elidedText(line, Qt::ElideRight, room));
}

void DrawStepBanner(QPainter& p, const QSize& size, const QStringList& steps, int current, double textLeft,
                    double textRight) {
  DrawBannerGround(p, size);
  p.setRenderHint(QPainter::Antialiasing, true);
  if (steps.isEmpty() || textRight <= textLeft) return;
  // The steps share the room between the logo and the links at the right.
  const double left = textLeft;
  const double width = textRight - textLeft;
  const double slot = width / steps.size();
  const double circleY = 20;
  const double radius = 10;
  for (int i = 0; i + 1 < steps.size(); ++i) {
    const double from = left + slot * (i + 0.5) + radius + 4;
    const double to = left + slot * (i + 1.5) - radius - 4;
    if (to <= from) continue;
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
    // The name below its circle, within its share, down to the banner's accent line.
    const QRectF name(centre.x() - slot / 2 + 2, 33, slot - 4, size.height() - 2 - 33);
    p.save();
    p.setClipRect(name);
    p.drawText(name, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, steps[i]);
    p.restore();
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

namespace {

const QColor kStartFace(39, 174, 96);
const QColor kStartHover(46, 204, 113);
const QColor kStartPushed(30, 132, 73);
const QColor kWelcomeInk(33, 47, 61);
const QColor kWelcomeMuted(93, 109, 126);

// One of the three ways to recover, as a card of the welcome picture.
void DrawModeCard(QPainter& p, const QRectF& card, const QString& title, const QString& text,
                  const QColor& accent, const QString& how) {
  p.setPen(QPen(kFrameColor, 1.0));
  p.setBrush(QColor(250, 252, 253));
  p.drawRoundedRect(card, 8, 8);
  p.setPen(Qt::NoPen);
  p.setBrush(accent);
  p.drawRoundedRect(QRectF(card.left(), card.top(), card.width(), 6), 3, 3);
  p.setPen(kWelcomeInk);
  p.setFont(PictureFont(17, true));
  p.drawText(QRectF(card.left() + 18, card.top() + 22, card.width() - 36, 26),
             Qt::AlignLeft | Qt::AlignVCenter, title);
  p.setPen(kWelcomeMuted);
  p.setFont(PictureFont(13, false));
  p.drawText(QRectF(card.left() + 18, card.top() + 56, card.width() - 36, 96),
             Qt::AlignLeft | Qt::TextWordWrap, text);
  p.setPen(accent.darker(120));
  p.setFont(PictureFont(12, true));
  p.drawText(QRectF(card.left() + 18, card.bottom() - 34, card.width() - 36, 20),
             Qt::AlignLeft | Qt::AlignVCenter, how);
}

}  // namespace

void DrawWelcomePicture(QPainter& p, const QSize& size) {
  p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  p.setRenderHint(QPainter::Antialiasing, true);
  QLinearGradient ground(0, 0, 0, 170);
  ground.setColorAt(0, QColor(232, 241, 248));
  ground.setColorAt(1, Qt::white);
  p.fillRect(QRect(0, 0, size.width(), 170), ground);

  // A disk with an arrow coming round it, as in the logo, large.
  const QPointF hub(150, 105);
  p.setPen(Qt::NoPen);
  p.setBrush(kBannerColor);
  p.drawEllipse(hub, 62, 62);
  p.setBrush(QColor(232, 241, 248));
  p.drawEllipse(hub, 50, 50);
  p.setBrush(kBannerColor);
  p.drawEllipse(hub, 12, 12);
  p.setPen(QPen(kBannerAccentColor, 9.0, Qt::SolidLine, Qt::FlatCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(hub.x() - 32, hub.y() - 32, 64, 64), 120 * 16, 270 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(kBannerAccentColor);
  const QPointF end(hub.x() + 32 * 0.866, hub.y() - 32 * 0.5);
  p.drawPolygon(QPolygonF{end + QPointF(-13, -9), end + QPointF(12, -14), end + QPointF(9, 10)});

  p.setPen(kWelcomeInk);
  p.setFont(PictureFont(30, true));
  p.drawText(QRectF(250, 46, 700, 40), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Welcome to Corvale Hard Drive Data Recovery"));
  p.setPen(kWelcomeMuted);
  p.setFont(PictureFont(15, false));
  p.drawText(QRectF(250, 92, 700, 50), Qt::AlignLeft | Qt::TextWordWrap,
             QStringLiteral("Corvale reads your disk without ever writing to it, finds the files that were "
                            "deleted, formatted away or lost with a partition, and copies them to a folder "
                            "you choose."));

  const double top = 200;
  const double width = 280;
  const double gap = 30;
  const double left = (size.width() - 3 * width - 2 * gap) / 2;
  DrawModeCard(
      p, QRectF(left, top, width, 230), QStringLiteral("Deleted File Recovery"),
      QStringLiteral("Recover deleted files from a partition or removable media, such as files deleted "
                     "by Shift + Delete or emptied from Recycle Bin."),
      QColor(52, 152, 219), QStringLiteral("Start it with the button below"));
  DrawModeCard(p, QRectF(left + width + gap, top, width, 230), QStringLiteral("Partition Recovery"),
               QStringLiteral("Find lost, deleted, resized or damaged partitions, and then recover their "
                              "files and folders."),
               kStartFace, QStringLiteral("Start it with Start below"));
  DrawModeCard(p, QRectF(left + 2 * (width + gap), top, width, 230), QStringLiteral("Format Recovery"),
               QStringLiteral("Recover files from formatted or damaged partitions, or from a drive shown as "
                              "RAW."),
               QColor(155, 89, 182), QStringLiteral("Start it with the button below"));

  p.setPen(kWelcomeMuted);
  p.setFont(PictureFont(13, false));
  p.drawText(QRectF(0, 455, size.width(), 40), Qt::AlignHCenter | Qt::AlignVCenter,
             QStringLiteral("Choose how to recover:"));
}

void DrawWelcomeButton(QPainter& p, const QSize& size, const QString& label, bool primary,
                       ButtonState state) {
  p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  p.setRenderHint(QPainter::Antialiasing, true);
  QColor face = primary ? kStartFace : Qt::white;
  QColor border = primary ? kStartPushed : kSecondaryBorder;
  QColor text = primary ? Qt::white : kDarkText;
  if (state == ButtonState::Hover) {
    face = primary ? kStartHover : kSecondaryHover;
    if (!primary) border = kPrimaryFace;
  } else if (state == ButtonState::Pushed) {
    face = primary ? kStartPushed : kSecondaryPushed;
    if (!primary) border = kPrimaryFace;
  } else if (state == ButtonState::Disabled) {
    face = kDisabledFace;
    border = kDisabledBorder;
    text = kDisabledText;
  }
  const double offset = state == ButtonState::Pushed ? 1.0 : 0.0;
  p.setPen(QPen(border, primary ? 1.0 : 1.5));
  p.setBrush(face);
  p.drawRoundedRect(QRectF(1, 1, size.width() - 2.0, size.height() - 2.0), 8, 8);
  p.setPen(text);
  p.setFont(PictureFont(primary ? 22 : 15, true));
  p.drawText(QRectF(offset, offset, size.width(), size.height()), Qt::AlignCenter, label);
}

void DrawCategoryIcon(QPainter& p, const QSize& size, int index) {
  p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  p.setRenderHint(QPainter::Antialiasing, true);
  static const QColor kColors[] = {QColor(230, 126, 34), QColor(41, 128, 185), QColor(142, 68, 173),
                                   QColor(39, 174, 96),  QColor(192, 57, 43),  QColor(22, 160, 133),
                                   QColor(84, 110, 122)};
  const QColor color = kColors[index >= 0 && index < 7 ? index : 6];
  const double w = size.width();
  const double h = size.height();
  // A sheet of paper with a folded corner, and the category's sign on it.
  QPainterPath sheet;
  sheet.moveTo(w * 0.18, h * 0.06);
  sheet.lineTo(w * 0.62, h * 0.06);
  sheet.lineTo(w * 0.82, h * 0.26);
  sheet.lineTo(w * 0.82, h * 0.94);
  sheet.lineTo(w * 0.18, h * 0.94);
  sheet.closeSubpath();
  p.setPen(QPen(color.darker(130), 1.2));
  p.setBrush(color.lighter(185));
  p.drawPath(sheet);
  p.setBrush(color);
  p.setPen(Qt::NoPen);
  const QRectF sign(w * 0.28, h * 0.36, w * 0.44, h * 0.44);
  switch (index) {
    case 0:  // a mountain under a sun
      p.drawPolygon(QPolygonF{QPointF(sign.left(), sign.bottom()),
                              QPointF(sign.center().x() - 2, sign.top() + 5),
                              QPointF(sign.right(), sign.bottom())});
      p.drawEllipse(QPointF(sign.right() - 3, sign.top() + 2), 3, 3);
      break;
    case 1:  // lines of text
      for (int i = 0; i < 4; ++i) p.drawRect(QRectF(sign.left(), sign.top() + i * 4, i == 3 ? 8 : 14, 2));
      break;
    case 2:  // a zipper
      for (int i = 0; i < 5; ++i)
        p.drawRect(QRectF(sign.center().x() - (i % 2 ? 4 : 0), sign.top() + i * 3, 4, 2));
      p.drawRect(QRectF(sign.center().x() - 3, sign.bottom() - 5, 7, 5));
      break;
    case 3:  // a note
      p.drawEllipse(QPointF(sign.left() + 4, sign.bottom() - 3), 3.5, 3);
      p.drawRect(QRectF(sign.left() + 6.5, sign.top(), 1.8, sign.height() - 3));
      p.drawPolygon(QPolygonF{QPointF(sign.left() + 6.5, sign.top()), QPointF(sign.right(), sign.top() + 3),
                              QPointF(sign.left() + 8, sign.top() + 5)});
      break;
    case 4:  // an envelope
      p.setPen(QPen(color, 1.6));
      p.setBrush(Qt::NoBrush);
      p.drawRect(sign.adjusted(0, 2, 0, -2));
      p.drawPolyline(QPolygonF{sign.topLeft() + QPointF(0, 2), QPointF(sign.center().x(), sign.center().y()),
                               sign.topRight() + QPointF(0, 2)});
      break;
    case 5:  // a stack of disks
      for (int i = 0; i < 3; ++i) p.drawEllipse(QRectF(sign.left(), sign.top() + i * 4.5, sign.width(), 5));
      break;
    default:  // a window with a gear-like dot
      p.drawRect(QRectF(sign.left(), sign.top(), sign.width(), 3));
      p.setPen(QPen(color, 1.4));
      p.setBrush(Qt::NoBrush);
      p.drawRect(sign.adjusted(0, 0, 0, 0));
      p.drawEllipse(sign.center() + QPointF(0, 2), 3, 3);
      break;
  }
}

void DrawCheckBoxStrip(QPainter& p, const QSize& size) {
  p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  p.setRenderHint(QPainter::Antialiasing, true);
  const double s = size.height();
  for (int i = 1; i < 4 && (i + 1) * s <= size.width(); ++i) {
    const QRectF box(i * s + 1.5, 1.5, s - 3, s - 3);
    p.setPen(QPen(i == 1 ? kSecondaryBorder : kPrimaryPushed, 1.0));
    p.setBrush(i == 3 ? kPrimaryFace : Qt::white);
    p.drawRoundedRect(box, 2, 2);
    if (i == 2) {
      p.setPen(Qt::NoPen);
      p.setBrush(kPrimaryFace);
      p.drawRect(box.adjusted(3, 3, -3, -3));
    } else if (i == 3) {
      p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawPolyline(QPolygonF{QPointF(box.left() + s * 0.18, box.top() + s * 0.45),
                               QPointF(box.left() + s * 0.38, box.top() + s * 0.66),
                               QPointF(box.left() + s * 0.7, box.top() + s * 0.22)});
    }
  }
}

}  // namespace corvale::ui::pictures
