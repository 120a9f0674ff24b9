#pragma once
// A volume (a partition or a whole-disk file system) as a sector device, by drive letter or by the
// path of its block device. Opened read-only; reads go through the sector reader with its
// bad-sector map, positionally and without a lock, so two threads may read at once.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/RawIo.h"
#include "storage/IStorageDevice.h"
#include "storage/SectorReader.h"

namespace corvale {
// The device path of the volume holding drive letter `letter` ('A'..'Z'), or nothing when no
// volume has it.
std::optional<std::string> VolumePathForLetter(char letter);
// Opens the volume holding drive letter `letter`: its own block device, or, for a volume that has
// none (a partition inside an image file), the part of its disk that it spans. Null when no volume
// has the letter or it cannot be opened.
std::unique_ptr<platform::IRawDevice> OpenVolumeOfLetter(char letter);
}  // namespace corvale

class CVolumeDevice : public IStorageDevice {
 public:
  // The volume of `driveLetter`; opened at once.
  explicit CVolumeDevice(char driveLetter);
  // The volume at `devicePath` (its drive letter is 0); opened at once.
  explicit CVolumeDevice(const std::string& devicePath);
  ~CVolumeDevice() override;
  CVolumeDevice(const CVolumeDevice&) = delete;
  CVolumeDevice& operator=(const CVolumeDevice&) = delete;

  bool ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) override;
  int64_t GetSectorCount() override;
  int32_t GetSectorSize() override;
  bool Open() override;
  bool Close() override;

  bool IsOpened() const { return m_raw != nullptr; }
  char GetDriveLetter() const { return m_letter; }
  const std::string& GetDevicePath() const { return m_path; }
  // The media type of the geometry, 0 when the volume is not open.
  int32_t GetMediaType();
  // Whether the free space of the mounted file system can be asked for (the values are not kept);
  // false when the volume is not open or not mounted.
  bool QueryDiskFreeSpace();

  CSectorReader& Reader() { return m_reader; }

 private:
  std::unique_ptr<platform::IRawDevice> m_raw;
  char m_letter = 0;
  bool m_byLetter = false;
  std::string m_path;
  CSectorReader m_reader;
};
