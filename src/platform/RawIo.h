#pragma once
// Raw access to a disk, a volume or an image file, in place of the operating system's device
// handles. Every source is opened read-only and read positionally, so any number of threads may
// read one opened source at once.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The drive geometry as the device layer expects it (the 24-byte geometry record).
struct DriveGeometry {
  int64_t cylinders = 0;
  uint32_t mediaType = 0;  // 12 fixed disk, 11 removable media
  uint32_t tracksPerCylinder = 0;
  uint32_t sectorsPerTrack = 0;
  uint32_t bytesPerSector = 0;
};

constexpr uint32_t kMediaFixed = 12;
constexpr uint32_t kMediaRemovable = 11;
// A 3.5" floppy disk: what the geometry of a drive of the floppy controller reports.
constexpr uint32_t kMediaFloppy = 2;
// The block-device major number of the floppy controller's drives (/dev/fd0, /dev/fd1).
constexpr unsigned kFloppyMajor = 2;

// What the storage-property query answers for a disk.
struct StorageDescriptor {
  uint32_t busType = 0;  // the bus-type numbering of the disk description record
  std::string vendor;
  std::string product;
  std::string revision;
  std::string serial;
  bool hasSerial = false;
};

class IRawDevice {
 public:
  virtual ~IRawDevice() = default;
  // Reads up to `length` bytes at byte `offset`. Returns the number of bytes read, which is less
  // than `length` only when the source ends first (0 at or past the end), or -errno when a read
  // failed (bytes before the failure may already be in the buffer). Never moves a shared position.
  virtual int64_t ReadAt(void* buffer, size_t length, uint64_t offset) = 0;
  virtual bool QueryGeometry(DriveGeometry* out) = 0;
  virtual bool QueryLengthBytes(uint64_t* out) = 0;
  // SCSI READ CAPACITY(10): the returned last block address + 1, in 64 bits; 0 when refused.
  // `addressing` is the 0/1 that tells the two requests of the sector-count rule apart.
  virtual uint64_t ReadCapacity(int addressing) = 0;
  virtual bool QueryStorageDescriptor(StorageDescriptor* out) = 0;
  // The path this source was opened from.
  virtual const std::string& Path() const = 0;
  // A number naming this open source in log lines (the descriptor).
  virtual int Handle() const = 0;
};

class IRawIo {
 public:
  virtual ~IRawIo() = default;
  // Opens `path` read-only. On failure returns null and sets *error to the errno (EACCES or EPERM
  // for a source the user has no right to open).
  virtual std::unique_ptr<IRawDevice> OpenReadOnly(const std::string& path, int* error) = 0;
};

// The real implementation over Linux block devices and files.
IRawIo& LinuxRawIo();
// The implementation devices use; tests swap in a double. Returns the previous one.
IRawIo& CurrentRawIo();
IRawIo* SetRawIo(IRawIo* io);

// ENOMEDIUM, and ENODEV/ENXIO once a removable drive went away: "drive not ready".
bool IsNotReadyError(int error);
// EIO, ENODATA, EILSEQ: a medium error, the only kind that counts as a bad sector.
bool IsMediumError(int error);
// EACCES, EPERM: the user has no right to open the source.
bool IsPermissionError(int error);

// The bus-type code of a disk from the resolved path of its sysfs "device" link and, for MMC
// devices, the card type the kernel reports ("SD", "MMC"). Stable between runs: the disk
// description that carries it is part of the saved fingerprint of a disk.
uint32_t BusTypeFromDevicePath(const std::string& resolvedDevicePath, const std::string& mmcType);

// One partition the kernel knows on a disk, in sectors of the disk's logical sector size.
struct KernelPartition {
  int number = 0;
  uint64_t startSector = 0;
  uint64_t sectorCount = 0;
};
// The kernel's partitions of the block device at `devicePath`, by partition number; empty for a
// file or a disk without partitions.
std::vector<KernelPartition> ListKernelPartitions(const std::string& devicePath);

}  // namespace platform
