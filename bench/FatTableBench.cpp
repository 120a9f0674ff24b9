// corvale-bench fat-table [IMAGE]: loading and checking a full-size FAT32 copy, as every FAT
// directory build does first (the copy is read whole and every chain in it checked). Two synthetic
// copies of the largest size the engine reads (128000 sectors, 16 million entries), one with its
// chains laid out forwards and one with a single chain laid out backwards, the layout that made the
// check walk every chain again from each of its clusters. With IMAGE, also the first FAT copy of
// that FAT16 or FAT32 volume.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "fat/FATDBR.h"
#include "fat/FATTable.h"
#include "storage/ByteReader.h"
#include "storage/ImageFileDevice.h"
#include "storage/MemoryDevice.h"

namespace {

constexpr uint32_t kSectors = 128000;
constexpr int kRounds = 3;

struct Result {
  double seconds = 0;
  bool valid = false;
};

Result Measure(IStorageDevice* device, int32_t type, uint64_t first, uint32_t sectors) {
  Result best;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    const bool valid = CreateFATTable(device, type, first, sectors) != nullptr;
    const double seconds = SecondsSince(start);
    if (round == 0 || seconds < best.seconds) best = {seconds, valid};
  }
  return best;
}

std::vector<uint8_t> SyntheticCopy(bool backwards) {
  const uint32_t count = kSectors * 512 / 4;
  std::vector<uint8_t> bytes(static_cast<size_t>(kSectors) * 512);
  corvale::putLE(&bytes[0], 0x0FFFFFF8, 4);
  corvale::putLE(&bytes[4], 0x0FFFFFFF, 4);
  if (backwards) {
    for (uint32_t c = count - 1; c > 2; --c) corvale::putLE(&bytes[c * 4ull], c - 1, 4);
    corvale::putLE(&bytes[8], 0x0FFFFFFF, 4);
  } else {
    // Files of 64 clusters each, one after another.
    for (uint32_t c = 2; c < count; ++c)
      corvale::putLE(&bytes[c * 4ull], (c - 1) % 64 == 0 || c + 1 == count ? 0x0FFFFFFF : c + 1, 4);
  }
  return bytes;
}

int Run(int argc, char** argv) {
  const double mb = kSectors * 512.0 / 1e6;
  std::string json = "{\"command\":\"fat-table\"";
  for (bool backwards : {false, true}) {
    MemoryDevice device(SyntheticCopy(backwards));
    const Result r = Measure(&device, kFatType32, 0, kSectors);
    const char* name = backwards ? "backward" : "forward";
    std::printf("synthetic FAT32 copy, %s chains: %.3f s, %.1f MB/s, %s\n", name, r.seconds, mb / r.seconds,
                r.valid ? "valid" : "NOT valid");
    char part[160];
    std::snprintf(part, sizeof part, ",\"%s_seconds\":%.4f,\"%s_mb_per_s\":%.1f", name, r.seconds, name,
                  mb / r.seconds);
    json += part;
  }
  if (argc >= 1) {
    CImageFileDevice device(argv[0]);
    std::vector<uint8_t> sector(512);
    if (!device.IsOpened() || !device.ReadSectors(sector.data(), 0, 1)) {
      std::fprintf(stderr, "cannot read %s\n", argv[0]);
      return 1;
    }
    const CFATDBR dbr(sector.data(), sector.size(), 512);
    if (!dbr.IsValid()) {
      std::fprintf(stderr, "%s holds no FAT16 or FAT32 volume at sector 0\n", argv[0]);
      return 1;
    }
    const uint32_t sectors = dbr.GetSectorsPerFAT();
    const Result r = Measure(&device, dbr.GetFATType(), dbr.GetReservedSectors(), sectors);
    const double imageMb = sectors * 512.0 / 1e6;
    std::printf("%s: first FAT copy of %u sectors: %.3f s, %.1f MB/s, %s\n", argv[0], sectors, r.seconds,
                imageMb / r.seconds, r.valid ? "valid" : "NOT valid");
    char part[160];
    std::snprintf(part, sizeof part, ",\"image_seconds\":%.4f,\"image_mb_per_s\":%.1f", r.seconds,
                  imageMb / r.seconds);
    json += part;
  }
  std::printf("%s}\n", json.c_str());
  return 0;
}

const BenchRegistration kRegistration("fat-table", "[IMAGE]", Run);

}  // namespace
