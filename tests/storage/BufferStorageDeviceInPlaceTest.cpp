// Blocks read straight into the ring (BeginBlock, CommitBlock) leave it exactly as copying them in
// with PushBlock does, and a block begun but never committed is never answered for.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "DeviceTestBytes.h"
#include "storage/BufferStorageDevice.h"
#include "storage/MemoryDevice.h"

namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kPerBlock = 4;
constexpr uint32_t kBlocks = 3;
constexpr uint64_t kDeviceSectors = 256;

std::vector<uint8_t> ReadAll(CBufferStorageDevice& ring) {
  std::vector<uint8_t> out(kDeviceSectors * kSector);
  for (uint64_t s = 0; s < kDeviceSectors; ++s) EXPECT_TRUE(ring.ReadSectors(out.data() + s * kSector, s, 1));
  return out;
}

TEST(RingInPlace, SameOutcomeAsCopyingEveryBlockIn) {
  // The device holds one pattern and the pushed blocks another, so every sector read shows whether
  // the ring answered it and with which block.
  MemoryDevice disk(PatternBytes(kDeviceSectors, kSector, 0));
  const std::vector<uint8_t> pushed = PatternBytes(kDeviceSectors, kSector, 100);
  CBufferStorageDevice copied, inPlace;
  ASSERT_TRUE(copied.Init(&disk, 0, kSector, kPerBlock, kBlocks));
  ASSERT_TRUE(inPlace.Init(&disk, 0, kSector, kPerBlock, kBlocks));

  std::mt19937 gen(4);
  uint64_t next = 0;
  for (int step = 0; step < 200; ++step) {
    // Mostly the block that follows on; now and then a jump forward or back.
    uint64_t first = next;
    if (gen() % 6 == 0) first = (gen() % (kDeviceSectors / kPerBlock - 1)) * kPerBlock;
    if (first + kPerBlock > kDeviceSectors) first = 0;
    const uint8_t* block = pushed.data() + first * kSector;
    copied.PushBlock(first, block);
    uint8_t* storage = inPlace.BeginBlock(first);
    ASSERT_NE(storage, nullptr);
    std::memcpy(storage, block, kPerBlock * kSector);
    inPlace.CommitBlock(first);
    next = first + kPerBlock;

    ASSERT_EQ(inPlace.GetStartSector(), copied.GetStartSector());
    ASSERT_EQ(inPlace.GetSectorCount(), copied.GetSectorCount());
    ASSERT_EQ(inPlace.IsFull(), copied.IsFull());
    ASSERT_EQ(ReadAll(inPlace), ReadAll(copied)) << "step " << step;
  }
}

TEST(RingInPlace, ABlockNeverCommittedIsNotAnsweredFor) {
  MemoryDevice disk(PatternBytes(kDeviceSectors, kSector, 0));
  const std::vector<uint8_t> pushed = PatternBytes(kDeviceSectors, kSector, 100);
  CBufferStorageDevice ring;
  ASSERT_TRUE(ring.Init(&disk, 0, kSector, kPerBlock, kBlocks));
  for (uint64_t b = 0; b < kBlocks; ++b)
    ring.PushBlock(b * kPerBlock, pushed.data() + b * kPerBlock * kSector);
  ASSERT_TRUE(ring.IsFull());

  // The read of block 3 fails half way: its storage (block 0's) holds neither block now.
  uint8_t* storage = ring.BeginBlock(3 * kPerBlock);
  ASSERT_NE(storage, nullptr);
  std::memset(storage, 0xEE, kPerBlock * kSector);
  EXPECT_FALSE(ring.IsFull());
  EXPECT_EQ(ring.GetStartSector(), kPerBlock);
  EXPECT_EQ(ReadAll(ring), [&] {
    std::vector<uint8_t> expected = disk.Bytes();
    std::memcpy(expected.data() + kPerBlock * kSector, pushed.data() + kPerBlock * kSector,
                2 * kPerBlock * kSector);
    return expected;
  }());

  // Committing anything but the block begun claims nothing.
  ring.CommitBlock(5 * kPerBlock);
  EXPECT_EQ(ring.GetSectorCount(), 2 * kPerBlock);
  // The next block does not follow on from what is held: the ring starts again there.
  storage = ring.BeginBlock(4 * kPerBlock);
  std::memcpy(storage, pushed.data() + 4 * kPerBlock * kSector, kPerBlock * kSector);
  ring.CommitBlock(4 * kPerBlock);
  EXPECT_EQ(ring.GetStartSector(), 4 * kPerBlock);
  EXPECT_EQ(ring.GetSectorCount(), kPerBlock);

  CBufferStorageDevice unset;
  EXPECT_EQ(unset.BeginBlock(0), nullptr);
}

}  // namespace
