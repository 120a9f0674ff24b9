#include "storage/PartitionTableAnalyze.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

#include "platform/Log.h"
#include "storage/ByteReader.h"
#include "storage/CheckedMath.h"
#include "storage/IStorageDevice.h"

using corvale::ByteReader;

namespace {

constexpr size_t kEntryTable = 446;
constexpr size_t kEntrySize = 16;
constexpr int kEntries = 4;
constexpr uint8_t kTypeDynamic = 0x42;
constexpr uint8_t kTypeGptProtective = 0xEE;
constexpr size_t kGptEntrySize = 128;
constexpr uint64_t kGptFixedArrayLba = 2;
constexpr uint64_t kGptFixedArraySectors = 32;
// A GPT array larger than this is not believed, whatever its header says.
constexpr uint64_t kMaxGptArrayBytes = 1u << 20;

bool IsExtendedType(uint8_t type) { return type == 0x05 || type == 0x0F; }

bool IsEmptyEntry(const uint8_t* entry) {
  return std::all_of(entry, entry + kEntrySize, [](uint8_t b) { return b == 0; });
}

// Sector `lba` of the device, or nothing when it cannot be read.
std::optional<std::vector<uint8_t>> ReadSector(IStorageDevice* device, uint64_t lba) {
  const int32_t size = device->GetSectorSize();
  if (size <= 0) return std::nullopt;
  std::vector<uint8_t> sector(static_cast<size_t>(size));
  if (!device->ReadSectors(sector.data(), lba, 1)) return std::nullopt;
  return sector;
}

// A sector that can hold a partition table: large enough for the four entries, the 0x55 0xAA mark,
// and boot flags that are 0x00 or 0x80 (anything else means the sector is not a table).
bool IsPartitionTableSector(const std::vector<uint8_t>& sector) {
  if (sector.size() < 512) return false;
  if (sector[510] != 0x55 || sector[511] != 0xAA) return false;
  for (int i = 0; i < kEntries; ++i) {
    const uint8_t flag = sector[kEntryTable + i * kEntrySize];
    if (flag != 0x00 && flag != 0x80) return false;
  }
  return true;
}

uint64_t DeviceSectors(IStorageDevice* device) {
  const int64_t n = device->GetSectorCount();
  return n > 0 ? static_cast<uint64_t>(n) : 0;
}

void CopyLabel(char (&out)[PARTITION_RECORD::kLabelSize], const std::string& label) {
  std::memset(out, 0, sizeof out);
  std::memcpy(out, label.data(), std::min(label.size(), sizeof out - 1));
}

// Appends a record over (start, count) of `device` with what was detected there; a record of no
// sectors is dropped.
void AppendRecord(IStorageDevice* device, uint64_t start, uint64_t count, const DetectedFileSystem& found,
                  PartitionRecordList& list) {
  if (count == 0 || start > static_cast<uint64_t>(INT64_MAX) || count > static_cast<uint64_t>(INT64_MAX))
    return;
  auto record = std::make_unique<PARTITION_RECORD>();
  record->StartSector = static_cast<int64_t>(start);
  record->SectorCount = static_cast<int64_t>(count);
  record->FileSystemType = found.type;
  CopyLabel(record->Label, found.label);
  record->Device = std::make_unique<CBasicPartitionDevice>(device, start, count);
  list.push_back(std::move(record));
}

// The GPT type table: the MBR scheme type first (never listed), then the partition types listed.
struct GptType {
  uint16_t index;
  const char* name;
  const char* guid;
};

constexpr GptType kGptTypes[] = {
    {1, "MBR partition scheme", "024DEE41-33E7-11D3-9D69-0008C781F39F"},
    {2, "EFI System partition", "C12A7328-F81F-11D2-BA4B-00A0C93EC93B"},
    {3, "BIOS Boot partition", "21686148-6449-6E6F-744E-656564454649"},
    {4, "Microsoft Reserved Partition", "E3C9E316-0B5C-4DB8-817D-F92DF00215AE"},
    {5, "Basic data partition", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"},
    {6, "Logical Disk Manager metadata partition", "5808C8AA-7E8F-42E0-85D2-E1E90434CFB3"},
    {7, "Logical Disk Manager data partition", "AF9B60A0-1431-4F62-BC68-3311714A69AD"},
    {8, "Windows Recovery Environment", "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC"},
    {9, "IBM General Parallel File System (GPFS) partition", "37AFFC90-EF7D-4E96-91C3-2D7AE055B174"},
    {10, "Data partition", "75894C1E-3AEB-11D3-B7C1-7B03A0000000"},
    {11, "Service Partition", "E2A1E728-32E3-11D6-A682-7B03A0000000"},
    {12, "Linux filesystem data", "0FC63DAF-8483-4772-8E79-3D69D8477DE4"},
    {13, "RAID partition", "A19D880F-05FC-4D3B-A006-743F0F84911E"},
    {14, "Swap partition", "0657FD6D-A4AB-43C4-84E5-0933C84B4F4F"},
    {15, "Logical Volume Manager (LVM) partition", "E6D6D379-F507-44C2-A23C-238F2A3DF928"},
    {16, "Reserved", "8DA63339-0007-60C0-C436-083AC8230908"},
    {17, "Boot partition", "83BD6B9D-7F41-11DC-BE0B-001560B84F0F"},
    {18, "Data partition", "516E7CB4-6ECF-11D6-8FF8-00022D09712B"},
    {19, "Swap partition", "516E7CB5-6ECF-11D6-8FF8-00022D09712B"},
    {20, "Unix File System (UFS) partition", "516E7CB6-6ECF-11D6-8FF8-00022D09712B"},
    {21, "Vinum volume manager partition", "516E7CB8-6ECF-11D6-8FF8-00022D09712B"},
    {22, "ZFS partition", "516E7CBA-6ECF-11D6-8FF8-00022D09712B"},
    {23, "Hierarchical File System Plus (HFS+) partition", "48465300-0000-11AA-AA11-00306543ECAC"},
    {24, "Apple UFS", "55465300-0000-11AA-AA11-00306543ECAC"},
    {25, "ZFS", "6A898CC3-1DD2-11B2-99A6-080020736631"},
    {26, "Apple RAID partition", "52414944-0000-11AA-AA11-00306543ECAC"},
    {27, "Apple RAID partition, offline", "52414944-5F4F-11AA-AA11-00306543ECAC"},
    {28, "Apple Boot partition", "426F6F74-0000-11AA-AA11-00306543ECAC"},
    {29, "Apple Label", "4C616265-6C00-11AA-AA11-00306543ECAC"},
    {30, "Apple TV Recovery partition", "5265636F-7665-11AA-AA11-00306543ECAC"},
    {31, "Boot partition", "6A82CB45-1DD2-11B2-99A6-080020736631"},
    {32, "Root partition", "6A85CF4D-1DD2-11B2-99A6-080020736631"},
    {33, "Swap partition", "6A87C46F-1DD2-11B2-99A6-080020736631"},
    {34, "Backup partition", "6A8B642B-1DD2-11B2-99A6-080020736631"},
    {35, "/usr partition", "6A898CC3-1DD2-11B2-99A6-080020736631"},
    {36, "/var partition", "6A8EF2E9-1DD2-11B2-99A6-080020736631"},
    {37, "/home partition", "6A90BA39-1DD2-11B2-99A6-080020736631"},
    {38, "Alternate sector", "6A9283A5-1DD2-11B2-99A6-080020736631"},
    {39, "Reserved partition", "6A945A3B-1DD2-11B2-99A6-080020736631"},
    {40, "Reserved partition", "6A9630D1-1DD2-11B2-99A6-080020736631"},
    {41, "Reserved partition", "6A980767-1DD2-11B2-99A6-080020736631"},
    {42, "Reserved partition", "6A96237F-1DD2-11B2-99A6-080020736631"},
    {43, "Reserved partition", "6A8D2AC7-1DD2-11B2-99A6-080020736631"},
    {44, "Swap partition", "49F48D32-B10E-11DC-B99B-0019D1879648"},
    {45, "FFS partition", "49F48D5A-B10E-11DC-B99B-0019D1879648"},
    {46, "LFS partition", "49F48D82-B10E-11DC-B99B-0019D1879648"},
    {47, "RAID partition", "49F48DAA-B10E-11DC-B99B-0019D1879648"},
    {48, "Concatenated partition", "2DB519C4-B10F-11DC-B99B-0019D1879648"},
    {49, "Encrypted partition", "2DB519EC-B10F-11DC-B99B-0019D1879648"},
    {50, "ChromeOS kernel", "FE3A2A5D-4F32-41A7-B725-ACCC3285A309"},
    {51, "ChromeOS rootfs", "3CB8E202-3B7E-47DD-8A3C-7FF2A13CFCEC"},
    {52, "ChromeOS future use", "2E0A753D-9E48-43B0-8337-B15192CB1B5E"},
};

const GptType* FindGptType(const std::string& text) {
  for (const GptType& row : kGptTypes)
    if (text == row.guid) return &row;
  return nullptr;
}

// Where a GPT's entries lie, as a header that passed its checks gives it.
struct GptArray {
  uint64_t lba = 0;
  uint32_t count = 0;
  uint32_t entrySize = 0;
};

uint32_t Crc32(const uint8_t* bytes, size_t length) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (length > 0) {
    const uInt chunk = static_cast<uInt>(std::min<size_t>(length, 1u << 30));
    crc = crc32(crc, bytes, chunk);
    bytes += chunk;
    length -= chunk;
  }
  return static_cast<uint32_t>(crc);
}

// The header at `lba` with its own CRC, an entry size that is a multiple of 128 no larger than a
// sector, an array inside the device of believable size, and the array's CRC. A header failing any
// check is not used: its entries could say anything.
std::optional<GptArray> ReadGptHeader(IStorageDevice* device, uint64_t lba, std::vector<uint8_t>* array) {
  const uint64_t n = DeviceSectors(device);
  const int32_t sectorSize = device->GetSectorSize();
  if (lba >= n || sectorSize < 512) return std::nullopt;
  auto sector = ReadSector(device, lba);
  if (!sector) return std::nullopt;
  ByteReader header(sector->data(), sector->size());
  if (std::memcmp(sector->data(), "EFI PART", 8) != 0) return std::nullopt;
  const uint32_t headerSize = header.u32(12);
  if (headerSize < 92 || headerSize > sector->size()) return std::nullopt;
  std::vector<uint8_t> copy(sector->begin(), sector->begin() + headerSize);
  std::memset(copy.data() + 16, 0, 4);
  if (Crc32(copy.data(), copy.size()) != header.u32(16)) {
    LogInfo("GPT header at sector %llu: CRC mismatch", static_cast<unsigned long long>(lba));
    return std::nullopt;
  }
  if (header.u64(24) != lba) return std::nullopt;
  GptArray found;
  found.lba = header.u64(72);
  found.count = header.u32(80);
  found.entrySize = header.u32(84);
  if (found.entrySize < kGptEntrySize || found.entrySize % kGptEntrySize != 0 ||
      found.entrySize > static_cast<uint32_t>(sectorSize) || found.count == 0) {
    LogInfo("GPT header at sector %llu: %u entries of %u bytes refused", static_cast<unsigned long long>(lba),
            found.count, found.entrySize);
    return std::nullopt;
  }
  const uint64_t bytes = uint64_t(found.count) * found.entrySize;
  const uint64_t sectors = (bytes + uint64_t(sectorSize) - 1) / uint64_t(sectorSize);
  if (bytes > kMaxGptArrayBytes || found.lba == lba || !corvale::rangeFits(found.lba, sectors, n))
    return std::nullopt;
  array->assign(sectors * uint64_t(sectorSize), 0);
  if (!device->ReadSectors(array->data(), found.lba, sectors)) return std::nullopt;
  if (Crc32(array->data(), bytes) != header.u32(88)) {
    LogInfo("GPT entries at sector %llu: CRC mismatch", static_cast<unsigned long long>(found.lba));
    return std::nullopt;
  }
  return found;
}

}  // namespace

CPartitionTableAnalyze::CPartitionTableAnalyze(FileSystemDetector detector)
    : m_detector(std::move(detector)) {}

DetectedFileSystem CPartitionTableAnalyze::Detect(IStorageDevice& device, uint64_t start) const {
  DetectedFileSystem found;
  if (m_detector) found = m_detector(device, start);
  if (found.type == PARTITION_RECORD::kFileSystemNotRecognised) {
    found.sectorCount = 0;
    found.label.clear();
  }
  return found;
}

int CPartitionTableAnalyze::AnalyzeBasicDiskPartitions(IStorageDevice* device,
                                                       PartitionRecordList& list) const {
  if (device == nullptr) return static_cast<int>(list.size());
  if (IsDynamicDisk(device)) return 0;
  if (IsGptProtectiveMbr(device)) return AnalyzeGptPartitions(device, list);
  return AnalyzeMbrDisk(device, list);
}

bool CPartitionTableAnalyze::IsDynamicDisk(IStorageDevice* device) {
  auto sector = ReadSector(device, 0);
  if (!sector || sector->size() < 512) return false;
  for (int i = 0; i < kEntries; ++i)
    if ((*sector)[kEntryTable + i * kEntrySize + 4] == kTypeDynamic) return true;
  return false;
}

bool CPartitionTableAnalyze::IsGptProtectiveMbr(IStorageDevice* device) {
  auto sector = ReadSector(device, 0);
  if (!sector || sector->size() < 512) return false;
  return (*sector)[510] == 0x55 && (*sector)[511] == 0xAA && (*sector)[kEntryTable + 4] == kTypeGptProtective;
}

int CPartitionTableAnalyze::AnalyzeMbrDisk(IStorageDevice* device, PartitionRecordList& list) const {
  if (device == nullptr) return static_cast<int>(list.size());
  const uint64_t n = DeviceSectors(device);

  // A disk formatted without a partition table still shows its volume.
  const DetectedFileSystem whole = Detect(*device, 0);
  if (whole.type != PARTITION_RECORD::kFileSystemNotRecognised) {
    const uint64_t count = whole.sectorCount == 0 || whole.sectorCount > n ? n : whole.sectorCount;
    AppendRecord(device, 0, count, whole, list);
  }

  auto mbr = ReadSector(device, 0);
  if (!mbr || !IsPartitionTableSector(*mbr)) return static_cast<int>(list.size());
  for (int i = 0; i < kEntries; ++i) {
    const uint8_t* entry = mbr->data() + kEntryTable + i * kEntrySize;
    if (IsEmptyEntry(entry)) continue;
    const uint8_t type = entry[4];
    if (type == kTypeDynamic) continue;
    if (IsExtendedType(type))
      WalkExtended(device, ByteReader(entry, kEntrySize).u32(8), list);
    else
      AddMbrEntry(device, 0, entry, list);
  }
  return static_cast<int>(list.size());
}

// The chain is walked depth first, entries in table order, as the tables nest. Link entries count
// from the extended base, logical ones from their own EBR. An EBR already read ends its branch (a
// chain of links can loop without ever naming a partition), and so does a logical partition that is
// already listed (a chain that loops back).
void CPartitionTableAnalyze::WalkExtended(IStorageDevice* device, uint64_t extendedBase,
                                          PartitionRecordList& list) const {
  struct Frame {
    uint64_t sector;
    std::vector<uint8_t> table;
    int next;
  };
  std::set<uint64_t> read;
  std::vector<Frame> stack;
  int ebrs = 0;

  auto enter = [&](uint64_t sector) {
    if (!read.insert(sector).second) {
      LogInfo("EBR chain returns to sector %llu; the walk ends there",
              static_cast<unsigned long long>(sector));
      return;
    }
    if (++ebrs > kMaxExtendedBootRecords || sector >= DeviceSectors(device)) return;
    auto table = ReadSector(device, sector);
    if (!table || !IsPartitionTableSector(*table)) return;
    stack.push_back({sector, std::move(*table), 0});
  };

  enter(extendedBase);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next >= kEntries) {
      stack.pop_back();
      continue;
    }
    const uint8_t* entry = frame.table.data() + kEntryTable + frame.next * kEntrySize;
    ++frame.next;
    if (IsEmptyEntry(entry)) continue;
    const uint64_t first = ByteReader(entry, kEntrySize).u32(8);
    const uint64_t here = frame.sector + first;
    const bool listed = std::any_of(list.begin(), list.end(), [&](const auto& r) {
      return r->StartSector >= 0 && static_cast<uint64_t>(r->StartSector) == here;
    });
    if (listed) {
      frame.next = kEntries;
      continue;
    }
    const uint8_t type = entry[4];
    if (type == kTypeDynamic) continue;
    if (IsExtendedType(type)) {
      // `frame` may move when the stack grows.
      enter(extendedBase + first);
    } else {
      AddMbrEntry(device, frame.sector, entry, list);
    }
  }
}

void CPartitionTableAnalyze::AddMbrEntry(IStorageDevice* device, uint64_t base, const uint8_t* entry,
                                         PartitionRecordList& list) const {
  const uint64_t n = DeviceSectors(device);
  const ByteReader reader(entry, kEntrySize);
  const uint64_t start = base + reader.u32(8);
  const uint64_t tableCount = reader.u32(12);
  if (start >= n) {
    LogInfo("partition entry at sector %llu lies past the device end",
            static_cast<unsigned long long>(start));
    return;
  }
  // A table entry that runs past the device (a truncated image) is cut at the device end.
  const uint64_t clamped = tableCount > n - start ? n - start : tableCount;
  const DetectedFileSystem found = Detect(*device, start);
  uint64_t count = clamped;
  if (found.type != PARTITION_RECORD::kFileSystemNotRecognised && found.sectorCount != 0 &&
      found.sectorCount < n - start) {
    const int64_t difference = static_cast<int64_t>(static_cast<uint32_t>(found.sectorCount)) -
                               static_cast<int64_t>(static_cast<uint32_t>(tableCount));
    // The table's own view first, then the file system's; an entry of no sectors has no view.
    if (tableCount != 0 && (difference > kSizeDisagreement || difference < -int64_t(kSizeDisagreement)))
      AppendRecord(device, start, clamped, found, list);
    count = found.sectorCount;
  }
  // An entry of no sectors is kept only when a file system at its start gave it a size.
  AppendRecord(device, start, count, found, list);
}

std::string CPartitionTableAnalyze::FormatGptGuid(const uint8_t* guid) {
  const ByteReader r(guid, 16);
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", r.u32(0), r.u16(4),
                r.u16(6), guid[8], guid[9], guid[10], guid[11], guid[12], guid[13], guid[14], guid[15]);
  return text;
}

const char* CPartitionTableAnalyze::GptTypeName(const std::string& guidText) {
  const GptType* row = FindGptType(guidText);
  return row != nullptr ? row->name : nullptr;
}

int CPartitionTableAnalyze::IsListedGptType(const uint8_t* entry) {
  const GptType* row = FindGptType(FormatGptGuid(entry));
  return row != nullptr && row->index > 1 ? 1 : 0;
}

// The entries come from the primary header's array when that header and its array pass their
// CRCs, else from the backup header's at the last sector, else from the usual place (sector 2, 128
// entries of 128 bytes) as they stand. Entries of unlisted types are not reported.
int CPartitionTableAnalyze::AnalyzeGptPartitions(IStorageDevice* device, PartitionRecordList& list) const {
  if (device == nullptr) return static_cast<int>(list.size());
  const uint64_t n = DeviceSectors(device);
  const int32_t sectorSize = device->GetSectorSize();
  if (sectorSize < 512 || n == 0) return static_cast<int>(list.size());

  std::vector<uint8_t> array;
  std::optional<GptArray> layout = ReadGptHeader(device, 1, &array);
  if (!layout) layout = ReadGptHeader(device, n - 1, &array);
  if (!layout) {
    if (!corvale::rangeFits(kGptFixedArrayLba, kGptFixedArraySectors, n))
      return static_cast<int>(list.size());
    array.assign(kGptFixedArraySectors * uint64_t(sectorSize), 0);
    if (!device->ReadSectors(array.data(), kGptFixedArrayLba, kGptFixedArraySectors))
      return static_cast<int>(list.size());
    layout = GptArray{kGptFixedArrayLba, kMaxGptEntries, kGptEntrySize};
  }

  const uint32_t entries = std::min(layout->count, kMaxGptEntries);
  for (uint32_t i = 0; i < entries; ++i) {
    const uint64_t offset = uint64_t(i) * layout->entrySize;
    if (!corvale::rangeFits(offset, kGptEntrySize, array.size())) break;
    const uint8_t* entry = array.data() + offset;
    if (!IsListedGptType(entry)) continue;
    const ByteReader r(entry, kGptEntrySize);
    const uint64_t first = r.u64(32);
    const uint64_t last = r.u64(40);
    if (first >= n || last < first) {
      LogInfo("GPT entry %u (sectors %llu-%llu) lies outside the device", i,
              static_cast<unsigned long long>(first), static_cast<unsigned long long>(last));
      continue;
    }
    uint64_t count = last - first + 1;
    if (count > n - first) count = n - first;
    const DetectedFileSystem found = Detect(*device, first);
    if (found.type != PARTITION_RECORD::kFileSystemNotRecognised && found.sectorCount != 0 &&
        found.sectorCount < n - first)
      count = found.sectorCount;
    AppendRecord(device, first, count, found, list);
  }
  return static_cast<int>(list.size());
}

const char* GetFileSystemTypeName(int32_t type) {
  switch (type) {
    case 0:
      return "FAT12";
    case 1:
      return "FAT16";
    case 2:
      return "FAT32";
    case 3:
      return "NTFS";
    case 4:
      return "EXT2";
    case 5:
      return "EXT3";
    default:
      return "UNKNOWN";
  }
}

int32_t MbrTypeToFileSystemType(uint8_t mbrType) {
  switch (mbrType) {
    case 0x01:
    case 0x11:
      return 0;
    case 0x04:
    case 0x06:
    case 0x0E:
    case 0x14:
    case 0x16:
    case 0x1E:
      return 1;
    case 0x0B:
    case 0x0C:
    case 0x1B:
      return 2;
    case 0x07:
    case 0x17:
      return 3;
    case 0x82:
    case 0x83:
    case 0x85:
    case 0x8E:
    case 0x92:
    case 0x93:
      return 4;
    default:
      return 7;
  }
}
