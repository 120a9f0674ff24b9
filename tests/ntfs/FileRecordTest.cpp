// FILE records: every record of real mkntfs/ntfs-3g volumes, one field of a real record changed per
// row, the fix-up, metadata files, the volume label, attribute lists and extension records.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

#include "HandMadeRecords.h"
#include "NtfsTestVolume.h"
#include "ntfs/AttributeDefinitions.h"
#include "ntfs/FileRecord.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/VolumeLabelReader.h"
#include "storage/MemoryDevice.h"

using corvale::ntfs::ParseOutcome;
namespace attr = corvale::ntfs::attr;

namespace {

int64_t RecordOf(const NtfsManifest& m, const std::string& path) {
  for (const auto& [record, paths] : m.live)
    if (std::find(paths.begin(), paths.end(), path) != paths.end()) return record;
  return -1;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

NTFSMftPlacement PlacementOf(const NtfsTestVolume& v) {
  NTFSMftPlacement p;
  p.mftRuns = &v.mftRuns;
  p.partitionStart = 0;
  p.sectorSize = v.geometry.bytesPerSector;
  p.bytesPerCluster = v.geometry.bytesPerCluster;
  p.recordSize = v.geometry.fileRecordSize;
  return p;
}

// Every $FILE_NAME of a record and its extension records.
std::set<std::string> AllNames(const CNTFSFileRecord& record) {
  std::set<std::string> names;
  for (int i = 0;; ++i) {
    NTFSFoundAttribute found = record.FindAttribute(attr::kFileName, i);
    if (!found) break;
    CNTFSFileRecordFileNameAttribute name(found.attribute);
    if (name.IsUsable()) names.insert(name.GetFileName().NameUtf8());
  }
  return names;
}

}  // namespace

TEST(NtfsFileRecords, EveryRecordOfTheMftParsesAndTheInUseOnesAreWhatWasWritten) {
  for (const char* kind : {"c4096", "c512", "s4096"}) {
    CORVALE_NTFS_VOLUME(volume, kind);
    SCOPED_TRACE(kind);
    const NtfsManifest& m = volume->manifest;
    // mkntfs: system files 0-11, reserved 12-15 in use, $Extend's $Quota, $ObjId, $Reparse at 24-26.
    std::set<int64_t> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 24, 25, 26};
    for (const auto& entry : m.live) expected.insert(entry.first);
    std::set<int64_t> inUse;
    size_t extensions = 0;
    for (size_t n = 0; n < volume->records.size(); ++n) {
      const std::vector<uint8_t>& r = volume->records[n];
      corvale::ntfs::ParseResult result = CheckFileRecord(r.data(), r.size());
      ASSERT_TRUE(result.IsValid()) << "record " << n << ": " << result.describe();
      ASSERT_TRUE(IsValidNTFSFileRecord(r.data(), r.size()));
      if (!IsInUse(r.data(), r.size())) continue;
      EXPECT_EQ(GetOwnRecordNumber(r.data(), r.size()), int64_t(n));
      if (IsExtensionRecord(r.data(), r.size())) {
        ++extensions;
        // The only file with extension records is the one with 300 names.
        EXPECT_EQ(int64_t(GetBaseRecordReference(r.data(), r.size()) & 0xFFFFFFFFFFFF), m.hardLinked) << n;
      } else {
        inUse.insert(int64_t(n));
      }
    }
    EXPECT_EQ(inUse, expected);
    EXPECT_GT(extensions, 0u);
    for (const auto& [record, path] : m.deleted) {
      const std::vector<uint8_t>& r = volume->records.at(record);
      EXPECT_FALSE(IsInUse(r.data(), r.size())) << path;
      CNTFSFileRecordView view(r.data(), r.size());
      CNTFSFileRecordFileNameAttribute name(view.FindAttribute(attr::kFileName));
      ASSERT_TRUE(name.IsUsable()) << path;
      EXPECT_EQ(name.GetFileName().NameUtf8(), BaseName(path));
      EXPECT_EQ(view.IsDirectoryRecord(), path == "gone" || path == "gone/sub") << path;
    }
  }
}

TEST(NtfsFileRecords, NamesComeBackWholeIncludingUnicodeAndAllHardLinks) {
  for (const char* kind : {"c4096", "s4096"}) {
    CORVALE_NTFS_VOLUME(volume, kind);
    SCOPED_TRACE(kind);
    MemoryDevice device(volume->image, volume->geometry.bytesPerSector);
    NTFSMftPlacement placement = PlacementOf(*volume);
    for (const auto& [record, paths] : volume->manifest.live) {
      const std::vector<uint8_t>& r = volume->records.at(record);
      auto extensions = BuildAttributeListEntries(r.data(), r.size(), volume->RecordSector(record), record,
                                                  &device, placement);
      CNTFSFileRecord file(r.data(), r.size(), volume->RecordSector(record), &device, extensions.get(),
                           volume->RecordSize(), record);
      ASSERT_TRUE(file.IsValid()) << paths[0];
      std::set<std::string> names = AllNames(file);
      for (const std::string& path : paths) EXPECT_TRUE(names.count(BaseName(path))) << path;
      EXPECT_EQ(names.size(), paths.size()) << paths[0];
      if (record == volume->manifest.hardLinked) {
        ASSERT_TRUE(extensions);
        EXPECT_EQ(names.size(), 300u);
        for (const CNTFSAttributeListEntry& e : file.GetEntries())
          EXPECT_TRUE(e.IsLoaded()) << e.GetReference();
      }
    }
  }
}

// One field of a captured record changed per row.
enum class Captured { SmallFile, FragmentedFile, BigFolder };
constexpr int kAtRunString = -1;    // the field offset is the attribute's run-list offset
constexpr int kFillRunString = -2;  // the run string is overwritten to the attribute end with 0x01

struct RecordRow {
  const char* name;
  Captured record;
  uint32_t attributeType;  // 0: the offset counts from the record start
  int offset;
  std::vector<uint8_t> bytes;
  ParseOutcome outcome;
  bool isFileRecord;  // what IsValidNTFSFileRecord says
};

class NtfsFileRecordField : public ::testing::TestWithParam<RecordRow> {};

TEST_P(NtfsFileRecordField, OneFieldChanged) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  const RecordRow& row = GetParam();
  const NtfsManifest& m = volume->manifest;
  int64_t number = row.record == Captured::SmallFile        ? RecordOf(m, "small/file_00.txt")
                   : row.record == Captured::FragmentedFile ? m.fragmented.at(0)
                                                            : m.bigDirectory;
  std::vector<uint8_t> record = volume->records.at(number);
  size_t at = 0;
  if (row.attributeType != 0) {
    CNTFSFileRecordView view(record.data(), record.size());
    CNTFSFileRecordAttribute a = view.FindAttribute(row.attributeType);
    ASSERT_TRUE(a) << row.name;
    at = a.GetOffset();
    if (row.offset == kAtRunString || row.offset == kFillRunString) {
      ASSERT_TRUE(a.IsNonResident());
      size_t runs = at + a.GetRunListOffset();
      if (row.offset == kFillRunString) {
        std::fill(record.begin() + runs, record.begin() + at + a.GetLength(), 0x01);
      } else {
        std::copy(row.bytes.begin(), row.bytes.end(), record.begin() + runs);
      }
    }
  }
  if (row.offset >= 0) std::copy(row.bytes.begin(), row.bytes.end(), record.begin() + at + row.offset);

  corvale::ntfs::ParseResult result = CheckFileRecord(record.data(), record.size());
  EXPECT_EQ(result.outcome, row.outcome) << result.describe();
  EXPECT_EQ(IsValidNTFSFileRecord(record.data(), record.size()), row.isFileRecord);
  if (row.outcome == ParseOutcome::Damaged && row.isFileRecord) {
    // A torn record is still a record, but the view says it is not to be trusted.
    CNTFSFileRecordView view(record.data(), record.size());
    EXPECT_TRUE(view.IsValid());
    EXPECT_FALSE(view.IsFixupApplied());
    EXPECT_TRUE(view.GetParseResult().IsDamaged());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, NtfsFileRecordField,
    ::testing::Values(
        RecordRow{"Unchanged", Captured::SmallFile, 0, 0, {}, ParseOutcome::Valid, true},
        RecordRow{"MagicChanged",
                  Captured::SmallFile,
                  0,
                  0,
                  {'B', 'A', 'A', 'D'},
                  ParseOutcome::NotThisStructure,
                  false},
        RecordRow{"UsaOffset41", Captured::SmallFile, 0, 0x04, {41, 0}, ParseOutcome::Damaged, false},
        RecordRow{"UsaOffset257", Captured::SmallFile, 0, 0x04, {1, 1}, ParseOutcome::Damaged, false},
        RecordRow{"UsaCount17", Captured::SmallFile, 0, 0x06, {17, 0}, ParseOutcome::Damaged, false},
        RecordRow{"UsaCount0", Captured::SmallFile, 0, 0x06, {0, 0}, ParseOutcome::Damaged, false},
        RecordRow{
            "BytesAllocated1536", Captured::SmallFile, 0, 0x1C, {0, 6, 0, 0}, ParseOutcome::Damaged, false},
        RecordRow{"BytesAllocated8192",
                  Captured::SmallFile,
                  0,
                  0x1C,
                  {0, 0x20, 0, 0},
                  ParseOutcome::Damaged,
                  false},
        RecordRow{"FirstStrideTorn", Captured::SmallFile, 0, 510, {0x34, 0x12}, ParseOutcome::Damaged, true},
        RecordRow{
            "SecondStrideTorn", Captured::SmallFile, 0, 1022, {0x34, 0x12}, ParseOutcome::Damaged, true},
        RecordRow{"FirstAttributeAtRecordEnd",
                  Captured::SmallFile,
                  0,
                  0x14,
                  {0xF8, 0x03},
                  ParseOutcome::Valid,
                  true},
        RecordRow{"AttributeLengthPastRecordEnd",
                  Captured::SmallFile,
                  attr::kStandardInformation,
                  4,
                  {0, 0x10, 0, 0},
                  ParseOutcome::Damaged,
                  false},
        RecordRow{"AttributeLengthHuge",
                  Captured::SmallFile,
                  attr::kStandardInformation,
                  4,
                  {0xF0, 0xFF, 0xFF, 0xFF},
                  ParseOutcome::Damaged,
                  false},
        RecordRow{"AttributeLengthZeroEndsTheWalk",
                  Captured::SmallFile,
                  attr::kStandardInformation,
                  4,
                  {0, 0, 0, 0},
                  ParseOutcome::Valid,
                  true},
        RecordRow{"AttributeShorterThanItsHeader",
                  Captured::SmallFile,
                  attr::kStandardInformation,
                  4,
                  {0x10, 0, 0, 0},
                  ParseOutcome::Damaged,
                  false},
        RecordRow{"ResidentValuePastAttribute",
                  Captured::SmallFile,
                  attr::kData,
                  0x10,
                  {0xFF, 0, 0, 0},
                  ParseOutcome::Damaged,
                  false},
        RecordRow{"ResidentValueOffsetPastAttribute",
                  Captured::SmallFile,
                  attr::kData,
                  0x14,
                  {0xF0, 0},
                  ParseOutcome::Damaged,
                  false},
        RecordRow{"FileNameWithQuestionMark",
                  Captured::SmallFile,
                  attr::kFileName,
                  0x5A,
                  {'?', 0},
                  ParseOutcome::Damaged,
                  false},
        RecordRow{"FileNameWithColon",
                  Captured::SmallFile,
                  attr::kFileName,
                  0x5C,
                  {':', 0},
                  ParseOutcome::Damaged,
                  false},
        RecordRow{"FileNameLengthPastValue",
                  Captured::SmallFile,
                  attr::kFileName,
                  0x58,
                  {0xFF},
                  ParseOutcome::Damaged,
                  false},
        RecordRow{"FileNameNonResident",
                  Captured::SmallFile,
                  attr::kFileName,
                  0x08,
                  {1},
                  ParseOutcome::Damaged,
                  false},
        RecordRow{"DataRunWithFiveByteOffset",
                  Captured::FragmentedFile,
                  attr::kData,
                  kAtRunString,
                  {0x51},
                  ParseOutcome::Damaged,
                  false},
        RecordRow{"DataRunStringWithoutEnd",
                  Captured::FragmentedFile,
                  attr::kData,
                  kFillRunString,
                  {},
                  ParseOutcome::Damaged,
                  false},
        RecordRow{"DataShorterThanNonResidentHeader",
                  Captured::FragmentedFile,
                  attr::kData,
                  4,
                  {0x38, 0, 0, 0},
                  ParseOutcome::Damaged,
                  false},
        RecordRow{"DataRunListOffsetPastAttribute",
                  Captured::FragmentedFile,
                  attr::kData,
                  0x20,
                  {0xFF, 0x0F},
                  ParseOutcome::Damaged,
                  false},
        RecordRow{"IndexAllocationRunWithFiveByteOffsetIsNotChecked",
                  Captured::BigFolder,
                  attr::kIndexAllocation,
                  kAtRunString,
                  {0x51},
                  ParseOutcome::Valid,
                  true},
        RecordRow{"AttributeNamePastAttribute",
                  Captured::BigFolder,
                  attr::kIndexAllocation,
                  0x09,
                  {0xFF},
                  ParseOutcome::Damaged,
                  false}),
    [](const ::testing::TestParamInfo<RecordRow>& info) { return std::string(info.param.name); });

TEST(NtfsFileRecords, HeaderTestBoundaries) {
  handmade::Record maker(40);
  std::vector<uint8_t> base = maker.Finish();
  struct Row {
    size_t offset;
    uint32_t value;
    unsigned width;
    bool valid;
  } rows[] = {
      {0x04, 41, 2, false},   {0x04, 42, 2, true},   {0x04, 48, 2, true},  {0x04, 256, 2, true},
      {0x04, 257, 2, false},  {0x06, 16, 2, false},  {0x06, 17, 2, false}, {0x06, 0, 2, false},
      {0x1C, 1536, 4, false}, {0x1C, 4096, 4, true}, {0x1C, 0, 4, false},  // 0 allocated leaves no stride for
                                                                           // count 3
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> r = base;
    handmade::Put(r, row.offset, row.value, row.width);
    EXPECT_EQ(IsFileRecordHeaderValid(r.data(), r.size()), row.valid)
        << std::hex << row.offset << " " << row.value;
  }
  EXPECT_FALSE(IsFileRecordHeaderValid(base.data(), 0x20));
  EXPECT_FALSE(IsValidNTFSFileRecord(base.data(), 1000));
  EXPECT_FALSE(IsValidNTFSFileRecord(nullptr, 1024));
}

TEST(NtfsFileRecords, FixupAppliedAndRestoredGivesTheBytesBack) {
  CORVALE_NTFS_VOLUME(volume, "s4096");
  for (int64_t number : {int64_t(0), volume->manifest.bigDirectory, volume->manifest.hardLinked}) {
    std::vector<uint8_t> record = volume->records.at(number);
    const std::vector<uint8_t> original = record;
    ASSERT_TRUE(VerifyFileRecordFixup(record.data(), record.size()));
    ASSERT_TRUE(ApplyFileRecordFixup(record.data(), record.size()));
    EXPECT_NE(record, original);
    // A 4096-byte record has its eight strides fixed up, not only the first two.
    EXPECT_FALSE(VerifyFileRecordFixup(record.data(), record.size()));
    ASSERT_TRUE(RestoreFileRecordFixup(record.data(), record.size()));
    EXPECT_EQ(record, original);
  }
}

TEST(NtfsFileRecords, ViewOverTheCallersBufferPutsTheStrideEndsBack) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  std::vector<uint8_t> record = volume->records.at(volume->manifest.hardLinked);
  const std::vector<uint8_t> original = record;
  {
    CNTFSFileRecordView view(record.data(), record.size(), false);
    ASSERT_TRUE(view.IsValid());
    EXPECT_TRUE(view.IsFixupApplied());
    EXPECT_EQ(view.GetBuffer(), record.data());
    EXPECT_FALSE(VerifyFileRecordFixup(record.data(), record.size()));
    EXPECT_NE(view.describe().find("type 0x20"), std::string::npos);
  }
  EXPECT_EQ(record, original);
  CNTFSFileRecordView copy(record.data(), record.size(), true);
  EXPECT_NE(copy.GetBuffer(), record.data());
  EXPECT_EQ(record, original);
}

TEST(NtfsFileRecords, MetadataFilesAreKnownByNameAndFlags) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  for (const NTFSMetadataFile& file : kNTFSMetadataFiles) {
    int64_t at =
        file.recordNumber >= 32 ? file.recordNumber - 8 : file.recordNumber;  // $Extend files at 24-26
    const std::vector<uint8_t>& r = volume->records.at(at);
    CNTFSFileRecordView view(r.data(), r.size());
    EXPECT_EQ(GetMetadataFileNumber(view), file.recordNumber) << file.name;
    EXPECT_TRUE(IsMetadataFileRecord(view)) << file.name;
    EXPECT_TRUE(IsNamedMetadataFileRecord(r.data(), r.size(), file.name)) << file.name;
  }
  auto record = [&](int64_t n) { return volume->records.at(n).data(); };
  size_t size = volume->RecordSize();
  EXPECT_TRUE(IsMFTFileRecord(record(0), size));
  EXPECT_TRUE(IsMFTMirrFileRecord(record(1), size));
  EXPECT_TRUE(IsLogFileFileRecord(record(2), size));
  EXPECT_TRUE(IsVolumeFileRecord(record(3), size));
  EXPECT_TRUE(IsAttrDefFileRecord(record(4), size));
  EXPECT_TRUE(IsBitmapFileRecord(record(6), size));
  EXPECT_TRUE(IsUpCaseFileRecord(record(10), size));
  EXPECT_FALSE(IsMFTFileRecord(record(1), size));
  // A user's file of the same name is no metadata file: it lacks hidden and system.
  int64_t user = RecordOf(volume->manifest, "small/file_00.txt");
  CNTFSFileRecordView view(record(user), size);
  EXPECT_EQ(GetMetadataFileNumber(view), -1);
  EXPECT_FALSE(IsMetadataFileRecord(view));
  // Extension records have no number of their own in the table.
  for (size_t n = 27; n < volume->records.size(); ++n) {
    const std::vector<uint8_t>& r = volume->records[n];
    if (!IsInUse(r.data(), r.size()) || !IsExtensionRecord(r.data(), r.size())) continue;
    CNTFSFileRecordView extension(r.data(), r.size());
    EXPECT_EQ(GetMetadataFileNumber(extension), -1);
    break;
  }
}

TEST(NtfsFileRecords, DirectoriesWithIndexAllocation) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  auto has = [&](int64_t n) {
    const std::vector<uint8_t>& r = volume->records.at(n);
    CNTFSFileRecordView view(r.data(), r.size());
    return view.HasNonResidentIndexAllocation();
  };
  EXPECT_TRUE(has(volume->manifest.bigDirectory));
  EXPECT_FALSE(has(RecordOf(volume->manifest, "frag")));  // a small folder's index fits its record
  EXPECT_FALSE(has(RecordOf(volume->manifest, "small/file_00.txt")));
}

TEST(NtfsFileRecords, VolumeLabelFromRecordThreeAndThroughTheDevice) {
  for (const char* kind : {"c4096", "c512", "s4096"}) {
    CORVALE_NTFS_VOLUME(volume, kind);
    SCOPED_TRACE(kind);
    char label[kNTFSVolumeNameBytes] = {};
    size_t written = 0;
    const std::vector<uint8_t>& r = volume->records.at(3);
    ASSERT_TRUE(GetNTFSVolumeName(r.data(), r.size(), label, &written));
    EXPECT_EQ(std::string(label, written), volume->manifest.label);
    // Another record holds no label.
    EXPECT_FALSE(GetNTFSVolumeName(volume->records.at(2).data(), r.size(), label, &written));

    // Through a device of the volume's sector size, and of 4096-byte sectors, where a 1024-byte
    // record 3 lies inside the sector of record 0.
    for (int32_t sectorSize : {int32_t(volume->geometry.bytesPerSector), 4096}) {
      MemoryDevice device(volume->image, sectorSize);
      char read[kNTFSVolumeNameBytes] = {};
      size_t n = 0;
      CNTFSVolumeLabelReader reader(&device);
      ASSERT_TRUE(reader.ReadVolumeLabel(0, volume->bootSector, read, &n)) << sectorSize;
      EXPECT_EQ(std::string(read, n), volume->manifest.label) << sectorSize;
    }
  }
}

TEST(NtfsFileRecords, VolumeLabelIsCutAtACharacterBoundary) {
  // 40 three-byte characters are 120 bytes of UTF-8: 26 whole ones fit in 80 bytes.
  std::vector<uint8_t> name;
  for (int i = 0; i < 40; ++i) {
    name.push_back(0xE5);  // U+65E5
    name.push_back(0x65);
  }
  handmade::Record maker(3);
  maker.AddResident(attr::kStandardInformation, handmade::StandardInformationValue(0x06));
  maker.AddResident(attr::kFileName, handmade::FileNameValue(5, "$Volume"));
  maker.AddResident(attr::kVolumeName, name);
  std::vector<uint8_t> record = maker.Finish();
  char label[kNTFSVolumeNameBytes + 8];
  std::memset(label, '#', sizeof label);
  size_t written = 0;
  ASSERT_TRUE(GetNTFSVolumeName(record.data(), record.size(), label, &written));
  EXPECT_EQ(written, 78u);
  EXPECT_EQ(label[78], '#');
  EXPECT_EQ(std::string(label, 3), "\xE6\x97\xA5");
}

TEST(NtfsFileRecords, AttributeDefinitionTableIsWhatMkntfsWrites) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  const std::vector<uint8_t>& r = volume->records.at(4);
  CNTFSFileRecordView view(r.data(), r.size());
  CNTFSFileRecordDataRunsAttribute data(view.FindAttribute(attr::kData));
  ASSERT_TRUE(data.HasRuns());
  std::vector<uint8_t> table = BuildAttributeDefinitionTable();
  ASSERT_EQ(data.GetDataSize(), int64_t(table.size()));
  EXPECT_EQ(volume->ReadRuns(data.GetRunList(), 0, table.size()), table);
}

TEST(NtfsFileRecords, MftRecordToSectorFollowsTheMftRuns) {
  for (const char* kind : {"c4096", "c512", "s4096"}) {
    CORVALE_NTFS_VOLUME(volume, kind);
    NTFSMftPlacement placement = PlacementOf(*volume);
    placement.partitionStart = 100;
    for (uint64_t n : {uint64_t(0), uint64_t(3), uint64_t(1000 % volume->records.size()),
                       uint64_t(volume->records.size() - 1)}) {
      EXPECT_EQ(MftRecordToSector(n, placement), volume->RecordSector(n) + 100) << kind << " " << n;
    }
    // Past the $MFT's data nothing is mapped.
    EXPECT_EQ(MftRecordToSector(uint64_t(1) << 40, placement), -1);
    EXPECT_EQ(MftRecordToSector(uint64_t(1) << 60, placement), -1);
    placement.bytesPerCluster = 0;
    EXPECT_EQ(MftRecordToSector(3, placement), -1);
  }
  // 1024-byte records on 4096-byte device sectors: four records to a sector.
  CORVALE_NTFS_VOLUME(volume, "c4096");
  NTFSMftPlacement placement = PlacementOf(*volume);
  placement.sectorSize = 4096;
  uint32_t inSector = 99;
  int64_t sector = MftRecordToSector(3, placement, &inSector);
  EXPECT_EQ(sector, int64_t(volume->geometry.mftByteOffset / 4096));
  EXPECT_EQ(inSector, 3072u);
}

TEST(NtfsFileRecords, CopyOfTheHeaderEndsAtTheFirstAttribute) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  const std::vector<uint8_t>& r = volume->records.at(0);
  CNTFSFileRecordHeader header;
  ASSERT_TRUE(header.CopyFileRecordHeader(r.data(), r.size()));
  EXPECT_EQ(header.GetLength(), size_t(r[0x14] | (r[0x15] << 8)));
  EXPECT_EQ(std::memcmp(header.GetBytes(), r.data(), header.GetLength()), 0);
  std::vector<uint8_t> broken = r;
  broken[0x14] = 0xFF;
  broken[0x15] = 0xFF;
  EXPECT_FALSE(header.CopyFileRecordHeader(broken.data(), broken.size()));
  EXPECT_EQ(header.GetBytes(), nullptr);
}

// Attribute lists and extension records made by hand: records of 1024 bytes at MFT byte offset
// record x 1024 of a device whose $MFT is one run from cluster 0.
class NtfsAttributeLists : public ::testing::Test {
 protected:
  void SetUp() override {
    m_image.assign(64 * 1024, 0);
    m_runs.Append({0, 0, 16});
    m_placement.mftRuns = &m_runs;
    m_placement.sectorSize = 512;
    m_placement.bytesPerCluster = 4096;
    m_placement.recordSize = 1024;
  }
  void Place(uint32_t number, const std::vector<uint8_t>& record) {
    std::copy(record.begin(), record.end(), m_image.begin() + number * 1024);
  }
  std::vector<uint8_t> m_image;
  CNTFSRunList m_runs;
  NTFSMftPlacement m_placement;
};

TEST_F(NtfsAttributeLists, TwoRecordsNamingEachOtherAreEachLoadedOnce) {
  handmade::Record base(30);
  base.AddResident(attr::kStandardInformation, handmade::StandardInformationValue(0));
  base.AddResident(attr::kAttributeList,
                   handmade::AttributeListValue({{0x10, 30}, {0x30, 31}, {0x30, 31}, {0x80, 30}}));
  std::vector<uint8_t> a = base.Finish();
  handmade::Record extension(31, uint64_t(30) | (uint64_t(1) << 48));
  extension.AddResident(attr::kFileName, handmade::FileNameValue(5, "looped.txt"));
  extension.AddResident(attr::kAttributeList, handmade::AttributeListValue({{0x30, 30}, {0x30, 31}}));
  std::vector<uint8_t> b = extension.Finish();
  Place(30, a);
  Place(31, b);
  MemoryDevice device(m_image, 512);

  auto list = BuildAttributeListEntries(a.data(), a.size(), 60, -1, &device, m_placement);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 1u);
  EXPECT_EQ((*list)[0].sector, 62);
  EXPECT_EQ((*list)[0].reference, 31u);
  CNTFSFileRecord file(a.data(), a.size(), 60, &device, list.get());
  ASSERT_EQ(file.GetEntries().size(), 1u);
  EXPECT_TRUE(file.GetEntries()[0].IsLoaded());
  NTFSFoundAttribute name = file.FindAttribute(attr::kFileName, 0);
  ASSERT_TRUE(name);
  EXPECT_EQ(name.recordSector, 62);
  EXPECT_FALSE(file.FindAttribute(attr::kFileName, 1));
  // The extension's own list is just an attribute: it is counted, never followed.
  EXPECT_TRUE(file.FindAttribute(attr::kAttributeList, 1));
  EXPECT_EQ(device.ReadCount(), 1u);

  // Taken the other way round, the extension names the base, which is no extension record.
  auto back = BuildAttributeListEntries(b.data(), b.size(), 62, -1, &device, m_placement);
  ASSERT_TRUE(back);
  CNTFSFileRecord reversed(b.data(), b.size(), 62, &device, back.get());
  ASSERT_EQ(reversed.GetEntries().size(), 1u);
  EXPECT_FALSE(reversed.GetEntries()[0].IsLoaded());
}

TEST_F(NtfsAttributeLists, ExtensionRecordOfAnotherFileIsNotMixedIn) {
  handmade::Record base(30);
  base.AddResident(attr::kAttributeList, handmade::AttributeListValue({{0x30, 32}, {0x80, 33}, {0x80, 34}}));
  std::vector<uint8_t> a = base.Finish();
  // 32 belongs to file 40 now: its slot was reused after this file was deleted.
  handmade::Record other(32, uint64_t(40) | (uint64_t(1) << 48));
  other.AddResident(attr::kFileName, handmade::FileNameValue(5, "someone-else.txt"));
  Place(32, other.Finish());
  // 33 is a base record of its own; 34 was never written.
  handmade::Record unrelated(33);
  unrelated.AddResident(attr::kFileName, handmade::FileNameValue(5, "unrelated.txt"));
  Place(33, unrelated.Finish());
  Place(30, a);
  MemoryDevice device(m_image, 512);
  auto list = BuildAttributeListEntries(a.data(), a.size(), 60, 30, &device, m_placement);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->size(), 3u);
  CNTFSFileRecord file(a.data(), a.size(), 60, &device, list.get());
  for (const CNTFSAttributeListEntry& e : file.GetEntries()) EXPECT_FALSE(e.IsLoaded()) << e.GetReference();
  EXPECT_FALSE(file.FindAttribute(attr::kFileName));
}

TEST_F(NtfsAttributeLists, NonResidentListIsReadThroughItsRunsAndBoundedInSize) {
  // The list's two clusters: a hole first (zeros), then cluster 12 holding the entries.
  std::vector<uint8_t> entries = handmade::AttributeListValue({{0x30, 31}, {0x80, 36}});
  std::copy(entries.begin(), entries.end(), m_image.begin() + 12 * 4096);
  handmade::Record base(30);
  std::vector<uint8_t> runs = {0x01, 0x01, 0x11, 0x01, 0x0C, 0x00};
  base.AddNonResident(attr::kAttributeList, 8192, 4096 + entries.size(), 4096 + entries.size(), runs, 1);
  std::vector<uint8_t> a = base.Finish();
  MemoryDevice device(m_image, 512);
  std::vector<uint64_t> refs;
  // The walk starts in the hole: a zero type ends it before the real entries.
  EXPECT_FALSE(GetAttributeListReferences(a.data(), a.size(), &device, m_placement, refs));

  handmade::Record direct(30);
  direct.AddNonResident(attr::kAttributeList, 4096, entries.size(), entries.size(), {0x11, 0x01, 0x0C, 0x00});
  std::vector<uint8_t> b = direct.Finish();
  ASSERT_TRUE(GetAttributeListReferences(b.data(), b.size(), &device, m_placement, refs));
  EXPECT_EQ(refs, (std::vector<uint64_t>{31, 36}));

  // A list claiming a gigabyte is damage: nothing is read or allocated for it.
  handmade::Record huge(30);
  huge.AddNonResident(attr::kAttributeList, int64_t(1) << 30, int64_t(1) << 30, int64_t(1) << 30,
                      {0x11, 0x01, 0x0C, 0x00});
  std::vector<uint8_t> c = huge.Finish();
  uint64_t readsBefore = device.ReadCount();
  EXPECT_FALSE(GetAttributeListReferences(c.data(), c.size(), &device, m_placement, refs));
  EXPECT_EQ(device.ReadCount(), readsBefore);
  EXPECT_FALSE(BuildAttributeListEntries(c.data(), c.size(), 60, 30, &device, m_placement));

  // An initialized size above the allocated size, or of 0, is refused too.
  handmade::Record inverted(30);
  inverted.AddNonResident(attr::kAttributeList, 4096, 4096, 8192, {0x11, 0x01, 0x0C, 0x00});
  std::vector<uint8_t> d = inverted.Finish();
  EXPECT_FALSE(GetAttributeListReferences(d.data(), d.size(), &device, m_placement, refs));
}

TEST_F(NtfsAttributeLists, EntryTooShortForItsReferenceEndsTheWalk) {
  std::vector<uint8_t> value = handmade::AttributeListValue({{0x30, 31}, {0x30, 32}});
  handmade::Put(value, 0x20 + 4, 0x10, 2);  // the second entry claims 16 bytes
  handmade::Record base(30);
  base.AddResident(attr::kAttributeList, value);
  std::vector<uint8_t> a = base.Finish();
  std::vector<uint64_t> refs;
  ASSERT_TRUE(GetAttributeListReferences(a.data(), a.size(), nullptr, m_placement, refs));
  EXPECT_EQ(refs, (std::vector<uint64_t>{31}));
}
