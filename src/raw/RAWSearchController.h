#pragma once
// The RAW-carving member of the whole-device scan. The driver offers it every block of the device
// in ascending order; every sector that is not empty goes to the analysers of the chosen file
// types, and each file recognised becomes a record in the found-file list handed in beforehand.
//
// Files whose length the first sector does not tell are measured with a look-ahead: the last 20
// blocks stay in a ring in memory, and a pending file is measured once the block holding its start
// is the oldest in the ring, so that its analyser can read up to 20 blocks ahead without going back
// to the disk. Files still pending when the scan ends keep size 0; the result tree measures them.
// A pending file that starts inside files already measured is measured only while the room of
// CRawFileCoverage lasts; the others keep size 0 and the result tree decides on them by the same
// rule, so that a header repeated in every sector costs no more than one pass over the device.
//
// Files of the types of signature scripts carry no length of their own: each ends where the next
// file found by the scan begins, or at the device's end, and never passes the maximum RAW file
// size.

#include <cstdint>
#include <list>
#include <vector>

#include "core/IFileSystemSearchController.h"
#include "raw/RawFileCoverage.h"
#include "raw/RawHeaderDispatch.h"
#include "storage/BufferStorageDevice.h"

class CRawFileAnalyserList;
class CRawFileInfo;
class CRawFileInfoList;

class CRAWSearchController : public IFileSystemSearchController {
 public:
  static constexpr uint32_t kLookAheadBlocks = 20;

  // `analysers` null: the process-wide list, rebuilt for the chosen file types at each search's
  // begin. Otherwise that list as it is (benchmarks and tests that bring their own analysers).
  explicit CRAWSearchController(CRawFileAnalyserList* analysers = nullptr);
  ~CRAWSearchController() override;

  void SetStorageDevice(IStorageDevice* device) override;
  void SetSectorsPerRead(int32_t sectors) override;
  void BeginSearch() override;
  void EndSearch() override;
  int32_t AnalyzeBlock(int64_t firstSector, int64_t sectorCount, IntelligentSearchSummary* summary) override;
  // The RAW search yields no partitions.
  void GetResults(SearchedPartitionInfoList* list) override;
  void SetResultSink(CRawFileInfoList* sink) override;
  // The found files are saved with the state file from the found-file list; the controller itself
  // keeps nothing a restored scan needs.
  void SaveState(IRSData& writer) override;
  void LoadState(IRSData& reader) override;
  int32_t GetKind() override { return SEARCH_CONTROLLER_RAW; }

  // Files found but not yet measured (for tests).
  size_t PendingCount() const { return m_pending.size(); }

 private:
  class RingView;
  void MeasurePending(uint64_t oldestBlockEnd);
  // Bytes from `start` to the device's end: no size may pass it.
  uint64_t BytesToEnd(uint64_t start) const;
  // Gives the open script-type file the bytes up to sector `end` (capped) and closes it.
  void CloseScriptFile(uint64_t end);

  CRawFileAnalyserList* m_analysers;
  IStorageDevice* m_device = nullptr;
  int32_t m_sectorsPerRead = 0;
  CRawFileInfoList* m_found = nullptr;
  CBufferStorageDevice m_ring;
  std::list<CRawFileInfo*> m_pending;
  CRawFileInfo* m_openScriptFile = nullptr;  // the last script-type file found, still without a size
  uint32_t m_sectorSize = 512;
  uint64_t m_deviceSectors = 0;
  corvale::RawHeaderDispatch m_dispatch;
  corvale::CRawFileCoverage m_measured{512};
  bool m_begun = false;
};
