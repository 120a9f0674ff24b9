#include "fat/PartitionFATSearchController.h"

#include "core/LostPartitionRecord.h"
#include "core/LostPartitionSearcher.h"
#include "fat/FATDBR.h"
#include "fat/FATVolumeLabelReader.h"
#include "storage/ByteReader.h"
#include "storage/CheckedMath.h"
#include "storage/IStorageDevice.h"

void CPartitionFATSearchController::SetDevice(IStorageDevice* device) {
  m_device = device;
  const int32_t size = device != nullptr ? device->GetSectorSize() : 0;
  m_sectorSize = size >= 512 ? uint32_t(size) : 512;
  m_fatSector.assign(m_sectorSize, 0);
}

bool CPartitionFATSearchController::BeginsFatTable(const uint8_t* bytes, size_t length, int32_t type) {
  const corvale::ByteReader r(bytes, length);
  if (!r.has(0, 8)) return false;
  switch (type) {
    case kFatType32:
      return (r.u32(0) & 0x0FFFFFFF) == 0x0FFFFFF8 && (r.u32(4) & 0x0FFFFFF8) == 0x0FFFFFF8;
    case kFatType16:
      return r.u32(0) == 0xFFFFFFF8;
    case kFatType12:
      // The media byte (0xF0 or 0xF8 to 0xFF), then the rest of the first two 12-bit entries.
      return r.u8(0) >= 0xF0 && r.u8(1) == 0xFF && r.u8(2) == 0xFF;
    default:
      return false;
  }
}

int CPartitionFATSearchController::TestSector(const void* sector, int64_t position,
                                              CLostPartitionRecord* out) {
  if (m_device == nullptr || sector == nullptr || out == nullptr || position < 0) return 0;
  const CFATDBR dbr(static_cast<const uint8_t*>(sector), m_sectorSize, m_sectorSize);
  if (!dbr.IsValid()) return 0;
  const auto fatSector = corvale::checkedAdd(uint64_t(position), dbr.GetReservedSectors());
  if (!fatSector || !m_device->ReadSectors(m_fatSector.data(), *fatSector, 1)) return 0;
  if (!BeginsFatTable(m_fatSector.data(), m_fatSector.size(), dbr.GetFATType())) return 0;

  std::string label;
  CFATVolumeLabelReader(m_device).ReadVolumeLabel(uint64_t(position), dbr, &label);
  const uint64_t total = dbr.GetTotalSectors();
  FillLostPartitionRecord(out, m_device, uint64_t(position), total, dbr.GetFATType(), label.data(),
                          label.size(), total);
  return 1;
}
