#include "raw/ImageAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {

constexpr uint8_t kExtension = '!';
constexpr uint8_t kImage = ',';
constexpr uint8_t kTrailer = ';';

// Reads one byte of the file at a time through the reader's window.
class ByteWalk {
 public:
  explicit ByteWalk(CRawSectorReader& reader) : m_reader(reader) {}
  bool Byte(uint64_t at, uint8_t& out) {
    if (m_view.size() == 0 || at < m_viewStart || at - m_viewStart >= m_view.size()) {
      m_view = m_reader.ReadAt(at);
      m_viewStart = at;
      if (m_view.size() == 0) return false;
    }
    out = m_view.u8(at - m_viewStart);
    return true;
  }

 private:
  CRawSectorReader& m_reader;
  corvale::ByteReader m_view;
  uint64_t m_viewStart = 0;
};

}  // namespace

FileGIFAnalyser::FileGIFAnalyser() { m_typeId = kRawTypeGIF; }

RawLeadBytes FileGIFAnalyser::GetLeadBytes() const { return LeadBytesOf({'G'}); }

bool FileGIFAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, "GIF87a", 6) && !corvale::SameText(s, "GIF89a", 6)) return false;
  file->SetFileType(kRawTypeGIF);
  return true;
}

bool FileGIFAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const corvale::ByteReader head = reader.Read(0, 13);
  if (head.size() == 0) return false;
  const bool gif89 = corvale::SameText(head.data(), "GIF89a", 6);
  const uint8_t screenFlags = head.u8(10);
  uint64_t pos = 13;
  if (screenFlags & 0x80) pos += 3ull << ((screenFlags & 7) + 1);

  const uint64_t cap = corvale::WalkCap(reader);
  ByteWalk walk(reader);
  corvale::RawWalkPump pump;
  auto keep = [&](uint64_t size) {
    file->SetFileSize(std::min(size, corvale::WalkCap(reader)));
    return true;
  };
  // Skips data sub-blocks (a length byte, that many bytes) up to the zero length that ends them.
  enum class Skip { Done, Failed, AtCap };
  auto skipSubBlocks = [&]() {
    for (;;) {
      pump.Step();
      if (pos > cap) return Skip::AtCap;
      uint8_t length;
      if (!walk.Byte(pos, length)) return Skip::Failed;
      pos += 1 + static_cast<uint64_t>(length);
      if (length == 0) return Skip::Done;
    }
  };

  uint8_t b;
  for (;;) {
    pump.Step();
    // At the size limit the file keeps the length reached.
    if (pos > cap) return keep(pos);
    if (!walk.Byte(pos, b)) return false;
    if (b == kTrailer) return keep(pos + 1);
    if (b == kExtension) {
      pos += 2;  // introducer and label
      const Skip r = skipSubBlocks();
      if (r == Skip::Failed) return false;
      if (r == Skip::AtCap) return keep(pos);
      continue;
    }
    if (b != kImage) {
      // Bytes that start no block: step over up to kMaxGap of them looking for the next image or
      // the trailer.
      bool resumed = false;
      for (uint64_t gap = 0; gap < kMaxGap && !resumed; ++gap) {
        if (!walk.Byte(pos, b)) return false;
        uint8_t next;
        if (b == kImage) {
          resumed = true;
        } else if (b == kTrailer && walk.Byte(pos + 1, next) && next == 0) {
          return keep(pos + 1);
        } else if (b == kExtension && gif89) {
          // An extension met here is stepped over by the length byte after its label.
          uint8_t skip;
          if (!walk.Byte(pos + 2, skip)) return false;
          pos += 1 + static_cast<uint64_t>(skip);
        } else {
          pos += 1;
        }
      }
      if (!resumed) return false;
    }
    // An image: descriptor, optional local colour table, LZW code size, data sub-blocks.
    uint8_t flags;
    if (!walk.Byte(pos + 9, flags)) return false;
    pos += 10;
    if (flags & 0x80) pos += 3ull << ((flags & 7) + 1);
    pos += 1;
    const Skip r = skipSubBlocks();
    if (r == Skip::Failed) return false;
    if (r == Skip::AtCap) return keep(pos);
  }
}
