#include "LayoutCheck.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitterHandle>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QWidget>

namespace layoutcheck {
namespace {

QString Name(const QWidget* w) {
  QString text = QString::fromLatin1(w->metaObject()->className());
  if (!w->objectName().isEmpty()) text += QStringLiteral(" '%1'").arg(w->objectName());
  if (const auto* button = qobject_cast<const QAbstractButton*>(w); button && !button->text().isEmpty()) {
    text += QStringLiteral(" \"%1\"").arg(button->text());
  } else if (const auto* label = qobject_cast<const QLabel*>(w); label && !label->text().isEmpty()) {
    text += QStringLiteral(" \"%1\"").arg(label->text().left(40));
  }
  return text;
}

// The viewport of the nearest scroll area holding `w`, or nullptr.
const QWidget* ScrollViewportOf(const QWidget* w, const QWidget* window) {
  for (const QWidget* p = w->parentWidget(); p != nullptr && p != window; p = p->parentWidget()) {
    if (const auto* area = qobject_cast<const QAbstractScrollArea*>(p->parentWidget());
        area != nullptr && area->viewport() == p) {
      return p;
    }
  }
  return nullptr;
}

// Whether `w` is part of another control that draws it (a scroll area's bars and corner, a combo
// box's or spin box's edit, a tab widget's bar): those are the control's own business.
bool PartOfAControl(const QWidget* w, const QWidget* window) {
  for (const QWidget* p = w->parentWidget(); p != nullptr && p != window; p = p->parentWidget()) {
    if (qobject_cast<const QAbstractSpinBox*>(p) || qobject_cast<const QComboBox*>(p)) return true;
    if (const auto* area = qobject_cast<const QAbstractScrollArea*>(p)) {
      // A control inside a scroll area's viewport is a control of its own (a page in a scroll
      // area); the bars and the corner widget are the area's.
      if (!area->viewport()->isAncestorOf(w) && area->viewport() != w) return true;
    }
  }
  return false;
}

bool IsControl(const QWidget* w) {
  if (qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLabel*>(w) ||
      qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
      qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QProgressBar*>(w) ||
      qobject_cast<const QTabBar*>(w) || qobject_cast<const QAbstractSlider*>(w)) {
    return true;
  }
  if (const auto* area = qobject_cast<const QAbstractScrollArea*>(w)) {
    // A plain scroll area only holds a page; lists, trees, tables and text views are controls.
    return qobject_cast<const QScrollArea*>(area) == nullptr;
  }
  if (qobject_cast<const QGroupBox*>(w) || qobject_cast<const QStackedWidget*>(w) ||
      qobject_cast<const QTabWidget*>(w) || qobject_cast<const QDialogButtonBox*>(w) ||
      qobject_cast<const QSplitterHandle*>(w) || qobject_cast<const QMenuBar*>(w) ||
      qobject_cast<const QToolBar*>(w) || qobject_cast<const QStatusBar*>(w)) {
    return false;
  }
  if (qobject_cast<const QFrame*>(w)) return false;  // a plain frame holds controls
  // A widget with no visible children paints itself (the pie, the layout strip, the banner).
  for (const QObject* child : w->children()) {
    if (const auto* cw = qobject_cast<const QWidget*>(child); cw && cw->isVisible() && !cw->isWindow()) {
      return false;
    }
  }
  return true;
}

struct Control {
  const QWidget* widget;
  QRect rect;  // in the window's coordinates
  const QWidget* viewport;
};

}  // namespace

QStringList Problems(QWidget* window) {
  QStringList problems;
  std::vector<Control> controls;
  const QRect windowRect(QPoint(0, 0), window->size());
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window) || w->isWindow() || w->width() <= 0 || w->height() <= 0) continue;
    if (PartOfAControl(w, window) || !IsControl(w)) continue;
    const QRect rect(w->mapTo(window, QPoint(0, 0)), w->size());
    const QWidget* viewport = ScrollViewportOf(w, window);
    if (viewport == nullptr && !windowRect.contains(rect)) {
      problems << QStringLiteral("%1 at (%2,%3 %4x%5) lies outside the window (%6x%7)")
                      .arg(Name(w))
                      .arg(rect.x())
                      .arg(rect.y())
                      .arg(rect.width())
                      .arg(rect.height())
                      .arg(windowRect.width())
                      .arg(windowRect.height());
    }
    controls.push_back({w, rect, viewport});
  }
  for (size_t i = 0; i < controls.size(); ++i) {
    for (size_t j = i + 1; j < controls.size(); ++j) {
      const Control& a = controls[i];
      const Control& b = controls[j];
      if (a.viewport != b.viewport) continue;
      if (a.widget->isAncestorOf(b.widget) || b.widget->isAncestorOf(a.widget)) continue;
      if (a.rect.intersects(b.rect)) {
        const QRect both = a.rect.intersected(b.rect);
        problems << QStringLiteral("%1 overlaps %2 (%3x%4 at %5,%6)")
                        .arg(Name(a.widget), Name(b.widget))
                        .arg(both.width())
                        .arg(both.height())
                        .arg(both.x())
                        .arg(both.y());
      }
    }
  }
  return problems;
}

QStringList ProblemsAtSize(QWidget* window, const QSize& size) {
  window->resize(size.expandedTo(window->minimumSize()));
  if (!window->isVisible()) window->show();
  QApplication::sendPostedEvents();
  QTest::qWait(20);
  return Problems(window);
}

}  // namespace layoutcheck
