#pragma once
// The places where partitioning tools start partitions. Those of the cylinder era used every
// cylinder boundary of a geometry with 63 sectors per track and 255 (or 240) heads, and the sector
// one track after each; the tools of the last fifteen years use every 1 MiB boundary. Each walk
// hands out its positions in turn.

#include <cstdint>

class IPartitionSearchAlgorithm {
 public:
  virtual ~IPartitionSearchAlgorithm() = default;
  // The number of positions of the walk.
  virtual uint64_t GetCount() = 0;
  // The next position; the first call gives position 0.
  virtual uint64_t GetNextSector() = 0;
  // Nonzero for a walk whose positions on the 255-head grid were tested already.
  virtual int IsSecondary() = 0;
  // Whether the sector one track after each position is probed too (the cylinder walks).
  virtual bool ProbesTrackAfter() { return true; }
  // Whether a position inside a partition found earlier in the search is passed over.
  virtual bool SkipsFoundPartitions() { return false; }
};

class CPartitionSearchAccordingToHeads : public IPartitionSearchAlgorithm {
 public:
  static constexpr uint64_t kSectorsPerTrack = 63;

  CPartitionSearchAccordingToHeads(uint64_t deviceSectors, uint64_t heads, int secondary)
      : m_count(deviceSectors / heads / kSectorsPerTrack),
        m_stride(heads * kSectorsPerTrack),
        m_secondary(secondary) {}
  uint64_t GetCount() override { return m_count; }
  uint64_t GetNextSector() override { return m_next++ * m_stride; }
  int IsSecondary() override { return m_secondary; }

 private:
  uint64_t m_count;
  uint64_t m_stride;
  int m_secondary;
  uint64_t m_next = 0;
};

class CPartitionSearchAccordingTo255Head : public CPartitionSearchAccordingToHeads {
 public:
  explicit CPartitionSearchAccordingTo255Head(uint64_t deviceSectors)
      : CPartitionSearchAccordingToHeads(deviceSectors, 255, 0) {}
};

class CPartitionSearchAccordingTo240Head : public CPartitionSearchAccordingToHeads {
 public:
  explicit CPartitionSearchAccordingTo240Head(uint64_t deviceSectors)
      : CPartitionSearchAccordingToHeads(deviceSectors, 240, 1) {}
};

// Every 1 MiB boundary of the device: 2048 sectors of 512 bytes, 256 of 4096. Only the boundary
// itself is probed, and boundaries inside a partition found earlier are passed over: on a disk full
// of partitions the walk reads little more than the cylinder walks do, and the backup superblocks
// of an Ext2 volume, which lie on 1 MiB boundaries of their own, are never taken for partitions.
class CPartitionSearchAccordingToAlignment : public IPartitionSearchAlgorithm {
 public:
  static constexpr uint64_t kAlignmentBytes = 1024 * 1024;

  CPartitionSearchAccordingToAlignment(uint64_t deviceSectors, uint32_t sectorSize)
      : m_stride(sectorSize >= 512 && sectorSize <= kAlignmentBytes ? kAlignmentBytes / sectorSize
                                                                    : kAlignmentBytes / 512),
        m_count(deviceSectors / m_stride + (deviceSectors % m_stride != 0 ? 1 : 0)) {}
  uint64_t GetCount() override { return m_count; }
  uint64_t GetNextSector() override { return m_next++ * m_stride; }
  int IsSecondary() override { return 0; }
  bool ProbesTrackAfter() override { return false; }
  bool SkipsFoundPartitions() override { return true; }
  uint64_t GetStride() const { return m_stride; }

 private:
  uint64_t m_stride;
  uint64_t m_count;
  uint64_t m_next = 0;
};
