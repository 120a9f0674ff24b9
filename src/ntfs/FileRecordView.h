#pragma once
// A view of one FILE record with its fix-up applied, and what is read through it: the metadata-file
// tests, the volume name, and the copy of a record's header.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ntfs/FileRecordAttribute.h"
#include "ntfs/FileRecordHeader.h"
#include "ntfs/NtfsParse.h"

// Holds a record buffer with its fix-up applied. Construction checks the buffer with
// IsValidNTFSFileRecord; a buffer that fails leaves the view empty (IsValid false). A view over the
// caller's buffer (copy = false) applies the fix-up in that buffer and puts the stride ends back
// when it is destroyed; a copying view leaves the caller's buffer alone.
//
// A record whose fix-up does not verify is still a FILE record (IsValid, since its attributes are
// sound) but its outcome is Damaged: two bytes of each stride are not the record's own. Readers
// take names from such a record for the deleted-file scan but no data runs.
class CNTFSFileRecordView {
 public:
  CNTFSFileRecordView(uint8_t* buffer, size_t length, bool copy);
  // Always copies.
  CNTFSFileRecordView(const uint8_t* buffer, size_t length);
  ~CNTFSFileRecordView();
  CNTFSFileRecordView(const CNTFSFileRecordView&) = delete;
  CNTFSFileRecordView& operator=(const CNTFSFileRecordView&) = delete;

  bool IsValid() const { return m_buffer != nullptr; }
  bool IsFixupApplied() const { return m_fixupApplied; }
  // Valid; Damaged for a record that failed a check or whose fix-up did not verify (the error
  // names the field); NotThisStructure without the "FILE" magic.
  const corvale::ntfs::ParseResult& GetParseResult() const { return m_result; }
  // The record bytes (null when not valid) and their count: what the caller gave, cut to the
  // record's allocated size (at least 1024 bytes).
  const uint8_t* GetBuffer() const { return m_buffer; }
  size_t GetLength() const { return m_buffer ? m_length : 0; }

  bool IsInUse() const { return ::IsInUse(m_buffer, GetLength()); }
  bool IsDirectoryRecord() const { return ::IsDirectoryRecord(m_buffer, GetLength()); }
  bool IsExtensionRecord() const { return ::IsExtensionRecord(m_buffer, GetLength()); }
  uint64_t GetBaseRecordReference() const { return ::GetBaseRecordReference(m_buffer, GetLength()); }
  uint64_t GetLogSequenceNumber() const { return ::GetLogSequenceNumber(m_buffer, GetLength()); }
  bool HasOwnRecordNumber() const { return ::HasOwnRecordNumber(m_buffer, GetLength()); }
  int64_t GetOwnRecordNumber() const { return ::GetOwnRecordNumber(m_buffer, GetLength()); }
  bool HasNonResidentIndexAllocation() const {
    return ::HasNonResidentIndexAllocation(m_buffer, GetLength());
  }

  CNTFSFileRecordAttribute FindAttribute(uint32_t type, int n = 0) const {
    return ::FindAttribute(m_buffer, GetLength(), type, n);
  }
  int CountAttributes(uint32_t type) const { return ::CountAttributes(m_buffer, GetLength(), type); }

  // The header fields and every attribute; for trace logging.
  std::string describe() const;

 private:
  std::vector<uint8_t> m_copy;
  uint8_t* m_buffer = nullptr;
  size_t m_length = 0;
  bool m_fixupApplied = false;
  corvale::ntfs::ParseResult m_result;
};

// The metadata files by record number and name, searched in this order.
struct NTFSMetadataFile {
  int64_t recordNumber;
  const char* name;
};
extern const NTFSMetadataFile kNTFSMetadataFiles[15];

// The number the first $FILE_NAME's name has in the metadata table (same length, same units); -1 for
// an empty view, an extension record, a record without a usable $FILE_NAME, or another name.
int64_t GetMetadataFileNumber(const CNTFSFileRecordView& view);
// A metadata name and a $STANDARD_INFORMATION with both hidden and system set.
bool IsMetadataFileRecord(const CNTFSFileRecordView& view);
// A valid view, $STANDARD_INFORMATION with hidden and system set, and the first $FILE_NAME equal to
// `name`. The buffer form wraps `length` bytes in a copying view.
bool IsNamedMetadataFileRecord(const CNTFSFileRecordView& view, const char* name);
bool IsNamedMetadataFileRecord(const uint8_t* buffer, size_t length, const char* name);

inline bool IsMFTFileRecord(const CNTFSFileRecordView& v) { return IsNamedMetadataFileRecord(v, "$MFT"); }
inline bool IsMFTMirrFileRecord(const CNTFSFileRecordView& v) {
  return IsNamedMetadataFileRecord(v, "$MFTMirr");
}
inline bool IsLogFileFileRecord(const CNTFSFileRecordView& v) {
  return IsNamedMetadataFileRecord(v, "$LogFile");
}
inline bool IsVolumeFileRecord(const CNTFSFileRecordView& v) {
  return IsNamedMetadataFileRecord(v, "$Volume");
}
inline bool IsAttrDefFileRecord(const CNTFSFileRecordView& v) {
  return IsNamedMetadataFileRecord(v, "$AttrDef");
}
inline bool IsBitmapFileRecord(const CNTFSFileRecordView& v) {
  return IsNamedMetadataFileRecord(v, "$Bitmap");
}
inline bool IsUpCaseFileRecord(const CNTFSFileRecordView& v) {
  return IsNamedMetadataFileRecord(v, "$UpCase");
}
inline bool IsMFTFileRecord(const uint8_t* b, size_t n) { return IsNamedMetadataFileRecord(b, n, "$MFT"); }
inline bool IsMFTMirrFileRecord(const uint8_t* b, size_t n) {
  return IsNamedMetadataFileRecord(b, n, "$MFTMirr");
}
inline bool IsLogFileFileRecord(const uint8_t* b, size_t n) {
  return IsNamedMetadataFileRecord(b, n, "$LogFile");
}
inline bool IsVolumeFileRecord(const uint8_t* b, size_t n) {
  return IsNamedMetadataFileRecord(b, n, "$Volume");
}
inline bool IsAttrDefFileRecord(const uint8_t* b, size_t n) {
  return IsNamedMetadataFileRecord(b, n, "$AttrDef");
}
inline bool IsBitmapFileRecord(const uint8_t* b, size_t n) {
  return IsNamedMetadataFileRecord(b, n, "$Bitmap");
}
inline bool IsUpCaseFileRecord(const uint8_t* b, size_t n) {
  return IsNamedMetadataFileRecord(b, n, "$UpCase");
}

// The volume label held in the $VOLUME_NAME of the $Volume record (record 3). The record must pass
// IsValidNTFSFileRecord and be the $Volume record; its $VOLUME_NAME value must lie inside the first
// 1024 bytes. The label is written to `out` as UTF-8, at most 80 bytes, cut at a character boundary,
// without a terminator (the caller clears the buffer first); `*written` gets the byte count. Nothing
// is written when false.
constexpr size_t kNTFSVolumeNameBytes = 80;
bool GetNTFSVolumeName(const uint8_t* record, size_t length, char* out, size_t* written = nullptr);

// An owned copy of the bytes of a record before its first attribute: the header and the
// update-sequence array.
class CNTFSFileRecordHeader {
 public:
  // Keeps the copy when IsFileRecordHeaderValid holds and the first attribute lies inside the
  // buffer; false otherwise (the old copy is dropped).
  bool CopyFileRecordHeader(const uint8_t* buffer, size_t length);
  const uint8_t* GetBytes() const { return m_bytes.empty() ? nullptr : m_bytes.data(); }
  size_t GetLength() const { return m_bytes.size(); }

 private:
  std::vector<uint8_t> m_bytes;
};
