// corvale-bench ntfs-tree IMAGE: the directory-tree build of the NTFS volume at the start of IMAGE,
// as the program runs it. Prints MFT records per second and the live and deleted files and folders
// of the tree, and ends with one JSON line.
//
// A first, unmeasured pass brings the image into the page cache when it fits, so that the figure
// measures the build, not the disk.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "core/FileNode.h"
#include "ntfs/NTFSDirectoryBuilder.h"
#include "ntfs/NTFSFileProperties.h"
#include "storage/ImageFileDevice.h"

namespace {

// CPU seconds of the whole process so far (user and system), to set beside the wall time on a busy
// machine.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int RunNtfsTree(int argc, char** argv) {
  if (argc < 1) {
    std::fprintf(stderr, "usage: corvale-bench ntfs-tree IMAGE\n");
    return 2;
  }
  const std::string image = argv[0];
  WarmPageCache(image);
  CImageFileDevice device(image);
  if (!device.IsOpened()) {
    std::fprintf(stderr, "cannot open %s\n", image.c_str());
    return 1;
  }
  CNTFSDirectoryBuilder builder;
  const double cpuStart = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(builder.Build(0, &device, nullptr), FreeFileTree);
  const double seconds = SecondsSince(start);
  const double cpuSeconds = CpuSeconds() - cpuStart;
  if (!tree) {
    std::fprintf(stderr, "%s: no NTFS tree built\n", image.c_str());
    return 1;
  }
  uint64_t liveFiles = 0, deletedFiles = 0, liveFolders = 0, deletedFolders = 0, lostFolders = 0;
  WalkSubtree(tree.get(), [&](CFileNode* n) {
    auto* p = dynamic_cast<CNTFSFileProperties*>(n->GetFileProperties());
    if (p == nullptr || n == tree.get()) return;
    if (p->GetStatus() == CNTFSFileProperties::kStatusLostFiles) {
      ++lostFolders;
      return;
    }
    const bool deleted = p->IsDeleted();
    if (p->IsFolder())
      ++(deleted ? deletedFolders : liveFolders);
    else
      ++(deleted ? deletedFiles : liveFiles);
  });
  const uint64_t records = builder.GetRecordCount();
  const double perSecond = records / std::max(seconds, 1e-9);
  std::printf("%s: %" PRIu64 " MFT records in %.3f s (%.3f s of CPU), %.0f records/s\n", image.c_str(),
              records, seconds, cpuSeconds, perSecond);
  std::printf("  files: %" PRIu64 " live, %" PRIu64 " deleted; folders: %" PRIu64 " live, %" PRIu64
              " deleted; %" PRIu64 " LostFiles folders\n",
              liveFiles, deletedFiles, liveFolders, deletedFolders, lostFolders);
  std::printf("{\"bench\":\"ntfs-tree\",\"records\":%" PRIu64
              ",\"seconds\":%.6f,\"cpu_seconds\":%.6f,\"records_per_second\":%.0f,"
              "\"live_files\":%" PRIu64 ",\"deleted_files\":%" PRIu64 ",\"live_folders\":%" PRIu64
              ",\"deleted_folders\":%" PRIu64 ",\"lost_files_folders\":%" PRIu64 "}\n",
              records, seconds, cpuSeconds, perSecond, liveFiles, deletedFiles, liveFolders, deletedFolders,
              lostFolders);
  return 0;
}

const BenchRegistration kNtfsTree("ntfs-tree", "IMAGE", RunNtfsTree);

}  // namespace
