// corvale-bench read IMAGE: a sequential read of a whole image in 4 MiB requests through the device
// layer, against plain pread of the same file.
//
// A first, unmeasured pass brings the image into the page cache when it fits, so that the passes
// after it compare the layers' own cost rather than the disk; for an image larger than memory
// every pass reads the disk. The disk device is read twice: with an aligned buffer (read in
// place) and with a buffer one byte off alignment (read through its bounce buffer and copied).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "bench/Bench.h"
#include "storage/DiskDevice.h"
#include "storage/ImageFileDevice.h"

namespace {

constexpr uint64_t kRequestSectors = 8192;  // 4 MiB of 512-byte sectors
constexpr size_t kRequestBytes = kRequestSectors * 512;

struct Pass {
  double seconds = 0;
  uint64_t bytes = 0;
  uint64_t check = 0;
  bool ok = true;
  double MBps() const { return seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0; }
};

// Reads every request of the image with `read(buffer, firstSector, count)`; the check sums one word
// of every request so that the passes can be compared.
Pass Run(uint64_t sectors, uint8_t* buffer, const std::function<bool(uint8_t*, uint64_t, uint64_t)>& read) {
  Pass pass;
  auto start = std::chrono::steady_clock::now();
  for (uint64_t first = 0; first < sectors; first += kRequestSectors) {
    const uint64_t count = std::min(kRequestSectors, sectors - first);
    if (!read(buffer, first, count)) {
      pass.ok = false;
      break;
    }
    uint64_t word;
    std::memcpy(&word, buffer + (count * 512 - 8), 8);
    pass.check += word;
    pass.bytes += count * 512;
  }
  pass.seconds = SecondsSince(start);
  return pass;
}

int RunRead(int argc, char** argv) {
  if (argc < 1) {
    std::fprintf(stderr, "usage: corvale-bench read IMAGE\n");
    return 2;
  }
  const std::string path = argv[0];
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
  }
  const uint64_t sectors = static_cast<uint64_t>(st.st_size) / 512;

  void* memory = nullptr;
  if (posix_memalign(&memory, 4096, kRequestBytes + 4096) != 0) return 1;
  std::unique_ptr<void, void (*)(void*)> hold(memory, std::free);
  auto* aligned = static_cast<uint8_t*>(memory);

  auto preadRead = [&](uint8_t* buffer, uint64_t first, uint64_t count) {
    size_t done = 0;
    const size_t want = count * 512;
    while (done < want) {
      ssize_t r = ::pread(fd, buffer + done, want - done, static_cast<off_t>(first * 512 + done));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      done += static_cast<size_t>(r);
    }
    return true;
  };

  Run(sectors, aligned, preadRead);  // warm-up

  CImageFileDevice image(path);
  if (!image.IsOpened()) {
    std::fprintf(stderr, "the image device cannot open %s\n", path.c_str());
    return 1;
  }
  const Pass device =
      Run(sectors, aligned, [&](uint8_t* b, uint64_t f, uint64_t c) { return image.ReadSectors(b, f, c); });
  const Pass plain = Run(sectors, aligned, preadRead);

  CDiskDevice disk(path);
  const Pass diskDirect =
      Run(sectors, aligned, [&](uint8_t* b, uint64_t f, uint64_t c) { return disk.ReadSectors(b, f, c); });
  const Pass diskBounce = Run(sectors, aligned + 1,
                              [&](uint8_t* b, uint64_t f, uint64_t c) { return disk.ReadSectors(b, f, c); });
  ::close(fd);

  const bool same =
      device.check == plain.check && diskDirect.check == plain.check && diskBounce.check == plain.check;
  const bool ok = device.ok && plain.ok && diskDirect.ok && diskBounce.ok && same;
  std::printf("image %s: %llu bytes in 4 MiB requests\n", path.c_str(),
              static_cast<unsigned long long>(plain.bytes));
  std::printf("  image device            %8.1f MB/s  (%.3f s)\n", device.MBps(), device.seconds);
  std::printf("  plain pread             %8.1f MB/s  (%.3f s)\n", plain.MBps(), plain.seconds);
  std::printf("  disk device, in place   %8.1f MB/s  (%.3f s)\n", diskDirect.MBps(), diskDirect.seconds);
  std::printf("  disk device, bounced    %8.1f MB/s  (%.3f s)\n", diskBounce.MBps(), diskBounce.seconds);
  if (!ok) std::printf("  the passes did not read the same data\n");
  std::printf(
      "{\"bench\":\"read\",\"bytes\":%llu,\"device_seconds\":%.6f,\"device_mbps\":%.1f,\"pread_seconds\":%."
      "6f,"
      "\"pread_mbps\":%.1f,\"disk_direct_mbps\":%.1f,\"disk_bounced_mbps\":%.1f,\"ok\":%s}\n",
      static_cast<unsigned long long>(plain.bytes), device.seconds, device.MBps(), plain.seconds,
      plain.MBps(), diskDirect.MBps(), diskBounce.MBps(), ok ? "true" : "false");
  return ok ? 0 : 1;
}

const BenchRegistration kRead("read", "IMAGE", RunRead);

}  // namespace
