#include "ntfs/FileRecordHeader.h"

#include <algorithm>
#include <cstring>

#include "ntfs/FileRecordAttribute.h"
#include "ntfs/UpdateSequence.h"
#include "storage/ByteReader.h"

using corvale::ByteReader;
using corvale::ntfs::ParseResult;
namespace rec = corvale::ntfs::rec;

namespace {

bool HasMagic(const uint8_t* b, size_t length) {
  return b && length >= 4 && b[0] == 'F' && b[1] == 'I' && b[2] == 'L' && b[3] == 'E';
}

// The update sequence of a record as the fix-up takes it: the array must lie inside the record's
// allocated bytes; strides the count names past them are not handled.
bool PlanFixup(const uint8_t* b, size_t length, corvale::ntfs::UpdateSequence& plan) {
  if (!b || length < rec::kMinRecordSize) return false;
  const size_t walked = FileRecordLength(b, length);
  const ByteReader r(b, walked);
  return corvale::ntfs::ReadUpdateSequence(b, walked, r.u16(rec::kUsaOffset), r.u16(rec::kUsaCount),
                                           corvale::ntfs::StrideFit::WholeInBuffer, plan)
      .IsValid();
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
  corvale::ntfs::UpdateSequence plan;
  return PlanFixup(buffer, length, plan) &&
         corvale::ntfs::VerifyUpdateSequence(buffer, FileRecordLength(buffer, length), plan).IsValid();
}

bool ApplyFileRecordFixup(uint8_t* buffer, size_t length) {
  corvale::ntfs::UpdateSequence plan;
  return PlanFixup(buffer, length, plan) &&
         corvale::ntfs::ApplyUpdateSequence(buffer, FileRecordLength(buffer, length), plan).IsValid();
}

bool RestoreFileRecordFixup(uint8_t* buffer, size_t length) {
  corvale::ntfs::UpdateSequence plan;
  if (!PlanFixup(buffer, length, plan)) return false;
  corvale::ntfs::RestoreUpdateSequence(buffer, FileRecordLength(buffer, length), plan);
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
  // The walk passed, but the fix-up did not apply: say why.
  const size_t walked = FileRecordLength(buffer, length);
  const ByteReader r(buffer, walked);
  corvale::ntfs::UpdateSequence plan;
  ParseResult array =
      corvale::ntfs::ReadUpdateSequence(buffer, walked, r.u16(rec::kUsaOffset), r.u16(rec::kUsaCount),
                                        corvale::ntfs::StrideFit::WholeInBuffer, plan);
  if (!array.IsValid()) return array;
  ParseResult strides = corvale::ntfs::VerifyUpdateSequence(buffer, walked, plan);
  if (!strides.IsValid()) return strides;
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
