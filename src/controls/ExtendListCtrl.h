#pragma once
// A table of fixed-height rows whose cells each hold up to four items; an item is an optional tick
// box, an optional icon and an optional text. The rows live in a model (CExtendListModel) that owns
// them; a delegate paints a cell's items from left to right until the cell is full, and only the
// boxes it could lay out can be clicked. A left press, the second press of a double click and a right
// button release toggle the box under the pointer and tell the item's notifier (ICheckBoxNotify),
// then select the row; the right release also tells the list's owner (rightButtonNotify). The Space
// key toggles the first box of the selected row's first cell, as a click on it would.

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>
#include <QRect>
#include <QString>
#include <QStyledItemDelegate>
#include <QTableView>
#include <cstdint>
#include <memory>
#include <vector>

class CExtendHeaderCtrl;
class QFontMetrics;

// Told when the user ticks or unticks a box of a cell: the new state (0/1), the row, the column and
// the box's item within the cell.
class ICheckBoxNotify {
 public:
  virtual ~ICheckBoxNotify() = default;
  virtual void OnCheckBoxChanged(int newCheck, int row, int column, int item) = 0;
};

struct ExtendListItem {
  int CheckBoxId = 0;  // 0: no box, else the box's number
  int Check = 0;       // 0 or 1
  QIcon Icon;          // null: none
  QString Text;
  ICheckBoxNotify* Notifier = nullptr;  // not owned; must outlive the row
  uint32_t Reserved = 0;
  // Where the box was last laid out, in the view's viewport; empty when it did not fit.
  QRect CheckRect;
};

struct ExtendListCell {
  static constexpr int kMaxItems = 4;
  int ItemCount = 0;  // 0..4
  ExtendListItem Items[kMaxItems];
  QColor TextColour = QColor(0, 0, 0);       // of the texts while the row is not selected
  int Width = 0;                             // set by the list: the column's width
  Qt::Alignment TextFormat = Qt::AlignLeft;  // set by the list from the column's format
};

struct ExtendListRow {
  int Top = 0;  // in the list's content, the header's height included
  int Height = 0;
  int Index = 0;
  bool Selected = false;
  void* Data = nullptr;  // the caller's, not owned
  std::vector<ExtendListCell> Cells;

  // The state of the first item of the first cell; 0 for a row without cells.
  int GetFirstCheck() const;
  void SetCellWidth(int column, int width);
};

// Where one item of a cell is drawn; empty rectangles for the parts it lacks or that did not fit.
struct ExtendItemPlace {
  QRect Box;
  QRect Icon;
  QRect Text;
};

// The rows and columns of a CExtendListCtrl. Each cell's data: its texts joined by blanks
// (Qt::DisplayRole), its text colour (Qt::ForegroundRole), its column's alignment; the cell itself
// for the delegate (kCellRole).
class CExtendListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kCellRole = Qt::UserRole + 1;

  explicit CExtendListModel(QObject* parent = nullptr);
  ~CExtendListModel() override;

  void AddColumn(const QString& text, Qt::Alignment format);
  Qt::Alignment ColumnFormat(int column) const;
  // Appends a row of `height` pixels whose top is `top`; returns its index.
  int AddRow(int height, int top);
  bool AddCell(int row, const ExtendListCell& cell, int width);
  void Clear();

  ExtendListRow* Row(int row) const;
  const ExtendListCell* Cell(int row, int column) const;
  ExtendListCell* MutableCell(int row, int column);
  int RowCount() const { return static_cast<int>(m_rows.size()); }
  // Sets item `item`'s state; false when there is no such box.
  bool SetItemCheck(int row, int column, int item, int check);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  struct Column {
    QString text;
    Qt::Alignment format;
  };
  std::vector<std::unique_ptr<ExtendListRow>> m_rows;
  std::vector<Column> m_columns;
};

// Paints a cell: its background (selected or not), then its items from the left.
class CExtendListDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  static constexpr int kBoxSize = 14;
  static constexpr int kIconSize = 20;

  using QStyledItemDelegate::QStyledItemDelegate;

  // Lays a cell's items out in `rect` and stores each box's rectangle in its item (empty for the
  // items that did not fit); `places` receives the parts of each item. Returns how many items are
  // drawn, wholly or partly.
  static int LayoutCell(ExtendListCell& cell, const QRect& rect, const QFontMetrics& metrics,
                        ExtendItemPlace places[ExtendListCell::kMaxItems]);

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class CExtendListCtrl : public QTableView {
  Q_OBJECT

 public:
  enum ARRANGE_FORMAT { ArrangeLeft = 0, ArrangeRight = 1, ArrangeCenter = 2 };
  static constexpr int kHeaderId = 1002;
  // A line of scrolling, and one notch of the wheel, in pixels.
  static constexpr int kLineStep = 10;
  // The message the owner is told after a right button release on a row.
  static constexpr int kRightClickNotify = 2024;
  static const QColor kSelectedBackground;

  explicit CExtendListCtrl(QWidget* parent = nullptr);
  ~CExtendListCtrl() override;

  void InsertColumn(const QString& text, int width, ARRANGE_FORMAT format);
  // Appends a row of `height` pixels; returns its index.
  int AddRow(int height);
  // Appends a copy of `cell` as the row's next cell, with its column's width and format; false when
  // the row does not exist or already has a cell for every column.
  bool AddCell(int row, const ExtendListCell& cell);
  ExtendListRow* GetRow(int row) const;
  int GetRowCount() const;
  int GetSelectedRow() const;
  void SelectRow(ExtendListRow* row);
  void DeleteAllRows();
  // Brings the scroll ranges up to the rows and columns, keeping the positions where they still fit.
  void RecalcScroll();

  // Toggles box `item` of a cell and tells its notifier, as a click on it does; false when there is
  // no such box.
  bool ToggleCheck(int row, int column, int item);
  // Sets a box to `check` as the user would: a change is told to the notifier.
  void SetCheck(int row, int column, int item, int check);
  // Where box `item` of a cell lies in the viewport; empty when it is not shown.
  QRect CheckBoxRect(int row, int column, int item) const;
  // The width a cell needs to show all its items.
  int CellWidthNeeded(int row, int column) const;

  CExtendHeaderCtrl* Header() const { return m_header; }
  CExtendListModel* Model() const { return m_model; }

 signals:
  // A right button release on a row (kRightClickNotify), at `globalPosition`.
  void rightButtonNotify(int row, const QPoint& globalPosition);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

 private:
  // Toggles the box under `point` (viewport coordinates) of row `row`, if any.
  void ToggleAt(int row, const QPoint& point);
  void OnSectionResized(int column, int oldWidth, int newWidth);

  CExtendHeaderCtrl* m_header;
  CExtendListModel* m_model;
  int m_totalHeight = 0;  // of the rows
};
