#pragma once
// The list of partitions a scan found: one row per partition with a tick box on its name, its size,
// a suggestion, up to four ticked-or-not alternatives and the files and folders that agree with it.
// Ticking a name adds the partition's box to the layout picture of the same container; ticking an
// alternative is reported to the page.
//
// The table is an extended list (CExtendListCtrl): the name cell holds one tick box with the
// partition's icon and name, the option cell one tick box per alternative; the list tells this
// control of every click on a box (ICheckBoxNotify).

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "controls/ExtendListCtrl.h"
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

class CMultipleChoosePartitionListCtrl : public QWidget, public ICheckBoxNotify {
  Q_OBJECT

 public:
  static constexpr int kListId = 1001;
  static constexpr int kColumnName = 0;
  static constexpr int kColumnSize = 1;
  static constexpr int kColumnSuggestion = 2;
  static constexpr int kColumnOption = 3;
  static constexpr int kColumnCount = 6;
  static const QColor kRecommendedColour;
  static const QColor kSecondColour;

  explicit CMultipleChoosePartitionListCtrl(QWidget* parent = nullptr);

  void AddPartition(const FoundPartitionRow& row);
  void DeleteAllPartitions();
  int GetPartitionCount() const { return static_cast<int>(m_rows.size()); }
  CSearchedPartitionInfo* GetPartitionAt(int row) const;
  const FoundPartitionRow* GetRow(int row) const;
  int GetCheck(int row) const;
  int GetCheckedCount() const;
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
  void OnCheckBoxChanged(int newCheck, int row, int column, int item) override;
  // Ticks or unticks a row's name as the user would.
  void SetCheck(int row, bool checked);
  // Ticks or unticks alternative `option` of a row as the user would.
  void SetOptionCheck(int row, int option, bool checked);
  bool GetOptionCheck(int row, int option) const;

  // The shown texts and the name's colour, for tests and the page.
  QString CellText(int row, int column) const;
  QColor NameColour(int row) const;
  CExtendListCtrl* Table() const { return m_list; }
  CExtendListModel* Model() const { return m_list->Model(); }
  // Where the user clicks to tick a row's name, or alternative `option` of it, in the view's
  // viewport; an empty rectangle for a row or alternative that is not shown.
  QRect NameCheckRect(int row) const;
  QRect OptionCheckRect(int row, int option) const;

  static PartitionBoxInfo BoxOf(const FoundPartitionRow& row);

 signals:
  // {row, column, alternative, new state} of an alternative's tick box.
  void optionChanged(int row, int column, int alternative, int checked);
  // A right click on a row (the inner list's notice).
  void rowRightClicked(const QPoint& globalPosition);

 private:
  std::vector<FoundPartitionRow> m_rows;
  CExtendListCtrl* m_list;
  QPixmap m_icon;
  CPartitionLayoutView* m_layoutView = nullptr;
  double m_threshold = 0.0;
  int m_autoCheckLimit = 4;
};
