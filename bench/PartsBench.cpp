// corvale-bench parts IMAGE: the partition tables of a disk image as the program reads them (the MBR
// with its EBR chain, or the GPT behind a protective MBR), each partition with its start, size, the
// file system found at its start and its label, and how long the reading took.
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

#include "bench/Bench.h"
#include "core/FileSystemEngine.h"
#include "storage/ImageFileDevice.h"
#include "storage/PartitionTableAnalyze.h"

namespace {

const char* TableKind(IStorageDevice* device) {
  if (CPartitionTableAnalyze::IsDynamicDisk(device)) return "dynamic";
  if (CPartitionTableAnalyze::IsGptProtectiveMbr(device)) return "gpt";
  return "mbr";
}

int RunParts(int argc, char** argv) {
  if (argc < 1) {
    std::fprintf(stderr, "usage: corvale-bench parts IMAGE\n");
    return 2;
  }
  const std::string image = argv[0];
  CImageFileDevice device(image);
  if (!device.IsOpened()) {
    std::fprintf(stderr, "cannot open %s\n", image.c_str());
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  PartitionRecordList partitions;
  MakePartitionTableAnalyze().AnalyzeBasicDiskPartitions(&device, partitions);
  const double seconds = SecondsSince(start);

  const char* kind = TableKind(&device);
  std::printf("%s: %" PRId64 " sectors of %d bytes, %s table\n", image.c_str(), device.GetSectorCount(),
              device.GetSectorSize(), kind);
  std::printf("  #  start         sectors       file system  label\n");
  int index = 0;
  for (const auto& p : partitions)
    std::printf("  %-2d %-13" PRId64 " %-13" PRId64 " %-12s %s\n", ++index, p->StartSector, p->SectorCount,
                GetFileSystemTypeName(p->FileSystemType), p->Label);
  if (partitions.empty()) std::printf("  no partition\n");
  std::printf("{\"bench\":\"parts\",\"table\":\"%s\",\"partitions\":%zu,\"seconds\":%.6f}\n", kind,
              partitions.size(), seconds);
  return 0;
}

const BenchRegistration kParts("parts", "IMAGE", RunParts);

}  // namespace
