#include "controls/FileSelectCtrlContainer.h"

#include <QVBoxLayout>
#include <algorithm>

#include "controls/FileListCtrl.h"
#include "controls/FileTreeCtrl.h"
#include "platform/Log.h"
#include "ui/Pictures.h"

CExSplitterWnd::CExSplitterWnd(Qt::Orientation orientation, QWidget* parent)
    : QSplitter(orientation, parent) {
  setChildrenCollapsible(false);
  setHandleWidth(4);
  setStyleSheet(QStringLiteral("QSplitter::handle { background-color: rgb(203, 212, 219); }"));
  connect(this, &QSplitter::splitterMoved, this, &CExSplitterWnd::SpringBack);
}

void CExSplitterWnd::SpringBack() {
  if (m_fixedIndex < 0 || count() < 2) return;
  QList<int> sizes = this->sizes();
  const int total = sizes[0] + sizes[1];
  const int fixed = std::clamp(sizes[m_fixedIndex], m_minimum, std::max(m_minimum, m_maximum));
  if (fixed == sizes[m_fixedIndex]) return;
  sizes[m_fixedIndex] = fixed;
  sizes[1 - m_fixedIndex] = std::max(0, total - fixed);
  setSizes(sizes);
}

void CExSplitterWnd::SetColumnFixed(int index, int width, int minimum, int maximum) {
  LogError("------------------------ParmInfo:int iCol, int nWidth, int iMin, int iMax");
  SetFixed(index, width, minimum, maximum);
}

void CExSplitterWnd::SetRowFixed(int index, int height, int minimum, int maximum) {
  LogError("------------------------ParmInfo:int iRow=%x, int iHeight=%x, int iMin=%x, int iMax=%x", index,
           height, minimum, maximum);
  SetFixed(index, height, minimum, maximum);
}

void CExSplitterWnd::SetFixed(int index, int size, int minimum, int maximum) {
  if (count() < 2 || index < 0 || index > 1) return;
  m_fixedIndex = index;
  m_minimum = minimum;
  m_maximum = maximum;
  QWidget* fixed = widget(index);
  QWidget* other = widget(1 - index);
  // Qt holds the bar inside the range while it is dragged instead of springing back on release;
  // where the bar ends up is the same.
  if (orientation() == Qt::Horizontal) {
    fixed->setMinimumWidth(minimum);
    fixed->setMaximumWidth(maximum);
    other->setMinimumWidth(0);
  } else {
    fixed->setMinimumHeight(minimum);
    fixed->setMaximumHeight(maximum);
    other->setMinimumHeight(0);
  }
  setStretchFactor(index, 0);
  setStretchFactor(1 - index, 1);
  QList<int> sizes{0, 0};
  const int total = orientation() == Qt::Horizontal ? width() : height();
  sizes[index] = size;
  sizes[1 - index] = std::max(0, total - size - handleWidth());
  setSizes(sizes);
}

CFileSelectCtrlContainer::CFileSelectCtrlContainer(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  m_splitter = new CExSplitterWnd(Qt::Horizontal, this);
  layout->addWidget(m_splitter);
  m_tree = new CFileTreeCtrl(m_splitter);
  m_list = new CFileListCtrl(m_splitter);
  m_splitter->addWidget(m_tree);
  m_splitter->addWidget(m_list);
  m_list->SetFileTreeCtrl(m_tree);
  m_tree->SetFileListCtrl(m_list);
  m_splitter->SetColumnFixed(0, 200, 100, 400);
}
