#pragma once
// Read-only property lists as name/value rows: CPropertiesDlg for one node of a built file tree
// (where its data lies, its state), CScanPartitionPropertiesDlg for a found partition (the evidence
// for it and its geometry) or for an area of a device (its start and length). Both close with the
// close box or Escape.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <utility>
#include <vector>

class CFileNode;
class CSearchedPartitionInfo;
class QTreeWidget;

// The name/value rows the dialogs show, top to bottom.
using PropertyRows = std::vector<std::pair<QString, QString>>;

class CPropertiesDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kListId = 1133;
  explicit CPropertiesDlg(QWidget* parent = nullptr);
  void SetFileNode(CFileNode* node);
  // The rows for a node (empty without file properties).
  static PropertyRows RowsFor(CFileNode* node);
  QTreeWidget* List() const { return m_list; }

 private:
  QTreeWidget* m_list;
};

// A device area: its first sector and its length in sectors.
struct DeviceAreaRecord {
  int64_t StartSector = 0;
  int64_t SectorCount = 0;
};

class CScanPartitionPropertiesDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kListId = 1133;
  explicit CScanPartitionPropertiesDlg(QWidget* parent = nullptr);
  void SetPartitionInfo(CSearchedPartitionInfo* info);
  void SetDevice(const DeviceAreaRecord& area);
  static PropertyRows RowsFor(CSearchedPartitionInfo* info);
  static PropertyRows RowsFor(const DeviceAreaRecord& area);
  // The file-system text of a type code (kept to 19 characters).
  static QString GetFileSystemTypeText(int32_t code);
  QTreeWidget* List() const { return m_list; }

 private:
  void Fill(const PropertyRows& rows);
  QTreeWidget* m_list;
};

// Fills a two-column list with rows.
void FillPropertyList(QTreeWidget* list, const PropertyRows& rows);
