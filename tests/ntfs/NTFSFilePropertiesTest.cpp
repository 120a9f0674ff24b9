// NTFS file properties: made from every record of real volumes and compared with what ntfs-3g
// shows of the same files (names, sizes, times, attributes, deleted, resident, the extents of their
// data); made from hand-made records for what ntfs-3g does not write; saved and loaded through the
// state stream; and the readers of data kept in a record and of an encrypted file's $EFS stream.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "HandMadeRecords.h"
#include "NtfsRecordWalk.h"
#include "NtfsTestVolume.h"
#include "RecordMutation.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/MemoryStateStream.h"
#include "core/NTFSDataRunList.h"
#include "core/StateIo.h"
#include "ntfs/FileRecordAttribute.h"
#include "ntfs/NTFSFileProperties.h"
#include "ntfs/SearchedNTFSPartitionInfo.h"
#include "storage/MemoryDevice.h"

namespace attr = corvale::ntfs::attr;
namespace fn = corvale::ntfs::fn;

namespace {

constexpr uint16_t kComparedFileAttributes = 0x01 | 0x02 | 0x04 | 0x20 | 0x200 | 0x800;
constexpr uint16_t kComparedFolderAttributes = 0x01 | 0x02 | 0x04 | 0x10;

const CNTFSFileProperties* PropertiesOf(const CFileNode* node) {
  return node ? dynamic_cast<const CNTFSFileProperties*>(node->GetFileProperties()) : nullptr;
}

// The path of a node below the partition node, as the volume names it.
std::string PathOf(const CFileNode* node) {
  std::string path;
  for (; node && !node->IsFileSystemNode(); node = node->GetParent())
    path = path.empty() ? std::string(node->GetFileProperties()->GetName())
                        : std::string(node->GetFileProperties()->GetName()) + "/" + path;
  return path;
}

// A run as ntfs-3g's ntfsinfo lists it, or as the properties keep it: start cluster (-1 for a
// hole) and length, with neighbours that continue each other merged.
struct Extent {
  int64_t lcn;
  int64_t length;
  bool operator==(const Extent&) const = default;
};

void AppendMerged(std::vector<Extent>& out, int64_t lcn, int64_t length) {
  if (!out.empty()) {
    Extent& last = out.back();
    if ((lcn < 0 && last.lcn < 0) || (lcn >= 0 && last.lcn >= 0 && last.lcn + last.length == lcn)) {
      last.length += length;
      return;
    }
  }
  out.push_back({lcn, length});
}

std::ostream& operator<<(std::ostream& os, const Extent& e) {
  return os << "(" << e.lcn << "," << e.length << ")";
}

// What ntfsinfo showed of a record's unnamed $DATA: whether it is resident, and its runs.
struct NtfsInfoData {
  bool found = false;
  bool resident = false;
  std::vector<Extent> extents;
};

NtfsInfoData ReadNtfsInfo(const std::string& path) {
  NtfsInfoData out;
  std::ifstream in(path);
  std::string line;
  // The attribute being read: a $DATA, named or not, resident or not, and its runs.
  bool inData = false, named = false, resident = false, inRuns = false;
  std::map<int64_t, std::pair<int64_t, int64_t>> runs, byVcn;
  auto finish = [&] {
    if (inData && !named) {
      out.found = true;
      out.resident = resident;
      byVcn.insert(runs.begin(), runs.end());
    }
    inData = named = resident = inRuns = false;
    runs.clear();
  };
  while (std::getline(in, line)) {
    if (line.rfind("Dumping attribute", 0) == 0 || line.rfind("End of inode", 0) == 0) {
      finish();
      inData = line.find("$DATA (0x80)") != std::string::npos;
      continue;
    }
    if (!inData) continue;
    if (line.find("Name length:") != std::string::npos && line.find(" 0 (0x0)") == std::string::npos)
      named = true;
    if (line.find("Resident:") != std::string::npos) resident = line.find("Yes") != std::string::npos;
    if (line.find("Runlist:") != std::string::npos) {
      inRuns = true;
      continue;
    }
    if (inRuns) {
      std::istringstream words(line);
      std::string vcn, lcn, length;
      if (!(words >> vcn >> lcn >> length) || vcn.rfind("0x", 0) != 0) {
        inRuns = false;
        continue;
      }
      // An attribute that holds a later piece of the data lists the VCNs before it as not mapped.
      if (lcn == "<RL_NOT_MAPPED>") continue;
      runs[std::stoll(vcn, nullptr, 16)] = {lcn == "<HOLE>" ? -1 : std::stoll(lcn, nullptr, 16),
                                            std::stoll(length, nullptr, 16)};
    }
  }
  finish();
  for (const auto& [vcn, run] : byVcn) AppendMerged(out.extents, run.first, run.second);
  return out;
}

// --- Hand-made records --------------------------------------------------------------------------

constexpr uint64_t kRoot = 5;

std::vector<uint8_t> FileName(uint64_t parent, const std::string& name, uint8_t nameSpace, uint32_t flags = 0,
                              int64_t dataSize = 0, uint64_t time = 0) {
  std::vector<uint8_t> v = handmade::FileNameValue(parent, name, 0, dataSize);
  v[0x41] = nameSpace;
  handmade::Put(v, 0x38, flags, 4);
  for (size_t at : {0x08, 0x10, 0x18, 0x20}) handmade::Put(v, at, time, 8);
  return v;
}

std::vector<uint8_t> StandardInformation(uint32_t flags, uint64_t creation, uint64_t modification,
                                         uint64_t access) {
  std::vector<uint8_t> v = handmade::StandardInformationValue(flags);
  handmade::Put(v, 0x00, creation, 8);
  handmade::Put(v, 0x08, modification, 8);
  handmade::Put(v, 0x18, access, 8);
  return v;
}

// The properties of a single hand-made record, read at sector 100, clusters of 4096 bytes.
struct Made {
  std::unique_ptr<CNTFSFileProperties> properties;
  int64_t parent = -1;
};

Made PropertiesOfRecord(const std::vector<uint8_t>& bytes, uint32_t bytesPerCluster = 4096) {
  CNTFSFileRecord record(bytes.data(), bytes.size(), 100, nullptr, nullptr);
  Made made;
  made.properties = CreateNTFSFilePropertiesFromRecord(100, record, bytesPerCluster, &made.parent);
  return made;
}

std::vector<DataRun> RunsOf(const CNTFSFileProperties& p) {
  std::unique_ptr<IDataRunList> list = p.CreateDataRunList();
  if (!list) return {};
  return std::vector<DataRun>(list->Runs().begin(), list->Runs().end());
}

}  // namespace

// ---------------------------------------------------------------------------------------------

class NtfsFilePropertiesOfVolume : public ::testing::TestWithParam<const char*> {};

TEST_P(NtfsFilePropertiesOfVolume, EveryFileShowsWhatNtfs3gShows) {
  CORVALE_NTFS_VOLUME(volume, GetParam());
  MemoryDevice device(volume->image, int32_t(volume->geometry.bytesPerSector));
  ntfswalk::WalkResult walk;
  std::string why;
  ASSERT_TRUE(ntfswalk::WalkMftRecords(&device, 0, walk, &why)) << why;
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(walk.root, FreeFileTree);

  size_t resident = 0, sparseRuns = 0, withExtensions = 0;
  for (const NtfsEntry& e : volume->manifest.entries) {
    SCOPED_TRACE(e.path);
    auto found = walk.nodes.find(e.record);
    ASSERT_NE(found, walk.nodes.end());
    const CNTFSFileProperties* p = PropertiesOf(found->second);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(PathOf(found->second), e.path);
    EXPECT_EQ(p->GetNameLength(), std::string(p->GetName()).size() + 1);
    EXPECT_EQ(p->IsFolder(), e.directory);
    EXPECT_EQ(p->IsDeleted(), e.deleted);
    EXPECT_EQ(p->GetTypeWord(), e.deleted ? 1 : 0);
    EXPECT_EQ(p->GetSize(), e.size);
    ASSERT_TRUE(e.hasTimes && e.hasAttributes);
    EXPECT_EQ(p->GetCreationTime(), e.creationTime);
    // The times were taken before the deletions, which changed the deleted folders themselves.
    if (!(e.deleted && e.directory)) {
      EXPECT_EQ(p->GetTime2(), e.modificationTime);
      EXPECT_EQ(p->GetTime3(), e.accessTime);
    }
    const uint16_t compared = e.directory ? kComparedFolderAttributes : kComparedFileAttributes;
    EXPECT_EQ(p->GetAttributes() & compared, (e.attributes | (e.directory ? 0x10 : 0)) & compared);
    EXPECT_EQ(p->GetRecordSector(), volume->RecordSector(uint64_t(e.record)));
    if (p->GetExtensionRecords()) ++withExtensions;
    if (e.directory) {
      EXPECT_EQ(p->CreateDataRunList(), nullptr);
      continue;
    }

    std::unique_ptr<IDataRunList> runs = p->CreateDataRunList();
    if (e.deleted) continue;  // ntfsinfo does not show deleted records
    NtfsInfoData info = ReadNtfsInfo(volume->folder + "/ntfsinfo/" + std::to_string(e.record) + ".txt");
    ASSERT_TRUE(info.found);
    if (info.resident) {
      ++resident;
      ASSERT_TRUE(runs && runs->IsResident());
      EXPECT_EQ(runs->GetKind(), kRunListNtfsResident);
      ASSERT_EQ(runs->GetRunCount(), 1u);
      EXPECT_EQ(runs->Runs()[0], (DataRun{uint64_t(p->GetRecordSector()), 1}));
      continue;
    }
    if (info.extents.empty()) {
      EXPECT_EQ(runs, nullptr);
      continue;
    }
    ASSERT_TRUE(runs && !runs->IsResident());
    EXPECT_EQ(runs->GetKind(), kRunListNtfsNonResident);
    std::vector<Extent> ours;
    for (const DataRun& run : runs->Runs()) {
      if (run.IsSparse()) ++sparseRuns;
      AppendMerged(ours, run.IsSparse() ? -1 : int64_t(run.start), int64_t(run.length));
    }
    EXPECT_EQ(ours, info.extents);
  }
  EXPECT_GT(resident, 20u);
  EXPECT_GT(sparseRuns, 5u);
  // The file whose runs need extension records, where the volume has one.
  if (volume->geometry.fileRecordSize == 1024) {
    EXPECT_GE(withExtensions, 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Volumes, NtfsFilePropertiesOfVolume,
                         ::testing::Values("files-c4096", "files-c512", "files-s4096"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

TEST(NtfsFileProperties, ResidentDataIsReadAfreshFromTheRecord) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  MemoryDevice device(volume->image, int32_t(volume->geometry.bytesPerSector));
  ntfswalk::WalkResult walk;
  std::string why;
  ASSERT_TRUE(ntfswalk::WalkMftRecords(&device, 0, walk, &why)) << why;
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(walk.root, FreeFileTree);
  auto nodeOf = [&](const std::string& path) -> CFileNode* {
    for (const NtfsEntry& e : volume->manifest.entries)
      if (e.path == path && !e.deleted) return walk.nodes.at(e.record);
    return nullptr;
  };
  uint8_t buffer[4096];
  uint32_t size = 0;

  CFileNode* small = nodeOf("small/s10.bin");
  ASSERT_NE(small, nullptr);
  ASSERT_TRUE(ReadNTFSResidentData(small, &device, &size, buffer, sizeof buffer));
  std::ifstream in(volume->folder + "/content.live/small/s10.bin", std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), content);
  // Through the properties, as the recovery asks for it.
  auto* source = dynamic_cast<IFileContentSource*>(small->GetFileProperties());
  ASSERT_NE(source, nullptr);
  size = 0;
  EXPECT_TRUE(source->ReadResidentData(small, &device, buffer, sizeof buffer, &size));
  EXPECT_EQ(size, content.size());
  // Only when it fits.
  EXPECT_FALSE(ReadNTFSResidentData(small, &device, &size, buffer, uint32_t(content.size() - 1)));
  // An empty file holds an empty value.
  EXPECT_TRUE(ReadNTFSResidentData(nodeOf("small/empty.txt"), &device, &size, buffer, sizeof buffer));
  EXPECT_EQ(size, 0u);

  // Not for data in clusters, folders, partition nodes or a record that is gone.
  EXPECT_FALSE(ReadNTFSResidentData(nodeOf("plain/p5000.bin"), &device, &size, buffer, sizeof buffer));
  EXPECT_FALSE(ReadNTFSResidentData(nodeOf("small"), &device, &size, buffer, sizeof buffer));
  EXPECT_FALSE(ReadNTFSResidentData(walk.root, &device, &size, buffer, sizeof buffer));
  MemoryDevice zeros(std::vector<uint8_t>(volume->image.size(), 0), 512);
  EXPECT_FALSE(ReadNTFSResidentData(small, &zeros, &size, buffer, sizeof buffer));
  // A file without an $EFS stream has none to read.
  EXPECT_FALSE(ReadNTFSEfsStream(small, &device, &size, buffer, sizeof buffer));
}

TEST(NtfsFileProperties, SparseRunsAreHolesNotClustersBeforeTheVolume) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  MemoryDevice device(volume->image, 512);
  ntfswalk::WalkResult walk;
  std::string why;
  ASSERT_TRUE(ntfswalk::WalkMftRecords(&device, 0, walk, &why)) << why;
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(walk.root, FreeFileTree);
  for (const NtfsEntry& e : volume->manifest.entries) {
    if (e.path != "sparse.bin" && e.path != "packed/holes.bin") continue;
    const CNTFSFileProperties* p = PropertiesOf(walk.nodes.at(e.record));
    std::vector<DataRun> runs = RunsOf(*p);
    ASSERT_FALSE(runs.empty());
    uint64_t clusters = 0, holes = 0;
    for (const DataRun& run : runs) {
      clusters += run.length;
      if (run.IsSparse()) {
        holes += run.length;
      } else {
        EXPECT_LT(run.start, volume->geometry.totalClusters);
      }
    }
    EXPECT_GT(holes, clusters / 2) << e.path;
    // Holes count towards the size: the file is not cut to its allocated clusters.
    EXPECT_EQ(p->GetSize(), e.size);
    EXPECT_EQ(clusters * volume->geometry.bytesPerCluster, (e.size + 65535) / 65536 * 65536) << e.path;
    EXPECT_EQ(p->GetAttributes() & 0xA00, e.path == "sparse.bin" ? 0x200 : 0x800) << e.path;
  }
}

TEST(NtfsFileProperties, LongNameIsTheWin32OneAndShortOnlyWhenAlone) {
  struct Row {
    const char* what;
    std::vector<std::pair<std::string, uint8_t>> names;  // in record order, with their namespaces
    const char* shown;
  };
  const Row rows[] = {
      {"DOS first, Win32 second", {{"LONGNA~1.TXT", 2}, {"Long name.txt", 1}}, "Long name.txt"},
      {"only a DOS name", {{"SHORT.TXT", 2}}, "SHORT.TXT"},
      {"two POSIX links", {{"first link", 0}, {"second link", 0}}, "first link"},
      {"Win32 and DOS in one", {{"Plain.txt", 3}}, "Plain.txt"},
      {"a non-ASCII name", {{"naïve 日本.txt", 1}}, "naïve 日本.txt"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    handmade::Record r(40);
    r.AddResident(attr::kStandardInformation, StandardInformation(0x20, 1, 2, 3));
    for (const auto& [name, ns] : row.names) {
      // The hand-made value takes ASCII; non-ASCII names are written as UTF-16 here.
      std::u16string wide;
      for (size_t i = 0; i < name.size();) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        char32_t cp;
        size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        cp = n == 1 ? c : c & (0xFF >> (n + 1));
        for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(name[i + k]) & 0x3F);
        wide += char16_t(cp);
        i += n;
      }
      std::vector<uint8_t> value = FileName(kRoot, std::string(wide.size(), 'x'), ns);
      for (size_t i = 0; i < wide.size(); ++i) handmade::Put(value, 0x42 + 2 * i, wide[i], 2);
      r.AddResident(attr::kFileName, value);
    }
    Made made = PropertiesOfRecord(r.Finish());
    ASSERT_TRUE(made.properties);
    EXPECT_STREQ(made.properties->GetName(), row.shown);
    EXPECT_EQ(made.parent, int64_t(kRoot));
  }
}

TEST(NtfsFileProperties, ParentIsTheFirstNameWithAUserFolder) {
  struct Row {
    uint64_t first, second;
    int64_t reported;
  };
  // The second name's parent when it is a folder of the user's (5 or more), else the first one's,
  // else the chosen name's as it stands; an unknown one (all ones) is not reported.
  const Row rows[] = {{40, 50, 50}, {40, 3, 40}, {2, 3, 3}, {~uint64_t{0}, ~uint64_t{0}, -1}};
  for (const Row& row : rows) {
    handmade::Record r(41);
    r.AddResident(attr::kFileName, FileName(row.first, "a.txt", 0));
    r.AddResident(attr::kFileName, FileName(row.second, "b.txt", 1));
    Made made = PropertiesOfRecord(r.Finish());
    ASSERT_TRUE(made.properties);
    EXPECT_STREQ(made.properties->GetName(), "b.txt");
    EXPECT_EQ(made.parent, row.reported) << row.first << " " << row.second;
  }
}

TEST(NtfsFileProperties, RecordsThatNameNoFileGiveNoProperties) {
  handmade::Record noName(42);
  noName.AddResident(attr::kStandardInformation, StandardInformation(0x20, 1, 2, 3));
  EXPECT_FALSE(PropertiesOfRecord(noName.Finish()).properties);
  std::vector<uint8_t> junk(1024, 0xEE);
  EXPECT_FALSE(PropertiesOfRecord(junk).properties);
}

TEST(NtfsFileProperties, TimesAndAttributesComeFromStandardInformationWhenItIsWhole) {
  handmade::Record full(43);
  full.AddResident(attr::kStandardInformation, StandardInformation(0x27 | 0x1000, 111, 222, 333));
  full.AddResident(attr::kFileName, FileName(kRoot, "f.txt", 1, 0, 0, 999));
  Made made = PropertiesOfRecord(full.Finish());
  ASSERT_TRUE(made.properties);
  EXPECT_EQ(made.properties->GetCreationTime(), 111u);
  EXPECT_EQ(made.properties->GetTime2(), 222u);
  EXPECT_EQ(made.properties->GetTime3(), 333u);
  EXPECT_EQ(made.properties->GetAttributes(), 0x27);

  handmade::Record cut(44);
  cut.AddResident(attr::kStandardInformation, std::vector<uint8_t>(0x20, 0x11));
  cut.AddResident(attr::kFileName, FileName(kRoot, "f.txt", 1, fn::kFlagDirectory, 0, 999));
  made = PropertiesOfRecord(cut.Finish());
  ASSERT_TRUE(made.properties);
  EXPECT_EQ(made.properties->GetCreationTime(), 999u);
  EXPECT_EQ(made.properties->GetTime2(), 999u);
  EXPECT_EQ(made.properties->GetTime3(), 999u);
  EXPECT_EQ(made.properties->GetAttributes(), kAttributeFolder);
}

TEST(NtfsFileProperties, DataAttributesDecideSizeRunsAndFlags) {
  auto base = [](uint32_t number, uint16_t headerFlags = 0x0001) {
    handmade::Record r(number, 0, headerFlags);
    r.AddResident(attr::kStandardInformation, StandardInformation(0x20, 1, 2, 3));
    r.AddResident(attr::kFileName, FileName(kRoot, "data.bin", 1, 0, /*dataSize=*/900000));
    return r;
  };

  // 700 bytes kept in the record: one run (record sector, 1) with the value's place in the record.
  handmade::Record resident = base(50);
  const size_t at = resident.AddResident(attr::kData, std::vector<uint8_t>(700, 0x42));
  Made made = PropertiesOfRecord(resident.Finish());
  ASSERT_TRUE(made.properties);
  EXPECT_EQ(made.properties->GetSize(), 700u);
  std::unique_ptr<IDataRunList> list = made.properties->CreateDataRunList();
  ASSERT_TRUE(list && list->IsResident());
  EXPECT_EQ(list->Runs().front(), (DataRun{100, 1}));
  EXPECT_EQ(list->GetResidentValue(), at + 0x18);
  EXPECT_FALSE(made.properties->IsDeleted());

  // Compressed and encrypted: an encrypted file's clusters are cipher text whatever else it says.
  handmade::Record both = base(51);
  both.AddNonResident(attr::kData, 65536, 5000, 5000, {0x11, 0x02, 0x20, 0x01, 0x0E, 0x00}, 15, "", 0x4001);
  made = PropertiesOfRecord(both.Finish());
  EXPECT_EQ(made.properties->GetAttributes() & 0xA40, 0x40);

  // The size is the data size of the piece that starts the data, not the (stale) size a $FILE_NAME
  // keeps; a named stream before it is another stream of the file and is passed over.
  handmade::Record sized = base(52, 0x0000);
  sized.AddResident(attr::kData, {1, 2, 3}, "extra");
  sized.AddNonResident(attr::kData, 8192, 6000, 6000, {0x11, 0x02, 0x20, 0x00}, 1);
  made = PropertiesOfRecord(sized.Finish());
  EXPECT_EQ(made.properties->GetSize(), 6000u);
  EXPECT_EQ(RunsOf(*made.properties), (std::vector<DataRun>{{0x20, 2}}));
  EXPECT_TRUE(made.properties->IsDeleted());
  EXPECT_EQ(made.properties->GetTypeWord(), 1);

  // A size beyond the clusters the runs hold is cut to them (the clusters cannot hold more); with
  // no cluster size known it stays.
  handmade::Record beyond = base(53);
  beyond.AddNonResident(attr::kData, 8192, 100000, 8192, {0x11, 0x02, 0x20, 0x00}, 1);
  const std::vector<uint8_t> beyondBytes = beyond.Finish();
  EXPECT_EQ(PropertiesOfRecord(beyondBytes).properties->GetSize(), 8192u);
  EXPECT_EQ(PropertiesOfRecord(beyondBytes, 0).properties->GetSize(), 100000u);

  // Pieces of the data in VCN order, a hole among them; a piece that does not follow on (its
  // predecessor is in a record that could not be read) ends the runs there.
  handmade::Record pieces = base(54);
  pieces.AddNonResident(attr::kData, 0, 0, 0, {0x11, 0x02, 0x30, 0x00}, 3, "", 0, 2);
  pieces.AddNonResident(attr::kData, 40960, 40000, 40000, {0x11, 0x01, 0x20, 0x01, 0x01, 0x00}, 1);
  pieces.AddNonResident(attr::kData, 0, 0, 0, {0x11, 0x02, 0x40, 0x00}, 9, "", 0, 8);
  made = PropertiesOfRecord(pieces.Finish());
  EXPECT_EQ(RunsOf(*made.properties), (std::vector<DataRun>{{0x20, 1}, {kSparseRunStart, 1}, {0x30, 2}}));
  EXPECT_EQ(made.properties->GetSize(), 4u * 4096);
}

TEST(NtfsFileProperties, ATornRecordNamesItsFileButGivesNoData) {
  handmade::Record r(55);
  r.AddResident(attr::kStandardInformation, StandardInformation(0x20, 1, 2, 3));
  r.AddResident(attr::kFileName, FileName(kRoot, "torn.bin", 1, 0, 5000));
  r.AddNonResident(attr::kData, 8192, 5000, 5000, {0x11, 0x02, 0x20, 0x00}, 1);
  std::vector<uint8_t> bytes = r.Finish();
  ASSERT_TRUE(PropertiesOfRecord(bytes).properties->CreateDataRunList());
  bytes[1022] ^= 0xFF;  // the end of the second stride no longer holds the update sequence number
  Made made = PropertiesOfRecord(bytes);
  ASSERT_TRUE(made.properties);
  EXPECT_STREQ(made.properties->GetName(), "torn.bin");
  EXPECT_EQ(made.properties->CreateDataRunList(), nullptr);
  // Its size still shows, so that the recovery fails it instead of writing an empty file.
  EXPECT_EQ(made.properties->GetSize(), 5000u);
}

TEST(NtfsFileProperties, SavedAndLoadedThroughTheStateStream) {
  // The engine's factories are there without anyone registering them by hand.
  std::unique_ptr<IFileProperties> made(CreateFileProperties(kPropertiesNtfs));
  ASSERT_NE(dynamic_cast<CNTFSFileProperties*>(made.get()), nullptr);
  EXPECT_NE(dynamic_cast<CSearchedNTFSPartitionInfo*>(CreateSearchedPartitionInfo(kPartitionInfoNtfs).get()),
            nullptr);

  CNTFSFileProperties p;
  p.SetName("Größe 日本.txt");
  p.SetSize(123456789);
  p.SetAttributes(0x821);
  p.SetTimes(1111, 2222, 3333);
  p.SetStatus(CNTFSFileProperties::kStatusDeleted);
  p.SetRecordSector(0x123456);
  p.SetCheckState(kChecked);
  p.SetFlagByte(7);
  CNoneResidentNTFSDataRunList runs;
  runs.AppendRun(100, 16);
  runs.AppendRun(kSparseRunStart, 16);
  runs.AppendRun(50, 3);
  p.SetPackedRuns(CreatePackedRunList(runs));
  p.SetExtensionRecords(std::make_unique<std::vector<NTFSExtensionRecordRef>>(
      std::vector<NTFSExtensionRecordRef>{{0x1000, 66}, {0x1002, 67}}));

  MemoryStateStream stream;
  stream.BeginSection(TestSection(1));
  SavePropertiesRecord(stream, &p);
  stream.EndSection();
  const std::vector<uint8_t> bytes = stream.Section(TestSection(1));
  const std::string name = p.GetName();
  // Code 0, then the name's byte count and bytes, size, attributes, times, status, record sector.
  corvale::ByteReader r(bytes.data(), bytes.size());
  EXPECT_EQ(r.u32(0), 0u);
  EXPECT_EQ(r.u16(4), name.size());
  EXPECT_EQ(std::string(bytes.begin() + 6, bytes.begin() + 6 + long(name.size())), name);
  size_t at = 6 + name.size();
  EXPECT_EQ(r.u64(at), 123456789u);
  EXPECT_EQ(r.u16(at + 8), 0x821);
  EXPECT_EQ(r.u64(at + 10), 1111u);
  EXPECT_EQ(r.u64(at + 26), 3333u);
  EXPECT_EQ(r.u8(at + 34), 1);
  EXPECT_EQ(r.u64(at + 35), 0x123456u);
  EXPECT_EQ(r.u32(at + 43), 1u);  // packed runs follow
  // The extension records close the record: count, then sector and reference of each.
  EXPECT_EQ(r.u64(bytes.size() - 40), 2u);
  EXPECT_EQ(r.u64(bytes.size() - 8), 67u);

  stream.StartReading();
  stream.BeginSection(TestSection(1));
  std::unique_ptr<IFileProperties> loaded = LoadPropertiesRecord(stream);
  auto* q = dynamic_cast<CNTFSFileProperties*>(loaded.get());
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(std::string(q->GetName()), name);
  EXPECT_EQ(q->GetNameLength(), name.size() + 1);
  EXPECT_EQ(q->GetSize(), 123456789u);
  EXPECT_EQ(q->GetAttributes(), 0x821);
  EXPECT_EQ(q->GetCreationTime(), 1111u);
  EXPECT_EQ(q->GetTime2(), 2222u);
  EXPECT_EQ(q->GetTime3(), 3333u);
  EXPECT_TRUE(q->IsDeleted());
  EXPECT_EQ(q->GetRecordSector(), 0x123456);
  EXPECT_EQ(q->GetCheckState(), kNotChecked);
  EXPECT_EQ(q->GetFlagByte(), 0);
  EXPECT_EQ(RunsOf(*q), (std::vector<DataRun>{{100, 16}, {kSparseRunStart, 16}, {50, 3}}));
  ASSERT_NE(q->GetExtensionRecords(), nullptr);
  EXPECT_EQ(q->GetExtensionRecords()->size(), 2u);
  EXPECT_EQ((*q->GetExtensionRecords())[1].sector, 0x1002);

  // Cut anywhere, the record ends in the stream's exception, never in a half-read object.
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    MemoryStateStream shorter;
    shorter.Section(TestSection(1)).assign(bytes.begin(), bytes.begin() + long(cut));
    shorter.StartReading();
    shorter.BeginSection(TestSection(1));
    EXPECT_THROW(LoadPropertiesRecord(shorter), IRSException) << cut;
  }
  // A name longer than any NTFS name is no saved properties of ours.
  std::vector<uint8_t> forged = bytes;
  corvale::putLE(forged.data() + 4, CNTFSFileProperties::kMaxNameBytes + 1, 2);
  MemoryStateStream bad;
  bad.Section(TestSection(1)) = forged;
  bad.StartReading();
  bad.BeginSection(TestSection(1));
  try {
    LoadPropertiesRecord(bad);
    ADD_FAILURE() << "loaded";
  } catch (IRSException& e) {
    EXPECT_EQ(e.GetCode(), RS_ERROR_BAD_DATA);
  }
}

// --- The $EFS stream of an encrypted file ---------------------------------------------------------

namespace {

constexpr uint64_t kRecordSector = 64;  // 512-byte sectors, one-sector clusters

struct EfsCase {
  const char* what;
  bool resident;
  uint32_t lengthField;       // what the stream's first 8 bytes say
  uint32_t dataSize;          // the attribute's
  uint32_t initialized;       // non-resident only
  std::vector<uint8_t> runs;  // non-resident only
  const char* name;
  bool badSector;  // the stream's first cluster cannot be read
  uint32_t capacity;
  bool readable;
};

// A device of 512-byte sectors: the record at sector 64, the stream's clusters at 200 and 202 with
// a hole between them, each sector filled with its number.
std::vector<uint8_t> EfsDevice(const std::vector<uint8_t>& record, uint32_t lengthField) {
  std::vector<uint8_t> bytes(300 * 512);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i / 512);
  corvale::putLE(bytes.data() + 200 * 512, lengthField, 8);
  std::copy(record.begin(), record.end(), bytes.begin() + kRecordSector * 512);
  return bytes;
}

}  // namespace

class NtfsEfsStream : public ::testing::TestWithParam<EfsCase> {};

TEST_P(NtfsEfsStream, IsReadWholeOrNotAtAll) {
  const EfsCase& c = GetParam();
  handmade::Record r(60);
  r.AddResident(attr::kStandardInformation, StandardInformation(0x20, 1, 2, 3));
  r.AddResident(attr::kFileName, FileName(kRoot, "secret.doc", 1));
  r.AddNonResident(attr::kData, 512, 500, 500, {0x11, 0x01, 0x30, 0x00}, 0, "", attr::kFlagEncrypted);
  std::vector<uint8_t> value(c.dataSize, 0x5A);
  corvale::putLE(value.data(), c.lengthField, 8);
  if (c.resident) {
    r.AddResident(attr::kLoggedUtilityStream, value, c.name);
  } else {
    r.AddNonResident(attr::kLoggedUtilityStream, 1536, c.dataSize, c.initialized, c.runs, 2, c.name);
  }
  MemoryDevice device(EfsDevice(r.Finish(), c.lengthField), 512);
  if (c.badSector) device.SetBadSector(200);

  CFileSystemNode* root = CreateFileSystemNode();
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(root, FreeFileTree);
  root->SetPosition(0, 1);
  CFileNode* file = root->AddChild(CreateFileNode());
  auto* p = new CNTFSFileProperties();
  p->SetName("secret.doc");
  p->SetRecordSector(kRecordSector);
  file->SetFileProperties(p);

  std::vector<uint8_t> buffer(c.capacity, 0xEE);
  uint32_t size = 0;
  ASSERT_EQ(ReadNTFSEfsStream(file, &device, &size, buffer.data(), c.capacity), c.readable);
  if (!c.readable) return;
  ASSERT_EQ(size, c.dataSize);
  EXPECT_EQ(corvale::ByteReader(buffer.data(), size).u64(0), c.dataSize);
  if (c.resident) {
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 8, buffer.begin() + size),
              std::vector<uint8_t>(value.begin() + 8, value.end()));
    return;
  }
  // Cluster 200, then a hole, then cluster 202; nothing past the initialized size.
  for (uint32_t i = 8; i < size; ++i) {
    const uint8_t want = i >= c.initialized ? 0 : i < 512 ? 200 : i < 1024 ? 0 : 202;
    ASSERT_EQ(buffer[i], want) << i;
  }
  EXPECT_EQ(buffer[size], 0xEE);  // nothing written past the stream
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NtfsEfsStream,
    ::testing::Values(EfsCase{"resident", true, 300, 300, 0, {}, "$EFS", false, 4096, true},
                      EfsCase{"resident_length_differs", true, 299, 300, 0, {}, "$EFS", false, 4096, false},
                      EfsCase{"resident_too_large", true, 300, 300, 0, {}, "$EFS", false, 200, false},
                      EfsCase{"other_stream_only", true, 300, 300, 0, {}, "$TXF_DATA", false, 4096, false},
                      EfsCase{"nonresident_with_hole",
                              false,
                              1400,
                              1400,
                              1300,
                              {0x21, 0x01, 0xC8, 0x00, 0x01, 0x01, 0x11, 0x01, 0x02, 0x00},
                              "$EFS",
                              false,
                              4096,
                              true},
                      EfsCase{"nonresident_length_differs",
                              false,
                              1399,
                              1400,
                              1400,
                              {0x21, 0x01, 0xC8, 0x00, 0x01, 0x01, 0x11, 0x01, 0x02, 0x00},
                              "$EFS",
                              false,
                              4096,
                              false},
                      EfsCase{"nonresident_read_fails",
                              false,
                              1400,
                              1400,
                              1400,
                              {0x21, 0x01, 0xC8, 0x00, 0x01, 0x01, 0x11, 0x01, 0x02, 0x00},
                              "$EFS",
                              true,
                              4096,
                              false},
                      EfsCase{"nonresident_runs_end_early",
                              false,
                              1400,
                              1400,
                              1400,
                              {0x21, 0x01, 0xC8, 0x00, 0x00},
                              "$EFS",
                              false,
                              4096,
                              false},
                      EfsCase{"nonresident_too_large",
                              false,
                              1400,
                              1400,
                              1400,
                              {0x21, 0x01, 0xC8, 0x00, 0x01, 0x01, 0x11, 0x01, 0x02, 0x00},
                              "$EFS",
                              false,
                              1000,
                              false},
                      EfsCase{"nonresident_run_before_the_volume",
                              false,
                              1400,
                              1400,
                              1400,
                              {0x11, 0x03, 0xF0, 0x00},
                              "$EFS",
                              false,
                              4096,
                              false},
                      EfsCase{"nonresident_run_string_past_its_attribute",
                              false,
                              1400,
                              1400,
                              1400,
                              {0x11, 0x03, 0x10, 0x44, 0x01, 0x02, 0x03},
                              "$EFS",
                              false,
                              4096,
                              false}),
    [](const ::testing::TestParamInfo<EfsCase>& info) { return std::string(info.param.what); });

// Real records of every kind, mutated, made into properties, saved and loaded, and read from as the
// recovery reads them, with the mutant in its place on the device. Under the sanitizers this shows
// that no record reaches outside its buffers, and that whatever properties a mutant gives survive
// the state stream.
TEST(NtfsFilePropertiesMutation, DamagedRecordsNeverBreakTheProperties) {
  for (const char* kind : {"files-c4096", "files-s4096"}) {
    SCOPED_TRACE(kind);
    CORVALE_NTFS_VOLUME(volume, kind);
    const uint32_t sectorSize = volume->geometry.bytesPerSector;
    const uint32_t recordSize = volume->RecordSize();
    MemoryDevice device(volume->image, int32_t(sectorSize));
    NTFSMftPlacement placement{&volume->mftRuns, 0, sectorSize, volume->geometry.bytesPerCluster, recordSize};
    std::vector<int64_t> picks;
    for (const NtfsEntry& e : volume->manifest.entries) picks.push_back(e.record);

    CFileSystemNode* root = CreateFileSystemNode();
    std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(root, FreeFileTree);
    root->SetPosition(0, volume->geometry.bytesPerCluster / sectorSize);
    CFileNode* node = root->AddChild(CreateFileNode());

    std::mt19937_64 rng(0x5EED + recordSize);
    size_t made = 0;
    std::vector<uint8_t> buffer(65536);
    for (int i = 0; i < 2500; ++i) {
      const int64_t number = picks[rng() % picks.size()];
      std::vector<uint8_t> record = volume->records.at(size_t(number));
      const bool reprotect = rng() % 2 == 0 && ApplyFileRecordFixup(record.data(), record.size());
      Mutate(record, rng);
      if (reprotect) RestoreFileRecordFixup(record.data(), record.size());
      const int64_t sector = volume->RecordSector(uint64_t(number));
      uint8_t* onDevice = device.Bytes().data() + uint64_t(sector) * sectorSize;
      const std::vector<uint8_t> original(onDevice, onDevice + recordSize);
      std::copy(record.begin(), record.end(), onDevice);

      auto extensions =
          BuildAttributeListEntries(record.data(), record.size(), sector, number, &device, placement);
      CNTFSFileRecord file(record.data(), record.size(), sector, &device, extensions.get(), recordSize,
                           number);
      int64_t parent = -1;
      std::unique_ptr<CNTFSFileProperties> p =
          CreateNTFSFilePropertiesFromRecord(sector, file, volume->geometry.bytesPerCluster, &parent);
      if (p) {
        ++made;
        p->SetExtensionRecords(std::move(extensions));
        if (std::unique_ptr<IDataRunList> runs = p->CreateDataRunList()) {
          for (const DataRun& run : runs->Runs())
            EXPECT_TRUE(run.IsSparse() || run.start < (uint64_t(1) << 62));
        }
        MemoryStateStream stream;
        stream.BeginSection(TestSection(1));
        SavePropertiesRecord(stream, p.get());
        stream.StartReading();
        stream.BeginSection(TestSection(1));
        std::unique_ptr<IFileProperties> loaded = LoadPropertiesRecord(stream);
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(loaded->GetSize(), p->GetSize());
        EXPECT_STREQ(loaded->GetName(), p->GetName());

        node->SetFileProperties(p.get());
        uint32_t size = 0;
        if (ReadNTFSResidentData(node, &device, &size, buffer.data(), uint32_t(buffer.size()))) {
          EXPECT_LE(size, buffer.size());
        }
        ReadNTFSEfsStream(node, &device, &size, buffer.data(), uint32_t(buffer.size()));
        node->SetFileProperties(nullptr);
      }
      std::copy(original.begin(), original.end(), onDevice);
    }
    EXPECT_GT(made, 500u);
  }
}
