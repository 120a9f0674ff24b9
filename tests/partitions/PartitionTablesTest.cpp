// The partition tables of disks made by sfdisk and sgdisk, read as the program reads them, held
// against what the tools themselves report; then the same GPT disk with one header field or entry
// broken at a time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <vector>

#include "DiskTools.h"
#include "core/FileSystemEngine.h"
#include "storage/ImageFileDevice.h"
#include "storage/PartitionTableAnalyze.h"
#include "support/Fixtures.h"

using namespace corvale::test;

namespace {

PartitionRecordList ReadTables(const std::string& image) {
  CImageFileDevice device(image);
  EXPECT_TRUE(device.IsOpened()) << image;
  PartitionRecordList list;
  MakePartitionTableAnalyze().AnalyzeBasicDiskPartitions(&device, list);
  // The windows look into `device`, which ends here; the tests only need the numbers.
  for (auto& record : list) record->Device.reset();
  return list;
}

// Every partition the tool reports, once, in order, at its start; sized by the table or by the file
// system inside it (which may leave out the last block or the backup boot sector), with the file
// system and label blkid finds there.
void ExpectSameAsTools(const std::string& image, const PartitionRecordList& read,
                       const std::vector<ToolPartition>& tool) {
  ASSERT_EQ(read.size(), tool.size()) << image;
  for (size_t i = 0; i < tool.size(); ++i) {
    SCOPED_TRACE("partition " + std::to_string(i + 1) + " at " + std::to_string(tool[i].start));
    EXPECT_EQ(read[i]->StartSector, tool[i].start);
    const ToolFileSystem fs = BlkidAt(image, tool[i].start);
    EXPECT_EQ(read[i]->FileSystemType, fs.type);
    EXPECT_EQ(std::string(read[i]->Label), fs.label);
    if (fs.type == 7) {
      EXPECT_EQ(read[i]->SectorCount, tool[i].sectors);
    } else {
      EXPECT_LE(read[i]->SectorCount, tool[i].sectors);
      EXPECT_GE(read[i]->SectorCount, tool[i].sectors - 8);
    }
  }
}

struct TableCase {
  const char* script;
  const char* image;
  bool gpt;
};

class PartitionTables : public ::testing::TestWithParam<TableCase> {};

TEST_P(PartitionTables, ReadAsTheToolsReportThem) {
  const TableCase c = GetParam();
  CORVALE_FIXTURE(image, c.script, c.image);
  if (!HaveTool("blkid")) GTEST_SKIP() << "blkid is not installed";
  const std::vector<ToolPartition> tool = c.gpt ? SgdiskPartitions(image) : SfdiskPartitions(image);
  ASSERT_FALSE(tool.empty()) << "the tool lists no partition of " << image;
  ExpectSameAsTools(image, ReadTables(image), tool);
}

INSTANTIATE_TEST_SUITE_P(Disks, PartitionTables,
                         ::testing::Values(TableCase{"parts_mbr_primary.sh", "parts_mbr_primary.img", false},
                                           TableCase{"parts_mbr_extended.sh", "parts_mbr_extended.img",
                                                     false},
                                           TableCase{"parts_gpt_many.sh", "parts_gpt_many.img", true},
                                           TableCase{"parts_gpt_hybrid.sh", "parts_gpt_hybrid.img", true}),
                         [](const auto& info) {
                           std::string name = info.param.image;
                           name = name.substr(0, name.find('.'));
                           for (char& ch : name)
                             if (ch == '_') ch = 'X';
                           return name;
                         });

// ---- the GPT disk with one thing broken at a time

std::string CopyOf(const std::string& image, const char* name) {
  const std::string copy = ScratchDir() + "/" + name;
  std::filesystem::copy_file(image, copy, std::filesystem::copy_options::overwrite_existing);
  return copy;
}

struct Sectors {
  int fd;
  std::vector<uint8_t> Read(uint64_t lba, size_t count) {
    std::vector<uint8_t> bytes(count * 512);
    EXPECT_EQ(pread(fd, bytes.data(), bytes.size(), off_t(lba * 512)), ssize_t(bytes.size()));
    return bytes;
  }
  void Write(uint64_t lba, const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), off_t(lba * 512)), ssize_t(bytes.size()));
  }
};

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Recomputes the header's own CRC, so that only the changed field is wrong.
void ResealHeader(std::vector<uint8_t>& header) {
  const uint32_t size = Le32(&header[12]);
  PutLe32(&header[16], 0);
  PutLe32(&header[16], uint32_t(crc32(0, header.data(), size)));
}

struct GptBreak {
  const char* name;
  // Changes the disk; the backup table at the end stays unless the row says otherwise.
  std::function<void(Sectors&, uint64_t lastLba)> apply;
};

class BrokenGpt : public ::testing::TestWithParam<GptBreak> {};

TEST_P(BrokenGpt, EndsWithThePartitionsThatCanBeTrusted) {
  CORVALE_FIXTURE(image, "parts_gpt_many.sh", "parts_gpt_many.img");
  const PartitionRecordList pristine = ReadTables(image);
  ASSERT_EQ(pristine.size(), 12u);
  const std::string copy = CopyOf(image, "broken.img");
  const int fd = open(copy.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  Sectors disk{fd};
  GetParam().apply(disk, std::filesystem::file_size(copy) / 512 - 1);
  close(fd);

  const PartitionRecordList read = ReadTables(copy);
  ASSERT_EQ(read.size(), pristine.size());
  for (size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i]->StartSector, pristine[i]->StartSector) << i;
    EXPECT_EQ(read[i]->SectorCount, pristine[i]->SectorCount) << i;
    EXPECT_EQ(read[i]->FileSystemType, pristine[i]->FileSystemType) << i;
  }
}

void SetHeaderField(Sectors& disk, uint64_t lba, size_t offset, uint32_t value, bool reseal) {
  std::vector<uint8_t> header = disk.Read(lba, 1);
  PutLe32(&header[offset], value);
  if (reseal) ResealHeader(header);
  disk.Write(lba, header);
}

INSTANTIATE_TEST_SUITE_P(
    OneFieldBroken, BrokenGpt,
    ::testing::Values(
        GptBreak{"HeaderCrcMismatch",
                 [](Sectors& d, uint64_t) { SetHeaderField(d, 1, 40, 0x12345678, false); }},
        GptBreak{"EntrySizeZero", [](Sectors& d, uint64_t) { SetHeaderField(d, 1, 84, 0, true); }},
        GptBreak{"EntrySizeLargerThanSector",
                 [](Sectors& d, uint64_t) { SetHeaderField(d, 1, 84, 1024, true); }},
        GptBreak{"EntryCountLies", [](Sectors& d, uint64_t) { SetHeaderField(d, 1, 80, 100000, true); }},
        GptBreak{"ArrayCrcMismatch",
                 [](Sectors& d, uint64_t) {
                   // The first entry is moved elsewhere; the array's CRC no longer matches.
                   std::vector<uint8_t> array = d.Read(2, 1);
                   PutLe32(&array[32], 99999);
                   d.Write(2, array);
                 }},
        GptBreak{"BothHeadersBrokenArrayIntact",
                 [](Sectors& d, uint64_t last) {
                   SetHeaderField(d, 1, 84, 0, true);
                   SetHeaderField(d, last, 84, 0, true);
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

// A disk image cut short: the last partition ends past the device and is cut at its end.
TEST(PartitionTablesTruncated, PartitionEndingPastTheDeviceIsCut) {
  CORVALE_FIXTURE(image, "parts_mbr_primary.sh", "parts_mbr_primary.img");
  const std::string copy = CopyOf(image, "short.img");
  const uint64_t sectors = 112518 + 4000;
  std::filesystem::resize_file(copy, sectors * 512);
  const PartitionRecordList read = ReadTables(copy);
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(read[2]->StartSector, 112518);
  EXPECT_EQ(read[2]->SectorCount, 4000);
}

}  // namespace
