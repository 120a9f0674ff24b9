// The dynamic volume devices against a reference model of each layout: a flat volume of random bytes
// is spread over member disks the way the layout lays it down (stripes row by row, RAID-5 parity
// rotating left-symmetrically, spans one after another, mirrors as two copies), and every read
// through the device must give back the flat volume, also with members missing or failing.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "storage/DynamicVolumeDevice.h"
#include "storage/MemoryDevice.h"

namespace {

constexpr size_t kSector = 512;
// Every member's extent starts here, and its disk goes on past the extent's end, filled with a
// byte no volume holds, so that a read outside the extent shows.
constexpr uint64_t kExtentStart = 7;
constexpr uint64_t kTail = 9;
constexpr uint8_t kOutside = 0xEE;

struct Member {
  uint64_t offset = 0;
  std::vector<uint8_t> bytes;  // the extent's sectors
};

struct Model {
  std::vector<uint8_t> flat;
  std::vector<int> owner;  // member holding each volume sector (-1: none)
  std::vector<Member> members;
};

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng() % 0xE0);  // never kOutside
  return v;
}

void CopySector(std::vector<uint8_t>& to, uint64_t toSector, const std::vector<uint8_t>& from,
                uint64_t fromSector) {
  std::memcpy(to.data() + toSector * kSector, from.data() + fromSector * kSector, kSector);
}

Model Spanned(const std::vector<uint64_t>& lengths) {
  Model m;
  uint64_t total = 0;
  for (uint64_t l : lengths) total += l;
  m.flat = RandomBytes(total * kSector, 11);
  m.owner.assign(total, -1);
  uint64_t at = 0;
  for (size_t i = 0; i < lengths.size(); ++i) {
    Member member{at, std::vector<uint8_t>(lengths[i] * kSector)};
    for (uint64_t s = 0; s < lengths[i]; ++s) {
      CopySector(member.bytes, s, m.flat, at + s);
      m.owner[at + s] = static_cast<int>(i);
    }
    at += lengths[i];
    m.members.push_back(std::move(member));
  }
  return m;
}

// Stripe units go to the columns in turn, one row after another.
Model Striped(size_t columns, uint64_t stripe, uint64_t rows) {
  Model m;
  const uint64_t total = columns * stripe * rows;
  m.flat = RandomBytes(total * kSector, 12);
  m.owner.assign(total, -1);
  m.members.assign(columns, Member{0, std::vector<uint8_t>(rows * stripe * kSector)});
  for (uint64_t unit = 0; unit < columns * rows; ++unit) {
    const size_t column = unit % columns;
    const uint64_t row = unit / columns;
    for (uint64_t s = 0; s < stripe; ++s) {
      CopySector(m.members[column].bytes, row * stripe + s, m.flat, unit * stripe + s);
      m.owner[unit * stripe + s] = static_cast<int>(column);
    }
  }
  return m;
}

// Each row holds columns - 1 data units and one parity unit; the parity starts on the last column
// and moves one column left per row, and the row's data starts on the column after the parity.
Model Raid5(size_t columns, uint64_t stripe, uint64_t rows) {
  Model m;
  const uint64_t total = (columns - 1) * stripe * rows;
  m.flat = RandomBytes(total * kSector, 13);
  m.owner.assign(total, -1);
  m.members.assign(columns, Member{0, std::vector<uint8_t>(rows * stripe * kSector)});
  uint64_t unit = 0;
  for (uint64_t row = 0; row < rows; ++row) {
    const size_t parity = columns - 1 - row % columns;
    for (size_t k = 0; k + 1 < columns; ++k, ++unit) {
      const size_t column = (parity + 1 + k) % columns;
      for (uint64_t s = 0; s < stripe; ++s) {
        CopySector(m.members[column].bytes, row * stripe + s, m.flat, unit * stripe + s);
        m.owner[unit * stripe + s] = static_cast<int>(column);
      }
    }
    for (uint64_t b = row * stripe * kSector; b < (row + 1) * stripe * kSector; ++b) {
      uint8_t x = 0;
      for (size_t c = 0; c < columns; ++c)
        if (c != parity) x ^= m.members[c].bytes[b];
      m.members[parity].bytes[b] = x;
    }
  }
  return m;
}

// The member disks of a model, each holding its extent at kExtentStart.
std::vector<std::unique_ptr<MemoryDevice>> Disks(const Model& m) {
  std::vector<std::unique_ptr<MemoryDevice>> disks;
  for (const Member& member : m.members) {
    std::vector<uint8_t> bytes((kExtentStart + kTail) * kSector + member.bytes.size(), kOutside);
    std::memcpy(bytes.data() + kExtentStart * kSector, member.bytes.data(), member.bytes.size());
    disks.push_back(std::make_unique<MemoryDevice>(std::move(bytes)));
  }
  return disks;
}

// Extents of the members, handed over in reverse so that the device must put them in order.
std::vector<DynamicExtent> Extents(const Model& m, const std::vector<std::unique_ptr<MemoryDevice>>& disks,
                                   int missing = -1) {
  std::vector<DynamicExtent> extents;
  for (size_t i = 0; i < m.members.size(); ++i) {
    DynamicExtent e;
    e.column = static_cast<int32_t>(i);
    e.diskGuid = "disk-" + std::to_string(i);
    e.start = kExtentStart;
    e.offset = m.members[i].offset;
    e.length = m.members[i].bytes.size() / kSector;
    e.disk = static_cast<int>(i) == missing ? nullptr : disks[i].get();
    extents.push_back(e);
  }
  std::reverse(extents.begin(), extents.end());
  return extents;
}

// The volume as it should read: the flat volume with the sectors of `lost` (a member whose share
// cannot come back) zeroed.
std::vector<uint8_t> Expected(const Model& m, int lost) {
  std::vector<uint8_t> v = m.flat;
  for (size_t s = 0; s < m.owner.size(); ++s)
    if (m.owner[s] == lost && lost >= 0) std::memset(v.data() + s * kSector, 0, kSector);
  return v;
}

// Random reads (some running past the end) and one read of the whole volume must equal `expected`;
// no member disk is read outside its extent.
void CheckReads(IDynamicDevice& device, const std::vector<uint8_t>& expected,
                const std::vector<std::unique_ptr<MemoryDevice>>& disks, const Model& m, uint32_t seed) {
  const uint64_t total = expected.size() / kSector;
  ASSERT_EQ(device.GetSectorCount(), static_cast<int64_t>(total));
  std::mt19937 rng(seed);
  std::vector<std::pair<uint64_t, uint64_t>> reads{{0, total}, {total - 1, 1}};
  for (int i = 0; i < 200; ++i) {
    const uint64_t start = rng() % total;
    const uint64_t count = 1 + rng() % std::min<uint64_t>(total, 700);
    reads.emplace_back(start, count);
  }
  for (const auto& [start, count] : reads) {
    std::vector<uint8_t> buffer(count * kSector, 0x5A);
    ASSERT_TRUE(device.ReadSectors(buffer.data(), start, count)) << start << "+" << count;
    const uint64_t inside = std::min(count, total - start);
    ASSERT_EQ(0, std::memcmp(buffer.data(), expected.data() + start * kSector, inside * kSector))
        << "read " << start << "+" << count;
    ASSERT_TRUE(
        std::all_of(buffer.begin() + inside * kSector, buffer.end(), [](uint8_t b) { return b == 0; }))
        << "past the end of read " << start << "+" << count;
  }
  for (size_t i = 0; i < disks.size(); ++i) {
    const uint64_t end = kExtentStart + m.members[i].bytes.size() / kSector;
    for (const auto& [first, count] : disks[i]->ReadLog()) {
      EXPECT_GE(first, kExtentStart) << "member " << i;
      EXPECT_LE(first + count, end) << "member " << i;
    }
  }
}

DynamicVolumeDescription Description(const Model& m, uint64_t stripe) {
  DynamicVolumeDescription d;
  d.volumeName = "Volume1";
  d.diskGroupName = "Dg0";
  d.sectorCount = m.flat.size() / kSector;
  d.stripeSectors = stripe;
  return d;
}

struct LayoutCase {
  const char* name;
  int32_t kind;
  size_t columns;
  uint64_t stripe;  // 0: the usual 64 KiB
  int missing;      // member without a disk, -1 for none
  int badMember;    // member with one unreadable sector, -1 for none
};

class DynamicLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(DynamicLayout, ReadsWhatTheReferenceModelLaidDown) {
  const LayoutCase& c = GetParam();
  Model m;
  const uint64_t stripe = c.stripe ? c.stripe : 128;
  if (c.kind == kDynamicSpanned)
    m = Spanned({300, 41, 517});
  else if (c.kind == kDynamicStriped)
    m = Striped(c.columns, stripe, 7);
  else
    m = Raid5(c.columns, stripe, 2 * c.columns + 1);
  auto disks = Disks(m);
  if (c.badMember >= 0) disks[c.badMember]->SetBadSector(kExtentStart + stripe + 1);
  auto device = CreateDynamicVolumeDevice(c.kind, Description(m, c.stripe), Extents(m, disks, c.missing));
  ASSERT_TRUE(device);
  EXPECT_EQ(device->GetKind(), c.kind);
  EXPECT_EQ(device->GetSectorSize(), 512);
  // RAID-5 rebuilds a lost member; the other layouts leave its share zero.
  const bool rebuilt = c.kind == kDynamicRaid5;
  CheckReads(*device, Expected(m, rebuilt ? -1 : c.missing), disks, m, 7);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, DynamicLayout,
    ::testing::Values(LayoutCase{"SpannedOverThreeDisks", kDynamicSpanned, 3, 0, -1, -1},
                      LayoutCase{"SpannedMiddleDiskMissing", kDynamicSpanned, 3, 0, 1, -1},
                      LayoutCase{"StripedTwoDefaultStripe", kDynamicStriped, 2, 0, -1, -1},
                      LayoutCase{"StripedThreeStripeOne", kDynamicStriped, 3, 1, -1, -1},
                      LayoutCase{"StripedThreeStripeSeven", kDynamicStriped, 3, 7, -1, -1},
                      LayoutCase{"StripedFourStripeFortyOne", kDynamicStriped, 4, 41, -1, -1},
                      LayoutCase{"StripedSecondDiskMissing", kDynamicStriped, 3, 7, 1, -1},
                      LayoutCase{"Raid5ThreeDefaultStripe", kDynamicRaid5, 3, 0, -1, -1},
                      LayoutCase{"Raid5FourStripeFive", kDynamicRaid5, 4, 5, -1, -1},
                      LayoutCase{"Raid5FirstMissing", kDynamicRaid5, 3, 0, 0, -1},
                      LayoutCase{"Raid5MiddleMissing", kDynamicRaid5, 4, 5, 1, -1},
                      LayoutCase{"Raid5LastMissing", kDynamicRaid5, 5, 3, 4, -1},
                      LayoutCase{"Raid5BadSectorRebuilt", kDynamicRaid5, 3, 13, -1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// Each member sector carries its column and sector number, to see where a volume sector comes from.
std::vector<std::unique_ptr<MemoryDevice>> TaggedDisks(size_t columns, uint64_t sectors) {
  std::vector<std::unique_ptr<MemoryDevice>> disks;
  for (size_t c = 0; c < columns; ++c) {
    std::vector<uint8_t> bytes(sectors * kSector, 0);
    for (uint64_t s = 0; s < sectors; ++s) {
      bytes[s * kSector] = static_cast<uint8_t>(c);
      std::memcpy(bytes.data() + s * kSector + 8, &s, sizeof s);
    }
    disks.push_back(std::make_unique<MemoryDevice>(std::move(bytes)));
  }
  return disks;
}

struct MappingCase {
  int32_t kind;
  size_t columns;
  uint64_t volumeSector;
  uint8_t column;
  uint64_t memberSector;  // on the member disk, its extent starting at sector 10
};

class DynamicMapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(DynamicMapping, VolumeSectorComesFromItsColumn) {
  const MappingCase& c = GetParam();
  auto disks = TaggedDisks(c.columns, 2000);
  std::vector<DynamicExtent> extents;
  for (size_t i = 0; i < c.columns; ++i)
    extents.push_back({static_cast<int32_t>(i), "g" + std::to_string(i), 10, 0, 1000, disks[i].get()});
  DynamicVolumeDescription d;
  d.sectorCount = c.kind == kDynamicRaid5 ? 1000 * (c.columns - 1) : 1000 * c.columns;
  auto device = CreateDynamicVolumeDevice(c.kind, d, extents);
  ASSERT_TRUE(device);
  std::vector<uint8_t> sector(kSector);
  ASSERT_TRUE(device->ReadSectors(sector.data(), c.volumeSector, 1));
  uint64_t memberSector = 0;
  std::memcpy(&memberSector, sector.data() + 8, sizeof memberSector);
  EXPECT_EQ(sector[0], c.column);
  EXPECT_EQ(memberSector, c.memberSector);
}

INSTANTIATE_TEST_SUITE_P(Mappings, DynamicMapping,
                         ::testing::Values(MappingCase{kDynamicStriped, 2, 200, 1, 10 + 72},
                                           MappingCase{kDynamicRaid5, 3, 0, 0, 10},
                                           MappingCase{kDynamicRaid5, 3, 128, 1, 10},
                                           MappingCase{kDynamicRaid5, 3, 256, 2, 10 + 128},
                                           MappingCase{kDynamicRaid5, 3, 300, 2, 10 + 172},
                                           MappingCase{kDynamicRaid5, 3, 384, 0, 10 + 128}));

TEST(DynamicVolume, MirrorReadsEitherCopy) {
  Model m = Spanned({600});
  auto first = Disks(m);
  auto second = Disks(m);
  auto copy = [&](std::vector<std::unique_ptr<MemoryDevice>>& disks, bool present) {
    std::vector<DynamicExtent> extents = Extents(m, disks, present ? -1 : 0);
    return CreateDynamicVolumeDevice(kDynamicSimple, Description(m, 0), extents);
  };
  // First copy fails at one sector: it comes from the second.
  first[0]->SetBadSector(kExtentStart + 100);
  auto mirror = CreateMirrorVolumeDevice(Description(m, 0), copy(first, true), copy(second, true));
  ASSERT_TRUE(mirror);
  EXPECT_EQ(mirror->GetKind(), kDynamicMirror);
  CheckReads(*mirror, m.flat, first, m, 3);

  // One side missing altogether: the other gives everything.
  auto lone = Disks(m);
  EXPECT_EQ(copy(lone, false), nullptr);
  auto halfMirror = CreateMirrorVolumeDevice(Description(m, 0), nullptr, copy(lone, true));
  ASSERT_TRUE(halfMirror);
  CheckReads(*halfMirror, m.flat, lone, m, 4);

  // Both copies bad at the same sector: that sector alone reads as zeros.
  auto a = Disks(m);
  auto b = Disks(m);
  a[0]->SetBadSector(kExtentStart + 70);
  b[0]->SetBadSector(kExtentStart + 70);
  auto broken = CreateMirrorVolumeDevice(Description(m, 0), copy(a, true), copy(b, true));
  std::vector<uint8_t> expected = m.flat;
  std::memset(expected.data() + 70 * kSector, 0, kSector);
  CheckReads(*broken, expected, a, m, 5);
}

TEST(DynamicVolume, ReadsOutsideTheVolumeAreRefusedOrShortened) {
  Model m = Striped(2, 16, 4);
  auto disks = Disks(m);
  auto device = CreateDynamicVolumeDevice(kDynamicStriped, Description(m, 16), Extents(m, disks));
  const uint64_t total = m.flat.size() / kSector;
  std::vector<uint8_t> buffer(20 * kSector, 0x5A);
  // The last 10 sectors asked for with a count of 20: 10 read, 10 zero.
  ASSERT_TRUE(device->ReadSectors(buffer.data(), total - 10, 20));
  EXPECT_EQ(0, std::memcmp(buffer.data(), m.flat.data() + (total - 10) * kSector, 10 * kSector));
  EXPECT_TRUE(std::all_of(buffer.begin() + 10 * kSector, buffer.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_FALSE(device->ReadSectors(buffer.data(), total + 1, 1));
  EXPECT_FALSE(device->ReadSectors(buffer.data(), UINT64_MAX - 3, 1));
  std::vector<uint8_t> big((total + 1) * kSector);
  EXPECT_FALSE(device->ReadSectors(big.data(), 0, total + 1));
}

TEST(DynamicVolume, VolumeLargerThanItsExtentsNeverReadsPastThem) {
  // The size came from a boot sector that claims more than the extents hold.
  Model m = Striped(3, 5, 4);
  auto disks = Disks(m);
  DynamicVolumeDescription d = Description(m, 5);
  const uint64_t total = m.flat.size() / kSector;
  d.sectorCount = total + 200;
  std::vector<uint8_t> expected = m.flat;
  expected.resize(d.sectorCount * kSector, 0);
  for (int32_t kind : {kDynamicStriped, kDynamicRaid5, kDynamicSpanned}) {
    auto device = CreateDynamicVolumeDevice(kind, d, Extents(m, disks));
    ASSERT_TRUE(device);
    std::vector<uint8_t> buffer(d.sectorCount * kSector);
    device->ReadSectors(buffer.data(), 0, d.sectorCount);
    if (kind == kDynamicStriped) {
      EXPECT_EQ(buffer, expected);
    }
    for (size_t i = 0; i < disks.size(); ++i)
      for (const auto& [first, count] : disks[i]->ReadLog())
        EXPECT_LE(first + count, kExtentStart + m.members[i].bytes.size() / kSector) << kind;
  }
}

TEST(DynamicVolume, SameVolumeMeansSameKindAndSameExtents) {
  Model m = Striped(2, 8, 3);
  auto disks = Disks(m);
  auto a = CreateDynamicVolumeDevice(kDynamicStriped, Description(m, 8), Extents(m, disks));
  auto b = CreateDynamicVolumeDevice(kDynamicStriped, Description(m, 8), Extents(m, disks));
  auto spanned = CreateDynamicVolumeDevice(kDynamicSpanned, Description(m, 8), Extents(m, disks));
  auto fewer = Extents(m, disks);
  fewer.pop_back();
  auto part = CreateDynamicVolumeDevice(kDynamicStriped, Description(m, 8), fewer);
  EXPECT_TRUE(a->IsSameVolume(b.get()));
  EXPECT_FALSE(a->IsSameVolume(spanned.get()));
  EXPECT_FALSE(a->IsSameVolume(part.get()));
  EXPECT_FALSE(part->IsSameVolume(a.get()));

  // Two mirrors over different disks are different volumes.
  Model s = Spanned({50});
  auto d1 = Disks(s), d2 = Disks(s), d3 = Disks(s);
  auto simple = [&](std::vector<std::unique_ptr<MemoryDevice>>& d) {
    return CreateDynamicVolumeDevice(kDynamicSimple, Description(s, 0), Extents(s, d));
  };
  auto m1 = CreateMirrorVolumeDevice(Description(s, 0), simple(d1), simple(d2));
  auto m2 = CreateMirrorVolumeDevice(Description(s, 0), simple(d1), simple(d3));
  auto m3 = CreateMirrorVolumeDevice(Description(s, 0), simple(d1), simple(d2));
  EXPECT_FALSE(m1->IsSameVolume(m2.get()));
  EXPECT_TRUE(m1->IsSameVolume(m3.get()));
}

TEST(DynamicVolume, DevicesAreMadeOnlyWhenEnoughMembersArePresent) {
  Model m = Raid5(3, 4, 3);
  auto disks = Disks(m);
  auto withMissing = [&](std::vector<int> missing) {
    auto extents = Extents(m, disks);
    for (auto& e : extents)
      if (std::find(missing.begin(), missing.end(), e.column) != missing.end()) e.disk = nullptr;
    return extents;
  };
  const auto d = Description(m, 4);
  EXPECT_TRUE(CreateDynamicVolumeDevice(kDynamicRaid5, d, withMissing({2})));
  EXPECT_FALSE(CreateDynamicVolumeDevice(kDynamicRaid5, d, withMissing({0, 2})));
  EXPECT_TRUE(CreateDynamicVolumeDevice(kDynamicStriped, d, withMissing({0, 2})));
  EXPECT_FALSE(CreateDynamicVolumeDevice(kDynamicStriped, d, withMissing({0, 1, 2})));
  EXPECT_FALSE(CreateDynamicVolumeDevice(kDynamicSpanned, d, withMissing({0, 1, 2})));
  EXPECT_FALSE(CreateDynamicVolumeDevice(kDynamicSimple, d, withMissing({})));
  EXPECT_TRUE(CreateDynamicVolumeDevice(kDynamicSimple, d, withMissing({0, 1})));
  EXPECT_FALSE(CreateMirrorVolumeDevice(d, nullptr, nullptr));
  EXPECT_FALSE(CreateDynamicVolumeDevice(1, d, withMissing({})));
  EXPECT_STREQ(DynamicVolumeKindName(kDynamicStriped), "STRIPPED");
  EXPECT_STREQ(DynamicVolumeKindName(1), "UNKNOWN");
}

}  // namespace
