// corvale-bench image IMAGE OUTDIR: IMAGE imaged into compressed part files under OUTDIR with each
// compressor (stored unchanged, zlib, bzip2, LZMA), then read back through the image device in
// 4 MiB requests and compared with the source, next to a plain copy of the same bytes (4 MiB
// reads and writes, flushed to disk like the image's parts). For each it prints MB/s of the source
// bytes, the size written, and how many cores the run kept busy (CPU time over wall time); it ends
// with one JSON line.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/Bench.h"
#include "storage/CompressController.h"
#include "storage/ImageFile.h"
#include "storage/ImageFileDevice.h"
#include "storage/ImageFileDeviceWithDecompress.h"

namespace {

constexpr uint64_t kRequestSectors = 8192;  // 4 MiB

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Timed {
  double seconds = 0;
  double cpu = 0;
  double MBps(uint64_t bytes) const { return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0; }
  double Cores() const { return seconds > 0 ? cpu / seconds : 0; }
};

template <typename F>
Timed Time(F&& work) {
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  work();
  return {SecondsSince(start), CpuSeconds() - cpu};
}

// A check of the bytes read, to tell that two passes read the same.
uint64_t Mix(uint64_t h, const uint8_t* p, size_t n) {
  for (size_t i = 0; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    h = (h ^ w) * 0x100000001b3ull;
  }
  return h;
}

uint64_t ImageBytesOnDisk(const std::string& descriptor, uint32_t parts) {
  std::error_code ec;
  uint64_t total = std::filesystem::file_size(descriptor, ec);
  for (uint32_t p = 0; p < parts; ++p)
    total += std::filesystem::file_size(corvale::image::PartFilePath(descriptor, p), ec);
  return total;
}

int RunImage(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: corvale-bench image IMAGE OUTDIR\n");
    return 2;
  }
  const std::string path = argv[0];
  const std::string outdir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(outdir, ec);
  WarmPageCache(path);
  CImageFileDevice source(path);
  if (!source.IsOpened()) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    return 1;
  }
  const uint64_t sectors = static_cast<uint64_t>(source.GetSectorCount());
  const uint64_t bytes = sectors * 512;
  std::vector<uint8_t> buffer(kRequestSectors * 512);

  // The plain copy, and the check of the source's bytes.
  uint64_t sourceCheck = 0xcbf29ce484222325ull;
  bool copied = true;
  const std::string copyPath = outdir + "/plain-copy.img";
  const Timed copy = Time([&] {
    const int out = ::open(copyPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    copied = out >= 0;
    for (uint64_t first = 0; copied && first < sectors; first += kRequestSectors) {
      const uint64_t count = std::min(kRequestSectors, sectors - first);
      copied = source.ReadSectors(buffer.data(), first, count) &&
               ::pwrite(out, buffer.data(), count * 512, static_cast<off_t>(first * 512)) ==
                   static_cast<ssize_t>(count * 512);
      sourceCheck = Mix(sourceCheck, buffer.data(), count * 512);
    }
    if (out >= 0) copied = ::fdatasync(out) == 0 && ::close(out) == 0 && copied;
  });
  std::printf("image %s: %llu bytes, %u cores\n", path.c_str(), static_cast<unsigned long long>(bytes),
              std::thread::hardware_concurrency());
  std::printf("  %-8s write %8.1f MB/s (%.3f s, %.1f cores busy)%s\n", "copy", copy.MBps(bytes), copy.seconds,
              copy.Cores(), copied ? "" : "  FAILED");

  struct Row {
    const char* name;
    int type;
    Timed write, read;
    uint64_t stored = 0;
    uint32_t parts = 0;
    bool ok = false;
  };
  std::vector<Row> rows = {{"stored", COMPRESSION_NONE, {}, {}},
                           {"zlib", COMPRESSION_ZLIB, {}, {}},
                           {"bzip2", COMPRESSION_BZIP2, {}, {}},
                           {"lzma", COMPRESSION_LZMA, {}, {}}};
  bool allOk = copied;
  for (Row& r : rows) {
    const std::string descriptor = outdir + "/" + r.name + ".kbi";
    CCompressController controller;
    controller.SetSource(&source, path.c_str(), 0, sectors, 255);
    controller.SetCompressParam(r.type, 1, 0);
    controller.SetImageFilePath(descriptor);
    bool made = false;
    r.write = Time([&] { made = controller.Compress(nullptr); });
    r.parts = controller.GetPartsCreated();
    r.stored = made ? ImageBytesOnDisk(descriptor, r.parts) : 0;
    uint64_t check = 0xcbf29ce484222325ull;
    bool read = made;
    if (made) {
      CImageFileDeviceWithDecompress image(descriptor);
      r.read = Time([&] {
        for (uint64_t first = 0; read && first < sectors; first += kRequestSectors) {
          const uint64_t count = std::min(kRequestSectors, sectors - first);
          read = image.ReadSectors(buffer.data(), first, count);
          check = Mix(check, buffer.data(), count * 512);
        }
      });
    }
    r.ok = made && read && check == sourceCheck;
    allOk = allOk && r.ok;
    std::printf(
        "  %-8s write %8.1f MB/s (%.3f s, %.1f cores busy), read back %8.1f MB/s (%.3f s), %llu bytes "
        "(%.1f %%)%s%s\n",
        r.name, r.write.MBps(bytes), r.write.seconds, r.write.Cores(), r.read.MBps(bytes), r.read.seconds,
        static_cast<unsigned long long>(r.stored), bytes ? 100.0 * r.stored / bytes : 0.0,
        made ? "" : "  FAILED: ",
        made ? (r.ok ? "" : "  READ BACK DIFFERS") : controller.GetErrorText().c_str());
  }

  std::printf("{\"bench\":\"image\",\"bytes\":%llu,\"cores\":%u,\"copy_mbps\":%.1f",
              static_cast<unsigned long long>(bytes), std::thread::hardware_concurrency(), copy.MBps(bytes));
  for (const Row& r : rows)
    std::printf(",\"%s_write_mbps\":%.1f,\"%s_write_cores\":%.2f,\"%s_read_mbps\":%.1f,\"%s_bytes\":%llu",
                r.name, r.write.MBps(bytes), r.name, r.write.Cores(), r.name, r.read.MBps(bytes), r.name,
                static_cast<unsigned long long>(r.stored));
  std::printf(",\"ok\":%s}\n", allOk ? "true" : "false");
  return allOk ? 0 : 1;
}

const BenchRegistration kImage("image", "IMAGE OUTDIR", RunImage);

}  // namespace
