#pragma once
// The two-level check tree of the RAW settings: categories at the top, file types below them, each
// with a check box. Every item's 32-bit data holds a file-type id in its high 16 bits and its check
// state in the low 16 bits (0 not ticked, 1 partly ticked, 2 ticked); a category's id is 0. The
// control changes only the low word, and shows the state as the item's check mark.

#include <QTreeWidget>
#include <cstdint>

class CRawFileTypeTreeCtrl : public QTreeWidget {
  Q_OBJECT

 public:
  static constexpr uint32_t kUnchecked = 0;
  static constexpr uint32_t kPartlyChecked = 1;
  static constexpr uint32_t kChecked = 2;

  explicit CRawFileTypeTreeCtrl(QWidget* parent = nullptr);

  // A category at the top level, and a type under it, both unticked.
  QTreeWidgetItem* InsertCategory(const QString& text, const QIcon& icon);
  QTreeWidgetItem* InsertType(QTreeWidgetItem* category, const QString& text, const QIcon& icon,
                              int32_t typeId);

  // Ticks every type whose id is `typeId`, then works out every category again.
  void CheckFileType(int32_t typeId);
  // Ticks or unticks `item` as a click on its check box does.
  void Toggle(QTreeWidgetItem* item);

  static uint32_t ItemData(const QTreeWidgetItem* item);
  static int32_t TypeIdOf(const QTreeWidgetItem* item) { return static_cast<int32_t>(ItemData(item) >> 16); }
  static uint32_t StateOf(const QTreeWidgetItem* item) { return ItemData(item) & 0xFFFFu; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  static void SetState(QTreeWidgetItem* item, uint32_t state);
  static void UpdateCategory(QTreeWidgetItem* category);
  // The item whose check box lies under `pos`, or null.
  QTreeWidgetItem* CheckBoxAt(const QPoint& pos) const;
};
