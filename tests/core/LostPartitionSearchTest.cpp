// The lost-partition search's walk over the cylinder grid, with stand-in testers: which sectors are
// offered, what the window is told, cancel, unreadable sectors, and the size of a found record.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "core/LostPartitionSearcher.h"
#include "storage/MemoryDevice.h"

namespace {

TEST(PartitionSearchAlgorithm, CountsAndPositions) {
  struct Row {
    uint64_t sectors;
    uint64_t count255;
    uint64_t count240;
  };
  const Row rows[] = {{0, 0, 0}, {16064, 0, 1}, {16065, 1, 1}, {15120, 0, 1}, {1000000, 62, 66}};
  for (const Row& r : rows) {
    EXPECT_EQ(CPartitionSearchAccordingTo255Head(r.sectors).GetCount(), r.count255) << r.sectors;
    EXPECT_EQ(CPartitionSearchAccordingTo240Head(r.sectors).GetCount(), r.count240) << r.sectors;
  }
  CPartitionSearchAccordingTo255Head walk255(100000);
  CPartitionSearchAccordingTo240Head walk240(100000);
  EXPECT_EQ(walk255.GetNextSector(), 0u);
  EXPECT_EQ(walk255.GetNextSector(), 16065u);
  EXPECT_EQ(walk240.GetNextSector(), 0u);
  EXPECT_EQ(walk240.GetNextSector(), 15120u);
  EXPECT_EQ(walk255.IsSecondary(), 0);
  EXPECT_EQ(walk240.IsSecondary(), 1);
}

// Records every position it is offered; says a partition starts at the positions it is told.
class StubTester : public IPartitionFileSystemSearchController {
 public:
  explicit StubTester(std::set<int64_t> hits = {}) : m_hits(std::move(hits)) {}
  void SetDevice(IStorageDevice* device) override { m_device = device; }
  void BeginSearch() override { ++begun; }
  void EndSearch() override { ++ended; }
  int TestSector(const void*, int64_t position, CLostPartitionRecord* out) override {
    offered.push_back(position);
    if (!m_hits.count(position)) return 0;
    FillLostPartitionRecord(out, m_device, uint64_t(position), 100, 3, "LABEL", 5, 0);
    return 1;
  }
  std::vector<int64_t> offered;
  int begun = 0, ended = 0;

 private:
  std::set<int64_t> m_hits;
  IStorageDevice* m_device = nullptr;
};

class Progress : public IPartitionSearchCallback {
 public:
  void PumpMessages() override { ++pumps; }
  void Step() override { ++steps; }
  int IsCancelled() override { return cancelAt >= 0 && steps >= cancelAt; }
  void SetStep(int64_t) override {}
  void SetRange(int64_t, int64_t end) override { range = end; }
  void AddFoundPartition(const CLostPartitionRecord* record) override {
    found.push_back(record->StartSector);
    labels.push_back(record->Label);
  }
  int64_t steps = 0, pumps = 0, range = -1, cancelAt = -1;
  std::vector<uint64_t> found;
  std::vector<std::string> labels;
};

class Search : public CLostPartitionSearchBase {
 public:
  Search(IStorageDevice* device, std::vector<IPartitionFileSystemSearchController*> testers, bool with240) {
    SetDevice(device);
    for (auto* t : testers) AddTester(t);
    const uint64_t n = uint64_t(device->GetSectorCount());
    AddAlgorithm(std::make_unique<CPartitionSearchAccordingTo255Head>(n));
    if (with240) AddAlgorithm(std::make_unique<CPartitionSearchAccordingTo240Head>(n));
  }
};

constexpr uint64_t kSectors = 16065 * 3 + 100;

TEST(LostPartitionSearchWalk, EachCylinderAndOneTrackAfterItAreOffered) {
  MemoryDevice device(std::vector<uint8_t>(kSectors * 512));
  StubTester tester;
  Progress progress;
  Search search(&device, {&tester}, false);
  ASSERT_TRUE(search.RunSearch(&progress));
  EXPECT_TRUE(search.IsDone());
  EXPECT_EQ(tester.offered, (std::vector<int64_t>{0, 63, 16065, 16128, 32130, 32193}));
  EXPECT_EQ(progress.range, 3);
  EXPECT_EQ(progress.steps, 3);
  EXPECT_EQ(progress.pumps, 6);
  EXPECT_EQ(tester.begun, 1);
  EXPECT_EQ(tester.ended, 1);
}

TEST(LostPartitionSearchWalk, The240HeadWalkSkipsPositionsOnThe255HeadGrid) {
  const uint64_t n = 17 * 16065 + 100;  // both walks reach 17 x 15120 = 16 x 16065
  MemoryDevice device(std::vector<uint8_t>(n * 512));
  StubTester tester;
  Search search(&device, {&tester}, true);
  ASSERT_TRUE(search.RunSearch(nullptr));
  std::multiset<int64_t> offered(tester.offered.begin(), tester.offered.end());
  EXPECT_EQ(offered.count(0), 1u);
  EXPECT_EQ(offered.count(15120), 1u);
  EXPECT_EQ(offered.count(15120 + 63), 1u);
  // 0 and 17 x 15120 are on both grids and are offered once.
  EXPECT_EQ(offered.count(63), 1u);
  EXPECT_EQ(offered.count(17 * 15120), 1u);
  EXPECT_EQ(offered.count(17 * 15120 + 63), 1u);
}

TEST(LostPartitionSearchWalk, AHitIsReportedAndLaterTestersAreNotAsked) {
  MemoryDevice device(std::vector<uint8_t>(kSectors * 512));
  StubTester first({63, 32130});
  StubTester second({63, 16065});
  Progress progress;
  Search search(&device, {&first, &second}, false);
  ASSERT_TRUE(search.RunSearch(&progress));
  EXPECT_EQ(progress.found, (std::vector<uint64_t>{63, 16065, 32130}));
  EXPECT_EQ(std::count(second.offered.begin(), second.offered.end(), 63), 0);
  EXPECT_EQ(progress.labels[0], "LABEL");
}

TEST(LostPartitionSearchWalk, CancelStopsBeforeTheNextPosition) {
  MemoryDevice device(std::vector<uint8_t>(kSectors * 512));
  StubTester tester;
  Progress progress;
  progress.cancelAt = 2;
  Search search(&device, {&tester}, false);
  ASSERT_TRUE(search.RunSearch(&progress));
  EXPECT_TRUE(search.IsDone());
  EXPECT_EQ(tester.offered, (std::vector<int64_t>{0, 63, 16065, 16128}));
  EXPECT_EQ(tester.ended, 0);
}

TEST(LostPartitionSearchWalk, UnreadableSectorsAreSkipped) {
  MemoryDevice device(std::vector<uint8_t>(kSectors * 512));
  device.SetBadSector(63);
  device.SetBadSector(16065);
  StubTester tester;
  Search search(&device, {&tester}, false);
  ASSERT_TRUE(search.RunSearch(nullptr));
  EXPECT_EQ(tester.offered, (std::vector<int64_t>{0, 16128, 32130, 32193}));
}

TEST(LostPartitionSearchWalk, ADeviceSmallerThanACylinderHasNoPositions) {
  MemoryDevice device(std::vector<uint8_t>(16064 * 512));
  StubTester tester;
  Progress progress;
  Search search(&device, {&tester}, false);
  ASSERT_TRUE(search.RunSearch(&progress));
  EXPECT_TRUE(tester.offered.empty());
  EXPECT_EQ(progress.range, 0);
}

// A size of 0 or one running past the device end is cut at the device end, never stretched to the
// whole device's size from a start inside it.
TEST(LostPartitionRecordFill, SizesAreCutAtTheDeviceEnd) {
  MemoryDevice device(std::vector<uint8_t>(1000 * 512));
  struct Row {
    uint64_t start, count, expected;
  };
  const Row rows[] = {{100, 50, 50},   {100, 0, 900},   {100, 5000, 900},
                      {100, 900, 900}, {100, 901, 900}, {0, 0, 1000}};
  for (const Row& r : rows) {
    CLostPartitionRecord record;
    FillLostPartitionRecord(&record, &device, r.start, r.count, 4, nullptr, 0, 0);
    EXPECT_EQ(record.SectorCount, r.expected) << r.start << "+" << r.count;
    ASSERT_NE(record.Device, nullptr);
    EXPECT_EQ(uint64_t(record.Device->GetSectorCount()), r.expected);
    delete record.Device;
  }
}

TEST(LostPartitionRecordFill, LabelsAreCutToTheFieldAndTerminated) {
  MemoryDevice device(std::vector<uint8_t>(1000 * 512));
  const std::string longLabel(300, 'x');
  CLostPartitionRecord record;
  FillLostPartitionRecord(&record, &device, 0, 10, 3, longLabel.data(), longLabel.size(), 10);
  EXPECT_EQ(std::strlen(record.Label), sizeof record.Label - 1);
  delete record.Device;
}

}  // namespace
