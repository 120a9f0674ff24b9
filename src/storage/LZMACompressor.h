#pragma once
// The LZMA SDK behind the block-compression interfaces (type 3). A stream is the 5-byte property
// header (properties byte, then the dictionary size little-endian) followed by the encoded data.
//
// The encoder runs as one direct buffer-to-buffer call when the stream is finished: Compress
// without finish gathers the input, Compress with finish encodes it (algorithm 2, 64 fast bytes,
// with an end marker) and hands the result out as the output room allows. The dictionary is the
// size given to Init, cut to the smallest size the header can state that holds the gathered input
// (a 128 KiB block gets a 128 KiB dictionary): a larger one holds nothing more, and the match
// finder's tables, which grow with the dictionary, are cleared for every stream. The header states
// the dictionary used; any decoder of the format reads it, as it reads the streams written with the
// full size before. The encoder object and its match finder are kept from block to block; each
// stream still starts from a cleared state, so the output is the same as with a fresh encoder.
//
// The decoder also reads streams written without an end marker (as other encoders of the format
// write a stream of known size): such a stream ends where its input ends with the range coder at
// zero. Its length is only known to its writer, so a reader passes that length as the output room;
// given more room, the decoder may take a few bytes beyond the real end as part of the stream.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "storage/Compressor.h"

class CLZMACompressor : public ICompressor {
 public:
  CLZMACompressor();
  ~CLZMACompressor() override;
  CLZMACompressor(const CLZMACompressor&) = delete;
  CLZMACompressor& operator=(const CLZMACompressor&) = delete;

  int Init(int level, int dictionarySize) override;
  int End() override;
  int Compress(bool finish) override;
  void SetInput(const void* data, uint32_t length) override;
  void SetOutput(void* data, uint32_t length) override;
  void* GetNextOut() override { return m_out; }
  uint32_t GetAvailIn() override { return m_inLength; }
  uint32_t GetAvailOut() override { return m_outLength; }
  const char* GetName() override { return "lzma"; }
  const char* GetErrorText(int code) override;

 private:
  // The encoder's properties for a stream of `dataSize` bytes (UINT64_MAX: not known yet); 0 or -2.
  int SetProperties(uint32_t dictionarySize, uint64_t dataSize);

  void* m_encoder = nullptr;      // the SDK's encoder handle, kept between streams
  uint32_t m_dictionarySize = 0;  // given to Init: the most a stream's dictionary may be
  bool m_stopped = true;          // set until Init succeeds, and after a failure
  int m_result = 0;               // a failure code that later calls repeat
  bool m_encoded = false;         // the gathered input has been encoded into m_encodedBytes
  const uint8_t* m_in = nullptr;
  uint32_t m_inLength = 0;
  uint8_t* m_out = nullptr;
  uint32_t m_outLength = 0;
  std::vector<uint8_t> m_gathered;      // input of the current stream
  std::vector<uint8_t> m_encodedBytes;  // property header and encoded data
  size_t m_handedOut = 0;               // bytes of m_encodedBytes already copied to the caller
};

class clzmadecompressor : public IDecompressor {
 public:
  clzmadecompressor();
  ~clzmadecompressor() override;
  clzmadecompressor(const clzmadecompressor&) = delete;
  clzmadecompressor& operator=(const clzmadecompressor&) = delete;

  int Init() override;
  void SetInput(const void* data, uint32_t length) override;
  // The decoder uses the output as its dictionary, so a stream's output is this one buffer.
  void SetOutput(void* data, uint32_t length) override;
  uint32_t GetAvailOut() override;
  int Decompress() override;
  int End() override;
  uint32_t GetAvailIn() override;

 private:
  struct State;
  std::unique_ptr<State> m_state;
};
