#pragma once
// A popup menu with a flat white look: the item under the mouse framed in black and filled light
// blue, a ticked item marked with the check-mark bitmap (143) in the column before its text. Its
// submenus made with AddSubMenu look the same.

#include <QColor>
#include <QMenu>

class CXPMenu : public QMenu {
  Q_OBJECT

 public:
  // The metrics of the menu items: the check-mark column, the room around the text and the height
  // of an item.
  static constexpr int kCheckWidth = 13;
  static constexpr int kCheckHeight = 13;
  static constexpr int kItemExtraWidth = 19;
  static constexpr int kItemHeight = 19;

  explicit CXPMenu(QWidget* parent = nullptr);
  CXPMenu(const QString& title, QWidget* parent);

  // An item with `text` that stands for command `commandId` (kept as the action's data).
  QAction* AddItem(const QString& text, int commandId, bool checkable = false, bool checked = false);
  CXPMenu* AddSubMenu(const QString& text);

  QColor BackgroundColor() const { return m_background; }

  // The command of an action made by AddItem, or 0.
  static int CommandOf(const QAction* action);

 private:
  void ApplyLook();

  QColor m_background{255, 255, 255};
};
