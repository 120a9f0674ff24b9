#include "controls/LostPartitionCtrlContainer.h"

#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>

#include "controls/MultipleChoosePartitionListCtrl.h"
#include "controls/PartitionLayoutFrame.h"

CLostPartitionCtrlContainer::CLostPartitionCtrlContainer(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  m_splitter = new QSplitter(Qt::Vertical, this);
  m_splitter->setChildrenCollapsible(false);
  m_list = new CMultipleChoosePartitionListCtrl(m_splitter);
  m_list->setMinimumHeight(kListKeepsHeight);
  m_frame = new CPartitionLayoutFrame(m_splitter);
  m_frame->setMinimumHeight(kLayoutMinHeight);
  m_frame->setMaximumHeight(kLayoutMaxHeight);
  m_splitter->addWidget(m_list);
  m_splitter->addWidget(m_frame);
  // Extra height goes to the list; the picture keeps its own.
  m_splitter->setStretchFactor(0, 1);
  m_splitter->setStretchFactor(1, 0);
  m_splitter->setSizes({1000, kLayoutHeight});
  layout->addWidget(m_splitter);
  m_list->SetLayoutView(m_frame->GetLayoutView());
  connect(m_frame, &CPartitionLayoutFrame::wantedHeightChanged, this,
          &CLostPartitionCtrlContainer::FitLayoutFrame);
}

int CLostPartitionCtrlContainer::FittedHeight(int wanted) const {
  const QList<int> sizes = m_splitter->sizes();
  const int total = sizes.size() == 2 ? sizes[0] + sizes[1] : 0;
  const int room = std::max(kLayoutMinHeight, total - kListKeepsHeight);
  return std::clamp(wanted, kLayoutMinHeight, std::min(kLayoutMaxHeight, room));
}

void CLostPartitionCtrlContainer::FitLayoutFrame(int wanted) {
  const QList<int> sizes = m_splitter->sizes();
  if (sizes.size() != 2) return;
  const int height = FittedHeight(wanted);
  if (height != sizes[1]) m_splitter->setSizes({std::max(0, sizes[0] + sizes[1] - height), height});
}

void CLostPartitionCtrlContainer::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const QList<int> sizes = m_splitter->sizes();
  const int wanted = m_frame->WantedHeight();
  if (sizes.size() == 2 && sizes[1] < FittedHeight(wanted)) FitLayoutFrame(wanted);
}

CPartitionLayoutView* CLostPartitionCtrlContainer::GetLayoutView() const { return m_frame->GetLayoutView(); }
