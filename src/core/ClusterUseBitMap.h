#pragma once
// Which clusters of a partition hold data of the files its directory build found. The files found
// by signature are checked against it, so that a carved file lying inside a live file's clusters is
// not listed a second time.

#include <cstdint>
#include <vector>

class IIsClusterUsed {
 public:
  virtual ~IIsClusterUsed() = default;
  // Whether the cluster holding device sector `sector` is in use.
  virtual bool IsClusterUsed(uint64_t sector) const = 0;
};

// Where the map lies and the bits themselves (one per cluster from the first sector, set = in use).
// Sectors per cluster and the cluster count come from the file system on disk.
struct CClusterUseBitMapInfo {
  const std::vector<bool>* bits = nullptr;  // not owned
  uint64_t firstSector = 0;
  uint8_t sectorsPerCluster = 0;
  uint64_t clusterCount = 0;
};

class CClusterUseBitMap : public IIsClusterUsed {
 public:
  // Copies the block; the bit vector must outlive the map.
  explicit CClusterUseBitMap(const CClusterUseBitMapInfo& info) : m_info(info) {}

  // A map without bits or with 0 sectors per cluster knows nothing: it answers as if there were no
  // map at all.
  bool IsValid() const { return m_info.bits != nullptr && m_info.sectorsPerCluster != 0; }

  // A sector before the first sector counts as used, and so does one whose cluster lies at or
  // beyond the cluster count or beyond the bits held; otherwise the cluster's bit answers. An
  // invalid map answers "not used" for every sector.
  bool IsClusterUsed(uint64_t sector) const override;

 private:
  CClusterUseBitMapInfo m_info;
};
