#pragma once
// The list of partitions a scan found: one row per partition with a tick box on its name, its size,
// a suggestion, up to four ticked-or-not alternatives and the files and folders that agree with it.
// Ticking a name adds the partition's box to the layout picture of the same container; ticking an
// alternative is reported to the page.
//
// The rows live in a table model (CPartitionListModel): the name's tick is the cell's standard
// check state, the alternatives are roles of the option cell that a delegate paints as a row of
// tick boxes and toggles on a click. A view over the model shows them.

#include <QAbstractTableModel>
#include <QColor>
#include <QString>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "controls/PartitionLayoutFrame.h"

class CSearchedPartitionInfo;
class CPartitionLayoutView;

struct FoundPartitionRow {
  static constexpr int kMaxOptions = 4;
  struct Option {
    int32_t Checked = 0;
    QString Text;
  };
  QString Name;
  int32_t FileSystemType = 0;
  uint32_t BytesPerSector = 512;
  uint64_t FirstSector = 0;
  uint64_t LastSector = 0;  // inclusive
  double Score = 0.0;
  int32_t OptionCount = 0;  // 0..4
  Option Options[kMaxOptions];
  uint32_t FilesMatch = 0;
  uint32_t FoldersMatch = 0;
  int32_t Recommendation = 0;                   // 1 recommended (green), 2 brown, other black
  CSearchedPartitionInfo* Partition = nullptr;  // not owned
};

// The rows of the found-partition list. Columns: 0 name (ticked or not), 1 size, 2 suggestion,
// 3 alternatives, 4 files that match, 5 folders that match.
class CPartitionListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumnCount = 6;
  // Option cell: how many alternatives (int), their texts (QStringList).
  static constexpr int kOptionCountRole = Qt::UserRole + 1;
  static constexpr int kOptionTextsRole = Qt::UserRole + 2;
  // Option cell: the tick of alternative i (Qt::CheckState) is role kOptionCheckRole + i.
  static constexpr int kOptionCheckRole = Qt::UserRole + 10;

  explicit CPartitionListModel(QObject* parent = nullptr);

  // Appends a row; `checked` ticks its name. The texts are made here, once.
  void Append(const FoundPartitionRow& row, bool checked, double mediumThreshold);
  void Clear();

  const FoundPartitionRow* Row(int row) const;
  bool IsChecked(int row) const;
  int CheckedCount() const { return m_checkedCount; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 signals:
  // The name of `row` was ticked (true) or unticked.
  void nameCheckChanged(int row, bool checked);
  // Alternative `option` of `row` was ticked or unticked.
  void optionCheckChanged(int row, int option, bool checked);

 private:
  struct Entry {
    FoundPartitionRow record;
    bool checked = false;
    QString name;  // with "(recommended)" when ticked as it was added
    QString size;
    QString suggestion;
  };
  std::vector<Entry> m_entries;
  int m_checkedCount = 0;
  QStringList m_headers;
};

// Paints the alternatives of a row as tick boxes side by side and toggles one on a click.
class CPartitionOptionDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  // Where the tick box and text of alternative `option` lie in a cell drawn in `cell`.
  static QRect OptionRect(const QStyleOptionViewItem& style, const QRect& cell, const QModelIndex& index,
                          int option);

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

class CMultipleChoosePartitionListCtrl : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kListId = 1001;
  static constexpr int kColumnName = 0;
  static constexpr int kColumnSize = 1;
  static constexpr int kColumnSuggestion = 2;
  static constexpr int kColumnOption = 3;
  static const QColor kRecommendedColour;
  static const QColor kSecondColour;

  explicit CMultipleChoosePartitionListCtrl(QWidget* parent = nullptr);

  void AddPartition(const FoundPartitionRow& row);
  void DeleteAllPartitions();
  int GetPartitionCount() const { return m_model->rowCount(); }
  CSearchedPartitionInfo* GetPartitionAt(int row) const;
  const FoundPartitionRow* GetRow(int row) const { return m_model->Row(row); }
  int GetCheck(int row) const { return m_model->IsChecked(row) ? 1 : 0; }
  int GetCheckedCount() const { return m_model->CheckedCount(); }
  int GetCurSel() const;
  void SetCurSel(int row);
  void SetSizeScale(double threshold) { m_threshold = threshold; }
  double GetSizeScale() const { return m_threshold; }
  void SetAutoCheckLimit(int limit) { m_autoCheckLimit = limit; }
  int GetAutoCheckLimit() const { return m_autoCheckLimit; }
  // The view that shows the ticked partitions; null when none.
  void SetLayoutView(CPartitionLayoutView* view) { m_layoutView = view; }

  // A tick box of a cell changed: the name (column 0) adds or removes the layout box, another
  // column is reported through optionChanged.
  void OnCheckBoxChanged(int newCheck, int row, int column, int item);
  // Ticks or unticks a row's name as the user would.
  void SetCheck(int row, bool checked);
  // Ticks or unticks alternative `option` of a row as the user would.
  void SetOptionCheck(int row, int option, bool checked);
  bool GetOptionCheck(int row, int option) const;

  // The shown texts and the name's colour, for tests and the page.
  QString CellText(int row, int column) const;
  QColor NameColour(int row) const;
  QTableView* Table() const { return m_table; }
  CPartitionListModel* Model() const { return m_model; }
  // Where the user clicks to tick a row's name, or alternative `option` of it, in the view's
  // viewport; an empty rectangle for a row or alternative that is not shown.
  QRect NameCheckRect(int row) const;
  QRect OptionCheckRect(int row, int option) const;

  static PartitionBoxInfo BoxOf(const FoundPartitionRow& row);

 signals:
  // {row, column, alternative, new state} of an alternative's tick box.
  void optionChanged(int row, int column, int alternative, int checked);
  // A right click on a row.
  void rowRightClicked(const QPoint& globalPosition);

 private:
  CPartitionListModel* m_model;
  QTableView* m_table;
  CPartitionLayoutView* m_layoutView = nullptr;
  double m_threshold = 0.0;
  int m_autoCheckLimit = 4;
};
