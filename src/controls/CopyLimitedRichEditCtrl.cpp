#include "controls/CopyLimitedRichEditCtrl.h"

#include <QKeyEvent>
#include <QMouseEvent>

CCopyLimitedRichEditCtrl::CCopyLimitedRichEditCtrl(QWidget* parent) : QTextEdit(parent) {
  // The text control's own menu would offer Select All and Copy.
  setContextMenuPolicy(Qt::NoContextMenu);
}

bool CCopyLimitedRichEditCtrl::SelectingModifiers(const QKeyEvent* event) {
  return (event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)) != 0;
}

bool CCopyLimitedRichEditCtrl::event(QEvent* event) {
  // Keys with Ctrl or Shift come to the control, where they are swallowed, instead of reaching a
  // Copy or Select All shortcut of the window.
  if (event->type() == QEvent::ShortcutOverride && SelectingModifiers(static_cast<QKeyEvent*>(event))) {
    event->accept();
    return true;
  }
  return QTextEdit::event(event);
}

// A press would place the caret and start a drag selection; a double click would select a word.
void CCopyLimitedRichEditCtrl::mousePressEvent(QMouseEvent* event) { event->accept(); }

void CCopyLimitedRichEditCtrl::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

void CCopyLimitedRichEditCtrl::keyPressEvent(QKeyEvent* event) {
  if (SelectingModifiers(event)) {
    event->accept();
    return;
  }
  QTextEdit::keyPressEvent(event);
}

void CCopyLimitedRichEditCtrl::keyReleaseEvent(QKeyEvent* event) {
  if (SelectingModifiers(event)) {
    event->accept();
    return;
  }
  QTextEdit::keyReleaseEvent(event);
}
