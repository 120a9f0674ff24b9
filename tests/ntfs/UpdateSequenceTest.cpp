// The update-sequence reader shared by FILE records, index buffers and $LogFile pages. A buffer is
// protected the way NTFS writes it (each stride's last word saved in the array, the sequence number
// put in its place), then one thing is changed per row.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ntfs/UpdateSequence.h"

using corvale::ntfs::ApplyUpdateSequence;
using corvale::ntfs::ParseOutcome;
using corvale::ntfs::ReadUpdateSequence;
using corvale::ntfs::RestoreUpdateSequence;
using corvale::ntfs::StrideFit;
using corvale::ntfs::UpdateSequence;
using corvale::ntfs::VerifyUpdateSequence;

namespace {

constexpr uint16_t kUsn = 0x0A0B;

// `length` bytes of a counting pattern with `strides` strides protected through the array at
// `arrayOffset`.
std::vector<uint8_t> Protected(size_t length, size_t arrayOffset, size_t strides) {
  std::vector<uint8_t> b(length);
  for (size_t i = 0; i < length; ++i) b[i] = static_cast<uint8_t>(i * 7 + 1);
  b[arrayOffset] = kUsn & 0xFF;
  b[arrayOffset + 1] = kUsn >> 8;
  for (size_t i = 0; i < strides; ++i) {
    const size_t end = (i + 1) * 512 - 2;
    b[arrayOffset + 2 + 2 * i] = b[end];
    b[arrayOffset + 3 + 2 * i] = b[end + 1];
    b[end] = kUsn & 0xFF;
    b[end + 1] = kUsn >> 8;
  }
  return b;
}

struct SequenceCase {
  const char* name;
  size_t length;            // bytes handed to the reader
  size_t protectedStrides;  // strides the buffer carries the number in
  uint64_t arrayOffset;
  uint64_t count;
  StrideFit fit;
  size_t tornAt;  // a stride end changed after protecting (0: none)
  ParseOutcome read;
  const char* readField;  // the field a failed read names
  size_t strides;         // strides accepted
  ParseOutcome verify;    // of Verify (and Apply), when the read was valid
};

class UpdateSequenceTable : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(UpdateSequenceTable, ReadsVerifiesAppliesAndRestores) {
  const SequenceCase& c = GetParam();
  const size_t array = c.arrayOffset < 4096 ? c.arrayOffset : 48;
  std::vector<uint8_t> disk = Protected(std::max<size_t>(c.length, 2048), array, c.protectedStrides);
  if (c.tornAt != 0) disk[c.tornAt] ^= 0xFF;
  disk.resize(c.length);
  std::vector<uint8_t> bytes = disk;

  UpdateSequence s;
  const corvale::ParseResult read =
      ReadUpdateSequence(bytes.data(), bytes.size(), c.arrayOffset, c.count, c.fit, s);
  ASSERT_EQ(read.outcome, c.read) << read.describe();
  if (!read.IsValid()) {
    EXPECT_EQ(std::string(read.error.field), c.readField);
    EXPECT_EQ(bytes, disk);
    return;
  }
  EXPECT_EQ(s.strides, c.strides);
  EXPECT_EQ(s.arrayOffset, c.arrayOffset);
  EXPECT_EQ(s.sequenceNumber, kUsn);

  const corvale::ParseResult verified = VerifyUpdateSequence(bytes.data(), bytes.size(), s);
  EXPECT_EQ(verified.outcome, c.verify) << verified.describe();
  const corvale::ParseResult applied = ApplyUpdateSequence(bytes.data(), bytes.size(), s);
  EXPECT_EQ(applied.outcome, c.verify);
  if (!applied.IsValid()) {
    // A torn stride names its end and leaves the buffer as read.
    EXPECT_EQ(std::string(applied.error.field), "stride end");
    EXPECT_EQ(applied.error.offset, c.tornAt & ~size_t{1});
    EXPECT_EQ(applied.error.limit, kUsn);
    EXPECT_EQ(bytes, disk);
    return;
  }
  // Applied: each handled stride ends with its own bytes again; bytes past them are untouched.
  const std::vector<uint8_t> pattern = Protected(std::max<size_t>(c.length, 2048), array, 0);
  for (size_t i = 0; i < s.strides; ++i) {
    const size_t end = (i + 1) * 512 - 2;
    EXPECT_EQ(bytes[end], pattern[end]) << "stride " << i;
    EXPECT_EQ(bytes[end + 1], pattern[end + 1]) << "stride " << i;
  }
  for (size_t i = s.strides * 512; i < c.length; ++i) ASSERT_EQ(bytes[i], disk[i]) << "byte " << i;
  RestoreUpdateSequence(bytes.data(), bytes.size(), s);
  EXPECT_EQ(bytes, disk);
}

const SequenceCase kSequenceCases[] = {
    {"Good", 1024, 2, 48, 3, StrideFit::Required, 0, ParseOutcome::Valid, "", 2, ParseOutcome::Valid},
    {"GoodEightStrides", 4096, 8, 40, 9, StrideFit::Required, 0, ParseOutcome::Valid, "", 8,
     ParseOutcome::Valid},
    {"WrongNumberAtSecondStrideEnd", 1024, 2, 48, 3, StrideFit::Required, 1022, ParseOutcome::Valid, "", 2,
     ParseOutcome::Damaged},
    {"WrongNumberAtFirstStrideEnd", 1024, 2, 48, 3, StrideFit::Required, 511, ParseOutcome::Valid, "", 2,
     ParseOutcome::Damaged},
    {"OffsetPastTheBuffer", 1024, 2, 1024, 3, StrideFit::Required, 0, ParseOutcome::Damaged,
     "update-sequence array", 0, ParseOutcome::Valid},
    {"ArrayRunsOverTheEnd", 1024, 0, 1020, 3, StrideFit::Required, 0, ParseOutcome::Damaged,
     "update-sequence array", 0, ParseOutcome::Valid},
    {"HugeOffsetAndCount", 1024, 2, 0xFFFF, 0xFFFF, StrideFit::WholeInBuffer, 0, ParseOutcome::Damaged,
     "update-sequence array", 0, ParseOutcome::Valid},
    {"CountPastTheBuffer", 1024, 2, 48, 4, StrideFit::Required, 0, ParseOutcome::Damaged,
     "update-sequence count", 0, ParseOutcome::Valid},
    {"CountPastTheBufferClamped", 1024, 2, 48, 9, StrideFit::WholeInBuffer, 0, ParseOutcome::Valid, "", 2,
     ParseOutcome::Valid},
    {"CountZero", 1024, 2, 48, 0, StrideFit::WholeInBuffer, 0, ParseOutcome::Damaged, "update-sequence count",
     0, ParseOutcome::Valid},
    {"CountOneProtectsNothing", 1024, 0, 48, 1, StrideFit::Required, 0, ParseOutcome::Valid, "", 0,
     ParseOutcome::Valid},
    {"StrideCutByTheBufferEnd", 1000, 2, 48, 3, StrideFit::Required, 0, ParseOutcome::Damaged,
     "update-sequence count", 0, ParseOutcome::Valid},
    {"StrideCutByTheBufferEndClamped", 1000, 2, 48, 3, StrideFit::WholeInBuffer, 0, ParseOutcome::Valid, "",
     1, ParseOutcome::Valid},
    {"TailPastTheLastStride", 1100, 2, 48, 3, StrideFit::Required, 0, ParseOutcome::Valid, "", 2,
     ParseOutcome::Valid},
};

INSTANTIATE_TEST_SUITE_P(Cases, UpdateSequenceTable, ::testing::ValuesIn(kSequenceCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateSequence, MissingBufferIsDamaged) {
  UpdateSequence s;
  EXPECT_TRUE(ReadUpdateSequence(nullptr, 1024, 48, 3, StrideFit::Required, s).IsDamaged());
  s.strides = 2;
  s.arrayOffset = 48;
  EXPECT_TRUE(VerifyUpdateSequence(nullptr, 1024, s).IsDamaged());
  RestoreUpdateSequence(nullptr, 1024, s);  // does nothing
}

// A layout read over one length and used over a shorter one touches nothing past the shorter one.
TEST(UpdateSequence, LayoutUsedOnAShorterBufferIsRefused) {
  std::vector<uint8_t> bytes = Protected(1024, 48, 2);
  UpdateSequence s;
  ASSERT_TRUE(ReadUpdateSequence(bytes.data(), bytes.size(), 48, 3, StrideFit::Required, s).IsValid());
  const std::vector<uint8_t> before = bytes;
  EXPECT_TRUE(ApplyUpdateSequence(bytes.data(), 600, s).IsDamaged());
  RestoreUpdateSequence(bytes.data(), 600, s);
  EXPECT_EQ(bytes, before);
}

}  // namespace
