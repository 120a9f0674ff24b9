// Picture formats whose first sector tells the file's length: BMP, ICO/CUR, EMF, WMF.
#include "raw/ImageAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"
#include "storage/ByteReader.h"

using corvale::ByteReader;

FileBMPAnalyser::FileBMPAnalyser() { m_typeId = kRawTypeBMP; }

RawLeadBytes FileBMPAnalyser::GetLeadBytes() const { return LeadBytesOf({'B'}); }

bool FileBMPAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  const ByteReader r(s, kRawHeaderBytes);
  if (s[0] != 'B' || s[1] != 'M' || r.u16(6) != 0 || r.u16(8) != 0) return false;
  file->SetFileType(kRawTypeBMP);
  const uint32_t infoSize = r.u32(14);
  if (infoSize != 40 && infoSize != 124) {
    file->SetFileSize(0);
    return false;
  }
  file->SetFileSize(r.u32(2));
  return true;
}

FileICOAnalyser::FileICOAnalyser() { m_typeId = kRawTypeICO; }

RawLeadBytes FileICOAnalyser::GetLeadBytes() const { return LeadBytesOf({0x00}); }

bool FileICOAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (s[0] != 0 || s[1] != 0 || (s[2] != 1 && s[2] != 2) || s[3] != 0) return false;
  const ByteReader r(s, kRawHeaderBytes);
  const int kind = s[2];
  file->SetFileType(kind == 1 ? kRawTypeICO : kRawTypeCUR);
  const uint32_t images = r.u16(4);
  if (images < 1 || images > 16) return false;
  uint64_t size = 6;
  for (uint32_t i = 0; i < images; ++i) {
    const uint64_t e = 6 + 16ull * i;
    const uint32_t dataSize = r.u32(e + 8);
    if (r.u8(e + 3) != 0 || r.u16(e + 6) > 256 || dataSize > 0xA00000 || r.u32(e + 12) > 0xA00000)
      return false;
    size += dataSize + 16ull;
  }
  if (size >= 0x100001) return false;
  file->SetFileSize(size);
  return true;
}

FileEMFAnalyser::FileEMFAnalyser() { m_typeId = kRawTypeEMF; }

bool FileEMFAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  const ByteReader r(s, kRawHeaderBytes);
  if (!corvale::SameText(s + 40, " EMF", 4) || r.u16(58) != 0 || r.u32(48) == 0) return false;
  file->SetFileType(kRawTypeEMF);
  file->SetFileSize(r.u32(48));
  return true;
}

FileWMFAnalyser::FileWMFAnalyser() { m_typeId = kRawTypeWMF; }

RawLeadBytes FileWMFAnalyser::GetLeadBytes() const { return LeadBytesOf({0x01, 0xD7}); }

bool FileWMFAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  const ByteReader r(s, kRawHeaderBytes);
  // Sizes count 16-bit words; doubled in 64 bits they cannot wrap to a small size.
  if (r.u32(0) == 0x00090001 && r.u16(16) == 0) {
    file->SetFileType(kRawTypeWMF);
    file->SetFileSize(2ull * r.u32(6));
    return true;
  }
  if (r.u32(0) == 0x9AC6CDD7) {
    uint16_t check = 0;
    for (int i = 0; i < 10; ++i) check ^= r.u16(2 * i);
    if (check != r.u16(20) || r.u16(4) != 0 || r.u32(16) != 0 || r.u32(22) != 0x00090001 || r.u16(38) != 0)
      return false;
    file->SetFileType(kRawTypeWMF);
    file->SetFileSize(22 + 2ull * r.u32(28));
    return true;
  }
  return false;
}
