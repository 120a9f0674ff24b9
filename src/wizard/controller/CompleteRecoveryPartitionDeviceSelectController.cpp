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
#include "controls/ImageWnd.h"
#include "core/DeviceSelectionState.h"
#include "core/FileNode.h"
#include "dialogs/AdvanceSettingMasterDlg.h"
#include "dialogs/ImageDiskMasterDlg.h"
#include "dialogs/OpenDiskImageMasterDlg.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "storage/DiskDevice.h"
#include "storage/FileSystemCode.h"
#include "storage/ImageFileDevice.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"
#include "ui/RunReport.h"
#include "ui/UsageStatistics.h"
#include "wizard/CompleteRecoveryPartitionDeviceSelectPage.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/CompleteRecoveryScanPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/ScanState.h"
#include "wizard/controller/WholeDeviceSearch.h"

namespace {

std::string Text(uint32_t id, const char* fallback) {
  const QString text = corvale::ui::LoadStringResource(id);
  return text.isEmpty() ? fallback : text.toStdString();
}

// List pictures of the device page.
constexpr uint32_t kPictureFloppy = 0;
constexpr uint32_t kPictureVolume = 2;
constexpr uint32_t kPictureImage = 4;
constexpr uint32_t kPicturePreviousRecovery = 5;
constexpr uint32_t kPictureUsbVolume = 6;
// The longest result text of a saved scan, with its terminator.
constexpr size_t kResultTextSize = 260;
constexpr uint8_t kNoDriveLetter = 255;

uint32_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
          .count());
}

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
  JoinWorker();
}

void CCompleteRecoveryPartitionDeviceSelectController::JoinWorker() {
  if (m_worker.joinable()) m_worker.join();
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
  // A collection still running is dropped when it arrives.
  ++m_generation;
  if (m_collecting) {
    m_collecting = false;
    StopAnimation();
  }
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
  m_hasSavedResult = false;
}

void CCompleteRecoveryPartitionDeviceSelectController::CloseAllImages() {
  CRecoveryContext& context = GetRecoveryContext();
  for (const auto& image : m_images) {
    if (context.SourceRootDevice == image->Device) context.SourceRootDevice = nullptr;
    if (m_chosen == image.get()) m_chosen = nullptr;
    if (m_selected == image.get()) m_selected = nullptr;
  }
  m_images.clear();
  FillList();
}

void CCompleteRecoveryPartitionDeviceSelectController::StartDeviceCollection() {
  JoinWorker();
  Cleanup();
  const uint64_t generation = ++m_generation;
  m_collecting = true;
  {
    char text[kResultTextSize] = {};
    m_hasSavedResult = ReadLastScanResultText(this, text, sizeof text) != 0;
    m_savedResultText = m_hasSavedResult ? text : "";
  }

  if (!m_receiver) m_receiver = new QObject();
  if (QWidget* window = GetWizardSheet() ? GetWizardSheet()->window() : nullptr) {
    if (!m_animation) {
      m_animation = new CImageWnd(window);
      m_animation->SetAnimation(corvale::ui::bitmap::kBusyAnimation,
                                corvale::ui::bitmap::kBusyAnimationFrames, 120, 0xFFFFFF, true);
    }
    m_animation->SetPosition(-1, -1);
    m_animation->show();
    m_animation->Start();
    if (window->isEnabled()) {
      window->setEnabled(false);
      m_disabledWindow = window;
    }
  }

  Collector collector = m_collector ? m_collector : Collector(CollectVolumesForFormatRecovery);
  QObject* receiver = m_receiver;
  m_worker = std::thread([this, collector, receiver, generation] {
    std::shared_ptr<CollectedVolumes> collected(collector().release());
    DebugTrace("collect volume end");
    QMetaObject::invokeMethod(
        receiver,
        [this, generation, collected] {
          auto owned = std::make_unique<CollectedVolumes>();
          if (collected) *owned = std::move(*collected);
          FinishCollection(generation, std::move(owned));
        },
        Qt::QueuedConnection);
  });
}

void CCompleteRecoveryPartitionDeviceSelectController::StopAnimation() {
  if (m_animation) {
    m_animation->Stop();
    m_animation->hide();
  }
  if (m_disabledWindow) {
    m_disabledWindow->setEnabled(true);
    m_disabledWindow->activateWindow();
  }
  m_disabledWindow = nullptr;
}

void CCompleteRecoveryPartitionDeviceSelectController::FinishCollection(
    uint64_t generation, std::unique_ptr<CollectedVolumes> collected) {
  JoinWorker();
  if (generation != m_generation) return;
  m_collecting = false;
  m_collected = std::move(collected);
  StopAnimation();
  FillList();
}

void CCompleteRecoveryPartitionDeviceSelectController::FillList() {
  if (!m_list) return;
  m_list->DeleteAllItems();
  m_selected = nullptr;
  if (m_hasSavedResult) {
    const std::string name = Text(133, "Previous Recovery...");
    DEVICE_ITEM_INFO item;
    item.kind = kPicturePreviousRecovery;
    item.name = name.c_str();
    item.information = m_savedResultText.c_str();
    item.itemData = nullptr;
    m_list->AddItem(&item);
  }
  DebugTrace("CCompleteRecoveryPartitionDeviceSelectController::InitVolumeDeviceSelectCtrl");
  if (m_collected) {
    for (const auto& volume : m_collected->volumes) {
      if (!volume || !volume->Device) continue;
      const int64_t sectors = volume->Device->GetSectorCount();
      if (sectors <= 0) continue;
      const std::string name = VolumeCaption(*volume, "%c : %s  (%s)");
      std::string information = volume->DevicePath;
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
  for (const auto& image : m_images) {
    const std::string name = Text(130, "Image File, ") + image->DisplayName;
    DEVICE_ITEM_INFO item;
    item.kind = kPictureImage;
    item.name = name.c_str();
    item.sectorCount = static_cast<uint64_t>(std::max<int64_t>(image->SectorCount, 0));
    const int32_t sectorSize = image->Device ? image->Device->GetSectorSize() : 0;
    if (sectorSize >= 512 && sectorSize <= 4096 && sectorSize % 512 == 0)
      item.bytesPerSector = static_cast<uint32_t>(sectorSize);
    item.information = image->ImagePath.c_str();
    item.itemData = image.get();
    m_list->AddItem(&item);
  }
}

bool CCompleteRecoveryPartitionDeviceSelectController::SelectCurrentItem() {
  m_selected = nullptr;
  if (!m_list) return false;
  m_selected = static_cast<VolumeRecord*>(m_list->GetItemData(m_list->GetCurSel()));
  return m_selected != nullptr;
}

bool CCompleteRecoveryPartitionDeviceSelectController::IsImageSelected() {
  return SelectCurrentItem() && m_selected->Kind == kSourceKindImage;
}

bool CCompleteRecoveryPartitionDeviceSelectController::IsPreviousRecoverySelected() const {
  if (!m_list || !m_hasSavedResult) return false;
  const int row = m_list->GetCurSel();
  return row == 0 && m_list->GetItemData(row) == nullptr;
}

bool CCompleteRecoveryPartitionDeviceSelectController::AddImage(const std::string& displayName,
                                                                const std::string& path, int64_t sectors,
                                                                int32_t bytesPerSector) {
  (void)bytesPerSector;  // the list reads it from the image's own device
  for (const auto& image : m_images) {
    if (image->ImagePath == path) {
      corvale::ui::ShowMessageBox(Text(131, "This image file is open!"), GetProductTitle(),
                                  corvale::ui::MessageIcon::Warning);
      return false;
    }
  }
  auto device = std::make_shared<CImageFileDeviceWithDecompress>(path);
  // An image of no sectors holds nothing to search (a file that is no image reads as one).
  if (!device->IsUsable() || device->GetSectorCount() <= 0) {
    corvale::ui::ShowMessageBox(Text(283, "This is an invalid image file, please check it!"),
                                GetProductTitle(), corvale::ui::MessageIcon::Warning);
    return false;
  }
  auto image = std::make_shared<VolumeRecord>();
  image->Kind = kSourceKindImage;
  image->DeviceOwner = device;
  image->Device = device.get();
  image->RunningNumber = m_imageCounter++;
  image->DisplayName = displayName;
  image->ImagePath = path;
  image->SectorCount = sectors;
  m_images.push_back(std::move(image));
  FillList();
  return true;
}

bool CCompleteRecoveryPartitionDeviceSelectController::CreateImageOfSelectedVolume() {
  if (m_collecting || !SelectCurrentItem() || m_selected->Kind == kSourceKindImage || !m_selected->Device)
    return false;
  VolumeRecord* volume = m_selected;
  const std::string caption = VolumeCaption(*volume, "%c : %s  (%s)");
  CImageDiskMasterDlg wizard(volume->Device, caption, 255, Window());
  wizard.DoModal();
  if (!wizard.IsImageCreated()) return false;
  return AddImage(caption, wizard.GetImagePath(), static_cast<int64_t>(wizard.GetRegionLength()),
                  volume->Device->GetSectorSize());
}

bool CCompleteRecoveryPartitionDeviceSelectController::OpenImageFile() {
  if (m_collecting) return false;
  COpenDiskImageMasterDlg wizard(Window());
  wizard.DoModal();
  if (!wizard.IsImageOpened()) return false;
  char name[kResultTextSize] = {};
  int64_t total = 0;
  int32_t sectorSize = 0;
  {
    // A probe only: the listed image opens its own device.
    CImageFileDeviceWithDecompress probe(wizard.GetImagePath());
    if (probe.IsUsable()) {
      probe.GetSourceName(name);
      total = probe.GetSectorCount();
      sectorSize = probe.GetSectorSize();
    }
  }
  name[sizeof name - 1] = 0;
  if (total <= 0) {
    corvale::ui::ShowMessageBox(Text(284, "This image has been destroyed. "), GetProductTitle(),
                                corvale::ui::MessageIcon::Warning);
    return false;
  }
  return AddImage(name, wizard.GetImagePath(), total, sectorSize);
}

void CCompleteRecoveryPartitionDeviceSelectController::CloseSelectedImage() {
  if (!IsImageSelected()) return;
  const int32_t number = m_selected->RunningNumber;
  CRecoveryContext& context = GetRecoveryContext();
  for (auto it = m_images.begin(); it != m_images.end();) {
    if ((*it)->RunningNumber == number) {
      if (context.SourceRootDevice == (*it)->Device) context.SourceRootDevice = nullptr;
      if (m_chosen == it->get()) m_chosen = nullptr;
      it = m_images.erase(it);
    } else {
      ++it;
    }
  }
  m_selected = nullptr;
  FillList();
}

void CCompleteRecoveryPartitionDeviceSelectController::RemovePreviousRecoveryItem() {
  if (!IsPreviousRecoverySelected()) return;
  m_list->DeleteItem(0);
  m_hasSavedResult = false;
  DeleteLastScanState(this);
}

bool CCompleteRecoveryPartitionDeviceSelectController::OpenRawImageFile() {
  if (m_collecting) return false;
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
    corvale::ui::ShowMessageBox(Text(283, "This is an invalid image file, please check it!"),
                                GetProductTitle(), corvale::ui::MessageIcon::Warning);
    return false;
  }
  // The file is searched as a chosen image: it stays listed (and is freed) with the other images,
  // and the steps after this one read it as the source.
  auto image = std::make_shared<VolumeRecord>();
  image->Kind = kSourceKindImage;
  image->DeviceOwner = device;
  image->Device = device.get();
  image->RunningNumber = m_imageCounter++;
  image->DisplayName = std::filesystem::path(path).filename().string();
  image->ImagePath = path;
  image->SectorCount = device->GetSectorCount();
  m_images.push_back(image);
  FillList();

  m_chosen = image.get();
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
  if (!m_chosen || !m_chosen->Device) {
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
    text = Text(409, "Results for \r\nImage File ") + "\"" + m_chosen->DisplayName + "\"";
  else
    text = Text(408, "Results for \r\nPartition ") + "\"" + VolumeCaption(*m_chosen, "%c: %s (%s)") + "\"";
  if (text.size() >= kResultTextSize) text.resize(kResultTextSize - 1);
  WriteScanResultText(stream, text.c_str());
  return CDeviceSelectionState(*stream).SavePartitionDevice(*m_chosen) ? 1 : 0;
}

bool CCompleteRecoveryPartitionDeviceSelectController::Next() {
  const std::string caption = GetProductTitle();
  if (m_collecting) return false;
  CRecoveryContext& context = GetRecoveryContext();
  context.SourceRootDevice = nullptr;
  m_chosen = nullptr;

  if (IsPreviousRecoverySelected()) {
    context.SourceVolumeName.clear();
    LogRecoveryStatus(kStatusRestoringLastRecovery);
    if (!RestoreScanState(this)) {
      LogRecoveryStatus(kStatusRestoreLastFailed);
      corvale::ui::ShowMessageBox(Text(129, "Failed to restore last search result."), caption);
    } else {
      LogRecoveryStatus(kStatusRestoreLastDone);
    }
    // A restore that worked has shown the step it reached already.
    return false;
  }
  if (!SelectCurrentItem()) {
    corvale::ui::ShowMessageBox(Text(61230, "Select a partition to recover, please."), caption);
    return false;
  }
  corvale::usage::TimedEvent(kEventNext, MillisecondsSince(m_tick));
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
