#pragma once
// A file's runs kept compactly in mapping-pairs form (see MappingPairs.h) and expanded into a run
// list only when someone asks for it. Whatever engine found the file, the runs come back as an NTFS
// run-list object: resident when a resident value is kept, non-resident otherwise.

#include <cstdint>
#include <memory>
#include <vector>

#include "core/DataRunList.h"

class IRSData;

class PackedRunList {
 public:
  // `bytes` must be a sound mapping-pairs string ending in its 0 terminator.
  PackedRunList(std::vector<uint8_t> bytes, uint16_t residentValue)
      : m_bytes(std::move(bytes)), m_residentValue(residentValue) {}

  // Nonzero only for data kept inside an NTFS FILE record.
  uint16_t GetResidentValue() const { return m_residentValue; }
  const std::vector<uint8_t>& GetBytes() const { return m_bytes; }
  // Bytes of the string, its terminator included.
  uint32_t GetLength() const { return static_cast<uint32_t>(m_bytes.size()); }

  // A new run list owned by the caller; null when there are no runs.
  std::unique_ptr<IDataRunList> CreateDataRunList() const;

  // Saved form: 4-byte length (terminator included), the bytes, the 2-byte resident value.
  void Save(IRSData& writer) const;

 private:
  std::vector<uint8_t> m_bytes;
  uint16_t m_residentValue;
};

// Packs the runs of `list`; null for a list without runs.
std::unique_ptr<PackedRunList> CreatePackedRunList(const IDataRunList& list);

// Reads a saved packed list. A length that is not exactly one mapping-pairs string with its
// terminator, or a string that does not decode, is bad data (RS_ERROR_BAD_DATA);
// the half-read object is freed and the exception goes on to the caller, since the stream can no
// longer be read in step.
std::unique_ptr<PackedRunList> LoadPackedRunList(IRSData& reader);

// The tail every saved properties record ends with: a 4-byte flag (1 when a packed list follows,
// else 0) and the packed list.
void SaveRunListTail(IRSData& writer, const PackedRunList* packed);
// Reads that tail; a flag other than 0 or 1 is bad data.
std::unique_ptr<PackedRunList> LoadRunListTail(IRSData& reader);
