#pragma once
// A one-line edit control that handles the editing shortcuts itself: Ctrl+A selects all, Ctrl+C
// copies, Ctrl+V pastes, Ctrl+X cuts and Ctrl+Z undoes, whatever shortcuts the window around it has.

#include <QLineEdit>

class CEditPlus : public QLineEdit {
  Q_OBJECT

 public:
  explicit CEditPlus(QWidget* parent = nullptr);

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // True when `event` is one of the editing shortcuts; runs it when `run` is set.
  bool HandleShortcut(QKeyEvent* event, bool run);
};
