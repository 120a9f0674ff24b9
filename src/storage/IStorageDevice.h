#pragma once
// The sector device every reader of the engine goes through: partition tables, file-system engines,
// the searches and disk imaging.
//
// Contract kept by every device: a device may be read by two threads at once (the read-ahead thread
// and its consumer); leaf devices read positionally and never share a file position. A source is
// only ever opened for reading.

#include <cstdint>
#include <memory>

class IStorageDevice {
 public:
  virtual ~IStorageDevice();

  // Reads `count` sectors from `firstSector` into `buffer`, which holds count * GetSectorSize() bytes.
  virtual bool ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) = 0;
  virtual int64_t GetSectorCount() = 0;
  virtual int32_t GetSectorSize() = 0;
  virtual bool Open() = 0;
  virtual bool Close() = 0;
  // Null for every device except the 512-byte view, which returns the device it wraps.
  virtual IStorageDevice* GetInnerDevice() { return nullptr; }

  // The device itself when its sectors are 512 bytes; otherwise a 512-byte view over it, made on
  // the first call and kept for the life of this device. A device that does not know its sector
  // size (not open) is returned as it is: a view over it would have no sectors to cut.
  IStorageDevice* GetDeviceWith512ByteSectors();

 protected:
  // Sector size cache of the devices that keep it here; 0 = not yet known.
  int32_t m_sectorSize = 0;

 private:
  std::unique_ptr<IStorageDevice> m_view512;
};
