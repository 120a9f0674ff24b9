#include "storage/LdmDatabase.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <optional>
#include <unordered_map>

#include "platform/Log.h"
#include "storage/ByteReader.h"
#include "storage/CheckedMath.h"
#include "storage/FileSystemCode.h"
#include "storage/IStorageDevice.h"
#include "storage/VolumeLetters.h"

using corvale::ByteReader;

namespace {

// Private header.
constexpr size_t kPrivVersionMajor = 0x0C;
constexpr size_t kPrivVersionMinor = 0x0E;
constexpr size_t kPrivDiskGuid = 0x30;
constexpr size_t kPrivDiskGuidMax = 64;
constexpr size_t kPrivGroupName = 0xF0;
constexpr size_t kPrivGroupNameMax = 32;
constexpr size_t kPrivLogicalStart = 0x11B;
constexpr size_t kPrivLogicalSize = 0x123;
constexpr size_t kPrivConfigStart = 0x12B;
constexpr size_t kPrivConfigSize = 0x133;
constexpr uint64_t kPrivFallbackSectors[] = {6, 2081};

// GPT, for the disks whose header sits at the end of the LDM metadata partition.
constexpr size_t kGptArrayLba = 72;
constexpr size_t kGptEntryCount = 80;
constexpr size_t kGptEntrySize = 84;
constexpr size_t kGptEntryFirst = 32;
constexpr size_t kGptEntryLast = 40;
constexpr size_t kGptEntryName = 56;
constexpr size_t kGptNameBytes = 72;
constexpr uint32_t kGptMaxEntries = 128;

// Configuration area.
constexpr uint64_t kConfigSectors = 2048;
constexpr size_t kSlotSize = 128;
constexpr size_t kSlotSequence = 4;
constexpr size_t kSlotGroup = 8;
constexpr size_t kSlotRecord = 12;
constexpr size_t kSlotCount = 14;
constexpr size_t kSlotFlags = 18;
constexpr size_t kSlotType = 19;
constexpr size_t kSlotLength = 20;
constexpr size_t kSlotData = 24;
constexpr size_t kFirstSlotData = kSlotSize - kSlotData;  // 104
constexpr size_t kContinuationHeader = 16;
constexpr size_t kContinuationData = kSlotSize - kContinuationHeader;  // 112

constexpr uint8_t kTypeVolume = 0x51;
constexpr uint8_t kTypeComponent = 0x32;
constexpr uint8_t kTypePartition = 0x33;
constexpr uint8_t kTypeDisk = 0x34;
constexpr uint8_t kTypeDisk2 = 0x44;

constexpr uint8_t kVolumeGeneric = 3;
constexpr uint8_t kVolumeRaid5 = 4;
constexpr uint8_t kComponentStriped = 1;
constexpr uint8_t kComponentConcatenated = 2;
constexpr uint8_t kComponentRaid5 = 3;

constexpr size_t kVolumeNameMax = 127;
constexpr size_t kDiskGuidTextMax = 64;

bool Magic(const uint8_t* p, const char* text) { return std::memcmp(p, text, std::strlen(text)) == 0; }

std::string CText(ByteReader r, size_t offset, size_t max) {
  const ByteReader field = r.sub(offset, max);
  const char* begin = reinterpret_cast<const char*>(field.data());
  if (begin == nullptr) return {};
  return std::string(begin, strnlen(begin, field.size()));
}

// The fields of a record's data, each read only inside the record. A fixed-width field that runs
// past the end spoils the record.
class FieldReader {
 public:
  FieldReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  bool ok() const { return m_ok; }

  // A length byte and that many big-endian bytes; a bad length gives all bits set and consumes the
  // length byte only. Longer numbers keep their low 64 bits.
  uint64_t Number() {
    if (!Need(1)) return UINT64_MAX;
    const size_t length = m_data[m_pos];
    if (length == 0 || length > 64 || length > m_size - m_pos - 1) {
      ++m_pos;
      return UINT64_MAX;
    }
    uint64_t value = 0;
    for (size_t i = 1; i <= length; ++i) value = (value << 8) | m_data[m_pos + i];
    m_pos += 1 + length;
    return value;
  }
  // A length byte and that many bytes, cut to `max`; a bad length gives "" and consumes one byte.
  std::string String(size_t max) {
    if (!Need(1)) return {};
    const size_t length = m_data[m_pos];
    if (length == 0 || length > m_size - m_pos - 1) {
      ++m_pos;
      return {};
    }
    std::string text(reinterpret_cast<const char*>(m_data + m_pos + 1), std::min(length, max));
    m_pos += 1 + length;
    return text;
  }
  uint8_t Byte() {
    if (!Need(1)) return 0;
    return m_data[m_pos++];
  }
  uint64_t Fixed64() {
    if (!Need(8)) return 0;
    const uint64_t v = ByteReader(m_data + m_pos, 8).be64(0);
    m_pos += 8;
    return v;
  }
  void Bytes(uint8_t* out, size_t n) {
    if (!Need(n)) return;
    std::memcpy(out, m_data + m_pos, n);
    m_pos += n;
  }
  void Skip(size_t n) { Need(n) ? void(m_pos += n) : void(); }

 private:
  bool Need(size_t n) {
    if (!m_ok || n > m_size - m_pos) {
      m_ok = false;
      return false;
    }
    return true;
  }

  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
  bool m_ok = true;
};

struct Record {
  uint8_t flags = 0;
  uint8_t type = 0;
  std::vector<uint8_t> data;
};

struct Volume {
  uint64_t id = 0;
  std::string name;
  uint8_t volumeType = 0;
  uint64_t size = 0;
  uint8_t partitionType = 0;
  std::array<uint8_t, 16> guid{};
  std::vector<size_t> components;  // newest link first
};

struct Component {
  uint64_t id = 0;
  uint8_t componentType = 0;
  uint64_t parent = 0;
  uint64_t stripe = 0;
  bool linked = false;
  std::vector<size_t> partitions;
};

struct Partition {
  uint64_t id = 0;
  uint64_t start = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  uint64_t parent = 0;
  uint64_t diskId = 0;
  int32_t column = 0;
  bool linked = false;
  std::optional<size_t> disk;
};

struct Disk {
  uint64_t id = 0;
  std::string guid;
  bool binaryGuid = false;
};

struct Database {
  std::vector<Volume> volumes;
  std::vector<Component> components;
  std::vector<Partition> partitions;
  std::vector<Disk> disks;
};

std::string GuidText(const uint8_t* g) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += hex[g[i] >> 4];
    out += hex[g[i] & 15];
  }
  return out;
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// value x 512 / sectorSize, or nothing when it overflows.
std::optional<uint64_t> ToDeviceSectors(uint64_t units, int32_t sectorSize) {
  if (sectorSize == 512) return units;
  const auto bytes = corvale::checkedMul(units, 512);
  if (!bytes) return std::nullopt;
  return *bytes / static_cast<uint64_t>(sectorSize);
}

void ParseRecord(const Record& r, int32_t sectorSize, Database& db) {
  FieldReader f(r.data.data(), r.data.size());
  switch (r.type) {
    case kTypeVolume: {
      Volume v;
      v.id = f.Number();
      v.name = f.String(kVolumeNameMax);
      f.String(255);  // volume-type text
      f.Skip(1);
      f.Skip(14);
      v.volumeType = f.Byte();
      f.Skip(1);
      f.Skip(1);
      f.Skip(3);
      f.Skip(1);
      f.Number();  // number of components; the links count them
      f.Skip(16);
      const uint64_t size = f.Number();
      f.Skip(4);
      v.partitionType = f.Byte();
      f.Bytes(v.guid.data(), v.guid.size());
      if (r.flags == 2) f.String(255);  // drive hint
      const auto sectors = ToDeviceSectors(size, sectorSize);
      if (!f.ok() || !sectors) return;
      v.size = *sectors;
      db.volumes.push_back(std::move(v));
      return;
    }
    case kTypeComponent: {
      Component c;
      c.id = f.Number();
      f.String(255);  // name
      f.String(255);  // state
      c.componentType = f.Byte();
      f.Skip(4);
      f.Number();  // number of partitions
      f.Skip(16);
      c.parent = f.Number();
      if (r.flags == 0x10) {
        f.Skip(1);
        const uint64_t stripe = f.Number();
        f.Number();  // columns
        if (stripe != UINT64_MAX) c.stripe = ToDeviceSectors(stripe, sectorSize).value_or(0);
      }
      if (!f.ok()) return;
      db.components.push_back(std::move(c));
      return;
    }
    case kTypePartition: {
      Partition p;
      p.id = f.Number();
      f.String(255);  // name
      f.Skip(12);
      const uint64_t start = f.Fixed64();
      const uint64_t offset = f.Fixed64();
      const uint64_t size = f.Number();
      p.parent = f.Number();
      p.diskId = f.Number();
      if (r.flags == 0x08 || r.flags == 0x48) p.column = static_cast<int32_t>(f.Number());
      const auto s = ToDeviceSectors(start, sectorSize);
      const auto o = ToDeviceSectors(offset, sectorSize);
      const auto n = ToDeviceSectors(size, sectorSize);
      if (!f.ok() || !s || !o || !n) return;
      p.start = *s;
      p.offset = *o;
      p.size = *n;
      db.partitions.push_back(std::move(p));
      return;
    }
    case kTypeDisk: {
      Disk d;
      d.id = f.Number();
      f.String(255);  // name
      d.guid = f.String(kDiskGuidTextMax);
      f.String(255);  // alternate name
      if (!f.ok()) return;
      db.disks.push_back(std::move(d));
      return;
    }
    case kTypeDisk2: {
      Disk d;
      d.id = f.Number();
      f.String(255);  // name
      uint8_t guid[16] = {};
      f.Bytes(guid, sizeof guid);
      if (!f.ok()) return;
      d.guid = GuidText(guid);
      d.binaryGuid = true;
      db.disks.push_back(std::move(d));
      return;
    }
    default:
      return;
  }
}

// The records of a configuration area, continuations joined. A record whose length does not fit
// its slots, or whose continuations are missing, is left out.
std::vector<Record> CollectRecords(const std::vector<uint8_t>& area) {
  const size_t slots = area.size() / kSlotSize;
  struct First {
    size_t slot;
    uint32_t group;
    uint16_t count;
    uint32_t length;
  };
  std::vector<First> firsts;
  // Continuation slots of each group, in the order they lie.
  std::unordered_map<uint32_t, std::vector<size_t>> continuations;
  for (size_t i = 0; i < slots; ++i) {
    const ByteReader slot(area.data() + i * kSlotSize, kSlotSize);
    if (!Magic(slot.data(), "VBLK")) continue;
    const uint32_t group = slot.be32(kSlotGroup);
    const uint16_t number = slot.be16(kSlotRecord);
    const uint16_t count = slot.be16(kSlotCount);
    (void)slot.be32(kSlotSequence);
    if (group == 0 || count == 0) continue;
    if (number == 0) {
      firsts.push_back({i, group, count, slot.be32(kSlotLength)});
    } else if (count > 1) {
      continuations[group].push_back(i);
    }
  }

  // The chain of fragments of a group: fragment k is the first slot of record number k after fragment k-1.
  std::unordered_map<uint32_t, std::vector<size_t>> chains;
  std::unordered_map<uint32_t, bool> groupTaken;
  std::vector<Record> records;
  for (const First& first : firsts) {
    const uint64_t fragments =
        first.length > kFirstSlotData
            ? (uint64_t{first.length} - kFirstSlotData + kContinuationData - 1) / kContinuationData
            : 0;
    // The count must announce exactly the slots the length needs.
    if (fragments + 1 != first.count) continue;
    const ByteReader slot(area.data() + first.slot * kSlotSize, kSlotSize);
    Record record;
    record.flags = slot.u8(kSlotFlags);
    record.type = slot.u8(kSlotType);
    if (fragments == 0) {
      record.data.assign(slot.data() + kSlotData, slot.data() + kSlotData + first.length);
      records.push_back(std::move(record));
      continue;
    }
    // Two records of one group would share its continuations; only the first gets them.
    if (groupTaken[first.group]) continue;
    groupTaken[first.group] = true;
    auto chain = chains.find(first.group);
    if (chain == chains.end()) {
      std::vector<size_t> taken;
      uint32_t expected = 1;
      for (size_t index : continuations[first.group]) {
        const uint16_t number = ByteReader(area.data() + index * kSlotSize, kSlotSize).be16(kSlotRecord);
        if (number == expected) {
          taken.push_back(index);
          ++expected;
        }
      }
      chain = chains.emplace(first.group, std::move(taken)).first;
    }
    if (chain->second.size() < fragments) continue;
    record.data.assign(slot.data() + kSlotData, slot.data() + kSlotSize);
    uint64_t remaining = first.length - kFirstSlotData;
    for (uint64_t k = 0; k < fragments; ++k) {
      const uint8_t* fragment = area.data() + chain->second[k] * kSlotSize + kContinuationHeader;
      const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, kContinuationData));
      record.data.insert(record.data.end(), fragment, fragment + n);
      remaining -= n;
    }
    records.push_back(std::move(record));
  }
  return records;
}

// Links components to volumes, partitions to components and disks to partitions. Each object is
// linked once, to the first parent that claims it, so that chains never cross.
void Link(Database& db) {
  for (size_t c = 0; c < db.components.size(); ++c) {
    for (Volume& v : db.volumes) {
      if (v.id == db.components[c].parent) {
        v.components.insert(v.components.begin(), c);
        db.components[c].linked = true;
        break;
      }
    }
  }
  for (size_t p = 0; p < db.partitions.size(); ++p) {
    for (Component& c : db.components) {
      if (c.id == db.partitions[p].parent) {
        c.partitions.insert(c.partitions.begin(), p);
        db.partitions[p].linked = true;
        break;
      }
    }
    for (size_t d = 0; d < db.disks.size(); ++d) {
      if (db.disks[d].id == db.partitions[p].diskId) {
        db.partitions[p].disk = d;
        break;
      }
    }
  }
}

bool IsComplete(const Database& db, const Volume& v) {
  if (v.volumeType != kVolumeGeneric && v.volumeType != kVolumeRaid5) return false;
  if (v.components.empty()) return false;
  for (size_t c : v.components) {
    const Component& comp = db.components[c];
    if (comp.componentType != kComponentStriped && comp.componentType != kComponentConcatenated &&
        comp.componentType != kComponentRaid5)
      return false;
    if (comp.partitions.empty()) return false;
    for (size_t p : comp.partitions)
      if (!db.partitions[p].disk) return false;
  }
  return true;
}

struct KnownDisk {
  IStorageDevice* device = nullptr;
  LdmPrivateHeader header;
  bool hasHeader = false;
};

std::vector<DynamicExtent> ExtentsOf(const Database& db, const Component& comp,
                                     const std::vector<KnownDisk>& disks) {
  std::vector<DynamicExtent> extents;
  for (size_t p : comp.partitions) {
    const Partition& part = db.partitions[p];
    const Disk& disk = db.disks[*part.disk];
    DynamicExtent e;
    e.column = part.column;
    e.diskGuid = disk.guid;
    e.offset = part.offset;
    e.length = part.size;
    for (const KnownDisk& known : disks) {
      if (!known.hasHeader) continue;
      const bool same = disk.binaryGuid ? SameTextIgnoringCase(known.header.diskGuid, disk.guid)
                                        : known.header.diskGuid == disk.guid;
      if (same) {
        const auto start = corvale::checkedAdd(part.start, known.header.logicalDiskStart);
        if (start) {
          e.disk = known.device;
          e.start = *start;
        }
        break;
      }
    }
    extents.push_back(std::move(e));
  }
  std::stable_sort(extents.begin(), extents.end(), [](const DynamicExtent& a, const DynamicExtent& b) {
    if (a.offset != b.offset) return a.offset < b.offset;
    return a.column < b.column;
  });
  return extents;
}

int32_t KindOfComponent(const Component& comp) {
  if (comp.componentType == kComponentStriped) return kDynamicStriped;
  if (comp.componentType == kComponentConcatenated)
    return comp.partitions.size() < 2 ? kDynamicSimple : kDynamicSpanned;
  return 0;
}

// The sum of the extents' lengths when every member is present and large enough (for RAID-5 less
// the parity); nothing otherwise.
std::optional<uint64_t> SizeFromExtents(const std::vector<DynamicExtent>& extents, bool raid5,
                                        bool requireMembers) {
  uint64_t sum = 0;
  for (const DynamicExtent& e : extents) {
    if (requireMembers) {
      if (e.disk == nullptr) return std::nullopt;
      const int64_t n = e.disk->GetSectorCount();
      if (n < 0 || static_cast<uint64_t>(n) < e.length) return std::nullopt;
    }
    const auto next = corvale::checkedAdd(sum, e.length);
    if (!next) return std::nullopt;
    sum = *next;
  }
  if (raid5 && !extents.empty()) {
    const uint64_t n = extents.size();
    sum = sum / n * (n - 1) + sum % n * (n - 1) / n;
  }
  return sum;
}

// What lies at the start of the first extent, read from its member disk.
DetectedFileSystem DetectAtExtent(const std::vector<DynamicExtent>& extents,
                                  const FileSystemDetector& detect) {
  if (!detect || extents.empty()) return {};
  const DynamicExtent& e = extents.front();
  if (e.disk == nullptr) return {};
  const int64_t n = e.disk->GetSectorCount();
  if (n <= 0 || e.start >= static_cast<uint64_t>(n)) return {};
  return detect(*e.disk, e.start);
}

std::unique_ptr<IDynamicDevice> MakeComponentDevice(int32_t kind, const DynamicVolumeDescription& base,
                                                    const Component& comp,
                                                    std::vector<DynamicExtent> extents) {
  DynamicVolumeDescription description = base;
  description.stripeSectors = comp.stripe;
  return CreateDynamicVolumeDevice(kind, description, std::move(extents));
}

void LoadOneDisk(const KnownDisk& self, const std::vector<KnownDisk>& disks, DynamicVolumeList& out,
                 const FileSystemDetector& detect) {
  IStorageDevice* disk = self.device;
  const int64_t signedSectors = disk->GetSectorCount();
  const int32_t sectorSize = disk->GetSectorSize();
  if (signedSectors <= 0 || sectorSize < 512 || sectorSize % 512 != 0) return;
  const uint64_t sectors = static_cast<uint64_t>(signedSectors);
  const uint64_t configStart = self.header.configStart;
  if (configStart >= sectors) return;
  uint64_t count = kConfigSectors;
  if (sectors - configStart >= 2 && sectors - configStart - 2 <= kConfigSectors)
    count = sectors - configStart - 2;
  // The area is never read past the disk's end.
  count = std::min(count, sectors - configStart);
  if (count == 0) return;
  std::vector<uint8_t> area(static_cast<size_t>(count) * static_cast<size_t>(sectorSize));
  if (!disk->ReadSectors(area.data(), configStart, count)) {
    LogInfo("LDM: configuration area of %llu sectors at %llu unreadable",
            static_cast<unsigned long long>(count), static_cast<unsigned long long>(configStart));
    return;
  }

  Database db;
  for (const Record& r : CollectRecords(area)) ParseRecord(r, sectorSize, db);
  Link(db);

  for (const Volume& v : db.volumes) {
    if (!IsComplete(db, v)) continue;
    DynamicVolumeDescription description;
    description.diskGroupName = self.header.groupName;
    description.volumeName = v.name;
    description.fileSystemType = MbrTypeToFileSystemType(v.partitionType);

    const Component& first = db.components[v.components[0]];
    std::vector<DynamicExtent> extents = ExtentsOf(db, first, disks);
    std::vector<DynamicExtent> secondExtents;
    const bool mirror = v.volumeType == kVolumeGeneric && v.components.size() > 1;
    if (mirror) secondExtents = ExtentsOf(db, db.components[v.components[1]], disks);
    int32_t kind = 0;
    if (mirror)
      kind = kDynamicMirror;
    else if (v.volumeType == kVolumeGeneric && first.componentType == kComponentStriped)
      kind = kDynamicStriped;
    else if (first.componentType == kComponentConcatenated)
      kind = first.partitions.size() < 2 ? kDynamicSimple : kDynamicSpanned;
    else if (first.componentType == kComponentRaid5 || v.volumeType == kVolumeRaid5)
      kind = kDynamicRaid5;
    if (kind == 0) continue;

    // File system and size. For a mirror the first copy whose members are all present speaks.
    const bool raid5 = kind == kDynamicRaid5;
    const std::vector<DynamicExtent>* sizing = &extents;
    if (mirror && !SizeFromExtents(extents, false, true) && SizeFromExtents(secondExtents, false, true))
      sizing = &secondExtents;
    const DetectedFileSystem atStart = DetectAtExtent(*sizing, detect);
    const bool fat = atStart.type >= kFileSystemFat12 && atStart.type <= kFileSystemFat32;
    const bool ntfs = atStart.type == kFileSystemNtfs;
    if (fat || ntfs) description.fileSystemType = atStart.type;
    std::optional<uint64_t> size = SizeFromExtents(*sizing, raid5, true);
    if (!size && (fat || ntfs) && atStart.sectorCount > 0) size = atStart.sectorCount + (ntfs ? 1 : 0);
    // Without a member to read a boot sector from, the database's own extents still give a size.
    if (!size) size = SizeFromExtents(*sizing, raid5, false);
    if (!size || *size == 0 || *size > static_cast<uint64_t>(INT64_MAX)) continue;
    description.sectorCount = *size;

    std::unique_ptr<IDynamicDevice> device;
    if (mirror) {
      const Component& second = db.components[v.components[1]];
      auto a = MakeComponentDevice(KindOfComponent(first), description, first, std::move(extents));
      auto b = MakeComponentDevice(KindOfComponent(second), description, second, std::move(secondExtents));
      device = CreateMirrorVolumeDevice(description, std::move(a), std::move(b));
    } else {
      device = MakeComponentDevice(kind, description, first, std::move(extents));
    }
    if (!device) continue;
    const bool known = std::any_of(out.begin(), out.end(), [&](const auto& record) {
      return record->Device.get() == device.get() ||
             (record->Device && record->Device->IsSameVolume(device.get()));
    });
    if (known) continue;

    auto record = std::make_unique<DynamicVolumeRecord>();
    record->SectorCount = device->GetSectorCount();
    record->KindName = DynamicVolumeKindName(device->GetKind());
    record->FileSystemType = device->GetFileSystemType();
    if (detect) {
      const DetectedFileSystem found = detect(*device, 0);
      if (found.type != kFileSystemUnknown) record->FileSystemType = found.type;
      record->Label = found.label.substr(0, 99);
    }
    // The volume's own letter in this run, else the letter of its GUID. (The check of the member
    // disks' state that the system makes first has nothing to look at here: a member that did not
    // open is not among the disks at all.)
    record->DriveLetter = device->GetDriveLetter();
    if (record->DriveLetter == 0) record->DriveLetter = GetDriveLetterOfVolumeGuid(v.guid);
    record->VolumeName = v.name;
    record->DiskGroupName = self.header.groupName;
    record->VolumeGuid = v.guid;
    record->Device = std::move(device);
    out.push_back(std::move(record));
  }
}

}  // namespace

bool LdmPrivateHeader::Parse(const uint8_t* block, size_t size) {
  if (block == nullptr || size < kSize) return false;
  const ByteReader r(block, kSize);
  if (!Magic(block, "PRIVHEAD")) return false;
  versionMajor = r.be16(kPrivVersionMajor);
  versionMinor = r.be16(kPrivVersionMinor);
  diskGuid = CText(r, kPrivDiskGuid, kPrivDiskGuidMax);
  groupName = CText(r, kPrivGroupName, kPrivGroupNameMax).substr(0, kPrivGroupNameMax - 1);
  logicalDiskStart = r.be64(kPrivLogicalStart);
  logicalDiskSize = r.be64(kPrivLogicalSize);
  configStart = r.be64(kPrivConfigStart);
  configSize = r.be64(kPrivConfigSize);
  unknown13b = r.be64(0x13B);
  unknown143 = r.be64(0x143);
  unknown153 = r.be64(0x153);
  unknown15b = r.be64(0x15B);
  unknown14b = r.be32(0x14B);
  unknown14f = r.be32(0x14F);
  unknown163 = r.be32(0x163);
  return true;
}

bool FindPrivHead(IStorageDevice* disk, uint8_t (&out)[LdmPrivateHeader::kSize]) {
  if (disk == nullptr) return false;
  const int64_t signedSectors = disk->GetSectorCount();
  const int32_t sectorSize = disk->GetSectorSize();
  if (signedSectors <= 0 || sectorSize < 512) return false;
  const uint64_t sectors = static_cast<uint64_t>(signedSectors);
  std::vector<uint8_t> sector(static_cast<size_t>(sectorSize));
  auto tryAt = [&](uint64_t lba) {
    if (lba >= sectors || !disk->ReadSectors(sector.data(), lba, 1)) return false;
    if (!Magic(sector.data(), "PRIVHEAD")) return false;
    std::memcpy(out, sector.data(), LdmPrivateHeader::kSize);
    return true;
  };
  if (tryAt(sectors - 1)) return true;
  for (uint64_t lba : kPrivFallbackSectors)
    if (tryAt(lba)) return true;

  // A GPT disk keeps it at the end of its LDM metadata partition.
  if (sectors < 2 || !disk->ReadSectors(sector.data(), 1, 1) || !Magic(sector.data(), "EFI PART"))
    return false;
  const ByteReader header(sector.data(), sector.size());
  uint64_t arrayLba = header.u64(kGptArrayLba);
  uint32_t left = header.u32(kGptEntryCount);
  const uint32_t entrySize = header.u32(kGptEntrySize);
  // Entries must tile the sector and hold a whole name.
  if (entrySize < 128 || entrySize % 128 != 0 || entrySize > static_cast<uint32_t>(sectorSize)) return false;
  static const std::u16string kName = u"LDM metadata partition";
  std::vector<uint8_t> entries(static_cast<size_t>(sectorSize));
  const uint32_t perSector = static_cast<uint32_t>(sectorSize) / entrySize;
  for (uint32_t read = 0; left >= 1 && left <= kGptMaxEntries && read < kGptMaxEntries; ++read, ++arrayLba) {
    if (arrayLba >= sectors || !disk->ReadSectors(entries.data(), arrayLba, 1)) return false;
    const uint32_t here = std::min(left, perSector);
    for (uint32_t i = 0; i < here; ++i) {
      const ByteReader entry(entries.data() + static_cast<size_t>(i) * entrySize, entrySize);
      if (entry.u64(kGptEntryFirst) == 0) continue;
      bool match = true;
      for (size_t c = 0; c * 2 < kGptNameBytes; ++c) {
        const char16_t ch = static_cast<char16_t>(entry.u16(kGptEntryName + c * 2));
        const char16_t want = c < kName.size() ? kName[c] : u'\0';
        if (ch != want) {
          match = false;
          break;
        }
        if (want == u'\0') break;
      }
      if (match && tryAt(entry.u64(kGptEntryLast))) return true;
    }
    left -= here;
  }
  return false;
}

int LoadDynamicVolumes(const std::vector<IStorageDevice*>& disks, DynamicVolumeList& out,
                       const FileSystemDetector& detect) {
  std::vector<KnownDisk> known;
  for (IStorageDevice* device : disks) {
    KnownDisk k;
    k.device = device;
    uint8_t block[LdmPrivateHeader::kSize];
    k.hasHeader = device && FindPrivHead(device, block) && k.header.Parse(block, sizeof block);
    known.push_back(std::move(k));
  }
  for (const KnownDisk& k : known) {
    if (k.hasHeader) LoadOneDisk(k, known, out, detect);
  }
  return static_cast<int>(out.size());
}
