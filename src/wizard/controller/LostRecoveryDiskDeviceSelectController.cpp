#include "wizard/controller/LostRecoveryDiskDeviceSelectController.h"

#include <QCoreApplication>
#include <QObject>
#include <QWidget>
#include <cstdio>
#include <cstring>

#include "controls/DeviceSelectCtrl.h"
#include "controls/Formatting.h"
#include "core/DeviceSelectionState.h"
#include "core/PartitionDisplayName.h"
#include "dialogs/LostPartitionSearchingDlg.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "storage/DiskDevice.h"
#include "storage/FileSystemCode.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"
#include "ui/RunReport.h"
#include "ui/UsageStatistics.h"
#include "wizard/WizardPage.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/DiskImageItems.h"
#include "wizard/controller/LostRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/LostRecoveryScanPartitionDeviceSelectController.h"
#include "wizard/controller/ScanState.h"

namespace {

// List pictures of the disk page.
constexpr uint32_t kPictureDisk = 1;
constexpr uint32_t kPictureUsbDisk = 6;
constexpr uint32_t kBusTypeUsb = 7;

bool LiesOnDisk(const VolumeRecord& volume, int32_t diskNumber) {
  for (const VolumeExtent& extent : volume.Extents) {
    if (extent.Disk == nullptr || extent.SectorCount == 0) break;
    if (extent.Disk->GetDiskNumber() == diskNumber) return true;
  }
  return false;
}

}  // namespace

std::unique_ptr<CollectedDisks> CollectDisksForPartitionRecovery() {
  auto collected = std::make_unique<CollectedDisks>();
  CCollectPhysicalDiskDevice().CollectPhysicalDiskDevice(collected->disks);
  if (collected->disks.empty()) return collected;
  CCollectAllBasicPartitionandDynamicVolume().CollectAllBasicPartitionandDynamicVolume(collected->disks,
                                                                                       collected->volumes);
  for (const auto& disk : collected->disks) {
    auto record = std::make_unique<DiskRecord>();
    record->Kind = kSourceKindDisk;
    record->Device = disk.get();
    record->DiskNumber = disk->GetDiskNumber();
    DISK_INFO_RECORD info;
    const bool known = disk->GetDiskInfo(&info);
    if (known && info.busType == kBusTypeUsb) record->IsUsb = 1;
    std::string vendor = known ? info.vendor : "";
    if (!vendor.empty() && vendor[0] == '(') vendor.clear();
    const std::string product = known ? info.product : "";
    const std::string bus = known ? info.busTypeText : "";
    char text[DiskRecord::kTextSize * 3 + 8];
    if (!vendor.empty())
      std::snprintf(text, sizeof text, "%s  %s  %s", vendor.c_str(), product.c_str(), bus.c_str());
    else if (!product.empty())
      std::snprintf(text, sizeof text, "%s  %s", product.c_str(), bus.c_str());
    else if (!bus.empty())
      std::snprintf(text, sizeof text, "%s  %s", DiskFileName(*disk).c_str(), bus.c_str());
    else
      // A disk known only by its file (an image named as a disk, a loop device) goes by that name.
      std::snprintf(text, sizeof text, "%s", DiskFileName(*disk).c_str());
    record->DisplayText = text;
    if (record->DisplayText.size() >= DiskRecord::kTextSize)
      record->DisplayText.resize(DiskRecord::kTextSize - 1);

    std::string lines;
    for (const auto& volume : collected->volumes) {
      if (!volume || !LiesOnDisk(*volume, record->DiskNumber)) continue;
      char line[VolumeRecord::kLabelSize + 64];
      std::snprintf(line, sizeof line, "%c : %s  (%s)", volume->DriveLetter ? volume->DriveLetter : '*',
                    volume->VolumeName.c_str(),
                    GetFileSystemName(static_cast<uint32_t>(volume->FileSystemTypeCode)));
      if (!lines.empty()) lines += "\n";
      lines += line;
    }
    collected->descriptions.push_back(lines);
    collected->records.push_back(std::move(record));
  }
  return collected;
}

CLostRecoveryDiskDeviceSelectController* GetLostRecoveryDiskDeviceSelectController() {
  static CLostRecoveryDiskDeviceSelectController controller;
  return &controller;
}

bool& CLostRecoveryDiskDeviceSelectController::CommitPending() {
  static bool pending = true;
  return pending;
}

CLostRecoveryDiskDeviceSelectController::CLostRecoveryDiskDeviceSelectController() {
  // A saved partition recovery names its steps by their state type ids.
  RegisterScanStateController(kStateTypeId, [] {
    return static_cast<IWizardPageController*>(GetLostRecoveryDiskDeviceSelectController());
  });
  RegisterScanStateController(CLostRecoveryPartitionDeviceSelectController::kStateTypeId, [] {
    return static_cast<IWizardPageController*>(GetLostRecoveryPartitionDeviceSelectController());
  });
  RegisterScanStateController(CLostRecoveryScanPartitionDeviceSelectController::kStateTypeId, [] {
    return static_cast<IWizardPageController*>(GetLostRecoveryScanPartitionDeviceSelectController());
  });
}

CLostRecoveryDiskDeviceSelectController::~CLostRecoveryDiskDeviceSelectController() { m_run.Join(); }

const std::vector<std::unique_ptr<DiskRecord>>& CLostRecoveryDiskDeviceSelectController::Disks() const {
  static const std::vector<std::unique_ptr<DiskRecord>> none;
  return m_collected ? m_collected->records : none;
}

void CLostRecoveryDiskDeviceSelectController::Activate() {
  m_tick = std::chrono::steady_clock::now();
  if (CommitPending()) {
    CommitScanState(this);
    CommitPending() = false;
  }
  SetCurrentControllerStatus(this);
  StartDeviceCollection();
  if (CWizardSheet* sheet = GetWizardSheet()) sheet->ShowPage(LostRecoveryDiskDeviceSelect);
}

void CLostRecoveryDiskDeviceSelectController::Home() {
  Cleanup();
  CloseAllImages();
  if (m_previous) m_previous->Home();
}

void CLostRecoveryDiskDeviceSelectController::Back() {
  Cleanup();
  CloseAllImages();
  if (m_previous) m_previous->Activate();
}

CSourceDeviceChoice CLostRecoveryDiskDeviceSelectController::GetSourceSelection() {
  return CSourceDeviceChoice(m_chosen);
}

void CLostRecoveryDiskDeviceSelectController::Cleanup() {
  m_run.Cancel();
  if (m_list) m_list->DeleteAllItems();
  m_selected = nullptr;
  // The chosen disk stays with the step that searches it; it goes when its records go.
  m_chosen = nullptr;
  CRecoveryContext& context = GetRecoveryContext();
  if (m_collected)
    for (const auto& record : m_collected->records)
      if (context.SourceRootDevice == record->Device) context.SourceRootDevice = nullptr;
  m_collected.reset();
  m_previousRow.Clear();
}

void CLostRecoveryDiskDeviceSelectController::StartDeviceCollection() {
  m_run.Join();
  Cleanup();
  if (m_readSaved) {
    std::string text;
    const bool available = m_readSaved(text);
    m_previousRow.Set(available, std::move(text));
  } else {
    m_previousRow.Read(this, 1024);
  }
  m_run.Run<std::unique_ptr<CollectedDisks>>(
      m_collector ? m_collector : Collector(CollectDisksForPartitionRecovery),
      [this](std::unique_ptr<CollectedDisks> collected) {
        m_collected = std::move(collected);
        FillList();
      },
      "collect disk end");
}

void CLostRecoveryDiskDeviceSelectController::FillList() {
  if (!m_list) return;
  m_list->DeleteAllItems();
  // Opened images are listed even when no disk was found: the user may search an image alone.
  if (m_collected && !m_collected->records.empty()) FillDiskItems();
  const std::string imageText = corvale::ui::StringOrUtf8(130, "Image File, ");
  for (const auto& image : m_images)
    AddImageRow(m_list, imageText + image->DisplayText, image->SectorCount,
                image->Device ? image->Device->GetSectorSize() : 512, image->ImagePath, image.get());
}

void CLostRecoveryDiskDeviceSelectController::FillDiskItems() {
  m_previousRow.AddTo(m_list, corvale::ui::StringOrUtf8(142, "Previous Recovery..."));
  for (size_t i = 0; i < m_collected->records.size(); ++i) {
    DiskRecord* record = m_collected->records[i].get();
    DEVICE_ITEM_INFO item;
    item.kind = record->IsUsb ? kPictureUsbDisk : kPictureDisk;
    item.name = record->DisplayText.c_str();
    item.sectorCount = static_cast<uint64_t>(std::max<int64_t>(record->Device->GetSectorCount(), 0));
    const int32_t sectorSize = record->Device->GetSectorSize();
    item.bytesPerSector = sectorSize > 0 ? static_cast<uint32_t>(sectorSize) : 512;
    item.information = m_collected->descriptions[i].c_str();
    item.itemData = record;
    m_list->AddItem(&item);
  }
}

QWidget* CLostRecoveryDiskDeviceSelectController::DialogParent() const {
  if (m_page) return m_page->window();
  CWizardSheet* sheet = GetWizardSheet();
  return sheet ? sheet->window() : nullptr;
}

bool CLostRecoveryDiskDeviceSelectController::CreateImageOfSelectedDisk() {
  if (m_run.IsCollecting() || !SelectCurrentItem() || m_selected->Kind != kSourceKindDisk ||
      !m_selected->Device)
    return false;
  // The record may go while the window runs (nothing collects meanwhile, but keep no pointer).
  const std::string name = m_selected->DisplayText;
  const int32_t diskNumber = m_selected->DiskNumber;
  const std::string path = RunCreateImageWizard(m_selected->Device, name, diskNumber, DialogParent());
  if (path.empty()) return false;
  // The row shows the image's own sector count, read back from what was written.
  return AddImage(name, path, diskNumber);
}

bool CLostRecoveryDiskDeviceSelectController::OpenImageAsDisk() {
  if (m_run.IsCollecting()) return false;
  OpenedDiskImage opened;
  if (!RunOpenImageWizard(DialogParent(), opened)) return false;
  return AddImage(opened.sourceName, opened.path, opened.sourceDiskNumber);
}

bool CLostRecoveryDiskDeviceSelectController::AddImage(const std::string& displayName,
                                                       const std::string& path, int32_t sourceDiskNumber) {
  if (IsImageListed(path)) {
    corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(281, "This image file is open!"), GetProductTitle(),
                                corvale::ui::MessageIcon::Warning);
    return false;
  }
  std::string problem;
  std::shared_ptr<CImageFileDeviceWithDecompress> device = OpenListedImage(path, problem);
  if (!device) {
    std::string text = corvale::ui::StringOrUtf8(282, "This is an invalid image file, please check it!");
    if (!problem.empty()) text += "\n" + problem;
    corvale::ui::ShowMessageBox(text, GetProductTitle(), corvale::ui::MessageIcon::Warning);
    return false;
  }
  auto record = std::make_shared<DiskRecord>();
  record->Kind = kSourceKindImage;
  record->DiskNumber = sourceDiskNumber;
  record->DisplayText = displayName;
  if (record->DisplayText.size() >= DiskRecord::kTextSize)
    record->DisplayText.resize(DiskRecord::kTextSize - 1);
  record->SectorCount = device->GetSectorCount();
  record->ImagePath = path;
  record->Device = device.get();
  record->DeviceOwner = std::move(device);
  ListImage(std::move(record));
  return true;
}

bool CLostRecoveryDiskDeviceSelectController::IsDriveOnSelectedDisk(char letter) const {
  if (!m_chosen || m_chosen->Kind != kSourceKindDisk || !m_collected) return false;
  const VolumeRecord* volume = FindVolumeByDriveLetter(letter, m_collected->volumes);
  return volume && LiesOnDisk(*volume, m_chosen->DiskNumber);
}

int CLostRecoveryDiskDeviceSelectController::RestoreState(IRSData* stream, IDIRBuildCallback*) {
  if (!stream) return 0;
  std::vector<DiskRecord*> current;
  if (m_collected)
    for (const auto& record : m_collected->records) current.push_back(record.get());
  CDeviceSelectionState state(*stream);
  m_chosen = state.LoadDiskDevice(current, m_images);
  if (m_chosen) GetRecoveryContext().SourceRootDevice = m_chosen->Device;
  // A reopened image keeps its stored running number; later images take numbers after it.
  for (const auto& image : m_images)
    if (image && image->RunningNumber >= m_imageCounter) m_imageCounter = image->RunningNumber + 1;
  return m_chosen ? 1 : 0;
}

int CLostRecoveryDiskDeviceSelectController::SaveState(IRSData* stream, IDIRBuildCallback*) {
  if (!stream || !m_chosen) return 0;
  std::string text =
      m_chosen->Kind == kSourceKindImage
          ? corvale::ui::StringOrUtf8(409, "Results for \r\nImage File ") + "\"" + m_chosen->DisplayText +
                "\""
          : corvale::ui::StringOrUtf8(410, "Results for \r\nDisk ") + "\"" + m_chosen->DisplayText + "\"";
  WriteScanResultText(stream, text.c_str());
  CDeviceSelectionState(*stream).SaveDiskDevice(*m_chosen);
  return 1;
}

bool CLostRecoveryDiskDeviceSelectController::Next() {
  const std::string caption = GetProductTitle();
  if (m_run.IsCollecting()) return false;
  m_chosen = nullptr;
  CRecoveryContext& context = GetRecoveryContext();
  // The partitions found on a disk are no volume of the machine: none of them takes the name or the
  // letter of a volume chosen in an earlier recovery of this run.
  context.SourceVolumeName.clear();
  context.SourceDriveLetter = kNoDriveLetter;
  if (IsPreviousRecoverySelected()) {
    const bool restored = m_restoreSaved ? m_restoreSaved(this) : RestoreScanState(this);
    if (!restored)
      corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(141, "Failed to restore last search result."),
                                  caption);
    return false;
  }
  if (!SelectCurrentItem()) {
    corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(140, "Select a disk to recover please."), caption);
    return false;
  }
  corvale::usage::TimedEvent(kEventNext, ElapsedMilliseconds(m_tick));
  m_chosen = m_selected;
  context.SourceMarkFlag = m_chosen->IsImageSource ? 1 : 0;
  if (m_chosen->Kind == kSourceKindSkipped) return false;
  // What the recovery reads: a target folder on this disk (or beside this image) is warned about.
  context.SourceRootDevice = m_chosen->Device;

  LogSearchDiskDevice(*m_chosen, true);
  LostPartitionRecordList found;
  QWidget* window = nullptr;
  if (CWizardSheet* sheet = GetWizardSheet()) window = sheet->window();
  RunLostPartitionSearch(m_chosen->Device, window, found);

  CLostRecoveryPartitionDeviceSelectController* next = GetLostRecoveryPartitionDeviceSelectController();
  next->SetPreviousController(this);
  next->SetFoundPartitions(std::move(found));
  next->Activate();
  return true;
}
