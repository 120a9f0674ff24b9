#include "controls/EnTabCtrl.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QStyleOptionTab>
#include <algorithm>
#include <atomic>

namespace {

// The look word of every enhanced tab bar.
std::atomic<uint32_t> g_lookFlags{0};

// Tab captions longer than this are cut before they are drawn.
constexpr int kMaxCaption = 99;

}  // namespace

CBaseTabCtrl::CBaseTabCtrl(QWidget* parent) : QTabBar(parent) {
  setDrawBase(false);
  setExpanding(false);
}

bool CBaseTabCtrl::SetDrawMode(int mode) {
  if (mode < 0 || mode > 2) return false;
  m_drawMode = mode;
  updateGeometry();
  update();
  return true;
}

void CBaseTabCtrl::SetBackColor(const QColor& color) {
  m_backColor = color;
  update();
}

QColor CBaseTabCtrl::ButtonFace() const { return palette().color(QPalette::Button); }
QColor CBaseTabCtrl::WindowText() const { return palette().color(QPalette::WindowText); }

void CBaseTabCtrl::DrawItem(QPainter&, const TabDrawItem&) {}
void CBaseTabCtrl::DrawMainBorder(QPainter&, const TabDrawItem&) {}
void CBaseTabCtrl::DrawItemBorder(QPainter&, const TabDrawItem&) {}
QColor CBaseTabCtrl::GetTabColor(bool) const { return ButtonFace(); }
QColor CBaseTabCtrl::GetTabTextColor(bool) const { return WindowText(); }

QRect CBaseTabCtrl::ItemRect(int index) const {
  const QRect tab = tabRect(index);
  return tab.isValid() ? tab.translated(0, kTabTop) : tab;
}

QRect CBaseTabCtrl::PageRect() const {
  int tabsBottom = kTabTop;
  for (int i = 0; i < count(); ++i) tabsBottom = std::max(tabsBottom, ItemRect(i).bottom() + 1);
  // The page lies inside a 2-pixel border below the tabs.
  return QRect(QPoint(2, tabsBottom + 2), QPoint(width() - 3, height() - 3));
}

int CBaseTabCtrl::DisplayDepth() const {
  const QScreen* shown = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  return shown != nullptr ? shown->depth() : 32;
}

QSize CBaseTabCtrl::sizeHint() const {
  const QSize hint = QTabBar::sizeHint();
  return m_drawMode == 0 ? hint : hint + QSize(0, kTabTop);
}

QSize CBaseTabCtrl::minimumSizeHint() const {
  const QSize hint = QTabBar::minimumSizeHint();
  return m_drawMode == 0 ? hint : hint + QSize(0, kTabTop);
}

void CBaseTabCtrl::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    EraseBackground(painter);
    if (m_drawMode != 0) {
      PaintOwnerDrawn(painter);
      return;
    }
  }
  QTabBar::paintEvent(event);
}

void CBaseTabCtrl::EraseBackground(QPainter& painter) {
  painter.fillRect(rect(), ButtonFace());
  if (count() == 0) return;
  QRect tabs;
  for (int i = 0; i < count(); ++i) tabs |= m_drawMode == 0 ? tabRect(i) : ItemRect(i);
  const int h = tabs.height();
  const QRect grown = tabs.adjusted(-2, -3, 2, 3);
  const QColor back = m_backColor.isValid() ? m_backColor : ButtonFace();
  // Above the tabs, left of the first and right of the last: the background colour shows there.
  painter.fillRect(QRect(0, 0, width(), grown.top() + 3), back);
  painter.fillRect(QRect(0, 0, 2, h + 2), back);
  const int right = grown.width() - 2;
  painter.fillRect(QRect(right, 0, width() - right, h + 2), back);
}

void CBaseTabCtrl::PaintOwnerDrawn(QPainter& painter) {
  painter.setFont(font());
  const int current = currentIndex();
  if (m_drawMode == 1) {
    // The style draws the tab shapes; DrawItem fills in each tab.
    for (int i = 0; i < count(); ++i) {
      QStyleOptionTab option;
      initStyleOption(&option, i);
      option.rect = ItemRect(i);
      option.text.clear();
      option.icon = QIcon();
      style()->drawControl(QStyle::CE_TabBarTabShape, &option, &painter, this);
      DrawItem(painter, {i, ItemRect(i), i == current});
    }
    return;
  }
  DrawMainBorder(painter, {-1, PageRect().adjusted(0, -2, 0, 0), false});
  // The unselected tabs from the last to the first, then the selected one over its neighbours.
  for (int i = count() - 1; i >= 0; --i) {
    if (i == current) continue;
    const TabDrawItem item{i, ItemRect(i).adjusted(0, 0, 0, -2), false};
    DrawItem(painter, item);
    DrawItemBorder(painter, item);
  }
  if (current >= 0) {
    const TabDrawItem item{current, ItemRect(current).adjusted(0, -2, 0, 2), true};
    DrawItem(painter, item);
    DrawItemBorder(painter, item);
  }
}

CEnTabCtrl::CEnTabCtrl(QWidget* parent) : CBaseTabCtrl(parent) {}

void CEnTabCtrl::SetLookFlags(bool enable, uint32_t flags) { g_lookFlags = enable ? flags : 0; }
uint32_t CEnTabCtrl::LookFlags() { return g_lookFlags; }

QColor CEnTabCtrl::Lighten(const QColor& color, double f) {
  f = std::max(f, 1.0);
  auto channel = [f](int value) {
    const int scaled = static_cast<int>(value * f);
    return scaled > 254 ? 255 : scaled;
  };
  return QColor(channel(color.red()), channel(color.green()), channel(color.blue()));
}

QColor CEnTabCtrl::Darken(const QColor& color, double f) {
  f = std::clamp(f, 0.0, 1.0);
  auto channel = [f](int value) { return static_cast<int>(value * f); };
  return QColor(channel(color.red()), channel(color.green()), channel(color.blue()));
}

QColor CEnTabCtrl::TintBase() const {
  return (LookFlags() & ETC_COLOR) && BackColor().isValid() ? BackColor() : ButtonFace();
}

QColor CEnTabCtrl::GetTabColor(bool selected) const {
  const uint32_t look = LookFlags();
  if (selected) return (look & ETC_SELECTION) ? Lighten(TintBase(), 1.4) : ButtonFace();
  if ((look & ETC_BACKTABS) || !(look & ETC_FLAT)) return Darken(TintBase(), 0.9);
  return BackColor().isValid() ? BackColor() : ButtonFace();
}

QColor CEnTabCtrl::GetTabTextColor(bool selected) const {
  if (selected) return WindowText();
  const bool tinted = (LookFlags() & (ETC_FLAT | ETC_COLOR)) && BackColor().isValid();
  return Darken(tinted ? BackColor() : ButtonFace(), 0.5);
}

void CEnTabCtrl::DrawItem(QPainter& painter, const TabDrawItem& item) {
  if (item.index < 0) return;
  QRect area = item.rect.adjusted(0, 0, 0, item.selected ? -1 : 2);
  const QColor start = GetTabColor(item.selected);
  if ((LookFlags() & ETC_GRADIENT) && DisplayDepth() > 15) {
    const QColor end = item.selected ? ButtonFace() : Darken(TintBase(), 0.7);
    const int height = area.height();
    auto step = [height](int from, int to, int y) { return from + y * (to - from) / height; };
    for (int y = 0; y < height; y += 2) {
      const QColor band(step(start.red(), end.red(), y), step(start.green(), end.green(), y),
                        step(start.blue(), end.blue(), y));
      painter.fillRect(QRect(area.left(), area.top() + y, area.width(), std::min(2, height - y)), band);
    }
  } else {
    painter.fillRect(area, start);
  }

  QRect text = area.adjusted(3, item.selected ? 4 : 3, 0, 0);
  const QIcon icon = tabIcon(item.index);
  if (!icon.isNull()) {
    icon.paint(&painter, QRect(text.topLeft(), QSize(16, 16)));
    text.setLeft(text.left() + 19);
  }
  text.setRight(area.right() - 3);
  const QString caption = tabText(item.index).left(kMaxCaption);
  painter.setPen(GetTabTextColor(item.selected));
  painter.drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   painter.fontMetrics().elidedText(caption, Qt::ElideRight, std::max(0, text.width())));
}

void CEnTabCtrl::DrawMainBorder(QPainter& painter, const TabDrawItem& item) {
  const QColor c = GetTabColor(false);
  const QRect& r = item.rect;
  painter.setPen(Lighten(c, 1.5));
  painter.drawLine(r.topLeft(), r.topRight());
  painter.drawLine(r.topLeft(), r.bottomLeft());
  painter.setPen(Darken(c, 0.75));
  painter.drawLine(r.bottomLeft(), r.bottomRight());
  painter.drawLine(r.topRight(), r.bottomRight());
}

void CEnTabCtrl::DrawItemBorder(QPainter& painter, const TabDrawItem& item) {
  const QColor c = GetTabColor(item.selected);
  const QColor light = Lighten(c, 1.5);
  const QColor dark = Darken(c, 0.75);
  if (item.selected || (LookFlags() & ETC_BACKTABS)) {
    const QRect r = item.rect.adjusted(0, 0, 0, item.selected ? -1 : 1);
    painter.setPen(light);
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.drawLine(r.topLeft(), r.topRight());
    painter.setPen(dark);
    painter.drawLine(r.topRight(), r.bottomRight());
    return;
  }
  const QRect& r = item.rect;
  painter.setPen(dark);
  painter.drawLine(QPoint(r.left() - 1, r.top()), QPoint(r.left() - 1, r.bottom()));
  painter.drawLine(r.topRight(), r.bottomRight());
}
