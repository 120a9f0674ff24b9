#pragma once
// The outcome of parsing one on-disk structure (a boot sector, a record, a directory entry). A parse
// says one of three things: the bytes are this structure and sound (Valid); they are not this
// structure at all, e.g. the signature is missing, which is no error during a scan
// (NotThisStructure); or they carry the signature but a field breaks the format (Damaged). I/O errors are not
// parse outcomes: callers report a failed read themselves.
//
// A ParseError names the field, the value read, where it was read and the limit it broke. It holds
// no text: describe() formats it, and only trace logging calls that, so scan loops format nothing.

#include <cstdint>
#include <string>

namespace corvale {

enum class ParseOutcome { Valid, NotThisStructure, Damaged };

const char* ToString(ParseOutcome outcome);

struct ParseError {
  const char* field = "";    // the field that failed, e.g. "attribute length"
  const char* problem = "";  // what is wrong with it, e.g. "runs past the record end"
  uint64_t value = 0;        // the value read
  uint64_t offset = 0;       // where it was read, from the start of the structure
  uint64_t limit = 0;        // the bound it broke (0 when there is none to show)

  // "attribute length at +0x98 runs past the record end (value 0x1F0, limit 0x168)"
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

  // "Damaged: attribute length at +0x98 ..." or "Valid".
  std::string describe() const;
};

}  // namespace corvale
