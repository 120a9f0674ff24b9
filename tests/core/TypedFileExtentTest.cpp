#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <string>

#include "core/BuiltInFileTypes.h"
#include "core/SearchedPartitionInfo.h"
#include "core/TypedFileExtent.h"

namespace {

std::u16string Wide(const char* text) { return std::u16string(text, text + std::strlen(text)); }

// Files found by signature, by start sector.
class SignatureMap : public ISignatureResults {
 public:
  bool FindFileType(uint64_t startSector, int32_t& typeId) const override {
    const auto it = files.find(startSector);
    if (it == files.end()) return false;
    typeId = it->second;
    return true;
  }
  std::map<uint64_t, int32_t> files;
};

constexpr uint16_t kDoc = 21;
constexpr uint16_t kJpg = 33;
constexpr uint16_t kZip = 68;

}  // namespace

TEST(BuiltInFileTypes, IdsKeepTheirExtensions) {
  const struct {
    int32_t id;
    const char* extension;
  } cases[] = {{0, "Raw"},  {1, "3DS"},   {21, "DOC"},   {27, "FH11"}, {33, "JPG"}, {36, "MID"}, {37, "MDB"},
               {68, "ZIP"}, {69, "DOCX"}, {72, "ACCDB"}, {73, "NEF"},  {74, ""},    {-1, ""},    {1000, ""}};
  for (const auto& c : cases) EXPECT_STREQ(GetBuiltInFileTypeExtension(c.id), c.extension) << c.id;
}

TEST(TypedFileExtent, TypeComesFromTheExtensionOfTheName) {
  const struct {
    const char* name;
    int length;  // -1: the whole name
    uint16_t type;
  } cases[] = {
      {"letter.doc", -1, kDoc},
      {"PHOTO.JPG", -1, kJpg},
      {"a.Jpg", -1, kJpg},
      {"x.gz", -1, 29},
      {"backup.2020.zip", -1, kZip},
      {"notes.docx", -1, 69},
      {"drawing.fh11", -1, 27},
      {"db.accdb", -1, 0},    // five characters after the dot are more than an extension holds
      {"movie.mpeg", -1, 0},  // four characters, but no such type
      {".doc", -1, 0},        // the only dot is the first character
      {"a.b", -1, 0},         // no type "B"
      {"ab", -1, 0},          // too short
      {"x.", -1, 0},
      {"letter", -1, 0},
      {"letter.doc", 8, 0},  // "letter.d": the name is only as long as its length says
      {"letter.doc", 9, 0},
      {"photo.jpg.", -1, 0},
      {"caf\xC3\xA9.jpg", -1, kJpg},
  };
  for (const auto& c : cases) {
    const size_t full = std::strlen(c.name);
    const uint8_t length = static_cast<uint8_t>(c.length < 0 ? full : static_cast<size_t>(c.length));
    CTypedFileExtent narrow;
    EXPECT_EQ(narrow.SetFromAnsiName(c.name, length, 5, 100), c.type != 0) << c.name;
    EXPECT_EQ(narrow.GetFileType(), c.type) << c.name;
    const std::u16string wide = Wide(c.name);
    CTypedFileExtent unicode;
    EXPECT_EQ(unicode.SetFromUnicodeName(wide.c_str(), length, 5, 100), c.type != 0) << c.name;
    EXPECT_EQ(unicode.GetFileType(), c.type) << c.name;
    if (c.type != 0) {
      EXPECT_EQ(unicode.GetFirstCluster(), 5);
      EXPECT_EQ(unicode.GetEntrySector(), 100);
    }
  }
  // Characters outside ASCII never make an extension of ours.
  const std::u16string fullWidth = u"photo.\uFF2A\uFF30\uFF27";
  CTypedFileExtent e;
  EXPECT_FALSE(e.SetFromUnicodeName(fullWidth.c_str(), static_cast<uint8_t>(fullWidth.size()), 1, 1));
}

TEST(TypedFileExtent, NegativeNumbersFailAndChangeNothing) {
  const std::u16string name = u"photo.jpg";
  const uint8_t length = static_cast<uint8_t>(name.size());
  CTypedFileExtent e;
  EXPECT_FALSE(e.SetFromUnicodeName(name.c_str(), length, -1, 100));
  EXPECT_FALSE(e.SetFromUnicodeName(name.c_str(), length, 7, -1));
  EXPECT_EQ(e.GetFileType(), CTypedFileExtent::kUnknownType);
  EXPECT_EQ(e.GetFirstCluster(), CTypedFileExtent::kNone);
  EXPECT_EQ(e.GetEntrySector(), CTypedFileExtent::kNone);
  EXPECT_FALSE(e.SetFromUnicodeName(nullptr, 10, 1, 1));

  CTypedFileExtentList list;
  EXPECT_FALSE(list.AddFromAnsiName("photo.jpg", 9, -5, 10));
  EXPECT_FALSE(list.AddFromAnsiName("photo.xyz", 9, 5, 10));
  EXPECT_TRUE(list.AddFromAnsiName("photo.jpg", 9, 5, 10));
  EXPECT_EQ(list.GetCount(), 1u);
  list.Clear();
  EXPECT_EQ(list.GetCount(), 0u);
}

// Partition: data area from sector 1000, 2000 sectors, 4 sectors per cluster.
class SignatureMatches : public ::testing::Test {
 protected:
  SignatureMatches() : partition(512) {
    partition.SetStartSector(1000);
    partition.SetSectorCount(2000);
    partition.SetSectorsPerCluster(4);
    partition.SetFilesMatch(7);
    signatures.files = {{1040, kJpg}, {1080, kDoc}, {1400, kZip}, {2996, kJpg}, {3000, kJpg}};
  }
  CSearchedPartitionInfo partition;
  SignatureMap signatures;
};

TEST_F(SignatureMatches, CountsFilesWhereTheSignatureSearchFoundTheSameType) {
  CTypedFileExtentList list;
  list.Add({kJpg, 10, 900});    // entry before the partition: skipped
  list.Add({kJpg, 10, 1000});   // data at 1040, a JPG there: counted
  list.Add({kJpg, 20, 1001});   // data at 1080, but a DOC there: not counted
  list.Add({kZip, 100, 1500});  // data at 1400, a ZIP there: counted
  list.Add({kDoc, 30, 1600});   // data at 1120, nothing found there
  list.Add({kJpg, 499, 1700});  // data at 2996, the partition's last cluster: counted
  list.Add({kJpg, 500, 1800});  // data at 3000, just past the partition: not counted
  list.Add({kJpg, 10, 3000});   // entry at the partition's end: the walk stops
  list.Add({kJpg, 10, 3500});
  EXPECT_EQ(list.CountSignatureMatches(signatures, partition), 3);
  EXPECT_EQ(partition.GetFilesMatch(), 10);
}

// Extents are expected in ascending order; when they are not, the first entry at or past the end
// still ends the walk, as it always has.
TEST_F(SignatureMatches, WalkStopsAtTheFirstEntryPastTheEnd) {
  CTypedFileExtentList list;
  list.Add({kJpg, 10, 1000});
  list.Add({kJpg, 10, 5000});
  list.Add({kDoc, 20, 1100});  // would match, but comes after the stop
  EXPECT_EQ(list.CountSignatureMatches(signatures, partition), 1);
}

// Numbers from a damaged disk: clusters whose sector would overflow, a partition that reaches the
// end of the 64-bit range, an empty or negative count.
TEST_F(SignatureMatches, HugeNumbersNeitherOverflowNorMatch) {
  CTypedFileExtentList list;
  list.Add({kJpg, std::numeric_limits<int64_t>::max() / 2, 1000});
  list.Add({kJpg, std::numeric_limits<int64_t>::max(), 1001});
  list.Add({kJpg, 10, 1002});
  EXPECT_EQ(list.CountSignatureMatches(signatures, partition), 1);

  CSearchedPartitionInfo edge(512);
  edge.SetStartSector(std::numeric_limits<int64_t>::max() - 10);
  edge.SetSectorCount(std::numeric_limits<int64_t>::max());
  edge.SetSectorsPerCluster(255);
  edge.SetFilesMatch(std::numeric_limits<int64_t>::max());
  CTypedFileExtentList far;
  far.Add({kJpg, 0, std::numeric_limits<int64_t>::max() - 5});
  SignatureMap everywhere;
  everywhere.files[static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - 10)] = kJpg;
  EXPECT_EQ(far.CountSignatureMatches(everywhere, edge), 1);
  EXPECT_EQ(edge.GetFilesMatch(), std::numeric_limits<int64_t>::max());

  for (int64_t count : {int64_t{0}, int64_t{-1}, std::numeric_limits<int64_t>::min()}) {
    partition.SetSectorCount(count);
    EXPECT_EQ(list.CountSignatureMatches(signatures, partition), 0) << count;
  }
}

// The walk that starts at the partition gives exactly what a walk from the first extent gives.
TEST_F(SignatureMatches, StartingAtThePartitionCountsAsTheWholeWalk) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    CTypedFileExtentList list;
    SignatureMap map;
    int64_t entry = 0;
    for (int i = 0; i < 400; ++i) {
      entry += rng() % 20;
      const uint16_t type = static_cast<uint16_t>(1 + rng() % 3);
      const int64_t cluster = rng() % 600;
      list.Add({type, cluster, entry});
      if (rng() % 2)
        map.files[1000 + static_cast<uint64_t>(cluster) * 4] = static_cast<int32_t>(1 + rng() % 3);
    }
    CSearchedPartitionInfo p(512);
    p.SetStartSector(1000 + rng() % 3000);
    p.SetSectorCount(rng() % 4000);
    p.SetSectorsPerCluster(4);
    int64_t expected = 0;
    const int64_t start = p.GetStartSector();
    const int64_t end = start + p.GetSectorCount();
    for (size_t i = 0; i < list.GetCount(); ++i) {
      const CTypedFileExtent& e = list[i];
      if (e.GetEntrySector() < start) continue;
      if (e.GetEntrySector() >= end) break;
      const int64_t data = e.GetFirstCluster() * 4 + start;
      int32_t type;
      if (data >= start && data < end && map.FindFileType(static_cast<uint64_t>(data), type) &&
          type == e.GetFileType())
        ++expected;
    }
    EXPECT_EQ(list.CountSignatureMatches(map, p), expected) << round;
  }
}
