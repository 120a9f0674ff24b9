#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DeviceTestUtil.h"
#include "platform/Log.h"
#include "storage/DiskDevice.h"
#include "support/FaultyRawIo.h"
#include "support/Fixtures.h"

using corvale::log::ScopedCapture;
using corvale::test::FaultyRawIo;
using corvale::test::FaultySource;
using corvale::test::ScopedRawIo;

namespace {

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> v(size);
  uint32_t x = 2463534242u;
  for (auto& b : v) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return v;
}

platform::DriveGeometry Geometry(int64_t cylinders, uint32_t heads, uint32_t sectorsPerTrack,
                                 uint32_t bytesPerSector) {
  platform::DriveGeometry g;
  g.cylinders = cylinders;
  g.tracksPerCylinder = heads;
  g.sectorsPerTrack = sectorsPerTrack;
  g.bytesPerSector = bytesPerSector;
  g.mediaType = platform::kMediaFixed;
  return g;
}

// The geometry the platform layer reports for a disk of `sectors` sectors.
platform::DriveGeometry GeometryFor(uint64_t sectors, uint32_t bytesPerSector = 512) {
  return Geometry(static_cast<int64_t>(sectors / (255 * 63)), 255, 63, bytesPerSector);
}

// A disk served by the fault double, installed as the raw I/O for the test.
class DiskOverDouble : public ::testing::Test {
 protected:
  FaultySource& AddDisk(std::vector<uint8_t> bytes, uint32_t bytesPerSector = 512) {
    FaultySource& s = io.Add(kPath, std::move(bytes));
    s.geometry = GeometryFor(s.bytes.size() / bytesPerSector, bytesPerSector);
    return s;
  }
  static constexpr const char* kPath = "/dev/fake-disk";
  FaultyRawIo io;
  ScopedRawIo scoped{&io};
};

}  // namespace

// ---- The sector count: geometry, length, READ CAPACITY ----

struct CountCase {
  const char* name;
  std::optional<platform::DriveGeometry> geometry;
  std::optional<uint64_t> lengthBytes;
  uint64_t capacityA, capacityB;
  int64_t expectedCount;
  int32_t expectedSize;
  bool capacityAsked;
};

class SectorCountDecision : public ::testing::TestWithParam<CountCase> {};

TEST_P(SectorCountDecision, FollowsTheRule) {
  const CountCase& c = GetParam();
  corvale::SectorCountFacts facts;
  facts.geometryKnown = c.geometry.has_value();
  if (c.geometry) facts.geometry = *c.geometry;
  facts.lengthKnown = c.lengthBytes.has_value();
  facts.lengthBytes = c.lengthBytes.value_or(0);
  std::vector<int> asked;
  auto d = corvale::DecideSectorCount(facts, [&](int addressing) {
    asked.push_back(addressing);
    return addressing == 0 ? c.capacityA : c.capacityB;
  });
  EXPECT_EQ(d.sectorCount, c.expectedCount);
  EXPECT_EQ(d.sectorSize, c.expectedSize);
  EXPECT_EQ(asked, (c.capacityAsked ? std::vector<int>{0, 1} : std::vector<int>{}));
}

namespace {
// 1000 cylinders of 16 heads × 63 sectors: G = 1,008,000 sectors, one cylinder C = 1008.
constexpr uint64_t G = 1008000;
constexpr uint64_t C = 1008;
const platform::DriveGeometry kGeo = Geometry(1000, 16, 63, 512);
// Just under 2^32 sectors in whole 255 × 63 cylinders.
const platform::DriveGeometry kGeo2T = Geometry(267349, 255, 63, 512);
constexpr uint64_t k2T = uint64_t{1} << 32;
}  // namespace

INSTANTIATE_TEST_SUITE_P(
    DiskDevice, SectorCountDecision,
    ::testing::Values(
        CountCase{"LengthAboveGeometryWins", kGeo, (G + 500) * 512, 0, 0, G + 500, 512, false},
        CountCase{"LengthEqualToGeometryWins", kGeo, G * 512, 0, 0, G, 512, false},
        CountCase{"ShortLengthFallsBackToCapacity", kGeo, (G - 1) * 512, G + 10, G + 10, G + 10, 512, true},
        CountCase{"CapacityJustUnderOneCylinderAboveBelieved", kGeo, std::nullopt, G + C - 1, G + C - 1,
                  G + C - 1, 512, true},
        CountCase{"CapacityEqualToGeometryIgnored", kGeo, std::nullopt, G, G, G, 512, true},
        CountCase{"CapacityOneCylinderAboveIgnored", kGeo, std::nullopt, G + C, G + C, G, 512, true},
        CountCase{"CapacityBelowGeometryIgnored", kGeo, std::nullopt, G - 5, G - 5, G, 512, true},
        CountCase{"DifferingCapacitiesFirstBelieved", kGeo, std::nullopt, G + 3, G + 7, G + 3, 512, true},
        CountCase{"DifferingCapacitiesSecondWhenFirstOutside", kGeo, std::nullopt, G + C + 1, G + 7, G + 7,
                  512, true},
        CountCase{"DifferingCapacitiesNeitherBelieved", kGeo, std::nullopt, 0, G + C, G, 512, true},
        CountCase{"CapacityRefused", kGeo, std::nullopt, 0, 0, G, 512, true},
        CountCase{"NoGeometry", std::nullopt, uint64_t{1} << 30, G + 1, G + 1, 0, 0, false},
        CountCase{"FourKilobyteSectors", Geometry(100, 16, 63, 4096), uint64_t{500000} * 4096, 0, 0, 500000,
                  4096, false},
        CountCase{"OddSectorSizeCountsIn512", Geometry(1000, 16, 63, 520), uint64_t{2000000} * 512, 0, 0,
                  2000000, 512, false},
        CountCase{"ZeroSectorSizeCountsIn512", Geometry(1000, 16, 63, 0), std::nullopt, G + 1, G + 1, G + 1,
                  512, true},
        // The last block address of a 2 TiB disk is 0xFFFFFFFF: its capacity needs 33 bits.
        CountCase{"CapacityOfTwoTebibytesNeeds64Bits", kGeo2T, std::nullopt, k2T, k2T, int64_t(k2T), 512,
                  true},
        CountCase{"OverflowingGeometryIsClamped", Geometry(INT64_MAX, 255, 63, 512), uint64_t{1} << 40, 0, 0,
                  INT64_MAX, 512, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Sector size ----

struct SizeCase {
  const char* name;
  std::optional<uint32_t> bytesPerSector;  // nothing: the geometry query fails
  int32_t expected;
};

class DiskSectorSize : public DiskOverDouble, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(DiskSectorSize, ComesFromTheGeometryOr512) {
  const SizeCase& c = GetParam();
  FaultySource& s = io.Add(kPath, Pattern(64 * 4096));
  if (c.bytesPerSector) s.geometry = Geometry(1, 16, 16, *c.bytesPerSector);
  CDiskDevice disk{std::string(kPath)};
  ASSERT_TRUE(disk.IsOpened());
  EXPECT_EQ(disk.GetSectorSize(), c.expected);
  EXPECT_EQ(disk.Reader().GetSectorSize(), c.expected);
  if (!c.bytesPerSector) {
    EXPECT_EQ(disk.GetSectorCount(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(DiskDevice, DiskSectorSize,
                         ::testing::Values(SizeCase{"Zero", 0u, 512}, SizeCase{"Odd520", 520u, 512},
                                           SizeCase{"FourKilobytes", 4096u, 4096},
                                           SizeCase{"Plain512", 512u, 512},
                                           SizeCase{"GeometryFails", std::nullopt, 512}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Reading ----

TEST_F(DiskOverDouble, ReadsAnyBufferAndLengthExactly) {
  auto bytes = Pattern(10 << 20);
  AddDisk(bytes);
  CDiskDevice disk{std::string(kPath)};
  ASSERT_TRUE(disk.IsOpened());
  EXPECT_EQ(disk.GetSectorCount(), static_cast<int64_t>(bytes.size() / 512));
  EXPECT_EQ(disk.GetDiskNumber(), -1);

  struct Read {
    uint64_t first, count;
    size_t misalign;
  };
  // Unaligned and aligned buffers, the bounce buffer's size exactly, and more than it.
  for (const Read& r :
       {Read{3, 8, 1}, Read{5, 8, 0}, Read{100, 8192, 0}, Read{100, 8192, 3}, Read{7, 12288, 5}}) {
    std::vector<uint8_t> raw(r.count * 512 + 4096 + r.misalign);
    uint8_t* p = raw.data() + (4096 - reinterpret_cast<uintptr_t>(raw.data()) % 4096) % 4096 + r.misalign;
    ASSERT_TRUE(disk.ReadSectors(p, r.first, r.count)) << r.first;
    EXPECT_EQ(0, std::memcmp(p, bytes.data() + r.first * 512, r.count * 512)) << r.first << "+" << r.count;
  }
}

TEST_F(DiskOverDouble, ClosedOrNeverOpenedDisksFailTheirReads) {
  io.Add(kPath, Pattern(4096)).openErrno = ENOENT;
  CDiskDevice missing{std::string(kPath)};
  EXPECT_FALSE(missing.IsOpened());
  EXPECT_EQ(missing.GetSectorSize(), 0);
  EXPECT_EQ(missing.GetSectorCount(), 0);
  uint8_t sector[512];
  EXPECT_FALSE(missing.ReadSectors(sector, 0, 1));

  AddDisk(Pattern(64 * 512));
  CDiskDevice disk{std::string(kPath)};
  ASSERT_TRUE(disk.IsOpened());
  ASSERT_TRUE(disk.Close());
  std::memset(sector, 0xAA, sizeof sector);
  EXPECT_FALSE(disk.ReadSectors(sector, 0, 1));
  EXPECT_EQ(sector[0], 0);  // zero-filled, not stale
  EXPECT_TRUE(disk.Open());
  EXPECT_TRUE(disk.ReadSectors(sector, 0, 1));
}

TEST_F(DiskOverDouble, BadSectorsFollowTheUsersChoice) {
  FaultySource& s = AddDisk(Pattern(1 << 20));
  s.badSectors.insert(300);
  CDiskDevice disk{std::string(kPath)};
  std::vector<uint8_t> buffer(8 * 512, 0xAA);
  {
    devtest::ScopedIgnoreBadSectors off(false);
    EXPECT_FALSE(disk.ReadSectors(buffer.data(), 296, 8));
    EXPECT_TRUE(disk.Reader().GetBadRanges().empty());
  }
  {
    devtest::ScopedIgnoreBadSectors on(true);
    EXPECT_TRUE(disk.ReadSectors(buffer.data(), 296, 8));
    EXPECT_EQ(std::vector<uint8_t>(buffer.size(), 0), buffer);
    ASSERT_EQ(disk.Reader().GetBadRanges().size(), 1u);
    EXPECT_EQ(disk.Reader().GetBadRanges()[0].first, 296u);
  }
}

// A drive that is not ready is reopened and read again, at most three times in a row; after three
// the counter stays up, so the next not-ready read fails at once and starts the count again.
struct NotReadyCase {
  const char* name;
  int notReadyTimes;
  std::vector<bool> results;  // of consecutive reads
  std::vector<int> retries;   // reopen passes logged by each read
};

class DiskNotReady : public DiskOverDouble, public ::testing::WithParamInterface<NotReadyCase> {};

TEST_P(DiskNotReady, ReopensTheDescriptorAndReadsAgain) {
  const NotReadyCase& c = GetParam();
  auto bytes = Pattern(1 << 20);
  AddDisk(bytes);
  CDiskDevice disk{std::string(kPath)};
  ASSERT_TRUE(disk.IsOpened());
  const int64_t count = disk.GetSectorCount();
  io.With(kPath, [&](FaultySource& s) {
    s.notReadyCount = c.notReadyTimes;
    s.readLog.clear();
    return 0;
  });

  int handle = 100;  // the double numbers its descriptors from 100
  for (size_t i = 0; i < c.results.size(); ++i) {
    ScopedCapture capture;
    std::vector<uint8_t> buffer(4 * 512);
    EXPECT_EQ(disk.ReadSectors(buffer.data(), 40, 4), c.results[i]) << "read " << i;
    if (c.results[i]) {
      EXPECT_EQ(0, std::memcmp(buffer.data(), bytes.data() + 40 * 512, buffer.size()));
    }
    std::vector<std::string> expected;
    for (int r = 0; r < c.retries[i]; ++r) {
      char line[128];
      std::snprintf(line, sizeof line,
                    "--------------Tev:Disk Device 0x%x not ready ,we will try to read again", handle);
      expected.push_back(line);
      std::snprintf(line, sizeof line, "--------------Tev:Disk Device handle = 0x%x", ++handle);
      expected.push_back(line);
    }
    std::vector<std::string> logged;
    for (const std::string& text : capture.Texts())
      if (text.find("Tev:Disk Device") != std::string::npos) logged.push_back(text);
    EXPECT_EQ(logged, expected) << "read " << i;
  }
  // Only the descriptor was renewed: one open at a time, nothing but the requested sectors read
  // again, and the disk's size, count and dynamic flag kept.
  io.With(kPath, [&](FaultySource& s) {
    EXPECT_EQ(s.liveHandles, 1);
    for (const auto& [offset, length] : s.readLog) EXPECT_EQ(offset, 40u * 512);
    return 0;
  });
  EXPECT_EQ(disk.GetSectorCount(), count);
  EXPECT_EQ(disk.GetSectorSize(), 512);
}

INSTANTIATE_TEST_SUITE_P(
    DiskDevice, DiskNotReady,
    ::testing::Values(NotReadyCase{"Once", 1, {true}, {1}}, NotReadyCase{"Twice", 2, {true}, {2}},
                      NotReadyCase{"ThreeTimesFailsThenReads", 3, {false, true}, {3, 0}},
                      NotReadyCase{"FourTimesCounterStaysUpThenResets", 4, {false, false, true}, {3, 0, 0}},
                      NotReadyCase{"FiveTimesCountsAgainAfterReset", 5, {false, false, true}, {3, 0, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DiskOverDouble, DeniedOpenIsLoggedNotSilent) {
  io.Add(kPath, Pattern(4096)).openErrno = EACCES;
  ScopedCapture capture;
  CDiskDevice disk{std::string(kPath)};
  EXPECT_FALSE(disk.IsOpened());
  EXPECT_TRUE(capture.HasPart("Cannot open /dev/fake-disk for reading: permission denied"));
}

TEST(DiskDeviceOnLinux, DeniedOpenOfARealFileIsLogged) {
  CORVALE_REQUIRE_ROOT();
  // A folder every user can enter, so that the file's own mode is what refuses the other user.
  corvale::test::PublicScratchDir folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string file = folder.path() + "/private.img";
  { std::ofstream(file) << std::string(4096, 'x'); }
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  // As an ordinary user the root-owned file cannot be opened.
  EXPECT_TRUE(corvale::test::RunAsOtherUser([&] {
    ScopedCapture capture;
    CDiskDevice disk{file};
    return !disk.IsOpened() && capture.HasPart("permission denied") && capture.HasPart(file);
  }));
}

// ---- The description ----

TEST(DiskInfoRecord, LayoutIsTheStoredOne) {
  EXPECT_EQ(sizeof(DISK_INFO_RECORD), DISK_INFO_RECORD::kSize);
  DISK_INFO_RECORD r;
  r.busType = 0x01020307;
  std::strcpy(r.vendor, "V");
  std::strcpy(r.product, "P");
  std::strcpy(r.revision, "R");
  std::strcpy(r.serialNumber, "S");
  std::strcpy(r.busTypeText, "USB Device");
  std::vector<uint8_t> bytes(DISK_INFO_RECORD::kSize, 0xEE);
  r.Write(bytes.data());
  EXPECT_EQ(bytes[0], 0x07);
  EXPECT_EQ(bytes[3], 0x01);
  EXPECT_EQ(bytes[4], 'V');
  EXPECT_EQ(bytes[5], 0);
  EXPECT_EQ(bytes[264], 'P');
  EXPECT_EQ(bytes[524], 'R');
  EXPECT_EQ(bytes[784], 'S');
  EXPECT_EQ(0, std::memcmp(&bytes[1044], "USB Device", 11));
  EXPECT_EQ(bytes[1303], 0);

  DISK_INFO_RECORD back = DISK_INFO_RECORD::Read(bytes.data());
  EXPECT_EQ(back.busType, r.busType);
  EXPECT_STREQ(back.busTypeText, "USB Device");
  EXPECT_STREQ(back.serialNumber, "S");

  // Unterminated garbage still reads as terminated texts.
  std::vector<uint8_t> junk(DISK_INFO_RECORD::kSize, 'A');
  DISK_INFO_RECORD j = DISK_INFO_RECORD::Read(junk.data());
  EXPECT_EQ(std::strlen(j.vendor), 259u);
  EXPECT_EQ(std::strlen(j.busTypeText), 259u);
}

TEST(DiskInfoRecord, BusTypeTexts) {
  const char* expected[] = {"",
                            "SCSI Disk Device",
                            "ATAPI Bus",
                            "ATA Bus",
                            "1394 Disk Device",
                            "SSA Disk Device",
                            "FIBER Disk Device",
                            "USB Device",
                            "RAID Disk Device",
                            ""};
  for (uint32_t type = 0; type < 10; ++type) EXPECT_STREQ(corvale::BusTypeText(type), expected[type]) << type;
  EXPECT_STREQ(corvale::BusTypeText(17), "");
}

// Drives pad their texts with spaces. Leading spaces are skipped and the text ends before its
// first pair of spaces; a single space (inside or at the end) is kept.
TEST(DiskInfoRecord, DriveTextsAreTrimmed) {
  struct Case {
    const char* in;
    const char* out;
  };
  for (const Case& c :
       {Case{"Flash Disk      ", "Flash Disk"}, Case{"   Leading", "Leading"}, Case{"  Prod   X", "Prod"},
        Case{"Prod ", "Prod "}, Case{"A B  C", "A B"}, Case{"    ", ""}, Case{"", ""}}) {
    char out[DISK_INFO_RECORD::kTextSize];
    std::memset(out, 'Z', sizeof out);
    corvale::CopyDriveText(out, sizeof out, c.in);
    EXPECT_STREQ(out, c.out) << '"' << c.in << '"';
  }
  char small[8];
  corvale::CopyDriveText(small, sizeof small, "ABCDEFGHIJKL");
  EXPECT_STREQ(small, "ABCDEFG");
}

TEST_F(DiskOverDouble, DiskInfoComesFromTheDrivesReport) {
  FaultySource& s = AddDisk(Pattern(64 * 512));
  platform::StorageDescriptor d;
  d.busType = 7;
  d.vendor = "  Generic ";
  d.product = "Flash Disk      ";
  d.revision = "8.07";
  d.serial = "ignored without the flag";
  s.storage = d;
  CDiskDevice disk{std::string(kPath)};
  DISK_INFO_RECORD info;
  ASSERT_TRUE(disk.GetDiskInfo(&info));
  EXPECT_EQ(info.busType, 7u);
  EXPECT_STREQ(info.busTypeText, "USB Device");
  EXPECT_STREQ(info.vendor, "Generic ");
  EXPECT_STREQ(info.product, "Flash Disk");
  EXPECT_STREQ(info.revision, "8.07");
  EXPECT_STREQ(info.serialNumber, "");

  d.busType = 9;
  d.serial = "WD-123";
  d.hasSerial = true;
  io.With(kPath, [&](FaultySource& src) { return src.storage = d, 0; });
  ASSERT_TRUE(disk.GetDiskInfo(&info));
  EXPECT_STREQ(info.busTypeText, "");
  EXPECT_STREQ(info.serialNumber, "WD-123");

  // A drive that does not answer leaves the record zeroed.
  io.With(kPath, [&](FaultySource& src) { return src.storage.reset(), 0; });
  EXPECT_FALSE(disk.GetDiskInfo(&info));
  EXPECT_EQ(info.busType, 0u);
  EXPECT_STREQ(info.vendor, "");
  EXPECT_STREQ(info.busTypeText, "");
}

TEST_F(DiskOverDouble, GeometryQueries) {
  FaultySource& s = AddDisk(Pattern(64 * 512));
  s.geometry = Geometry(3, 16, 32, 512);
  CDiskDevice disk{std::string(kPath)};
  EXPECT_EQ(disk.GetTracksPerCylinder(), 16);
  platform::DriveGeometry g;
  ASSERT_TRUE(disk.GetDriveGeometry(&g));
  EXPECT_EQ(g.sectorsPerTrack, 32u);
  io.With(kPath, [&](FaultySource& src) { return src.geometry.reset(), 0; });
  EXPECT_EQ(disk.GetTracksPerCylinder(), 255);
  EXPECT_FALSE(disk.GetDriveGeometry(&g));
}

// ---- Real sources ----

TEST(DiskDeviceOnLinux, ImageFileIsReadExactlyAndOpenedReadOnly) {
  CORVALE_FIXTURE(image, "mbr_random_data.sh", "mbr_random_data.img");
  auto bytes = devtest::ReadFileBytes(image);
  CDiskDevice disk{image};
  ASSERT_TRUE(disk.IsOpened());
  EXPECT_EQ(disk.GetSectorSize(), 512);
  EXPECT_EQ(disk.GetSectorCount(), static_cast<int64_t>(bytes.size() / 512));
  EXPECT_FALSE(disk.IsDynamicDisk());
  EXPECT_EQ(devtest::AccessModesOfDescriptorsOn(image), std::vector<int>{O_RDONLY});
  std::vector<uint8_t> buffer(8192 * 512);
  for (uint64_t first = 0; first < bytes.size() / 512; first += 8192) {
    ASSERT_TRUE(disk.ReadSectors(buffer.data(), first, 8192));
    ASSERT_EQ(0, std::memcmp(buffer.data(), bytes.data() + first * 512, buffer.size())) << first;
  }
}

TEST(DiskDeviceOnLinux, LoopDeviceReportsTheKernelsSizeAndReadsTheImage) {
  CORVALE_REQUIRE_ROOT();
  CORVALE_FIXTURE(image, "mbr_random_data.sh", "mbr_random_data.img");
  auto bytes = devtest::ReadFileBytes(image);
  // A read-only loop device refuses to be opened for writing, so opening it proves the disk asks
  // for reading only.
  corvale::test::LoopDevice loop(image, /*readOnly=*/true);
  ASSERT_TRUE(loop.ok()) << loop.error();
  CDiskDevice disk{loop.path()};
  ASSERT_TRUE(disk.IsOpened());
  EXPECT_EQ(devtest::AccessModesOfDescriptorsOn(loop.path()), std::vector<int>{O_RDONLY});
  EXPECT_EQ(disk.GetSectorSize(), 512);
  EXPECT_EQ(disk.GetSectorCount(), static_cast<int64_t>(bytes.size() / 512));
  EXPECT_EQ(disk.GetTracksPerCylinder(), 255);

  std::vector<uint8_t> whole(bytes.size());
  for (uint64_t first = 0; first < bytes.size() / 512; first += 8192)
    ASSERT_TRUE(disk.ReadSectors(whole.data() + first * 512, first,
                                 std::min<uint64_t>(8192, bytes.size() / 512 - first)));
  EXPECT_TRUE(whole == bytes);

  DISK_INFO_RECORD info;
  ASSERT_TRUE(disk.GetDiskInfo(&info));  // a loop device has no drive behind it: no bus, no texts
  EXPECT_EQ(info.busType, 0u);
  EXPECT_STREQ(info.product, "");
}

TEST(DiskDeviceOnLinux, DriveLayoutListsTheKernelsPartitions) {
  CORVALE_REQUIRE_ROOT();
  CORVALE_FIXTURE(image, "mbr_random_data.sh", "mbr_random_data.img");
  devtest::PartitionedLoop loop(image, 2);
  if (!loop.ok()) GTEST_SKIP() << loop.error();
  CDiskDevice disk{loop.path()};
  std::vector<platform::KernelPartition> parts;
  ASSERT_TRUE(disk.QueryDriveLayout(&parts));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].number, 1);
  EXPECT_EQ(parts[0].startSector, 2048u);
  EXPECT_EQ(parts[0].sectorCount, 8192u);
  EXPECT_EQ(parts[1].startSector, 10240u);
  EXPECT_EQ(parts[1].sectorCount, 38912u);
}

TEST(DiskDeviceOnLinux, TwoThreadsReadOneDiskAtOnce) {
  CORVALE_FIXTURE(image, "mbr_random_data.sh", "mbr_random_data.img");
  auto bytes = devtest::ReadFileBytes(image);
  CDiskDevice disk{image};
  ASSERT_TRUE(disk.IsOpened());
  const uint64_t blocks = bytes.size() / 512 / 64;
  std::atomic<int> mismatches{0};
  auto reader = [&](bool backwards) {
    std::vector<uint8_t> buffer(64 * 512 + 1);  // one byte off alignment: through the bounce buffer
    for (int round = 0; round < 4; ++round)
      for (uint64_t i = 0; i < blocks; ++i) {
        uint64_t b = backwards ? blocks - 1 - i : i;
        if (!disk.ReadSectors(buffer.data() + 1, b * 64, 64) ||
            std::memcmp(buffer.data() + 1, bytes.data() + b * 64 * 512, 64 * 512) != 0)
          mismatches++;
      }
  };
  std::thread a(reader, false), b(reader, true);
  a.join();
  b.join();
  EXPECT_EQ(mismatches.load(), 0);
}

// Disk N is the N-th source of the catalogue; CORVALE_DISKS names the sources here.
TEST(DiskDeviceOnLinux, DiskNumbersComeFromTheCatalogue) {
  CORVALE_FIXTURE(random, "mbr_random_data.sh", "mbr_random_data.img");
  CORVALE_FIXTURE(ldm, "mbr_ldm_primary.sh", "mbr_ldm_primary.img");
  const char* old = std::getenv("CORVALE_DISKS");
  const std::string saved = old ? old : "";
  ::setenv("CORVALE_DISKS", (random + ":" + ldm).c_str(), 1);

  CDiskDevice first(0);
  CDiskDevice second(1);
  CDiskDevice missing(2);
  CDiskDevice outOfRange(20);
  CDiskDevice negative(-1);
  if (old) {
    ::setenv("CORVALE_DISKS", saved.c_str(), 1);
  } else {
    ::unsetenv("CORVALE_DISKS");
  }

  ASSERT_TRUE(first.IsOpened());
  EXPECT_EQ(first.GetDiskNumber(), 0);
  EXPECT_EQ(first.GetDevicePath(), random);
  EXPECT_FALSE(first.IsDynamicDisk());
  ASSERT_TRUE(second.IsOpened());
  EXPECT_EQ(second.GetDiskNumber(), 1);
  EXPECT_TRUE(second.IsDynamicDisk());
  EXPECT_FALSE(missing.IsOpened());
  EXPECT_FALSE(outOfRange.IsOpened());  // disks 0..19 open
  EXPECT_EQ(outOfRange.GetDiskNumber(), 20);
  EXPECT_FALSE(negative.IsOpened());
  EXPECT_EQ(negative.GetDiskNumber(), -1);
}
