#pragma once
// The lost-partition search's tester for Ext2/Ext3: a partition starts at a position when an Ext2 or
// Ext3 volume opens there (its superblock two sectors on).

#include <cstdint>

#include "core/IPartitionFileSystemSearchController.h"

class CPartitionEXT2SearchController : public IPartitionFileSystemSearchController {
 public:
  void SetDevice(IStorageDevice* device) override { m_device = device; }
  int TestSector(const void* sector, int64_t position, CLostPartitionRecord* out) override;

 private:
  IStorageDevice* m_device = nullptr;
};
