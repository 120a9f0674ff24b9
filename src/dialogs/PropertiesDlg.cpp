#include "dialogs/PropertiesDlg.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cinttypes>

#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/SearchedPartitionInfo.h"
#include "fat/FATFileProperties.h"
#include "fat/FATSearchedPartitionInfo.h"
#include "ntfs/NTFSFileProperties.h"
#include "ntfs/SearchedNTFSPartitionInfo.h"
#include "ui/Resources.h"

namespace {

QString Number(int64_t value) { return QString::number(static_cast<qlonglong>(value)); }
QString Unsigned(uint64_t value) { return QString::number(static_cast<qulonglong>(value)); }

QString YesNo(bool on) { return on ? corvale::ui::StringOr(366, "Yes") : corvale::ui::StringOr(367, "No"); }
QString YesDash(bool on) { return on ? corvale::ui::StringOr(366, "Yes") : QStringLiteral("-"); }

// "start: length - start: length." for every run.
QString RunsText(IDataRunList& runs) {
  QStringList parts;
  for (const DataRun* run = runs.GetFirst(); run; run = runs.GetNext())
    parts << QStringLiteral("%1: %2").arg(Unsigned(run->start), Unsigned(run->length));
  return parts.join(QStringLiteral(" - ")) + QLatin1Char('.');
}

void AddStateRows(PropertyRows& rows, uint16_t state) {
  rows.emplace_back(corvale::ui::StringOr(360, "Deleted"), YesNo(state & 1));
  rows.emplace_back(corvale::ui::StringOr(361, "Lost"), YesNo(state & 2));
  rows.emplace_back(corvale::ui::StringOr(362, "Cross Link"), YesNo(state & 4));
  rows.emplace_back(corvale::ui::StringOr(363, "Temp"), YesNo(state & 8));
}

// The first sector of a cluster of a FAT partition; cluster numbers below 2 (garbage) give the
// partition's start.
int64_t ClusterSector(uint64_t partitionStart, uint32_t cluster, uint32_t sectorsPerCluster) {
  const uint64_t index = cluster >= 2 ? cluster - 2u : 0u;
  return static_cast<int64_t>(partitionStart + index * sectorsPerCluster);
}

QTreeWidget* MakeList(QDialog* dialog) {
  auto* list = new QTreeWidget(dialog);
  list->setObjectName(QString::number(CPropertiesDlg::kListId));
  list->setRootIsDecorated(false);
  list->setColumnCount(2);
  list->setHeaderLabels({corvale::ui::StringOr(355, "Name"), corvale::ui::StringOr(356, "Value")});
  list->setColumnWidth(0, 200);
  list->setColumnWidth(1, 200);
  auto* layout = new QVBoxLayout(dialog);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->addWidget(list);
  return list;
}

}  // namespace

void FillPropertyList(QTreeWidget* list, const PropertyRows& rows) {
  list->clear();
  for (const auto& [name, value] : rows) new QTreeWidgetItem(list, QStringList{name, value});
}

CPropertiesDlg::CPropertiesDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Properties"));
  resize(520, 480);
  m_list = MakeList(this);
}

void CPropertiesDlg::SetFileNode(CFileNode* node) { FillPropertyList(m_list, RowsFor(node)); }

PropertyRows CPropertiesDlg::RowsFor(CFileNode* node) {
  PropertyRows rows;
  IFileProperties* properties = node ? node->GetFileProperties() : nullptr;
  if (!properties) return rows;
  const int32_t type = node->GetFileSystemType();
  const bool folder = properties->IsFolder();
  uint64_t partitionStart = 0;
  uint32_t sectorsPerCluster = 0;
  const bool positioned = node->GetPosition(partitionStart, sectorsPerCluster);
  const QString name = QString::fromUtf8(properties->GetName());
  const uint16_t state = properties->GetTypeWord();
  std::unique_ptr<IDataRunList> runs = properties->CreateDataRunList();

  const int32_t code = properties->GetPersistenceCode();
  if (type >= kFileSystemFat12 && type <= kFileSystemFat32 && code == kPropertiesFat) {
    const auto* fat = static_cast<const CFATFileProperties*>(properties);
    rows.emplace_back(corvale::ui::StringOr(355, "Name"), name);
    if (folder) {
      rows.emplace_back(corvale::ui::StringOr(369, "Sector"),
                        Number(ClusterSector(partitionStart, fat->GetFirstCluster(), sectorsPerCluster)));
      rows.emplace_back(corvale::ui::StringOr(370, "Cluster"), Unsigned(fat->GetFirstCluster()));
      rows.emplace_back(corvale::ui::StringOr(371, "Parent"), Unsigned(fat->GetParentCluster()));
      AddStateRows(rows, state);
    } else {
      rows.emplace_back(corvale::ui::StringOr(371, "Parent"), Unsigned(fat->GetParentCluster()));
      rows.emplace_back(corvale::ui::StringOr(372, "Parent Sector"),
                        Number(ClusterSector(partitionStart, fat->GetParentCluster(), sectorsPerCluster)));
      AddStateRows(rows, state);
      if (runs) rows.emplace_back(corvale::ui::StringOr(368, "Lay out"), RunsText(*runs));
    }
  } else if (type == kFileSystemNtfs && code == kPropertiesNtfs) {
    const auto* ntfs = static_cast<const CNTFSFileProperties*>(properties);
    const uint16_t attributes = properties->GetAttributes();
    rows.emplace_back(corvale::ui::StringOr(355, "Name"), name);
    rows.emplace_back(corvale::ui::StringOr(357, "Record sector"), Number(ntfs->GetRecordSector()));
    rows.emplace_back(corvale::ui::StringOr(358, "Compressed"), YesNo(attributes & kAttributeCompressed));
    rows.emplace_back(corvale::ui::StringOr(359, "Encrypted"), YesNo(attributes & kAttributeEncrypted));
    AddStateRows(rows, state);
    if (!folder && runs) {
      if (runs->IsResident()) {
        rows.emplace_back(corvale::ui::StringOr(364, "Resident"), corvale::ui::StringOr(366, "Yes"));
        rows.emplace_back(corvale::ui::StringOr(331, "Size"), Unsigned(properties->GetSize()));
        rows.emplace_back(corvale::ui::StringOr(365, "Offset"), Unsigned(runs->GetResidentValue()));
      } else {
        rows.emplace_back(corvale::ui::StringOr(364, "Resident"), corvale::ui::StringOr(367, "No"));
        rows.emplace_back(corvale::ui::StringOr(368, "Lay out"), RunsText(*runs));
      }
    }
  } else if (type == kFileSystemRaw && !folder) {
    rows.emplace_back(corvale::ui::StringOr(355, "Name"), name);
    rows.emplace_back(corvale::ui::StringOr(373, "DataAreaSector"), Unsigned(partitionStart));
    if (runs) rows.emplace_back(corvale::ui::StringOr(368, "Lay out"), RunsText(*runs));
  }

  if (node->IsFileSystemNode() || positioned) {
    rows.insert(rows.begin(), {corvale::ui::StringOr(352, "Start Sector"), Unsigned(partitionStart)});
    rows.insert(rows.begin(),
                {corvale::ui::StringOr(354, "Sector Per Cluster"), Unsigned(sectorsPerCluster)});
  }
  return rows;
}

CScanPartitionPropertiesDlg::CScanPartitionPropertiesDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Scan Partition Properties"));
  resize(520, 420);
  m_list = MakeList(this);
}

void CScanPartitionPropertiesDlg::Fill(const PropertyRows& rows) { FillPropertyList(m_list, rows); }

void CScanPartitionPropertiesDlg::SetPartitionInfo(CSearchedPartitionInfo* info) { Fill(RowsFor(info)); }

void CScanPartitionPropertiesDlg::SetDevice(const DeviceAreaRecord& area) { Fill(RowsFor(area)); }

QString CScanPartitionPropertiesDlg::GetFileSystemTypeText(int32_t code) {
  static const struct {
    uint32_t id;
    const char* text;
  } kTexts[] = {{419, "    FAT12"}, {418, "    FAT16"}, {417, "    FAT32"}, {416, "    NTFS"},
                {415, "    EXT2"},  {414, "    EXT3"},  {413, "    RAW"}};
  const QString text = code >= 0 && code <= 6 ? corvale::ui::StringOr(kTexts[code].id, kTexts[code].text)
                                              : corvale::ui::StringOr(412, "UNKNOWN");
  return text.left(19);
}

PropertyRows CScanPartitionPropertiesDlg::RowsFor(const DeviceAreaRecord& area) {
  return {{QStringLiteral("Total Sector"), Number(area.SectorCount)},
          {QStringLiteral("Start Sector"), Number(area.StartSector)}};
}

PropertyRows CScanPartitionPropertiesDlg::RowsFor(CSearchedPartitionInfo* info) {
  PropertyRows rows;
  if (!info) return rows;
  const int32_t type = info->GetFileSystemType();
  if (type == kFileSystemNtfs && info->GetInfoType() == kPartitionInfoNtfs) {
    const auto* ntfs = static_cast<const CSearchedNTFSPartitionInfo*>(info);
    const uint32_t flags = ntfs->GetFoundByFlags();
    static const struct {
      const char* label;
      uint32_t bit;
    } kEvidence[] = {{"  From first boot record", 0x1}, {"  From last boot record", 0x2},
                     {"  From mft files pair", 0x4},    {"  From single $mft", 0x8},
                     {"  From $mftMirr", 0x10},         {"  From index/folder comparision", 0x20},
                     {"  From First RSTR", 0x40},       {"  From Second RSTR", 0x80},
                     {"  From files analysis", 0x100}};
    for (const auto& evidence : kEvidence)
      rows.emplace_back(QString::fromUtf8(evidence.label), YesDash(flags & evidence.bit));
    rows.emplace_back(QStringLiteral("partition sectors count"), Number(info->GetSectorCount()));
    rows.emplace_back(QStringLiteral("data area start sector"), Number(info->GetStartSector()));
    rows.emplace_back(QStringLiteral("sectors per cluster"), Unsigned(info->GetSectorsPerCluster()));
    rows.emplace_back(QStringLiteral("Total Clusters"), Number(ntfs->GetTotalClusters()));
    rows.emplace_back(QStringLiteral("Use$MFT"), YesNo(ntfs->GetUseMft()));
    rows.emplace_back(QStringLiteral("ProcessFilesfrom$MFTonly"), YesNo(ntfs->GetFilesOfMftOnly()));
    rows.emplace_back(QStringLiteral("Folders match"), Number(info->GetFoldersMatch()));
    rows.emplace_back(QStringLiteral("Files match"), Number(info->GetFilesMatch()));
    rows.emplace_back(QStringLiteral("Sectors per $mft file record"),
                      Unsigned(ntfs->GetSectorsPerFileRecord()));
    rows.emplace_back(QStringLiteral("$LogFileMatch"), Number(ntfs->GetLogFileMatch()));
    rows.emplace_back(QStringLiteral("$AttrDefMatch"), Number(ntfs->GetAttrDefMatch()));
    rows.emplace_back(QStringLiteral("$UpcaseMatch"), Number(ntfs->GetUpCaseMatch()));
    rows.emplace_back(QStringLiteral("$MFTSector"), Number(ntfs->GetMftSector()));
    rows.emplace_back(QStringLiteral("$LogFileSector"), Number(ntfs->GetLogFileSector()));
    rows.emplace_back(QStringLiteral("$AttrDefSector"), Number(ntfs->GetAttrDefSector()));
    rows.emplace_back(QStringLiteral("$UpcaseSector"), Number(ntfs->GetUpCaseSector()));
    rows.emplace_back(QStringLiteral("SectorsCountfromSystemFiles"),
                      Number(ntfs->GetSectorsFromSystemFiles()));
    return rows;
  }
  if (type >= kFileSystemFat12 && type <= kFileSystemFat32 && info->GetInfoType() == kPartitionInfoFat) {
    const auto* fat = static_cast<const CFATSearchedPartitionInfo*>(info);
    const uint32_t flags = fat->GetEvidenceFlags();
    rows.emplace_back(corvale::ui::StringOr(247, "Rank"), QStringLiteral("100%"));
    rows.emplace_back(corvale::ui::StringOr(248, "File System"), GetFileSystemTypeText(type));
    rows.emplace_back(corvale::ui::StringOr(249, "From FAT32 DBR"), YesDash(flags & 4));
    rows.emplace_back(corvale::ui::StringOr(250, "From FAT32 Backup DBR"), YesDash(flags & 8));
    rows.emplace_back(corvale::ui::StringOr(251, "From FAT16 DBR"), YesDash(flags & 2));
    rows.emplace_back(corvale::ui::StringOr(252, "From FAT12 DBR"), YesDash(flags & 1));
    rows.emplace_back(corvale::ui::StringOr(253, "From folders analysis"), YesDash(flags & 16));
    rows.emplace_back(corvale::ui::StringOr(254, "From files analysis"), YesDash(flags & 32));
    rows.emplace_back(corvale::ui::StringOr(255, "Partition Start Sector"),
                      Number(info->GetPartitionStart()));
    rows.emplace_back(corvale::ui::StringOr(256, "Reversed Sector"), Unsigned(fat->GetReservedSectors()));
    rows.emplace_back(corvale::ui::StringOr(257, "Found FAT1"), YesNo(flags & kFatFoundFirstCopy));
    rows.emplace_back(corvale::ui::StringOr(258, "Found FAT2"), YesNo(flags & kFatFoundSecondCopy));
    rows.emplace_back(corvale::ui::StringOr(259, "Sectors Per FAT"), Unsigned(fat->GetSectorsPerFAT()));
    rows.emplace_back(corvale::ui::StringOr(260, "Data Area Start Sector"), Number(info->GetStartSector()));
    rows.emplace_back(corvale::ui::StringOr(261, "Sectors Per Cluster"),
                      Unsigned(info->GetSectorsPerCluster()));
    rows.emplace_back(corvale::ui::StringOr(262, "Partition Sectors Count"), Number(info->GetSectorCount()));
    return rows;
  }
  rows.emplace_back(QStringLiteral("partition sectors count"), Number(info->GetSectorCount()));
  rows.emplace_back(QStringLiteral("data area start sector"), Number(info->GetStartSector()));
  rows.emplace_back(QStringLiteral("sectors per cluster"), Unsigned(info->GetSectorsPerCluster()));
  return rows;
}
