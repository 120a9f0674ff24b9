#include "controls/LostPartitionCtrlContainer.h"

#include <QSplitter>
#include <QVBoxLayout>

#include "controls/MultipleChoosePartitionListCtrl.h"
#include "controls/PartitionLayoutFrame.h"

CLostPartitionCtrlContainer::CLostPartitionCtrlContainer(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  m_splitter = new QSplitter(Qt::Vertical, this);
  m_splitter->setChildrenCollapsible(false);
  m_list = new CMultipleChoosePartitionListCtrl(m_splitter);
  m_list->setMinimumHeight(20);
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
}

CPartitionLayoutView* CLostPartitionCtrlContainer::GetLayoutView() const { return m_frame->GetLayoutView(); }
