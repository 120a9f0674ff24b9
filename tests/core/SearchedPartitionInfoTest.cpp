#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "MemoryStateStream.h"
#include "core/RSDataEx.h"
#include "core/SearchedPartitionInfo.h"
#include "core/StateIo.h"
#include "support/Fixtures.h"

using namespace corvale;

namespace {

// An engine's kind as the tests need one: the base record, an evidence word and a label whose
// length comes first. Registered under the FAT kind while a test holds a TestKindScope.
class TestFatPartitionInfo : public CSearchedPartitionInfo {
 public:
  static constexpr size_t kMaxLabel = 100;
  TestFatPartitionInfo() : CSearchedPartitionInfo(kDefaultSectorSize) {}
  int32_t GetInfoType() const override { return kPartitionInfoFat; }
  bool Save(IRSData& writer) const override {
    CSearchedPartitionInfo::Save(writer);
    WriteU32(writer, evidence);
    WriteU32(writer, static_cast<uint32_t>(label.size()));
    writer.Write(label.data(), label.size());
    return true;
  }
  bool Load(IRSData& reader) override {
    CSearchedPartitionInfo::Load(reader);
    evidence = ReadU32(reader);
    label = ReadText(reader, ReadU32(reader), kMaxLabel);
    return true;
  }
  uint32_t evidence = 0;
  std::string label;
};

CSearchedPartitionInfo* MakeTestFat() { return new TestFatPartitionInfo(); }

struct TestKindScope {
  TestKindScope() { RegisterSearchedPartitionInfoFactory(kPartitionInfoFat, &MakeTestFat); }
  ~TestKindScope() { RegisterSearchedPartitionInfoFactory(kPartitionInfoFat, nullptr); }
};

// Every field set to a value unlike its default and unlike its neighbours.
void Fill(CSearchedPartitionInfo& p, int64_t seed) {
  p.SetFileSystemType(static_cast<int32_t>(seed % 6));
  p.SetSectorsPerCluster(static_cast<uint8_t>(8 + seed));
  p.SetStartSector(0x10000000000 + seed);
  p.SetPartitionStart(2048 + seed);
  p.SetFilesMatch(300 + seed);
  p.SetFoldersMatch(40 + seed);
  p.SetWholeDeviceMark(1);
  p.SetSectorCount(1953525168 - seed);
  p.SetScore(-5 - seed);
  p.SetWeight(0.25 + 0.125 * static_cast<double>(seed));
  p.SetChosenMark(1);
  p.SetSectorSize(4096);
}

std::string Describe(const CSearchedPartitionInfo& p) {
  std::string out =
      std::to_string(p.GetInfoType()) + " type=" + std::to_string(p.GetFileSystemType()) +
      " spc=" + std::to_string(p.GetSectorsPerCluster()) + " start=" + std::to_string(p.GetStartSector()) +
      " pstart=" + std::to_string(p.GetPartitionStart()) + " files=" + std::to_string(p.GetFilesMatch()) +
      " folders=" + std::to_string(p.GetFoldersMatch()) + " whole=" + std::to_string(p.GetWholeDeviceMark()) +
      " count=" + std::to_string(p.GetSectorCount()) + " score=" + std::to_string(p.GetScore()) +
      " weight=" + std::to_string(p.GetWeight()) + " chosen=" + std::to_string(p.GetChosenMark()) +
      " ss=" + std::to_string(p.GetSectorSize());
  if (const auto* fat = dynamic_cast<const TestFatPartitionInfo*>(&p))
    out += " evidence=" + std::to_string(fat->evidence) + " label=" + fat->label;
  return out;
}

std::vector<uint8_t> SaveRecord(const CSearchedPartitionInfo& p) {
  MemoryStateStream s;
  const RSGuid g = TestSection(1);
  s.BeginSection(g);
  SaveSearchedPartitionInfoRecord(s, p);
  return s.Section(g);
}

// Loads one record; the stream exception's code goes to *code (0 when none).
std::unique_ptr<CSearchedPartitionInfo> LoadRecord(const std::vector<uint8_t>& bytes, int32_t* code) {
  MemoryStateStream s;
  const RSGuid g = TestSection(1);
  s.Section(g) = bytes;
  s.StartReading();
  s.BeginSection(g);
  *code = 0;
  try {
    return LoadSearchedPartitionInfoRecord(s);
  } catch (IRSException& e) {
    *code = e.GetCode();
    return nullptr;
  }
}

template <typename T>
void PutLE(std::vector<uint8_t>& bytes, size_t offset, T value) {
  for (size_t i = 0; i < sizeof(T); ++i)
    bytes[offset + i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

// Offsets inside a saved record: the kind comes first, the object's 73 bytes after it.
constexpr size_t kBase = 4;

}  // namespace

TEST(SearchedPartitionInfo, NewObjectHasTheDefaults) {
  CSearchedPartitionInfo p(512);
  EXPECT_EQ(p.GetInfoType(), kPartitionInfoBase);
  EXPECT_EQ(p.GetFileSystemType(), 7);
  EXPECT_EQ(p.GetSectorsPerCluster(), 0);
  EXPECT_EQ(p.GetStartSector(), 0);
  EXPECT_EQ(p.GetPartitionStart(), 0);
  EXPECT_EQ(p.GetFilesMatch(), 0);
  EXPECT_EQ(p.GetFoldersMatch(), 0);
  EXPECT_EQ(p.GetWholeDeviceMark(), 0);
  EXPECT_EQ(p.GetSectorCount(), 0);
  EXPECT_EQ(p.GetScore(), 1);
  EXPECT_EQ(p.GetWeight(), 0.0);
  EXPECT_EQ(p.GetChosenMark(), 0);
}

TEST(SearchedPartitionInfo, SectorSizeRule) {
  const struct {
    uint32_t given, kept;
  } cases[] = {{0, 512},     {520, 512},     {511, 512},         {512, 512},        {1024, 1024},
               {4096, 4096}, {65536, 65536}, {65536 + 512, 512}, {0xFFFFFE00, 512}, {0xFFFFFFFF, 512}};
  for (const auto& c : cases) {
    EXPECT_EQ(CSearchedPartitionInfo(c.given).GetSectorSize(), c.kept) << c.given;
    CSearchedPartitionInfo p(4096);
    p.SetSectorSize(c.given);
    EXPECT_EQ(p.GetSectorSize(), c.kept) << c.given;
  }
}

// The saved form field by field, little-endian, 73 bytes after the 4-byte kind.
TEST(SearchedPartitionInfo, SavedFormIsSeventyThreeBytesInFieldOrder) {
  CSearchedPartitionInfo p(4096);
  Fill(p, 1);
  const std::vector<uint8_t> bytes = SaveRecord(p);
  ASSERT_EQ(bytes.size(), 4 + CSearchedPartitionInfo::kSavedSize);
  std::vector<uint8_t> expected(bytes.size(), 0);
  PutLE<int32_t>(expected, 0, kPartitionInfoBase);
  PutLE<int32_t>(expected, kBase + 0, 1);
  PutLE<uint8_t>(expected, kBase + 4, 9);
  PutLE<int64_t>(expected, kBase + 5, 0x10000000001);
  PutLE<int64_t>(expected, kBase + 13, 2049);
  PutLE<int64_t>(expected, kBase + 21, 301);
  PutLE<int64_t>(expected, kBase + 29, 41);
  PutLE<int32_t>(expected, kBase + 37, 1);
  PutLE<int64_t>(expected, kBase + 41, 1953525167);
  PutLE<int64_t>(expected, kBase + 49, -6);
  PutLE<uint64_t>(expected, kBase + 57, std::bit_cast<uint64_t>(0.375));
  PutLE<int32_t>(expected, kBase + 65, 1);
  PutLE<uint32_t>(expected, kBase + 69, 4096);
  EXPECT_EQ(bytes, expected);
}

TEST(SearchedPartitionInfo, FactoriesTakeOnlyTheEngineKinds) {
  EXPECT_NE(CreateSearchedPartitionInfo(kPartitionInfoBase), nullptr);
  EXPECT_EQ(CreateSearchedPartitionInfo(kPartitionInfoBase)->GetSectorSize(), 512u);
  for (int32_t kind :
       std::initializer_list<int32_t>{kPartitionInfoNtfs, kPartitionInfoFat, kPartitionInfoExt2, 4, -1})
    EXPECT_EQ(CreateSearchedPartitionInfo(kind), nullptr) << kind;
  // Core's own kind cannot be replaced, and no kind beyond the engines' can be added.
  for (int32_t kind : std::initializer_list<int32_t>{kPartitionInfoBase, 4, -1, 1000})
    EXPECT_FALSE(RegisterSearchedPartitionInfoFactory(kind, &MakeTestFat)) << kind;
  {
    TestKindScope engine;
    auto made = CreateSearchedPartitionInfo(kPartitionInfoFat);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->GetInfoType(), kPartitionInfoFat);
    EXPECT_EQ(CreateSearchedPartitionInfo(kPartitionInfoNtfs), nullptr);
  }
  EXPECT_EQ(CreateSearchedPartitionInfo(kPartitionInfoFat), nullptr);
}

// The way a saved scan goes: a list of found partitions of several kinds in a compressed state
// file on disk, written and read back equal.
TEST(SearchedPartitionInfo, ListRoundTripsThroughAStateFile) {
  TestKindScope engine;
  std::vector<std::unique_ptr<CSearchedPartitionInfo>> list;
  for (int i = 0; i < 40; ++i) {
    std::unique_ptr<CSearchedPartitionInfo> p;
    if (i % 2 == 0) {
      auto fat = std::make_unique<TestFatPartitionInfo>();
      fat->evidence = 0x2A0 + i;
      fat->label = "Volume " + std::to_string(i);
      p = std::move(fat);
    } else {
      p = std::make_unique<CSearchedPartitionInfo>(i % 3 == 0 ? 4096 : 512);
    }
    if (i > 1) Fill(*p, i);  // the first two keep their defaults
    list.push_back(std::move(p));
  }
  list[3]->SetStartSector(-1);  // values an engine may leave "not known" come back as they were
  list[3]->SetSectorCount(std::numeric_limits<int64_t>::max());

  const std::string path = test::ScratchDir() + "/cstemp.rdf";
  const RSGuid section = TestSection(7);
  {
    CRSDataEx writer(RS_MODE_WRITE);
    ASSERT_TRUE(writer.Open(path, 1));
    uint8_t header[132] = {};
    std::memcpy(header, kRSMarker.bytes.data(), 16);
    writer.WriteHeader(header);
    ASSERT_TRUE(writer.BeginSection(section));
    WriteU64(writer, list.size());
    for (const auto& p : list) SaveSearchedPartitionInfoRecord(writer, *p);
    writer.EndSection();
    writer.SetStatus(1);
    writer.Close();
  }
  CRSDataEx reader(RS_MODE_READ);
  ASSERT_TRUE(reader.Open(path, 0));
  ASSERT_TRUE(reader.IsValidFile());
  ASSERT_TRUE(reader.BeginSection(section));
  ASSERT_EQ(ReadU64(reader), list.size());
  for (const auto& p : list) {
    auto back = LoadSearchedPartitionInfoRecord(reader);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(Describe(*back), Describe(*p));
  }
  uint8_t extra;
  EXPECT_EQ(reader.Read(&extra, 1), 0u);
  reader.EndSection();
  reader.Close();
}

// Values no writer of ours produces: refused as bad data, or, for the sector size, put through
// the same rule as a new object's, since buffers are later sized by it.
TEST(SearchedPartitionInfo, ForgedFieldsAreRefusedOrNormalised) {
  TestKindScope engine;
  TestFatPartitionInfo fat;
  Fill(fat, 2);
  fat.label = "Data";
  const std::vector<uint8_t> good = SaveRecord(fat);
  const size_t labelLength = kBase + CSearchedPartitionInfo::kSavedSize + 4;

  const struct {
    const char* name;
    size_t offset;
    std::vector<uint8_t> bytes;
    int32_t code;             // 0: loads
    uint32_t sectorSize = 0;  // when it loads
  } cases[] = {
      {"kind without a registered engine", 0, {0, 0, 0, 0}, RS_ERROR_BAD_DATA},
      {"kind 4", 0, {4, 0, 0, 0}, RS_ERROR_BAD_DATA},
      {"kind -1", 0, {0xFF, 0xFF, 0xFF, 0xFF}, RS_ERROR_BAD_DATA},
      {"file-system type 8", kBase, {8, 0, 0, 0}, RS_ERROR_BAD_DATA},
      {"file-system type -1", kBase, {0xFF, 0xFF, 0xFF, 0xFF}, RS_ERROR_BAD_DATA},
      {"weight NaN", kBase + 57, {0, 0, 0, 0, 0, 0, 0xF8, 0x7F}, RS_ERROR_BAD_DATA},
      {"weight infinite", kBase + 57, {0, 0, 0, 0, 0, 0, 0xF0, 0x7F}, RS_ERROR_BAD_DATA},
      {"label length 4 GiB", labelLength, {0xFF, 0xFF, 0xFF, 0xFF}, RS_ERROR_BAD_DATA},
      {"label longer than the record", labelLength, {50, 0, 0, 0}, RS_ERROR_SHORT_READ},
      {"sector size 0", kBase + 69, {0, 0, 0, 0}, 0, 512},
      {"sector size 520", kBase + 69, {0x08, 0x02, 0, 0}, 0, 512},
      {"sector size 2 GiB", kBase + 69, {0, 0, 0, 0x80}, 0, 512},
      {"sector size 2048", kBase + 69, {0, 0x08, 0, 0}, 0, 2048},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = good;
    std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + c.offset);
    int32_t code;
    auto back = LoadRecord(bytes, &code);
    EXPECT_EQ(code, c.code) << c.name;
    if (c.code == 0) {
      ASSERT_NE(back, nullptr) << c.name;
      EXPECT_EQ(back->GetSectorSize(), c.sectorSize) << c.name;
    } else {
      EXPECT_EQ(back, nullptr) << c.name;
    }
  }
}

// A failed load leaves the object as it was, so a caller that keeps it holds no mixture.
TEST(SearchedPartitionInfo, FailedLoadChangesNothing) {
  CSearchedPartitionInfo source(512);
  Fill(source, 3);
  MemoryStateStream s;
  s.BeginSection(TestSection(2));
  source.Save(s);
  std::vector<uint8_t>& bytes = s.Section(TestSection(2));
  bytes[0] = 9;  // no such file-system type
  s.StartReading();
  s.BeginSection(TestSection(2));
  CSearchedPartitionInfo target(512);
  Fill(target, 4);
  const std::string before = Describe(target);
  EXPECT_THROW(target.Load(s), CRSException);
  EXPECT_EQ(Describe(target), before);
}

// A cut anywhere ends in the stream's exception; changed bytes either load or are refused, never
// crash (the sanitizers watch).
TEST(SearchedPartitionInfo, DamagedRecordsEndInTheStreamException) {
  TestKindScope engine;
  TestFatPartitionInfo fat;
  Fill(fat, 5);
  fat.label = "Archive";
  const std::vector<uint8_t> good = SaveRecord(fat);
  for (size_t cut = 0; cut < good.size(); ++cut) {
    int32_t code;
    EXPECT_EQ(LoadRecord(std::vector<uint8_t>(good.begin(), good.begin() + cut), &code), nullptr) << cut;
    EXPECT_EQ(code, RS_ERROR_SHORT_READ) << cut;
  }
  std::mt19937 rng(104);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes = good;
    for (int k = 1 + rng() % 4; k > 0; --k) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
    int32_t code;
    auto back = LoadRecord(bytes, &code);
    if (back == nullptr) {
      EXPECT_TRUE(code == RS_ERROR_BAD_DATA || code == RS_ERROR_SHORT_READ) << code;
    } else {
      EXPECT_TRUE(std::isfinite(back->GetWeight()));
      EXPECT_EQ(back->GetSectorSize() % 512, 0u);
      EXPECT_LE(back->GetFileSystemType(), 7);
    }
  }
}
