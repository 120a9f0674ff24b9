#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/PartitionCandidateSelection.h"
#include "core/SearchedPartitionInfo.h"
#include "core/SectorRangeList.h"

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

// ---- Free-range list ----

TEST(SectorRangeList, RemoveFromTheMiddleLeavesBeforeAndAfter) {
  CSectorRangeList list(1000);
  list.Remove({100, 50});
  EXPECT_EQ(list.Entries(), (std::vector<SectorRange>{{0, 100}, {150, 850}}));
}

struct RangeCase {
  std::string name;
  SectorRange removed;
  bool contained;
  std::vector<SectorRange> after;
};

class SectorRangeListCases : public testing::TestWithParam<RangeCase> {};

TEST_P(SectorRangeListCases, ContainsAndRemove) {
  const RangeCase& c = GetParam();
  CSectorRangeList list(1000);
  list.Remove({400, 100});  // {0, 400} and {500, 500}
  EXPECT_EQ(list.Contains(c.removed), c.contained);
  list.Remove(c.removed);
  EXPECT_EQ(list.Entries(), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    SectorRangeList, SectorRangeListCases,
    testing::Values(RangeCase{"AtEntryStart", {0, 100}, true, {{100, 300}, {500, 500}}},
                    RangeCase{"AtEntryEnd", {300, 100}, true, {{0, 300}, {500, 500}}},
                    RangeCase{"WholeEntry", {500, 500}, true, {{0, 400}}},
                    RangeCase{"SecondEntryMiddle", {600, 10}, true, {{0, 400}, {500, 100}, {610, 390}}},
                    RangeCase{"AcrossTheGap", {350, 200}, false, {{0, 400}, {500, 500}}},
                    RangeCase{"InTheGap", {420, 10}, false, {{0, 400}, {500, 500}}},
                    RangeCase{"PastTheEnd", {990, 11}, false, {{0, 400}, {500, 500}}},
                    RangeCase{"NoSectors", {100, 0}, false, {{0, 400}, {500, 500}}},
                    RangeCase{"NegativeCount", {300, -50}, false, {{0, 400}, {500, 500}}},
                    RangeCase{"NegativeStart", {-10, 20}, false, {{0, 400}, {500, 500}}},
                    RangeCase{"EndOverflows", {600, kMax}, false, {{0, 400}, {500, 500}}}),
    [](const auto& info) { return info.param.name; });

TEST(SectorRangeList, DeviceWithoutSectorsHoldsNothing) {
  EXPECT_TRUE(CSectorRangeList(0).Entries().empty());
  EXPECT_FALSE(CSectorRangeList(-5).Contains({0, 1}));
}

// ---- Candidate selection ----

struct Candidate {
  int64_t start;
  int64_t count;
  int64_t score;  // the engine's score; files and folders match stay 0 unless given
  int64_t files = 0;
  int64_t folders = 0;
};

SearchedPartitionInfoList MakeList(const std::vector<Candidate>& candidates) {
  SearchedPartitionInfoList list;
  for (const Candidate& c : candidates) {
    auto p = std::make_unique<CSearchedPartitionInfo>(512);
    p->SetPartitionStart(c.start);
    p->SetStartSector(c.start);
    p->SetSectorCount(c.count);
    p->SetScore(c.score);
    p->SetFilesMatch(c.files);
    p->SetFoldersMatch(c.folders);
    list.push_back(std::move(p));
  }
  return list;
}

// Candidates are named by their index in the input; the result is the list order and the chosen
// and whole-device marks.
struct Outcome {
  std::vector<size_t> order;
  std::vector<size_t> chosen;
  std::vector<size_t> wholeDevice;
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
  auto list = [os](const char* name, const std::vector<size_t>& v) {
    *os << name << "{";
    for (size_t i : v) *os << i << " ";
    *os << "} ";
  };
  list("order", o.order);
  list("chosen", o.chosen);
  list("whole", o.wholeDevice);
}

Outcome Describe(const SearchedPartitionInfoList& list,
                 const std::vector<const CSearchedPartitionInfo*>& input) {
  Outcome o;
  for (const auto& p : list) {
    size_t id = 0;
    while (input[id] != p.get()) ++id;
    o.order.push_back(id);
  }
  for (size_t id = 0; id < input.size(); ++id) {
    if (input[id]->GetChosenMark() == 1) o.chosen.push_back(id);
    if (input[id]->GetWholeDeviceMark() == 1) o.wholeDevice.push_back(id);
  }
  return o;
}

std::vector<const CSearchedPartitionInfo*> Pointers(const SearchedPartitionInfoList& list) {
  std::vector<const CSearchedPartitionInfo*> out;
  for (const auto& p : list) out.push_back(p.get());
  return out;
}

Outcome RunAll(const std::vector<Candidate>& candidates, int64_t deviceSectors) {
  auto list = MakeList(candidates);
  const auto input = Pointers(list);
  ComputePartitionWeights(list);
  SortSearchedPartitions(list);
  SelectPartitionLayout(list, deviceSectors);
  EXPECT_EQ(list.size(), candidates.size()) << "the list is never shortened";
  return Describe(list, input);
}

struct SelectionCase {
  std::string name;
  int64_t deviceSectors;
  std::vector<Candidate> candidates;
  Outcome expected;
};

class PartitionSelectionCases : public testing::TestWithParam<SelectionCase> {};

TEST_P(PartitionSelectionCases, ChoosesExpectedLayout) {
  const SelectionCase& c = GetParam();
  EXPECT_EQ(RunAll(c.candidates, c.deviceSectors), c.expected);
}

constexpr int64_t kDevice = 1000000;

INSTANTIATE_TEST_SUITE_P(
    PartitionSelection, PartitionSelectionCases,
    testing::Values(
        SelectionCase{"EmptyList", kDevice, {}, {}},
        SelectionCase{"SingleCandidateScoreOneIsChosen", kDevice, {{100, 50, 1}}, {{0}, {0}, {}}},
        SelectionCase{"ScoreZeroIsNeverPicked", kDevice, {{100, 50, 0}}, {{0}, {}, {}}},
        SelectionCase{
            "NegativeScoreIsNeverPicked", kDevice, {{100, 50, -7}, {300, 50, 1}}, {{1, 0}, {1}, {}}},
        SelectionCase{
            "EqualWeightsOverlapEarlierWins", kDevice, {{100, 50, 10}, {120, 50, 10}}, {{0, 1}, {0}, {}}},
        SelectionCase{"HeavierOverlappingWins", kDevice, {{100, 50, 10}, {120, 50, 20}}, {{1, 0}, {1}, {}}},
        SelectionCase{"TouchingRangesBothFit", kDevice, {{100, 50, 10}, {150, 50, 10}}, {{0, 1}, {0, 1}, {}}},
        SelectionCase{
            "PastDeviceEndNeverFits", kDevice, {{kDevice - 10, 11, 10}, {0, 5, 2}}, {{0, 1}, {1}, {}}},
        SelectionCase{"EmptyRangeNeverFits", kDevice, {{100, 0, 10}, {200, 5, 2}}, {{0, 1}, {1}, {}}},
        SelectionCase{"NegativeStartNeverFits", kDevice, {{-100, 500, 10}, {200, 5, 2}}, {{0, 1}, {1}, {}}},
        SelectionCase{"OverflowingEndNeverFits", kDevice, {{10, kMax, 10}, {200, 5, 2}}, {{0, 1}, {1}, {}}},
        // Weights after sorting 1.0, 0.9x, ...: the heaviest overlapping ones are skipped, the
        // picks at positions 2 and later come to the front, each taking the front's weight.
        SelectionCase{"EarlyPicksMoveToFront",
                      kDevice,
                      {{0, 100, 1000},
                       {50, 100, 900},
                       {60, 10, 800},
                       {200, 10, 700},
                       {300, 10, 600},
                       {400, 10, 500},
                       {500, 10, 400},
                       {600, 10, 300}},
                      {{5, 4, 3, 0, 1, 2, 6, 7}, {0, 3, 4, 5, 6, 7}, {}}},
        SelectionCase{"WholeDeviceCandidateAtPositionTwoComesFirst",
                      kDevice,
                      {{0, 100, 100}, {200, 100, 50}, {0, kDevice - 32768, 2}},
                      {{2, 0, 1}, {0, 1, 2}, {2}}},
        SelectionCase{"WholeDeviceCandidateAtPositionOneIsMarkedInPlace",
                      kDevice,
                      {{0, 100, 100}, {0, kDevice + 32768, 50}},
                      {{0, 1}, {0, 1}, {1}}},
        SelectionCase{"WholeDeviceCandidateFirstIsLeftAlone",
                      kDevice,
                      {{0, kDevice, 100}, {10, 100, 50}},
                      {{0, 1}, {0}, {}}},
        SelectionCase{"JustOutsideWholeDeviceSlack",
                      kDevice,
                      {{0, 100, 100}, {200, 100, 50}, {0, kDevice - 32769, 2}},
                      {{0, 1, 2}, {0, 1}, {}}},
        SelectionCase{"OnlyFirstWholeDeviceCandidateIsTaken",
                      kDevice,
                      {{0, 100, 100}, {200, 100, 50}, {0, kDevice, 3}, {0, kDevice, 2}},
                      {{2, 0, 1, 3}, {0, 1, 2}, {2}}},
        SelectionCase{"ScoreZeroWholeDeviceStillMarked",
                      kDevice,
                      {{0, 100, 100}, {200, 100, 50}, {0, kDevice, 0}},
                      {{2, 0, 1}, {0, 1, 2}, {2}}}),
    [](const auto& info) { return info.param.name; });

TEST(PartitionWeights, FollowTheLogOfTheScore) {
  // S = score + 50 x folders + files.
  auto list =
      MakeList({{0, 1, 1, 0, 0}, {0, 1, 0, 0, 0}, {0, 1, 2, 0, 0}, {0, 1, 10, 5, 2}, {0, 1, -3, 0, 0}});
  ComputePartitionWeights(list);
  const double d = std::log(115.0);
  EXPECT_DOUBLE_EQ(list[0]->GetWeight(), 1.0 / d);
  EXPECT_DOUBLE_EQ(list[1]->GetWeight(), 0.0);
  EXPECT_DOUBLE_EQ(list[2]->GetWeight(), std::log(2.0) / d);
  EXPECT_DOUBLE_EQ(list[3]->GetWeight(), 1.0);
  EXPECT_DOUBLE_EQ(list[4]->GetWeight(), -3.0 / d);
}

TEST(PartitionWeights, LargestScoreBelowTwoDividesByOne) {
  auto list = MakeList({{0, 1, 1}, {0, 1, 0}});
  ComputePartitionWeights(list);
  EXPECT_DOUBLE_EQ(list[0]->GetWeight(), 1.0);
  EXPECT_DOUBLE_EQ(list[1]->GetWeight(), 0.0);
}

TEST(PartitionWeights, HugeCountsSaturateInsteadOfWrapping) {
  auto list = MakeList({{0, 1, kMax, kMax, kMax}, {0, 1, 5}});
  ComputePartitionWeights(list);
  EXPECT_DOUBLE_EQ(list[0]->GetWeight(), 1.0);
  EXPECT_GT(list[1]->GetWeight(), 0.0);
}

TEST(PartitionSort, StableByWeightHighestFirst) {
  auto list = MakeList({{1, 1, 1}, {2, 1, 1}, {3, 1, 1}, {4, 1, 1}});
  const double weights[] = {0.5, 0.9, 0.5, 0.9};
  for (size_t i = 0; i < 4; ++i) list[i]->SetWeight(weights[i]);
  SortSearchedPartitions(list);
  std::vector<int64_t> starts;
  for (const auto& p : list) starts.push_back(p->GetPartitionStart());
  EXPECT_EQ(starts, (std::vector<int64_t>{2, 4, 1, 3}));
}

TEST(PartitionSelection, RangeIsThePartitionStartNotTheDataArea) {
  // A FAT candidate's start sector is its data area; measured from there its range would run past
  // the device end although the partition itself ends exactly there.
  auto list = MakeList({{900, 100, 5}});
  list[0]->SetStartSector(940);
  ComputePartitionWeights(list);
  SelectPartitionLayout(list, 1000);
  EXPECT_EQ(list[0]->GetChosenMark(), 1);
}

TEST(PartitionSelection, MovedPickTakesTheFrontWeight) {
  auto list = MakeList({{0, 100, 1000}, {50, 100, 900}, {300, 10, 10}});
  ComputePartitionWeights(list);
  SortSearchedPartitions(list);
  SelectPartitionLayout(list, kDevice);
  EXPECT_EQ(list[0]->GetPartitionStart(), 300);
  EXPECT_DOUBLE_EQ(list[0]->GetWeight(), 1.0);
}

// The selection as literally described: repeated scans of a pending list, O(n^2).
void ReferenceSelect(SearchedPartitionInfoList& list, int64_t deviceSectors) {
  std::vector<CSearchedPartitionInfo*> pending;
  for (const auto& p : list) pending.push_back(p.get());
  CSectorRangeList free(deviceSectors);
  int picks = 0;
  while (!pending.empty()) {
    int best = -1;
    for (size_t i = 0; i < pending.size(); ++i) {
      const double w = pending[i]->GetWeight();
      if (!(w > 0.0) || !free.Contains(CandidateRange(*pending[i]))) continue;
      if (best < 0 || w > pending[static_cast<size_t>(best)]->GetWeight()) best = static_cast<int>(i);
    }
    if (best < 0) break;
    CSearchedPartitionInfo* picked = pending[static_cast<size_t>(best)];
    picked->SetChosenMark(1);
    pending.erase(pending.begin() + best);
    free.Remove(CandidateRange(*picked));
    std::erase_if(pending, [&](auto* p) { return !free.Contains(CandidateRange(*p)); });
    if (picks++ < 4) {
      size_t pos = 0;
      while (list[pos].get() != picked) ++pos;
      if (pos >= 2) {
        auto owned = std::move(list[pos]);
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(pos));
        owned->SetWeight(list.front()->GetWeight());
        list.insert(list.begin(), std::move(owned));
      }
    }
  }
  for (size_t i = 0; i < list.size(); ++i) {
    const int64_t diff = list[i]->GetSectorCount() - deviceSectors;
    if (diff < -32768 || diff > 32768) continue;
    if (i != 0) {
      list[i]->SetWholeDeviceMark(1);
      list[i]->SetChosenMark(1);
      if (i >= 2) {
        auto owned = std::move(list[i]);
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        owned->SetWeight(list.front()->GetWeight());
        list.insert(list.begin(), std::move(owned));
      }
    }
    break;
  }
}

TEST(PartitionSelection, RandomCandidateSetsMatchTheReference) {
  std::mt19937_64 rng(2121);
  for (int round = 0; round < 300; ++round) {
    const int64_t device = 1000 + static_cast<int64_t>(rng() % 100000);
    const size_t n = rng() % 60;
    std::vector<Candidate> candidates;
    for (size_t i = 0; i < n; ++i) {
      // Few distinct scores so equal weights are common; some ranges past the end or whole-device.
      const int64_t start = static_cast<int64_t>(rng() % static_cast<uint64_t>(device));
      int64_t count = 1 + static_cast<int64_t>(rng() % static_cast<uint64_t>(device / 4));
      if (rng() % 10 == 0) count = device - start + static_cast<int64_t>(rng() % 3);
      if (rng() % 15 == 0) candidates.push_back({0, device + static_cast<int64_t>(rng() % 100) - 50, 1});
      candidates.push_back({start, count, static_cast<int64_t>(rng() % 6), static_cast<int64_t>(rng() % 3),
                            static_cast<int64_t>(rng() % 2)});
    }
    auto fast = MakeList(candidates);
    auto slow = MakeList(candidates);
    const auto fastIn = Pointers(fast);
    const auto slowIn = Pointers(slow);
    for (auto* l : {&fast, &slow}) {
      ComputePartitionWeights(*l);
      SortSearchedPartitions(*l);
    }
    SelectPartitionLayout(fast, device);
    ReferenceSelect(slow, device);
    const Outcome got = Describe(fast, fastIn);
    ASSERT_EQ(got, Describe(slow, slowIn)) << "round " << round;
    for (size_t i = 0; i < fast.size(); ++i) EXPECT_EQ(fast[i]->GetWeight(), slow[i]->GetWeight());

    // Apart from the whole-device pick, the chosen ranges lie on the device and never overlap.
    CSectorRangeList free(device);
    for (size_t id : got.chosen) {
      if (fastIn[id]->GetWholeDeviceMark() == 1) continue;
      const SectorRange r = CandidateRange(*fastIn[id]);
      ASSERT_TRUE(free.Contains(r)) << "round " << round << " candidate " << id;
      free.Remove(r);
    }
    // The whole-device pick may also have been picked on its weight; it then fits beside the rest.
    for (size_t id : got.wholeDevice) {
      const SectorRange r = CandidateRange(*fastIn[id]);
      if (fastIn[id]->GetWeight() > 0.0 && free.Contains(r)) free.Remove(r);
    }
    // Every candidate left unchosen overlaps a heavier-or-equal earlier pick, weighs nothing or
    // does not fit on the device.
    for (size_t id = 0; id < fastIn.size(); ++id) {
      if (fastIn[id]->GetChosenMark() == 1) continue;
      EXPECT_FALSE(fastIn[id]->GetWeight() > 0.0 && free.Contains(CandidateRange(*fastIn[id])))
          << "round " << round << " candidate " << id << " fits but was not chosen";
    }
  }
}

}  // namespace
