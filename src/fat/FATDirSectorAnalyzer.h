#pragma once
// CFATDirSectorAnalyzer: whether a sector found by a scan holds directory entries, and whether it
// is the first sector of a directory ("." and ".." at its start).

#include <cstddef>
#include <cstdint>

class CFATDirSectorAnalyzer {
 public:
  enum Kind : int32_t {
    kNotDirectory = 0,
    kPartialDirectory = 1,  // entries, but not the start of a directory
    kFirstDirectorySector = 2,
  };

  explicit CFATDirSectorAnalyzer(uint32_t sectorSize) : m_sectorSize(sectorSize) {}

  // Looks at the 32-byte entries of the sector (its first sector-size bytes, no more than
  // `length`) and returns whether it holds directory entries (kind not 0).
  bool Analyze(const uint8_t* sector, size_t length);

  int32_t GetKind() const { return m_kind; }
  // Valid entries counted, deleted ones included ("." and ".." and long-name pieces are not).
  uint32_t GetEntryCount() const { return m_entryCount; }
  // The clusters "." and ".." name; 0 unless the kind is kFirstDirectorySector.
  uint32_t GetDotCluster() const { return m_dotCluster; }
  uint32_t GetDotDotCluster() const { return m_dotDotCluster; }
  uint32_t GetLargestCluster() const { return m_largestCluster; }

 private:
  void Clear();

  uint32_t m_sectorSize;
  int32_t m_kind = kNotDirectory;
  uint32_t m_entryCount = 0;
  uint32_t m_dotCluster = 0;
  uint32_t m_dotDotCluster = 0;
  uint32_t m_largestCluster = 0;
};
