// corvale-bench lost IMAGE: the lost-partition search over a disk image as Partition Recovery runs
// it (the 255-head walk, then the 1 MiB boundaries outside the partitions found; the FAT, NTFS and
// Ext2 testers), printing the partitions found that the image's tables do not already give, the
// positions walked, the sectors read there, and the search's time and MB/s over the image.
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

#include "bench/Bench.h"
#include "core/LostPartitionSearcher.h"
#include "storage/ImageFileDevice.h"
#include "storage/PartitionTableAnalyze.h"

namespace {

class CountingCallback : public IPartitionSearchCallback {
 public:
  void Step() override { ++steps; }
  int IsCancelled() override { return 0; }
  void SetStep(int64_t) override {}
  void SetRange(int64_t, int64_t end) override { positions = end; }
  void AddFoundPartition(const CLostPartitionRecord*) override { ++hits; }
  int64_t steps = 0, positions = 0, hits = 0;
};

int RunLost(int argc, char** argv) {
  if (argc < 1) {
    std::fprintf(stderr, "usage: corvale-bench lost IMAGE\n");
    return 2;
  }
  const std::string image = argv[0];
  CImageFileDevice device(image);
  if (!device.IsOpened()) {
    std::fprintf(stderr, "cannot open %s\n", image.c_str());
    return 1;
  }
  CountingCallback progress;
  LostPartitionRecordList found;
  CLostPartitionSearcher searcher;
  const auto start = std::chrono::steady_clock::now();
  if (!searcher.FindNewPartitions(&device, 255, &progress, found)) {
    std::fprintf(stderr, "the search could not start\n");
    return 1;
  }
  const double seconds = SecondsSince(start);
  // The span searched: the whole image (the walks of cylinders and of 1 MiB boundaries cover it).
  const uint64_t bytes = uint64_t(device.GetSectorCount()) * uint64_t(device.GetSectorSize());
  const double mbps = seconds > 0 ? double(bytes) / 1e6 / seconds : 0;
  const uint64_t probes = searcher.GetProbeCount();

  std::printf("%s: %" PRId64 " positions walked, %" PRIu64 " sectors probed, %" PRId64 " hits\n",
              image.c_str(), progress.steps, probes, progress.hits);
  std::printf("  #  start         sectors       file system  label\n");
  int index = 0;
  for (const auto& p : found)
    std::printf("  %-2d %-13" PRIu64 " %-13" PRIu64 " %-12s %s\n", ++index, p->StartSector, p->SectorCount,
                GetFileSystemTypeName(p->FileSystemType), p->Label);
  if (found.empty()) std::printf("  no lost partition\n");
  std::printf("{\"bench\":\"lost\",\"searched_bytes\":%" PRIu64 ",\"positions\":%" PRId64
              ",\"probes\":%" PRIu64 ",\"hits\":%" PRId64 ",\"found\":%zu,\"seconds\":%.6f,\"mbps\":%.1f}\n",
              bytes, progress.steps, probes, progress.hits, found.size(), seconds, mbps);
  return 0;
}

const BenchRegistration kLost("lost", "IMAGE", RunLost);

}  // namespace
