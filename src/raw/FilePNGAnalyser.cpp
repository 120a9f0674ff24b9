#include "raw/ImageAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {
constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
}

FilePNGAnalyser::FilePNGAnalyser() { m_typeId = kRawTypePNG; }

RawLeadBytes FilePNGAnalyser::GetLeadBytes() const { return LeadBytesOf({0x89}); }

bool FilePNGAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (std::memcmp(s, kSignature, sizeof kSignature) != 0) return false;
  file->SetFileType(kRawTypePNG);
  return true;
}

bool FilePNGAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const corvale::ByteReader head = reader.Read(0, 24);
  if (head.size() == 0) return false;
  if (!corvale::SameText(head.data() + 12, "IHDR", 4) || head.be32(16) == 0 || head.be32(20) == 0)
    return false;

  const uint64_t limit = corvale::RawWalkLimit();
  corvale::RawWalkPump pump;
  uint64_t position = 20 + static_cast<uint64_t>(head.be32(8));
  // The IHDR checked above counts as seen: a file cut after its image data still has both.
  bool seenHeader = true;
  bool seenData = false;
  for (;;) {
    pump.Step();
    if (position > kLimit) return false;
    if (position > limit) break;  // the size limit: the file keeps the length reached
    const corvale::ByteReader chunk = reader.Read(position, 8);
    if (chunk.size() == 0) return false;
    const uint64_t length = chunk.be32(0);
    if (length > kLimit) {
      if (seenHeader && seenData) break;
      return false;
    }
    const uint8_t* type = chunk.data() + 4;
    if (corvale::SameText(type, "IHDR", 4)) seenHeader = true;
    if (corvale::SameText(type, "IDAT", 4)) seenData = true;
    position += 12 + length;
    if (corvale::SameText(type, "IEND", 4)) break;
  }
  file->SetFileSize(std::min(position, corvale::WalkCap(reader)));
  return true;
}
