#pragma once
// Walking a cluster chain through a FAT. Every walk is bounded: it stops at the chain's end, at a
// free or bad entry, at a cluster outside the data area, at a cluster it has already taken (a chain
// that runs back into itself) and after a caller's maximum.

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

class IFATTable;

namespace corvale::fat {

// Clusters seen so far, kept as ranges: chains are mostly runs of consecutive clusters, so a chain
// of millions of clusters costs a handful of entries.
class ClusterRangeSet {
 public:
  bool Contains(uint32_t cluster) const;
  void Insert(uint32_t cluster);
  size_t RangeCount() const { return m_ranges.size(); }

 private:
  std::map<uint32_t, uint64_t> m_ranges;  // first cluster -> one past the last
};

enum class FatChainEnd {
  EndOfChain,  // the end mark
  Free,        // an entry below 2: the FAT knows nothing more (a deleted file's chain is freed)
  BadCluster,  // the bad-cluster mark
  PastEnd,     // a cluster outside the data area (also a first cluster outside it)
  Loop,        // a cluster the walk has already taken
  TooLong,     // the caller's maximum was reached
};
const char* ToString(FatChainEnd end);

// Appends the clusters of the chain that starts at `first` to *out (the first one included) and says
// why the walk stopped. `clusterCount` is the volume's number of data clusters (numbered 2 to
// clusterCount + 1); at most `maxClusters` clusters are taken.
FatChainEnd FollowFATChain(const IFATTable& fat, uint32_t first, uint32_t clusterCount, size_t maxClusters,
                           std::vector<uint32_t>* out);

}  // namespace corvale::fat
