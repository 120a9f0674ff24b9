#include <gtest/gtest.h>

#include <vector>

#include "FatEntryBuilder.h"
#include "FatTestSupport.h"
#include "fat/DosTime.h"
#include "fat/FATDBR.h"
#include "fat/FATDirEntry.h"
#include "fat/FATDirSectorAnalyzer.h"
#include "fat/FATVolumeLabelReader.h"
#include "platform/FileTypeExtensionSet.h"
#include "platform/RecoveryContext.h"
#include "storage/MemoryDevice.h"

using namespace corvale;
using namespace corvale::fat;
using namespace fattest;

namespace {

class DirectoriesOfImage : public ::testing::TestWithParam<FatFixture> {};

// Sets the date and time checks for one test and puts them back afterwards.
class ScopedFatChecks {
 public:
  ScopedFatChecks(bool date, bool time)
      : m_date(GetRecoveryContext().CheckFatDate), m_time(GetRecoveryContext().CheckFatTime) {
    GetRecoveryContext().CheckFatDate = date;
    GetRecoveryContext().CheckFatTime = time;
  }
  ~ScopedFatChecks() {
    GetRecoveryContext().CheckFatDate = m_date;
    GetRecoveryContext().CheckFatTime = m_time;
  }

 private:
  int32_t m_date;
  int32_t m_time;
};

std::string ImageTestName(const ::testing::TestParamInfo<FatFixture>& info) {
  std::string name = info.param.image;
  return name.substr(0, name.find('.'));
}

}  // namespace

TEST_P(DirectoriesOfImage, LiveEntriesAreWhatMdirLists) {
  const FatFixture& fixture = GetParam();
  FAT_IMAGE(image, fixture);
  for (const std::string folder :
       {"", "frag", "deep", "deep/level1", "deep/level1/level2/level3/level4/level5", "many"}) {
    SCOPED_TRACE("folder /" + folder);
    std::vector<FoundEntry> found;
    ASSERT_TRUE(ListFolder(image, folder, &found));
    std::vector<const FoundEntry*> live;
    for (const FoundEntry& e : found) {
      if (!e.properties->IsDeleted()) live.push_back(&e);
    }
    const std::vector<MdirLine> listed = Mdir(image.path, folder);
    ASSERT_FALSE(listed.empty());
    ASSERT_EQ(live.size(), listed.size());
    for (size_t i = 0; i < listed.size(); ++i) {
      const MdirLine& m = listed[i];
      const CFATFileProperties& p = *live[i]->properties;
      const std::string name = m.longName.empty() ? m.shortName : m.longName;
      EXPECT_EQ(live[i]->name, name);
      EXPECT_EQ(p.IsFolder(), m.directory) << name;
      EXPECT_EQ(p.GetSize(), m.size) << name;
      EXPECT_EQ(FormatMinute(p.GetTime2()), m.minute) << name;
      EXPECT_NE(p.GetCreationTime(), 0u) << name;
      EXPECT_NE(p.GetTime3(), 0u) << name;
      EXPECT_EQ(p.GetParentCluster(), CFATFileProperties::kNoCluster);
    }
  }
}

TEST_P(DirectoriesOfImage, DeletedEntriesKeepTheirNamesAndSizes) {
  const FatFixture& fixture = GetParam();
  FAT_IMAGE(image, fixture);
  const uint64_t cb = image.geometry.clusterBytes;
  struct Row {
    const char* folder;
    const char* name;
    uint64_t size;
    bool folderEntry;
  };
  // Names with only an 8.3 form lose their first character when deleted: '#' stands in.
  const Row rows[] = {
      {"", "Deleted Long Name Document.txt", cb * 3, false},
      {"", "#one.bin", cb / 2, false},
      {"", "Old Folder", 0, true},
      {"deep/level1", "#emoved.txt", 200, false},
      {"Old Folder", "#nner1.txt", 150, false},
      {"Old Folder", "Inner", 0, true},
      {"Old Folder/Inner", "Some long inner name.txt", cb + 10, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.folder) + "/" + row.name);
    auto p = FindEntry(image, row.folder, row.name, true);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->IsDeleted());
    EXPECT_EQ(p->GetState(), CFATFileProperties::kStateDeleted);
    EXPECT_EQ(p->GetSize(), row.size);
    EXPECT_EQ(p->IsFolder(), row.folderEntry);
    EXPECT_NE(p->GetTime2(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Images, DirectoriesOfImage, ::testing::ValuesIn(FatImages()), ImageTestName);

// Real entries of a FAT16 root and junk, through the one plausibility check.
TEST(FatDirEntryPlausibility, RealEntriesPassAndJunkDoesNot) {
  FAT_IMAGE(image, FatImages()[1]);
  const std::vector<uint8_t> root = ReadDirectoryBytes(image, 0, false);
  const uint32_t clusters = image.geometry.clusterCount;
  const FatDirEntryLimits limits{clusters, 0xFFFFFFFF};
  // The fixture's root: label, hello.txt, two pieces, the long-named file, ..., and deleted entries.
  for (size_t offset = 0; offset < 20 * 32; offset += 32) {
    EXPECT_TRUE(isPlausibleFatDirEntry(root.data(), root.size(), offset, limits)) << offset;
    EXPECT_TRUE(CFATDirEntry(root.data(), root.size(), offset).IsValid(true)) << offset;
  }
  const auto junk = [&](size_t at, std::initializer_list<std::pair<size_t, uint8_t>> changes) {
    std::vector<uint8_t> bytes = root;
    for (auto [offset, value] : changes) bytes[at + offset] = value;
    return bytes;
  };
  struct Row {
    const char* name;
    std::vector<uint8_t> bytes;
    size_t offset;
    FatDirEntryLimits limits;
    bool plausible;
  };
  const size_t hello = 32;  // first cluster 2, size 100
  const size_t piece = 64;
  const Row rows[] = {
      {"reserved attribute bit", junk(hello, {{11, 0x60}}), hello, limits, false},
      {"star in the name", junk(hello, {{3, '*'}}), hello, limits, false},
      {"control byte in the name", junk(hello, {{9, 0x07}}), hello, limits, false},
      {"name begins with a space", junk(hello, {{0, ' '}}), hello, limits, false},
      {"first cluster past the volume", junk(hello, {{21, 0x7F}}), hello, limits, false},
      {"first cluster 1", junk(hello, {{26, 1}}), hello, limits, false},
      {"names the folder it sits in", root, hello, FatDirEntryLimits{clusters, 2}, false},
      {"piece that has a cluster", junk(piece, {{26, 5}}), piece, limits, false},
      {"piece with any ordinal", junk(piece, {{0, 0xE5}}), piece, limits, true},
      {"not at an entry boundary", root, hello + 4, limits, false},
      {"past the buffer's end", root, root.size() - 16, limits, false},
      {"month 13", junk(hello, {{24, 0xAA}, {25, 0x59}}), hello, limits, false},
      {"minute 61", junk(hello, {{22, 0xA0}, {23, 0x57}}), hello, limits, false},
      {"unknown volume size", junk(hello, {{21, 0x7F}}), hello, FatDirEntryLimits{}, true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(isPlausibleFatDirEntry(row.bytes.data(), row.bytes.size(), row.offset, row.limits),
              row.plausible)
        << row.name;
  }
  EXPECT_FALSE(isPlausibleFatDirEntry(nullptr, 0, 0, limits));
}

TEST(FatDirEntryValidity, DateAndTimeChecksFollowTheirSwitches) {
  auto entry = ShortEntry("HELLO   TXT", 0x20, 5, 100);
  putLE(&entry[24], (44 << 9) | (13 << 5) | 1, 2);  // month 13
  putLE(&entry[22], (10 << 11) | (61 << 5), 2);     // minute 61
  {
    ScopedFatChecks checks(true, false);
    EXPECT_FALSE(CFATDirEntry(entry.data()).IsValid(false));
  }
  putLE(&entry[24], fattest::kSomeDate, 2);
  {
    ScopedFatChecks checks(true, true);
    EXPECT_FALSE(CFATDirEntry(entry.data()).IsValid(false));
  }
  {
    ScopedFatChecks checks(true, false);
    EXPECT_TRUE(CFATDirEntry(entry.data()).IsValid(false));
  }
  // Zero dates and times are no dates at all, and pass.
  auto zero = ShortEntry("ZERO    BIN", 0x20, 5, 100);
  std::fill(zero.begin() + 13, zero.begin() + 20, 0);
  std::fill(zero.begin() + 22, zero.begin() + 26, 0);
  ScopedFatChecks checks(true, true);
  EXPECT_TRUE(CFATDirEntry(zero.data()).IsValid(true));
}

TEST(FatDirEntryValidity, StrictRulesTieTheSizeToTheCluster) {
  struct Row {
    const char* name;
    std::vector<uint8_t> entry;
    bool strict;
    bool loose;
  };
  const Row rows[] = {
      {"file", ShortEntry("A       TXT", 0x20, 5, 10), true, true},
      {"empty file", ShortEntry("A       TXT", 0x20, 0, 0), true, true},
      {"size without cluster", ShortEntry("A       TXT", 0x20, 0, 10), false, true},
      {"cluster without size", ShortEntry("A       TXT", 0x20, 5, 0), false, true},
      {"folder", ShortEntry("DIR        ", 0x10, 5, 0), true, true},
      {"folder with size and high cluster", ShortEntry("DIR        ", 0x10, 0x10005, 512), false, true},
      {"folder with size", ShortEntry("DIR        ", 0x10, 5, 512), true, true},
      {"volume label", ShortEntry("MY*LABEL   ", 0x08, 0, 0), true, true},
      {"label-like with more bits", ShortEntry("MY*LABEL   ", 0x28, 0, 0), false, false},
      {"double-byte name", ShortEntry("\x82\x2A\x82\x2A    TXT", 0x20, 5, 10), true, true},
      {"stored 0xE5 first", ShortEntry("\x05X      TXT", 0x20, 5, 10), true, true},
  };
  for (const Row& row : rows) {
    const CFATDirEntry e(row.entry.data());
    EXPECT_EQ(e.IsValid(true), row.strict) << row.name;
    EXPECT_EQ(e.IsValid(false), row.loose) << row.name;
  }
  const std::vector<uint8_t> shortBuffer(31, 'A');
  EXPECT_FALSE(CFATDirEntry(shortBuffer.data(), shortBuffer.size(), 0).IsValid(false));
  EXPECT_EQ(CFATDirEntry(shortBuffer.data(), shortBuffer.size(), 0).GetShortName(true), "");
}

TEST(FatShortName, DeletedStoredE5AndLowerCaseFlags) {
  struct Row {
    std::vector<uint8_t> entry;
    const char* withDot;
    const char* without;
  };
  const Row rows[] = {
      {ShortEntry("README  TXT", 0x20, 5, 1), "README.TXT", "READMETXT"},
      {ShortEntry("README  TXT", 0x20, 5, 1, 0x08), "readme.TXT", "readmeTXT"},
      {ShortEntry("README  TXT", 0x20, 5, 1, 0x18), "readme.txt", "readmetxt"},
      {ShortEntry("\xE5"
                  "EADME  TXT",
                  0x20, 5, 1, 0x18),
       "#eadme.txt", "#eadmetxt"},
      {ShortEntry("\x05X      TXT", 0x20, 5, 1), "\xC3\x95X.TXT", "\xC3\x95XTXT"},
      {ShortEntry("\x05X      TXT", 0x20, 5, 1, 0x08), "\xC3\xB5x.TXT", "\xC3\xB5xTXT"},
      {ShortEntry("\x9A"
                  "BER    DOC",
                  0x20, 5, 1),
       "\xC3\x9C"
       "BER.DOC",
       "\xC3\x9C"
       "BERDOC"},
      {ShortEntry("NOEXT      ", 0x20, 5, 1), "NOEXT", "NOEXT"},
      {ShortEntry("MY DISK    ", 0x08, 0, 0), "MY DISK", "MY DISK"},
      {ShortEntry("LABELNAMEXY", 0x08, 0, 0), "LABELNAM.EXY", "LABELNAMEXY"},
  };
  for (const Row& row : rows) {
    const CFATDirEntry e(row.entry.data());
    EXPECT_EQ(e.GetShortName(true), row.withDot);
    EXPECT_EQ(e.GetShortName(false), row.without);
  }
}

TEST(FatLongName, NamesComeFromTheirOwnPiecesOnly) {
  const auto shortEntry = ShortEntry("LONGFI~1DAT", 0x20, 5, 10);
  const uint8_t sum = Checksum(shortEntry);
  auto deletedShort = shortEntry;
  deletedShort[0] = 0xE5;
  struct Row {
    const char* name;
    std::vector<uint8_t> entries;
    const char* expected;
  };
  const Row rows[] = {
      {"plain", Join({LongNamePieces(u"Long File Name Example.dat", sum), shortEntry}),
       "Long File Name Example.dat"},
      {"exactly 13 characters", Join({LongNamePieces(u"Thirteen char", sum), shortEntry}), "Thirteen char"},
      {"colon falls back to 8.3", Join({LongNamePieces(u"a:b.dat", sum), shortEntry}), "LONGFI~1.DAT"},
      {"question mark falls back", Join({LongNamePieces(u"what?.dat", sum), shortEntry}), "LONGFI~1.DAT"},
      {"dot-dot falls back", Join({LongNamePieces(u"..", sum), shortEntry}), "LONGFI~1.DAT"},
      {"pieces of another short entry", Join({LongNamePieces(u"Other name.dat", sum ^ 0x5A), shortEntry}),
       "LONGFI~1.DAT"},
      {"a foreign piece before the own ones",
       Join({LongNamePieces(u"zzzz", sum ^ 1), LongNamePieces(u"Mine.dat", sum), shortEntry}), "Mine.dat"},
      {"deleted pieces and entry", Join({LongNamePieces(u"Gone file.dat", sum), deletedShort}),
       "Gone file.dat"},
      {"pair split between pieces", Join({LongNamePieces(u"aaaaaaaaaaaa\U0001F600.txt", sum), shortEntry}),
       "aaaaaaaaaaaa\xF0\x9F\x98\x80.txt"},
      {"unpaired surrogate",
       Join({LongNamePieces(u"a\xD800"
                            "b.txt",
                            sum),
             shortEntry}),
       "a_b.txt"},
      {"no pieces", shortEntry, "LONGFI~1.DAT"},
  };
  for (const Row& row : rows) {
    std::string name;
    size_t offset = 0;
    ASSERT_TRUE(GetNameFromEntries(row.entries.data(), row.entries.size(), &name, &offset)) << row.name;
    EXPECT_EQ(name, row.expected) << row.name;
    EXPECT_EQ(offset, row.entries.size() - 32) << row.name;
  }
  // Pieces without their short entry name nothing.
  const auto pieces = LongNamePieces(u"Long File Name Example.dat", sum);
  EXPECT_FALSE(GetNameFromEntries(pieces.data(), pieces.size(), nullptr, nullptr));
  EXPECT_EQ(CreateFATFileFromEntries(pieces.data(), pieces.size()), nullptr);
  // A run of more pieces than a name can have keeps the 20 next to the short entry.
  std::u16string longest(300, u'x');
  const auto many = Join({LongNamePieces(longest, sum), shortEntry});
  std::string name;
  ASSERT_TRUE(GetNameFromEntries(many.data(), many.size(), &name, nullptr));
  EXPECT_EQ(name, std::string(260, 'x'));
}

TEST(FatLongName, PropertiesCarryTheEntrysFields) {
  const auto entry = ShortEntry("REPORT  PDF", 0x21, 0x12345, 4000);
  const auto bytes = Join({LongNamePieces(u"Quarterly report.pdf", Checksum(entry)), entry});
  auto p = CreateFATFileFromEntries(bytes.data(), bytes.size());
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p->GetName(), "Quarterly report.pdf");
  EXPECT_EQ(p->GetSize(), 4000u);
  EXPECT_EQ(p->GetAttributes(), 0x21);
  EXPECT_EQ(p->GetFirstCluster(), 0x12345u);
  EXPECT_FALSE(p->IsDeleted());
  EXPECT_EQ(p->GetCreationTime(), DosTimeOrZero(kSomeDate, kSomeTime));
  EXPECT_EQ(p->GetTime2(), DosTimeOrZero(kSomeDate, kSomeTime));
  EXPECT_EQ(p->GetTime3(), DosTimeOrZero(kSomeDate, 0));
  EXPECT_EQ(p->CreateDataRunList(), nullptr);

  // Files of types the user did not ask for are left out; folders never are.
  GetFileTypeExtensionSet().Rebuild(CFileTypeExtensionSet::kIncludeList, {".jpg"});
  EXPECT_EQ(CreateFATFileFromEntries(bytes.data(), bytes.size()), nullptr);
  const auto folder = ShortEntry("REPORTS    ", 0x10, 9, 0);
  EXPECT_NE(CreateFATFileFromEntries(folder.data(), folder.size()), nullptr);
  GetFileTypeExtensionSet().Clear();
}

TEST(FatDirSectorAnalyzer, RealDirectorySectors) {
  FAT_IMAGE(image, FatImages()[4]);
  const FatVolumeGeometry& g = image.geometry;
  std::vector<uint8_t> sector(g.bytesPerSector);
  CFATDirSectorAnalyzer analyzer(g.bytesPerSector);
  // The first sector of a folder below the root.
  auto many = FindEntry(image, "", "many", false);
  ASSERT_NE(many, nullptr);
  ASSERT_TRUE(image.device->ReadSectors(sector.data(), *g.ClusterToSector(0, many->GetFirstCluster()), 1));
  EXPECT_TRUE(analyzer.Analyze(sector.data(), sector.size()));
  EXPECT_EQ(analyzer.GetKind(), CFATDirSectorAnalyzer::kFirstDirectorySector);
  EXPECT_EQ(analyzer.GetDotCluster(), many->GetFirstCluster());
  EXPECT_EQ(analyzer.GetDotDotCluster(), 0u);
  EXPECT_GT(analyzer.GetEntryCount(), 0u);
  // The root's first sector holds entries but no "." and "..".
  ASSERT_TRUE(image.device->ReadSectors(sector.data(), *g.ClusterToSector(0, g.rootCluster), 1));
  EXPECT_TRUE(analyzer.Analyze(sector.data(), sector.size()));
  EXPECT_EQ(analyzer.GetKind(), CFATDirSectorAnalyzer::kPartialDirectory);
  EXPECT_EQ(analyzer.GetDotCluster(), 0u);
  EXPECT_GE(analyzer.GetLargestCluster(), many->GetFirstCluster());
  // File data is no directory.
  auto hello = FindEntry(image, "", "hello.txt", false);
  ASSERT_TRUE(image.device->ReadSectors(sector.data(), *g.ClusterToSector(0, hello->GetFirstCluster()), 1));
  EXPECT_FALSE(analyzer.Analyze(sector.data(), sector.size()));
  EXPECT_EQ(analyzer.GetEntryCount(), 0u);
}

TEST(FatDirSectorAnalyzer, KindsOfMadeSectors) {
  const auto dot = ShortEntry(".          ", 0x10, 40, 0);
  const auto dotDot = ShortEntry("..         ", 0x10, 7, 0);
  std::vector<uint8_t> files;
  for (int i = 0; i < 16; ++i) {
    char name[24];
    std::snprintf(name, sizeof name, "FILE%02d  TXT", i);
    files = Join({files, ShortEntry(name, 0x20, 100 + i, 10)});
  }
  const auto sectorOf = [](std::vector<uint8_t> bytes) {
    bytes.resize(512, 0);
    return bytes;
  };
  struct Row {
    const char* name;
    std::vector<uint8_t> sector;
    int32_t kind;
    uint32_t entries;
  };
  const Row rows[] = {
      {"dot entries and nothing else", sectorOf(Join({dot, dotDot})), 2, 0},
      {"dot entries then an empty file", sectorOf(Join({dot, dotDot, ShortEntry("EMPTY   TXT", 0x20, 0, 0)})),
       2, 1},
      {"sixteen files", files, 1, 16},
      {"two live files with one cluster",
       sectorOf(Join({ShortEntry("A       TXT", 0x20, 9, 1), ShortEntry("B       TXT", 0x20, 9, 1)})), 0, 0},
      {"two empty files in a row",
       sectorOf(Join({ShortEntry("A       TXT", 0x20, 0, 0), ShortEntry("B       TXT", 0x20, 0, 0)})), 0, 0},
      {"a deleted file between them",
       sectorOf(Join({ShortEntry("A       TXT", 0x20, 9, 1),
                      ShortEntry("\xE5"
                                 "       TXT",
                                 0x20, 9, 1),
                      ShortEntry("B       TXT", 0x20, 10, 1)})),
       1, 3},
      {"junk after an entry", Join({ShortEntry("A       TXT", 0x20, 9, 1), std::vector<uint8_t>(480, 0x07)}),
       0, 0},
      {"zeros", std::vector<uint8_t>(512, 0), 0, 0},
  };
  CFATDirSectorAnalyzer analyzer(512);
  for (const Row& row : rows) {
    EXPECT_EQ(analyzer.Analyze(row.sector.data(), row.sector.size()), row.kind != 0) << row.name;
    EXPECT_EQ(analyzer.GetKind(), row.kind) << row.name;
    EXPECT_EQ(analyzer.GetEntryCount(), row.entries) << row.name;
  }
  ASSERT_TRUE(analyzer.Analyze(sectorOf(Join({dot, dotDot})).data(), 512));
  EXPECT_EQ(analyzer.GetDotCluster(), 40u);
  EXPECT_EQ(analyzer.GetDotDotCluster(), 7u);
  EXPECT_EQ(analyzer.GetLargestCluster(), 40u);
  EXPECT_FALSE(analyzer.Analyze(nullptr, 512));
}

TEST_P(DirectoriesOfImage, VolumeLabelComesFromTheRootDirectory) {
  const FatFixture& fixture = GetParam();
  FAT_IMAGE(image, fixture);
  std::vector<uint8_t> first(fixture.sectorSize);
  ASSERT_TRUE(image.device->ReadSectors(first.data(), 0, 1));
  const CFATDBR dbr(first.data(), first.size(), fixture.sectorSize);
  std::string label;
  CFATVolumeLabelReader reader(image.device.get());
  EXPECT_EQ(reader.ReadVolumeLabel(0, dbr, &label), fixture.typeCode != kFatTypeNone);
  if (fixture.typeCode != kFatTypeNone) {
    EXPECT_EQ(label, fixture.label);
  }
  EXPECT_FALSE(CFATVolumeLabelReader(nullptr).ReadVolumeLabel(0, dbr, &label));
}

// A FAT32 root directory whose chain runs back to its first cluster, with no live label in it: the
// label reader stops.
TEST(FatVolumeLabel, RootChainThatLoopsEnds) {
  FAT_IMAGE(image, FatImages()[4]);
  const FatVolumeGeometry& g = image.geometry;
  std::vector<uint8_t> bytes((g.dataStart + 200) * 512);
  ASSERT_TRUE(image.device->ReadSectors(bytes.data(), 0, g.dataStart + 200));
  const uint64_t root = *g.ClusterToSector(0, g.rootCluster) * 512;
  ASSERT_EQ(bytes[root + 11], 0x08);
  bytes[root] = 0xE5;  // the label entry, deleted
  putLE(&bytes[g.fatStart * 512 + g.rootCluster * 4], g.rootCluster, 4);
  MemoryDevice device(bytes);
  const CFATDBR dbr(bytes.data(), 512, 512);
  ASSERT_TRUE(dbr.IsValid());
  std::string label;
  EXPECT_FALSE(CFATVolumeLabelReader(&device).ReadVolumeLabel(0, dbr, &label));
  EXPECT_LE(device.ReadCount(), 3u);
  // A chain that leaves the device ends in a failed read.
  putLE(&bytes[g.fatStart * 512 + g.rootCluster * 4], g.clusterCount, 4);
  MemoryDevice shortDevice(bytes);
  EXPECT_FALSE(CFATVolumeLabelReader(&shortDevice).ReadVolumeLabel(0, dbr, &label));
}

TEST(DosTime, FieldsOutOfRangeMakeNoTime) {
  const auto date = [](unsigned y, unsigned m, unsigned d) {
    return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d);
  };
  const auto time = [](unsigned h, unsigned m, unsigned s) {
    return static_cast<uint16_t>((h << 11) | (m << 5) | (s / 2));
  };
  struct Row {
    uint16_t date;
    uint16_t time;
    bool ok;
    uint64_t filetime;
  };
  const Row rows[] = {
      {date(1980, 1, 1), 0, true, 119600064000000000ull},
      {date(2024, 2, 29), time(23, 59, 58), true, 133537247980000000ull},
      {date(2107, 12, 31), time(23, 59, 58), true, 0},
      {date(2023, 2, 29), 0, false, 0},
      {date(2024, 4, 31), 0, false, 0},
      {date(2024, 13, 1), 0, false, 0},
      {date(2024, 0, 1), 0, false, 0},
      {date(2024, 1, 0), 0, false, 0},
      {0, 0, false, 0},
      {date(2024, 1, 1), time(24, 0, 0), false, 0},
      {date(2024, 1, 1), time(0, 60, 0), false, 0},
      {date(2024, 1, 1), static_cast<uint16_t>(30), false, 0},
  };
  for (const Row& row : rows) {
    uint64_t out = 1;
    EXPECT_EQ(DosDateTimeToFileTime(row.date, row.time, &out), row.ok)
        << std::hex << row.date << " " << row.time;
    if (row.ok && row.filetime != 0) {
      EXPECT_EQ(out, row.filetime);
    }
    if (!row.ok) {
      EXPECT_EQ(DosTimeOrZero(row.date, row.time), 0u);
    }
  }
  EXPECT_EQ(FormatMinute(DosTimeOrZero(date(2026, 12, 10), time(13, 26, 54))), "2026-12-10 13:26");
}
