#include "core/RSDataEx.h"

#include <algorithm>
#include <cstring>

#include "storage/ByteReader.h"

using namespace corvale;

CRSDataEx::CRSDataEx(int mode) : CRSData(mode) {}

CRSDataEx::~CRSDataEx() {
  // Finish an open section here: the base destructor no longer knows the chunked form.
  CloseNoThrow();
  ReleaseCompressor(m_compressor);
  ReleaseDecompressor(m_decompressor);
}

void CRSDataEx::EndSection() {
  if (m_mode == RS_MODE_WRITE && SectionOpen()) {
    try {
      WriteChunks();
    } catch (...) {
      m_sectionPos = -1;
      m_fill = 0;
      throw;
    }
  }
  CRSData::EndSection();
  m_outFill = m_outRead = 0;
  m_readPos = 0;
  m_fill = 0;
}

void CRSDataEx::Write(const void* buffer, size_t n) {
  RequireMode(RS_MODE_WRITE);
  RequireSection();
  auto* p = static_cast<const uint8_t*>(buffer);
  while (n > 0) {
    const size_t take = std::min(n, m_buffer.size() - m_fill);
    std::memcpy(m_buffer.data() + m_fill, p, take);
    m_fill += take;
    p += take;
    n -= take;
    if (m_fill == m_buffer.size()) Flush();
  }
}

void CRSDataEx::Flush() {
  RequireMode(RS_MODE_WRITE);
  if (m_fill == 0) return;
  WriteChunks();
}

void CRSDataEx::WriteChunks() {
  if (m_fill == 0) return;
  if (!m_compressor) m_compressor = CreateCompressor(COMPRESSION_ZLIB);
  m_staging.clear();
  m_staging.reserve(m_fill + (m_fill / kRSChunkSize + 1) * 2);
  for (size_t offset = 0; offset < m_fill; offset += kRSChunkSize) {
    const uint32_t piece = static_cast<uint32_t>(std::min(kRSChunkSize, m_fill - offset));
    const uint8_t* source = m_buffer.data() + offset;
    bool compressed = false;
    const uint32_t stored = CompressBlock(m_compressor, kRSCompressionLevel, source, piece, m_packed,
                                          sizeof m_packed, &compressed);
    const uint16_t prefix = static_cast<uint16_t>((stored - 1) | (compressed ? kRSChunkCompressed : 0));
    const uint8_t* data = compressed ? m_packed : source;
    const size_t at = m_staging.size();
    m_staging.resize(at + 2 + stored);
    putLE(m_staging.data() + at, prefix, 2);
    std::memcpy(m_staging.data() + at + 2, data, stored);
  }
  m_fill = 0;
  AddSectionLength(m_staging.size());
  WriteStored(m_staging.data(), m_staging.size());
}

bool CRSDataEx::Available(size_t n) {
  if (m_fill - m_readPos >= n) return true;
  // Move the unread rest to the front and read on from the section.
  std::memmove(m_buffer.data(), m_buffer.data() + m_readPos, m_fill - m_readPos);
  m_fill -= m_readPos;
  m_readPos = 0;
  const size_t more = static_cast<size_t>(std::min<uint64_t>(m_buffer.size() - m_fill, StoredLeft()));
  ReadStored(m_buffer.data() + m_fill, more);
  m_fill += more;
  return m_fill >= n;
}

void CRSDataEx::NextChunk() {
  if (!Available(2)) throw CRSException(RS_ERROR_SHORT_READ);
  const uint16_t prefix = ByteReader(m_buffer.data() + m_readPos, 2).u16(0);
  if (prefix & kRSChunkReserved) throw CRSException(RS_ERROR_BAD_DATA);
  const size_t stored = (prefix & kRSChunkLengthMask) + 1u;
  if (!Available(2 + stored)) throw CRSException(RS_ERROR_SHORT_READ);
  const uint8_t* data = m_buffer.data() + m_readPos + 2;
  size_t produced = stored;
  if (prefix & kRSChunkCompressed) {
    if (!m_decompressor) m_decompressor = CreateDecompressor(COMPRESSION_ZLIB);
    bool decompressed = false;
    produced = DecompressBlock(m_decompressor, data, static_cast<uint32_t>(stored), m_out, sizeof m_out,
                               &decompressed);
    // A compressed chunk is one whole zlib stream of its stored bytes holding 1..4096 bytes;
    // anything else would serve bytes that were never written.
    if (!decompressed || produced == 0) throw CRSException(RS_ERROR_BAD_DATA);
  } else {
    std::memcpy(m_out, data, stored);
  }
  m_readPos += 2 + stored;
  m_outFill = produced;
  m_outRead = 0;
}

size_t CRSDataEx::Read(void* buffer, size_t n) {
  RequireMode(RS_MODE_READ);
  RequireSection();
  auto* p = static_cast<uint8_t*>(buffer);
  size_t delivered = 0;
  while (delivered < n) {
    if (m_outRead == m_outFill) {
      // The section ends where its stored bytes end, on a chunk boundary.
      if (StoredLeft() == 0 && m_readPos == m_fill) break;
      NextChunk();
    }
    const size_t take = std::min(n - delivered, m_outFill - m_outRead);
    std::memcpy(p + delivered, m_out + m_outRead, take);
    m_outRead += take;
    delivered += take;
  }
  return delivered;
}

IRSData* GetStateWriter() {
  static CRSDataEx writer(RS_MODE_WRITE);
  return &writer;
}

IRSData* GetStateReader() {
  static CRSDataEx reader(RS_MODE_READ);
  return &reader;
}
