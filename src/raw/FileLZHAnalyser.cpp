#include "raw/ArchiveAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {

constexpr uint64_t kFixedHeader = 11;  // size byte, checksum, method, compressed size

bool KnownMethod(const uint8_t* header) {
  return corvale::SameText(header + 2, "-lh5-", 5) || corvale::SameText(header + 2, "-lh0-", 5);
}

}  // namespace

FileLZHAnalyser::FileLZHAnalyser() { m_typeId = kRawTypeLZH; }

bool FileLZHAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!KnownMethod(s)) return false;
  file->SetFileType(kRawTypeLZH);
  return true;
}

bool FileLZHAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const uint64_t limit = corvale::WalkCap(reader);
  corvale::RawWalkPump pump;
  uint64_t position = 0;
  bool first = true;
  // Every member moves the position on by at least 2 bytes, so the walk ends at the cap.
  while (position <= limit) {
    pump.Step();
    const corvale::ByteReader h = reader.Read(position, kFixedHeader);
    if (h.size() == 0 || !KnownMethod(h.data())) {
      if (first) return false;
      break;
    }
    first = false;
    position += static_cast<uint64_t>(h.u8(0)) + h.u32(7) + 2;
  }
  file->SetFileSize(std::min(position, limit));
  return true;
}
