#pragma once
// The NTFS run-list encoding ("mapping pairs"), used for every engine's runs when a file's runs are
// kept packed, and by the NTFS engine for the run lists of its attributes.
//
// Each run is a header byte, then the run length, then the start delta:
//   header = (offset bytes << 4) | length bytes
//   length: `length bytes` bytes, little-endian, unsigned
//   delta:  `offset bytes` bytes, little-endian, signed (sign taken from the top bit of the last
//           byte; 8 bytes are taken as they are), added to the start of the previous real run
//           (0 before the first). Offset bytes 0 marks a sparse run, which leaves that start as it is.
// A 0 header ends the list.
//
// The decoder refuses rather than guesses: a field wider than allowed, a run running past the
// buffer, a list without its 0 terminator inside the buffer, a start before cluster 0 and a list
// whose lengths add up past 2^64 are all reported as damage.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/DataRunList.h"

namespace corvale {

// The smallest n in 1..8 with -2^(8n-1) <= v < 2^(8n-1).
unsigned SignedByteCount(int64_t v);

// Builds a mapping-pairs string run by run.
class MappingPairsEncoder {
 public:
  // Appends one run; a start of kSparseRunStart is written as a sparse run.
  void Add(uint64_t start, uint64_t length);
  // Appends the terminating 0 and hands the bytes over; the encoder starts afresh.
  std::vector<uint8_t> Finish();

 private:
  std::vector<uint8_t> m_bytes;
  uint64_t m_previousStart = 0;
};

struct MappingPair {
  uint64_t start = 0;  // kSparseRunStart for a sparse run
  uint64_t vcn = 0;    // sum of the lengths of the runs before this one
  uint64_t length = 0;
};

// Walks a mapping-pairs string without allocating.
class MappingPairsDecoder {
 public:
  enum class Step { Run, End, Damaged };

  // `maxFieldBytes`: the widest length or offset field accepted (8 for packed lists; the NTFS
  // on-disk check allows 4).
  MappingPairsDecoder(const uint8_t* bytes, size_t length, unsigned maxFieldBytes = 8)
      : m_bytes(bytes), m_length(length), m_maxField(maxFieldBytes) {}

  // The next run; End after the terminator; Damaged (and from then on) when the string is unsound.
  Step Next(MappingPair& run);
  // Bytes consumed so far; after End, the length of the string including its terminator.
  size_t Position() const { return m_pos; }

 private:
  const uint8_t* m_bytes;
  size_t m_length;
  unsigned m_maxField;
  size_t m_pos = 0;
  uint64_t m_lcn = 0;
  uint64_t m_vcn = 0;
  bool m_damaged = false;
  bool m_ended = false;
};

// Decodes a whole string into runs. False (and `runs` empty) when the string is damaged.
bool DecodeMappingPairs(const uint8_t* bytes, size_t length, std::vector<DataRun>& runs,
                        unsigned maxFieldBytes = 8);

// The header-to-header walk: the length of the string including its 0 terminator, or nothing when
// no terminator is met inside `limit` bytes or a run's fields would reach past them.
std::optional<size_t> MappingPairsLength(const uint8_t* bytes, size_t limit);

}  // namespace corvale
