#pragma once
// The directory sectors a whole-device search saw: where each lies and, for the first sector of a
// directory, the clusters its "." and ".." entries name. The complete directory build reads them
// in sector order; the search saves them with its state.

#include <cstddef>
#include <cstdint>
#include <vector>

struct FATDirSectorRecord {
  // "." and ".." of a sector that is not the first of a directory.
  static constexpr uint32_t kNoCluster = 0xFFFFFFFF;

  uint64_t sector = 0;
  uint32_t dotCluster = kNoCluster;
  uint32_t dotDotCluster = kNoCluster;

  bool IsFirstDirectorySector() const { return dotCluster != kNoCluster; }
  bool operator==(const FATDirSectorRecord&) const = default;
};

// Records in ascending sector order, one per sector.
class CFATDirSectorSet {
 public:
  // Keeps the order: a scan adds in ascending order (an append); anything else is put in place,
  // and a record for a sector already held replaces it.
  void Add(const FATDirSectorRecord& record);
  void Clear() { m_records.clear(); }
  // Takes records in any order; they are sorted and a sector's last record kept.
  void Assign(std::vector<FATDirSectorRecord> records);

  const std::vector<FATDirSectorRecord>& Records() const { return m_records; }
  size_t size() const { return m_records.size(); }
  bool empty() const { return m_records.empty(); }

 private:
  std::vector<FATDirSectorRecord> m_records;
};
