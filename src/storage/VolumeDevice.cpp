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

namespace {

// A volume that has no block device of its own (a partition inside an image file) read through
// the disk that holds it: byte offsets are moved by the partition's start and reads stop at its
// end, so the volume cannot be read past into its neighbour.
class WindowRawDevice : public platform::IRawDevice {
 public:
  WindowRawDevice(std::unique_ptr<platform::IRawDevice> disk, uint64_t offset, uint64_t length,
                  uint32_t sectorSize)
      : m_disk(std::move(disk)), m_offset(offset), m_length(length), m_sectorSize(sectorSize) {}

  int64_t ReadAt(void* buffer, size_t length, uint64_t offset) override {
    if (offset >= m_length) return 0;
    const uint64_t n = std::min<uint64_t>(length, m_length - offset);
    return m_disk->ReadAt(buffer, static_cast<size_t>(n), m_offset + offset);
  }
  bool QueryGeometry(platform::DriveGeometry* out) override {
    platform::DriveGeometry disk;
    if (!m_disk->QueryGeometry(&disk)) return false;
    *out = disk;
    out->tracksPerCylinder = 255;
    out->sectorsPerTrack = 63;
    out->bytesPerSector = m_sectorSize;
    out->cylinders = static_cast<int64_t>(m_length / m_sectorSize / (255 * 63));
    return true;
  }
  bool QueryLengthBytes(uint64_t* out) override {
    *out = m_length;
    return true;
  }
  uint64_t ReadCapacity(int) override { return 0; }
  bool QueryStorageDescriptor(platform::StorageDescriptor*) override { return false; }
  const std::string& Path() const override { return m_disk->Path(); }
  int Handle() const override { return m_disk->Handle(); }

 private:
  std::unique_ptr<platform::IRawDevice> m_disk;
  uint64_t m_offset;
  uint64_t m_length;
  uint32_t m_sectorSize;
};

}  // namespace

std::unique_ptr<platform::IRawDevice> OpenVolumeOfLetter(char letter) {
  // A and B are the floppy drives, as they have always been; the letters of the volume list start
  // at C.
  if (letter == 'A' || letter == 'B') {
    const std::string floppy = letter == 'A' ? "/dev/fd0" : "/dev/fd1";
    struct stat st {};
    if (::stat(floppy.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return nullptr;
    return OpenSourceReadOnly(floppy);
  }
  std::optional<LetteredVolume> volume = VolumeOfLetter(letter);
  if (!volume || volume->devicePath.empty()) return nullptr;
  if (volume->devicePathIsVolume) return OpenSourceReadOnly(volume->devicePath);
  const uint32_t sectorSize = volume->sectorSize > 0 ? static_cast<uint32_t>(volume->sectorSize) : 512;
  const std::optional<uint64_t> offset = checkedMul(static_cast<uint64_t>(volume->startSector), sectorSize);
  const std::optional<uint64_t> length = checkedMul(static_cast<uint64_t>(volume->sectorCount), sectorSize);
  if (volume->startSector < 0 || volume->sectorCount <= 0 || !offset || !length) return nullptr;
  std::unique_ptr<platform::IRawDevice> disk = OpenSourceReadOnly(volume->devicePath);
  if (!disk) return nullptr;
  return std::make_unique<WindowRawDevice>(std::move(disk), *offset, *length, sectorSize);
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
    m_raw = corvale::OpenVolumeOfLetter(upper);
    if (!m_raw) return false;
    m_path = m_raw->Path();
    GetSectorSize();
    return true;
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
