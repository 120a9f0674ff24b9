// corvale-bench cache IMAGE: the whole image read block by block through the read-ahead cache, as
// the whole-device search reads it (4 MiB blocks, one consumer taking every block), against plain
// pread of the same file in the same 4 MiB steps. The page cache is dropped before every pass when
// the machine lets us, so both passes read from the disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "storage/ImageFileDevice.h"
#include "storage/StorageDeviceWithCache.h"

namespace {

constexpr size_t kBlockBytes = 4194304;
constexpr int32_t kSectorSize = CImageFileDevice::kSectorSize;
constexpr int kRounds = 5;

// Forgets the file's cached pages: the whole page cache when we may, else this file's clean pages.
const char* DropCaches(int fd) {
  ::sync();
  if (FILE* f = std::fopen("/proc/sys/vm/drop_caches", "w")) {
    bool ok = std::fputs("3", f) >= 0;
    ok = std::fclose(f) == 0 && ok;
    if (ok) return "drop_caches";
  }
  if (::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0) return "fadvise";
  return "none";
}

// A cheap fingerprint of what was read: the first bytes of every block, so both passes can be
// checked to have delivered the same blocks in the same order without slowing either down.
uint64_t Fold(uint64_t sum, const uint8_t* block) {
  uint64_t word;
  for (int i = 0; i < 8; ++i) {
    std::memcpy(&word, block + i * 8, 8);
    sum = (sum ^ word) * 0x100000001B3ull;
  }
  return sum;
}

struct Pass {
  double seconds = 0;
  uint64_t fingerprint = 0;
  bool ok = true;
};

Pass PlainRead(int fd, uint64_t bytes, std::vector<uint8_t>& buffer) {
  Pass pass;
  auto start = std::chrono::steady_clock::now();
  for (uint64_t at = 0; at < bytes; at += kBlockBytes) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kBlockBytes, bytes - at));
    size_t got = 0;
    while (got < want) {
      ssize_t n = ::pread(fd, buffer.data() + got, want - got, static_cast<off_t>(at + got));
      if (n <= 0) {
        pass.ok = false;
        return pass;
      }
      got += static_cast<size_t>(n);
    }
    pass.fingerprint = Fold(pass.fingerprint, buffer.data());
  }
  pass.seconds = SecondsSince(start);
  return pass;
}

Pass CachedRead(IStorageDevice& file, std::vector<uint8_t>& buffer) {
  Pass pass;
  auto start = std::chrono::steady_clock::now();
  CStorageDeviceWithCache cache(&file);
  const uint32_t block = static_cast<uint32_t>(kBlockBytes / cache.GetSectorSize());
  cache.SetCacheBlockSize(block);
  cache.StartCacheThread(0);
  const uint64_t total = static_cast<uint64_t>(cache.GetSectorCount());
  for (uint32_t i = 0; cache.IsBlockInRange(i); ++i) {
    uint64_t first = static_cast<uint64_t>(i) * block;
    uint64_t count = std::min<uint64_t>(block, total - first);
    if (!cache.SetCurCacheBlock(i) || !cache.ReadSectors(buffer.data(), first, count)) {
      pass.ok = false;
      break;
    }
    pass.fingerprint = Fold(pass.fingerprint, buffer.data());
  }
  cache.StopCacheThread();
  pass.seconds = SecondsSince(start);
  return pass;
}

double MBps(uint64_t bytes, double seconds) { return seconds > 0 ? bytes / seconds / 1e6 : 0; }

int RunCacheBench(int argc, char** argv) {
  if (argc < 1) {
    std::fprintf(stderr, "usage: corvale-bench cache IMAGE\n");
    return 2;
  }
  const char* path = argv[0];
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    std::fprintf(stderr, "cannot open %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  const int64_t sectors = st.st_size / kSectorSize;
  const uint64_t bytes = static_cast<uint64_t>(sectors) * kSectorSize;
  if (sectors <= 0) {
    std::fprintf(stderr, "%s holds no whole sector\n", path);
    ::close(fd);
    return 1;
  }
  CImageFileDevice file(path);
  if (!file.IsOpened() || file.GetSectorCount() != sectors) {
    std::fprintf(stderr, "the image-file device cannot open %s\n", path);
    ::close(fd);
    return 1;
  }
  std::vector<uint8_t> buffer(kBlockBytes);

  std::printf("image %s: %" PRIu64 " bytes, %" PRId64 " sectors, blocks of %zu bytes\n", path, bytes, sectors,
              kBlockBytes);
  double bestPlain = 0, bestCached = 0;
  const char* dropped = "none";
  for (int round = 1; round <= kRounds; ++round) {
    // The order changes every round, so neither pass always runs on a machine the other warmed.
    Pass plain, cached;
    if (round % 2) {
      dropped = DropCaches(fd);
      plain = PlainRead(fd, bytes, buffer);
      DropCaches(fd);
      cached = CachedRead(file, buffer);
    } else {
      dropped = DropCaches(fd);
      cached = CachedRead(file, buffer);
      DropCaches(fd);
      plain = PlainRead(fd, bytes, buffer);
    }
    if (!plain.ok || !cached.ok) {
      std::fprintf(stderr, "read failed (%s)\n", plain.ok ? "through the cache" : "plain pread");
      ::close(fd);
      return 1;
    }
    if (plain.fingerprint != cached.fingerprint) {
      std::fprintf(stderr, "the cached pass delivered other blocks than plain pread\n");
      ::close(fd);
      return 1;
    }
    double p = MBps(bytes, plain.seconds), c = MBps(bytes, cached.seconds);
    std::printf("round %d: pread %.1f MB/s (%.3f s), cache %.1f MB/s (%.3f s)\n", round, p, plain.seconds, c,
                cached.seconds);
    bestPlain = std::max(bestPlain, p);
    bestCached = std::max(bestCached, c);
  }
  ::close(fd);
  double ratio = bestPlain > 0 ? bestCached / bestPlain : 0;
  std::printf(
      "best of %d: pread %.1f MB/s, cache %.1f MB/s, cache/pread %.1f%% (page cache dropped by: %s)\n",
      kRounds, bestPlain, bestCached, ratio * 100, dropped);
  std::printf("{\"bench\":\"cache\",\"bytes\":%" PRIu64
              ",\"block_bytes\":%zu,\"rounds\":%d,\"pread_mbps\":%.1f,"
              "\"cache_mbps\":%.1f,\"ratio\":%.3f,\"cache_dropped\":\"%s\"}\n",
              bytes, kBlockBytes, kRounds, bestPlain, bestCached, ratio, dropped);
  return 0;
}

BenchRegistration registration("cache", "IMAGE", RunCacheBench);

}  // namespace
