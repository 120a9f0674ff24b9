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

  // The end scan: the first FF D9 after the scan start, looked for over at most width x height x 3
  // bytes (a generous bound for any compressed image) and not past the walk's cap.
  uint64_t maxSteps = width * height * 3;
  if (scanStart > cap) {
    maxSteps = 0;
  } else {
    maxSteps = std::min(maxSteps, cap - scanStart);
  }
  uint64_t steps = 0;
  while (steps < maxSteps) {
    const corvale::ByteReader view = reader.ReadAt(scanStart + steps);
    if (view.size() < 2) break;  // an unreadable pair ends the scan where it stands
    // Pairs starting in this view: each byte but the last, which pairs with the next view's first.
    const uint64_t span = std::min<uint64_t>(view.size() - 1, maxSteps - steps);
    pump.Steps(span);
    const uint8_t* base = view.data();
    uint64_t i = 0;
    bool found = false;
    while (i < span) {
      const void* ff = std::memchr(base + i, 0xFF, static_cast<size_t>(span - i));
      if (!ff) {
        i = span;
        break;
      }
      i = static_cast<uint64_t>(static_cast<const uint8_t*>(ff) - base);
      if (base[i + 1] == 0xD9) {
        found = true;
        break;
      }
      ++i;
    }
    steps += i;
    if (found) break;
  }
  file->SetFileSize(std::min(scanStart + steps + 2, corvale::WalkCap(reader)));
  return true;
}
