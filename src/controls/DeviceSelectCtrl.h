#pragma once
// The device picker of the wizard: a header ("Device", "Disk" or "Partition", "Capacity",
// " Information") over a scrolling list of rows, one per disk, volume or disk image, each led by a
// small picture of its kind. The user picks one row with the mouse or the arrow keys; the owner
// hears of a new selection by the mouse, of a double click and of a right click through signals.
// Rows are stacked without gaps; a row is as high as its tallest cell (a name may hold several
// lines). The control keeps the callers' item data without ever looking into it.

#include <QAbstractScrollArea>
#include <QFont>
#include <QString>
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

class CDeviceSelectView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  struct Cell {
    int bitmap = -1;  // slot 0..6, or -1
    QString text;
    int width = 0;
  };
  struct Row {
    int top = 0;
    int height = 0;
    bool selected = false;
    void* itemData = nullptr;
    std::array<Cell, 3> cells;
    int Width() const { return cells[0].width + cells[1].width + cells[2].width; }
  };

  CDeviceSelectView(CDeviceSelectCtrl* control, CExtendHeaderCtrl* header);

  const std::vector<Row>& Rows() const { return m_rows; }
  // The index of the row at `point` (in the view's viewport), or -1.
  int RowAt(const QPoint& point) const;
  QRect RowRect(int index) const;  // in viewport coordinates

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  friend class CDeviceSelectCtrl;
  int Selected() const;
  void Select(int index);
  void Restack();
  void UpdateScrollSizes();
  void ScrollIntoView(int index);

  CDeviceSelectCtrl* m_control;
  CExtendHeaderCtrl* m_header;
  std::array<CMaskedBitmap, 7> m_bitmaps;
  QFont m_font;
  std::vector<Row> m_rows;
};

class CDeviceSelectCtrl : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeaderId = 1300;
  static constexpr int kViewId = 1301;
  static constexpr int kHeaderHeight = 20;

  explicit CDeviceSelectCtrl(QWidget* parent = nullptr);

  void SetDeviceBitmap(const DEVICE_BITMAP& deviceBitmap);
  void SetCtrlStyle(CTRL_STYLE eCtrlStyle);
  void AddItem(const DEVICE_ITEM_INFO* info);
  void DeleteItem(int n);
  void DeleteAllItems();
  int GetCurSel() const;
  void* GetItemData(int n) const;
  void ClearSelection();
  int GetCount() const { return static_cast<int>(m_view->m_rows.size()); }

  CExtendHeaderCtrl* Header() const { return m_header; }
  CDeviceSelectView* View() const { return m_view; }
  // The texts of row n's three cells.
  QString CellText(int n, int column) const;

 signals:
  // A mouse press selected a row that was not selected.
  void selectionChanged();
  // A double click, or a right-button release, while some row is selected.
  void itemDoubleClicked();
  void itemRightClicked(const QPoint& globalPosition);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend class CDeviceSelectView;
  void FollowHorizontalScroll();
  void OnColumnResized(int column, int oldWidth, int newWidth);

  CExtendHeaderCtrl* m_header;
  CDeviceSelectView* m_view;
};
