// The LDM reader over databases written by the test builder: what it lists must be what the
// description said, for every kind of volume; damaged databases end cleanly and never make a volume
// read outside its member disks.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "storage/ImageFileDevice.h"
#include "storage/LdmDatabase.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"
#include "support/LdmImageBuilder.h"

namespace ldm = corvale::test::ldm;

namespace {

constexpr uint64_t kDiskSectors = 8192;
constexpr uint64_t kLogicalStart = 63;

std::string DiskGuid(size_t i) { return "5c3a7e10-3f2b-11d0-a5be-00a0c91db7" + std::to_string(10 + i); }

ldm::Header HeaderOf(size_t i, uint64_t sectors = kDiskSectors) {
  ldm::Header h;
  h.diskGuid = DiskGuid(i);
  h.logicalStart = kLogicalStart;
  h.configStart = sectors - 2048;
  h.logicalSize = h.configStart - kLogicalStart;
  return h;
}

// Disks in memory, each carrying the same database (as every disk of a group does).
std::vector<std::unique_ptr<MemoryDevice>> MakeDisks(size_t count, const std::vector<uint8_t>& slots) {
  std::vector<std::unique_ptr<MemoryDevice>> disks;
  for (size_t i = 0; i < count; ++i) {
    std::vector<uint8_t> bytes(kDiskSectors * 512, 0);
    ldm::WriteDatabase(bytes, HeaderOf(i), slots, true);
    disks.push_back(std::make_unique<MemoryDevice>(std::move(bytes)));
  }
  return disks;
}

std::vector<IStorageDevice*> Pointers(const std::vector<std::unique_ptr<MemoryDevice>>& disks,
                                      const std::vector<size_t>& present) {
  std::vector<IStorageDevice*> out;
  for (size_t i : present) out.push_back(disks[i].get());
  return out;
}

// A stand-in for the engines' detector: a sector beginning "FAKENTFS" holds a volume whose size is
// the little-endian number at byte 8, labelled by the text at 16.
DetectedFileSystem FakeDetect(IStorageDevice& device, uint64_t start) {
  std::vector<uint8_t> sector(static_cast<size_t>(device.GetSectorSize()));
  if (!device.ReadSectors(sector.data(), start, 1) || std::memcmp(sector.data(), "FAKENTFS", 8) != 0)
    return {};
  DetectedFileSystem found;
  found.type = 3;
  std::memcpy(&found.sectorCount, sector.data() + 8, 8);
  found.label = reinterpret_cast<const char*>(sector.data() + 16);
  return found;
}

// Builds a description volume by volume.
struct Builder {
  ldm::Description d;
  uint64_t next = 0x40;

  explicit Builder(size_t disks, bool secondRevision = false) {
    for (size_t i = 0; i < disks; ++i)
      d.disks.push_back({0x10 + i, "Disk" + std::to_string(i + 1), DiskGuid(i), secondRevision});
  }
  // A volume of one component over (disk, start, offset, size) fragments; returns the component id.
  uint64_t Volume(const std::string& name, uint8_t volumeType, uint64_t size, uint8_t componentType,
                  const std::vector<std::array<uint64_t, 4>>& fragments, uint64_t stripe = 0,
                  size_t components = 1) {
    const uint64_t volume = next++;
    ldm::VolumeRecord v;
    v.id = volume;
    v.name = name;
    v.volumeType = volumeType;
    v.size = size;
    v.components = components;
    v.guid[0] = static_cast<uint8_t>(volume);
    d.volumes.push_back(v);
    for (size_t c = 0; c < components; ++c) Component(volume, componentType, fragments, stripe, c);
    return volume;
  }
  void Component(uint64_t volume, uint8_t componentType,
                 const std::vector<std::array<uint64_t, 4>>& fragments, uint64_t stripe, size_t copy) {
    const uint64_t component = next++;
    d.components.push_back({component, "Comp" + std::to_string(component), componentType, volume,
                            fragments.size(), stripe, stripe ? fragments.size() : 0});
    int32_t column = 0;
    for (const auto& [disk, start, offset, size] : fragments) {
      // A mirror's second copy lies on the next disk.
      d.partitions.push_back({next++, "Part", start, offset, size, component, 0x10 + disk + copy,
                              componentType == 2 ? -1 : column++});
    }
  }
};

struct Expected {
  std::string name;
  std::string kind;
  int64_t sectors;
  // (disk index or -1, start on the disk, offset, length), in the device's order.
  std::vector<std::array<int64_t, 4>> extents;
};

struct DatabaseCase {
  const char* name;
  size_t disks;
  std::vector<size_t> present;
  std::function<ldm::Description()> describe;
  std::vector<Expected> expected;
};

void CheckVolumes(const DynamicVolumeList& list, const std::vector<Expected>& expected,
                  const std::vector<std::unique_ptr<MemoryDevice>>& disks) {
  ASSERT_EQ(list.size(), expected.size());
  for (size_t i = 0; i < list.size(); ++i) {
    const DynamicVolumeRecord& r = *list[i];
    const Expected& e = expected[i];
    EXPECT_EQ(r.VolumeName, e.name);
    EXPECT_EQ(r.KindName, e.kind) << e.name;
    EXPECT_EQ(r.SectorCount, e.sectors) << e.name;
    EXPECT_EQ(r.DiskGroupName, "CorvaleDg0");
    ASSERT_TRUE(r.Device);
    std::vector<DynamicExtent> extents;
    r.Device->GetExtents(extents);
    std::vector<std::array<int64_t, 4>> got;
    for (const auto& x : extents) {
      int64_t disk = -1;
      for (size_t k = 0; k < disks.size(); ++k)
        if (x.disk == disks[k].get()) disk = static_cast<int64_t>(k);
      got.push_back({disk, static_cast<int64_t>(x.start), static_cast<int64_t>(x.offset),
                     static_cast<int64_t>(x.length)});
    }
    EXPECT_EQ(got, e.extents) << e.name;
  }
}

class LdmDatabase : public ::testing::TestWithParam<DatabaseCase> {};

TEST_P(LdmDatabase, ListsTheVolumesTheDatabaseDescribes) {
  const DatabaseCase& c = GetParam();
  auto disks = MakeDisks(c.disks, ldm::VblkSlots(c.describe()));
  DynamicVolumeList list;
  EXPECT_EQ(LoadDynamicVolumes(Pointers(disks, c.present), list, FakeDetect),
            static_cast<int>(c.expected.size()));
  CheckVolumes(list, c.expected, disks);
}

constexpr int64_t L = kLogicalStart;

INSTANTIATE_TEST_SUITE_P(
    Kinds, LdmDatabase,
    ::testing::Values(
        DatabaseCase{"Simple",
                     1,
                     {0},
                     [] {
                       Builder b(1);
                       b.Volume("Volume1", 3, 1000, 2, {{0, 100, 0, 1000}});
                       return b.d;
                     },
                     {{"Volume1", "SIMPLE", 1000, {{0, L + 100, 0, 1000}}}}},
        DatabaseCase{
            "SpannedOverThreeDisks",
            3,
            {0, 1, 2},
            [] {
              Builder b(3);
              b.Volume("Span", 3, 1000, 2, {{2, 40, 800, 200}, {0, 10, 0, 300}, {1, 20, 300, 500}});
              return b.d;
            },
            {{"Span", "SPANNED", 1000, {{0, L + 10, 0, 300}, {1, L + 20, 300, 500}, {2, L + 40, 800, 200}}}}},
        DatabaseCase{"StripedWithOddStripe",
                     2,
                     {1, 0},
                     [] {
                       Builder b(2);
                       b.Volume("Stripe", 3, 1400, 1, {{1, 0, 0, 700}, {0, 0, 0, 700}}, 7);
                       return b.d;
                     },
                     {{"Stripe", "STRIPPED", 1400, {{1, L, 0, 700}, {0, L, 0, 700}}}}},
        DatabaseCase{
            "Raid5OfThreeThousandSectorExtents",
            3,
            {0, 1, 2},
            [] {
              Builder b(3);
              b.Volume("Parity", 4, 2000, 3, {{0, 5, 0, 1000}, {1, 5, 0, 1000}, {2, 5, 0, 1000}});
              return b.d;
            },
            {{"Parity", "RAID5", 2000, {{0, L + 5, 0, 1000}, {1, L + 5, 0, 1000}, {2, L + 5, 0, 1000}}}}},
        DatabaseCase{"MirrorOfTwoSimpleCopies",
                     2,
                     {0, 1},
                     [] {
                       Builder b(2);
                       b.Volume("Mirror", 3, 900, 2, {{0, 30, 0, 900}}, 0, 2);
                       return b.d;
                     },
                     {{"Mirror", "MIRROR", 900, {{1, L + 30, 0, 900}, {0, L + 30, 0, 900}}}}},
        DatabaseCase{"MirrorWithOneSideMissing",
                     2,
                     {0},
                     [] {
                       Builder b(2);
                       b.Volume("Mirror", 3, 900, 2, {{0, 30, 0, 900}}, 0, 2);
                       return b.d;
                     },
                     {{"Mirror", "MIRROR", 900, {{0, L + 30, 0, 900}}}}},
        DatabaseCase{"SecondRevisionDiskRecords",
                     2,
                     {0, 1},
                     [] {
                       Builder b(2, true);
                       b.Volume("Rev2", 3, 200, 1, {{0, 0, 0, 100}, {1, 0, 0, 100}}, 3);
                       return b.d;
                     },
                     {{"Rev2", "STRIPPED", 200, {{0, L, 0, 100}, {1, L, 0, 100}}}}},
        DatabaseCase{"RecordsSplitOverSlots",
                     1,
                     {0},
                     [] {
                       Builder b(1);
                       b.Volume(std::string(120, 'N'), 3, 64, 2, {{0, 0, 0, 64}});
                       b.d.disks[0].name = std::string(200, 'D');
                       return b.d;
                     },
                     {{std::string(120, 'N'), "SIMPLE", 64, {{0, L, 0, 64}}}}},
        DatabaseCase{"EveryVolumeOnceThoughEveryDiskCarriesTheDatabase",
                     2,
                     {0, 1},
                     [] {
                       Builder b(2);
                       b.Volume("A", 3, 100, 2, {{0, 0, 0, 100}});
                       b.Volume("B", 3, 300, 1, {{0, 100, 0, 150}, {1, 100, 0, 150}}, 16);
                       b.Volume("C", 3, 50, 2, {{1, 400, 0, 50}});
                       return b.d;
                     },
                     {{"A", "SIMPLE", 100, {{0, L, 0, 100}}},
                      {"B", "STRIPPED", 300, {{0, L + 100, 0, 150}, {1, L + 100, 0, 150}}},
                      {"C", "SIMPLE", 50, {{1, L + 400, 0, 50}}}}},
        // Broken descriptions: volumes that are not complete are left out, the rest stays.
        DatabaseCase{"ComponentOfNoVolume",
                     1,
                     {0},
                     [] {
                       Builder b(1);
                       b.Volume("Orphan", 3, 100, 2, {{0, 0, 0, 100}});
                       b.d.components[0].volume = 0x999;
                       b.Volume("Kept", 3, 10, 2, {{0, 200, 0, 10}});
                       return b.d;
                     },
                     {{"Kept", "SIMPLE", 10, {{0, L + 200, 0, 10}}}}},
        DatabaseCase{"PartitionOfNoDisk",
                     1,
                     {0},
                     [] {
                       Builder b(1);
                       b.Volume("Lost", 3, 100, 2, {{0, 0, 0, 100}});
                       b.d.partitions[0].disk = 0x999;
                       return b.d;
                     },
                     {}},
        DatabaseCase{"UnknownVolumeAndComponentTypes",
                     1,
                     {0},
                     [] {
                       Builder b(1);
                       b.Volume("BadVolume", 9, 100, 2, {{0, 0, 0, 100}});
                       b.Volume("BadComponent", 3, 100, 7, {{0, 0, 0, 100}});
                       return b.d;
                     },
                     {}},
        DatabaseCase{"DuplicateObjectIdsLinkOnce",
                     1,
                     {0},
                     [] {
                       Builder b(1);
                       b.Volume("One", 3, 100, 2, {{0, 0, 0, 100}});
                       b.Volume("Two", 3, 100, 2, {{0, 0, 0, 100}});
                       // Both volumes and both components share their ids: each object is linked to
                       // the first that claims it, so the first volume gets two components of which
                       // the second has no partition, and nothing is complete.
                       b.d.volumes[1].id = b.d.volumes[0].id;
                       b.d.components[1].id = b.d.components[0].id;
                       b.d.components[1].volume = b.d.volumes[0].id;
                       b.d.partitions[1].component = b.d.components[0].id;
                       return b.d;
                     },
                     {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LdmDatabaseSize, SpannedWithAMissingDiskTakesItsSizeFromTheBootSector) {
  Builder b(2);
  b.Volume("Span", 3, 1000, 2, {{0, 10, 0, 600}, {1, 10, 600, 400}});
  auto disks = MakeDisks(2, ldm::VblkSlots(b.d));
  uint8_t* boot = disks[0]->Bytes().data() + (kLogicalStart + 10) * 512;
  std::memcpy(boot, "FAKENTFS", 8);
  const uint64_t total = 999;
  std::memcpy(boot + 8, &total, 8);
  std::strcpy(reinterpret_cast<char*>(boot + 16), "Spanned");
  DynamicVolumeList list;
  ASSERT_EQ(LoadDynamicVolumes(Pointers(disks, {0}), list, FakeDetect), 1);
  EXPECT_EQ(list[0]->SectorCount, 1000);  // the file system's count and one more for the backup boot sector
  EXPECT_EQ(list[0]->FileSystemType, 3);
  EXPECT_EQ(list[0]->Label, "Spanned");
  // Without a boot sector to ask, the database's extents still give the size.
  DynamicVolumeList blind;
  ASSERT_EQ(LoadDynamicVolumes(Pointers(disks, {0}), blind, nullptr), 1);
  EXPECT_EQ(blind[0]->SectorCount, 1000);
  EXPECT_EQ(blind[0]->FileSystemType, 3);  // partition type 0x07
}

TEST(LdmDatabaseHeader, LastSectorIsReadBeforeSectorSix) {
  Builder b(1);
  b.Volume("V", 3, 10, 2, {{0, 0, 0, 10}});
  auto disks = MakeDisks(1, ldm::VblkSlots(b.d));
  ldm::Header other = HeaderOf(0);
  other.group = "AtSectorSix";
  const auto six = ldm::PrivHead(other);
  std::memcpy(disks[0]->Bytes().data() + 6 * 512, six.data(), 512);
  uint8_t block[512];
  ASSERT_TRUE(FindPrivHead(disks[0].get(), block));
  LdmPrivateHeader h;
  ASSERT_TRUE(h.Parse(block, sizeof block));
  EXPECT_EQ(h.groupName, "CorvaleDg0");
  EXPECT_EQ(h.diskGuid, DiskGuid(0));
  EXPECT_EQ(h.configStart, kDiskSectors - 2048);
  EXPECT_EQ(h.logicalDiskStart, kLogicalStart);
  // With the last sector gone, sector 6 answers.
  std::memset(disks[0]->Bytes().data() + (kDiskSectors - 1) * 512, 0, 512);
  ASSERT_TRUE(FindPrivHead(disks[0].get(), block));
  ASSERT_TRUE(h.Parse(block, sizeof block));
  EXPECT_EQ(h.groupName, "AtSectorSix");
}

// A GPT disk partitioned by sgdisk: the private header sits at the end of the metadata partition.
TEST(LdmDatabaseHeader, GptDiskKeepsItAtTheEndOfTheMetadataPartition) {
  CORVALE_FIXTURE(gpt, "gpt_ldm_both.sh", "gpt_ldm_both.img");
  const std::string image = corvale::test::ScratchDir() + "/gpt_dynamic.img";
  std::filesystem::copy_file(gpt, image);
  Builder b(1);
  b.Volume("GptVolume", 3, 2000, 2, {{0, 0, 0, 2000}});
  ldm::Header h = HeaderOf(0);
  h.logicalStart = 4096;  // the data partition
  h.configStart = 2048;   // the metadata partition
  ASSERT_TRUE(ldm::WriteDatabase(image, h, ldm::VblkSlots(b.d), false, 4095));
  CImageFileDevice disk(image);
  ASSERT_TRUE(disk.IsOpened());
  DynamicVolumeList list;
  ASSERT_EQ(LoadDynamicVolumes({&disk}, list, nullptr), 1);
  std::vector<DynamicExtent> extents;
  list[0]->Device->GetExtents(extents);
  ASSERT_EQ(extents.size(), 1u);
  EXPECT_EQ(extents[0].start, 4096u);
  EXPECT_EQ(list[0]->KindName, "SIMPLE");
}

// One field of a GPT header changed per row: none may loop, divide by zero or read past an entry.
TEST(LdmDatabaseHeader, DamagedGptHeadersEndCleanly) {
  struct Row {
    uint32_t entries;
    uint32_t entrySize;
    uint64_t arrayLba;
  };
  for (const Row& row : {Row{128, 0, 2}, Row{128, 64, 2}, Row{128, 1024, 2}, Row{0xFFFFFFFF, 128, 2},
                         Row{4, 128, UINT64_MAX}, Row{128, 384, 2}}) {
    std::vector<uint8_t> bytes(64 * 512, 0);
    std::memcpy(bytes.data() + 512, "EFI PART", 8);
    std::memcpy(bytes.data() + 512 + 72, &row.arrayLba, 8);
    std::memcpy(bytes.data() + 512 + 80, &row.entries, 4);
    std::memcpy(bytes.data() + 512 + 84, &row.entrySize, 4);
    MemoryDevice disk(bytes);
    uint8_t block[512];
    EXPECT_FALSE(FindPrivHead(&disk, block)) << row.entrySize;
  }
}

// Slot-level lies: each row changes the slots of a good database and says how many volumes stay.
struct SlotCase {
  const char* name;
  std::function<void(std::vector<uint8_t>&)> damage;
  size_t volumes;
};

void PutBE(std::vector<uint8_t>& s, size_t at, uint64_t v, unsigned n) {
  for (unsigned i = 0; i < n; ++i) s[at + i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
}

// The good database: disk (slot 0), a volume with a long name over slots 1-2, its component (3) and
// partition (4).
ldm::Description TwoSlotVolume() {
  Builder b(1);
  b.Volume(std::string(100, 'V'), 3, 50, 2, {{0, 0, 0, 50}});
  return b.d;
}

class LdmSlots : public ::testing::TestWithParam<SlotCase> {};

TEST_P(LdmSlots, DamagedRecordsEndCleanly) {
  auto slots = ldm::VblkSlots(TwoSlotVolume());
  ASSERT_EQ(slots.size(), 5 * ldm::kSlot);
  GetParam().damage(slots);
  auto disks = MakeDisks(1, slots);
  DynamicVolumeList list;
  EXPECT_EQ(LoadDynamicVolumes(Pointers(disks, {0}), list, FakeDetect), static_cast<int>(GetParam().volumes));
}

INSTANTIATE_TEST_SUITE_P(
    Lies, LdmSlots,
    ::testing::Values(SlotCase{"Untouched", [](auto&) {}, 1},
                      SlotCase{"SequenceNumbersLie",
                               [](auto& s) {
                                 for (size_t k = 0; k < 5; ++k) PutBE(s, k * 128 + 4, 0xFFFFFFFF - k * 7, 4);
                               },
                               1},
                      SlotCase{"HugeDataLength", [](auto& s) { PutBE(s, 128 + 20, 0xFFFFFFFF, 4); }, 0},
                      SlotCase{"LengthLongerThanTheSlots",
                               [](auto& s) { PutBE(s, 128 + 20, 104 + 112 + 1, 4); }, 0},
                      SlotCase{"LengthShorterThanTheSlots", [](auto& s) { PutBE(s, 128 + 20, 50, 4); }, 0},
                      SlotCase{"CountTooHigh",
                               [](auto& s) {
                                 PutBE(s, 128 + 14, 3, 2);
                                 PutBE(s, 256 + 14, 3, 2);
                               },
                               0},
                      SlotCase{"CountOneForTwoSlots", [](auto& s) { PutBE(s, 128 + 14, 1, 2); }, 0},
                      SlotCase{"ContinuationMissing", [](auto& s) { s[256] = 'X'; }, 0},
                      SlotCase{"ContinuationNumberedTwo", [](auto& s) { PutBE(s, 256 + 12, 2, 2); }, 0},
                      SlotCase{"ContinuationOfAnotherGroup", [](auto& s) { PutBE(s, 256 + 8, 77, 4); }, 0},
                      SlotCase{"GroupZero", [](auto& s) { PutBE(s, 3 * 128 + 8, 0, 4); }, 0},
                      SlotCase{"TwoRecordsClaimOneGroup",
                               [](auto& s) {
                                 // The disk record's slot becomes a second first slot of the volume's group.
                                 std::vector<uint8_t> copy(s.begin() + 128, s.begin() + 256);
                                 std::copy(copy.begin(), copy.end(), s.begin());
                               },
                               0},
                      SlotCase{"NumberLengthPastTheRecord", [](auto& s) { s[4 * 128 + 24] = 0xFF; }, 0},
                      SlotCase{"ComponentCountLies", [](auto& s) { s[3 * 128 + 24 + 2 + 6] = 0x40; }, 1},
                      SlotCase{"PartitionRecordCut", [](auto& s) { PutBE(s, 4 * 128 + 20, 20, 4); }, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Every read any volume makes stays inside its disk.
void ExpectReadsInside(const std::vector<std::unique_ptr<MemoryDevice>>& disks) {
  for (const auto& disk : disks)
    for (const auto& [first, count] : disk->ReadLog())
      ASSERT_LE(first + count, kDiskSectors) << "read " << first << "+" << count;
}

TEST(LdmDatabaseHostile, ExtentsBeyondTheDiskReadAsZeros) {
  Builder b(2);
  b.Volume("Far", 3, 4000, 2, {{0, kDiskSectors - 100, 0, 2000}, {1, UINT64_MAX / 2, 2000, 2000}});
  b.Volume("Wide", 3, 1000000, 1, {{0, 0, 0, 500000}, {1, 0, 0, 500000}}, 0x7FFFFFFF);
  auto disks = MakeDisks(2, ldm::VblkSlots(b.d));
  DynamicVolumeList list;
  ASSERT_EQ(LoadDynamicVolumes(Pointers(disks, {0, 1}), list, FakeDetect), 2);
  for (const auto& r : list) {
    std::vector<uint8_t> buffer(4096 * 512);
    for (uint64_t at : {uint64_t{0}, static_cast<uint64_t>(r->SectorCount) / 2,
                        static_cast<uint64_t>(r->SectorCount) - 10}) {
      r->Device->ReadSectors(buffer.data(), at, 4096);
    }
  }
  ExpectReadsInside(disks);
}

// Random damage to the private header and the slots of a database holding every kind of volume.
TEST(LdmDatabaseHostile, RandomDamageEndsCleanly) {
  Builder b(3);
  b.Volume("Span", 3, 300, 2, {{0, 0, 0, 100}, {1, 0, 100, 200}});
  b.Volume("Stripe", 3, 300, 1, {{0, 200, 0, 100}, {1, 200, 0, 100}, {2, 200, 0, 100}}, 5);
  b.Volume("Parity", 4, 200, 3, {{0, 400, 0, 100}, {1, 400, 0, 100}, {2, 400, 0, 100}}, 3);
  b.Volume("Mirror", 3, 100, 2, {{0, 600, 0, 100}}, 0, 2);
  b.Volume(std::string(150, 'L'), 3, 10, 2, {{2, 700, 0, 10}});
  const auto good = ldm::VblkSlots(b.d);
  // The same three disks serve every round; each round writes its damaged slots and header over them.
  auto disks = MakeDisks(3, good);
  const uint64_t header = (kDiskSectors - 1) * 512;
  std::mt19937 rng(2024);
  for (int round = 0; round < 300; ++round) {
    auto slots = good;
    const int flips = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < flips; ++i) slots[rng() % slots.size()] = static_cast<uint8_t>(rng());
    for (size_t d = 0; d < disks.size(); ++d) {
      std::vector<uint8_t>& bytes = disks[d]->Bytes();
      std::memcpy(bytes.data() + (kDiskSectors - 2048 + ldm::kFirstVblkSector) * 512, slots.data(),
                  slots.size());
      const auto own = ldm::PrivHead(HeaderOf(d));
      std::memcpy(bytes.data() + header, own.data(), own.size());
    }
    if (round % 4 == 0) {
      // The header too: configuration start, logical start, text fields.
      disks[round % 3]->Bytes()[header + 0x100 + rng() % 0x70] = static_cast<uint8_t>(rng());
    }
    DynamicVolumeList list;
    LoadDynamicVolumes(Pointers(disks, {0, 1, 2}), list, FakeDetect);
    std::vector<uint8_t> buffer(64 * 512);
    for (const auto& r : list) {
      ASSERT_TRUE(r->Device);
      const uint64_t n = static_cast<uint64_t>(r->SectorCount);
      r->Device->ReadSectors(buffer.data(), 0, 64);
      r->Device->ReadSectors(buffer.data(), n > 64 ? n - 64 : 0, 64);
    }
  }
  ExpectReadsInside(disks);
}

}  // namespace
