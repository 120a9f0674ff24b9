#include "fat/FatVolumeAnalyze.h"

#include <vector>

#include "core/StateIo.h"
#include "fat/FATDBR.h"
#include "fat/FATVolumeLabelReader.h"
#include "platform/Log.h"
#include "storage/IStorageDevice.h"

CFatVolumeAnalyze::CFatVolumeAnalyze(IStorageDevice* device, uint64_t startSector) : m_type(kFatTypeNone) {
  if (device == nullptr) return;
  const int32_t sectorSize = device->GetSectorSize();
  if (sectorSize < 512 || sectorSize > 65536) return;
  std::vector<uint8_t> sectors(4 * static_cast<size_t>(sectorSize));
  if (!device->ReadSectors(sectors.data(), startSector, 4)) return;
  const CFATDBR dbr(sectors.data(), sectors.size(), static_cast<uint32_t>(sectorSize));
  if (!dbr.IsValid()) {
    // A sector that names itself FAT16 or FAT32 but cannot be used is worth a line in a trace.
    if (dbr.GetCheckResult().IsDamaged())
      DebugTrace("FAT boot sector at sector %llu not taken: %s", static_cast<unsigned long long>(startSector),
                 dbr.GetCheckResult().describe().c_str());
    return;
  }
  m_type = dbr.GetFATType();
  m_sectorCount = dbr.GetTotalSectors();
  std::string label;
  if (CFATVolumeLabelReader(device).ReadVolumeLabel(startSector, dbr, &label))
    m_label = corvale::CutUtf8(label.c_str(), kMaxLabelBytes);
}
