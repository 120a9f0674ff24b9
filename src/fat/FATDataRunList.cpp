#include "fat/FATDataRunList.h"

#include <algorithm>

#include "fat/FATTable.h"
#include "fat/FatChain.h"
#include "platform/Log.h"
#include "storage/CheckedMath.h"

using namespace corvale;
using namespace corvale::fat;

void CFATDataRunList::AddRun(uint64_t start, uint64_t length) {
  auto& runs = MutableRuns();
  if (!runs.empty()) {
    DataRun& last = runs.back();
    if (!last.IsSparse()) {
      const auto end = checkedAdd(last.start, last.length);
      if (end && *end == start) {
        last.length += length;
        return;
      }
    }
  }
  runs.push_back(DataRun{start, length});
}

namespace {

// Whether clusters [index, index + length) of the data area pass the partition's end.
bool PassesEnd(const FATRunListContext& context, uint64_t index, uint64_t length) {
  const auto end = checkedAdd(index, length);
  const auto sectors = end ? checkedMul(*end, context.sectorsPerCluster) : std::nullopt;
  return !sectors || *sectors > context.dataSectors;
}

void MarkUsed(const FATRunListContext& context, const CFATDataRunList& list) {
  if (context.usedClusters == nullptr) return;
  std::vector<bool>& bits = *context.usedClusters;
  for (const DataRun& run : list.Runs()) {
    if (run.start >= bits.size()) continue;
    const uint64_t end =
        std::min<uint64_t>(bits.size(), run.start + std::min<uint64_t>(run.length, bits.size()));
    for (uint64_t i = run.start; i < end; ++i) bits[i] = true;
  }
}

FATRunListResult Overflow() {
  LogInfo("File overflows partition!");
  return FATRunListResult::Refused;
}

}  // namespace

FATRunListResult BuildFATRunList(const FATRunListContext& context, uint32_t firstCluster, uint64_t size,
                                 bool deleted, std::unique_ptr<CFATDataRunList>* out) {
  if (out != nullptr) out->reset();
  if (size == 0) return FATRunListResult::NoData;
  if (context.sectorsPerCluster == 0 || context.sectorSize == 0 || firstCluster < 2)
    return FATRunListResult::Refused;
  const uint64_t clusterBytes = static_cast<uint64_t>(context.sectorsPerCluster) * context.sectorSize;
  auto list = std::make_unique<CFATDataRunList>();

  if (deleted && context.fat != nullptr) {
    // The chain of a deleted file is freed; its clusters are taken as they follow each other.
    uint64_t held = 0;
    for (uint64_t index = firstCluster - 2; held < size; ++index) {
      const auto offset = checkedMul(index, context.sectorsPerCluster);
      if (!offset || *offset >= context.dataSectors) break;
      if (index + 2 <= 0xFFFFFFFF &&
          context.fat->GetNextCluster(static_cast<uint32_t>(index + 2)) == kFatBadCluster)
        continue;
      list->AddRun(index, 1);
      held += clusterBytes;
    }
    if (list->GetRunCount() == 0) return FATRunListResult::Refused;
  } else {
    uint64_t runStart = firstCluster - 2;
    uint64_t runLength = 1;
    uint64_t counted = 0;  // bytes of the finished runs
    uint32_t cluster = firstCluster;
    ClusterRangeSet taken;
    taken.Insert(cluster);
    for (;;) {
      const uint32_t next = (!deleted && context.fat != nullptr) ? context.fat->GetNextCluster(cluster) : 0;
      // A chain that comes back to a cluster it holds ends there, as a chain cut short does.
      if (next < 2 || next > kFatBadCluster || taken.Contains(next)) {
        const uint64_t due = size > counted ? size - counted : 0;
        runLength = (due + clusterBytes - 1) / clusterBytes;
        if (PassesEnd(context, runStart, runLength)) return Overflow();
        list->AddRun(runStart, runLength);
        break;
      }
      if (next == static_cast<uint64_t>(cluster) + 1) {
        ++runLength;
      } else {
        if (PassesEnd(context, runStart, runLength)) return Overflow();
        list->AddRun(runStart, runLength);
        counted += runLength * clusterBytes;
        if (counted >= size) break;
        runStart = next - 2;
        runLength = 1;
      }
      taken.Insert(next);
      cluster = next;
    }
  }
  MarkUsed(context, *list);
  if (out != nullptr) *out = std::move(list);
  return FATRunListResult::Built;
}
