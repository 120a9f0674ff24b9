#include "core/StateIo.h"

#include <algorithm>
#include <cstring>

namespace corvale {

void ThrowStateError(int32_t code) { throw CRSException(code); }

namespace {
uint64_t ReadLE(IRSData& stream, unsigned n) {
  uint8_t b[8];
  ReadExact(stream, b, n);
  uint64_t v = 0;
  for (unsigned i = 0; i < n; ++i) v |= static_cast<uint64_t>(b[i]) << (8 * i);
  return v;
}

void WriteLE(IRSData& stream, uint64_t v, unsigned n) {
  uint8_t b[8];
  for (unsigned i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  stream.Write(b, n);
}
}  // namespace

uint8_t ReadU8(IRSData& stream) { return static_cast<uint8_t>(ReadLE(stream, 1)); }
uint16_t ReadU16(IRSData& stream) { return static_cast<uint16_t>(ReadLE(stream, 2)); }
uint32_t ReadU32(IRSData& stream) { return static_cast<uint32_t>(ReadLE(stream, 4)); }
uint64_t ReadU64(IRSData& stream) { return ReadLE(stream, 8); }

void ReadAnnounced(IRSData& stream, uint64_t length, std::vector<uint8_t>& out) {
  // Pieces of 64 KiB: large enough that ordinary records arrive in one read, small enough that a
  // forged length of gigabytes allocates nothing before the stream proves it has the bytes.
  constexpr uint64_t kPiece = 64 * 1024;
  out.clear();
  while (out.size() < length) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(kPiece, length - out.size()));
    const size_t old = out.size();
    out.resize(old + piece);
    ReadExact(stream, out.data() + old, piece);
  }
}

std::string ReadText(IRSData& stream, uint64_t length, uint64_t maxLength) {
  if (length > maxLength) ThrowStateError(RS_ERROR_BAD_DATA);
  std::vector<uint8_t> bytes;
  ReadAnnounced(stream, length, bytes);
  return std::string(bytes.begin(), bytes.end());
}

void WriteU8(IRSData& stream, uint8_t value) { WriteLE(stream, value, 1); }
void WriteU16(IRSData& stream, uint16_t value) { WriteLE(stream, value, 2); }
void WriteU32(IRSData& stream, uint32_t value) { WriteLE(stream, value, 4); }
void WriteU64(IRSData& stream, uint64_t value) { WriteLE(stream, value, 8); }

StateRecordWriter& StateRecordWriter::Put(uint64_t v, unsigned n) {
  if (m_fill + n > sizeof(m_buffer)) Flush();
  for (unsigned i = 0; i < n; ++i) m_buffer[m_fill + i] = static_cast<uint8_t>(v >> (8 * i));
  m_fill += n;
  return *this;
}

StateRecordWriter& StateRecordWriter::Bytes(const void* data, size_t n) {
  if (n == 0) return *this;
  if (m_fill + n > sizeof(m_buffer)) {
    Flush();
    if (n > sizeof(m_buffer)) {
      m_stream.Write(data, n);
      return *this;
    }
  }
  std::memcpy(m_buffer + m_fill, data, n);
  m_fill += n;
  return *this;
}

void StateRecordWriter::Flush() {
  if (m_fill == 0) return;
  const size_t n = m_fill;
  m_fill = 0;
  m_stream.Write(m_buffer, n);
}

std::string CutUtf8(const char* text, size_t maxBytes) {
  if (text == nullptr) return {};
  const size_t length = std::strlen(text);
  if (length <= maxBytes) return std::string(text, length);
  size_t cut = maxBytes;
  // Back off over continuation bytes (10xxxxxx) so the cut falls at the start of a character; at
  // most three, so text that is not UTF-8 at all still keeps nearly all it can.
  for (int i = 0; i < 3 && cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80; ++i) --cut;
  if ((static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) cut = maxBytes;
  return std::string(text, cut);
}

}  // namespace corvale
