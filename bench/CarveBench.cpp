// corvale-bench carve IMAGE [OUTDIR]: the whole-device scan of an image with the RAW search
// controller alone, every built-in file type chosen, its blocks coming through the read-ahead cache
// as in the program; against a plain sequential pread of the same image in the same 4 MiB blocks,
// and against the read-ahead cache read alone (the scan's reading without the carving). The image
// is read once beforehand so that every pass reads from the page cache when it fits there: the
// figures compare the carver's own cost with the bare cost of moving the bytes.
//
// Files the scan leaves unmeasured (those starting in its last 20 blocks) are then measured as the
// result tree measures them, timed apart. With OUTDIR every file found is written there, named by
// its start sector and type.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "core/IntelligentSearchController.h"
#include "raw/IRawFileAnalyser.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFileTypeTable.h"
#include "storage/ImageFileDevice.h"
#include "storage/StorageDeviceWithCache.h"

namespace {

constexpr uint64_t kBlockSectors = 8192;  // 4 MiB of 512-byte sectors
constexpr size_t kBlockBytes = kBlockSectors * 512;

double PlainRead(int fd, uint64_t bytes, std::vector<uint8_t>& buffer, uint64_t* check) {
  const auto start = std::chrono::steady_clock::now();
  uint64_t sum = 0;
  for (uint64_t at = 0; at < bytes; at += kBlockBytes) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kBlockBytes, bytes - at));
    size_t done = 0;
    while (done < want) {
      const ssize_t n = ::pread(fd, buffer.data() + done, want - done, static_cast<off_t>(at + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return -1;
      done += static_cast<size_t>(n);
    }
    sum += buffer[want - 1];
  }
  *check = sum;
  return SecondsSince(start);
}

bool WriteFound(IStorageDevice& device, const CRawFileInfo& f, const std::string& dir, int index) {
  char name[96];
  const char* ext = GetRawFileExtension(f.GetFileType());
  std::snprintf(name, sizeof name, "%05d_s%" PRIu64 ".%s", index, f.GetStartSector(), *ext ? ext : "bin");
  const std::string path = dir + "/" + name;
  // Never overwrite a file already in the folder.
  const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) return false;
  std::vector<uint8_t> block(kBlockBytes);
  uint64_t left = f.GetFileSize();
  uint64_t sector = f.GetStartSector();
  bool ok = true;
  while (left > 0 && ok) {
    const uint64_t bytes = std::min<uint64_t>(left, kBlockBytes);
    const uint64_t sectors = (bytes + 511) / 512;
    ok = device.ReadSectors(block.data(), sector, sectors) &&
         ::write(out, block.data(), static_cast<size_t>(bytes)) == static_cast<ssize_t>(bytes);
    left -= bytes;
    sector += sectors;
  }
  ::close(out);
  return ok;
}

int RunCarve(int argc, char** argv) {
  if (argc < 1) {
    std::fprintf(stderr, "usage: corvale-bench carve IMAGE [OUTDIR]\n");
    return 2;
  }
  const std::string path = argv[0];
  const std::string outDir = argc >= 2 ? argv[1] : "";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
  }
  const uint64_t bytes = static_cast<uint64_t>(st.st_size) / 512 * 512;
  std::vector<uint8_t> buffer(kBlockBytes);
  uint64_t check = 0;
  PlainRead(fd, bytes, buffer, &check);  // into the page cache
  const double plainSeconds = PlainRead(fd, bytes, buffer, &check);
  ::close(fd);
  if (plainSeconds < 0) {
    std::fprintf(stderr, "plain read of %s failed\n", path.c_str());
    return 1;
  }

  CImageFileDevice device(path);
  if (!device.IsOpened()) {
    std::fprintf(stderr, "the image device cannot open %s\n", path.c_str());
    return 1;
  }
  // The blocks through the read-ahead cache into one buffer, nothing else done with them.
  const auto cacheStart = std::chrono::steady_clock::now();
  {
    CStorageDeviceWithCache cached(&device);
    cached.SetCacheBlockSize(static_cast<uint32_t>(kBlockSectors));
    cached.StartCacheThread(0);
    const uint64_t n = static_cast<uint64_t>(device.GetSectorCount());
    for (uint64_t first = 0, block = 0; first < n; first += kBlockSectors, ++block) {
      cached.SetCurCacheBlock(static_cast<uint32_t>(block));
      cached.ReadSectors(buffer.data(), first, std::min(kBlockSectors, n - first));
    }
    cached.StopCacheThread();
  }
  const double cacheSeconds = SecondsSince(cacheStart);

  // The scan: the whole-device search with the RAW controller alone, from the first block.
  CRawFileInfoList found;
  CRAWSearchController controller;
  controller.SetResultSink(&found);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&controller);
  const auto scanStart = std::chrono::steady_clock::now();
  if (driver.Search(nullptr) != 1) {
    std::fprintf(stderr, "the search could not start\n");
    return 1;
  }
  const IntelligentSearchSummary summary = driver.GetSummary();
  const double scanSeconds = SecondsSince(scanStart);

  // What the scan could not measure, measured against the device as the result tree does.
  const auto measureStart = std::chrono::steady_clock::now();
  uint64_t measuredLater = 0, unmeasured = 0;
  std::map<int32_t, uint64_t> byType;
  IIterator<CRawFileInfo*>* it = found.GetIterator();
  for (; !it->IsEnd(); it->Next()) {
    CRawFileInfo* f = it->Current();
    if (f->GetFileSize() == 0) {
      ++measuredLater;
      if (!f->GetAnalyser()->ComputeFileSize(f, &device) || f->GetFileSize() == 0) {
        f->SetFileSize(0);
        ++unmeasured;
      }
    }
    ++byType[f->GetFileType()];
  }
  const double measureSeconds = SecondsSince(measureStart);

  uint64_t written = 0, writeFailures = 0;
  if (!outDir.empty()) {
    ::mkdir(outDir.c_str(), 0755);
    int index = 0;
    for (it = found.GetIterator(); !it->IsEnd(); it->Next()) {
      const CRawFileInfo& f = *it->Current();
      if (f.GetFileSize() == 0) continue;
      if (WriteFound(device, f, outDir, index++)) {
        ++written;
      } else {
        ++writeFailures;
      }
    }
  }

  const double mb = static_cast<double>(bytes) / 1e6;
  const double scanMBps = scanSeconds > 0 ? mb / scanSeconds : 0;
  const double plainMBps = plainSeconds > 0 ? mb / plainSeconds : 0;
  const double cacheMBps = cacheSeconds > 0 ? mb / cacheSeconds : 0;
  std::printf("image %s: %" PRIu64 " bytes, 4 MiB blocks\n", path.c_str(), bytes);
  std::printf("  carve scan (RAW controller) %8.1f MB/s  (%.3f s)\n", scanMBps, scanSeconds);
  std::printf("  plain pread                 %8.1f MB/s  (%.3f s)\n", plainMBps, plainSeconds);
  std::printf("  read-ahead cache alone      %8.1f MB/s  (%.3f s)\n", cacheMBps, cacheSeconds);
  std::printf("  scan / plain                %8.2f\n", plainMBps > 0 ? scanMBps / plainMBps : 0);
  std::printf("  files identified %" PRId64 "\n", summary.FilesIdentified);
  std::printf("  files found %" PRIu64 " (measured after the scan %" PRIu64
              " in %.3f s, left unmeasured %" PRIu64 ")\n",
              static_cast<uint64_t>(found.GetCount()), measuredLater, measureSeconds, unmeasured);
  for (const auto& [type, n] : byType) std::printf("    %-6s %" PRIu64 "\n", GetRawFileExtension(type), n);
  if (!outDir.empty())
    std::printf("  written to %s: %" PRIu64 " (failed %" PRIu64 ")\n", outDir.c_str(), written,
                writeFailures);
  std::printf("{\"bench\":\"carve\",\"bytes\":%" PRIu64
              ",\"scan_seconds\":%.6f,\"scan_mbps\":%.1f,\"pread_seconds\":%.6f,"
              "\"pread_mbps\":%.1f,\"cache_mbps\":%.1f,\"ratio\":%.3f,\"files\":%" PRIu64
              ",\"measured_after\":%" PRIu64 ",\"measure_seconds\":%.6f,\"written\":%" PRIu64 "}\n",
              bytes, scanSeconds, scanMBps, plainSeconds, plainMBps, cacheMBps,
              plainMBps > 0 ? scanMBps / plainMBps : 0, static_cast<uint64_t>(found.GetCount()),
              measuredLater, measureSeconds, written);
  return writeFailures == 0 ? 0 : 1;
}

const BenchRegistration kCarve("carve", "IMAGE [OUTDIR]", RunCarve);

}  // namespace
