#include "ntfs/PartitionNTFSSearchController.h"

#include <cstring>

#include "core/LostPartitionRecord.h"
#include "core/LostPartitionSearcher.h"
#include "ntfs/FileRecordHeader.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/NTFSDBR.h"
#include "ntfs/VolumeLabelReader.h"
#include "storage/CheckedMath.h"
#include "storage/FileSystemCode.h"
#include "storage/IStorageDevice.h"

namespace {
constexpr const char* kSystemRecords[] = {"$MFT", "$MFTMirr", "$LogFile", "$Volume"};
}  // namespace

void CPartitionNTFSSearchController::SetDevice(IStorageDevice* device) {
  m_device = device;
  const int32_t size = device != nullptr ? device->GetSectorSize() : 0;
  m_sectorSize = size >= 512 ? uint32_t(size) : 512;
}

bool CPartitionNTFSSearchController::IsBackupBootSector(const CNTFSDBR& boot, uint64_t position,
                                                        uint64_t volumeSectors) {
  if (volumeSectors == 0 || position < volumeSectors) return false;
  std::vector<uint8_t> sector(m_sectorSize);
  if (!m_device->ReadSectors(sector.data(), position - volumeSectors, 1)) return false;
  CNTFSDBR earlier;
  if (!earlier.SetDBR(sector.data(), sector.size())) return false;
  return earlier.GetTotalSectors() == boot.GetTotalSectors() &&
         earlier.GetMFTCluster() == boot.GetMFTCluster() &&
         earlier.GetMFTMirrCluster() == boot.GetMFTMirrCluster();
}

bool CPartitionNTFSSearchController::HasSystemRecords(uint64_t byteOffset, uint32_t recordSize) {
  const uint64_t bytes = uint64_t(recordSize) * 4;
  const uint64_t first = byteOffset / m_sectorSize;
  const uint64_t skip = byteOffset % m_sectorSize;
  const uint64_t sectors = (skip + bytes + m_sectorSize - 1) / m_sectorSize;
  m_buffer.assign(sectors * m_sectorSize, 0);
  if (!m_device->ReadSectors(m_buffer.data(), first, sectors)) return false;
  for (int i = 0; i < 4; ++i) {
    const uint8_t* record = m_buffer.data() + skip + uint64_t(i) * recordSize;
    if (!IsValidNTFSFileRecord(record, recordSize)) return false;
    if (!IsNamedMetadataFileRecord(record, recordSize, kSystemRecords[i])) return false;
  }
  return true;
}

int CPartitionNTFSSearchController::TestSector(const void* sector, int64_t position,
                                               CLostPartitionRecord* out) {
  if (m_device == nullptr || sector == nullptr || out == nullptr || position < 0) return 0;
  if (!IsNTFSOEMID(static_cast<const uint8_t*>(sector), m_sectorSize)) return 0;
  CNTFSDBR boot;
  if (!boot.SetDBR(static_cast<const uint8_t*>(sector), m_sectorSize)) return 0;
  // Record sizes outside 1 to 4 KiB, a volume of no sectors and a $MFT outside the volume are refused
  // here, before anything is read or sized from them.
  NTFSVolumeGeometry geometry;
  if (!boot.GetGeometry(geometry).IsValid()) return 0;
  const auto volumeBytes = corvale::checkedMul(geometry.totalSectors, geometry.bytesPerSector);
  if (!volumeBytes) return 0;
  const uint64_t volumeSectors = *volumeBytes / m_sectorSize;
  if (IsBackupBootSector(boot, uint64_t(position), volumeSectors)) return 0;

  const auto start = corvale::checkedMul(uint64_t(position), m_sectorSize);
  if (!start) return 0;
  const auto mft = corvale::checkedAdd(*start, geometry.mftByteOffset);
  const auto mirror = corvale::checkedAdd(*start, geometry.mftMirrByteOffset);
  if (!(mft && HasSystemRecords(*mft, geometry.fileRecordSize)) &&
      !(mirror && HasSystemRecords(*mirror, geometry.fileRecordSize)))
    return 0;

  char label[kNTFSVolumeNameBytes] = {};
  size_t written = 0;
  if (!CNTFSVolumeLabelReader(m_device).ReadVolumeLabel(position, boot, label, &written)) written = 0;
  FillLostPartitionRecord(out, m_device, uint64_t(position), volumeSectors, kFileSystemNtfs, label, written,
                          volumeSectors);
  return 1;
}
