#include "storage/ParseResult.h"

#include <cinttypes>
#include <cstdio>

namespace corvale {

const char* ToString(ParseOutcome outcome) {
  switch (outcome) {
    case ParseOutcome::Valid:
      return "Valid";
    case ParseOutcome::NotThisStructure:
      return "NotThisStructure";
    case ParseOutcome::Damaged:
      return "Damaged";
  }
  return "?";
}

std::string ParseError::describe() const {
  char text[256];
  if (limit != 0) {
    std::snprintf(text, sizeof text, "%s at +0x%" PRIX64 " %s (value 0x%" PRIX64 ", limit 0x%" PRIX64 ")",
                  field, offset, problem, value, limit);
  } else {
    std::snprintf(text, sizeof text, "%s at +0x%" PRIX64 " %s (value 0x%" PRIX64 ")", field, offset, problem,
                  value);
  }
  return text;
}

std::string ParseResult::describe() const {
  if (outcome == ParseOutcome::Valid) return "Valid";
  return std::string(ToString(outcome)) + ": " + error.describe();
}

}  // namespace corvale
