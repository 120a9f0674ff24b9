#include <array>
#include <cstring>
#include <vector>

#include "raw/DocumentAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"
#include "storage/ByteReader.h"
#include "storage/IStorageDevice.h"

namespace {

constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint64_t kUnit = FileOLEAnalyser::kUnit;
constexpr uint64_t kEntriesPerSector = kUnit / 4;
constexpr uint64_t kHeaderDifatEntries = 109;
constexpr uint64_t kDirectoryEntry = 128;
// A compound file whose directory cannot be read is kept only up to this size.
constexpr uint64_t kUntypedMax = 0xA00000;

// The directory entry's name equals `name`: the same UTF-16 characters, then the end of the name.
bool NameIs(const corvale::ByteReader& dir, int entry, const std::u16string& name, bool prefix = false) {
  const uint64_t at = static_cast<uint64_t>(entry) * kDirectoryEntry;
  for (size_t i = 0; i < name.size(); ++i) {
    if (dir.u16(at + 2 * i) != name[i]) return false;
  }
  return prefix || name.size() >= 32 || dir.u16(at + 2 * name.size()) == 0;
}

bool AnyNameIs(const corvale::ByteReader& dir, std::initializer_list<int> entries,
               const std::u16string& name) {
  for (int e : entries) {
    if (NameIs(dir, e, name)) return true;
  }
  return false;
}

// The type the names of the first four directory entries tell; later rules override earlier ones.
// `extra` receives bytes the format keeps after its last allocated sector.
int32_t TypeFromDirectory(const corvale::ByteReader& dir, uint64_t* extra) {
  int32_t type = kRawTypeMOF;
  if (AnyNameIs(dir, {0, 1, 2, 3}, u"WordDocument") || AnyNameIs(dir, {0, 1, 2, 3}, u"ObjectPool"))
    type = kRawTypeDOC;
  if (AnyNameIs(dir, {1, 2}, u"Workbook") || AnyNameIs(dir, {1, 2}, u"Book")) type = kRawTypeXLS;
  if (AnyNameIs(dir, {1, 2, 3}, u"PowerPoint Document") || NameIs(dir, 1, u"Pictures", true) ||
      NameIs(dir, 1, u"PP40"))
    type = kRawTypePPT;
  if (NameIs(dir, 1, u"Scene")) type = kRawTypeMAX;
  if (NameIs(dir, 1, u"VisioDocument")) {
    type = kRawTypeVSD;
    *extra = 1024;
  }
  if (NameIs(dir, 1, u"PerfectOffice_MAIN") && NameIs(dir, 2, u"PerfectOffice_OBJECTS")) {
    type = kRawTypeWPD;
    bool zeroClass = true;
    for (uint64_t i = 0; i < 16; ++i) zeroClass = zeroClass && dir.u8(80 + i) == 0;
    if (NameIs(dir, 3, u"\x05SummaryInformation"))
      type = kRawTypeSHW;
    else if (zeroClass)
      type = kRawTypeWPG;
  }
  if (NameIs(dir, 1, u"Objects") && NameIs(dir, 2, u"Quill") && NameIs(dir, 3, u"Escher")) type = kRawTypePUB;
  if (NameIs(dir, 1, u"NativeContent_MAIN")) type = kRawTypeQPW;
  if (NameIs(dir, 1,
             u"\x01"
             u"CompObj") &&
      ((NameIs(dir, 2, u"   19") && NameIs(dir, 3, u"   29")) ||
       (NameIs(dir, 2, u"   112") && NameIs(dir, 3, u"   212"))))
    type = kRawTypeMPP;
  if (NameIs(dir, 1, u"PropData") && NameIs(dir, 2, u"Forms") && NameIs(dir, 3, u"Reports"))
    type = kRawTypeADP;
  return type;
}

}  // namespace

FileOLEAnalyser::FileOLEAnalyser() { m_typeId = kRawTypeOLE; }

RawLeadBytes FileOLEAnalyser::GetLeadBytes() const { return LeadBytesOf({0xD0}); }

bool FileOLEAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (std::memcmp(s, kSignature, sizeof kSignature) != 0) return false;
  file->SetFileType(kRawTypeOLE);
  return true;
}

bool FileOLEAnalyser::ReadCompoundSectors(uint8_t* buffer, uint64_t fileStart, uint64_t unit, uint64_t count,
                                          IStorageDevice* device) {
  const int32_t sectorSize = device->GetSectorSize();
  const int64_t deviceSectors = device->GetSectorCount();
  if (sectorSize <= 0 || deviceSectors <= 0 || count == 0 || count > (1u << 16)) return false;
  const uint64_t ss = static_cast<uint64_t>(sectorSize);
  const uint64_t sectors = static_cast<uint64_t>(deviceSectors);
  if (fileStart >= sectors || unit > (UINT64_MAX / kUnit) - count) return false;
  if (ss == kUnit) {
    if (unit >= sectors - fileStart || count > sectors - fileStart - unit) return false;
    return device->ReadSectors(buffer, fileStart + unit, count);
  }
  // Whole device sectors covering the units, then the units copied out of them.
  const uint64_t firstByte = unit * kUnit;
  const uint64_t lastByte = firstByte + count * kUnit;  // one past
  const uint64_t first = firstByte / ss;
  const uint64_t past = (lastByte + ss - 1) / ss;
  if (first >= sectors - fileStart || past > sectors - fileStart) return false;
  std::vector<uint8_t> temp((past - first) * ss);
  if (!device->ReadSectors(temp.data(), fileStart + first, past - first)) return false;
  std::memcpy(buffer, temp.data() + (firstByte - first * ss), count * kUnit);
  return true;
}

namespace {

int32_t TypeFromLaterEntries(const corvale::ByteReader& h, uint64_t start, IStorageDevice* device) {
  // Writers other than Microsoft's put the document's main stream further down the directory: the
  // directory's sectors along its chain (the first few) are searched for it.
  constexpr int kSectors = 8;
  std::array<uint8_t, kUnit> dir{};
  std::array<uint8_t, kUnit> table{};
  uint32_t at = h.u32(48);
  for (int n = 0; n < kSectors && at < 0xFFFFFFFA; ++n) {
    if (!FileOLEAnalyser::ReadCompoundSectors(dir.data(), start, static_cast<uint64_t>(at) + 1, 1, device))
      break;
    const corvale::ByteReader entries(dir.data(), dir.size());
    for (int e = 0; e < 4; ++e) {
      if (NameIs(entries, e, u"WordDocument")) return kRawTypeDOC;
      if (NameIs(entries, e, u"Workbook") || NameIs(entries, e, u"Book")) return kRawTypeXLS;
      if (NameIs(entries, e, u"PowerPoint Document")) return kRawTypePPT;
    }
    // The next directory sector, from the allocation-table sector the header names.
    const uint64_t tableIndex = at / kEntriesPerSector;
    if (tableIndex >= kHeaderDifatEntries) break;
    const uint32_t tableSector = h.u32(76 + 4 * tableIndex);
    if (tableSector >= 0xFFFFFFFA ||
        !FileOLEAnalyser::ReadCompoundSectors(table.data(), start, static_cast<uint64_t>(tableSector) + 1, 1,
                                              device))
      break;
    at = corvale::ByteReader(table.data(), table.size()).u32(4 * (at % kEntriesPerSector));
  }
  return kRawTypeMOF;
}

}  // namespace

bool FileOLEAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  const uint64_t start = file->GetStartSector();
  CRawSectorReader reader(device, start);
  const uint64_t cap = corvale::WalkCap(reader);
  std::array<uint8_t, kUnit> header{};
  std::array<uint8_t, kUnit> sector{};
  if (!ReadCompoundSectors(header.data(), start, 0, 1, device)) return false;
  const corvale::ByteReader h(header.data(), header.size());

  uint64_t fatSectors = 0;
  uint32_t lastFat = 0;
  for (uint64_t i = 0; i < kHeaderDifatEntries; ++i) {
    const uint32_t entry = h.u32(76 + 4 * i);
    if (entry == kFree) continue;
    ++fatSectors;
    lastFat = entry;
  }

  // The DIFAT chain. Each next sector lies further into the file, so the chain ends.
  corvale::RawWalkPump pump;
  uint32_t difat = h.u32(68);
  while (difat != kEndOfChain && difat != kFree) {
    pump.Step();
    if ((static_cast<uint64_t>(difat) + 1) * kUnit >= cap) return false;
    if (!ReadCompoundSectors(sector.data(), start, static_cast<uint64_t>(difat) + 1, 1, device)) return false;
    const corvale::ByteReader d(sector.data(), sector.size());
    for (uint64_t i = 0; i + 1 < kEntriesPerSector; ++i) {
      const uint32_t entry = d.u32(4 * i);
      if (entry == kFree) continue;
      ++fatSectors;
      lastFat = entry;
    }
    const uint32_t next = d.u32(4 * (kEntriesPerSector - 1));
    if (next == kFree || next <= difat) break;
    difat = next;
  }
  // Without a single allocation-table sector there is nothing to size the file by.
  if (fatSectors == 0) return false;

  if (!ReadCompoundSectors(sector.data(), start, static_cast<uint64_t>(lastFat) + 1, 1, device)) return false;
  const corvale::ByteReader fat(sector.data(), sector.size());
  uint64_t lastUsed = 0;
  for (uint64_t i = kEntriesPerSector; i > 0; --i) {
    if (fat.u32(4 * (i - 1)) != kFree) {
      lastUsed = i;
      break;
    }
  }
  const uint64_t used = (fatSectors - 1) * kEntriesPerSector + lastUsed;
  uint64_t size = used * kUnit + kUnit;

  int32_t type = kRawTypeMOF;
  if (!ReadCompoundSectors(sector.data(), start, static_cast<uint64_t>(h.u32(48)) + 1, 1, device)) {
    if (size > kUntypedMax) return false;
  } else {
    uint64_t extra = 0;
    type = TypeFromDirectory(corvale::ByteReader(sector.data(), sector.size()), &extra);
    size += extra;
    if (type == kRawTypeMOF) type = TypeFromLaterEntries(h, start, device);
  }
  file->SetFileType(type);
  file->SetFileSize(std::min(size, cap));
  return true;
}
