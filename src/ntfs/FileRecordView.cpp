#include "ntfs/FileRecordView.h"

#include <cinttypes>
#include <cstdio>

#include "ntfs/NtfsText.h"
#include "storage/ByteReader.h"

using corvale::ByteReader;
using corvale::ntfs::ParseResult;
namespace attr = corvale::ntfs::attr;
namespace rec = corvale::ntfs::rec;
namespace si = corvale::ntfs::si;

CNTFSFileRecordView::CNTFSFileRecordView(uint8_t* buffer, size_t length, bool copy) {
  if (!IsValidNTFSFileRecord(buffer, length)) {
    m_result = CheckFileRecord(buffer, length);
    return;
  }
  m_length = FileRecordLength(buffer, length);
  if (copy) {
    m_copy.assign(buffer, buffer + m_length);
    m_buffer = m_copy.data();
  } else {
    m_buffer = buffer;
  }
  m_fixupApplied = ApplyFileRecordFixup(m_buffer, m_length);
  if (!m_fixupApplied) m_result = CheckFileRecord(m_buffer, m_length);
}

// The delegated constructor only reads `buffer` when it copies, so the cast writes nothing.
CNTFSFileRecordView::CNTFSFileRecordView(const uint8_t* buffer, size_t length)
    : CNTFSFileRecordView(const_cast<uint8_t*>(buffer), length, true) {}

CNTFSFileRecordView::~CNTFSFileRecordView() {
  if (m_fixupApplied && m_copy.empty()) RestoreFileRecordFixup(m_buffer, m_length);
}

std::string CNTFSFileRecordView::describe() const {
  if (!m_buffer) return "no record (" + m_result.describe() + ")";
  ByteReader r(m_buffer, m_length);
  char text[512];
  std::snprintf(
      text, sizeof text,
      "FILE record (%s)\nupdate-sequence offset %u\nupdate-sequence count %u\nlog sequence number %" PRIu64
      "\nsequence number %u\nlink count %u\nfirst attribute 0x%X\nflags 0x%04X\nbytes in use %u\n"
      "bytes allocated %u\nbase reference 0x%016" PRIX64 "\nown record number %" PRId64 "\n",
      m_result.describe().c_str(), r.u16(rec::kUsaOffset), r.u16(rec::kUsaCount),
      r.u64(rec::kLogSequenceNumber), r.u16(rec::kSequenceNumber), r.u16(rec::kLinkCount),
      r.u16(rec::kFirstAttribute), r.u16(rec::kFlags), r.u32(rec::kBytesInUse), r.u32(rec::kBytesAllocated),
      r.u64(rec::kBaseReference), GetOwnRecordNumber());
  std::string out = text;
  ForEachAttribute(m_buffer, m_length, [&](const CNTFSFileRecordAttribute& a) {
    out += a.describe();
    out += "\n";
    return true;
  });
  return out;
}

const NTFSMetadataFile kNTFSMetadataFiles[15] = {
    {0, "$MFT"},     {1, "$MFTMirr"}, {2, "$LogFile"}, {3, "$Volume"},  {4, "$AttrDef"},
    {5, "."},        {6, "$Bitmap"},  {7, "$Boot"},    {8, "$BadClus"}, {9, "$Secure"},
    {10, "$UpCase"}, {11, "$Extend"}, {32, "$Quota"},  {33, "$ObjId"},  {34, "$Reparse"},
};

namespace {

bool HiddenAndSystem(const CNTFSFileRecordView& view) {
  NTFSStandardInformation info;
  CNTFSFileRecordAttribute a = view.FindAttribute(attr::kStandardInformation);
  if (!a || !ParseStandardInformationValue(a.GetValue(), info).IsValid()) return false;
  return (info.flags & (si::kFlagHidden | si::kFlagSystem)) == (si::kFlagHidden | si::kFlagSystem);
}

bool FirstFileName(const CNTFSFileRecordView& view, NTFSFileName& out) {
  CNTFSFileRecordFileNameAttribute name(view.FindAttribute(attr::kFileName));
  if (!name.IsUsable()) return false;
  out = name.GetFileName();
  return true;
}

}  // namespace

int64_t GetMetadataFileNumber(const CNTFSFileRecordView& view) {
  NTFSFileName name;
  if (!view.IsValid() || view.IsExtensionRecord() || !FirstFileName(view, name)) return -1;
  for (const NTFSMetadataFile& file : kNTFSMetadataFiles) {
    if (corvale::ntfs::Utf16LeEqualsAscii(name.name, name.nameLength, file.name)) return file.recordNumber;
  }
  return -1;
}

bool IsMetadataFileRecord(const CNTFSFileRecordView& view) {
  return GetMetadataFileNumber(view) != -1 && HiddenAndSystem(view);
}

bool IsNamedMetadataFileRecord(const CNTFSFileRecordView& view, const char* name) {
  NTFSFileName first;
  return view.IsValid() && HiddenAndSystem(view) && FirstFileName(view, first) &&
         corvale::ntfs::Utf16LeEqualsAscii(first.name, first.nameLength, name);
}

bool IsNamedMetadataFileRecord(const uint8_t* buffer, size_t length, const char* name) {
  CNTFSFileRecordView view(buffer, length);
  return IsNamedMetadataFileRecord(view, name);
}

bool GetNTFSVolumeName(const uint8_t* record, size_t length, char* out, size_t* written) {
  if (!out) return false;
  CNTFSFileRecordView view(record, length);
  if (!view.IsValid() || !IsVolumeFileRecord(view)) return false;
  CNTFSFileRecordAttribute a = view.FindAttribute(attr::kVolumeName);
  if (!a || a.IsNonResident()) return false;
  ByteReader value = a.GetValue();
  // GetValue is empty when the value does not fit; an empty label is a label all the same.
  if (value.size() == 0 && a.GetValueLength() != 0) return false;
  size_t n = corvale::ntfs::Utf16LeToUtf8(value.data(), value.size() / 2, out, kNTFSVolumeNameBytes);
  if (written) *written = n;
  return true;
}

bool CNTFSFileRecordHeader::CopyFileRecordHeader(const uint8_t* buffer, size_t length) {
  m_bytes.clear();
  if (!IsFileRecordHeaderValid(buffer, length)) return false;
  size_t first = ByteReader(buffer, length).u16(rec::kFirstAttribute);
  if (first > length) return false;
  m_bytes.assign(buffer, buffer + first);
  return true;
}
