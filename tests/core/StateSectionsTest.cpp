// The found-partition, search-controller and lost-partition sections of a state file: what they
// hold byte for byte, that they read back, and that a damaged section (cut anywhere, a lying count,
// an unknown kind) is refused with the stream's exception and leaves the caller's list untouched.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "core/MemoryStateStream.h"
#include "core/RSException.h"
#include "core/SearchedPartitionInfo.h"
#include "core/StateIo.h"
#include "core/StateSections.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/MemoryDevice.h"

using namespace corvale;

namespace {

// A controller whose evidence is a length-prefixed list of numbers, as the engines' are.
class CountingController : public IFileSystemSearchController {
 public:
  explicit CountingController(int32_t kind) : m_kind(kind) {}
  void SetStorageDevice(IStorageDevice*) override {}
  void SetSectorsPerRead(int32_t) override {}
  void BeginSearch() override {}
  int32_t AnalyzeBlock(int64_t, int64_t, IntelligentSearchSummary*) override { return 0; }
  void GetResults(SearchedPartitionInfoList*) override {}
  void SetResultSink(CRawFileInfoList*) override {}
  void SaveState(IRSData& writer) override {
    WriteU32(writer, static_cast<uint32_t>(Evidence.size()));
    for (uint64_t v : Evidence) WriteU64(writer, v);
  }
  void LoadState(IRSData& reader) override {
    Evidence.clear();
    const uint32_t n = ReadU32(reader);
    for (uint32_t i = 0; i < n; ++i) Evidence.push_back(ReadU64(reader));
  }
  int32_t GetKind() override { return m_kind; }

  std::vector<uint64_t> Evidence;

 private:
  int32_t m_kind;
};

std::unique_ptr<IFileSystemSearchController> MakeKnown(int32_t kind) {
  if (kind == SEARCH_CONTROLLER_NTFS || kind == SEARCH_CONTROLLER_FAT || kind == SEARCH_CONTROLLER_EXT2)
    return std::make_unique<CountingController>(kind);
  return nullptr;
}

std::unique_ptr<CSearchedPartitionInfo> Partition(int32_t type, int64_t start, int64_t count) {
  auto info = CreateSearchedPartitionInfo(kPartitionInfoBase);
  info->SetFileSystemType(type);
  info->SetStartSector(start);
  info->SetSectorCount(count);
  info->SetSectorSize(4096);
  info->SetScore(start * 3);
  info->SetWeight(0.5);
  info->SetChosenMark(1);
  return info;
}

// Replays `bytes` as the section `guid` and hands the stream to `load`; the code thrown, or 0.
int32_t LoadCode(const RSGuid& guid, const std::vector<uint8_t>& bytes,
                 const std::function<void(IRSData&)>& load) {
  MemoryStateStream stream;
  stream.Section(guid) = bytes;
  stream.StartReading();
  try {
    load(stream);
  } catch (IRSException& e) {
    return e.GetCode();
  }
  return 0;
}

std::vector<uint8_t> SavedPartitions() {
  SearchedPartitionInfoList list;
  list.push_back(Partition(3, 2048, 100000));
  list.push_back(Partition(1, 200000, 5000));
  MemoryStateStream stream;
  EXPECT_TRUE(SaveSearchedPartitionInfoList(stream, list));
  return stream.Section(kSearchedPartitionListSection);
}

}  // namespace

TEST(StateSections, GuidsAreStoredInTheirBinaryForm) {
  const uint8_t partitions[16] = {0x72, 0xEB, 0x32, 0x93, 0x7D, 0x88, 0x45, 0x41,
                                  0x93, 0x7D, 0xC3, 0xC9, 0x18, 0xEA, 0x09, 0xFE};
  EXPECT_EQ(0, std::memcmp(kSearchedPartitionListSection.bytes.data(), partitions, 16));
  EXPECT_EQ(kSearchControllerListSection.bytes[0], 0x94);
  EXPECT_EQ(kSearchControllerListSection.bytes[15], 0x75);
  EXPECT_EQ(kPartitionInfoListSection.bytes[0], 0x25);
  EXPECT_EQ(kPartitionInfoListSection.bytes[15], 0xDB);
}

TEST(StateSections, FoundPartitionsReadBackWithCountKindAndSavedForm) {
  const std::vector<uint8_t> bytes = SavedPartitions();
  ASSERT_EQ(bytes.size(), 8u + 2 * (4 + CSearchedPartitionInfo::kSavedSize));
  EXPECT_EQ(bytes[0], 2);
  EXPECT_EQ(bytes[8], kPartitionInfoBase);

  SearchedPartitionInfoList back;
  EXPECT_EQ(0, LoadCode(kSearchedPartitionListSection, bytes,
                        [&](IRSData& s) { EXPECT_TRUE(LoadSearchedPartitionInfoList(s, &back)); }));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0]->GetFileSystemType(), 3);
  EXPECT_EQ(back[0]->GetStartSector(), 2048);
  EXPECT_EQ(back[0]->GetSectorCount(), 100000);
  EXPECT_EQ(back[0]->GetSectorSize(), 4096u);
  EXPECT_EQ(back[1]->GetStartSector(), 200000);
  EXPECT_EQ(back[1]->GetScore(), 600000);
}

TEST(StateSections, MissingSectionsAreNotErrors) {
  MemoryStateStream stream;
  stream.StartReading();
  SearchedPartitionInfoList partitions;
  SearchControllerList controllers;
  LostPartitionList lost;
  EXPECT_FALSE(LoadSearchedPartitionInfoList(stream, &partitions));
  EXPECT_FALSE(LoadFileSystemSearchControllerList(stream, MakeKnown, &controllers));
  EXPECT_FALSE(LoadPartitionInfoList(stream, nullptr, &lost));
}

TEST(StateSections, DamagedFoundPartitionListChangesNothing) {
  const std::vector<uint8_t> good = SavedPartitions();
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> change;
    int32_t code;
  };
  const Case cases[] = {
      {"count one too many", [](auto& b) { b[0] = 3; }, RS_ERROR_SHORT_READ},
      {"count of 2^64-1", [](auto& b) { std::fill(b.begin(), b.begin() + 8, 0xFF); }, RS_ERROR_SHORT_READ},
      {"count one too few", [](auto& b) { b[0] = 1; }, RS_ERROR_BAD_DATA},
      {"unknown kind", [](auto& b) { b[8] = 9; }, RS_ERROR_BAD_DATA},
      {"kind with no registered reader", [](auto& b) { b[8] = 77; }, RS_ERROR_BAD_DATA},
      {"file-system type out of range", [](auto& b) { b[12] = 42; }, RS_ERROR_BAD_DATA},
      {"one byte too many", [](auto& b) { b.push_back(0); }, RS_ERROR_BAD_DATA},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = good;
    c.change(bytes);
    SearchedPartitionInfoList kept;
    kept.push_back(Partition(0, 1, 1));
    EXPECT_EQ(c.code, LoadCode(kSearchedPartitionListSection, bytes,
                               [&](IRSData& s) { LoadSearchedPartitionInfoList(s, &kept); }))
        << c.name;
    ASSERT_EQ(kept.size(), 1u) << c.name;
    EXPECT_EQ(kept[0]->GetStartSector(), 1) << c.name;
  }
  for (size_t cut = 0; cut < good.size(); ++cut) {
    SearchedPartitionInfoList kept;
    EXPECT_EQ(RS_ERROR_SHORT_READ,
              LoadCode(kSearchedPartitionListSection, std::vector<uint8_t>(good.begin(), good.begin() + cut),
                       [&](IRSData& s) { LoadSearchedPartitionInfoList(s, &kept); }))
        << cut;
    EXPECT_TRUE(kept.empty());
  }
}

TEST(StateSections, ControllersAreRestoredByKindWithTheirEvidence) {
  CountingController ntfs(SEARCH_CONTROLLER_NTFS), ext2(SEARCH_CONTROLLER_EXT2);
  ntfs.Evidence = {7, 8, 9};
  ext2.Evidence = {};
  MemoryStateStream stream;
  ASSERT_TRUE(SaveFileSystemSearchControllerList(stream, {&ntfs, &ext2}));
  const std::vector<uint8_t> good = stream.Section(kSearchControllerListSection);
  ASSERT_EQ(good.size(), 8u + (4 + 4 + 24) + (4 + 4));
  EXPECT_EQ(good[8], SEARCH_CONTROLLER_NTFS);
  EXPECT_EQ(good[8 + 32], SEARCH_CONTROLLER_EXT2);

  SearchControllerList back;
  EXPECT_EQ(0, LoadCode(kSearchControllerListSection, good, [&](IRSData& s) {
              EXPECT_TRUE(LoadFileSystemSearchControllerList(s, MakeKnown, &back));
            }));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0]->GetKind(), SEARCH_CONTROLLER_NTFS);
  EXPECT_EQ(static_cast<CountingController&>(*back[0]).Evidence, (std::vector<uint64_t>{7, 8, 9}));
  EXPECT_EQ(back[1]->GetKind(), SEARCH_CONTROLLER_EXT2);

  // A kind the caller does not run (RAW here) or no kind at all cannot be skipped: its length is
  // unknown. A lying count or a cut section ends in an exception too, and nothing is handed over.
  std::vector<uint8_t> raw = good;
  raw[8] = SEARCH_CONTROLLER_RAW;
  std::vector<uint8_t> unknown = good;
  unknown[8] = 200;
  std::vector<uint8_t> tooMany = good;
  tooMany[0] = 3;
  for (const auto& [bytes, code] : {std::pair{raw, RS_ERROR_BAD_DATA}, std::pair{unknown, RS_ERROR_BAD_DATA},
                                    std::pair{tooMany, RS_ERROR_SHORT_READ}}) {
    SearchControllerList kept;
    EXPECT_EQ(code, LoadCode(kSearchControllerListSection, bytes,
                             [&](IRSData& s) { LoadFileSystemSearchControllerList(s, MakeKnown, &kept); }));
    EXPECT_TRUE(kept.empty());
  }
  for (size_t cut = 0; cut < good.size(); ++cut) {
    SearchControllerList kept;
    EXPECT_EQ(RS_ERROR_SHORT_READ,
              LoadCode(kSearchControllerListSection, std::vector<uint8_t>(good.begin(), good.begin() + cut),
                       [&](IRSData& s) { LoadFileSystemSearchControllerList(s, MakeKnown, &kept); }))
        << cut;
    EXPECT_TRUE(kept.empty());
  }
}

TEST(StateSections, LostPartitionListKeepsFortyLabelBytesAndGetsWindowsOverTheDevice) {
  MemoryDevice disk(std::vector<uint8_t>(512 * 1000));
  std::vector<CLostPartitionRecord> records(2);
  records[0].StartSector = 63;
  records[0].SectorCount = 500;
  records[0].FileSystemType = 3;
  std::memset(records[0].Label, 'L', 60);
  CBasicPartitionDevice window0(&disk, 63, 500);
  records[0].Device = &window0;
  records[1].StartSector = 600;
  records[1].SectorCount = 400;
  records[1].FileSystemType = 4;
  std::strcpy(records[1].Label, "data");
  CBasicPartitionDevice window1(&disk, 600, 400);
  records[1].Device = &window1;

  MemoryStateStream stream;
  ASSERT_TRUE(SavePartitionInfoList(stream, records, 1));
  const std::vector<uint8_t> good = stream.Section(kPartitionInfoListSection);
  ASSERT_EQ(good.size(), 4u + 2 * (8 + 8 + 40 + 4 + 8 + 8) + 4);

  LostPartitionList back;
  EXPECT_EQ(0, LoadCode(kPartitionInfoListSection, good,
                        [&](IRSData& s) { EXPECT_TRUE(LoadPartitionInfoList(s, &disk, &back)); }));
  ASSERT_EQ(back.Records.size(), 2u);
  EXPECT_EQ(back.Current, 1);
  EXPECT_EQ(std::strlen(back.Records[0].Label), 40u);
  EXPECT_STREQ(back.Records[1].Label, "data");
  EXPECT_EQ(back.Records[1].FileSystemType, 4);
  auto* w = dynamic_cast<CBasicPartitionDevice*>(back.Records[1].Device);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->GetStartSector(), 600u);
  EXPECT_EQ(w->GetSectorCount(), 400);

  // The current index: -1, or any index at or beyond the count, leaves none current.
  const size_t currentAt = good.size() - 4;
  for (uint32_t current : {0xFFFFFFFFu, 2u, 0x7FFFFFFFu}) {
    std::vector<uint8_t> bytes = good;
    for (int i = 0; i < 4; ++i) bytes[currentAt + i] = static_cast<uint8_t>(current >> (8 * i));
    LostPartitionList list;
    EXPECT_EQ(0, LoadCode(kPartitionInfoListSection, bytes,
                          [&](IRSData& s) { LoadPartitionInfoList(s, &disk, &list); }));
    EXPECT_EQ(list.Current, -1) << current;
  }

  // A window past the device's end (a list saved for a bigger disk), a lying count, an unknown
  // file-system type or a cut anywhere: refused, and the caller's list is kept.
  const size_t entry1 = 4 + 76;
  std::vector<uint8_t> pastEnd = good;
  pastEnd[entry1 + 60 + 8] = 0xE9;  // window length 1001 + ...
  pastEnd[entry1 + 60 + 9] = 0x03;
  std::vector<uint8_t> hugeStart = good;
  std::fill(hugeStart.begin() + entry1 + 60, hugeStart.begin() + entry1 + 68, 0xFF);
  std::vector<uint8_t> tooMany = good;
  tooMany[0] = 0xFF;
  tooMany[1] = 0xFF;
  std::vector<uint8_t> badType = good;
  badType[entry1 + 56] = 8;
  for (const auto& [bytes, code] :
       {std::pair{pastEnd, RS_ERROR_BAD_DATA}, std::pair{hugeStart, RS_ERROR_BAD_DATA},
        std::pair{tooMany, RS_ERROR_SHORT_READ}, std::pair{badType, RS_ERROR_BAD_DATA}}) {
    LostPartitionList kept;
    kept.Current = 5;
    EXPECT_EQ(code, LoadCode(kPartitionInfoListSection, bytes,
                             [&](IRSData& s) { LoadPartitionInfoList(s, &disk, &kept); }));
    EXPECT_TRUE(kept.Records.empty());
    EXPECT_EQ(kept.Current, 5);
  }
  for (size_t cut = 0; cut < good.size(); ++cut) {
    LostPartitionList kept;
    EXPECT_EQ(RS_ERROR_SHORT_READ,
              LoadCode(kPartitionInfoListSection, std::vector<uint8_t>(good.begin(), good.begin() + cut),
                       [&](IRSData& s) { LoadPartitionInfoList(s, &disk, &kept); }))
        << cut;
    EXPECT_TRUE(kept.Records.empty());
  }
}
