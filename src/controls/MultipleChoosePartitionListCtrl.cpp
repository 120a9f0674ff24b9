#include "controls/MultipleChoosePartitionListCtrl.h"

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

#include "controls/Formatting.h"
#include "ui/Resources.h"

const QColor CMultipleChoosePartitionListCtrl::kRecommendedColour(0, 160, 0);
const QColor CMultipleChoosePartitionListCtrl::kSecondColour(160, 109, 0);

namespace {

constexpr int kRowHeight = 20;
constexpr int kPartitionIcon = 132;

// Gaps of the alternatives' cell: before the first box, between a box and its text, between two
// alternatives.
constexpr int kOptionMargin = 2;
constexpr int kOptionTextGap = 4;
constexpr int kOptionSpacing = 8;

const struct {
  uint32_t id;
  const char* text;
  int width;
} kColumns[CPartitionListModel::kColumnCount] = {{322, "Partition", 160},  {331, "Size", 80},
                                                 {332, "Suggestion", 80},  {333, "Option", 150},
                                                 {334, "Files Match", 80}, {335, "Folder Match", 80}};

// The view of the list: it lets the control ask where a row's boxes are drawn, with the style
// options the view itself paints with.
class CPartitionTableView : public QTableView {
 public:
  using QTableView::QTableView;

  QStyleOptionViewItem StyleOptionFor(const QModelIndex& index) const {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    option.index = index;
    return option;
  }
};

}  // namespace

// ---------------------------------------------------------------------------------------------------
// The model

CPartitionListModel::CPartitionListModel(QObject* parent) : QAbstractTableModel(parent) {
  m_entries.reserve(2000);
  for (const auto& column : kColumns) m_headers << corvale::ui::StringOr(column.id, column.text);
}

void CPartitionListModel::Append(const FoundPartitionRow& row, bool checked, double mediumThreshold) {
  Entry entry;
  entry.record = row;
  entry.record.OptionCount = std::clamp(row.OptionCount, 0, FoundPartitionRow::kMaxOptions);
  entry.checked = checked;
  entry.name = row.Name;
  if (checked) entry.name += corvale::ui::StringOr(436, "(recommended)");
  const uint64_t sectors = row.LastSector >= row.FirstSector ? row.LastSector - row.FirstSector + 1 : 0;
  entry.size = QString::fromStdString(
      FormatSectorSize(static_cast<int64_t>(std::min<uint64_t>(sectors, INT64_MAX)), row.BytesPerSector));
  entry.suggestion = row.Score > 0.99               ? corvale::ui::StringOr(429, "High")
                     : row.Score >= mediumThreshold ? corvale::ui::StringOr(430, "Medium")
                                                    : corvale::ui::StringOr(431, "Low");
  const int at = static_cast<int>(m_entries.size());
  beginInsertRows(QModelIndex(), at, at);
  m_entries.push_back(std::move(entry));
  if (checked) ++m_checkedCount;
  endInsertRows();
}

void CPartitionListModel::Clear() {
  beginResetModel();
  m_entries.clear();
  m_checkedCount = 0;
  endResetModel();
}

const FoundPartitionRow* CPartitionListModel::Row(int row) const {
  if (row < 0 || row >= static_cast<int>(m_entries.size())) return nullptr;
  return &m_entries[static_cast<size_t>(row)].record;
}

bool CPartitionListModel::IsChecked(int row) const {
  return Row(row) != nullptr && m_entries[static_cast<size_t>(row)].checked;
}

int CPartitionListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
}

int CPartitionListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant CPartitionListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.parent().isValid() || !Row(index.row()) || index.column() < 0 ||
      index.column() >= kColumnCount)
    return {};
  const Entry& entry = m_entries[static_cast<size_t>(index.row())];
  const FoundPartitionRow& row = entry.record;
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
      switch (column) {
        case CMultipleChoosePartitionListCtrl::kColumnName:
          return entry.name;
        case CMultipleChoosePartitionListCtrl::kColumnSize:
          return entry.size;
        case CMultipleChoosePartitionListCtrl::kColumnSuggestion:
          return entry.suggestion;
        case CMultipleChoosePartitionListCtrl::kColumnOption:
          return QString();
        case 4:
          return QString::number(row.FilesMatch);
        default:
          return QString::number(row.FoldersMatch);
      }
    case Qt::DecorationRole:
      if (column == CMultipleChoosePartitionListCtrl::kColumnName)
        return corvale::ui::LoadBitmapResource(kPartitionIcon);
      return {};
    case Qt::CheckStateRole:
      if (column == CMultipleChoosePartitionListCtrl::kColumnName)
        return static_cast<int>(entry.checked ? Qt::Checked : Qt::Unchecked);
      return {};
    case Qt::ForegroundRole:
      if (column != CMultipleChoosePartitionListCtrl::kColumnName) return {};
      return row.Recommendation == 1   ? CMultipleChoosePartitionListCtrl::kRecommendedColour
             : row.Recommendation == 2 ? CMultipleChoosePartitionListCtrl::kSecondColour
                                       : QColor(Qt::black);
    case Qt::TextAlignmentRole:
      if (column == CMultipleChoosePartitionListCtrl::kColumnSize)
        return static_cast<int>(Qt::AlignRight | Qt::AlignVCenter);
      if (column == CMultipleChoosePartitionListCtrl::kColumnSuggestion || column >= 4)
        return static_cast<int>(Qt::AlignCenter);
      return static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter);
    case kOptionCountRole:
      return column == CMultipleChoosePartitionListCtrl::kColumnOption ? QVariant(row.OptionCount)
                                                                       : QVariant();
    case kOptionTextsRole: {
      if (column != CMultipleChoosePartitionListCtrl::kColumnOption) return {};
      QStringList texts;
      for (int i = 0; i < row.OptionCount; ++i) texts << row.Options[i].Text;
      return texts;
    }
    default:
      if (column == CMultipleChoosePartitionListCtrl::kColumnOption && role >= kOptionCheckRole &&
          role < kOptionCheckRole + row.OptionCount)
        return static_cast<int>(row.Options[role - kOptionCheckRole].Checked ? Qt::Checked : Qt::Unchecked);
      return {};
  }
}

bool CPartitionListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.parent().isValid() || !Row(index.row())) return false;
  Entry& entry = m_entries[static_cast<size_t>(index.row())];
  const bool on = value.toInt() == Qt::Checked;
  if (index.column() == CMultipleChoosePartitionListCtrl::kColumnName && role == Qt::CheckStateRole) {
    if (entry.checked == on) return true;
    entry.checked = on;
    m_checkedCount += on ? 1 : -1;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit nameCheckChanged(index.row(), on);
    return true;
  }
  const int option = role - kOptionCheckRole;
  if (index.column() == CMultipleChoosePartitionListCtrl::kColumnOption && option >= 0 &&
      option < entry.record.OptionCount) {
    FoundPartitionRow::Option& alternative = entry.record.Options[option];
    if ((alternative.Checked != 0) == on) return true;
    alternative.Checked = on ? 1 : 0;
    emit dataChanged(index, index, {role});
    emit optionCheckChanged(index.row(), option, on);
    return true;
  }
  return false;
}

Qt::ItemFlags CPartitionListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == CMultipleChoosePartitionListCtrl::kColumnName) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

QVariant CPartitionListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) return m_headers[section];
  if (role == Qt::TextAlignmentRole) return static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

// ---------------------------------------------------------------------------------------------------
// The alternatives' cell

QRect CPartitionOptionDelegate::OptionRect(const QStyleOptionViewItem& style, const QRect& cell,
                                           const QModelIndex& index, int option) {
  const QStringList texts = index.data(CPartitionListModel::kOptionTextsRole).toStringList();
  if (option < 0 || option >= texts.size()) return {};
  const QStyle* s = style.widget ? style.widget->style() : QApplication::style();
  const int box = s->pixelMetric(QStyle::PM_IndicatorWidth, &style, style.widget);
  const QFontMetrics metrics(style.font);
  int x = cell.left() + kOptionMargin;
  for (int i = 0;; ++i) {
    const int width = box + kOptionTextGap + metrics.horizontalAdvance(texts[i]);
    if (i == option) return QRect(x, cell.top(), width, cell.height());
    x += width + kOptionSpacing;
  }
}

void CPartitionOptionDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
  QStyleOptionViewItem cell = option;
  initStyleOption(&cell, index);
  const QStyle* style = cell.widget ? cell.widget->style() : QApplication::style();
  style->drawPrimitive(QStyle::PE_PanelItemViewItem, &cell, painter, cell.widget);
  const int count = index.data(CPartitionListModel::kOptionCountRole).toInt();
  const QStringList texts = index.data(CPartitionListModel::kOptionTextsRole).toStringList();
  const int boxWidth = style->pixelMetric(QStyle::PM_IndicatorWidth, &cell, cell.widget);
  const int boxHeight = style->pixelMetric(QStyle::PM_IndicatorHeight, &cell, cell.widget);
  painter->save();
  painter->setClipRect(option.rect);
  for (int i = 0; i < count && i < texts.size(); ++i) {
    const QRect area = OptionRect(cell, option.rect, index, i);
    QStyleOptionButton box;
    box.initFrom(cell.widget);
    box.rect = QRect(area.left(), area.top() + (area.height() - boxHeight) / 2, boxWidth, boxHeight);
    const bool ticked = index.data(CPartitionListModel::kOptionCheckRole + i).toInt() == Qt::Checked;
    box.state = (cell.state & QStyle::State_Enabled) | (ticked ? QStyle::State_On : QStyle::State_Off);
    style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, cell.widget);
    const QRect text = area.adjusted(boxWidth + kOptionTextGap, 0, 0, 0);
    painter->setPen(
        cell.palette.color(cell.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, texts[i]);
  }
  painter->restore();
}

QSize CPartitionOptionDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const int count = index.data(CPartitionListModel::kOptionCountRole).toInt();
  if (count <= 0) return QStyledItemDelegate::sizeHint(option, index);
  const QRect last = OptionRect(option, QRect(0, 0, 0, kRowHeight), index, count - 1);
  return QSize(last.right() + 1 + kOptionMargin, kRowHeight);
}

bool CPartitionOptionDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                           const QStyleOptionViewItem& option, const QModelIndex& index) {
  const QEvent::Type type = event->type();
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
      type != QEvent::MouseButtonDblClick)
    return QStyledItemDelegate::editorEvent(event, model, option, index);
  const auto* mouse = static_cast<QMouseEvent*>(event);
  if (mouse->button() != Qt::LeftButton) return false;
  const int count = index.data(CPartitionListModel::kOptionCountRole).toInt();
  for (int i = 0; i < count; ++i) {
    if (!OptionRect(option, option.rect, index, i).contains(mouse->position().toPoint())) continue;
    // The press and a double click's second press are taken so that only the release toggles.
    if (type != QEvent::MouseButtonRelease) return true;
    const bool ticked = index.data(CPartitionListModel::kOptionCheckRole + i).toInt() == Qt::Checked;
    return model->setData(index, static_cast<int>(ticked ? Qt::Unchecked : Qt::Checked),
                          CPartitionListModel::kOptionCheckRole + i);
  }
  return false;
}

// ---------------------------------------------------------------------------------------------------
// The control

CMultipleChoosePartitionListCtrl::CMultipleChoosePartitionListCtrl(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor(255, 255, 168));
  setPalette(palette);
  m_model = new CPartitionListModel(this);
  m_table = new CPartitionTableView(this);
  m_table->setObjectName(QString::number(kListId));
  m_table->setModel(m_model);
  m_table->setItemDelegateForColumn(kColumnOption, new CPartitionOptionDelegate(m_table));
  m_table->verticalHeader()->hide();
  m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_table->verticalHeader()->setDefaultSectionSize(kRowHeight);
  m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_table->setSelectionMode(QAbstractItemView::SingleSelection);
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->setShowGrid(false);
  m_table->setWordWrap(false);
  m_table->setContextMenuPolicy(Qt::CustomContextMenu);
  for (int i = 0; i < CPartitionListModel::kColumnCount; ++i) m_table->setColumnWidth(i, kColumns[i].width);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_table);

  connect(m_model, &CPartitionListModel::nameCheckChanged, this,
          [this](int row, bool on) { OnCheckBoxChanged(on ? 1 : 0, row, kColumnName, 0); });
  connect(m_model, &CPartitionListModel::optionCheckChanged, this, [this](int row, int option, bool on) {
    OnCheckBoxChanged(on ? 1 : 0, row, kColumnOption, option);
  });
  connect(m_table, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { emit rowRightClicked(m_table->viewport()->mapToGlobal(at)); });
}

PartitionBoxInfo CMultipleChoosePartitionListCtrl::BoxOf(const FoundPartitionRow& row) {
  PartitionBoxInfo box;
  box.Name = row.Name;
  box.FileSystemType = row.FileSystemType;
  box.FirstSector = row.FirstSector;
  box.LastSector = row.LastSector;
  box.BytesPerSector = row.BytesPerSector;
  box.Score = row.Score;
  return box;
}

void CMultipleChoosePartitionListCtrl::AddPartition(const FoundPartitionRow& record) {
  const bool tick = record.Recommendation == 1 && GetCheckedCount() < m_autoCheckLimit;
  m_model->Append(record, tick, m_threshold);
  // The name column widens to the longest name (with its box and icon), so that no name is cut short
  // until the user narrows the column.
  const int row = GetPartitionCount() - 1;
  const int nameWidth = m_table->sizeHintForIndex(m_model->index(row, kColumnName)).width();
  if (m_table->columnWidth(kColumnName) < nameWidth) m_table->setColumnWidth(kColumnName, nameWidth);
  if (tick) OnCheckBoxChanged(1, row, kColumnName, 0);
}

void CMultipleChoosePartitionListCtrl::DeleteAllPartitions() {
  m_model->Clear();
  update();
}

CSearchedPartitionInfo* CMultipleChoosePartitionListCtrl::GetPartitionAt(int row) const {
  const FoundPartitionRow* record = GetRow(row);
  return record ? record->Partition : nullptr;
}

int CMultipleChoosePartitionListCtrl::GetCurSel() const {
  const auto rows = m_table->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void CMultipleChoosePartitionListCtrl::SetCurSel(int row) {
  if (GetRow(row))
    m_table->selectRow(row);
  else
    m_table->clearSelection();
}

void CMultipleChoosePartitionListCtrl::SetCheck(int row, bool checked) {
  if (GetRow(row))
    m_model->setData(m_model->index(row, kColumnName),
                     static_cast<int>(checked ? Qt::Checked : Qt::Unchecked), Qt::CheckStateRole);
}

void CMultipleChoosePartitionListCtrl::SetOptionCheck(int row, int option, bool checked) {
  if (GetRow(row))
    m_model->setData(m_model->index(row, kColumnOption),
                     static_cast<int>(checked ? Qt::Checked : Qt::Unchecked),
                     CPartitionListModel::kOptionCheckRole + option);
}

bool CMultipleChoosePartitionListCtrl::GetOptionCheck(int row, int option) const {
  const FoundPartitionRow* record = GetRow(row);
  return record && option >= 0 && option < record->OptionCount && record->Options[option].Checked != 0;
}

void CMultipleChoosePartitionListCtrl::OnCheckBoxChanged(int newCheck, int row, int column, int item) {
  const FoundPartitionRow* record = GetRow(row);
  if (!record) return;
  if (column == kColumnName) {
    if (!m_layoutView) return;
    if (newCheck)
      m_layoutView->AddPartitionBox(BoxOf(*record));
    else
      m_layoutView->RemovePartitionBox(BoxOf(*record));
    return;
  }
  emit optionChanged(row, column, item, newCheck);
}

QString CMultipleChoosePartitionListCtrl::CellText(int row, int column) const {
  if (!GetRow(row)) return {};
  if (column == kColumnOption)
    return m_model->index(row, column).data(CPartitionListModel::kOptionTextsRole).toStringList().join(' ');
  return m_model->index(row, column).data().toString();
}

QColor CMultipleChoosePartitionListCtrl::NameColour(int row) const {
  if (!GetRow(row)) return {};
  return m_model->index(row, kColumnName).data(Qt::ForegroundRole).value<QColor>();
}

QRect CMultipleChoosePartitionListCtrl::NameCheckRect(int row) const {
  if (!GetRow(row)) return {};
  const auto* view = static_cast<const CPartitionTableView*>(m_table);
  QStyleOptionViewItem option = view->StyleOptionFor(m_model->index(row, kColumnName));
  option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay |
                     QStyleOptionViewItem::HasDecoration;
  return m_table->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, m_table);
}

QRect CMultipleChoosePartitionListCtrl::OptionCheckRect(int row, int option) const {
  if (!GetRow(row)) return {};
  const QModelIndex index = m_model->index(row, kColumnOption);
  const auto* view = static_cast<const CPartitionTableView*>(m_table);
  const QStyleOptionViewItem style = view->StyleOptionFor(index);
  return CPartitionOptionDelegate::OptionRect(style, style.rect, index, option);
}
