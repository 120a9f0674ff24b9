#include "wizard/controller/CompleteRecoveryPartitionDeviceSelectController.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QObject>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "controls/DeviceSelectCtrl.h"
#include "controls/Formatting.h"
#include "core/DeviceSelectionState.h"
#include "core/FileNode.h"
#include "dialogs/AdvanceSettingMasterDlg.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "storage/DiskDevice.h"
#include "storage/FileSystemCode.h"
#include "storage/ImageFileDevice.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"
#include "ui/RunReport.h"
#include "ui/UsageStatistics.h"
#include "wizard/CompleteRecoveryPartitionDeviceSelectPage.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/CompleteRecoveryScanPartitionDeviceSelectController.h"
#include "wizard/controller/DiskImageItems.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/ScanState.h"
#include "wizard/controller/WholeDeviceSearch.h"

namespace {

// List pictures of the device page.
constexpr uint32_t kPictureFloppy = 0;
constexpr uint32_t kPictureVolume = 2;
constexpr uint32_t kPictureUsbVolume = 6;
// The longest result text of a saved scan, with its terminator.
constexpr size_t kResultTextSize = 260;
constexpr uint8_t kNoDriveLetter = 255;

std::string VolumeCaption(const VolumeRecord& record, const char* format) {
  char text[512];
  std::snprintf(text, sizeof text, format, record.DriveLetter ? record.DriveLetter : '*',
                record.VolumeName.c_str(),
                GetFileSystemName(static_cast<uint32_t>(record.FileSystemTypeCode)));
  return text;
}

bool IsExt(int32_t code) { return code == kFileSystemExt2 || code == kFileSystemExt3; }

}  // namespace

std::unique_ptr<CollectedVolumes> CollectVolumesForFormatRecovery() {
  auto collected = std::make_unique<CollectedVolumes>();
  CCollectPhysicalDiskDevice().CollectPhysicalDiskDevice(collected->disks);
  if (!collected->disks.empty())
    CCollectAllBasicPartitionandDynamicVolume().CollectAllBasicPartitionandDynamicVolume(collected->disks,
                                                                                         collected->volumes);
  return collected;
}

CCompleteRecoveryPartitionDeviceSelectController* GetCompleteRecoveryPartitionDeviceSelectController() {
  static CCompleteRecoveryPartitionDeviceSelectController controller;
  return &controller;
}

bool& CCompleteRecoveryPartitionDeviceSelectController::CommitPending() {
  static bool pending = true;
  return pending;
}

CCompleteRecoveryPartitionDeviceSelectController::CCompleteRecoveryPartitionDeviceSelectController() {
  // A saved format recovery names its steps by their state type ids.
  RegisterScanStateController(kStateTypeId, [] {
    return static_cast<IWizardPageController*>(GetCompleteRecoveryPartitionDeviceSelectController());
  });
  RegisterScanStateController(CCompleteRecoveryScanPartitionDeviceSelectController::kStateTypeId, [] {
    return static_cast<IWizardPageController*>(GetCompleteRecoveryScanPartitionDeviceSelectController());
  });
}

CCompleteRecoveryPartitionDeviceSelectController::~CCompleteRecoveryPartitionDeviceSelectController() {
  m_run.Join();
}

void CCompleteRecoveryPartitionDeviceSelectController::SetPage(
    CCompleteRecoveryPartitionDeviceSelectPage* page) {
  m_page = page;
  m_list = page ? page->GetDeviceSelectCtrl() : nullptr;
}

QWidget* CCompleteRecoveryPartitionDeviceSelectController::Window() const {
  if (CWizardSheet* sheet = GetWizardSheet()) return sheet->window();
  return m_page ? m_page->window() : nullptr;
}

const VolumeRecordList& CCompleteRecoveryPartitionDeviceSelectController::Volumes() const {
  static const VolumeRecordList none;
  return m_collected ? m_collected->volumes : none;
}

void CCompleteRecoveryPartitionDeviceSelectController::Activate() {
  if (CommitPending()) {
    CommitScanState(this);
    CommitPending() = false;
  }
  SetCurrentControllerStatus(this);
  StartDeviceCollection();
  m_tick = std::chrono::steady_clock::now();
  if (CWizardSheet* sheet = GetWizardSheet()) sheet->ShowPage(CompleteRecoveryPartitionDeviceSelect);
}

void CCompleteRecoveryPartitionDeviceSelectController::Home() {
  Cleanup();
  CloseAllImages();
  if (m_previous) m_previous->Home();
}

void CCompleteRecoveryPartitionDeviceSelectController::Back() {
  Cleanup();
  CloseAllImages();
  if (m_previous) m_previous->Activate();
}

CSourceDeviceChoice CCompleteRecoveryPartitionDeviceSelectController::GetSourceSelection() {
  return CSourceDeviceChoice(m_chosen);
}

void CCompleteRecoveryPartitionDeviceSelectController::Cleanup() {
  m_run.Cancel();
  if (m_list) m_list->DeleteAllItems();
  m_selected = nullptr;
  m_chosen = nullptr;
  CRecoveryContext& context = GetRecoveryContext();
  if (m_collected)
    for (const auto& volume : m_collected->volumes)
      if (volume && context.SourceRootDevice == volume->Device) context.SourceRootDevice = nullptr;
  // The volumes go before the disks their devices read from.
  if (m_collected) m_collected->volumes.clear();
  m_collected.reset();
  m_previousRow.Clear();
}

void CCompleteRecoveryPartitionDeviceSelectController::StartDeviceCollection() {
  m_run.Join();
  Cleanup();
  m_previousRow.Read(this, kResultTextSize);
  m_run.Run<std::unique_ptr<CollectedVolumes>>(
      m_collector ? m_collector : Collector(CollectVolumesForFormatRecovery),
      [this](std::unique_ptr<CollectedVolumes> collected) {
        m_collected = collected ? std::move(collected) : std::make_unique<CollectedVolumes>();
        FillList();
      },
      "collect volume end");
}

void CCompleteRecoveryPartitionDeviceSelectController::FillList() {
  if (!m_list) return;
  m_list->DeleteAllItems();
  m_selected = nullptr;
  m_previousRow.AddTo(m_list, corvale::ui::StringOrUtf8(133, "Previous Recovery..."));
  DebugTrace("CCompleteRecoveryPartitionDeviceSelectController::InitVolumeDeviceSelectCtrl");
  if (m_collected) {
    for (const auto& volume : m_collected->volumes) {
      if (!volume || !volume->Device) continue;
      const int64_t sectors = volume->Device->GetSectorCount();
      if (sectors <= 0) continue;
      const std::string name = VolumeCaption(*volume, "%c : %s  (%s)");
      std::string information = volume->DevicePath;
      // A partition shown by its disk's path (no partition device of its own) tells where it starts.
      const VolumeExtent& first = volume->Extents[0];
      if (first.Disk && !information.empty() && information == first.Disk->GetDevicePath())
        information += ", from sector " + std::to_string(first.FirstSector);
      if (!volume->MountPoint.empty()) information += ", mounted on " + volume->MountPoint;
      if (information.empty()) information = volume->ParentDiskText;
      DEVICE_ITEM_INFO item;
      item.kind = volume->IsFloppy ? kPictureFloppy : volume->IsUsb ? kPictureUsbVolume : kPictureVolume;
      item.name = name.c_str();
      item.sectorCount = static_cast<uint64_t>(sectors);
      const int32_t sectorSize = volume->Device->GetSectorSize();
      item.bytesPerSector = sectorSize > 0 ? static_cast<uint32_t>(sectorSize) : 512;
      item.information = information.c_str();
      item.itemData = volume.get();
      m_list->AddItem(&item);
    }
  }
  const std::string imageText = corvale::ui::StringOrUtf8(130, "Image File, ");
  for (const auto& image : m_images)
    AddImageRow(m_list, imageText + image->DisplayName, image->SectorCount,
                image->Device ? image->Device->GetSectorSize() : 512, image->ImagePath, image.get());
}

bool CCompleteRecoveryPartitionDeviceSelectController::AddImage(const std::string& displayName,
                                                                const std::string& path, int64_t sectors,
                                                                int32_t bytesPerSector) {
  // The row shows the image's own sector count and sector size, read from the image itself.
  (void)sectors;
  (void)bytesPerSector;
  if (IsImageListed(path)) {
    corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(131, "This image file is open!"), GetProductTitle(),
                                corvale::ui::MessageIcon::Warning);
    return false;
  }
  std::string problem;
  std::shared_ptr<CImageFileDeviceWithDecompress> device = OpenListedImage(path, problem);
  // An image of no sectors holds nothing to search (a file that is no image reads as one).
  if (!device || device->GetSectorCount() <= 0) {
    corvale::ui::ShowMessageBox(
        corvale::ui::StringOrUtf8(283, "This is an invalid image file, please check it!"), GetProductTitle(),
        corvale::ui::MessageIcon::Warning);
    return false;
  }
  auto image = std::make_shared<VolumeRecord>();
  image->Kind = kSourceKindImage;
  image->Device = device.get();
  image->DisplayName = displayName;
  image->ImagePath = path;
  image->SectorCount = device->GetSectorCount();
  image->DeviceOwner = std::move(device);
  ListImage(std::move(image));
  return true;
}

bool CCompleteRecoveryPartitionDeviceSelectController::CreateImageOfSelectedVolume() {
  if (m_run.IsCollecting() || !SelectCurrentItem() || m_selected->Kind == kSourceKindImage ||
      !m_selected->Device)
    return false;
  VolumeRecord* volume = m_selected;
  const std::string caption = VolumeCaption(*volume, "%c : %s  (%s)");
  const std::string path = RunCreateImageWizard(volume->Device, caption, 255, Window());
  if (path.empty()) return false;
  return AddImage(caption, path, 0, 0);
}

bool CCompleteRecoveryPartitionDeviceSelectController::OpenImageFile() {
  if (m_run.IsCollecting()) return false;
  OpenedDiskImage opened;
  if (!RunOpenImageWizard(Window(), opened)) return false;
  if (opened.sectorCount <= 0) {
    corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(284, "This image has been destroyed. "),
                                GetProductTitle(), corvale::ui::MessageIcon::Warning);
    return false;
  }
  return AddImage(opened.sourceName, opened.path, opened.sectorCount, 0);
}

bool CCompleteRecoveryPartitionDeviceSelectController::OpenRawImageFile() {
  if (m_run.IsCollecting()) return false;
  LogInfo("CCompleteRecoveryPartitionDeviceSelectController::OpenRawImageFile()");
  std::string path;
  if (m_askRawPath) {
    path = m_askRawPath();
  } else {
    path = QFileDialog::getOpenFileName(Window(), QString(), QString(),
                                        QStringLiteral("ImageFile (*.vlv);;Raw Image File (*)"))
               .toStdString();
  }
  if (path.empty()) return false;
  auto device = std::make_shared<CImageFileDevice>(path);
  if (!device->IsOpened() || device->GetSectorCount() <= 0) {
    corvale::ui::ShowMessageBox(
        corvale::ui::StringOrUtf8(283, "This is an invalid image file, please check it!"), GetProductTitle(),
        corvale::ui::MessageIcon::Warning);
    return false;
  }
  // The file is searched as a chosen image: it stays listed (and is freed) with the other images,
  // and the steps after this one read it as the source.
  auto image = std::make_shared<VolumeRecord>();
  image->Kind = kSourceKindImage;
  image->DeviceOwner = device;
  image->Device = device.get();
  image->DisplayName = std::filesystem::path(path).filename().string();
  image->ImagePath = path;
  image->SectorCount = device->GetSectorCount();
  m_chosen = ListImage(std::move(image));

  CRecoveryContext& context = GetRecoveryContext();
  context.SourceVolumeName.clear();
  context.SourceDriveLetter = kNoDriveLetter;
  SearchAndBuild(m_chosen);
  return true;
}

bool CCompleteRecoveryPartitionDeviceSelectController::IsDriveOnSelectedVolume(char letter) const {
  if (!m_chosen || letter == 0) return false;
  return IsVolumeOnDriveLetter(*m_chosen, letter, Volumes());
}

int CCompleteRecoveryPartitionDeviceSelectController::RestoreState(IRSData* stream, IDIRBuildCallback*) {
  if (!stream) return 0;
  std::vector<VolumeRecord*> current;
  for (const auto& volume : Volumes()) current.push_back(volume.get());
  for (const auto& image : m_images) current.push_back(image.get());
  CDeviceSelectionState state(*stream);
  const size_t imagesBefore = m_images.size();
  m_chosen = state.LoadPartitionDevice(current, m_images);
  // An image the restore opened again is listed like one opened by hand, with a number of its own.
  for (size_t i = imagesBefore; i < m_images.size(); ++i) m_images[i]->RunningNumber = m_imageCounter++;
  if (m_images.size() != imagesBefore) FillList();
  // A source that cannot be read any more (an image file now empty, or a raw image file, which is
  // saved by its path but cannot be reopened as an image) fails the restore.
  if (!m_chosen || !m_chosen->Device || m_chosen->Device->GetSectorCount() <= 0) {
    m_chosen = nullptr;
    return 0;
  }
  GetRecoveryContext().SourceRootDevice = m_chosen->Device;
  return 1;
}

int CCompleteRecoveryPartitionDeviceSelectController::SaveState(IRSData* stream, IDIRBuildCallback*) {
  if (!stream || !m_chosen) return 0;
  std::string text;
  if (m_chosen->Kind == kSourceKindImage)
    text =
        corvale::ui::StringOrUtf8(409, "Results for \r\nImage File ") + "\"" + m_chosen->DisplayName + "\"";
  else
    text = corvale::ui::StringOrUtf8(408, "Results for \r\nPartition ") + "\"" +
           VolumeCaption(*m_chosen, "%c: %s (%s)") + "\"";
  if (text.size() >= kResultTextSize) text.resize(kResultTextSize - 1);
  WriteScanResultText(stream, text.c_str());
  return CDeviceSelectionState(*stream).SavePartitionDevice(*m_chosen) ? 1 : 0;
}

bool CCompleteRecoveryPartitionDeviceSelectController::Next() {
  const std::string caption = GetProductTitle();
  if (m_run.IsCollecting()) return false;
  CRecoveryContext& context = GetRecoveryContext();
  context.SourceRootDevice = nullptr;
  m_chosen = nullptr;

  if (IsPreviousRecoverySelected()) {
    context.SourceVolumeName.clear();
    LogRecoveryStatus(kStatusRestoringLastRecovery);
    if (!RestoreScanState(this)) {
      LogRecoveryStatus(kStatusRestoreLastFailed);
      corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(129, "Failed to restore last search result."),
                                  caption);
    } else {
      LogRecoveryStatus(kStatusRestoreLastDone);
    }
    // A restore that worked has shown the step it reached already.
    return false;
  }
  if (!SelectCurrentItem()) {
    corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(61230, "Select a partition to recover, please."),
                                caption);
    return false;
  }
  corvale::usage::TimedEvent(kEventNext, ElapsedMilliseconds(m_tick));
  m_chosen = m_selected;
  if (m_chosen->Kind == kSourceKindImage) {
    context.SourceVolumeName.clear();
    context.SourceDriveLetter = kNoDriveLetter;
  } else {
    context.SourceVolumeName = m_chosen->VolumeName;
    context.SourceDriveLetter = static_cast<uint8_t>(m_chosen->DriveLetter);
  }
  if (!m_chosen->Device) return false;
  SearchAndBuild(m_chosen);
  return true;
}

void CCompleteRecoveryPartitionDeviceSelectController::SearchAndBuild(VolumeRecord* record) {
  LogSearchPartitionDevice(*record, false);
  CRecoveryContext& context = GetRecoveryContext();
  context.SourceMarkFlag = record->Kind == kSourceKindImage ? 1 : 0;
  context.SourceRootDevice = record->Device;
  IStorageDevice* device = record->Device;

  WholeDeviceSearchOutcome outcome = RunWholeDeviceSearch(device, Window());
  if (outcome.cancelled) {
    // A stopped search leaves nothing behind: the user stays on this page.
    LogRecoveryStatus(kStatusUserAbort);
    return;
  }

  if (outcome.found.empty()) {
    LogInfo("Bnh-Do Not SearchedPartitionInfo");
    LogRecoveryStatus(kStatusNoPartitionBuildingRaw);
    CFileSystemNode* root = BuildRawFilesTree(outcome, device, Window());
    if (!root) return;
    if (IsExt(record->FileSystemTypeCode)) context.SourceRootDevice = device;
    CFileSelectController* files = GetFileSelectController();
    files->SetPreviousController(this);
    files->SetDirectoryTree(root, device);
    files->Activate();
    return;
  }

  CCompleteRecoveryScanPartitionDeviceSelectController* scan =
      GetCompleteRecoveryScanPartitionDeviceSelectController();
  scan->SetPreviousController(this);
  scan->SetSearchResults(std::move(outcome));
  if (context.PageFlowSwitch) {
    scan->Activate();
    return;
  }
  // Without the found-partition page the recommended partitions are built at once. When that
  // fails for any reason but the user's cancel, the page is shown so the user can tick others: the
  // search result is not thrown away unseen.
  if (scan->Next() || scan->WasLastBuildCancelled())
    scan->Cleanup();
  else
    scan->Activate();
}

void CCompleteRecoveryPartitionDeviceSelectController::ShowAdvancedSettings() {
  CAdvanceSettingMasterDlg dialog(1, nullptr);
  dialog.DoModal();
}
