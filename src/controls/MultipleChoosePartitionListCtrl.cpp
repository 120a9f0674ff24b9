#include "controls/MultipleChoosePartitionListCtrl.h"

#include <QVBoxLayout>
#include <algorithm>

#include "controls/Formatting.h"
#include "ui/Resources.h"

const QColor CMultipleChoosePartitionListCtrl::kRecommendedColour(0, 160, 0);
const QColor CMultipleChoosePartitionListCtrl::kSecondColour(160, 109, 0);

namespace {

constexpr int kRowHeight = 20;
constexpr int kPartitionIcon = 132;

const struct {
  uint32_t id;
  const char* text;
  int width;
  CExtendListCtrl::ARRANGE_FORMAT format;
} kColumns[CMultipleChoosePartitionListCtrl::kColumnCount] = {
    {322, "Partition", 160, CExtendListCtrl::ArrangeLeft},
    {331, "Size", 80, CExtendListCtrl::ArrangeRight},
    {332, "Suggestion", 80, CExtendListCtrl::ArrangeCenter},
    {333, "Option", 150, CExtendListCtrl::ArrangeLeft},
    {334, "Files Match", 80, CExtendListCtrl::ArrangeCenter},
    {335, "Folder Match", 80, CExtendListCtrl::ArrangeCenter}};

// A cell of one text without a box.
ExtendListCell TextCell(const QString& text) {
  ExtendListCell cell;
  cell.ItemCount = 1;
  cell.Items[0].Text = text;
  return cell;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// The control

CMultipleChoosePartitionListCtrl::CMultipleChoosePartitionListCtrl(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor(255, 255, 168));
  setPalette(palette);
  m_rows.reserve(2000);
  m_icon = corvale::ui::LoadBitmapResource(kPartitionIcon);
  m_list = new CExtendListCtrl(this);
  m_list->setObjectName(QString::number(kListId));
  for (const auto& column : kColumns)
    m_list->InsertColumn(corvale::ui::StringOr(column.id, column.text), column.width, column.format);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_list);
  connect(m_list, &CExtendListCtrl::rightButtonNotify, this,
          [this](int, const QPoint& at) { emit rowRightClicked(at); });
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
  m_rows.push_back(record);
  FoundPartitionRow& kept = m_rows.back();
  kept.OptionCount = std::clamp(record.OptionCount, 0, FoundPartitionRow::kMaxOptions);
  const int row = m_list->AddRow(kRowHeight);

  ExtendListCell name;
  name.ItemCount = 1;
  name.Items[0].CheckBoxId = 1;
  name.Items[0].Check = tick ? 1 : 0;
  name.Items[0].Icon = QIcon(m_icon);
  name.Items[0].Text = record.Name;
  if (tick) name.Items[0].Text += corvale::ui::StringOr(436, "(recommended)");
  name.Items[0].Notifier = this;
  name.TextColour = record.Recommendation == 1   ? kRecommendedColour
                    : record.Recommendation == 2 ? kSecondColour
                                                 : QColor(Qt::black);
  m_list->AddCell(row, name);

  const uint64_t sectors =
      record.LastSector >= record.FirstSector ? record.LastSector - record.FirstSector + 1 : 0;
  m_list->AddCell(row,
                  TextCell(QString::fromStdString(FormatSectorSize(
                      static_cast<int64_t>(std::min<uint64_t>(sectors, INT64_MAX)), record.BytesPerSector))));
  m_list->AddCell(row, TextCell(record.Score > 0.99           ? corvale::ui::StringOr(429, "High")
                                : record.Score >= m_threshold ? corvale::ui::StringOr(430, "Medium")
                                                              : corvale::ui::StringOr(431, "Low")));
  ExtendListCell options;
  options.ItemCount = kept.OptionCount;
  for (int i = 0; i < kept.OptionCount; ++i) {
    options.Items[i].CheckBoxId = i + 1;
    options.Items[i].Check = kept.Options[i].Checked ? 1 : 0;
    options.Items[i].Text = kept.Options[i].Text;
    options.Items[i].Notifier = this;
  }
  m_list->AddCell(row, options);
  m_list->AddCell(row, TextCell(QString::number(record.FilesMatch)));
  m_list->AddCell(row, TextCell(QString::number(record.FoldersMatch)));

  // The name column widens to the longest name (with its box and icon), so that no name is cut short
  // until the user narrows the column.
  const int nameWidth = m_list->CellWidthNeeded(row, kColumnName);
  if (m_list->columnWidth(kColumnName) < nameWidth) m_list->setColumnWidth(kColumnName, nameWidth);
  if (tick) OnCheckBoxChanged(1, row, kColumnName, 0);
}

void CMultipleChoosePartitionListCtrl::DeleteAllPartitions() {
  m_list->DeleteAllRows();
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
  const ExtendListRow* shown = m_list->GetRow(row);
  return shown ? shown->GetFirstCheck() : 0;
}

int CMultipleChoosePartitionListCtrl::GetCheckedCount() const {
  int ticked = 0;
  for (int row = 0; row < GetPartitionCount(); ++row)
    if (GetCheck(row)) ++ticked;
  return ticked;
}

int CMultipleChoosePartitionListCtrl::GetCurSel() const { return m_list->GetSelectedRow(); }

void CMultipleChoosePartitionListCtrl::SetCurSel(int row) {
  if (ExtendListRow* shown = m_list->GetRow(row))
    m_list->SelectRow(shown);
  else
    m_list->clearSelection();
}

void CMultipleChoosePartitionListCtrl::SetCheck(int row, bool checked) {
  m_list->SetCheck(row, kColumnName, 0, checked ? 1 : 0);
}

void CMultipleChoosePartitionListCtrl::SetOptionCheck(int row, int option, bool checked) {
  const FoundPartitionRow* record = GetRow(row);
  if (record && option >= 0 && option < record->OptionCount)
    m_list->SetCheck(row, kColumnOption, option, checked ? 1 : 0);
}

bool CMultipleChoosePartitionListCtrl::GetOptionCheck(int row, int option) const {
  const FoundPartitionRow* record = GetRow(row);
  return record && option >= 0 && option < record->OptionCount && record->Options[option].Checked != 0;
}

void CMultipleChoosePartitionListCtrl::OnCheckBoxChanged(int newCheck, int row, int column, int item) {
  if (row < 0 || row >= GetPartitionCount()) return;
  FoundPartitionRow& record = m_rows[static_cast<size_t>(row)];
  if (column == kColumnName) {
    if (!m_layoutView) return;
    if (newCheck)
      m_layoutView->AddPartitionBox(BoxOf(record));
    else
      m_layoutView->RemovePartitionBox(BoxOf(record));
    return;
  }
  if (column == kColumnOption && item >= 0 && item < record.OptionCount)
    record.Options[item].Checked = newCheck ? 1 : 0;
  emit optionChanged(row, column, item, newCheck);
}

QString CMultipleChoosePartitionListCtrl::CellText(int row, int column) const {
  if (!GetRow(row)) return {};
  return m_list->Model()->index(row, column).data().toString();
}

QColor CMultipleChoosePartitionListCtrl::NameColour(int row) const {
  if (!GetRow(row)) return {};
  return m_list->Model()->index(row, kColumnName).data(Qt::ForegroundRole).value<QColor>();
}

QRect CMultipleChoosePartitionListCtrl::NameCheckRect(int row) const {
  return m_list->CheckBoxRect(row, kColumnName, 0);
}

QRect CMultipleChoosePartitionListCtrl::OptionCheckRect(int row, int option) const {
  const FoundPartitionRow* record = GetRow(row);
  if (!record || option < 0 || option >= record->OptionCount) return {};
  return m_list->CheckBoxRect(row, kColumnOption, option);
}
