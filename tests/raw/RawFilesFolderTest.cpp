// The "Raw Files" folder built over found-file lists: folder shapes by file count, which files are
// kept (types, used clusters, embedded JPEGs, files measured here), progress and cancel, the worker
// variant, and a device of 4096-byte sectors seen through its 512-byte view.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "RawTestSupport.h"
#include "core/ClusterUseBitMap.h"
#include "core/FileDataReader.h"
#include "core/FileNode.h"
#include "core/FileSystemTree.h"
#include "core/IDIRBuildCallback.h"
#include "core/MemoryStateStream.h"
#include "core/RawFilesFolder.h"
#include "core/TypedFileExtent.h"
#include "platform/RecoveryContext.h"
#include "raw/RAWFileProperties.h"
#include "raw/RawFileAnalyserList.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawFilesFolderBuilder.h"
#include "storage/MemoryDevice.h"

namespace {

using rawtest::Bytes;

constexpr int32_t kJpg = kRawTypeJPG;
constexpr int32_t kPng = kRawTypePNG;

// The RAW options of one test, put back afterwards.
class ScopedRawOptions {
 public:
  ScopedRawOptions() : m_saved(GetRecoveryContext().GetRawOptions()) {}
  ~ScopedRawOptions() { GetRecoveryContext().SetRawOptions(m_saved); }

 private:
  RecoveryRawOptions m_saved;
};

struct Record {
  uint64_t start;
  uint64_t size;
  int32_t type = kJpg;
  int32_t analyser = kJpg;  // the JPEG analyser's id
  std::string first = {};
  std::string second = {};
};

void Fill(CRawFileInfoList& list, const std::vector<Record>& records) {
  for (const Record& r : records) {
    auto* f = new CRawFileInfo();
    f->SetStartSector(r.start);
    f->SetFileSize(r.size);
    f->SetFileType(r.type);
    f->SetAnalyserTypeId(r.analyser);
    f->SetFirstInfoText(r.first);
    f->SetSecondInfoText(r.second);
    list.Add(f);
  }
}

// `count` JPEG files of one sector each, two sectors apart.
std::vector<Record> Jpegs(int count) {
  std::vector<Record> records;
  for (int i = 0; i < count; ++i) records.push_back({static_cast<uint64_t>(10 + 2 * i), 512});
  return records;
}

const CRAWFileProperties& Raw(const CFileNode* node) {
  return dynamic_cast<const CRAWFileProperties&>(*node->GetFileProperties());
}

std::string NameOf(const CFileNode* node) { return node->GetFileProperties()->GetName(); }

std::vector<CFileNode*> Children(const CFileNode* folder) {
  std::vector<CFileNode*> out;
  for (CFileNode* c = folder->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) out.push_back(c);
  return out;
}

std::vector<std::string> ChildNames(const CFileNode* folder) {
  std::vector<std::string> out;
  for (CFileNode* c : Children(folder)) out.push_back(NameOf(c));
  return out;
}

CFileNode* Child(const CFileNode* folder, const std::string& name) {
  for (CFileNode* c : Children(folder)) {
    if (NameOf(c) == name) return c;
  }
  return nullptr;
}

// The names from the root down to the node.
std::string RelativeName(const CFileNode* node) {
  std::string path = NameOf(node);
  for (const CFileNode* up = node->GetParent(); up != nullptr; up = up->GetParent())
    path = NameOf(up) + "/" + path;
  return path;
}

// Every file below `node`: start sector of its run -> its node.
std::map<uint64_t, CFileNode*> FilesByStart(CFileNode* node) {
  std::map<uint64_t, CFileNode*> out;
  WalkSubtree(node, [&](CFileNode* n) {
    if (n->GetFileProperties()->IsFolder()) return;
    auto runs = n->GetFileProperties()->CreateDataRunList();
    if (runs && runs->GetRunCount() > 0) out[runs->Runs().front().start] = n;
  });
  return out;
}

// Owns a built tree.
struct Tree {
  CFileSystemNode* root = nullptr;
  Tree() = default;
  explicit Tree(CFileSystemNode* r) : root(r) {}
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;
  ~Tree() { FreeFileTree(root); }
};

class RecordingCallback : public IDIRBuildCallback {
 public:
  int32_t BeginStage(const char* title, int32_t range) override {
    text = title;
    total = range;
    return 0;
  }
  int32_t AddProgress(int32_t n) override {
    advanced += n;
    return cancelAfter >= 0 && advanced >= cancelAfter ? -1 : 0;
  }
  int32_t StepTo(int32_t) override { return 0; }
  int32_t EndStage() override {
    ++ended;
    return 0;
  }
  int32_t Poll() override {
    ++polls;
    return 0;
  }

  std::string text;
  int32_t total = -1;
  int32_t advanced = 0;
  int32_t ended = 0;
  int32_t polls = 0;
  int32_t cancelAfter = -1;
};

class SectorSetMap : public IIsClusterUsed {
 public:
  explicit SectorSetMap(std::set<uint64_t> used) : m_used(std::move(used)) {}
  bool IsClusterUsed(uint64_t sector) const override { return m_used.count(sector) != 0; }

 private:
  std::set<uint64_t> m_used;
};

class RawFilesFolder : public ::testing::Test {
 protected:
  RawFilesFolder() : device(Bytes(4096 * 512, 0)) {}

  CFileSystemNode* Build(const std::vector<Record>& records, IIsClusterUsed* map = nullptr,
                         IDIRBuildCallback* callback = nullptr, IStorageDevice* on = nullptr) {
    Fill(list, records);
    CRawFilesFolderBuilder builder;
    return builder.BuildRawFilesFolder(on != nullptr ? on : &device, list.GetIterator(), map, callback, 0);
  }

  ScopedRawOptions options;
  MemoryDevice device;
  CRawFileInfoList list;
};

// Folder shapes by file count: large types are split into range folders of 300, numbered from 1,
// the newest first in the list; a range folder that would stay empty is not left behind.
struct ShapeCase {
  int files;
  std::vector<std::string> folders;  // below "JPEG Graphics file", in list order; empty: files right there
};

class RawFilesFolderShape : public RawFilesFolder, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(RawFilesFolderShape, SplitsByThreeHundred) {
  const ShapeCase& c = GetParam();
  Tree tree(Build(Jpegs(c.files)));
  ASSERT_NE(tree.root, nullptr);
  EXPECT_EQ(NameOf(tree.root), "Raw Files");
  EXPECT_EQ(tree.root->GetFileSystemType(), 6);
  uint64_t first = 9;
  uint32_t perCluster = 9;
  EXPECT_TRUE(tree.root->GetPosition(first, perCluster));
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(perCluster, 1u);
  EXPECT_EQ(tree.root->GetFileProperties()->GetAttributes(), kAttributeFolder);
  EXPECT_EQ(tree.root->GetFileProperties()->GetTypeWord(), CRAWFileProperties::kTypeFolder);

  ASSERT_EQ(ChildNames(tree.root), std::vector<std::string>{"JPEG Graphics file"});
  CFileNode* type = tree.root->GetFirstChild();
  EXPECT_EQ(type->GetFileProperties()->GetTypeWord(), CRAWFileProperties::kTypeFolder);
  if (c.folders.empty()) {
    EXPECT_EQ(Children(type).size(), static_cast<size_t>(c.files));
    EXPECT_EQ(NameOf(type->GetFirstChild()), "FILE" +
                                                 std::string(c.files < 10    ? "00"
                                                             : c.files < 100 ? "0"
                                                                             : "") +
                                                 std::to_string(c.files) + ".JPG");
    return;
  }
  ASSERT_EQ(ChildNames(type), c.folders);
  // Each range folder "a-b" holds FILEa.JPG to FILEb.JPG, newest first.
  size_t total = 0;
  for (CFileNode* range : Children(type)) {
    const std::string name = NameOf(range);
    const int a = std::stoi(name.substr(0, name.find('-')));
    const int b = std::stoi(name.substr(name.find('-') + 1));
    const std::vector<CFileNode*> files = Children(range);
    ASSERT_EQ(files.size(), static_cast<size_t>(b - a + 1)) << name;
    char expected[32];
    std::snprintf(expected, sizeof expected, "FILE%03d.JPG", b);
    EXPECT_EQ(NameOf(files.front()), expected);
    std::snprintf(expected, sizeof expected, "FILE%03d.JPG", a);
    EXPECT_EQ(NameOf(files.back()), expected);
    for (CFileNode* f : files) EXPECT_FALSE(f->GetFileProperties()->IsFolder());
    total += files.size();
  }
  EXPECT_EQ(total, static_cast<size_t>(c.files));
}

INSTANTIATE_TEST_SUITE_P(Counts, RawFilesFolderShape,
                         ::testing::Values(ShapeCase{299, {}}, ShapeCase{300, {"1-300"}},
                                           ShapeCase{301, {"301-301", "1-300"}},
                                           ShapeCase{600, {"301-600", "1-300"}},
                                           ShapeCase{750, {"601-750", "301-600", "1-300"}},
                                           ShapeCase{1000, {"901-1000", "601-900", "301-600", "1-300"}}),
                         [](const auto& info) { return "Files" + std::to_string(info.param.files); });

TEST_F(RawFilesFolder, FilesCarrySizeRunCommentAndNumberedNames) {
  Tree tree(Build({{100, 1025, kJpg, kJpg, "Canon EOS 5D", "2011:05:06 07:08:09"},
                   {200, 700, kPng, kPng},
                   {300, 40, kJpg, kJpg}}));
  ASSERT_NE(tree.root, nullptr);
  // Type folders in front of the root's list as they are made.
  EXPECT_EQ(ChildNames(tree.root),
            (std::vector<std::string>{"Portable Network Graphic file", "JPEG Graphics file"}));
  CFileNode* jpegs = Child(tree.root, "JPEG Graphics file");
  ASSERT_NE(jpegs, nullptr);
  EXPECT_EQ(ChildNames(jpegs), (std::vector<std::string>{"FILE002.JPG", "Canon EOS 5D001.JPG"}));
  const CRAWFileProperties& camera = Raw(Child(jpegs, "Canon EOS 5D001.JPG"));
  EXPECT_EQ(camera.GetSize(), 1025u);
  EXPECT_EQ(camera.GetAttributes(), CRAWFileProperties::kAttributeFile);
  EXPECT_EQ(camera.GetTypeWord(), 0);
  EXPECT_EQ(camera.GetExtraText(), "2011:05:06 07:08:09");
  auto runs = camera.CreateDataRunList();
  ASSERT_NE(runs, nullptr);
  EXPECT_EQ(std::vector<DataRun>(runs->Runs().begin(), runs->Runs().end()), (std::vector<DataRun>{{100, 3}}));
  EXPECT_EQ(ChildNames(Child(tree.root, "Portable Network Graphic file")),
            std::vector<std::string>{"FILE001.PNG"});
}

// The whole folder as a state file keeps it: folders, names, sizes, comments and runs.
TEST_F(RawFilesFolder, SavedTreeComesBackWhole) {
  std::vector<Record> records = Jpegs(301);
  records.push_back({900, 5000, kPng, kPng, "Holiday", "2011"});
  Tree tree(Build(records));
  ASSERT_NE(tree.root, nullptr);
  auto describe = [](CFileNode* root) {
    std::vector<std::string> lines;
    WalkSubtree(root, [&](CFileNode* n) {
      const IFileProperties* p = n->GetFileProperties();
      std::string line = RelativeName(n) + "|" + std::to_string(p->GetSize()) + "|" + p->GetExtraText() +
                         "|" + std::to_string(p->GetAttributes()) + "|" + std::to_string(p->GetTypeWord());
      if (auto runs = p->CreateDataRunList()) {
        for (const DataRun& r : runs->Runs())
          line += "|" + std::to_string(r.start) + "+" + std::to_string(r.length);
      }
      lines.push_back(line);
    });
    return lines;
  };
  MemoryStateStream stream;
  ASSERT_TRUE(WriteFileSystemTree(tree.root, stream, nullptr));
  stream.StartReading();
  Tree back(ReadFileSystemTree(stream, nullptr));
  ASSERT_NE(back.root, nullptr);
  EXPECT_EQ(back.root->GetFileSystemType(), 6);
  EXPECT_EQ(describe(back.root), describe(tree.root));
}

TEST_F(RawFilesFolder, RecoveryOffGivesNoTree) {
  GetRecoveryContext().RecoverRawFiles = 0;
  EXPECT_EQ(Build(Jpegs(3)), nullptr);
}

// A JPEG lying inside the JPEG found before it is an embedded thumbnail or preview when its size is
// under a tenth or over nine tenths of the outer one.
struct EmbeddedCase {
  const char* name;
  uint64_t start;
  uint64_t size;
  bool kept;
};

class RawFilesFolderEmbeddedJpeg : public RawFilesFolder,
                                   public ::testing::WithParamInterface<EmbeddedCase> {};

TEST_P(RawFilesFolderEmbeddedJpeg, KeepsOnlyWhatIsNotACopy) {
  const EmbeddedCase& c = GetParam();
  // The outer image: sectors 100 to 295.
  Tree tree(Build({{100, 100000}, {c.start, c.size}}));
  ASSERT_NE(tree.root, nullptr);
  const auto files = FilesByStart(tree.root);
  EXPECT_EQ(files.count(100), 1u);
  EXPECT_EQ(files.count(c.start), c.kept ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RawFilesFolderEmbeddedJpeg,
                         ::testing::Values(EmbeddedCase{"FivePercentInside", 110, 5000, false},
                                           EmbeddedCase{"NinetyFivePercentInside", 110, 95000, false},
                                           EmbeddedCase{"HalfInside", 110, 50000, true},
                                           EmbeddedCase{"TenthExactlyInside", 110, 10000, true},
                                           EmbeddedCase{"SmallButRunningPastTheEnd", 290, 5000, true},
                                           EmbeddedCase{"SmallAndAfterTheOuterOne", 400, 5000, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Files found inside files already taken: kept while their bytes stay within the bytes of the files
// that start clear of all others; past that they are passed over, and a file too large for the
// room left spends it.
struct InsideCase {
  const char* name;
  std::vector<Record> records;
  std::vector<uint64_t> kept;
};

class RawFilesFolderInside : public RawFilesFolder, public ::testing::WithParamInterface<InsideCase> {};

TEST_P(RawFilesFolderInside, KeepsFilesInsideFilesInProportion) {
  const InsideCase& c = GetParam();
  Tree tree(Build(c.records));
  ASSERT_NE(tree.root, nullptr);
  std::vector<uint64_t> kept;
  for (const auto& [start, node] : FilesByStart(tree.root)) kept.push_back(start);
  EXPECT_EQ(kept, c.kept);
}

constexpr int32_t kGif = kRawTypeGIF;

INSTANTIATE_TEST_SUITE_P(
    Cases, RawFilesFolderInside,
    ::testing::Values(
        InsideCase{"PictureInsideALargerFileIsKept",
                   {{100, 100000, kPng, kPng}, {110, 20000, kGif, kGif}, {300, 512, kGif, kGif}},
                   {100, 110, 300}},
        InsideCase{"OneCopyRunningOnIsKeptTheNextIsNot",
                   {{100, 51200, kPng, kPng},
                    {101, 51200, kPng, kPng},
                    {102, 51200, kPng, kPng},
                    {201, 512, kPng, kPng}},
                   {100, 101, 201}},
        InsideCase{"TooLargeForTheRoomSpendsIt",
                   {{100, 10240, kPng, kPng},
                    {105, 20480, kGif, kGif},
                    {110, 512, kGif, kGif},
                    {120, 512, kGif, kGif}},
                   {100, 120}},
        InsideCase{"TheSameStartTwiceIsACopy",
                   {{100, 5120, kPng, kPng}, {100, 5120, kPng, kPng}, {100, 5120, kPng, kPng}},
                   {100}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RawFilesFolder, AHeaderInEverySectorKeepsAtMostTwiceTheDevice) {
  const uint64_t sectors = static_cast<uint64_t>(device.GetSectorCount());
  std::vector<Record> records;
  for (uint64_t s = 0; s < sectors; ++s) records.push_back({s, 64 * 512, kPng, kPng});
  CRawFilesFolderBuilder builder;
  Fill(list, records);
  Tree tree(builder.BuildRawFilesFolder(&device, list.GetIterator(), nullptr, nullptr, 0));
  ASSERT_NE(tree.root, nullptr);
  uint64_t bytes = 0;
  const auto files = FilesByStart(tree.root);
  for (const auto& [start, node] : files) bytes += node->GetFileProperties()->GetSize();
  EXPECT_LE(bytes, 2 * sectors * 512);
  // A file at sector 0, a copy inside it at sector 1, the next clear file at 65, and so on.
  EXPECT_LE(files.size(), 2 * (sectors / 65 + 1));
  EXPECT_EQ(files.count(0), 1u);
  EXPECT_EQ(files.count(1), 1u);
  EXPECT_EQ(files.count(65), 1u);
  EXPECT_EQ(files.count(66), 1u);
  EXPECT_EQ(files.count(2), 0u);
}

TEST_F(RawFilesFolder, EmbeddedRuleLooksOnlyAtJpegs) {
  // A PNG inside the JPEG is a file of its own; a small JPEG after the PNG is still compared with
  // the JPEG before it.
  Tree tree(Build({{100, 100000}, {110, 5000, kPng, kPng}, {120, 5000}}));
  const auto files = FilesByStart(tree.root);
  EXPECT_EQ(files.count(110), 1u);
  EXPECT_EQ(files.count(120), 0u);
}

TEST_F(RawFilesFolder, ChosenTypesAndUsedClustersDecide) {
  GetRecoveryContext().RawFileTypes = {kJpg};
  SectorSetMap map({20});
  RecordingCallback callback;
  Tree tree(Build({{10, 512}, {20, 512}, {30, 512, kPng, kPng}, {40, 512, 2000, kJpg}, {50, 512, -3, kJpg}},
                  &map, &callback));
  ASSERT_NE(tree.root, nullptr);
  const auto files = FilesByStart(tree.root);
  EXPECT_EQ(files.size(), 1u);
  EXPECT_EQ(files.count(10), 1u);
  // The total leaves out the used file only: it counts before types are looked at.
  EXPECT_EQ(callback.total, 4);
  EXPECT_EQ(callback.text, "Building RAW file tree.");
  EXPECT_EQ(callback.advanced, 1);
  EXPECT_EQ(callback.ended, 1);
  EXPECT_EQ(callback.polls, 5);
}

TEST_F(RawFilesFolder, CancelReturnsTheFilesSoFarWithFinishedNames) {
  RecordingCallback callback;
  callback.cancelAfter = 301;
  CRawFilesFolderBuilder builder;
  Fill(list, Jpegs(400));
  Tree tree(builder.BuildRawFilesFolder(&device, list.GetIterator(), nullptr, &callback, 0));
  ASSERT_NE(tree.root, nullptr);
  EXPECT_TRUE(builder.AreNamesFinished());
  EXPECT_EQ(builder.GetFileCount(kJpg), 301);
  EXPECT_EQ(ChildNames(tree.root->GetFirstChild()), (std::vector<std::string>{"301-301", "1-300"}));
  EXPECT_EQ(callback.ended, 1);
  EXPECT_EQ(callback.total, 400);
}

TEST_F(RawFilesFolder, SizesAreCappedAndNoFileRunsPastTheDevice) {
  rawtest::ScopedMaxRawFileSize limit(100000);
  const uint64_t sectors = static_cast<uint64_t>(device.GetSectorCount());
  Tree tree(Build({{10, 5000000}, {sectors - 2, 5000}, {sectors, 512}}));
  const auto files = FilesByStart(tree.root);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files.at(10)->GetFileProperties()->GetSize(), 100000u);
  EXPECT_EQ(files.at(sectors - 2)->GetFileProperties()->GetSize(), 1024u);
}

TEST_F(RawFilesFolder, NamesFromFileContentsStayShortAndPlain) {
  const std::string title = "AC/DC: \"Back\" <in> |Black|?*\\" + std::string(300, 'x');
  Tree tree(Build({{10, 512, kJpg, kJpg, title, std::string(400, 'c')}}));
  const CFileNode* file = Children(tree.root->GetFirstChild()).at(0);
  const std::string name = NameOf(file);
  EXPECT_EQ(name.size(), CRawFilesFolderBuilder::kMaxNodeName);
  EXPECT_EQ(name.substr(0, 29), "AC_DC_ _Back_ _in_ _Black____");
  EXPECT_EQ(name.substr(name.size() - 7), "001.JPG");
  EXPECT_EQ(file->GetFileProperties()->GetNameLength(), name.size() + 1);
  EXPECT_EQ(file->GetFileProperties()->GetExtraText().size(), CRAWFileProperties::kMaxTextLength);
}

TEST(RawFilesFolderNames, PrefixOrFileThenTheCountAndTheExtension) {
  CRawFilesFolderBuilder builder;
  EXPECT_EQ(builder.FileName(kJpg, ""), "FILE000.JPG");
  EXPECT_EQ(builder.FileName(kPng, "Holiday"), "Holiday000.PNG");
}

// Files the scan could not measure are measured here, through the analyser of their analyser id.
class MeasuringAnalyser : public IRawFileAnalyser {
 public:
  static constexpr int32_t kId = 4242;
  MeasuringAnalyser() { m_typeId = kId; }
  bool IsFileHeader(const uint8_t*, CRawFileInfo*) override { return false; }
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice*) override {
    ++calls;
    const uint64_t start = file->GetStartSector();
    if (start == 30) throw std::runtime_error("damaged");
    if (start == 40) {
      file->SetFileSize(777);
      return false;
    }
    file->SetFileSize(start == 20 ? 900000 : 3000);
    return true;
  }
  std::string GetFirstInfoText() override { return "Cam"; }
  std::string GetSecondInfoText() override { return "2004:01:02"; }
  int calls = 0;
};

TEST_F(RawFilesFolder, UnmeasuredFilesAreMeasuredOrLeftOut) {
  CRawFileAnalyserList& analysers = GetRawFileAnalyserList();
  auto owned = std::make_unique<MeasuringAnalyser>();
  MeasuringAnalyser* analyser = owned.get();
  analysers.push_back(std::move(owned));
  rawtest::ScopedMaxRawFileSize limit(100000);
  const int32_t id = MeasuringAnalyser::kId;
  Tree tree(Build({{10, 0, kJpg, id},
                   {20, 0, kJpg, id},
                   {30, 0, kJpg, id},
                   {40, 0, kJpg, id},
                   {50, 0, kJpg, -1},
                   {60, 0, kJpg, 4243}}));
  // The analyser of the custom signatures (-1) and an unknown id are never asked.
  EXPECT_EQ(analyser->calls, 4);
  analysers.Clear();
  CreateAllRawFileAnalysers(analysers);

  ASSERT_NE(tree.root, nullptr);
  const auto files = FilesByStart(tree.root);
  EXPECT_EQ(files.size(), 2u);
  ASSERT_EQ(files.count(10), 1u);
  EXPECT_EQ(files.at(10)->GetFileProperties()->GetSize(), 3000u);
  EXPECT_EQ(NameOf(files.at(10)), "Cam001.JPG");
  EXPECT_EQ(files.at(10)->GetFileProperties()->GetExtraText(), "2004:01:02");
  ASSERT_EQ(files.count(20), 1u);
  EXPECT_EQ(files.at(20)->GetFileProperties()->GetSize(), 100000u);
  // Every record measured here is left at size 0 for the next build.
  IIterator<CRawFileInfo*>* it = list.GetIterator();
  for (; !it->IsEnd(); it->Next())
    EXPECT_EQ(it->Current()->GetFileSize(), 0u) << it->Current()->GetStartSector();
}

TEST_F(RawFilesFolder, WorkerBuildGivesTheSameTree) {
  Fill(list, Jpegs(20));
  CRawFilesFolderBuilder onWorker;
  Tree worker(onWorker.BuildRawFilesFolder(&device, list.GetIterator(), nullptr, nullptr, 1));
  CRawFilesFolderBuilder inThread;
  Tree here(inThread.BuildRawFilesFolder(&device, list.GetIterator(), nullptr, nullptr, 0));
  ASSERT_NE(worker.root, nullptr);
  EXPECT_EQ(ChildNames(worker.root->GetFirstChild()), ChildNames(here.root->GetFirstChild()));
}

// On a device of 4096-byte sectors seen through its 512-byte view (as the Ext2 build reads it), the
// map and the runs count the view's sectors, so the recovery reads the file's own bytes.
TEST(RawFilesFolderOnLargeSectors, RunsAndMapCountTheViewsSectors) {
  ScopedRawOptions options;
  Bytes bytes = rawtest::RandomBytes(64 * 4096, 3);
  MemoryDevice disk(bytes, 4096);
  IStorageDevice* view = disk.GetDeviceWith512ByteSectors();
  ASSERT_NE(view->GetInnerDevice(), nullptr);
  CRawFileInfoList list;
  Fill(list, {{10, 6000}, {20, 3000}});
  SectorSetMap map({20 * 8});
  EXPECT_EQ(CRawFilesFolderBuilder::CountFilesOutsideUsedClusters(list.GetIterator(), &map, 8), 1);
  CRawFilesFolderBuilder builder;
  Tree tree(builder.BuildRawFilesFolder(view, list.GetIterator(), &map, nullptr, 0));
  ASSERT_NE(tree.root, nullptr);
  const auto files = FilesByStart(tree.root);
  ASSERT_EQ(files.size(), 1u);
  ASSERT_EQ(files.count(80), 1u);
  FileDataReader reader;
  ASSERT_TRUE(reader.Open(view, files.at(80)));
  Bytes read(6000);
  ASSERT_EQ(reader.ReadAt(0, read.data(), read.size()), read.size());
  EXPECT_TRUE(std::equal(read.begin(), read.end(), bytes.begin() + 10 * 4096));
}

// Records as a damaged state file could hold them: any start, size, type and analyser id. The build
// survives them, and every file it keeps lies on the device.
TEST(RawFilesFolderOnGarbage, KeepsOnlyFilesThatLieOnTheDevice) {
  ScopedRawOptions options;
  MemoryDevice disk(Bytes(64 * 4096, 0), 4096);
  IStorageDevice* view = disk.GetDeviceWith512ByteSectors();
  std::mt19937_64 random(17);
  const uint64_t starts[] = {0, 1, 63, 64, ~uint64_t{0}, ~uint64_t{0} / 8 + 1, uint64_t{1} << 61};
  const uint64_t sizes[] = {0, 1, 4096, 262144, ~uint64_t{0}, uint64_t{1} << 63};
  const int32_t types[] = {-1, 0, kJpg, kPng, 1999, 2000, INT32_MAX, INT32_MIN};
  const int32_t analysers[] = {-1, 0, kJpg, 0xFFFF, 60, 4242};
  CRawFileInfoList list;
  for (int i = 0; i < 2000; ++i) {
    auto* f = new CRawFileInfo();
    f->SetStartSector(i % 3 == 0 ? random() % 80 : starts[random() % std::size(starts)]);
    f->SetFileSize(i % 3 == 1 ? random() % 300000 : sizes[random() % std::size(sizes)]);
    f->SetFileType(types[random() % std::size(types)]);
    f->SetAnalyserTypeId(analysers[random() % std::size(analysers)]);
    list.Add(f);
  }
  SectorSetMap map({8, 16, 24});
  CRawFilesFolderBuilder builder;
  Tree tree(builder.BuildRawFilesFolder(view, list.GetIterator(), &map, nullptr, 0));
  ASSERT_NE(tree.root, nullptr);
  const uint64_t viewBytes = static_cast<uint64_t>(view->GetSectorCount()) * 512;
  size_t kept = 0;
  WalkSubtree(tree.root, [&](CFileNode* n) {
    const IFileProperties* p = n->GetFileProperties();
    if (p->IsFolder()) return;
    ++kept;
    auto runs = p->CreateDataRunList();
    ASSERT_NE(runs, nullptr);
    const DataRun run = runs->Runs().front();
    EXPECT_LE(run.start * 512 + p->GetSize(), viewBytes);
    EXPECT_EQ(run.start % 8, 0u);
  });
  EXPECT_GT(kept, 0u);
}

TEST(RawEngineHooks, FolderAndSignatureAnswersReachTheCore) {
  ScopedRawOptions options;
  MemoryDevice disk(Bytes(256 * 512, 0));
  CRawFileInfoList list;
  Fill(list, {{10, 512}, {20, 512, kPng, kPng}, {20, 1024, kJpg, kJpg}});
  const ISignatureResults* results = GetSignatureResults(&list);
  ASSERT_NE(results, nullptr);
  int32_t type = -9;
  EXPECT_TRUE(results->FindFileType(20, type));
  EXPECT_EQ(type, kPng);  // the first file found there
  EXPECT_FALSE(results->FindFileType(11, type));

  Tree tree(BuildRawFilesFolderOver(&disk, &list, nullptr, nullptr));
  ASSERT_NE(tree.root, nullptr);
  int files = 0;
  WalkSubtree(tree.root, [&](CFileNode* n) { files += n->GetFileProperties()->IsFolder() ? 0 : 1; });
  EXPECT_EQ(files, 3);
  // A partition whose carved files all lie in used clusters gets no folder at all.
  SectorSetMap allUsed({10, 20});
  EXPECT_EQ(BuildRawFilesFolderOver(&disk, &list, &allUsed, nullptr), nullptr);
}

}  // namespace
