#include "platform/SharedMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace

SharedMemory::SharedMemory(unsigned char* data, size_t size, std::string posixName, bool created)
    : m_data(data), m_size(size), m_posixName(std::move(posixName)), m_created(created) {}

std::unique_ptr<SharedMemory> SharedMemory::Create(std::string_view name, size_t size, Failure* failure) {
  Fail(failure, Failure::None);
  std::string posixName = PosixObjectName(name);
  if (posixName.empty() || size == 0) {
    Fail(failure, Failure::Create);
    return nullptr;
  }
  int fd = shm_open(posixName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    Fail(failure, Failure::Create);
    return nullptr;
  }
  struct stat st {};
  // An object left by a crashed launcher of another user would not be ours to take over.
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
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
  return std::unique_ptr<SharedMemory>(new SharedMemory(data, size, std::move(posixName), true));
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
  if (fstat(fd, &st) != 0 || st.st_size < 0 || static_cast<unsigned long long>(st.st_size) < size) {
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
  return std::unique_ptr<SharedMemory>(new SharedMemory(data, size, std::move(posixName), false));
}

SharedMemory::~SharedMemory() {
  munmap(m_data, m_size);
  if (m_created) shm_unlink(m_posixName.c_str());
}

}  // namespace corvale
