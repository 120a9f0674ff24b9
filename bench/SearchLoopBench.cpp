// corvale-bench search-loop IMAGE [CONTROLLERS]: the intelligent search's block loop over an image,
// with CONTROLLERS (default 4) stand-in controllers that each copy every block out of the search's
// cached device, as the real ones do before they look at it, against the bare cached read of the
// same image. The image stays in the page cache between passes, so the figures show what the loop
// itself costs on top of the cache, not the disk.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/Bench.h"
#include "core/IntelligentSearchController.h"
#include "storage/ImageFileDevice.h"
#include "storage/StorageDeviceWithCache.h"

namespace {

constexpr int kRounds = 3;

class CopyingController : public IFileSystemSearchController {
 public:
  void SetStorageDevice(IStorageDevice* device) override { m_device = device; }
  void SetSectorsPerRead(int32_t sectors) override { m_sectors = sectors; }
  void BeginSearch() override {
    m_buffer.assign(static_cast<size_t>(m_sectors) * static_cast<size_t>(m_device->GetSectorSize()), 0);
  }
  int32_t AnalyzeBlock(int64_t first, int64_t count, IntelligentSearchSummary* summary) override {
    if (!m_device->ReadSectors(m_buffer.data(), static_cast<uint64_t>(first), static_cast<uint64_t>(count)))
      ++failed;
    fingerprint = (fingerprint ^ m_buffer[0]) * 0x100000001B3ull;
    (void)summary;
    return 1;
  }
  void GetResults(SearchedPartitionInfoList*) override {}
  void SetResultSink(CRawFileInfoList*) override {}
  void SaveState(IRSData&) override {}
  void LoadState(IRSData&) override {}
  int32_t GetKind() override { return SEARCH_CONTROLLER_RAW; }

  uint64_t fingerprint = 0;
  uint64_t failed = 0;

 private:
  IStorageDevice* m_device = nullptr;
  int32_t m_sectors = 0;
  std::vector<uint8_t> m_buffer;
};

double CachedOnly(IStorageDevice& device) {
  auto start = std::chrono::steady_clock::now();
  CStorageDeviceWithCache cache(&device);
  const uint32_t block = CIntelligentSearchController::BlockSectorsFor(cache.GetSectorSize());
  cache.SetCacheBlockSize(block);
  cache.StartCacheThread(0);
  std::vector<uint8_t> buffer(static_cast<size_t>(block) * static_cast<size_t>(cache.GetSectorSize()));
  const uint64_t total = static_cast<uint64_t>(cache.GetSectorCount());
  for (uint32_t i = 0; cache.IsBlockInRange(i); ++i) {
    const uint64_t first = static_cast<uint64_t>(i) * block;
    cache.SetCurCacheBlock(i);
    cache.ReadSectors(buffer.data(), first, std::min<uint64_t>(block, total - first));
  }
  cache.StopCacheThread();
  return SecondsSince(start);
}

double MBps(uint64_t bytes, double seconds) { return seconds > 0 ? bytes / seconds / 1e6 : 0; }

int RunSearchLoopBench(int argc, char** argv) {
  if (argc < 1) {
    std::fprintf(stderr, "usage: corvale-bench search-loop IMAGE [CONTROLLERS]\n");
    return 2;
  }
  const int controllers = argc > 1 ? std::max(0, std::atoi(argv[1])) : 4;
  CImageFileDevice image(argv[0]);
  if (!image.IsOpened() || image.GetSectorCount() <= 0) {
    std::fprintf(stderr, "cannot open %s as an image\n", argv[0]);
    return 1;
  }
  const uint64_t bytes = static_cast<uint64_t>(image.GetSectorCount()) * CImageFileDevice::kSectorSize;
  const uint64_t blocks =
      (bytes + CIntelligentSearchController::kBlockBytes - 1) / CIntelligentSearchController::kBlockBytes;
  std::printf("image %s: %" PRIu64 " bytes, %" PRIu64 " blocks, %d controllers\n", argv[0], bytes, blocks,
              controllers);

  CachedOnly(image);  // brings the image into the page cache
  double bestCache = 1e30, bestLoop = 1e30;
  for (int round = 1; round <= kRounds; ++round) {
    const double cacheSeconds = CachedOnly(image);

    std::vector<std::unique_ptr<CopyingController>> list;
    CIntelligentSearchController driver;
    driver.SetStartSectorSource([] { return uint64_t{0}; });
    driver.SetStorageDevice(&image);
    for (int c = 0; c < controllers; ++c) {
      list.push_back(std::make_unique<CopyingController>());
      driver.AddFileSystemSearchController(list.back().get());
    }
    auto start = std::chrono::steady_clock::now();
    if (driver.Search(nullptr) != 1) {
      std::fprintf(stderr, "the search did not start\n");
      return 1;
    }
    const double loopSeconds = SecondsSince(start);
    for (size_t c = 1; c < list.size(); ++c) {
      if (list[c]->fingerprint != list[0]->fingerprint || list[c]->failed) {
        std::fprintf(stderr, "controllers were handed different blocks\n");
        return 1;
      }
    }
    std::printf("round %d: cached read %.1f MB/s (%.3f s), search loop %.1f MB/s (%.3f s)\n", round,
                MBps(bytes, cacheSeconds), cacheSeconds, MBps(bytes, loopSeconds), loopSeconds);
    bestCache = std::min(bestCache, cacheSeconds);
    bestLoop = std::min(bestLoop, loopSeconds);
  }
  const double perBlockUs = blocks ? (bestLoop - bestCache) / static_cast<double>(blocks) * 1e6 : 0;
  std::printf(
      "best of %d: cached read %.1f MB/s, search loop %.1f MB/s; loop and copies add %.1f us per block\n",
      kRounds, MBps(bytes, bestCache), MBps(bytes, bestLoop), perBlockUs);
  std::printf("{\"bench\":\"search-loop\",\"bytes\":%" PRIu64 ",\"blocks\":%" PRIu64
              ",\"controllers\":%d,\"cache_mbps\":%.1f,\"loop_mbps\":%.1f,\"added_us_per_block\":%.1f}\n",
              bytes, blocks, controllers, MBps(bytes, bestCache), MBps(bytes, bestLoop), perBlockUs);
  return 0;
}

BenchRegistration registration("search-loop", "IMAGE [CONTROLLERS]", RunSearchLoopBench);

}  // namespace
