#include "core/PartitionCandidateSelection.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "core/SearchedPartitionInfo.h"

namespace {

// A file system whose size differs from the device's by at most this many sectors (16 MiB of
// 512-byte sectors) is taken to fill the whole device.
constexpr int64_t kWholeDeviceSlack = 32768;
// How many of the first picks are brought to the front of the list.
constexpr int kPicksMovedToFront = 4;

int64_t Saturate(__int128 value) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  if (value > kMax) return kMax;
  if (value < kMin) return kMin;
  return static_cast<int64_t>(value);
}

// Counts come from the engines' evidence and, through state files, from disk; a sum past the
// 64-bit range is held at its limit instead of wrapping into a negative score.
int64_t CandidateScore(const CSearchedPartitionInfo& p) {
  return Saturate(static_cast<__int128>(p.GetScore()) + static_cast<__int128>(p.GetFoldersMatch()) * 50 +
                  p.GetFilesMatch());
}

double LogOrSelf(int64_t value) {
  return value < 2 ? static_cast<double>(value) : std::log(static_cast<double>(value));
}

// Takes the candidate at `index` out of the list and puts it in front, with the weight of the
// candidate that stood first. Candidates already first or second stay where they are.
void MoveToFront(SearchedPartitionInfoList& list, size_t index) {
  if (index < 2 || index >= list.size()) return;
  list[index]->SetWeight(list.front()->GetWeight());
  std::rotate(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(index),
              list.begin() + static_cast<std::ptrdiff_t>(index) + 1);
}

size_t PositionOf(const SearchedPartitionInfoList& list, const CSearchedPartitionInfo* p) {
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].get() == p) return i;
  return list.size();
}

bool SpansWholeDevice(int64_t sectorCount, int64_t deviceSectors) {
  const __int128 diff = static_cast<__int128>(sectorCount) - deviceSectors;
  return diff >= -kWholeDeviceSlack && diff <= kWholeDeviceSlack;
}

}  // namespace

SectorRange CandidateRange(const CSearchedPartitionInfo& partition) {
  return {partition.GetPartitionStart(), partition.GetSectorCount()};
}

void ComputePartitionWeights(SearchedPartitionInfoList& list) {
  std::vector<int64_t> scores;
  scores.reserve(list.size());
  int64_t largest = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    scores.push_back(CandidateScore(*list[i]));
    largest = i == 0 ? scores.back() : std::max(largest, scores.back());
  }
  const double divisor = largest < 2 ? 1.0 : std::log(static_cast<double>(largest));
  for (size_t i = 0; i < list.size(); ++i) list[i]->SetWeight(LogOrSelf(scores[i]) / divisor);
}

void SortSearchedPartitions(SearchedPartitionInfoList& list) {
  std::stable_sort(list.begin(), list.end(),
                   [](const auto& a, const auto& b) { return a->GetWeight() > b->GetWeight(); });
}

void SelectPartitionLayout(SearchedPartitionInfoList& list, int64_t deviceSectors) {
  // Free sectors only ever shrink, so a candidate that does not fit when its turn comes will never
  // fit again. Walking the candidates once, heaviest first and the earlier of equal weights first,
  // and taking each that fits therefore picks exactly what repeatedly taking the heaviest fitting
  // candidate would, in n log n instead of n squared.
  std::vector<CSearchedPartitionInfo*> pending;
  pending.reserve(list.size());
  for (const auto& p : list) pending.push_back(p.get());
  std::vector<double> weights;
  weights.reserve(pending.size());
  for (const auto* p : pending) weights.push_back(p->GetWeight());
  std::vector<size_t> order(pending.size());
  std::iota(order.begin(), order.end(), size_t{0});
  // Weights that are not above 0 (NaN included) are never picked; they go last and end the walk.
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const bool pickableA = weights[a] > 0.0;
    const bool pickableB = weights[b] > 0.0;
    if (pickableA != pickableB) return pickableA;
    return pickableA && weights[a] > weights[b];
  });

  CSectorRangeList free(deviceSectors);
  int picks = 0;
  for (size_t index : order) {
    if (!(weights[index] > 0.0)) break;
    CSearchedPartitionInfo* candidate = pending[index];
    const SectorRange range = CandidateRange(*candidate);
    if (!free.Contains(range)) continue;
    candidate->SetChosenMark(1);
    free.Remove(range);
    if (picks < kPicksMovedToFront) MoveToFront(list, PositionOf(list, candidate));
    ++picks;
  }

  for (size_t i = 0; i < list.size(); ++i) {
    if (!SpansWholeDevice(list[i]->GetSectorCount(), deviceSectors)) continue;
    if (i != 0) {
      list[i]->SetWholeDeviceMark(1);
      list[i]->SetChosenMark(1);
      MoveToFront(list, i);
    }
    break;
  }
}
