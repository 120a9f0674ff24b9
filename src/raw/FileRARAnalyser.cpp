#include "raw/ArchiveAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {

constexpr uint8_t kMarker[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
constexpr uint8_t kEndBlock[7] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
constexpr uint64_t kBlockHeader = 7;

// The length of the block at the start of `r`, or 0 when it is no valid block. Fields past the
// bytes at hand make the block invalid.
uint64_t BlockLength(const corvale::ByteReader& r) {
  if (!r.has(0, kBlockHeader)) return 0;
  const uint64_t headerSize = r.u16(5);
  if (headerSize <= 6) return 0;
  switch (r.u8(2)) {
    case 0x73:  // archive header
      return headerSize >= 10 ? headerSize : 0;
    case 0x74:  // file header: the unpacked size is never below the packed one
      if (!r.has(0, 16) || r.u32(11) < r.u32(7) || r.u8(15) >= 5) return 0;
      return headerSize + r.u32(7);
    case 0x75:  // comment
      if (!r.has(0, 9)) return 0;
      return headerSize + r.u16(7);
    case 0x76:  // authenticity
      return headerSize;
    case 0x77:  // sub-block
      if (!r.has(0, 14) || r.u8(13) != 0) return 0;
      return headerSize + r.u32(7);
    case 0x78:  // recovery record
    case 0x7A:  // new sub-block
    case 0x7B:  // end of archive
      if (headerSize < 10 || !r.has(0, 11)) return 0;
      return headerSize + r.u32(7);
    default:
      return 0;
  }
}

}  // namespace

FileRARAnalyser::FileRARAnalyser() { m_typeId = kRawTypeRAR; }

RawLeadBytes FileRARAnalyser::GetLeadBytes() const { return LeadBytesOf({'R'}); }

bool FileRARAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (std::memcmp(s, kMarker, sizeof kMarker) != 0) return false;
  file->SetFileType(kRawTypeRAR);
  return true;
}

bool FileRARAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const uint64_t archiveHeader = BlockLength(reader.ReadAt(sizeof kMarker));
  if (archiveHeader == 0) return false;

  const uint64_t limit = corvale::WalkCap(reader);
  corvale::RawWalkPump pump;
  uint64_t position = sizeof kMarker + archiveHeader;
  // Every valid block is longer than 6 bytes, so the walk ends at the cap.
  while (position <= limit) {
    pump.Step();
    // The device's end ends the archive; a read that fails before it fails the pass.
    if (position >= reader.BytesToDeviceEnd()) break;
    const corvale::ByteReader block = reader.ReadAt(position);
    if (block.size() == 0) return false;
    const uint64_t length = BlockLength(block);
    if (length == 0) break;
    position += length;
  }
  // The end-of-archive block is shorter than the walk takes a block to be.
  const corvale::ByteReader end = reader.Read(position, sizeof kEndBlock);
  if (end.size() != 0 && std::memcmp(end.data(), kEndBlock, sizeof kEndBlock) == 0)
    position += sizeof kEndBlock;
  file->SetFileSize(std::min(position, limit));
  return true;
}
