#pragma once
// The places where a partitioning tool of the cylinder era started partitions: every cylinder
// boundary of a geometry with 63 sectors per track and 255 (or 240) heads. Each walk hands out its
// cylinder starts in turn; the search also looks one track after each.

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
