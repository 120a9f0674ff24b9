#include "storage/VolumeDevice.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>

#include "platform/RecoveryContext.h"
#include "storage/CheckedMath.h"
#include "storage/DeviceOpen.h"
#include "storage/DiskDevice.h"
#include "storage/VolumeLetters.h"

namespace corvale {

std::optional<std::string> VolumePathForLetter(char letter) {
  // Letters are handed out by the volume list as it collects the volumes; no letter names a
  // volume before that, and a letter whose volume has no device of its own (a partition inside an
  // image file) cannot be opened by its letter.
  std::optional<LetteredVolume> volume = VolumeOfLetter(letter);
  if (!volume || !volume->devicePathIsVolume || volume->devicePath.empty()) return std::nullopt;
  return volume->devicePath;
}

}  // namespace corvale

CVolumeDevice::CVolumeDevice(char driveLetter) : m_letter(driveLetter), m_byLetter(true) { Open(); }

CVolumeDevice::CVolumeDevice(const std::string& devicePath) : m_path(devicePath) { Open(); }

CVolumeDevice::~CVolumeDevice() = default;

bool CVolumeDevice::Open() {
  if (m_byLetter) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(m_letter)));
    if (upper < 'A' || upper > 'Z') return false;
    m_raw.reset();
    std::optional<std::string> path = corvale::VolumePathForLetter(upper);
    if (!path) return false;
    m_path = *path;
  } else {
    m_raw.reset();
  }
  if (m_path.empty()) return false;
  m_raw = corvale::OpenSourceReadOnly(m_path);
  if (!m_raw) return false;
  // The reader must read in the volume's own sectors from the first read on.
  GetSectorSize();
  return true;
}

bool CVolumeDevice::Close() {
  m_raw.reset();
  return true;
}

int32_t CVolumeDevice::GetSectorSize() {
  if (m_sectorSize > 0) return m_sectorSize;
  if (!m_raw) return 0;
  platform::DriveGeometry geometry;
  const int32_t size = m_raw->QueryGeometry(&geometry) ? corvale::SectorSizeFromGeometry(geometry) : 512;
  m_sectorSize = size;
  m_reader.SetSectorSize(size);
  return size;
}

int64_t CVolumeDevice::GetSectorCount() {
  if (!m_raw) return 0;
  platform::DriveGeometry geometry;
  if (!m_raw->QueryGeometry(&geometry)) return 0;
  // The kernel knows a volume's length to the sector, while the geometry it is described by here
  // is made up of whole cylinders and would cut off the volume's last partial cylinder (where a
  // file system keeps, for one, its backup boot sector).
  uint64_t bytes = 0;
  const int32_t size = GetSectorSize();
  if (size > 0 && m_raw->QueryLengthBytes(&bytes))
    return static_cast<int64_t>(std::min<uint64_t>(bytes / static_cast<uint64_t>(size), INT64_MAX));
  const uint64_t cylinders = geometry.cylinders > 0 ? static_cast<uint64_t>(geometry.cylinders) : 0;
  const uint64_t product =
      corvale::checkedMul(cylinders, uint64_t{geometry.tracksPerCylinder} * geometry.sectorsPerTrack)
          .value_or(UINT64_MAX);
  return static_cast<int64_t>(std::min<uint64_t>(product, INT64_MAX));
}

bool CVolumeDevice::ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) {
  // A volume that was never opened has no sector size, so the caller's buffer holds nothing.
  if (!m_raw && m_sectorSize <= 0) return false;
  int error = 0;
  return m_reader.ReadSector(m_raw.get(), buffer, firstSector, count,
                             GetRecoveryContext().IgnoreBadSectors != 0, &error);
}

int32_t CVolumeDevice::GetMediaType() {
  platform::DriveGeometry geometry;
  if (!m_raw || !m_raw->QueryGeometry(&geometry)) return 0;
  return static_cast<int32_t>(geometry.mediaType);
}

bool CVolumeDevice::QueryDiskFreeSpace() {
  if (!m_raw) return false;
  struct stat st {};
  if (::stat(m_path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
  const std::string mountPoint =
      corvale::MountPointOf("/proc/self/mountinfo", major(st.st_rdev), minor(st.st_rdev));
  if (mountPoint.empty()) return false;
  struct statvfs vfs {};
  return ::statvfs(mountPoint.c_str(), &vfs) == 0;
}
