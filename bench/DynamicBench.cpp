// dynamic [MIB]: sequential 4 MiB reads through each kind of dynamic volume over member disks held
// in memory (a volume of MIB MiB, 64 by default), next to a plain read of one member of the same
// size: striped over three disks, spanned over three, RAID-5 over three healthy and with one member
// missing, and a mirror whose first copy fails over a stretch.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Bench.h"
#include "storage/DynamicVolumeDevice.h"
#include "storage/MemoryDevice.h"

namespace {

constexpr uint64_t kRequestSectors = 8192;  // 4 MiB

struct Result {
  std::string name;
  double mbps = 0;
  bool ok = true;
};

Result Measure(const std::string& name, IStorageDevice& device) {
  const uint64_t total = static_cast<uint64_t>(device.GetSectorCount());
  std::vector<uint8_t> buffer(kRequestSectors * 512);
  Result r{name};
  const auto start = std::chrono::steady_clock::now();
  uint64_t sum = 0;
  for (uint64_t at = 0; at < total; at += kRequestSectors) {
    r.ok = device.ReadSectors(buffer.data(), at, std::min(kRequestSectors, total - at)) && r.ok;
    sum += buffer[0];
  }
  const double seconds = SecondsSince(start);
  r.mbps = seconds > 0 ? static_cast<double>(total) * 512 / 1e6 / seconds : 0;
  if (sum == 1) std::printf(" ");
  return r;
}

int RunDynamic(int argc, char** argv) {
  const uint64_t mib = argc > 0 ? std::strtoull(argv[0], nullptr, 10) : 64;
  if (mib < 4) {
    std::fprintf(stderr, "the volume must be at least 4 MiB\n");
    return 1;
  }
  const uint64_t volume = mib * 2048;
  const uint64_t column = (volume / 3 + 127) / 128 * 128;
  std::vector<std::unique_ptr<MemoryDevice>> disks;
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> bytes(column * 512);
    for (size_t b = 0; b < bytes.size(); b += 4096) bytes[b] = static_cast<uint8_t>(b / 4096 + i);
    disks.push_back(std::make_unique<MemoryDevice>(std::move(bytes)));
  }
  auto extents = [&](bool spanned, int missing) {
    std::vector<DynamicExtent> list;
    for (int i = 0; i < 3; ++i)
      list.push_back({i, "disk" + std::to_string(i), 0, spanned ? i * column : 0, column,
                      i == missing ? nullptr : disks[i].get()});
    return list;
  };
  DynamicVolumeDescription d;
  std::vector<Result> results;
  results.push_back(Measure("plain member", *disks[0]));

  d.sectorCount = 3 * column;
  results.push_back(Measure("striped", *CreateDynamicVolumeDevice(kDynamicStriped, d, extents(false, -1))));
  results.push_back(Measure("spanned", *CreateDynamicVolumeDevice(kDynamicSpanned, d, extents(true, -1))));
  d.sectorCount = 2 * column;
  results.push_back(Measure("raid5", *CreateDynamicVolumeDevice(kDynamicRaid5, d, extents(false, -1))));
  results.push_back(
      Measure("raid5_degraded", *CreateDynamicVolumeDevice(kDynamicRaid5, d, extents(false, 1))));

  d.sectorCount = column;
  auto copy = [&](int disk) {
    std::vector<DynamicExtent> one{{0, "disk", 0, 0, column, disks[disk].get()}};
    return CreateDynamicVolumeDevice(kDynamicSimple, d, one);
  };
  // The first copy fails over its first sixteenth: those pieces come sector by sector.
  for (uint64_t s = 0; s < column / 16; s += 63) disks[0]->SetBadSector(s);
  auto mirror = CreateMirrorVolumeDevice(d, copy(0), copy(1));
  results.push_back(Measure("mirror_failing_copy", *mirror));

  bool ok = true;
  std::printf("dynamic volumes of %llu MiB in 4 MiB requests (members in memory)\n",
              static_cast<unsigned long long>(mib));
  for (const Result& r : results) {
    std::printf("  %-22s %8.1f MB/s%s\n", r.name.c_str(), r.mbps, r.ok ? "" : "  (a read failed)");
    ok = ok && r.ok;
  }
  std::printf("{\"bench\":\"dynamic\",\"mib\":%llu", static_cast<unsigned long long>(mib));
  for (const Result& r : results) {
    std::string key = r.name;
    for (char& c : key)
      if (c == ' ') c = '_';
    std::printf(",\"%s_mbps\":%.1f", key.c_str(), r.mbps);
  }
  std::printf(",\"ok\":%s}\n", ok ? "true" : "false");
  return ok ? 0 : 1;
}

const BenchRegistration kDynamic("dynamic", "[MIB]", RunDynamic);

}  // namespace
