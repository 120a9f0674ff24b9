#include "raw/MediaAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"
#include "storage/CheckedMath.h"

namespace {

constexpr uint8_t kHeaderObject[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                       0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kDataObject[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kIndexObject[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                      0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
constexpr uint64_t kObjectHeader = 24;  // 16-byte id and 64-bit size
constexpr uint64_t kHugePosition = 100ull << 32;

}  // namespace

FileASFAnalyser::FileASFAnalyser() { m_typeId = kRawTypeASF; }

RawLeadBytes FileASFAnalyser::GetLeadBytes() const { return LeadBytesOf({0x30}); }

bool FileASFAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (std::memcmp(s, kHeaderObject, 16) != 0) return false;
  file->SetFileType(kRawTypeASF);
  file->SetFileSize(0);
  return true;
}

bool FileASFAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  CRawSectorReader reader(device, file->GetStartSector());
  const uint64_t limit = corvale::WalkCap(reader);
  const uint8_t* const order[3] = {kHeaderObject, kDataObject, kIndexObject};
  uint64_t position = 0;
  for (int k = 0; k < 3; ++k) {
    if (position > limit) break;
    const bool index = k == 2;
    // The file may end at the device's end right after its data object.
    if (index && position >= reader.BytesToDeviceEnd()) break;
    const corvale::ByteReader object = reader.Read(position, kObjectHeader);
    if (object.size() == 0) return false;
    if (std::memcmp(object.data(), order[k], 16) != 0) {
      if (index) break;
      return false;
    }
    const auto next = corvale::checkedAdd(position, object.u64(16));
    if (!next) return false;
    position = *next;
  }
  if (position > kHugePosition) position = 1ull << 32;
  position = std::min(position, limit);
  if (position == 0) return false;
  file->SetFileSize(position);
  return true;
}
