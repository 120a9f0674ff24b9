#pragma once
// A whole disk as a sector device: disk N of the platform's disk catalogue, or a block device or
// image file named by path. The disk is opened read-only; its reads are serialised by the device
// (the bounce buffer and the not-ready retry counter are shared state) and go through the sector
// reader with its bad-sector map.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/RawIo.h"
#include "storage/IStorageDevice.h"
#include "storage/SectorReader.h"

// The description of a disk shown in the device lists and stored whole in the state files: a bus
// type and five NUL-terminated narrow texts, 1304 bytes in all.
struct DISK_INFO_RECORD {
  static constexpr size_t kSize = 1304;
  static constexpr size_t kTextSize = 260;
  static constexpr size_t kBusTypeOffset = 0;
  static constexpr size_t kVendorOffset = 4;
  static constexpr size_t kProductOffset = 264;
  static constexpr size_t kRevisionOffset = 524;
  static constexpr size_t kSerialOffset = 784;
  static constexpr size_t kBusTextOffset = 1044;

  uint32_t busType = 0;
  char vendor[kTextSize] = {};
  char product[kTextSize] = {};
  char revision[kTextSize] = {};
  char serialNumber[kTextSize] = {};
  char busTypeText[kTextSize] = {};

  // The stored layout, little-endian.
  void Write(uint8_t* out) const;
  // Reads the stored layout; each text is cut at its last byte if it was not terminated.
  static DISK_INFO_RECORD Read(const uint8_t* in);
};

namespace corvale {

// The bus-type text of the disk description: "SCSI Disk Device" for 1 ... "RAID Disk Device" for 8,
// empty for every other type.
const char* BusTypeText(uint32_t busType);

// Copies a text reported by the drive into a description field of `size` bytes: leading spaces
// are skipped, and the text ends before its first pair of spaces (drives pad their fields with
// spaces); a longer text is cut to size - 1 bytes. Always NUL-terminates.
void CopyDriveText(char* out, size_t size, const std::string& text);

// What the queries of a disk answered, for the sector-count decision.
struct SectorCountFacts {
  bool geometryKnown = false;
  platform::DriveGeometry geometry;
  bool lengthKnown = false;
  uint64_t lengthBytes = 0;
};

// The sector count of a disk, and the sector size it was counted in. The geometry product is the
// first answer; the length replaces it when it is not smaller; otherwise a READ CAPACITY answer
// (asked through `readCapacity` with addressing 0 and 1, only when needed) replaces it when it
// exceeds the product by less than one cylinder. No geometry gives 0.
struct SectorCountDecision {
  int64_t sectorCount = 0;
  int32_t sectorSize = 0;  // 0 when the geometry was not known
};
SectorCountDecision DecideSectorCount(const SectorCountFacts& facts,
                                      const std::function<uint64_t(int addressing)>& readCapacity);

// The sector size a geometry gives: its bytes per sector, or 512 when that is 0 or not a multiple
// of 512.
int32_t SectorSizeFromGeometry(const platform::DriveGeometry& geometry);

}  // namespace corvale

class CDiskDevice : public IStorageDevice {
 public:
  static constexpr size_t kBounceBufferSize = 4 * 1024 * 1024;
  static constexpr int kMaxDiskNumber = 19;
  static constexpr int kMaxNotReadyRetries = 3;

  // Disk `diskNumber` of the disk catalogue; opened at once.
  explicit CDiskDevice(int diskNumber);
  // The disk (or image file) at `devicePath`; opened at once. Its disk number is -1.
  explicit CDiskDevice(const std::string& devicePath);
  // The disk of the catalogue entry at `devicePath` numbered `catalogueNumber`, opened at once by
  // its path, so that a catalogue longer than the numbered drives (many image files named by
  // CORVALE_DISKS) can be listed whole. GetDiskNumber still answers -1 above 20.
  CDiskDevice(const std::string& devicePath, int catalogueNumber);
  ~CDiskDevice() override;
  CDiskDevice(const CDiskDevice&) = delete;
  CDiskDevice& operator=(const CDiskDevice&) = delete;

  bool ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) override;
  int64_t GetSectorCount() override;
  int32_t GetSectorSize() override;
  bool Open() override;
  bool Close() override;

  bool IsOpened() const;
  bool IsDynamicDisk() const { return m_dynamic; }
  // The number when it lies in 0..20, else -1.
  int32_t GetDiskNumber() const;
  // The number the disk catalogue gave this disk, whatever its size; -1 when opened by path only.
  int32_t GetCatalogueNumber() const { return m_diskNumber; }
  const std::string& GetDevicePath() const { return m_path; }
  // Tracks per cylinder of the geometry, 255 when it cannot be queried.
  int32_t GetTracksPerCylinder();
  bool GetDriveGeometry(platform::DriveGeometry* geometry);
  // The kernel's partitions of this disk, by partition number, in sectors of this disk; false
  // when the disk is not open.
  bool QueryDriveLayout(std::vector<platform::KernelPartition>* partitions);
  // Fills the description from the drive's own report; false (record zeroed) when the disk cannot
  // be opened or does not answer.
  bool GetDiskInfo(DISK_INFO_RECORD* info);

  // The sector reader with its bad-range map (tests look at the recorded ranges).
  CSectorReader& Reader() { return m_reader; }

 private:
  int32_t SectorSizeLocked();
  int64_t SectorCountLocked();
  bool ReopenLocked();

  std::string m_path;
  int m_diskNumber = -1;
  bool m_byNumber = false;
  std::atomic<bool> m_dynamic{false};
  std::unique_ptr<platform::IRawDevice> m_raw;
  int64_t m_sectorCount = 0;
  int m_notReadyRetries = 0;
  CSectorReader m_reader;
  struct FreeDeleter {
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t, FreeDeleter> m_bounce;
  mutable std::mutex m_mutex;
};
