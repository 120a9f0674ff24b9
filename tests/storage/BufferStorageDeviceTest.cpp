#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <random>

#include "DeviceTestBytes.h"
#include "storage/BufferStorageDevice.h"
#include "storage/MemoryDevice.h"

namespace {

using ReadLog = std::vector<std::pair<uint64_t, uint64_t>>;

// A ring of 3 blocks of 4 sectors over a 64-sector device. The blocks pushed carry other bytes than
// the device holds, so every sector read shows whether it came from the ring or from the device.
class Ring : public testing::Test {
 protected:
  static constexpr uint32_t kSector = 512;
  static constexpr uint32_t kPerBlock = 4;
  static constexpr uint32_t kBlocks = 3;

  Ring() : disk(diskBytes) { EXPECT_TRUE(ring.Init(&disk, 0, kSector, kPerBlock, kBlocks)); }

  std::vector<uint8_t> Pushed(uint64_t firstSector, uint64_t count) {
    return Slice(pushedBytes, firstSector * kSector, count * kSector);
  }
  void PushBlocks(uint64_t fromBlock, uint64_t toBlock) {
    for (uint64_t b = fromBlock; b < toBlock; ++b)
      ring.PushBlock(pushedBytes.data() + b * kPerBlock * kSector);
  }
  std::vector<uint8_t> Read(uint64_t first, uint64_t count, bool expectOk = true) {
    std::vector<uint8_t> buffer(count * kSector, 0xCC);
    EXPECT_EQ(ring.ReadSectors(buffer.data(), first, count), expectOk);
    return buffer;
  }

  std::vector<uint8_t> diskBytes = PatternBytes(64, kSector, 0);
  std::vector<uint8_t> pushedBytes = PatternBytes(64, kSector, 100);
  MemoryDevice disk;
  CBufferStorageDevice ring;
};

TEST_F(Ring, EmptyRingPassesEveryReadToTheDevice) {
  EXPECT_EQ(Read(0, 4), Slice(diskBytes, 0, 4 * kSector));
  EXPECT_EQ(Read(7, 2), Slice(diskBytes, 7 * kSector, 2 * kSector));
  EXPECT_EQ(disk.ReadLog(), (ReadLog{{0, 4}, {7, 2}}));
  EXPECT_EQ(ring.GetSectorCount(), 0);
  EXPECT_FALSE(ring.IsFull());
}

TEST_F(Ring, FillsBlockByBlockThenSlidesOneBlockPerPush) {
  PushBlocks(0, 2);
  EXPECT_FALSE(ring.IsFull());
  EXPECT_EQ(ring.GetStartSector(), 0u);
  EXPECT_EQ(ring.GetSectorCount(), 8);
  PushBlocks(2, 3);
  EXPECT_TRUE(ring.IsFull());
  EXPECT_EQ(ring.GetSectorCount(), 12);
  PushBlocks(3, 5);
  EXPECT_TRUE(ring.IsFull());
  EXPECT_EQ(ring.GetStartSector(), 8u);
  EXPECT_EQ(ring.GetSectorCount(), 12);
  EXPECT_EQ(Read(8, 12), Pushed(8, 12));
  EXPECT_TRUE(disk.ReadLog().empty());
}

TEST_F(Ring, WrappingReadReturnsSectorsInDeviceOrder) {
  // Blocks 0..3 pushed: the ring holds sectors 4..15 and block 3 sits at ring index 0.
  PushBlocks(0, 4);
  for (uint64_t first = 4; first < 16; ++first) {
    for (uint64_t count = 1; first + count <= 16; ++count) {
      EXPECT_EQ(Read(first, count), Pushed(first, count)) << first << "+" << count;
    }
  }
  EXPECT_TRUE(disk.ReadLog().empty());
}

TEST_F(Ring, ReadNotWhollyInsideTheWindowGoesToTheDeviceWhole) {
  PushBlocks(0, 4);  // window 4..15
  struct Case {
    uint64_t first, count;
  };
  for (Case c : {Case{14, 4}, Case{2, 4}, Case{3, 14}, Case{16, 1}, Case{0, 1}}) {
    EXPECT_EQ(Read(c.first, c.count), Slice(diskBytes, c.first * kSector, c.count * kSector));
  }
  EXPECT_EQ(disk.ReadLog(), (ReadLog{{14, 4}, {2, 4}, {3, 14}, {16, 1}, {0, 1}}));
}

TEST_F(Ring, ReadOutsideTheWindowWithoutDeviceFails) {
  CBufferStorageDevice bare;
  std::vector<uint8_t> block(kPerBlock * kSector, 7);
  std::vector<uint8_t> buffer(kSector);
  EXPECT_FALSE(bare.ReadSectors(buffer.data(), 0, 1));  // not initialised
  ASSERT_TRUE(bare.Init(nullptr, 0, kSector, kPerBlock, kBlocks));
  bare.PushBlock(block.data());
  EXPECT_TRUE(bare.ReadSectors(buffer.data(), 3, 1));
  EXPECT_FALSE(bare.ReadSectors(buffer.data(), 4, 1));
}

TEST_F(Ring, RingWithNoRoomIsRefused) {
  for (auto [perBlock, blocks] : {std::pair<uint32_t, uint32_t>{0, 20}, {8, 0}, {0x10000, 0x10000}}) {
    CBufferStorageDevice empty;
    EXPECT_FALSE(empty.Init(&disk, 0, kSector, perBlock, blocks));
    empty.PushBlock(pushedBytes.data());
    EXPECT_FALSE(empty.IsFull());
    std::vector<uint8_t> buffer(kSector);
    EXPECT_FALSE(empty.ReadSectors(buffer.data(), 0, 1));
  }
  EXPECT_TRUE(disk.ReadLog().empty());
}

TEST_F(Ring, UnknownSectorSizeCountsAs512) {
  CBufferStorageDevice r;
  ASSERT_TRUE(r.Init(&disk, 0, 0, kPerBlock, kBlocks));
  EXPECT_EQ(r.GetSectorSize(), 512);
  r.PushBlock(pushedBytes.data());
  std::vector<uint8_t> buffer(kPerBlock * kSector);
  ASSERT_TRUE(r.ReadSectors(buffer.data(), 0, kPerBlock));
  EXPECT_EQ(buffer, Pushed(0, kPerBlock));
}

TEST_F(Ring, AddressedPushThatFollowsOnKeepsTheWindow) {
  for (uint64_t b = 0; b < 4; ++b)
    ring.PushBlock(b * kPerBlock, pushedBytes.data() + b * kPerBlock * kSector);
  EXPECT_EQ(ring.GetStartSector(), 4u);
  EXPECT_EQ(Read(4, 12), Pushed(4, 12));
  EXPECT_TRUE(disk.ReadLog().empty());
}

TEST_F(Ring, AddressedPushAfterAGapStartsTheRingAgain) {
  PushBlocks(0, 4);  // window 4..15
  // Block 4 (sectors 16..19) was skipped: block 5 does not follow on.
  ring.PushBlock(20, pushedBytes.data() + 20 * kSector);
  EXPECT_EQ(ring.GetStartSector(), 20u);
  EXPECT_EQ(ring.GetSectorCount(), kPerBlock);
  EXPECT_FALSE(ring.IsFull());
  EXPECT_EQ(Read(20, 4), Pushed(20, 4));
  EXPECT_TRUE(disk.ReadLog().empty());
  // The sectors of the old window are no longer answered from memory.
  EXPECT_EQ(Read(12, 4), Slice(diskBytes, 12 * kSector, 4 * kSector));
  EXPECT_EQ(disk.ReadLog(), (ReadLog{{12, 4}}));
}

TEST_F(Ring, FirstAddressedPushPlacesTheWindow) {
  ring.PushBlock(32, pushedBytes.data() + 32 * kSector);
  EXPECT_EQ(ring.GetStartSector(), 32u);
  EXPECT_EQ(Read(33, 3), Pushed(33, 3));
  EXPECT_TRUE(disk.ReadLog().empty());
}

// The ring against a plain model: a list of the sectors held and their window start. Pushes carry
// fresh random bytes; reads land inside, across and outside the window, and past the device end.
struct RingShape {
  uint32_t sectorSize, perBlock, blocks;
};

class RingAgainstModel : public testing::TestWithParam<RingShape> {};

TEST_P(RingAgainstModel, EveryReadMatchesTheModel) {
  const RingShape shape = GetParam();
  const uint64_t capacity = uint64_t{shape.perBlock} * shape.blocks;
  const uint64_t diskSectors = capacity * 6 + 3;
  std::vector<uint8_t> diskBytes = PatternBytes(diskSectors, shape.sectorSize, 55);
  MemoryDevice disk(diskBytes, static_cast<int32_t>(shape.sectorSize));
  CBufferStorageDevice ring;
  ASSERT_TRUE(ring.Init(&disk, 0, static_cast<int32_t>(shape.sectorSize), shape.perBlock, shape.blocks));

  std::mt19937_64 rng(20240611u + shape.perBlock * 31 + shape.blocks);
  uint64_t modelStart = 0;
  std::deque<std::vector<uint8_t>> model;  // sectors held, oldest first
  uint64_t nextBlock = 0;                  // where a following-on addressed push would go
  const size_t blockBytes = size_t{shape.perBlock} * shape.sectorSize;
  std::vector<uint8_t> block(blockBytes);

  auto push = [&](std::optional<uint64_t> address) {
    for (auto& b : block) b = static_cast<uint8_t>(rng());
    if (address) {
      if (model.empty() || *address != modelStart + model.size()) {
        model.clear();
        modelStart = *address;
      }
      ring.PushBlock(*address, block.data());
    } else {
      ring.PushBlock(block.data());
    }
    for (uint32_t s = 0; s < shape.perBlock; ++s) {
      model.emplace_back(block.begin() + s * shape.sectorSize, block.begin() + (s + 1) * shape.sectorSize);
    }
    while (model.size() > capacity) {
      model.pop_front();
      ++modelStart;
    }
  };

  for (int op = 0; op < 4000; ++op) {
    uint64_t kind = rng() % 10;
    if (kind < 3) {
      push(std::nullopt);
      nextBlock = modelStart + model.size();
    } else if (kind == 3) {
      // Mostly following on, sometimes a jump forward or back.
      uint64_t address = nextBlock;
      if (rng() % 4 == 0) address = rng() % (diskSectors - shape.perBlock);
      push(address);
      nextBlock = modelStart + model.size();
    } else {
      // Reads around the window: start up to a capacity before it, end up to a capacity after it.
      uint64_t low = modelStart > capacity ? modelStart - capacity : 0;
      uint64_t first = low + rng() % (model.size() + 2 * capacity + 1);
      uint64_t count = 1 + rng() % (capacity + 1);
      uint64_t readsBefore = disk.ReadCount();
      std::vector<uint8_t> buffer(count * shape.sectorSize, 0xCC);
      bool ok = ring.ReadSectors(buffer.data(), first, count);

      bool held = !model.empty() && first >= modelStart && first + count <= modelStart + model.size();
      if (held) {
        ASSERT_TRUE(ok) << "op " << op;
        ASSERT_EQ(disk.ReadCount(), readsBefore) << "op " << op;
        for (uint64_t s = 0; s < count; ++s) {
          ASSERT_EQ(Slice(buffer, s * shape.sectorSize, shape.sectorSize), model[first - modelStart + s])
              << "op " << op << " sector " << first + s;
        }
      } else {
        ASSERT_EQ(disk.ReadCount(), readsBefore + 1) << "op " << op;
        ASSERT_EQ(disk.ReadLog().back(), std::make_pair(first, count));
        bool inDevice = first + count <= diskSectors;
        ASSERT_EQ(ok, inDevice) << "op " << op;
        if (inDevice) {
          ASSERT_EQ(buffer, Slice(diskBytes, first * shape.sectorSize, count * shape.sectorSize))
              << "op " << op;
        }
      }
    }
    ASSERT_EQ(ring.GetStartSector(), modelStart);
    ASSERT_EQ(static_cast<uint64_t>(ring.GetSectorCount()), model.size());
    ASSERT_EQ(ring.IsFull(), model.size() == capacity);
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, RingAgainstModel,
                         testing::Values(RingShape{512, 1, 1}, RingShape{512, 4, 3}, RingShape{512, 3, 5},
                                         RingShape{4096, 2, 20}, RingShape{512, 16, 2},
                                         RingShape{2048, 5, 7}),
                         [](const testing::TestParamInfo<RingShape>& info) {
                           return "S" + std::to_string(info.param.sectorSize) + "x" +
                                  std::to_string(info.param.perBlock) + "x" +
                                  std::to_string(info.param.blocks);
                         });

}  // namespace
