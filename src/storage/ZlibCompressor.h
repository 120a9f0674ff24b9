#pragma once
// zlib behind the block-compression interfaces (type 2).

#include <zlib.h>

#include <memory>

#include "storage/Compressor.h"

// Deflate streams. The library state is kept between streams and reset for the next one, which
// gives the same output as a fresh state without its allocation: the state stream starts one
// stream per 4 KiB piece.
class CZlibCompressor : public ICompressor {
 public:
  CZlibCompressor() = default;
  ~CZlibCompressor() override;
  CZlibCompressor(const CZlibCompressor&) = delete;
  CZlibCompressor& operator=(const CZlibCompressor&) = delete;

  int Init(int level, int dictionarySize) override;
  int End() override;
  int Compress(bool finish) override;
  void SetInput(const void* data, uint32_t length) override;
  void SetOutput(void* data, uint32_t length) override;
  void* GetNextOut() override;
  uint32_t GetAvailIn() override;
  uint32_t GetAvailOut() override;
  const char* GetName() override { return "zlib"; }
  const char* GetErrorText(int code) override;

 private:
  void Release();

  std::unique_ptr<z_stream> m_stream;
  bool m_ready = false;   // m_stream holds an initialised deflate state
  bool m_active = false;  // between a successful Init and End
  int m_level = 0;
};

class czlibdecompressor : public IDecompressor {
 public:
  czlibdecompressor() = default;
  ~czlibdecompressor() override;
  czlibdecompressor(const czlibdecompressor&) = delete;
  czlibdecompressor& operator=(const czlibdecompressor&) = delete;

  int Init() override;
  void SetInput(const void* data, uint32_t length) override;
  void SetOutput(void* data, uint32_t length) override;
  uint32_t GetAvailOut() override { return m_stream.avail_out; }
  int Decompress() override;
  int End() override;
  uint32_t GetAvailIn() override { return m_stream.avail_in; }

 private:
  z_stream m_stream{};
  bool m_ready = false;
  bool m_active = false;
};
