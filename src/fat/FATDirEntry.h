#pragma once
// The 32-byte FAT directory entry (FORMAT.md, "Directory entries"): short entries, long-name
// pieces, their validity rules, and the properties of one file made from its entries.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fat/FATFileProperties.h"
#include "storage/ByteReader.h"

namespace corvale::fat::dirent {
constexpr size_t kSize = 32;
constexpr size_t kName = 0;       // 8 bytes
constexpr size_t kExtension = 8;  // 3 bytes
constexpr size_t kAttributes = 11;
constexpr size_t kCaseFlags = 12;
constexpr size_t kCreationTenths = 13;
constexpr size_t kCreationTime = 14;
constexpr size_t kCreationDate = 16;
constexpr size_t kAccessDate = 18;
constexpr size_t kClusterHigh = 20;
constexpr size_t kWriteTime = 22;
constexpr size_t kWriteDate = 24;
constexpr size_t kClusterLow = 26;
constexpr size_t kFileSize = 28;
// Long-name piece.
constexpr size_t kPieceOrdinal = 0;
constexpr size_t kPieceChars1 = 1;  // 5 UTF-16 units
constexpr size_t kPieceType = 12;
constexpr size_t kPieceChecksum = 13;
constexpr size_t kPieceChars2 = 14;  // 6 units
constexpr size_t kPieceCluster = 26;
constexpr size_t kPieceChars3 = 28;  // 2 units
constexpr size_t kPieceUnits = 13;

constexpr uint8_t kAttrReadOnly = 0x01;
constexpr uint8_t kAttrHidden = 0x02;
constexpr uint8_t kAttrSystem = 0x04;
constexpr uint8_t kAttrVolumeLabel = 0x08;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrArchive = 0x20;
constexpr uint8_t kAttrLongName = 0x0F;
constexpr uint8_t kAttrReserved = 0x40;

constexpr uint8_t kDeletedMark = 0xE5;
// A name whose first byte really is 0xE5 stores 0x05 there, so as not to read as deleted.
constexpr uint8_t kStoredE5 = 0x05;
// Case flags of short names written by Windows NT and later (and by mtools).
constexpr uint8_t kLowerCaseBase = 0x08;
constexpr uint8_t kLowerCaseExtension = 0x10;
}  // namespace corvale::fat::dirent

class CFATDirEntry {
 public:
  // A view of the 32 bytes at `offset` of `buffer`. An entry that does not lie wholly inside the
  // buffer reads as zeros and is never valid.
  CFATDirEntry(const uint8_t* buffer, size_t length, size_t offset);
  explicit CFATDirEntry(const uint8_t* entry32) : CFATDirEntry(entry32, corvale::fat::dirent::kSize, 0) {}

  bool IsInside() const { return m_bytes.size() == corvale::fat::dirent::kSize; }
  // The validity rules; `strict` adds the size-against-cluster rules the scan uses. The date and time
  // rules apply when the CheckFatDate and CheckFatTime switches of the recovery settings are on.
  bool IsValid(bool strict) const;
  bool IsDeleted() const { return FirstByte() == corvale::fat::dirent::kDeletedMark; }
  bool IsEnd() const { return FirstByte() == 0; }
  bool IsLongNamePiece() const { return GetAttributes() == corvale::fat::dirent::kAttrLongName; }
  bool IsVolumeLabel() const { return GetAttributes() == corvale::fat::dirent::kAttrVolumeLabel; }
  bool IsDirectory() const { return (GetAttributes() & corvale::fat::dirent::kAttrDirectory) != 0; }
  // "." and "..": the name bytes exactly, with the directory attribute.
  bool IsDotEntry() const;
  bool IsDotDotEntry() const;

  uint8_t FirstByte() const { return m_bytes.u8(0); }
  uint8_t GetAttributes() const { return m_bytes.u8(corvale::fat::dirent::kAttributes); }
  uint32_t GetFirstCluster() const;
  uint32_t GetSize() const { return m_bytes.u32(corvale::fat::dirent::kFileSize); }
  uint16_t GetCreationDate() const { return m_bytes.u16(corvale::fat::dirent::kCreationDate); }
  uint16_t GetCreationTime() const { return m_bytes.u16(corvale::fat::dirent::kCreationTime); }
  uint16_t GetAccessDate() const { return m_bytes.u16(corvale::fat::dirent::kAccessDate); }
  uint16_t GetWriteDate() const { return m_bytes.u16(corvale::fat::dirent::kWriteDate); }
  uint16_t GetWriteTime() const { return m_bytes.u16(corvale::fat::dirent::kWriteTime); }
  const uint8_t* GetBytes() const { return m_bytes.data(); }

  // The 8.3 name in UTF-8: name and extension with their trailing spaces cut, joined by a dot
  // (`withDot`) or not (volume labels). A deleted entry's lost first character shows as '#'; a
  // stored 0x05 is the character 0xE5; the lower-case flags are applied.
  std::string GetShortName(bool withDot) const;
  // The checksum of the 11 name bytes that the long-name pieces of this entry carry.
  uint8_t ShortNameChecksum() const;

  // A long-name piece's characters (up to 13 UTF-16 units, ending at a 0 unit or the 0xFFFF fill).
  std::u16string GetLongNameUnits() const;
  // The same in UTF-8; true (there is no character UTF-8 cannot hold).
  bool GetLongNamePiece(std::string& out) const;
  uint8_t GetPieceChecksum() const { return m_bytes.u8(corvale::fat::dirent::kPieceChecksum); }

  // Every field; for trace logging.
  std::string describe() const;

 private:
  corvale::ByteReader m_bytes;
};

// What an entry must agree with to be trusted where no FAT vouches for it (deleted entries, sectors
// found by a scan). A limit of 0 (cluster count) or 0xFFFFFFFF (parent) is not checked.
struct FatDirEntryLimits {
  uint32_t clusterCount = 0;
  uint32_t parentCluster = 0xFFFFFFFF;
};

// The one plausibility check of an entry found in a buffer: the entry lies at a multiple of 32 bytes
// wholly inside the buffer and passes the non-strict validity rules; a long-name piece has no
// cluster; a short entry's first cluster is 0 or a data cluster of the volume and is not the
// parent's. On failure a reader moves on by 32 bytes.
bool isPlausibleFatDirEntry(const uint8_t* buffer, size_t length, size_t offset,
                            const FatDirEntryLimits& limits);

// The name of the file whose entries start at `buffer`: the long-name pieces (each put in front of
// the name gathered so far) and then the short entry. The long name is used when there is at least
// one piece and it is not empty, not "." or "..", and holds none of ? * | \ / : " < >; otherwise the
// 8.3 name with its dot. Only the pieces next to the short entry that carry the same checksum
// belong to it, and for a live short entry that checksum must be its own. *shortEntryOffset is set to
// the short entry's offset. False when the buffer holds no short entry.
bool GetNameFromEntries(const uint8_t* buffer, size_t length, std::string* name, size_t* shortEntryOffset);

// The properties of the file whose entries (long-name pieces, then the short entry) fill `buffer`,
// or null when there is no short entry or the name is not of a wanted type (folders and volume
// labels always are).
std::unique_ptr<CFATFileProperties> CreateFATFileFromEntries(const uint8_t* buffer, size_t length);
// The properties of one short entry under `name`, or null when the name is not of a wanted type.
std::unique_ptr<CFATFileProperties> CreateFATFilePropertiesFromEntry(const std::string& name,
                                                                     const CFATDirEntry& entry);
