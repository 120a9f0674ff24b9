#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/MappingPairs.h"

using namespace corvale;

namespace {

constexpr uint64_t S = kSparseRunStart;
constexpr uint64_t kMax63 = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

std::vector<uint8_t> Encode(const std::vector<DataRun>& runs) {
  MappingPairsEncoder encoder;
  for (const DataRun& r : runs) encoder.Add(r.start, r.length);
  return encoder.Finish();
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[4];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02X ", v);
    s += b;
  }
  if (!s.empty()) s.pop_back();
  return s;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> v;
  for (int x : values) v.push_back(static_cast<uint8_t>(x));
  return v;
}

}  // namespace

TEST(MappingPairs, SignedByteCountIsTheSmallestSignedWidth) {
  const struct {
    int64_t value;
    unsigned bytes;
  } cases[] = {
      {0, 1},
      {127, 1},
      {128, 2},
      {-128, 1},
      {-129, 2},
      {-1, 1},
      {32767, 2},
      {32768, 3},
      {(int64_t{1} << 55) - 1, 7},
      {int64_t{1} << 55, 8},
      {-(int64_t{1} << 55), 7},
      {std::numeric_limits<int64_t>::min(), 8},
      {std::numeric_limits<int64_t>::max(), 8},
  };
  for (const auto& c : cases) EXPECT_EQ(SignedByteCount(c.value), c.bytes) << c.value;
}

// Exact encodings: lengths as signed widths, deltas from the last real start, sparse runs without
// an offset field.
TEST(MappingPairs, EncodesRunsToTheExpectedBytes) {
  const struct {
    const char* name;
    std::vector<DataRun> runs;
    const char* bytes;
  } cases[] = {
      {"length 0x80 at the same start needs two length bytes",
       {{5, 1}, {5, 0x80}},
       "11 01 05 12 80 00 00 00"},
      {"length 0x7F fits one byte", {{5, 1}, {5, 0x7F}}, "11 01 05 11 7F 00 00"},
      {"sparse run, next delta from the last real start",
       {{100, 1}, {S, 2}, {90, 3}},
       "11 01 64 01 02 11 03 F6 00"},
      {"delta -128 in one byte", {{200, 1}, {72, 1}}, "21 01 C8 00 11 01 80 00"},
      {"delta -129 in two bytes", {{200, 1}, {71, 1}}, "21 01 C8 00 21 01 7F FF 00"},
      {"first run at cluster 0 still has an offset field", {{0, 8}}, "11 08 00 00"},
      {"sparse first run", {{S, 16}, {3, 1}}, "01 10 11 01 03 00"},
      {"length with the top bit set keeps all eight bytes",
       {{S, uint64_t{1} << 63}},
       "08 00 00 00 00 00 00 00 80 00"},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(Encode(c.runs)), c.bytes) << c.name;
}

TEST(MappingPairs, RoundTripsRunLists) {
  std::vector<std::vector<DataRun>> lists = {
      {{0, 1}},
      {{S, 1}},
      {{100, 8}, {S, 16}, {50, 4}, {S, 1}, {S, 2}, {49, 1}},
      {{1000, 1}, {872, 1}, {743, 1}, {0, 3}, {kMax63, 1}, {0, 1}},
      {{kMax63, kMax63}, {1, uint64_t{1} << 63}},
      {{5, std::numeric_limits<uint64_t>::max()}},
      {{0x123456789ABCull, 0x10000},
       {0x12, 0x800000},
       {0x7FFFFFFF, 0x80000000ull},
       {0x80000000ull, 0xFFFFFFFFull}},
      {{7, 0}, {7, 0}, {S, 0}},
  };
  // And a fragmented file of a thousand runs with a gap now and then.
  std::mt19937_64 rng(42);
  std::vector<DataRun> fragmented;
  for (int i = 0; i < 1000; ++i) {
    if (rng() % 10 == 0)
      fragmented.push_back({S, 1 + rng() % 64});
    else
      fragmented.push_back({rng() % (uint64_t{1} << (rng() % 48 + 1)), 1 + rng() % 100000});
  }
  lists.push_back(fragmented);

  for (size_t i = 0; i < lists.size(); ++i) {
    const std::vector<uint8_t> bytes = Encode(lists[i]);
    std::vector<DataRun> back;
    ASSERT_TRUE(DecodeMappingPairs(bytes.data(), bytes.size(), back)) << "list " << i;
    EXPECT_EQ(back, lists[i]) << "list " << i;
    EXPECT_EQ(MappingPairsLength(bytes.data(), bytes.size()), bytes.size()) << "list " << i;
  }
}

TEST(MappingPairs, DecodesSignedOffsetsAndSparseRuns) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    std::vector<DataRun> runs;
  };
  const Case cases[] = {
      {"0x21 with offset FF FF moves back by one",
       Bytes({0x11, 1, 0x10, 0x21, 1, 0xFF, 0xFF, 0}),
       {{16, 1}, {15, 1}}},
      {"3-byte offset 0x800000 is -8388608",
       Bytes({0x41, 1, 0, 0, 0, 1, 0x31, 1, 0, 0, 0x80, 0}),
       {{0x1000000, 1}, {0x1000000 - 8388608, 1}}},
      {"header 0x01 is a sparse run", Bytes({0x01, 5, 0}), {{S, 5}}},
      {"lengths are unsigned", Bytes({0x11, 0xFF, 0x02, 0}), {{2, 255}}},
      {"eight-byte offset taken as it is",
       Bytes({0x81, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0}),
       {{kMax63, 1}}},
      {"bytes after the terminator are not read", Bytes({0x11, 1, 2, 0, 0x99}), {{2, 1}}},
  };
  for (const Case& c : cases) {
    std::vector<DataRun> runs;
    ASSERT_TRUE(DecodeMappingPairs(c.bytes.data(), c.bytes.size(), runs)) << c.name;
    EXPECT_EQ(runs, c.runs) << c.name;
  }
}

TEST(MappingPairs, ReportsVcnsAndTheStringLength) {
  const std::vector<uint8_t> bytes = Bytes({0x11, 4, 10, 0x01, 6, 0x11, 2, 5, 0, 0xEE});
  MappingPairsDecoder decoder(bytes.data(), bytes.size());
  MappingPair p;
  ASSERT_EQ(decoder.Next(p), MappingPairsDecoder::Step::Run);
  EXPECT_EQ(p.vcn, 0u);
  ASSERT_EQ(decoder.Next(p), MappingPairsDecoder::Step::Run);
  EXPECT_EQ(p.vcn, 4u);
  EXPECT_EQ(p.start, S);
  ASSERT_EQ(decoder.Next(p), MappingPairsDecoder::Step::Run);
  EXPECT_EQ(p.vcn, 10u);
  EXPECT_EQ(p.start, 15u);
  EXPECT_EQ(decoder.Next(p), MappingPairsDecoder::Step::End);
  EXPECT_EQ(decoder.Position(), 9u);
  EXPECT_EQ(decoder.Next(p), MappingPairsDecoder::Step::End);
}

TEST(MappingPairs, RefusesMalformedStrings) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    unsigned maxField;
  };
  const std::vector<uint8_t> ff8(8, 0xFF);
  std::vector<uint8_t> overflow = {0x08};
  overflow.insert(overflow.end(), ff8.begin(), ff8.end());
  overflow.push_back(0x01);
  overflow.push_back(0x01);
  overflow.push_back(0);
  const Case cases[] = {
      {"empty buffer", {}, 8},
      {"no terminator", Bytes({0x11, 1, 5}), 8},
      {"offset field runs past the buffer", Bytes({0x21, 1, 5}), 8},
      {"length field runs past the buffer", Bytes({0x14, 1, 2}), 8},
      {"offset field wider than 8 bytes", Bytes({0x91, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 8},
      {"length field wider than 8 bytes", Bytes({0x19, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 8},
      {"a start before cluster 0", Bytes({0x11, 1, 0xFF, 0}), 8},
      {"a later start before cluster 0", Bytes({0x11, 1, 5, 0x11, 1, 0xF0, 0}), 8},
      {"lengths adding up past 2^64", overflow, 8},
      {"a 5-byte offset where 4 is the limit", Bytes({0x51, 1, 0, 0, 0, 0, 1, 0}), 4},
  };
  for (const Case& c : cases) {
    std::vector<DataRun> runs = {{1, 1}};
    EXPECT_FALSE(DecodeMappingPairs(c.bytes.data(), c.bytes.size(), runs, c.maxField)) << c.name;
    EXPECT_TRUE(runs.empty()) << c.name;
  }
}

TEST(MappingPairs, LengthWalkNeedsTheTerminatorInside) {
  const std::vector<uint8_t> good = Bytes({0x11, 1, 5, 0x01, 2, 0});
  EXPECT_EQ(MappingPairsLength(good.data(), good.size()), 6u);
  EXPECT_EQ(MappingPairsLength(good.data(), 5), std::nullopt);
  EXPECT_EQ(MappingPairsLength(good.data(), 2), std::nullopt);
  const std::vector<uint8_t> wide = Bytes({0xFF, 0});
  EXPECT_EQ(MappingPairsLength(wide.data(), wide.size()), std::nullopt);
  EXPECT_EQ(MappingPairsLength(nullptr, 10), std::nullopt);
}

// Random bytes must never make the decoder read outside its buffer (the sanitizers watch) or
// loop: each step consumes at least one byte.
TEST(MappingPairs, SurvivesGarbage) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> bytes(rng() % 40);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng());
    std::vector<DataRun> runs;
    const bool ok = DecodeMappingPairs(bytes.data(), bytes.size(), runs);
    const auto length = MappingPairsLength(bytes.data(), bytes.size());
    if (ok) {
      ASSERT_TRUE(length.has_value());
      // What decodes also re-encodes to something that decodes the same.
      const std::vector<uint8_t> again = Encode(runs);
      std::vector<DataRun> back;
      ASSERT_TRUE(DecodeMappingPairs(again.data(), again.size(), back));
      EXPECT_EQ(back, runs);
    }
  }
}
