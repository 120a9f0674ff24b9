// The NTFS boot sector: a real one from mkntfs, then one field changed per row.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "NtfsTestVolume.h"
#include "ntfs/NTFSDBR.h"

using corvale::ntfs::ParseOutcome;
namespace boot = corvale::ntfs::boot;

TEST(NtfsBootSector, RealBootSectorsGiveTheVolumeGeometry) {
  for (const char* kind : {"c4096", "c512", "s4096"}) {
    CORVALE_NTFS_VOLUME(volume, kind);
    SCOPED_TRACE(kind);
    const NtfsManifest& m = volume->manifest;
    EXPECT_TRUE(IsValidNTFSDBR(volume->image.data()));
    EXPECT_EQ(volume->geometry.bytesPerSector, m.sectorSize);
    EXPECT_EQ(volume->geometry.bytesPerCluster, m.clusterSize);
    EXPECT_EQ(volume->geometry.fileRecordSize, m.sectorSize == 4096 ? 4096u : 1024u);
    EXPECT_EQ(volume->geometry.totalSectors + 1, volume->image.size() / m.sectorSize);
    EXPECT_EQ(volume->bootSector.GetOEMID(), "NTFS    ");
    EXPECT_NE(volume->bootSector.GetVolumeSerialNumber(), 0u);
    // mkntfs keeps a backup of the boot sector in the volume's last sector.
    const uint8_t* backup = volume->image.data() + volume->image.size() - m.sectorSize;
    EXPECT_TRUE(IsValidNTFSDBR(backup));
    EXPECT_EQ(std::memcmp(backup, volume->image.data(), 512), 0);
  }
}

struct BootRow {
  const char* name;
  size_t offset;
  std::vector<uint8_t> bytes;
  ParseOutcome expected;
};

class NtfsBootSectorField : public ::testing::TestWithParam<BootRow> {};

TEST_P(NtfsBootSectorField, OneFieldChanged) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  const BootRow& row = GetParam();
  std::vector<uint8_t> sector(volume->image.begin(), volume->image.begin() + 512);
  std::copy(row.bytes.begin(), row.bytes.end(), sector.begin() + row.offset);
  corvale::ntfs::ParseResult result = CheckNTFSDBR(sector.data());
  EXPECT_EQ(result.outcome, row.expected) << result.describe();
  EXPECT_EQ(IsValidNTFSDBR(sector.data()), row.expected == ParseOutcome::Valid);
  CNTFSDBR dbr;
  EXPECT_EQ(dbr.SetDBR(sector.data()), row.expected == ParseOutcome::Valid);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NtfsBootSectorField,
    ::testing::Values(BootRow{"OemIdInLowerCase", boot::kOemId, {'n', 't', 'f', 's'}, ParseOutcome::Valid},
                      BootRow{"OemIdOtherText",
                              boot::kOemId,
                              {'M', 'S', 'D', 'O', 'S', '5', '.', '0'},
                              ParseOutcome::NotThisStructure},
                      BootRow{"BytesPerSector0", boot::kBytesPerSector, {0, 0}, ParseOutcome::Damaged},
                      BootRow{
                          "BytesPerSector1000", boot::kBytesPerSector, {0xE8, 0x03}, ParseOutcome::Damaged},
                      BootRow{"BytesPerSector1536", boot::kBytesPerSector, {0x00, 0x06}, ParseOutcome::Valid},
                      BootRow{"SectorsPerCluster0", boot::kSectorsPerCluster, {0}, ParseOutcome::Damaged},
                      BootRow{"SectorsPerCluster3", boot::kSectorsPerCluster, {3}, ParseOutcome::Damaged},
                      BootRow{"SectorsPerCluster128", boot::kSectorsPerCluster, {128}, ParseOutcome::Valid},
                      BootRow{"ReservedSectors1", boot::kReservedSectors, {1, 0}, ParseOutcome::Damaged},
                      BootRow{"FatCount2", boot::kFatCount, {2}, ParseOutcome::Damaged},
                      BootRow{"RootEntries512", boot::kRootEntries, {0, 2}, ParseOutcome::Damaged},
                      BootRow{"TotalSectors16", boot::kTotalSectors16, {1, 0}, ParseOutcome::Damaged},
                      BootRow{"SectorsPerFat", boot::kSectorsPerFat, {9, 0}, ParseOutcome::Damaged},
                      BootRow{"TotalSectors32", boot::kTotalSectors32, {0, 0, 1, 0}, ParseOutcome::Damaged},
                      BootRow{"NoEndMarker", boot::kEndMarker, {0, 0}, ParseOutcome::Damaged},
                      BootRow{"EndMarkerSwapped", boot::kEndMarker, {0xAA, 0x55}, ParseOutcome::Damaged}),
    [](const ::testing::TestParamInfo<BootRow>& info) { return std::string(info.param.name); });

TEST(NtfsBootSector, RecordSizeFromClustersPerRecordByte) {
  struct Row {
    int8_t n;
    uint32_t bps, spc, expected;
  } rows[] = {
      {-10, 512, 8, 1024},  // 0xF6
      {-12, 4096, 1, 4096},
      {0, 512, 8, 1024},
      {2, 512, 1, 1024},
      {1, 4096, 1, 4096},
      // Sizes no reader here handles give 0 instead of an allocation or shift of that size.
      {2, 512, 8, 8192},
      {-9, 512, 8, 512},
      {-13, 512, 8, 8192},
      {-128, 512, 8, 0},
      {127, 65024, 128, 0},
      {3, 512, 1, 1536},
  };
  for (const Row& row : rows) {
    uint32_t expected =
        (row.expected >= 1024 && row.expected <= 4096 && (row.expected & (row.expected - 1)) == 0)
            ? row.expected
            : 0;
    EXPECT_EQ(FileRecordSizeFromClustersPerRecord(row.n, row.bps, row.spc), expected) << int(row.n);
  }
}

TEST(NtfsBootSector, GeometryRefusesWhatCannotBeRead) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  struct Row {
    const char* name;
    size_t offset;
    std::vector<uint8_t> bytes;
  } rows[] = {
      {"record size 8192", boot::kClustersPerRecord, {2}},
      {"sector size 1536", boot::kBytesPerSector, {0x00, 0x06}},
      {"sector size 8192", boot::kBytesPerSector, {0x00, 0x20}},
      {"empty volume", boot::kTotalSectors, {0, 0, 0, 0, 0, 0, 0, 0}},
      {"$MFT past the end", boot::kMftCluster, {0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}},
      {"$MFTMirr past the end", boot::kMftMirrCluster, {0, 0, 0, 0, 0, 0, 0, 0x01}},
      {"volume of 2^63 bytes", boot::kTotalSectors, {0, 0, 0, 0, 0, 0, 0, 0x40}},
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> sector(volume->image.begin(), volume->image.begin() + 512);
    std::copy(row.bytes.begin(), row.bytes.end(), sector.begin() + row.offset);
    CNTFSDBR dbr;
    NTFSVolumeGeometry geometry;
    ASSERT_TRUE(dbr.SetDBR(sector.data())) << row.name;
    corvale::ntfs::ParseResult result = dbr.GetGeometry(geometry);
    EXPECT_EQ(result.outcome, ParseOutcome::Damaged) << row.name;
  }
}

TEST(NtfsBootSector, SetDbrKeepsThePreviousSectorWhenRefused) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  CNTFSDBR dbr;
  EXPECT_EQ(dbr.GetFileRecordSize(), 1024u);  // a zero-filled sector: clusters per record 0
  ASSERT_TRUE(dbr.SetDBR(volume->image.data()));
  std::vector<uint8_t> junk(512, 0xAB);
  EXPECT_FALSE(dbr.SetDBR(junk.data()));
  EXPECT_FALSE(dbr.SetDBR(nullptr));
  EXPECT_FALSE(dbr.SetDBR(volume->image.data(), 100));
  EXPECT_EQ(dbr.GetMFTCluster(), volume->geometry.mftCluster);
  EXPECT_NE(dbr.describe().find("$MFT cluster"), std::string::npos);
}
