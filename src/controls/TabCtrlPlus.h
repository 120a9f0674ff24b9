#pragma once
// A row of tabs over a set of page widgets: the page of the selected tab fills the control below
// the tabs and the other pages are hidden. Every tab after the first has a close box. A click that
// selects another tab, and a click on a close box that removes its tab, tell the owner through
// CtrlNotify.

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>
#include <vector>

#include "controls/CountedPtr.h"

class QPainter;

// One tab: its rectangle in the control, its caption, the page it shows (not owned) and its close box.
class TabItemPlus {
 public:
  TabItemPlus(QWidget* window, const QString& caption, const QRect& rect, bool hasCloseBox);

  // Shows the page of a selected tab and hides that of a deselected one.
  void Select(bool selected);
  bool IsSelected() const { return m_selected; }
  // Moves the tab to `x`, keeping its width.
  void SetPosition(int x);
  int Width() const { return m_rect.width(); }
  bool HitTest(const QPoint& point) const;
  // False for a tab without a close box.
  bool HitTestCloseBox(const QPoint& point) const;
  void SetCloseBoxPressed(bool pressed) { m_closePressed = pressed; }
  bool IsCloseBoxPressed() const { return m_closePressed; }

  void Draw(QPainter& painter) const;
  void DrawCloseBox(QPainter& painter) const;

  const QRect& Rect() const { return m_rect; }
  const QRect& CloseBoxRect() const { return m_closeRect; }
  const QString& Caption() const { return m_caption; }
  QWidget* Window() const { return m_window; }
  bool HasCloseBox() const { return m_hasCloseBox; }

 private:
  // The close box: 8 pixels wide, ending 12 pixels in from the tab's right edge, `inset` pixels in
  // from its top and bottom.
  void PlaceCloseBox(int inset);

  QRect m_rect;
  QString m_caption;
  QWidget* m_window;
  bool m_hasCloseBox;
  bool m_selected = false;
  QRect m_closeRect;
  bool m_closePressed = false;
};

class CTabCtrlPlus : public QWidget {
  Q_OBJECT

 public:
  // The height of the row of tabs; the pages start below it.
  static constexpr int kTabHeight = 24;
  // The notification the owner gets after a click changed the tabs.
  static constexpr int WM_CTRL_NOTIFY = 2025;

  explicit CTabCtrlPlus(QWidget* parent = nullptr);

  // Adds a page widget (made a hidden child of the control).
  void AddWindow(QWidget* pWnd);
  // Adds a tab showing page `iWindowIndex`. Refused (false) for an unknown page and when the tab
  // does not fit beside the others.
  bool AddTab(const QString& lpszItem, int iWindowIndex);
  // Selects tab `iItemIndex` and shows its page; other pages are hidden. Unknown indexes are ignored.
  void SelectTab(int iItemIndex);
  // Removes the tab at `index` (its page stays, hidden) and selects tab 0.
  void DeleteTab(int index);
  int GetCurTab() const;
  QWidget* GetCurWindow() const;
  int GetTabCount() const { return static_cast<int>(m_items.size()); }
  QString GetTabText(int index) const;
  // The tab's rectangle and that of its close box (empty when it has none); empty for an unknown tab.
  QRect GetTabRect(int index) const;
  QRect GetCloseBoxRect(int index) const;

  // The tabs' row over the largest least size of the pages.
  QSize minimumSizeHint() const override;

 signals:
  // WM_CTRL_NOTIFY: a click selected another tab or closed one.
  void CtrlNotify();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void LayoutTabs();
  void PlacePages();

  std::vector<QWidget*> m_windows;
  std::vector<CountedPtr<TabItemPlus>> m_items;
  QFont m_font;
  bool m_capturing = false;
};
