#include "storage/DiskDevice.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "storage/ByteReader.h"
#include "storage/CheckedMath.h"
#include "storage/DeviceOpen.h"
#include "storage/DynamicDisk.h"

namespace {

constexpr size_t kBounceAlignment = 4096;

void PutText(uint8_t* out, const char* text) {
  // The texts are NUL-terminated inside their field; the rest of the field stays zero.
  std::memset(out, 0, DISK_INFO_RECORD::kTextSize);
  std::memcpy(out, text, strnlen(text, DISK_INFO_RECORD::kTextSize - 1));
}

void GetText(char* out, const uint8_t* in) {
  std::memcpy(out, in, DISK_INFO_RECORD::kTextSize);
  out[DISK_INFO_RECORD::kTextSize - 1] = '\0';
}

}  // namespace

void DISK_INFO_RECORD::Write(uint8_t* out) const {
  corvale::putLE(out + kBusTypeOffset, busType, 4);
  PutText(out + kVendorOffset, vendor);
  PutText(out + kProductOffset, product);
  PutText(out + kRevisionOffset, revision);
  PutText(out + kSerialOffset, serialNumber);
  PutText(out + kBusTextOffset, busTypeText);
}

DISK_INFO_RECORD DISK_INFO_RECORD::Read(const uint8_t* in) {
  DISK_INFO_RECORD r;
  r.busType = corvale::ByteReader(in, kSize).u32(kBusTypeOffset);
  GetText(r.vendor, in + kVendorOffset);
  GetText(r.product, in + kProductOffset);
  GetText(r.revision, in + kRevisionOffset);
  GetText(r.serialNumber, in + kSerialOffset);
  GetText(r.busTypeText, in + kBusTextOffset);
  return r;
}

namespace corvale {

const char* BusTypeText(uint32_t busType) {
  switch (busType) {
    case 1:
      return "SCSI Disk Device";
    case 2:
      return "ATAPI Bus";
    case 3:
      return "ATA Bus";
    case 4:
      return "1394 Disk Device";
    case 5:
      return "SSA Disk Device";
    case 6:
      return "FIBER Disk Device";
    case 7:
      return "USB Device";
    case 8:
      return "RAID Disk Device";
    default:
      return "";
  }
}

void CopyDriveText(char* out, size_t size, const std::string& text) {
  if (size == 0) return;
  size_t begin = text.find_first_not_of(' ');
  std::string kept;
  if (begin != std::string::npos) {
    size_t end = text.find("  ", begin);
    kept = text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  }
  kept = kept.substr(0, std::min(kept.find('\0'), size - 1));
  std::memcpy(out, kept.data(), kept.size());
  out[kept.size()] = '\0';
}

int32_t SectorSizeFromGeometry(const platform::DriveGeometry& geometry) {
  const uint32_t bps = geometry.bytesPerSector;
  if (bps == 0 || bps % 512 != 0 || bps > static_cast<uint32_t>(INT32_MAX)) return 512;
  return static_cast<int32_t>(bps);
}

SectorCountDecision DecideSectorCount(const SectorCountFacts& facts,
                                      const std::function<uint64_t(int addressing)>& readCapacity) {
  if (!facts.geometryKnown) return {};
  const platform::DriveGeometry& g = facts.geometry;
  const int32_t sectorSize = SectorSizeFromGeometry(g);
  const uint64_t cylinder = uint64_t{g.tracksPerCylinder} * g.sectorsPerTrack;
  const uint64_t cylinders = g.cylinders > 0 ? static_cast<uint64_t>(g.cylinders) : 0;
  uint64_t count = checkedMul(cylinders, cylinder).value_or(UINT64_MAX);

  const uint64_t byLength = facts.lengthBytes / static_cast<uint64_t>(sectorSize);
  if (facts.lengthKnown && byLength >= count) {
    count = byLength;
  } else {
    // A capacity is believed only when it exceeds the geometry by less than one cylinder.
    const uint64_t geometryCount = count;
    auto believable = [&](uint64_t capacity) {
      return capacity > geometryCount && capacity - geometryCount < cylinder;
    };
    const uint64_t a = readCapacity ? readCapacity(0) : 0;
    const uint64_t b = readCapacity ? readCapacity(1) : 0;
    if (a == b) {
      if (a != 0 && believable(a)) count = a;
    } else if (believable(a)) {
      count = a;
    } else if (believable(b)) {
      count = b;
    }
  }
  return {static_cast<int64_t>(std::min<uint64_t>(count, INT64_MAX)), sectorSize};
}

}  // namespace corvale

void CDiskDevice::FreeDeleter::operator()(uint8_t* p) const { std::free(p); }

CDiskDevice::CDiskDevice(const std::string& devicePath) : m_path(devicePath) { Open(); }

CDiskDevice::CDiskDevice(const std::string& devicePath, int catalogueNumber)
    : m_path(devicePath), m_diskNumber(catalogueNumber) {
  Open();
}

CDiskDevice::~CDiskDevice() = default;

bool CDiskDevice::Open() {
  int64_t count = 0;
  int32_t size = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_byNumber && (m_diskNumber < 0 || m_diskNumber > kMaxDiskNumber)) return false;
    m_raw.reset();
    if (m_path.empty()) return false;
    m_raw = corvale::OpenSourceReadOnly(m_path);
    if (!m_raw) return false;
    SectorSizeLocked();
    count = SectorCountLocked();
    size = m_sectorSize;  // the count may have settled the size
  }
  // The detection reads through ReadSectors, which takes the lock itself.
  m_dynamic = DetectDynamicDisk(this, count, size);
  return true;
}

bool CDiskDevice::Close() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_raw.reset();
  return true;
}

bool CDiskDevice::IsOpened() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_raw != nullptr;
}

int32_t CDiskDevice::GetDiskNumber() const {
  return m_diskNumber >= 0 && m_diskNumber <= 20 ? m_diskNumber : -1;
}

int32_t CDiskDevice::GetSectorSize() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return SectorSizeLocked();
}

int32_t CDiskDevice::SectorSizeLocked() {
  if (m_sectorSize > 0) return m_sectorSize;
  if (!m_raw) return 0;
  platform::DriveGeometry geometry;
  const int32_t size = m_raw->QueryGeometry(&geometry) ? corvale::SectorSizeFromGeometry(geometry) : 512;
  m_sectorSize = size;
  m_reader.SetSectorSize(size);
  return size;
}

int64_t CDiskDevice::GetSectorCount() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return SectorCountLocked();
}

int64_t CDiskDevice::SectorCountLocked() {
  if (m_sectorCount > 0) return m_sectorCount;
  if (!m_raw) return 0;
  corvale::SectorCountFacts facts;
  facts.geometryKnown = m_raw->QueryGeometry(&facts.geometry);
  if (!facts.geometryKnown) return 0;
  facts.lengthKnown = m_raw->QueryLengthBytes(&facts.lengthBytes);
  platform::IRawDevice* raw = m_raw.get();
  const corvale::SectorCountDecision d =
      corvale::DecideSectorCount(facts, [raw](int addressing) { return raw->ReadCapacity(addressing); });
  m_sectorSize = d.sectorSize;
  m_reader.SetSectorSize(d.sectorSize);
  m_sectorCount = d.sectorCount;
  return m_sectorCount;
}

bool CDiskDevice::ReopenLocked() {
  // Only the descriptor is renewed: the size, count and dynamic flag found at open still hold,
  // and the partition-table walk of a full open would read through this very device.
  m_raw.reset();
  m_raw = corvale::OpenSourceReadOnly(m_path);
  return m_raw != nullptr;
}

bool CDiskDevice::ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const int32_t size = m_sectorSize > 0 ? m_sectorSize : SectorSizeLocked();
  if (size <= 0) return false;  // never opened: the caller's buffer holds no sectors
  const auto bytes = corvale::checkedMul(count, static_cast<uint64_t>(size));
  if (!bytes) return false;

  if (!m_bounce) {
    void* p = nullptr;
    if (posix_memalign(&p, kBounceAlignment, kBounceBufferSize) == 0)
      m_bounce.reset(static_cast<uint8_t*>(p));
  }
  // The descriptor is opened without O_DIRECT, so the kernel accepts any buffer: the bounce buffer
  // only keeps the reads of an unaligned caller aligned, and a caller whose buffer is already
  // aligned, or whose read is larger than the bounce buffer, is read into directly (a copy through
  // 4 MiB pieces would buy nothing).
  const bool aligned = reinterpret_cast<uintptr_t>(buffer) % kBounceAlignment == 0;
  const bool useBounce = m_bounce && *bytes <= kBounceBufferSize && !aligned;
  void* target = useBounce ? static_cast<void*>(m_bounce.get()) : buffer;
  const bool ignore = GetRecoveryContext().IgnoreBadSectors != 0;

  bool ok = false;
  for (int pass = 0; pass < kMaxNotReadyRetries; ++pass) {
    int error = 0;
    ok = m_reader.ReadSector(m_raw.get(), target, firstSector, count, ignore, &error);
    if (platform::IsNotReadyError(error) && m_notReadyRetries < kMaxNotReadyRetries) {
      ++m_notReadyRetries;
      LogInfo("--------------Tev:Disk Device 0x%x not ready ,we will try to read again",
              static_cast<unsigned>(m_raw ? m_raw->Handle() : -1));
      ReopenLocked();
      LogInfo("--------------Tev:Disk Device handle = 0x%x",
              static_cast<unsigned>(m_raw ? m_raw->Handle() : -1));
      continue;
    }
    m_notReadyRetries = 0;
    break;
  }
  if (useBounce) std::memcpy(buffer, m_bounce.get(), static_cast<size_t>(*bytes));
  return ok;
}

int32_t CDiskDevice::GetTracksPerCylinder() {
  std::lock_guard<std::mutex> lock(m_mutex);
  platform::DriveGeometry geometry;
  if (!m_raw || !m_raw->QueryGeometry(&geometry)) return 255;
  return static_cast<int32_t>(geometry.tracksPerCylinder);
}

bool CDiskDevice::GetDriveGeometry(platform::DriveGeometry* geometry) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return geometry && m_raw && m_raw->QueryGeometry(geometry);
}

bool CDiskDevice::QueryDriveLayout(std::vector<platform::KernelPartition>* partitions) {
  if (!partitions || !IsOpened()) return false;
  *partitions = platform::ListKernelPartitions(m_path);
  return true;
}

bool CDiskDevice::GetDiskInfo(DISK_INFO_RECORD* info) {
  if (!info) return false;
  *info = DISK_INFO_RECORD{};
  if (m_path.empty()) return false;
  std::unique_ptr<platform::IRawDevice> raw = corvale::OpenSourceReadOnly(m_path);
  platform::StorageDescriptor d;
  if (!raw || !raw->QueryStorageDescriptor(&d)) return false;
  info->busType = d.busType;
  corvale::CopyDriveText(info->busTypeText, sizeof info->busTypeText, corvale::BusTypeText(d.busType));
  if (!d.vendor.empty()) corvale::CopyDriveText(info->vendor, sizeof info->vendor, d.vendor);
  if (!d.product.empty()) corvale::CopyDriveText(info->product, sizeof info->product, d.product);
  if (!d.revision.empty()) corvale::CopyDriveText(info->revision, sizeof info->revision, d.revision);
  if (d.hasSerial) corvale::CopyDriveText(info->serialNumber, sizeof info->serialNumber, d.serial);
  return true;
}
