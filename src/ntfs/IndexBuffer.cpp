#include "ntfs/IndexBuffer.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "ntfs/UpdateSequence.h"
#include "storage/ByteReader.h"

using corvale::ByteReader;
using corvale::ntfs::ParseResult;
namespace indx = corvale::ntfs::indx;
namespace fn = corvale::ntfs::fn;
namespace attr = corvale::ntfs::attr;

namespace {

constexpr uint64_t kRecordMask = 0x0000FFFFFFFFFFFFull;
// More than a buffer that passes the header test can use: allocated size + entries offset < 8 KiB.
constexpr size_t kMaxCopy = 8192 + indx::kIndexHeader;

bool HasMagic(const uint8_t* b, size_t length) {
  return b && length >= 4 && b[0] == 'I' && b[1] == 'N' && b[2] == 'D' && b[3] == 'X';
}

// The update sequence of an index buffer: a count of 1 to 16 whose strides and array all lie in the
// buffer.
corvale::ntfs::ParseResult PlanFixup(const uint8_t* b, size_t length, corvale::ntfs::UpdateSequence& plan) {
  if (!b || length < indx::kHeaderSize)
    return ParseResult::Damaged("index buffer", "is shorter than its header", length, 0, indx::kHeaderSize);
  const ByteReader r(b, length);
  const uint16_t count = r.u16(indx::kUsaCount);
  if (count > indx::kMaxUsaCount)
    return ParseResult::Damaged("update-sequence count", "is above 16", count, indx::kUsaCount,
                                indx::kMaxUsaCount);
  return corvale::ntfs::ReadUpdateSequence(b, length, r.u16(indx::kUsaOffset), count,
                                           corvale::ntfs::StrideFit::Required, plan);
}

// A key long enough to hold the $FILE_NAME fields read from it (up to the name length).
bool HasFileNameKey(const NTFSIndexEntry& e) { return e.key.size() >= fn::kName; }

}  // namespace

bool IsIndexBuffer(const uint8_t* buffer, size_t length) { return HasMagic(buffer, length); }

ParseResult CheckIndexBufferHeader(const uint8_t* buffer, size_t length) {
  if (!HasMagic(buffer, length)) return ParseResult::NotThis("magic", "is not \"INDX\"");
  if (length < indx::kHeaderSize)
    return ParseResult::Damaged("index buffer", "is shorter than its header", length, 0, indx::kHeaderSize);
  ByteReader r(buffer, length);
  uint64_t allocated = r.u32(indx::kAllocatedSize);
  uint64_t indexLength = r.u32(indx::kIndexLength);
  uint64_t entriesOffset = r.u32(indx::kEntriesOffset);
  uint64_t count = r.u16(indx::kUsaCount);
  if (allocated > length)
    return ParseResult::Damaged("allocated size", "is larger than the buffer", allocated,
                                indx::kAllocatedSize, length);
  if (indexLength > allocated)
    return ParseResult::Damaged("index length", "is larger than the allocated size", indexLength,
                                indx::kIndexLength, allocated);
  if (count > indx::kMaxUsaCount)
    return ParseResult::Damaged("update-sequence count", "is above 16", count, indx::kUsaCount,
                                indx::kMaxUsaCount);
  if (count == 0 || length / indx::kStride < count - 1)
    return ParseResult::Damaged("update-sequence count", "names more strides than the buffer has", count,
                                indx::kUsaCount, length / indx::kStride + 1);
  // Summed in 64 bits: a 32-bit sum could wrap and let a huge entries offset through.
  uint64_t expected = ((allocated + entriesOffset) >> 9) + 1;
  if (count != expected)
    return ParseResult::Damaged("update-sequence count", "does not match the allocated size", count,
                                indx::kUsaCount, expected);
  uint16_t usaOffset = r.u16(indx::kUsaOffset);
  if (usaOffset < indx::kMinUsaOffset || usaOffset > indx::kMaxUsaOffset)
    return ParseResult::Damaged("update-sequence offset", "is outside 40..256", usaOffset, indx::kUsaOffset,
                                indx::kMaxUsaOffset);
  if (entriesOffset + indx::kEntryHeaderSize > indexLength)
    return ParseResult::Damaged("entries offset", "leaves no entry inside the index", entriesOffset,
                                indx::kEntriesOffset, indexLength);
  return ParseResult::Valid();
}

bool IsIndexBufferHeaderValid(const uint8_t* buffer, size_t length) {
  return CheckIndexBufferHeader(buffer, length).IsValid();
}

bool VerifyIndexBufferFixup(const uint8_t* buffer, size_t length) {
  corvale::ntfs::UpdateSequence plan;
  return PlanFixup(buffer, length, plan).IsValid() &&
         corvale::ntfs::VerifyUpdateSequence(buffer, length, plan).IsValid();
}

bool ApplyIndexBufferFixup(uint8_t* buffer, size_t length) {
  corvale::ntfs::UpdateSequence plan;
  return PlanFixup(buffer, length, plan).IsValid() &&
         corvale::ntfs::ApplyUpdateSequence(buffer, length, plan).IsValid();
}

bool RestoreIndexBufferFixup(uint8_t* buffer, size_t length) {
  corvale::ntfs::UpdateSequence plan;
  if (!PlanFixup(buffer, length, plan).IsValid()) return false;
  corvale::ntfs::RestoreUpdateSequence(buffer, length, plan);
  return true;
}

namespace corvale::ntfs::detail {

bool IndexBufferRegion(const uint8_t* buffer, size_t length, ByteReader& region, uint64_t& first) {
  ByteReader r(buffer, length);
  if (!r.has(0, indx::kHeaderSize)) return false;
  first = indx::kIndexHeader + uint64_t(r.u32(indx::kEntriesOffset));
  uint64_t end = indx::kIndexHeader + uint64_t(r.u32(indx::kIndexLength));
  if (end > length || first > end) return false;
  region = r.sub(0, end);
  return true;
}

bool IndexRootRegion(const CNTFSFileRecordAttribute& attribute, ByteReader& region, uint64_t& first) {
  if (!attribute || attribute.IsNonResident() ||
      !CheckAttribute(attribute.GetData(), attribute.GetLength()).IsValid())
    return false;
  ByteReader value = attribute.GetValue();
  if (!value.has(indx::kRootIndexHeader, 16)) return false;
  first = indx::kRootIndexHeader + uint64_t(value.u32(indx::kRootIndexHeader));
  uint64_t end = indx::kRootIndexHeader + uint64_t(value.u32(indx::kRootIndexHeader + 4));
  if (end > value.size() || first > end) return false;
  region = value.sub(0, end);
  return true;
}

}  // namespace corvale::ntfs::detail

ParseResult CheckIndexEntries(const uint8_t* buffer, size_t length) {
  ByteReader region;
  uint64_t first = 0;
  if (!corvale::ntfs::detail::IndexBufferRegion(buffer, length, region, first))
    return ParseResult::Damaged("index header", "places the entries outside the buffer", first,
                                indx::kEntriesOffset, length);
  bool haveParent = false;
  uint64_t parent = 0;
  ParseResult verdict = ParseResult::Valid();
  ParseResult walk = ForEachIndexEntry(region, first, [&](const NTFSIndexEntry& e) {
    if (e.IsLast()) return false;
    if (!haveParent) {
      // The first entry names the directory every other entry must name.
      if (!HasFileNameKey(e)) {
        verdict = ParseResult::Damaged("first index entry key", "is too short for a file name", e.keyLength,
                                       e.offset + indx::kEntryKeyLength, fn::kName);
        return false;
      }
      parent = e.key.u64(fn::kParentReference);
      haveParent = true;
    }
    // An entry that only points to a sub-node is passed over unchecked.
    if (e.flags == indx::kEntryFlagSubNode) return true;
    if (!HasFileNameKey(e)) {
      verdict = ParseResult::Damaged("index entry key", "is too short for a file name", e.keyLength,
                                     e.offset + indx::kEntryKeyLength, fn::kName);
      return false;
    }
    if (!IsIndexEntrySizeSane(e)) {
      verdict = ParseResult::Damaged("index entry data size", "is larger than its allocated size",
                                     e.key.u64(fn::kDataSize), e.offset + indx::kEntryKey + fn::kDataSize,
                                     e.key.u64(fn::kAllocatedSize));
      return false;
    }
    uint64_t entryParent = e.key.u64(fn::kParentReference);
    if (entryParent != parent) {
      verdict = ParseResult::Damaged("index entry parent", "differs from the first entry's", entryParent,
                                     e.offset + indx::kEntryKey, parent);
      return false;
    }
    return true;
  });
  if (!verdict.IsValid()) return verdict;
  return walk;
}

bool AreIndexEntriesConsistent(const uint8_t* buffer, size_t length) {
  return CheckIndexEntries(buffer, length).IsValid();
}

ParseResult CheckIndexBuffer(const uint8_t* buffer, size_t length) {
  ParseResult header = CheckIndexBufferHeader(buffer, length);
  if (!header.IsValid()) return header;
  // The count test bounds allocated size + entries offset below 8 KiB, so a copy on the stack holds
  // all that the fix-up and the walk read.
  ByteReader r(buffer, length);
  size_t used = indx::kIndexHeader + r.u32(indx::kAllocatedSize);
  size_t fixed = (r.u16(indx::kUsaCount) - 1u) * indx::kStride;
  uint8_t copy[kMaxCopy];
  size_t copyLength = std::min({length, std::max({used, fixed, size_t{indx::kStride}}), sizeof copy});
  std::memcpy(copy, buffer, copyLength);
  corvale::ntfs::UpdateSequence plan;
  ParseResult fixup = PlanFixup(copy, copyLength, plan);
  if (fixup.IsValid()) fixup = corvale::ntfs::ApplyUpdateSequence(copy, copyLength, plan);
  if (!fixup.IsValid()) return fixup;
  return CheckIndexEntries(copy, copyLength);
}

bool IsValidIndexBuffer(const uint8_t* buffer, size_t length) {
  return CheckIndexBuffer(buffer, length).IsValid();
}

int64_t GetIndexBufferParent(const uint8_t* buffer, size_t length) {
  int64_t parent = -1;
  ForEachIndexBufferEntry(buffer, length, [&](const NTFSIndexEntry& e) {
    if (!e.IsLast() && HasFileNameKey(e))
      parent = static_cast<int64_t>(e.key.u64(fn::kParentReference) & kRecordMask);
    return false;
  });
  return parent;
}

uint64_t GetIndexBufferVcn(const uint8_t* buffer, size_t length) {
  return ByteReader(buffer, length).u64(indx::kVcn);
}

uint64_t GetIndexEntryFileReference(const NTFSIndexEntry& entry) { return entry.fileReference; }

bool IsIndexEntrySizeSane(const NTFSIndexEntry& entry) {
  if (!entry.key.has(fn::kDataSize, 8)) return false;
  return static_cast<int64_t>(entry.key.u64(fn::kAllocatedSize)) >=
         static_cast<int64_t>(entry.key.u64(fn::kDataSize));
}

int64_t GetIndexRootParentReference(const CNTFSFileRecordAttribute& attribute) {
  // Only an $INDEX_ROOT whose value holds its whole index is walked.
  ByteReader value = attribute.GetValue();
  if (!attribute || attribute.IsNonResident() || !value.has(indx::kRootIndexHeader, 16)) return -1;
  uint64_t indexLength = value.u32(indx::kRootIndexHeader + 4);
  if (indexLength < 16 || value.size() < indexLength + 16) return -1;
  int64_t parent = -1;
  bool differs = false;
  ForEachIndexRootEntry(attribute, [&](const NTFSIndexEntry& e) {
    if (e.IsLast()) return false;
    if (e.flags != indx::kEntryFlagSubNode) {
      if (!HasFileNameKey(e) || e.key.u8(fn::kNameLength) == 0 || !IsIndexEntrySizeSane(e)) return false;
    } else if (!HasFileNameKey(e)) {
      return false;
    }
    int64_t number = static_cast<int64_t>(e.key.u64(fn::kParentReference) & kRecordMask);
    if (parent == -1) {
      parent = number;
    } else if (number != parent) {
      differs = true;
      return false;
    }
    return true;
  });
  return differs ? -1 : parent;
}

bool IsMFTAtPartitionStart(int64_t recordSector, int64_t firstCluster, int64_t partitionStart,
                           int64_t sectorsPerCluster) {
  if (sectorsPerCluster <= 0 || recordSector < partitionStart) return false;
  // Both non-negative after the test above, so the difference cannot overflow.
  uint64_t distance = uint64_t(recordSector) - uint64_t(partitionStart);
  return distance % uint64_t(sectorsPerCluster) == 0 && firstCluster >= 0 &&
         distance / uint64_t(sectorsPerCluster) == uint64_t(firstCluster);
}

std::string DescribeIndexBuffer(const uint8_t* buffer, size_t length) {
  ByteReader r(buffer, length);
  char text[384];
  std::snprintf(
      text, sizeof text,
      "INDX buffer (%s)\nupdate-sequence offset %u\nupdate-sequence count %u\nlog sequence number %" PRIu64
      "\nVCN %" PRIu64 "\nentries offset %u\nindex length %u\nallocated size %u\nflags 0x%X",
      CheckIndexBuffer(buffer, length).describe().c_str(), r.u16(indx::kUsaOffset), r.u16(indx::kUsaCount),
      r.u64(indx::kLogSequenceNumber), r.u64(indx::kVcn), r.u32(indx::kEntriesOffset),
      r.u32(indx::kIndexLength), r.u32(indx::kAllocatedSize), r.u8(indx::kHeaderFlags));
  return text;
}
