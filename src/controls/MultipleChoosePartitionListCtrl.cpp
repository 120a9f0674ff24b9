#include "controls/MultipleChoosePartitionListCtrl.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QResizeEvent>
#include <QTableWidget>
#include <algorithm>

#include "controls/Formatting.h"
#include "ui/Resources.h"

const QColor CMultipleChoosePartitionListCtrl::kRecommendedColour(0, 160, 0);
const QColor CMultipleChoosePartitionListCtrl::kSecondColour(160, 109, 0);

namespace {

QString StringOr(uint32_t id, const char* fallback) {
  QString text = corvale::ui::LoadStringResource(id);
  return text.isEmpty() ? QString::fromUtf8(fallback) : text;
}

constexpr int kColumnCount = 6;
constexpr int kRowHeight = 20;

}  // namespace

CMultipleChoosePartitionListCtrl::CMultipleChoosePartitionListCtrl(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor(255, 255, 168));
  setPalette(palette);
  m_rows.reserve(2000);
  m_table = new QTableWidget(0, kColumnCount, this);
  m_table->setObjectName(QString::number(kListId));
  m_table->setGeometry(0, 0, 10, 10);
  m_table->verticalHeader()->hide();
  m_table->verticalHeader()->setDefaultSectionSize(kRowHeight);
  m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_table->setSelectionMode(QAbstractItemView::SingleSelection);
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->setShowGrid(false);
  m_table->setContextMenuPolicy(Qt::CustomContextMenu);
  static const struct {
    uint32_t id;
    const char* text;
    int width;
  } kColumns[kColumnCount] = {{322, "Partition", 160}, {331, "Size", 80},        {332, "Suggestion", 80},
                              {333, "Option", 150},    {334, "Files Match", 80}, {335, "Folder Match", 80}};
  QStringList labels;
  for (const auto& column : kColumns) labels << StringOr(column.id, column.text);
  m_table->setHorizontalHeaderLabels(labels);
  for (int i = 0; i < kColumnCount; ++i) m_table->setColumnWidth(i, kColumns[i].width);
  connect(m_table, &QTableWidget::itemChanged, this, &CMultipleChoosePartitionListCtrl::OnItemChanged);
  connect(m_table, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { emit rowRightClicked(m_table->viewport()->mapToGlobal(at)); });
}

void CMultipleChoosePartitionListCtrl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  m_table->setGeometry(rect());
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
  m_rows.push_back(record);
  FoundPartitionRow& row = m_rows.back();
  row.OptionCount = std::clamp(row.OptionCount, 0, FoundPartitionRow::kMaxOptions);
  const int index = static_cast<int>(m_rows.size()) - 1;
  m_filling = true;
  m_table->insertRow(index);

  const bool tick = row.Recommendation == 1 && GetCheckedCount() < m_autoCheckLimit;
  QString name = row.Name;
  if (tick) name += StringOr(436, "(recommended)");
  auto* nameItem = new QTableWidgetItem(corvale::ui::LoadBitmapResource(132), name);
  nameItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  nameItem->setCheckState(tick ? Qt::Checked : Qt::Unchecked);
  nameItem->setForeground(row.Recommendation == 1   ? kRecommendedColour
                          : row.Recommendation == 2 ? kSecondColour
                                                    : QColor(Qt::black));
  m_table->setItem(index, kColumnName, nameItem);
  // The name column widens to the longest name (with its box and icon), so that no name is cut short
  // until the user narrows the column.
  const int nameWidth = m_table->sizeHintForIndex(m_table->model()->index(index, kColumnName)).width();
  if (m_table->columnWidth(kColumnName) < nameWidth) m_table->setColumnWidth(kColumnName, nameWidth);

  const uint64_t sectors = row.LastSector >= row.FirstSector ? row.LastSector - row.FirstSector + 1 : 0;
  auto* size = new QTableWidgetItem(
      QString::fromStdString(FormatSectorSize(static_cast<int64_t>(sectors), row.BytesPerSector)));
  size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  m_table->setItem(index, kColumnSize, size);

  QString suggestion = row.Score > 0.99           ? StringOr(429, "High")
                       : row.Score >= m_threshold ? StringOr(430, "Medium")
                                                  : StringOr(431, "Low");
  auto* suggestionItem = new QTableWidgetItem(suggestion);
  suggestionItem->setTextAlignment(Qt::AlignCenter);
  m_table->setItem(index, kColumnSuggestion, suggestionItem);

  auto* optionItem = new QTableWidgetItem();
  m_table->setItem(index, kColumnOption, optionItem);
  if (row.OptionCount > 0) {
    auto* cell = new QWidget(m_table);
    auto* layout = new QHBoxLayout(cell);
    layout->setContentsMargins(2, 0, 2, 0);
    for (int i = 0; i < row.OptionCount; ++i) {
      auto* box = new QCheckBox(row.Options[i].Text, cell);
      box->setObjectName(QStringLiteral("option%1").arg(i));
      box->setChecked(row.Options[i].Checked != 0);
      connect(box, &QCheckBox::toggled, this, [this, box, i](bool on) {
        // The row may have moved since the box was made; find it by its cell.
        for (int r = 0; r < m_table->rowCount(); ++r)
          if (m_table->cellWidget(r, kColumnOption) == box->parentWidget()) {
            m_rows[static_cast<size_t>(r)].Options[i].Checked = on ? 1 : 0;
            OnCheckBoxChanged(on ? 1 : 0, r, kColumnOption, i);
            return;
          }
      });
      layout->addWidget(box);
    }
    layout->addStretch(1);
    m_table->setCellWidget(index, kColumnOption, cell);
  }

  auto* files = new QTableWidgetItem(QString::number(row.FilesMatch));
  files->setTextAlignment(Qt::AlignCenter);
  m_table->setItem(index, 4, files);
  auto* folders = new QTableWidgetItem(QString::number(row.FoldersMatch));
  folders->setTextAlignment(Qt::AlignCenter);
  m_table->setItem(index, 5, folders);
  m_filling = false;

  if (tick) OnCheckBoxChanged(1, index, kColumnName, 0);
}

void CMultipleChoosePartitionListCtrl::DeleteAllPartitions() {
  m_filling = true;
  m_table->setRowCount(0);
  m_filling = false;
  m_rows.clear();
  update();
}

const FoundPartitionRow* CMultipleChoosePartitionListCtrl::GetRow(int row) const {
  if (row < 0 || row >= GetPartitionCount()) return nullptr;
  return &m_rows[static_cast<size_t>(row)];
}

CSearchedPartitionInfo* CMultipleChoosePartitionListCtrl::GetPartitionAt(int row) const {
  const FoundPartitionRow* record = GetRow(row);
  return record ? record->Partition : nullptr;
}

int CMultipleChoosePartitionListCtrl::GetCheck(int row) const {
  if (!GetRow(row)) return 0;
  QTableWidgetItem* item = m_table->item(row, kColumnName);
  return item && item->checkState() == Qt::Checked ? 1 : 0;
}

int CMultipleChoosePartitionListCtrl::GetCheckedCount() const {
  int count = 0;
  for (int row = 0; row < m_table->rowCount(); ++row) count += GetCheck(row);
  return count;
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
  if (QTableWidgetItem* item = GetRow(row) ? m_table->item(row, kColumnName) : nullptr)
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void CMultipleChoosePartitionListCtrl::SetOptionCheck(int row, int option, bool checked) {
  QWidget* cell = GetRow(row) ? m_table->cellWidget(row, kColumnOption) : nullptr;
  if (auto* box = cell ? cell->findChild<QCheckBox*>(QStringLiteral("option%1").arg(option)) : nullptr)
    box->setChecked(checked);
}

bool CMultipleChoosePartitionListCtrl::GetOptionCheck(int row, int option) const {
  const FoundPartitionRow* record = GetRow(row);
  return record && option >= 0 && option < record->OptionCount && record->Options[option].Checked != 0;
}

void CMultipleChoosePartitionListCtrl::OnItemChanged(QTableWidgetItem* item) {
  if (m_filling || !item || item->column() != kColumnName) return;
  OnCheckBoxChanged(item->checkState() == Qt::Checked ? 1 : 0, item->row(), kColumnName, 0);
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
  if (column == kColumnOption) {
    QStringList texts;
    const FoundPartitionRow& record = m_rows[static_cast<size_t>(row)];
    for (int i = 0; i < record.OptionCount; ++i) texts << record.Options[i].Text;
    return texts.join(QLatin1Char(' '));
  }
  QTableWidgetItem* item = m_table->item(row, column);
  return item ? item->text() : QString();
}

QColor CMultipleChoosePartitionListCtrl::NameColour(int row) const {
  QTableWidgetItem* item = GetRow(row) ? m_table->item(row, kColumnName) : nullptr;
  return item ? item->foreground().color() : QColor();
}
