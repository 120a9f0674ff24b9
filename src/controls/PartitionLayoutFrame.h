#pragma once
// The picture under the list of found partitions: a title naming the source, a card with the
// source's picture and size, and beside it a scrolling view in which every ticked partition is a box
// placed in proportion to its sectors. Partitions that overlap go into separate rows of 80 pixels.

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

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void LayoutRows();
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
  // Places the view and sizes the card after the view's rows changed or the frame was resized.
  void LayoutFrame();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  CPartitionLayoutView* m_view;
  QString m_title;
  QString m_cardText;
  QPixmap m_cardPicture;
  int m_cardHeight = CPartitionLayoutView::kRowHeight;
  QFont m_font;
};
