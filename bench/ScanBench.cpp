// corvale-bench scan IMAGE [OUTDIR]: the whole-device scan of an image as the program runs it: one
// search controller for every registered file-system engine that has one, and the RAW controller,
// all sharing one list of files found by signature; the blocks come through the read-ahead cache in
// the search driver. Then the controllers' candidates are weighed and a layout is chosen, and the
// chosen partitions are printed (start, sectors, file system) with the scan's MB/s.
//
// With OUTDIR every chosen partition's directory tree is built by the controller that found it and
// recovered into OUTDIR/<n> (n counting the chosen partitions from 0), with the files written, the
// bytes and the failures; a partition whose controller builds no tree prints "no tree".
//
// The image is read once beforehand, so that the scan reads from the page cache when the image
// fits there: the figure is the scan's own cost.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "core/FileSystemEngine.h"
#include "core/IntelligentSearchController.h"
#include "core/PartitionCandidateSelection.h"
#include "core/SearchedPartitionInfo.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "storage/ImageFileDevice.h"

namespace {

// Bytes and files below `folder`.
void CountTree(const std::string& folder, uint64_t* files, uint64_t* bytes) {
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder, ec)) {
    if (!e.is_regular_file(ec)) continue;
    ++*files;
    *bytes += e.file_size(ec);
  }
}

struct Searcher {
  std::string name;
  std::unique_ptr<IFileSystemSearchController> controller;
};

int RunScan(int argc, char** argv) {
  if (argc < 1) {
    std::fprintf(stderr, "usage: corvale-bench scan IMAGE [OUTDIR]\n");
    return 2;
  }
  const std::string path = argv[0];
  const std::string outDir = argc >= 2 ? argv[1] : "";
  // An image that cannot be opened is reported by the device just below.
  WarmPageCache(path);
  CImageFileDevice device(path);
  if (!device.IsOpened()) {
    std::fprintf(stderr, "the image device cannot open %s\n", path.c_str());
    return 1;
  }
  const int64_t deviceSectors = device.GetSectorCount();
  const uint64_t bytes = uint64_t(deviceSectors) * uint64_t(device.GetSectorSize());

  CRawFileInfoList found;
  std::vector<Searcher> searchers;
  for (const FileSystemEngine& engine : FileSystemEngines())
    if (engine.makeSearchController)
      if (IFileSystemSearchController* c = engine.makeSearchController())
        searchers.push_back({engine.name, std::unique_ptr<IFileSystemSearchController>(c)});
  searchers.push_back({"RAW", std::make_unique<CRAWSearchController>()});

  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&device);
  std::vector<IFileSystemSearchController*> controllers;
  for (Searcher& s : searchers) {
    controllers.push_back(s.controller.get());
    driver.AddFileSystemSearchController(s.controller.get());
  }
  SetResultSinkForAllControllers(controllers, &found);
  const auto scanStart = std::chrono::steady_clock::now();
  if (driver.Search(nullptr) != 1) {
    std::fprintf(stderr, "the search could not start\n");
    return 1;
  }
  const double scanSeconds = SecondsSince(scanStart);
  const IntelligentSearchSummary summary = driver.GetSummary();

  // Every controller's candidates in one list, remembering who found each.
  const auto selectStart = std::chrono::steady_clock::now();
  SearchedPartitionInfoList candidates = CollectSearchedPartitions(controllers, deviceSectors);
  // The controller that builds each candidate's tree names it.
  auto finderOf = [&](const CSearchedPartitionInfo& candidate) -> Searcher* {
    for (Searcher& s : searchers)
      if (s.controller->AcceptsPartitionType(candidate.GetFileSystemType())) return &s;
    return nullptr;
  };
  const double selectSeconds = SecondsSince(selectStart);

  const double mbps = scanSeconds > 0 ? double(bytes) / 1e6 / scanSeconds : 0;
  std::printf("image %s: %" PRIu64 " bytes, %zu controllers, %" PRIu64 " files found by signature\n",
              path.c_str(), bytes, searchers.size(), uint64_t(found.GetCount()));
  std::printf("  scan %10.1f MB/s  (%.3f s)\n", mbps, scanSeconds);
  std::printf("  NTFS boot records %" PRId64 ", NTFS FILE records %" PRId64 ", files identified %" PRId64
              "\n",
              summary.NTFSBootRecords, summary.NTFSFileRecords, summary.FilesIdentified);
  std::printf("  candidates %zu, weighed and chosen in %.3f s\n", candidates.size(), selectSeconds);

  uint64_t chosen = 0, totalFiles = 0, totalBytes = 0, totalFailures = 0, noTree = 0;
  for (const auto& candidate : candidates) {
    if (candidate->GetChosenMark() != 1) continue;
    Searcher* s = finderOf(*candidate);
    const int32_t index = int32_t(chosen++);
    const SectorRange range = CandidateRange(*candidate);
    std::printf("  partition %d: start %" PRId64 ", sectors %" PRId64 ", %s (weight %.3f%s)\n", index,
                range.first, range.count, s ? s->name.c_str() : "?", candidate->GetWeight(),
                candidate->GetWholeDeviceMark() ? ", whole device" : "");
    if (outDir.empty() || !s) continue;
    CFileSystemNode* root =
        BuildDirectoryWithMatchingController(controllers, candidate.get(), &device, index, nullptr);
    if (!root) {
      std::printf("    no tree\n");
      ++noTree;
      continue;
    }
    std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(root, FreeFileTree);
    WalkSubtree(root, [](CFileNode* n) {
      if (n->GetFileProperties()) n->GetFileProperties()->SetCheckState(kChecked);
    });
    // The recovery makes the folder itself, through no link of another user.
    const std::string target = outDir + "/" + std::to_string(index);
    CFileRecoverer recoverer;
    std::string top;
    const auto recoverStart = std::chrono::steady_clock::now();
    recoverer.RecoverFilesInThread(&device, nullptr, root, target.c_str(), &top);
    const double recoverSeconds = SecondsSince(recoverStart);
    uint64_t files = 0, written = 0;
    CountTree(target, &files, &written);
    std::printf("    recovered into %s: %u files, %" PRIu64 " bytes, %u failures (%.3f s)\n", target.c_str(),
                recoverer.GetRecoveredFileCount(), written, recoverer.GetFailedFileCount(), recoverSeconds);
    totalFiles += recoverer.GetRecoveredFileCount();
    totalBytes += written;
    totalFailures += recoverer.GetFailedFileCount();
  }
  if (chosen == 0) std::printf("  no partition chosen\n");
  std::printf("{\"bench\":\"scan\",\"bytes\":%" PRIu64
              ",\"scan_seconds\":%.6f,\"scan_mbps\":%.1f,\"candidates\":%zu"
              ",\"chosen\":%" PRIu64 ",\"signature_files\":%" PRIu64 ",\"recovered_files\":%" PRIu64
              ",\"recovered_bytes\":%" PRIu64 ",\"failures\":%" PRIu64 ",\"no_tree\":%" PRIu64 "}\n",
              bytes, scanSeconds, mbps, candidates.size(), chosen, uint64_t(found.GetCount()), totalFiles,
              totalBytes, totalFailures, noTree);
  return totalFailures == 0 ? 0 : 1;
}

const BenchRegistration kScan("scan", "IMAGE [OUTDIR]", RunScan);

}  // namespace
