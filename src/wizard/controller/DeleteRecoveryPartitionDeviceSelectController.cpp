#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"

#include <QCoreApplication>
#include <QObject>
#include <QWidget>
#include <cstdio>
#include <cstring>

#include "controls/DeviceSelectCtrl.h"
#include "controls/Formatting.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/MyFileProperties.h"
#include "dialogs/AdvanceSettingMasterDlg.h"
#include "dialogs/DirectoryTreeBuilder.h"
#include "dialogs/HasCheckboxPromptDlg.h"
#include "find/FileFilter.h"
#include "find/FilterTreeBuilder.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "storage/FileSystemCode.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"
#include "ui/RunReport.h"
#include "ui/UsageStatistics.h"
#include "wizard/DeleteRecoveryPartitionDeviceSelectPage.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/DiskImageItems.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/HintSettings.h"

namespace {

bool IsExt(int32_t code) { return code == kFileSystemExt2 || code == kFileSystemExt3; }

}  // namespace

CFileSystemNode* CreateRootNode() {
  MyFileInfo info;
  info.name = "Root";
  info.attributes = kAttributeFolder;
  info.validMask = kValidAttributes;
  CFileSystemNode* root = CreateFileSystemNode();
  if (root) root->SetFileProperties(new CMyFileProperties(info));
  return root;
}

CDeleteRecoveryPartitionDeviceSelectController* GetDeleteRecoveryPartitionDeviceSelectController() {
  static CDeleteRecoveryPartitionDeviceSelectController controller;
  return &controller;
}

bool& CDeleteRecoveryPartitionDeviceSelectController::ModeHintEnabled() {
  static bool enabled = true;
  return enabled;
}

CDeleteRecoveryPartitionDeviceSelectController::CDeleteRecoveryPartitionDeviceSelectController() = default;

CDeleteRecoveryPartitionDeviceSelectController::~CDeleteRecoveryPartitionDeviceSelectController() {
  m_run.Join();
}

void CDeleteRecoveryPartitionDeviceSelectController::Activate() {
  m_tick = std::chrono::steady_clock::now();
  StartDeviceCollection();
  if (CWizardSheet* sheet = GetWizardSheet()) sheet->ShowPage(DeleteRecoveryPartitionDeviceSelect);
}

void CDeleteRecoveryPartitionDeviceSelectController::Home() {
  Cleanup();
  if (m_previous) m_previous->Home();
}

void CDeleteRecoveryPartitionDeviceSelectController::Back() {
  Cleanup();
  if (m_previous) m_previous->Activate();
}

CSourceDeviceChoice CDeleteRecoveryPartitionDeviceSelectController::GetSourceSelection() {
  return CSourceDeviceChoice(m_chosen ? &m_chosen->record : nullptr);
}

void CDeleteRecoveryPartitionDeviceSelectController::Cleanup() {
  m_run.Cancel();
  if (m_page) m_page->GetDeviceSelectCtrl()->DeleteAllItems();
  m_selected = nullptr;
  m_chosen = nullptr;
  CRecoveryContext& context = GetRecoveryContext();
  for (const auto& volume : m_volumes)
    if (context.SourceRootDevice == volume->volume.get()) context.SourceRootDevice = nullptr;
  m_volumes.clear();
}

void CDeleteRecoveryPartitionDeviceSelectController::StartDeviceCollection() {
  m_run.Join();
  Cleanup();
  m_run.Run<std::vector<std::unique_ptr<CollectedVolume>>>(
      m_collector ? m_collector : Collector(CollectLetteredVolumes),
      [this](std::vector<std::unique_ptr<CollectedVolume>> volumes) {
        m_volumes = std::move(volumes);
        FillList();
        DebugTrace("InitVolumeDeviceSelectCtrl end");
      },
      "collect device end");
}

void CDeleteRecoveryPartitionDeviceSelectController::FillList() {
  if (!m_page) return;
  CDeviceSelectCtrl* list = m_page->GetDeviceSelectCtrl();
  list->DeleteAllItems();
  for (const auto& volume : m_volumes) {
    const VolumeRecord& record = volume->record;
    char letter = record.DriveLetter;
    if (letter == 0 && IsExt(record.FileSystemTypeCode)) letter = '*';
    if (letter == 0 || record.FileSystemTypeCode == kFileSystemUnknown) continue;
    // A volume that cannot be read now is left out without a word, as the system leaves out a drive
    // that does not answer.
    if (!volume->readable) continue;
    char name[512];
    std::snprintf(name, sizeof name, "%c : %s  (%s)", letter, record.VolumeName.c_str(),
                  GetFileSystemName(static_cast<uint32_t>(record.FileSystemTypeCode)));
    DEVICE_ITEM_INFO item;
    item.kind = 2;
    item.name = name;
    item.sectorCount = static_cast<uint64_t>(volume->sectorCount);
    item.bytesPerSector = static_cast<uint32_t>(volume->bytesPerSector);
    item.information = volume->information.c_str();
    item.itemData = volume.get();
    list->AddItem(&item);
  }
  const std::string imageText = corvale::ui::StringOrUtf8(280, "Image File, ");
  for (const auto& image : m_images)
    AddImageRow(list, imageText + image->record.DisplayName, image->sectorCount, image->bytesPerSector,
                image->information, image.get());
}

bool CDeleteRecoveryPartitionDeviceSelectController::IsImageSelected() const {
  return m_selected && m_selected->record.Kind == kSourceKindImage;
}

int32_t CDeleteRecoveryPartitionDeviceSelectController::ImageFileSystemCode(const std::string& displayName,
                                                                            int32_t previous) {
  if (displayName.size() < 3) return previous;
  const std::string pair = displayName.substr(displayName.size() - 3, 2);
  if (pair == "16") return kFileSystemFat16;
  if (pair == "12") return kFileSystemFat12;
  if (pair == "32") return kFileSystemFat32;
  if (pair == "FS") return kFileSystemNtfs;
  if (pair == "T2") return kFileSystemExt2;
  if (pair == "T3") return kFileSystemExt3;
  return previous;
}

bool CDeleteRecoveryPartitionDeviceSelectController::AddImage(const std::string& displayName,
                                                              const std::string& path) {
  std::string problem;
  std::unique_ptr<CImageFileDeviceWithDecompress> device = OpenListedImage(path, problem);
  if (device && device->GetSectorCount() <= 0) device.reset();
  if (!device) {
    corvale::ui::ShowMessageBox(
        corvale::ui::StringOrUtf8(284, "This image has been destroyed. ") + "\n" + problem, GetProductTitle(),
        corvale::ui::MessageIcon::Warning);
    return false;
  }
  m_imageCode = ImageFileSystemCode(displayName, m_imageCode);
  auto image = std::make_unique<CollectedVolume>();
  image->record.Kind = kSourceKindImage;
  image->record.Device = device.get();
  image->record.FileSystemTypeCode = m_imageCode;
  image->record.RunningNumber = m_imageCounter++;
  image->record.DisplayName = displayName;
  image->record.ImagePath = path;
  image->record.SectorCount = device->GetSectorCount();
  image->sectorCount = device->GetSectorCount();
  image->bytesPerSector = device->GetSectorSize();
  image->information = path;
  image->readable = true;
  image->volume = std::move(device);
  m_images.push_back(std::move(image));
  FillList();
  return true;
}

bool CDeleteRecoveryPartitionDeviceSelectController::CreateImageOfSelectedVolume() {
  if (m_run.IsCollecting() || !SelectCurrentItem() || IsImageSelected()) return false;
  CollectedVolume* volume = m_selected;
  char caption[512];
  std::snprintf(caption, sizeof caption, "%s (%c:\\ %s)", volume->record.VolumeName.c_str(),
                volume->record.DriveLetter ? volume->record.DriveLetter : '*',
                GetFileSystemName(static_cast<uint32_t>(volume->record.FileSystemTypeCode)));
  const std::string path =
      RunCreateImageWizard(volume->volume.get(), caption, 255, m_page ? m_page->window() : nullptr);
  if (path.empty()) return false;
  // The list shows the image's own sector count, read back from what was written.
  return AddImage(caption, path);
}

bool CDeleteRecoveryPartitionDeviceSelectController::OpenImage() {
  if (m_run.IsCollecting()) return false;
  OpenedDiskImage opened;
  if (!RunOpenImageWizard(m_page ? m_page->window() : nullptr, opened)) return false;
  return AddImage(opened.sourceName, opened.path);
}

void CDeleteRecoveryPartitionDeviceSelectController::CloseAllImages() {
  CRecoveryContext& context = GetRecoveryContext();
  for (const auto& image : m_images) {
    if (context.SourceRootDevice == image->volume.get()) context.SourceRootDevice = nullptr;
    if (m_chosen == image.get()) m_chosen = nullptr;
    if (m_selected == image.get()) m_selected = nullptr;
  }
  m_images.clear();
  FillList();
}

bool CDeleteRecoveryPartitionDeviceSelectController::CloseSelectedImage() {
  if (!SelectCurrentItem() || !IsImageSelected()) return false;
  CRecoveryContext& context = GetRecoveryContext();
  EraseImagesNumbered(
      m_images, m_selected->record.RunningNumber,
      [](const CollectedVolume& image) { return image.record.RunningNumber; },
      [&](CollectedVolume& image) {
        if (context.SourceRootDevice == image.volume.get()) context.SourceRootDevice = nullptr;
        if (m_chosen == &image) m_chosen = nullptr;
      });
  m_selected = nullptr;
  FillList();
  return true;
}

bool CDeleteRecoveryPartitionDeviceSelectController::SelectCurrentItem() {
  m_selected = SelectedRecord<CollectedVolume>(m_page ? m_page->GetDeviceSelectCtrl() : nullptr);
  return m_selected != nullptr;
}

bool CDeleteRecoveryPartitionDeviceSelectController::IsDriveOnSelectedVolume(char letter) const {
  if (!m_chosen || letter == 0) return false;
  if (m_chosen->record.DriveLetter == letter) return true;
  // A volume of dynamic disks lies on no one disk (number -1): it shares sectors with no other.
  if (m_chosen->diskNumber < 0) return false;
  for (const auto& other : m_volumes) {
    if (other->record.DriveLetter != letter || other->diskNumber != m_chosen->diskNumber) continue;
    const int64_t start = std::max(other->startSector, m_chosen->startSector);
    const int64_t end =
        std::min(other->startSector + other->sectorCount, m_chosen->startSector + m_chosen->sectorCount);
    if (start < end) return true;
  }
  return false;
}

bool CDeleteRecoveryPartitionDeviceSelectController::Next() {
  const std::string caption = GetProductTitle();
  if (m_run.IsCollecting()) return false;
  SelectCurrentItem();
  CollectedVolume* chosen = m_selected;
  if (!chosen) {
    corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(143, "Select a partition to recover please."),
                                caption);
    return false;
  }
  m_chosen = chosen;
  CRecoveryContext& context = GetRecoveryContext();
  context.SourceVolumeName = chosen->record.VolumeName;
  context.SourceDriveLetter = static_cast<uint8_t>(chosen->record.DriveLetter);
  corvale::usage::TimedEvent(kEventNext, ElapsedMilliseconds(m_tick));

  CFileSystemNode* root = CreateRootNode();
  if (!root) return false;
  LogSearchPartitionDevice(chosen->record, true);
  context.SourceMarkFlag = chosen->record.Kind == kSourceKindImage ? 1 : 0;
  context.SourceRootDevice = chosen->volume.get();

  const auto buildStart = std::chrono::steady_clock::now();
  CDirectoryTreeBuilder builder;
  CFileSystemNode* tree = builder.BuildDirectoryTree(chosen->record.FileSystemTypeCode, chosen->volume.get());
  if (builder.IsCancelled()) {
    FreeFileTree(tree);
    FreeFileTree(root);
    LogRecoveryStatus(kStatusUserAbort);
    corvale::usage::TimedEvent(kEventCancelled, ElapsedMilliseconds(buildStart));
    return false;
  }

  // A volume whose files the engine cannot read is said to be so, however much of it was listed.
  const uint32_t notice = builder.GetVolumeNotice();
  if (notice != 0) {
    corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(notice, "This volume's files cannot be read."),
                                caption, corvale::ui::MessageIcon::Warning);
  }

  uint32_t files = 0;
  if (tree) {
    LogRecoveryStatus(kStatusSearchedWholeDevice);
    CFileStateFilter filter(7);
    CFilterTreeBuilder copier(&filter);
    CFileSystemNode* copy = copier.CopyRoot(tree);
    // The copy now owns the properties it shares with the full tree, which is not needed further.
    CFilterTreeBuilder::ReleaseSource(tree, copy);
    tree = nullptr;
    if (copy) {
      FileSystemNodeInfo record;
      root->GetNodeInfo(record);
      const int32_t two = 2;
      std::memcpy(record.data, &two, sizeof two);
      root->SetNodeInfo(record);
      uint64_t firstSector = 0;
      uint32_t sectorsPerCluster = 0;
      copy->GetPosition(firstSector, sectorsPerCluster);
      root->SetPosition(firstSector, sectorsPerCluster);
      root->SetFileSystemType(copy->GetFileSystemType());
      root->AddChild(copy);
      root->RecountSummary();
      SelectionSummary summary;
      root->GetSummary(summary);
      files = summary.files;
    }
  }
  // A build that failed (the volume could not be read, or holds no file system the engines know)
  // ends like one that found nothing: the user is told and stays on the page.
  if (files < 1) {
    LogRecoveryStatus(kStatusFoundNothing);
    FreeFileTree(root);
    m_chosen = nullptr;
    // The notice already said why, and where to go instead.
    if (notice == 0)
      corvale::ui::ShowMessageBox(
          corvale::ui::StringOrUtf8(61249, "No files found, please go to Format Recovery mode!"), caption);
    return false;
  }

  corvale::usage::TimedEvent(kEventBuilt, ElapsedMilliseconds(buildStart));
  if (ModeHintEnabled() && corvale::hints::IsHintShown(corvale::hints::kFormatRecoveryHint)) {
    CHasCheckboxPromptDlg hint(
        corvale::ui::StringOrUtf8(
            396, "If the files are not found or corrupted in this mode, please go to \"Format Recovery\"!"),
        m_page ? m_page->window() : nullptr);
    hint.DoModal();
    ModeHintEnabled() = hint.GetAnswer() == 0;
    if (hint.GetAnswer() != 0) corvale::hints::HideHint(corvale::hints::kFormatRecoveryHint);
  }

  // The file step shows the tree from now on; the found files are read from the chosen volume.
  CFileSelectController* next = GetFileSelectController();
  next->SetPreviousController(this);
  next->SetDirectoryTree(root, chosen->volume.get());
  next->Activate();
  return true;
}

void CDeleteRecoveryPartitionDeviceSelectController::ShowAdvancedSettings() {
  CAdvanceSettingMasterDlg dialog(1, nullptr);
  dialog.DoModal();
}
