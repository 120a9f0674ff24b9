#include "platform/FileMappingLog.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/Log.h"

namespace {

constexpr int kMutexWaitMs = 1000;
constexpr size_t kHeaderSize = 4;

}  // namespace

CFileMappingLog::CFileMappingLog(int create) : m_create(create) {
  using corvale::SharedMemory;
  SharedMemory::Failure failure = SharedMemory::Failure::None;
  m_mapping = create ? SharedMemory::Create(corvale::kSharedLogName, corvale::kSharedLogSize, &failure)
                     : SharedMemory::Open(corvale::kSharedLogName, corvale::kSharedLogSize, &failure);
  if (!m_mapping) {
    OutputDebugText(failure == SharedMemory::Failure::Map ? "Failed to map the map file!\n"
                                                          : "Failed to create map file!\n");
  } else {
    // Only the launcher starts the buffer afresh. A writer that empties it on opening would throw
    // away what a crashed predecessor wrote and the launcher has not collected yet, and would do it
    // without the mutex, racing with a flush.
    Attach(m_mapping->Data(), m_mapping->Size(), create != 0);
  }
  m_mutex = std::make_unique<corvale::NamedMutex>(corvale::kSharedLogMutexName, false);
}

CFileMappingLog::~CFileMappingLog() = default;

int CFileMappingLog::Initialize(int) { return 1; }

bool CFileMappingLog::Attach(unsigned char* start, size_t size, bool empty) {
  if (!start || size < kHeaderSize) return false;
  m_view = start;
  m_viewSize = size;
  if (empty) SetUsed(0);
  return true;
}

uint32_t CFileMappingLog::Used() const {
  const unsigned char* p = m_view;
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void CFileMappingLog::SetUsed(uint32_t used) {
  m_view[0] = static_cast<unsigned char>(used);
  m_view[1] = static_cast<unsigned char>(used >> 8);
  m_view[2] = static_cast<unsigned char>(used >> 16);
  m_view[3] = static_cast<unsigned char>(used >> 24);
}

int CFileMappingLog::Append(const char* data, unsigned length) {
  if (!data || length == 0) return 0;
  uint64_t used = Used();
  if (used + length + kHeaderSize > m_viewSize) return 0;
  std::memcpy(m_view + kHeaderSize + used, data, length);
  SetUsed(static_cast<uint32_t>(used + length));
  return 1;
}

int CFileMappingLog::Write(const char* data, unsigned length) {
  corvale::NamedMutexLock lock(*m_mutex, kMutexWaitMs);
  if (!lock.Locked() || !m_view) {
    OutputDebugText("Failed to request the permission to write to buffer!\n");
    return 0;
  }
  return Append(data, length);
}

int CFileMappingLog::FlushToFile(int fd) {
  if (fd < 0) return 0;
  corvale::NamedMutexLock lock(*m_mutex, kMutexWaitMs);
  if (!lock.Locked() || !m_view) {
    OutputDebugText("Failed to request the permission to write to log file!\n");
    return 0;
  }
  uint32_t used = Used();
  if (used > m_viewSize - kHeaderSize) {
    // The count comes from memory that another program writes; one that claims more text than the
    // buffer holds is garbage, and following it would read past the mapping.
    OutputDebugText("Shared log holds a byte count of %u, more than its buffer; the text is dropped.\n",
                    used);
    SetUsed(0);
    return 0;
  }
  size_t written = 0;
  while (written < used) {
    ssize_t n = ::write(fd, m_view + kHeaderSize + written, used - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  SetUsed(0);
  return written == used ? 1 : 0;
}

namespace corvale {

bool ConnectLogToSharedBuffer() {
  auto buffer = std::make_shared<CFileMappingLog>(0);
  if (!buffer->IsOpen()) return false;
  log::SetSharedLogWriter([buffer](std::string_view line) {
    if (line.size() > kSharedLogSize) return;  // could never fit; and keeps the length in 32 bits
    buffer->Write(line.data(), static_cast<unsigned>(line.size()));
  });
  return true;
}

}  // namespace corvale
