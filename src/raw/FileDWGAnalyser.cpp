#include <algorithm>

#include "raw/DrawingAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {

constexpr uint8_t kR2004Sentinel[16] = {0x68, 0x40, 0xF8, 0xF7, 0x92, 0x2A, 0xB5, 0xEF,
                                        0x18, 0xDD, 0x0B, 0xF1, 0xF1, 0xBB, 0xE9, 0xEB};
constexpr uint8_t kImageSentinel[16] = {0x1F, 0x25, 0x6D, 0x07, 0xD4, 0x36, 0x28, 0x28,
                                        0x9D, 0x57, 0xCA, 0x3F, 0x9D, 0x44, 0x10, 0x2B};
constexpr uint64_t kSentinelAt = 128;
constexpr uint64_t kSearchFrom = 144;
constexpr uint64_t kEarlyReadEnd = 512;
constexpr uint64_t kLocatorsAt = 25;
constexpr uint64_t kLocatorBytes = 9;

constexpr const char* kVersions[] = {"AC1018", "AC1015", "AC1014", "AC1013", "AC1009", "AC1012", "AC1021"};

// Looks for `sentinel` from offset 144 up to the search limit; found, the file ends `tail` bytes
// after where it starts. Otherwise the file ends where the search stopped; a read that fails in the
// first 512 bytes fails the pass.
bool SearchSentinel(CRawFileInfo* file, CRawSectorReader& reader, const uint8_t* sentinel, uint64_t tail) {
  const uint64_t cap = corvale::WalkCap(reader);
  const uint64_t stop = std::min(FileDWGAnalyser::kSearchLimit, cap == UINT64_MAX ? cap : cap + 1);
  corvale::RawWalkPump pump;
  uint64_t position = kSearchFrom;
  while (position < stop) {
    const corvale::ByteReader window = reader.ReadAt(position);
    if (window.size() == 0) {
      if (position <= kEarlyReadEnd) return false;
      break;
    }
    // Only starts whose whole sentinel the data at hand holds; the next read begins at the first
    // start left over.
    if (window.size() < 16) break;
    const uint64_t n = std::min<uint64_t>(window.size() - 15, stop - position);
    const uint8_t* p = window.data();
    for (uint64_t i = 0; i < n; ++i) {
      const void* hit = std::memchr(p + i, sentinel[0], static_cast<size_t>(n - i));
      if (!hit) break;
      i = static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - p);
      if (std::memcmp(p + i, sentinel, 16) == 0) {
        file->SetFileSize(std::min(position + i + tail, cap));
        return true;
      }
    }
    pump.Steps(n);
    position += n;
  }
  file->SetFileSize(std::min(position, cap));
  return true;
}

}  // namespace

FileDWGAnalyser::FileDWGAnalyser() { m_typeId = kRawTypeDWG; }

RawLeadBytes FileDWGAnalyser::GetLeadBytes() const { return LeadBytesOf({'A'}); }

bool FileDWGAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (s[6] != 0 || s[7] != 0) return false;
  for (const char* v : kVersions) {
    if (corvale::SameText(s, v, 6)) {
      file->SetFileType(kRawTypeDWG);
      return true;
    }
  }
  return false;
}

bool FileDWGAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const corvale::ByteReader head = reader.Read(0, kSearchFrom);
  if (head.size() == 0) return false;
  const uint8_t* h = head.data();

  if (corvale::SameText(h, "AC1018", 6)) {
    if (std::memcmp(h + kSentinelAt, kR2004Sentinel, 16) != 0) return false;
    return SearchSentinel(file, reader, kR2004Sentinel, 108);
  }
  if (corvale::SameText(h, "AC1021", 6)) {
    uint8_t sentinel[16];
    std::memcpy(sentinel, h + kSentinelAt, 16);
    return SearchSentinel(file, reader, sentinel, 1024);
  }
  if (!corvale::SameText(h, "AC1015", 6) && !corvale::SameText(h, "AC1014", 6) &&
      !corvale::SameText(h, "AC1013", 6) && !corvale::SameText(h, "AC1012", 6))
    return false;  // R11 and anything else: no method

  const uint64_t imageSeeker = head.u32(13);
  const uint32_t locators = head.u32(21);
  if (imageSeeker == 0 || locators == 0 || locators > kMaxLocators) return false;
  const corvale::ByteReader image = reader.Read(imageSeeker, 16);
  if (image.size() == 0 || std::memcmp(image.data(), kImageSentinel, 16) != 0) return false;
  const corvale::ByteReader table = reader.Read(kLocatorsAt, kLocatorBytes * locators);
  if (table.size() == 0) return false;
  // The section that lies furthest in the file ends it.
  uint64_t seeker = 0, size = 0;
  for (uint32_t i = 0; i < locators; ++i) {
    const uint64_t s = table.u32(kLocatorBytes * i + 1);
    if (i == 0 || s > seeker) {
      seeker = s;
      size = table.u32(kLocatorBytes * i + 5);
    }
  }
  if (seeker == 0 || size == 0) return false;
  file->SetFileSize(std::min(seeker + size, corvale::WalkCap(reader)));
  return true;
}
