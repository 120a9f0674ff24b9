#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "DeviceTestBytes.h"
#include "storage/MemoryDevice.h"
#include "storage/SimulateStorageDevice.h"

namespace {

using ReadLog = std::vector<std::pair<uint64_t, uint64_t>>;

// How many times each inner sector was read.
std::map<uint64_t, int> SectorsRead(const ReadLog& log) {
  std::map<uint64_t, int> times;
  for (auto [first, count] : log) {
    for (uint64_t s = first; s < first + count; ++s) ++times[s];
  }
  return times;
}

TEST(View512, PiecesReadOneByOneReadEachInnerSectorOnce) {
  std::vector<uint8_t> bytes = PatternBytes(4, 4096);
  MemoryDevice disk(bytes, 4096);
  CSimulateStorageDevice view(&disk);
  std::vector<uint8_t> buffer(512);
  for (uint64_t s = 0; s < 16; ++s) {
    ASSERT_TRUE(view.ReadSectors(buffer.data(), s, 1));
    EXPECT_EQ(buffer, Slice(bytes, s * 512, 512)) << s;
  }
  EXPECT_EQ(disk.ReadLog(), (ReadLog{{0, 1}, {1, 1}}));
}

TEST(View512, OneRequestOverSeveralInnerSectorsReadsEachOnce) {
  std::vector<uint8_t> bytes = PatternBytes(4, 4096);
  MemoryDevice disk(bytes, 4096);
  CSimulateStorageDevice view(&disk);
  std::vector<uint8_t> buffer(16 * 512);
  ASSERT_TRUE(view.ReadSectors(buffer.data(), 0, 16));
  EXPECT_EQ(buffer, Slice(bytes, 0, 16 * 512));
  EXPECT_EQ(SectorsRead(disk.ReadLog()), (std::map<uint64_t, int>{{0, 1}, {1, 1}}));
  // The last inner sector is still held: its pieces cost no further read.
  ASSERT_TRUE(view.ReadSectors(buffer.data(), 12, 4));
  EXPECT_EQ(Slice(buffer, 0, 4 * 512), Slice(bytes, 12 * 512, 4 * 512));
  EXPECT_EQ(disk.ReadCount(), 1u);
}

TEST(View512, FailedInnerReadFailsAndKeepsTheSectorsBeforeIt) {
  std::vector<uint8_t> bytes = PatternBytes(4, 4096);
  MemoryDevice disk(bytes, 4096);
  disk.SetBadSector(2);
  CSimulateStorageDevice view(&disk);
  std::vector<uint8_t> buffer(24 * 512, 0xCC);
  EXPECT_FALSE(view.ReadSectors(buffer.data(), 4, 20));
  EXPECT_EQ(Slice(buffer, 0, 12 * 512), Slice(bytes, 4 * 512, 12 * 512));
  EXPECT_EQ(Slice(buffer, 12 * 512, 12 * 512), std::vector<uint8_t>(12 * 512, 0xCC));
}

TEST(View512, ReportsItsGeometryAndTheDeviceUnderIt) {
  MemoryDevice disk(PatternBytes(5, 4096), 4096);
  CSimulateStorageDevice view(&disk);
  EXPECT_EQ(view.GetSectorSize(), 512);
  EXPECT_EQ(view.GetSectorCount(), 40);
  EXPECT_EQ(view.GetInnerDevice(), &disk);

  CSimulateStorageDevice orphan(nullptr);
  EXPECT_EQ(orphan.GetSectorCount(), 0);
  EXPECT_EQ(orphan.GetInnerDevice(), nullptr);
  std::vector<uint8_t> buffer(512);
  EXPECT_FALSE(orphan.ReadSectors(buffer.data(), 0, 1));
}

TEST(View512, SectorsSmallerThan512BytesNeitherDivideByZeroNorOverrun) {
  std::vector<uint8_t> bytes = PatternBytes(8, 256);
  MemoryDevice disk(bytes, 256);
  CSimulateStorageDevice view(&disk);
  EXPECT_EQ(view.GetSectorCount(), 8);
  std::vector<uint8_t> buffer(3 * 512);
  ASSERT_TRUE(view.ReadSectors(buffer.data(), 2, 3));
  EXPECT_EQ(Slice(buffer, 512, 256), Slice(bytes, 3 * 256, 256));
}

// The view read one 512-byte piece at a time, holding one inner sector: the plain behaviour the
// view's range reads must not change, failures included.
class PieceByPieceView {
 public:
  PieceByPieceView(IStorageDevice* inner) : m_inner(inner), m_ratio(inner->GetSectorSize() / 512) {
    m_sector.resize(inner->GetSectorSize());
  }
  bool ReadSectors(uint8_t* out, uint64_t first, uint64_t count) {
    for (; count > 0; ++first, --count, out += 512) {
      if (!(m_held > 0 && (m_held - 1) * m_ratio <= first && first < m_held * m_ratio)) {
        if (!m_inner->ReadSectors(m_sector.data(), first / m_ratio, 1)) return false;
        m_held = first / m_ratio + 1;
      }
      std::memcpy(out, m_sector.data() + (first % m_ratio) * 512, 512);
    }
    return true;
  }

 private:
  IStorageDevice* m_inner;
  uint64_t m_ratio;
  uint64_t m_held = 0;
  std::vector<uint8_t> m_sector;
};

class View512AgainstPieces : public testing::TestWithParam<int32_t> {};

TEST_P(View512AgainstPieces, RandomReadsGiveTheSameResultsAndBytes) {
  const int32_t innerSize = GetParam();
  const uint64_t ratio = innerSize / 512;
  const uint64_t innerSectors = 24;
  MemoryDevice disk(PatternBytes(innerSectors, innerSize), innerSize);
  disk.SetBadSector(9);
  disk.SetBadSector(17);
  CSimulateStorageDevice view(&disk);
  PieceByPieceView reference(&disk);

  std::mt19937_64 rng(77u + innerSize);
  const uint64_t pieces = innerSectors * ratio;
  for (int op = 0; op < 3000; ++op) {
    uint64_t first = rng() % (pieces + 4);
    uint64_t count = 1 + rng() % (rng() % 4 == 0 ? pieces : 3 * ratio);
    std::vector<uint8_t> got(count * 512, 0xCC);
    std::vector<uint8_t> want(count * 512, 0xCC);
    bool ok = view.ReadSectors(got.data(), first, count);
    ASSERT_EQ(ok, reference.ReadSectors(want.data(), first, count)) << "op " << op;
    ASSERT_EQ(got, want) << "op " << op << " first " << first << " count " << count;
  }
}

INSTANTIATE_TEST_SUITE_P(InnerSizes, View512AgainstPieces, testing::Values(512, 1024, 2048, 4096));

// A device that has not found its sector size yet.
class UnopenedDevice : public IStorageDevice {
 public:
  bool ReadSectors(void*, uint64_t, uint64_t) override { return false; }
  int64_t GetSectorCount() override { return 0; }
  int32_t GetSectorSize() override { return 0; }
  bool Open() override { return false; }
  bool Close() override { return true; }
};

TEST(DeviceWith512ByteSectors, IsTheDeviceItselfOrOneViewKeptForItsLife) {
  MemoryDevice small(PatternBytes(4, 512), 512);
  EXPECT_EQ(small.GetDeviceWith512ByteSectors(), &small);

  UnopenedDevice unopened;
  EXPECT_EQ(unopened.GetDeviceWith512ByteSectors(), &unopened);

  std::vector<uint8_t> bytes = PatternBytes(4, 4096);
  MemoryDevice large(bytes, 4096);
  IStorageDevice* view = large.GetDeviceWith512ByteSectors();
  ASSERT_NE(view, &large);
  EXPECT_EQ(large.GetDeviceWith512ByteSectors(), view);
  EXPECT_EQ(view->GetInnerDevice(), &large);
  EXPECT_EQ(view->GetSectorSize(), 512);
  EXPECT_EQ(view->GetSectorCount(), 32);
  std::vector<uint8_t> buffer(3 * 512);
  ASSERT_TRUE(view->ReadSectors(buffer.data(), 7, 3));
  EXPECT_EQ(buffer, Slice(bytes, 7 * 512, 3 * 512));
}

}  // namespace
