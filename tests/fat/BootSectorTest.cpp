#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <vector>

#include "FatTestSupport.h"
#include "fat/BootSector.h"
#include "fat/FATDBR.h"
#include "support/Fixtures.h"

using namespace corvale::fat;
using fattest::FatFixture;
using fattest::FatImages;

namespace {

// "key: value" lines of minfo for the image.
std::map<std::string, std::string> Minfo(const std::string& image) {
  std::string text;
  corvale::test::RunCommand("MTOOLS_SKIP_CHECK=1 minfo -i '" + image + "' :: 2>/dev/null", &text);
  std::map<std::string, std::string> fields;
  std::stringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t colon = line.find(": ");
    const size_t equals = line.find('=');
    if (colon != std::string::npos) {
      fields[line.substr(0, colon)] = line.substr(colon + 2);
    } else if (equals != std::string::npos) {
      fields[line.substr(0, equals)] = line.substr(equals + 1);
    }
  }
  return fields;
}

uint64_t Number(const std::string& text) { return std::stoull(text); }

class BootSectorOfImage : public ::testing::TestWithParam<FatFixture> {};

}  // namespace

TEST_P(BootSectorOfImage, ParsesToTheGeometryMtoolsReports) {
  const FatFixture& fixture = GetParam();
  FAT_IMAGE(image, fixture);
  auto info = Minfo(image.path);
  ASSERT_FALSE(info.empty()) << "minfo said nothing";
  const FatVolumeGeometry& g = image.geometry;
  EXPECT_EQ(g.bytesPerSector, Number(info["sector size"]));
  EXPECT_EQ(g.sectorsPerCluster, Number(info["cluster size"]));
  EXPECT_EQ(g.reservedSectors, Number(info["reserved (boot) sectors"]));
  EXPECT_EQ(g.fatCount, Number(info["fats"]));
  EXPECT_EQ(g.rootEntries, Number(info["max available root directory slots"]));
  const uint64_t small = Number(info["small size"]);
  EXPECT_EQ(g.totalSectors, small != 0 ? small : Number(info["big size"]));
  if (fixture.fatBits == 32) {
    EXPECT_EQ(g.sectorsPerFat, Number(info["Big fatlen"]));
    EXPECT_EQ(g.rootCluster, Number(info["rootCluster"]));
    EXPECT_EQ(g.variant, FatVariant::Fat32);
  } else {
    EXPECT_EQ(g.sectorsPerFat, Number(info["sectors per fat"]));
    EXPECT_EQ(g.variant, fixture.fatBits == 12 ? FatVariant::Fat12 : FatVariant::Fat16);
  }
  EXPECT_EQ(g.clusterBytes, fixture.sectorSize * fixture.sectorsPerCluster);
  EXPECT_EQ(g.dataStart, g.reservedSectors + 2ull * g.sectorsPerFat + g.rootDirSectors);
  EXPECT_EQ(g.clusterCount, (g.totalSectors - g.dataStart) / g.sectorsPerCluster);

  // The classifier takes FAT16 and FAT32 boot sectors and, as the engine always has, no FAT12 one.
  const CFATDBR dbr(image.bootSector.data(), image.bootSector.size(), fixture.sectorSize);
  EXPECT_EQ(dbr.GetFATType(), fixture.typeCode) << dbr.describe();
  if (fixture.typeCode == kFatTypeNone) {
    EXPECT_EQ(dbr.GetCheckResult().outcome, ParseOutcome::NotThisStructure);
    EXPECT_EQ(dbr.GetTotalSectors(), 0u);
    EXPECT_EQ(dbr.GetSectorsPerCluster(), 0u);
  } else {
    EXPECT_EQ(dbr.GetTotalSectors(), g.totalSectors);
    EXPECT_EQ(dbr.GetSectorsPerCluster(), g.sectorsPerCluster);
    EXPECT_EQ(dbr.GetReservedSectors(), g.reservedSectors);
    EXPECT_EQ(dbr.GetNumberOfFATs(), 2u);
    EXPECT_EQ(dbr.GetSectorsPerFAT(), g.sectorsPerFat);
    EXPECT_EQ(dbr.GetRootEntries(), g.rootEntries);
    EXPECT_EQ(dbr.GetRootFirstCluster(), fixture.fatBits == 32 ? g.rootCluster : 0u);
    EXPECT_EQ(dbr.GetGeometry().dataStart, g.dataStart);
  }
  // Against a device of another sector size the sector is not taken.
  EXPECT_EQ(CFATDBR(image.bootSector.data(), 512, fixture.sectorSize == 512 ? 4096 : 512).GetFATType(),
            kFatTypeNone);
}

INSTANTIATE_TEST_SUITE_P(Images, BootSectorOfImage, ::testing::ValuesIn(FatImages()), [](const auto& info) {
  std::string name = info.param.image;
  return name.substr(0, name.find('.'));
});

namespace {

struct Mutation {
  const char* name;
  int fatBits;  // which real boot sector: the FAT16 one with 4-sector clusters or the FAT32 one
  size_t offset;
  std::vector<uint8_t> bytes;
  int32_t type;
  ParseOutcome outcome;
};

void PrintTo(const Mutation& m, std::ostream* os) { *os << m.name; }

std::vector<uint8_t> Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

const Mutation kMutations[] = {
    {"fat16_unchanged", 16, 0, {}, kFatType16, ParseOutcome::Valid},
    {"fat16_type_text_lower_case", 16, 54, {'f', 'a', 't', '1', '6'}, kFatType16, ParseOutcome::Valid},
    {"fat16_type_text_fat12",
     16,
     54,
     {'F', 'A', 'T', '1', '2'},
     kFatTypeNone,
     ParseOutcome::NotThisStructure},
    {"fat16_no_end_marker", 16, 510, {0x55, 0x00}, kFatTypeNone, ParseOutcome::NotThisStructure},
    {"fat16_one_fat", 16, 16, {1}, kFatTypeNone, ParseOutcome::Damaged},
    {"fat16_sector_size_not_the_devices", 16, 11, {0x00, 0x04}, kFatTypeNone, ParseOutcome::Damaged},
    {"fat16_sectors_per_cluster_3", 16, 13, {3}, kFatTypeNone, ParseOutcome::Damaged},
    {"fat16_sectors_per_cluster_0", 16, 13, {0}, kFatTypeNone, ParseOutcome::Damaged},
    {"fat16_root_entries_223", 16, 17, {223, 0}, kFatTypeNone, ParseOutcome::Damaged},
    {"fat16_root_entries_not_whole_sectors", 16, 17, {0x08, 0x02}, kFatTypeNone, ParseOutcome::Damaged},
    {"fat16_sectors_per_fat_0", 16, 22, {0, 0}, kFatTypeNone, ParseOutcome::Damaged},
    {"fat16_no_reserved_sector", 16, 14, {0, 0}, kFatTypeNone, ParseOutcome::Damaged},
    {"fat16_media_byte_is_not_looked_at", 16, 21, {0xF0}, kFatType16, ParseOutcome::Valid},
    {"fat16_data_area_past_the_end", 16, 32, Le32(100), kFatTypeNone, ParseOutcome::Damaged},
    {"fat16_fat12_cluster_count", 16, 32, Le32(16164), kFatTypeNone, ParseOutcome::Damaged},
    {"fat16_fat_too_small_for_its_clusters", 16, 22, {1, 0}, kFatTypeNone, ParseOutcome::Damaged},
    {"fat32_unchanged", 32, 0, {}, kFatType32, ParseOutcome::Valid},
    {"fat32_type_text_lower_case", 32, 82, {'f', 'a', 't'}, kFatType32, ParseOutcome::Valid},
    {"fat32_three_fats", 32, 16, {3}, kFatTypeNone, ParseOutcome::Damaged},
    {"fat32_sectors_per_fat_0", 32, 36, Le32(0), kFatTypeNone, ParseOutcome::Damaged},
    {"fat32_root_cluster_0", 32, 44, Le32(0), kFatTypeNone, ParseOutcome::Damaged},
    {"fat32_root_cluster_past_the_end", 32, 44, Le32(0x0FFFFFF0), kFatTypeNone, ParseOutcome::Damaged},
    {"fat32_huge_cluster_count", 32, 32, Le32(0xFFFFFFFF), kFatTypeNone, ParseOutcome::Damaged},
    {"fat32_with_a_16_bit_fat_size", 32, 22, {1, 0}, kFatTypeNone, ParseOutcome::Damaged},
    {"fat32_with_a_16_bit_total", 32, 19, {0x00, 0x10}, kFatTypeNone, ParseOutcome::Damaged},
    {"fat32_sectors_per_cluster_0", 32, 13, {0}, kFatTypeNone, ParseOutcome::Damaged},
};

class BootSectorMutation : public ::testing::TestWithParam<Mutation> {};

}  // namespace

TEST_P(BootSectorMutation, OneFieldChangedGivesItsOutcome) {
  const Mutation& m = GetParam();
  const FatFixture& fixture = FatImages()[m.fatBits == 16 ? 1 : 4];
  FAT_IMAGE(image, fixture);
  std::vector<uint8_t> sector = image.bootSector;
  std::copy(m.bytes.begin(), m.bytes.end(), sector.begin() + static_cast<long>(m.offset));
  const CFATDBR dbr(sector.data(), sector.size(), 512);
  EXPECT_EQ(dbr.GetFATType(), m.type) << dbr.describe();
  EXPECT_EQ(dbr.GetCheckResult().outcome, m.outcome) << dbr.GetCheckResult().describe();
  if (m.type == kFatTypeNone) {
    EXPECT_EQ(dbr.GetGeometry().clusterCount, 0u);
    EXPECT_EQ(dbr.GetSectorsPerFAT(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(RealBootSectors, BootSectorMutation, ::testing::ValuesIn(kMutations),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BootSector, SectorsWithoutAParameterBlockAreNotBootSectors) {
  std::vector<uint8_t> sector(512, 0);
  FatBootSector boot;
  EXPECT_EQ(FatBootSector::Parse(sector.data(), sector.size(), boot).outcome, ParseOutcome::NotThisStructure);
  // A partition table: a first byte, an end marker, and no parameter block.
  sector[0] = 0xFA;
  sector[510] = 0x55;
  sector[511] = 0xAA;
  EXPECT_EQ(FatBootSector::Parse(sector.data(), sector.size(), boot).outcome, ParseOutcome::NotThisStructure);
  EXPECT_TRUE(IsDBRSector(sector.data(), sector.size()));
  EXPECT_FALSE(IsDBRSector(sector.data(), 511));
  sector[0] = 0;
  EXPECT_FALSE(IsDBRSector(sector.data(), sector.size()));
  EXPECT_EQ(FatBootSector::Parse(sector.data(), 100, boot).outcome, ParseOutcome::NotThisStructure);
  EXPECT_EQ(CFATDBR(sector.data(), 100, 512).GetFATType(), kFatTypeNone);
  EXPECT_EQ(CFATDBR(nullptr, 0, 512).GetFATType(), kFatTypeNone);
}

TEST(BootSector, ErrorsNameTheFieldAndTheValue) {
  std::vector<uint8_t> sector(512, 0);
  sector[11] = 0x00;
  sector[12] = 0x02;  // 512
  sector[13] = 3;
  sector[510] = 0x55;
  sector[511] = 0xAA;
  FatBootSector boot;
  const ParseResult r = FatBootSector::Parse(sector.data(), sector.size(), boot);
  EXPECT_EQ(r.describe(), "Damaged: sectors per cluster at +0xD is not a power of two (value 0x3)");
}

TEST(VolumeGeometry, ClustersOutsideTheDataAreaHaveNoSector) {
  FatVolumeGeometry g;
  g.sectorsPerCluster = 4;
  g.dataStart = 100;
  g.clusterCount = 10;
  EXPECT_EQ(g.ClusterToSector(1000, 2), 1100u);
  EXPECT_EQ(g.ClusterToSector(1000, 11), 1136u);
  EXPECT_FALSE(g.ClusterToSector(1000, 12));
  EXPECT_FALSE(g.ClusterToSector(1000, 1));
  EXPECT_FALSE(g.ClusterToSector(1000, 0));
  EXPECT_FALSE(g.ClusterToSector(~uint64_t{0} - 50, 2));
}
