// corvale-bench carve [--baselines] IMAGE [OUTDIR]: the whole-device scan of an image with the RAW
// search controller alone, every built-in file type chosen, its blocks coming through the read-ahead
// cache as in the program. Alone it does what a user's carve does and nothing more, so that it can
// be timed as a whole process against another carver.
//
// With --baselines the scan is also set against a plain sequential pread of the same image in the
// same 4 MiB blocks, and against the read-ahead cache read alone (the scan's reading without the
// carving). The image is then read once beforehand so that every pass reads from the page cache
// when it fits there: the figures compare the carver's own cost with the bare cost of moving the
// bytes.
//
// The "Raw Files" tree is then built over the found files as the program builds it, timed apart:
// the files the scan left unmeasured are measured there, and files found inside files already taken
// are kept only in proportion to them. With OUTDIR every file of that tree is written there, named
// by its start sector and type. Before each file and during its writing the target's free space is
// looked at: the carving stops with a message, and a failing exit, rather than fill the target.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "core/DataRunList.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/IntelligentSearchController.h"
#include "raw/IRawFileAnalyser.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawFilesFolderBuilder.h"
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

// The bytes the carving leaves free on the target: a twentieth of its file system, at most 64 MiB,
// so that a full carve never takes the space the system and other writers need.
uint64_t FreeSpaceReserve(uint64_t fileSystemBytes) {
  return std::min<uint64_t>(uint64_t{64} << 20, fileSystemBytes / 20);
}

// What the target's file system can still take from this writer, and its size; nullopt when the
// file system does not tell.
struct TargetSpace {
  uint64_t freeBytes;
  uint64_t totalBytes;
};
std::optional<TargetSpace> QueryTargetSpace(int fd) {
  struct statvfs s {};
  if (::fstatvfs(fd, &s) != 0) return std::nullopt;
  const uint64_t unit = s.f_frsize != 0 ? s.f_frsize : s.f_bsize;
  return TargetSpace{uint64_t(s.f_bavail) * unit, uint64_t(s.f_blocks) * unit};
}

// Whether `bytes` more can be written to the file system of `fd` and leave its reserve free. When it
// cannot, says so on stderr, naming the target. A file system that tells nothing is not held back.
bool HasRoomFor(int fd, uint64_t bytes, const std::string& target) {
  const std::optional<TargetSpace> space = QueryTargetSpace(fd);
  if (!space) return true;
  const uint64_t reserve = FreeSpaceReserve(space->totalBytes);
  if (space->freeBytes >= reserve && space->freeBytes - reserve >= bytes) return true;
  std::fprintf(stderr,
               "carving stopped: %s has %" PRIu64 " bytes free, the next %" PRIu64
               " bytes would leave less than the %" PRIu64 " bytes kept free\n",
               target.c_str(), space->freeBytes, bytes, reserve);
  return false;
}

enum class WriteOutcome { kWritten, kFailed, kNoRoom };

// Writes `size` bytes from sector `start` into `name` in `dir`, looking at the free space before
// each block.
WriteOutcome WriteFound(IStorageDevice& device, uint64_t start, uint64_t size, int dirFd,
                        const std::string& dir, const std::string& name) {
  if (!HasRoomFor(dirFd, size, dir)) return WriteOutcome::kNoRoom;
  // Never overwrite a file already in the folder.
  const int out = ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (out < 0) return WriteOutcome::kFailed;
  std::vector<uint8_t> block(kBlockBytes);
  uint64_t left = size;
  uint64_t sector = start;
  WriteOutcome outcome = WriteOutcome::kWritten;
  while (left > 0 && outcome == WriteOutcome::kWritten) {
    const uint64_t bytes = std::min<uint64_t>(left, kBlockBytes);
    const uint64_t sectors = (bytes + 511) / 512;
    // Other writers share the target: what was free when the file began may be gone.
    if (!HasRoomFor(out, bytes, dir)) {
      outcome = WriteOutcome::kNoRoom;
    } else if (!device.ReadSectors(block.data(), sector, sectors)) {
      outcome = WriteOutcome::kFailed;
    } else if (::write(out, block.data(), static_cast<size_t>(bytes)) != static_cast<ssize_t>(bytes)) {
      if (errno == ENOSPC || errno == EDQUOT) {
        std::fprintf(stderr, "carving stopped: %s is full\n", dir.c_str());
        outcome = WriteOutcome::kNoRoom;
      } else {
        outcome = WriteOutcome::kFailed;
      }
    }
    left -= bytes;
    sector += sectors;
  }
  ::close(out);
  // A file cut short by a full target is not left behind as if it were whole.
  if (outcome == WriteOutcome::kNoRoom) ::unlinkat(dirFd, name.c_str(), 0);
  return outcome;
}

int RunCarve(int argc, char** argv) {
  bool baselines = false;
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--baselines") == 0) {
      baselines = true;
    } else {
      args.emplace_back(argv[i]);
    }
  }
  if (args.empty() || args.size() > 2 || args[0].rfind("--", 0) == 0) {
    std::fprintf(stderr, "usage: corvale-bench carve [--baselines] IMAGE [OUTDIR]\n");
    return 2;
  }
  const std::string path = args[0];
  const std::string outDir = args.size() >= 2 ? args[1] : "";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    if (fd >= 0) ::close(fd);
    return 1;
  }
  const uint64_t bytes = static_cast<uint64_t>(st.st_size) / 512 * 512;
  std::vector<uint8_t> buffer(kBlockBytes);
  double plainSeconds = 0;
  if (baselines) {
    uint64_t check = 0;
    PlainRead(fd, bytes, buffer, &check);  // into the page cache
    plainSeconds = PlainRead(fd, bytes, buffer, &check);
  }
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
  double cacheSeconds = 0;
  if (baselines) {
    // The blocks through the read-ahead cache into one buffer, nothing else done with them.
    const auto cacheStart = std::chrono::steady_clock::now();
    CStorageDeviceWithCache cached(&device);
    cached.SetCacheBlockSize(static_cast<uint32_t>(kBlockSectors));
    cached.StartCacheThread(0);
    const uint64_t n = static_cast<uint64_t>(device.GetSectorCount());
    for (uint64_t first = 0, block = 0; first < n; first += kBlockSectors, ++block) {
      cached.SetCurCacheBlock(static_cast<uint32_t>(block));
      cached.ReadSectors(buffer.data(), first, std::min(kBlockSectors, n - first));
    }
    cached.StopCacheThread();
    cacheSeconds = SecondsSince(cacheStart);
  }

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

  uint64_t measuredLater = 0;
  std::map<int32_t, uint64_t> byType;
  IIterator<CRawFileInfo*>* it = found.GetIterator();
  for (; !it->IsEnd(); it->Next()) {
    if (it->Current()->GetFileSize() == 0) ++measuredLater;
    ++byType[it->Current()->GetFileType()];
  }

  // The tree as the program builds it: what the scan left unmeasured is measured here.
  const auto treeStart = std::chrono::steady_clock::now();
  CRawFilesFolderBuilder builder;
  CFileSystemNode* root = builder.BuildRawFilesFolder(&device, found.GetIterator(), nullptr, nullptr, 0);
  const double treeSeconds = SecondsSince(treeStart);
  struct Kept {
    uint64_t start;
    uint64_t size;
    std::string extension;
  };
  std::vector<Kept> kept;
  uint64_t keptBytes = 0;
  if (root) {
    WalkSubtree(root, [&](CFileNode* n) {
      const IFileProperties* p = n->GetFileProperties();
      if (!p || p->IsFolder()) return;
      const std::unique_ptr<IDataRunList> runs = p->CreateDataRunList();
      if (!runs || runs->GetRunCount() == 0) return;
      const std::string name = p->GetName();
      const size_t dot = name.rfind('.');
      kept.push_back({runs->Runs().front().start, p->GetSize(),
                      dot == std::string::npos ? "bin" : name.substr(dot + 1)});
      keptBytes += p->GetSize();
    });
    FreeFileTree(root);
  }

  uint64_t written = 0, writtenBytes = 0, writeFailures = 0;
  bool noRoom = false;
  const auto writeStart = std::chrono::steady_clock::now();
  if (!outDir.empty()) {
    ::mkdir(outDir.c_str(), 0755);
    const int dirFd = ::open(outDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (dirFd < 0) {
      std::fprintf(stderr, "cannot open %s: %s\n", outDir.c_str(), std::strerror(errno));
      return 1;
    }
    int index = 0;
    for (const Kept& k : kept) {
      char name[96];
      std::snprintf(name, sizeof name, "%05d_s%" PRIu64 ".%s", index++, k.start, k.extension.c_str());
      const WriteOutcome outcome = WriteFound(device, k.start, k.size, dirFd, outDir, name);
      if (outcome == WriteOutcome::kNoRoom) {
        noRoom = true;
        break;
      }
      if (outcome == WriteOutcome::kWritten) {
        ++written;
        writtenBytes += k.size;
      } else {
        ++writeFailures;
      }
    }
    ::close(dirFd);
  }
  const double writeSeconds = outDir.empty() ? 0 : SecondsSince(writeStart);

  const double mb = static_cast<double>(bytes) / 1e6;
  const double scanMBps = scanSeconds > 0 ? mb / scanSeconds : 0;
  const double plainMBps = plainSeconds > 0 ? mb / plainSeconds : 0;
  const double cacheMBps = cacheSeconds > 0 ? mb / cacheSeconds : 0;
  std::printf("image %s: %" PRIu64 " bytes, 4 MiB blocks\n", path.c_str(), bytes);
  std::printf("  carve scan (RAW controller) %8.1f MB/s  (%.3f s)\n", scanMBps, scanSeconds);
  if (baselines) {
    std::printf("  plain pread                 %8.1f MB/s  (%.3f s)\n", plainMBps, plainSeconds);
    std::printf("  read-ahead cache alone      %8.1f MB/s  (%.3f s)\n", cacheMBps, cacheSeconds);
    std::printf("  scan / plain                %8.2f\n", plainMBps > 0 ? scanMBps / plainMBps : 0);
  }
  std::printf("  files identified %" PRId64 "\n", summary.FilesIdentified);
  std::printf("  files found %" PRIu64 " (left unmeasured by the scan %" PRIu64 ")\n",
              static_cast<uint64_t>(found.GetCount()), measuredLater);
  for (const auto& [type, n] : byType) std::printf("    %-6s %" PRIu64 "\n", GetRawFileExtension(type), n);
  std::printf("  tree build: %zu files kept, %" PRIu64 " bytes (%.2f x the image) in %.3f s\n", kept.size(),
              keptBytes, bytes > 0 ? double(keptBytes) / double(bytes) : 0, treeSeconds);
  if (!outDir.empty())
    std::printf("  written to %s: %" PRIu64 " files, %" PRIu64 " bytes in %.3f s (failed %" PRIu64 "%s)\n",
                outDir.c_str(), written, writtenBytes, writeSeconds, writeFailures,
                noRoom ? ", stopped for free space" : "");
  std::printf("{\"bench\":\"carve\",\"bytes\":%" PRIu64
              ",\"scan_seconds\":%.6f,\"scan_mbps\":%.1f,\"pread_seconds\":%.6f,"
              "\"pread_mbps\":%.1f,\"cache_mbps\":%.1f,\"ratio\":%.3f,\"files\":%" PRIu64
              ",\"measured_after\":%" PRIu64 ",\"tree_seconds\":%.6f,\"kept\":%zu,\"kept_bytes\":%" PRIu64
              ",\"written\":%" PRIu64 ",\"written_bytes\":%" PRIu64 ",\"write_seconds\":%.6f}\n",
              bytes, scanSeconds, scanMBps, plainSeconds, plainMBps, cacheMBps,
              plainMBps > 0 ? scanMBps / plainMBps : 0, static_cast<uint64_t>(found.GetCount()),
              measuredLater, treeSeconds, kept.size(), keptBytes, written, writtenBytes, writeSeconds);
  return writeFailures == 0 && !noRoom ? 0 : 1;
}

const BenchRegistration kCarve("carve", "[--baselines] IMAGE [OUTDIR]", RunCarve);

}  // namespace
