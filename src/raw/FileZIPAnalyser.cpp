#include <optional>

#include "raw/ArchiveAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kDescriptorSignature = 0x08074B50;
constexpr uint64_t kDescriptor = 16;  // signature, CRC, compressed and uncompressed size
constexpr uint16_t kSizesInDescriptor = 0x0008;
constexpr uint64_t kSearchChunk = 4096;
constexpr uint64_t kLocalHeader = 30;
constexpr uint64_t kCentralHeader = 46;
constexpr uint64_t kEndRecord = 22;

struct PartType {
  const char* name;
  int32_t type;
};
constexpr PartType kOfficeParts[] = {
    {"word/_rels/document.xml.rels", kRawTypeDOCX},
    {"xl/_rels/workbook.xml.rels", kRawTypeXLSX},
    {"ppt/_rels/presentation.xml.rels", kRawTypePPTX},
};

bool NameIs(const corvale::ByteReader& r, uint64_t at, uint64_t length, const char* name) {
  const size_t n = std::strlen(name);
  return length == n && r.has(at, n) && corvale::SameText(r.data() + at, name, n);
}

// One record of the archive, judged from its fixed part.
struct Record {
  uint32_t signature = 0;
  uint64_t length = 0;  // the whole record, data included
  uint64_t nameAt = 0;  // from the record's start
  uint64_t nameLength = 0;
};

// The length of an entry's data whose sizes follow it in a data descriptor (as streaming writers
// such as LibreOffice's store them): the first descriptor whose compressed size is its distance from
// the data's start. Nothing when none is found before `limit`.
std::optional<uint64_t> DataBeforeDescriptor(CRawSectorReader& reader, uint64_t dataStart, uint64_t limit) {
  corvale::RawWalkPump pump;
  for (uint64_t chunk = dataStart; chunk < limit; chunk += kSearchChunk) {
    pump.Step();
    // Each chunk is read with the descriptor that may begin in its last byte.
    corvale::ByteReader bytes = reader.Read(chunk, kSearchChunk + kDescriptor);
    if (bytes.size() == 0) bytes = reader.ReadAt(chunk);  // the device's last bytes
    if (bytes.size() < kDescriptor) return std::nullopt;
    for (uint64_t i = 0; i < kSearchChunk && i + kDescriptor <= bytes.size(); ++i) {
      if (bytes.u32(i) != kDescriptorSignature) continue;
      const uint64_t length = chunk + i - dataStart;
      if (bytes.u32(i + 8) == length) return length;
    }
  }
  return std::nullopt;
}

// The record at `position`, or nothing (signature 0) when the bytes there are no valid record.
Record ReadRecord(CRawSectorReader& reader, uint64_t position, uint64_t limit) {
  Record rec;
  const corvale::ByteReader sig = reader.Read(position, 4);
  if (sig.size() == 0) return rec;
  const uint32_t signature = sig.u32(0);
  if (signature == kLocalSignature) {
    const corvale::ByteReader h = reader.Read(position, kLocalHeader);
    if (h.size() == 0 || h.u16(8) > FileZIPAnalyser::kMaxMethod || h.u16(26) > FileZIPAnalyser::kMaxLocalName)
      return rec;
    rec.nameAt = kLocalHeader;
    rec.nameLength = h.u16(26);
    rec.length = kLocalHeader + rec.nameLength + h.u16(28) + static_cast<uint64_t>(h.u32(18));
    if ((h.u16(6) & kSizesInDescriptor) != 0 && h.u32(18) == 0) {
      const std::optional<uint64_t> data = DataBeforeDescriptor(reader, position + rec.length, limit);
      if (!data) return rec;
      rec.length += *data + kDescriptor;
    }
  } else if (signature == kCentralSignature) {
    const corvale::ByteReader h = reader.Read(position, kCentralHeader);
    if (h.size() == 0) return rec;
    rec.nameAt = kCentralHeader;
    rec.nameLength = h.u16(28);
    rec.length = kCentralHeader + rec.nameLength + h.u16(30) + h.u16(32);
  } else if (signature == kEndSignature) {
    const corvale::ByteReader h = reader.Read(position, kEndRecord);
    if (h.size() == 0) return rec;
    rec.length = kEndRecord + h.u16(20);
  } else {
    return rec;
  }
  rec.signature = signature;
  return rec;
}

// The record's name, read whole; empty when the device ends inside it.
corvale::ByteReader ReadName(CRawSectorReader& reader, uint64_t position, const Record& rec) {
  if (rec.nameLength == 0) return {};
  return reader.Read(position + rec.nameAt, rec.nameLength);
}

}  // namespace

FileZIPAnalyser::FileZIPAnalyser() { m_typeId = kRawTypeZIP; }

RawLeadBytes FileZIPAnalyser::GetLeadBytes() const { return LeadBytesOf({'P'}); }

bool FileZIPAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, "PK\x03\x04", 4)) return false;
  file->SetFileType(kRawTypeZIP);
  return true;
}

bool FileZIPAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  m_officeOpenXml = false;
  m_corelDraw = false;
  CRawSectorReader reader(device, file->GetStartSector());
  const uint64_t limit = corvale::WalkCap(reader);
  const Record first = ReadRecord(reader, 0, limit);
  if (first.signature == 0) return false;
  if (first.signature == kLocalSignature) {
    const corvale::ByteReader name = ReadName(reader, 0, first);
    m_officeOpenXml = NameIs(name, 0, first.nameLength, "[Content_Types].xml");
    m_corelDraw = NameIs(name, 0, first.nameLength, "content/riffData.cdr");
  }

  corvale::RawWalkPump pump;
  int32_t type = kRawTypeZIP;
  int32_t officeType = kRawTypeZIP;
  uint64_t position = 0;
  // Every record is at least 22 bytes long, so the walk ends at the cap.
  while (position <= limit) {
    pump.Step();
    const Record rec = ReadRecord(reader, position, limit);
    if (rec.signature == 0) break;
    if (rec.signature == kLocalSignature) {
      const corvale::ByteReader name = ReadName(reader, position, rec);
      // Writers other than Microsoft's may store the content types after the parts.
      if (NameIs(name, 0, rec.nameLength, "[Content_Types].xml")) m_officeOpenXml = true;
      for (const PartType& part : kOfficeParts) {
        if (NameIs(name, 0, rec.nameLength, part.name)) officeType = part.type;
      }
    }
    position += rec.length;
    // Nothing after the end of the central directory belongs to the archive: the bytes there are
    // another file's, or slack.
    if (rec.signature == kEndSignature) break;
  }
  if (m_officeOpenXml) type = officeType;
  if (m_corelDraw && !m_officeOpenXml) type = kRawTypeCDR;
  file->SetFileType(type);
  file->SetFileSize(std::min(position, limit));
  return true;
}
