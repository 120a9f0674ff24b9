#pragma once
// bzip2 behind the block-compression interfaces (type 1). The library has no way to reset a
// stream, so each block starts a fresh state.

#include <bzlib.h>

#include <memory>

#include "storage/Compressor.h"

class CBzip2Compressor : public ICompressor {
 public:
  CBzip2Compressor() = default;
  ~CBzip2Compressor() override;
  CBzip2Compressor(const CBzip2Compressor&) = delete;
  CBzip2Compressor& operator=(const CBzip2Compressor&) = delete;

  // `level` is the block size in units of 100 kB (1..9).
  int Init(int level, int dictionarySize) override;
  int End() override;
  int Compress(bool finish) override;
  void SetInput(const void* data, uint32_t length) override;
  void SetOutput(void* data, uint32_t length) override;
  void* GetNextOut() override;
  uint32_t GetAvailIn() override;
  uint32_t GetAvailOut() override;
  const char* GetName() override { return "bzip2"; }
  const char* GetErrorText(int code) override;

 private:
  std::unique_ptr<bz_stream> m_stream;  // present between a successful Init and End
  int m_lastResult = BZ_OK;
};

class cbzip2decompressor : public IDecompressor {
 public:
  cbzip2decompressor() = default;
  ~cbzip2decompressor() override;
  cbzip2decompressor(const cbzip2decompressor&) = delete;
  cbzip2decompressor& operator=(const cbzip2decompressor&) = delete;

  int Init() override;
  void SetInput(const void* data, uint32_t length) override;
  void SetOutput(void* data, uint32_t length) override;
  uint32_t GetAvailOut() override { return m_stream.avail_out; }
  int Decompress() override;
  int End() override;
  uint32_t GetAvailIn() override { return m_stream.avail_in; }

 private:
  bz_stream m_stream{};
  bool m_active = false;
};
