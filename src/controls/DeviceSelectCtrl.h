#pragma once
// The device picker of the wizard: a header ("Device", "Disk" or "Partition", "Capacity",
// " Information") over a scrolling list of rows, one per disk, volume or disk image, each led by a
// small picture of its kind. The user picks one row with the mouse or the arrow keys; the owner
// hears of a new selection by the mouse, of a double click and of a right click through signals.
// A row is as high as its tallest cell (a name may hold several lines). The control keeps the
// callers' item data without ever looking into it.
//
// The rows are a table model (CDeviceListModel) shown by a tree view without branches
// (CDeviceSelectView) whose delegate (CDeviceItemDelegate) paints each cell: the kind's picture,
// then the text, single lines cut with an ellipsis, several lines centred as a block.

#include <QAbstractTableModel>
#include <QFont>
#include <QString>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

#include "controls/ExtendHeaderCtrl.h"
#include "controls/MaskedBitmap.h"

// The pictures of row kinds 0 to 6, by bitmap number.
struct DEVICE_BITMAP {
  uint32_t ids[7];
};

enum CTRL_STYLE : int { CtrlStyleDevice = 0, CtrlStyleDisk = 1, CtrlStylePartition = 2 };

struct DEVICE_ITEM_INFO {
  uint32_t kind = 7;  // 0 to 6 choose a picture; any other value gives a row without one
  const char* name = nullptr;
  uint64_t sectorCount = 0;  // 0 shows no capacity
  uint32_t bytesPerSector = 512;
  const char* information = nullptr;
  void* itemData = nullptr;
};

// Signal numbers the pages route by.
constexpr int WM_DEVICE_SELECT_HSCROLL = 9000;
constexpr int WM_DEVICE_SELECT_CHANGED = 9001;
constexpr int WM_DEVICE_SELECT_DBLCLK = 9002;
constexpr int WM_DEVICE_SELECT_RCLICK = 9003;

class CDeviceSelectCtrl;

// The rows: three text columns; the first cell also names the picture of the row's kind.
class CDeviceListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumnCount = 3;
  // Column 0: the picture slot (0..6), or -1 for none.
  static constexpr int kBitmapRole = Qt::UserRole + 1;

  explicit CDeviceListModel(QObject* parent = nullptr);

  void Append(int bitmap, const QString& name, const QString& capacity, const QString& information,
              void* itemData);
  void Remove(int row);
  void Clear();
  void* ItemData(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                     int role = Qt::EditRole) override;

 private:
  struct Row {
    int bitmap = -1;
    std::array<QString, kColumnCount> texts;
    void* itemData = nullptr;
  };
  std::vector<Row> m_rows;
  std::array<QString, kColumnCount> m_headers;
};

// Paints one cell of a device row and gives its height.
class CDeviceItemDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  static const QColor kSelectedFill;

  CDeviceItemDelegate(const std::array<CMaskedBitmap, 7>* bitmaps, QObject* parent);

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  const CMaskedBitmap* BitmapOf(const QModelIndex& index) const;

  const std::array<CMaskedBitmap, 7>* m_bitmaps;
};

class CDeviceSelectView : public QTreeView {
  Q_OBJECT

 public:
  CDeviceSelectView(CDeviceSelectCtrl* control, CExtendHeaderCtrl* header);

  // The index of the row at `point` (in the view's viewport), or -1.
  int RowAt(const QPoint& point) const;
  // Row `row` across its three cells, in viewport coordinates; empty when not shown.
  QRect RowRect(int row) const;
  int Selected() const;
  void Select(int row);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  CDeviceSelectCtrl* m_control;
};

class CDeviceSelectCtrl : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeaderId = 1300;
  static constexpr int kViewId = 1301;

  explicit CDeviceSelectCtrl(QWidget* parent = nullptr);

  void SetDeviceBitmap(const DEVICE_BITMAP& deviceBitmap);
  void SetCtrlStyle(CTRL_STYLE eCtrlStyle);
  void AddItem(const DEVICE_ITEM_INFO* info);
  void DeleteItem(int n);
  void DeleteAllItems();
  int GetCurSel() const;
  void* GetItemData(int n) const;
  void ClearSelection();
  int GetCount() const { return m_model->rowCount(); }

  CExtendHeaderCtrl* Header() const { return m_header; }
  CDeviceSelectView* View() const { return m_view; }
  CDeviceListModel* Model() const { return m_model; }
  // The texts of row n's three cells.
  QString CellText(int n, int column) const;

 signals:
  // A mouse press selected a row that was not selected.
  void selectionChanged();
  // A double click, or a right-button release, while some row is selected.
  void itemDoubleClicked();
  void itemRightClicked(const QPoint& globalPosition);

 private:
  std::array<CMaskedBitmap, 7> m_bitmaps;
  CDeviceListModel* m_model;
  CExtendHeaderCtrl* m_header;
  CDeviceSelectView* m_view;
};
