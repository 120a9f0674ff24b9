#include "support/FaultyRawIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace corvale::test {

class FaultyRawDevice : public platform::IRawDevice {
 public:
  FaultyRawDevice(FaultyRawIo* io, std::string path, int handle)
      : m_io(io), m_path(std::move(path)), m_handle(handle) {}
  ~FaultyRawDevice() override {
    std::lock_guard<std::mutex> lock(m_io->m_mutex);
    Source().liveHandles--;
  }

  int64_t ReadAt(void* buffer, size_t length, uint64_t offset) override {
    std::lock_guard<std::mutex> lock(m_io->m_mutex);
    FaultySource& s = Source();
    s.readLog.emplace_back(offset, length);
    if (s.notReadyCount > 0) {
      s.notReadyCount--;
      return -s.notReadyErrno;
    }
    if (length > 0 && !s.badSectors.empty()) {
      uint64_t firstSector = offset / s.badSectorSize;
      uint64_t lastSector = (offset + length - 1) / s.badSectorSize;
      auto it = s.badSectors.lower_bound(firstSector);
      if (it != s.badSectors.end() && *it <= lastSector) return -s.badErrno;
    }
    uint64_t size = SizeLocked(s);
    uint64_t n = offset < size ? std::min<uint64_t>(length, size - offset) : 0;
    if (!s.shortAnswers.empty()) {
      n = std::min<uint64_t>(n, s.shortAnswers.front());
      s.shortAnswers.pop_front();
    }
    if (n == 0) return 0;
    if (s.file.empty()) {
      uint64_t fromBytes = offset < s.bytes.size() ? std::min<uint64_t>(n, s.bytes.size() - offset) : 0;
      if (fromBytes) std::memcpy(buffer, s.bytes.data() + offset, fromBytes);
      std::memset(static_cast<uint8_t*>(buffer) + fromBytes, 0, n - fromBytes);
      return static_cast<int64_t>(n);
    }
    int fd = ::open(s.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -errno;
    ssize_t r = ::pread(fd, buffer, n, static_cast<off_t>(offset));
    int e = errno;
    ::close(fd);
    return r < 0 ? -e : r;
  }

  bool QueryGeometry(platform::DriveGeometry* out) override {
    std::lock_guard<std::mutex> lock(m_io->m_mutex);
    const FaultySource& s = Source();
    if (!s.geometry) return false;
    *out = *s.geometry;
    return true;
  }

  bool QueryLengthBytes(uint64_t* out) override {
    std::lock_guard<std::mutex> lock(m_io->m_mutex);
    FaultySource& s = Source();
    if (s.lengthFails) return false;
    *out = s.lengthBytes ? *s.lengthBytes : SizeLocked(s);
    return true;
  }

  uint64_t ReadCapacity(int addressing) override {
    std::lock_guard<std::mutex> lock(m_io->m_mutex);
    return addressing == 0 ? Source().capacityA : Source().capacityB;
  }

  bool QueryStorageDescriptor(platform::StorageDescriptor* out) override {
    std::lock_guard<std::mutex> lock(m_io->m_mutex);
    const FaultySource& s = Source();
    if (!s.storage) return false;
    *out = *s.storage;
    return true;
  }

  const std::string& Path() const override { return m_path; }
  int Handle() const override { return m_handle; }

 private:
  FaultySource& Source() { return m_io->m_sources.at(m_path); }
  static uint64_t SizeLocked(const FaultySource& s) {
    if (s.file.empty()) return std::max<uint64_t>(s.bytes.size(), s.virtualSize);
    struct stat st {};
    return ::stat(s.file.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  }

  FaultyRawIo* m_io;
  std::string m_path;
  int m_handle;
};

FaultyRawIo::~FaultyRawIo() = default;

FaultySource& FaultyRawIo::Add(const std::string& path, std::vector<uint8_t> bytes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  FaultySource& s = m_sources[path];
  s = FaultySource{};
  s.bytes = std::move(bytes);
  return s;
}

FaultySource& FaultyRawIo::AddFile(const std::string& path, const std::string& file) {
  FaultySource& s = Add(path);
  s.file = file;
  return s;
}

std::vector<std::pair<uint64_t, uint64_t>> FaultyRawIo::ReadLog(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_sources.at(path).readLog;
}

void FaultyRawIo::ClearReadLog(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sources.at(path).readLog.clear();
}

std::unique_ptr<platform::IRawDevice> FaultyRawIo::OpenReadOnly(const std::string& path, int* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_sources.find(path);
  if (it == m_sources.end() || it->second.openErrno != 0) {
    if (error) *error = it == m_sources.end() ? ENOENT : it->second.openErrno;
    return nullptr;
  }
  if (error) *error = 0;
  it->second.opens++;
  it->second.liveHandles++;
  return std::make_unique<FaultyRawDevice>(this, path, m_nextHandle++);
}

}  // namespace corvale::test
