#include "storage/LZMACompressor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" {
#include "LzmaDec.h"
#include "LzmaEnc.h"
}

namespace {

void* SdkAlloc(void*, size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void SdkFree(void*, void* address) { std::free(address); }
ISzAlloc g_sdkAlloc = {SdkAlloc, SdkFree};

constexpr int kAlgorithm = 2;
constexpr int kFastBytes = 64;
constexpr int kBadCall = -1;
constexpr int kInitFailed = -2;
constexpr int kIoError = -4;
constexpr int kNoMemory = -5;
constexpr uint64_t kUnknownSize = UINT64_MAX;

int ErrorFromSdk(SRes result) { return result == SZ_ERROR_MEM ? kNoMemory : kIoError; }

}  // namespace

CLZMACompressor::CLZMACompressor() = default;

CLZMACompressor::~CLZMACompressor() {
  if (m_encoder) LzmaEnc_Destroy(m_encoder, &g_sdkAlloc, &g_sdkAlloc);
}

int CLZMACompressor::Init(int /*level*/, int dictionarySize) {
  End();
  m_stopped = true;
  m_result = 0;
  if (!m_encoder) m_encoder = LzmaEnc_Create(&g_sdkAlloc);
  if (!m_encoder) return kInitFailed;
  if (dictionarySize <= 0) return kInitFailed;
  if (SetProperties(static_cast<uint32_t>(dictionarySize), kUnknownSize) != 0) return kInitFailed;
  m_dictionarySize = static_cast<uint32_t>(dictionarySize);
  m_stopped = false;
  return 0;
}

int CLZMACompressor::SetProperties(uint32_t dictionarySize, uint64_t dataSize) {
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.algo = kAlgorithm;
  props.dictSize = dictionarySize;
  props.fb = kFastBytes;
  // With the data's size known, the encoder takes the smallest dictionary of the header's steps
  // (2^n or 3 x 2^n bytes) that holds the data whole: no match can reach further back than the data
  // begins, and the match finder's tables, cleared for every stream, shrink with it.
  if (dataSize != kUnknownSize)
    props.reduceSize = static_cast<UInt32>(std::min<uint64_t>(dataSize, UINT32_MAX));
  return LzmaEnc_SetProps(m_encoder, &props) == SZ_OK ? 0 : kInitFailed;
}

int CLZMACompressor::End() {
  m_stopped = true;
  m_encoded = false;
  m_in = nullptr;
  m_inLength = 0;
  m_out = nullptr;
  m_outLength = 0;
  m_gathered.clear();
  m_encodedBytes.clear();
  m_handedOut = 0;
  return 0;
}

void CLZMACompressor::SetInput(const void* data, uint32_t length) {
  m_in = static_cast<const uint8_t*>(data);
  m_inLength = data ? length : 0;
}

void CLZMACompressor::SetOutput(void* data, uint32_t length) {
  m_out = static_cast<uint8_t*>(data);
  m_outLength = data ? length : 0;
}

int CLZMACompressor::Compress(bool finish) {
  if (m_result < 0) return m_result;
  if (m_stopped) return finish ? 0 : kBadCall;
  if (!m_encoded) {
    m_gathered.insert(m_gathered.end(), m_in, m_in + m_inLength);
    m_in += m_inLength;
    m_inLength = 0;
    if (!finish) return 0;

    // Room for incompressible data plus the coder's small overhead; running out of it is an error.
    const size_t bound = m_gathered.size() + m_gathered.size() / 2 + 1024;
    m_encodedBytes.resize(LZMA_PROPS_SIZE + bound);
    SizeT propsSize = LZMA_PROPS_SIZE;
    SRes result = SetProperties(m_dictionarySize, m_gathered.size()) == 0 ? SZ_OK : SZ_ERROR_PARAM;
    if (result == SZ_OK) result = LzmaEnc_WriteProperties(m_encoder, m_encodedBytes.data(), &propsSize);
    SizeT encodedSize = bound;
    static const Byte kNothing = 0;
    const Byte* source = m_gathered.empty() ? &kNothing : m_gathered.data();
    if (result == SZ_OK && propsSize == LZMA_PROPS_SIZE) {
      // The end marker lets a reader see that a stream is complete whatever its length.
      result = LzmaEnc_MemEncode(m_encoder, m_encodedBytes.data() + LZMA_PROPS_SIZE, &encodedSize, source,
                                 m_gathered.size(), 1, nullptr, &g_sdkAlloc, &g_sdkAlloc);
    } else if (result == SZ_OK) {
      result = SZ_ERROR_FAIL;
    }
    if (result != SZ_OK) {
      m_result = ErrorFromSdk(result);
      m_stopped = true;
      return m_result;
    }
    m_encodedBytes.resize(LZMA_PROPS_SIZE + encodedSize);
    m_gathered.clear();
    m_encoded = true;
  } else if (m_inLength != 0) {
    // Input after the finishing call cannot belong to the stream any more.
    return kBadCall;
  }
  const size_t n = std::min<size_t>(m_encodedBytes.size() - m_handedOut, m_outLength);
  if (n) std::memcpy(m_out, m_encodedBytes.data() + m_handedOut, n);
  m_handedOut += n;
  m_out += n;
  m_outLength -= static_cast<uint32_t>(n);
  return m_handedOut == m_encodedBytes.size() ? 1 : 0;
}

const char* CLZMACompressor::GetErrorText(int code) {
  switch (code) {
    case -1:
      return "bad call";
    case -2:
      return "initialization failed";
    case -3:
      return "thread synchronization error";
    case -4:
      return "input/output error";
    case -5:
      return "not enough memory";
    default:
      return "unknown error";
  }
}

// The decoder writes into its own buffer one byte longer than the caller's output and copies out.
// That spare byte is what tells a stream that ends exactly at the output's end (its end marker
// follows) from one that goes on past it, and lets the caller's output change between calls.
struct clzmadecompressor::State {
  CLzmaDec decoder{};
  bool active = false;
  bool started = false;
  bool finished = false;  // the stream's end was seen; what remains is handing out its bytes
  uint8_t header[LZMA_PROPS_SIZE] = {};
  unsigned headerFill = 0;
  const uint8_t* in = nullptr;
  size_t inLength = 0;
  uint8_t* out = nullptr;
  size_t outLength = 0;
  size_t limit = 0;   // the stream's output limit: the output room when decoding began
  size_t copied = 0;  // decoded bytes already handed to the caller
  std::vector<uint8_t> dictionary;
};

clzmadecompressor::clzmadecompressor() : m_state(std::make_unique<State>()) {
  LzmaDec_Construct(&m_state->decoder);
}

clzmadecompressor::~clzmadecompressor() { LzmaDec_FreeProbs(&m_state->decoder, &g_sdkAlloc); }

int clzmadecompressor::Init() {
  State& s = *m_state;
  s.active = true;
  s.started = false;
  s.finished = false;
  s.headerFill = 0;
  s.in = nullptr;
  s.inLength = 0;
  s.copied = 0;
  s.limit = 0;
  return 0;
}

void clzmadecompressor::SetInput(const void* data, uint32_t length) {
  m_state->in = static_cast<const uint8_t*>(data);
  m_state->inLength = data ? length : 0;
}

void clzmadecompressor::SetOutput(void* data, uint32_t length) {
  m_state->out = static_cast<uint8_t*>(data);
  m_state->outLength = data ? length : 0;
}

uint32_t clzmadecompressor::GetAvailOut() { return static_cast<uint32_t>(m_state->outLength); }
uint32_t clzmadecompressor::GetAvailIn() { return static_cast<uint32_t>(m_state->inLength); }

int clzmadecompressor::Decompress() {
  State& s = *m_state;
  if (!s.active) return kBadCall;
  while (s.headerFill < LZMA_PROPS_SIZE && s.inLength > 0) {
    s.header[s.headerFill++] = *s.in++;
    --s.inLength;
  }
  if (s.headerFill < LZMA_PROPS_SIZE) return 0;
  CLzmaDec& d = s.decoder;
  if (!s.started) {
    SRes result = LzmaDec_AllocateProbs(&d, s.header, LZMA_PROPS_SIZE, &g_sdkAlloc);
    if (result != SZ_OK) {
      s.active = false;
      return result == SZ_ERROR_MEM ? kNoMemory : kInitFailed;
    }
    s.limit = s.outLength;
    if (s.dictionary.size() != s.limit + 1) s.dictionary.assign(s.limit + 1, 0);
    d.dic = s.dictionary.data();
    d.dicBufSize = s.dictionary.size();
    LzmaDec_Init(&d);
    s.started = true;
  }
  if (!s.finished) {
    SizeT consumed = s.inLength;
    ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
    SRes result = LzmaDec_DecodeToDic(&d, d.dicBufSize, s.in, &consumed, LZMA_FINISH_END, &status);
    s.in += consumed;
    s.inLength -= consumed;
    if (result != SZ_OK) {
      s.active = false;
      return ErrorFromSdk(result);
    }
    // A stream written without an end marker ends where the input ends with the range coder at
    // zero; a few bytes decoded past the limit from no input at all are not part of it.
    const bool endedWithoutMarker =
        s.inLength == 0 && !d.needFlush && d.tempBufSize == 0 && d.remainLen == 0 && d.code == 0 &&
        (status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK || status == LZMA_STATUS_NEEDS_MORE_INPUT);
    if (status == LZMA_STATUS_FINISHED_WITH_MARK && d.dicPos <= s.limit) {
      s.finished = true;
    } else if (endedWithoutMarker) {
      s.finished = true;
    } else if (d.dicPos >= d.dicBufSize) {
      // Output past the limit that is not an end marker: the stream is longer than its room.
      s.active = false;
      return kIoError;
    }
  }
  // Hand out what was decoded, never more than the stream's limit.
  const size_t ready = std::min(static_cast<size_t>(d.dicPos), s.limit);
  const size_t n = std::min(ready - std::min(ready, s.copied), s.outLength);
  if (n) std::memcpy(s.out, s.dictionary.data() + s.copied, n);
  s.copied += n;
  s.out += n;
  s.outLength -= n;
  return s.finished && s.copied == ready ? 1 : 0;
}

int clzmadecompressor::End() {
  m_state->active = false;
  m_state->started = false;
  return 0;
}
