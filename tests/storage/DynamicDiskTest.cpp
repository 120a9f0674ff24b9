#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "storage/DynamicDisk.h"
#include "storage/ImageFileDevice.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

// Disks partitioned by the partitioning tools, read as image files.
struct ImageCase {
  const char* script;
  bool dynamic;
};

class DynamicDiskOnImage : public ::testing::TestWithParam<ImageCase> {};

TEST_P(DynamicDiskOnImage, IsRecognisedFromThePartitionTables) {
  const std::string script = GetParam().script;
  const std::string imageName = script.substr(0, script.size() - 3) + ".img";
  CORVALE_FIXTURE(image, script, imageName);
  CImageFileDevice device(image);
  ASSERT_TRUE(device.IsOpened());
  EXPECT_EQ(DetectDynamicDisk(&device, device.GetSectorCount(), device.GetSectorSize()), GetParam().dynamic);
}

INSTANTIATE_TEST_SUITE_P(
    DynamicDisk, DynamicDiskOnImage,
    ::testing::Values(ImageCase{"mbr_ldm_primary.sh", true}, ImageCase{"mbr_ldm_logical.sh", true},
                      ImageCase{"mbr_extended_plain.sh", false}, ImageCase{"mbr_random_data.sh", false},
                      ImageCase{"gpt_ldm_data_only.sh", false}, ImageCase{"gpt_ldm_both.sh", true}),
    [](const auto& info) {
      std::string s = info.param.script;
      return s.substr(0, s.size() - 3);
    });

namespace {

void SetEntry(std::vector<uint8_t>& disk, uint64_t sector, int index, uint8_t type, uint32_t start) {
  uint8_t* e = disk.data() + sector * 512 + 446 + index * 16;
  e[4] = type;
  std::memcpy(e + 8, &start, 4);  // little-endian host
  disk[sector * 512 + 510] = 0x55;
  disk[sector * 512 + 511] = 0xAA;
}

void SetGptName(std::vector<uint8_t>& disk, int index, const std::u16string& name) {
  uint8_t* p = disk.data() + 2 * 512 + index * 128 + 56;
  for (size_t i = 0; i < name.size(); ++i) {
    p[2 * i] = static_cast<uint8_t>(name[i] & 0xFF);
    p[2 * i + 1] = static_cast<uint8_t>(name[i] >> 8);
  }
}

}  // namespace

// An extended chain whose second table links back to the first: the walk stops, and a 0x42 entry
// placed after the loop is never reached.
TEST(DynamicDisk, LoopingExtendedChainTerminates) {
  std::vector<uint8_t> bytes(64 * 512, 0);
  SetEntry(bytes, 0, 0, 0x05, 10);  // extended at 10: the base of the logical tables
  SetEntry(bytes, 10, 0, 0x07, 1);
  SetEntry(bytes, 10, 1, 0x05, 10);  // next table at base + 10 = 20
  SetEntry(bytes, 20, 0, 0x07, 1);
  SetEntry(bytes, 20, 1, 0x05, 0);  // back to base + 0 = 10
  MemoryDevice disk(bytes);
  EXPECT_FALSE(DetectDynamicDisk(&disk, disk.GetSectorCount(), 512));
  EXPECT_LT(disk.ReadCount(), 10u);

  // A table linking to itself.
  std::vector<uint8_t> self(64 * 512, 0);
  SetEntry(self, 0, 0, 0x0F, 0);
  MemoryDevice selfDisk(self);
  EXPECT_FALSE(DetectDynamicDisk(&selfDisk, selfDisk.GetSectorCount(), 512));
}

TEST(DynamicDisk, LogicalTablesAreAddressedFromTheFirstExtendedPartition) {
  std::vector<uint8_t> bytes(128 * 512, 0);
  SetEntry(bytes, 0, 1, 0x85, 40);   // base 40
  SetEntry(bytes, 40, 1, 0x05, 20);  // next table at 40 + 20 = 60, not at 20
  SetEntry(bytes, 60, 0, 0x42, 1);
  SetEntry(bytes, 20, 0, 0x07, 1);  // a decoy at the unbased address
  MemoryDevice disk(bytes);
  EXPECT_TRUE(DetectDynamicDisk(&disk, disk.GetSectorCount(), 512));
}

TEST(DynamicDisk, ChainPointingPastTheDiskEndStops) {
  std::vector<uint8_t> bytes(16 * 512, 0);
  SetEntry(bytes, 0, 0, 0x05, 0xFFFFFFF0u);
  MemoryDevice disk(bytes);
  EXPECT_FALSE(DetectDynamicDisk(&disk, disk.GetSectorCount(), 512));
}

TEST(DynamicDisk, SmallOrSizelessDisksAreNeverDynamic) {
  std::vector<uint8_t> six(6 * 512, 0);
  SetEntry(six, 0, 0, 0x42, 1);
  MemoryDevice sixSectors(six);
  EXPECT_FALSE(DetectDynamicDisk(&sixSectors, 6, 512));
  EXPECT_EQ(sixSectors.ReadCount(), 0u);
  EXPECT_FALSE(DetectDynamicDisk(&sixSectors, 6, 0));

  std::vector<uint8_t> seven(7 * 512, 0);
  SetEntry(seven, 0, 0, 0x42, 1);
  MemoryDevice sevenSectors(seven);
  EXPECT_TRUE(DetectDynamicDisk(&sevenSectors, 7, 512));
  EXPECT_FALSE(DetectDynamicDisk(nullptr, 7, 512));
}

TEST(DynamicDisk, UnreadableSectorSixKeepsTheTableAnswer) {
  std::vector<uint8_t> ldm(64 * 512, 0);
  SetEntry(ldm, 0, 3, 0x42, 1);
  MemoryDevice mbrDisk(ldm);
  mbrDisk.SetBadSector(6);
  EXPECT_TRUE(DetectDynamicDisk(&mbrDisk, mbrDisk.GetSectorCount(), 512));

  std::vector<uint8_t> gpt(64 * 512, 0);
  SetEntry(gpt, 0, 0, 0xEE, 1);
  SetGptName(gpt, 0, u"LDM metadata partition");
  SetGptName(gpt, 3, u"LDM data partition");
  MemoryDevice gptDisk(gpt);
  EXPECT_TRUE(DetectDynamicDisk(&gptDisk, gptDisk.GetSectorCount(), 512));
  gptDisk.SetBadSector(6);
  EXPECT_FALSE(DetectDynamicDisk(&gptDisk, gptDisk.GetSectorCount(), 512));
}

TEST(DynamicDisk, GptNamesMustBothBeInTheFirstFourEntriesBehindAProtectiveMbr) {
  std::vector<uint8_t> gpt(64 * 512, 0);
  SetEntry(gpt, 0, 0, 0xEE, 1);
  SetGptName(gpt, 1, u"LDM metadata partition");
  SetGptName(gpt, 2, u"LDM data partition");
  {
    MemoryDevice disk(gpt);
    EXPECT_TRUE(DetectDynamicDisk(&disk, disk.GetSectorCount(), 512));
  }
  {
    auto moved = gpt;
    SetEntry(moved, 0, 0, 0x07, 1);  // no protective entry in the first slot
    MemoryDevice disk(moved);
    EXPECT_FALSE(DetectDynamicDisk(&disk, disk.GetSectorCount(), 512));
  }
  {
    auto unreadable = gpt;
    MemoryDevice disk(unreadable);
    disk.SetBadSector(2);
    EXPECT_FALSE(DetectDynamicDisk(&disk, disk.GetSectorCount(), 512));
  }
  {
    auto renamed = gpt;
    SetGptName(renamed, 2, u"LDM dat");  // a different name
    std::memset(renamed.data() + 2 * 512 + 2 * 128 + 56 + 14, 0, 40);
    MemoryDevice disk(renamed);
    EXPECT_FALSE(DetectDynamicDisk(&disk, disk.GetSectorCount(), 512));
  }
}

// The device fills one sector of its own size, whatever size the caller passes.
TEST(DynamicDisk, LargerDeviceSectorsDoNotOverrunTheBuffer) {
  std::vector<uint8_t> bytes(16 * 4096, 0);
  SetEntry(bytes, 0, 0, 0x42, 1);
  MemoryDevice disk(bytes, 4096);
  EXPECT_TRUE(DetectDynamicDisk(&disk, disk.GetSectorCount(), 512));
  EXPECT_TRUE(DetectDynamicDisk(&disk, disk.GetSectorCount(), 4096));
}
