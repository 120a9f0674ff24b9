#include <cstring>

#include "raw/DocumentAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {

bool Printable(uint8_t c) { return (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n'; }

// The longest mark the PDF scan compares.
constexpr uint64_t kLongestMark = 10;

}  // namespace

FilePDFAnalyser::FilePDFAnalyser() { m_typeId = kRawTypePDF; }

RawLeadBytes FilePDFAnalyser::GetLeadBytes() const { return LeadBytesOf({'%'}); }

bool FilePDFAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, "%PDF-", 5)) return false;
  file->SetFileType(kRawTypePDF);
  return true;
}

bool FilePDFAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const uint64_t cap = corvale::WalkCap(reader);
  const uint64_t end = reader.BytesToDeviceEnd();
  corvale::RawWalkPump pump;
  int32_t type = kRawTypePDF;
  uint64_t position = 4;
  // The end of the last end-of-file mark of a PDF that the walk went on past, because what followed
  // it was an incremental update of the same document.
  uint64_t lastEof = 0;
  bool ended = false;
  while (!ended && position <= cap) {
    const corvale::ByteReader window = reader.ReadAt(position);
    if (window.size() == 0) {
      if (lastEof == 0) return false;
      break;
    }
    const uint64_t avail = window.size();
    // Inside the window, only where every mark fits, unless the device ends with the window.
    const uint64_t scanTo =
        position + avail >= end || avail <= kLongestMark + 3 ? avail : avail - kLongestMark - 3;
    bool markEnded = false;
    uint64_t i = 0;
    while (i < scanTo && position + i <= cap) {
      const uint8_t* p = window.data() + i;
      const uint64_t left = avail - i;
      if (left >= 10 && corvale::SameText(p, "%!PS-Adobe", 10)) {
        type = kRawTypeAI;
      } else if (left >= 5 && corvale::SameText(p, "%%EOF", 5)) {
        if (type == kRawTypePDF) {
          i += 6;
          markEnded = true;
          break;
        }
        // An Illustrator file goes on past the mark while text follows it.
        const bool text = left >= 8 && Printable(p[5]) && Printable(p[6]) && Printable(p[7]);
        i += 7;
        if (!text) {
          ended = true;
          break;
        }
        continue;
      } else if (left >= 5 && corvale::SameText(p, "%PDF-", 5)) {
        // The next document starts here.
        ended = true;
        break;
      }
      ++i;
    }
    if (i == 0) break;
    pump.Steps(i);
    position += i;
    if (markEnded) {
      lastEof = position;
      // A PDF saved again with its changes appended has one mark per saving: the walk goes on while
      // the next update follows the mark.
      ended = !UpdateFollows(&reader, position, end);
    }
  }
  if (lastEof != 0 && type == kRawTypePDF) position = lastEof;
  file->SetFileType(type);
  file->SetFileSize(std::min(position, end));
  return true;
}

bool FilePDFAnalyser::UpdateFollows(CRawSectorReader* reader, uint64_t at, uint64_t end) {
  if (at >= end) return false;
  const corvale::ByteReader next = reader->Read(at, std::min<uint64_t>(kUpdateLookAhead, end - at));
  if (next.size() == 0) return false;
  const uint8_t* p = next.data();
  const size_t n = next.size();
  auto white = [](uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; };
  auto digit = [](uint8_t c) { return c >= '0' && c <= '9'; };
  size_t i = 0;
  while (i < n && white(p[i])) ++i;
  auto startsWith = [&](size_t from, const char* text) {
    const size_t length = std::strlen(text);
    return from + length <= n && corvale::SameText(p + from, text, length);
  };
  // An update begins with changed objects ("12 0 obj"), or with the cross-reference section
  // and trailer alone.
  if (startsWith(i, "xref") || startsWith(i, "trailer") || startsWith(i, "startxref")) return true;
  for (int number = 0; number < 2; ++number) {
    const size_t first = i;
    while (i < n && digit(p[i])) ++i;
    if (i == first || i >= n || !white(p[i])) return false;
    while (i < n && white(p[i])) ++i;
  }
  return startsWith(i, "obj");
}

FileRTFAnalyser::FileRTFAnalyser() { m_typeId = kRawTypeRTF; }

RawLeadBytes FileRTFAnalyser::GetLeadBytes() const { return LeadBytesOf({'{'}); }

bool FileRTFAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, "{\\rtf", 5)) return false;
  file->SetFileType(kRawTypeRTF);
  return true;
}

bool FileRTFAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const uint64_t limit = corvale::RawWalkLimit();
  corvale::RawWalkPump pump;
  uint64_t depth = 1;
  uint64_t position = 5;
  bool escaped = false;
  while (position <= limit) {
    const corvale::ByteReader window = reader.ReadAt(position);
    if (window.size() == 0) {
      file->SetFileSize(position);
      return false;
    }
    uint64_t i = 0;
    for (; i < window.size() && position + i <= limit; ++i) {
      const uint8_t c = window.data()[i];
      if (c == 0) {
        file->SetFileSize(position + i);
        return false;
      }
      // A brace after a backslash is a literal character, not a group.
      if (escaped) {
        escaped = false;
        continue;
      }
      if (c == '\\') {
        escaped = true;
      } else if (c == '{') {
        ++depth;
      } else if (c == '}' && --depth == 0) {
        file->SetFileSize(position + i + 1);
        return true;
      }
    }
    pump.Steps(i);
    position += i;
  }
  file->SetFileSize(position);
  return true;
}

FileHTMAnalyser::FileHTMAnalyser() { m_typeId = kRawTypeHTM; }

RawLeadBytes FileHTMAnalyser::GetLeadBytes() const { return LeadBytesOf({'<'}); }

bool FileHTMAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  bool page = corvale::SameTextNoCase(s, "<HTML>", 6) || corvale::SameTextNoCase(s, "<!DOCTYPE HTML", 14);
  if (!page && s[0] == '<' && s[1] == '!') {
    for (size_t at = 0; at <= 504 && !page; ++at) page = corvale::SameTextNoCase(s + at, "<HTML>", 6);
  }
  if (!page) return false;
  file->SetFileType(kRawTypeHTM);
  return true;
}

bool FileHTMAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  return corvale::FindTrailer(file, device, "</HTML>", 7, kTrailerLimit);
}

namespace {

// `text` in UTF-16 little-endian at `p`, letters compared without regard to case.
bool SameWideTextNoCase(const uint8_t* p, const char* text, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[2 * i + 1] != 0 || !corvale::SameTextNoCase(p + 2 * i, text + i, 1)) return false;
  }
  return true;
}

}  // namespace

FileUnicodeHTMAnalyser::FileUnicodeHTMAnalyser() { m_typeId = kRawTypeHTM; }

RawLeadBytes FileUnicodeHTMAnalyser::GetLeadBytes() const { return LeadBytesOf({0xFF}); }

bool FileUnicodeHTMAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, "\xFF\xFE<\0", 4)) return false;
  if (!SameWideTextNoCase(s + 2, "<HTML>", 6) && !(s[4] == '!' && s[5] == 0)) return false;
  bool page = false;
  for (size_t at = 2; at <= 498 && !page; at += 2) page = SameWideTextNoCase(s + at, "<HTML>", 6);
  if (!page) return false;
  file->SetFileType(kRawTypeHTM);
  return true;
}

bool FileUnicodeHTMAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  corvale::RawWalkPump pump;
  constexpr uint64_t kTag = 14;  // "</HTML>" in UTF-16
  uint64_t position = 14;
  while (position <= kScanLimit) {
    const corvale::ByteReader window = reader.ReadAt(position);
    if (window.size() < kTag) return false;
    uint64_t i = 0;
    for (; i + kTag <= window.size() && position + i <= kScanLimit; i += 2) {
      const uint8_t* p = window.data() + i;
      const uint16_t c = static_cast<uint16_t>(p[0] | (p[1] << 8));
      if (c == 0 || c == 0xFFFF || c == 0xFEFF) {
        file->SetFileSize(position + i);
        return true;
      }
      if (SameWideTextNoCase(p, "</HTML>", 7)) {
        file->SetFileSize(std::min(position + i + 16, reader.BytesToDeviceEnd()));
        return true;
      }
    }
    pump.Steps(i / 2);
    position += i;
  }
  file->SetFileSize(std::min(position, reader.BytesToDeviceEnd()));
  return true;
}

FileMDBAnalyser::FileMDBAnalyser() { m_typeId = kRawTypeMDB; }

RawLeadBytes FileMDBAnalyser::GetLeadBytes() const { return LeadBytesOf({0x00}); }

bool FileMDBAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, "\0\x01\0\0", 4)) return false;
  if (corvale::SameText(s + 4, "Standard Jet DB\0", 16))
    file->SetFileType(kRawTypeMDB);
  else if (corvale::SameText(s + 4, "Standard ACE DB\0", 16))
    file->SetFileType(kRawTypeACCDB);
  else
    return false;
  return true;
}

bool FileMDBAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const uint64_t cap = corvale::WalkCap(reader);
  corvale::RawWalkPump pump;
  uint64_t position = kPage;
  while (position < kMaxSize && position <= cap) {
    pump.Step();
    const corvale::ByteReader page = reader.Read(position, 1);
    if (page.size() == 0 || page.u8(0) == 0) break;
    position += kPage;
  }
  file->SetFileSize(std::min(position, cap));
  return true;
}
