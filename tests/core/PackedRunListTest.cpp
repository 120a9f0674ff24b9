#include <gtest/gtest.h>

#include <vector>

#include "MemoryStateStream.h"
#include "core/MappingPairs.h"
#include "core/NTFSDataRunList.h"
#include "core/PackedRunList.h"
#include "core/StateIo.h"

using namespace corvale;

namespace {

// A run list as the RAW engine makes one: runs appended as found.
class PlainRunList : public IDataRunList {
 public:
  int32_t GetKind() const override { return kRunListRaw; }
};

std::vector<DataRun> RunsOf(IDataRunList& list) {
  std::vector<DataRun> runs;
  for (const DataRun* r = list.GetFirst(); r != nullptr; r = list.GetNext()) runs.push_back(*r);
  return runs;
}

// Runs `load` over a section holding `bytes` and returns the stream exception's code (0 for none).
template <typename Load>
int32_t CodeOfLoading(const std::vector<uint8_t>& bytes, Load load) {
  MemoryStateStream s;
  s.Section(TestSection(1)) = bytes;
  s.StartReading();
  s.BeginSection(TestSection(1));
  try {
    load(s);
  } catch (IRSException& e) {
    return e.GetCode();
  }
  return 0;
}

std::vector<uint8_t> Le32(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

TEST(DataRunList, CursorWalksTheRunsInOrder) {
  PlainRunList list;
  EXPECT_EQ(list.GetFirst(), nullptr);
  EXPECT_TRUE(list.IsEnd());
  list.AppendRun(10, 2);
  list.AppendRun(12, 3);  // adjacent, but kept apart
  const DataRun* first = list.GetFirst();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(*first, (DataRun{10, 2}));
  EXPECT_FALSE(list.IsEnd());
  EXPECT_EQ(*list.GetNext(), (DataRun{12, 3}));
  EXPECT_EQ(list.GetNext(), nullptr);
  EXPECT_TRUE(list.IsEnd());
  EXPECT_EQ(list.GetNext(), nullptr);
  EXPECT_EQ(CDataRun().start, kSparseRunStart);
  EXPECT_EQ(DataRun().start, 0u);
}

TEST(DataRunList, SavesCountAndRunsAndLoadsThemBack) {
  CResidentNTFSDataRunList resident;
  resident.SetRun(0x1234, 1, 0x98);
  MemoryStateStream s;
  s.BeginSection(TestSection(1));
  resident.Save(s);
  s.EndSection();
  const std::vector<uint8_t> expected = {1, 0, 0, 0, 0x34, 0x12, 0, 0, 0,    0, 0, 0,
                                         1, 0, 0, 0, 0,    0,    0, 0, 0x98, 0, 0, 0};
  EXPECT_EQ(s.Section(TestSection(1)), expected);

  s.StartReading();
  s.BeginSection(TestSection(1));
  CResidentNTFSDataRunList back;
  back.Load(s);
  EXPECT_EQ(RunsOf(back), RunsOf(resident));
  EXPECT_EQ(back.GetResidentValue(), 0x98u);
  EXPECT_TRUE(back.IsResident());
  EXPECT_EQ(back.GetKind(), kRunListNtfsResident);
}

TEST(DataRunList, ForgedRunCountEndsInShortRead) {
  // Two runs present, four billion announced: the loader must stop at the section's end.
  std::vector<uint8_t> bytes = Le32(0xFFFFFFFF);
  bytes.resize(bytes.size() + 32, 7);
  PlainRunList list;
  EXPECT_EQ(CodeOfLoading(bytes, [&](IRSData& s) { list.Load(s); }), RS_ERROR_SHORT_READ);
  EXPECT_EQ(list.GetRunCount(), 2u);
}

TEST(PackedRunList, EmptyListPacksToNothing) {
  PlainRunList list;
  EXPECT_EQ(CreatePackedRunList(list), nullptr);
}

TEST(PackedRunList, ExpandsAnyEnginesRunsAsNonResidentNtfsList) {
  PlainRunList list;
  list.AppendRun(100, 8);
  list.AppendRun(kSparseRunStart, 16);
  list.AppendRun(50, 4);
  auto packed = CreatePackedRunList(list);
  ASSERT_NE(packed, nullptr);
  EXPECT_EQ(packed->GetResidentValue(), 0);
  EXPECT_EQ(packed->GetBytes().back(), 0);
  auto expanded = packed->CreateDataRunList();
  ASSERT_NE(expanded, nullptr);
  EXPECT_EQ(expanded->GetKind(), kRunListNtfsNonResident);
  EXPECT_FALSE(expanded->IsResident());
  EXPECT_EQ(RunsOf(*expanded), RunsOf(list));
}

TEST(PackedRunList, ResidentDataComesBackResident) {
  CResidentNTFSDataRunList resident;
  resident.SetRun(0xABCDEF, 1, 0x98);
  auto packed = CreatePackedRunList(resident);
  ASSERT_NE(packed, nullptr);
  EXPECT_EQ(packed->GetResidentValue(), 0x98);
  auto expanded = packed->CreateDataRunList();
  ASSERT_NE(expanded, nullptr);
  EXPECT_EQ(expanded->GetKind(), kRunListNtfsResident);
  EXPECT_TRUE(expanded->IsResident());
  EXPECT_EQ(expanded->GetResidentValue(), 0x98u);
  EXPECT_EQ(RunsOf(*expanded), (std::vector<DataRun>{{0xABCDEF, 1}}));
}

TEST(PackedRunList, SavedFormIsLengthBytesAndResidentValue) {
  PlainRunList list;
  list.AppendRun(5, 1);
  auto packed = CreatePackedRunList(list);
  MemoryStateStream s;
  s.BeginSection(TestSection(1));
  SaveRunListTail(s, packed.get());
  SaveRunListTail(s, nullptr);
  s.EndSection();
  // flag 1, length 4 (terminator included), 11 01 05 00, resident value 0; then flag 0.
  const std::vector<uint8_t> expected = {1, 0, 0, 0, 4, 0, 0, 0, 0x11, 1, 5, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(s.Section(TestSection(1)), expected);

  s.StartReading();
  s.BeginSection(TestSection(1));
  auto back = LoadRunListTail(s);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GetBytes(), packed->GetBytes());
  EXPECT_EQ(LoadRunListTail(s), nullptr);
}

// Every damaged saved list ends in the stream's exception: nothing is allocated from the length
// before the bytes arrive, and a string that does not decode is not kept.
TEST(PackedRunList, LoadRefusesDamagedSavedLists) {
  const std::vector<uint8_t> good = {0x11, 1, 5, 0};
  const std::vector<uint8_t> resident = {0, 0};
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    int32_t code;
  } cases[] = {
      {"sound", Cat({Le32(4), good, resident}), 0},
      {"length 0", Cat({Le32(0), resident}), RS_ERROR_BAD_DATA},
      {"length beyond the section", Cat({Le32(0xFFFFFFFF), good, resident}), RS_ERROR_SHORT_READ},
      {"no terminator inside the length", Cat({Le32(3), {0x11, 1, 5}, resident}), RS_ERROR_BAD_DATA},
      {"bytes after the terminator", Cat({Le32(5), good, {0}, resident}), RS_ERROR_BAD_DATA},
      {"run before cluster 0", Cat({Le32(4), {0x11, 1, 0xFF, 0}, resident}), RS_ERROR_BAD_DATA},
      {"field wider than 8 bytes", Cat({Le32(12), {0x19, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, resident}),
       RS_ERROR_BAD_DATA},
      {"resident value cut off", Cat({Le32(4), good, {0}}), RS_ERROR_SHORT_READ},
      {"tail flag neither 0 nor 1", Le32(2), RS_ERROR_BAD_DATA},
  };
  for (const auto& c : cases) {
    const bool tailCase = std::string(c.name).find("tail") != std::string::npos;
    const int32_t code = CodeOfLoading(c.bytes, [&](IRSData& s) {
      if (tailCase)
        LoadRunListTail(s);
      else
        LoadPackedRunList(s);
    });
    EXPECT_EQ(code, c.code) << c.name;
  }
}

TEST(NoneResidentNTFSDataRunList, DamagedStringLeavesNoRuns) {
  CNoneResidentNTFSDataRunList list;
  const uint8_t good[] = {0x11, 2, 9, 0x01, 3, 0};
  ASSERT_TRUE(list.ParseDataRuns(good, sizeof good));
  EXPECT_EQ(RunsOf(list), (std::vector<DataRun>{{9, 2}, {kSparseRunStart, 3}}));
  const uint8_t cut[] = {0x11, 2, 9, 0x21, 3};
  EXPECT_FALSE(list.ParseDataRuns(cut, sizeof cut));
  EXPECT_EQ(list.GetRunCount(), 0u);
}
