#pragma once
// Attributes of a FILE record (FORMAT.md, "Attributes"): the common header, the resident and
// non-resident parts, the $FILE_NAME and $STANDARD_INFORMATION values, the checks of the attribute
// walk and the lookups by type.
//
// Every lookup walks the record over FileRecordLength (its allocated size, 1024 to 4096 bytes, never
// past the buffer), stops at the end marker, at an attribute of length 0 and at one that does not
// fit, so an attribute it returns always lies whole inside the record. Field reads past an
// attribute's own length answer 0.

#include <cstddef>
#include <cstdint>
#include <string>

#include "ntfs/NtfsParse.h"
#include "storage/ByteReader.h"

namespace corvale::ntfs::attr {
// Attribute type codes.
constexpr uint32_t kStandardInformation = 0x10;
constexpr uint32_t kAttributeList = 0x20;
constexpr uint32_t kFileName = 0x30;
constexpr uint32_t kObjectId = 0x40;
constexpr uint32_t kSecurityDescriptor = 0x50;
constexpr uint32_t kVolumeName = 0x60;
constexpr uint32_t kVolumeInformation = 0x70;
constexpr uint32_t kData = 0x80;
constexpr uint32_t kIndexRoot = 0x90;
constexpr uint32_t kIndexAllocation = 0xA0;
constexpr uint32_t kBitmap = 0xB0;
constexpr uint32_t kReparsePoint = 0xC0;
constexpr uint32_t kEaInformation = 0xD0;
constexpr uint32_t kEa = 0xE0;
constexpr uint32_t kLoggedUtilityStream = 0x100;
constexpr uint32_t kEnd = 0xFFFFFFFF;

// Common header.
constexpr size_t kType = 0x00;
constexpr size_t kLength = 0x04;
constexpr size_t kNonResident = 0x08;
constexpr size_t kNameLength = 0x09;
constexpr size_t kNameOffset = 0x0A;
constexpr size_t kFlags = 0x0C;
constexpr size_t kInstance = 0x0E;
constexpr size_t kCommonHeaderSize = 0x10;
// Resident part.
constexpr size_t kValueLength = 0x10;
constexpr size_t kValueOffset = 0x14;
constexpr size_t kResidentHeaderSize = 0x18;
// Non-resident part.
constexpr size_t kLowestVcn = 0x10;
constexpr size_t kHighestVcn = 0x18;
constexpr size_t kRunListOffset = 0x20;
constexpr size_t kCompressionUnit = 0x22;
constexpr size_t kAllocatedSize = 0x28;
constexpr size_t kDataSize = 0x30;
constexpr size_t kInitializedSize = 0x38;
constexpr size_t kNonResidentHeaderSize = 0x40;

constexpr uint16_t kFlagCompressed = 0x0001;
constexpr uint16_t kFlagEncrypted = 0x4000;
constexpr uint16_t kFlagSparse = 0x8000;
}  // namespace corvale::ntfs::attr

namespace corvale::ntfs::fn {
// Offsets inside a $FILE_NAME value (the value of the attribute, or the key of an index entry).
constexpr size_t kParentReference = 0x00;
constexpr size_t kCreationTime = 0x08;
constexpr size_t kModificationTime = 0x10;
constexpr size_t kMftChangeTime = 0x18;
constexpr size_t kAccessTime = 0x20;
constexpr size_t kAllocatedSize = 0x28;
constexpr size_t kDataSize = 0x30;
constexpr size_t kFlags = 0x38;
constexpr size_t kReparse = 0x3C;
constexpr size_t kNameLength = 0x40;
constexpr size_t kNamespace = 0x41;
constexpr size_t kName = 0x42;

constexpr uint32_t kFlagReadOnly = 0x0001;
constexpr uint32_t kFlagEncrypted = 0x4000;
constexpr uint32_t kFlagDirectory = 0x10000000;
}  // namespace corvale::ntfs::fn

namespace corvale::ntfs::si {
// Offsets inside a $STANDARD_INFORMATION value.
constexpr size_t kCreationTime = 0x00;
constexpr size_t kModificationTime = 0x08;
constexpr size_t kMftChangeTime = 0x10;
constexpr size_t kAccessTime = 0x18;
constexpr size_t kFlags = 0x20;
constexpr size_t kMinValueLength = 0x24;  // enough for the times and the flags

constexpr uint32_t kFlagReadOnly = 0x01;
constexpr uint32_t kFlagHidden = 0x02;
constexpr uint32_t kFlagSystem = 0x04;
constexpr uint32_t kFlagArchive = 0x20;
}  // namespace corvale::ntfs::si

// A $FILE_NAME value, read in place. `name` points at nameLength UTF-16LE units inside the value.
struct NTFSFileName {
  uint64_t parentReference = 0;  // record number in the low 48 bits, sequence number above
  uint64_t creationTime = 0;     // NTFS times: 100-ns intervals since 1601, passed on as they are
  uint64_t modificationTime = 0;
  uint64_t mftChangeTime = 0;
  uint64_t accessTime = 0;
  int64_t allocatedSize = 0;
  int64_t dataSize = 0;
  uint32_t flags = 0;
  uint8_t nameLength = 0;
  uint8_t nameSpace = 0;  // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS; above 4 read as 4
  const uint8_t* name = nullptr;

  uint64_t ParentRecordNumber() const { return parentReference & 0x0000FFFFFFFFFFFFull; }
  std::string NameUtf8() const;
};

struct NTFSStandardInformation {
  uint64_t creationTime = 0;
  uint64_t modificationTime = 0;
  uint64_t mftChangeTime = 0;
  uint64_t accessTime = 0;
  uint32_t flags = 0;  // 0x01 read-only, 0x02 hidden, 0x04 system, 0x20 archive
};

// Reads a $FILE_NAME value: Damaged when the value is shorter than its fixed part plus the name it
// announces.
corvale::ntfs::ParseResult ParseFileNameValue(corvale::ByteReader value, NTFSFileName& out);
// Reads a $STANDARD_INFORMATION value: Damaged when shorter than the times and the flags.
corvale::ntfs::ParseResult ParseStandardInformationValue(corvale::ByteReader value,
                                                         NTFSStandardInformation& out);

// A view of one attribute inside a record buffer. Empty (false) when no attribute was found. The
// view does not own the bytes: it lives no longer than the record buffer it points into.
class CNTFSFileRecordAttribute {
 public:
  CNTFSFileRecordAttribute() = default;
  // The attribute at `offset` of `record`, of the length its header gives; empty unless that fits in
  // `recordLength`.
  CNTFSFileRecordAttribute(const uint8_t* record, size_t recordLength, uint32_t offset);
  virtual ~CNTFSFileRecordAttribute() = default;
  CNTFSFileRecordAttribute(const CNTFSFileRecordAttribute&) = default;
  CNTFSFileRecordAttribute& operator=(const CNTFSFileRecordAttribute&) = default;

  explicit operator bool() const { return m_bytes.size() != 0; }
  const uint8_t* GetData() const { return m_bytes.data(); }
  uint32_t GetOffset() const { return m_offset; }  // in its record
  uint32_t GetLength() const { return static_cast<uint32_t>(m_bytes.size()); }
  corvale::ByteReader Bytes() const { return m_bytes; }

  uint32_t GetType() const { return m_bytes.u32(corvale::ntfs::attr::kType); }
  bool IsNonResident() const { return m_bytes.u8(corvale::ntfs::attr::kNonResident) != 0; }
  uint8_t GetNameLength() const { return m_bytes.u8(corvale::ntfs::attr::kNameLength); }
  bool IsNamed() const { return GetNameLength() != 0; }
  std::string GetNameUtf8() const;
  uint16_t GetFlags() const { return m_bytes.u16(corvale::ntfs::attr::kFlags); }
  bool IsCompressed() const { return GetFlags() & corvale::ntfs::attr::kFlagCompressed; }
  bool IsEncrypted() const { return GetFlags() & corvale::ntfs::attr::kFlagEncrypted; }

  // Resident part.
  uint32_t GetValueLength() const { return m_bytes.u32(corvale::ntfs::attr::kValueLength); }
  uint16_t GetValueOffset() const { return m_bytes.u16(corvale::ntfs::attr::kValueOffset); }
  // The value of a resident attribute; empty when non-resident or when the value does not fit.
  corvale::ByteReader GetValue() const;

  // Non-resident part.
  int64_t GetLowestVcn() const { return static_cast<int64_t>(m_bytes.u64(corvale::ntfs::attr::kLowestVcn)); }
  int64_t GetHighestVcn() const {
    return static_cast<int64_t>(m_bytes.u64(corvale::ntfs::attr::kHighestVcn));
  }
  uint16_t GetRunListOffset() const { return m_bytes.u16(corvale::ntfs::attr::kRunListOffset); }
  int64_t GetAllocatedSize() const {
    return static_cast<int64_t>(m_bytes.u64(corvale::ntfs::attr::kAllocatedSize));
  }
  int64_t GetDataSize() const { return static_cast<int64_t>(m_bytes.u64(corvale::ntfs::attr::kDataSize)); }
  int64_t GetInitializedSize() const {
    return static_cast<int64_t>(m_bytes.u64(corvale::ntfs::attr::kInitializedSize));
  }
  // The run string, from the run-list offset to the attribute end; empty when resident or when the
  // offset lies outside the attribute.
  corvale::ByteReader GetRunString() const;

  // Every header field, one per line; for trace logging.
  std::string describe() const;

 private:
  corvale::ByteReader m_bytes;
  uint32_t m_offset = 0;
};

// A $FILE_NAME attribute with its value read.
class CNTFSFileRecordFileNameAttribute : public CNTFSFileRecordAttribute {
 public:
  explicit CNTFSFileRecordFileNameAttribute(const CNTFSFileRecordAttribute& attribute);
  // False when the attribute is not a resident $FILE_NAME whose value holds its name.
  bool IsUsable() const { return m_usable; }
  const NTFSFileName& GetFileName() const { return m_name; }

 private:
  NTFSFileName m_name;
  bool m_usable = false;
};

// Attribute checks. `bytesLeft` is what remains of the record from the attribute's start.
// IsAttributeValid: the header fits; the attribute lies inside the record and covers its own header
// (0x18 bytes resident, 0x40 non-resident); a resident value and a non-resident run-list offset lie
// inside it; a name lies inside it; and the run string of a non-resident $DATA is valid.
bool IsAttributeValid(const uint8_t* attribute, uint64_t bytesLeft);
corvale::ntfs::ParseResult CheckAttribute(const uint8_t* attribute, uint64_t bytesLeft);
// IsAttributeValid, type $FILE_NAME, resident, a value that holds the name it announces, and a name
// without the characters Windows forbids.
bool IsFileNameAttributeValid(const uint8_t* attribute, uint64_t bytesLeft);
corvale::ntfs::ParseResult CheckFileNameAttribute(const uint8_t* attribute, uint64_t bytesLeft);
// At most `count` UTF-16LE units at `name`, stopping at a 0 unit: none of " * / : < > ? \ |.
bool IsValidFileNameText(const uint8_t* name, size_t count);

// The attribute walk over a record (fix-up already applied by the caller): from the first-attribute
// offset while 8 bytes remain, ending at the end marker or an attribute of length 0; every attribute
// must pass CheckAttribute (with what remains of the record) and every $FILE_NAME
// CheckFileNameAttribute.
corvale::ntfs::ParseResult CheckFileRecordAttributes(const uint8_t* record, size_t length);

// The n-th (from 0) attribute of `type` in the record, or an empty view.
CNTFSFileRecordAttribute FindAttribute(const uint8_t* record, size_t length, uint32_t type, int n = 0);
int CountAttributes(const uint8_t* record, size_t length, uint32_t type);
// Calls visit(attribute) for each attribute of the walk in order; visit returns false to stop.
template <typename Visit>
void ForEachAttribute(const uint8_t* record, size_t length, Visit visit);

// True when the record is a directory and holds a non-resident $INDEX_ALLOCATION.
bool HasNonResidentIndexAllocation(const uint8_t* record, size_t length);

// ---------------------------------------------------------------------------------------------

namespace corvale::ntfs::detail {
// Offset of the first attribute and the walked length; false when the record cannot be walked.
bool WalkBounds(const uint8_t* record, size_t length, uint32_t& first, uint32_t& walked);
}  // namespace corvale::ntfs::detail

template <typename Visit>
void ForEachAttribute(const uint8_t* record, size_t length, Visit visit) {
  uint32_t offset = 0, walked = 0;
  if (!corvale::ntfs::detail::WalkBounds(record, length, offset, walked)) return;
  corvale::ByteReader r(record, walked);
  while (offset + 8 < walked) {
    uint32_t type = r.u32(offset);
    uint32_t attrLength = r.u32(offset + 4);
    if (type == corvale::ntfs::attr::kEnd || attrLength == 0) return;
    // An attribute that does not fit, or is too short to hold a header, ends the walk: nothing
    // after it can be placed.
    if (attrLength < corvale::ntfs::attr::kCommonHeaderSize || attrLength > walked - offset) return;
    CNTFSFileRecordAttribute attribute(record, walked, offset);
    if (!visit(attribute)) return;
    offset += attrLength;
  }
}
