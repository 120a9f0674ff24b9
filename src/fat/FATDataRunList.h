#pragma once
// Where a FAT file's data lies: CFATDataRunList, runs of clusters counted from cluster 2 (run start
// 0 is cluster 2), and the walk that builds it from a directory entry.

#include <cstdint>
#include <memory>
#include <vector>

#include "core/DataRunList.h"

class IFATTable;

class CFATDataRunList : public IDataRunList {
 public:
  int32_t GetKind() const override { return kRunListFat; }
  // Extends the last run when the new one continues it (and the last has a start); otherwise
  // appends the run.
  void AddRun(uint64_t start, uint64_t length);
};

// What a run-list build needs of the volume: its FAT (absent when neither copy could be used), the
// cluster size, the data area and the bits of the clusters that hold file data.
struct FATRunListContext {
  const IFATTable* fat = nullptr;
  uint32_t sectorsPerCluster = 0;
  uint32_t sectorSize = 512;
  // Sectors from the first data cluster to the partition's end; no run may reach past them.
  uint64_t dataSectors = 0;
  // Bit i set = cluster i + 2 holds file data. May be null; runs are marked only inside it.
  std::vector<bool>* usedClusters = nullptr;
};

enum class FATRunListResult {
  Built,    // *out holds the runs
  NoData,   // an empty file: it has no runs and needs none
  Refused,  // no run list can be made (a run would pass the partition's end, no data cluster)
};

// The runs of a file of `size` bytes from `firstCluster`. A deleted file (when there is a FAT) takes
// clusters one by one from its first, passing over those the FAT marks bad, until they hold its size;
// a live file, or any file without a FAT, follows the chain, and where the chain ends early its last
// run is stretched over the bytes still due. A chain that runs back into itself ends there. Every
// cluster of the runs is marked in the context's used-cluster bits.
FATRunListResult BuildFATRunList(const FATRunListContext& context, uint32_t firstCluster, uint64_t size,
                                 bool deleted, std::unique_ptr<CFATDataRunList>* out);
