#pragma once
// Little-endian fields through the recovery-state stream. Everything a saved scan holds is written
// field by field with these helpers, never as a memory image of a struct.
//
// Reading is strict: a fixed-size field that comes up short ends in the stream's exception
// (RS_ERROR_SHORT_READ), and a value no writer of ours produces ends in RS_ERROR_BAD_DATA. Lengths and counts
// read from a state file never size an allocation up front; buffers grow only as the bytes actually arrive.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/IRSData.h"
#include "core/RSData.h"
#include "core/RSException.h"

namespace corvale {

// Throws the state stream's exception (CRSException) with `code`.
[[noreturn]] void ThrowStateError(int32_t code);

uint8_t ReadU8(IRSData& stream);
uint16_t ReadU16(IRSData& stream);
uint32_t ReadU32(IRSData& stream);
uint64_t ReadU64(IRSData& stream);
inline int32_t ReadI32(IRSData& stream) { return static_cast<int32_t>(ReadU32(stream)); }

// Reads `length` bytes that a state file announced, growing the buffer piece by piece so that a
// forged length costs at most the bytes really present before the stream runs out.
void ReadAnnounced(IRSData& stream, uint64_t length, std::vector<uint8_t>& out);
// The same for text: `length` bytes, refused as bad data when above `maxLength`.
std::string ReadText(IRSData& stream, uint64_t length, uint64_t maxLength);

void WriteU8(IRSData& stream, uint8_t value);
void WriteU16(IRSData& stream, uint16_t value);
void WriteU32(IRSData& stream, uint32_t value);
void WriteU64(IRSData& stream, uint64_t value);
inline void WriteI32(IRSData& stream, int32_t value) { WriteU32(stream, static_cast<uint32_t>(value)); }

// Fields gathered in a small buffer and handed to the stream in one write: a saved record of
// a node is many small fields, and one call per field would dominate saving a large tree.
class StateRecordWriter {
 public:
  explicit StateRecordWriter(IRSData& stream) : m_stream(stream) {}
  ~StateRecordWriter() = default;
  StateRecordWriter(const StateRecordWriter&) = delete;
  StateRecordWriter& operator=(const StateRecordWriter&) = delete;

  StateRecordWriter& U8(uint8_t v) { return Put(v, 1); }
  StateRecordWriter& U16(uint16_t v) { return Put(v, 2); }
  StateRecordWriter& U32(uint32_t v) { return Put(v, 4); }
  StateRecordWriter& I32(int32_t v) { return Put(static_cast<uint32_t>(v), 4); }
  StateRecordWriter& U64(uint64_t v) { return Put(v, 8); }
  StateRecordWriter& Bytes(const void* data, size_t n);
  // Hands the gathered bytes to the stream; called before any direct write to the same stream.
  void Flush();

 private:
  StateRecordWriter& Put(uint64_t v, unsigned n);

  IRSData& m_stream;
  uint8_t m_buffer[512];
  size_t m_fill = 0;
};

// The longest prefix of `text` of at most `maxBytes` bytes that does not end inside a UTF-8 sequence.
std::string CutUtf8(const char* text, size_t maxBytes);

}  // namespace corvale
