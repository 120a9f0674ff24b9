#include "controls/EditPlus.h"

#include <QKeyEvent>

CEditPlus::CEditPlus(QWidget* parent) : QLineEdit(parent) {}

bool CEditPlus::HandleShortcut(QKeyEvent* event, bool run) {
  if (!(event->modifiers() & Qt::ControlModifier)) return false;
  switch (event->key()) {
    case Qt::Key_A:
      if (run) selectAll();
      return true;
    case Qt::Key_C:
      if (run) copy();
      return true;
    case Qt::Key_V:
      if (run) paste();
      return true;
    case Qt::Key_X:
      if (run) cut();
      return true;
    case Qt::Key_Z:
      if (run) undo();
      return true;
    default:
      return false;
  }
}

bool CEditPlus::event(QEvent* event) {
  // The window's own shortcuts on these keys must not take them away from the control.
  if (event->type() == QEvent::ShortcutOverride && HandleShortcut(static_cast<QKeyEvent*>(event), false)) {
    event->accept();
    return true;
  }
  return QLineEdit::event(event);
}

void CEditPlus::keyPressEvent(QKeyEvent* event) {
  if (HandleShortcut(event, true)) {
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}
