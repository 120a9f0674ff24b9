#pragma once
// The controller of the deleted-file recovery's volume page (page 1). When the page is shown it
// collects the machine's volumes on a worker thread, with the program's window disabled and a busy
// animation over it, and fills the page's list once the worker is done. On Next it builds the chosen
// volume's directory tree under the directory-build window, keeps the files the engines found in a
// recoverable state (with the folders leading to them) in a folder "Deleted Files" under a new root,
// and hands that tree to the file step.
//
// The worker never touches a window: it hands its list to the window thread through a queued call,
// and a list that arrives after a newer collection began is dropped.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "wizard/WizardPageController.h"
#include "wizard/controller/DevicePageCollection.h"
#include "wizard/controller/VolumeCollection.h"

class CDeleteRecoveryPartitionDeviceSelectPage;
class CFileSystemNode;

// A new root of a result tree: a partition node named "Root" with the folder attribute.
CFileSystemNode* CreateRootNode();

class CDeleteRecoveryPartitionDeviceSelectController : public IWizardPageController {
 public:
  // Usage events: Next pressed, the build cancelled, a tree built.
  static constexpr int kEventNext = 8196;
  static constexpr int kEventCancelled = 8197;
  static constexpr int kEventBuilt = 8198;

  using Collector = std::function<std::vector<std::unique_ptr<CollectedVolume>>()>;

  CDeleteRecoveryPartitionDeviceSelectController();
  ~CDeleteRecoveryPartitionDeviceSelectController() override;

  void Activate() override;
  void Home() override;
  void Back() override;
  // False when it stays on the page: nothing chosen, the build cancelled, failed or found nothing.
  bool Next() override;
  void SetPreviousController(IWizardPageController* previous) override { m_previous = previous; }
  IWizardPageController* GetPreviousController() override { return m_previous; }
  int GetRecoveryKind() override { return kRecoveryKindDeleted; }
  CSourceDeviceChoice GetSourceSelection() override;
  void Cleanup() override;
  // The device pages open the settings with the RAW type tree, in the mode that allows RAW files only.
  void ShowAdvancedSettings() override;

  // Empties the list and collects the volumes again.
  void StartDeviceCollection();
  bool IsCollecting() const { return m_run.IsCollecting(); }
  // Remembers the volume of the list's selected row; false when none is selected.
  bool SelectCurrentItem();
  // True when the selected row is a disk image opened or made on this page.
  bool IsImageSelected() const;
  // Runs the create-image wizard for the selected volume and lists the image it made when asked
  // to; false when nothing was selected, the selection is an image, or no image was listed.
  bool CreateImageOfSelectedVolume();
  // Runs the open-image wizard and lists the image it opened; false when none was listed.
  bool OpenImage();
  // Takes the selected image off the list; false when the selection is not an image.
  bool CloseSelectedImage();
  // Lists the image at `path` under `displayName`; false (after a warning) when it cannot be read.
  bool AddImage(const std::string& displayName, const std::string& path);
  const std::vector<std::unique_ptr<CollectedVolume>>& Images() const { return m_images; }
  // Forgets every listed image (they otherwise stay listed for the rest of the run).
  void CloseAllImages();
  // The file-system code an image's display name stands for ("... NTFS)" is NTFS); `previous` when
  // the name tells none.
  static int32_t ImageFileSystemCode(const std::string& displayName, int32_t previous);
  // True when `letter` is the chosen volume's letter, or names a volume that shares sectors with it.
  bool IsDriveOnSelectedVolume(char letter) const;

  void SetPage(CDeleteRecoveryPartitionDeviceSelectPage* page) { m_page = page; }
  CDeleteRecoveryPartitionDeviceSelectPage* GetPage() const { return m_page; }
  const std::vector<std::unique_ptr<CollectedVolume>>& Volumes() const { return m_volumes; }
  // Replaces how the volumes are collected (null: CollectLetteredVolumes). Tests use it.
  void SetCollector(Collector collector) { m_collector = std::move(collector); }
  // Whether the mode hint is still shown after a build (until the user ticks it off).
  static bool& ModeHintEnabled();

 private:
  void FillList();

  CDeleteRecoveryPartitionDeviceSelectPage* m_page = nullptr;
  IWizardPageController* m_previous = nullptr;
  std::vector<std::unique_ptr<CollectedVolume>> m_volumes;
  // Images stay listed across collections until the user closes them.
  std::vector<std::unique_ptr<CollectedVolume>> m_images;
  int32_t m_imageCounter = 0;
  int32_t m_imageCode = 7;
  CollectedVolume* m_selected = nullptr;
  CollectedVolume* m_chosen = nullptr;
  Collector m_collector;
  CDeviceCollectionRun m_run;
  std::chrono::steady_clock::time_point m_tick;
};

CDeleteRecoveryPartitionDeviceSelectController* GetDeleteRecoveryPartitionDeviceSelectController();
