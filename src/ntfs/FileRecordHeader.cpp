#include "ntfs/FileRecordHeader.h"

#include <algorithm>
#include <cstring>

#include "ntfs/FileRecordAttribute.h"
#include "storage/ByteReader.h"

using corvale::ByteReader;
using corvale::ntfs::ParseResult;
namespace rec = corvale::ntfs::rec;

namespace {

bool HasMagic(const uint8_t* b, size_t length) {
  return b && length >= 4 && b[0] == 'F' && b[1] == 'I' && b[2] == 'L' && b[3] == 'E';
}

uint16_t Word(const uint8_t* b, size_t o) { return static_cast<uint16_t>(b[o] | (b[o + 1] << 8)); }
void PutWord(uint8_t* b, size_t o, uint16_t v) {
  b[o] = static_cast<uint8_t>(v);
  b[o + 1] = static_cast<uint8_t>(v >> 8);
}

// The strides the fix-up handles and where the array is; false when the buffer cannot be fixed up.
struct FixupPlan {
  size_t usaOffset = 0;
  size_t strides = 0;
};

bool PlanFixup(const uint8_t* b, size_t length, FixupPlan& plan) {
  if (!b || length < rec::kMinRecordSize) return false;
  size_t walked = FileRecordLength(b, length);
  size_t usaOffset = Word(b, rec::kUsaOffset);
  size_t count = Word(b, rec::kUsaCount);
  if (count == 0) return false;
  // The array (sequence number plus one word per stride) must lie inside the record.
  if (usaOffset + 2 * count > walked) return false;
  plan.usaOffset = usaOffset;
  plan.strides = std::min(count - 1, walked / rec::kStride);
  return true;
}

}  // namespace

size_t FileRecordLength(const uint8_t* buffer, size_t length) {
  size_t allocated = ByteReader(buffer, length).u32(rec::kBytesAllocated);
  size_t size = std::clamp<size_t>(allocated, rec::kMinRecordSize, rec::kMaxAllocated);
  return std::min(length, size);
}

ParseResult CheckFileRecordHeader(const uint8_t* buffer, size_t length) {
  if (!HasMagic(buffer, length)) return ParseResult::NotThis("magic", "is not \"FILE\"");
  if (length < rec::kHeaderSize)
    return ParseResult::Damaged("record", "is shorter than the header", length, 0, rec::kHeaderSize);
  ByteReader r(buffer, length);
  uint16_t count = r.u16(rec::kUsaCount);
  if (count > rec::kMaxUsaCount)
    return ParseResult::Damaged("update-sequence count", "is above 16", count, rec::kUsaCount,
                                rec::kMaxUsaCount);
  uint32_t allocated = r.u32(rec::kBytesAllocated);
  if (allocated > rec::kMaxAllocated || allocated % 1024 != 0)
    return ParseResult::Damaged("bytes allocated", "is not a multiple of 1024 up to 4096", allocated,
                                rec::kBytesAllocated, rec::kMaxAllocated);
  if (count == 0 || uint32_t(count - 1) > allocated / rec::kStride)
    return ParseResult::Damaged("update-sequence count", "names more strides than the record has", count,
                                rec::kUsaCount, allocated / rec::kStride + 1);
  uint16_t usaOffset = r.u16(rec::kUsaOffset);
  if (usaOffset < rec::kMinUsaOffset || usaOffset > rec::kMaxUsaOffset)
    return ParseResult::Damaged("update-sequence offset", "is outside 42..256", usaOffset, rec::kUsaOffset,
                                rec::kMaxUsaOffset);
  return ParseResult::Valid();
}

bool IsFileRecordHeaderValid(const uint8_t* buffer, size_t length) {
  return CheckFileRecordHeader(buffer, length).IsValid();
}

bool VerifyFileRecordFixup(const uint8_t* buffer, size_t length) {
  FixupPlan plan;
  if (!PlanFixup(buffer, length, plan)) return false;
  uint16_t usn = Word(buffer, plan.usaOffset);
  for (size_t i = 0; i < plan.strides; ++i) {
    if (Word(buffer, (i + 1) * rec::kStride - 2) != usn) return false;
  }
  return true;
}

bool ApplyFileRecordFixup(uint8_t* buffer, size_t length) {
  if (!VerifyFileRecordFixup(buffer, length)) return false;
  FixupPlan plan;
  PlanFixup(buffer, length, plan);
  for (size_t i = 0; i < plan.strides; ++i)
    PutWord(buffer, (i + 1) * rec::kStride - 2, Word(buffer, plan.usaOffset + 2 * (i + 1)));
  return true;
}

bool RestoreFileRecordFixup(uint8_t* buffer, size_t length) {
  FixupPlan plan;
  if (!PlanFixup(buffer, length, plan)) return false;
  uint16_t usn = Word(buffer, plan.usaOffset);
  for (size_t i = 0; i < plan.strides; ++i) {
    size_t end = (i + 1) * rec::kStride - 2;
    PutWord(buffer, plan.usaOffset + 2 * (i + 1), Word(buffer, end));
    PutWord(buffer, end, usn);
  }
  return true;
}

namespace {

// Header test, then the walk over a fixed-up copy. `fixupApplied` tells whether the fix-up verified.
ParseResult CheckRecordOnCopy(const uint8_t* buffer, size_t length, bool& fixupApplied) {
  fixupApplied = false;
  ParseResult header = CheckFileRecordHeader(buffer, length);
  if (!header.IsValid()) return header;
  if (length < rec::kMinRecordSize)
    return ParseResult::Damaged("record", "is shorter than 1024 bytes", length, 0, rec::kMinRecordSize);
  uint8_t copy[rec::kMaxAllocated];
  size_t walked = FileRecordLength(buffer, length);
  std::memcpy(copy, buffer, walked);
  fixupApplied = ApplyFileRecordFixup(copy, walked);
  return CheckFileRecordAttributes(copy, walked);
}

}  // namespace

bool IsValidNTFSFileRecord(const uint8_t* buffer, size_t length) {
  bool fixupApplied;
  return CheckRecordOnCopy(buffer, length, fixupApplied).IsValid();
}

ParseResult CheckFileRecord(const uint8_t* buffer, size_t length) {
  bool fixupApplied;
  ParseResult result = CheckRecordOnCopy(buffer, length, fixupApplied);
  if (!result.IsValid() || fixupApplied) return result;
  // The walk passed, but a stride end lacks the sequence number: say which one.
  FixupPlan plan;
  if (!PlanFixup(buffer, length, plan))
    return ParseResult::Damaged("update-sequence array", "does not fit the record",
                                ByteReader(buffer, length).u16(rec::kUsaOffset), rec::kUsaOffset);
  uint16_t usn = Word(buffer, plan.usaOffset);
  for (size_t i = 0; i < plan.strides; ++i) {
    size_t end = (i + 1) * rec::kStride - 2;
    if (Word(buffer, end) != usn)
      return ParseResult::Damaged("stride end", "does not carry the update sequence number",
                                  Word(buffer, end), end, usn);
  }
  return ParseResult::Damaged("update-sequence array", "cannot be applied", plan.strides, rec::kUsaCount);
}

bool IsInUse(const uint8_t* record, size_t length) {
  return ByteReader(record, length).u16(rec::kFlags) & rec::kFlagInUse;
}
bool IsDirectoryRecord(const uint8_t* record, size_t length) {
  return ByteReader(record, length).u16(rec::kFlags) & rec::kFlagDirectory;
}
uint64_t GetBaseRecordReference(const uint8_t* record, size_t length) {
  return ByteReader(record, length).u64(rec::kBaseReference);
}
bool IsExtensionRecord(const uint8_t* record, size_t length) {
  return GetBaseRecordReference(record, length) != 0;
}
uint64_t GetLogSequenceNumber(const uint8_t* record, size_t length) {
  return ByteReader(record, length).u64(rec::kLogSequenceNumber);
}
bool HasOwnRecordNumber(const uint8_t* record, size_t length) {
  ByteReader r(record, length);
  return r.has(0, rec::kHeaderSize) && r.u16(rec::kUsaOffset) >= 48 && r.u16(rec::kReserved2A) == 0;
}
int64_t GetOwnRecordNumber(const uint8_t* record, size_t length) {
  if (!HasOwnRecordNumber(record, length)) return -1;
  return ByteReader(record, length).u32(rec::kOwnRecordNumber);
}
