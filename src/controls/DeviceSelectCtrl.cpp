#include "controls/DeviceSelectCtrl.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "controls/Formatting.h"
#include "platform/Log.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"

namespace {

const QColor kSelectedFill(216, 251, 252);
// What a row adds to the height of its text (as to the height of its picture).
constexpr int kRowTextPadding = 10;

QString TextOr(uint32_t id, const char* fallback) {
  const QString text = corvale::ui::LoadStringResource(id);
  return text.isEmpty() ? QString::fromUtf8(fallback) : text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// The view

CDeviceSelectView::CDeviceSelectView(CDeviceSelectCtrl* control, CExtendHeaderCtrl* header)
    : QAbstractScrollArea(control),
      m_control(control),
      m_header(header),
      m_font(corvale::ui::MakeUiFont(15, 400)) {
  setObjectName(QString::number(CDeviceSelectCtrl::kViewId));
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setAutoFillBackground(false);
  verticalScrollBar()->setSingleStep(10);
  horizontalScrollBar()->setSingleStep(10);
}

int CDeviceSelectView::Selected() const {
  for (size_t i = 0; i < m_rows.size(); ++i)
    if (m_rows[i].selected) return static_cast<int>(i);
  return -1;
}

QRect CDeviceSelectView::RowRect(int index) const {
  const Row& row = m_rows[index];
  return QRect(-horizontalScrollBar()->value(), row.top - verticalScrollBar()->value(), row.Width(),
               row.height);
}

int CDeviceSelectView::RowAt(const QPoint& point) const {
  const int x = point.x() + horizontalScrollBar()->value();
  const int y = point.y() + verticalScrollBar()->value();
  for (size_t i = 0; i < m_rows.size(); ++i) {
    const Row& row = m_rows[i];
    if (x >= 0 && x < row.Width() && y >= row.top && y < row.top + row.height) return static_cast<int>(i);
  }
  return -1;
}

void CDeviceSelectView::Select(int index) {
  for (size_t i = 0; i < m_rows.size(); ++i) m_rows[i].selected = static_cast<int>(i) == index;
  ScrollIntoView(index);
  viewport()->update();
}

void CDeviceSelectView::Restack() {
  int top = 0;
  for (Row& row : m_rows) {
    row.top = top;
    top += row.height;
  }
  UpdateScrollSizes();
  viewport()->update();
}

void CDeviceSelectView::UpdateScrollSizes() {
  int width = m_rows.empty() ? m_header->TotalWidth() : m_rows.front().Width();
  int height = m_rows.empty() ? 0 : m_rows.back().top + m_rows.back().height;
  horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
  horizontalScrollBar()->setPageStep(viewport()->width());
  verticalScrollBar()->setRange(0, std::max(0, height - viewport()->height()));
  verticalScrollBar()->setPageStep(viewport()->height());
}

void CDeviceSelectView::ScrollIntoView(int index) {
  if (index < 0 || index >= static_cast<int>(m_rows.size())) return;
  const Row& row = m_rows[index];
  const int first = verticalScrollBar()->value();
  const int last = first + viewport()->height();
  if (row.top < first)
    verticalScrollBar()->setValue(row.top);
  else if (row.top + row.height > last)
    verticalScrollBar()->setValue(row.top + row.height - viewport()->height());
}

void CDeviceSelectView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), Qt::white);
  painter.setFont(m_font);
  const int dx = horizontalScrollBar()->value();
  const int dy = verticalScrollBar()->value();
  for (const Row& row : m_rows) {
    if (row.top - dy > viewport()->height() || row.top + row.height - dy < 0) continue;
    int x = -dx;
    for (const Cell& cell : row.cells) {
      const QRect rect(x, row.top - dy, cell.width, row.height);
      x += cell.width;
      painter.fillRect(rect, row.selected ? kSelectedFill : QColor(Qt::white));
      painter.setPen(Qt::black);
      QRect text = rect.adjusted(4, 0, 0, 0);
      if (cell.bitmap >= 0 && !m_bitmaps[cell.bitmap].IsNull()) {
        const CMaskedBitmap& bitmap = m_bitmaps[cell.bitmap];
        const QSize size = bitmap.GetSize();
        painter.setBackground(row.selected ? kSelectedFill : QColor(Qt::white));
        DrawTransparentBitmap(&painter, bitmap.Pixmap(), rect.left() + 2,
                              rect.top() + (row.height - size.height()) / 2, size.width(), size.height(), 0,
                              0);
        text.setLeft(text.left() + size.width());
      }
      if (text.left() >= text.right()) continue;
      if (!cell.text.contains('\n')) {
        const QString shown = painter.fontMetrics().elidedText(cell.text, Qt::ElideRight, text.width());
        painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
      } else {
        painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, cell.text);
      }
    }
  }
}

void CDeviceSelectView::mousePressEvent(QMouseEvent* event) {
  QAbstractScrollArea::mousePressEvent(event);
  if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
  const int hit = RowAt(event->position().toPoint());
  // A click on empty space keeps the selection; a click on the selected row changes nothing.
  if (hit < 0 || m_rows[hit].selected) return;
  Select(hit);
  emit m_control->selectionChanged();
}

void CDeviceSelectView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && Selected() >= 0) emit m_control->itemDoubleClicked();
  QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void CDeviceSelectView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton && Selected() >= 0)
    emit m_control->itemRightClicked(event->globalPosition().toPoint());
  QAbstractScrollArea::mouseReleaseEvent(event);
}

void CDeviceSelectView::keyPressEvent(QKeyEvent* event) {
  const int current = Selected();
  if (current >= 0 && event->key() == Qt::Key_Up) {
    if (current > 0) Select(current - 1);
    return;
  }
  if (current >= 0 && event->key() == Qt::Key_Down) {
    if (current + 1 < static_cast<int>(m_rows.size())) Select(current + 1);
    return;
  }
  QAbstractScrollArea::keyPressEvent(event);
}

void CDeviceSelectView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollSizes();
}

void CDeviceSelectView::scrollContentsBy(int dx, int dy) {
  QAbstractScrollArea::scrollContentsBy(dx, dy);
  if (dx != 0) m_control->FollowHorizontalScroll();
  viewport()->update();
}

// ---------------------------------------------------------------------------------------------------
// The control

CDeviceSelectCtrl::CDeviceSelectCtrl(QWidget* parent) : QWidget(parent) {
  m_header = new CExtendHeaderCtrl(this);
  m_header->setObjectName(QString::number(kHeaderId));
  m_header->SetColumns({TextOr(318, "Device"), TextOr(319, "Capacity"), TextOr(321, " Information")},
                       {250, 150, 480});
  m_view = new CDeviceSelectView(this, m_header);
  connect(m_header, &QHeaderView::sectionResized, this, &CDeviceSelectCtrl::OnColumnResized);
}

void CDeviceSelectCtrl::SetDeviceBitmap(const DEVICE_BITMAP& deviceBitmap) {
  LogError("------------------------ParmInfo:const DEVICE_BITMAP& deviceBitmap=%p",
           static_cast<const void*>(&deviceBitmap));
  for (int i = 0; i < 7; ++i) m_view->m_bitmaps[i].LoadBitmap(deviceBitmap.ids[i]);
}

void CDeviceSelectCtrl::SetCtrlStyle(CTRL_STYLE eCtrlStyle) {
  LogError("------------------------ParmInfo:CTRL_STYLE eCtrlStyle=%x", static_cast<unsigned>(eCtrlStyle));
  if (eCtrlStyle == CtrlStyleDevice) m_header->SetColumnText(0, TextOr(318, "Device"));
  if (eCtrlStyle == CtrlStyleDisk) m_header->SetColumnText(0, TextOr(320, "Disk"));
  if (eCtrlStyle == CtrlStylePartition) m_header->SetColumnText(0, TextOr(322, "Partition"));
}

void CDeviceSelectCtrl::AddItem(const DEVICE_ITEM_INFO* info) {
  if (!info) return;
  CDeviceSelectView::Row row;
  row.itemData = info->itemData;
  row.cells[0].bitmap = info->kind <= 6 ? static_cast<int>(info->kind) : -1;
  row.cells[0].text = QString::fromUtf8(info->name ? info->name : "");
  if (info->sectorCount != 0)
    row.cells[1].text = QString::fromStdString(FormatSectorSize(
        static_cast<int64_t>(std::min<uint64_t>(info->sectorCount, INT64_MAX)), info->bytesPerSector));
  row.cells[2].text = QString::fromUtf8(info->information ? info->information : "");
  for (int i = 0; i < 3; ++i) row.cells[i].width = m_header->sectionSize(i);
  const QFontMetrics metrics(m_view->m_font);
  int height = 0;
  for (const auto& cell : row.cells) {
    if (cell.bitmap >= 0 && !m_view->m_bitmaps[cell.bitmap].IsNull())
      height = std::max(height, m_view->m_bitmaps[cell.bitmap].GetSize().height() + 10);
    // Text gets the same room above and below as a picture, so that a row of several lines (a disk
    // with its volumes) never touches the rows beside it.
    if (!cell.text.isEmpty())
      height = std::max(height,
                        metrics.boundingRect(QRect(0, 0, 100000, 100000), Qt::AlignLeft, cell.text).height() +
                            kRowTextPadding);
  }
  row.height = height;
  row.top = m_view->m_rows.empty() ? 0 : m_view->m_rows.back().top + m_view->m_rows.back().height;
  m_view->m_rows.push_back(row);
  m_view->UpdateScrollSizes();
  m_view->viewport()->update();
}

void CDeviceSelectCtrl::DeleteItem(int n) {
  if (n < 0 || n >= GetCount()) return;
  m_view->m_rows.erase(m_view->m_rows.begin() + n);
  m_view->Restack();
}

void CDeviceSelectCtrl::DeleteAllItems() {
  m_view->m_rows.clear();
  m_view->Restack();
}

int CDeviceSelectCtrl::GetCurSel() const { return m_view->Selected(); }

void* CDeviceSelectCtrl::GetItemData(int n) const {
  if (n < 0 || n >= GetCount()) return nullptr;
  return m_view->m_rows[n].itemData;
}

void CDeviceSelectCtrl::ClearSelection() {
  for (auto& row : m_view->m_rows) row.selected = false;
  m_view->viewport()->update();
}

QString CDeviceSelectCtrl::CellText(int n, int column) const {
  if (n < 0 || n >= GetCount() || column < 0 || column > 2) return {};
  return m_view->m_rows[n].cells[column].text;
}

void CDeviceSelectCtrl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The header stays within the control; the column heads follow the scrolled rows by its offset.
  m_header->setGeometry(0, 0, width(), kHeaderHeight);
  m_view->setGeometry(0, kHeaderHeight, width(), std::max(0, height() - kHeaderHeight));
  FollowHorizontalScroll();
}

void CDeviceSelectCtrl::FollowHorizontalScroll() {
  m_header->setOffset(m_view->horizontalScrollBar()->value());
}

void CDeviceSelectCtrl::OnColumnResized(int column, int, int newWidth) {
  if (column < 0 || column > 2) return;
  for (auto& row : m_view->m_rows) row.cells[column].width = newWidth;
  m_view->UpdateScrollSizes();
  FollowHorizontalScroll();
  m_view->viewport()->update();
}
