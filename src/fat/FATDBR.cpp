#include "fat/FATDBR.h"

#include <cctype>
#include <cstring>

#include "storage/ByteReader.h"

using namespace corvale;
using namespace corvale::fat;

namespace {

bool TextIs(const uint8_t* bytes, const char* text) {
  for (size_t i = 0; i < 8; ++i) {
    if (std::toupper(bytes[i]) != static_cast<unsigned char>(text[i])) return false;
  }
  return true;
}

bool IsClusterSize(uint8_t sectors) { return sectors != 0 && (sectors & (sectors - 1)) == 0; }

}  // namespace

bool IsDBRSector(const uint8_t* buffer, size_t length) {
  return buffer != nullptr && length >= boot::kSize && buffer[0] != 0 && buffer[boot::kEndMarker] == 0x55 &&
         buffer[boot::kEndMarker + 1] == 0xAA;
}

CFATDBR::CFATDBR(const uint8_t* sector, size_t length, uint32_t deviceSectorSize)
    : m_deviceSectorSize(deviceSectorSize) {
  m_check = Classify(sector, length);
  if (!m_check.IsValid()) {
    m_type = kFatTypeNone;
    m_geometry = FatVolumeGeometry{};
  }
}

ParseResult CFATDBR::Classify(const uint8_t* sector, size_t length) {
  using namespace boot;
  if (sector == nullptr || length < kSize)
    return ParseResult::NotThis("sector", "is shorter than a boot sector");
  const ByteReader r(sector, kSize);
  const bool fat16Text = TextIs(sector + kFsType16, "FAT16   ");
  const bool fat32Text = TextIs(sector + kFsType32, "FAT32   ");
  if (!fat16Text && !fat32Text)
    return ParseResult::NotThis("type text", "names neither FAT16 nor FAT32", 0, kFsType16);
  if (r.u8(kEndMarker) != 0x55 || r.u8(kEndMarker + 1) != 0xAA)
    return ParseResult::NotThis("end marker", "is not 0x55 0xAA", r.u16(kEndMarker), kEndMarker);

  // The FAT16 test comes first: a sector that passes both is FAT16.
  ParseResult failed;
  const auto common = [&](uint32_t sectorsPerFat, size_t fatOffset) -> bool {
    if (r.u8(kFatCount) != 2) {
      failed = ParseResult::Damaged("number of FATs", "is not 2", r.u8(kFatCount), kFatCount);
    } else if (!IsClusterSize(r.u8(kSectorsPerCluster))) {
      failed = ParseResult::Damaged("sectors per cluster", "is not a power of two up to 128",
                                    r.u8(kSectorsPerCluster), kSectorsPerCluster);
    } else if (r.u16(kBytesPerSector) != m_deviceSectorSize) {
      failed = ParseResult::Damaged("bytes per sector", "differ from the device's sector size",
                                    r.u16(kBytesPerSector), kBytesPerSector, m_deviceSectorSize);
    } else if (sectorsPerFat == 0) {
      failed = ParseResult::Damaged("sectors per FAT", "is 0", 0, fatOffset);
    } else {
      return true;
    }
    return false;
  };
  int32_t type = kFatTypeNone;
  if (fat16Text && common(r.u16(kSectorsPerFat16), kSectorsPerFat16)) {
    const uint32_t rootEntries = r.u16(kRootEntries);
    if (rootEntries < 224) {
      failed = ParseResult::Damaged("root entries", "are fewer than 224", rootEntries, kRootEntries);
    } else if (m_deviceSectorSize == 0 || rootEntries * 32 % m_deviceSectorSize != 0) {
      failed = ParseResult::Damaged("root entries", "do not fill whole sectors", rootEntries, kRootEntries);
    } else {
      type = kFatType16;
    }
  }
  if (type == kFatTypeNone && fat32Text && common(r.u32(kSectorsPerFat32), kSectorsPerFat32))
    type = kFatType32;
  if (type == kFatTypeNone) return failed;

  // The geometry is checked here once, so that no caller sizes, divides or walks by a value that
  // makes no volume: a data area past the end, a FAT too small for its clusters, a root cluster
  // outside the data area, or a FAT16 text on a volume whose cluster count makes it FAT12 (or a
  // FAT32 text on a volume laid out as FAT16), whose table would be read at the wrong width.
  const ParseResult parsed = FatBootSector::Parse(sector, length, m_boot);
  if (!parsed.IsValid())
    return parsed.outcome == ParseOutcome::Damaged
               ? parsed
               : ParseResult::Damaged(parsed.error.field, parsed.error.problem, parsed.error.value,
                                      parsed.error.offset);
  FatVolumeGeometry geometry;
  const ParseResult laid = m_boot.GetGeometry(geometry);
  if (!laid.IsValid()) return laid;
  const FatVariant expected = type == kFatType16 ? FatVariant::Fat16 : FatVariant::Fat32;
  if (geometry.variant != expected)
    return ParseResult::Damaged(
        "cluster count",
        type == kFatType16 ? "makes the volume FAT12, not FAT16" : "belongs to a FAT16 layout, not FAT32",
        geometry.clusterCount, kTotalSectors32);
  m_type = type;
  if (geometry.totalSectors != GetTotalSectors())
    return ParseResult::Damaged("total sectors", "16-bit and 32-bit counts disagree", m_boot.totalSectors16,
                                kTotalSectors16, GetTotalSectors());
  m_geometry = geometry;
  return ParseResult::Valid();
}

uint8_t CFATDBR::GetSectorsPerCluster() const { return IsValid() ? m_boot.sectorsPerCluster : 0; }
uint16_t CFATDBR::GetReservedSectors() const { return IsValid() ? m_boot.reservedSectors : 0; }
uint8_t CFATDBR::GetNumberOfFATs() const { return IsValid() ? m_boot.fatCount : 0; }
uint16_t CFATDBR::GetRootEntries() const { return IsValid() ? m_boot.rootEntries : 0; }

uint32_t CFATDBR::GetSectorsPerFAT() const {
  switch (m_type) {
    case kFatType12:
    case kFatType16:
      return m_boot.sectorsPerFat16;
    case kFatType32:
      return m_boot.sectorsPerFat32;
  }
  return 0;
}

uint64_t CFATDBR::GetTotalSectors() const {
  switch (m_type) {
    case kFatType12:
      return m_boot.totalSectors16;
    case kFatType16:
      return m_boot.totalSectors16 != 0 ? m_boot.totalSectors16 : m_boot.totalSectors32;
    case kFatType32:
      return m_boot.totalSectors32;
  }
  return 0;
}

uint32_t CFATDBR::GetRootFirstCluster() const { return m_type == kFatType32 ? m_boot.rootCluster : 0; }

std::string CFATDBR::describe() const {
  return "type " + std::to_string(m_type) + " (" + m_check.describe() + ")\n" + m_boot.describe();
}
