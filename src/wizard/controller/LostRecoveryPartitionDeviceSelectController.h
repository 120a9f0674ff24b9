#pragma once
// The controller of partition recovery's lost-partition page (page 4). It holds the partitions the
// lost-partition search found on the chosen disk and shows them on the page; on Next it builds the
// directory tree of the partition the user picked and hands it to the file step; with Full Scan
// ticked, or when the quick search found nothing, it searches the whole disk instead.

#include <chrono>

#include "core/LostPartitionSearcher.h"
#include "wizard/controller/ILostRecoveryPartitionDeviceSelectController.h"

class CDeviceSelectCtrl;
class CLostRecoveryPartitionDeviceSelectPage;
class CWizardPage;

class CLostRecoveryPartitionDeviceSelectController : public ILostRecoveryPartitionDeviceSelectController {
 public:
  static constexpr int kStateTypeId = 3;

  CLostRecoveryPartitionDeviceSelectController();
  ~CLostRecoveryPartitionDeviceSelectController() override;

  void Activate() override;
  void Home() override;
  void Back() override;
  bool Next() override;
  void SetPreviousController(IWizardPageController* previous) override { m_previous = previous; }
  IWizardPageController* GetPreviousController() override { return m_previous; }
  int RestoreState(IRSData* stream, IDIRBuildCallback* progress) override;
  int SaveState(IRSData* stream, IDIRBuildCallback* progress) override;
  int GetStateTypeId() override { return kStateTypeId; }
  int GetRecoveryKind() override;
  CSourceDeviceChoice GetSourceSelection() override;
  void Cleanup() override;

  // Takes the partitions found over (dropping those held before) and shows them.
  void SetFoundPartitions(LostPartitionRecordList found);
  const LostPartitionRecordList& FoundPartitions() const { return m_found; }
  // Set by the page's Full Scan box: Next searches the whole disk instead.
  void SetFullScan(int fullScan) override { m_fullScan = fullScan; }
  int GetFullScan() const { return m_fullScan; }
  CLostPartitionRecord* GetChosen() const { return m_chosen; }

  // The page and the list the partitions are shown in (the page's own list, or another).
  void SetPage(CWizardPage* page, CDeviceSelectCtrl* list) {
    m_page = page;
    m_list = list;
  }
  void SetPage(CLostRecoveryPartitionDeviceSelectPage* page);
  CWizardPage* GetPage() const { return m_page; }
  // Whether the full-scan hint is still shown after a build (until the user ticks it off).
  static bool& FullScanHintEnabled();

 private:
  void ShowFoundPartitions();
  void ResetFullScan();
  bool BuildChosenPartition();
  // Searches the whole disk as format recovery searches a volume, and goes on with the partitions
  // found (the found-partition step) or, when there are none, with the files found by signature.
  bool SearchWholeDisk();

  CWizardPage* m_page = nullptr;
  CDeviceSelectCtrl* m_list = nullptr;
  IWizardPageController* m_previous = nullptr;
  LostPartitionRecordList m_found;
  CLostPartitionRecord* m_chosen = nullptr;
  int m_fullScan = 0;
};

CLostRecoveryPartitionDeviceSelectController* GetLostRecoveryPartitionDeviceSelectController();
