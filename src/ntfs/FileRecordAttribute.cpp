#include "ntfs/FileRecordAttribute.h"

#include <cinttypes>
#include <cstdio>

#include "ntfs/FileRecordHeader.h"
#include "ntfs/NtfsText.h"
#include "ntfs/RunList.h"

using corvale::ByteReader;
using corvale::ntfs::ParseResult;
namespace attr = corvale::ntfs::attr;
namespace fn = corvale::ntfs::fn;
namespace si = corvale::ntfs::si;
namespace rec = corvale::ntfs::rec;

std::string NTFSFileName::NameUtf8() const { return corvale::ntfs::Utf16LeToUtf8(name, nameLength); }

ParseResult ParseFileNameValue(ByteReader value, NTFSFileName& out) {
  if (!value.has(0, fn::kName))
    return ParseResult::Damaged("$FILE_NAME value", "is shorter than its fixed part", value.size(), 0,
                                fn::kName);
  uint8_t nameLength = value.u8(fn::kNameLength);
  if (!value.has(fn::kName, 2u * nameLength))
    return ParseResult::Damaged("$FILE_NAME name length", "runs past the value end", nameLength,
                                fn::kNameLength, (value.size() - fn::kName) / 2);
  out.parentReference = value.u64(fn::kParentReference);
  out.creationTime = value.u64(fn::kCreationTime);
  out.modificationTime = value.u64(fn::kModificationTime);
  out.mftChangeTime = value.u64(fn::kMftChangeTime);
  out.accessTime = value.u64(fn::kAccessTime);
  out.allocatedSize = static_cast<int64_t>(value.u64(fn::kAllocatedSize));
  out.dataSize = static_cast<int64_t>(value.u64(fn::kDataSize));
  out.flags = value.u32(fn::kFlags);
  out.nameLength = nameLength;
  uint8_t ns = value.u8(fn::kNamespace);
  out.nameSpace = ns > 4 ? 4 : ns;
  out.name = value.data() + fn::kName;
  return ParseResult::Valid();
}

ParseResult ParseStandardInformationValue(ByteReader value, NTFSStandardInformation& out) {
  if (!value.has(0, si::kMinValueLength))
    return ParseResult::Damaged("$STANDARD_INFORMATION value", "is shorter than the times and flags",
                                value.size(), 0, si::kMinValueLength);
  out.creationTime = value.u64(si::kCreationTime);
  out.modificationTime = value.u64(si::kModificationTime);
  out.mftChangeTime = value.u64(si::kMftChangeTime);
  out.accessTime = value.u64(si::kAccessTime);
  out.flags = value.u32(si::kFlags);
  return ParseResult::Valid();
}

CNTFSFileRecordAttribute::CNTFSFileRecordAttribute(const uint8_t* record, size_t recordLength,
                                                   uint32_t offset) {
  ByteReader r(record, recordLength);
  uint32_t length = r.u32(uint64_t(offset) + attr::kLength);
  if (length < attr::kCommonHeaderSize || !r.has(offset, length)) return;
  m_bytes = r.sub(offset, length);
  m_offset = offset;
}

std::string CNTFSFileRecordAttribute::GetNameUtf8() const {
  uint16_t nameOffset = m_bytes.u16(attr::kNameOffset);
  if (!m_bytes.has(nameOffset, 2u * GetNameLength())) return {};
  return corvale::ntfs::Utf16LeToUtf8(m_bytes.data() + nameOffset, GetNameLength());
}

ByteReader CNTFSFileRecordAttribute::GetValue() const {
  if (!*this || IsNonResident() || !m_bytes.has(0, attr::kResidentHeaderSize)) return {};
  return m_bytes.sub(GetValueOffset(), GetValueLength());
}

ByteReader CNTFSFileRecordAttribute::GetRunString() const {
  if (!*this || !IsNonResident() || !m_bytes.has(0, attr::kNonResidentHeaderSize)) return {};
  uint16_t offset = GetRunListOffset();
  if (offset > m_bytes.size()) return {};
  return m_bytes.sub(offset, m_bytes.size() - offset);
}

std::string CNTFSFileRecordAttribute::describe() const {
  if (!*this) return "no attribute";
  char text[512];
  int n = std::snprintf(
      text, sizeof text,
      "attribute at +0x%X\ntype 0x%X\nlength %u\nnon-resident %u\nname length %u\nname offset %u\n"
      "flags 0x%04X\ninstance %u\n",
      m_offset, GetType(), GetLength(), m_bytes.u8(attr::kNonResident), GetNameLength(),
      m_bytes.u16(attr::kNameOffset), GetFlags(), m_bytes.u16(attr::kInstance));
  if (n < 0 || size_t(n) >= sizeof text) return text;
  if (IsNonResident()) {
    std::snprintf(text + n, sizeof text - n,
                  "lowest VCN %" PRId64 "\nhighest VCN %" PRId64
                  "\nrun-list offset %u\ncompression unit %u\n"
                  "allocated size %" PRId64 "\ndata size %" PRId64 "\ninitialized size %" PRId64,
                  GetLowestVcn(), GetHighestVcn(), GetRunListOffset(), m_bytes.u16(attr::kCompressionUnit),
                  GetAllocatedSize(), GetDataSize(), GetInitializedSize());
  } else {
    std::snprintf(text + n, sizeof text - n, "value length %u\nvalue offset %u", GetValueLength(),
                  GetValueOffset());
  }
  return text;
}

CNTFSFileRecordFileNameAttribute::CNTFSFileRecordFileNameAttribute(const CNTFSFileRecordAttribute& attribute)
    : CNTFSFileRecordAttribute(attribute) {
  m_usable = *this && GetType() == attr::kFileName && !IsNonResident() &&
             ParseFileNameValue(GetValue(), m_name).IsValid();
}

ParseResult CheckAttribute(const uint8_t* attribute, uint64_t bytesLeft) {
  if (!attribute || bytesLeft < attr::kCommonHeaderSize)
    return ParseResult::Damaged("attribute header", "does not fit in the record", bytesLeft, 0,
                                attr::kCommonHeaderSize);
  ByteReader head(attribute, static_cast<size_t>(bytesLeft < 0x10000 ? bytesLeft : 0x10000));
  uint32_t length = head.u32(attr::kLength);
  if (length > bytesLeft)
    return ParseResult::Damaged("attribute length", "runs past the record end", length, attr::kLength,
                                bytesLeft);
  ByteReader a(attribute, length);
  uint8_t nameLength = a.u8(attr::kNameLength);
  if (!a.u8(attr::kNonResident)) {
    if (length < attr::kResidentHeaderSize)
      return ParseResult::Damaged("attribute length", "is shorter than a resident header", length,
                                  attr::kLength, attr::kResidentHeaderSize);
    uint64_t valueEnd = uint64_t(a.u16(attr::kValueOffset)) + a.u32(attr::kValueLength);
    if (valueEnd > length)
      return ParseResult::Damaged("attribute value", "runs past the attribute end", valueEnd,
                                  attr::kValueLength, length);
  } else {
    if (length < attr::kNonResidentHeaderSize)
      return ParseResult::Damaged("attribute length", "is shorter than a non-resident header", length,
                                  attr::kLength, attr::kNonResidentHeaderSize);
    uint16_t runOffset = a.u16(attr::kRunListOffset);
    if (runOffset > length)
      return ParseResult::Damaged("run-list offset", "lies past the attribute end", runOffset,
                                  attr::kRunListOffset, length);
    if (a.u32(attr::kType) == attr::kData && !IsValidDataRunString(attribute + runOffset, length - runOffset))
      return ParseResult::Damaged("$DATA run list", "is not a valid run string", runOffset,
                                  attr::kRunListOffset);
  }
  if (nameLength != 0 && !a.has(a.u16(attr::kNameOffset), 2u * nameLength))
    return ParseResult::Damaged("attribute name", "runs past the attribute end", a.u16(attr::kNameOffset),
                                attr::kNameOffset, length);
  return ParseResult::Valid();
}

bool IsAttributeValid(const uint8_t* attribute, uint64_t bytesLeft) {
  return CheckAttribute(attribute, bytesLeft).IsValid();
}

bool IsValidFileNameText(const uint8_t* name, size_t count) {
  if (!name) return false;
  for (size_t i = 0; i < count; ++i) {
    uint16_t c = static_cast<uint16_t>(name[2 * i] | (name[2 * i + 1] << 8));
    if (c == 0) break;
    switch (c) {
      case '"':
      case '*':
      case '/':
      case ':':
      case '<':
      case '>':
      case '?':
      case '\\':
      case '|':
        return false;
      default:
        break;
    }
  }
  return true;
}

ParseResult CheckFileNameAttribute(const uint8_t* attribute, uint64_t bytesLeft) {
  ParseResult check = CheckAttribute(attribute, bytesLeft);
  if (!check.IsValid()) return check;
  CNTFSFileRecordAttribute a(attribute, static_cast<size_t>(bytesLeft), 0);
  if (a.GetType() != attr::kFileName)
    return ParseResult::NotThis("attribute type", "is not $FILE_NAME", a.GetType());
  // Its fields are read at fixed places of the value: a non-resident one has none.
  if (a.IsNonResident()) return ParseResult::Damaged("$FILE_NAME", "is non-resident", 1, attr::kNonResident);
  NTFSFileName name;
  ParseResult value = ParseFileNameValue(a.GetValue(), name);
  if (!value.IsValid()) {
    value.error.offset += a.GetValueOffset();
    return value;
  }
  if (!IsValidFileNameText(name.name, name.nameLength))
    return ParseResult::Damaged("$FILE_NAME name", "holds a character names may not hold", name.nameLength,
                                a.GetValueOffset() + fn::kName);
  return ParseResult::Valid();
}

bool IsFileNameAttributeValid(const uint8_t* attribute, uint64_t bytesLeft) {
  return CheckFileNameAttribute(attribute, bytesLeft).IsValid();
}

namespace corvale::ntfs::detail {
bool WalkBounds(const uint8_t* record, size_t length, uint32_t& first, uint32_t& walked) {
  if (!record || length < rec::kHeaderSize) return false;
  walked = static_cast<uint32_t>(FileRecordLength(record, length));
  first = ByteReader(record, length).u16(rec::kFirstAttribute);
  return true;
}
}  // namespace corvale::ntfs::detail

ParseResult CheckFileRecordAttributes(const uint8_t* record, size_t length) {
  uint32_t offset = 0, walked = 0;
  if (!corvale::ntfs::detail::WalkBounds(record, length, offset, walked))
    return ParseResult::Damaged("record", "is shorter than the header", length, 0, rec::kHeaderSize);
  ByteReader r(record, walked);
  while (offset + 8 < walked) {
    uint32_t type = r.u32(offset);
    if (type == attr::kEnd) break;
    uint32_t attrLength = r.u32(offset + 4);
    if (attrLength == 0) break;
    ParseResult check = type == attr::kFileName ? CheckFileNameAttribute(record + offset, walked - offset)
                                                : CheckAttribute(record + offset, walked - offset);
    if (!check.IsValid()) {
      // Offsets in the error are given from the record start.
      check.outcome = corvale::ntfs::ParseOutcome::Damaged;
      check.error.offset += offset;
      return check;
    }
    // CheckAttribute guarantees at least a resident header's length: the walk always moves on.
    offset += attrLength;
  }
  return ParseResult::Valid();
}

CNTFSFileRecordAttribute FindAttribute(const uint8_t* record, size_t length, uint32_t type, int n) {
  CNTFSFileRecordAttribute found;
  if (n < 0) return found;
  int seen = 0;
  ForEachAttribute(record, length, [&](const CNTFSFileRecordAttribute& a) {
    if (a.GetType() != type) return true;
    if (seen++ == n) {
      found = a;
      return false;
    }
    return true;
  });
  return found;
}

int CountAttributes(const uint8_t* record, size_t length, uint32_t type) {
  int count = 0;
  ForEachAttribute(record, length, [&](const CNTFSFileRecordAttribute& a) {
    if (a.GetType() == type) ++count;
    return true;
  });
  return count;
}

bool HasNonResidentIndexAllocation(const uint8_t* record, size_t length) {
  if (!IsDirectoryRecord(record, length)) return false;
  CNTFSFileRecordAttribute a = FindAttribute(record, length, attr::kIndexAllocation);
  return a && a.IsNonResident();
}
