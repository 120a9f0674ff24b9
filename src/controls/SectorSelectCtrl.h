#pragma once
// A horizontal range slider over all sectors of a source: a track, a highlighted selection with a
// thumb at each end, and mouse dragging of either thumb or of the whole selection. The owner reads
// the selected first and last sector and can set them; it is told after every drag step and when a
// range it set was invalid and had to be reset (the rangeChanged signal).

#include <QColor>
#include <QRect>
#include <QWidget>
#include <cstdint>

class CSectorSelectCtrl : public QWidget {
  Q_OBJECT

 public:
  enum DragMode { kDragNone = 0, kDragLeft = 1, kDragRight = 2, kDragWhole = 4 };

  explicit CSectorSelectCtrl(QWidget* parent = nullptr);

  // Lays out the track for `count` sectors and selects them all; returns the highest sector.
  uint64_t SetSectorCount(uint64_t count);
  // Applies a range; an invalid one (first > last, or past the highest sector) becomes the whole
  // track and the owner is told.
  void SetSelectedRange(uint64_t first, uint64_t last);
  // The selection converted back into sectors; stored as the current range.
  void GetSelectedRange(uint64_t& first, uint64_t& last);
  void SetSelectionColor(const QColor& colour) { m_selectionColour = colour; }
  void SetTrackColor(const QColor& colour) { m_trackColour = colour; }

  QRect TrackRect() const { return m_track; }
  QRect SelectionRect() const { return m_selection; }
  QRect LeftThumbRect() const { return m_leftThumb; }
  QRect RightThumbRect() const { return m_rightThumb; }
  int GetDragMode() const { return m_dragMode; }

 signals:
  void rangeChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Layout();
  void PlaceThumbs();
  void DragStep(int x);

  QColor m_selectionColour{231, 236, 243};
  QColor m_trackColour{231, 236, 243};
  QColor m_backgroundColour{177, 218, 244};
  QRect m_inner;
  QRect m_track;
  QRect m_selection;
  QRect m_leftThumb;
  QRect m_rightThumb;
  uint64_t m_maximum = 0;
  double m_sectorsPerPixel = 1.0;
  uint64_t m_first = 0;
  uint64_t m_last = 0;
  int m_dragMode = kDragNone;
  bool m_capture = false;
  int m_lastX = 0;
  bool m_reset = false;
};
