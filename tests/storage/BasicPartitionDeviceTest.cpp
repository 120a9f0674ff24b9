#include <gtest/gtest.h>

#include "DeviceTestBytes.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/MemoryDevice.h"

namespace {

constexpr uint32_t kSector = 512;
constexpr uint64_t kDiskSectors = 40;
constexpr uint64_t kWindowStart = 10;
constexpr uint64_t kWindowSectors = 20;

struct WindowRead {
  const char* name;
  uint64_t first;
  uint64_t count;
  bool ok;
  // The one inner read expected, or none when innerCount is 0 and the read is refused up front.
  uint64_t innerFirst;
  uint64_t innerCount;
};

class PartitionWindowRead : public testing::TestWithParam<WindowRead> {};

TEST_P(PartitionWindowRead, ReadsTheWindowAndZeroFillsPastItsEnd) {
  const WindowRead& c = GetParam();
  std::vector<uint8_t> bytes = PatternBytes(kDiskSectors, kSector);
  MemoryDevice disk(bytes);
  CBasicPartitionDevice window(&disk, kWindowStart, kWindowSectors);

  std::vector<uint8_t> buffer(c.count * kSector, 0xCC);
  EXPECT_EQ(window.ReadSectors(buffer.data(), c.first, c.count), c.ok);

  if (c.innerCount == 0) {
    EXPECT_TRUE(disk.ReadLog().empty());
    return;
  }
  ASSERT_EQ(disk.ReadLog(), (std::vector<std::pair<uint64_t, uint64_t>>{{c.innerFirst, c.innerCount}}));
  EXPECT_EQ(Slice(buffer, 0, c.innerCount * kSector),
            Slice(bytes, c.innerFirst * kSector, c.innerCount * kSector));
  std::vector<uint8_t> zeros((c.count - c.innerCount) * kSector, 0);
  EXPECT_EQ(Slice(buffer, c.innerCount * kSector, zeros.size()), zeros);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PartitionWindowRead,
    testing::Values(WindowRead{"InsideTheWindow", 2, 4, true, 12, 4},
                    WindowRead{"WholeWindow", 0, kWindowSectors, true, 10, kWindowSectors},
                    WindowRead{"LastSector", kWindowSectors - 1, 1, true, 29, 1},
                    WindowRead{"EightSectorsFromThreeBeforeTheEnd", kWindowSectors - 3, 8, true, 27, 3},
                    WindowRead{"CountLargerThanTheWindow", 0, kWindowSectors + 1, false, 0, 0},
                    WindowRead{"FirstSectorAtTheEnd", kWindowSectors, 1, false, 0, 0},
                    WindowRead{"FirstSectorFarOutside", 1000, 1, false, 0, 0}),
    [](const testing::TestParamInfo<WindowRead>& info) { return info.param.name; });

TEST(PartitionWindow, FailedInnerReadFailsTheWindowRead) {
  MemoryDevice disk(PatternBytes(kDiskSectors, kSector));
  disk.SetBadSector(kWindowStart + 5);
  CBasicPartitionDevice window(&disk, kWindowStart, kWindowSectors);
  std::vector<uint8_t> buffer(8 * kSector);
  EXPECT_FALSE(window.ReadSectors(buffer.data(), 2, 8));
  EXPECT_TRUE(window.ReadSectors(buffer.data(), 6, 8));
}

TEST(PartitionWindow, WindowWhoseSectorsHaveNoAddressFailsWithoutReading) {
  MemoryDevice disk(PatternBytes(kDiskSectors, kSector));
  CBasicPartitionDevice window(&disk, UINT64_MAX - 2, 10);
  std::vector<uint8_t> buffer(kSector);
  EXPECT_FALSE(window.ReadSectors(buffer.data(), 5, 1));
  EXPECT_TRUE(disk.ReadLog().empty());
}

TEST(PartitionWindow, ReportsTheWindowAndTheInnerSectorSize) {
  MemoryDevice disk(PatternBytes(8, 4096), 4096);
  CBasicPartitionDevice window(&disk, 3, 4);
  EXPECT_EQ(window.GetStartSector(), 3u);
  EXPECT_EQ(window.GetSectorCount(), 4);
  EXPECT_EQ(window.GetSectorSize(), 4096);
  EXPECT_EQ(window.GetInnerDevice(), nullptr);
  EXPECT_TRUE(window.Open());
  EXPECT_TRUE(window.Close());

  CBasicPartitionDevice orphan(nullptr, 0, 4);
  EXPECT_EQ(orphan.GetSectorSize(), 512);
  std::vector<uint8_t> buffer(kSector);
  EXPECT_FALSE(orphan.ReadSectors(buffer.data(), 0, 1));
}

}  // namespace
