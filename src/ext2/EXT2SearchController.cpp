#include "ext2/EXT2SearchController.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <map>
#include <tuple>

#include "core/FileNode.h"
#include "ext2/Ext2DirectoryBuilder.h"
#include "ext2/Ext2Exceptions.h"
#include "ext2/Ext2FileSystem.h"
#include "ext2/GcAlloc.h"
#include "storage/ByteReader.h"
#include "storage/IStorageDevice.h"

namespace {

constexpr size_t kSector = 512;

// The identity of a file system across its copies: UUID, block size, block count and the three
// times, compared as unsigned numbers.
using IdentityKey = std::tuple<uint64_t, uint64_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t>;

IdentityKey KeyOf(const CExt2SuperBlock& sb) {
  const corvale::ByteReader uuid(sb.GetUuid(), 16);
  return {uuid.u64(0),       uuid.u64(8),       sb.GetLogBlockSize(), sb.GetBlockCount(),
          sb.GetMountTime(), sb.GetWriteTime(), sb.GetLastCheckTime()};
}

}  // namespace

CEXT2SearchController::CEXT2SearchController() = default;
CEXT2SearchController::~CEXT2SearchController() = default;

void CEXT2SearchController::SetStorageDevice(IStorageDevice* device) {
  m_device = device != nullptr ? device->GetDeviceWith512ByteSectors() : nullptr;
  const int32_t sectorSize = device != nullptr ? device->GetSectorSize() : 0;
  m_ratio = m_device != nullptr && sectorSize >= 512 ? static_cast<uint32_t>(sectorSize / 512) : 0;
  m_deviceSectors = m_device != nullptr ? std::max<int64_t>(0, m_device->GetSectorCount()) : 0;
  EmptyWindow();
}

void CEXT2SearchController::EmptyWindow() {
  m_carrySectors = 0;
  m_nextSector = -1;
}

void CEXT2SearchController::BeginSearch() {
  EmptyWindow();
  m_superblocksSeen = 0;
}

void CEXT2SearchController::EndSearch() {
  EmptyWindow();
  m_area.clear();
  m_area.shrink_to_fit();
  m_device = nullptr;
}

int32_t CEXT2SearchController::AnalyzeBlock(int64_t firstSector, int64_t sectorCount,
                                            IntelligentSearchSummary* summary) {
  if (m_device == nullptr || m_ratio == 0 || firstSector < 0 || sectorCount <= 0) return 1;
  // What this block added shows in the summary when the block is done, whatever happens in it.
  struct Report {
    CEXT2SearchController* self;
    IntelligentSearchSummary* summary;
    ~Report() {
      if (summary == nullptr) return;
      summary->At(IntelligentSearchSummary::kExt2Superblocks) = self->m_superblocksSeen;
      summary->At(IntelligentSearchSummary::kExt2FileSystems) =
          static_cast<int64_t>(self->m_completed.size());
    }
  } report{this, summary};
  try {
    const int64_t first = firstSector * m_ratio;
    const int64_t count = sectorCount * m_ratio;
    // Carried sectors belong to this block's window only when the block follows on from them.
    if (first != m_nextSector) m_carrySectors = 0;
    const size_t carryBytes = static_cast<size_t>(m_carrySectors) * kSector;
    const size_t needed = carryBytes + static_cast<size_t>(count) * kSector;
    if (m_area.size() < needed) m_area.resize(needed);
    uint8_t* block = m_area.data() + carryBytes;
    if (!m_device->ReadSectors(block, static_cast<uint64_t>(first), static_cast<uint64_t>(count))) {
      // Sector by sector; one that cannot be read is zeros, never what an earlier block left there.
      for (int64_t s = 0; s < count; ++s) {
        uint8_t* at = block + static_cast<size_t>(s) * kSector;
        if (!m_device->ReadSectors(at, static_cast<uint64_t>(first + s), 1)) std::memset(at, 0, kSector);
      }
    }
    const int64_t areaFirst = first - m_carrySectors;
    const int64_t areaSectors = m_carrySectors + count;
    for (int64_t j = 0; j + kWindowSectors <= areaSectors; ++j)
      TestWindow(m_area.data() + static_cast<size_t>(j) * kSector, areaFirst + j);
    const int64_t keep = std::min<int64_t>(kWindowSectors - 1, areaSectors);
    std::memmove(m_area.data(), m_area.data() + static_cast<size_t>(areaSectors - keep) * kSector,
                 static_cast<size_t>(keep) * kSector);
    m_carrySectors = keep;
    m_nextSector = first + count;
  } catch (const std::exception& e) {
    LogExt2Exception(e);
    EmptyWindow();
  }
  return 1;
}

void CEXT2SearchController::TestWindow(const uint8_t* window, int64_t sector) {
  // Normalising never changes the magic: a window without it is no superblock, and that is nearly
  // every window.
  if (corvale::ByteReader(window, ext2sb::kSize).u16(ext2sb::kMagic) == ext2sb::kMagicValue) {
    CExt2SuperBlock copy(window);
    copy.Normalise();
    if (copy.IsValid()) {
      const int64_t base =
          copy.GetBlockGroupNumber() != 0 ? sector - copy.GetSuperBlockSectorOffset() : sector;
      // A partition cannot start before the device does.
      if (base - 2 >= 0) {
        ++m_superblocksSeen;
        m_pending = std::make_unique<CExt2SearchedPartitionInfo>(window, sector, 512);
        return;
      }
    }
  }
  if (m_pending && !m_pending->IsComplete() && m_pending->WantsDescriptorSector(sector)) {
    m_pending->AddDescriptorSector(window, sector);
    if (m_pending->IsComplete()) {
      std::unique_ptr<CExt2SearchedPartitionInfo> record = std::move(m_pending);
      if (record->HasValidDescriptors()) File(std::move(record));
    }
  }
}

void CEXT2SearchController::File(std::unique_ptr<CExt2SearchedPartitionInfo> record) {
  for (auto& filed : m_completed) {
    if (filed->IsSamePartition(*record)) {
      filed->SetFoldersMatch(filed->GetFoldersMatch() + 1);
      filed->SetCopies(filed->GetCopies() + 1);
      return;
    }
  }
  m_completed.push_back(std::move(record));
}

void CEXT2SearchController::GetResults(SearchedPartitionInfoList* list) {
  if (list == nullptr) return;
  try {
    std::map<IdentityKey, CExt2SearchedPartitionInfo*> best;
    for (auto& record : m_completed) {
      auto [it, inserted] = best.emplace(KeyOf(*record), record.get());
      if (inserted) continue;
      CExt2SearchedPartitionInfo* held = it->second;
      if (record->GetCopies() > held->GetCopies()) {
        record->MergeLowerCopy(*held);
        it->second = record.get();
      } else {
        held->MergeLowerCopy(*record);
      }
    }
    for (auto& [key, record] : best) {
      record->Score();
      auto owned = std::find_if(m_completed.begin(), m_completed.end(),
                                [&](const auto& r) { return r.get() == record; });
      record->LimitToDevice(m_deviceSectors);
      list->push_back(std::move(*owned));
      m_completed.erase(owned);
    }
    // What is left lost a merge: the winner took over what it needed, so it is freed here and never
    // handed out by a later call.
    m_completed.clear();
  } catch (const std::exception& e) {
    LogExt2Exception(e);
  }
}

CFileSystemNode* CEXT2SearchController::BuildPartitionDirectory(CSearchedPartitionInfo* partition,
                                                                IStorageDevice* device, int32_t index,
                                                                IDIRBuildCallback* callback) {
  auto* record = dynamic_cast<CExt2SearchedPartitionInfo*>(partition);
  if (record == nullptr || device == nullptr) return nullptr;
  corvale::ext2gc::Ext2GcThreadScope gcThread;
  try {
    IStorageDevice* device512 = device->GetDeviceWith512ByteSectors();
    if (!record->HasDescriptorTable() && !record->ReloadFromDisk(device512)) return nullptr;
    const std::vector<uint8_t>& table = record->GetDescriptorTable();
    CExt2FileSystem fs(device512, record->GetPartitionStart(), record->GetNormalisedSuperBlock().Bytes(),
                       table.data(), table.size());
    CExt2DirectoryBuilder builder;
    return builder.BuildFromSearchRecord(&fs, callback, m_sink, static_cast<uint32_t>(std::max(index, 0)));
  } catch (const std::exception& e) {
    LogExt2Exception(e);
    return nullptr;
  }
}
