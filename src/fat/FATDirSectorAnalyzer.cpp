#include "fat/FATDirSectorAnalyzer.h"

#include <algorithm>

#include "fat/FATDirEntry.h"

using namespace corvale::fat;

void CFATDirSectorAnalyzer::Clear() {
  m_kind = kNotDirectory;
  m_entryCount = 0;
  m_dotCluster = 0;
  m_dotDotCluster = 0;
  m_largestCluster = 0;
}

bool CFATDirSectorAnalyzer::Analyze(const uint8_t* sector, size_t length) {
  Clear();
  if (sector == nullptr) return false;
  const size_t bytes = std::min<size_t>(length, m_sectorSize);
  bool failed = false;
  bool dot = false;
  bool dotDot = false;
  bool havePrevious = false;
  uint32_t previous = 0;
  for (size_t offset = 0; offset + dirent::kSize <= bytes; offset += dirent::kSize) {
    const CFATDirEntry entry(sector, bytes, offset);
    if (!entry.IsValid(true)) {
      // Entries end at the end-of-directory mark; anything else invalid spoils the sector.
      const bool endMark =
          std::all_of(entry.GetBytes(), entry.GetBytes() + dirent::kSize, [](uint8_t b) { return b == 0; });
      if (!(endMark && (m_entryCount > 0 || (dot && dotDot)))) failed = true;
      break;
    }
    if (entry.IsLongNamePiece()) continue;
    const uint32_t cluster = entry.GetFirstCluster();
    m_largestCluster = std::max(m_largestCluster, cluster);
    if (offset == 0 && entry.IsDotEntry()) {
      m_dotCluster = cluster;
      dot = true;
      continue;
    }
    if (offset == dirent::kSize && entry.IsDotDotEntry()) {
      m_dotDotCluster = cluster;
      dotDot = true;
      continue;
    }
    // Two live entries in a row with one first cluster (two empty files included) are rare in
    // directories and common in sectors of other data, so such a sector is not taken.
    if (!entry.IsDeleted()) {
      if (havePrevious && previous == cluster) {
        failed = true;
        break;
      }
      havePrevious = true;
      previous = cluster;
    }
    ++m_entryCount;
  }
  if (dot && dotDot) {
    m_kind = kFirstDirectorySector;
  } else if (m_entryCount == 0 || failed) {
    Clear();
  } else {
    m_kind = kPartialDirectory;
    m_dotCluster = 0;
    m_dotDotCluster = 0;
  }
  return m_kind != kNotDirectory;
}
