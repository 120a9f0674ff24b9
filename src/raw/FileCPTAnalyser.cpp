#include "raw/ImageAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {
constexpr uint32_t kObjectTable = 316;
}

FileCPTAnalyser::FileCPTAnalyser() { m_typeId = kRawTypeCPT; }

RawLeadBytes FileCPTAnalyser::GetLeadBytes() const { return LeadBytesOf({'C'}); }

bool FileCPTAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, "CPT7FILE", 8) && !corvale::SameText(s, "CPT8FILE", 8) &&
      !corvale::SameText(s, "CPT9FILE", 8))
    return false;
  if (corvale::ByteReader(s, kRawHeaderBytes).u32(52) != kObjectTable) return false;
  file->SetFileType(kRawTypeCPT);
  file->SetFileSize(0);
  return true;
}

bool FileCPTAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  auto u32 = [&](uint64_t at, uint64_t& out) {
    const corvale::ByteReader v = reader.Read(at, 4);
    if (v.size() == 0) return false;
    out = v.u32(0);
    return true;
  };
  uint64_t table, objects;
  if (!u32(52, table) || !u32(40, objects)) return false;
  // A table without objects has no last object to read.
  if (objects == 0) return false;
  uint64_t last;
  if (!u32(table + 8 * objects - 8, last)) return false;
  uint64_t end = last + 60;
  uint64_t link, atEnd;
  if (!u32(last + 32, link) || !u32(end, atEnd)) return false;
  if (link != 0 && link == atEnd) end = last + link + 60;
  uint64_t a, b;
  if (!u32(end, a) || !u32(end + 4, b)) return false;
  uint64_t size = last;
  if (a != 0 && b != 0) {
    // The two words before the block A points at give its offset and length.
    if (a < 8) return false;
    uint64_t offset, length;
    if (!u32(a - 8, offset) || !u32(a - 4, length)) return false;
    size = offset + length;
  }
  file->SetFileSize(std::min(size, corvale::WalkCap(reader)));
  return true;
}
