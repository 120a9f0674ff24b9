#pragma once
// Random access to the bytes of one found file, through its data runs on the device it was found on:
// for reading small pieces of a file (a recycle-bin index file, say) without recovering it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/DataRunList.h"

class CFileNode;
class IStorageDevice;

class FileDataReader {
 public:
  // Fails when the device or the node is missing, the node has no properties or no partition node
  // above it, the cluster size (device sector size x sectors per cluster) is 0 or larger than any file
  // system makes (2 MiB), the file is empty or has no run list.
  bool Open(IStorageDevice* device, CFileNode* node);

  // Copies up to `length` bytes from byte `offset` of the file into `buffer`; returns the count
  // copied. Nothing is copied past the file's size; a run that holds no data (sparse) gives zeros;
  // a read that fails, or runs that end before the size, end the copy there.
  size_t ReadAt(uint64_t offset, void* buffer, size_t length);

 private:
  // The bytes of cluster `vcn` of the file into m_cluster; false when the runs do not reach it or
  // the read fails.
  bool LoadCluster(uint64_t vcn);
  bool LoadResident();

  IStorageDevice* m_device = nullptr;
  CFileNode* m_node = nullptr;
  uint64_t m_clusterBytes = 0;
  uint64_t m_size = 0;
  uint64_t m_firstSector = 0;
  uint32_t m_sectorsPerCluster = 0;
  std::unique_ptr<IDataRunList> m_runs;
  std::vector<uint8_t> m_cluster;
  // The cluster held in m_cluster plus 1; 0 while it holds none.
  uint64_t m_heldCluster = 0;
  // Data kept inside the file's record, read on first use.
  std::vector<uint8_t> m_resident;
  bool m_residentLoaded = false;
};

// Gives a file found in a recycle bin its original name, read from its index file: the text behind
// the last "\" among the first 512 bytes of the index file, when the path before it names a drive
// (":\"). True when a name was set on `dataNode`.
bool RestoreRecycledFileName(IStorageDevice* device, CFileNode* indexNode, CFileNode* dataNode);
