#pragma once
// The sections of a saved scan that the recovery core writes besides the directory trees: the found
// partitions, the search controllers with their evidence, and the partition list of the
// lost-partition search with its window devices. (The files found by signature have their section
// in the RAW engine, which owns their list.)
//
// Each Save function begins its section, writes, ends it and returns true; false when the section
// cannot be begun. Each Load function returns false when the file has no such section and true when
// it read one; what it returns is handed over only when the whole section read back, so a damaged
// section changes nothing the caller holds. A damaged section (a count that runs past the data, a
// kind no reader knows, bytes left over after the last item) ends in the stream's exception, logged
// as "RS Exception:%d" and rethrown, with everything half-built freed.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/IFileSystemSearchController.h"
#include "core/IRSData.h"
#include "core/LostPartitionRecord.h"
#include "core/RSException.h"
#include "platform/Log.h"

class IStorageDevice;

// {9332EB72-887D-4145-937D-C3C918EA09FE}
extern const RSGuid kSearchedPartitionListSection;
// {409B6394-F681-4E88-A20F-5D635782ED75}
extern const RSGuid kSearchControllerListSection;
// {7DC06525-638A-4A8C-B7D1-6419641247DB}
extern const RSGuid kPartitionInfoListSection;

// Found partitions: 8-byte count, then per item its 4-byte kind and its saved form.
bool SaveSearchedPartitionInfoList(IRSData& writer, const SearchedPartitionInfoList& list);
bool LoadSearchedPartitionInfoList(IRSData& reader, SearchedPartitionInfoList* list);

// Makes an empty controller of a saved kind (NTFS 0, FAT 1, RAW 2, EXT2 3), or null for a kind the
// caller does not run. The caller decides which controllers a restored scan has and how they are
// set up; the loader only asks for them by kind.
using SearchControllerMaker = std::function<std::unique_ptr<IFileSystemSearchController>(int32_t kind)>;
using SearchControllerList = std::vector<std::unique_ptr<IFileSystemSearchController>>;

// Search controllers: 8-byte count, then per controller its 4-byte kind and its saved evidence.
bool SaveFileSystemSearchControllerList(IRSData& writer,
                                        const std::vector<IFileSystemSearchController*>& list);
// A kind the maker refuses is bad data: without its reader the length of its evidence is unknown.
bool LoadFileSystemSearchControllerList(IRSData& reader, const SearchControllerMaker& make,
                                        SearchControllerList* list);

// The found-partition records of the lost-partition search and the one that was current (-1 for
// none). Only the first 40 bytes of each label are kept.
struct LostPartitionList {
  LostPartitionList() = default;
  ~LostPartitionList();
  LostPartitionList(const LostPartitionList&) = delete;
  LostPartitionList& operator=(const LostPartitionList&) = delete;
  LostPartitionList(LostPartitionList&& other) noexcept;
  LostPartitionList& operator=(LostPartitionList&& other) noexcept;

  // Each record's Device is owned by the list.
  std::vector<CLostPartitionRecord> Records;
  int32_t Current = -1;
};

bool SavePartitionInfoList(IRSData& writer, const std::vector<CLostPartitionRecord>& records,
                           int32_t current);
// Gives each record a partition window over `device` with its saved start and length. A window that
// does not lie inside `device` is bad data: the list was saved for another device. A current index
// of -1 or at or beyond the count leaves no record current.
bool LoadPartitionInfoList(IRSData& reader, IStorageDevice* device, LostPartitionList* list);

// After the last item of a section: any byte left over means a count that undercounts its items.
void ExpectSectionEnd(IRSData& reader);
// Begins reading a section; false when the file has none (any other stream error is thrown).
bool BeginSectionIfPresent(IRSData& reader, const RSGuid& guid);

// Runs one section's writing; a stream error is logged and passed on.
template <typename Body>
bool WriteSection(IRSData& writer, const RSGuid& guid, Body body) {
  try {
    if (!writer.BeginSection(guid)) return false;
    body();
    writer.EndSection();
  } catch (IRSException& e) {
    LogError("RS Exception:%d", e.GetCode());
    throw;
  }
  return true;
}

// Runs one section's reading; false when the section is absent. A stream error is logged and passed
// on; `body` builds into its own locals, so nothing half-read reaches the caller.
template <typename Body>
bool ReadSection(IRSData& reader, const RSGuid& guid, Body body) {
  try {
    if (!BeginSectionIfPresent(reader, guid)) return false;
    body();
    ExpectSectionEnd(reader);
    reader.EndSection();
  } catch (IRSException& e) {
    LogError("RS Exception:%d", e.GetCode());
    throw;
  }
  return true;
}
