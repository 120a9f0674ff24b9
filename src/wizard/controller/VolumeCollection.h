#pragma once
// The volumes the deleted-file step offers, as the wizard keeps them: the volume record the run
// report and the recovery context know, the devices to read the volume through, and what the list
// shows of it. This is the wizard's one contact with the engine's volume collection: everything the
// step needs of it passes through CollectLetteredVolumes.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/DeviceCollection.h"
#include "storage/IStorageDevice.h"
#include "ui/SourceRecords.h"

struct CollectedVolume {
  // A volume of dynamic disks: the disks its device reads from, shared by every dynamic volume of
  // one collection. Declared first, so that it goes after the devices that read from it.
  std::shared_ptr<const DiskDeviceList> memberDisks;
  VolumeRecord record;  // record.Device is `volume`
  std::unique_ptr<IStorageDevice> disk;
  std::shared_ptr<IStorageDevice> volume;  // sector 0 is the volume's first sector
  int diskNumber = -1;                     // -1 for a volume of dynamic disks, which lies on no one disk
  int64_t startSector = 0;                 // in the disk's sectors
  int64_t sectorCount = 0;
  int32_t bytesPerSector = 512;
  std::string information;  // the device path, and where the volume is mounted
  bool readable = false;    // the volume's first sector could be read
};

// The machine's volumes with a recognised file system (or those of the disks CORVALE_DISKS names),
// basic partitions and the volumes of dynamic disks, in letter order, each opened read-only. Runs on
// a worker thread: it reads every disk's tables and dynamic-disk database.
std::vector<std::unique_ptr<CollectedVolume>> CollectLetteredVolumes();
