#pragma once
// Recognises a dynamic (LDM) disk from its partition tables: an MBR or extended-partition entry of
// type 0x42, or a GPT whose first entries name both the LDM metadata and the LDM data partition.
// It only reads through the device, so it runs as well over a disk as over an image or memory.

#include <cstdint>

class IStorageDevice;

// `sectorCount` and `sectorSize` are the device's; a disk of 6 sectors or fewer is never dynamic.
bool DetectDynamicDisk(IStorageDevice* device, int64_t sectorCount, int32_t sectorSize);
