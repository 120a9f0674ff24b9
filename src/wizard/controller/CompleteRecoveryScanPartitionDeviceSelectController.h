#pragma once
// The controller of format recovery's found-partition page (page 7). It owns what a whole-device
// search produced (the found partitions, the search controllers that found them and the files found
// by signature), shows the partitions for ticking, and on Next builds one directory tree per ticked
// partition (at most four) under a common root for the file step, under one directory-build window.
// Its part of a saved format recovery is the search result itself, so a restored scan can be built
// again without searching.

#include <chrono>
#include <vector>

#include "wizard/WizardPageController.h"
#include "wizard/controller/WholeDeviceSearch.h"

class CCompleteRecoveryScanPartitionDeviceSelectPage;

class CCompleteRecoveryScanPartitionDeviceSelectController : public IWizardPageController {
 public:
  static constexpr int kStateTypeId = 1;
  static constexpr int kMaxPartitions = 4;
  // Usage events: Next pressed, the build cancelled, the trees built (format / partition recovery).
  static constexpr int kEventNext = 8217;
  static constexpr int kEventCancelled = 8224;
  static constexpr int kEventBuiltFormat = 8225;
  static constexpr int kEventBuiltPartition = 8247;

  CCompleteRecoveryScanPartitionDeviceSelectController();
  ~CCompleteRecoveryScanPartitionDeviceSelectController() override;

  void Activate() override;
  void Home() override;
  // Asks "Return to devices list?" first; on Yes the search result is dropped.
  void Back() override;
  // False when it stays on the page: nothing found or ticked, too many ticked, the build cancelled
  // or no files found.
  bool Next() override;
  void SetPreviousController(IWizardPageController* previous) override { m_previous = previous; }
  IWizardPageController* GetPreviousController() override { return m_previous; }
  int RestoreState(IRSData* stream, IDIRBuildCallback* progress) override;
  int SaveState(IRSData* stream, IDIRBuildCallback* progress) override;
  int GetStateTypeId() override { return kStateTypeId; }
  int GetRecoveryKind() override;
  CSourceDeviceChoice GetSourceSelection() override;
  // Frees the found partitions, the search controllers and the files found by signature.
  void Cleanup() override;

  // Takes a search's result over (freeing what was held before), shows the partitions and saves
  // the scan state.
  void SetSearchResults(WholeDeviceSearchOutcome results);
  const WholeDeviceSearchOutcome& Results() const { return m_results; }
  // Whether the last Next stopped because the user cancelled the build.
  bool WasLastBuildCancelled() const { return m_lastBuildCancelled; }

  void SetPage(CCompleteRecoveryScanPartitionDeviceSelectPage* page) { m_page = page; }
  CCompleteRecoveryScanPartitionDeviceSelectPage* GetPage() const { return m_page; }

 private:
  void ShowPartitions();

  CCompleteRecoveryScanPartitionDeviceSelectPage* m_page = nullptr;
  IWizardPageController* m_previous = nullptr;
  WholeDeviceSearchOutcome m_results;
  bool m_lastBuildCancelled = false;
  // Since the last activation or build start; unset after a finished Next.
  std::chrono::steady_clock::time_point m_tick{};
};

CCompleteRecoveryScanPartitionDeviceSelectController*
GetCompleteRecoveryScanPartitionDeviceSelectController();
