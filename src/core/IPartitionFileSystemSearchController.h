#pragma once
// A tester of one file system for the lost-partition search: told a sector and its position, it
// says whether a partition of its file system starts there and, if so, fills the found-partition
// record (with a new partition window device that the record's holder owns).

#include <cstdint>

class IStorageDevice;
class CLostPartitionRecord;

class IPartitionFileSystemSearchController {
 public:
  virtual ~IPartitionFileSystemSearchController() = default;
  virtual void SetDevice(IStorageDevice* device) = 0;
  virtual void BeginSearch() {}
  virtual void EndSearch() {}
  // `sector` holds one device sector read at `position`. Nonzero when a partition starts there and
  // `out` has been filled.
  virtual int TestSector(const void* sector, int64_t position, CLostPartitionRecord* out) = 0;
};
