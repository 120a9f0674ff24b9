#include "storage/Bzip2Compressor.h"

#include <new>

namespace {
constexpr int kWorkFactor = 30;
}

CBzip2Compressor::~CBzip2Compressor() { End(); }

int CBzip2Compressor::Init(int level, int /*dictionarySize*/) {
  End();
  m_stream.reset(new (std::nothrow) bz_stream{});
  if (!m_stream) return BZ_MEM_ERROR;
  m_lastResult = BZ_OK;
  int result = BZ2_bzCompressInit(m_stream.get(), level, 0, kWorkFactor);
  if (result != BZ_OK) m_stream.reset();
  return result;
}

int CBzip2Compressor::End() {
  if (!m_stream) return BZ_OK;
  int result = BZ2_bzCompressEnd(m_stream.get());
  m_stream.reset();
  return result;
}

int CBzip2Compressor::Compress(bool finish) {
  if (!m_stream) return BZ_SEQUENCE_ERROR;
  // A finished stream answers a further finish without asking the library, which would refuse it.
  if (m_lastResult == BZ_STREAM_END && finish) return 1;
  m_lastResult = BZ2_bzCompress(m_stream.get(), finish ? BZ_FINISH : BZ_RUN);
  if (m_lastResult < 0) return m_lastResult;
  // BZ_FINISH_OK means the output filled up before the stream ended: not done.
  return m_lastResult == BZ_STREAM_END ? 1 : 0;
}

void CBzip2Compressor::SetInput(const void* data, uint32_t length) {
  if (!m_stream) return;
  m_stream->next_in = static_cast<char*>(const_cast<void*>(data));
  m_stream->avail_in = length;
}

void CBzip2Compressor::SetOutput(void* data, uint32_t length) {
  if (!m_stream) return;
  m_stream->next_out = static_cast<char*>(data);
  m_stream->avail_out = length;
}

void* CBzip2Compressor::GetNextOut() { return m_stream ? m_stream->next_out : nullptr; }
uint32_t CBzip2Compressor::GetAvailIn() { return m_stream ? m_stream->avail_in : 0; }
uint32_t CBzip2Compressor::GetAvailOut() { return m_stream ? m_stream->avail_out : 0; }

const char* CBzip2Compressor::GetErrorText(int code) {
  switch (code) {
    case -1:
      return "sequence error - bad call";
    case -2:
      return "parameter error - bad call";
    case -3:
      return "not enough memory";
    case -9:
      return "config error";
    default:
      return "unknown error";
  }
}

cbzip2decompressor::~cbzip2decompressor() { End(); }

int cbzip2decompressor::Init() {
  End();
  m_stream = bz_stream{};
  int result = BZ2_bzDecompressInit(&m_stream, 0, 0);
  m_active = result == BZ_OK;
  return result;
}

void cbzip2decompressor::SetInput(const void* data, uint32_t length) {
  m_stream.next_in = static_cast<char*>(const_cast<void*>(data));
  m_stream.avail_in = length;
}

void cbzip2decompressor::SetOutput(void* data, uint32_t length) {
  m_stream.next_out = static_cast<char*>(data);
  m_stream.avail_out = length;
}

int cbzip2decompressor::Decompress() {
  if (!m_active) return BZ_SEQUENCE_ERROR;
  int result = BZ2_bzDecompress(&m_stream);
  if (result == BZ_STREAM_END) return 1;
  return result < 0 ? result : 0;
}

int cbzip2decompressor::End() {
  if (!m_active) return BZ_OK;
  m_active = false;
  return BZ2_bzDecompressEnd(&m_stream);
}
