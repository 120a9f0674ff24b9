#include "storage/DynamicDisk.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <vector>

#include "storage/ByteReader.h"
#include "storage/IStorageDevice.h"

namespace {

constexpr uint64_t kEntryTableOffset = 446;
constexpr uint64_t kEntrySize = 16;
constexpr uint64_t kEntryTypeOffset = 4;
constexpr uint64_t kEntryStartOffset = 8;
constexpr uint8_t kTypeLdm = 0x42;
constexpr uint8_t kTypeGptProtective = 0xEE;
constexpr int64_t kMinSectors = 6;
// An extended-partition chain longer than this is damaged; real disks hold far fewer logical
// partitions.
constexpr int kMaxTables = 128;

constexpr uint64_t kGptEntriesSector = 2;
constexpr uint64_t kGptEntrySize = 128;
constexpr uint64_t kGptNameOffset = 56;
constexpr int kGptEntriesExamined = 4;

bool IsExtended(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// A UTF-16LE name as bytes, without its terminator.
template <size_t N>
constexpr std::array<uint8_t, 2 * (N - 1)> Utf16Le(const char16_t (&text)[N]) {
  std::array<uint8_t, 2 * (N - 1)> bytes{};
  for (size_t i = 0; i + 1 < N; ++i) {
    bytes[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  return bytes;
}

constexpr auto kLdmMetadataName = Utf16Le(u"LDM metadata partition");
constexpr auto kLdmDataName = Utf16Le(u"LDM data partition");
// The names are compared over these many bytes (one short of the whole name).
constexpr size_t kLdmMetadataCompared = 43;
constexpr size_t kLdmDataCompared = 35;
static_assert(kLdmMetadataCompared <= kLdmMetadataName.size() && kLdmDataCompared <= kLdmDataName.size());

}  // namespace

bool DetectDynamicDisk(IStorageDevice* device, int64_t sectorCount, int32_t sectorSize) {
  if (!device || sectorSize <= 0) return false;
  if (sectorCount <= kMinSectors) return false;
  // The device fills a whole sector of its own size, which must fit the buffer whatever the caller
  // says; the tables need at least 512 bytes.
  const size_t bufferSize = std::max<size_t>(
      {static_cast<size_t>(sectorSize), static_cast<size_t>(std::max(device->GetSectorSize(), 0)), 512});
  std::vector<uint8_t> sector(bufferSize, 0);
  auto read = [&](uint64_t s) { return device->ReadSectors(sector.data(), s, 1); };
  const corvale::ByteReader table(sector.data(), static_cast<size_t>(sectorSize) < 512 ? 512 : sectorSize);

  // Walk the MBR and the chain of extended tables.
  bool dynamic = false;
  uint64_t tableSector = 0;
  uint64_t extendedBase = 0;
  bool baseSet = false;
  std::set<uint64_t> visited;
  for (int step = 0; step < kMaxTables && !dynamic; ++step) {
    // A chain that comes back to a table already read would go round for ever.
    if (!visited.insert(tableSector).second) break;
    if (tableSector >= static_cast<uint64_t>(sectorCount)) break;
    if (!read(tableSector)) break;
    bool hasNext = false;
    uint64_t next = 0;
    for (uint64_t i = 0; i < 4; ++i) {
      const uint64_t entry = kEntryTableOffset + i * kEntrySize;
      const uint8_t type = table.u8(entry + kEntryTypeOffset);
      if (type == kTypeLdm) {
        dynamic = true;
        break;
      }
      if (IsExtended(type)) {
        // Logical tables are addressed from the start of the first extended partition.
        next = table.u32(entry + kEntryStartOffset) + extendedBase;
        if (!baseSet) {
          extendedBase = next;
          baseSet = true;
        }
        hasNext = true;
      }
    }
    if (!hasNext) break;
    tableSector = next;
  }

  if (!read(6)) return dynamic;
  if (dynamic) return true;

  // A GPT disk is dynamic when its first entries hold both LDM partitions.
  if (!read(0)) return false;
  if (table.u8(kEntryTableOffset + kEntryTypeOffset) != kTypeGptProtective) return false;
  if (!read(kGptEntriesSector)) return false;
  bool metadata = false;
  bool data = false;
  for (int i = 0; i < kGptEntriesExamined; ++i) {
    const corvale::ByteReader name = table.sub(i * kGptEntrySize + kGptNameOffset, kLdmMetadataCompared);
    if (name.size() == 0) break;
    if (std::memcmp(name.data(), kLdmMetadataName.data(), kLdmMetadataCompared) == 0) metadata = true;
    if (std::memcmp(name.data(), kLdmDataName.data(), kLdmDataCompared) == 0) data = true;
  }
  return metadata && data;
}
