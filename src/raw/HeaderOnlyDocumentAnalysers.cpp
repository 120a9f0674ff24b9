#include "raw/DocumentAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"
#include "storage/ByteReader.h"

namespace {

constexpr uint8_t kWord2[4] = {0xDB, 0xA5, 0x2D, 0x00};
constexpr uint8_t kWord6[4] = {0x94, 0xA6, 0x2E, 0x00};
constexpr uint8_t kCompound[4] = {0xD0, 0xCF, 0x11, 0xE0};
constexpr uint8_t kOneNote[16] = {0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D,
                                  0xAE, 0xB1, 0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3};
constexpr uint8_t kDbxA[16] = {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F,
                               0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0};
constexpr uint8_t kDbxB[16] = {0xCF, 0xAD, 0x12, 0xFE, 0x30, 0x9D, 0xFE, 0x26,
                               0x8F, 0x1A, 0xD2, 0x11, 0xAA, 0xBF, 0x00, 0x60};
constexpr uint8_t kJmf[8] = {'J', 'M', 'F', '6', 0x03, 0x00, 0x10, 0x00};

struct WpRow {
  uint32_t at8;
  uint32_t at14;
  int32_t type;
};
constexpr WpRow kWpRows[] = {
    {0x01020A01, 0x00050200, kRawTypeWPD},
    {0x00021601, 0x00030000, kRawTypeWPG},
    {0x00010F0F, 0x00030000, kRawTypeSHW},
};

// Header-only formats: a header that tells no length leaves nothing to carve.
bool SetSized(CRawFileInfo* file, int32_t type, uint64_t size) {
  if (size == 0) return false;
  file->SetFileType(type);
  file->SetFileSize(size);
  return true;
}

}  // namespace

FileLowDocAnalyser::FileLowDocAnalyser() { m_typeId = kRawTypeDOC; }

RawLeadBytes FileLowDocAnalyser::GetLeadBytes() const { return LeadBytesOf({0xDB, 0x94, 0xD0}); }

bool FileLowDocAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  const corvale::ByteReader h(s, kRawHeaderBytes);
  // 64-bit sums: header fields near 2^32 must not wrap to a tiny size.
  if (std::memcmp(s, kCompound, 4) == 0) return SetSized(file, kRawTypeDOC, (uint64_t{h.u32(48)} + 5) * 512);
  if (std::memcmp(s, kWord2, 4) != 0 && std::memcmp(s, kWord6, 4) != 0) return false;
  const uint64_t size = uint64_t{h.u32(292)} + h.u16(296);
  return SetSized(file, kRawTypeDOC, (size + 511) / 512 * 512);
}

FileWPDAnalyser::FileWPDAnalyser() { m_typeId = kRawTypeWPD; }

RawLeadBytes FileWPDAnalyser::GetLeadBytes() const { return LeadBytesOf({0xFF}); }

bool FileWPDAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, "\xFFWPC", 4)) return false;
  const corvale::ByteReader h(s, kRawHeaderBytes);
  for (const WpRow& row : kWpRows) {
    if (h.u32(8) == row.at8 && h.u32(14) == row.at14) return SetSized(file, row.type, h.u32(20));
  }
  return false;
}

FilePSTAnalyser::FilePSTAnalyser() { m_typeId = kRawTypePST; }

RawLeadBytes FilePSTAnalyser::GetLeadBytes() const { return LeadBytesOf({'!'}); }

bool FilePSTAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, "!BDN", 4)) return false;
  const corvale::ByteReader h(s, kRawHeaderBytes);
  switch (h.u8(10)) {
    case 14:
      return SetSized(file, kRawTypePST, h.u32(168));
    case 23:
      // The Unicode format keeps a 64-bit end-of-file offset there; its high half counts too.
      return SetSized(file, kRawTypePST, h.u64(184));
    default:
      return SetSized(file, kRawTypePST, 0x100000);
  }
}

FileONEAnalyser::FileONEAnalyser() { m_typeId = kRawTypeONE; }

RawLeadBytes FileONEAnalyser::GetLeadBytes() const { return LeadBytesOf({0xE4}); }

bool FileONEAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (std::memcmp(s, kOneNote, sizeof kOneNote) != 0) return false;
  const uint32_t size = corvale::ByteReader(s, kRawHeaderBytes).u32(196);
  return SetSized(file, kRawTypeONE, size == 0 || size > 0x40000000 ? 0x300000 : size);
}

FileMNYAnalyser::FileMNYAnalyser() { m_typeId = kRawTypeMNY; }

bool FileMNYAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s + 4, "MSISAM Database", 15)) return false;
  return SetSized(file, kRawTypeMNY, 0x100000);
}

FileDBXAnalyser::FileDBXAnalyser() { m_typeId = kRawTypeDBX; }

RawLeadBytes FileDBXAnalyser::GetLeadBytes() const { return LeadBytesOf({0xCF, 'J'}); }

bool FileDBXAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  bool match = std::memcmp(s, kDbxB, 16) == 0 || std::memcmp(s, kJmf, sizeof kJmf) == 0;
  // The first class id comes in three variants, told apart by byte 4.
  if (!match && std::memcmp(s, kDbxA, 4) == 0 && std::memcmp(s + 5, kDbxA + 5, 11) == 0)
    match = s[4] == 0xC5 || s[4] == 0xC6 || s[4] == 0xC7;
  if (!match) return false;
  return SetSized(file, kRawTypeDBX, corvale::ByteReader(s, kRawHeaderBytes).u32(124));
}

FileHLPAnalyser::FileHLPAnalyser() { m_typeId = kRawTypeHLP; }

RawLeadBytes FileHLPAnalyser::GetLeadBytes() const { return LeadBytesOf({0x3F}); }

bool FileHLPAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, "\x3F\x5F\x03\x00", 4)) return false;
  const corvale::ByteReader h(s, kRawHeaderBytes);
  const uint32_t size = h.u32(12);
  if (size < 512 || size < h.u32(4)) return false;
  return SetSized(file, kRawTypeHLP, size);
}
