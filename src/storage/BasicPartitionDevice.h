#pragma once
// A range of sectors of another device shown as a device of its own, numbered from 0: a partition
// found in a partition table or by a search. The window does not own the device under it.

#include <cstdint>

#include "storage/IStorageDevice.h"

class CBasicPartitionDevice : public IStorageDevice {
 public:
  CBasicPartitionDevice(IStorageDevice* inner, uint64_t firstSector, uint64_t sectorCount);

  // A read must start inside the window and ask for no more sectors than the window has. The part
  // that runs past the window end comes back zero-filled; the result is that of the inner read.
  bool ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) override;
  int64_t GetSectorCount() override { return static_cast<int64_t>(m_sectorCount); }
  // The inner device's sector size, 512 when there is no inner device.
  int32_t GetSectorSize() override;
  bool Open() override { return true; }
  bool Close() override { return true; }

  // First sector of the window on the inner device.
  uint64_t GetStartSector() const { return m_firstSector; }
  // The device the window looks into.
  IStorageDevice* GetWindowedDevice() const { return m_inner; }

 private:
  IStorageDevice* m_inner;
  uint64_t m_firstSector;
  uint64_t m_sectorCount;
};
