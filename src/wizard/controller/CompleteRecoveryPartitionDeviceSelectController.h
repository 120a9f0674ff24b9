#pragma once
// The controller of format recovery's device page (page 2). When the page is shown it collects the
// machine's volumes on a worker thread, with the program's window disabled and a busy animation over
// it, and fills the page's list: first "Previous Recovery..." when a saved format recovery can be
// resumed, then every volume, then the disk images opened or made on the page. On Next it searches
// the chosen volume or image as a whole for the file systems that were on it (the whole-device
// search) and hands what was found to the found-partition step; when no partition is found, the
// files found by signature alone go to the file step. "Previous Recovery..." restores the saved scan.
//
// The worker never touches a window: it hands its lists to the window thread through a queued call,
// and lists that arrive after a newer collection began are dropped.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/DeviceCollection.h"
#include "core/SourceRecords.h"
#include "wizard/DeviceSelectPage.h"
#include "wizard/WizardPageController.h"
#include "wizard/controller/DevicePageCollection.h"

class CCompleteRecoveryPartitionDeviceSelectPage;
class CDeviceSelectCtrl;
class QWidget;

// What one collection found: the disks (owning their devices) and every volume on them.
struct CollectedVolumes {
  DiskDeviceList disks;
  VolumeRecordList volumes;
};

class CCompleteRecoveryPartitionDeviceSelectController : public IWizardPageController,
                                                         public CImageListingPageController<VolumeRecord> {
 public:
  static constexpr int kStateTypeId = 0;
  // Usage event: Next pressed, with the milliseconds since the page was shown.
  static constexpr int kEventNext = 8215;

  using Collector = std::function<std::unique_ptr<CollectedVolumes>()>;
  // Asks for the raw image file to open; empty for none. Tests answer.
  using RawImagePathAsker = std::function<std::string()>;

  CCompleteRecoveryPartitionDeviceSelectController();
  ~CCompleteRecoveryPartitionDeviceSelectController() override;

  void Activate() override;
  void Home() override;
  void Back() override;
  // True when the search was started (whatever it found); false when it stays on the page.
  bool Next() override;
  void SetPreviousController(IWizardPageController* previous) override { m_previous = previous; }
  IWizardPageController* GetPreviousController() override { return m_previous; }
  // The settings open in the mode that keeps the RAW type tree.
  void ShowAdvancedSettings() override;
  int RestoreState(IRSData* stream, IDIRBuildCallback* progress) override;
  int SaveState(IRSData* stream, IDIRBuildCallback* progress) override;
  int GetStateTypeId() override { return kStateTypeId; }
  int GetRecoveryKind() override { return kRecoveryKindComplete; }
  CSourceDeviceChoice GetSourceSelection() override;
  void Cleanup() override;

  // IDeviceSelectPageController
  IWizardPageController* GetWizardController() override { return this; }
  void StartDeviceCollection() override;
  void CreateImageOfSelected() override { CreateImageOfSelectedVolume(); }
  void OpenImage() override { OpenImageFile(); }

  // Runs the create-image wizard for the selected volume and lists the image it made; false when
  // nothing was listed.
  bool CreateImageOfSelectedVolume();
  // Runs the open-image wizard and lists the image it opened; false when none was listed.
  bool OpenImageFile();
  // Opens a raw image file (sector 0 of the file is sector 0 of the device) as a chosen image and
  // searches it at once. False when no file was chosen or it cannot be read.
  bool OpenRawImageFile();
  // Lists the disk image at `path`: false (after a warning) when that path is listed already or
  // the image does not check out.
  bool AddImage(const std::string& displayName, const std::string& path, int64_t sectors,
                int32_t bytesPerSector);

  // True when `letter` is the chosen volume's letter, or names a volume that shares sectors with it.
  bool IsDriveOnSelectedVolume(char letter) const;

  void SetPage(CCompleteRecoveryPartitionDeviceSelectPage* page);
  CCompleteRecoveryPartitionDeviceSelectPage* GetPage() const { return m_page; }
  const VolumeRecordList& Volumes() const;

  // Replace how volumes are collected and how the raw image file is asked for (null: the
  // program's own). Tests use them.
  void SetCollector(Collector collector) { m_collector = std::move(collector); }
  void SetRawImagePathAsker(RawImagePathAsker asker) { m_askRawPath = std::move(asker); }
  // Whether the next activation commits a pending saved scan first (once per run).
  static bool& CommitPending();

 private:
  void FillList() override;
  // Searches the chosen record's device and goes on with what was found.
  void SearchAndBuild(VolumeRecord* record);
  QWidget* Window() const;

  CCompleteRecoveryPartitionDeviceSelectPage* m_page = nullptr;
  IWizardPageController* m_previous = nullptr;
  std::unique_ptr<CollectedVolumes> m_collected;
  Collector m_collector;
  RawImagePathAsker m_askRawPath;
  std::chrono::steady_clock::time_point m_tick;
};

// The disks of the disk catalogue and every volume on them.
std::unique_ptr<CollectedVolumes> CollectVolumesForFormatRecovery();

CCompleteRecoveryPartitionDeviceSelectController* GetCompleteRecoveryPartitionDeviceSelectController();
