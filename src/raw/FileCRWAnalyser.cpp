#include <string_view>

#include "raw/ImageAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {
constexpr uint8_t kSignature[16] = {'I', 'I', 0x1A, 0,   0,   0,   'H',  'E',
                                    'A', 'P', 'C',  'C', 'D', 'R', 0x02, 0x00};
constexpr std::string_view kBlock = "High definition CCD image";
// Bytes of the camera block that the test looks at: "Canon PowerShot" at +128.
constexpr uint64_t kBlockBytes = 128 + 15;
}  // namespace

FileCRWAnalyser::FileCRWAnalyser() { m_typeId = kRawTypeCRW; }

RawLeadBytes FileCRWAnalyser::GetLeadBytes() const { return LeadBytesOf({'I'}); }

bool FileCRWAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (std::memcmp(s, kSignature, sizeof kSignature) != 0) return false;
  file->SetFileType(kRawTypeCRW);
  return true;
}

bool FileCRWAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const uint64_t sector = reader.SectorSize();
  const uint64_t limit = std::min<uint64_t>(kSearchLimit, corvale::RawWalkLimit());
  corvale::RawWalkPump pump;
  uint64_t pos = 16;
  while (pos < limit) {
    const corvale::ByteReader view = reader.ReadAt(pos);
    if (view.size() == 0) return false;  // the device ended before the block was found
    const uint64_t span = std::min<uint64_t>(view.size(), limit - pos);
    pump.Steps(span);
    const void* hit = std::memchr(view.data(), kBlock.front(), static_cast<size_t>(span));
    if (!hit) {
      pos += span;
      continue;
    }
    const uint64_t at = pos + static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - view.data());
    // The block's texts are read whole; near the device's end that read fails, and so the pass.
    const corvale::ByteReader b = reader.Read(at, kBlockBytes);
    if (b.size() == 0) return false;
    const uint8_t* p = b.data();
    if (corvale::SameText(p, kBlock.data(), kBlock.size()) &&
        corvale::SameText(p + 32, "CRW:High definition CCD image", 29) &&
        corvale::SameText(p + 122, "Canon", 5) && corvale::SameText(p + 128, "Canon PowerShot", 15)) {
      const uint64_t size = (at + sector - 1) / sector * sector;
      file->SetFileSize(std::min(size, corvale::WalkCap(reader)));
      return true;
    }
    pos = at + 1;
  }
  // No camera block within reach: the file is given the whole search range, never past the device.
  file->SetFileSize(std::min(limit, corvale::WalkCap(reader)));
  return true;
}
