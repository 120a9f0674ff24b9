#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/Log.h"
#include "storage/ImageFileDevice.h"
#include "storage/MemoryDevice.h"
#include "storage/StorageDeviceWithCache.h"
#include "support/Fixtures.h"

namespace {

// Bytes where every sector differs from every other, so a sector served from the wrong place shows.
std::vector<uint8_t> Pattern(size_t sectors, int32_t sectorSize) {
  std::vector<uint8_t> bytes(sectors * sectorSize);
  uint32_t x = 0x9E3779B9u;
  for (size_t i = 0; i < bytes.size(); ++i) {
    x = x * 1664525u + 1013904223u;
    bytes[i] = static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

// A memory device whose reads take a while, as a disk's do, so the prefetch thread is still busy
// while the scan moves on or stops.
class SlowDevice : public MemoryDevice {
 public:
  SlowDevice(std::vector<uint8_t> bytes, std::chrono::microseconds delay)
      : MemoryDevice(std::move(bytes)), m_delay(delay) {}
  bool ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) override {
    std::this_thread::sleep_for(m_delay);
    return MemoryDevice::ReadSectors(buffer, firstSector, count);
  }

 private:
  std::chrono::microseconds m_delay;
};

// Runs `body` and fails (ending the run) when it does not come back: a hang is the fault under test.
void MustFinish(const std::function<void()>& body) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  std::thread([body, done] {
    body();
    done->set_value();
  }).detach();
  if (finished.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "the cached device hung";
    std::abort();
  }
}

// Waits (bounded) until `done` holds: the prefetch thread's progress, seen from the test.
bool WaitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 10000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return done();
}

// Waits (bounded) until the inner device has been asked for `reads` reads.
bool WaitForReads(const MemoryDevice& inner, uint64_t reads) {
  return WaitUntil([&] { return inner.ReadLog().size() >= reads; });
}

// Takes every block in order through one consumer, reads each whole, and compares with the inner
// bytes, from `firstBlock` up to the end or `maxBlocks` blocks. Returns the number of blocks taken.
uint32_t ScanAndCompare(CStorageDeviceWithCache& cache, const std::vector<uint8_t>& expected,
                        uint32_t firstBlock = 0, uint32_t maxBlocks = UINT32_MAX) {
  const uint64_t block = cache.GetCacheBlockSize();
  const size_t sectorSize = static_cast<size_t>(cache.GetSectorSize());
  const uint64_t total = expected.size() / sectorSize;
  std::vector<uint8_t> got(block * sectorSize);
  uint32_t taken = 0;
  for (uint32_t i = firstBlock; taken < maxBlocks && cache.IsBlockInRange(i); ++i, ++taken) {
    EXPECT_TRUE(cache.SetCurCacheBlock(i)) << "block " << i;
    uint64_t first = i * block;
    uint64_t count = std::min(block, total - first);
    EXPECT_TRUE(cache.ReadSectors(got.data(), first, count)) << "block " << i;
    EXPECT_EQ(0, std::memcmp(got.data(), expected.data() + first * sectorSize, count * sectorSize))
        << "block " << i;
  }
  return taken;
}

struct ScanCase {
  const char* name;
  uint64_t sectors;
  uint32_t block;
  int32_t sectorSize;
};

class CachedScan : public ::testing::TestWithParam<ScanCase> {};

// One consumer taking the blocks in order gets exactly the inner bytes, the short last block
// included; the inner device is read once per block, in order, and never past its end.
TEST_P(CachedScan, ServesInnerBytesAndReadsEachBlockOnceWithinTheDevice) {
  const ScanCase& c = GetParam();
  std::vector<uint8_t> bytes = Pattern(c.sectors, c.sectorSize);
  MemoryDevice inner(bytes, c.sectorSize);
  CStorageDeviceWithCache cache(&inner);
  cache.SetCacheBlockSize(c.block);
  cache.StartCacheThread();

  uint32_t blocks = static_cast<uint32_t>((c.sectors + c.block - 1) / c.block);
  EXPECT_EQ(blocks, ScanAndCompare(cache, bytes));
  EXPECT_FALSE(cache.SetCurCacheBlock(blocks));
  cache.StopCacheThread();

  std::vector<std::pair<uint64_t, uint64_t>> expected;
  for (uint64_t first = 0; first < c.sectors; first += c.block) {
    expected.emplace_back(first, std::min<uint64_t>(c.block, c.sectors - first));
  }
  EXPECT_EQ(expected, inner.ReadLog());
}

INSTANTIATE_TEST_SUITE_P(Shapes, CachedScan,
                         ::testing::Values(ScanCase{"TwoAndAHalfBlocks", 2500, 1000, 512},
                                           ScanCase{"WholeBlocks", 4000, 1000, 512},
                                           ScanCase{"SmallerThanOneBlock", 300, 1000, 512},
                                           ScanCase{"MoreBlocksThanTheQueueHolds", 37 * 16 + 3, 16, 512},
                                           ScanCase{"FourKilobyteSectors", 2 * 1024 + 100, 1024, 4096},
                                           ScanCase{"OneSectorBlocks", 29, 1, 512}),
                         [](const ::testing::TestParamInfo<ScanCase>& info) {
                           return std::string(info.param.name);
                         });

// Of a device two and a half blocks long, three blocks are read ahead, the third cut to half a block;
// the half block is served and the block after it is refused.
TEST(CachedDevice, ShortLastBlockIsQueuedCutAndServedOnlyForItsValidLength) {
  std::vector<uint8_t> bytes = Pattern(2500, 512);
  MemoryDevice inner(bytes);
  CStorageDeviceWithCache cache(&inner);
  cache.StartCacheThread();
  ASSERT_TRUE(WaitForReads(inner, 3));
  std::vector<std::pair<uint64_t, uint64_t>> queued{{0, 1000}, {1000, 1000}, {2000, 500}};
  EXPECT_EQ(queued, inner.ReadLog());

  ASSERT_TRUE(cache.SetCurCacheBlock(0));
  ASSERT_TRUE(cache.SetCurCacheBlock(1));
  ASSERT_TRUE(cache.SetCurCacheBlock(2));
  EXPECT_FALSE(cache.SetCurCacheBlock(3));

  std::vector<uint8_t> got(1000 * 512);
  uint64_t before = inner.ReadLog().size();
  ASSERT_TRUE(cache.ReadSectors(got.data(), 2400, 100));
  EXPECT_EQ(0, std::memcmp(got.data(), bytes.data() + 2400 * 512, 100 * 512));
  EXPECT_EQ(before, inner.ReadLog().size()) << "the valid part comes from the cache";

  // Sectors past the device end belong to no block: the inner device answers, and refuses.
  EXPECT_FALSE(cache.ReadSectors(got.data(), 2000, 1000));
  std::pair<uint64_t, uint64_t> beyond{2500, 500};
  EXPECT_EQ(beyond, inner.ReadLog().back());
}

struct RouteCase {
  const char* name;
  uint64_t first;
  uint64_t count;
  std::vector<std::pair<uint64_t, uint64_t>> innerReads;  // what the inner device is asked for
};

class CachedReadRouting : public ::testing::TestWithParam<RouteCase> {};

// With block 2 (sectors 16..23) current: sectors inside it come from memory, the rest from the
// inner device; a request that starts before the block is left wholly to the inner device.
TEST_P(CachedReadRouting, SplitsBetweenCacheAndInnerDevice) {
  const RouteCase& c = GetParam();
  std::vector<uint8_t> bytes = Pattern(64, 512);
  MemoryDevice inner(bytes);
  CStorageDeviceWithCache cache(&inner);
  cache.SetCacheBlockSize(8);
  ASSERT_TRUE(cache.SetCurCacheBlock(2));
  size_t before = inner.ReadLog().size();

  std::vector<uint8_t> got(c.count * 512);
  ASSERT_TRUE(cache.ReadSectors(got.data(), c.first, c.count));
  EXPECT_EQ(0, std::memcmp(got.data(), bytes.data() + c.first * 512, got.size()));
  std::vector<std::pair<uint64_t, uint64_t>> log = inner.ReadLog();
  log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(before));
  EXPECT_EQ(c.innerReads, log);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, CachedReadRouting,
    ::testing::Values(RouteCase{"InsideBlock", 17, 5, {}}, RouteCase{"WholeBlock", 16, 8, {}},
                      RouteCase{"EndsAfterBlock", 20, 10, {{24, 6}}},
                      RouteCase{"StartsBeforeBlock", 12, 8, {{12, 4}, {16, 4}}},
                      RouteCase{"BeforeBlock", 3, 4, {{3, 4}}}, RouteCase{"AfterBlock", 40, 2, {{40, 2}}}),
    [](const ::testing::TestParamInfo<RouteCase>& info) { return std::string(info.param.name); });

TEST(CachedDevice, BeforeAnyCurrentBlockEveryReadGoesToTheInnerDevice) {
  std::vector<uint8_t> bytes = Pattern(64, 512);
  MemoryDevice inner(bytes);
  CStorageDeviceWithCache cache(&inner);
  cache.SetCacheBlockSize(8);
  cache.StartCacheThread();
  WaitForReads(inner, 8);  // the whole device is queued by then
  size_t before = inner.ReadLog().size();

  std::vector<uint8_t> got(4 * 512);
  ASSERT_TRUE(cache.ReadSectors(got.data(), 2, 4));
  EXPECT_EQ(0, std::memcmp(got.data(), bytes.data() + 2 * 512, got.size()));
  ASSERT_EQ(before + 1, inner.ReadLog().size());
  std::pair<uint64_t, uint64_t> direct{2, 4};
  EXPECT_EQ(direct, inner.ReadLog().back());
}

// The scan may begin in the middle of the device: the prefetch starts at the start block's first
// sector (a start inside a block is taken down to it), and block indices still count from sector 0.
TEST(CachedDevice, StartSectorInTheMiddleQueuesFromItsBlock) {
  for (uint64_t start : {uint64_t{3 * 16}, uint64_t{3 * 16 + 5}}) {
    SCOPED_TRACE(start);
    std::vector<uint8_t> bytes = Pattern(20 * 16 + 7, 512);
    MemoryDevice inner(bytes);
    CStorageDeviceWithCache cache(&inner);
    cache.SetCacheBlockSize(16);
    cache.StartCacheThread(start);
    ASSERT_TRUE(WaitForReads(inner, 1));
    std::pair<uint64_t, uint64_t> firstRead{3 * 16, 16};
    EXPECT_EQ(firstRead, inner.ReadLog().front());

    EXPECT_EQ(18u, ScanAndCompare(cache, bytes, 3));
    cache.StopCacheThread();
    for (const auto& [first, count] : inner.ReadLog()) EXPECT_GE(first, 3u * 16);
  }
}

// A block the queue does not hold (before the start, or asked for again after the scan moved on)
// is read from the inner device at once instead of being waited for.
TEST(CachedDevice, BlockNotQueuedIsReadDirectly) {
  std::vector<uint8_t> bytes = Pattern(30 * 8, 512);
  MemoryDevice inner(bytes);
  CStorageDeviceWithCache cache(&inner);
  cache.SetCacheBlockSize(8);
  std::vector<uint8_t> got(8 * 512);

  MustFinish([&] {
    // No prefetch at all.
    ASSERT_TRUE(cache.SetCurCacheBlock(4));
    ASSERT_TRUE(cache.ReadSectors(got.data(), 32, 8));
    EXPECT_EQ(0, std::memcmp(got.data(), bytes.data() + 32 * 512, got.size()));

    cache.StartCacheThread(10 * 8);
    for (uint32_t index : {2u, 10u, 11u, 12u, 11u, 5u, 13u, 29u, 0u}) {
      SCOPED_TRACE(index);
      ASSERT_TRUE(cache.SetCurCacheBlock(index));
      ASSERT_TRUE(cache.ReadSectors(got.data(), index * 8, 8));
      EXPECT_EQ(0, std::memcmp(got.data(), bytes.data() + index * 8 * 512, got.size()));
    }
  });
}

// A failed inner read in the middle of the prefetch: that block is not made current and its sectors
// are answered by the inner device (good ones read, the bad one failing), never from a stale buffer;
// the blocks after it are served as usual.
TEST(CachedDevice, FailedPrefetchReadLeavesItsBlockToTheInnerDevice) {
  std::vector<uint8_t> bytes = Pattern(40 * 8, 512);
  MemoryDevice inner(bytes);
  inner.SetBadSector(13 * 8 + 3);
  CStorageDeviceWithCache cache(&inner);
  cache.SetCacheBlockSize(8);
  cache.StartCacheThread();

  std::vector<uint8_t> got(8 * 512);
  for (uint32_t i = 0; cache.IsBlockInRange(i); ++i) {
    SCOPED_TRACE(i);
    if (i != 13) {
      ASSERT_TRUE(cache.SetCurCacheBlock(i));
      ASSERT_TRUE(cache.ReadSectors(got.data(), i * 8, 8));
      EXPECT_EQ(0, std::memcmp(got.data(), bytes.data() + i * 8 * 512, got.size()));
      continue;
    }
    EXPECT_FALSE(cache.SetCurCacheBlock(13));
    std::fill(got.begin(), got.end(), 0xEE);
    ASSERT_TRUE(cache.ReadSectors(got.data(), 13 * 8, 3));
    EXPECT_EQ(0, std::memcmp(got.data(), bytes.data() + 13 * 8 * 512, 3 * 512));
    ASSERT_TRUE(cache.ReadSectors(got.data(), 13 * 8 + 4, 4));
    EXPECT_EQ(0, std::memcmp(got.data(), bytes.data() + (13 * 8 + 4) * 512, 4 * 512));
    EXPECT_FALSE(cache.ReadSectors(got.data(), 13 * 8, 8));
  }
}

// Stopping in the middle of a scan, taking blocks after the stop, restarting, and destroying a
// device whose prefetch still runs all come back.
TEST(CachedDevice, StopAndDestroyMidScanNeverHang) {
  std::vector<uint8_t> bytes = Pattern(200 * 8, 512);
  MustFinish([&] {
    SlowDevice inner(bytes, std::chrono::microseconds(500));
    {
      CStorageDeviceWithCache cache(&inner);
      cache.SetCacheBlockSize(8);
      cache.StartCacheThread();
      EXPECT_EQ(3u, ScanAndCompare(cache, bytes, 0, 3));
      cache.StopCacheThread();
      cache.StopCacheThread();
      // After the stop, blocks are read on demand.
      std::vector<uint8_t> got(8 * 512);
      ASSERT_TRUE(cache.SetCurCacheBlock(3));
      ASSERT_TRUE(cache.ReadSectors(got.data(), 24, 8));
      EXPECT_EQ(0, std::memcmp(got.data(), bytes.data() + 24 * 512, got.size()));

      cache.StartCacheThread(50 * 8);
      EXPECT_EQ(150u, ScanAndCompare(cache, bytes, 50));
    }
    {
      CStorageDeviceWithCache cache(&inner);
      cache.SetCacheBlockSize(8);
      cache.StartCacheThread();
      ASSERT_TRUE(cache.SetCurCacheBlock(0));
    }  // destroyed while the prefetch runs, without a stop
    uint64_t afterDestroy = inner.ReadLog().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(afterDestroy, inner.ReadLog().size()) << "the prefetch thread outlived its device";
  });
}

// The prefetch holds one block more than its limit and then waits for the scan to take one.
TEST(CachedDevice, PrefetchStopsOneBlockPastTheQueueLimit) {
  std::vector<uint8_t> bytes = Pattern(100 * 8, 512);
  MemoryDevice inner(bytes);
  corvale::log::ScopedCapture log;
  CStorageDeviceWithCache cache(&inner);
  cache.SetCacheBlockSize(8);
  cache.StartCacheThread();

  const uint64_t depth = CStorageDeviceWithCache::kQueueLimit + 1;
  ASSERT_TRUE(WaitUntil([&] { return log.Has("cache have been filled and wait for"); }));
  EXPECT_TRUE(log.HasPart("Read 8 sector time = "));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(depth, inner.ReadLog().size());

  ASSERT_TRUE(cache.SetCurCacheBlock(0));
  EXPECT_TRUE(log.Has("------wait for is over -----------------"));
  EXPECT_TRUE(log.Has("------set event to read data to buffer-----------------"));
  ASSERT_TRUE(WaitForReads(inner, depth + 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(depth + 1, inner.ReadLog().size());
}

TEST(CachedDevice, TakingTheLastQueuedBlockIsLogged) {
  std::vector<uint8_t> bytes = Pattern(2 * 8, 512);
  MemoryDevice inner(bytes);
  corvale::log::ScopedCapture log;
  CStorageDeviceWithCache cache(&inner);
  cache.SetCacheBlockSize(8);
  cache.StartCacheThread();
  ASSERT_TRUE(cache.SetCurCacheBlock(0));
  log.Clear();
  ASSERT_TRUE(cache.SetCurCacheBlock(1));
  EXPECT_EQ(1u, log.Count("------set event to wait-----------------"));
}

TEST(CachedDevice, WithoutInnerDeviceNothingIsServed) {
  CStorageDeviceWithCache cache(nullptr);
  EXPECT_EQ(512, cache.GetSectorSize());
  EXPECT_EQ(0, cache.GetSectorCount());
  EXPECT_FALSE(cache.Open());
  EXPECT_FALSE(cache.IsBlockInRange(0));
  cache.StartCacheThread();
  EXPECT_FALSE(cache.SetCurCacheBlock(0));
  uint8_t sector[512];
  EXPECT_FALSE(cache.ReadSectors(sector, 0, 1));
}

// A real image whose length is not a whole number of 4 MiB blocks, scanned as the whole-device
// search does: 4 MiB blocks, one consumer, the short tail included.
TEST(CachedDevice, ImageFileScannedInFourMegabyteBlocksMatchesTheFile) {
  CORVALE_FIXTURE(image, "ext2_odd_tail.sh", "ext2_odd_tail.img");
  CImageFileDevice inner(image);
  ASSERT_TRUE(inner.IsOpened());
  std::vector<uint8_t> bytes(inner.GetSectorCount() * 512);
  ASSERT_TRUE(inner.ReadSectors(bytes.data(), 0, inner.GetSectorCount()));

  CStorageDeviceWithCache cache(&inner);
  cache.SetCacheBlockSize(4194304 / cache.GetSectorSize());
  cache.StartCacheThread();
  EXPECT_EQ(3u, ScanAndCompare(cache, bytes));
  EXPECT_FALSE(cache.SetCurCacheBlock(3));
}

}  // namespace
