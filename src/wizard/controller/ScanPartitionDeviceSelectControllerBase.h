#pragma once
// What the two found-partition page controllers (format recovery's and partition recovery's) share.
// Each holds what a whole-device search produced — the found partitions, the file-system search
// controllers that found them and the list of files found by signature, all owned — shows the
// partitions for ticking, saves and restores them as its part of a saved scan, and on Next builds
// the trees of the ticked partitions (at most four) under one root for the file step. The two
// differ in their page and texts (given to the constructor), in where the source device comes
// from, how the partitions are shown and how the trees are built under build windows (the hooks).

#include <chrono>
#include <cstdint>
#include <vector>

#include "wizard/WizardPage.h"
#include "wizard/WizardPageController.h"
#include "wizard/controller/WholeDeviceSearch.h"

class CFileSystemNode;
class CScanPartitionDeviceSelectPage;
class CSearchedPartitionInfo;
class IStorageDevice;

class CScanPartitionDeviceSelectControllerBase : public IWizardPageController {
 public:
  // The most partitions one Next builds.
  static constexpr int kMaxPartitions = 4;

  // What tells the two pages apart, given by each controller.
  struct Config {
    int stateTypeId = 0;
    WIZARD_PAGE page{};
    // The page's auto-tick mode when it is emptied (see CScanPartitionDeviceSelectPage::kMode*).
    int emptyMode = 0;
    // String ids: Back's question, Next with nothing found (0: no message), nothing ticked, too many.
    uint32_t backQuestion = 0;
    uint32_t nothingFound = 0;
    uint32_t noneTicked = 0;
    uint32_t tooManyTicked = 0;
    // Usage events: Next pressed (time on the page), the build cancelled (time building).
    int eventNext = 0;
    int eventCancelled = 0;
    // Whether a state is saved while nothing is held (an empty one); otherwise nothing is saved.
    bool saveWhenEmpty = false;
    // Whether a restore drops what is held before reading; otherwise only once all is read.
    bool cleanupBeforeRestore = false;
    // Whether a cancelled or empty build is written to the run report.
    bool reportBuildStatus = false;
  };

  ~CScanPartitionDeviceSelectControllerBase() override;

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
  int GetStateTypeId() override { return m_config.stateTypeId; }
  int GetRecoveryKind() override;
  CSourceDeviceChoice GetSourceSelection() override;
  // Frees the found partitions, the search controllers and the files found by signature.
  void Cleanup() override;

 protected:
  // A ticked partition and its row on the page (-1 when there is no page).
  struct TickedPartition {
    int row = -1;
    CSearchedPartitionInfo* info = nullptr;
  };

  explicit CScanPartitionDeviceSelectControllerBase(const Config& config);

  // Takes a search's result over (freeing what was held before), shows the partitions and saves
  // the scan state.
  void TakeSearchResults(WholeDeviceSearchOutcome results);
  const WholeDeviceSearchOutcome& HeldResults() const { return m_results; }
  bool LastBuildCancelled() const { return m_lastBuildCancelled; }
  CScanPartitionDeviceSelectPage* BasePage() const { return m_page; }
  void SetBasePage(CScanPartitionDeviceSelectPage* page) { m_page = page; }

  // The device the found partitions lie on (restored controllers search it); null when unknown.
  virtual IStorageDevice* SourceDevice() = 0;
  // The device a restored scan's controllers search; by default the source device.
  virtual IStorageDevice* RestoreDevice() { return SourceDevice(); }
  // Called at the start of Next with the source device.
  virtual void OnNextStarted(IStorageDevice* /*device*/) {}
  // Whether Next may look at the ticks (before any message about them).
  virtual bool ReadyForTicks(IStorageDevice* /*device*/) const { return true; }
  // Gives the found partitions to the page (which may be absent).
  virtual void ShowOnPage(const std::vector<CSearchedPartitionInfo*>& partitions) = 0;
  // Builds the trees of `ticked` from `device`, adding each that comes back under `root`. False
  // when the user cancelled a build (the cancel event is then already sent).
  virtual bool BuildTrees(const std::vector<TickedPartition>& ticked, IStorageDevice* device,
                          CFileSystemNode* root, std::chrono::steady_clock::time_point buildStart) = 0;
  // The usage event of a finished build.
  virtual int BuiltEventId() const = 0;
  // Logged before and after the hand-over to the file step (null: nothing).
  virtual const char* HandOverLogName() const { return nullptr; }

  // Milliseconds from `start` to now.
  static uint32_t MillisecondsSince(std::chrono::steady_clock::time_point start);
  // Sends the cancel event with the time since `buildStart`.
  void ReportCancelled(std::chrono::steady_clock::time_point buildStart) const;

 private:
  void ShowPartitions();
  // The ticked rows in page order with their records; without a page, the recommended partitions.
  std::vector<TickedPartition> TickedPartitions() const;

  Config m_config;
  CScanPartitionDeviceSelectPage* m_page = nullptr;
  IWizardPageController* m_previous = nullptr;
  WholeDeviceSearchOutcome m_results;
  bool m_lastBuildCancelled = false;
  // Since the last activation or build start; unset after a finished Next.
  std::chrono::steady_clock::time_point m_tick{};
};
