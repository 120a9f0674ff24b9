#include "bench/Bench.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

std::vector<BenchCommand>& BenchCommands() {
  static std::vector<BenchCommand> commands;
  return commands;
}

void WarmPageCache(const std::string& image) {
  const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  std::vector<uint8_t> buffer(4 << 20);
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    at += n;
  }
  ::close(fd);
}
