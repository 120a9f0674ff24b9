#include "fat/FatChain.h"

#include "fat/FATTable.h"

namespace corvale::fat {

bool ClusterRangeSet::Contains(uint32_t cluster) const {
  auto it = m_ranges.upper_bound(cluster);
  if (it == m_ranges.begin()) return false;
  --it;
  return cluster < it->second;
}

void ClusterRangeSet::Insert(uint32_t cluster) {
  if (Contains(cluster)) return;
  auto after = m_ranges.upper_bound(cluster);
  const bool joinsAfter = after != m_ranges.end() && after->first == static_cast<uint64_t>(cluster) + 1;
  if (after != m_ranges.begin()) {
    auto before = std::prev(after);
    if (before->second == cluster) {
      before->second = joinsAfter ? after->second : static_cast<uint64_t>(cluster) + 1;
      if (joinsAfter) m_ranges.erase(after);
      return;
    }
  }
  if (joinsAfter) {
    const uint64_t end = after->second;
    m_ranges.erase(after);
    m_ranges.emplace(cluster, end);
  } else {
    m_ranges.emplace(cluster, static_cast<uint64_t>(cluster) + 1);
  }
}

const char* ToString(FatChainEnd end) {
  switch (end) {
    case FatChainEnd::EndOfChain:
      return "end of chain";
    case FatChainEnd::Free:
      return "free entry";
    case FatChainEnd::BadCluster:
      return "bad cluster";
    case FatChainEnd::PastEnd:
      return "cluster outside the data area";
    case FatChainEnd::Loop:
      return "cluster already in the chain";
    case FatChainEnd::TooLong:
      return "longer than allowed";
  }
  return "?";
}

FatChainEnd FollowFATChain(const IFATTable& fat, uint32_t first, uint32_t clusterCount, size_t maxClusters,
                           std::vector<uint32_t>* out) {
  const auto inData = [clusterCount](uint32_t c) { return c >= 2 && c - 2 < clusterCount; };
  if (first < 2) return FatChainEnd::Free;
  if (!inData(first)) return FatChainEnd::PastEnd;
  ClusterRangeSet taken;
  size_t count = 0;
  uint32_t cluster = first;
  for (;;) {
    if (count >= maxClusters) return FatChainEnd::TooLong;
    taken.Insert(cluster);
    if (out != nullptr) out->push_back(cluster);
    ++count;
    const uint32_t next = fat.GetNextCluster(cluster);
    if (next >= kFatEndOfChain) return FatChainEnd::EndOfChain;
    if (next == kFatBadCluster) return FatChainEnd::BadCluster;
    if (next < 2) return FatChainEnd::Free;
    if (!inData(next)) return FatChainEnd::PastEnd;
    if (taken.Contains(next)) return FatChainEnd::Loop;
    cluster = next;
  }
}

}  // namespace corvale::fat
