#pragma once
// The base of the two pages that list the partitions a scan found, for ticking: above, the list of
// partitions with their alternatives (backup MFT, FAT copies); below, the picture of the source with
// the ticked partitions. The controllers hand the page the source and the found partitions; Next
// reads back which rows are ticked. The properties of the selected row open from the Properties
// button in the title band or with Alt+Enter in the list.

#include <QFont>
#include <cstdint>
#include <functional>
#include <vector>

#include "wizard/WizardPage.h"

class CSearchedPartitionInfo;
class CLostPartitionCtrlContainer;
class QPushButton;
class CMultipleChoosePartitionListCtrl;
struct DiskRecord;
struct VolumeRecord;

class CScanPartitionDeviceSelectPage : public CWizardPage {
  Q_OBJECT

 public:
  static constexpr int kCommandProperties = 32776;
  // How many recommended rows the list ticks by itself.
  static constexpr int kModeVolume = 1;
  static constexpr int kModeVolumeWithWholeDevice = 2;
  static constexpr int kModeDisk = 4;
  // Each family (NTFS, FAT, Ext2/3) shows at most this many rows.
  static constexpr int kMaxRowsPerFamily = 100;

  explicit CScanPartitionDeviceSelectPage(QWidget* parent = nullptr);

  // The first and last sector of a row: the record's start sector and start + sector count - 1.
  // Values from a state file can be anything; the sum wraps instead of overflowing.
  static void ExtRowSectors(const CSearchedPartitionInfo& record, int64_t* start, int64_t* end);
  // The recommendation a row shows for a record's mark: 1 (recommended) and 2 as they are, anything
  // else 0.
  static int RecommendationOf(int32_t mark);
  // The Suggestion column's medium threshold for these weights: the mean of the smallest and the
  // largest weight at most 0.99, or 0.5 when there is none.
  static double SuggestionThreshold(const std::vector<CSearchedPartitionInfo*>& partitions);

  // Clears the picture and shows a disk or disk image as its source.
  void ShowDiskHeader(const DiskRecord& disk);
  // Clears the picture and shows a volume or volume image as its source.
  void ShowVolumeHeader(const VolumeRecord& volume);
  // Refills the list with the partitions, in order; `mode` is the auto-tick limit (see kMode*).
  // Mode 1 first leaves only the heaviest partition recommended. The records stay the caller's.
  void FillPartitions(const std::vector<CSearchedPartitionInfo*>& partitions, int mode);
  void ShowForDisk(const std::vector<CSearchedPartitionInfo*>& partitions, const DiskRecord& disk);
  void ShowForVolume(const std::vector<CSearchedPartitionInfo*>& partitions, const VolumeRecord& volume);

  // The rows: count, tick state, ticked count, the record a row shows, the selected row (-1 none).
  int GetPartitionCount() const;
  int GetCheck(int row) const;
  int GetCheckedCount() const;
  CSearchedPartitionInfo* GetPartitionAt(int row) const;
  int GetCurSel() const;
  // The records of the ticked rows, in row order.
  std::vector<CSearchedPartitionInfo*> GetCheckedPartitions() const;

  // An alternative of a row was ticked or unticked: writes the choice into the row's record.
  void OnAlternativeChanged(int row, int column, int alternative, int checked);

  CLostPartitionCtrlContainer* Container() const { return m_container; }
  CMultipleChoosePartitionListCtrl* PartitionList() const;
  QPushButton* PropertiesButton() const { return m_properties; }

  void Layout(int cx, int cy) override;
  void Draw(QPainter* dc) override;
  bool OnCommand(int commandId) override;
  // Draws what a page adds over the list's frame; nothing here.
  virtual void DrawExtra(QPainter* dc);
  // The partition list's notice of a right click needs nothing from the page.
  int OnPartitionListNotify() { return 0; }

  // How a modal dialog is run; null runs it with exec(). Tests look at it and close it.
  using DialogRunner = std::function<void(class QDialog& dialog)>;
  void SetDialogRunner(DialogRunner runner) { m_dialogRunner = std::move(runner); }

 protected:
  const QFont& PageFont() const { return m_pageFont; }
  void RunDialog(QDialog& dialog);

 private:
  CLostPartitionCtrlContainer* m_container = nullptr;
  QPushButton* m_properties = nullptr;
  QFont m_pageFont;
  DialogRunner m_dialogRunner;
};
