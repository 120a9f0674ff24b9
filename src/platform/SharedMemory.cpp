#include "platform/SharedMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/NamedObjects.h"

namespace corvale {
namespace {

void Fail(SharedMemory::Failure* out, SharedMemory::Failure what) {
  if (out) *out = what;
}

unsigned char* MapWhole(int fd, size_t size) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
}

// True when the existing object `posixName` is a leftover of the effective user's own.
bool IsOwnLeftover(const std::string& posixName) {
  int fd = shm_open(posixName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0);
  if (fd < 0) return false;
  struct stat st {};
  bool own = fstat(fd, &st) == 0 && PrivateObject(st);
  close(fd);
  return own;
}

}  // namespace

SharedMemory::SharedMemory(unsigned char* data, size_t size, std::string posixName, bool created, dev_t dev,
                           ino_t ino)
    : m_data(data),
      m_size(size),
      m_posixName(std::move(posixName)),
      m_created(created),
      m_dev(dev),
      m_ino(ino) {}

std::unique_ptr<SharedMemory> SharedMemory::Create(std::string_view name, size_t size, Failure* failure) {
  Fail(failure, Failure::None);
  std::string posixName = PosixObjectName(name);
  if (posixName.empty() || size == 0) {
    Fail(failure, Failure::Create);
    return nullptr;
  }
  int fd = -1;
  for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
    fd = shm_open(posixName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0 || errno != EEXIST) break;
    // An object of this name already exists. One that a crashed creator of our own left behind is
    // replaced; one made by anybody else is not ours to take over, read or remove. Should the name
    // be taken again between the removal and the second attempt, that attempt fails.
    if (!IsOwnLeftover(posixName)) {
      Fail(failure, Failure::Refused);
      return nullptr;
    }
    shm_unlink(posixName.c_str());
  }
  if (fd < 0) {
    Fail(failure, Failure::Create);
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    shm_unlink(posixName.c_str());
    Fail(failure, Failure::Create);
    return nullptr;
  }
  unsigned char* data = MapWhole(fd, size);
  close(fd);
  if (!data) {
    shm_unlink(posixName.c_str());
    Fail(failure, Failure::Map);
    return nullptr;
  }
  return std::unique_ptr<SharedMemory>(
      new SharedMemory(data, size, std::move(posixName), true, st.st_dev, st.st_ino));
}

std::unique_ptr<SharedMemory> SharedMemory::Open(std::string_view name, size_t size, Failure* failure) {
  Fail(failure, Failure::None);
  std::string posixName = PosixObjectName(name);
  if (posixName.empty() || size == 0) {
    Fail(failure, Failure::Create);
    return nullptr;
  }
  int fd = shm_open(posixName.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0);
  if (fd < 0) {
    Fail(failure, Failure::Create);
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !PrivateObject(st)) {
    close(fd);
    Fail(failure, Failure::Refused);
    return nullptr;
  }
  if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) != size) {
    close(fd);
    Fail(failure, Failure::Map);
    return nullptr;
  }
  unsigned char* data = MapWhole(fd, size);
  close(fd);
  if (!data) {
    Fail(failure, Failure::Map);
    return nullptr;
  }
  return std::unique_ptr<SharedMemory>(
      new SharedMemory(data, size, std::move(posixName), false, st.st_dev, st.st_ino));
}

SharedMemory::~SharedMemory() {
  munmap(m_data, m_size);
  if (!m_created) return;
  // A later creator may have replaced the object under the same name; its object stays.
  int fd = shm_open(m_posixName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0);
  if (fd < 0) return;
  struct stat st {};
  bool same = fstat(fd, &st) == 0 && st.st_dev == m_dev && st.st_ino == m_ino;
  close(fd);
  if (same) shm_unlink(m_posixName.c_str());
}

}  // namespace corvale
