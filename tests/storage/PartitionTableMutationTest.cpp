// Random tables: whatever sector 0, the EBRs and the GPT hold, the walk ends and every record lies
// inside the device.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <random>

#include "storage/MemoryDevice.h"
#include "storage/PartitionTableAnalyze.h"

namespace {

TEST(PartitionTableMutation, RandomTablesEndWithRecordsInsideTheDevice) {
  constexpr uint64_t kSectors = 96;
  std::mt19937 random(20261211);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes(kSectors * 512, 0);
    // A few sectors hold table-like bytes: small first-sector values so the links stay on the disk.
    for (int s = 0; s < 8; ++s) {
      const uint64_t sector = s == 0 ? 0 : random() % kSectors;
      uint8_t* p = &bytes[sector * 512];
      for (int e = 0; e < 4; ++e) {
        uint8_t* entry = p + 446 + 16 * e;
        entry[0] = random() % 4 == 0 ? 0x80 : 0;
        const uint8_t types[] = {0x05, 0x0F, 0x07, 0x83, 0x0C, 0xEE, 0x42, 0x00, uint8_t(random())};
        entry[4] = types[random() % std::size(types)];
        const uint32_t first = random() % 8 == 0 ? uint32_t(random()) : uint32_t(random() % kSectors);
        const uint32_t count = random() % 8 == 0 ? uint32_t(random()) : uint32_t(random() % kSectors);
        std::memcpy(entry + 8, &first, 4);
        std::memcpy(entry + 12, &count, 4);
      }
      p[510] = random() % 8 == 0 ? 0 : 0x55;
      p[511] = 0xAA;
      if (random() % 4 == 0) {
        // GPT-like bytes in the entry array and the header.
        for (int i = 0; i < 64; ++i) bytes[512 + random() % (33 * 512)] = uint8_t(random());
        std::memcpy(&bytes[512], "EFI PART", 8);
      }
    }
    MemoryDevice device(bytes);
    const uint64_t fsSize = random() % (2 * kSectors);
    CPartitionTableAnalyze analyze([&](IStorageDevice&, uint64_t start) {
      DetectedFileSystem found;
      if (start % 3 == 0) found = {3, fsSize, "VOLUME"};
      return found;
    });
    PartitionRecordList list;
    analyze.AnalyzeBasicDiskPartitions(&device, list);
    for (const auto& r : list) {
      ASSERT_GE(r->StartSector, 0);
      ASSERT_GT(r->SectorCount, 0);
      ASSERT_LE(uint64_t(r->StartSector) + uint64_t(r->SectorCount), kSectors) << "round " << round;
    }
  }
}

}  // namespace
