#include "core/LostPartitionSearcher.h"

#include <algorithm>
#include <cstring>

#include "core/FileSystemEngine.h"
#include "platform/Log.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/IStorageDevice.h"

namespace {

// The lost-partition testers in the order they are asked.
constexpr int32_t kTesterOrder[] = {kEngineFat, kEngineNtfs, kEngineExt2};

// Passes everything on to the caller's callback and keeps a copy of every found partition.
class CollectingCallback : public IPartitionSearchCallback {
 public:
  CollectingCallback(IPartitionSearchCallback* next, LostPartitionRecordList& found)
      : m_next(next), m_found(found) {}
  void PumpMessages() override {
    if (m_next) m_next->PumpMessages();
  }
  void Step() override {
    if (m_next) m_next->Step();
  }
  int IsCancelled() override { return m_next ? m_next->IsCancelled() : 0; }
  void SetStep(int64_t step) override {
    if (m_next) m_next->SetStep(step);
  }
  void SetRange(int64_t first, int64_t end) override {
    if (m_next) m_next->SetRange(first, end);
  }
  void AddFoundPartition(const CLostPartitionRecord* record) override {
    if (record == nullptr) return;
    m_found.push_back(CopyLostPartitionRecord(*record));
    if (m_next) m_next->AddFoundPartition(record);
  }

 private:
  IPartitionSearchCallback* m_next;
  LostPartitionRecordList& m_found;
};

}  // namespace

void LostPartitionRecordDeleter::operator()(CLostPartitionRecord* record) const {
  if (record == nullptr) return;
  delete record->Device;
  delete record;
}

LostPartitionRecordPtr CopyLostPartitionRecord(const CLostPartitionRecord& record) {
  LostPartitionRecordPtr copy(new CLostPartitionRecord(record));
  copy->Device = nullptr;
  if (auto* window = dynamic_cast<CBasicPartitionDevice*>(record.Device))
    copy->Device = new CBasicPartitionDevice(window->GetWindowedDevice(), window->GetStartSector(),
                                             uint64_t(window->GetSectorCount()));
  return copy;
}

void FillLostPartitionRecord(CLostPartitionRecord* out, IStorageDevice* device, uint64_t start,
                             uint64_t count, int32_t type, const char* label, size_t labelLength,
                             uint64_t windowCount) {
  const int64_t n = device != nullptr ? device->GetSectorCount() : 0;
  const uint64_t deviceSectors = n > 0 ? uint64_t(n) : 0;
  // A size of 0 or one running past the device end is cut at the device end, never stretched
  // beyond it.
  if (count == 0 || start >= deviceSectors || count > deviceSectors - start)
    count = start < deviceSectors ? deviceSectors - start : 0;
  delete out->Device;
  out->Device = nullptr;
  out->StartSector = start;
  out->SectorCount = count;
  out->FileSystemType = type;
  std::memset(out->Label, 0, sizeof out->Label);
  if (label != nullptr) std::memcpy(out->Label, label, std::min(labelLength, sizeof out->Label - 1));
  out->Device = new CBasicPartitionDevice(device, start, windowCount != 0 ? windowCount : count);
}

CLostPartitionSearchBase::CLostPartitionSearchBase() = default;

CLostPartitionSearchBase::~CLostPartitionSearchBase() { delete m_current.Device; }

void CLostPartitionSearchBase::SetDevice(IStorageDevice* device) {
  m_device = device;
  m_sectorCount = 0;
  m_sector.clear();
  if (device == nullptr) return;
  const int64_t n = device->GetSectorCount();
  const int32_t size = device->GetSectorSize();
  m_sectorCount = n > 0 ? uint64_t(n) : 0;
  if (size > 0) m_sector.assign(size_t(size), 0);
}

void CLostPartitionSearchBase::AddTester(IPartitionFileSystemSearchController* tester) {
  if (tester != nullptr) m_testers.push_back(tester);
}

void CLostPartitionSearchBase::AddAlgorithm(std::unique_ptr<IPartitionSearchAlgorithm> algorithm) {
  if (algorithm) m_algorithms.push_back(std::move(algorithm));
}

bool CLostPartitionSearchBase::RunSearch(IPartitionSearchCallback* callback) {
  m_callback = callback;
  m_done.store(false);
  Search();
  return true;
}

void CLostPartitionSearchBase::Search() {
  m_found.clear();
  m_probes = 0;
  for (IPartitionFileSystemSearchController* tester : m_testers) tester->SetDevice(m_device);
  for (IPartitionFileSystemSearchController* tester : m_testers) tester->BeginSearch();

  uint64_t total = 0;
  for (const auto& algorithm : m_algorithms) total += algorithm->GetCount();
  if (m_callback) {
    m_callback->SetRange(0, int64_t(std::min<uint64_t>(total, INT64_MAX)));
    m_callback->SetStep(1);
  }

  for (const auto& algorithm : m_algorithms) {
    const uint64_t count = algorithm->GetCount();
    for (uint64_t i = 0; i < count; ++i) {
      if (m_callback && m_callback->IsCancelled()) {
        m_done.store(true);
        return;
      }
      if (m_callback) {
        m_callback->Step();
        m_callback->PumpMessages();
      }
      const uint64_t position = algorithm->GetNextSector();
      // The 255-head walk has tested these positions already.
      if (algorithm->IsSecondary() && position % 255 == 0) continue;
      if (algorithm->SkipsFoundPartitions() && IsInsideFoundPartition(position)) continue;
      TestAt(position);
      if (!algorithm->ProbesTrackAfter()) continue;
      if (m_callback) m_callback->PumpMessages();
      TestAt(position + CPartitionSearchAccordingToHeads::kSectorsPerTrack);
    }
  }
  for (IPartitionFileSystemSearchController* tester : m_testers) tester->EndSearch();
  m_done.store(true);
}

void CLostPartitionSearchBase::TestAt(uint64_t position) {
  if (m_device == nullptr || m_sector.empty() || position >= m_sectorCount) return;
  ++m_probes;
  if (!m_device->ReadSectors(m_sector.data(), position, 1)) return;
  for (IPartitionFileSystemSearchController* tester : m_testers) {
    if (tester->TestSector(m_sector.data(), int64_t(position), &m_current)) {
      // The record's size is already cut at the device end, so the range cannot wrap.
      m_found.push_back({m_current.StartSector, m_current.StartSector + m_current.SectorCount});
      if (m_callback) m_callback->AddFoundPartition(&m_current);
      break;
    }
  }
}

bool CLostPartitionSearchBase::IsInsideFoundPartition(uint64_t position) const {
  return std::any_of(m_found.begin(), m_found.end(),
                     [&](const auto& range) { return position >= range.first && position < range.second; });
}

CLostPartitionSearcher::CLostPartitionSearcher() {
  for (int32_t kind : kTesterOrder) {
    std::optional<FileSystemEngine> engine = FileSystemEngineOfKind(kind);
    if (!engine || !engine->makePartitionTester) continue;
    std::unique_ptr<IPartitionFileSystemSearchController> tester(engine->makePartitionTester());
    if (tester) m_ownedTesters.push_back(std::move(tester));
  }
}

CLostPartitionSearcher::~CLostPartitionSearcher() = default;

bool CLostPartitionSearcher::Search(IStorageDevice* device, int32_t heads, IPartitionSearchCallback* progress,
                                    LostPartitionRecordList& found) {
  SetDevice(device);
  m_testers.clear();
  for (const auto& tester : m_ownedTesters) AddTester(tester.get());
  m_algorithms.clear();
  AddAlgorithm(std::make_unique<CPartitionSearchAccordingTo255Head>(m_sectorCount));
  if (heads == 240) AddAlgorithm(std::make_unique<CPartitionSearchAccordingTo240Head>(m_sectorCount));
  // The 1 MiB boundaries come last, so that a disk partitioned on cylinders gives the same
  // partitions in the same order as before, and the boundaries inside them are passed over.
  AddAlgorithm(std::make_unique<CPartitionSearchAccordingToAlignment>(
      m_sectorCount, static_cast<uint32_t>(m_sector.size())));
  CollectingCallback collector(progress, found);
  return RunSearch(&collector);
}

bool CLostPartitionSearcher::FindNewPartitions(IStorageDevice* device, int32_t heads,
                                               IPartitionSearchCallback* progress,
                                               LostPartitionRecordList& out) {
  LostPartitionRecordList found;
  const bool ran = Search(device, heads, progress, found);
  PartitionRecordList tables;
  if (device != nullptr) MakePartitionTableAnalyze().AnalyzeBasicDiskPartitions(device, tables);
  for (LostPartitionRecordPtr& record : found) {
    const bool listed = std::any_of(tables.begin(), tables.end(), [&](const auto& t) {
      return t->StartSector >= 0 && uint64_t(t->StartSector) == record->StartSector;
    });
    if (!listed) out.push_back(std::move(record));
  }
  return ran;
}
