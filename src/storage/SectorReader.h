#pragma once
// The reader that disk and volume devices read through. It reads positionally, checks the length
// that came back and, when the user lets the program ignore bad sectors, answers an unreadable
// region with zero-filled sectors, probes how far the damage reaches and remembers the region, so
// that later reads of it are answered with zeros at once instead of waiting on the drive again.
//
// Reads are not serialised here (any number of threads may read); the bad-range map has its own
// lock.

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace platform {
class IRawDevice;
}

// A recorded bad region: [first, end), end one past the last bad sector.
struct BadSectorRange {
  uint64_t first = 0;
  uint64_t end = 0;
};

class CSectorReader {
 public:
  // The probe that follows a failed read: units of 2048 sectors, probes 50, 25 and 12 units after
  // the failure, and never less than 10 units recorded.
  static constexpr uint32_t kProbeUnitSectors = 2048;
  static constexpr uint32_t kMinBadUnits = 10;
  static constexpr uint32_t kFirstProbeUnits = 50;

  // What AddBadRange answers.
  static constexpr uint32_t kAddOk = 0;
  static constexpr uint32_t kAddNotEnoughMemory = 8;
  static constexpr uint32_t kAddFailed = 1627;

  CSectorReader() = default;
  ~CSectorReader();
  CSectorReader(const CSectorReader&) = delete;
  CSectorReader& operator=(const CSectorReader&) = delete;

  // Bytes per sector of the reads; 512 until the device knows better. A size of 0 or below is
  // never taken.
  void SetSectorSize(int32_t unit);
  int32_t GetSectorSize() const { return m_unit.load(); }

  // Reads `count` sectors at `firstSector` into `buffer` (count × unit bytes). *error receives the
  // errno of a failed read, else 0. With no device the buffer is zero-filled and the answer is
  // false. A read the source ends before is answered from what exists, the rest zero-filled; it
  // counts as complete when only part of the last sector is missing. With `ignoreBadSectors`, a
  // read touching a known bad region is answered with zeros without I/O, and a medium error
  // zero-fills the buffer, records the region and answers true; any other error answers false.
  bool ReadSector(platform::IRawDevice* device, void* buffer, uint64_t firstSector, uint64_t count,
                  bool ignoreBadSectors, int* error);

  // Probes how far the damage after a failed read at `firstSector` reaches and records it.
  void UpdateBadSector(platform::IRawDevice* device, uint64_t firstSector, uint32_t unit, uint32_t minUnits,
                       uint32_t startUnits);

  // True when [first, end) overlaps a recorded range.
  bool IsInBadRange(uint64_t first, uint64_t end);
  uint32_t AddBadRange(BadSectorRange range);
  void ClearBadRanges();
  // The recorded regions in sector order, overlapping ones joined.
  std::vector<BadSectorRange> GetBadRanges() const;

 private:
  mutable std::mutex m_mutex;
  // Disjoint ranges keyed by their first sector, so one ordered look-up answers the overlap test.
  std::map<uint64_t, BadSectorRange> m_ranges;
  std::atomic<size_t> m_rangeCount{0};
  std::atomic<int32_t> m_unit{512};
};
