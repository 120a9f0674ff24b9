#pragma once
// A device with large sectors (4096 bytes, say) shown as a device of 512-byte sectors, for the
// readers that assume 512. It keeps the last inner sector it read, so 512-byte pieces read in order
// cost one inner read per inner sector. It does not own the device under it.

#include <cstdint>
#include <vector>

#include "storage/IStorageDevice.h"

class CSimulateStorageDevice : public IStorageDevice {
 public:
  explicit CSimulateStorageDevice(IStorageDevice* inner);

  // A request that covers whole inner sectors reads them in one inner call straight into `buffer`;
  // pieces of an inner sector come from the sector held. When an inner read fails the result is
  // false and the 512-byte sectors before the failing inner sector are already in `buffer`.
  bool ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) override;
  int64_t GetSectorCount() override;
  int32_t GetSectorSize() override { return 512; }
  bool Open() override { return true; }
  bool Close() override { return true; }
  IStorageDevice* GetInnerDevice() override { return m_inner; }

 private:
  // One inner sector, at least 512 bytes so that a piece can always be cut from it.
  std::vector<uint8_t> m_sector;
  IStorageDevice* m_inner;
  // 512-byte sectors per inner sector, at least 1.
  int32_t m_ratio;
  // The inner sector size the view was built for; the held buffer is sized from it.
  int32_t m_innerSectorSize;
  // Index of the inner sector in m_sector plus 1; 0 while it holds nothing.
  uint64_t m_held = 0;
};
