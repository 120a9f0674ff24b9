#pragma once
// The running summary of a whole-device search: sixteen signed 64-bit counters that the search
// controllers add to while they examine the blocks, and that the progress window shows. The record
// is copied whole (128 bytes) between the search and the window.
//
// Counters 0-7 run over the whole pass and are the rows of the progress window. Counters 8-15 are
// the controllers' own work counters; the driver clears 8, 9, 11, 14 and 15 at the start of every
// block, while 10, 12 and 13 run over the whole pass like the first eight.

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct IntelligentSearchSummary {
  static constexpr size_t kCounterCount = 16;
  static constexpr size_t kShownCounterCount = 8;
  // Two of the controllers' counters that run over the whole pass belong to the Ext2/Ext3 searcher
  // and are shown beside the first eight: the valid superblocks it has seen (backups included) and
  // the file systems it has put together from them.
  static constexpr size_t kExt2Superblocks = 10;
  static constexpr size_t kExt2FileSystems = 12;

  int64_t PartitionTables = 0;  // 0 "Partition Tables:"
  int64_t FATBootRecords = 0;   // 1 "FAT Boot Records:"
  int64_t FATFolders = 0;       // 2 "FAT Folders:"
  int64_t FATFolderParts = 0;   // 3 "FAT Folder Parts:"
  int64_t NTFSBootRecords = 0;  // 4 "NTFS Boot Records:"
  int64_t NTFSFileRecords = 0;  // 5 "NTFS File Records:"
  int64_t FilesIdentified = 0;  // 6 "Files Identified:"
  int64_t TotalFilesFound = 0;  // 7 "Total Files Found:"
  // Counters 8 to 15: WorkCounters[0] is counter 8. Their meaning belongs to the controllers.
  int64_t WorkCounters[8] = {};

  // Counter `index` (0-15) by its number, as the window's rows and the driver's resets count them.
  // An index past 15 answers counter 15.
  int64_t& At(size_t index) {
    switch (index) {
      case 0:
        return PartitionTables;
      case 1:
        return FATBootRecords;
      case 2:
        return FATFolders;
      case 3:
        return FATFolderParts;
      case 4:
        return NTFSBootRecords;
      case 5:
        return NTFSFileRecords;
      case 6:
        return FilesIdentified;
      case 7:
        return TotalFilesFound;
      default:
        return WorkCounters[index < kCounterCount ? index - kShownCounterCount : 7];
    }
  }
  int64_t At(size_t index) const { return const_cast<IntelligentSearchSummary*>(this)->At(index); }

  // Clears the counters that count one block's work (8, 9, 11, 14 and 15), in place.
  void ResetBlockCounters() {
    WorkCounters[8 - 8] = 0;
    WorkCounters[9 - 8] = 0;
    WorkCounters[11 - 8] = 0;
    WorkCounters[14 - 8] = 0;
    WorkCounters[15 - 8] = 0;
  }

  bool operator==(const IntelligentSearchSummary&) const = default;
};

static_assert(sizeof(IntelligentSearchSummary) == 128, "the summary record is 128 bytes");
static_assert(std::is_trivially_copyable_v<IntelligentSearchSummary>, "the summary record is copied whole");
static_assert(std::is_standard_layout_v<IntelligentSearchSummary>, "counters lie in their numbered order");
