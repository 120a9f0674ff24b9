#include "raw/MediaAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"

namespace {

constexpr int kMaxBoxes = 500;
constexpr uint64_t kAtomHeader = 8;

constexpr const char* kMp4Brands[] = {"ftypisom", "ftypmp42", "ftypM4V "};
constexpr const char* k3gpBrands[] = {"ftyp3g2a", "ftyp3gp4"};

template <size_t N>
bool HasBrand(const uint8_t* s, const char* const (&brands)[N]) {
  for (const char* b : brands) {
    if (corvale::SameTextNoCase(s + 4, b, 8)) return true;
  }
  return false;
}

bool IsWalkedBox(const uint8_t* type) {
  for (const char* t : {"mdat", "moov", "free", "moof", "mfra"}) {
    if (corvale::SameTextNoCase(type, t, 4)) return true;
  }
  return false;
}

// The length of an MP4 or 3GP file: the file-type box, then up to 500 boxes of the kinds that make
// up a movie. Box sizes are 32-bit and the sum is kept in 64 bits.
bool WalkBoxes(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const corvale::ByteReader first = reader.Read(0, kAtomHeader);
  if (first.size() == 0 || first.be32(0) == 0) return false;
  const uint64_t limit = corvale::WalkCap(reader);
  uint64_t position = first.be32(0);
  corvale::RawWalkPump pump;
  for (int n = 0; n < kMaxBoxes && position <= limit; ++n) {
    pump.Step();
    const corvale::ByteReader box = reader.Read(position, kAtomHeader);
    if (box.size() == 0) break;
    const uint64_t size = box.be32(0);
    if (size == 0) break;
    bool walked = IsWalkedBox(box.data() + 4);
    if (!walked) {
      const corvale::ByteReader longer = reader.Read(position, 16);
      walked = longer.size() != 0 && IsWalkedBox(longer.data() + 12);
    }
    if (!walked) break;
    position += size;
  }
  position = std::min(position, limit);
  if (position == 0) return false;
  file->SetFileSize(position);
  return true;
}

}  // namespace

FileMP4Analyser::FileMP4Analyser() { m_typeId = kRawTypeMP4; }

bool FileMP4Analyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!HasBrand(s, kMp4Brands)) return false;
  file->SetFileType(kRawTypeMP4);
  file->SetFileSize(0);
  return true;
}

bool FileMP4Analyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  return WalkBoxes(file, device);
}

File3GPAnalyser::File3GPAnalyser() { m_typeId = kRawType3GP; }

bool File3GPAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!HasBrand(s, k3gpBrands)) return false;
  file->SetFileType(kRawType3GP);
  file->SetFileSize(0);
  return true;
}

bool File3GPAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  return WalkBoxes(file, device);
}

FileMOVAnalyser::FileMOVAnalyser() { m_typeId = kRawTypeMOV; }

bool FileMOVAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s + 4, "ftyp", 4)) return false;
  // The MOV analyser comes before the MP4 analyser when both types are chosen; taking their brands
  // would leave every MP4 file typed and sized as a QuickTime movie, and cut fragmented ones.
  if (HasBrand(s, kMp4Brands) || HasBrand(s, k3gpBrands)) return false;
  file->SetFileType(kRawTypeMOV);
  return true;
}

bool FileMOVAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const uint64_t limit = corvale::WalkCap(reader);
  corvale::RawWalkPump pump;
  uint64_t position = 0;
  // Every atom taken is at least 8 bytes long, so the walk ends at the cap.
  while (position <= limit) {
    pump.Step();
    const corvale::ByteReader atom = reader.Read(position, kAtomHeader);
    if (atom.size() == 0) break;
    const uint64_t size = atom.be32(0);
    if (size < kAtomHeader) break;
    bool known = false;
    for (const char* t : {"free", "mdat", "pnot", "moov", "wide", "ftyp"}) {
      if (corvale::SameText(atom.data() + 4, t, 4)) known = true;
    }
    if (!known) break;
    position += size;
  }
  position = std::min(position, limit);
  if (position == 0) return false;
  file->SetFileSize(position);
  return true;
}
