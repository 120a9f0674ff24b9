// What the scan keeps of the FILE records it sees: MFT locations, records with data runs, folders
// with index allocations and data sizes, read from the records of real volumes, and from
// hand-made records for what no tool writes; the holders that look them up; the saved form of an
// MFT location with cut and forged bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "HandMadeRecords.h"
#include "NtfsTestVolume.h"
#include "core/MemoryStateStream.h"
#include "core/StateIo.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/IndexBuffer.h"
#include "ntfs/NTFSMFTLocation.h"
#include "ntfs/NTFSScanEvidence.h"

namespace attr = corvale::ntfs::attr;

namespace {

constexpr const char* kKinds[] = {"c4096", "c512", "s4096"};

int64_t RecordOf(const NtfsManifest& m, const std::string& path) {
  for (const auto& [record, paths] : m.live)
    if (std::find(paths.begin(), paths.end(), path) != paths.end()) return record;
  return -1;
}

// The runs of the record's first $DATA, decoded by the format layer.
CNTFSRunList DataRunsOf(const std::vector<uint8_t>& record) {
  CNTFSFileRecordView view(record.data(), record.size());
  CNTFSFileRecordDataRunsAttribute data(view.FindAttribute(attr::kData));
  return data.GetRunList();
}

// The last two bytes of the record's first stride: on disk they hold the update sequence number.
std::vector<uint8_t> Torn(std::vector<uint8_t> record) {
  record[510] ^= 0x5A;
  return record;
}

// An $INDEX_ROOT value over $FILE_NAME entries naming `parents` (record numbers), then the last
// entry.
std::vector<uint8_t> IndexRootValue(const std::vector<uint64_t>& parents) {
  std::vector<uint8_t> entries;
  for (size_t i = 0; i < parents.size(); ++i) {
    std::vector<uint8_t> key =
        handmade::FileNameValue(parents[i] | (uint64_t{3} << 48), "entry" + std::to_string(i), 4096, 100);
    std::vector<uint8_t> e((0x10 + key.size() + 7) / 8 * 8, 0);
    handmade::Put(e, 0x00, 64 + i, 8);
    handmade::Put(e, 0x08, e.size(), 2);
    handmade::Put(e, 0x0A, key.size(), 2);
    std::copy(key.begin(), key.end(), e.begin() + 0x10);
    entries.insert(entries.end(), e.begin(), e.end());
  }
  std::vector<uint8_t> last(0x10, 0);
  handmade::Put(last, 0x08, 0x10, 2);
  handmade::Put(last, 0x0C, 0x02, 2);
  entries.insert(entries.end(), last.begin(), last.end());

  std::vector<uint8_t> value(0x20, 0);
  handmade::Put(value, 0x00, attr::kFileName, 4);
  handmade::Put(value, 0x04, 1, 4);
  handmade::Put(value, 0x08, 4096, 4);
  value[0x0C] = 1;
  handmade::Put(value, 0x10, 0x10, 4);
  handmade::Put(value, 0x14, 0x10 + entries.size(), 4);
  handmade::Put(value, 0x18, 0x10 + entries.size(), 4);
  value.insert(value.end(), entries.begin(), entries.end());
  return value;
}

// Moves a finished record to the older 42-byte header layout, which stores no own record number.
std::vector<uint8_t> OldLayout(std::vector<uint8_t> record) {
  EXPECT_TRUE(ApplyFileRecordFixup(record.data(), record.size()));
  handmade::Put(record, 0x04, 42, 2);
  handmade::Put(record, 42, 0x0202, 2);
  handmade::Put(record, 0x2C, 0, 4);
  EXPECT_TRUE(RestoreFileRecordFixup(record.data(), record.size()));
  return record;
}

// A file record with an unnamed non-resident $DATA over `runs`.
std::vector<uint8_t> DataRecord(uint32_t number, const std::vector<uint8_t>& runs, int64_t clusters,
                                int64_t dataSize, int64_t highestVcn) {
  handmade::Record r(number);
  r.AddResident(attr::kStandardInformation, handmade::StandardInformationValue(0x20));
  r.AddResident(attr::kFileName, handmade::FileNameValue(5, "file.bin", clusters * 4096, dataSize));
  r.AddNonResident(attr::kData, clusters * 4096, dataSize, dataSize, runs, highestVcn);
  return r.Finish();
}

template <typename T>
T LoadFrom(const std::vector<uint8_t>& bytes, int32_t* code, bool* loaded) {
  MemoryStateStream s;
  s.Section(TestSection(1)) = bytes;
  s.StartReading();
  s.BeginSection(TestSection(1));
  T object;
  *code = 0;
  *loaded = false;
  try {
    object.Load(s);
    *loaded = true;
  } catch (const IRSException& e) {
    *code = e.GetCode();
  }
  return object;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// MFT locations

TEST(NtfsMftLocation, RecordZeroOfRealVolumesPlacesTheirMft) {
  for (const char* kind : kKinds) {
    CORVALE_NTFS_VOLUME(volume, kind);
    const NTFSVolumeGeometry& g = volume->geometry;
    const std::vector<uint8_t>& record = volume->records.at(0);
    const int64_t sector = volume->RecordSector(0);
    CNTFSFileRecordView view(record.data(), record.size());
    auto location = CreateNTFSMFTLocation(view, sector, g.bytesPerSector);
    ASSERT_NE(location, nullptr) << kind;
    EXPECT_EQ(location->GetSector(), sector) << kind;
    EXPECT_EQ(location->GetSectorsPerCluster(), g.sectorsPerCluster) << kind;
    EXPECT_EQ(location->GetSectorsPerRecord(), 2) << kind;  // set by whoever knows the record size
    EXPECT_EQ(location->GetFirstLcn(), static_cast<int64_t>(g.mftCluster)) << kind;
    EXPECT_TRUE(location->GetRunList().IsEqual(volume->mftRuns)) << kind;
    // What the directory build asks of a location before it reads through it.
    EXPECT_TRUE(
        IsMFTAtPartitionStart(location->GetSector(), location->GetFirstLcn(), 0, g.sectorsPerCluster));

    // The buffer form takes the record as it lies on the disk.
    CNTFSMFTLocation fromBuffer;
    EXPECT_TRUE(fromBuffer.ReadFromRecord(record.data(), record.size(), sector, g.bytesPerSector)) << kind;
    EXPECT_TRUE(fromBuffer.GetRunList().IsEqual(volume->mftRuns)) << kind;
  }
}

TEST(NtfsMftLocation, RecordsThatCannotPlaceAnMftAreRefused) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  const std::vector<uint8_t> mft = volume->records.at(0);
  std::vector<uint8_t> notARecord = mft;
  notARecord[0] = 'X';
  const struct {
    const char* name;
    std::vector<uint8_t> record;
  } cases[] = {
      {"torn stride", Torn(mft)},
      {"no FILE magic", notARecord},
      {"resident data", volume->records.at(RecordOf(volume->manifest, "small/file_00.txt"))},
      {"too short", std::vector<uint8_t>(mft.begin(), mft.begin() + 512)},
  };
  for (const auto& c : cases) {
    CNTFSMFTLocation location;
    EXPECT_FALSE(location.ReadFromRecord(c.record.data(), c.record.size(), 64, 512)) << c.name;
    EXPECT_EQ(location.GetSector(), -1) << c.name;
    EXPECT_TRUE(location.GetRunList().IsEmpty()) << c.name;
    EXPECT_EQ(location.GetSectorsPerCluster(), 0) << c.name;
  }
}

// An MFT whose first cluster is a hole reads (its runs and cluster size are sound) but places
// nothing: record 0 would be nowhere.
TEST(NtfsMftLocation, FirstClusterMustBeMapped) {
  const std::vector<uint8_t> hole = DataRecord(0, {0x01, 0x04, 0x11, 0x04, 0x20, 0x00}, 8, 8 * 4096, 7);
  const std::vector<uint8_t> mapped = DataRecord(0, {0x11, 0x08, 0x20, 0x00}, 8, 8 * 4096, 7);

  CNTFSMFTLocation location;
  ASSERT_TRUE(location.ReadFromRecord(hole.data(), hole.size(), 100, 512));
  EXPECT_EQ(location.GetSectorsPerCluster(), 8);
  EXPECT_EQ(location.GetFirstLcn(), -1);
  EXPECT_EQ(CreateNTFSMFTLocation(CNTFSFileRecordView(hole.data(), hole.size()), 100, 512), nullptr);

  auto made = CreateNTFSMFTLocation(CNTFSFileRecordView(mapped.data(), mapped.size()), 100, 512);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetFirstLcn(), 0x20);
  // The device's sector size is the record's, not a process-wide one.
  made = CreateNTFSMFTLocation(CNTFSFileRecordView(mapped.data(), mapped.size()), 100, 4096);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetSectorsPerCluster(), 1);
}

TEST(NtfsMftLocation, SavedFormIsSectorGeometryAndRunList) {
  CNTFSMFTLocation location;
  location.SetSector(0x123456789A);
  location.SetSectorsPerRecord(2);
  location.SetSectorsPerCluster(8);
  location.GetRunList().Append({0x40, 0, 3});
  location.GetRunList().Append({-1, 3, 2});
  MemoryStateStream s;
  s.BeginSection(TestSection(1));
  location.Save(s);
  std::vector<uint8_t> expected(10 + 8 + 2 * 24, 0);
  handmade::Put(expected, 0, 0x123456789A, 8);
  expected[8] = 2;
  expected[9] = 8;
  handmade::Put(expected, 10, 2, 8);
  handmade::Put(expected, 18, 0x40, 8);  // start, length, first virtual cluster
  handmade::Put(expected, 26, 3, 8);
  handmade::Put(expected, 34, 0, 8);
  handmade::Put(expected, 42, ~uint64_t{0}, 8);
  handmade::Put(expected, 50, 2, 8);
  handmade::Put(expected, 58, 3, 8);
  EXPECT_EQ(s.Section(TestSection(1)), expected);

  int32_t code;
  bool loaded;
  CNTFSMFTLocation back = LoadFrom<CNTFSMFTLocation>(expected, &code, &loaded);
  ASSERT_TRUE(loaded) << code;
  EXPECT_EQ(back.GetSector(), location.GetSector());
  EXPECT_EQ(back.GetSectorsPerRecord(), 2);
  EXPECT_EQ(back.GetSectorsPerCluster(), 8);
  EXPECT_TRUE(back.GetRunList().IsEqual(location.GetRunList()));
}

TEST(NtfsMftLocation, ForgedAndCutSavedFormsEndInTheStreamException) {
  CNTFSMFTLocation location;
  location.SetSector(2080);
  location.SetSectorsPerCluster(8);
  location.GetRunList().Append({4, 0, 64});
  location.GetRunList().Append({900, 64, 16});
  MemoryStateStream s;
  s.BeginSection(TestSection(1));
  location.Save(s);
  const std::vector<uint8_t> good = s.Section(TestSection(1));

  constexpr size_t kRun0 = 18, kRun1 = 42;
  const struct {
    const char* name;
    size_t offset;
    std::vector<uint8_t> bytes;
    int32_t code;  // 0: loads
  } cases[] = {
      {"sector not known", 0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0},
      {"sector -2", 0, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, RS_ERROR_BAD_DATA},
      {"sectors per record 0", 8, {0}, RS_ERROR_BAD_DATA},
      {"sectors per record 3", 8, {3}, RS_ERROR_BAD_DATA},
      {"sectors per record 8", 8, {8}, 0},
      {"sectors per cluster not known", 9, {0}, 0},
      {"sectors per cluster 3", 9, {3}, RS_ERROR_BAD_DATA},
      {"sectors per cluster 255", 9, {255}, RS_ERROR_BAD_DATA},
      {"run count beyond the stream", 10, {3}, RS_ERROR_SHORT_READ},
      {"run count 2^64 - 1", 10, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, RS_ERROR_SHORT_READ},
      {"run start -2", kRun0, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, RS_ERROR_BAD_DATA},
      {"run length negative", kRun0 + 8, {0, 0, 0, 0, 0, 0, 0, 0x80}, RS_ERROR_BAD_DATA},
      {"run first VCN negative", kRun1 + 16, {0, 0, 0, 0, 0, 0, 0, 0xF0}, RS_ERROR_BAD_DATA},
      {"run end past 2^63", kRun1 + 16, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, RS_ERROR_BAD_DATA},
      {"run clusters past 2^63", kRun1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, RS_ERROR_BAD_DATA},
      {"hole", kRun1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = good;
    std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + c.offset);
    int32_t code;
    bool loaded;
    CNTFSMFTLocation back = LoadFrom<CNTFSMFTLocation>(bytes, &code, &loaded);
    EXPECT_EQ(code, c.code) << c.name;
    EXPECT_EQ(loaded, c.code == 0) << c.name;
    if (!loaded) {
      EXPECT_EQ(back.GetSector(), -1) << c.name;
      EXPECT_TRUE(back.GetRunList().IsEmpty()) << c.name;
    }
  }
  for (size_t cut = 0; cut < good.size(); ++cut) {
    int32_t code;
    bool loaded;
    LoadFrom<CNTFSMFTLocation>(std::vector<uint8_t>(good.begin(), good.begin() + cut), &code, &loaded);
    EXPECT_FALSE(loaded) << cut;
    EXPECT_EQ(code, RS_ERROR_SHORT_READ) << cut;
  }
}

// A list is taken whole or not at all; a forged count costs no more than the bytes present.
TEST(NtfsMftLocation, ListLoadsWholeOrNotAtAll) {
  std::vector<std::unique_ptr<CNTFSMFTLocation>> list;
  for (int i = 0; i < 4; ++i) {
    list.push_back(std::make_unique<CNTFSMFTLocation>());
    list.back()->SetSector(i * 1000);
    list.back()->GetRunList().Append({10 * i, 0, 8});
  }
  MemoryStateStream s;
  s.BeginSection(TestSection(1));
  SaveNTFSMFTLocations(s, list);
  const std::vector<uint8_t> good = s.Section(TestSection(1));

  for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::vector<uint8_t>>>{
           {"count 2^64 - 1",
            [&] {
              std::vector<uint8_t> b = good;
              handmade::Put(b, 0, ~uint64_t{0}, 8);
              return b;
            }()},
           {"last location cut", std::vector<uint8_t>(good.begin(), good.end() - 1)}}) {
    MemoryStateStream in;
    in.Section(TestSection(1)) = bytes;
    in.StartReading();
    in.BeginSection(TestSection(1));
    std::vector<std::unique_ptr<CNTFSMFTLocation>> out;
    out.push_back(std::make_unique<CNTFSMFTLocation>());
    try {
      LoadNTFSMFTLocations(in, out);
      ADD_FAILURE() << name << ": loaded";
    } catch (const CRSException& e) {
      EXPECT_EQ(e.GetCode(), RS_ERROR_SHORT_READ) << name;
    }
    EXPECT_EQ(out.size(), 1u) << name;
  }

  MemoryStateStream in;
  in.Section(TestSection(1)) = good;
  in.StartReading();
  in.BeginSection(TestSection(1));
  std::vector<std::unique_ptr<CNTFSMFTLocation>> out;
  LoadNTFSMFTLocations(in, out);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[3]->GetSector(), 3000);
  EXPECT_EQ(out[3]->GetFirstLcn(), 30);
}

TEST(NtfsMftLocation, SoundRunLists) {
  const struct {
    const char* name;
    NTFSRun run;
    bool sound;
  } cases[] = {
      {"plain", {100, 0, 8}, true},
      {"hole", {-1, 8, 8}, true},
      {"empty run", {100, 0, 0}, true},
      {"start below -1", {-2, 0, 8}, false},
      {"negative length", {100, 0, -1}, false},
      {"negative VCN", {100, -8, 8}, false},
      {"VCN end past 2^63", {100, std::numeric_limits<int64_t>::max() - 3, 8}, false},
      {"cluster end past 2^63", {std::numeric_limits<int64_t>::max() - 3, 0, 8}, false},
  };
  for (const auto& c : cases) {
    CNTFSRunList runs;
    runs.Append({5, 100, 1});
    runs.Append(c.run);
    EXPECT_EQ(IsSoundNTFSRunList(runs), c.sound) << c.name;
  }
}

// ---------------------------------------------------------------------------------------------
// Records with data runs, and data sizes

TEST(NtfsFoundFileRecord, FragmentedFilesOfRealVolumesGiveTheirRunsAndClusterSize) {
  for (const char* kind : kKinds) {
    CORVALE_NTFS_VOLUME(volume, kind);
    const NTFSVolumeGeometry& g = volume->geometry;
    ASSERT_EQ(volume->manifest.fragmented.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
      const int64_t number = volume->manifest.fragmented[i];
      const std::vector<uint8_t>& r = volume->records.at(number);
      const int64_t sector = volume->RecordSector(number);
      CNTFSFileRecordView view(r.data(), r.size());
      auto found = CreateNTFSFoundFileRecord(view, sector, g.bytesPerSector);
      ASSERT_NE(found, nullptr) << kind << " " << number;
      EXPECT_EQ(found->GetSector(), sector);
      EXPECT_EQ(found->GetLogSequenceNumber(), view.GetLogSequenceNumber());
      EXPECT_EQ(found->GetSectorsPerCluster(), g.sectorsPerCluster) << kind;
      EXPECT_TRUE(found->GetRunList().IsEqual(DataRunsOf(r))) << kind << " " << number;
      // frag/a.bin begins with 'a' and so on: the first cluster is where the file's data lies.
      const uint64_t at = static_cast<uint64_t>(found->GetFirstLcn()) * g.bytesPerCluster;
      ASSERT_LT(at, volume->image.size());
      EXPECT_EQ(volume->image[at], static_cast<uint8_t>('a' + i)) << kind << " " << number;

      CNTFSRecordDataSize size;
      ASSERT_TRUE(size.ReadFromRecord(view, sector)) << kind << " " << number;
      EXPECT_EQ(size.GetSector(), sector);
      EXPECT_EQ(size.GetDataSize(), 24 * 8192 + 8 * 12288);
    }
    // A sparse file's holes count toward its run totals.
    const std::vector<uint8_t>& sparse = volume->records.at(volume->manifest.sparse);
    CNTFSRecordDataSize size;
    ASSERT_TRUE(size.ReadFromRecord(sparse.data(), sparse.size(), 77)) << kind;
    EXPECT_EQ(size.GetDataSize(), 8 << 20);
  }
}

TEST(NtfsFoundFileRecord, RecordsWithoutUsableRunsAreRefused) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  const std::vector<uint8_t> fragmented = volume->records.at(volume->manifest.fragmented[0]);
  const struct {
    const char* name;
    std::vector<uint8_t> record;
    bool found;  // CNTFSFoundFileRecord
    bool size;   // CNTFSRecordDataSize
  } cases[] = {
      {"fragmented file", fragmented, true, true},
      {"torn stride", Torn(fragmented), false, false},
      {"resident data", volume->records.at(RecordOf(volume->manifest, "small/file_00.txt")), false, false},
      {"folder without data", volume->records.at(volume->manifest.bigDirectory), false, false},
      {"runs short of the VCN range", DataRecord(40, {0x11, 0x04, 0x20, 0x00}, 8, 8 * 4096, 7), false, false},
      {"runs covering the VCN range", DataRecord(40, {0x11, 0x08, 0x20, 0x00}, 8, 8 * 4096, 7), true, true},
      {"data size 0", DataRecord(40, {0x11, 0x08, 0x20, 0x00}, 8, 0, 7), false, false},
      {"only an empty run string", DataRecord(40, {0x00}, 0, 4096, -1), false, false},
  };
  for (const auto& c : cases) {
    CNTFSFoundFileRecord found;
    EXPECT_EQ(found.ParseRecord(c.record.data(), c.record.size(), 500, 512), c.found) << c.name;
    if (!c.found) {
      EXPECT_EQ(found.GetSector(), -1) << c.name;
      EXPECT_EQ(found.GetSectorsPerCluster(), 0) << c.name;
    }
    CNTFSRecordDataSize size;
    EXPECT_EQ(size.ReadFromRecord(c.record.data(), c.record.size(), 500), c.size) << c.name;
    if (!c.size) {
      EXPECT_EQ(size.GetDataSize(), -1) << c.name;
    }
  }
}

TEST(NtfsFoundFileRecord, MapHoldsOneRecordPerSector) {
  CNTFSFoundFileRecordMap map;
  const std::vector<uint8_t> record = DataRecord(40, {0x11, 0x08, 0x20, 0x00}, 8, 8 * 4096, 7);
  auto make = [&](int64_t sector) {
    auto found = std::make_unique<CNTFSFoundFileRecord>();
    EXPECT_TRUE(found->ParseRecord(record.data(), record.size(), sector, 512));
    return found;
  };
  for (int64_t sector : {5000, 100, 2048, 2050}) EXPECT_TRUE(map.Add(make(sector)));
  const CNTFSFoundFileRecord* first = map.Find(2048);
  EXPECT_FALSE(map.Add(make(2048)));
  EXPECT_FALSE(map.Add(nullptr));
  EXPECT_EQ(map.GetCount(), 4u);
  EXPECT_EQ(map.Find(2048), first);
  EXPECT_EQ(map.Find(2049), nullptr);

  const struct {
    int64_t first, count, expected;  // -1: none
  } ranges[] = {
      {0, 100, -1},
      {0, 101, 100},
      {100, 1, 100},
      {101, 1947, -1},
      {101, 1948, 2048},
      {2049, 2, 2050},
      {2051, 1 << 20, 5000},
      {5001, std::numeric_limits<int64_t>::max(), -1},
      {-10, 0, -1},
      {std::numeric_limits<int64_t>::min(), 200, -1},
      {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), -1},
      {-1, std::numeric_limits<int64_t>::max(), 100},
  };
  for (const auto& r : ranges) {
    const CNTFSFoundFileRecord* found = map.FindFirstInRange(r.first, r.count);
    EXPECT_EQ(found ? found->GetSector() : -1, r.expected) << r.first << " +" << r.count;
  }
}

// ---------------------------------------------------------------------------------------------
// Folders with index allocations

// Every folder of real volumes whose index went out of its record: known by its own number, with
// the volume's cluster size, except the root.
TEST(NtfsFolderIndexRecord, FoldersOfRealVolumesAreKnownByTheirNumber) {
  for (const char* kind : kKinds) {
    CORVALE_NTFS_VOLUME(volume, kind);
    const NTFSVolumeGeometry& g = volume->geometry;
    size_t folders = 0;
    for (size_t n = 0; n < volume->records.size(); ++n) {
      const std::vector<uint8_t>& r = volume->records[n];
      CNTFSFileRecordView view(r.data(), r.size());
      if (!view.IsValid() || !view.HasNonResidentIndexAllocation()) continue;
      CNTFSFolderIndexRecord folder;
      const bool parsed = folder.ParseRecord(view, volume->RecordSector(n), g.bytesPerSector);
      EXPECT_EQ(parsed, n != 5) << kind << " record " << n;
      if (!parsed) continue;
      ++folders;
      EXPECT_EQ(folder.GetDirectoryNumber(), static_cast<int64_t>(n)) << kind;
      EXPECT_TRUE(folder.HasOwnRecordNumber());
      EXPECT_EQ(folder.GetOwnRecordNumber(), n);
      EXPECT_EQ(folder.GetSectorsPerCluster(), g.sectorsPerCluster) << kind << " record " << n;
      EXPECT_EQ(folder.GetSector(), volume->RecordSector(n));
      EXPECT_EQ(folder.GetLogSequenceNumber(), view.GetLogSequenceNumber());
    }
    EXPECT_GE(folders, 2u) << kind;  // at least the big folder and the folder of hard links
  }
}

// The pairing the scan makes: an index buffer names its directory, the folder records of that
// number are found in one lookup, and the buffer's VCN mapped through a record's runs is where the
// buffer lies.
TEST(NtfsFolderIndexRecord, IndexBuffersPairWithTheirFolderByDirectoryNumber) {
  for (const char* kind : kKinds) {
    CORVALE_NTFS_VOLUME(volume, kind);
    const NTFSVolumeGeometry& g = volume->geometry;
    CNTFSFolderIndexRecordMap map;
    for (size_t n = 0; n < volume->records.size(); ++n) {
      const std::vector<uint8_t>& r = volume->records[n];
      auto folder = std::make_unique<CNTFSFolderIndexRecord>();
      if (folder->ParseRecord(r.data(), r.size(), volume->RecordSector(n), g.bytesPerSector)) {
        EXPECT_TRUE(map.Add(std::move(folder)));
      }
    }
    const int64_t big = volume->manifest.bigDirectory;
    auto [from, to] = map.FindByDirectory(big);
    ASSERT_EQ(std::distance(from, to), 1) << kind;
    const CNTFSFolderIndexRecord& folder = *from->second;

    CNTFSFileRecordView view(volume->records.at(big).data(), volume->records.at(big).size());
    CNTFSFileRecordDataRunsAttribute allocation(view.FindAttribute(attr::kIndexAllocation));
    const uint32_t blockSize = 4096;
    size_t paired = 0;
    for (int64_t at = 0; at < allocation.GetDataSize(); at += blockSize) {
      std::vector<uint8_t> buffer =
          volume->ReadRuns(allocation.GetRunList(), static_cast<uint64_t>(at), blockSize);
      if (!IsValidIndexBuffer(buffer.data(), buffer.size())) continue;
      const uint64_t vcn = GetIndexBufferVcn(buffer.data(), buffer.size());
      std::vector<uint8_t> fixed = buffer;
      ASSERT_TRUE(ApplyIndexBufferFixup(fixed.data(), fixed.size()));
      auto [first, last] = map.FindByDirectory(GetIndexBufferParent(fixed.data(), fixed.size()));
      ASSERT_EQ(std::distance(first, last), 1) << kind;
      const int64_t lcn = first->second->GetClusterOfVcn(static_cast<int64_t>(vcn));
      ASSERT_GE(lcn, 0) << kind;
      const uint64_t byte = static_cast<uint64_t>(lcn) * g.bytesPerCluster;
      ASSERT_LE(byte + blockSize, volume->image.size());
      EXPECT_TRUE(
          std::equal(buffer.begin(), buffer.end(), volume->image.begin() + static_cast<ptrdiff_t>(byte)))
          << kind << " VCN " << vcn;
      EXPECT_EQ(&folder, first->second.get());
      ++paired;
    }
    EXPECT_GE(paired, 2u) << kind;
  }
}

// Hand-made folder records, one rule per row. The record is 40 unless a row says otherwise, its
// $INDEX_ALLOCATION two clusters holding 8192 initialized bytes.
TEST(NtfsFolderIndexRecord, DirectoryNumberAndClusterSizeRules) {
  struct Folder {
    const char* name;
    std::vector<uint64_t> rootParents;
    int64_t expectedDirectory;  // -1: refused
    uint32_t expectedSectorsPerCluster = 8;
    uint32_t own = 40;
    bool hasRoot = true;
    bool oldLayout = false;
    bool extension = false;
    bool allocation = true;
    bool residentAllocation = false;
    int64_t initialized = 8192;
    std::vector<uint8_t> runs = {0x11, 0x02, 0x40, 0x00};
    uint32_t sectorSize = 512;
  };
  const Folder cases[] = {
      {"entries name the folder", {77, 77}, 77},
      {"entries name the root", {5, 5}, -1},
      {"only the last entry: own number", {}, 40},
      {"no $INDEX_ROOT: own number", {}, 40, 8, 40, false},
      {"own number of the root", {}, -1, 8, 5},
      {"entries name two folders: own number", {77, 78}, 40},
      {"old layout, only the last entry", {}, -1, 8, 40, true, true},
      {"old layout, entries name the folder", {77}, 77, 8, 40, true, true},
      {"extension record", {77}, -1, 8, 40, true, false, true},
      {"no $INDEX_ALLOCATION", {77}, -1, 8, 40, true, false, false, false},
      {"resident $INDEX_ALLOCATION", {77}, -1, 8, 40, true, false, false, true, true},
      {"initialized size 0", {77}, -1, 8, 40, true, false, false, true, false, 0},
      {"initialized size negative", {77}, -1, 8, 40, true, false, false, true, false, -8192},
      {"no runs", {77}, -1, 8, 40, true, false, false, true, false, 8192, {0x00}},
      {"run string that does not decode", {77}, -1, 8, 40, true, false, false, true, false, 8192, {0x55}},
      {"4096-byte sectors",
       {77},
       77,
       1,
       40,
       true,
       false,
       false,
       true,
       false,
       8192,
       {0x11, 0x02, 0x40, 0x00},
       4096},
      {"index blocks over 512-byte clusters",
       {77},
       77,
       1,
       40,
       true,
       false,
       false,
       true,
       false,
       8192,
       {0x11, 0x10, 0x40, 0x00}},
      {"partly used last cluster", {77}, 77, 8, 40, true, false, false, true, false, 4097},
      {"more than 128 sectors a cluster", {77}, -1, 0, 40, true, false, false, true, false, 8192 * 129},
  };
  for (const Folder& c : cases) {
    handmade::Record r(c.own, c.extension ? (uint64_t{1} << 48) | 30 : 0, 0x0003);
    r.AddResident(attr::kStandardInformation, handmade::StandardInformationValue(0));
    r.AddResident(attr::kFileName, handmade::FileNameValue(5, "folder"));
    if (c.hasRoot) r.AddResident(attr::kIndexRoot, IndexRootValue(c.rootParents));
    if (c.allocation && c.residentAllocation)
      r.AddResident(attr::kIndexAllocation, std::vector<uint8_t>(64, 0));
    if (c.allocation && !c.residentAllocation)
      r.AddNonResident(attr::kIndexAllocation, 8192, 8192, c.initialized, c.runs, 1);
    std::vector<uint8_t> record = r.Finish();
    if (c.oldLayout) record = OldLayout(record);

    CNTFSFolderIndexRecord folder;
    const bool parsed = folder.ParseRecord(record.data(), record.size(), 1234, c.sectorSize);
    EXPECT_EQ(parsed, c.expectedDirectory != -1) << c.name;
    if (parsed) {
      EXPECT_EQ(folder.GetDirectoryNumber(), c.expectedDirectory) << c.name;
      EXPECT_EQ(folder.GetSectorsPerCluster(), c.expectedSectorsPerCluster) << c.name;
      EXPECT_EQ(folder.HasOwnRecordNumber(), !c.oldLayout) << c.name;
      EXPECT_EQ(folder.GetOwnRecordNumber(), c.oldLayout ? 0u : c.own) << c.name;
      EXPECT_EQ(folder.GetSector(), 1234) << c.name;
      EXPECT_EQ(folder.GetClusterOfVcn(0), 0x40) << c.name;
    } else {
      EXPECT_EQ(folder.GetDirectoryNumber(), -1) << c.name;
      EXPECT_EQ(folder.GetSector(), -1) << c.name;
      EXPECT_EQ(folder.GetSectorsPerCluster(), 0u) << c.name;
      EXPECT_TRUE(folder.GetRunList().IsEmpty()) << c.name;
    }
  }
}

TEST(NtfsFolderIndexRecord, MapKeepsEveryCopyOfADirectoryInArrivalOrder) {
  CNTFSFolderIndexRecordMap map;
  handmade::Record r(40, 0, 0x0003);
  r.AddResident(attr::kIndexRoot, IndexRootValue({}));
  r.AddNonResident(attr::kIndexAllocation, 8192, 8192, 8192, {0x11, 0x02, 0x40, 0x00}, 1);
  const std::vector<uint8_t> record = r.Finish();
  for (int64_t sector : {9000, 300, 700}) {
    auto folder = std::make_unique<CNTFSFolderIndexRecord>();
    ASSERT_TRUE(folder->ParseRecord(record.data(), record.size(), sector, 512));
    EXPECT_TRUE(map.Add(std::move(folder)));
  }
  auto other = std::make_unique<CNTFSFolderIndexRecord>();
  ASSERT_TRUE(other->ParseRecord(record.data(), record.size(), 50, 512));
  other->SetDirectoryNumber(41);
  EXPECT_TRUE(map.Add(std::move(other)));
  auto unknown = std::make_unique<CNTFSFolderIndexRecord>();
  EXPECT_FALSE(map.Add(std::move(unknown)));  // never parsed: number not known
  EXPECT_FALSE(map.Add(nullptr));
  EXPECT_EQ(map.GetCount(), 4u);

  std::vector<int64_t> sectors;
  for (auto [it, end] = map.FindByDirectory(40); it != end; ++it) sectors.push_back(it->second->GetSector());
  EXPECT_EQ(sectors, (std::vector<int64_t>{9000, 300, 700}));
  auto [it41, end41] = map.FindByDirectory(41);
  ASSERT_EQ(std::distance(it41, end41), 1);
  EXPECT_EQ(it41->second->GetSector(), 50);
  auto [none, noneEnd] = map.FindByDirectory(5);
  EXPECT_EQ(none, noneEnd);
}
