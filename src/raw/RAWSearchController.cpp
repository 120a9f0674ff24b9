#include "raw/RAWSearchController.h"

#include <cstring>

#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "raw/CustomFileAnalyser.h"
#include "raw/RawFileAnalyserList.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawSectorReader.h"
#include "storage/CheckedMath.h"

// What the analysers measure against during the scan: sectors held in the ring come from memory,
// the rest from the scanned device. It answers the scanned device's sector count, not the ring's,
// so that the analysers' reads and size caps reckon with the device's true end.
class CRAWSearchController::RingView : public IStorageDevice {
 public:
  RingView(CBufferStorageDevice& ring, IStorageDevice* device) : m_ring(ring), m_device(device) {}
  bool ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) override {
    return m_ring.ReadSectors(buffer, firstSector, count);
  }
  int64_t GetSectorCount() override { return m_device ? m_device->GetSectorCount() : 0; }
  int32_t GetSectorSize() override { return m_ring.GetSectorSize(); }
  bool Open() override { return true; }
  bool Close() override { return true; }

 private:
  CBufferStorageDevice& m_ring;
  IStorageDevice* m_device;
};

CRAWSearchController::CRAWSearchController(CRawFileAnalyserList* analysers) : m_analysers(analysers) {}

CRAWSearchController::~CRAWSearchController() = default;

void CRAWSearchController::SetStorageDevice(IStorageDevice* device) { m_device = device; }

void CRAWSearchController::SetSectorsPerRead(int32_t sectors) { m_sectorsPerRead = sectors; }

void CRAWSearchController::SetResultSink(CRawFileInfoList* sink) { m_found = sink; }

void CRAWSearchController::GetResults(SearchedPartitionInfoList*) {}

void CRAWSearchController::SaveState(IRSData&) {}

void CRAWSearchController::LoadState(IRSData&) {}

void CRAWSearchController::BeginSearch() {
  if (m_analysers) {
    m_dispatch.Build(*m_analysers);
  } else {
    CRawFileAnalyserList& analysers = GetRawFileAnalyserList();
    const std::vector<int> types(GetRecoveryContext().RawFileTypes.begin(),
                                 GetRecoveryContext().RawFileTypes.end());
    analysers.Rebuild(&types);
    // The user's own types come with every search once a script of them loads.
    AddCustomFileAnalyserForScripts(analysers);
    m_dispatch.Build(analysers);
  }
  m_pending.clear();
  m_openScriptFile = nullptr;
  m_begun = false;

  if (!m_device || m_sectorsPerRead <= 0) return;
  const int32_t sectorSize = m_device->GetSectorSize();
  m_sectorSize = sectorSize > 0 ? static_cast<uint32_t>(sectorSize) : 512;
  const int64_t count = m_device->GetSectorCount();
  m_deviceSectors = count > 0 ? static_cast<uint64_t>(count) : 0;
  m_measured = corvale::CRawFileCoverage(m_sectorSize);
  // The ring's window is placed by the first block pushed (the blocks carry their own address), so
  // a scan that starts past sector 0, or skips a block it could not read, never makes the ring
  // answer for sectors it does not hold.
  if (!m_ring.Init(m_device, 0, static_cast<int32_t>(m_sectorSize), static_cast<uint32_t>(m_sectorsPerRead),
                   kLookAheadBlocks))
    return;
  m_begun = true;
}

void CRAWSearchController::EndSearch() {
  // What is still pending stays in the found-file list with size 0; the result tree measures it.
  m_pending.clear();
  if (m_openScriptFile) CloseScriptFile(m_deviceSectors);
  m_begun = false;
}

void CRAWSearchController::CloseScriptFile(uint64_t end) {
  CRawFileInfo* file = m_openScriptFile;
  m_openScriptFile = nullptr;
  const uint64_t start = file->GetStartSector();
  const uint64_t span = end > start ? corvale::checkedMul(end - start, m_sectorSize).value_or(UINT64_MAX) : 0;
  file->SetFileSize(corvale::CapRawFileSize(span, BytesToEnd(start)));
}

uint64_t CRAWSearchController::BytesToEnd(uint64_t start) const {
  if (start >= m_deviceSectors) return 0;
  return corvale::checkedMul(m_deviceSectors - start, m_sectorSize).value_or(UINT64_MAX);
}

void CRAWSearchController::MeasurePending(uint64_t oldestBlockEnd) {
  RingView view(m_ring, m_device);
  while (!m_pending.empty()) {
    CRawFileInfo* file = m_pending.front();
    if (file->GetStartSector() > oldestBlockEnd) break;
    m_pending.pop_front();
    if (!m_measured.MayTake(file->GetStartSector())) continue;
    bool measured = false;
    try {
      measured = file->GetAnalyser()->ComputeFileSize(file, &view);
    } catch (...) {
      measured = false;
    }
    // A failed pass leaves no half-measured size behind: the tree measures the file again.
    file->SetFileSize(
        measured ? corvale::CapRawFileSize(file->GetFileSize(), BytesToEnd(file->GetStartSector())) : 0);
    if (file->GetFileSize() != 0) m_measured.Take(file->GetStartSector(), file->GetFileSize());
  }
}

int32_t CRAWSearchController::AnalyzeBlock(int64_t firstSector, int64_t sectorCount,
                                           IntelligentSearchSummary* summary) {
  if (m_dispatch.empty() || !m_begun) return 1;
  // The ring takes blocks of the length the driver announced; anything else is not a block of
  // this scan.
  if (firstSector < 0 || sectorCount <= 0 || sectorCount > m_sectorsPerRead) return 1;
  const uint64_t first = static_cast<uint64_t>(firstSector);
  const uint64_t count = static_cast<uint64_t>(sectorCount);
  if (first >= m_deviceSectors || count > m_deviceSectors - first) return 1;

  // The files that start in the oldest block are measured while the ring still holds it and the
  // 19 blocks after it; the block read next takes its place.
  if (m_ring.IsFull()) MeasurePending(m_ring.GetStartSector() + static_cast<uint64_t>(m_sectorsPerRead) - 1);

  // The block is read straight into the ring's storage and joins the ring only once it was read.
  uint8_t* block = m_ring.BeginBlock(first);
  if (!block || !m_device->ReadSectors(block, first, count)) return 1;
  const size_t blockBytes = static_cast<size_t>(m_sectorsPerRead) * m_sectorSize;
  // The device's last block is shorter: the rest must not keep an older block's bytes.
  if (count < static_cast<uint64_t>(m_sectorsPerRead))
    std::memset(block + count * m_sectorSize, 0, blockBytes - count * m_sectorSize);

  CRawFileInfo* atHand = nullptr;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* sector = block + i * m_sectorSize;
    uint32_t firstWord;
    std::memcpy(&firstWord, sector, 4);
    if (firstWord == 0) continue;
    // A record is made only for a sector that some analyser may accept.
    if (m_dispatch.Candidates(sector[0]).empty()) continue;
    if (!atHand) atHand = new CRawFileInfo;
    IRawFileAnalyser* winner = m_dispatch.Offer(sector, atHand);
    if (!winner) continue;
    const uint64_t start = first + i;
    if (m_openScriptFile) CloseScriptFile(start);
    atHand->SetStartSector(start);
    atHand->SetAnalyser(winner);
    atHand->SetAnalyserTypeId(winner->GetTypeId());
    // A length from a header is what the file claims; it never runs past the limit or the device.
    atHand->SetFileSize(
        corvale::CapRawFileSize(atHand->GetFileSize(), (m_deviceSectors - start) * m_sectorSize));
    if (summary) {
      summary->TotalFilesFound += 1;
      summary->FilesIdentified += 1;
    }
    if (!m_found) continue;  // nothing would keep the record: it serves the next sector
    m_found->Add(atHand);
    if (IsCustomFileAnalyser(winner)) {
      m_openScriptFile = atHand;
    } else if (atHand->GetFileSize() == 0) {
      m_pending.push_back(atHand);
    }
    atHand = nullptr;
  }
  delete atHand;

  m_ring.CommitBlock(first);
  return 1;
}
