// corvale-bench scan-wizard IMAGE [ROUNDS]: the whole-device scan of an image as Format Recovery
// runs it (RunWholeDeviceSearch: the controllers the recovery options ask for, the search on a
// worker under the intelligent-search window, which is its callback, shown on Qt's offscreen
// platform when there is no display; then the found partitions weighed), side by side with the same
// scan without any window, as `corvale-bench scan` runs it (one search controller for every
// registered file-system engine that has one and the RAW controller). Both share one list of files
// found by signature among their controllers, made anew for every pass.
//
// The passes alternate (plain, window, plain, window, ...) ROUNDS times (default 3), after the
// image has been read once into the page cache, and the fastest pass of each kind counts: the
// ratio window / plain says what the window costs the search. Ends with a JSON line.
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "core/FileSystemEngine.h"
#include "core/IntelligentSearchController.h"
#include "core/PartitionCandidateSelection.h"
#include "core/SearchedPartitionInfo.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "storage/ImageFileDevice.h"
#include "wizard/controller/WholeDeviceSearch.h"

namespace {

struct PassResult {
  double seconds = 0;
  size_t partitions = 0;
  uint64_t signatureFiles = 0;
  bool ran = false;
};

// One whole-device scan of `device` as Format Recovery runs it, under its window.
PassResult ScanUnderWindow(CImageFileDevice& device) {
  PassResult result;
  const auto start = std::chrono::steady_clock::now();
  WholeDeviceSearchOutcome outcome = RunWholeDeviceSearch(&device, nullptr);
  result.seconds = SecondsSince(start);
  result.ran = outcome.searched;
  result.partitions = outcome.found.size();
  result.signatureFiles = outcome.rawFiles ? uint64_t(outcome.rawFiles->GetCount()) : 0;
  return result;
}

// The same scan without a window, as `corvale-bench scan` runs it.
PassResult ScanBare(CImageFileDevice& device) {
  CRawFileInfoList found;
  std::vector<std::unique_ptr<IFileSystemSearchController>> owned;
  for (const FileSystemEngine& engine : FileSystemEngines())
    if (engine.makeSearchController)
      if (IFileSystemSearchController* c = engine.makeSearchController()) owned.emplace_back(c);
  owned.push_back(std::make_unique<CRAWSearchController>());

  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&device);
  std::vector<IFileSystemSearchController*> controllers;
  for (auto& c : owned) {
    controllers.push_back(c.get());
    driver.AddFileSystemSearchController(c.get());
  }
  SetResultSinkForAllControllers(controllers, &found);

  PassResult result;
  const auto start = std::chrono::steady_clock::now();
  result.ran = driver.Search(nullptr) == 1;
  const SearchedPartitionInfoList partitions =
      CollectSearchedPartitions(controllers, device.GetSectorCount());
  result.seconds = SecondsSince(start);
  result.partitions = partitions.size();
  result.signatureFiles = uint64_t(found.GetCount());
  return result;
}

int RunScanWizard(int argc, char** argv) {
  if (argc < 1) {
    std::fprintf(stderr, "usage: corvale-bench scan-wizard IMAGE [ROUNDS]\n");
    return 2;
  }
  const std::string path = argv[0];
  const int rounds = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 3;
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  char name[] = "corvale-bench";
  char* qtArgv[] = {name, nullptr};
  QApplication app(qtArgc, qtArgv);

  WarmPageCache(path);
  CImageFileDevice device(path);
  if (!device.IsOpened()) {
    std::fprintf(stderr, "the image device cannot open %s\n", path.c_str());
    return 1;
  }
  const uint64_t bytes = uint64_t(device.GetSectorCount()) * uint64_t(device.GetSectorSize());

  double plain = 0, wizard = 0;
  std::vector<double> plainTimes, wizardTimes;
  PassResult lastPlain, lastWizard;
  for (int round = 0; round < rounds; ++round) {
    lastPlain = ScanBare(device);
    lastWizard = ScanUnderWindow(device);
    if (!lastPlain.ran || !lastWizard.ran) {
      std::fprintf(stderr, "the search could not start\n");
      return 1;
    }
    std::printf("  round %d: plain %.3f s, window %.3f s\n", round + 1, lastPlain.seconds,
                lastWizard.seconds);
    plainTimes.push_back(lastPlain.seconds);
    wizardTimes.push_back(lastWizard.seconds);
    plain = round == 0 ? lastPlain.seconds : std::min(plain, lastPlain.seconds);
    wizard = round == 0 ? lastWizard.seconds : std::min(wizard, lastWizard.seconds);
  }
  // Both passes must have seen the same things, or they did not do the same work.
  const bool same =
      lastPlain.partitions == lastWizard.partitions && lastPlain.signatureFiles == lastWizard.signatureFiles;
  const double plainMbps = plain > 0 ? double(bytes) / 1e6 / plain : 0;
  const double wizardMbps = wizard > 0 ? double(bytes) / 1e6 / wizard : 0;
  const double ratio = plain > 0 ? wizard / plain : 0;
  // On a busy machine single passes scatter: the medians say the same with less luck.
  auto median = [](std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  };
  const double plainMedian = median(plainTimes);
  const double wizardMedian = median(wizardTimes);
  std::printf("image %s: %" PRIu64 " bytes, best of %d rounds\n", path.c_str(), bytes, rounds);
  std::printf("  plain scan   %10.1f MB/s  (%.3f s)\n", plainMbps, plain);
  std::printf("  window scan  %10.1f MB/s  (%.3f s)\n", wizardMbps, wizard);
  std::printf("  medians: plain %.3f s, window %.3f s\n", plainMedian, wizardMedian);
  std::printf("  window / plain time %.3f; partitions found %zu / %zu, files found by signature %" PRIu64
              " / %" PRIu64 "\n",
              ratio, lastPlain.partitions, lastWizard.partitions, lastPlain.signatureFiles,
              lastWizard.signatureFiles);
  std::printf("{\"bench\":\"scan-wizard\",\"bytes\":%" PRIu64
              ",\"rounds\":%d,\"plain_seconds\":%.6f,\"plain_mbps\":%.1f"
              ",\"wizard_seconds\":%.6f,\"wizard_mbps\":%.1f,\"ratio\":%.4f"
              ",\"plain_median_seconds\":%.6f,\"wizard_median_seconds\":%.6f,\"median_ratio\":%.4f"
              ",\"same_findings\":%s}\n",
              bytes, rounds, plain, plainMbps, wizard, wizardMbps, ratio, plainMedian, wizardMedian,
              plainMedian > 0 ? wizardMedian / plainMedian : 0, same ? "true" : "false");
  return same ? 0 : 1;
}

const BenchRegistration kScanWizard("scan-wizard", "IMAGE [ROUNDS]", RunScanWizard);

}  // namespace
