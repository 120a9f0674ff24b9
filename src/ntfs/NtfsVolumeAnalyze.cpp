#include "ntfs/NtfsVolumeAnalyze.h"

#include <algorithm>
#include <vector>

#include "ntfs/FileRecordView.h"
#include "ntfs/NTFSDBR.h"
#include "ntfs/VolumeLabelReader.h"
#include "storage/CheckedMath.h"
#include "storage/IStorageDevice.h"

CNtfsVolumeAnalyze::CNtfsVolumeAnalyze(IStorageDevice* device, uint64_t start) {
  if (device == nullptr || start > static_cast<uint64_t>(INT64_MAX)) return;
  const int32_t sectorSize = device->GetSectorSize();
  if (sectorSize < static_cast<int32_t>(corvale::ntfs::boot::kSize)) return;
  std::vector<uint8_t> sector(static_cast<size_t>(sectorSize));
  if (!device->ReadSectors(sector.data(), start, 1)) return;
  CNTFSDBR boot;
  if (!boot.SetDBR(sector.data(), sector.size())) return;
  m_type = kFileSystemNtfs;
  // The boot sector counts the volume's own sectors, which need not be the device's.
  const auto bytes = corvale::checkedMul(boot.GetTotalSectors(), boot.GetBytesPerSector());
  m_sectorCount = bytes ? *bytes / static_cast<uint64_t>(sectorSize) : 0;
  char label[kNTFSVolumeNameBytes] = {};
  size_t written = 0;
  if (CNTFSVolumeLabelReader(device).ReadVolumeLabel(static_cast<int64_t>(start), boot, label, &written)) {
    m_label.assign(label, std::min(written, kMaxLabelBytes));
  }
}
