#include "core/MappingPairs.h"

#include <limits>

namespace corvale {

unsigned SignedByteCount(int64_t v) {
  for (unsigned n = 1; n < 8; ++n) {
    const int64_t half = int64_t{1} << (8 * n - 1);
    if (v >= -half && v < half) return n;
  }
  return 8;
}

void MappingPairsEncoder::Add(uint64_t start, uint64_t length) {
  // The decoder reads lengths unsigned, so a length with the top bit of its 64 bits set must keep
  // all eight bytes; as a signed value it would shrink to a few bytes and come back small.
  const unsigned lengthBytes = length > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                                   ? 8
                                   : SignedByteCount(static_cast<int64_t>(length));
  unsigned offsetBytes = 0;
  uint64_t delta = 0;
  if (start != kSparseRunStart) {
    delta = start - m_previousStart;  // modulo 2^64; the decoder adds it back the same way
    offsetBytes = SignedByteCount(static_cast<int64_t>(delta));
    m_previousStart = start;
  }
  m_bytes.push_back(static_cast<uint8_t>((offsetBytes << 4) | (lengthBytes & 0x0F)));
  for (unsigned i = 0; i < lengthBytes; ++i) m_bytes.push_back(static_cast<uint8_t>(length >> (8 * i)));
  for (unsigned i = 0; i < offsetBytes; ++i) m_bytes.push_back(static_cast<uint8_t>(delta >> (8 * i)));
}

std::vector<uint8_t> MappingPairsEncoder::Finish() {
  m_bytes.push_back(0);
  std::vector<uint8_t> out = std::move(m_bytes);
  m_bytes.clear();
  m_previousStart = 0;
  return out;
}

MappingPairsDecoder::Step MappingPairsDecoder::Next(MappingPair& run) {
  if (m_damaged) return Step::Damaged;
  if (m_ended) return Step::End;
  if (m_bytes == nullptr || m_pos >= m_length) {
    // The string ran out before its terminator.
    m_damaged = true;
    return Step::Damaged;
  }
  const uint8_t header = m_bytes[m_pos];
  if (header == 0) {
    ++m_pos;
    m_ended = true;
    return Step::End;
  }
  const unsigned lengthBytes = header & 0x0F;
  const unsigned offsetBytes = header >> 4;
  if (lengthBytes > m_maxField || offsetBytes > m_maxField ||
      m_length - m_pos - 1 < lengthBytes + offsetBytes) {
    m_damaged = true;
    return Step::Damaged;
  }
  const uint8_t* p = m_bytes + m_pos + 1;
  uint64_t length = 0;
  for (unsigned i = 0; i < lengthBytes; ++i) length |= static_cast<uint64_t>(p[i]) << (8 * i);
  p += lengthBytes;
  uint64_t start = kSparseRunStart;
  if (offsetBytes > 0) {
    uint64_t delta = 0;
    for (unsigned i = 0; i < offsetBytes; ++i) delta |= static_cast<uint64_t>(p[i]) << (8 * i);
    if (offsetBytes < 8 && (p[offsetBytes - 1] & 0x80)) delta |= ~uint64_t{0} << (8 * offsetBytes);
    const uint64_t lcn = m_lcn + delta;
    // A run before cluster 0 is no place on the volume: the string is garbage. This also keeps a
    // real run from ever reading back as the sparse marker.
    if (lcn > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      m_damaged = true;
      return Step::Damaged;
    }
    m_lcn = lcn;
    start = lcn;
  }
  if (length > std::numeric_limits<uint64_t>::max() - m_vcn) {
    m_damaged = true;
    return Step::Damaged;
  }
  run.start = start;
  run.vcn = m_vcn;
  run.length = length;
  m_vcn += length;
  m_pos += 1 + lengthBytes + offsetBytes;
  return Step::Run;
}

bool DecodeMappingPairs(const uint8_t* bytes, size_t length, std::vector<DataRun>& runs,
                        unsigned maxFieldBytes) {
  runs.clear();
  MappingPairsDecoder decoder(bytes, length, maxFieldBytes);
  MappingPair pair;
  for (;;) {
    switch (decoder.Next(pair)) {
      case MappingPairsDecoder::Step::Run:
        runs.push_back(DataRun{pair.start, pair.length});
        break;
      case MappingPairsDecoder::Step::End:
        return true;
      case MappingPairsDecoder::Step::Damaged:
        runs.clear();
        return false;
    }
  }
}

std::optional<size_t> MappingPairsLength(const uint8_t* bytes, size_t limit) {
  if (bytes == nullptr) return std::nullopt;
  size_t p = 0;
  while (p < limit) {
    const uint8_t header = bytes[p];
    if (header == 0) return p + 1;
    const size_t step = 1 + (header & 0x0F) + (header >> 4);
    if (step > limit - p) return std::nullopt;
    p += step;
  }
  return std::nullopt;
}

}  // namespace corvale
