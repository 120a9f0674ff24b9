#include "wizard/controller/DiskImageItems.h"

#include <filesystem>
#include <system_error>

#include "controls/DeviceSelectCtrl.h"
#include "dialogs/ImageDiskMasterDlg.h"
#include "dialogs/OpenDiskImageMasterDlg.h"
#include "storage/ImageFileDeviceWithDecompress.h"

std::string RunCreateImageWizard(IStorageDevice* source, const std::string& displayName, int32_t sourceKind,
                                 QWidget* parent) {
  if (!source) return {};
  CImageDiskMasterDlg wizard(source, displayName, sourceKind, parent);
  wizard.DoModal();
  return wizard.IsImageCreated() ? wizard.GetImagePath() : std::string();
}

bool RunOpenImageWizard(QWidget* parent, OpenedDiskImage& opened) {
  COpenDiskImageMasterDlg wizard(parent);
  wizard.DoModal();
  if (!wizard.IsImageOpened()) return false;
  opened = OpenedDiskImage();
  opened.path = wizard.GetImagePath();
  CImageFileDeviceWithDecompress probe(opened.path);
  if (probe.IsUsable()) {
    char name[260] = {};
    probe.GetSourceName(name);
    name[sizeof name - 1] = 0;
    opened.sourceName = name;
    opened.sourceDiskNumber = probe.GetSourceDiskNumber();
    opened.sectorCount = probe.GetSectorCount();
  }
  return true;
}

std::unique_ptr<CImageFileDeviceWithDecompress> OpenListedImage(const std::string& path,
                                                                std::string& problem) {
  auto device = std::make_unique<CImageFileDeviceWithDecompress>(path);
  if (device->IsUsable()) return device;
  problem = device->GetProblem();
  return nullptr;
}

bool IsSameImagePath(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ea;
  std::error_code eb;
  const std::filesystem::path pa = std::filesystem::weakly_canonical(a, ea);
  const std::filesystem::path pb = std::filesystem::weakly_canonical(b, eb);
  return !ea && !eb && pa == pb;
}

uint32_t ImageRowSectorSize(int32_t value) {
  return value >= 1 && value <= 4096 && value % 512 == 0 ? static_cast<uint32_t>(value) : 512;
}

void AddImageRow(CDeviceSelectCtrl* list, const std::string& name, int64_t sectors, int32_t bytesPerSector,
                 const std::string& information, void* record) {
  if (!list) return;
  DEVICE_ITEM_INFO item;
  item.kind = 4;
  item.name = name.c_str();
  item.sectorCount = sectors > 0 ? static_cast<uint64_t>(sectors) : 0;
  item.bytesPerSector = ImageRowSectorSize(bytesPerSector);
  item.information = information.c_str();
  item.itemData = record;
  list->AddItem(&item);
}
