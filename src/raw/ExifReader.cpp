#include "raw/ExifReader.h"

#include <cstring>
#include <vector>

#include "storage/ByteReader.h"

namespace {

constexpr uint16_t kTagMake = 271;
constexpr uint16_t kTagModel = 272;
constexpr uint16_t kTagExifIfd = 34665;
constexpr uint16_t kTagInteropIfd = 40965;
constexpr uint16_t kTagDateTimeOriginal = 36867;

// Bytes per component of the TIFF 6.0 field types 1..12.
constexpr uint32_t kTypeWidth[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

class ExifWalk {
 public:
  ExifWalk(corvale::ByteReader tiff, bool bigEndian, ExifInfo* info)
      : m_tiff(tiff), m_big(bigEndian), m_info(info) {}

  bool ReadIfd(uint64_t offset, int depth) {
    if (depth > corvale::kExifMaxDepth || m_visited.size() >= corvale::kExifMaxIfds) return false;
    for (uint64_t seen : m_visited) {
      if (seen == offset) return false;  // a link back to an IFD already read would never end
    }
    m_visited.push_back(offset);

    if (!m_tiff.has(offset, 2)) return false;
    const uint64_t count = U16(offset);
    const uint64_t entries = offset + 2;
    if (!m_tiff.has(entries, count * 12)) return false;
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t e = entries + i * 12;
      const uint16_t tag = U16(e);
      const uint16_t type = U16(e + 2);
      const uint64_t components = U32(e + 4);
      if (type < 1 || type > 12) return false;
      // Sizes in 64 bits: a component count near 2^32 times a width of 8 must not wrap into range.
      const uint64_t bytes = components * kTypeWidth[type];
      uint64_t dataAt = e + 8;
      if (bytes > 4) {
        dataAt = U32(e + 8);
        if (!m_tiff.has(dataAt, bytes)) return false;
      }
      switch (tag) {
        case kTagMake:
          CopyText(m_info->Make, sizeof m_info->Make, dataAt, bytes);
          break;
        case kTagModel:
          CopyText(m_info->Model, sizeof m_info->Model, dataAt, bytes);
          break;
        case kTagDateTimeOriginal:
          CopyText(m_info->Date, sizeof m_info->Date, dataAt, bytes);
          break;
        case kTagExifIfd:
        case kTagInteropIfd: {
          const uint64_t sub = U32(e + 8);
          if (sub >= m_tiff.size() || !ReadIfd(sub, depth + 1)) return false;
          break;
        }
        default:
          break;
      }
    }
    // A block that ends right after the entries has no link: the chain ends there.
    const uint64_t linkAt = entries + count * 12;
    if (!m_tiff.has(linkAt, 4)) return true;
    const uint64_t next = U32(linkAt);
    if (next == 0) return true;
    if (next >= m_tiff.size()) return false;
    return ReadIfd(next, depth);
  }

 private:
  uint16_t U16(uint64_t o) const { return m_big ? m_tiff.be16(o) : m_tiff.u16(o); }
  uint32_t U32(uint64_t o) const { return m_big ? m_tiff.be32(o) : m_tiff.u32(o); }

  void CopyText(char* to, size_t capacity, uint64_t at, uint64_t bytes) const {
    size_t n = 0;
    while (n + 1 < capacity && n < bytes && m_tiff.has(at + n, 1)) {
      const uint8_t c = m_tiff.u8(at + n);
      if (c == 0) break;
      to[n++] = static_cast<char>(c);
    }
    to[n] = '\0';
  }

  corvale::ByteReader m_tiff;
  bool m_big;
  ExifInfo* m_info;
  std::vector<uint64_t> m_visited;
};

}  // namespace

bool ReadExifBlock(const uint8_t* block, uint32_t length, ExifInfo* info) {
  if (!info) return false;
  std::memset(info, 0, sizeof *info);
  if (!block) return false;
  const corvale::ByteReader r(block, length);
  if (!r.has(0, 14) || std::memcmp(block, "Exif\0\0", 6) != 0) return false;
  bool big;
  if (r.u8(6) == 'I' && r.u8(7) == 'I') {
    big = false;
  } else if (r.u8(6) == 'M' && r.u8(7) == 'M') {
    big = true;
  } else {
    return false;
  }
  const corvale::ByteReader tiff = r.sub(6, length - 6);
  const uint16_t magic = big ? tiff.be16(2) : tiff.u16(2);
  const uint32_t first = big ? tiff.be32(4) : tiff.u32(4);
  if (magic != 42 || first < 8 || first > 16) return false;
  return ExifWalk(tiff, big, info).ReadIfd(first, 0);
}
