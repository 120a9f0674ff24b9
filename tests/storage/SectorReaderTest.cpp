#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Log.h"
#include "storage/SectorReader.h"
#include "support/FaultyRawIo.h"

using corvale::log::ScopedCapture;
using corvale::test::FaultyRawIo;
using corvale::test::FaultySource;

namespace {

constexpr uint64_t kUnit = CSectorReader::kProbeUnitSectors;  // 2048 sectors
constexpr uint64_t kBad = 1000;                               // the first sector of the failing read

std::vector<uint8_t> Pattern(size_t size, uint8_t seed = 1) {
  std::vector<uint8_t> v(size);
  for (size_t i = 0; i < size; ++i) v[i] = static_cast<uint8_t>(i * 31 + seed + (i >> 9));
  return v;
}

bool AllZero(const std::vector<uint8_t>& v) {
  for (uint8_t b : v)
    if (b != 0) return false;
  return true;
}

// A 64 MiB disk (mostly zeros, not held in memory) with a bad sector at kBad.
class ReaderOverFaultyDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    FaultySource& s = io.Add("disk", Pattern(1 << 20));
    s.virtualSize = uint64_t{64} << 20;
    s.badSectors.insert(kBad);
    int error = 0;
    device = io.OpenReadOnly("disk", &error);
    ASSERT_TRUE(device);
  }
  std::vector<std::pair<uint64_t, uint64_t>> Log() { return io.ReadLog("disk"); }

  FaultyRawIo io;
  std::unique_ptr<platform::IRawDevice> device;
  CSectorReader reader;
};

}  // namespace

// After a failed read, one-unit probes at 50, 25 and 12 units after the failure decide how much is
// recorded: the distance of the first probe that fails, or 10 units when every probe reads.
struct ProbeCase {
  const char* name;
  uint64_t badProbeAt;  // units after the failure whose probe fails; 0 = every probe reads
  std::vector<uint64_t> probedUnits;
  uint64_t recordedUnits;
};

class BadSectorProbe : public ReaderOverFaultyDisk, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(BadSectorProbe, ProbesAndRecordsTheDamagedRegion) {
  const ProbeCase& c = GetParam();
  if (c.badProbeAt)
    io.With("disk", [&](FaultySource& s) { return s.badSectors.insert(kBad + c.badProbeAt * kUnit); });
  ScopedCapture capture;
  std::vector<uint8_t> buffer(8 * 512, 0xAA);
  int error = -1;
  ASSERT_TRUE(reader.ReadSector(device.get(), buffer.data(), kBad, 8, true, &error));
  EXPECT_EQ(error, EIO);
  EXPECT_TRUE(AllZero(buffer));

  auto log = Log();
  ASSERT_EQ(log.size(), 1 + c.probedUnits.size());
  EXPECT_EQ(log[0], std::make_pair(kBad * 512, uint64_t{8 * 512}));
  for (size_t i = 0; i < c.probedUnits.size(); ++i)
    EXPECT_EQ(log[1 + i], std::make_pair((kBad + c.probedUnits[i] * kUnit) * 512, kUnit * 512)) << i;

  auto ranges = reader.GetBadRanges();
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_EQ(ranges[0].first, kBad);
  EXPECT_EQ(ranges[0].end, kBad + c.recordedUnits * kUnit);

  EXPECT_TRUE(capture.Has("UpdateBadSector start = 1000\n"));
  for (uint64_t units : c.probedUnits)
    EXPECT_EQ(capture.Count("UpdateBadSector nBadSectorUnitCount = " + std::to_string(units) + "\n"), 1u);
  EXPECT_TRUE(capture.Has("UpdateBadSector find bad sector i64StartOffset = 1000, i64EndOffset = " +
                          std::to_string(kBad + c.recordedUnits * kUnit) + "\n"));
}

INSTANTIATE_TEST_SUITE_P(ReaderOverFaultyDisk, BadSectorProbe,
                         ::testing::Values(ProbeCase{"FirstProbeFails", 50, {50}, 50},
                                           ProbeCase{"SecondProbeFails", 25, {50, 25}, 25},
                                           ProbeCase{"ThirdProbeFails", 12, {50, 25, 12}, 12},
                                           ProbeCase{"EveryProbeReads", 0, {50, 25, 12}, 10}),
                         [](const auto& info) { return std::string(info.param.name); });

// The recorded region is half-open: the sectors just before and just after it are good and are
// read from the drive; a read touching the region is answered with zeros without I/O.
TEST_F(ReaderOverFaultyDisk, KnownBadRegionIsAnsweredWithZerosAndItsNeighboursAreRead) {
  std::vector<uint8_t> buffer(8 * 512);
  ASSERT_TRUE(reader.ReadSector(device.get(), buffer.data(), kBad, 8, true, nullptr));
  const uint64_t end = kBad + 10 * kUnit;  // every probe read: 10 units recorded
  ASSERT_EQ(reader.GetBadRanges()[0].end, end);

  struct Query {
    uint64_t first, count;
    bool zerosWithoutIo;
  };
  const Query queries[] = {
      {kBad - 8, 8, false},  // ends exactly at the first bad sector
      {end, 1, false},       // the first sector after the region
      {end - 1, 1, true},    // the last sector of the region
      {kBad - 4, 8, true},   // straddles the start
      {end - 1, 4, true},    // straddles the end
      {kBad + 500, 16, true},
  };
  for (const Query& q : queries) {
    io.ClearReadLog("disk");
    std::vector<uint8_t> data(q.count * 512, 0xAA);
    int error = -1;
    EXPECT_TRUE(reader.ReadSector(device.get(), data.data(), q.first, q.count, true, &error)) << q.first;
    EXPECT_EQ(error, 0);
    EXPECT_EQ(Log().empty(), q.zerosWithoutIo) << q.first;
    if (q.zerosWithoutIo) {
      EXPECT_TRUE(AllZero(data)) << q.first;
    }
  }
  // The sectors before the region still hold their data.
  std::vector<uint8_t> before(8 * 512);
  ASSERT_TRUE(reader.ReadSector(device.get(), before.data(), kBad - 8, 8, true, nullptr));
  auto pattern = Pattern(1 << 20);
  EXPECT_EQ(0, std::memcmp(before.data(), pattern.data() + (kBad - 8) * 512, before.size()));
}

TEST_F(ReaderOverFaultyDisk, WithoutIgnoreTheMapIsNeitherConsultedNorFilled) {
  reader.AddBadRange({0, 16});
  ScopedCapture capture;
  std::vector<uint8_t> buffer(8 * 512);
  int error = 0;
  EXPECT_TRUE(reader.ReadSector(device.get(), buffer.data(), 0, 8, false, &error));
  EXPECT_EQ(0, std::memcmp(buffer.data(), Pattern(1 << 20).data(), buffer.size()));

  io.ClearReadLog("disk");
  EXPECT_FALSE(reader.ReadSector(device.get(), buffer.data(), kBad, 8, false, &error));
  EXPECT_EQ(error, EIO);
  EXPECT_EQ(Log().size(), 1u);  // no probes
  ASSERT_EQ(reader.GetBadRanges().size(), 1u);
  EXPECT_EQ(reader.GetBadRanges()[0].end, 16u);
  EXPECT_TRUE(capture.Has("ReadSector find bad sector , not ignored\n"));
  EXPECT_FALSE(capture.HasPart("UpdateBadSector"));
}

// Only a medium error marks sectors bad. A drive that is not ready, or a refused request, fails
// the read (zero-filled, so no stale bytes reach the caller) and records nothing.
TEST_F(ReaderOverFaultyDisk, OtherErrorsFailWithoutRecordingBadSectors) {
  for (int errnoValue : {ENOMEDIUM, EINVAL, ENXIO}) {
    io.With("disk", [&](FaultySource& s) {
      s.badErrno = errnoValue;
      return 0;
    });
    std::vector<uint8_t> buffer(8 * 512, 0xAA);
    int error = 0;
    EXPECT_FALSE(reader.ReadSector(device.get(), buffer.data(), kBad, 8, true, &error));
    EXPECT_EQ(error, errnoValue);
    EXPECT_TRUE(AllZero(buffer));
    EXPECT_TRUE(reader.GetBadRanges().empty());
  }
  for (int errnoValue : {ENODATA, EILSEQ}) {
    reader.ClearBadRanges();
    io.With("disk", [&](FaultySource& s) {
      s.badErrno = errnoValue;
      return 0;
    });
    std::vector<uint8_t> buffer(8 * 512, 0xAA);
    EXPECT_TRUE(reader.ReadSector(device.get(), buffer.data(), kBad, 8, true, nullptr));
    EXPECT_EQ(reader.GetBadRanges().size(), 1u) << errnoValue;
  }
}

TEST(SectorReader, ShortLastSectorCountsAsReadAndTheRestIsZeroed) {
  FaultyRawIo io;
  auto pattern = Pattern(1024 + 513);
  io.Add("disk", pattern);
  int error = 0;
  auto device = io.OpenReadOnly("disk", &error);
  CSectorReader reader;

  std::vector<uint8_t> buffer(2 * 512, 0xAA);
  EXPECT_TRUE(reader.ReadSector(device.get(), buffer.data(), 2, 2, true, &error));
  EXPECT_EQ(0, std::memcmp(buffer.data(), pattern.data() + 1024, 513));
  EXPECT_TRUE(AllZero(std::vector<uint8_t>(buffer.begin() + 513, buffer.end())));

  // A whole sector past the end is not read, and is not a bad sector either.
  std::vector<uint8_t> past(4 * 512, 0xAA);
  ScopedCapture capture;
  EXPECT_FALSE(reader.ReadSector(device.get(), past.data(), 2, 4, true, &error));
  EXPECT_EQ(error, 0);
  EXPECT_EQ(0, std::memcmp(past.data(), pattern.data() + 1024, 513));
  EXPECT_TRUE(AllZero(std::vector<uint8_t>(past.begin() + 513, past.end())));
  EXPECT_TRUE(reader.GetBadRanges().empty());
  EXPECT_FALSE(capture.HasPart("UpdateBadSector"));
}

TEST(SectorReader, ShortAnswerInsideTheSourceLeavesNoStaleBytes) {
  FaultyRawIo io;
  auto pattern = Pattern(64 * 512);
  io.Add("disk", pattern).shortAnswers = {700};
  int error = 0;
  auto device = io.OpenReadOnly("disk", &error);
  CSectorReader reader;
  std::vector<uint8_t> buffer(4 * 512, 0xAA);
  EXPECT_FALSE(reader.ReadSector(device.get(), buffer.data(), 0, 4, false, &error));
  EXPECT_EQ(0, std::memcmp(buffer.data(), pattern.data(), 700));
  EXPECT_TRUE(AllZero(std::vector<uint8_t>(buffer.begin() + 700, buffer.end())));
}

TEST(SectorReader, ParameterCheckRejectsReadsOfFourGigabytesBeforeAnyIo) {
  FaultyRawIo io;
  FaultySource& s = io.Add("disk", Pattern(4096));
  int error = 0;
  auto device = io.OpenReadOnly("disk", &error);
  CSectorReader reader;
  ScopedCapture capture;
  std::vector<uint8_t> small(512);

  const uint64_t limit = (uint64_t{1} << 32) / 512;
  EXPECT_FALSE(reader.ReadSector(device.get(), small.data(), 0, limit, true, &error));
  EXPECT_TRUE(capture.Has("-----------------Tev:Read sector parameter error = 8388608---------------"));
  EXPECT_TRUE(io.ReadLog("disk").empty());

  // One sector less passes the check and reaches the drive. The drive is not ready, so nothing is
  // written into the (small) buffer.
  capture.Clear();
  s.notReadyCount = 1;
  EXPECT_FALSE(reader.ReadSector(device.get(), small.data(), 0, limit - 1, false, &error));
  EXPECT_EQ(error, ENOMEDIUM);
  EXPECT_FALSE(capture.HasPart("parameter error"));
  ASSERT_EQ(io.ReadLog("disk").size(), 1u);
  EXPECT_EQ(io.ReadLog("disk")[0].second, (limit - 1) * 512);

  // Nothing to read: a zero-length read that succeeds.
  EXPECT_TRUE(reader.ReadSector(device.get(), small.data(), 3, 0, true, &error));
  EXPECT_EQ(error, 0);
}

TEST(SectorReader, NoDeviceZeroFillsAndFails) {
  CSectorReader reader;
  reader.SetSectorSize(4096);
  reader.SetSectorSize(0);  // never taken
  EXPECT_EQ(reader.GetSectorSize(), 4096);
  std::vector<uint8_t> buffer(2 * 4096, 0xAA);
  int error = -1;
  EXPECT_FALSE(reader.ReadSector(nullptr, buffer.data(), 0, 2, true, &error));
  EXPECT_EQ(error, 0);
  EXPECT_TRUE(AllZero(buffer));
}

TEST(SectorReader, RangesJoinAndAnswerHalfOpenOverlap) {
  CSectorReader reader;
  EXPECT_FALSE(reader.IsInBadRange(0, UINT64_MAX));
  EXPECT_EQ(reader.AddBadRange({100, 200}), CSectorReader::kAddOk);
  EXPECT_EQ(reader.AddBadRange({300, 400}), CSectorReader::kAddOk);
  EXPECT_EQ(reader.AddBadRange({500, 500}), CSectorReader::kAddOk);  // empty: nothing recorded
  EXPECT_EQ(reader.GetBadRanges().size(), 2u);

  struct Query {
    uint64_t first, end;
    bool inside;
  };
  for (const Query& q : std::initializer_list<Query>{{0, 100, false},
                                                     {0, 101, true},
                                                     {199, 200, true},
                                                     {200, 300, false},
                                                     {250, 301, true},
                                                     {400, 1000, false},
                                                     {150, 150, false},
                                                     {0, UINT64_MAX, true}})
    EXPECT_EQ(reader.IsInBadRange(q.first, q.end), q.inside) << q.first << ".." << q.end;

  reader.AddBadRange({150, 300});  // joins both
  auto ranges = reader.GetBadRanges();
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_EQ(ranges[0].first, 100u);
  EXPECT_EQ(ranges[0].end, 400u);
  reader.AddBadRange({50, 60});
  reader.AddBadRange({40, 1000});  // swallows everything
  ranges = reader.GetBadRanges();
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_EQ(ranges[0].first, 40u);
  EXPECT_EQ(ranges[0].end, 1000u);

  reader.ClearBadRanges();
  EXPECT_TRUE(reader.GetBadRanges().empty());
  EXPECT_FALSE(reader.IsInBadRange(0, UINT64_MAX));
}

TEST(SectorReader, ConcurrentAddsAndLookupsKeepTheMapWhole) {
  CSectorReader reader;
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&, t] {
      for (uint64_t i = 0; i < 2000; ++i) reader.AddBadRange({(i * 2 + t) * 10, (i * 2 + t) * 10 + 5});
    });
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&] {
      for (uint64_t i = 0; i < 4000; ++i) reader.IsInBadRange(i * 10, i * 10 + 3);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(reader.GetBadRanges().size(), 4000u);
  EXPECT_TRUE(reader.IsInBadRange(39990, 39991));
  EXPECT_FALSE(reader.IsInBadRange(39995, 40000));
}
