#include "platform/HandleFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>

namespace {

// The open flags of each mode; -1 for a mode that does not exist.
int FlagsOfMode(int mode) {
  switch (mode) {
    case 0:
      return O_RDONLY;
    case 1:
      return O_WRONLY;
    case 2:
      return O_RDWR;
    // The modes that create never do so through a link: a link planted under the name (one
    // pointing nowhere included) would have the file made, or emptied, wherever it points.
    case 3:
      return O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW;
    case 4:
      return O_RDWR | O_CREAT | O_NOFOLLOW;
    default:
      return -1;
  }
}

}  // namespace

CHandleFile::CHandleFile(const std::string& path, int mode) { Open(path, mode); }

CHandleFile::~CHandleFile() { Close(); }

CHandleFile::CHandleFile(CHandleFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_lastError(other.m_lastError) {}

CHandleFile& CHandleFile::operator=(CHandleFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = std::exchange(other.m_fd, -1);
    m_lastError = other.m_lastError;
  }
  return *this;
}

bool CHandleFile::OpenWithFlags(const std::string& path, int flags) {
  Close();
  // Non-blocking only for the open itself: a FIFO left where a file was expected must not hang us.
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    m_lastError = errno;
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    m_lastError = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    return false;
  }
  int status = ::fcntl(fd, F_GETFL);
  if (status != -1) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  m_fd = fd;
  return true;
}

bool CHandleFile::Open(const std::string& path, int mode) {
  int flags = FlagsOfMode(mode);
  if (flags < 0) {
    Close();
    m_lastError = EINVAL;
    return false;
  }
  return OpenWithFlags(path, flags);
}

bool CHandleFile::CreateNew(const std::string& path) {
  // O_EXCL also refuses a symbolic link of that name, even one pointing nowhere.
  return OpenWithFlags(path, O_RDWR | O_CREAT | O_EXCL);
}

bool CHandleFile::Adopt(int fd) {
  Close();
  if (fd < 0) {
    m_lastError = EBADF;
    return false;
  }
  m_fd = fd;
  return true;
}

void CHandleFile::Close() {
  if (m_fd == -1) return;
  ::close(m_fd);
  m_fd = -1;
}

size_t CHandleFile::Read(void* buffer, size_t n) {
  if (m_fd == -1 || !buffer) return 0;
  char* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < n) {
    ssize_t got = ::read(m_fd, out + done, n - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) m_lastError = errno;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

bool CHandleFile::Write(const void* buffer, size_t n) {
  if (m_fd == -1) return false;
  if (n == 0) return true;
  if (!buffer) return false;
  const char* in = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < n) {
    ssize_t put = ::write(m_fd, in + done, n - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      m_lastError = put < 0 ? errno : EIO;
      return false;
    }
    done += static_cast<size_t>(put);
  }
  return true;
}

bool CHandleFile::WriteLine(const char* text, size_t n) {
  if (n == 0) return true;
  if (!text || !Write(text, n)) return false;
  if (n >= 2 && text[n - 2] == '\r' && text[n - 1] == '\n') return true;
  return Write("\r\n", 2);
}

size_t CHandleFile::ReadLine(char* buffer, size_t n) {
  if (!buffer) return 0;
  buffer[0] = '\0';
  if (m_fd == -1) return 0;
  size_t done = 0;
  while (done < n) {
    char c;
    ssize_t got = ::read(m_fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) m_lastError = errno;
    if (got <= 0) break;
    buffer[done++] = c;
    if (c == '\n') break;
  }
  buffer[done] = '\0';
  return done;
}

bool CHandleFile::Seek(uint64_t offset) {
  if (m_fd == -1) return false;
  if (offset > static_cast<uint64_t>(INT64_MAX)) {
    m_lastError = EINVAL;
    return false;
  }
  if (::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
    m_lastError = errno;
    return false;
  }
  return true;
}

bool CHandleFile::SeekToBegin() { return Seek(0); }

bool CHandleFile::SeekToEnd() {
  if (m_fd == -1) return false;
  if (::lseek(m_fd, 0, SEEK_END) < 0) {
    m_lastError = errno;
    return false;
  }
  return true;
}

uint64_t CHandleFile::GetPosition() const {
  if (m_fd == -1) return UINT64_MAX;
  off_t position = ::lseek(m_fd, 0, SEEK_CUR);
  if (position < 0) {
    m_lastError = errno;
    return UINT64_MAX;
  }
  return static_cast<uint64_t>(position);
}

bool CHandleFile::GetSize(uint64_t* size) const {
  if (m_fd == -1 || !size) return false;
  struct stat st {};
  if (::fstat(m_fd, &st) != 0) {
    m_lastError = errno;
    return false;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}
