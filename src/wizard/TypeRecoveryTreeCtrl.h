#pragma once
// The trees of the file-type page: the file-type catalogue (controller/MapFileTypeInfo.h) as a tree
// of check boxes, the root entry ("All types") over the categories and their file types.
//
// CTypeOfFileToRecoveryTreeCtrl keeps the catalogue and the check logic. A click on a check box
// ticks the row and everything below it when it was unticked or partly ticked, and unticks it all
// when it was ticked; then each row above shows ticked when all its children are ticked, partly
// ticked when some are (a partly ticked child counts as unticked), unticked when none are. The
// ticks live in the catalogue's records, so whoever reads the catalogue later sees them. After each
// click the tree tells its owner whether any row is ticked (the sheet's Next button follows it).
// With the default mouse handling off, clicks anywhere but on a check box neither select nor
// expand.
//
// CTypeRecoveryDrawTreeCtrl paints each row itself: check box, the category's picture, the name in
// bold and a second line below it (a category's label, a type's extensions).

#include <QFont>
#include <QPixmap>
#include <QTreeWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "wizard/controller/MapFileTypeInfo.h"

class CTypeOfFileToRecoveryTreeCtrl : public QTreeWidget {
  Q_OBJECT

 public:
  explicit CTypeOfFileToRecoveryTreeCtrl(QWidget* parent = nullptr);
  ~CTypeOfFileToRecoveryTreeCtrl() override;

  void SetLeftMargin(int pixels) { m_leftMargin = pixels; }
  void SetDefaultMouse(bool on) { m_defaultMouse = on; }
  // Every row is this tall.
  void SetItemHeight(int pixels) { m_itemHeight = pixels; }
  int ItemHeight() const { return m_itemHeight; }
  // The category pictures and the check boxes (bitmap `id`, boxes side by side); false when a
  // picture is missing.
  bool CreateCategoryImageList();
  bool CreateStateImageList(uint32_t id);
  // Told, after every click on a check box, whether any row is ticked.
  void SetNextSwitch(std::function<void(bool)> next) { m_next = std::move(next); }

  // Reads the catalogue file at `path` and fills the tree. When the file is missing or refused, the
  // built-in catalogue is shown instead and LoadMessage says why. Returns the file's load result
  // (0 when it was read).
  int LoadFileTypes(const std::string& path);
  const std::string& LoadMessage() const { return m_loadMessage; }
  // Shows the records the catalogue holds: each under its parent (a parent listed later is shown
  // first; a record whose parent is missing goes under the root), everything expanded, the rows
  // above the types showing what their types show.
  void FillTree();

  // Whether any record is ticked or partly ticked.
  bool HasCheckedType() const;
  // The click on `item`'s check box.
  void ToggleCheck(QTreeWidgetItem* item);
  CMapFileTypeInfo& GetCatalogue() { return m_catalogue; }
  const CMapFileTypeInfo& GetCatalogue() const { return m_catalogue; }

  // The row of record `id`, or null.
  QTreeWidgetItem* ItemOf(int32_t id) const;
  // The record a row shows, or null.
  FILE_TYPE_RECORD* RecordOf(const QTreeWidgetItem* item);
  const FILE_TYPE_RECORD* RecordOf(const QTreeWidgetItem* item) const;
  // Where a row's check box is drawn, in viewport coordinates.
  QRect CheckBoxRect(const QTreeWidgetItem* item) const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

  // The parts of a row: check box, category picture (empty for others), text.
  struct RowParts {
    QRect checkBox;
    QRect image;
    QRect text;
  };
  RowParts PartsOf(const QRect& row, const FILE_TYPE_RECORD* record) const;
  const QPixmap& CategoryImage(int index) const;
  QPixmap StateImage(int checkState) const;

 private:
  QTreeWidgetItem* Insert(FILE_TYPE_RECORD* record, int depth);
  void SetChildrenState(QTreeWidgetItem* item, int16_t state);
  void UpdateParents(QTreeWidgetItem* item);
  // Handles a press at `pos`; true when it hit a check box.
  bool HitCheckBox(const QPoint& pos);

  CMapFileTypeInfo m_catalogue;
  std::string m_loadMessage;
  std::function<void(bool)> m_next;
  std::vector<QPixmap> m_categoryImages;
  QPixmap m_stateImages;
  int m_leftMargin = 0;
  int m_itemHeight = 20;
  bool m_defaultMouse = true;
};

class CTypeRecoveryDrawTreeCtrl : public CTypeOfFileToRecoveryTreeCtrl {
  Q_OBJECT

 public:
  explicit CTypeRecoveryDrawTreeCtrl(QWidget* parent = nullptr);

  // The second line of a row: a category's label, a type's extensions.
  static QString SecondLine(const FILE_TYPE_RECORD& record);

 protected:
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
  void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}

 private:
  QFont m_plainFont;
  QFont m_nameFont;
  QFont m_descriptionFont;
};
