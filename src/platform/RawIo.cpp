#include "platform/RawIo.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace platform {
namespace {

namespace fs = std::filesystem;

// A single pread asks for at most this much: the kernel caps one call near 2 GiB anyway, and a
// bounded request keeps the arithmetic on ssize_t honest.
constexpr size_t kMaxChunk = size_t{1} << 30;

// Geometry reported when the kernel has none of its own (it has none for most block devices):
// the common 255-head, 63-sector translation; the cylinder count follows from the length.
constexpr uint32_t kDefaultHeads = 255;
constexpr uint32_t kDefaultSectorsPerTrack = 63;

std::string ReadTextFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '\0'))
    text.pop_back();
  return text;
}

bool ReadNumberFile(const fs::path& path, uint64_t* out) {
  std::string text = ReadTextFile(path);
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str()) return false;
  *out = v;
  return true;
}

// The sysfs folder of the block device with device number `rdev`, and of the whole disk it
// belongs to (the same folder for a whole disk).
bool SysfsFolders(dev_t rdev, fs::path* self, fs::path* disk) {
  std::error_code ec;
  fs::path link = "/sys/dev/block/" + std::to_string(major(rdev)) + ":" + std::to_string(minor(rdev));
  fs::path resolved = fs::canonical(link, ec);
  if (ec) return false;
  *self = resolved;
  *disk = fs::exists(resolved / "partition", ec) ? resolved.parent_path() : resolved;
  return true;
}

// The unit serial number page (VPD 0x80) as sysfs hands it over: a 4-byte header whose last two
// bytes give the length of the serial that follows.
std::string SerialFromVpdPage(const std::string& page) {
  if (page.size() < 4 || static_cast<uint8_t>(page[1]) != 0x80) return {};
  size_t length = (static_cast<uint8_t>(page[2]) << 8) | static_cast<uint8_t>(page[3]);
  length = std::min(length, page.size() - 4);
  std::string serial = page.substr(4, length);
  serial.erase(std::find(serial.begin(), serial.end(), '\0'), serial.end());
  return serial;
}

class LinuxRawDevice : public IRawDevice {
 public:
  LinuxRawDevice(int fd, std::string path, const struct stat& st)
      : m_fd(fd), m_path(std::move(path)), m_st(st) {}
  ~LinuxRawDevice() override { ::close(m_fd); }

  int64_t ReadAt(void* buffer, size_t length, uint64_t offset) override {
    if (offset > static_cast<uint64_t>(INT64_MAX) || length > static_cast<uint64_t>(INT64_MAX) - offset)
      return -EINVAL;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < length) {
      size_t want = std::min(length - done, kMaxChunk);
      ssize_t r = ::pread(m_fd, out + done, want, static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return -errno;
      }
      if (r == 0) break;
      done += static_cast<size_t>(r);
    }
    return static_cast<int64_t>(done);
  }

  bool QueryGeometry(DriveGeometry* out) override {
    uint64_t bytes = 0;
    uint32_t sectorSize = 512;
    uint32_t heads = kDefaultHeads;
    uint32_t sectorsPerTrack = kDefaultSectorsPerTrack;
    uint32_t media = kMediaFixed;
    if (IsBlock()) {
      int ssz = 0;
      if (::ioctl(m_fd, BLKSSZGET, &ssz) != 0 || ssz <= 0) return false;
      if (::ioctl(m_fd, BLKGETSIZE64, &bytes) != 0) return false;
      sectorSize = static_cast<uint32_t>(ssz);
      struct hd_geometry geo {};
      if (::ioctl(m_fd, HDIO_GETGEO, &geo) == 0 && geo.heads != 0 && geo.sectors != 0) {
        heads = geo.heads;
        sectorsPerTrack = geo.sectors;
      }
      fs::path self, disk;
      uint64_t removable = 0;
      if (SysfsFolders(m_st.st_rdev, &self, &disk) && ReadNumberFile(disk / "removable", &removable) &&
          removable != 0)
        media = kMediaRemovable;
      // The floppy controller's drives are neither fixed nor removable disks to the lists.
      if (major(m_st.st_rdev) == kFloppyMajor) media = kMediaFloppy;
    } else if (S_ISREG(m_st.st_mode)) {
      struct stat st {};
      if (::fstat(m_fd, &st) != 0) return false;
      bytes = static_cast<uint64_t>(st.st_size);
    } else {
      return false;
    }
    out->bytesPerSector = sectorSize;
    out->tracksPerCylinder = heads;
    out->sectorsPerTrack = sectorsPerTrack;
    out->mediaType = media;
    out->cylinders = static_cast<int64_t>(bytes / sectorSize / (uint64_t{heads} * sectorsPerTrack));
    return true;
  }

  bool QueryLengthBytes(uint64_t* out) override {
    if (IsBlock()) return ::ioctl(m_fd, BLKGETSIZE64, out) == 0;
    if (!S_ISREG(m_st.st_mode)) return false;
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) return false;
    *out = static_cast<uint64_t>(st.st_size);
    return true;
  }

  // The kernel's SCSI pass-through has no per-request addressing byte, so both requests of the
  // sector-count rule are the same command here and `addressing` does not change it.
  uint64_t ReadCapacity(int /*addressing*/) override {
    if (!IsBlock()) return 0;
    unsigned char cdb[10] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    unsigned char reply[8] = {};
    unsigned char sense[32] = {};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.dxfer_direction = SG_DXFER_FROM_DEV;
    io.cmd_len = sizeof cdb;
    io.cmdp = cdb;
    io.dxfer_len = sizeof reply;
    io.dxferp = reply;
    io.mx_sb_len = sizeof sense;
    io.sbp = sense;
    io.timeout = 4000;
    if (::ioctl(m_fd, SG_IO, &io) != 0) return 0;
    if (io.status != 0 || io.host_status != 0 || io.driver_status != 0 || io.resid != 0) return 0;
    uint64_t last =
        (uint64_t{reply[0]} << 24) | (uint64_t{reply[1]} << 16) | (uint64_t{reply[2]} << 8) | reply[3];
    return last + 1;
  }

  bool QueryStorageDescriptor(StorageDescriptor* out) override {
    if (!IsBlock()) return false;
    *out = StorageDescriptor{};
    fs::path self, disk;
    if (!SysfsFolders(m_st.st_rdev, &self, &disk)) return true;
    std::error_code ec;
    fs::path device = disk / "device";
    fs::path resolved = fs::canonical(device, ec);
    if (ec) return true;  // a virtual disk (loop, ram) has no device behind it
    out->busType = BusTypeFromDevicePath(resolved.string(), ReadTextFile(device / "type"));
    out->vendor = ReadTextFile(device / "vendor");
    out->product = ReadTextFile(device / "model");
    if (out->product.empty()) out->product = ReadTextFile(device / "name");  // MMC cards
    out->revision = ReadTextFile(device / "rev");
    if (out->revision.empty()) out->revision = ReadTextFile(device / "firmware_rev");  // NVMe
    std::string serial = ReadTextFile(device / "serial");
    if (serial.empty()) serial = ReadTextFile(disk / "serial");  // virtio
    if (serial.empty()) serial = SerialFromVpdPage(ReadTextFile(device / "vpd_pg80"));
    out->serial = serial;
    out->hasSerial = !serial.empty();
    return true;
  }

  const std::string& Path() const override { return m_path; }
  int Handle() const override { return m_fd; }

 private:
  bool IsBlock() const { return S_ISBLK(m_st.st_mode); }

  int m_fd;
  std::string m_path;
  struct stat m_st;
};

class LinuxRawIoImpl : public IRawIo {
 public:
  std::unique_ptr<IRawDevice> OpenReadOnly(const std::string& path, int* error) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (error) *error = errno;
      return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      int e = S_ISDIR(st.st_mode) ? EISDIR : errno;
      ::close(fd);
      if (error) *error = e;
      return nullptr;
    }
    if (error) *error = 0;
    return std::make_unique<LinuxRawDevice>(fd, path, st);
  }
};

std::atomic<IRawIo*> g_current{nullptr};

}  // namespace

IRawIo& LinuxRawIo() {
  static LinuxRawIoImpl* io = new LinuxRawIoImpl;  // never destroyed: devices may outlive statics
  return *io;
}

IRawIo& CurrentRawIo() {
  IRawIo* io = g_current.load();
  return io ? *io : LinuxRawIo();
}

IRawIo* SetRawIo(IRawIo* io) {
  IRawIo* previous = g_current.exchange(io);
  return previous ? previous : &LinuxRawIo();
}

bool IsNotReadyError(int error) { return error == ENOMEDIUM || error == ENODEV || error == ENXIO; }

bool IsMediumError(int error) { return error == EIO || error == ENODATA || error == EILSEQ; }

bool IsPermissionError(int error) { return error == EACCES || error == EPERM; }

uint32_t BusTypeFromDevicePath(const std::string& path, const std::string& mmcType) {
  auto has = [&](const char* part) { return path.find(part) != std::string::npos; };
  // USB first: a USB bridge's disk also sits under a SCSI host.
  if (has("/usb")) return 7;
  if (has("/ata")) return 11;
  if (has("/nvme")) return 17;
  if (has("/end_device-")) return 10;
  if (has("/mmc")) return mmcType == "MMC" ? 13 : 12;
  if (has("/virtio")) return 0;
  if (has("/host") && has("/target")) return 1;
  return 0;
}

std::vector<KernelPartition> ListKernelPartitions(const std::string& devicePath) {
  std::vector<KernelPartition> parts;
  struct stat st {};
  if (::stat(devicePath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return parts;
  fs::path self, disk;
  if (!SysfsFolders(st.st_rdev, &self, &disk)) return parts;
  uint64_t logical = 512;
  if (!ReadNumberFile(disk / "queue" / "logical_block_size", &logical) || logical < 512 || logical % 512 != 0)
    logical = 512;
  const uint64_t ratio = logical / 512;  // sysfs counts partitions in 512-byte units
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(disk, ec)) {
    uint64_t number = 0, start = 0, size = 0;
    if (!ReadNumberFile(entry.path() / "partition", &number)) continue;
    if (!ReadNumberFile(entry.path() / "start", &start) || !ReadNumberFile(entry.path() / "size", &size))
      continue;
    if (number == 0 || number > INT_MAX) continue;
    parts.push_back({static_cast<int>(number), start / ratio, size / ratio});
  }
  std::sort(parts.begin(), parts.end(), [](const auto& a, const auto& b) { return a.number < b.number; });
  return parts;
}

}  // namespace platform
