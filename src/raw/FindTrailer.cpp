#include "raw/RawFileInfo.h"
#include "raw/RawWalk.h"

namespace corvale {

bool FindTrailer(CRawFileInfo* file, IStorageDevice* device, const char* pattern, size_t length,
                 uint64_t limit) {
  if (length == 0 || length > 64) return false;
  if (limit == 0) limit = RawWalkLimit();
  CRawSectorReader reader(device, file->GetStartSector());
  RawWalkPump pump;
  uint64_t position = 0;
  while (position <= limit) {
    const ByteReader window = reader.ReadAt(position);
    if (window.size() < length) return false;
    // Every start whose whole pattern the window holds, up to the limit.
    uint64_t starts = window.size() - length + 1;
    if (limit - position < starts) starts = limit - position + 1;
    for (uint64_t i = 0; i < starts; ++i) {
      if (SameTextNoCase(window.data() + i, pattern, length)) {
        file->SetFileSize(position + i + length);
        return true;
      }
    }
    pump.Steps(starts);
    position += starts;
  }
  file->SetFileSize(position);
  return true;
}

}  // namespace corvale
