// The NTFS search recognising the contents of the system files: sectors equal to a piece of the
// standard $UpCase or $AttrDef table, and $LogFile pages, in blocks offered as the driver offers
// them (a page cut by a block end included).

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "ntfs/AttributeDefinitions.h"
#include "ntfs/NTFSSearchController.h"
#include "ntfs/UpCaseTable.h"
#include "storage/MemoryDevice.h"

namespace {

constexpr int64_t kBlock = 8192;

void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

// A log record page or a restart page whose eight stride ends carry its update sequence number.
void WriteLogPage(std::vector<uint8_t>& disk, int64_t sector, bool restart, uint16_t usn) {
  uint8_t* p = &disk[size_t(sector) * 512];
  std::memset(p, 0x5A, 4096);
  if (restart) {
    std::memcpy(p, "RSTR", 4);
    static const uint8_t kClient[8] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
    std::memcpy(p + 0x90, kClient, 8);
    Put16(p + 0x1E, usn);
  } else {
    std::memcpy(p, "RCRD", 4);
    Put16(p + 4, 40);
    Put16(p + 6, 9);
    Put16(p + 40, usn);
  }
  for (size_t s = 0; s < 8; ++s) Put16(p + s * 512 + 510, usn);
}

// Offers the device to the controller block by block, as the search driver does, and stops short of
// the end of the pass (which consumes what is examined here).
void Offer(CNTFSSearchController& c, MemoryDevice& device) {
  c.SetStorageDevice(&device);
  c.SetSectorsPerRead(int32_t(kBlock));
  c.BeginSearch();
  IntelligentSearchSummary summary;
  for (int64_t first = 0; first < device.GetSectorCount(); first += kBlock)
    c.AnalyzeBlock(first, std::min(kBlock, device.GetSectorCount() - first), &summary);
}

TEST(NTFSSystemFileContents, TablesAndLogPagesAreCountedOncePerSector) {
  std::vector<uint8_t> disk(size_t(2 * kBlock + 300) * 512, 0);
  // The whole upcase table (every one of its 256 blocks, the one whose first unit upper-cases into
  // another block too), the five sectors of the attribute-definition table, and a sector of each
  // that differs in its last byte.
  std::memcpy(&disk[1000 * 512], GetNTFSUpCaseTableBytes(), 2 * kNTFSUpCaseUnits);
  const std::vector<uint8_t> attrDef = BuildAttributeDefinitionTable();
  ASSERT_EQ(attrDef.size(), 2560u);
  std::memcpy(&disk[3000 * 512], attrDef.data(), attrDef.size());
  std::memcpy(&disk[3100 * 512], GetNTFSUpCaseTableBytes() + 0x2D * 512, 512);
  disk[3100 * 512 + 511] ^= 1;
  std::memcpy(&disk[3200 * 512], attrDef.data() + 1024, 512);
  disk[3200 * 512 + 511] ^= 1;
  // Log pages: two in a row, one cut by the first block's end, one in the second block, one whose
  // stride end is torn, one cut by the device's end.
  for (int64_t at : {int64_t{5000}, int64_t{5008}, kBlock - 3, kBlock + 700})
    WriteLogPage(disk, at, false, 0x0102);
  WriteLogPage(disk, kBlock + 900, false, 0x0304);
  disk[size_t(kBlock + 903) * 512 + 510] ^= 1;
  std::memcpy(&disk[size_t(2 * kBlock + 296) * 512], "RCRD", 4);
  // A restart page counts as $LogFile contents too.
  WriteLogPage(disk, kBlock + 1200, true, 0x0506);

  MemoryDevice device(disk);
  CNTFSSearchController c;
  Offer(c, device);
  EXPECT_EQ(c.GetUpCaseCollector().GetContentSectorCount(), 256u);
  EXPECT_EQ(c.GetAttrDefCollector().GetContentSectorCount(), 5u);
  EXPECT_EQ(c.GetLogFileCollector().GetContentSectorCount(), 5u);
  EXPECT_EQ(c.GetRestartPages(), std::vector<int64_t>{kBlock + 1200});
  // Nothing of it places a partition without the files' records.
  c.EndSearch();
  EXPECT_TRUE(c.GetCandidates().empty());
  EXPECT_EQ(c.GetUpCaseCollector().GetContentSectorCount(), 0u);
}

TEST(NTFSSystemFileContents, GarbageMatchesNothing) {
  std::mt19937 random(7);
  std::vector<uint8_t> disk(size_t(kBlock + 64) * 512);
  for (auto& b : disk) b = uint8_t(random());
  // Each sector begins like some table sector or page, then goes on at random.
  const uint8_t* upCase = GetNTFSUpCaseTableBytes();
  const std::vector<uint8_t> attrDef = BuildAttributeDefinitionTable();
  for (size_t s = 0; s < disk.size() / 512; ++s) {
    uint8_t* p = &disk[s * 512];
    switch (s % 3) {
      case 0:
        std::memcpy(p, upCase + (s % 256) * 512, 8 + s % 400);
        break;
      case 1:
        std::memcpy(p, attrDef.data() + (s % 5) * 512, 8 + s % 400);
        break;
      default:
        std::memcpy(p, "RCRD", 4);
    }
  }
  MemoryDevice device(disk);
  CNTFSSearchController c;
  Offer(c, device);
  EXPECT_EQ(c.GetUpCaseCollector().GetContentSectorCount(), 0u);
  EXPECT_EQ(c.GetAttrDefCollector().GetContentSectorCount(), 0u);
  EXPECT_EQ(c.GetLogFileCollector().GetContentSectorCount(), 0u);
}

}  // namespace
