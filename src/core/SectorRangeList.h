#pragma once
// The sectors of a device that no chosen partition occupies yet, as disjoint ranges in ascending
// order. The candidate selection starts with the whole device and cuts out each partition it
// chooses, so a later candidate fits only where nothing chosen lies.

#include <cstdint>
#include <map>
#include <vector>

struct SectorRange {
  int64_t first = 0;
  int64_t count = 0;
  bool operator==(const SectorRange&) const = default;
};

class CSectorRangeList {
 public:
  // One range {0, sectorCount}; a device without sectors (count <= 0) leaves the list empty.
  explicit CSectorRangeList(int64_t sectorCount);

  // True when one entry holds the whole range. A range with no sectors, a negative start or an end
  // beyond what 64 bits hold is held by no entry: it cannot lie on the device, and letting it in
  // would split the free ranges into overlapping pieces.
  bool Contains(const SectorRange& range) const;
  // Replaces the entry that holds the range by what is left of it before and after the range.
  // Nothing happens when no entry holds it.
  void Remove(const SectorRange& range);

  // The entries in ascending order.
  std::vector<SectorRange> Entries() const;

 private:
  // Entries keyed by first sector, so the entry that may hold a range is found in log time.
  using Map = std::map<int64_t, int64_t>;
  Map::const_iterator FindHolder(const SectorRange& range) const;

  Map m_ranges;
};
