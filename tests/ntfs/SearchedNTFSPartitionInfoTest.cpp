// The rebuilt NTFS partition: its defaults, its saved form byte by byte, a saved scan holding it
// among partitions of other kinds, and saved bytes that are cut or forged.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/MemoryStateStream.h"
#include "core/RSDataEx.h"
#include "core/SearchedPartitionInfo.h"
#include "core/StateIo.h"
#include "ntfs/NTFSMFTLocation.h"
#include "ntfs/NTFSRecordSectorRuns.h"
#include "ntfs/SearchedNTFSPartitionInfo.h"
#include "support/Fixtures.h"

using namespace corvale;

namespace {

// Another engine's kind with a tail of its own length, registered under the Ext2 kind while a test
// holds an OtherKindScope: an NTFS record that read one byte too many or too few would put the
// next item out of step.
class OtherPartitionInfo : public CSearchedPartitionInfo {
 public:
  OtherPartitionInfo() : CSearchedPartitionInfo(kDefaultSectorSize) {}
  int32_t GetInfoType() const override { return kPartitionInfoExt2; }
  bool Save(IRSData& writer) const override {
    CSearchedPartitionInfo::Save(writer);
    WriteU32(writer, static_cast<uint32_t>(label.size()));
    writer.Write(label.data(), label.size());
    return true;
  }
  bool Load(IRSData& reader) override {
    CSearchedPartitionInfo::Load(reader);
    label = ReadText(reader, ReadU32(reader), 64);
    return true;
  }
  std::string label;
};

CSearchedPartitionInfo* MakeOther() { return new OtherPartitionInfo(); }

struct KindsScope {
  KindsScope() {
    EXPECT_TRUE(RegisterSearchedNTFSPartitionInfo());
    RegisterSearchedPartitionInfoFactory(kPartitionInfoExt2, &MakeOther);
  }
  ~KindsScope() {
    // The NTFS kind goes back to what the engine registered when the program started.
    RegisterSearchedNTFSPartitionInfo();
    RegisterSearchedPartitionInfoFactory(kPartitionInfoExt2, nullptr);
  }
};

// Every own field unlike its default and unlike its neighbours; the base fields too.
void Fill(CSearchedNTFSPartitionInfo& p, int64_t seed) {
  p.SetFileSystemType(3);
  p.SetSectorsPerCluster(8);
  p.SetStartSector(2048 + seed);
  p.SetPartitionStart(2048 + seed);
  p.SetFilesMatch(17 + seed);
  p.SetFoldersMatch(3 + seed);
  p.SetSectorCount(409600 + seed);
  p.SetScore(60 + seed);
  p.SetExtraValue(-77 - seed);
  p.SetSectorsPerFileRecord(seed % 2 ? 8 : 1);
  p.SetFoundByFlags(kFoundByFirstBootRecord | kFoundByMftFilesPair);
  p.AddFoundByFlags(kFoundByFilesAnalysis);
  p.SetUseMft(true);
  p.SetFilesOfMftOnly(seed % 2 == 0);
  p.SetTotalClusters(51200 + seed);
  p.SetLogFileMatch(11000 + seed);
  p.SetAttrDefMatch(5 + seed);
  p.SetUpCaseMatch(256 + seed);
  p.SetMftSector(2048 + 32 + seed);
  p.SetLogFileSector(2048 + 36 + seed);
  p.SetAttrDefSector(2048 + 40 + seed);
  p.SetUpCaseSector(2048 + 52 + seed);
  p.SetSectorsFromSystemFiles(409600 + 8 * seed);
}

std::string Describe(const CSearchedPartitionInfo& p) {
  std::string out =
      "kind " + std::to_string(p.GetInfoType()) + " type " + std::to_string(p.GetFileSystemType()) + " spc " +
      std::to_string(p.GetSectorsPerCluster()) + " start " + std::to_string(p.GetStartSector()) + " pstart " +
      std::to_string(p.GetPartitionStart()) + " files " + std::to_string(p.GetFilesMatch()) + " folders " +
      std::to_string(p.GetFoldersMatch()) + " count " + std::to_string(p.GetSectorCount()) + " score " +
      std::to_string(p.GetScore()) + " ss " + std::to_string(p.GetSectorSize());
  if (const auto* n = dynamic_cast<const CSearchedNTFSPartitionInfo*>(&p)) {
    for (int64_t v :
         {n->GetExtraValue(), int64_t(n->GetSectorsPerFileRecord()), int64_t(n->GetFoundByFlags()),
          int64_t(n->GetUseMft()), int64_t(n->GetFilesOfMftOnly()), n->GetTotalClusters(),
          n->GetLogFileMatch(), n->GetAttrDefMatch(), n->GetUpCaseMatch(), n->GetMftSector(),
          n->GetLogFileSector(), n->GetAttrDefSector(), n->GetUpCaseSector(), n->GetSectorsFromSystemFiles()})
      out += " " + std::to_string(v);
  }
  if (const auto* o = dynamic_cast<const OtherPartitionInfo*>(&p)) out += " label " + o->label;
  return out;
}

template <typename T>
void PutLE(std::vector<uint8_t>& bytes, size_t offset, T value) {
  for (size_t i = 0; i < sizeof(T); ++i)
    bytes[offset + i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

std::vector<uint8_t> SaveRecord(const CSearchedPartitionInfo& p) {
  MemoryStateStream s;
  s.BeginSection(TestSection(1));
  SaveSearchedPartitionInfoRecord(s, p);
  return s.Section(TestSection(1));
}

// Loads one record of a saved list; the stream exception's code goes to *code (0 when none).
std::unique_ptr<CSearchedPartitionInfo> LoadRecord(const std::vector<uint8_t>& bytes, int32_t* code) {
  MemoryStateStream s;
  s.Section(TestSection(1)) = bytes;
  s.StartReading();
  s.BeginSection(TestSection(1));
  *code = 0;
  try {
    return LoadSearchedPartitionInfoRecord(s);
  } catch (const IRSException& e) {
    *code = e.GetCode();
    return nullptr;
  }
}

// The own fields start after the 4-byte kind and the base's 73 bytes.
constexpr size_t kOwn = 4 + CSearchedPartitionInfo::kSavedSize;

}  // namespace

TEST(SearchedNTFSPartitionInfo, NewObjectKnowsNothingYet) {
  CSearchedNTFSPartitionInfo p(4096);
  EXPECT_EQ(p.GetInfoType(), kPartitionInfoNtfs);
  EXPECT_EQ(p.GetSectorSize(), 4096u);
  EXPECT_EQ(p.GetExtraValue(), 0);
  EXPECT_EQ(p.GetSectorsPerFileRecord(), 2u);
  EXPECT_EQ(p.GetFoundByFlags(), 0u);
  EXPECT_FALSE(p.GetUseMft());
  EXPECT_FALSE(p.GetFilesOfMftOnly());
  for (int64_t v :
       {p.GetTotalClusters(), p.GetLogFileMatch(), p.GetAttrDefMatch(), p.GetUpCaseMatch(), p.GetMftSector(),
        p.GetLogFileSector(), p.GetAttrDefSector(), p.GetUpCaseSector(), p.GetSectorsFromSystemFiles()})
    EXPECT_EQ(v, -1);
  // The base's own defaults are the base's.
  EXPECT_EQ(p.GetFileSystemType(), 7);
  EXPECT_EQ(p.GetScore(), 1);
}

TEST(SearchedNTFSPartitionInfo, FlagsAddUpAndRecordSizesAreChecked) {
  CSearchedNTFSPartitionInfo p(512);
  p.SetFoundByFlags(kFoundByLastBootRecord);
  p.AddFoundByFlags(kFoundByFirstRstr | kFoundBySecondRstr);
  p.AddFoundByFlags(kFoundByLastBootRecord);
  EXPECT_EQ(p.GetFoundByFlags(), 0xC2u);
  p.SetFoundByFlags(kFoundByIndexFolderComparison);
  EXPECT_EQ(p.GetFoundByFlags(), 0x20u);

  for (uint32_t n : {1u, 2u, 4u, 8u}) {
    EXPECT_TRUE(p.SetSectorsPerFileRecord(n)) << n;
    EXPECT_EQ(p.GetSectorsPerFileRecord(), n);
  }
  // The directory build divides by it.
  for (uint32_t n : {0u, 3u, 16u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(p.SetSectorsPerFileRecord(n)) << n;
    EXPECT_EQ(p.GetSectorsPerFileRecord(), 8u);
  }
}

// The base's 73 bytes, then the fourteen own values in their order and widths.
TEST(SearchedNTFSPartitionInfo, SavedFormFollowsTheBaseFieldByField) {
  CSearchedNTFSPartitionInfo p(512);
  Fill(p, 1);
  const std::vector<uint8_t> bytes = SaveRecord(p);
  ASSERT_EQ(bytes.size(), 4 + CSearchedNTFSPartitionInfo::kSavedSize);
  EXPECT_EQ(CSearchedNTFSPartitionInfo::kSavedSize, 169u);

  CSearchedPartitionInfo base(512);
  static_cast<CSearchedPartitionInfo&>(base) = p;
  std::vector<uint8_t> expected = SaveRecord(base);
  PutLE<int32_t>(expected, 0, kPartitionInfoNtfs);
  expected.resize(bytes.size());
  PutLE<int64_t>(expected, kOwn + 0, -78);
  PutLE<uint32_t>(expected, kOwn + 8, 8);
  PutLE<uint32_t>(expected, kOwn + 12, 0x105);
  PutLE<uint32_t>(expected, kOwn + 16, 1);
  PutLE<uint32_t>(expected, kOwn + 20, 0);
  const int64_t evidence[] = {51201, 11001, 6, 257, 2081, 2085, 2089, 2101, 409608};
  for (size_t i = 0; i < 9; ++i) PutLE<int64_t>(expected, kOwn + 24 + 8 * i, evidence[i]);
  EXPECT_EQ(bytes, expected);

  // Not known is all ones.
  const std::vector<uint8_t> fresh = SaveRecord(CSearchedNTFSPartitionInfo(512));
  EXPECT_EQ(std::vector<uint8_t>(fresh.begin() + kOwn, fresh.begin() + kOwn + 24),
            std::vector<uint8_t>({0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(fresh.begin() + kOwn + 24, fresh.end()), std::vector<uint8_t>(72, 0xFF));
}

TEST(SearchedNTFSPartitionInfo, RegisteredKindIsMadeWithSectorSize512) {
  {
    KindsScope kinds;
    auto made = CreateSearchedPartitionInfo(kPartitionInfoNtfs);
    ASSERT_NE(made, nullptr);
    EXPECT_NE(dynamic_cast<CSearchedNTFSPartitionInfo*>(made.get()), nullptr);
    EXPECT_EQ(made->GetSectorSize(), 512u);
    EXPECT_TRUE(RegisterSearchedNTFSPartitionInfo());  // again: no harm
  }
  // The engine registered the kind when the program started; without it nothing is made.
  EXPECT_NE(CreateSearchedPartitionInfo(kPartitionInfoNtfs), nullptr);
  RegisterSearchedPartitionInfoFactory(kPartitionInfoNtfs, nullptr);
  EXPECT_EQ(CreateSearchedPartitionInfo(kPartitionInfoNtfs), nullptr);
  RegisterSearchedNTFSPartitionInfo();
}

// The way a saved scan goes: found partitions of three kinds in one section of a compressed state
// file on disk, and the scan's NTFS evidence in another, all read back equal and in step.
TEST(SearchedNTFSPartitionInfo, SavedScanRoundTripsThroughAStateFile) {
  KindsScope kinds;
  std::vector<std::unique_ptr<CSearchedPartitionInfo>> list;
  for (int i = 0; i < 30; ++i) {
    if (i % 3 == 0) {
      auto ntfs = std::make_unique<CSearchedNTFSPartitionInfo>(i % 2 ? 4096 : 512);
      if (i > 0) Fill(*ntfs, i);  // the first keeps its defaults
      list.push_back(std::move(ntfs));
    } else if (i % 3 == 1) {
      auto other = std::make_unique<OtherPartitionInfo>();
      other->label = std::string(static_cast<size_t>(i), 'x');
      list.push_back(std::move(other));
    } else {
      auto base = std::make_unique<CSearchedPartitionInfo>(512);
      base->SetStartSector(i);
      list.push_back(std::move(base));
    }
  }
  auto* extremes = static_cast<CSearchedNTFSPartitionInfo*>(list[3].get());
  extremes->SetExtraValue(std::numeric_limits<int64_t>::min());
  extremes->SetFoundByFlags(0xFFFFFFFF);
  extremes->SetMftSector(std::numeric_limits<int64_t>::max());
  extremes->SetUpCaseMatch(-1);

  std::vector<std::unique_ptr<CNTFSMFTLocation>> locations;
  for (int i = 0; i < 3; ++i) {
    auto location = std::make_unique<CNTFSMFTLocation>();
    location->SetSector(2048 + 100 * i);
    location->SetSectorsPerCluster(static_cast<uint8_t>(1 << i));
    location->SetSectorsPerRecord(i == 2 ? 8 : 2);
    location->SetInitializedSize(i == 0 ? -1 : 0x40000 * i);
    for (int r = 0; r < i * 200; ++r)
      location->GetRunList().Append({1000 + 10 * r, 4 * r, r % 5 == 0 ? 0 : 4});
    locations.push_back(std::move(location));
  }
  locations[1]->SetSector(-1);
  CNTFSRecordSectorRunList sectors;
  for (int64_t s = 2048; s < 2048 + 20000; s += 2) sectors.Add(s);
  for (int64_t s = 900001; s < 990001; s += s % 3 ? 2 : 6) sectors.Add(s);

  const std::string path = test::ScratchDir() + "/ntfs-scan.rdf";
  {
    CRSDataEx writer(RS_MODE_WRITE);
    ASSERT_TRUE(writer.Open(path, 1));
    uint8_t header[132] = {};
    std::memcpy(header, kRSMarker.bytes.data(), 16);
    writer.WriteHeader(header);
    ASSERT_TRUE(writer.BeginSection(TestSection(1)));
    WriteU64(writer, list.size());
    for (const auto& p : list) SaveSearchedPartitionInfoRecord(writer, *p);
    writer.EndSection();
    ASSERT_TRUE(writer.BeginSection(TestSection(2)));
    SaveNTFSMFTLocations(writer, locations);
    sectors.Save(writer);
    writer.EndSection();
    writer.SetStatus(1);
    writer.Close();
  }

  CRSDataEx reader(RS_MODE_READ);
  ASSERT_TRUE(reader.Open(path, 0));
  ASSERT_TRUE(reader.IsValidFile());
  ASSERT_TRUE(reader.BeginSection(TestSection(1)));
  ASSERT_EQ(ReadU64(reader), list.size());
  for (const auto& p : list) {
    auto back = LoadSearchedPartitionInfoRecord(reader);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(Describe(*back), Describe(*p));
  }
  uint8_t extra;
  EXPECT_EQ(reader.Read(&extra, 1), 0u);
  reader.EndSection();

  ASSERT_TRUE(reader.BeginSection(TestSection(2)));
  std::vector<std::unique_ptr<CNTFSMFTLocation>> locationsBack;
  LoadNTFSMFTLocations(reader, locationsBack);
  ASSERT_EQ(locationsBack.size(), locations.size());
  for (size_t i = 0; i < locations.size(); ++i) {
    EXPECT_EQ(locationsBack[i]->GetSector(), locations[i]->GetSector());
    EXPECT_EQ(locationsBack[i]->GetSectorsPerCluster(), locations[i]->GetSectorsPerCluster());
    EXPECT_EQ(locationsBack[i]->GetSectorsPerRecord(), locations[i]->GetSectorsPerRecord());
    EXPECT_EQ(locationsBack[i]->GetInitializedSize(), locations[i]->GetInitializedSize());
    EXPECT_TRUE(locationsBack[i]->GetRunList().IsEqual(locations[i]->GetRunList())) << i;
  }
  CNTFSRecordSectorRunList sectorsBack;
  sectorsBack.Load(reader);
  EXPECT_EQ(sectorsBack.Runs(), sectors.Runs());
  EXPECT_EQ(sectorsBack.GetRecordCount(), sectors.GetRecordCount());
  EXPECT_EQ(reader.Read(&extra, 1), 0u);
  reader.EndSection();
  reader.Close();
}

// An MFT location as it was stored before the initialized size was kept: sector, sectors per
// record, sectors per cluster, then the runs. It still loads, with the size unknown; a location
// whose size is unknown is saved in that same form, and one with a size round-trips.
TEST(NTFSMFTLocationState, LocationStoredWithoutItsInitializedSizeStillLoads) {
  std::vector<uint8_t> older = {0x00, 0x08, 0, 0, 0, 0, 0, 0,  // sector 2048
                                2,    8};                      // sectors per record and cluster
  const uint8_t runs[] = {1,  0, 0, 0, 0, 0, 0, 0,             // one run
                          4,  0, 0, 0, 0, 0, 0, 0,             // at cluster 4
                          16, 0, 0, 0, 0, 0, 0, 0,             // 16 clusters
                          0,  0, 0, 0, 0, 0, 0, 0};            // from VCN 0
  older.insert(older.end(), std::begin(runs), std::end(runs));
  auto load = [](const std::vector<uint8_t>& bytes, CNTFSMFTLocation& out) -> int32_t {
    MemoryStateStream s;
    s.Section(TestSection(7)) = bytes;
    s.StartReading();
    s.BeginSection(TestSection(7));
    try {
      out.Load(s);
    } catch (const IRSException& e) {
      return e.GetCode();
    }
    uint8_t extra;
    return s.Read(&extra, 1) == 0 ? 0 : -1;  // -1: bytes left over
  };
  auto save = [](const CNTFSMFTLocation& location) {
    MemoryStateStream s;
    s.BeginSection(TestSection(7));
    location.Save(s);
    return s.Section(TestSection(7));
  };

  CNTFSMFTLocation location;
  ASSERT_EQ(load(older, location), 0);
  EXPECT_EQ(location.GetSector(), 2048);
  EXPECT_EQ(location.GetSectorsPerRecord(), 2);
  EXPECT_EQ(location.GetSectorsPerCluster(), 8);
  EXPECT_EQ(location.GetInitializedSize(), -1);
  EXPECT_EQ(location.GetFirstLcn(), 4);
  EXPECT_FALSE(location.IsPastInitializedSize(1000000, 1024));
  EXPECT_EQ(save(location), older);

  location.SetInitializedSize(0x11000);  // 68 records of 1024 bytes
  const std::vector<uint8_t> newer = save(location);
  ASSERT_EQ(newer.size(), older.size() + 8);
  CNTFSMFTLocation back;
  ASSERT_EQ(load(newer, back), 0);
  EXPECT_EQ(back.GetInitializedSize(), 0x11000);
  EXPECT_EQ(back.GetSectorsPerRecord(), 2);
  EXPECT_TRUE(back.GetRunList().IsEqual(location.GetRunList()));
  EXPECT_FALSE(back.IsPastInitializedSize(67, 1024));
  EXPECT_TRUE(back.IsPastInitializedSize(68, 1024));

  // A negative size is none we wrote; a size cut short is a short read; neither changes the location.
  std::vector<uint8_t> negative = newer;
  negative[10 + 7] = 0x80;
  EXPECT_EQ(load(negative, back), RS_ERROR_BAD_DATA);
  EXPECT_EQ(load(std::vector<uint8_t>(newer.begin(), newer.begin() + 14), back), RS_ERROR_SHORT_READ);
  EXPECT_EQ(back.GetInitializedSize(), 0x11000);
}

// Values none of our writers produce are bad data; a record cut anywhere is a short read.
TEST(SearchedNTFSPartitionInfo, ForgedAndCutRecordsEndInTheStreamException) {
  KindsScope kinds;
  CSearchedNTFSPartitionInfo p(512);
  Fill(p, 2);
  const std::vector<uint8_t> good = SaveRecord(p);
  const struct {
    const char* name;
    size_t offset;
    std::vector<uint8_t> bytes;
    int32_t code;  // 0: loads
  } cases[] = {
      {"base: file-system type 9", 4, {9, 0, 0, 0}, RS_ERROR_BAD_DATA},
      {"sectors per record 0", kOwn + 8, {0, 0, 0, 0}, RS_ERROR_BAD_DATA},
      {"sectors per record 3", kOwn + 8, {3, 0, 0, 0}, RS_ERROR_BAD_DATA},
      {"sectors per record 2^32 - 1", kOwn + 8, {0xFF, 0xFF, 0xFF, 0xFF}, RS_ERROR_BAD_DATA},
      {"sectors per record 4", kOwn + 8, {4, 0, 0, 0}, 0},
      {"use $MFT 2", kOwn + 16, {2, 0, 0, 0}, RS_ERROR_BAD_DATA},
      {"files of $MFT only 0x100", kOwn + 20, {0, 1, 0, 0}, RS_ERROR_BAD_DATA},
      {"total clusters -2", kOwn + 24, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, RS_ERROR_BAD_DATA},
      {"$MFT sector -2^63", kOwn + 56, {0, 0, 0, 0, 0, 0, 0, 0x80}, RS_ERROR_BAD_DATA},
      {"sectors from system files -5",
       kOwn + 88,
       {0xFB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       RS_ERROR_BAD_DATA},
      {"$UpCase sector not known", kOwn + 80, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0},
      {"unknown found-by bits are kept", kOwn + 12, {0, 0, 0, 0xF0}, 0},
      {"extra value of any sign", kOwn, {1, 2, 3, 4, 5, 6, 7, 0x88}, 0},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = good;
    std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + c.offset);
    int32_t code;
    auto back = LoadRecord(bytes, &code);
    EXPECT_EQ(code, c.code) << c.name;
    EXPECT_EQ(back != nullptr, c.code == 0) << c.name;
  }

  for (size_t cut = 0; cut < good.size(); ++cut) {
    int32_t code;
    EXPECT_EQ(LoadRecord(std::vector<uint8_t>(good.begin(), good.begin() + cut), &code), nullptr) << cut;
    EXPECT_EQ(code, RS_ERROR_SHORT_READ) << cut;
  }

  // Changed bytes load or are refused, never anything else (the sanitizers watch).
  std::mt19937 rng(3105);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes = good;
    for (int k = 1 + rng() % 4; k > 0; --k) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
    int32_t code;
    auto back = LoadRecord(bytes, &code);
    if (back == nullptr) {
      EXPECT_TRUE(code == RS_ERROR_BAD_DATA || code == RS_ERROR_SHORT_READ) << code;
    } else if (auto* n = dynamic_cast<CSearchedNTFSPartitionInfo*>(back.get())) {
      EXPECT_TRUE(CSearchedNTFSPartitionInfo::IsSectorsPerFileRecord(n->GetSectorsPerFileRecord()));
      EXPECT_GE(n->GetMftSector(), -1);
    }
  }
}

// A load that fails in the own fields puts the base fields back too: a caller that keeps the
// object holds no mixture of two partitions.
TEST(SearchedNTFSPartitionInfo, FailedLoadChangesNothing) {
  CSearchedNTFSPartitionInfo source(512);
  Fill(source, 5);
  MemoryStateStream saved;
  saved.BeginSection(TestSection(3));
  source.Save(saved);
  const std::vector<uint8_t> good = saved.Section(TestSection(3));
  const struct {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    int32_t code;
  } cases[] = {
      {"sectors per record 5", [](std::vector<uint8_t>& b) { b[73 + 8] = 5; }, RS_ERROR_BAD_DATA},
      {"last byte cut", [](std::vector<uint8_t>& b) { b.pop_back(); }, RS_ERROR_SHORT_READ},
  };
  for (const auto& c : cases) {
    MemoryStateStream s;
    s.Section(TestSection(3)) = good;
    c.damage(s.Section(TestSection(3)));
    s.StartReading();
    s.BeginSection(TestSection(3));
    CSearchedNTFSPartitionInfo target(4096);
    Fill(target, 6);
    const std::string before = Describe(target);
    try {
      target.Load(s);
      ADD_FAILURE() << c.name << ": loaded";
    } catch (const CRSException& e) {
      EXPECT_EQ(e.GetCode(), c.code) << c.name;
    }
    EXPECT_EQ(Describe(target), before) << c.name;
  }
}
