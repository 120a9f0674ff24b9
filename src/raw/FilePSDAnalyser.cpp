#include "raw/ImageAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

FilePSDAnalyser::FilePSDAnalyser() { m_typeId = kRawTypePSD; }

RawLeadBytes FilePSDAnalyser::GetLeadBytes() const { return LeadBytesOf({'8'}); }

bool FilePSDAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, "8BPS", 4)) return false;
  file->SetFileType(kRawTypePSD);
  return true;
}

bool FilePSDAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const corvale::ByteReader h = reader.Read(0, 30);
  if (h.size() == 0) return false;
  if (h.be16(4) != 1) return false;
  for (int i = 6; i < 12; ++i) {
    if (h.u8(i) != 0) return false;
  }
  const uint64_t channels = h.be16(12);
  const uint64_t height = h.be32(14);
  const uint64_t width = h.be32(18);
  const uint64_t depth = h.be16(22);
  // The ranges a version-1 document can have. Checked before any product is formed, they also keep
  // the image size and the row table's length within reach.
  if (channels < 1 || channels > 56 || height < 1 || height > 30000 || width < 1 || width > 30000)
    return false;
  if (depth != 1 && depth != 8 && depth != 16 && depth != 32) return false;

  uint64_t pos = 30 + static_cast<uint64_t>(h.be32(26));  // after the colour-mode data
  for (int section = 0; section < 2; ++section) {         // image resources, layers and masks
    const corvale::ByteReader length = reader.Read(pos, 4);
    if (length.size() == 0) return false;
    pos += 4 + static_cast<uint64_t>(length.be32(0));
  }
  const corvale::ByteReader code = reader.Read(pos, 2);
  if (code.size() == 0) return false;
  pos += 2;

  uint64_t size;
  if (code.be16(0) == 0) {
    size = pos + channels * height * width * depth / 8;
  } else if (code.be16(0) == 1) {
    // Run-length data: a table of 16-bit byte counts, one per row of each channel, then the rows.
    const uint64_t limit = corvale::RawWalkLimit();
    corvale::RawWalkPump pump;
    uint64_t rows = channels * height;
    uint64_t sum = 0;
    while (rows > 0 && pos <= limit) {
      const corvale::ByteReader view = reader.ReadAt(pos);
      if (view.size() < 2) return false;
      const uint64_t n = std::min<uint64_t>(rows, view.size() / 2);
      pump.Steps(n);
      for (uint64_t i = 0; i < n; ++i) sum += view.be16(2 * i);
      pos += 2 * n;
      rows -= n;
    }
    size = pos + sum;
  } else {
    return false;
  }
  file->SetFileSize(std::min(size, corvale::WalkCap(reader)));
  return true;
}
