#include <gtest/gtest.h>
#include <sys/mman.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/RSData.h"
#include "core/RSDataEx.h"
#include "storage/ByteReader.h"
#include "support/Fixtures.h"

using namespace corvale;
using Bytes = std::vector<uint8_t>;

namespace {

const RSGuid kGuidA = RSGuid::FromString("{9332EB72-887D-4145-937D-C3C918EA09FE}");
const RSGuid kGuidB = RSGuid::FromString("{409B6394-F681-4E88-A20F-5D635782ED75}");
const RSGuid kGuidC = RSGuid::FromString("{D208F26C-078C-4E34-9D71-D91F535F7B57}");
const RSGuid kAbsent = RSGuid::FromString("{B072A676-0548-468B-BA9E-91093A63B517}");

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// Records of a saved tree look like this: small fields, names, repeated structure.
Bytes TreeLikeBytes(size_t n) {
  Bytes b;
  std::mt19937 rng(7);
  while (b.size() < n) {
    const std::string name = "file_" + std::to_string(rng() % 5000) + ".jpg";
    const uint32_t fields[4] = {static_cast<uint32_t>(name.size()), static_cast<uint32_t>(rng() % 16), 0x20,
                                static_cast<uint32_t>(rng() % 100000)};
    const auto* f = reinterpret_cast<const uint8_t*>(fields);
    b.insert(b.end(), f, f + sizeof fields);
    b.insert(b.end(), name.begin(), name.end());
  }
  b.resize(n);
  return b;
}

Bytes FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::unique_ptr<CRSData> MakeStream(bool compressed, int mode) {
  if (compressed) return std::make_unique<CRSDataEx>(mode);
  return std::make_unique<CRSData>(mode);
}

int32_t CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const IRSException& e) {
    return e.GetCode();
  }
  return 0;
}

Bytes FreshHeader(uint32_t status) {
  Bytes header(kRSHeaderSize, 0);
  std::memcpy(header.data(), kRSMarker.bytes.data(), 16);
  putLE(header.data() + kRSStatusOffset, status, 4);
  return header;
}

// Rewrites header fields of a saved file, keeping the CRC right unless told not to.
void PatchHeader(const std::string& path, size_t offset, uint32_t value, bool fixCrc = true) {
  Bytes file = FileBytes(path);
  putLE(file.data() + offset, value, 4);
  if (fixCrc) putLE(file.data() + kRSCrcOffset, HeaderCrc(file.data()), 4);
  WriteFileBytes(path, file);
}

struct Content {
  const char* name;
  Bytes bytes;
};

std::vector<Content> Contents() {
  return {
      {"empty", {}},
      {"one_byte", {0x42}},
      {"zeros_1M", Bytes(1 << 20, 0)},
      {"random_600K", RandomBytes(600 * 1024 + 13, 1)},
      {"tree_like_700K", TreeLikeBytes(700 * 1024 + 5)},
      {"exactly_4096", RandomBytes(4096, 2)},
      {"exactly_512K", TreeLikeBytes(kRSBufferSize)},
  };
}

// Writes `content` with a mix of small and large writes, as a tree save and a block dump do.
void WriteInPieces(IRSData& s, const Bytes& content, uint32_t seed) {
  std::mt19937 rng(seed);
  size_t at = 0;
  while (at < content.size()) {
    size_t n = (rng() % 4 == 0) ? rng() % 700000 : rng() % 64;
    n = std::min(n, content.size() - at);
    s.Write(content.data() + at, n);
    at += n;
  }
}

Bytes ReadInPieces(IRSData& s, size_t expected, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(expected + 100);
  size_t at = 0;
  for (;;) {
    size_t n = (rng() % 4 == 0) ? rng() % 300000 + 1 : rng() % 9 + 1;
    n = std::min(n, out.size() - at);
    const size_t got = s.Read(out.data() + at, n);
    at += got;
    if (got < n || at == out.size()) break;
  }
  out.resize(at);
  return out;
}

class StateStream : public ::testing::TestWithParam<bool> {
 protected:
  std::string Path(const char* name = "state.rdf") { return m_dir + "/" + name; }
  std::string m_dir = test::ScratchDir();
};

INSTANTIATE_TEST_SUITE_P(PlainAndChunked, StateStream, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Chunked" : "Plain"; });

}  // namespace

TEST(StateStreamBasics, Crc16HasTheUmtsCheckValue) {
  const char* check = "123456789";
  EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(check), 9), 0xFEE8);
}

TEST(StateStreamBasics, GuidTextGivesItsBinaryForm) {
  const uint8_t expected[16] = {0xEA, 0xF4, 0xB3, 0x1C, 0x05, 0x43, 0xB6, 0x4A,
                                0xB4, 0xB8, 0x24, 0x4A, 0x33, 0xD9, 0x13, 0xBB};
  const RSGuid braced = RSGuid::FromString("{1CB3F4EA-4305-4AB6-B4B8-244A33D913BB}");
  EXPECT_EQ(0, std::memcmp(braced.bytes.data(), expected, 16));
  EXPECT_EQ(braced, RSGuid::FromString("1cb3f4ea-4305-4ab6-b4b8-244a33d913bb"));
  EXPECT_EQ(braced, kRSMarker);
  for (const char* bad :
       {"", "{1CB3F4EA-4305-4AB6-B4B8-244A33D913B}", "1CB3F4EA43054AB6B4B8244A33D913BB",
        "{1CB3F4EA-4305-4AB6-B4B8-244A33D913BG}", "{1CB3F4EA+4305-4AB6-B4B8-244A33D913BB}"}) {
    EXPECT_EQ(RSGuid{}, RSGuid::FromString(bad)) << bad;
  }
}

TEST_P(StateStream, EveryKindOfContentRoundTripsInAnySectionOrder) {
  const auto contents = Contents();
  std::vector<RSGuid> guids;
  for (size_t i = 0; i < contents.size(); ++i) {
    RSGuid g = kGuidA;
    g.bytes[15] = static_cast<uint8_t>(i);
    guids.push_back(g);
  }
  {
    auto w = MakeStream(GetParam(), RS_MODE_WRITE);
    ASSERT_TRUE(w->Open(Path(), 1));
    w->WriteHeader(FreshHeader(0).data());
    for (size_t i = 0; i < contents.size(); ++i) {
      ASSERT_TRUE(w->BeginSection(guids[i]));
      WriteInPieces(*w, contents[i].bytes, static_cast<uint32_t>(i));
      w->EndSection();
    }
    w->SetStatus(3);
    w->SetResultText("Found 12 partitions");
    w->Close();
  }
  auto r = MakeStream(GetParam(), RS_MODE_READ);
  ASSERT_TRUE(r->Open(Path(), 0));
  EXPECT_TRUE(r->IsValidFile());
  EXPECT_EQ(r->GetStatus(), 3);
  char text[128];
  r->GetResultText(text, sizeof text);
  EXPECT_STREQ(text, "Found 12 partitions");
  // Backwards, then the first one again: sections are found wherever they are.
  for (size_t k = 0; k <= contents.size(); ++k) {
    const size_t i = k < contents.size() ? contents.size() - 1 - k : 0;
    SCOPED_TRACE(contents[i].name);
    ASSERT_TRUE(r->BeginSection(guids[i]));
    if (!GetParam()) {
      EXPECT_EQ(r->GetSectionLength(), contents[i].bytes.size());
    }
    EXPECT_EQ(ReadInPieces(*r, contents[i].bytes.size(), static_cast<uint32_t>(k + 100)), contents[i].bytes);
    r->EndSection();
  }
}

TEST_P(StateStream, SingleWriteLargerThanTheBufferRoundTrips) {
  const Bytes big = RandomBytes(3 * kRSBufferSize + 77, 9);
  const Bytes small = {1, 2, 3};
  {
    auto w = MakeStream(GetParam(), RS_MODE_WRITE);
    ASSERT_TRUE(w->Open(Path(), 1));
    w->WriteHeader(FreshHeader(1).data());
    w->BeginSection(kGuidB);
    w->Write(small.data(), small.size());
    w->Write(big.data(), big.size());
    w->Write(small.data(), small.size());
    w->EndSection();
  }
  auto r = MakeStream(GetParam(), RS_MODE_READ);
  ASSERT_TRUE(r->Open(Path(), 0));
  r->BeginSection(kGuidB);
  Bytes expected = small;
  expected.insert(expected.end(), big.begin(), big.end());
  expected.insert(expected.end(), small.begin(), small.end());
  Bytes got(expected.size() + 10);
  EXPECT_EQ(r->Read(got.data(), got.size()), expected.size());  // only what remains
  got.resize(expected.size());
  EXPECT_EQ(got, expected);
  EXPECT_EQ(r->Read(got.data(), 1), 0u);
}

TEST_P(StateStream, HeaderChecksRefuseDamagedOrForeignHeaders) {
  {
    auto w = MakeStream(GetParam(), RS_MODE_WRITE);
    ASSERT_TRUE(w->Open(Path(), 1));
    w->WriteHeader(FreshHeader(2).data());
  }
  auto r = MakeStream(GetParam(), RS_MODE_READ);
  uint8_t header[kRSHeaderSize];
  ASSERT_TRUE(r->Open(Path(), 0));
  EXPECT_TRUE(r->ReadHeader(header));
  EXPECT_EQ(ByteReader(header, sizeof header).u32(kRSVersionOffset), kRSVersion);
  EXPECT_TRUE(r->IsValidFile());

  struct Case {
    const char* name;
    size_t offset;
    uint32_t value;
    bool fixCrc;
    bool headerReads;
    bool valid;
  };
  const Case cases[] = {
      {"crc_altered", kRSCrcOffset, 0x1234, false, false, false},
      {"version_5799", kRSVersionOffset, 5799, true, false, false},
      {"status_0", kRSStatusOffset, 0, true, true, false},
      {"status_4", kRSStatusOffset, 4, true, true, true},
      {"status_5", kRSStatusOffset, 5, true, true, false},
      {"marker_changed", 3, 0x99999999, true, true, false},
  };
  const Bytes original = FileBytes(Path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(Path(), original);
    PatchHeader(Path(), c.offset, c.value, c.fixCrc);
    ASSERT_TRUE(r->Open(Path(), 0));
    EXPECT_EQ(r->ReadHeader(header), c.headerReads);
    EXPECT_EQ(r->IsValidFile(), c.valid);
  }
  WriteFileBytes(Path(), original);
  PatchHeader(Path(), kRSStatusOffset, 5);
  ASSERT_TRUE(r->Open(Path(), 0));
  EXPECT_EQ(CodeOf([&] { r->GetStatus(); }), RS_ERROR_BAD_DATA);
}

TEST_P(StateStream, ResultTextKeepsItsFirstHundredCharacters) {
  const std::string text150(150, 'x');
  {
    auto w = MakeStream(GetParam(), RS_MODE_WRITE);
    ASSERT_TRUE(w->Open(Path(), 1));
    w->SetResultText(text150.c_str());  // no header yet: a fresh one is written around it
    w->SetStatus(1);
  }
  auto r = MakeStream(GetParam(), RS_MODE_READ);
  ASSERT_TRUE(r->Open(Path(), 0));
  EXPECT_TRUE(r->IsValidFile());
  char buffer[200];
  r->GetResultText(buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer), text150.substr(0, 100));
  r->GetResultText(buffer, 11);
  EXPECT_EQ(std::string(buffer), std::string(10, 'x'));
  buffer[0] = '#';
  r->GetResultText(buffer, 0);  // no room, not even for the terminator
  EXPECT_EQ(buffer[0], '#');

  PatchHeader(Path(), kRSTextLengthOffset, 101);
  ASSERT_TRUE(r->Open(Path(), 0));
  EXPECT_EQ(CodeOf([&] { r->GetResultText(buffer, sizeof buffer); }), RS_ERROR_BAD_DATA);
}

TEST_P(StateStream, OperationsInTheWrongStateThrowTheirCodes) {
  auto w = MakeStream(GetParam(), RS_MODE_WRITE);
  ASSERT_TRUE(w->Open(Path(), 1));
  w->WriteHeader(FreshHeader(1).data());
  uint8_t byte = 0;
  EXPECT_EQ(CodeOf([&] { w->Write(&byte, 1); }), RS_ERROR_NO_SECTION);
  EXPECT_EQ(CodeOf([&] { w->GetSectionLength(); }), RS_ERROR_NO_SECTION);
  EXPECT_EQ(CodeOf([&] { w->Read(&byte, 1); }), RS_ERROR_WRONG_MODE);
  EXPECT_EQ(CodeOf([&] { w->GetStatus(); }), RS_ERROR_WRONG_MODE);
  char text[8];
  EXPECT_EQ(CodeOf([&] { w->GetResultText(text, sizeof text); }), RS_ERROR_WRONG_MODE);
  w->BeginSection(kGuidA);
  w->Write(&byte, 1);
  w->EndSection();
  w->Close();

  auto r = MakeStream(GetParam(), RS_MODE_READ);
  ASSERT_TRUE(r->Open(Path(), 0));
  EXPECT_EQ(CodeOf([&] { r->Read(&byte, 1); }), RS_ERROR_NO_SECTION);
  EXPECT_EQ(CodeOf([&] { r->Write(&byte, 1); }), RS_ERROR_WRONG_MODE);
  EXPECT_EQ(CodeOf([&] { r->Flush(); }), RS_ERROR_WRONG_MODE);
  EXPECT_EQ(CodeOf([&] { r->SetStatus(1); }), RS_ERROR_WRONG_MODE);
  EXPECT_EQ(CodeOf([&] { r->SetResultText("x"); }), RS_ERROR_WRONG_MODE);
  EXPECT_EQ(CodeOf([&] { r->WriteHeader(FreshHeader(1).data()); }), RS_ERROR_WRONG_MODE);
  EXPECT_EQ(CodeOf([&] { r->BeginSection(kAbsent); }), RS_ERROR_NO_SUCH_SECTION);
  EXPECT_EQ(CodeOf([&] { r->BeginSection(kGuidA); }), 0);
  EXPECT_EQ(CodeOf([&] { ReadExact(*r, &byte, 1); }), 0);
  EXPECT_EQ(byte, 0);
  EXPECT_EQ(CodeOf([&] { ReadExact(*r, &byte, 1); }), RS_ERROR_SHORT_READ);
}

TEST_P(StateStream, OpenRefusesEmptyPathsAndMissingFiles) {
  auto r = MakeStream(GetParam(), RS_MODE_READ);
  EXPECT_FALSE(r->Open("", 0));
  EXPECT_FALSE(r->Open(Path("missing.rdf"), 1));
  EXPECT_FALSE(r->IsValidFile());
  auto w = MakeStream(GetParam(), RS_MODE_WRITE);
  EXPECT_FALSE(w->Open("", 1));
  EXPECT_TRUE(w->Open(Path("created.rdf"), 0));  // created when missing
}

TEST_P(StateStream, WritingToAFullDeviceThrowsSix) {
  auto w = MakeStream(GetParam(), RS_MODE_WRITE);
  ASSERT_TRUE(w->Open("/dev/full", 0));
  EXPECT_EQ(CodeOf([&] { w->WriteHeader(FreshHeader(1).data()); }), RS_ERROR_WRITE_FAILED);
  EXPECT_EQ(CodeOf([&] { w->BeginSection(kGuidA); }), RS_ERROR_WRITE_FAILED);
}

TEST_P(StateStream, ASectionLeftOpenIsFinishedAtClose) {
  const Bytes data = TreeLikeBytes(10000);
  {
    auto w = MakeStream(GetParam(), RS_MODE_WRITE);
    ASSERT_TRUE(w->Open(Path(), 1));
    w->WriteHeader(FreshHeader(1).data());
    w->BeginSection(kGuidC);
    w->Write(data.data(), data.size());
  }
  auto r = MakeStream(GetParam(), RS_MODE_READ);
  ASSERT_TRUE(r->Open(Path(), 0));
  r->BeginSection(kGuidC);
  EXPECT_EQ(ReadInPieces(*r, data.size(), 3), data);
}

TEST(StateStreamPlain, ASectionCannotGrowPastWhatItsHeaderHolds) {
  // A 4 GiB + 1 view of zero pages: the write is refused before a byte of it is read.
  const size_t size = 0x100000001ull;
  void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(view, MAP_FAILED);
  CRSData w(RS_MODE_WRITE);
  ASSERT_TRUE(w.Open(test::ScratchDir() + "/big.rdf", 1));
  w.BeginSection(kGuidA);
  EXPECT_EQ(CodeOf([&] { w.Write(view, size); }), RS_ERROR_WRITE_FAILED);
  munmap(view, size);
}

TEST(StateStreamSingletons, OneWriterAndOneReaderForTheProcess) {
  IRSData* writer = GetStateWriter();
  IRSData* reader = GetStateReader();
  EXPECT_EQ(writer, GetStateWriter());
  EXPECT_EQ(reader, GetStateReader());
  EXPECT_NE(writer, reader);
  const std::string path = test::ScratchDir() + "/singletons.rdf";
  const Bytes data = TreeLikeBytes(20000);
  ASSERT_TRUE(writer->Open(path, 1));
  writer->WriteHeader(FreshHeader(0).data());
  writer->BeginSection(kGuidA);
  writer->Write(data.data(), data.size());
  writer->EndSection();
  writer->SetStatus(4);
  writer->Close();
  ASSERT_TRUE(reader->Open(path, 1));
  EXPECT_TRUE(reader->IsValidFile());
  reader->BeginSection(kGuidA);
  EXPECT_EQ(ReadInPieces(*reader, data.size(), 1), data);
  reader->Close();
  uint8_t byte;
  EXPECT_EQ(CodeOf([&] { writer->Read(&byte, 1); }), RS_ERROR_WRONG_MODE);
}
