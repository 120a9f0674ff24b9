#include <algorithm>

#include "raw/MediaAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {

constexpr uint64_t kTagHeader = 10;
constexpr uint64_t kFrameHeader = 10;
constexpr uint64_t kId3v1Bytes = 128;
// A text frame body is read up to this many bytes: enough for the longest text kept in UTF-16.
constexpr uint64_t kMaxTextBody = 2 * FileMP3Analyser::kTextCapacity + 4;

// Bit rates in kbit/s by [MPEG 1 or not][layer - 1][index].
constexpr uint16_t kBitRates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};
// Sampling rates by version index (2.5, reserved, 2, 1) and rate index.
constexpr uint32_t kSamplingRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

bool IsId3v2Start(const uint8_t* p) { return corvale::SameText(p, "ID3", 3) && (p[3] == 3 || p[3] == 4); }

void AppendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

size_t Utf8Length(uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

// Latin-1 text up to its NUL, as UTF-8 of at most `room` bytes.
std::string Latin1ToUtf8(const uint8_t* p, size_t n, size_t room) {
  std::string text;
  for (size_t i = 0; i < n && p[i] != 0; ++i) {
    if (text.size() + Utf8Length(p[i]) > room) break;
    AppendUtf8(&text, p[i]);
  }
  return text;
}

// The next code point of UTF-8 `p[0..n)` from `*i`; 0xFFFFFFFF for a malformed sequence.
uint32_t NextUtf8(const uint8_t* p, size_t n, size_t* i) {
  const uint8_t c = p[(*i)++];
  if (c < 0x80) return c;
  int more;
  uint32_t cp;
  if ((c & 0xE0) == 0xC0) {
    more = 1, cp = c & 0x1Fu;
  } else if ((c & 0xF0) == 0xE0) {
    more = 2, cp = c & 0x0Fu;
  } else if ((c & 0xF8) == 0xF0) {
    more = 3, cp = c & 0x07u;
  } else {
    return 0xFFFFFFFF;
  }
  for (int k = 0; k < more; ++k) {
    if (*i >= n || (p[*i] & 0xC0) != 0x80) return 0xFFFFFFFF;
    cp = (cp << 6) | (p[(*i)++] & 0x3F);
  }
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFFFFFF;
  return cp;
}

}  // namespace

FileMP3Analyser::FileMP3Analyser() { m_typeId = kRawTypeMP3; }

RawLeadBytes FileMP3Analyser::GetLeadBytes() const { return LeadBytesOf({'I'}); }

bool FileMP3Analyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!IsId3v2Start(s)) return false;
  file->SetFileType(kRawTypeMP3);
  return true;
}

bool FileMP3Analyser::ReadSyncsafeSize(const uint8_t* b, uint32_t* out) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    if (b[i] & 0x80) return false;
    v = (v << 7) | b[i];
  }
  *out = v;
  return true;
}

bool FileMP3Analyser::ParseFrameHeader(const uint8_t* b) {
  MpegFrameHeader h;
  h.versionIndex = (b[1] >> 3) & 3;
  if (h.versionIndex == 1) return false;
  const uint32_t layerBits = (b[1] >> 1) & 3;
  if (layerBits == 0) return false;
  h.layer = 4 - layerBits;
  h.lowSamplingFrequency = h.versionIndex != 3;
  const uint32_t rateIndex = b[2] >> 4;
  if (rateIndex == 15) return false;
  h.bitRate = kBitRates[h.lowSamplingFrequency ? 1 : 0][h.layer - 1][rateIndex] * 1000u;
  if (h.bitRate == 0) return false;
  const uint32_t samplingIndex = (b[2] >> 2) & 3;
  if (samplingIndex == 3) return false;
  h.samplingRate = kSamplingRates[h.versionIndex][samplingIndex];
  h.padding = (b[2] >> 1) & 1;
  h.channelMode = b[3] >> 6;
  h.emphasis = b[3] & 3;
  if (h.emphasis == 2) return false;
  if (h.layer == 2 && !h.lowSamplingFrequency) {
    // Layer II of MPEG 1 allows the low rates for mono only, the highest ones never for mono.
    const uint32_t kbps = h.bitRate / 1000;
    const bool mono = h.channelMode == 3;
    if ((kbps == 32 || kbps == 48 || kbps == 56 || kbps == 80) && !mono) return false;
    if (kbps >= 224 && mono) return false;
  }
  m_frame = h;
  return true;
}

unsigned FileMP3Analyser::GetFrameLength() const {
  if (m_frame.samplingRate == 0) return 0;
  const uint64_t coefficient =
      m_frame.layer == 1 ? 12 : (m_frame.layer == 3 && m_frame.lowSamplingFrequency ? 72 : 144);
  const uint64_t slot = m_frame.layer == 1 ? 4 : 1;
  return static_cast<unsigned>((coefficient * m_frame.bitRate / m_frame.samplingRate + m_frame.padding) *
                               slot);
}

void FileMP3Analyser::DecodeId3Text(const uint8_t* body, size_t length, std::string* out, size_t capacity) {
  if (length == 0 || capacity == 0) return;
  const size_t room = capacity - 1;  // the place of the terminating NUL
  const uint8_t encoding = body[0];
  const uint8_t* p = body + 1;
  const size_t n = length - 1;
  std::string text;
  switch (encoding) {
    case 0:  // Latin-1
      text = Latin1ToUtf8(p, n, room);
      break;
    case 1: {  // UTF-16 with a little-endian byte-order mark
      if (n < 2 || p[0] != 0xFF || p[1] != 0xFE) return;
      for (size_t i = 2; i + 1 < n;) {
        uint32_t cp = p[i] | (p[i + 1] << 8);
        i += 2;
        if (cp == 0) break;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
          if (i + 1 >= n) break;
          const uint32_t low = p[i] | (p[i + 1] << 8);
          if (low < 0xDC00 || low > 0xDFFF) break;
          i += 2;
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
          break;
        }
        if (text.size() + Utf8Length(cp) > room) break;
        AppendUtf8(&text, cp);
      }
      break;
    }
    case 3: {  // UTF-8: checked, and cut at a malformed sequence
      for (size_t i = 0; i < n;) {
        if (p[i] == 0) break;
        const uint32_t cp = NextUtf8(p, n, &i);
        if (cp == 0xFFFFFFFF) break;
        if (text.size() + Utf8Length(cp) > room) break;
        AppendUtf8(&text, cp);
      }
      break;
    }
    default:  // UTF-16 big-endian (2) is not read
      return;
  }
  *out = std::move(text);
}

bool FileMP3Analyser::NextFrameFollows(CRawSectorReader* reader, uint64_t at) {
  const MpegFrameHeader found = m_frame;
  const corvale::ByteReader next = reader->Read(at, 4);
  bool follows = next.size() == 4 && next.u8(0) == 0xFF && next.u8(1) >= 0xE0 && next.u8(2) <= 0xEF &&
                 ParseFrameHeader(next.data());
  // Frames of one stream keep their version, layer and sampling rate.
  follows = follows && m_frame.versionIndex == found.versionIndex && m_frame.layer == found.layer &&
            m_frame.samplingRate == found.samplingRate && GetFrameLength() > 0;
  m_frame = found;
  return follows;
}

bool FileMP3Analyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  // Nothing of the file measured before may remain.
  m_title.clear();
  m_year.clear();
  m_frame = MpegFrameHeader();

  CRawSectorReader reader(device, file->GetStartSector());
  const corvale::ByteReader head = reader.Read(0, kTagHeader);
  if (head.size() == 0) return false;
  uint32_t tagSize = 0;
  if (!ReadSyncsafeSize(head.data() + 6, &tagSize)) return false;
  const uint64_t tagEnd = kTagHeader + tagSize;

  // The tag's frames: the title and the year. Each frame must lie inside the tag, so the walk
  // moves on by at least 10 bytes a frame and ends at the tag's end.
  corvale::RawWalkPump pump;
  for (uint64_t position = kTagHeader; position < tagSize;) {
    pump.Step();
    const corvale::ByteReader frame = reader.Read(position, kFrameHeader);
    if (frame.size() == 0) break;
    const uint64_t size = frame.be32(4);
    if (size == 0 || size > tagEnd - position - kFrameHeader) break;
    std::string* target = corvale::SameText(frame.data(), "TIT2", 4)   ? &m_title
                          : corvale::SameText(frame.data(), "TYER", 4) ? &m_year
                                                                       : nullptr;
    if (target) {
      const uint64_t bodyBytes = std::min(size, kMaxTextBody);
      const corvale::ByteReader body = reader.Read(position + kFrameHeader, bodyBytes);
      if (body.size() != 0) DecodeId3Text(body.data(), body.size(), target, kTextCapacity);
    }
    position += kFrameHeader + size;
  }

  // The audio: frame after frame; between frames (or after the last) the scan steps a byte at a
  // time, looking for a frame, a closing ID3v1 tag or the tag of the next file.
  const uint64_t limit = corvale::WalkCap(reader);
  const uint64_t sectorSize = reader.SectorSize();
  uint64_t base = tagEnd;
  uint64_t step = 0;
  for (uint64_t i = 0; i < kMaxGap && base + i <= limit; ++step) {
    // The hook every 16 steps: ten counted steps always reach one multiple of ten.
    if (step % 16 == 0) pump.Steps(10);
    const uint64_t at = base + i;
    const corvale::ByteReader here = reader.ReadAt(at);
    if (here.size() == 0) break;
    const uint8_t* p = here.data();
    const size_t have = here.size();
    if (p[0] == 0xFF && have >= 4 && p[1] >= 0xE0 && p[2] <= 0xEF) {
      if (ParseFrameHeader(p)) {
        const unsigned length = GetFrameLength();
        // A frame right where the last one ends carries the stream on. One met only after stepping
        // over other bytes is taken when the frame after it is there too: four bytes that merely
        // look like a header are common in the sound or pictures of the files that follow.
        if (length > 0 && (i == 0 || NextFrameFollows(&reader, at + length))) {
          base = at + length;
          i = 0;
          continue;
        }
      }
    } else if (p[0] == 'T' && have >= 3 && corvale::SameText(p, "TAG", 3)) {
      // An ID3v1 tag counts when it ends the file: on a sector's end, or with only zeros after it
      // up to the sector's end.
      const uint64_t end = at + kId3v1Bytes;
      const uint64_t rest = (sectorSize - end % sectorSize) % sectorSize;
      const corvale::ByteReader tag = reader.Read(at, kId3v1Bytes + rest);
      if (tag.size() != 0 &&
          std::all_of(tag.data() + kId3v1Bytes, tag.data() + tag.size(), [](uint8_t b) { return b == 0; })) {
        if (m_title.empty()) m_title = Latin1ToUtf8(tag.data() + 3, 30, kTextCapacity - 1);
        if (m_year.empty()) m_year = Latin1ToUtf8(tag.data() + 93, 4, kTextCapacity - 1);
        base = end;
        break;
      }
    } else if (p[0] == 'I' && at % sectorSize == 0 && have >= kTagHeader && IsId3v2Start(p)) {
      uint32_t next = 0;
      if (ReadSyncsafeSize(p + 6, &next)) break;  // the next file begins here
    }
    ++i;
  }
  if (base <= tagEnd) return false;
  file->SetFirstInfoText(m_title);
  file->SetSecondInfoText(m_year);
  file->SetFileSize(std::min(base, limit));
  return true;
}
