// Runs of FILE-record sectors: extending a run, sectors met in order and out of order (checked
// against a plain set of sectors), the saved form, and saved lists that are cut or forged.

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <set>
#include <vector>

#include "HandMadeRecords.h"
#include "core/MemoryStateStream.h"
#include "ntfs/NTFSRecordSectorRuns.h"

namespace {

using Runs = std::vector<CNTFSRecordSectorRun>;

CNTFSRecordSectorRunList ListOf(std::initializer_list<int64_t> sectors) {
  CNTFSRecordSectorRunList list;
  for (int64_t s : sectors) EXPECT_TRUE(list.Add(s)) << s;
  return list;
}

// Runs in order, none empty, each after the last record of the one before.
void ExpectOrdered(const CNTFSRecordSectorRunList& list) {
  int64_t previousLast = -1;
  uint64_t records = 0;
  for (const CNTFSRecordSectorRun& run : list.Runs()) {
    ASSERT_GE(run.count, 1);
    ASSERT_GT(run.firstSector, previousLast);
    previousLast = run.GetLastSector();
    records += static_cast<uint64_t>(run.count);
  }
  EXPECT_EQ(records, list.GetRecordCount());
}

}  // namespace

TEST(NtfsRecordSectorRun, ExtendsOnlyByTheNextRecord) {
  const struct {
    int64_t sector;
    bool taken;
  } cases[] = {{1006, true},  {1004, false}, {1008, false}, {1005, false},
               {1007, false}, {1000, false}, {998, false},  {-1, false}};
  for (const auto& c : cases) {
    CNTFSRecordSectorRun run{1000, 3};
    EXPECT_EQ(run.TryExtend(c.sector), c.taken) << c.sector;
    EXPECT_EQ(run.count, c.taken ? 4 : 3) << c.sector;
    EXPECT_EQ(run.firstSector, 1000);
  }
  CNTFSRecordSectorRun run{1000, 3};
  EXPECT_EQ(run.GetLastSector(), 1004);
  EXPECT_TRUE(run.HoldsRecordAt(1002));
  EXPECT_FALSE(run.HoldsRecordAt(1003));
  EXPECT_FALSE(run.HoldsRecordAt(1006));

  // A run not yet started takes nothing; one at the end of the sector range does not wrap.
  CNTFSRecordSectorRun empty;
  EXPECT_FALSE(empty.TryExtend(0));
  EXPECT_FALSE(empty.TryExtend(-1));
  EXPECT_EQ(empty.GetLastSector(), -1);
  const int64_t top = std::numeric_limits<int64_t>::max();
  CNTFSRecordSectorRun high{top - 3, 1};
  EXPECT_TRUE(high.TryExtend(top - 1));
  EXPECT_EQ(high.GetLastSector(), top - 1);
  EXPECT_FALSE(high.TryExtend(top));
}

TEST(NtfsRecordSectorRunList, SectorsInOrderMakeRuns) {
  CNTFSRecordSectorRunList list = ListOf({100, 102, 104, 200, 202, 301, 303, 305, 307});
  EXPECT_EQ(list.Runs(), (Runs{{100, 3}, {200, 2}, {301, 4}}));
  EXPECT_EQ(list.GetRecordCount(), 9u);
  EXPECT_FALSE(list.Add(102));  // held once
  EXPECT_FALSE(list.Add(-2));
  EXPECT_EQ(list.GetRecordCount(), 9u);
  for (int64_t s : {100, 104, 202, 307}) EXPECT_TRUE(list.Contains(s)) << s;
  for (int64_t s : {99, 101, 106, 201, 204, 306, 309, -1}) EXPECT_FALSE(list.Contains(s)) << s;
}

// Sectors met out of order, each row starting from runs (100, 3) (200, 2) (301, 1).
TEST(NtfsRecordSectorRunList, SectorsOutOfOrderTakeTheirPlace) {
  const struct {
    const char* name;
    int64_t sector;
    bool added;
    Runs expected;
  } cases[] = {
      {"held already", 102, false, {{100, 3}, {200, 2}, {301, 1}}},
      {"before the first run, apart", 50, true, {{50, 1}, {100, 3}, {200, 2}, {301, 1}}},
      {"just before the first run", 98, true, {{98, 4}, {200, 2}, {301, 1}}},
      {"after a run", 106, true, {{100, 4}, {200, 2}, {301, 1}}},
      {"between runs, apart", 150, true, {{100, 3}, {150, 1}, {200, 2}, {301, 1}}},
      {"between two records of a run", 101, true, {{100, 1}, {101, 1}, {102, 2}, {200, 2}, {301, 1}}},
      {"before the last record of a run", 103, true, {{100, 2}, {103, 1}, {104, 1}, {200, 2}, {301, 1}}},
      {"just before the next run", 198, true, {{100, 3}, {198, 3}, {301, 1}}},
      {"after the last record of a run, odd", 105, true, {{100, 3}, {105, 1}, {200, 2}, {301, 1}}},
  };
  for (const auto& c : cases) {
    CNTFSRecordSectorRunList list = ListOf({100, 102, 104, 200, 202, 301});
    EXPECT_EQ(list.Add(c.sector), c.added) << c.name;
    EXPECT_EQ(list.Runs(), c.expected) << c.name;
    ExpectOrdered(list);
    EXPECT_TRUE(list.Contains(c.sector)) << c.name;
  }
  // Closing the gap between two runs joins them.
  CNTFSRecordSectorRunList list = ListOf({100, 102, 106, 108});
  EXPECT_TRUE(list.Add(104));
  EXPECT_EQ(list.Runs(), (Runs{{100, 5}}));
}

// Whatever the order, the runs hold exactly the sectors added, in order, once each.
TEST(NtfsRecordSectorRunList, AnyOrderHoldsExactlyTheSectorsAdded) {
  std::mt19937 rng(1000);
  for (int round = 0; round < 200; ++round) {
    CNTFSRecordSectorRunList list;
    std::set<int64_t> model;
    const int adds = 1 + static_cast<int>(rng() % 300);
    for (int i = 0; i < adds; ++i) {
      // Mostly rising, as a scan goes, with jumps back and both parities.
      const int64_t s = rng() % 4 == 0
                            ? static_cast<int64_t>(rng() % 600)
                            : (model.empty() ? 0 : *model.rbegin()) + 1 + static_cast<int64_t>(rng() % 3);
      EXPECT_EQ(list.Add(s), model.insert(s).second) << s;
    }
    ExpectOrdered(list);
    EXPECT_EQ(list.GetRecordCount(), model.size());
    const int64_t top = *model.rbegin() + 4;
    for (int64_t s = 0; s <= top; ++s) {
      ASSERT_EQ(list.Contains(s), model.count(s) == 1) << "round " << round << " sector " << s;
      size_t index;
      int64_t found;
      auto next = model.lower_bound(s);
      ASSERT_EQ(list.FindFirstRecordAtOrAfter(s, index, found), next != model.end()) << s;
      if (next != model.end()) {
        EXPECT_EQ(found, *next) << s;
        EXPECT_TRUE(list.Runs()[index].HoldsRecordAt(found)) << s;
      }
    }
  }
}

TEST(NtfsRecordSectorRunList, SavedFormIsCountThenFirstSectorAndCount) {
  const CNTFSRecordSectorRunList list = ListOf({2048, 2050, 2052, 10001});
  MemoryStateStream s;
  s.BeginSection(TestSection(1));
  list.Save(s);
  std::vector<uint8_t> expected(8 + 2 * 16, 0);
  handmade::Put(expected, 0, 2, 8);
  handmade::Put(expected, 8, 2048, 8);
  handmade::Put(expected, 16, 3, 8);
  handmade::Put(expected, 24, 10001, 8);
  handmade::Put(expected, 32, 1, 8);
  EXPECT_EQ(s.Section(TestSection(1)), expected);

  s.StartReading();
  s.BeginSection(TestSection(1));
  CNTFSRecordSectorRunList back = ListOf({7});
  back.Load(s);
  EXPECT_EQ(back.Runs(), list.Runs());
  EXPECT_EQ(back.GetRecordCount(), 4u);
  EXPECT_TRUE(back.Add(2054));  // goes on as before
  EXPECT_EQ(back.Runs().front(), (CNTFSRecordSectorRun{2048, 4}));
}

TEST(NtfsRecordSectorRunList, ForgedAndCutListsEndInTheStreamException) {
  const CNTFSRecordSectorRunList list = ListOf({2048, 2050, 2052, 10001, 10003});
  MemoryStateStream saved;
  saved.BeginSection(TestSection(1));
  list.Save(saved);
  const std::vector<uint8_t> good = saved.Section(TestSection(1));
  const int64_t top = std::numeric_limits<int64_t>::max();

  const struct {
    const char* name;
    size_t offset;
    int64_t value;
    int32_t code;  // 0: loads
  } cases[] = {
      {"one run more than present", 0, 3, RS_ERROR_SHORT_READ},
      {"count 2^64 - 1", 0, -1, RS_ERROR_SHORT_READ},
      {"fewer runs", 0, 1, 0},
      {"first sector negative", 8, -2, RS_ERROR_BAD_DATA},
      {"no records", 16, 0, RS_ERROR_BAD_DATA},
      {"negative record count", 16, -3, RS_ERROR_BAD_DATA},
      {"last record past 2^63", 16, top / 2, RS_ERROR_BAD_DATA},
      {"second run inside the first", 24, 2052, RS_ERROR_BAD_DATA},
      {"second run before the first", 24, 100, RS_ERROR_BAD_DATA},
      {"second run between records of the first", 24, 2053, 0},
      {"last record at the last sector", 24, top - 2, 0},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = good;
    handmade::Put(bytes, c.offset, static_cast<uint64_t>(c.value), 8);
    MemoryStateStream s;
    s.Section(TestSection(1)) = bytes;
    s.StartReading();
    s.BeginSection(TestSection(1));
    CNTFSRecordSectorRunList target = ListOf({5, 7});
    int32_t code = 0;
    try {
      target.Load(s);
    } catch (const IRSException& e) {
      code = e.GetCode();
    }
    EXPECT_EQ(code, c.code) << c.name;
    if (code != 0) {
      EXPECT_EQ(target.Runs(), (Runs{{5, 2}})) << c.name;
      EXPECT_EQ(target.GetRecordCount(), 2u) << c.name;
    } else {
      ExpectOrdered(target);
    }
  }

  for (size_t cut = 0; cut < good.size(); ++cut) {
    MemoryStateStream s;
    s.Section(TestSection(1)) = std::vector<uint8_t>(good.begin(), good.begin() + cut);
    s.StartReading();
    s.BeginSection(TestSection(1));
    CNTFSRecordSectorRunList target;
    try {
      target.Load(s);
      ADD_FAILURE() << cut << ": loaded";
    } catch (const IRSException& e) {
      EXPECT_EQ(e.GetCode(), RS_ERROR_SHORT_READ) << cut;
    }
    EXPECT_TRUE(target.Runs().empty());
  }
}
