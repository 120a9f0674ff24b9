#include "raw/DrawingAnalysers.h"

#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"
#include "storage/ByteReader.h"

namespace {

constexpr char kDxfHeader[] = "  0\r\nSECTION\r\n  2\r\nHEADER\r\n";
constexpr char kDxfTrailer[] = "EOF\r\n";
constexpr uint8_t kFh11Header[16] = {0x1C, 0x01, 0x00, 0x00, 0x02, 0x00, 0x04, 0x1C,
                                     0x01, 0x14, 0x00, 0x02, 0x00, 0x14, 0x1C, 0x01};
constexpr char kFh11Trailer[] = "Decode\0\xFF\xFF\xFF\xFF";
constexpr uint8_t kEpsMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};

constexpr const char* kTrueTypeTags[] = {
    "DSIG", "cmap", "glyf", "head", "hhea", "hmtx", "loca", "maxp", "name", "post", "OS/2", "cvt ", "EBDT",
    "EBLC", "EBSC", "fpgm", "gasp", "hdmx", "kern", "LTSH", "prep", "PCLT", "VDMX", "vhea", "vmtx"};
constexpr uint32_t kMaxTables = 31;

}  // namespace

FileTTFAnalyser::FileTTFAnalyser() { m_typeId = kRawTypeTTF; }

RawLeadBytes FileTTFAnalyser::GetLeadBytes() const { return LeadBytesOf({0x00}); }

bool FileTTFAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (s[0] != 0 || s[1] != 1 || s[2] != 0 || s[3] != 0) return false;
  const corvale::ByteReader h(s, kRawHeaderBytes);
  const uint32_t tables = h.be16(4);
  if (tables == 0 || tables > kMaxTables) return false;
  // 31 records of 16 bytes from offset 12 end at 508: the whole table is in the first sector.
  uint64_t size = 12 + 16 * uint64_t{tables};
  uint32_t known = 0;
  for (uint32_t i = 0; i < tables; ++i) {
    const uint64_t record = 12 + 16 * uint64_t{i};
    size += (uint64_t{h.be32(record + 12)} + 3) / 4 * 4;
    for (const char* tag : kTrueTypeTags) {
      if (corvale::SameText(s + record, tag, 4)) {
        ++known;
        break;
      }
    }
  }
  if (2 * known < tables) return false;
  file->SetFileType(kRawTypeTTF);
  file->SetFileSize(size);
  return true;
}

FileDXFAnalyser::FileDXFAnalyser() { m_typeId = kRawTypeDXF; }

RawLeadBytes FileDXFAnalyser::GetLeadBytes() const { return LeadBytesOf({' '}); }

bool FileDXFAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, kDxfHeader, sizeof kDxfHeader - 1)) return false;
  file->SetFileType(kRawTypeDXF);
  return true;
}

bool FileDXFAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  return corvale::FindTrailer(file, device, kDxfTrailer, sizeof kDxfTrailer - 1);
}

FileFH11Analyser::FileFH11Analyser() { m_typeId = kRawTypeFH11; }

RawLeadBytes FileFH11Analyser::GetLeadBytes() const { return LeadBytesOf({0x1C}); }

bool FileFH11Analyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (std::memcmp(s, kFh11Header, sizeof kFh11Header) != 0 || !corvale::SameText(s + 34, "11", 2))
    return false;
  file->SetFileType(kRawTypeFH11);
  return true;
}

bool FileFH11Analyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  return corvale::FindTrailer(file, device, kFh11Trailer, sizeof kFh11Trailer - 1);
}

FileEPSAnalyser::FileEPSAnalyser() { m_typeId = kRawTypeEPS; }

RawLeadBytes FileEPSAnalyser::GetLeadBytes() const { return LeadBytesOf({0xC5}); }

bool FileEPSAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (std::memcmp(s, kEpsMagic, 4) != 0 || s[28] != 0xFF || s[29] != 0xFF) return false;
  const corvale::ByteReader h(s, kRawHeaderBytes);
  uint64_t size;
  if (corvale::SameText(s + 30, "%!", 2) || (s[30] == 0 && s[31] == 0)) {
    // The PostScript section comes first; the file ends with the preview (only one of the two
    // preview kinds is present, the other's fields are zero).
    size = uint64_t{h.u32(12)} + h.u32(16) + h.u32(20) + h.u32(24);
  } else if (corvale::SameTextNoCase(s + 30, "II", 2)) {
    // A TIFF preview comes first; the file ends with the PostScript section.
    size = uint64_t{h.u32(4)} + h.u32(8);
  } else {
    return false;
  }
  if (size == 0) return false;
  file->SetFileType(kRawTypeEPS);
  file->SetFileSize(size);
  return true;
}

File3DSAnalyser::File3DSAnalyser() { m_typeId = kRawType3DS; }

RawLeadBytes File3DSAnalyser::GetLeadBytes() const { return LeadBytesOf({0x4D}); }

bool File3DSAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  const corvale::ByteReader h(s, kRawHeaderBytes);
  if (h.u16(0) != 0x4D4D || h.u16(16) != 0x3D3D) return false;
  const uint32_t size = h.u32(2);
  if (size == 0 || size < h.u32(18)) return false;
  file->SetFileType(kRawType3DS);
  file->SetFileSize(size);
  return true;
}
