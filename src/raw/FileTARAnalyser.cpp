#include "raw/ArchiveAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {

constexpr uint64_t kBlock = 512;
constexpr uint64_t kMagicAt = 257;
constexpr uint64_t kSizeAt = 124;
constexpr int kSizeDigits = 11;

// The member size from the 11 digits at offset 124, the first the most significant; a character
// that is not a digit counts 0. Eleven octal digits need 33 bits.
uint64_t MemberSize(const uint8_t* header) {
  uint64_t size = 0;
  for (int i = 0; i < kSizeDigits; ++i) {
    const uint8_t c = header[kSizeAt + i];
    const uint64_t digit = c >= '0' && c <= '9' ? c - '0' : 0;
    size += digit << (3 * (kSizeDigits - 1 - i));
  }
  return size;
}

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

}  // namespace

FileTARAnalyser::FileTARAnalyser() { m_typeId = kRawTypeTAR; }

bool FileTARAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s + kMagicAt, "ustar", 5)) return false;
  file->SetFileType(kRawTypeTAR);
  return true;
}

bool FileTARAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const uint64_t limit = corvale::WalkCap(reader);
  corvale::RawWalkPump pump;
  uint64_t position = 0;
  bool first = true;
  // Every header moves the position on by at least its own 512 bytes, so the walk ends at the cap.
  while (position <= limit) {
    pump.Step();
    const corvale::ByteReader block = reader.Read(position, kBlock);
    if (block.size() == 0) {
      if (first) return false;
      break;
    }
    const uint8_t* h = block.data();
    // The archive's end: a block of zeros, which belongs to it.
    if (AllZero(h, kBlock)) {
      if (first) return false;
      position += kBlock;
      break;
    }
    if (h[0] >= 0x21 && h[0] <= 0x7F && !corvale::SameText(h + kMagicAt, "ustar", 5)) {
      if (first) return false;
      break;
    }
    first = false;
    position += kBlock;
    // Members are padded to tar's own 512-byte blocks whatever the device's sector size. A member
    // of size 0 (a folder, a link, an empty file) is followed by the next header at once.
    const uint64_t size = MemberSize(h);
    position += (size + kBlock - 1) / kBlock * kBlock;
  }
  file->SetFileSize(std::min(position, limit));
  return true;
}
