// The chunked section layout as it lands in the file, and what a reader does with files that were
// damaged or made by hand: every outcome is the data as written or a CRSException, never a crash.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
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

const RSGuid kTree = RSGuid::FromString("{D208F26C-078C-4E34-9D71-D91F535F7B57}");
const RSGuid kParts = RSGuid::FromString("{9332EB72-887D-4145-937D-C3C918EA09FE}");
const RSGuid kRaw = RSGuid::FromString("{0F1F07F2-A023-4DEF-940E-2CE80A7A8D3D}");

Bytes FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

Bytes Compressible(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>("record name size time "[rng() % 22]);
  return b;
}

int32_t CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const IRSException& e) {
    return e.GetCode();
  }
  return 0;
}

struct Section {
  RSGuid guid;
  Bytes data;
};

void SaveFile(const std::string& path, bool chunked, const std::vector<Section>& sections) {
  std::unique_ptr<CRSData> w =
      chunked ? std::make_unique<CRSDataEx>(RS_MODE_WRITE) : std::make_unique<CRSData>(RS_MODE_WRITE);
  ASSERT_TRUE(w->Open(path, 1));
  uint8_t header[kRSHeaderSize] = {};
  std::memcpy(header, kRSMarker.bytes.data(), 16);
  w->WriteHeader(header);
  for (const Section& s : sections) {
    w->BeginSection(s.guid);
    w->Write(s.data.data(), s.data.size());
    w->EndSection();
  }
  w->SetStatus(2);
  w->SetResultText("saved");
}

// A chunk as found in a saved section.
struct Chunk {
  uint16_t prefix;
  size_t offset;  // of the prefix in the file
  Bytes original;
};

// Parses the chunks of the first section of a file, inflating the compressed ones.
std::vector<Chunk> ChunksOf(const Bytes& file) {
  ByteReader r(file.data(), file.size());
  const size_t data = kRSHeaderSize + kRSSectionHeaderSize;
  const size_t end = data + r.u32(kRSHeaderSize + 32);
  std::vector<Chunk> chunks;
  for (size_t at = data; at < end;) {
    Chunk c{r.u16(at), at, {}};
    const size_t stored = (c.prefix & 0x0FFF) + 1u;
    if (c.prefix & 0x8000) {
      c.original.resize(8192);
      uLongf n = c.original.size();
      EXPECT_EQ(uncompress(c.original.data(), &n, file.data() + at + 2, stored), Z_OK);
      c.original.resize(n);
    } else {
      c.original.assign(file.begin() + static_cast<std::ptrdiff_t>(at + 2),
                        file.begin() + static_cast<std::ptrdiff_t>(at + 2 + stored));
    }
    chunks.push_back(c);
    at += 2 + stored;
  }
  return chunks;
}

// Reads every listed section through `reader`, in pieces of varying size. Returns the code thrown
// (0 when none) and leaves what was read in *read.
int32_t ReadBackWith(CRSData* r, const std::string& path, const std::vector<RSGuid>& guids,
                     std::vector<Bytes>* read, uint32_t seed) {
  std::mt19937 rng(seed);
  return CodeOf([&] {
    if (!r->Open(path, 0)) return;
    r->IsValidFile();
    uint8_t header[kRSHeaderSize];
    r->ReadHeader(header);
    r->GetStatus();
    char text[120];
    r->GetResultText(text, sizeof text);
    for (const RSGuid& g : guids) {
      r->BeginSection(g);
      Bytes got;
      uint8_t piece[9000];
      for (;;) {
        const size_t want = rng() % 3 ? rng() % 16 + 1 : rng() % sizeof piece + 1;
        const size_t n = r->Read(piece, want);
        ASSERT_LE(n, want);
        got.insert(got.end(), piece, piece + n);
        if (n < want) break;
      }
      r->EndSection();
      if (read) read->push_back(got);
    }
  });
}

int32_t ReadBack(const std::string& path, bool chunked, const std::vector<RSGuid>& guids,
                 std::vector<Bytes>* read = nullptr, uint32_t seed = 1) {
  std::unique_ptr<CRSData> r =
      chunked ? std::make_unique<CRSDataEx>(RS_MODE_READ) : std::make_unique<CRSData>(RS_MODE_READ);
  return ReadBackWith(r.get(), path, guids, read, seed);
}

class ChunkLayout : public ::testing::Test {
 protected:
  std::string m_path = test::ScratchDir() + "/state.rdf";
};

}  // namespace

TEST_F(ChunkLayout, TenThousandBytesMakeChunksOf4096And4096And1808) {
  const Bytes data = Compressible(10000, 1);
  SaveFile(m_path, true, {{kTree, data}});
  const auto chunks = ChunksOf(FileBytes(m_path));
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].original.size(), 4096u);
  EXPECT_EQ(chunks[1].original.size(), 4096u);
  EXPECT_EQ(chunks[2].original.size(), 1808u);
  Bytes joined;
  for (const Chunk& c : chunks) {
    EXPECT_TRUE(c.prefix & 0x8000);
    EXPECT_EQ(c.prefix & 0x7000, 0);
    joined.insert(joined.end(), c.original.begin(), c.original.end());
  }
  EXPECT_EQ(joined, data);
}

TEST_F(ChunkLayout, IncompressibleChunksAreStoredWithPrefix0FFF) {
  const Bytes data = RandomBytes(4096 * 2 + 100, 2);
  SaveFile(m_path, true, {{kTree, data}});
  const auto chunks = ChunksOf(FileBytes(m_path));
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].prefix, 0x0FFF);
  EXPECT_EQ(chunks[1].prefix, 0x0FFF);
  EXPECT_EQ(chunks[2].prefix, 99);
  EXPECT_EQ(FileBytes(m_path).size(), kRSHeaderSize + kRSSectionHeaderSize + data.size() + 3 * 2);
  std::vector<Bytes> read;
  EXPECT_EQ(ReadBack(m_path, true, {kTree}, &read), 0);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0], data);
}

// One field of a saved chunked file changed per row.
struct Damage {
  const char* name;
  std::function<void(Bytes& file, const std::vector<Chunk>& chunks)> apply;
  int32_t code;
};

class DamagedChunkedFile : public ::testing::TestWithParam<Damage> {};

namespace {

constexpr size_t kSectionLength = kRSHeaderSize + 32;
constexpr size_t kFirstData = kRSHeaderSize + kRSSectionHeaderSize;

void SetSectionLength(Bytes& file, uint32_t value) { putLE(file.data() + kSectionLength, value, 4); }

// A hand-made chunk: `prefix` then `body`, as the whole section.
void ReplaceSection(Bytes& file, uint16_t prefix, const Bytes& body) {
  file.resize(kFirstData);
  file.push_back(static_cast<uint8_t>(prefix));
  file.push_back(static_cast<uint8_t>(prefix >> 8));
  file.insert(file.end(), body.begin(), body.end());
  SetSectionLength(file, static_cast<uint32_t>(file.size() - kFirstData));
}

Bytes Deflate(const Bytes& data) {
  Bytes out(compressBound(data.size()));
  uLongf n = out.size();
  EXPECT_EQ(compress(out.data(), &n, data.data(), data.size()), Z_OK);
  out.resize(n);
  return out;
}

const Damage kDamages[] = {
    {"section_length_past_file_end",
     [](Bytes& f, auto&) { SetSectionLength(f, static_cast<uint32_t>(f.size())); }, RS_ERROR_SHORT_READ},
    {"section_length_huge", [](Bytes& f, auto&) { SetSectionLength(f, 0xFFFFFFFF); }, RS_ERROR_SHORT_READ},
    {"file_cut_inside_section", [](Bytes& f, auto&) { f.resize(f.size() - 10); }, RS_ERROR_SHORT_READ},
    {"file_cut_inside_section_header", [](Bytes& f, auto&) { f.resize(kRSHeaderSize + 20); },
     RS_ERROR_SHORT_READ},
    {"file_shorter_than_its_header", [](Bytes& f, auto&) { f.resize(100); }, RS_ERROR_SHORT_READ},
    {"section_marker_damaged", [](Bytes& f, auto&) { f[kRSHeaderSize + 2] ^= 0xFF; }, RS_ERROR_BAD_DATA},
    {"section_cut_inside_a_prefix",
     [](Bytes& f, auto&) {
       f.push_back(0x00);
       SetSectionLength(f, static_cast<uint32_t>(f.size() - kFirstData));
     },
     RS_ERROR_SHORT_READ},
    {"prefix_claims_more_than_the_section",
     [](Bytes& f, const std::vector<Chunk>& c) { putLE(f.data() + c.back().offset, 0x8FFF, 2); },
     RS_ERROR_SHORT_READ},
    {"prefix_reserved_bits_set", [](Bytes& f, const std::vector<Chunk>& c) { f[c[1].offset + 1] |= 0x40; },
     RS_ERROR_BAD_DATA},
    {"compressed_chunk_body_damaged",
     [](Bytes& f, const std::vector<Chunk>& c) { f[c[0].offset + 6] ^= 0x55; }, RS_ERROR_BAD_DATA},
    {"compressed_flag_cleared_serves_the_raw_bytes",
     [](Bytes& f, const std::vector<Chunk>& c) { f[c[0].offset + 1] &= 0x7F; }, 0},
    {"inflates_past_4096",
     [](Bytes& f, auto&) {
       const Bytes z = Deflate(Bytes(5000, 'a'));
       ReplaceSection(f, static_cast<uint16_t>(0x8000 | (z.size() - 1)), z);
     },
     RS_ERROR_BAD_DATA},
    {"zlib_stream_ends_before_the_chunk",
     [](Bytes& f, auto&) {
       Bytes z = Deflate(Bytes(3000, 'b'));
       z.insert(z.end(), 7, 0);
       ReplaceSection(f, static_cast<uint16_t>(0x8000 | (z.size() - 1)), z);
     },
     RS_ERROR_BAD_DATA},
    {"zlib_stream_of_nothing",
     [](Bytes& f, auto&) {
       const Bytes z = Deflate({});
       ReplaceSection(f, static_cast<uint16_t>(0x8000 | (z.size() - 1)), z);
     },
     RS_ERROR_BAD_DATA},
    {"stored_chunk_of_one_byte_is_fine", [](Bytes& f, auto&) { ReplaceSection(f, 0x0000, {0x7A}); }, 0},
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(OneFieldPerRow, DamagedChunkedFile, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(DamagedChunkedFile, EndsInItsCode) {
  const std::string path = test::ScratchDir() + "/state.rdf";
  SaveFile(path, true, {{kTree, Compressible(3 * 4096 + 500, 4)}});
  Bytes file = FileBytes(path);
  GetParam().apply(file, ChunksOf(file));
  WriteFileBytes(path, file);
  EXPECT_EQ(ReadBack(path, true, {kTree}), GetParam().code);
}

TEST(HostileStatePlain, SectionLengthsAreCheckedAgainstTheFile) {
  const std::string path = test::ScratchDir() + "/plain.rdf";
  SaveFile(path, false, {{kParts, RandomBytes(1000, 1)}, {kTree, RandomBytes(50, 2)}});
  Bytes file = FileBytes(path);
  SetSectionLength(file, 0xFFFFFF00);  // the first section now claims more than the file holds
  WriteFileBytes(path, file);
  EXPECT_EQ(ReadBack(path, false, {kTree}), RS_ERROR_SHORT_READ);
  EXPECT_EQ(ReadBack(path, false, {kParts}), RS_ERROR_SHORT_READ);
}

TEST(HostileStateMutations, DamagedSavedStreamsEndCleanlyOrInCoded) {
  // Real saved files of both forms, damaged at random with a fixed seed: byte flips, cuts, and
  // lengths, prefixes and section sizes set to edge values. Each must read to its end or throw
  // CRSException; the sanitizers catch anything else.
  const std::string dir = test::ScratchDir();
  const std::vector<Section> sections = {
      {kParts, Compressible(9000, 1)},
      {kTree, RandomBytes(5000, 2)},
      {kRaw, Bytes(20000, 0)},
  };
  const std::vector<RSGuid> guids = {kRaw, kParts, kTree};
  std::mt19937 rng(20240601);
  int clean = 0, thrown = 0;
  for (bool chunked : {false, true}) {
    const std::string original = dir + (chunked ? "/chunked.rdf" : "/plain.rdf");
    SaveFile(original, chunked, sections);
    const Bytes pristine = FileBytes(original);
    std::vector<Bytes> read;
    ASSERT_EQ(ReadBack(original, chunked, guids, &read), 0);
    ASSERT_EQ(read[1], sections[0].data);

    // Where lengths live: the section headers' length fields and the chunk prefixes.
    std::vector<size_t> lengthFields, prefixes;
    for (size_t at = kRSHeaderSize; at + kRSSectionHeaderSize <= pristine.size();) {
      lengthFields.push_back(at + 32);
      const size_t data = at + kRSSectionHeaderSize;
      const size_t end = data + ByteReader(pristine.data(), pristine.size()).u32(at + 32);
      for (size_t c = data; chunked && c + 2 <= end;
           c += 2 + (ByteReader(pristine.data(), pristine.size()).u16(c) & 0xFFF) + 1) {
        prefixes.push_back(c);
      }
      at = end;
    }
    const uint32_t edges[] = {0,      1,      2,      35,     36,         0x0FFF,
                              0x1000, 0x8000, 0x8FFF, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF};

    const std::string path = dir + "/mutant.rdf";
    // One reader for the whole loop, as the program keeps one: each Open starts afresh.
    std::unique_ptr<CRSData> reader =
        chunked ? std::make_unique<CRSDataEx>(RS_MODE_READ) : std::make_unique<CRSData>(RS_MODE_READ);
    for (int i = 0; i < 1000; ++i) {
      Bytes file = pristine;
      const int kind = static_cast<int>(rng() % 5);
      if (kind == 0) {
        for (int f = 1 + static_cast<int>(rng() % 8); f > 0; --f)
          file[rng() % file.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
      } else if (kind == 1) {
        file.resize(rng() % file.size());
      } else if (kind == 2) {
        putLE(file.data() + lengthFields[rng() % lengthFields.size()], rng() % 2 ? edges[rng() % 12] : rng(),
              4);
      } else if (kind == 3 && !prefixes.empty()) {
        putLE(file.data() + prefixes[rng() % prefixes.size()], rng() % 2 ? edges[rng() % 10] : rng(), 2);
      } else {
        // A run of garbage over a stretch of the file.
        const size_t at = rng() % file.size();
        for (size_t k = at; k < std::min(file.size(), at + 1 + rng() % 300); ++k)
          file[k] = static_cast<uint8_t>(rng());
      }
      WriteFileBytes(path, file);
      const int32_t code = ReadBackWith(reader.get(), path, guids, nullptr, static_cast<uint32_t>(i));
      ASSERT_TRUE(code == 0 || code == RS_ERROR_BAD_DATA || code == RS_ERROR_SHORT_READ ||
                  code == RS_ERROR_NO_SUCH_SECTION)
          << "mutation " << i << " code " << code;
      (code == 0 ? clean : thrown)++;
    }
  }
  // Both outcomes occur; a loop that always threw (or never did) would test nothing.
  EXPECT_GT(clean, 0);
  EXPECT_GT(thrown, 0);
}
