#include "raw/MediaAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"
#include "storage/ByteReader.h"

namespace {

// The RIFF forms told apart by their form type at 8 and first chunk at 12; the first match wins.
struct RiffForm {
  const char* form;
  const char* chunk;   // at 12; null for CMX, which is told by a text at 20
  const char* chunk2;  // a second chunk allowed at 12, or null
  int32_t type;
};
constexpr RiffForm kRiffForms[] = {
    {"WAVE", "fmt ", nullptr, kRawTypeWAV}, {"AVI ", "LIST", nullptr, kRawTypeAVI},
    {"ACON", "LIST", "anih", kRawTypeANI},  {"CMX1", nullptr, nullptr, kRawTypeCMX},
    {"CARC", "vrsn", nullptr, kRawTypeCLK}, {"CSL2", "vrsn", nullptr, kRawTypeCSL},
    {"CDR7", "vrsn", nullptr, kRawTypeCDR}, {"CDR8", "vrsn", nullptr, kRawTypeCDR},
    {"cdr8", "vrsn", nullptr, kRawTypeCDR}, {"CDR9", "vrsn", nullptr, kRawTypeCDR},
    {"CDRA", "vrsn", nullptr, kRawTypeCDR}, {"CDRB", "vrsn", nullptr, kRawTypeCDR},
    {"CDRC", "vrsn", nullptr, kRawTypeCDR},
};
constexpr char kCmxText[] = "{Corel Binary Meta File}";

int32_t RiffType(const uint8_t* s) {
  for (const RiffForm& f : kRiffForms) {
    if (!f.chunk) {
      if (corvale::SameText(s + 8, f.form, 4) && corvale::SameText(s + 20, kCmxText, 24)) return f.type;
      continue;
    }
    if (!corvale::SameTextNoCase(s + 8, f.form, 4)) continue;
    if (corvale::SameTextNoCase(s + 12, f.chunk, 4) ||
        (f.chunk2 && corvale::SameTextNoCase(s + 12, f.chunk2, 4)))
      return f.type;
  }
  return kRawTypeRIFF;
}

}  // namespace

FileRIFFAnalyser::FileRIFFAnalyser() { m_typeId = kRawTypeRIFF; }

RawLeadBytes FileRIFFAnalyser::GetLeadBytes() const { return LeadBytesOf({'R'}); }

bool FileRIFFAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, "RIFF", 4)) return false;
  const corvale::ByteReader h(s, kRawHeaderBytes);
  file->SetFileType(RiffType(s));
  // The chunk length counts what follows the 8-byte chunk header; 64-bit, so it never wraps.
  file->SetFileSize(uint64_t{h.u32(4)} + 8);
  return true;
}

FileAUAnalyser::FileAUAnalyser() { m_typeId = kRawTypeAU; }

RawLeadBytes FileAUAnalyser::GetLeadBytes() const { return LeadBytesOf({'.'}); }

bool FileAUAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, ".snd", 4)) return false;
  file->SetFileType(kRawTypeAU);
  const corvale::ByteReader h(s, kRawHeaderBytes);
  const uint64_t offset = h.be32(4);
  const uint32_t dataSize = h.be32(8);
  // A data size of all ones means "unknown": the stream was written where it could not be updated.
  if (offset <= 23 || dataSize == 0xFFFFFFFF) {
    file->SetFileSize(0);
    return false;
  }
  file->SetFileSize(offset + dataSize);
  return true;
}

FileSWFAnalyser::FileSWFAnalyser() { m_typeId = kRawTypeSWF; }

RawLeadBytes FileSWFAnalyser::GetLeadBytes() const { return LeadBytesOf({'F', 'C'}); }

bool FileSWFAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, "FWS", 3) && !corvale::SameText(s, "CWS", 3)) return false;
  const corvale::ByteReader h(s, kRawHeaderBytes);
  // A header with no length would leave the file to a length pass this format has not.
  const uint32_t size = h.u32(4);
  if (size == 0) return false;
  file->SetFileType(kRawTypeSWF);
  file->SetFileSize(size);
  return true;
}
