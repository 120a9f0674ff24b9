// corvale-bench collect: the device and volume collection as the wizard runs it, over the machine's
// disks or the image files and devices named by CORVALE_DISKS: every disk and volume found, with
// letters, file systems, sizes and labels, and the time of each stage.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "core/DeviceCollection.h"
#include "core/ScopeTimeTrace.h"
#include "storage/DiskDevice.h"
#include "storage/PartitionTableAnalyze.h"

namespace {

int RunCollect(int, char**) {
  std::map<std::string, double> stages;
  CScopeTimeTrace::Observer previous = CScopeTimeTrace::SetObserver(
      [&stages](const std::string& label, double seconds) { stages[label] = seconds; });

  const auto start = std::chrono::steady_clock::now();
  DiskDeviceList disks;
  CCollectPhysicalDiskDevice().CollectPhysicalDiskDevice(disks);
  const double diskSeconds = SecondsSince(start);
  const auto volumeStart = std::chrono::steady_clock::now();
  VolumeRecordList volumes;
  CCollectAllBasicPartitionandDynamicVolume().CollectAllBasicPartitionandDynamicVolume(disks, volumes);
  const double volumeSeconds = SecondsSince(volumeStart);
  const double totalSeconds = SecondsSince(start);
  CScopeTimeTrace::SetObserver(std::move(previous));

  std::printf("disks: %zu\n", disks.size());
  std::printf("  #    sectors          bytes/sector  path\n");
  for (const auto& disk : disks)
    std::printf("  %-4d %-16" PRId64 " %-13d %s\n", disk->GetCatalogueNumber(), disk->GetSectorCount(),
                disk->GetSectorSize(), disk->GetDevicePath().c_str());
  std::printf("volumes: %zu\n", volumes.size());
  std::printf("  letter  file system  disk  start            sectors          label\n");
  for (const auto& v : volumes) {
    const VolumeExtent& e = v->Extents[0];
    std::printf("  %c       %-12s %-5d %-16" PRId64 " %-16" PRId64 " %s\n",
                v->DriveLetter ? v->DriveLetter : '*', GetFileSystemTypeName(v->FileSystemTypeCode),
                e.Disk ? e.Disk->GetCatalogueNumber() : -1, e.FirstSector, e.SectorCount,
                v->VolumeName.c_str());
  }
  const double floppy = stages["CCollectFloppyDiskDevice::CollectFloppyDiskDevice"];
  const double sorting = stages["CCollectAllBasicPartitionandDynamicVolume::sort"];
  const double allVolumes =
      stages["CCollectAllBasicPartitionandDynamicVolume::CollectAllBasicPartitionandDynamicVolume"];
  const double partitions = allVolumes - floppy - sorting;
  std::printf(
      "stages: disks %.6f s, partitions and dynamic volumes %.6f s, floppy drives %.6f s, sort %.6f s\n",
      diskSeconds, partitions, floppy, sorting);
  std::printf(
      "{\"bench\":\"collect\",\"disks\":%zu,\"volumes\":%zu,\"disk_seconds\":%.6f,\"partition_seconds\":%.6f,"
      "\"floppy_seconds\":%.6f,\"sort_seconds\":%.6f,\"volume_seconds\":%.6f,\"seconds\":%.6f}\n",
      disks.size(), volumes.size(), diskSeconds, partitions, floppy, sorting, volumeSeconds, totalSeconds);
  return 0;
}

const BenchRegistration kCollect("collect", "", RunCollect);

}  // namespace
