#include "raw/FileJPGAnalyser.h"

#include <cstring>

#include "raw/ExifReader.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {

enum class Variant { Jfif, Exif, Plain };

constexpr uint8_t kSof0 = 0xC0;
constexpr uint8_t kSof2 = 0xC2;
constexpr uint8_t kSos = 0xDA;
constexpr uint8_t kFill = 0xFF;
constexpr uint8_t kSoi = 0xD8;
constexpr uint8_t kEoi = 0xD9;

// Marker segments that may stand between the scans of one image: tables (DHT, DAC, DQT), the
// restart interval (DRI), the line count (DNL), hierarchical progression (DHP, EXP), another scan
// header (SOS), application data and comments. Each carries its length.
bool IsSegmentBetweenScans(uint8_t code) {
  return code == 0xC4 || code == 0xCC || (code >= 0xDA && code <= 0xDF) || (code >= 0xE0 && code <= 0xEF) ||
         code == 0xFE;
}

}  // namespace

FileJPGAnalyser::FileJPGAnalyser() { m_typeId = kRawTypeJPG; }

RawLeadBytes FileJPGAnalyser::GetLeadBytes() const { return LeadBytesOf({0xFF}); }

bool FileJPGAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (s[0] != 0xFF || s[1] != 0xD8 || s[2] != 0xFF) return false;
  const bool quantFirst = s[3] == 0xDB;
  if (s[3] != 0xE0 && s[3] != 0xE1 && !quantFirst) return false;
  if (!quantFirst && !corvale::SameTextNoCase(s + 6, "JFIF", 4) && !corvale::SameTextNoCase(s + 6, "Exif", 4))
    return false;
  file->SetFileType(kRawTypeJPG);
  return true;
}

bool FileJPGAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  m_firstInfo.clear();
  m_secondInfo.clear();
  CRawSectorReader reader(device, file->GetStartSector());
  const corvale::ByteReader head = reader.Read(0, 10);
  if (head.size() == 0) return false;

  Variant variant = Variant::Plain;
  if (corvale::SameTextNoCase(head.data() + 6, "JFIF", 4)) {
    variant = Variant::Jfif;
  } else if (corvale::SameText(head.data() + 6, "Exif", 4)) {
    variant = Variant::Exif;
  }

  if (variant == Variant::Exif) {
    // The segment length counts its own two bytes; the block after them is what the reader gets.
    const uint16_t segment = head.be16(4);
    if (segment > 2) {
      const corvale::ByteReader block = reader.Read(6, segment - 2u);
      ExifInfo info;
      if (block.size() != 0 && ReadExifBlock(block.data(), static_cast<uint32_t>(block.size()), &info)) {
        m_firstInfo = std::strchr(info.Model, '<') ? info.Make : info.Model;
        m_secondInfo = info.Date;
        file->SetFirstInfoText(m_firstInfo);
        file->SetSecondInfoText(m_secondInfo);
      }
    }
  }

  const uint64_t cap = corvale::WalkCap(reader);
  corvale::RawWalkPump pump;
  uint64_t pos = 2;
  bool frameKnown = false;
  uint64_t width = 0, height = 0, components = 0;
  uint64_t scanStart = 0;
  for (int segments = 0;; ++segments) {
    if (segments >= kMaxSegments || pos > cap) return false;
    pump.Step();
    const corvale::ByteReader m = reader.Read(pos, 4);
    if (m.size() == 0) return false;
    // Every marker starts with FF; anything else means the walk has left the file's structure.
    if (m.u8(0) != 0xFF) return false;
    const uint8_t marker = m.u8(1);
    if (marker == kFill) {
      // A fill byte before the marker: the marker proper starts at the next byte.
      pos += 1;
      continue;
    }
    const uint16_t length = m.be16(2);
    if (length < 2) return false;  // the length counts its own two bytes

    if (marker == kSof0 || (marker == kSof2 && variant == Variant::Jfif && !frameKnown)) {
      const corvale::ByteReader f = reader.Read(pos + 4, 6);
      if (f.size() == 0 || f.u8(0) != 8) return false;
      height = f.be16(1);
      width = f.be16(3);
      components = f.u8(5);
      if (variant == Variant::Plain && components != 3) return false;
      frameKnown = true;
    } else if (marker == kSos) {
      if (!frameKnown) return false;
      if (variant == Variant::Plain) {
        const corvale::ByteReader sc = reader.Read(pos + 4, 1);
        if (sc.size() == 0 || sc.u8(0) != 3) return false;
      }
      scanStart = pos + 2 + length;
      break;
    }
    pos += 2 + static_cast<uint64_t>(length);
  }

  // The entropy-coded data, walked to the end-of-image marker over at most width x height x 3 bytes
  // (a generous bound for any compressed image) and not past the walk's cap. Inside it an FF is
  // followed by 00 (a stuffed FF), a restart marker, a fill FF, or a marker segment between the
  // scans of a progressive or multi-scan image. Anything else means the bytes are no longer this
  // image's: the file ends where its data stopped being valid, or, when the next picture starts
  // there, is refused, so that the next picture is not swallowed.
  uint64_t maxSteps = width * height * 3;
  if (scanStart > cap) {
    maxSteps = 0;
  } else {
    maxSteps = std::min(maxSteps, cap - scanStart);
  }
  const uint64_t scanEnd = scanStart + maxSteps;
  uint64_t at = scanStart;  // the next byte to look at
  uint64_t size = 0;        // set once the walk found where the file ends
  int segments = 0;
  while (at < scanEnd && size == 0) {
    const corvale::ByteReader view = reader.ReadAt(at);
    if (view.size() < 2) break;  // an unreadable pair ends the walk where it stands
    // Pairs starting in this view: each byte but the last, which pairs with the next view's first.
    const uint64_t span = std::min<uint64_t>(view.size() - 1, scanEnd - at);
    pump.Steps(span);
    const uint8_t* data = view.data();
    uint64_t i = 0;
    uint64_t segmentAt = 0;  // a marker segment to step over, read after leaving this view
    while (i < span) {
      const void* ff = std::memchr(data + i, 0xFF, static_cast<size_t>(span - i));
      if (!ff) {
        i = span;
        break;
      }
      i = static_cast<uint64_t>(static_cast<const uint8_t*>(ff) - data);
      const uint8_t code = data[i + 1];
      if (code == 0x00 || (code >= 0xD0 && code <= 0xD7)) {
        i += 2;
      } else if (code == kFill) {
        i += 1;
      } else if (code == kEoi) {
        size = at + i + 2;
        break;
      } else if (IsSegmentBetweenScans(code)) {
        segmentAt = at + i;
        break;
      } else if (code == kSoi) {
        // The next picture begins inside this one's data: this one is cut short (its clusters were
        // not contiguous) and what follows is not its own. It is left out, and the next picture,
        // which the search found at its own start, is not taken for a part of it.
        return false;
      } else {
        // A code no image data holds: the file ends where its data stopped being valid.
        size = at + i;
        break;
      }
    }
    if (size != 0) break;
    if (segmentAt == 0) {
      at += i;
      continue;
    }
    if (++segments > kMaxSegments) {
      size = segmentAt;
      break;
    }
    const corvale::ByteReader lengthBytes = reader.Read(segmentAt + 2, 2);
    if (lengthBytes.size() == 0) {
      at = segmentAt;  // unreadable: the walk ends where it stands
      break;
    }
    const uint16_t length = lengthBytes.be16(0);
    if (length < 2) {
      size = segmentAt;
      break;
    }
    at = segmentAt + 2 + length;
  }
  // Data that stays valid up to the bound (or the device's end) ends there, as an end marker right
  // behind it would.
  if (size == 0) size = std::min(at, scanEnd) + 2;
  file->SetFileSize(std::min(size, corvale::WalkCap(reader)));
  return true;
}
