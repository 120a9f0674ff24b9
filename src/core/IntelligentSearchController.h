#pragma once
// The intelligent search: reads a whole device once, from its start block to its end, in 4 MiB
// blocks through the read-ahead cache, and offers every block to each file-system search controller
// in the order they were added. The controllers keep their own evidence; the caller collects their
// results with GetResults once the pass is over.
//
// Threads: Search runs the block loop on a worker thread and returns when it has ended. A window
// runs Search itself on a starter thread (its job's worker, through RunIntelligentSearch) while its
// own thread stays in its event loop.

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/IFileSystemSearchController.h"
#include "core/IIntelligentSearchCallback.h"
#include "core/IntelligentSearchSummary.h"

class IStorageDevice;

class CIntelligentSearchController : public IContainerofFileSystemSearchController {
 public:
  // Bytes per block; the block length in sectors is this divided by the device's sector size.
  static constexpr int32_t kBlockBytes = 4194304;

  // Where a pass starts, in sectors; it is taken down to the start of its block.
  using StartSectorSource = std::function<uint64_t()>;

  CIntelligentSearchController();
  // The controllers stay alive: the caller made them and frees them.
  ~CIntelligentSearchController() override;
  CIntelligentSearchController(const CIntelligentSearchController&) = delete;
  CIntelligentSearchController& operator=(const CIntelligentSearchController&) = delete;

  // The device to scan (not owned). It must allow two readers at once (the read-ahead thread and
  // the scan).
  void SetStorageDevice(IStorageDevice* device);
  // Appends a controller (not owned); blocks are offered in the order of these calls.
  void AddFileSystemSearchController(IFileSystemSearchController* controller) override;

  // Runs one pass on a worker thread and waits for it. `callback` may be null. Returns 1 once the
  // pass has ended (also after a cancel), 0 when the worker could not be started (then no block is
  // read and no controller is called).
  int32_t Search(IIntelligentSearchCallback* callback);

  // Replaces where the start sector comes from: by default key "pos" of section "main" in the
  // program folder's config.ini (0 when absent).
  void SetStartSectorSource(StartSectorSource source);

  // 1 once a pass has ended.
  int32_t IsFinished() const { return m_finished.load(std::memory_order_acquire); }
  // The running summary; read it only while no pass runs.
  const IntelligentSearchSummary& GetSummary() const { return m_summary; }

  // Block length in sectors for a device of `sectorSize`-byte sectors: 8192 for 512, 1024 for 4096;
  // at least 1, and 0 for a device that reports no sector size.
  static uint32_t BlockSectorsFor(int32_t sectorSize);

 private:
  void BlockLoop();

  std::vector<IFileSystemSearchController*> m_controllers;
  IStorageDevice* m_device = nullptr;
  IntelligentSearchSummary m_summary;
  IIntelligentSearchCallback* m_callback = nullptr;
  StartSectorSource m_startSector;
  std::atomic<int32_t> m_finished{0};
};

// What the starter thread of a search does: driver.Search(callback), then callback->OnSearchFinished().
// Returns Search's result: 1 once the pass has ended, 0 when its worker could not be started.
int32_t RunIntelligentSearch(CIntelligentSearchController& driver, IIntelligentSearchCallback* callback);
