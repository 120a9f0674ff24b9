#include "controls/ExtendListCtrl.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QWheelEvent>
#include <algorithm>
#include <cinttypes>

#include "controls/ExtendHeaderCtrl.h"
#include "platform/Log.h"
#include "ui/UiFont.h"

const QColor CExtendListCtrl::kSelectedBackground(216, 251, 252);

namespace {

constexpr int kDefaultRowHeight = 20;
// What the header counts for while it has no size of its own yet.
constexpr int kHeaderHeightBeforeShown = 20;

Qt::Alignment AlignmentOf(CExtendListCtrl::ARRANGE_FORMAT format) {
  switch (format) {
    case CExtendListCtrl::ArrangeRight:
      return Qt::AlignRight;
    case CExtendListCtrl::ArrangeCenter:
      return Qt::AlignHCenter;
    default:
      return Qt::AlignLeft;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Rows

int ExtendListRow::GetFirstCheck() const {
  if (Cells.empty() || Cells.front().ItemCount <= 0) return 0;
  return Cells.front().Items[0].Check;
}

void ExtendListRow::SetCellWidth(int column, int width) {
  if (column >= 0 && column < static_cast<int>(Cells.size()))
    Cells[static_cast<size_t>(column)].Width = width;
}

// ---------------------------------------------------------------------------------------------------
// The model

CExtendListModel::CExtendListModel(QObject* parent) : QAbstractTableModel(parent) {
  m_rows.reserve(2000);
  m_columns.reserve(7);
}

CExtendListModel::~CExtendListModel() = default;

void CExtendListModel::AddColumn(const QString& text, Qt::Alignment format) {
  const int at = static_cast<int>(m_columns.size());
  beginInsertColumns(QModelIndex(), at, at);
  m_columns.push_back({text, format});
  endInsertColumns();
}

Qt::Alignment CExtendListModel::ColumnFormat(int column) const {
  if (column < 0 || column >= static_cast<int>(m_columns.size())) return Qt::AlignLeft;
  return m_columns[static_cast<size_t>(column)].format;
}

int CExtendListModel::AddRow(int height, int top) {
  const int at = RowCount();
  auto row = std::make_unique<ExtendListRow>();
  row->Top = top;
  row->Height = height;
  row->Index = at;
  row->Cells.reserve(7);
  beginInsertRows(QModelIndex(), at, at);
  m_rows.push_back(std::move(row));
  endInsertRows();
  return at;
}

bool CExtendListModel::AddCell(int row, const ExtendListCell& cell, int width) {
  ExtendListRow* target = Row(row);
  if (!target || target->Cells.size() >= m_columns.size()) return false;
  const int column = static_cast<int>(target->Cells.size());
  ExtendListCell copy = cell;
  copy.ItemCount = std::clamp(copy.ItemCount, 0, ExtendListCell::kMaxItems);
  copy.Width = width;
  copy.TextFormat = ColumnFormat(column);
  for (ExtendListItem& item : copy.Items) item.CheckRect = QRect();
  target->Cells.push_back(std::move(copy));
  const QModelIndex changed = index(row, column);
  emit dataChanged(changed, changed);
  return true;
}

void CExtendListModel::Clear() {
  beginResetModel();
  m_rows.clear();
  endResetModel();
}

ExtendListRow* CExtendListModel::Row(int row) const {
  if (row < 0 || row >= RowCount()) return nullptr;
  return m_rows[static_cast<size_t>(row)].get();
}

const ExtendListCell* CExtendListModel::Cell(int row, int column) const {
  const ExtendListRow* target = Row(row);
  if (!target || column < 0 || column >= static_cast<int>(target->Cells.size())) return nullptr;
  return &target->Cells[static_cast<size_t>(column)];
}

ExtendListCell* CExtendListModel::MutableCell(int row, int column) {
  return const_cast<ExtendListCell*>(Cell(row, column));
}

bool CExtendListModel::SetItemCheck(int row, int column, int item, int check) {
  ExtendListCell* cell = MutableCell(row, column);
  if (!cell || item < 0 || item >= cell->ItemCount || cell->Items[item].CheckBoxId == 0) return false;
  cell->Items[item].Check = check ? 1 : 0;
  const QModelIndex changed = index(row, column);
  emit dataChanged(changed, changed, {kCellRole});
  return true;
}

int CExtendListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : RowCount(); }

int CExtendListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant CExtendListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.parent().isValid() || !Row(index.row()) || index.column() < 0 ||
      index.column() >= columnCount())
    return {};
  const ExtendListCell* cell = Cell(index.row(), index.column());
  switch (role) {
    case Qt::DisplayRole: {
      if (!cell) return QString();
      QStringList texts;
      for (int i = 0; i < cell->ItemCount; ++i)
        if (!cell->Items[i].Text.isEmpty()) texts << cell->Items[i].Text;
      return texts.join(' ');
    }
    case Qt::ForegroundRole:
      return cell ? QVariant(cell->TextColour) : QVariant();
    case Qt::TextAlignmentRole:
      return static_cast<int>(ColumnFormat(index.column()) | Qt::AlignVCenter);
    case kCellRole:
      return cell ? QVariant::fromValue(static_cast<const void*>(cell)) : QVariant();
    default:
      return {};
  }
}

Qt::ItemFlags CExtendListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QVariant CExtendListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
  if (role == Qt::DisplayRole) return m_columns[static_cast<size_t>(section)].text;
  if (role == Qt::TextAlignmentRole) return static_cast<int>(ColumnFormat(section) | Qt::AlignVCenter);
  return {};
}

// ---------------------------------------------------------------------------------------------------
// The delegate

int CExtendListDelegate::LayoutCell(ExtendListCell& cell, const QRect& rect, const QFontMetrics& metrics,
                                    ExtendItemPlace places[ExtendListCell::kMaxItems]) {
  const int right = rect.left() + rect.width();
  const int count = std::clamp(cell.ItemCount, 0, ExtendListCell::kMaxItems);
  int x = rect.left();
  int drawn = 0;
  for (int i = 0; i < ExtendListCell::kMaxItems; ++i) {
    places[i] = ExtendItemPlace();
    cell.Items[i].CheckRect = QRect();
  }
  for (int i = 0; i < count; ++i) {
    ExtendListItem& item = cell.Items[i];
    ExtendItemPlace& place = places[i];
    ++drawn;
    if (item.CheckBoxId != 0) {
      place.Box = QRect(x + 2, rect.top() + (rect.height() - kBoxSize) / 2, kBoxSize, kBoxSize);
      item.CheckRect = place.Box;
      x += 18;
    }
    if (x + 2 >= right) break;
    if (!item.Icon.isNull()) {
      place.Icon = QRect(x + 2, rect.top() + (rect.height() - kIconSize) / 2, kIconSize, kIconSize);
      x += 24;
    }
    if (x + 4 >= right) break;
    if (!item.Text.isEmpty()) {
      place.Text = QRect(x + 2, rect.top(), std::max(0, right - 4 - (x + 2)), rect.height());
      x += metrics.horizontalAdvance(item.Text) + 2;
    }
    const int before = x;
    x += 4;
    if (before + 6 >= right) break;
  }
  return drawn;
}

void CExtendListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
  // The boxes' rectangles are kept in the items as they are drawn, so the model is written here.
  auto* model = const_cast<CExtendListModel*>(qobject_cast<const CExtendListModel*>(index.model()));
  ExtendListCell* cell = model ? model->MutableCell(index.row(), index.column()) : nullptr;
  const bool selected = (option.state & QStyle::State_Selected) != 0;
  painter->save();
  painter->fillRect(option.rect, selected ? CExtendListCtrl::kSelectedBackground : QColor(Qt::white));
  if (!cell) {
    painter->restore();
    return;
  }
  painter->setClipRect(option.rect);
  painter->setFont(option.font);
  const QFontMetrics metrics(option.font);
  ExtendItemPlace places[ExtendListCell::kMaxItems];
  const int drawn = LayoutCell(*cell, option.rect, metrics, places);
  const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
  // A selected row keeps its texts' own colour: the light selection colour would make white text
  // unreadable.
  painter->setPen(cell->TextColour);
  for (int i = 0; i < drawn; ++i) {
    const ExtendListItem& item = cell->Items[i];
    const ExtendItemPlace& place = places[i];
    if (!place.Box.isEmpty()) {
      QStyleOptionButton box;
      if (option.widget) box.initFrom(option.widget);
      box.rect = place.Box;
      box.state =
          (option.state & QStyle::State_Enabled) | (item.Check ? QStyle::State_On : QStyle::State_Off);
      style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, option.widget);
    }
    if (!place.Icon.isEmpty()) item.Icon.paint(painter, place.Icon);
    if (!place.Text.isEmpty()) {
      const QString shown = metrics.elidedText(item.Text, Qt::ElideRight, place.Text.width());
      painter->drawText(place.Text,
                        static_cast<int>(cell->TextFormat | Qt::AlignVCenter | Qt::TextSingleLine), shown);
    }
  }
  painter->restore();
}

QSize CExtendListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const auto* cell =
      static_cast<const ExtendListCell*>(index.data(CExtendListModel::kCellRole).value<const void*>());
  return QSize(cell ? cell->Width : 0, option.rect.height() > 0 ? option.rect.height() : kDefaultRowHeight);
}

// ---------------------------------------------------------------------------------------------------
// The list

CExtendListCtrl::CExtendListCtrl(QWidget* parent) : QTableView(parent) {
  m_model = new CExtendListModel(this);
  m_header = new CExtendHeaderCtrl(this);
  m_header->setObjectName(QString::number(kHeaderId));
  setHorizontalHeader(m_header);
  setModel(m_model);
  setItemDelegate(new CExtendListDelegate(this));
  setFont(corvale::ui::MakeUiFont(14, 400));
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(kDefaultRowHeight);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(false);
  setWordWrap(false);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalScrollBar()->setSingleStep(kLineStep);
  horizontalScrollBar()->setSingleStep(kLineStep);
  QPalette colours = palette();
  colours.setColor(QPalette::Base, Qt::white);
  setPalette(colours);
  connect(m_header, &QHeaderView::sectionResized, this, &CExtendListCtrl::OnSectionResized);
}

CExtendListCtrl::~CExtendListCtrl() = default;

void CExtendListCtrl::InsertColumn(const QString& text, int width, ARRANGE_FORMAT format) {
  LogError("------------------------ParmInfo:LPCTSTR lpszText=%" PRIxPTR
           ", DWORD dwWidth=%x,\t\t\t\tCExtendListCtrl::ARRANGE_FORMAT eArragn=%x",
           reinterpret_cast<uintptr_t>(&text), static_cast<unsigned>(width), static_cast<unsigned>(format));
  m_model->AddColumn(text, AlignmentOf(format));
  m_header->resizeSection(m_model->columnCount() - 1, std::max(0, width));
}

int CExtendListCtrl::AddRow(int height) {
  height = std::max(1, height);
  const int headerHeight = m_header->isVisible() ? m_header->height() : kHeaderHeightBeforeShown;
  const int row = m_model->AddRow(height, headerHeight + m_totalHeight);
  m_totalHeight += height;
  if (height != verticalHeader()->defaultSectionSize()) verticalHeader()->resizeSection(row, height);
  return row;
}

bool CExtendListCtrl::AddCell(int row, const ExtendListCell& cell) {
  const ExtendListRow* target = m_model->Row(row);
  if (!target) return false;
  const int column = static_cast<int>(target->Cells.size());
  return m_model->AddCell(row, cell, m_header->sectionSize(column));
}

ExtendListRow* CExtendListCtrl::GetRow(int row) const { return m_model->Row(row); }

int CExtendListCtrl::GetRowCount() const { return m_model->RowCount(); }

int CExtendListCtrl::GetSelectedRow() const {
  if (!selectionModel()) return -1;
  const QModelIndexList rows = selectionModel()->selectedRows();
  int first = -1;
  for (const QModelIndex& index : rows)
    if (first < 0 || index.row() < first) first = index.row();
  return first;
}

void CExtendListCtrl::SelectRow(ExtendListRow* row) {
  if (!row || m_model->Row(row->Index) != row) return;
  const QModelIndex index = m_model->index(row->Index, 0);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(index);
  setFocus(Qt::MouseFocusReason);
}

void CExtendListCtrl::DeleteAllRows() {
  m_model->Clear();
  m_totalHeight = 0;
}

void CExtendListCtrl::RecalcScroll() {
  const int headerHeight = m_header->isVisible() ? m_header->height() : kHeaderHeightBeforeShown;
  int top = headerHeight;
  for (int i = 0; i < m_model->RowCount(); ++i) {
    ExtendListRow* row = m_model->Row(i);
    row->Top = top;
    top += row->Height;
  }
  updateGeometries();
  viewport()->update();
}

bool CExtendListCtrl::ToggleCheck(int row, int column, int item) {
  const ExtendListCell* cell = m_model->Cell(row, column);
  if (!cell || item < 0 || item >= cell->ItemCount || cell->Items[item].CheckBoxId == 0) return false;
  const int check = cell->Items[item].Check ? 0 : 1;
  ICheckBoxNotify* notifier = cell->Items[item].Notifier;
  m_model->SetItemCheck(row, column, item, check);
  if (notifier) notifier->OnCheckBoxChanged(check, row, column, item);
  return true;
}

void CExtendListCtrl::SetCheck(int row, int column, int item, int check) {
  const ExtendListCell* cell = m_model->Cell(row, column);
  if (!cell || item < 0 || item >= cell->ItemCount) return;
  if ((cell->Items[item].Check != 0) != (check != 0)) ToggleCheck(row, column, item);
}

QRect CExtendListCtrl::CheckBoxRect(int row, int column, int item) const {
  ExtendListCell* cell = m_model->MutableCell(row, column);
  if (!cell || item < 0 || item >= cell->ItemCount) return {};
  const QRect rect = visualRect(m_model->index(row, column));
  if (rect.isEmpty()) return {};
  ExtendItemPlace places[ExtendListCell::kMaxItems];
  CExtendListDelegate::LayoutCell(*cell, rect, QFontMetrics(font()), places);
  return cell->Items[item].CheckRect.intersected(viewport()->rect());
}

int CExtendListCtrl::CellWidthNeeded(int row, int column) const {
  const ExtendListCell* cell = m_model->Cell(row, column);
  if (!cell) return 0;
  // Laid out in a cell too wide to stop it, the last item ends where the cell would have to.
  ExtendListCell copy = *cell;
  ExtendItemPlace places[ExtendListCell::kMaxItems];
  const QFontMetrics metrics(font());
  CExtendListDelegate::LayoutCell(copy, QRect(0, 0, 1 << 20, kDefaultRowHeight), metrics, places);
  int end = 0;
  for (int i = 0; i < std::clamp(copy.ItemCount, 0, ExtendListCell::kMaxItems); ++i) {
    end = std::max({end, places[i].Box.right() + 1, places[i].Icon.right() + 1});
    if (!places[i].Text.isEmpty())
      end = std::max(end, places[i].Text.left() + metrics.horizontalAdvance(copy.Items[i].Text));
  }
  // A few pixels more than measured: the cell a view paints is a grid line narrower than its column,
  // and a text measured as a whole rounds differently from one being elided.
  return end + 8;
}

void CExtendListCtrl::ToggleAt(int row, const QPoint& point) {
  for (int column = 0; column < m_model->columnCount(); ++column) {
    ExtendListCell* cell = m_model->MutableCell(row, column);
    if (!cell) continue;
    const QRect rect = visualRect(m_model->index(row, column));
    if (!rect.contains(point)) continue;
    ExtendItemPlace places[ExtendListCell::kMaxItems];
    CExtendListDelegate::LayoutCell(*cell, rect, QFontMetrics(font()), places);
    for (int item = 0; item < cell->ItemCount; ++item) {
      if (cell->Items[item].CheckBoxId != 0 && cell->Items[item].CheckRect.contains(point)) {
        ToggleCheck(row, column, item);
        return;
      }
    }
    return;
  }
}

void CExtendListCtrl::mousePressEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  const int row = indexAt(at).row();
  if (event->button() != Qt::LeftButton) {
    // A right press does nothing until it is released; other buttons do nothing.
    setFocus(Qt::MouseFocusReason);
    event->accept();
    return;
  }
  if (row < 0) {
    setFocus(Qt::MouseFocusReason);
    event->accept();
    return;
  }
  // The row is taken before the box is toggled: what a tick changes around the list (the picture
  // below it) may resize it and scroll it back to the top.
  ExtendListRow* target = m_model->Row(row);
  ToggleAt(row, at);
  SelectRow(target);
  event->accept();
}

void CExtendListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->accept();
    return;
  }
  mousePressEvent(event);
  const int row = GetSelectedRow();
  if (row >= 0) emit doubleClicked(m_model->index(row, 0));
}

void CExtendListCtrl::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::RightButton) {
    QTableView::mouseReleaseEvent(event);
    return;
  }
  event->accept();
  const QPoint at = event->position().toPoint();
  const int row = indexAt(at).row();
  if (row < 0) return;
  ExtendListRow* target = m_model->Row(row);
  ToggleAt(row, at);
  SelectRow(target);
  emit rightButtonNotify(row, viewport()->mapToGlobal(at));
}

void CExtendListCtrl::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
    const int row = GetSelectedRow();
    const ExtendListCell* cell = m_model->Cell(row, 0);
    if (cell) {
      for (int item = 0; item < cell->ItemCount; ++item) {
        if (cell->Items[item].CheckBoxId == 0) continue;
        ToggleCheck(row, 0, item);
        break;
      }
    }
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

void CExtendListCtrl::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  QScrollBar* bar = verticalScrollBar();
  if (delta == 0 || bar->maximum() <= bar->minimum()) {
    QTableView::wheelEvent(event);
    return;
  }
  bar->setValue(bar->value() + (delta > 0 ? -kLineStep : kLineStep));
  event->accept();
}

void CExtendListCtrl::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  horizontalScrollBar()->setValue(0);
  verticalScrollBar()->setValue(0);
}

void CExtendListCtrl::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  for (const QModelIndex& index : deselected.indexes())
    if (ExtendListRow* row = m_model->Row(index.row())) row->Selected = false;
  for (const QModelIndex& index : selected.indexes())
    if (ExtendListRow* row = m_model->Row(index.row())) row->Selected = true;
  QTableView::selectionChanged(selected, deselected);
}

void CExtendListCtrl::OnSectionResized(int column, int, int newWidth) {
  for (int i = 0; i < m_model->RowCount(); ++i) m_model->Row(i)->SetCellWidth(column, newWidth);
  RecalcScroll();
}
