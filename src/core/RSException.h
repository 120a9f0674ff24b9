#pragma once
// The state stream's exception: every stream operation that fails throws one with a code.

#include <cstdint>

#include "core/IRSData.h"

enum RSErrorCode : int32_t {
  // The file holds data that cannot be right: a status of 5 or more, a result text longer than 100,
  // a section header without the marker, a chunk prefix with reserved bits set, a compressed chunk
  // that does not inflate to one whole stream of 1..4096 bytes.
  RS_ERROR_BAD_DATA = 2,
  // A write operation on a reader or a read operation on a writer.
  RS_ERROR_WRONG_MODE = 3,
  // The file ends early or a length in it points past its end: a cut section header, a section
  // longer than the rest of the file, a chunk running past its section, a read that comes up short.
  RS_ERROR_SHORT_READ = 5,
  // A write to the file failed, or a section would grow past the 32-bit length its header holds.
  RS_ERROR_WRITE_FAILED = 6,
  // The section looked for is not in the file.
  RS_ERROR_NO_SUCH_SECTION = 7,
  // No section is open.
  RS_ERROR_NO_SECTION = 8,
};

class CRSException : public IRSException {
 public:
  explicit CRSException(int32_t code) : m_code(code) {}
  int32_t GetCode() const override { return m_code; }

 private:
  int32_t m_code;
};
