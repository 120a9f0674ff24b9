#pragma once
// The frame of the scan-partition pages: the list of found partitions above, the picture of the
// source with the ticked partitions below, split by a bar. The picture keeps its height (100 pixels,
// dragged between 100 and 340) when the window grows; the list takes the rest. When the ticked
// partitions need more rows of the picture, the picture is given their height (up to 340 pixels,
// and as far as the list keeps room for a few rows), so that they show without scrolling.

#include <QWidget>

class QSplitter;
class CMultipleChoosePartitionListCtrl;
class CPartitionLayoutFrame;
class CPartitionLayoutView;

class CLostPartitionCtrlContainer : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kLayoutHeight = 100;
  static constexpr int kLayoutMinHeight = 100;
  static constexpr int kLayoutMaxHeight = 340;
  // What the list keeps when the picture grows for its rows.
  static constexpr int kListKeepsHeight = 80;

  explicit CLostPartitionCtrlContainer(QWidget* parent = nullptr);

  CMultipleChoosePartitionListCtrl* GetPartitionListCtrl() const { return m_list; }
  CPartitionLayoutFrame* GetLayoutFrame() const { return m_frame; }
  CPartitionLayoutView* GetLayoutView() const;
  QSplitter* Splitter() const { return m_splitter; }

 protected:
  // A picture squeezed while there was no room gets its rows' height once the room is there.
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The picture's height for rows of `wanted` pixels, within its limits and the list's room.
  int FittedHeight(int wanted) const;
  // Gives the picture the height it asks for, within its limits and the list's room.
  void FitLayoutFrame(int wanted);

  QSplitter* m_splitter;
  CMultipleChoosePartitionListCtrl* m_list;
  CPartitionLayoutFrame* m_frame;
};
