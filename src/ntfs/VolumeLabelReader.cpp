#include "ntfs/VolumeLabelReader.h"

#include <vector>

#include "ntfs/FileRecordView.h"
#include "ntfs/NTFSDBR.h"
#include "storage/CheckedMath.h"
#include "storage/IStorageDevice.h"

bool CNTFSVolumeLabelReader::ReadVolumeLabel(int64_t partitionStart, const CNTFSDBR& bootSector, char* out,
                                             size_t* written) {
  NTFSVolumeGeometry geometry;
  if (!m_device || !out || partitionStart < 0 || !bootSector.GetGeometry(geometry).IsValid()) return false;
  int32_t sectorSize = m_device->GetSectorSize();
  if (sectorSize <= 0) return false;
  // Byte positions, not sector counts: a 1024-byte record on a 4096-byte-sector device is a quarter
  // of a sector, and record 3 then sits inside the sector that holds record 0.
  auto start = corvale::checkedMul(uint64_t(partitionStart), uint64_t(sectorSize));
  if (!start) return false;
  auto position = corvale::checkedAdd(*start, geometry.mftByteOffset + 3ull * geometry.fileRecordSize);
  if (!position) return false;
  uint64_t firstSector = *position / sectorSize;
  uint64_t inSector = *position % sectorSize;
  uint64_t sectors = (inSector + geometry.fileRecordSize + sectorSize - 1) / sectorSize;
  std::vector<uint8_t> buffer(sectors * sectorSize);
  if (!m_device->ReadSectors(buffer.data(), firstSector, sectors)) return false;
  return GetNTFSVolumeName(buffer.data() + inSector, geometry.fileRecordSize, out, written);
}
