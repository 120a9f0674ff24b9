#include "raw/MediaAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"
#include "storage/ByteReader.h"

namespace {
constexpr uint8_t kHeaderChunk[8] = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
constexpr uint64_t kFirstTrack = 14;
constexpr uint64_t kChunkHeader = 8;
}  // namespace

FileMIDAnalyser::FileMIDAnalyser() { m_typeId = kRawTypeMID; }

RawLeadBytes FileMIDAnalyser::GetLeadBytes() const { return LeadBytesOf({'M'}); }

bool FileMIDAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (std::memcmp(s, kHeaderChunk, sizeof kHeaderChunk) != 0) return false;
  const corvale::ByteReader h(s, kRawHeaderBytes);
  if (h.be16(8) > 2 || h.be16(10) == 0) return false;
  file->SetFileType(kRawTypeMID);
  file->SetFileSize(0);
  return true;
}

bool FileMIDAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const uint64_t limit = corvale::WalkCap(reader);
  corvale::RawWalkPump pump;
  uint64_t position = kFirstTrack;
  // Every chunk moves the position on by at least its 8-byte header, so the walk ends at the cap.
  while (position <= limit) {
    pump.Step();
    const corvale::ByteReader chunk = reader.Read(position, kChunkHeader);
    if (chunk.size() == 0 || !corvale::SameTextNoCase(chunk.data(), "MTrk", 4)) break;
    position += kChunkHeader + chunk.be32(4);
  }
  file->SetFileSize(std::min(position, limit));
  return true;
}
