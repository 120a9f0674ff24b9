#pragma once
// The state stream the program uses: section data is stored as chunks of at most 4096 original
// bytes, each a 16-bit prefix (bits 0-11 stored bytes - 1, bit 15 zlib-compressed) and its bytes, so
// a reader needs only one 4096-byte buffer. See STATE-FORMAT.md for what a reader refuses.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/RSData.h"
#include "storage/Compressor.h"

namespace corvale {
constexpr size_t kRSChunkSize = 4096;
constexpr size_t kRSMaxCompressedChunk = 8190;
constexpr int kRSCompressionLevel = 5;
constexpr uint16_t kRSChunkCompressed = 0x8000;
constexpr uint16_t kRSChunkLengthMask = 0x0FFF;
constexpr uint16_t kRSChunkReserved = 0x7000;
}  // namespace corvale

class CRSDataEx : public CRSData {
 public:
  explicit CRSDataEx(int mode);
  ~CRSDataEx() override;

  void EndSection() override;
  size_t Read(void* buffer, size_t n) override;
  void Write(const void* buffer, size_t n) override;
  void Flush() override;

 private:
  // Compresses the gathered bytes into chunks and writes them.
  void WriteChunks();
  // Makes at least n unread section bytes available in the buffer, reading ahead; false when the
  // section holds fewer.
  bool Available(size_t n);
  // Decodes the next chunk into the output buffer.
  void NextChunk();

  ICompressor* m_compressor = nullptr;      // zlib, made on first use; without one, chunks are
  IDecompressor* m_decompressor = nullptr;  // stored as they are (writer) or refused (reader)
  uint8_t m_out[corvale::kRSChunkSize] = {};
  size_t m_outFill = 0;
  size_t m_outRead = 0;
  size_t m_readPos = 0;            // reader: next unread byte in m_buffer
  std::vector<uint8_t> m_staging;  // writer: the chunks of one flush, written at once
  uint8_t m_packed[corvale::kRSMaxCompressedChunk] = {};
};

// The process-wide streams: one writer and one reader, created on first use.
IRSData* GetStateWriter();
IRSData* GetStateReader();
