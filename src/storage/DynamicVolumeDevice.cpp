#include "storage/DynamicVolumeDevice.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "storage/CheckedMath.h"
#include "storage/VolumeLetters.h"

namespace {

constexpr uint64_t kDefaultStripeBytes = 65536;
constexpr uint64_t kMirrorChunk = 63;
constexpr uint64_t kMaxStripeSectors = uint64_t{1} << 24;

// out ^= in, eight bytes at a time (sector sizes are multiples of 512).
void XorInto(uint8_t* out, const uint8_t* in, size_t bytes) {
  size_t i = 0;
  for (; i + 8 <= bytes; i += 8) {
    uint64_t a, b;
    std::memcpy(&a, out + i, 8);
    std::memcpy(&b, in + i, 8);
    a ^= b;
    std::memcpy(out + i, &a, 8);
  }
  for (; i < bytes; ++i) out[i] ^= in[i];
}

bool ExtentOrder(const DynamicExtent& a, const DynamicExtent& b) {
  if (a.offset != b.offset) return a.offset < b.offset;
  return a.column < b.column;
}

auto ExtentKey(const DynamicExtent& e) {
  return std::tie(e.offset, e.column, e.start, e.length, e.disk, e.diskGuid);
}

class CDynamicVolumeDevice : public IDynamicDevice {
 public:
  CDynamicVolumeDevice(int32_t kind, const DynamicVolumeDescription& description,
                       std::vector<DynamicExtent> extents)
      : m_kind(kind), m_description(description), m_extents(std::move(extents)) {
    std::stable_sort(m_extents.begin(), m_extents.end(), ExtentOrder);
    int32_t size = 512;
    if (!m_extents.empty() && m_extents.front().disk && m_extents.front().disk->GetSectorSize() > 0)
      size = m_extents.front().disk->GetSectorSize();
    m_sectorSize = size;
    m_stripe = std::max<uint64_t>(1, kDefaultStripeBytes / static_cast<uint64_t>(size));
    // A stripe larger than this is no stripe any tool writes; the usual size is kept instead.
    if (description.stripeSectors > 0 && description.stripeSectors <= kMaxStripeSectors)
      m_stripe = description.stripeSectors;
  }

  bool ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) override {
    const uint64_t size = m_description.sectorCount;
    if (buffer == nullptr || firstSector > static_cast<uint64_t>(INT64_MAX) || firstSector > size ||
        count > size)
      return false;
    std::memset(buffer, 0, static_cast<size_t>(count) * static_cast<size_t>(m_sectorSize));
    const uint64_t n = std::min(count, size - firstSector);
    if (n == 0) return true;
    return ReadRange(static_cast<uint8_t*>(buffer), firstSector, n);
  }
  int64_t GetSectorCount() override { return static_cast<int64_t>(m_description.sectorCount); }
  int32_t GetSectorSize() override { return m_sectorSize; }
  bool Open() override { return true; }
  bool Close() override { return true; }

  bool IsSameVolume(IDynamicDevice* other) override {
    if (other == nullptr || other->GetKind() != GetKind()) return false;
    std::vector<DynamicExtent> mine, theirs;
    GetExtents(mine);
    other->GetExtents(theirs);
    if (mine.size() != theirs.size()) return false;
    auto less = [](const DynamicExtent& a, const DynamicExtent& b) { return ExtentKey(a) < ExtentKey(b); };
    std::sort(mine.begin(), mine.end(), less);
    std::sort(theirs.begin(), theirs.end(), less);
    return mine == theirs;
  }
  int32_t GetKind() const override { return m_kind; }
  int32_t GetFileSystemType() const override { return m_description.fileSystemType; }
  void GetExtents(std::vector<DynamicExtent>& out) const override {
    out.insert(out.end(), m_extents.begin(), m_extents.end());
  }
  const DynamicVolumeDescription& GetDescription() const override { return m_description; }

 protected:
  // Reads `count` (> 0) sectors at volume sector `first` into a zeroed buffer; the range lies inside
  // the volume.
  virtual bool ReadRange(uint8_t* out, uint64_t first, uint64_t count) = 0;

  // Reads `count` sectors at `relative` sectors into extent `e`. Only the part inside both the
  // extent and its member disk is read; the rest stays zero. False when the member is missing, its
  // read fails, or part of the range lies outside the extent or the disk.
  bool ReadMember(const DynamicExtent& e, uint64_t relative, uint64_t count, uint8_t* out) const {
    if (e.disk == nullptr) return false;
    if (relative >= e.length) return false;
    uint64_t n = std::min(count, e.length - relative);
    const int64_t diskSectors = e.disk->GetSectorCount();
    const uint64_t diskEnd = diskSectors > 0 ? static_cast<uint64_t>(diskSectors) : 0;
    const auto at = corvale::checkedAdd(e.start, relative);
    if (!at || *at >= diskEnd) return false;
    n = std::min(n, diskEnd - *at);
    if (!e.disk->ReadSectors(out, *at, n)) {
      std::memset(out, 0, static_cast<size_t>(n) * static_cast<size_t>(m_sectorSize));
      return false;
    }
    return n == count;
  }

  size_t Bytes(uint64_t sectors) const {
    return static_cast<size_t>(sectors) * static_cast<size_t>(m_sectorSize);
  }

  int32_t m_kind;
  DynamicVolumeDescription m_description;
  std::vector<DynamicExtent> m_extents;
  uint64_t m_stripe = 128;
};

class CSimpleVolumeDevice : public CDynamicVolumeDevice {
 public:
  using CDynamicVolumeDevice::CDynamicVolumeDevice;

 protected:
  bool ReadRange(uint8_t* out, uint64_t first, uint64_t count) override {
    const DynamicExtent* present = nullptr;
    for (const DynamicExtent& e : m_extents)
      if (e.disk) present = &e;
    if (present == nullptr) return false;
    // A volume sized by its file system may reach past the extent: those sectors are zeros.
    if (first >= present->length) return true;
    const uint64_t inside = std::min(count, present->length - first);
    return ReadMember(*present, first, inside, out);
  }
};

class CSpannedVolumeDevice : public CDynamicVolumeDevice {
 public:
  using CDynamicVolumeDevice::CDynamicVolumeDevice;

 protected:
  bool ReadRange(uint8_t* out, uint64_t first, uint64_t count) override {
    uint64_t p = first, r = count;
    for (const DynamicExtent& e : m_extents) {
      if (r == 0) break;
      if (p < e.offset || p - e.offset >= e.length) continue;
      const uint64_t chunk = std::min(e.length - (p - e.offset), r);
      ReadMember(e, p - e.offset, chunk, out);
      p += chunk;
      r -= chunk;
      out += Bytes(chunk);
    }
    return r == 0;
  }
};

class CStripedVolumeDevice : public CDynamicVolumeDevice {
 public:
  using CDynamicVolumeDevice::CDynamicVolumeDevice;

 protected:
  bool ReadRange(uint8_t* out, uint64_t first, uint64_t count) override {
    const uint64_t n = m_extents.size();
    const uint64_t s = m_stripe;
    uint64_t p = first, r = count;
    while (r > 0) {
      const uint64_t unit = p / s;
      const uint64_t row = unit / n;
      const uint64_t column = unit % n;
      const uint64_t within = p % s;
      const uint64_t chunk = std::min(s - within, r);
      const DynamicExtent& e = m_extents[column];
      // The extent's own offset is that of the volume's first row (0 on every real disk).
      const uint64_t rowStart = row * s + within;
      if (rowStart >= e.offset) ReadMember(e, rowStart - e.offset, chunk, out);
      p += chunk;
      r -= chunk;
      out += Bytes(chunk);
    }
    return true;
  }
};

class CRaid5VolumeDevice : public CDynamicVolumeDevice {
 public:
  using CDynamicVolumeDevice::CDynamicVolumeDevice;

 protected:
  bool ReadRange(uint8_t* out, uint64_t first, uint64_t count) override {
    const uint64_t n = m_extents.size();
    const uint64_t s = m_stripe;
    const uint64_t data = (n - 1) * s;
    uint64_t p = first, r = count;
    while (r > 0) {
      const uint64_t row = p / data;
      const uint64_t parity = n - 1 - (row % n);
      const uint64_t t = (p / s) % (n - 1);
      const uint64_t column = (parity + 1 + t) % n;
      const uint64_t within = p % s;
      const uint64_t chunk = std::min(s - within, r);
      const uint64_t memberSector = row * s + within;
      if (!ReadColumn(column, memberSector, chunk, out)) {
        // Rebuild the lost fragment from every other column, the parity included.
        if (m_scratch.size() < Bytes(chunk)) m_scratch.resize(Bytes(chunk));
        std::memset(out, 0, Bytes(chunk));
        for (uint64_t other = 0; other < n; ++other) {
          if (other == column) continue;
          if (!ReadColumn(other, memberSector, chunk, m_scratch.data())) {
            std::memset(out, 0, Bytes(chunk));
            return false;
          }
          XorInto(out, m_scratch.data(), Bytes(chunk));
        }
      }
      p += chunk;
      r -= chunk;
      out += Bytes(chunk);
    }
    return true;
  }

 private:
  bool ReadColumn(uint64_t column, uint64_t memberSector, uint64_t chunk, uint8_t* out) {
    const DynamicExtent& e = m_extents[column];
    if (memberSector < e.offset) return false;
    return ReadMember(e, memberSector - e.offset, chunk, out);
  }

  // A read may run on two threads at once; each rebuild uses its own buffer.
  thread_local static std::vector<uint8_t> m_scratch;
};

thread_local std::vector<uint8_t> CRaid5VolumeDevice::m_scratch;

class CMirrorVolumeDevice : public CDynamicVolumeDevice {
 public:
  CMirrorVolumeDevice(const DynamicVolumeDescription& description, std::unique_ptr<IDynamicDevice> first,
                      std::unique_ptr<IDynamicDevice> second)
      : CDynamicVolumeDevice(kDynamicMirror, description, {}) {
    m_members[0] = std::move(first);
    m_members[1] = std::move(second);
    for (auto& member : m_members) {
      if (member && member->GetSectorSize() > 0) {
        m_sectorSize = member->GetSectorSize();
        break;
      }
    }
  }

  void GetExtents(std::vector<DynamicExtent>& out) const override {
    for (const auto& member : m_members)
      if (member) member->GetExtents(out);
  }

 protected:
  bool ReadRange(uint8_t* out, uint64_t first, uint64_t count) override {
    uint64_t p = first, r = count;
    while (r > 0) {
      const uint64_t fragment = std::min(kMirrorChunk, r);
      if (!ReadFromEither(out, p, fragment)) {
        for (uint64_t i = 0; i < fragment; ++i) ReadFromEither(out + Bytes(i), p + i, 1);
      }
      p += fragment;
      r -= fragment;
      out += Bytes(fragment);
    }
    return true;
  }

 private:
  bool ReadFromEither(uint8_t* out, uint64_t first, uint64_t count) {
    for (auto& member : m_members) {
      if (member && member->ReadSectors(out, first, count)) return true;
    }
    std::memset(out, 0, Bytes(count));
    return false;
  }

  std::unique_ptr<IDynamicDevice> m_members[2];
};

}  // namespace

char IDynamicDevice::GetDriveLetter() {
  const DynamicVolumeDescription& description = GetDescription();
  return FindDriveLetterOfDynamicVolume(description.volumeName, description.diskGroupName);
}

const char* DynamicVolumeKindName(int32_t kind) {
  switch (kind) {
    case kDynamicSimple:
      return "SIMPLE";
    case kDynamicMirror:
      return "MIRROR";
    case kDynamicSpanned:
      return "SPANNED";
    case kDynamicStriped:
      return "STRIPPED";
    case kDynamicRaid5:
      return "RAID5";
    default:
      return "UNKNOWN";
  }
}

std::unique_ptr<IDynamicDevice> CreateDynamicVolumeDevice(int32_t kind,
                                                          const DynamicVolumeDescription& description,
                                                          std::vector<DynamicExtent> extents) {
  const size_t present = static_cast<size_t>(
      std::count_if(extents.begin(), extents.end(), [](const auto& e) { return e.disk != nullptr; }));
  switch (kind) {
    case kDynamicSimple:
      if (present != 1) return nullptr;
      return std::make_unique<CSimpleVolumeDevice>(kind, description, std::move(extents));
    case kDynamicSpanned:
      if (present < 1) return nullptr;
      return std::make_unique<CSpannedVolumeDevice>(kind, description, std::move(extents));
    case kDynamicStriped:
      if (present < 1) return nullptr;
      return std::make_unique<CStripedVolumeDevice>(kind, description, std::move(extents));
    case kDynamicRaid5:
      // Parity needs a second column; with one column there is nothing to rotate over.
      if (extents.size() < 2 || present + 1 < extents.size()) return nullptr;
      return std::make_unique<CRaid5VolumeDevice>(kind, description, std::move(extents));
    default:
      return nullptr;
  }
}

std::unique_ptr<IDynamicDevice> CreateMirrorVolumeDevice(const DynamicVolumeDescription& description,
                                                         std::unique_ptr<IDynamicDevice> first,
                                                         std::unique_ptr<IDynamicDevice> second) {
  if (!first && !second) return nullptr;
  return std::make_unique<CMirrorVolumeDevice>(description, std::move(first), std::move(second));
}
