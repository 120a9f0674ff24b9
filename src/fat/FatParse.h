#pragma once
// The outcome of parsing one FAT structure. A parse says one of three things: the bytes are this
// structure and sound (Valid); they are not this structure at all, e.g. the end marker is missing,
// which is no error while scanning a disk (NotThisStructure); or they look like the structure but a
// field breaks the format (Damaged). Failed reads are not parse outcomes: callers report them.
//
// A ParseError names the field, the value read, its offset and the limit it broke. It holds no text;
// describe() formats it and only trace logging calls that, so loops over sectors format nothing.

#include <cstdint>
#include <string>

namespace corvale::fat {

enum class ParseOutcome { Valid, NotThisStructure, Damaged };

const char* ToString(ParseOutcome outcome);

struct ParseError {
  const char* field = "";    // e.g. "sectors per cluster"
  const char* problem = "";  // e.g. "is not a power of two"
  uint64_t value = 0;
  uint64_t offset = 0;  // from the start of the structure
  uint64_t limit = 0;   // 0 when there is none to show

  // "sectors per cluster at +0xD is not a power of two (value 0x3)"
  std::string describe() const;
};

struct ParseResult {
  ParseOutcome outcome = ParseOutcome::Valid;
  ParseError error;

  bool IsValid() const { return outcome == ParseOutcome::Valid; }
  bool IsDamaged() const { return outcome == ParseOutcome::Damaged; }

  static ParseResult Valid() { return {}; }
  static ParseResult NotThis(const char* field, const char* problem, uint64_t value = 0,
                             uint64_t offset = 0) {
    return {ParseOutcome::NotThisStructure, {field, problem, value, offset, 0}};
  }
  static ParseResult Damaged(const char* field, const char* problem, uint64_t value, uint64_t offset,
                             uint64_t limit = 0) {
    return {ParseOutcome::Damaged, {field, problem, value, offset, limit}};
  }

  // "Valid", or the outcome followed by the error.
  std::string describe() const;
};

}  // namespace corvale::fat
