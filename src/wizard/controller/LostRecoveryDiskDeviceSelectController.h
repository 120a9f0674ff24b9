#pragma once
// The controller of partition recovery's disk page (page 3). When the page is shown it collects the
// disks (with the volumes each carries, to describe it) on a worker thread, with the program's
// window disabled and a busy animation over it, and fills the page's list: first "Previous
// Recovery..." when a saved partition recovery can be resumed, then one row per disk, then one per
// disk image opened or made on the page (an image is searched like the disk it was made of). On Next it
// searches the chosen disk for partitions its table no longer holds, under the searching window, and
// hands them to the lost-partition step; or, for "Previous Recovery...", restores the saved scan.
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
#include "storage/DiskDevice.h"
#include "wizard/DeviceSelectPage.h"
#include "wizard/WizardPageController.h"
#include "wizard/controller/DevicePageCollection.h"

class CDeviceSelectCtrl;
class CWizardPage;
class QWidget;

// What one collection found: the disks (owning their devices), their volumes, and a record per disk.
struct CollectedDisks {
  DiskDeviceList disks;
  VolumeRecordList volumes;
  std::vector<std::unique_ptr<DiskRecord>> records;
  std::vector<std::string> descriptions;  // per record: one line per volume on the disk
};

class CLostRecoveryDiskDeviceSelectController : public IWizardPageController,
                                                public CImageListingPageController<DiskRecord> {
 public:
  // Usage event: Next pressed, with the milliseconds since the page was shown.
  static constexpr int kEventNext = 8242;
  static constexpr int kStateTypeId = 2;

  using Collector = std::function<std::unique_ptr<CollectedDisks>()>;
  // Reads the result text of the last saved partition recovery; false when there is none.
  using SavedResultReader = std::function<bool(std::string& text)>;
  // Restores the last saved partition recovery and activates the step it reached; false on failure.
  using SavedResultRestorer = std::function<bool(CLostRecoveryDiskDeviceSelectController*)>;

  CLostRecoveryDiskDeviceSelectController();
  ~CLostRecoveryDiskDeviceSelectController() override;

  void Activate() override;
  void Home() override;
  void Back() override;
  bool Next() override;
  void SetPreviousController(IWizardPageController* previous) override { m_previous = previous; }
  IWizardPageController* GetPreviousController() override { return m_previous; }
  int RestoreState(IRSData* stream, IDIRBuildCallback* progress) override;
  int SaveState(IRSData* stream, IDIRBuildCallback* progress) override;
  int GetStateTypeId() override { return kStateTypeId; }
  int GetRecoveryKind() override { return kRecoveryKindPartition; }
  CSourceDeviceChoice GetSourceSelection() override;
  void Cleanup() override;

  // IDeviceSelectPageController
  IWizardPageController* GetWizardController() override { return this; }
  void StartDeviceCollection() override;
  void CreateImageOfSelected() override { CreateImageOfSelectedDisk(); }
  // Runs the create-image window for the selected disk and lists the image it made when asked to;
  // false when no disk was selected or no image was listed.
  bool CreateImageOfSelectedDisk();
  void OpenImage() override { OpenImageAsDisk(); }
  // Runs the open-image window and lists the image it opened; false when none was listed.
  bool OpenImageAsDisk();
  // Lists the image at `path` under `displayName`, made from disk `sourceDiskNumber` (255: not a
  // whole disk). False, after a warning, when that image is listed already or cannot be read.
  bool AddImage(const std::string& displayName, const std::string& path, int32_t sourceDiskNumber);

  // True when the volume with drive letter `letter` lies on the chosen disk.
  bool IsDriveOnSelectedDisk(char letter) const;

  void SetPage(CWizardPage* page, CDeviceSelectCtrl* list) {
    m_page = page;
    m_list = list;
  }
  CWizardPage* GetPage() const { return m_page; }
  const std::vector<std::unique_ptr<DiskRecord>>& Disks() const;

  // Replace how disks are collected and how a saved result is read and restored (null: the
  // program's own). Tests use them.
  void SetCollector(Collector collector) { m_collector = std::move(collector); }
  void SetSavedResultReader(SavedResultReader reader) { m_readSaved = std::move(reader); }
  void SetSavedResultRestorer(SavedResultRestorer restorer) { m_restoreSaved = std::move(restorer); }
  // Whether the next activation commits a pending saved scan first (once per run).
  static bool& CommitPending();

 private:
  void FillList() override;
  // The "Previous Recovery..." row and the disk rows.
  void FillDiskItems();
  QWidget* DialogParent() const;

  CWizardPage* m_page = nullptr;
  IWizardPageController* m_previous = nullptr;
  std::unique_ptr<CollectedDisks> m_collected;
  Collector m_collector;
  SavedResultReader m_readSaved;
  SavedResultRestorer m_restoreSaved;
  std::chrono::steady_clock::time_point m_tick;
};

// The disks of the disk catalogue with their volumes and the rows the disk page shows of them.
std::unique_ptr<CollectedDisks> CollectDisksForPartitionRecovery();

CLostRecoveryDiskDeviceSelectController* GetLostRecoveryDiskDeviceSelectController();
