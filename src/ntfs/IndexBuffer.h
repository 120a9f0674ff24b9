#pragma once
// Directory index buffers ("INDX") and index entries (FORMAT.md, "Index buffers"): the tests the scan
// applies, the entry walk, the parent a buffer or an $INDEX_ROOT belongs to, and the placement test of
// an MFT found by the scan.

#include <cstddef>
#include <cstdint>

#include "ntfs/FileRecordAttribute.h"
#include "ntfs/NtfsParse.h"
#include "storage/ByteReader.h"

namespace corvale::ntfs::indx {
constexpr size_t kMagic = 0x00;  // "INDX"
constexpr size_t kUsaOffset = 0x04;
constexpr size_t kUsaCount = 0x06;
constexpr size_t kLogSequenceNumber = 0x08;
constexpr size_t kVcn = 0x10;
constexpr size_t kIndexHeader = 0x18;  // the index header; its offsets count from here
constexpr size_t kEntriesOffset = 0x18;
constexpr size_t kIndexLength = 0x1C;
constexpr size_t kAllocatedSize = 0x20;
constexpr size_t kHeaderFlags = 0x24;
constexpr size_t kHeaderSize = 0x28;

constexpr uint16_t kMinUsaOffset = 40;
constexpr uint16_t kMaxUsaOffset = 256;
constexpr uint16_t kMaxUsaCount = 16;
constexpr uint32_t kStride = 512;

// Index entry.
constexpr size_t kEntryFileReference = 0x00;
constexpr size_t kEntryLength = 0x08;
constexpr size_t kEntryKeyLength = 0x0A;
constexpr size_t kEntryFlags = 0x0C;
constexpr size_t kEntryKey = 0x10;
constexpr size_t kEntryHeaderSize = 0x10;
constexpr uint16_t kEntryFlagSubNode = 0x01;
constexpr uint16_t kEntryFlagLast = 0x02;

// $INDEX_ROOT value: the index header sits at 0x10 and its offsets count from there.
constexpr size_t kRootIndexHeader = 0x10;
}  // namespace corvale::ntfs::indx

// One index entry, read in place.
struct NTFSIndexEntry {
  uint32_t offset = 0;  // in the buffer or value it was walked in
  uint64_t fileReference = 0;
  uint16_t length = 0;
  uint16_t keyLength = 0;
  uint16_t flags = 0;
  corvale::ByteReader bytes;  // the whole entry
  corvale::ByteReader key;    // empty when the entry has no key or the key does not fit the entry

  bool IsLast() const { return flags & corvale::ntfs::indx::kEntryFlagLast; }
  bool HasSubNode() const { return flags & corvale::ntfs::indx::kEntryFlagSubNode; }
  // The key read as a $FILE_NAME value (directory indexes); Damaged when it is too short.
  corvale::ntfs::ParseResult GetFileName(NTFSFileName& out) const { return ParseFileNameValue(key, out); }
};

// Walks the entries in `region` from `first` on: each must have a header, a length of at least 0x10
// and lie inside the region; the walk ends after the entry flagged last, at an entry of length 0, or
// at the first entry that breaks those rules (reported as Damaged, naming it). visit(entry) returns
// false to stop early.
template <typename Visit>
corvale::ntfs::ParseResult ForEachIndexEntry(corvale::ByteReader region, uint64_t first, Visit visit);

// "INDX" at the start.
bool IsIndexBuffer(const uint8_t* buffer, size_t length);
// In this order: magic; length >= allocated size; allocated size >= index length; update-sequence
// count <= 16; length / 512 >= count - 1; count = ((allocated size + entries offset) >> 9) + 1;
// update-sequence offset 40 to 256; and the entries (0x10 bytes of them at least) lie inside the
// index, which lies inside the buffer.
bool IsIndexBufferHeaderValid(const uint8_t* buffer, size_t length);
corvale::ntfs::ParseResult CheckIndexBufferHeader(const uint8_t* buffer, size_t length);

// The update-sequence fix-up over all count - 1 strides of 512 bytes (see the FILE record's).
bool VerifyIndexBufferFixup(const uint8_t* buffer, size_t length);
bool ApplyIndexBufferFixup(uint8_t* buffer, size_t length);
bool RestoreIndexBufferFixup(uint8_t* buffer, size_t length);

// On a buffer with its fix-up applied: every entry up to the last one names the same parent
// directory (record and sequence number) as the first entry, and has allocated size >= data size.
// Entries flagged "sub-node" alone are passed over; an entry of length 0 ends the walk.
bool AreIndexEntriesConsistent(const uint8_t* buffer, size_t length);
corvale::ntfs::ParseResult CheckIndexEntries(const uint8_t* buffer, size_t length);

// Header valid, every stride end carries the sequence number, entries consistent (checked on a copy
// with the fix-up applied; the caller's buffer is not changed).
bool IsValidIndexBuffer(const uint8_t* buffer, size_t length);
corvale::ntfs::ParseResult CheckIndexBuffer(const uint8_t* buffer, size_t length);

// The record number (48 bits) of the parent named by the first entry's key; -1 when the buffer has
// no such entry. The buffer is read as given.
int64_t GetIndexBufferParent(const uint8_t* buffer, size_t length);
// The virtual cluster of the buffer inside its directory's index allocation.
uint64_t GetIndexBufferVcn(const uint8_t* buffer, size_t length);
// Walks the entries of an index buffer (fix-up applied by the caller).
template <typename Visit>
corvale::ntfs::ParseResult ForEachIndexBufferEntry(const uint8_t* buffer, size_t length, Visit visit);

uint64_t GetIndexEntryFileReference(const NTFSIndexEntry& entry);
// Allocated size >= data size (signed 64-bit) in the entry's key; false without a full key.
bool IsIndexEntrySizeSane(const NTFSIndexEntry& entry);

// The record number of the directory whose $INDEX_ROOT this is: the parent shared by its entries;
// -1 when the attribute is not a sound resident one, no entry was walked, or two entries differ.
int64_t GetIndexRootParentReference(const CNTFSFileRecordAttribute& attribute);
// Walks the entries held in an $INDEX_ROOT attribute.
template <typename Visit>
corvale::ntfs::ParseResult ForEachIndexRootEntry(const CNTFSFileRecordAttribute& attribute, Visit visit);

// Whether an $MFT record at `recordSector` whose data starts at `firstCluster` sits where a partition
// starting at `partitionStart` with `sectorsPerCluster` would put it.
bool IsMFTAtPartitionStart(int64_t recordSector, int64_t firstCluster, int64_t partitionStart,
                           int64_t sectorsPerCluster);

// The header fields of an index buffer; for trace logging.
std::string DescribeIndexBuffer(const uint8_t* buffer, size_t length);

// ---------------------------------------------------------------------------------------------

template <typename Visit>
corvale::ntfs::ParseResult ForEachIndexEntry(corvale::ByteReader region, uint64_t first, Visit visit) {
  namespace indx = corvale::ntfs::indx;
  using corvale::ntfs::ParseResult;
  uint64_t offset = first;
  while (true) {
    if (!region.has(offset, indx::kEntryHeaderSize))
      return ParseResult::Damaged("index entry", "runs past the index end", offset, offset, region.size());
    NTFSIndexEntry entry;
    entry.offset = static_cast<uint32_t>(offset);
    entry.fileReference = region.u64(offset + indx::kEntryFileReference);
    entry.length = region.u16(offset + indx::kEntryLength);
    entry.keyLength = region.u16(offset + indx::kEntryKeyLength);
    entry.flags = region.u16(offset + indx::kEntryFlags);
    // The length test comes first: an entry that does not move the walk on would hold it forever.
    // A length of 0 ends the entries as the last entry would (what is left is unused space).
    if (entry.length == 0) return ParseResult::Valid();
    if (entry.length < indx::kEntryHeaderSize)
      return ParseResult::Damaged("index entry length", "is shorter than an entry header", entry.length,
                                  offset + indx::kEntryLength, indx::kEntryHeaderSize);
    if (!region.has(offset, entry.length))
      return ParseResult::Damaged("index entry length", "runs past the index end", entry.length,
                                  offset + indx::kEntryLength, region.size() - offset);
    entry.bytes = region.sub(offset, entry.length);
    if (!entry.IsLast() && entry.keyLength != 0 && entry.keyLength <= entry.length - indx::kEntryHeaderSize)
      entry.key = entry.bytes.sub(indx::kEntryKey, entry.keyLength);
    if (!visit(entry)) return ParseResult::Valid();
    if (entry.IsLast()) return ParseResult::Valid();
    offset += entry.length;
  }
}

namespace corvale::ntfs::detail {
// The region [0, 0x18 + index length) of an index buffer and the offset of its first entry; false
// when the index header does not fit the buffer.
bool IndexBufferRegion(const uint8_t* buffer, size_t length, corvale::ByteReader& region, uint64_t& first);
bool IndexRootRegion(const CNTFSFileRecordAttribute& attribute, corvale::ByteReader& region, uint64_t& first);
}  // namespace corvale::ntfs::detail

template <typename Visit>
corvale::ntfs::ParseResult ForEachIndexBufferEntry(const uint8_t* buffer, size_t length, Visit visit) {
  corvale::ByteReader region;
  uint64_t first = 0;
  if (!corvale::ntfs::detail::IndexBufferRegion(buffer, length, region, first))
    return corvale::ntfs::ParseResult::Damaged("index header", "places the entries outside the buffer", first,
                                               0, length);
  return ForEachIndexEntry(region, first, visit);
}

template <typename Visit>
corvale::ntfs::ParseResult ForEachIndexRootEntry(const CNTFSFileRecordAttribute& attribute, Visit visit) {
  corvale::ByteReader region;
  uint64_t first = 0;
  if (!corvale::ntfs::detail::IndexRootRegion(attribute, region, first))
    return corvale::ntfs::ParseResult::Damaged("$INDEX_ROOT", "places the entries outside its value", first,
                                               0, attribute.GetValueLength());
  return ForEachIndexEntry(region, first, visit);
}
