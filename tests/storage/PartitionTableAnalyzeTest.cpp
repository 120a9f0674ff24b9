// The MBR, EBR and GPT walks over hand-made sectors: the hostile tables no partitioning tool writes
// (loops, links past the disk, entries of no sectors, bad boot flags), with a stand-in detector.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "storage/MemoryDevice.h"
#include "storage/PartitionTableAnalyze.h"

namespace {

constexpr uint64_t kDiskSectors = 4096;

struct Entry {
  uint8_t flag = 0;
  uint8_t type = 0;
  uint32_t first = 0;
  uint32_t count = 0;
};

class Disk {
 public:
  Disk() : m_bytes(kDiskSectors * 512, 0) {}
  // Writes a table (MBR or EBR) with up to four entries at `sector`.
  Disk& Table(uint64_t sector, std::vector<Entry> entries) {
    uint8_t* s = &m_bytes[sector * 512];
    for (size_t i = 0; i < entries.size(); ++i) {
      uint8_t* e = s + 446 + 16 * i;
      e[0] = entries[i].flag;
      e[4] = entries[i].type;
      std::memcpy(e + 8, &entries[i].first, 4);
      std::memcpy(e + 12, &entries[i].count, 4);
    }
    s[510] = 0x55;
    s[511] = 0xAA;
    return *this;
  }
  MemoryDevice Device() const { return MemoryDevice(m_bytes); }
  std::vector<uint8_t>& Bytes() { return m_bytes; }

 private:
  std::vector<uint8_t> m_bytes;
};

// Recognises the file systems it is told of, by start sector.
FileSystemDetector Stub(std::map<uint64_t, DetectedFileSystem> volumes) {
  return [volumes](IStorageDevice&, uint64_t start) {
    auto it = volumes.find(start);
    return it != volumes.end() ? it->second : DetectedFileSystem{};
  };
}

std::vector<std::pair<int64_t, int64_t>> Read(const Disk& disk, FileSystemDetector detector = {}) {
  MemoryDevice device = disk.Device();
  PartitionRecordList list;
  CPartitionTableAnalyze(std::move(detector)).AnalyzeBasicDiskPartitions(&device, list);
  std::vector<std::pair<int64_t, int64_t>> out;
  for (const auto& r : list) {
    out.push_back({r->StartSector, r->SectorCount});
    EXPECT_NE(r->Device, nullptr);
    EXPECT_EQ(r->Device->GetSectorCount(), r->SectorCount);
  }
  return out;
}

using Layout = std::vector<std::pair<int64_t, int64_t>>;

TEST(MbrTable, PrimaryEntriesAreListedInOrder) {
  Disk disk;
  disk.Table(0, {{0x80, 0x07, 63, 100}, {0, 0x83, 200, 50}});
  EXPECT_EQ(Read(disk), (Layout{{63, 100}, {200, 50}}));
}

TEST(MbrTable, ABootFlagOtherThan0Or80RejectsTheWholeTable) {
  Disk disk;
  disk.Table(0, {{0x80, 0x07, 63, 100}, {0x01, 0x83, 200, 50}});
  EXPECT_TRUE(Read(disk).empty());
}

TEST(MbrTable, ADynamicEntryMeansNoRecords) {
  Disk disk;
  disk.Table(0, {{0, 0x07, 63, 100}, {0, 0x42, 200, 50}});
  EXPECT_TRUE(Read(disk).empty());
}

TEST(MbrTable, EntriesPastTheDeviceAreDroppedAndOverlongOnesCut) {
  Disk disk;
  disk.Table(0, {{0, 0x07, 5000, 10}, {0, 0x83, 4000, 500}, {0, 0x83, 0xFFFFFFFF, 0xFFFFFFFF}});
  EXPECT_EQ(Read(disk), (Layout{{4000, 96}}));
}

TEST(MbrTable, AnEntryOfNoSectorsIsKeptOnlyWhenAFileSystemSizesIt) {
  Disk disk;
  disk.Table(0, {{0, 0x07, 100, 0}, {0, 0x07, 300, 0}});
  DetectedFileSystem ntfs{3, 150, "VOL"};
  EXPECT_EQ(Read(disk, Stub({{300, ntfs}})), (Layout{{300, 150}}));
}

TEST(MbrTable, AFileSystemFarLargerThanItsEntryIsListedTwiceTableSizeFirst) {
  Disk disk;
  disk.Table(0, {{0, 0x05, 100, 3900}});
  disk.Table(100, {{0, 0x07, 10, 50}});
  // 40,000 sectors more than the entry: the device is too small for that, so it is made larger.
  Disk big;
  big.Bytes().resize(50000 * 512);
  std::memcpy(big.Bytes().data(), disk.Bytes().data(), 512 * 101);
  EXPECT_EQ(Read(big, Stub({{110, {3, 40050, ""}}})), (Layout{{110, 50}, {110, 40050}}));
  // A smaller disagreement gives one record, sized by the file system.
  EXPECT_EQ(Read(big, Stub({{110, {3, 60, ""}}})), (Layout{{110, 60}}));
}

TEST(MbrTable, ADiskWithoutATableShowsItsVolume) {
  Disk disk;
  EXPECT_EQ(Read(disk, Stub({{0, {2, 1000, "FLOPPY"}}})), (Layout{{0, 1000}}));
  EXPECT_EQ(Read(disk, Stub({{0, {2, 99999, "FLOPPY"}}})), (Layout{{0, int64_t(kDiskSectors)}}));
}

TEST(EbrChain, LogicalsFollowTheChainToItsEnd) {
  Disk disk;
  disk.Table(0, {{0, 0x0F, 1000, 3000}});
  disk.Table(1000, {{0, 0x83, 63, 100}, {0, 0x05, 500, 600}});
  disk.Table(1500, {{0, 0x07, 63, 200}, {0, 0x05, 1000, 600}});
  disk.Table(2000, {{0, 0x0B, 63, 300}});
  EXPECT_EQ(Read(disk), (Layout{{1063, 100}, {1563, 200}, {2063, 300}}));
}

TEST(EbrChain, ALinkBackToTheFirstEbrEndsTheWalk) {
  Disk disk;
  disk.Table(0, {{0, 0x05, 1000, 3000}});
  disk.Table(1000, {{0, 0x83, 63, 100}, {0, 0x05, 500, 600}});
  disk.Table(1500, {{0, 0x07, 63, 200}, {0, 0x05, 0, 600}});
  EXPECT_EQ(Read(disk), (Layout{{1063, 100}, {1563, 200}}));
}

TEST(EbrChain, LinksThatLoopWithoutAnyPartitionEnd) {
  Disk disk;
  disk.Table(0, {{0, 0x05, 1000, 3000}});
  disk.Table(1000, {{0, 0x05, 500, 600}});
  disk.Table(1500, {{0, 0x05, 0, 600}, {0, 0x05, 500, 600}});
  EXPECT_TRUE(Read(disk).empty());
}

TEST(EbrChain, ALinkThatPointsToItselfEnds) {
  Disk disk;
  disk.Table(0, {{0, 0x05, 1000, 3000}});
  disk.Table(1000, {{0, 0x83, 63, 100}, {0, 0x05, 0, 600}});
  EXPECT_EQ(Read(disk), (Layout{{1063, 100}}));
}

TEST(EbrChain, ALinkPastTheDiskEndsTheChainKeepingWhatCameBefore) {
  Disk disk;
  disk.Table(0, {{0, 0x05, 1000, 3000}});
  disk.Table(1000, {{0, 0x83, 63, 100}, {0, 0x05, 0xFFFFF000, 600}});
  EXPECT_EQ(Read(disk), (Layout{{1063, 100}}));
}

TEST(EbrChain, AnEbrWithoutItsMarkEndsTheChain) {
  Disk disk;
  disk.Table(0, {{0, 0x05, 1000, 3000}});
  disk.Table(1000, {{0, 0x83, 63, 100}, {0, 0x05, 500, 600}});
  disk.Table(1500, {{0, 0x07, 63, 200}});
  disk.Bytes()[1500 * 512 + 510] = 0;
  EXPECT_EQ(Read(disk), (Layout{{1063, 100}}));
}

TEST(EbrChain, AnUnreadableEbrEndsTheChain) {
  Disk disk;
  disk.Table(0, {{0, 0x05, 1000, 3000}});
  disk.Table(1000, {{0, 0x83, 63, 100}, {0, 0x05, 500, 600}});
  disk.Table(1500, {{0, 0x07, 63, 200}});
  MemoryDevice device = disk.Device();
  device.SetBadSector(1500);
  PartitionRecordList list;
  EXPECT_EQ(CPartitionTableAnalyze({}).AnalyzeBasicDiskPartitions(&device, list), 1);
}

// ---- GPT without a usable header: the entry array at sector 2 as it stands

void PutGuid(uint8_t* at, const char* text) {
  // Only the types the tests use.
  static const std::map<std::string, std::vector<uint8_t>> guids = {
      {"basic",
       {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44, 0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}},
      {"mbr",
       {0x41, 0xEE, 0x4D, 0x02, 0xE7, 0x33, 0xD3, 0x11, 0x9D, 0x69, 0x00, 0x08, 0xC7, 0x81, 0xF3, 0x9F}},
      {"vendor", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
  };
  const auto& g = guids.at(text);
  std::memcpy(at, g.data(), 16);
}

void PutGptEntry(Disk& disk, int index, const char* type, uint64_t first, uint64_t last) {
  uint8_t* e = &disk.Bytes()[2 * 512 + 128 * index];
  PutGuid(e, type);
  std::memcpy(e + 32, &first, 8);
  std::memcpy(e + 40, &last, 8);
}

TEST(GptEntries, GuidTextIsMixedEndianUpperCase) {
  uint8_t entry[128] = {};
  PutGuid(entry, "basic");
  EXPECT_EQ(CPartitionTableAnalyze::FormatGptGuid(entry), "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
  EXPECT_EQ(CPartitionTableAnalyze::IsListedGptType(entry), 1);
  PutGuid(entry, "mbr");
  EXPECT_EQ(CPartitionTableAnalyze::IsListedGptType(entry), 0);
  PutGuid(entry, "vendor");
  EXPECT_EQ(CPartitionTableAnalyze::IsListedGptType(entry), 0);
}

TEST(GptEntries, ListedEntriesInsideTheDeviceOnly) {
  Disk disk;
  disk.Table(0, {{0, 0xEE, 1, 0xFFFFFFFF}});
  PutGptEntry(disk, 0, "basic", 100, 199);
  PutGptEntry(disk, 1, "mbr", 300, 399);
  PutGptEntry(disk, 2, "vendor", 400, 499);
  PutGptEntry(disk, 3, "basic", 0x8000000000000000ull, 0x8000000000000100ull);  // a start with no address
  PutGptEntry(disk, 4, "basic", 700, 600);                                      // ends before it starts
  PutGptEntry(disk, 5, "basic", 4000, 9999);                                    // runs past the end
  PutGptEntry(disk, 6, "basic", 900, 899);                                      // no sectors
  EXPECT_EQ(Read(disk, Stub({{100, {3, 90, ""}}})), (Layout{{100, 90}, {4000, 96}}));
}

TEST(GptEntries, OnlyTheFirst128EntriesAreRead) {
  Disk disk;
  disk.Table(0, {{0, 0xEE, 1, 0xFFFFFFFF}});
  PutGptEntry(disk, 127, "basic", 100, 199);
  // Entry 128 would lie in sector 34.
  uint8_t* e = &disk.Bytes()[34 * 512];
  PutGuid(e, "basic");
  EXPECT_EQ(Read(disk), (Layout{{100, 100}}));
}

TEST(PartitionTableTexts, TypeNamesAndMbrTypes) {
  EXPECT_STREQ(GetFileSystemTypeName(0), "FAT12");
  EXPECT_STREQ(GetFileSystemTypeName(5), "EXT3");
  EXPECT_STREQ(GetFileSystemTypeName(6), "UNKNOWN");
  EXPECT_STREQ(GetFileSystemTypeName(-1), "UNKNOWN");
  const std::pair<uint8_t, int32_t> rows[] = {{0x01, 0}, {0x11, 0}, {0x0E, 1}, {0x1E, 1},
                                              {0x0C, 2}, {0x1B, 2}, {0x07, 3}, {0x17, 3},
                                              {0x83, 4}, {0x93, 4}, {0x05, 7}, {0xEE, 7}};
  for (auto [mbr, type] : rows) EXPECT_EQ(MbrTypeToFileSystemType(mbr), type) << int(mbr);
}

}  // namespace
