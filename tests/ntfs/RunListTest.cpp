// Run strings and run lists: the decoding rules on hand-made strings, then the runs of real files
// read back into the bytes that were written.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "HandMadeRecords.h"
#include "NtfsTestVolume.h"
#include "core/MemoryStateStream.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/RunList.h"

namespace attr = corvale::ntfs::attr;

struct DecodeRow {
  const char* name;
  std::vector<uint8_t> bytes;
  bool valid;                 // IsValidDataRunString
  bool decodes;               // DecodeNTFSDataRuns
  std::vector<NTFSRun> runs;  // {lcn, vcn, length} when it decodes
};

class NtfsRunString : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(NtfsRunString, DecodesAsTheRulesSay) {
  const DecodeRow& row = GetParam();
  EXPECT_EQ(IsValidDataRunString(row.bytes.data(), row.bytes.size()), row.valid);
  std::vector<NTFSRun> runs = {{7, 7, 7}};  // kept as it is on failure
  EXPECT_EQ(DecodeNTFSDataRuns(row.bytes.data(), row.bytes.size(), runs), row.decodes);
  std::vector<NTFSRun> expected = {{7, 7, 7}};
  if (row.decodes) expected.insert(expected.end(), row.runs.begin(), row.runs.end());
  EXPECT_EQ(runs, expected);
  CNTFSRunList list;
  EXPECT_EQ(list.Decode(row.bytes.data(), row.bytes.size()), row.valid && row.decodes);
  int64_t total = 0;
  for (const NTFSRun& r : row.runs) total += r.length;
  EXPECT_EQ(SumDataRunLengths(row.bytes.data(), row.bytes.size()), row.valid && row.decodes ? total : -1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NtfsRunString,
    ::testing::Values(DecodeRow{"OneRun", {0x11, 0x04, 0x20, 0x00}, true, true, {{0x20, 0, 4}}},
                      DecodeRow{"NegativeDeltaMovesBackByOne",
                                {0x11, 0x04, 0x20, 0x21, 0x02, 0xFF, 0xFF, 0x00},
                                true,
                                true,
                                {{0x20, 0, 4}, {0x1F, 4, 2}}},
                      DecodeRow{"OneByteDeltaFFIsMinusOne",
                                {0x11, 0x04, 0x20, 0x11, 0x02, 0xFF, 0x00},
                                true,
                                true,
                                {{0x20, 0, 4}, {0x1F, 4, 2}}},
                      DecodeRow{"ThreeByteDelta800000IsMinus8388608",
                                {0x41, 0x01, 0x00, 0x00, 0x90, 0x00, 0x31, 0x01, 0x00, 0x00, 0x80, 0x00},
                                true,
                                true,
                                {{0x900000, 0, 1}, {0x100000, 1, 1}}},
                      DecodeRow{"SparseRunLeavesTheStartWhereItWas",
                                {0x11, 0x02, 0x10, 0x01, 0x03, 0x11, 0x01, 0x05, 0x00},
                                true,
                                true,
                                {{16, 0, 2}, {-1, 2, 3}, {21, 5, 1}}},
                      DecodeRow{"Empty", {0x00}, true, true, {}},
                      DecodeRow{"NoTerminator", {0x11, 0x02, 0x10}, false, false, {}},
                      DecodeRow{"FieldsPastTheEnd", {0x11, 0x02}, false, false, {}},
                      DecodeRow{"FiveByteOffsetDecodesButIsNotValidOnDisk",
                                {0x51, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00},
                                false,
                                true,
                                {{int64_t(1) << 32, 0, 1}}},
                      DecodeRow{"HeaderAbove0x7F", {0x81, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x00}, false, false, {}},
                      DecodeRow{"NineByteLength", {0x09, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0x00}, false, false, {}},
                      DecodeRow{"RunBeforeClusterZero", {0x11, 0x01, 0xFF, 0x00}, true, false, {}},
                      DecodeRow{"LengthPast63Bits",
                                {0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00},
                                false,
                                false,
                                {}}),
    [](const ::testing::TestParamInfo<DecodeRow>& info) { return std::string(info.param.name); });

TEST(NtfsRunList, LookupsSkipHoles) {
  CNTFSRunList list;
  std::vector<uint8_t> s = {0x11, 0x02, 0x10, 0x01, 0x03, 0x11, 0x01, 0x05, 0x00};
  ASSERT_TRUE(list.Decode(s.data(), s.size()));
  EXPECT_EQ(list.GetTotalClusters(), 6);
  EXPECT_EQ(list.VcnToLcn(0), 16);
  EXPECT_EQ(list.VcnToLcn(1), 17);
  // A hole has no cluster: reading it at "start + offset" would read cluster 0, 1, ... of the volume.
  EXPECT_EQ(list.VcnToLcn(2), -1);
  EXPECT_EQ(list.VcnToLcn(4), -1);
  EXPECT_EQ(list.VcnToLcn(5), 21);
  EXPECT_EQ(list.VcnToLcn(6), -1);
  EXPECT_EQ(list.VcnToLcn(-1), -1);
  EXPECT_EQ(list.LcnToVcn(17), 1);
  EXPECT_EQ(list.LcnToVcn(21), 5);
  EXPECT_EQ(list.LcnToVcn(0), -1);
  EXPECT_FALSE(list.ContainsLcn(1));
  EXPECT_TRUE(list.ContainsLcn(16));

  CNTFSRunList shifted;
  ASSERT_TRUE(shifted.AppendDecoded(s.data(), s.size(), 100));
  EXPECT_EQ(shifted.VcnToLcn(105), 21);
  EXPECT_FALSE(shifted.IsEqual(list));
  std::vector<uint8_t> bad = {0x11, 0x02};
  EXPECT_FALSE(shifted.AppendDecoded(bad.data(), bad.size(), 0));
  EXPECT_EQ(shifted.GetCount(), 3u);
  EXPECT_FALSE(shifted.AppendDecoded(s.data(), s.size(), INT64_MAX - 2));
  EXPECT_EQ(shifted.GetCount(), 3u);
}

TEST(NtfsRunList, SavedFormRoundTripsAndACutStreamIsRefused) {
  CNTFSRunList list;
  std::vector<uint8_t> s = {0x11, 0x02, 0x10, 0x01, 0x03, 0x21, 0x01, 0x00, 0x01, 0x00};
  ASSERT_TRUE(list.Decode(s.data(), s.size()));
  MemoryStateStream stream;
  RSGuid section = TestSection(1);
  stream.BeginSection(section);
  list.Save(stream);
  stream.EndSection();
  std::vector<uint8_t> bytes = stream.Section(section);
  ASSERT_EQ(bytes.size(), 8u + 3 * 24);
  corvale::ByteReader r(bytes.data(), bytes.size());
  EXPECT_EQ(r.u64(0), 3u);
  // Start, length, then first virtual cluster.
  EXPECT_EQ(r.u64(8), 16u);
  EXPECT_EQ(r.u64(16), 2u);
  EXPECT_EQ(r.u64(24), 0u);
  EXPECT_EQ(r.u64(32), ~uint64_t{0});

  stream.StartReading();
  stream.BeginSection(section);
  CNTFSRunList loaded;
  ASSERT_TRUE(loaded.Load(stream));
  EXPECT_TRUE(loaded.IsEqual(list));

  // A count far beyond what the section holds ends at the section end, not in an allocation.
  MemoryStateStream cut;
  cut.Section(section) = bytes;
  corvale::putLE(cut.Section(section).data(), uint64_t(1) << 60, 8);
  cut.StartReading();
  cut.BeginSection(section);
  EXPECT_FALSE(loaded.Load(cut));
  EXPECT_TRUE(loaded.IsEmpty());
}

TEST(NtfsRunList, RealFilesReadBackThroughTheirRuns) {
  for (const char* kind : {"c4096", "c512"}) {
    CORVALE_NTFS_VOLUME(volume, kind);
    SCOPED_TRACE(kind);
    const NtfsManifest& m = volume->manifest;
    size_t fragmentedRuns = 0;
    for (size_t i = 0; i < m.fragmented.size(); ++i) {
      const std::vector<uint8_t>& r = volume->records.at(m.fragmented[i]);
      CNTFSFileRecordView view(r.data(), r.size());
      CNTFSRunList runs;
      int64_t dataSize = -1;
      ASSERT_TRUE(GetDataRunListOfRecord(view.GetBuffer(), view.GetLength(), runs, true, &dataSize));
      ASSERT_EQ(dataSize, 24 * 8192 + 8 * 12288);
      fragmentedRuns += runs.GetCount();
      std::vector<uint8_t> data = volume->ReadRuns(runs, 0, size_t(dataSize));
      char lower = static_cast<char>('a' + i);
      EXPECT_EQ(std::count(data.begin(), data.begin() + 24 * 8192, lower), 24 * 8192);
      EXPECT_EQ(std::count(data.begin() + 24 * 8192, data.end(), lower - 'a' + 'A'), 8 * 12288);
    }
    // Written in turn, the four files lie in many pieces on the 4096-byte-cluster volume (ntfs-3g
    // keeps them whole on the 512-byte one).
    if (volume->geometry.bytesPerCluster == 4096) {
      EXPECT_GT(fragmentedRuns, 40u);
    }

    const std::vector<uint8_t>& r = volume->records.at(m.sparse);
    CNTFSFileRecordView view(r.data(), r.size());
    CNTFSFileRecordDataRunsAttribute data(view.FindAttribute(attr::kData));
    ASSERT_TRUE(data.HasRuns());
    const std::vector<NTFSRun>& runs = data.GetRunList().Runs();
    EXPECT_TRUE(std::any_of(runs.begin(), runs.end(), [](const NTFSRun& run) { return run.lcn == -1; }));
    EXPECT_EQ(data.GetRunList().GetTotalClusters() * volume->geometry.bytesPerCluster, 8 << 20);
    EXPECT_EQ(GetAttributeRunTotal(data), data.GetRunList().GetTotalClusters());
    auto island = [&](uint64_t at) {
      std::vector<uint8_t> b = volume->ReadRuns(data.GetRunList(), at, 10);
      return std::string(b.begin(), b.end());
    };
    EXPECT_EQ(island(1048576), "island one");
    EXPECT_EQ(island(6291456), "island two");
    EXPECT_EQ(island(0), std::string(10, '\0'));
  }
}

TEST(NtfsRunList, MftRunsAndTheClusterSizeTheyImply) {
  for (const char* kind : {"c4096", "c512", "s4096"}) {
    CORVALE_NTFS_VOLUME(volume, kind);
    SCOPED_TRACE(kind);
    const std::vector<uint8_t>& r = volume->records.at(0);
    CNTFSFileRecordView view(r.data(), r.size());
    uint32_t spc = 0;
    ASSERT_TRUE(
        InferSectorsPerCluster(view.GetBuffer(), view.GetLength(), volume->geometry.bytesPerSector, spc));
    EXPECT_EQ(spc, volume->geometry.sectorsPerCluster);
    EXPECT_EQ(volume->mftRuns.VcnToLcn(0), int64_t(volume->geometry.mftCluster));
  }
}

TEST(NtfsRunList, DataRunsOfARecordSkipNamedStreamsAndCheckTotals) {
  handmade::Record maker(40);
  // Unnamed non-resident $DATA of 2 clusters (VCN 0-1) at cluster 0x20, and a named resident one.
  size_t unnamed = maker.AddNonResident(attr::kData, 8192, 8000, 8000, {0x11, 0x02, 0x20, 0x00}, 1);
  (void)unnamed;
  std::vector<uint8_t> good = maker.Finish();
  CNTFSRunList runs;
  int64_t size = 0;
  ASSERT_TRUE(GetDataRunListOfRecord(good.data(), good.size(), runs, true, &size));
  EXPECT_EQ(size, 8000);
  EXPECT_EQ(runs.GetTotalClusters(), 2);
  uint32_t spc = 0;
  ASSERT_TRUE(InferSectorsPerCluster(good.data(), good.size(), 512, spc));
  EXPECT_EQ(spc, 8u);
  // A process-wide sector size of 4096 would give 1: the device's size is what counts.
  ASSERT_TRUE(InferSectorsPerCluster(good.data(), good.size(), 4096, spc));
  EXPECT_EQ(spc, 1u);

  // Highest VCN 2 claims three clusters where the runs hold two.
  handmade::Record lying(41);
  lying.AddNonResident(attr::kData, 8192, 8000, 8000, {0x11, 0x02, 0x20, 0x00}, 2);
  std::vector<uint8_t> l = lying.Finish();
  CNTFSRunList none;
  EXPECT_FALSE(GetDataRunListOfRecord(l.data(), l.size(), none, true, nullptr));
  EXPECT_TRUE(GetDataRunListOfRecord(l.data(), l.size(), none, false, nullptr));
  EXPECT_FALSE(InferSectorsPerCluster(l.data(), l.size(), 512, spc));

  // A named stream is passed over, a resident unnamed one fails.
  handmade::Record resident(42);
  std::vector<uint8_t> value(10, 'x');
  resident.AddResident(attr::kData, value);
  std::vector<uint8_t> rr = resident.Finish();
  EXPECT_FALSE(GetDataRunListOfRecord(rr.data(), rr.size(), none, false, nullptr));
  handmade::Put(rr, 0x38 + 9, 1, 1);       // name length 1
  handmade::Put(rr, 0x38 + 0xA, 0x18, 2);  // name at the value: "xx" read as one UTF-16 unit
  CNTFSRunList empty;
  EXPECT_TRUE(GetDataRunListOfRecord(rr.data(), rr.size(), empty, false, nullptr));
  EXPECT_TRUE(empty.IsEmpty());
}

TEST(NtfsRunList, RoundUpToClusterSize) {
  struct Row {
    uint64_t n;
    uint32_t expected;
  } rows[] = {{0, 0},   {1, 1},   {2, 2},    {3, 4},     {4, 4},   {5, 8},           {9, 16},
              {17, 32}, {33, 64}, {65, 128}, {128, 128}, {129, 0}, {~uint64_t{0}, 0}};
  for (const Row& row : rows) EXPECT_EQ(RoundUpToClusterSize(row.n), row.expected) << row.n;
}
