#include "fat/FATDirEntry.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "core/WantedFileType.h"
#include "fat/DosTime.h"
#include "fat/FATFileProperties.h"
#include "fat/FatText.h"
#include "platform/RecoveryContext.h"
#include "storage/CheckedMath.h"

using namespace corvale;
using namespace corvale::fat;
using namespace corvale::fat::dirent;

namespace {

constexpr size_t kMaxPieces = 20;

bool DateIsPlausible(uint16_t date) {
  if (date == 0) return true;
  const unsigned month = (date >> 5) & 0x0F;
  return month >= 1 && month <= 12 && (date & 0x1F) != 0;
}

bool TimeIsPlausible(uint16_t time) {
  if (time == 0) return true;
  return time <= 0xBFFF && ((time >> 5) & 0x3F) < 60 && (time & 0x1F) < 30;
}

bool IsForbiddenInShortName(uint8_t b) {
  return b <= 0x19 || b == '"' || b == '*' || b == '/' || b == ':' || b == '<' || b == '>' || b == '?' ||
         b == '\\' || b == '|';
}

bool ShortNamePasses(const uint8_t* name) {
  if (name[0] == ' ') return false;
  for (size_t i = 0; i < 11; ++i) {
    uint8_t b = name[i];
    if (i == 0 && b == kStoredE5) b = 0xE5;
    if (b >= 0x80) {
      ++i;  // the lead byte of a double-byte character takes the next byte with it
      continue;
    }
    if (IsForbiddenInShortName(b)) return false;
  }
  return true;
}

std::string TrimmedPart(const uint8_t* bytes, size_t length, bool lowerCase) {
  while (length > 0 && bytes[length - 1] == ' ') --length;
  return OemToUtf8(std::string_view(reinterpret_cast<const char*>(bytes), length), lowerCase);
}

bool LongNameIsUsable(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("?*|\\/:\"<>") == std::string::npos;
}

}  // namespace

CFATDirEntry::CFATDirEntry(const uint8_t* buffer, size_t length, size_t offset)
    : m_bytes(buffer != nullptr && rangeFits(offset, kSize, length) ? ByteReader(buffer + offset, kSize)
                                                                    : ByteReader()) {}

bool CFATDirEntry::IsValid(bool strict) const {
  if (!IsInside()) return false;
  if (IsLongNamePiece()) return true;
  if (strict) {
    const uint32_t size = GetSize();
    if (IsDirectory()) {
      if (size != 0 && m_bytes.u16(kClusterHigh) != 0) return false;
    } else if ((size == 0) != (GetFirstCluster() == 0)) {
      return false;
    }
  }
  const CRecoveryContext& settings = GetRecoveryContext();
  if (settings.CheckFatDate != 0) {
    if (!DateIsPlausible(GetCreationDate()) || !DateIsPlausible(GetAccessDate()) ||
        !DateIsPlausible(GetWriteDate()))
      return false;
  }
  if (settings.CheckFatTime != 0) {
    if (!TimeIsPlausible(GetCreationTime()) || !TimeIsPlausible(GetWriteTime())) return false;
  }
  if (GetAttributes() & kAttrReserved) return false;
  return IsVolumeLabel() || ShortNamePasses(m_bytes.data());
}

bool CFATDirEntry::IsDotEntry() const {
  return IsInside() && std::memcmp(m_bytes.data(), ".          ", 11) == 0 && IsDirectory();
}

bool CFATDirEntry::IsDotDotEntry() const {
  return IsInside() && std::memcmp(m_bytes.data(), "..         ", 11) == 0 && IsDirectory();
}

uint32_t CFATDirEntry::GetFirstCluster() const {
  return (static_cast<uint32_t>(m_bytes.u16(kClusterHigh)) << 16) | m_bytes.u16(kClusterLow);
}

std::string CFATDirEntry::GetShortName(bool withDot) const {
  if (!IsInside()) return {};
  uint8_t name[8];
  std::memcpy(name, m_bytes.data(), 8);
  // The first byte of a deleted entry is gone; '#' stands in for it.
  if (name[0] == kDeletedMark)
    name[0] = '#';
  else if (name[0] == kStoredE5)
    name[0] = 0xE5;
  const uint8_t flags = m_bytes.u8(kCaseFlags);
  const std::string base = TrimmedPart(name, 8, flags & kLowerCaseBase);
  const std::string extension = TrimmedPart(m_bytes.data() + kExtension, 3, flags & kLowerCaseExtension);
  if (extension.empty()) return base;
  return withDot ? base + "." + extension : base + extension;
}

uint8_t CFATDirEntry::ShortNameChecksum() const {
  uint8_t sum = 0;
  for (size_t i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + m_bytes.u8(i));
  return sum;
}

std::u16string CFATDirEntry::GetLongNameUnits() const {
  std::u16string units;
  if (!IsInside()) return units;
  static constexpr size_t kUnitOffsets[kPieceUnits] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (size_t offset : kUnitOffsets) {
    const char16_t u = m_bytes.u16(offset);
    if (u == 0 || u == 0xFFFF) break;
    units += u;
  }
  return units;
}

bool CFATDirEntry::GetLongNamePiece(std::string& out) const {
  out = Utf16ToUtf8(GetLongNameUnits());
  return true;
}

std::string CFATDirEntry::describe() const {
  char text[512];
  if (IsLongNamePiece()) {
    std::snprintf(text, sizeof text, "long-name piece: ordinal 0x%02X checksum 0x%02X cluster %u \"%s\"\n",
                  FirstByte(), GetPieceChecksum(), m_bytes.u16(kPieceCluster),
                  Utf16ToUtf8(GetLongNameUnits()).c_str());
  } else {
    std::snprintf(text, sizeof text,
                  "short entry \"%s\": attributes 0x%02X case flags 0x%02X first cluster %" PRIu32
                  " size %" PRIu32 "\ncreated %04X %04X, accessed %04X, written %04X %04X\n",
                  GetShortName(true).c_str(), GetAttributes(), m_bytes.u8(kCaseFlags), GetFirstCluster(),
                  GetSize(), GetCreationDate(), GetCreationTime(), GetAccessDate(), GetWriteDate(),
                  GetWriteTime());
  }
  return text;
}

bool isPlausibleFatDirEntry(const uint8_t* buffer, size_t length, size_t offset,
                            const FatDirEntryLimits& limits) {
  if (buffer == nullptr || offset % kSize != 0 || !rangeFits(offset, kSize, length)) return false;
  const CFATDirEntry entry(buffer, length, offset);
  if (!entry.IsValid(false)) return false;
  if (entry.IsLongNamePiece()) return ByteReader(buffer + offset, kSize).u16(kPieceCluster) == 0;
  const uint32_t cluster = entry.GetFirstCluster();
  if (cluster == 0) return true;
  if (cluster == 1) return false;
  if (limits.clusterCount != 0 && cluster - 2 >= limits.clusterCount) return false;
  // "." names the folder itself and ".." its parent; any other entry naming the folder it sits in
  // would make the folder its own child.
  if (limits.parentCluster != 0xFFFFFFFF && cluster == limits.parentCluster && !entry.IsDotEntry() &&
      !entry.IsDotDotEntry())
    return false;
  return true;
}

bool GetNameFromEntries(const uint8_t* buffer, size_t length, std::string* name, size_t* shortEntryOffset) {
  if (buffer == nullptr) return false;
  size_t offset = 0;
  size_t firstPiece = 0;  // of the trailing pieces with one checksum
  bool havePieces = false;
  uint8_t checksum = 0;
  for (;; offset += kSize) {
    const CFATDirEntry entry(buffer, length, offset);
    if (!entry.IsInside()) return false;
    if (!entry.IsLongNamePiece()) break;
    // A piece with another checksum than the one before belongs to another file: only the pieces
    // next to the short entry can be its own.
    if (!havePieces || entry.GetPieceChecksum() != checksum) firstPiece = offset;
    havePieces = true;
    checksum = entry.GetPieceChecksum();
  }
  const CFATDirEntry shortEntry(buffer, length, offset);
  std::u16string units;
  // A deleted entry has lost its first byte, so its checksum cannot be checked.
  const bool belongs = havePieces && (shortEntry.IsDeleted() || checksum == shortEntry.ShortNameChecksum());
  if (belongs) {
    // A long name has at most 255 characters, 20 pieces; more pieces with one checksum are not one name.
    if (offset - firstPiece > kMaxPieces * kSize) firstPiece = offset - kMaxPieces * kSize;
    // The piece next to the short entry holds the name's beginning.
    for (size_t p = offset; p > firstPiece;) {
      p -= kSize;
      units += CFATDirEntry(buffer, length, p).GetLongNameUnits();
    }
  }
  const std::string longName = Utf16ToUtf8(units);
  if (name != nullptr)
    *name = belongs && LongNameIsUsable(longName) ? longName : shortEntry.GetShortName(true);
  if (shortEntryOffset != nullptr) *shortEntryOffset = offset;
  return true;
}

std::unique_ptr<CFATFileProperties> CreateFATFileFromEntries(const uint8_t* buffer, size_t length) {
  std::string name;
  size_t offset = 0;
  if (!GetNameFromEntries(buffer, length, &name, &offset)) return nullptr;
  return CreateFATFilePropertiesFromEntry(name, CFATDirEntry(buffer, length, offset));
}

std::unique_ptr<CFATFileProperties> CreateFATFilePropertiesFromEntry(const std::string& name,
                                                                     const CFATDirEntry& entry) {
  if (!entry.IsInside()) return nullptr;
  const uint8_t attributes = entry.GetAttributes();
  const bool always = (attributes & (kAttrDirectory | kAttrVolumeLabel)) != 0;
  if (!IsWantedFileType(name.c_str(), always)) return nullptr;
  auto properties = std::make_unique<CFATFileProperties>();
  properties->SetName(name.c_str());
  properties->SetSize(entry.GetSize());
  properties->SetAttributes(attributes);
  properties->SetTimes(DosTimeOrZero(entry.GetCreationDate(), entry.GetCreationTime()),
                       DosTimeOrZero(entry.GetWriteDate(), entry.GetWriteTime()),
                       DosTimeOrZero(entry.GetAccessDate(), 0));
  properties->SetState(entry.IsDeleted() ? CFATFileProperties::kStateDeleted : 0);
  properties->SetFirstCluster(entry.GetFirstCluster());
  return properties;
}
