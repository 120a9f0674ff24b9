#include <gtest/gtest.h>

#include <vector>

#include "core/ClusterUseBitMap.h"

namespace {

// Clusters 0, 2 and 5 of eight in use.
const std::vector<bool> kBits{true, false, true, false, false, true, false, false};

}  // namespace

// Sectors per cluster and the cluster count are read off the disk: 0, odd sizes and counts larger
// than the bits held must all answer without a fault.
TEST(ClusterUseBitMap, AnswersForEverySectorAndGeometry) {
  const struct {
    const char* name;
    uint8_t spc;
    uint64_t clusters;
    uint64_t sector;
    bool used;
  } cases[] = {
      // 8 sectors per cluster from sector 1000.
      {"before the first sector", 8, 8, 999, true},
      {"sector 0, far before", 8, 8, 0, true},
      {"first sector of cluster 0", 8, 8, 1000, true},
      {"last sector of cluster 0", 8, 8, 1007, true},
      {"cluster 1", 8, 8, 1008, false},
      {"cluster 2", 8, 8, 1016, true},
      {"cluster 5", 8, 8, 1040, true},
      {"last cluster", 8, 8, 1063, false},
      {"first cluster beyond the count", 8, 8, 1064, true},
      {"far beyond", 8, 8, ~0ull, true},
      {"count smaller than the bits", 8, 3, 1040, true},
      {"count larger than the bits", 8, 1000, 1064, true},
      // Odd cluster sizes.
      {"1 sector per cluster, cluster 2", 1, 8, 1002, true},
      {"1 sector per cluster, cluster 3", 1, 8, 1003, false},
      {"3 sectors per cluster, cluster 1", 3, 8, 1005, false},
      {"3 sectors per cluster, cluster 2", 3, 8, 1006, true},
      {"255 sectors per cluster, cluster 0", 255, 8, 1254, true},
      {"255 sectors per cluster, cluster 1", 255, 8, 1255, false},
      // No geometry at all: the map knows nothing, as if there were none.
      {"0 sectors per cluster, in range", 0, 8, 1000, false},
      {"0 sectors per cluster, before the first", 0, 8, 10, false},
      {"0 sectors per cluster, beyond", 0, 8, ~0ull, false},
  };
  for (const auto& c : cases) {
    CClusterUseBitMapInfo info;
    info.bits = &kBits;
    info.firstSector = 1000;
    info.sectorsPerCluster = c.spc;
    info.clusterCount = c.clusters;
    const CClusterUseBitMap map(info);
    EXPECT_EQ(map.IsValid(), c.spc != 0) << c.name;
    EXPECT_EQ(map.IsClusterUsed(c.sector), c.used) << c.name;
  }
}

TEST(ClusterUseBitMap, MapWithoutBitsKnowsNothing) {
  CClusterUseBitMapInfo info;
  info.firstSector = 100;
  info.sectorsPerCluster = 8;
  info.clusterCount = 1000;
  const CClusterUseBitMap map(info);
  EXPECT_FALSE(map.IsValid());
  for (uint64_t sector : {0ull, 100ull, 5000ull}) EXPECT_FALSE(map.IsClusterUsed(sector)) << sector;
}

// The map reads the caller's bits as they are when asked, not a copy made at construction.
TEST(ClusterUseBitMap, FollowsTheBitsItWasGiven) {
  std::vector<bool> bits(4, false);
  const CClusterUseBitMap map({&bits, 0, 2, 4});
  EXPECT_FALSE(map.IsClusterUsed(5));
  bits[2] = true;
  EXPECT_TRUE(map.IsClusterUsed(5));
}
