// Boot sectors as the NTFS search controller reads them: each is a partition's first sector and,
// read again, the last sector of one that starts its total sector count earlier.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "NtfsTestVolume.h"
#include "core/IntelligentSearchController.h"
#include "ntfs/NTFSSearchController.h"
#include "storage/MemoryDevice.h"

namespace {

struct BootCase {
  const char* name;
  int64_t deviceSectors;
  uint64_t totalSectors;
  std::vector<int64_t> bootAt;
  std::map<int64_t, uint32_t> expected;  // start -> found-by flags (8 sectors per cluster)
};

TEST(NTFSSearchControllerBoot, CandidatesFromBootSectors) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  const BootCase cases[] = {
      // The backup reading would start before the device: only the primary reading is left.
      {"alone", 16384, 1000000, {2048}, {{2048, 0x01}}},
      // Primary and backup: the primary's own backup reading (at 1000) is taken back and leaves; the
      // backup's primary reading stays, since more than 7 sectors follow it.
      {"pair", 16384, 4000, {5000, 9000}, {{5000, 0x03}, {9000, 0x01}}},
      // A backup with nothing before it is read as the last sector of a partition of its size.
      {"backup only", 16384, 4000, {9000}, {{5000, 0x02}, {9000, 0x01}}},
      // Sizes that no device has place nothing and overflow nothing.
      {"huge", 16384, 0x8000000000000005ull, {3000}, {}},
      {"empty", 16384, 0, {3000}, {}},
  };
  for (const BootCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes(static_cast<size_t>(c.deviceSectors) * 512, 0);
    for (int64_t at : c.bootAt) {
      uint8_t* sector = &bytes[static_cast<size_t>(at) * 512];
      std::memcpy(sector, volume->image.data(), 512);
      for (int b = 0; b < 8; ++b) sector[0x28 + b] = static_cast<uint8_t>(c.totalSectors >> (8 * b));
    }
    MemoryDevice device(bytes);
    CNTFSSearchController controller;
    CIntelligentSearchController driver;
    driver.SetStartSectorSource([] { return uint64_t{0}; });
    driver.SetStorageDevice(&device);
    driver.AddFileSystemSearchController(&controller);
    ASSERT_EQ(driver.Search(nullptr), 1);
    EXPECT_EQ(driver.GetSummary().NTFSBootRecords, static_cast<int64_t>(c.bootAt.size()));
    std::map<int64_t, uint32_t> found;
    for (const auto& [key, candidate] : controller.GetCandidates()) {
      EXPECT_EQ(key.second, 8u);
      EXPECT_GT(candidate->GetSectorCount(), 7);
      EXPECT_LE(candidate->GetStartSector() + candidate->GetSectorCount(), c.deviceSectors);
      found[key.first] = candidate->GetFoundByFlags();
    }
    EXPECT_EQ(found, c.expected);
  }
}

}  // namespace
