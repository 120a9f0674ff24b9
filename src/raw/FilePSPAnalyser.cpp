#include "raw/ImageAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {
constexpr char kSignature[32] = "Paint Shop Pro Image File\n\x1a\0\0\0\0";
constexpr uint64_t kFirstBlock = 36;
constexpr uint64_t kMinSize = 512;
}  // namespace

FilePSPAnalyser::FilePSPAnalyser() { m_typeId = kRawTypePSP; }

RawLeadBytes FilePSPAnalyser::GetLeadBytes() const { return LeadBytesOf({'P'}); }

bool FilePSPAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (std::memcmp(s, kSignature, 32) != 0) return false;
  file->SetFileType(kRawTypePSP);
  return true;
}

bool FilePSPAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  if (reader.Read(0, 32).size() == 0) return false;
  const uint64_t cap = corvale::WalkCap(reader);
  corvale::RawWalkPump pump;
  uint64_t pos = kFirstBlock;
  // Each block moves the position on by at least its 10-byte header, so the walk ends at the cap.
  while (pos <= cap) {
    pump.Step();
    const corvale::ByteReader block = reader.Read(pos, 10);
    if (block.size() == 0 || !corvale::SameText(block.data(), "~BK\0", 4)) break;
    pos += 10 + static_cast<uint64_t>(block.u32(6));
  }
  if (pos < kMinSize) return false;
  file->SetFileSize(std::min(pos, corvale::WalkCap(reader)));
  return true;
}
