#include "controls/DeviceSelectCtrl.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

#include "controls/Formatting.h"
#include "platform/Log.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"

namespace {

// The text of a cell starts this far right of its left edge (or of its picture).
constexpr int kTextIndent = 4;
// A picture is drawn this far right of its cell's left edge, and a row is this much taller than it.
constexpr int kBitmapIndent = 2;
constexpr int kBitmapPadding = 10;
// A measured text is given room enough never to wrap.
constexpr int kUnlimited = 100000;

}  // namespace

// ---------------------------------------------------------------------------------------------------
// The model

CDeviceListModel::CDeviceListModel(QObject* parent) : QAbstractTableModel(parent) {}

void CDeviceListModel::Append(int bitmap, const QString& name, const QString& capacity,
                              const QString& information, void* itemData) {
  const int at = static_cast<int>(m_rows.size());
  beginInsertRows(QModelIndex(), at, at);
  m_rows.push_back(Row{bitmap, {name, capacity, information}, itemData});
  endInsertRows();
}

void CDeviceListModel::Remove(int row) {
  if (row < 0 || row >= rowCount()) return;
  beginRemoveRows(QModelIndex(), row, row);
  m_rows.erase(m_rows.begin() + row);
  endRemoveRows();
}

void CDeviceListModel::Clear() {
  beginResetModel();
  m_rows.clear();
  endResetModel();
}

void* CDeviceListModel::ItemData(int row) const {
  return row >= 0 && row < rowCount() ? m_rows[static_cast<size_t>(row)].itemData : nullptr;
}

int CDeviceListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CDeviceListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant CDeviceListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.parent().isValid() || index.row() >= rowCount() || index.column() < 0 ||
      index.column() >= kColumnCount)
    return {};
  const Row& row = m_rows[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return row.texts[static_cast<size_t>(index.column())];
    case kBitmapRole:
      return index.column() == 0 ? row.bitmap : -1;
    default:
      return {};
  }
}

Qt::ItemFlags CDeviceListModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                         : Qt::NoItemFlags;
}

QVariant CDeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) return m_headers[static_cast<size_t>(section)];
  if (role == Qt::TextAlignmentRole) return static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

bool CDeviceListModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                                     int role) {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount ||
      (role != Qt::EditRole && role != Qt::DisplayRole))
    return false;
  m_headers[static_cast<size_t>(section)] = value.toString();
  emit headerDataChanged(orientation, section, section);
  return true;
}

// ---------------------------------------------------------------------------------------------------
// The delegate

const QColor CDeviceItemDelegate::kSelectedFill(216, 251, 252);

CDeviceItemDelegate::CDeviceItemDelegate(const std::array<CMaskedBitmap, 7>* bitmaps, QObject* parent)
    : QStyledItemDelegate(parent), m_bitmaps(bitmaps) {}

const CMaskedBitmap* CDeviceItemDelegate::BitmapOf(const QModelIndex& index) const {
  const int slot = index.data(CDeviceListModel::kBitmapRole).toInt();
  if (slot < 0 || slot >= static_cast<int>(m_bitmaps->size())) return nullptr;
  const CMaskedBitmap& bitmap = (*m_bitmaps)[static_cast<size_t>(slot)];
  return bitmap.IsNull() ? nullptr : &bitmap;
}

void CDeviceItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
  painter->save();
  const QRect cell = option.rect;
  const QColor fill = option.state & QStyle::State_Selected ? kSelectedFill : QColor(Qt::white);
  painter->fillRect(cell, fill);
  painter->setClipRect(cell);
  painter->setFont(option.font);
  painter->setPen(Qt::black);
  QRect text = cell.adjusted(kTextIndent, 0, 0, 0);
  if (const CMaskedBitmap* bitmap = BitmapOf(index)) {
    const QSize size = bitmap->GetSize();
    painter->setBackground(fill);
    DrawTransparentBitmap(painter, bitmap->Pixmap(), cell.left() + kBitmapIndent,
                          cell.top() + (cell.height() - size.height()) / 2, size.width(), size.height(), 0,
                          0);
    text.setLeft(text.left() + size.width());
  }
  const QString shown = index.data().toString();
  if (text.left() < text.right()) {
    if (!shown.contains('\n')) {
      const QString cut = painter->fontMetrics().elidedText(shown, Qt::ElideRight, text.width());
      painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, cut);
    } else {
      // Several lines stand centred as one block.
      painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter, shown);
    }
  }
  painter->restore();
}

QSize CDeviceItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const QFontMetrics metrics(option.font);
  const QRect text =
      metrics.boundingRect(QRect(0, 0, kUnlimited, kUnlimited), Qt::AlignLeft, index.data().toString());
  // Text gets room above and below as a picture does, so that a row of several lines (a disk with
  // its volumes) never touches the rows beside it.
  int height = text.height() + kBitmapPadding;
  int width = kTextIndent + text.width();
  if (const CMaskedBitmap* bitmap = BitmapOf(index)) {
    height = std::max(height, bitmap->GetSize().height() + kBitmapPadding);
    width += bitmap->GetSize().width();
  }
  return QSize(width, height);
}

// ---------------------------------------------------------------------------------------------------
// The view

CDeviceSelectView::CDeviceSelectView(CDeviceSelectCtrl* control, CExtendHeaderCtrl* header)
    : QTreeView(control), m_control(control) {
  setObjectName(QString::number(CDeviceSelectCtrl::kViewId));
  setHeader(header);
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::StrongFocus);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setIndentation(0);
  setUniformRowHeights(false);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setFont(corvale::ui::MakeUiFont(15, 400));
  QPalette palette = viewport()->palette();
  palette.setColor(QPalette::Base, Qt::white);
  viewport()->setPalette(palette);
}

int CDeviceSelectView::RowAt(const QPoint& point) const {
  const QModelIndex index = indexAt(point);
  return index.isValid() ? index.row() : -1;
}

QRect CDeviceSelectView::RowRect(int row) const {
  if (!model() || row < 0 || row >= model()->rowCount()) return {};
  QRect rect;
  for (int column = 0; column < model()->columnCount(); ++column)
    rect = rect.united(visualRect(model()->index(row, column)));
  return rect;
}

int CDeviceSelectView::Selected() const {
  if (!selectionModel()) return -1;
  const QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void CDeviceSelectView::Select(int row) {
  if (!model() || row < 0 || row >= model()->rowCount()) return;
  const QModelIndex index = model()->index(row, 0);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(index);
}

void CDeviceSelectView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) {
    QTreeView::mousePressEvent(event);
    return;
  }
  setFocus(Qt::MouseFocusReason);
  const int hit = RowAt(event->position().toPoint());
  // A click on empty space keeps the selection; a click on the selected row changes nothing.
  if (hit < 0 || hit == Selected()) return;
  Select(hit);
  emit m_control->selectionChanged();
}

void CDeviceSelectView::mouseMoveEvent(QMouseEvent* event) {
  // Dragging with a button held selects nothing: only a press picks a row.
  event->accept();
}

void CDeviceSelectView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && Selected() >= 0) emit m_control->itemDoubleClicked();
  event->accept();
}

void CDeviceSelectView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton && Selected() >= 0)
    emit m_control->itemRightClicked(event->globalPosition().toPoint());
  event->accept();
}

void CDeviceSelectView::keyPressEvent(QKeyEvent* event) {
  const int current = Selected();
  if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
    // The arrows move an existing selection by one row and tell nobody; without one they do nothing.
    const int next = current + (event->key() == Qt::Key_Up ? -1 : 1);
    if (current >= 0 && next >= 0 && next < model()->rowCount()) Select(next);
    event->accept();
    return;
  }
  // Other keys scroll as in any scrolling window; none of them moves the selection.
  QAbstractScrollArea::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------------------
// The control

CDeviceSelectCtrl::CDeviceSelectCtrl(QWidget* parent) : QWidget(parent) {
  m_model = new CDeviceListModel(this);
  m_header = new CExtendHeaderCtrl(this);
  m_header->setObjectName(QString::number(kHeaderId));
  m_view = new CDeviceSelectView(this, m_header);
  m_view->setItemDelegate(new CDeviceItemDelegate(&m_bitmaps, m_view));
  m_view->setModel(m_model);
  const QString headers[CDeviceListModel::kColumnCount] = {corvale::ui::StringOr(318, "Device"),
                                                           corvale::ui::StringOr(319, "Capacity"),
                                                           corvale::ui::StringOr(321, " Information")};
  const int widths[CDeviceListModel::kColumnCount] = {250, 150, 480};
  for (int i = 0; i < CDeviceListModel::kColumnCount; ++i) {
    m_model->setHeaderData(i, Qt::Horizontal, headers[i]);
    m_header->resizeSection(i, widths[i]);
  }
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_view);
}

void CDeviceSelectCtrl::SetDeviceBitmap(const DEVICE_BITMAP& deviceBitmap) {
  LogError("------------------------ParmInfo:const DEVICE_BITMAP& deviceBitmap=%p",
           static_cast<const void*>(&deviceBitmap));
  for (int i = 0; i < 7; ++i) m_bitmaps[static_cast<size_t>(i)].LoadBitmap(deviceBitmap.ids[i]);
  m_view->doItemsLayout();
}

void CDeviceSelectCtrl::SetCtrlStyle(CTRL_STYLE eCtrlStyle) {
  LogError("------------------------ParmInfo:CTRL_STYLE eCtrlStyle=%x", static_cast<unsigned>(eCtrlStyle));
  if (eCtrlStyle == CtrlStyleDevice) m_header->SetColumnText(0, corvale::ui::StringOr(318, "Device"));
  if (eCtrlStyle == CtrlStyleDisk) m_header->SetColumnText(0, corvale::ui::StringOr(320, "Disk"));
  if (eCtrlStyle == CtrlStylePartition) m_header->SetColumnText(0, corvale::ui::StringOr(322, "Partition"));
}

void CDeviceSelectCtrl::AddItem(const DEVICE_ITEM_INFO* info) {
  if (!info) return;
  QString capacity;
  if (info->sectorCount != 0)
    capacity = QString::fromStdString(FormatSectorSize(
        static_cast<int64_t>(std::min<uint64_t>(info->sectorCount, INT64_MAX)), info->bytesPerSector));
  m_model->Append(info->kind <= 6 ? static_cast<int>(info->kind) : -1,
                  QString::fromUtf8(info->name ? info->name : ""), capacity,
                  QString::fromUtf8(info->information ? info->information : ""), info->itemData);
}

void CDeviceSelectCtrl::DeleteItem(int n) { m_model->Remove(n); }

void CDeviceSelectCtrl::DeleteAllItems() { m_model->Clear(); }

int CDeviceSelectCtrl::GetCurSel() const { return m_view->Selected(); }

void* CDeviceSelectCtrl::GetItemData(int n) const { return m_model->ItemData(n); }

void CDeviceSelectCtrl::ClearSelection() { m_view->selectionModel()->clearSelection(); }

QString CDeviceSelectCtrl::CellText(int n, int column) const {
  if (n < 0 || n >= GetCount() || column < 0 || column >= CDeviceListModel::kColumnCount) return {};
  return m_model->index(n, column).data().toString();
}
