#include "core/IntelligentSearchController.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <exception>
#include <new>
#include <system_error>
#include <thread>

#include "platform/Allocation.h"
#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "storage/StorageDeviceWithCache.h"

namespace {

void LogFailedCall(const char* kindName, const char* step, int64_t sector, const char* what) {
  if (sector >= 0)
    LogError("%s search controller: %s of the block at sector %" PRId64 " failed: %s", kindName, step, sector,
             what);
  else
    LogError("%s search controller: %s failed: %s", kindName, step, what);
}

// Runs one call into a controller. A controller that throws loses only its own call: the others
// still get the block, and the pass goes on. Running out of memory is not such a failure: it takes
// the process's out-of-memory path, as it would anywhere else. `sector` is the block's first sector,
// or -1 for the calls outside the block loop.
template <typename Call>
void CallController(const char* kindName, const char* step, int64_t sector, Call&& call) noexcept {
  try {
    call();
  } catch (const std::bad_alloc&) {
    platform::ReportOutOfMemory(0);
  } catch (const std::exception& e) {
    LogFailedCall(kindName, step, sector, e.what());
  } catch (...) {
    LogFailedCall(kindName, step, sector, "unknown exception");
  }
}

}  // namespace

CIntelligentSearchController::CIntelligentSearchController()
    : m_startSector([] { return platform::ReadSearchStartSector(); }) {}

CIntelligentSearchController::~CIntelligentSearchController() { m_controllers.clear(); }

void CIntelligentSearchController::SetStorageDevice(IStorageDevice* device) { m_device = device; }

void CIntelligentSearchController::AddFileSystemSearchController(IFileSystemSearchController* controller) {
  m_controllers.push_back(controller);
}

void CIntelligentSearchController::SetStartSectorSource(StartSectorSource source) {
  m_startSector = std::move(source);
}

uint32_t CIntelligentSearchController::BlockSectorsFor(int32_t sectorSize) {
  if (sectorSize <= 0) return 0;
  // A sector larger than a block still makes a block of one sector.
  return std::max<uint32_t>(1, static_cast<uint32_t>(kBlockBytes / sectorSize));
}

int32_t CIntelligentSearchController::Search(IIntelligentSearchCallback* callback) {
  m_callback = callback;
  std::thread worker;
  try {
    worker = std::thread([this] { BlockLoop(); });
  } catch (const std::system_error&) {
    return 0;
  }
  worker.join();
  return 1;
}

void CIntelligentSearchController::BlockLoop() {
  // The cache's buffers are its own allocations, outside the program's allocator: their failure
  // still ends on the out-of-memory path.
  try {
    CStorageDeviceWithCache cache(m_device);
    const uint32_t blockSectors = BlockSectorsFor(cache.GetSectorSize());
    cache.SetCacheBlockSize(blockSectors);

    // The kind names are taken once, so the block loop formats and allocates nothing of its own.
    std::vector<const char*> names(m_controllers.size(), "UNKNOWN");
    for (size_t c = 0; c < m_controllers.size(); ++c) {
      IFileSystemSearchController* controller = m_controllers[c];
      CallController(names[c], "GetKind", -1,
                     [&] { names[c] = SearchControllerKindName(controller->GetKind()); });
    }
    for (size_t c = 0; c < m_controllers.size(); ++c)
      CallController(names[c], "SetStorageDevice", -1, [&] { m_controllers[c]->SetStorageDevice(&cache); });
    for (size_t c = 0; c < m_controllers.size(); ++c)
      CallController(names[c], "SetSectorsPerRead", -1,
                     [&] { m_controllers[c]->SetSectorsPerRead(static_cast<int32_t>(blockSectors)); });
    for (size_t c = 0; c < m_controllers.size(); ++c)
      CallController(names[c], "BeginSearch", -1, [&] { m_controllers[c]->BeginSearch(); });

    const int64_t sectorCount = blockSectors ? cache.GetSectorCount() : 0;
    const uint64_t total = sectorCount > 0 ? static_cast<uint64_t>(sectorCount) : 0;
    // The cache numbers its blocks with 32 bits: a device of more blocks (16 PiB at 4 MiB) is scanned
    // up to there.
    const uint64_t blockCount =
        total == 0
            ? 0
            : std::min<uint64_t>(total / blockSectors + (total % blockSectors != 0), uint64_t{1} << 32);
    const uint64_t lastSector = total == 0 ? 0 : total - 1;

    // The pass starts at the block holding the configured sector, and the cache starts reading at
    // that block's first sector, so block i always holds sectors i × B onwards. A start past the
    // device end scans its last block.
    uint64_t startBlock = 0;
    if (total > 0) {
      uint64_t pos = m_startSector ? m_startSector() : 0;
      startBlock = std::min(pos, lastSector) / blockSectors;
    }
    if (total > 0) cache.StartCacheThread(startBlock * blockSectors);

    if (m_callback) m_callback->SetRange(0, static_cast<int64_t>(blockCount));

    using Clock = std::chrono::steady_clock;
    for (uint64_t i = startBlock; i < blockCount; ++i) {
      if (m_callback && m_callback->IsCancelled()) {
        LogInfo("Intelligent search was cancelled by user!");
        break;
      }
      m_summary.ResetBlockCounters();
      // A block that cannot be read is still offered: its reads then go to the device itself, which
      // answers for its bad sectors as it always does.
      cache.SetCurCacheBlock(static_cast<uint32_t>(i));
      const uint64_t first = i * blockSectors;
      const uint64_t count = std::min<uint64_t>(blockSectors, lastSector - first + 1);
      for (size_t c = 0; c < m_controllers.size(); ++c) {
        IFileSystemSearchController* controller = m_controllers[c];
        const Clock::time_point start = Clock::now();
        CallController(names[c], "AnalyzeBlock", static_cast<int64_t>(first), [&] {
          controller->AnalyzeBlock(static_cast<int64_t>(first), static_cast<int64_t>(count), &m_summary);
        });
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        OutputDebugText("Call File system %s AnalyzeBlock time = %.3fms", names[c], ms);
      }
      if (m_callback) {
        m_callback->SetSummary(&m_summary);
        m_callback->SetProgress(static_cast<int64_t>(i));
        m_callback->OnBlockDone();
      }
    }

    // A cancelled pass ends like a full one: the evidence found so far still yields partitions.
    cache.StopCacheThread();
    for (size_t c = 0; c < m_controllers.size(); ++c)
      CallController(names[c], "EndSearch", -1, [&] { m_controllers[c]->EndSearch(); });

    LogInfo("---------------------------------");
    LogInfo("Intelligent search result summary:");
    LogInfo("FATBootRecords = %" PRId64, m_summary.FATBootRecords);
    LogInfo("FATFolderParts = %" PRId64, m_summary.FATFolderParts);
    LogInfo("FATFolders = %" PRId64, m_summary.FATFolders);
    LogInfo("FilesIdentified = %" PRId64, m_summary.FilesIdentified);
    LogInfo("NTFSBootRecords = %" PRId64, m_summary.NTFSBootRecords);
    LogInfo("NTFSFileRecords = %" PRId64, m_summary.NTFSFileRecords);
    LogInfo("TotalFilesFound = %" PRId64, m_summary.TotalFilesFound);
    LogInfo("---------------------------------\r\n");
    m_finished.store(1, std::memory_order_release);
  } catch (const std::bad_alloc&) {
    platform::ReportOutOfMemory(0);
  }
}

int32_t RunIntelligentSearch(CIntelligentSearchController& driver, IIntelligentSearchCallback* callback) {
  const int32_t result = driver.Search(callback);
  if (callback) callback->OnSearchFinished();
  return result;
}
