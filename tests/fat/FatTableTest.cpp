#include <gtest/gtest.h>

#include <vector>

#include "FatTestSupport.h"
#include "fat/FATDBR.h"
#include "fat/FATTable.h"
#include "fat/FatChain.h"
#include "storage/ByteReader.h"
#include "storage/MemoryDevice.h"

using namespace corvale;
using namespace corvale::fat;
using fattest::FatFixture;
using fattest::FatImages;

namespace {

// A FAT copy built entry by entry, served by a memory device from sector 0.
struct FatCopy {
  int bits;
  std::vector<uint8_t> bytes;
  FatCopy(int entryBits, uint32_t sectors, uint32_t sectorSize = 512)
      : bits(entryBits), bytes(static_cast<size_t>(sectors) * sectorSize, 0) {
    if (bits == 32) {
      Set(0, 0x0FFFFFF8);
      Set(1, 0x0FFFFFFF);
    } else if (bits == 16) {
      Set(0, 0xFFF8);
      Set(1, 0xFFFF);
    } else {
      bytes[0] = 0xF8;
      bytes[1] = 0xFF;
      bytes[2] = 0xFF;
    }
  }
  void Set(uint32_t i, uint32_t value) {
    if (bits == 32) {
      putLE(&bytes[i * 4], value, 4);
    } else if (bits == 16) {
      putLE(&bytes[i * 2], value, 2);
    } else {
      const size_t o = i * 3 / 2;
      uint32_t word = bytes[o] | (bytes[o + 1] << 8);
      word = (i & 1) ? (word & 0x000F) | (value << 4) : (word & 0xF000) | (value & 0xFFF);
      putLE(&bytes[o], word, 2);
    }
  }
  void Chain(std::initializer_list<uint32_t> clusters, uint32_t end = 0x0FFFFFFF) {
    const uint32_t last = bits == 32 ? end : bits == 16 ? (end & 0xFFFF) : (end & 0xFFF);
    auto it = clusters.begin();
    for (auto next = std::next(it); next != clusters.end(); ++it, ++next) Set(*it, *next);
    Set(*it, last);
  }
  std::unique_ptr<MemoryDevice> Device(int32_t sectorSize = 512) const {
    return std::make_unique<MemoryDevice>(bytes, sectorSize);
  }
  uint32_t Sectors(uint32_t sectorSize = 512) const {
    return static_cast<uint32_t>(bytes.size() / sectorSize);
  }
};

class FatOfImage : public ::testing::TestWithParam<FatFixture> {};

}  // namespace

TEST_P(FatOfImage, ChainsOfRealFilesAreTheClustersMtoolsShows) {
  const FatFixture& fixture = GetParam();
  FAT_IMAGE(image, fixture);
  const std::vector<std::pair<std::string, std::string>> files = {
      {"", "Long File Name Example.dat"},
      {"frag", "A.bin"},
      {"frag", "C.bin"},
      {"frag", "D.bin"},
      {"", "many"},
      {"deep/level1/level2/level3/level4/level5", "leaf file.txt"}};
  for (const auto& [folder, name] : files) {
    SCOPED_TRACE(folder + "/" + name);
    auto entry = fattest::FindEntry(image, folder, name, false);
    ASSERT_NE(entry, nullptr);
    std::vector<uint32_t> clusters;
    EXPECT_EQ(FollowFATChain(*image.fat, entry->GetFirstCluster(), image.geometry.clusterCount, 1u << 20,
                             &clusters),
              FatChainEnd::EndOfChain);
    EXPECT_EQ(clusters, fattest::MshowfatClusters(image.path, folder.empty() ? name : folder + "/" + name));
  }
  // The fixture's interleaved writes did split these chains.
  std::vector<uint32_t> d;
  FollowFATChain(*image.fat, fattest::FindEntry(image, "frag", "D.bin", false)->GetFirstCluster(),
                 image.geometry.clusterCount, 100, &d);
  ASSERT_GE(d.size(), 2u);
  EXPECT_NE(d[3], d[2] + 1);
  // A deleted file's chain is freed: the walk stops at its first cluster.
  auto deleted = fattest::FindEntry(image, "", "Deleted Long Name Document.txt", true);
  ASSERT_NE(deleted, nullptr);
  std::vector<uint32_t> freed;
  EXPECT_EQ(FollowFATChain(*image.fat, deleted->GetFirstCluster(), image.geometry.clusterCount, 100, &freed),
            FatChainEnd::Free);
  EXPECT_EQ(freed.size(), 1u);
}

TEST_P(FatOfImage, BothCopiesAreValidAndTheFirstIsAskedFirst) {
  const FatFixture& fixture = GetParam();
  FAT_IMAGE(image, fixture);
  const int32_t type = fixture.fatBits == 12 ? kFatType12 : fixture.fatBits == 16 ? kFatType16 : kFatType32;
  const FatVolumeGeometry& g = image.geometry;
  auto both = CreateDoubleFATTable(image.device.get(), g.fatStart, type, g.sectorsPerFat, true, true);
  ASSERT_NE(both->GetFirst(), nullptr);
  EXPECT_EQ(both->GetSecond(), nullptr);
  EXPECT_EQ(both->GetFirst()->GetFirstSector(), g.fatStart);
  auto second = CreateDoubleFATTable(image.device.get(), g.fatStart, type, g.sectorsPerFat, false, true);
  ASSERT_EQ(second->GetFirst(), nullptr);
  ASSERT_NE(second->GetSecond(), nullptr);
  EXPECT_EQ(second->GetSecond()->GetFirstSector(), g.fatStart + g.sectorsPerFat);
  for (uint32_t c = 2; c < 200; ++c) EXPECT_EQ(second->GetNextCluster(c), both->GetNextCluster(c)) << c;
  std::vector<uint8_t> sector(g.bytesPerSector);
  ASSERT_TRUE(image.device->ReadSectors(sector.data(), g.fatStart, 1));
  EXPECT_EQ(IsFATTableStartSector(sector.data(), sector.size()), fixture.fatBits != 12);
}

INSTANTIATE_TEST_SUITE_P(Images, FatOfImage, ::testing::ValuesIn(FatImages()), [](const auto& info) {
  std::string name = info.param.image;
  return name.substr(0, name.find('.'));
});

// Windows clears the clean-shutdown bit of entry 1 while a volume is in use, and the disk-error bit
// after an error; the copy is still a FAT.
TEST(FatCopyStart, VolumeStateBitsOfEntryOneAreNotLookedAt) {
  for (int bits : {16, 32}) {
    SCOPED_TRACE(bits);
    FatCopy fat(bits, bits == 32 ? 256 : 16);
    fat.Chain({2, 3, 4});
    const int32_t type = bits == 32 ? kFatType32 : kFatType16;
    for (uint32_t entry1 : bits == 32 ? std::vector<uint32_t>{0x0FFFFFFF, 0x07FFFFFF, 0x03FFFFFF, 0xFFFFFFFF}
                                      : std::vector<uint32_t>{0xFFFF, 0x7FFF, 0x3FFF}) {
      fat.Set(1, entry1);
      EXPECT_TRUE(IsFATTableStartSector(fat.bytes.data(), 512)) << std::hex << entry1;
      auto device = fat.Device();
      EXPECT_NE(CreateFATTable(device.get(), type, 0, fat.Sectors()), nullptr) << std::hex << entry1;
    }
    fat.Set(1, bits == 32 ? 0x0FFFFFF0 : 0xFFF0);
    EXPECT_FALSE(IsFATTableStartSector(fat.bytes.data(), 512));
    fat.Set(1, bits == 32 ? 0x0FFFFFFF : 0xFFFF);
    fat.bytes[0] = 0xF0;  // a media byte other than the fixed disk's
    EXPECT_FALSE(IsFATTableStartSector(fat.bytes.data(), 512));
    auto device = fat.Device();
    EXPECT_EQ(CreateFATTable(device.get(), type, 0, fat.Sectors()), nullptr);
  }
  EXPECT_FALSE(IsFATTableStartSector(nullptr, 512));
  const uint8_t shortBuffer[4] = {0xF8, 0xFF, 0xFF, 0xFF};
  EXPECT_FALSE(IsFATTableStartSector(shortBuffer, 4));
}

TEST(FatCopySize, CopiesOutsideTheirTypesWindowAreNotRead) {
  struct Row {
    int bits;
    uint32_t sectors;
    int32_t sectorSize;
    bool read;
  };
  const Row rows[] = {
      {16, 12, 512, true},  {16, 256, 512, true},  {16, 11, 512, false},     {16, 300, 512, false},
      {16, 1, 4096, true},  {16, 32, 4096, true},  {16, 33, 4096, false},    {12, 1, 512, true},
      {12, 12, 512, true},  {12, 13, 512, false},  {32, 256, 512, true},     {32, 255, 512, false},
      {32, 32, 4096, true}, {32, 31, 4096, false}, {32, 16001, 4096, false}, {16, 0, 512, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "FAT" << row.bits << " " << row.sectors << " x " << row.sectorSize);
    FatCopy fat(row.bits, std::max<uint32_t>(row.sectors, 1), static_cast<uint32_t>(row.sectorSize));
    auto device = fat.Device(row.sectorSize);
    const int32_t type = row.bits == 12 ? kFatType12 : row.bits == 16 ? kFatType16 : kFatType32;
    auto table = CreateFATTable(device.get(), type, 0, row.sectors);
    EXPECT_EQ(table != nullptr, row.read);
  }
  // A copy the device cannot give is not valid either.
  FatCopy fat(16, 16);
  auto device = fat.Device();
  EXPECT_EQ(CreateFATTable(device.get(), kFatType16, 8, 16), nullptr);
  EXPECT_EQ(CreateFATTable(device.get(), 7, 0, 16), nullptr);
  EXPECT_EQ(CreateFATTable(nullptr, kFatType16, 0, 16), nullptr);
}

TEST(FatEntries, MarksReadTheSameForEveryType) {
  FatCopy f16(16, 16);
  f16.Set(5, 0xFFF7);
  f16.Set(6, 0xFFF8);
  f16.Set(7, 0xFFFF);
  f16.Set(8, 9);
  auto d16 = f16.Device();
  CFAT16Table t16(d16.get(), 0, 16);
  EXPECT_EQ(t16.GetNextCluster(5), kFatBadCluster);
  EXPECT_EQ(t16.GetNextCluster(6), kFatEndOfChain);
  EXPECT_EQ(t16.GetNextCluster(7), kFatEndOfChain);
  EXPECT_EQ(t16.GetNextCluster(8), 9u);
  EXPECT_EQ(t16.GetNextCluster(16 * 256), 0u);  // past the copy

  FatCopy f12(12, 1);
  f12.Set(2, 3);
  f12.Set(3, 0xFFF);
  f12.Set(4, 0xFF7);
  f12.Set(5, 0xFF8);
  f12.Set(6, 0xABC);
  f12.Set(7, 0x123);
  auto d12 = f12.Device();
  CFAT12Table t12(d12.get(), 0, 1);
  EXPECT_TRUE(t12.IsValid());
  EXPECT_EQ(t12.GetNextCluster(2), 3u);
  EXPECT_EQ(t12.GetNextCluster(3), kFat12LastCluster);
  EXPECT_EQ(t12.GetNextCluster(4), kFatBadCluster);
  EXPECT_EQ(t12.GetNextCluster(5), kFatEndOfChain);
  EXPECT_EQ(t12.GetNextCluster(6), 0xABCu);
  EXPECT_EQ(t12.GetNextCluster(7), 0x123u);
  // Entry 340 takes bytes 510 and 511, the last two; entry 341 would need byte 512.
  f12.Set(340, 0x345);
  auto d12b = f12.Device();
  CFAT12Table last(d12b.get(), 0, 1);
  EXPECT_EQ(last.GetNextCluster(340), 0x345u);
  EXPECT_EQ(last.GetNextCluster(341), 0u);
  EXPECT_EQ(last.GetNextCluster(0xFFFFFFFF), 0u);

  // The four reserved bits of a FAT32 entry are no part of the cluster number.
  FatCopy f32(32, 256);
  f32.Set(2, 0xF0000003);
  f32.Set(3, 0xF0000000 | 0x0FFFFFFF);
  f32.Set(4, 0x10000000);
  auto d32 = f32.Device();
  auto t32 = CreateFATTable(d32.get(), kFatType32, 0, 256);
  ASSERT_NE(t32, nullptr);
  EXPECT_EQ(t32->GetNextCluster(2), 3u);
  EXPECT_EQ(t32->GetNextCluster(3), 0x0FFFFFFFu);
  EXPECT_EQ(t32->GetNextCluster(4), 0u);
  EXPECT_EQ(t32->GetNextCluster(256 * 128), 0u);
}

TEST(FatValidity, EntriesNamingNoClusterOneOrThemselvesSpoilTheCopy) {
  struct Row {
    const char* name;
    uint32_t index;
    uint32_t value;
    bool valid;
  };
  const uint32_t count = 256 * 128;
  const Row rows[] = {
      {"plain chain", 10, 11, true},       {"names itself", 10, 10, false},
      {"names cluster 1", 10, 1, false},   {"past the copy", 10, count, false},
      {"last entry", 10, count - 1, true}, {"bad mark", 10, 0x0FFFFFF7, true},
      {"end mark", 10, 0x0FFFFFF8, true},  {"below the bad mark", 10, 0x0FFFFFF6, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FatCopy fat(32, 256);
    fat.Chain({2, 3, 4});
    fat.Set(row.index, row.value);
    auto device = fat.Device();
    EXPECT_EQ(CreateFATTable(device.get(), kFatType32, 0, 256) != nullptr, row.valid);
  }
}

TEST(FatValidity, JoinedAndCircularChainsSpoilTheCopy) {
  for (int bits : {16, 32}) {
    SCOPED_TRACE(bits);
    const uint32_t sectors = bits == 32 ? 256 : 16;
    const int32_t type = bits == 32 ? kFatType32 : kFatType16;
    const auto valid = [&](const FatCopy& fat) {
      auto device = fat.Device();
      return CreateFATTable(device.get(), type, 0, sectors) != nullptr;
    };
    FatCopy sound(bits, sectors);
    sound.Chain({5, 6, 7});
    sound.Chain({9, 3, 20, 8});
    EXPECT_TRUE(valid(sound));
    // Clusters 5 and 9 both name 7.
    FatCopy joined(bits, sectors);
    joined.Chain({5, 7});
    joined.Chain({9, 7});
    EXPECT_FALSE(valid(joined));
    // A two-link circle, with nothing leading into it.
    FatCopy circle(bits, sectors);
    circle.Set(5, 6);
    circle.Set(6, 5);
    EXPECT_FALSE(valid(circle));
    // A chain that ends in a circle joins it.
    FatCopy lasso(bits, sectors);
    lasso.Set(4, 5);
    lasso.Set(5, 6);
    lasso.Set(6, 5);
    EXPECT_FALSE(valid(lasso));
  }
}

// Chains laid out backwards made the table check walk each chain again from every cluster; now the
// check looks at each entry a fixed number of times. The verdicts are the same.
TEST(FatValidity, LongBackwardChainIsCheckedOnce) {
  const uint32_t sectors = 8192;  // a million entries
  FatCopy fat(32, sectors);
  const uint32_t count = sectors * 128;
  for (uint32_t c = count - 1; c > 2; --c) fat.Set(c, c - 1);
  fat.Set(2, 0x0FFFFFFF);
  auto device = fat.Device();
  EXPECT_NE(CreateFATTable(device.get(), kFatType32, 0, sectors), nullptr);
  fat.Set(2, count - 1);  // and now the chain closes into a circle
  auto circular = fat.Device();
  EXPECT_EQ(CreateFATTable(circular.get(), kFatType32, 0, sectors), nullptr);
}

TEST(DoubleFat, TheSecondCopyStandsInForAnInvalidFirst) {
  FatCopy first(16, 16);
  first.Chain({2, 3});
  first.bytes[0] = 0;  // spoilt start
  FatCopy second(16, 16);
  second.Chain({2, 4});
  std::vector<uint8_t> both = first.bytes;
  both.insert(both.end(), second.bytes.begin(), second.bytes.end());
  MemoryDevice device(both);
  auto fat = CreateDoubleFATTable(&device, 0, kFatType16, 16, true, true);
  EXPECT_EQ(fat->GetFirst(), nullptr);
  ASSERT_NE(fat->GetSecond(), nullptr);
  EXPECT_EQ(fat->GetNextCluster(2), 4u);
  auto none = CreateDoubleFATTable(&device, 0, kFatType16, 16, true, false);
  EXPECT_FALSE(none->HasTable());
  EXPECT_EQ(none->GetNextCluster(2), 0u);
  auto overflow = CreateDoubleFATTable(&device, ~uint64_t{0} - 4, kFatType16, 16, false, true);
  EXPECT_FALSE(overflow->HasTable());
}

TEST(FatCluster, ValidClusterNumbers) {
  EXPECT_FALSE(IsValidFATCluster(0));
  EXPECT_FALSE(IsValidFATCluster(1));
  EXPECT_TRUE(IsValidFATCluster(2));
  EXPECT_TRUE(IsValidFATCluster(0x0FFFFFEF));
  EXPECT_FALSE(IsValidFATCluster(0x0FFFFFF0));
  EXPECT_FALSE(IsValidFATCluster(0x1000000002ull));
}

TEST(FatChain, StopsAtCycleBackToFirstCluster) {
  FatCopy fat(32, 256);
  fat.Set(5, 6);
  fat.Set(6, 5);
  auto device = fat.Device();
  CFAT32Table table(device.get(), 0, 256);
  std::vector<uint32_t> clusters;
  EXPECT_EQ(FollowFATChain(table, 5, 1000, 1000, &clusters), FatChainEnd::Loop);
  EXPECT_EQ(clusters, (std::vector<uint32_t>{5, 6}));
}

TEST(FatChain, StopsWhereTheChainLeavesTheDataArea) {
  FatCopy fat(32, 256);
  fat.Chain({5, 6, 7});
  fat.Set(7, 1002);  // 1000 clusters: the last is 1001
  fat.Chain({10, 11}, 0x0FFFFFF7);
  fat.Chain({20, 21, 30, 31, 32});
  fat.Set(40, 41);
  auto device = fat.Device();
  CFAT32Table table(device.get(), 0, 256);
  struct Row {
    uint32_t first;
    size_t max;
    FatChainEnd end;
    std::vector<uint32_t> clusters;
  };
  const Row rows[] = {
      {5, 100, FatChainEnd::PastEnd, {5, 6, 7}},
      {10, 100, FatChainEnd::BadCluster, {10, 11}},
      {20, 100, FatChainEnd::EndOfChain, {20, 21, 30, 31, 32}},
      {20, 3, FatChainEnd::TooLong, {20, 21, 30}},
      {40, 100, FatChainEnd::Free, {40, 41}},
      {1, 100, FatChainEnd::Free, {}},
      {1002, 100, FatChainEnd::PastEnd, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.first);
    std::vector<uint32_t> clusters;
    EXPECT_EQ(FollowFATChain(table, row.first, 1000, row.max, &clusters), row.end) << ToString(row.end);
    EXPECT_EQ(clusters, row.clusters);
  }
}

TEST(ClusterRanges, NeighboursMergeIntoOneRange) {
  ClusterRangeSet set;
  for (uint32_t c : {10u, 12u, 11u, 20u, 9u, 0xFFFFFFFFu, 0xFFFFFFFEu, 0u}) set.Insert(c);
  EXPECT_EQ(set.RangeCount(), 4u);  // 0, 9-12, 20, and the top two
  for (uint32_t c : {0u, 9u, 10u, 11u, 12u, 20u, 0xFFFFFFFEu, 0xFFFFFFFFu}) EXPECT_TRUE(set.Contains(c)) << c;
  for (uint32_t c : {1u, 8u, 13u, 19u, 21u, 0xFFFFFFFDu}) EXPECT_FALSE(set.Contains(c)) << c;
  set.Insert(10);
  EXPECT_EQ(set.RangeCount(), 4u);
}
