#include "fat/FATTable.h"

#include "fat/FATDBR.h"
#include "storage/ByteReader.h"
#include "storage/IStorageDevice.h"

using namespace corvale;

namespace {

uint32_t SectorScale(uint32_t sectorSize) { return sectorSize >= 512 ? sectorSize / 512 : 1; }

// Entry 1 carries two volume-state bits that Windows clears while a volume is in use or after a
// disk error; a copy of a volume that was not shut down cleanly is still a FAT.
constexpr uint16_t kFat16StateBits = 0xC000;
constexpr uint32_t kFat32StateBits = 0x0C000000;

bool Fat32Start(const ByteReader& r) {
  return (r.u32(0) & 0x0FFFFFFF) == 0x0FFFFFF8 && ((r.u32(4) | kFat32StateBits) & 0x0FFFFFF8) == 0x0FFFFFF8;
}

bool Fat16Start(const ByteReader& r) { return r.u16(0) == 0xFFF8 && (r.u16(2) | kFat16StateBits) == 0xFFFF; }

}  // namespace

IRealFATTable::IRealFATTable(IStorageDevice* device, uint64_t firstSector, uint32_t sectors, uint32_t divisor,
                             uint32_t minSectors, uint32_t maxSectors)
    : m_device(device), m_firstSector(firstSector), m_sectorCount(sectors) {
  if (device != nullptr && device->GetSectorSize() > 0)
    m_sectorSize = static_cast<uint32_t>(device->GetSectorSize());
  m_entryCount = static_cast<uint32_t>(static_cast<uint64_t>(sectors) * m_sectorSize / divisor);
  // The window keeps a damaged sectors-per-FAT value from sizing the buffer: the largest copy any
  // type allows is 64 MiB.
  if (device == nullptr || sectors < minSectors || sectors > maxSectors || sectors == 0) return;
  std::vector<uint8_t> buffer(static_cast<size_t>(sectors) * m_sectorSize);
  if (device->ReadSectors(buffer.data(), firstSector, sectors)) m_buffer = std::move(buffer);
}

IRealFATTable::~IRealFATTable() = default;

template <typename Entry>
bool IRealFATTable::ChainsAreSound(Entry entry, uint32_t lastCluster) const {
  const uint32_t count = m_entryCount;
  // Every entry names a cluster of the copy, a mark, or nothing; never 1 or itself.
  for (uint32_t i = 2; i < count; ++i) {
    const uint32_t e = entry(i);
    if ((e >= count && e <= lastCluster) || e == 1 || e == i) return false;
  }
  // With every entry in range, a chain can only go wrong by joining another one or by running in a
  // circle. Two entries naming one cluster is a join. Without joins every cluster has at most one
  // predecessor, so the chains are disjoint paths and circles: walking from every cluster nobody
  // names reaches each path once, and a cluster left unreached lies on a circle. Each entry is
  // looked at a fixed number of times, however the chains are laid out.
  constexpr uint8_t kNamed = 1;
  constexpr uint8_t kReached = 2;
  std::vector<uint8_t> state(count, 0);
  const auto next = [&](uint32_t i) -> uint32_t {
    const uint32_t e = entry(i);
    return e >= 2 && e <= lastCluster ? e : 0;
  };
  for (uint32_t i = 2; i < count; ++i) {
    const uint32_t n = next(i);
    if (n == 0) continue;
    if (state[n] & kNamed) return false;
    state[n] |= kNamed;
  }
  for (uint32_t i = 2; i < count; ++i) {
    if (state[i] & kNamed) continue;
    for (uint32_t c = i; c != 0 && !(state[c] & kReached); c = next(c)) state[c] |= kReached;
  }
  for (uint32_t i = 2; i < count; ++i) {
    if (!(state[i] & kReached)) return false;
  }
  return true;
}

CFAT12Table::CFAT12Table(IStorageDevice* device, uint64_t firstSector, uint32_t sectors)
    : IRealFATTable(device, firstSector, sectors, 4, 1, 12) {}

uint32_t CFAT12Table::GetNextCluster(uint32_t cluster) const {
  const uint64_t offset = static_cast<uint64_t>(cluster) * 3 / 2;
  // Both bytes of the 16-bit word must lie inside the copy.
  if (offset + 1 >= m_buffer.size()) return 0;
  const uint32_t word = m_buffer[offset] | (m_buffer[offset + 1] << 8);
  const uint32_t value = (cluster & 1) ? word >> 4 : word & 0xFFF;
  if (value == 0xFFF) return kFat12LastCluster;
  if (value >= 0xFF8) return kFatEndOfChain;
  if (value == 0xFF7) return kFatBadCluster;
  return value;
}

bool CFAT12Table::IsValid() const {
  if (m_buffer.size() < 3) return false;
  const uint32_t first = m_buffer[0] | (m_buffer[1] << 8) | (m_buffer[2] << 16);
  return (first & 0xFFFFF0) == 0xFFFFF0;
}

CFAT16Table::CFAT16Table(IStorageDevice* device, uint64_t firstSector, uint32_t sectors)
    : IRealFATTable(device, firstSector, sectors, 2, 12 / SectorScale(device ? device->GetSectorSize() : 512),
                    256 / SectorScale(device ? device->GetSectorSize() : 512)) {}

uint16_t CFAT16Table::RawEntry(uint32_t index) const {
  const uint64_t at = static_cast<uint64_t>(index) * 2;
  if (at + 2 > m_buffer.size()) return 0;
  return static_cast<uint16_t>(m_buffer[at] | (m_buffer[at + 1] << 8));
}

uint32_t CFAT16Table::GetNextCluster(uint32_t cluster) const {
  if (cluster >= m_entryCount || m_buffer.empty()) return 0;
  const uint32_t value = RawEntry(cluster);
  if (value == 0xFFF7) return kFatBadCluster;
  if (value >= 0xFFF8) return kFatEndOfChain;
  return value;
}

bool CFAT16Table::IsValid() const {
  if (m_buffer.size() < 4 || !Fat16Start(ByteReader(m_buffer.data(), m_buffer.size()))) return false;
  return ChainsAreSound([this](uint32_t i) -> uint32_t { return RawEntry(i); }, 0xFFF6);
}

CFAT32Table::CFAT32Table(IStorageDevice* device, uint64_t firstSector, uint32_t sectors)
    : IRealFATTable(device, firstSector, sectors, 4,
                    256 / SectorScale(device ? device->GetSectorSize() : 512),
                    128000 / SectorScale(device ? device->GetSectorSize() : 512)) {}

uint32_t CFAT32Table::Entry(uint32_t index) const {
  const uint64_t at = static_cast<uint64_t>(index) * 4;
  if (at + 4 > m_buffer.size()) return 0;
  const uint8_t* p = &m_buffer[at];
  return (p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24)) & 0x0FFFFFFF;
}

uint32_t CFAT32Table::GetNextCluster(uint32_t cluster) const {
  // The upper four bits of an entry are reserved and kept by whoever wrote them; they are no part
  // of the cluster number, so a chain must not end on them.
  if (cluster >= m_entryCount || m_buffer.empty()) return 0;
  return Entry(cluster);
}

bool CFAT32Table::IsValid() const {
  if (m_buffer.size() < 8 || !Fat32Start(ByteReader(m_buffer.data(), m_buffer.size()))) return false;
  return ChainsAreSound([this](uint32_t i) { return Entry(i); }, 0x0FFFFFF6);
}

uint32_t CDoubleFATTable::GetNextCluster(uint32_t cluster) const {
  if (m_first) return m_first->GetNextCluster(cluster);
  if (m_second) return m_second->GetNextCluster(cluster);
  return 0;
}

std::unique_ptr<IRealFATTable> CreateFATTable(IStorageDevice* device, int32_t type, uint64_t firstSector,
                                              uint32_t sectors) {
  std::unique_ptr<IRealFATTable> table;
  switch (type) {
    case kFatType12:
      table = std::make_unique<CFAT12Table>(device, firstSector, sectors);
      break;
    case kFatType16:
      table = std::make_unique<CFAT16Table>(device, firstSector, sectors);
      break;
    case kFatType32:
      table = std::make_unique<CFAT32Table>(device, firstSector, sectors);
      break;
    default:
      return nullptr;
  }
  if (!table->IsValid()) return nullptr;
  return table;
}

std::unique_ptr<CDoubleFATTable> CreateDoubleFATTable(IStorageDevice* device, uint64_t fatStart, int32_t type,
                                                      uint32_t sectorsPerFat, bool useFirst, bool useSecond) {
  std::unique_ptr<IRealFATTable> first =
      useFirst ? CreateFATTable(device, type, fatStart, sectorsPerFat) : nullptr;
  std::unique_ptr<IRealFATTable> second;
  if (useSecond && !first) {
    const auto secondStart = checkedAdd(fatStart, sectorsPerFat);
    if (secondStart) second = CreateFATTable(device, type, *secondStart, sectorsPerFat);
  }
  return std::make_unique<CDoubleFATTable>(std::move(first), std::move(second));
}

bool IsValidFATCluster(uint64_t cluster) { return cluster >= 2 && cluster <= 0x0FFFFFEF; }

bool IsFATTableStartSector(const uint8_t* buffer, size_t length) {
  if (buffer == nullptr || length < 8) return false;
  const ByteReader r(buffer, length);
  return Fat32Start(r) || Fat16Start(r);
}
