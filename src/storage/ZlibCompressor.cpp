#include "storage/ZlibCompressor.h"

#include <new>

CZlibCompressor::~CZlibCompressor() { Release(); }

void CZlibCompressor::Release() {
  if (m_ready) deflateEnd(m_stream.get());
  m_ready = false;
  m_active = false;
}

int CZlibCompressor::Init(int level, int /*dictionarySize*/) {
  m_active = false;
  if (!m_stream) {
    m_stream.reset(new (std::nothrow) z_stream{});
    if (!m_stream) return Z_MEM_ERROR;
  }
  int result;
  if (m_ready && m_level == level) {
    result = deflateReset(m_stream.get());
  } else {
    Release();
    *m_stream = z_stream{};
    // The macro passes the header's own version and structure size; the library refuses a
    // mismatch, and every piece would then be stored raw without a word.
    result = deflateInit(m_stream.get(), level);
    m_ready = result == Z_OK;
    m_level = level;
  }
  m_active = result == Z_OK;
  return result;
}

int CZlibCompressor::End() {
  // The state stays allocated for the next stream; the destructor frees it.
  m_active = false;
  if (m_stream) {
    m_stream->next_in = nullptr;
    m_stream->avail_in = 0;
    m_stream->next_out = nullptr;
    m_stream->avail_out = 0;
  }
  return Z_OK;
}

int CZlibCompressor::Compress(bool finish) {
  if (!m_active) return Z_STREAM_ERROR;
  int result = deflate(m_stream.get(), finish ? Z_FINISH : Z_NO_FLUSH);
  if (result == Z_STREAM_END) return 1;
  return result < 0 ? result : 0;
}

void CZlibCompressor::SetInput(const void* data, uint32_t length) {
  if (!m_stream) return;
  m_stream->next_in = static_cast<Bytef*>(const_cast<void*>(data));
  m_stream->avail_in = length;
}

void CZlibCompressor::SetOutput(void* data, uint32_t length) {
  if (!m_stream) return;
  m_stream->next_out = static_cast<Bytef*>(data);
  m_stream->avail_out = length;
}

void* CZlibCompressor::GetNextOut() { return m_stream ? m_stream->next_out : nullptr; }
uint32_t CZlibCompressor::GetAvailIn() { return m_stream ? m_stream->avail_in : 0; }
uint32_t CZlibCompressor::GetAvailOut() { return m_stream ? m_stream->avail_out : 0; }

const char* CZlibCompressor::GetErrorText(int code) {
  switch (code) {
    case -2:
      return "invalid stream - bad call";
    case -3:
      return "data error";
    case -4:
      return "not enough memory";
    case -5:
      return "buffer error - bad call";
    case -6:
      return "version error";
    default:
      return "unknown error";
  }
}

czlibdecompressor::~czlibdecompressor() {
  if (m_ready) inflateEnd(&m_stream);
}

int czlibdecompressor::Init() {
  int result;
  if (m_ready) {
    result = inflateReset(&m_stream);
  } else {
    m_stream = z_stream{};
    result = inflateInit(&m_stream);
    m_ready = result == Z_OK;
  }
  m_active = result == Z_OK;
  return result;
}

void czlibdecompressor::SetInput(const void* data, uint32_t length) {
  m_stream.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  m_stream.avail_in = length;
}

void czlibdecompressor::SetOutput(void* data, uint32_t length) {
  m_stream.next_out = static_cast<Bytef*>(data);
  m_stream.avail_out = length;
}

int czlibdecompressor::Decompress() {
  if (!m_active) return Z_STREAM_ERROR;
  int result = inflate(&m_stream, Z_NO_FLUSH);
  if (result == Z_STREAM_END) return 1;
  // A stream that asks for a preset dictionary was never written by a block compressor.
  if (result == Z_NEED_DICT) return Z_DATA_ERROR;
  return result < 0 ? result : 0;
}

int czlibdecompressor::End() {
  m_active = false;
  m_stream.next_in = nullptr;
  m_stream.avail_in = 0;
  m_stream.next_out = nullptr;
  m_stream.avail_out = 0;
  return Z_OK;
}
