#include "controls/XPMenu.h"

#include <QFontMetrics>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>

#include "controls/MaskedBitmap.h"
#include "ui/Pictures.h"
#include "ui/UiFont.h"

namespace {

class XPMenuStyle : public QProxyStyle {
 public:
  XPMenuStyle() { m_check.LoadBitmap(corvale::ui::bitmap::kMenuCheck); }

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element == PE_PanelMenu) {
      painter->fillRect(option->rect, Qt::white);
      return;
    }
    if (element == PE_FrameMenu) {
      painter->save();
      painter->setPen(QColor(160, 160, 160));
      painter->setBrush(Qt::NoBrush);
      painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
      painter->restore();
      return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
  }

  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    if (element != CE_MenuItem) {
      QProxyStyle::drawControl(element, option, painter, widget);
      return;
    }
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (!item) return;
    // Items without text (separators) are left blank.
    if (item->text.isEmpty()) {
      painter->fillRect(item->rect, Qt::white);
      return;
    }
    painter->save();
    const QRect area = item->rect;
    const bool selected = (item->state & State_Selected) && (item->state & State_Enabled);
    if (selected) {
      painter->setPen(Qt::black);
      painter->setBrush(Qt::NoBrush);
      painter->drawRect(area.adjusted(0, 0, -1, -1));
      painter->fillRect(area.adjusted(1, 1, -1, -1), corvale::ui::kMenuSelectionColor);
    } else {
      painter->fillRect(area, Qt::white);
    }
    if (item->checked && !m_check.IsNull()) {
      const QSize size = m_check.GetSize().boundedTo(QSize(CXPMenu::kCheckWidth, CXPMenu::kCheckHeight));
      const int x = area.left() + (CXPMenu::kCheckWidth - size.width()) / 2;
      const int y = area.top() + (area.height() - size.height()) / 2;
      CMaskedBitmap shown(m_check.Pixmap().copy(QRect(QPoint(0, 0), size)));
      DrawBitmapTransparent(shown, painter, x, y, corvale::ui::kMenuSelectionColor);
    }
    const bool enabled = item->state & State_Enabled;
    painter->setFont(item->font);
    painter->setPen(enabled ? QColor(Qt::black) : QColor(128, 128, 128));
    QString text = item->text;
    const int tab = text.indexOf('\t');
    if (tab >= 0) text.truncate(tab);
    painter->drawText(area.adjusted(CXPMenu::kCheckWidth, 0, 0, 0),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    if (item->menuItemType == QStyleOptionMenuItem::SubMenu) {
      const int x = area.right() - 8;
      const int y = area.center().y();
      painter->setPen(Qt::NoPen);
      painter->setBrush(enabled ? QColor(Qt::black) : QColor(128, 128, 128));
      painter->drawPolygon(QPolygon{QPoint(x - 2, y - 4), QPoint(x + 2, y), QPoint(x - 2, y + 4)});
    }
    painter->restore();
  }

  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                         const QWidget* widget) const override {
    if (type != CT_MenuItem) return QProxyStyle::sizeFromContents(type, option, contents, widget);
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (!item) return QProxyStyle::sizeFromContents(type, option, contents, widget);
    QString text = item->text;
    const int tab = text.indexOf('\t');
    if (tab >= 0) text.truncate(tab);
    const int textWidth = QFontMetrics(item->font).horizontalAdvance(text);
    const int arrow = item->menuItemType == QStyleOptionMenuItem::SubMenu ? 12 : 0;
    return QSize(CXPMenu::kItemExtraWidth + textWidth + CXPMenu::kCheckWidth + arrow, CXPMenu::kItemHeight);
  }

  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
    switch (metric) {
      case PM_MenuPanelWidth:
        return 1;
      case PM_MenuHMargin:
        return 1;
      case PM_MenuVMargin:
        return 1;
      case PM_SubMenuOverlap:
        return 0;
      default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
  }

 private:
  CMaskedBitmap m_check;
};

}  // namespace

CXPMenu::CXPMenu(QWidget* parent) : QMenu(parent) { ApplyLook(); }

CXPMenu::CXPMenu(const QString& title, QWidget* parent) : QMenu(title, parent) { ApplyLook(); }

void CXPMenu::ApplyLook() {
  auto* look = new XPMenuStyle;
  look->setParent(this);
  setStyle(look);
  setFont(corvale::ui::MakeUiFont(14, 400));
}

QAction* CXPMenu::AddItem(const QString& text, int commandId, bool checkable, bool checked) {
  QAction* action = addAction(text);
  action->setData(commandId);
  action->setCheckable(checkable);
  action->setChecked(checked);
  return action;
}

CXPMenu* CXPMenu::AddSubMenu(const QString& text) {
  auto* submenu = new CXPMenu(text, this);
  addMenu(submenu);
  return submenu;
}

int CXPMenu::CommandOf(const QAction* action) {
  if (!action) return 0;
  bool ok = false;
  const int command = action->data().toInt(&ok);
  return ok ? command : 0;
}
