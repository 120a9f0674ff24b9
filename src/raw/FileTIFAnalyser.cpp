#include "raw/FileTIFAnalyser.h"

#include <algorithm>
#include <vector>

#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {

constexpr uint16_t kTagMake = 271;
constexpr uint16_t kTagModel = 272;
constexpr uint16_t kTagStripOffsets = 273;
constexpr uint16_t kTagStripByteCounts = 279;
constexpr uint16_t kTagSubIfds = 330;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr uint64_t kTextBytes = 64;

// Bytes per component by field type; 0 for types the walk does not know.
uint64_t TypeWidth(uint16_t type) {
  switch (type) {
    case 1:
    case 2:
    case 6:
    case 7:
      return 1;
    case 3:
    case 8:
      return 2;
    case 4:
    case 9:
    case 11:
      return 4;
    case 5:
    case 10:
    case 12:
      return 8;
    default:
      return 0;
  }
}

}  // namespace

struct FileTIFAnalyser::Ifd {
  Field stripOffsets;
  Field stripByteCounts;
  Field subIfds;
  uint64_t valueBytes = 0;  // sum of 12 + width x count over the entries
  uint32_t entries = 0;
  std::string make;
  std::string model;
};

FileTIFAnalyser::FileTIFAnalyser() { m_typeId = kRawTypeTIF; }

RawLeadBytes FileTIFAnalyser::GetLeadBytes() const { return LeadBytesOf({'M', 'I'}); }

bool FileTIFAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  const bool big = s[0] == 'M' && s[1] == 'M' && s[2] == 0x00 && s[3] == 0x2A;
  const bool little = s[0] == 'I' && s[1] == 'I' && s[2] == 0x2A && s[3] == 0x00;
  if (!big && !little) return false;
  file->SetFileType(kRawTypeTIF);
  return true;
}

uint32_t FileTIFAnalyser::FieldValue(const Field& f, const uint8_t* entry) const {
  // A short stored in the value field sits in its first two bytes, whatever the byte order.
  corvale::ByteReader e(entry, 12);
  if (f.type == kTypeShort && f.count <= 2) return m_bigEndian ? e.be16(8) : e.u16(8);
  return m_bigEndian ? e.be32(8) : e.u32(8);
}

bool FileTIFAnalyser::ReadIfd(CRawSectorReader& reader, uint64_t offset, bool first, Ifd& out) {
  const corvale::ByteReader head = reader.Read(offset, 2);
  if (head.size() == 0) return false;
  const uint32_t count = m_bigEndian ? head.be16(0) : head.u16(0);
  if (count > kMaxEntries) return false;
  out.entries = count;
  if (count == 0) return true;
  const corvale::ByteReader table = reader.Read(offset + 2, 12ull * count);
  if (table.size() == 0) return false;
  // Keep the table: reads of texts below may replace the reader's buffer.
  const std::vector<uint8_t> entries(table.data(), table.data() + table.size());
  corvale::RawWalkPump pump;
  for (uint32_t i = 0; i < count; ++i) {
    pump.Step();
    const uint8_t* raw = entries.data() + 12ull * i;
    const corvale::ByteReader e(raw, 12);
    const uint16_t tag = m_bigEndian ? e.be16(0) : e.u16(0);
    Field f;
    f.type = m_bigEndian ? e.be16(2) : e.u16(2);
    f.count = m_bigEndian ? e.be32(4) : e.u32(4);
    f.present = true;
    f.value = FieldValue(f, raw);
    std::copy(raw + 8, raw + 12, f.raw);
    // 64-bit: a count near 2^32 times a width of 8 must not wrap the reckoned end.
    out.valueBytes += 12 + TypeWidth(f.type) * f.count;

    switch (tag) {
      case kTagStripOffsets:
        out.stripOffsets = f;
        break;
      case kTagStripByteCounts:
        out.stripByteCounts = f;
        break;
      case kTagSubIfds:
        if (first) out.subIfds = f;
        break;
      case kTagMake:
      case kTagModel: {
        if (!first) break;
        // The text is at most 64 bytes and never more than the entry's count; it ends at its NUL.
        const uint64_t n = std::min<uint64_t>(f.count, kTextBytes);
        std::string text;
        if (n <= 4) {
          text.assign(reinterpret_cast<const char*>(raw + 8), static_cast<size_t>(n));
        } else {
          const corvale::ByteReader t = reader.Read(f.value, n);
          if (t.size() != 0) text.assign(reinterpret_cast<const char*>(t.data()), static_cast<size_t>(n));
        }
        text.resize(std::min(text.size(), text.find('\0')));
        (tag == kTagMake ? out.make : out.model) = std::move(text);
        break;
      }
      default:
        break;
    }
  }
  return true;
}

uint64_t FileTIFAnalyser::LargestStripEnd(CRawSectorReader& reader, const Ifd& ifd) {
  const Field& o = ifd.stripOffsets;
  const Field& c = ifd.stripByteCounts;
  if (!o.present || !c.present) return 0;
  // One strip: the values are the offset and the length. Several: the values point at two arrays.
  if (o.count <= 1 && c.count <= 1) {
    m_stripOffset = o.value;
    m_stripByteCount = c.value;
    return static_cast<uint64_t>(o.value) + c.value;
  }
  auto readArray = [&](const Field& f, std::vector<uint32_t>& out) {
    const uint64_t width = f.type == kTypeShort ? 2 : f.type == kTypeLong ? 4 : 0;
    const uint64_t n = std::min<uint64_t>(f.count, kMaxStrips);
    if (width == 0 || n == 0) return;
    const uint64_t bytes = width * n;
    // Values of four bytes or fewer sit in the entry's value field itself.
    const corvale::ByteReader a = bytes <= 4 ? corvale::ByteReader(f.raw, 4) : reader.Read(f.value, bytes);
    if (a.size() == 0) return;
    for (uint64_t i = 0; i < n; ++i) {
      if (width == 2) {
        out.push_back(m_bigEndian ? a.be16(i * 2) : a.u16(i * 2));
      } else {
        out.push_back(m_bigEndian ? a.be32(i * 4) : a.u32(i * 4));
      }
    }
  };
  std::vector<uint32_t> offsets, counts;
  readArray(o, offsets);
  readArray(c, counts);
  uint64_t largest = 0;
  for (size_t i = 0; i < std::min(offsets.size(), counts.size()); ++i) {
    const uint64_t end = static_cast<uint64_t>(offsets[i]) + counts[i];
    if (end > largest) {
      largest = end;
      m_stripOffset = offsets[i];
      m_stripByteCount = counts[i];
    }
  }
  return largest;
}

bool FileTIFAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  // Nothing of the file measured before may reach this one: a model left over from a NEF would
  // make a plain TIFF a NEF named after another camera.
  m_firstInfo.clear();
  m_secondInfo.clear();
  m_stripOffset = m_stripByteCount = 0;
  m_largestEnd = 0;

  CRawSectorReader reader(device, file->GetStartSector());
  const corvale::ByteReader head = reader.Read(0, 8);
  if (head.size() == 0) return false;
  m_bigEndian = head.u8(0) == 'M' && head.u8(1) == 'M' && head.u8(2) == 0x00 && head.u8(3) == 0x2A;
  const uint64_t cap = corvale::WalkCap(reader);

  file->SetFileSize(0);
  const uint64_t ifd0 = m_bigEndian ? head.be32(4) : head.u32(4);
  if (ifd0 > corvale::RawWalkLimit()) return true;
  Ifd first;
  if (!ReadIfd(reader, ifd0, true, first)) return true;

  m_largestEnd = LargestStripEnd(reader, first);
  // A NEF keeps its raw image in the second sub-IFD.
  if (first.subIfds.present && first.subIfds.count == 2) {
    const corvale::ByteReader v = reader.Read(first.subIfds.value + 4ull, 4);
    if (v.size() != 0) {
      const uint64_t sub = m_bigEndian ? v.be32(0) : v.u32(0);
      Ifd second;
      if (ReadIfd(reader, sub, false, second))
        m_largestEnd = std::max(m_largestEnd, LargestStripEnd(reader, second));
    }
  }

  uint64_t size;
  if (first.model.empty()) {
    // The IFD's entries and values reckoned from the IFD's start, less the header and link it
    // does not repeat; never below zero.
    const uint64_t end = ifd0 + 2 + first.valueBytes;
    size = end > 18 ? end - 18 : 0;
  } else {
    size = m_largestEnd;
  }
  if (first.model.rfind("NIKON", 0) == 0) {
    file->SetFileType(kRawTypeNEF);
    m_firstInfo = first.model;
    file->SetFirstInfoText(m_firstInfo);
    file->SetSecondInfoText(m_secondInfo);
  }
  file->SetFileSize(std::min(size, cap));
  return true;
}
