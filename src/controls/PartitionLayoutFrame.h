#pragma once
// The picture under the list of found partitions: a title naming the source, a card with the
// source's picture and size, and beside it a scrolling view in which every ticked partition is a box
// placed in proportion to its sectors. Partitions that overlap go into separate rows of 80 pixels.
//
// The view places its boxes from its own width, each at least kLeastBoxWidth wide (a partition of a
// few sectors on a large disk still shows its name), its neighbours moved aside as far as the row
// allows. The frame asks for the height of all its rows (WantedHeight), so that its holder can give
// a second or third row room instead of a scroll bar.

#include <QAbstractScrollArea>
#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

// One ticked partition as the picture shows it.
struct PartitionBoxInfo {
  QString Name;
  int32_t FileSystemType = 0;
  uint64_t FirstSector = 0;
  uint64_t LastSector = 0;  // inclusive
  uint32_t BytesPerSector = 512;
  double Score = 0.0;
  // Same sector size and intersecting inclusive sector ranges.
  bool Overlaps(const PartitionBoxInfo& other) const;
  bool SameAs(const PartitionBoxInfo& other) const;
};

// The source the picture shows.
struct DiskLayoutInfo {
  static constexpr int kDisk = 0;
  static constexpr int kUsbDisk = 1;
  static constexpr int kImage = 2;
  static constexpr int kVolume = 3;
  QString Name;
  int Kind = kDisk;
  uint64_t SectorCount = 0;
  uint32_t BytesPerSector = 512;
};

class CPartitionLayoutFrame;

class CPartitionLayoutView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  static constexpr int kRowHeight = 80;
  // The least width of a box: its icon and the start of its name.
  static constexpr int kLeastBoxWidth = 96;

  struct Box {
    PartitionBoxInfo Info;
    QRect Rect;
  };
  struct Row {
    QRect Rect;
    std::vector<Box> Boxes;
  };

  explicit CPartitionLayoutView(CPartitionLayoutFrame* frame);

  void AddPartitionBox(const PartitionBoxInfo& info);
  void RemovePartitionBox(const PartitionBoxInfo& info);
  void RemoveAllFrames();
  void SetDiskSectorCount(uint64_t count) { m_diskSectors = count; }
  uint64_t DiskSectorCount() const { return m_diskSectors; }
  // The sum of the row heights, or one row's height when there is none.
  int GetContentHeight() const;
  const std::vector<Row>& Rows() const { return m_rows; }
  // Where a partition's box lies in a row of width `width`, for a disk of `diskSectors` sectors.
  static QRect PlaceBox(const PartitionBoxInfo& info, const QRect& row, uint64_t diskSectors);
  // Where the boxes of one row lie (their partitions overlap none of the others): each in proportion
  // to its sectors but at least `least` pixels wide, or an equal share of the row when the row
  // cannot give every box that much; a box widened pushes its neighbours aside, never over each
  // other or out of the row. The rectangles come in the order of `boxes`.
  static std::vector<QRect> PlaceRowBoxes(const std::vector<PartitionBoxInfo>& boxes, const QRect& row,
                                          uint64_t diskSectors, int least = kLeastBoxWidth);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void LayoutRows();
  void PlaceRow(Row& row) const;
  void DrawBox(QPainter& painter, const Box& box) const;

  CPartitionLayoutFrame* m_frame;
  uint64_t m_diskSectors = 0;
  std::vector<Row> m_rows;
  QFont m_font;
  QFont m_boldFont;
};

class CPartitionLayoutFrame : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kViewId = 3334;
  static constexpr int kCardWidth = 120;
  static constexpr int kTitleHeight = 20;

  explicit CPartitionLayoutFrame(QWidget* parent = nullptr);

  void SetDiskInfo(const DiskLayoutInfo& info);
  CPartitionLayoutView* GetLayoutView() const { return m_view; }
  QString Title() const { return m_title; }
  QString CardText() const { return m_cardText; }
  int CardHeight() const { return m_cardHeight; }
  // The height that shows every row of the view: the title and the rows.
  int WantedHeight() const;
  // Sizes the card after the view's rows changed or the frame was resized, and tells the holder
  // when the rows need another height.
  void LayoutFrame();

 signals:
  void wantedHeightChanged(int height);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  CPartitionLayoutView* m_view;
  QString m_title;
  QString m_cardText;
  QPixmap m_cardPicture;
  int m_cardHeight = CPartitionLayoutView::kRowHeight;
  int m_wantedHeight = 0;
  QFont m_font;
};
