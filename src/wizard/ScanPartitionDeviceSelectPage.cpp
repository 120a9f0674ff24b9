#include "wizard/ScanPartitionDeviceSelectPage.h"

#include <QAction>
#include <QDialog>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "controls/Formatting.h"
#include "controls/LostPartitionCtrlContainer.h"
#include "controls/MultipleChoosePartitionListCtrl.h"
#include "controls/PartitionLayoutFrame.h"
#include "core/SearchedPartitionInfo.h"
#include "core/SourceRecords.h"
#include "dialogs/PropertiesDlg.h"
#include "fat/FATSearchedPartitionInfo.h"
#include "ntfs/SearchedNTFSPartitionInfo.h"
#include "storage/IStorageDevice.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"

namespace {

// The kinds are told apart by their saved kind, which only the matching class answers.
CSearchedNTFSPartitionInfo* AsNtfs(CSearchedPartitionInfo* info) {
  return info && info->GetInfoType() == kPartitionInfoNtfs && info->GetFileSystemType() == kFileSystemNtfs
             ? static_cast<CSearchedNTFSPartitionInfo*>(info)
             : nullptr;
}

CFATSearchedPartitionInfo* AsFat(CSearchedPartitionInfo* info) {
  return info && info->GetInfoType() == kPartitionInfoFat ? static_cast<CFATSearchedPartitionInfo*>(info)
                                                          : nullptr;
}

// A found NTFS partition offers "$MFT Only" when the scan knows where its $MFT lies.
bool HasMftPosition(const CSearchedNTFSPartitionInfo& info) { return info.GetMftSector() != -1; }

enum Family { kFamilyNtfs, kFamilyFat, kFamilyExt, kFamilyNone };

Family FamilyOf(int32_t type) {
  switch (type) {
    case kFileSystemNtfs:
      return kFamilyNtfs;
    case kFileSystemFat12:
    case kFileSystemFat16:
    case kFileSystemFat32:
      return kFamilyFat;
    case kFileSystemExt2:
    case kFileSystemExt3:
      return kFamilyExt;
    default:
      return kFamilyNone;
  }
}

}  // namespace

CScanPartitionDeviceSelectPage::CScanPartitionDeviceSelectPage(QWidget* parent) : CWizardPage(parent) {
  m_pageFont = QFont(QString::fromStdString(corvale::ui::GetUIFontName()));
  m_pageFont.setPixelSize(15);
  m_container = new CLostPartitionCtrlContainer(this);
  // The list and the picture fill the page from the subtitle band to the bottom band's lower edge.
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(BandMargins());
  layout->addWidget(m_container);
  CMultipleChoosePartitionListCtrl* list = m_container->GetPartitionListCtrl();
  connect(list, &CMultipleChoosePartitionListCtrl::optionChanged, this,
          &CScanPartitionDeviceSelectPage::OnAlternativeChanged);
  connect(list, &CMultipleChoosePartitionListCtrl::rowRightClicked, this,
          [this] { OnPartitionListNotify(); });

  m_properties = new QPushButton(QStringLiteral("Properties"), this);
  m_properties->setObjectName(QString::number(kCommandProperties));
  m_properties->setFocusPolicy(Qt::TabFocus);
  connect(m_properties, &QPushButton::clicked, this, [this] { OnCommand(kCommandProperties); });
  auto* properties = new QAction(this);
  properties->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_Return), QKeySequence(Qt::ALT | Qt::Key_Enter)});
  properties->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(properties, &QAction::triggered, this, [this] { OnCommand(kCommandProperties); });
  list->addAction(properties);
}

void CScanPartitionDeviceSelectPage::ExtRowSectors(const CSearchedPartitionInfo& record, int64_t* start,
                                                   int64_t* end) {
  const int64_t first = record.GetStartSector();
  if (start) *start = first;
  if (end)
    *end = static_cast<int64_t>(static_cast<uint64_t>(first) +
                                static_cast<uint64_t>(record.GetSectorCount()) - 1);
}

int CScanPartitionDeviceSelectPage::RecommendationOf(int32_t mark) {
  return mark == 1 || mark == 2 ? mark : 0;
}

double CScanPartitionDeviceSelectPage::SuggestionThreshold(
    const std::vector<CSearchedPartitionInfo*>& partitions) {
  double smallest = 0.99;
  double largest = 0.0;
  bool any = false;
  for (const CSearchedPartitionInfo* info : partitions) {
    if (!info) continue;
    const double weight = info->GetWeight();
    if (!(weight <= 0.99)) continue;
    any = true;
    smallest = std::min(smallest, weight);
    largest = std::max(largest, weight);
  }
  return any && largest >= smallest ? (smallest + largest) / 2.0 : 0.5;
}

CMultipleChoosePartitionListCtrl* CScanPartitionDeviceSelectPage::PartitionList() const {
  return m_container->GetPartitionListCtrl();
}

void CScanPartitionDeviceSelectPage::ShowDiskHeader(const DiskRecord& disk) {
  m_container->GetLayoutView()->RemoveAllFrames();
  DiskLayoutInfo info;
  if (disk.Kind == kSourceKindImage) {
    info.Name = QString::fromStdString(disk.DisplayText);
    info.Kind = DiskLayoutInfo::kImage;
  } else {
    info.Name = QString::fromStdString(disk.DisplayText);
    info.Kind = disk.IsUsb ? DiskLayoutInfo::kUsbDisk : DiskLayoutInfo::kDisk;
  }
  const int64_t sectors = disk.Device ? disk.Device->GetSectorCount() : disk.SectorCount;
  info.SectorCount = static_cast<uint64_t>(std::max<int64_t>(0, sectors));
  const int32_t sectorSize = disk.Device ? disk.Device->GetSectorSize() : 0;
  info.BytesPerSector = sectorSize > 0 ? static_cast<uint32_t>(sectorSize) : 512;
  m_container->GetLayoutFrame()->SetDiskInfo(info);
}

void CScanPartitionDeviceSelectPage::ShowVolumeHeader(const VolumeRecord& volume) {
  m_container->GetLayoutView()->RemoveAllFrames();
  DiskLayoutInfo info;
  if (volume.Kind == 1) {
    info.Name = QString::fromStdString(volume.DisplayName);
    info.Kind = DiskLayoutInfo::kImage;
  } else {
    const char letter = volume.DriveLetter ? volume.DriveLetter : ' ';
    info.Name =
        QStringLiteral("%1 : %2  (%3)")
            .arg(QChar::fromLatin1(letter), QString::fromStdString(volume.VolumeName),
                 QString::fromUtf8(GetFileSystemName(static_cast<uint32_t>(volume.FileSystemTypeCode))));
    info.Kind = DiskLayoutInfo::kVolume;
  }
  const int64_t sectors = volume.Device ? volume.Device->GetSectorCount() : volume.SectorCount;
  info.SectorCount = static_cast<uint64_t>(std::max<int64_t>(0, sectors));
  const int32_t sectorSize = volume.Device ? volume.Device->GetSectorSize() : 0;
  info.BytesPerSector = sectorSize > 0 ? static_cast<uint32_t>(sectorSize) : 512;
  m_container->GetLayoutFrame()->SetDiskInfo(info);
}

void CScanPartitionDeviceSelectPage::FillPartitions(const std::vector<CSearchedPartitionInfo*>& partitions,
                                                    int mode) {
  if (mode == kModeVolume) {
    CSearchedPartitionInfo* best = nullptr;
    for (CSearchedPartitionInfo* info : partitions)
      if (info && (!best || info->GetWeight() > best->GetWeight())) best = info;
    for (CSearchedPartitionInfo* info : partitions)
      if (info) info->SetChosenMark(info == best ? 1 : 0);
  }
  CMultipleChoosePartitionListCtrl* list = PartitionList();
  list->DeleteAllPartitions();
  m_container->GetLayoutView()->RemoveAllFrames();
  list->SetAutoCheckLimit(mode);
  list->SetSizeScale(SuggestionThreshold(partitions));

  const QString partitionText = corvale::ui::StringOr(322, "Partition");
  int counts[3] = {0, 0, 0};
  int number = 0;
  for (CSearchedPartitionInfo* info : partitions) {
    if (!info) continue;
    const Family family = FamilyOf(info->GetFileSystemType());
    if (family == kFamilyNone) continue;
    if (++counts[family] > kMaxRowsPerFamily) continue;
    FoundPartitionRow row;
    ++number;
    row.Name =
        QStringLiteral("%1 %2 %3")
            .arg(partitionText)
            .arg(number)
            .arg(QString::fromUtf8(GetFileSystemName(static_cast<uint32_t>(info->GetFileSystemType()))));
    row.FileSystemType = info->GetFileSystemType();
    row.BytesPerSector = info->GetSectorSize();
    int64_t first = 0;
    int64_t last = 0;
    // Every family's last sector is inclusive, so the size and the picture count the partition's
    // own sectors and no more.
    ExtRowSectors(*info, &first, &last);
    row.FirstSector = static_cast<uint64_t>(first);
    row.LastSector = static_cast<uint64_t>(last);
    row.Score = info->GetWeight();
    row.Recommendation = RecommendationOf(info->GetChosenMark());
    row.FilesMatch = static_cast<uint32_t>(std::clamp<int64_t>(info->GetFilesMatch(), 0, UINT32_MAX));
    row.FoldersMatch = static_cast<uint32_t>(std::clamp<int64_t>(info->GetFoldersMatch(), 0, UINT32_MAX));
    row.Partition = info;
    if (CSearchedNTFSPartitionInfo* ntfs = AsNtfs(info); ntfs && HasMftPosition(*ntfs)) {
      row.Options[row.OptionCount++] = {ntfs->GetFilesOfMftOnly() ? 1 : 0,
                                        corvale::ui::StringOr(432, "$MFT Only")};
    } else if (CFATSearchedPartitionInfo* fat = AsFat(info)) {
      const uint32_t flags = fat->GetEvidenceFlags();
      if (flags & kFatFoundFirstCopy)
        row.Options[row.OptionCount++] = {(flags & kFatUseFirstCopy) ? 1 : 0, QStringLiteral("FAT1")};
      if (flags & kFatFoundSecondCopy)
        row.Options[row.OptionCount++] = {(flags & kFatUseSecondCopy) ? 1 : 0, QStringLiteral("FAT2")};
    }
    list->AddPartition(row);
  }
}

void CScanPartitionDeviceSelectPage::ShowForDisk(const std::vector<CSearchedPartitionInfo*>& partitions,
                                                 const DiskRecord& disk) {
  ShowDiskHeader(disk);
  FillPartitions(partitions, kModeDisk);
}

void CScanPartitionDeviceSelectPage::ShowForVolume(const std::vector<CSearchedPartitionInfo*>& partitions,
                                                   const VolumeRecord& volume) {
  ShowVolumeHeader(volume);
  bool laterWholeDevice = false;
  for (size_t i = 1; i < partitions.size(); ++i)
    if (partitions[i] && partitions[i]->GetWholeDeviceMark()) laterWholeDevice = true;
  FillPartitions(partitions, laterWholeDevice ? kModeVolumeWithWholeDevice : kModeVolume);
}

int CScanPartitionDeviceSelectPage::GetPartitionCount() const { return PartitionList()->GetPartitionCount(); }
int CScanPartitionDeviceSelectPage::GetCheck(int row) const { return PartitionList()->GetCheck(row); }
int CScanPartitionDeviceSelectPage::GetCheckedCount() const { return PartitionList()->GetCheckedCount(); }
CSearchedPartitionInfo* CScanPartitionDeviceSelectPage::GetPartitionAt(int row) const {
  return PartitionList()->GetPartitionAt(row);
}
int CScanPartitionDeviceSelectPage::GetCurSel() const { return PartitionList()->GetCurSel(); }

std::vector<CSearchedPartitionInfo*> CScanPartitionDeviceSelectPage::GetCheckedPartitions() const {
  std::vector<CSearchedPartitionInfo*> ticked;
  for (int row = 0; row < GetPartitionCount(); ++row)
    if (GetCheck(row) && GetPartitionAt(row)) ticked.push_back(GetPartitionAt(row));
  return ticked;
}

void CScanPartitionDeviceSelectPage::OnAlternativeChanged(int row, int column, int alternative, int checked) {
  if (column != CMultipleChoosePartitionListCtrl::kColumnOption || (alternative != 0 && alternative != 1))
    return;
  CSearchedPartitionInfo* info = GetPartitionAt(row);
  if (CSearchedNTFSPartitionInfo* ntfs = AsNtfs(info)) {
    if (alternative == 0 && HasMftPosition(*ntfs)) ntfs->SetFilesOfMftOnly(checked != 0);
    return;
  }
  CFATSearchedPartitionInfo* fat = AsFat(info);
  if (!fat) return;
  const uint32_t flags = fat->GetEvidenceFlags();
  uint32_t bit = 0;
  if (alternative == 0 && (flags & kFatFoundFirstCopy))
    bit = kFatUseFirstCopy;
  else if ((alternative == 0 && !(flags & kFatFoundFirstCopy)) ||
           (alternative == 1 && (flags & kFatFoundSecondCopy)))
    bit = kFatUseSecondCopy;
  if (!bit) return;
  fat->SetEvidenceFlags(checked ? flags | bit : flags & ~bit);
}

void CScanPartitionDeviceSelectPage::Layout(int, int) {
  // The button stands at the right end of the title band, centred in its height.
  const QRect band = TitleRect();
  const QSize size = m_properties->sizeHint();
  const int height = std::min(size.height(), std::max(0, band.height() - 4));
  m_properties->setGeometry(band.right() + 1 - size.width(), band.top() + (band.height() - height) / 2,
                            size.width(), height);
}

void CScanPartitionDeviceSelectPage::Draw(QPainter* dc) {
  const QRect area = m_container->geometry().adjusted(-1, -1, 1, 1);
  dc->fillRect(area, corvale::ui::kFrameColor);
  DrawExtra(dc);
}

void CScanPartitionDeviceSelectPage::DrawExtra(QPainter*) {}

void CScanPartitionDeviceSelectPage::RunDialog(QDialog& dialog) {
  if (m_dialogRunner)
    m_dialogRunner(dialog);
  else
    dialog.exec();
}

bool CScanPartitionDeviceSelectPage::OnCommand(int commandId) {
  if (commandId != kCommandProperties) return false;
  CSearchedPartitionInfo* info = GetPartitionAt(GetCurSel());
  if (!info) return true;
  CScanPartitionPropertiesDlg dialog(this);
  dialog.SetPartitionInfo(info);
  RunDialog(dialog);
  return true;
}
