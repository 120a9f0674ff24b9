#pragma once
// A rich-text control whose text cannot be selected, with the mouse or with the keyboard, so it
// cannot be copied out. Scrolling with the scroll bars and the wheel, and moving with the plain
// arrow keys, work as in any text control.

#include <QTextEdit>

class CCopyLimitedRichEditCtrl : public QTextEdit {
  Q_OBJECT

 public:
  explicit CCopyLimitedRichEditCtrl(QWidget* parent = nullptr);

 protected:
  bool event(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  static bool SelectingModifiers(const QKeyEvent* event);
};
