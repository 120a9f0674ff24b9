// LZNT1 expansion of compressed units: chunks built by hand for each rule of the format, the real
// units ntfs-3g wrote into a compressed folder, and a seeded mutation loop over those units that
// checks the decoder never reads or writes outside the buffers it was given.

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "NtfsRecordWalk.h"
#include "NtfsTestVolume.h"
#include "ntfs/Lznt1.h"
#include "storage/MemoryDevice.h"

using corvale::ntfs::DecompressLznt1;
using corvale::ntfs::Lznt1Outcome;
using corvale::ntfs::Lznt1Result;

namespace {

// A compressed chunk's items: literal bytes, or a 16-bit back-reference token given as it is
// stored (its split between displacement and length depends on the position, and the rows spell it
// out).
struct Token {
  uint16_t value;
};
using Item = std::variant<std::string, Token>;

// Each group of eight items is preceded by a flag byte whose bit i says item i is a token.
std::vector<uint8_t> CompressedChunk(const std::vector<Item>& items) {
  std::vector<std::variant<uint8_t, Token>> flat;
  for (const Item& item : items) {
    if (auto* text = std::get_if<std::string>(&item)) {
      for (char c : *text) flat.emplace_back(uint8_t(c));
    } else {
      flat.emplace_back(std::get<Token>(item));
    }
  }
  std::vector<uint8_t> data;
  for (size_t i = 0; i < flat.size(); i += 8) {
    const size_t flagAt = data.size();
    data.push_back(0);
    for (size_t k = 0; k < 8 && i + k < flat.size(); ++k) {
      if (auto* byte = std::get_if<uint8_t>(&flat[i + k])) {
        data.push_back(*byte);
      } else {
        data[flagAt] |= uint8_t(1u << k);
        const uint16_t t = std::get<Token>(flat[i + k]).value;
        data.push_back(uint8_t(t));
        data.push_back(uint8_t(t >> 8));
      }
    }
  }
  std::vector<uint8_t> chunk{uint8_t((data.size() - 1) & 0xFF), uint8_t(0xB0 | ((data.size() - 1) >> 8))};
  chunk.insert(chunk.end(), data.begin(), data.end());
  return chunk;
}

std::vector<uint8_t> StoredChunk(const std::string& bytes) {
  std::vector<uint8_t> chunk{uint8_t((bytes.size() - 1) & 0xFF), uint8_t(0x30 | ((bytes.size() - 1) >> 8))};
  chunk.insert(chunk.end(), bytes.begin(), bytes.end());
  return chunk;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::string Block(const std::string& content) {
  std::string block = content;
  block.resize(corvale::ntfs::kLznt1BlockSize, '\0');
  return block;
}

struct Row {
  const char* name;
  std::vector<uint8_t> input;
  size_t outputSize;
  Lznt1Outcome outcome;
  std::string expected;  // the output's start; the rest is zeros
};

const std::string kSixteen = "0123456789ABCDEF";

std::vector<Row> Rows() {
  return {
      {"literals_only", CompressedChunk({std::string("hello, world")}), 4096, Lznt1Outcome::Complete,
       "hello, world"},
      // At position 3 four bits hold the displacement: (3 - 1) << 12 | (9 - 3).
      {"overlapping_repeat", CompressedChunk({std::string("abc"), Token{0x2006}}), 4096,
       Lznt1Outcome::Complete, "abcabcabcabc"},
      // Position 16 is the last with four displacement bits, 17 the first with five.
      {"split_at_16", CompressedChunk({kSixteen, Token{0xF000}}), 4096, Lznt1Outcome::Complete,
       kSixteen + "012"},
      {"split_at_17", CompressedChunk({kSixteen + "G", Token{0x8000}}), 4096, Lznt1Outcome::Complete,
       kSixteen + "G012"},
      {"run_filling_the_block", CompressedChunk({std::string("x"), Token{0x0FFC}}), 4096,
       Lznt1Outcome::Complete, std::string(4096, 'x')},
      {"stored_chunk", StoredChunk(std::string(4096, 's')), 4096, Lznt1Outcome::Complete,
       std::string(4096, 's')},
      // Each chunk is one block: a short one leaves the rest of its block zero.
      {"short_chunks_fill_their_blocks",
       Join({CompressedChunk({std::string("first")}), CompressedChunk({std::string("second")})}), 3 * 4096,
       Lznt1Outcome::Complete, Block("first") + "second"},
      {"zero_header_ends_the_data",
       Join({CompressedChunk({std::string("only")}), {0, 0}, StoredChunk("never")}), 2 * 4096,
       Lznt1Outcome::Complete, "only"},
      {"output_cut_inside_a_copy", CompressedChunk({std::string("abc"), Token{0x2006}}), 5,
       Lznt1Outcome::Complete, "abcab"},
      {"output_cut_before_a_damaged_token", CompressedChunk({std::string("abc"), Token{0xF000}}), 3,
       Lznt1Outcome::Complete, "abc"},
      {"empty_input", {}, 4096, Lznt1Outcome::Complete, ""},
      // Damage: the expansion stops, and the damaged block and all after it are zeros.
      {"copy_from_before_the_block",
       Join({StoredChunk(std::string(4096, 'k')), CompressedChunk({std::string("a"), Token{0x1000}})}),
       2 * 4096, Lznt1Outcome::Damaged, std::string(4096, 'k')},
      {"copy_at_position_zero", CompressedChunk({Token{0x0000}}), 4096, Lznt1Outcome::Damaged, ""},
      {"copy_past_the_block", CompressedChunk({std::string("x"), Token{0x0FFF}}), 4096, Lznt1Outcome::Damaged,
       ""},
      {"token_cut_by_the_chunk_end", {0x01, 0xB0, 0x01, 0x00}, 4096, Lznt1Outcome::Damaged, ""},
      {"chunk_past_the_input", Join({{0x63, 0xB0}, std::vector<uint8_t>(50, 0)}), 4096, Lznt1Outcome::Damaged,
       ""},
  };
}

class Lznt1Chunks : public ::testing::TestWithParam<Row> {};

TEST_P(Lznt1Chunks, ExpandAsTheFormatSays) {
  const Row& row = GetParam();
  // Exactly sized buffers: a read or write past them is an error under the address sanitizer.
  std::vector<uint8_t> input = row.input;
  std::vector<uint8_t> output(row.outputSize, 0xEE);
  const Lznt1Result result = DecompressLznt1(input.data(), input.size(), output.data(), output.size());
  EXPECT_EQ(result.outcome, row.outcome);
  std::string want = row.expected;
  want.resize(row.outputSize, '\0');
  EXPECT_EQ(std::string(output.begin(), output.end()), want);
}

INSTANTIATE_TEST_SUITE_P(Rows, Lznt1Chunks, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return std::string(info.param.name);
                         });

// The compressed units of the compressed files of a real volume: the stored clusters of each unit
// that ends in holes, and what ntfs-3g reads for it.
struct RealUnit {
  std::vector<uint8_t> stored;
  std::string expected;
};

std::vector<RealUnit> RealUnits(const NtfsTestVolume& volume) {
  std::vector<RealUnit> units;
  MemoryDevice device(volume.image, int32_t(volume.geometry.bytesPerSector));
  ntfswalk::WalkResult walk;
  std::string why;
  if (!ntfswalk::WalkMftRecords(&device, 0, walk, &why)) return units;
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(walk.root, FreeFileTree);
  const uint64_t clusterBytes = volume.geometry.bytesPerCluster;
  const uint64_t unitBytes = 16 * clusterBytes;
  for (const NtfsEntry& e : volume.manifest.entries) {
    if (e.deleted || e.directory || e.path.rfind("packed/", 0) != 0) continue;
    std::unique_ptr<IDataRunList> runs = walk.nodes.at(e.record)->GetFileProperties()->CreateDataRunList();
    if (!runs || runs->IsResident()) continue;
    std::ifstream in(volume.folder + "/content.live/" + e.path, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Clusters by VCN: the cluster number, or -1 for a hole.
    std::vector<int64_t> clusters;
    for (const DataRun& run : runs->Runs())
      for (uint64_t i = 0; i < run.length; ++i)
        clusters.push_back(run.IsSparse() ? -1 : int64_t(run.start + i));
    for (size_t first = 0; first + 16 <= clusters.size(); first += 16) {
      RealUnit unit;
      size_t stored = 0;
      while (stored < 16 && clusters[first + stored] >= 0) ++stored;
      if (stored == 0 || stored == 16) continue;  // all holes, or kept as it is
      for (size_t i = 0; i < stored; ++i) {
        const uint64_t at = uint64_t(clusters[first + i]) * clusterBytes;
        unit.stored.insert(unit.stored.end(), volume.image.begin() + long(at),
                           volume.image.begin() + long(at + clusterBytes));
      }
      const uint64_t offset = first * clusterBytes;
      if (offset >= content.size()) continue;
      unit.expected = content.substr(offset, std::min<uint64_t>(unitBytes, content.size() - offset));
      units.push_back(std::move(unit));
    }
  }
  return units;
}

TEST(Lznt1RealUnits, ExpandToWhatNtfs3gReads) {
  for (const char* kind : {"files-c4096", "files-c512"}) {
    SCOPED_TRACE(kind);
    CORVALE_NTFS_VOLUME(volume, kind);
    const std::vector<RealUnit> units = RealUnits(*volume);
    ASSERT_GT(units.size(), 10u);
    for (size_t i = 0; i < units.size(); ++i) {
      const RealUnit& u = units[i];
      std::vector<uint8_t> output(u.expected.size());
      ASSERT_TRUE(
          DecompressLznt1(u.stored.data(), u.stored.size(), output.data(), output.size()).IsComplete())
          << i;
      ASSERT_EQ(std::string(output.begin(), output.end()), u.expected) << "unit " << i;
    }
  }
}

TEST(Lznt1RealUnits, DamagedUnitsStayInsideTheirBuffers) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  const std::vector<RealUnit> units = RealUnits(*volume);
  ASSERT_FALSE(units.empty());
  std::mt19937 random(20240611);
  constexpr uint8_t kGuard = 0xCD;
  constexpr size_t kGuardBytes = 64;
  size_t damaged = 0, complete = 0;
  for (int round = 0; round < 1500; ++round) {
    const RealUnit& unit = units[random() % units.size()];
    std::vector<uint8_t> input = unit.stored;
    // A few bytes changed, mostly near the start where the first chunk headers and flags are; now
    // and then the input cut short as well.
    const int changes = 1 + int(random() % 8);
    for (int c = 0; c < changes; ++c) {
      const size_t at =
          random() % 3 == 0 ? random() % input.size() : random() % std::min<size_t>(input.size(), 64);
      input[at] = random() % 2 ? uint8_t(random()) : uint8_t(input[at] ^ (1u << (random() % 8)));
    }
    if (random() % 5 == 0) input.resize(random() % input.size());
    const size_t outputSize = random() % 4 == 0 ? 1 + random() % unit.expected.size() : unit.expected.size();
    std::vector<uint8_t> output(outputSize + kGuardBytes, kGuard);
    const Lznt1Result result = DecompressLznt1(input.data(), input.size(), output.data(), outputSize);
    for (size_t i = outputSize; i < output.size(); ++i) ASSERT_EQ(output[i], kGuard) << "round " << round;
    if (result.IsComplete()) {
      ++complete;
      continue;
    }
    ++damaged;
    ASSERT_LT(result.blockOffset, outputSize);
    ASSERT_LT(result.chunkOffset, input.size());
    for (size_t i = result.blockOffset; i < outputSize; ++i) ASSERT_EQ(output[i], 0) << "round " << round;
  }
  EXPECT_GT(damaged, 100u);
  EXPECT_GT(complete, 100u);
}

}  // namespace
