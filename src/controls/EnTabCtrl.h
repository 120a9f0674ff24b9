#pragma once
// Tab bars with an owner-drawn look. CBaseTabCtrl chooses who paints the tabs (draw mode 0: the
// style; 1: the style draws the tab shapes and DrawItem each tab's content; 2: the control paints
// everything itself) and fills the space around the tabs with one background colour. CEnTabCtrl
// derives every colour from that background: tinted tabs, an optional top-to-bottom gradient and
// light and dark edges, switched by one look word shared by all enhanced tab bars.
//
// The bar may be taller than its tabs: the space below them is the page area, framed in draw mode 2.

#include <QColor>
#include <QRect>
#include <QTabBar>
#include <cstdint>

class QPainter;

// What a draw operation is asked to paint: one tab (index, rectangle, selected) or the page area
// (index -1).
struct TabDrawItem {
  int index = -1;
  QRect rect;
  bool selected = false;
};

class CBaseTabCtrl : public QTabBar {
  Q_OBJECT

 public:
  // The tabs sit this far below the bar's top so that the selected one can rise above the others.
  static constexpr int kTabTop = 2;

  explicit CBaseTabCtrl(QWidget* parent = nullptr);

  // 0, 1 or 2; anything else is refused (false) and changes nothing.
  bool SetDrawMode(int mode);
  int DrawMode() const { return m_drawMode; }
  // The colour around the tabs; an invalid colour stands for the style's button face.
  void SetBackColor(const QColor& color);
  QColor BackColor() const { return m_backColor; }

  virtual void DrawItem(QPainter& painter, const TabDrawItem& item);
  virtual void DrawMainBorder(QPainter& painter, const TabDrawItem& item);
  virtual void DrawItemBorder(QPainter& painter, const TabDrawItem& item);
  virtual QColor GetTabColor(bool selected) const;
  virtual QColor GetTabTextColor(bool selected) const;

  // Where tab `index` is painted in draw modes 1 and 2, and the page area below the tabs.
  QRect ItemRect(int index) const;
  QRect PageRect() const;

  QColor ButtonFace() const;
  QColor WindowText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  // Owner-drawn tabs sit kTabTop lower, so the bar is that much taller.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  // Bits per pixel of the display the bar is on.
  virtual int DisplayDepth() const;

 private:
  void EraseBackground(QPainter& painter);
  void PaintOwnerDrawn(QPainter& painter);

  QColor m_backColor;
  int m_drawMode = 0;
};

class CEnTabCtrl : public CBaseTabCtrl {
  Q_OBJECT

 public:
  // The look bits.
  static constexpr uint32_t ETC_FLAT = 0x01;       // unselected tabs take the background itself
  static constexpr uint32_t ETC_COLOR = 0x02;      // the background is the base of the tints
  static constexpr uint32_t ETC_SELECTION = 0x04;  // the selected tab is lightened
  static constexpr uint32_t ETC_GRADIENT = 0x08;   // tabs are filled with a vertical gradient
  static constexpr uint32_t ETC_BACKTABS = 0x10;   // unselected tabs are darkened and fully framed

  explicit CEnTabCtrl(QWidget* parent = nullptr);

  // The look word of every enhanced tab bar becomes `flags`, or 0 when `enable` is false.
  static void SetLookFlags(bool enable, uint32_t flags);
  static uint32_t LookFlags();

  // Each channel times f (f below 1 taken as 1), a result above 254 becoming 255.
  static QColor Lighten(const QColor& color, double f);
  // Each channel times f clamped to 0..1, truncated.
  static QColor Darken(const QColor& color, double f);

  void DrawItem(QPainter& painter, const TabDrawItem& item) override;
  void DrawMainBorder(QPainter& painter, const TabDrawItem& item) override;
  void DrawItemBorder(QPainter& painter, const TabDrawItem& item) override;
  QColor GetTabColor(bool selected) const override;
  QColor GetTabTextColor(bool selected) const override;

 private:
  // The colour every tint starts from.
  QColor TintBase() const;
};
