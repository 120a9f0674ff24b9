#include "storage/SectorReader.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/Log.h"
#include "platform/RawIo.h"
#include "storage/CheckedMath.h"

namespace {

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return corvale::checkedAdd(a, b).value_or(UINT64_MAX); }

}  // namespace

CSectorReader::~CSectorReader() { ClearBadRanges(); }

void CSectorReader::SetSectorSize(int32_t unit) {
  if (unit > 0) m_unit.store(unit);
}

bool CSectorReader::ReadSector(platform::IRawDevice* device, void* buffer, uint64_t firstSector,
                               uint64_t count, bool ignoreBadSectors, int* error) {
  int localError = 0;
  if (!error) error = &localError;
  *error = 0;
  const uint64_t unit = static_cast<uint64_t>(m_unit.load());
  // count × unit must fit 32 bits, as one read of the drive is at most that long.
  if (count >= (uint64_t{1} << 32) / unit) {
    ReleaseTrace("-----------------Tev:Read sector parameter error = %lld---------------",
                 static_cast<long long>(count));
    return false;
  }
  const size_t bytes = static_cast<size_t>(count * unit);
  auto* out = static_cast<uint8_t*>(buffer);
  if (!device) {
    std::memset(out, 0, bytes);
    return false;
  }
  if (ignoreBadSectors && IsInBadRange(firstSector, SaturatingAdd(firstSector, count))) {
    std::memset(out, 0, bytes);
    return true;
  }
  const auto offset = corvale::checkedMul(firstSector, unit);
  if (!offset) {
    DebugTrace("ReadSector: sector %llu lies beyond any addressable offset",
               static_cast<unsigned long long>(firstSector));
    *error = EINVAL;
    std::memset(out, 0, bytes);
    return false;
  }

  const int64_t got = device->ReadAt(out, bytes, *offset);
  if (got >= 0) {
    const auto read = static_cast<size_t>(std::min<int64_t>(got, static_cast<int64_t>(bytes)));
    // The source ended inside the request: the rest of the buffer must not keep older data.
    if (read < bytes) std::memset(out + read, 0, bytes - read);
    if ((read + unit - 1) / unit == count) return true;
    // A request reaching past the end of the source is not a damaged medium: nothing is recorded.
    DebugTrace("ReadSector: %llu of %llu sectors at %llu lie past the end of %s",
               static_cast<unsigned long long>(count - (read + unit - 1) / unit),
               static_cast<unsigned long long>(count), static_cast<unsigned long long>(firstSector),
               device->Path().c_str());
    return false;
  }

  *error = static_cast<int>(-got);
  if (!ignoreBadSectors) {
    ReleaseTrace("ReadSector find bad sector , not ignored\n");
    return false;
  }
  std::memset(out, 0, bytes);
  // Only a medium error marks sectors bad; a missing drive or a refused request would otherwise
  // turn good data into recorded zeros.
  if (!platform::IsMediumError(*error)) {
    DebugTrace("ReadSector: read of %llu sectors at %llu failed with errno %d (not a medium error)",
               static_cast<unsigned long long>(count), static_cast<unsigned long long>(firstSector), *error);
    return false;
  }
  UpdateBadSector(device, firstSector, kProbeUnitSectors, kMinBadUnits, kFirstProbeUnits);
  return true;
}

void CSectorReader::UpdateBadSector(platform::IRawDevice* device, uint64_t firstSector, uint32_t unit,
                                    uint32_t minUnits, uint32_t startUnits) {
  ReleaseTrace("UpdateBadSector start = %lld\n", static_cast<long long>(firstSector));
  const uint64_t defaultEnd = SaturatingAdd(firstSector, uint64_t{unit} * minUnits);
  BadSectorRange range{firstSector, defaultEnd};
  if (!device) return;
  if (unit == 0) unit = 1;

  const uint64_t sectorSize = static_cast<uint64_t>(m_unit.load());
  const size_t probeBytes = static_cast<size_t>(uint64_t{unit} * sectorSize);
  // The program's allocator never answers null: running out of memory ends in its own handler.
  std::unique_ptr<uint8_t[]> probe(new uint8_t[probeBytes]);
  uint32_t n = startUnits;
  bool failedProbe = false;
  while (n > minUnits) {
    ReleaseTrace("UpdateBadSector nBadSectorUnitCount = %d\n", static_cast<int>(n));
    const auto position = corvale::checkedAdd(firstSector, uint64_t{n} * unit);
    const auto byteOffset = position ? corvale::checkedMul(*position, sectorSize) : std::nullopt;
    if (!byteOffset) {
      failedProbe = true;
      break;
    }
    const int64_t got = device->ReadAt(probe.get(), probeBytes, *byteOffset);
    if (got < 0 || static_cast<uint64_t>(got) != probeBytes) {
      failedProbe = true;
      break;
    }
    n /= 2;
    if (n < minUnits) {
      // The damage is narrower than the smallest region kept: record the smallest region.
      n = minUnits;
      failedProbe = true;
      break;
    }
  }
  if (failedProbe) {
    range.end = SaturatingAdd(firstSector, uint64_t{n} * unit);
    ReleaseTrace("UpdateBadSector find bad sector i64StartOffset = %lld, i64EndOffset = %lld\n",
                 static_cast<long long>(range.first), static_cast<long long>(range.end));
  }
  AddBadRange(range);
}

bool CSectorReader::IsInBadRange(uint64_t first, uint64_t end) {
  // Most disks have no bad region: answer those reads without the lock.
  if (m_rangeCount.load(std::memory_order_acquire) == 0) return false;
  if (end <= first) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  // The ranges are disjoint, so the only candidate is the last one starting before `end`.
  auto it = m_ranges.lower_bound(end);
  if (it == m_ranges.begin()) return false;
  --it;
  return it->second.end > first;
}

uint32_t CSectorReader::AddBadRange(BadSectorRange range) {
  if (range.end <= range.first) return kAddOk;
  try {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Join the new range with every recorded range it overlaps or touches, keeping the map
    // disjoint. [lo, hi) are the recorded ranges that join.
    auto lo = m_ranges.upper_bound(range.first);
    if (lo != m_ranges.begin() && std::prev(lo)->second.end >= range.first) --lo;
    auto hi = lo;
    while (hi != m_ranges.end() && hi->second.first <= range.end) ++hi;
    if (lo == hi) {
      m_ranges.emplace(range.first, range);
    } else {
      range.first = std::min(range.first, lo->second.first);
      range.end = std::max(range.end, std::prev(hi)->second.end);
      // Reuse a recorded entry for the joined range, so that nothing is lost if memory runs out.
      auto node = m_ranges.extract(lo++);
      m_ranges.erase(lo, hi);
      node.key() = range.first;
      node.mapped() = range;
      m_ranges.insert(std::move(node));
    }
    m_rangeCount.store(m_ranges.size(), std::memory_order_release);
  } catch (const std::bad_alloc&) {
    return kAddNotEnoughMemory;
  } catch (...) {
    return kAddFailed;
  }
  return kAddOk;
}

void CSectorReader::ClearBadRanges() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_ranges.clear();
  m_rangeCount.store(0, std::memory_order_release);
}

std::vector<BadSectorRange> CSectorReader::GetBadRanges() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<BadSectorRange> out;
  out.reserve(m_ranges.size());
  for (const auto& [first, range] : m_ranges) out.push_back(range);
  return out;
}
