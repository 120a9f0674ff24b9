#pragma once
// The frame of the scan-partition pages: the list of found partitions above, the picture of the
// source with the ticked partitions below, split by a bar. The picture keeps its height (100 pixels,
// dragged between 100 and 340) when the window grows; the list takes the rest.

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

  explicit CLostPartitionCtrlContainer(QWidget* parent = nullptr);

  CMultipleChoosePartitionListCtrl* GetPartitionListCtrl() const { return m_list; }
  CPartitionLayoutFrame* GetLayoutFrame() const { return m_frame; }
  CPartitionLayoutView* GetLayoutView() const;
  QSplitter* Splitter() const { return m_splitter; }

 private:
  QSplitter* m_splitter;
  CMultipleChoosePartitionListCtrl* m_list;
  CPartitionLayoutFrame* m_frame;
};
