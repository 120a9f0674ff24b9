#pragma once
// The MFT file record ("FILE" record) header and its update-sequence fix-up (FORMAT.md, "FILE
// record"). A record is read over its allocated size: 1024 bytes (also when the header says less),
// up to 4096, never more than the caller's buffer holds. The fix-up covers every 512-byte stride of
// that, and the attribute walk runs to its end, so a 4096-byte record whose attributes pass the first
// 1024 bytes is read whole.
//
// Buffers are caller-owned. The tests never change them: the ones that need the fix-up applied
// work on a copy on the stack. Only Apply/RestoreFileRecordFixup write, and say so.

#include <cstddef>
#include <cstdint>

#include "ntfs/NtfsParse.h"

namespace corvale::ntfs::rec {
constexpr uint32_t kMinRecordSize = 1024;
constexpr uint32_t kMaxAllocated = 4096;
constexpr uint32_t kStride = 512;  // update-sequence stride, whatever the device's sector size

constexpr size_t kMagic = 0x00;  // "FILE"
constexpr size_t kUsaOffset = 0x04;
constexpr size_t kUsaCount = 0x06;
constexpr size_t kLogSequenceNumber = 0x08;
constexpr size_t kSequenceNumber = 0x10;
constexpr size_t kLinkCount = 0x12;
constexpr size_t kFirstAttribute = 0x14;
constexpr size_t kFlags = 0x16;
constexpr size_t kBytesInUse = 0x18;
constexpr size_t kBytesAllocated = 0x1C;
constexpr size_t kBaseReference = 0x20;
constexpr size_t kNextAttributeInstance = 0x28;
constexpr size_t kReserved2A = 0x2A;  // 0 in the newer (48-byte) layout
constexpr size_t kOwnRecordNumber = 0x2C;
constexpr size_t kHeaderSize = 0x30;

constexpr uint16_t kMinUsaOffset = 42;
constexpr uint16_t kMaxUsaOffset = 256;
constexpr uint16_t kMaxUsaCount = 16;

constexpr uint16_t kFlagInUse = 0x0001;
constexpr uint16_t kFlagDirectory = 0x0002;

constexpr uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFull;  // low 48 bits of a file reference
}  // namespace corvale::ntfs::rec

// The header test, in this order: magic "FILE"; update-sequence count at most 16; bytes allocated at
// most 4096 and a multiple of 1024 (0 passes); count - 1 sectors fit in the allocated bytes (count 0
// fails); update-sequence offset from 42 to 256. Needs the 48 header bytes.
bool IsFileRecordHeaderValid(const uint8_t* buffer, size_t length);
corvale::ntfs::ParseResult CheckFileRecordHeader(const uint8_t* buffer, size_t length);

// The bytes of the record that the checks read: its allocated size, 1024 when the header gives less,
// 4096 at most, and never more than `length`.
size_t FileRecordLength(const uint8_t* buffer, size_t length);

// The update-sequence fix-up over the count - 1 strides of 512 bytes that FileRecordLength covers.
// Each refuses a buffer shorter than 1024 bytes or an array that does not fit.
//   Verify:  the last word of each handled stride equals the update sequence number.
//   Apply:   Verify, then put array word i + 1 back into the last word of stride i. Writes.
//   Restore: save the last word of stride i into array word i + 1, then write the sequence number
//            back there. Writes.
bool VerifyFileRecordFixup(const uint8_t* buffer, size_t length);
bool ApplyFileRecordFixup(uint8_t* buffer, size_t length);
bool RestoreFileRecordFixup(uint8_t* buffer, size_t length);

// Whether the bytes are a FILE record as the scan and the directory build take one: at least 1024
// bytes, the header test, then the attribute walk over the record with its fix-up applied (on a
// copy). A fix-up that does not verify does not reject the record; the walk then runs over the bytes
// as they are.
bool IsValidNTFSFileRecord(const uint8_t* buffer, size_t length);

// The record with three outcomes. NotThisStructure without the "FILE" magic; Damaged when the header
// test fails, when the record is shorter than 1024 bytes, when a stride end does not carry the
// update sequence number (a torn write: such a record may still be a FILE record for
// IsValidNTFSFileRecord, but its contents are not to be trusted), or when an attribute breaks the
// walk. The error names the field.
corvale::ntfs::ParseResult CheckFileRecord(const uint8_t* buffer, size_t length);

// Header fields. Each reads the header only and answers false or 0 for a buffer too short to hold it.
bool IsInUse(const uint8_t* record, size_t length);            // flags bit 0; clear = deleted
bool IsDirectoryRecord(const uint8_t* record, size_t length);  // flags bit 1
bool IsExtensionRecord(const uint8_t* record, size_t length);  // base reference non-zero
uint64_t GetBaseRecordReference(const uint8_t* record, size_t length);
uint64_t GetLogSequenceNumber(const uint8_t* record, size_t length);
// The record's own number is stored only in the newer layout: update-sequence offset 48 or more and
// the word at 0x2A zero.
bool HasOwnRecordNumber(const uint8_t* record, size_t length);
int64_t GetOwnRecordNumber(const uint8_t* record, size_t length);  // -1 when not stored
