#include "bench/Bench.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

std::vector<BenchCommand>& BenchCommands() {
  static std::vector<BenchCommand> commands;
  return commands;
}

void WarmPageCache(const std::string& image) {
  const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  const uint64_t size = ::fstat(fd, &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  // Only the pages not yet in the cache are read: a warm image then costs next to nothing here, so
  // that a whole-process timing of a subcommand measures its work and not a copy of the image.
  std::vector<unsigned char> resident;
  void* map = size > 0 ? ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
  if (map != MAP_FAILED) {
    resident.resize((size + page - 1) / page);
    if (::mincore(map, size, resident.data()) != 0) resident.clear();
    ::munmap(map, size);
  }
  std::vector<uint8_t> buffer(4 << 20);
  if (resident.empty()) {
    // A device, or a file whose cache cannot be asked about: all of it, to its end.
    for (off_t at = 0;;) {
      const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      at += n;
    }
  }
  const uint64_t piecePages = buffer.size() / page;
  for (uint64_t first = 0; first < resident.size();) {
    if ((resident[first] & 1) != 0) {
      ++first;
      continue;
    }
    uint64_t pages = 1;
    while (pages < piecePages && first + pages < resident.size() && (resident[first + pages] & 1) == 0)
      ++pages;
    const ssize_t n = ::pread(fd, buffer.data(), pages * page, static_cast<off_t>(first * page));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    first += (static_cast<uint64_t>(n) + page - 1) / page;
  }
  ::close(fd);
}
