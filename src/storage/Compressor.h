#pragma once
// Block compression shared by disk images and the state stream. Each block is compressed as an
// independent stream through ICompressor and read back through IDecompressor; the implementation is
// chosen by a type id that is also stored in files: 1 bzip2, 2 zlib, 3 LZMA.
//
// Result codes of Compress and Decompress: negative is a library error (see GetErrorText), 1 means
// the stream has ended (everything given was consumed and written), 0 means more input or more
// output room is needed. Only 1 tells a caller that the output is complete; a stream that stops
// short is never complete, whatever the library said about its last step.

#include <cstdint>

enum CompressionType : int {
  COMPRESSION_NONE = 0,
  COMPRESSION_BZIP2 = 1,
  COMPRESSION_ZLIB = 2,
  COMPRESSION_LZMA = 3,
};

class ICompressor {
 public:
  virtual ~ICompressor() = default;
  // Starts a stream; 0 on success, a negative library code otherwise. zlib and bzip2 take `level`,
  // LZMA takes `dictionarySize`.
  virtual int Init(int level, int dictionarySize) = 0;
  // Ends the stream. The object may start the next stream with Init.
  virtual int End() = 0;
  // Runs the library on the current input and output; with `finish`, the input set is the last.
  virtual int Compress(bool finish) = 0;
  virtual void SetInput(const void* data, uint32_t length) = 0;
  virtual void SetOutput(void* data, uint32_t length) = 0;
  virtual void* GetNextOut() = 0;
  virtual uint32_t GetAvailIn() = 0;
  virtual uint32_t GetAvailOut() = 0;
  virtual const char* GetName() = 0;
  virtual const char* GetErrorText(int code) = 0;
};

class IDecompressor {
 public:
  virtual ~IDecompressor() = default;
  virtual int Init() = 0;
  virtual void SetInput(const void* data, uint32_t length) = 0;
  // The whole output of one stream goes to one buffer.
  virtual void SetOutput(void* data, uint32_t length) = 0;
  virtual uint32_t GetAvailOut() = 0;
  virtual int Decompress() = 0;
  virtual int End() = 0;
  // Input bytes not yet consumed: a block is one whole stream only when this is 0 at its end.
  virtual uint32_t GetAvailIn() = 0;
};

// A new object for types 1, 2 and 3; null for any other type.
ICompressor* CreateCompressor(int type);
IDecompressor* CreateDecompressor(int type);
void ReleaseCompressor(ICompressor* compressor);
void ReleaseDecompressor(IDecompressor* decompressor);

namespace corvale {

// The dictionary every block stream is started with (LZMA uses it; zlib and bzip2 ignore it).
constexpr int kBlockDictionarySize = 0x800000;

// Compresses one block into `output` (capacity bytes) as one complete stream. The block is stored
// there unchanged instead when there is no compressor, the library fails, the stream does not end
// inside the capacity, or the result is not shorter than the block; a reader tells the two apart
// by the length. Returns the bytes produced; *compressed (when given) says which form was stored.
// `capacity` must be at least `length`; otherwise a block that cannot be compressed is not stored
// at all and 0 is returned.
uint32_t CompressBlock(ICompressor* compressor, int level, const void* block, uint32_t length, void* output,
                       uint32_t capacity, bool* compressed = nullptr);

// Decompresses one stored block into `output`. A block that is not exactly one complete stream
// (library error, truncated stream, output larger than the capacity, bytes after the stream's end)
// is taken as stored unchanged and copied as it is, when it fits. Returns the bytes produced (0 when a stored
// block exceeds the capacity); *decompressed (when given) says whether the block was decompressed.
uint32_t DecompressBlock(IDecompressor* decompressor, const void* data, uint32_t length, void* output,
                         uint32_t capacity, bool* decompressed = nullptr);

}  // namespace corvale
