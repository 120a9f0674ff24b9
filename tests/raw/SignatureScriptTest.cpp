// Signature scripts: the user's own file types. The script rules line by line, loading a folder of
// scripts (order, ids, refused scripts named with their line), running out of ids, a FAT disk of
// made-up files carved through the scripts into the result tree, and damaged scripts under the
// sanitizers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "RawTestSupport.h"
#include "core/DataRunList.h"
#include "core/FileDataReader.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileSystemTree.h"
#include "core/IntelligentSearchController.h"
#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "raw/CustomFileAnalyser.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileAnalyserList.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawFilesFolderBuilder.h"
#include "storage/ImageFileDevice.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

namespace {

using rawtest::Bytes;

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
  return text;
}

// The patterns as "offset:hex bytes" joined by blanks.
std::string Describe(const CCustomHeader& h) {
  std::string out;
  for (const CustomSignature& s : h.GetSignatures()) {
    char part[64];
    std::snprintf(part, sizeof part, "%s%x:", out.empty() ? "" : " ", s.Offset);
    out += part;
    for (uint32_t i = 0; i < s.Length; ++i) {
      std::snprintf(part, sizeof part, "%02X", s.Value[i]);
      out += part;
    }
  }
  return out;
}

std::unique_ptr<RawFileTypeTable> FreshTable() { return std::make_unique<RawFileTypeTable>(); }

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

const std::string kInfo = "FILEINFO: EXTNAME=\"DAT\"";
const std::string kSign = "FILESIGN: OFFSET=0x0 TYPE=BYTE VALUE=0x4D,0x5A";

TEST(SignatureScript, EveryRuleOfTheScriptText) {
  struct Case {
    std::string name;
    std::string text;
    bool loads;
    int line;                // of the refusal
    std::string extension;   // when it loads
    std::string signatures;  // when it loads
  };
  const std::string big(1030, 'x');
  const std::vector<Case> cases = {
      {"plain", Lines({kInfo, kSign}), true, 0, "DAT", "0:4D5A"},
      {"remarks and case of keywords", Lines({"REMARK: my format", "  fileinfo : EXTNAME = \"dat\" ", kSign}),
       true, 0, "DAT", "0:4D5A"},
      {"CR LF line ends, the last line ended too", Lines({"REMARK: x", kInfo, kSign}) + "\r\n", true, 0,
       "DAT", "0:4D5A"},
      {"LF line ends, the last line ended too", "REMARK: x\n" + kInfo + "\n" + kSign + "\n", true, 0, "DAT",
       "0:4D5A"},
      {"LF line ends, the last line not ended", kInfo + "\nFILESIGN: OFFSET=0x0 TYPE=CHAR VALUE=\"MZ\"", true,
       0, "DAT", "0:4D5A"},
      {"both kinds of line end in one script",
       Lines({kInfo, "FILESIGN: OFFSET=0x0 TYPE=CHAR VALUE=\"MZ\"\nREMARK: x"}), true, 0, "DAT", "0:4D5A"},
      {"a CR alone ends no line", Lines({kInfo, kSign + "\rREMARK: x"}), false, 2, "", ""},
      {"an empty line between lines", Lines({kInfo, "", kSign}), false, 2, "", ""},
      {"two line ends after the last line", Lines({kInfo, kSign}) + "\n\n", false, 3, "", ""},
      {"offset 0x1F0 is the last",
       Lines({kInfo, "FILESIGN: OFFSET=0x1F0 TYPE=CHAR VALUE=\"0123456789abcdef\""}), true, 0, "DAT",
       "1f0:30313233343536373839616263646566"},
      {"offset 0x1F1", Lines({kInfo, "FILESIGN: OFFSET=0x1F1 TYPE=BYTE VALUE=0x01"}), false, 2, "", ""},
      {"offset without 0x", Lines({kInfo, "FILESIGN: OFFSET=10 TYPE=BYTE VALUE=0x01"}), false, 2, "", ""},
      {"offset of 11 characters", Lines({kInfo, "FILESIGN: OFFSET=0x000000001 TYPE=BYTE VALUE=0x01"}), false,
       2, "", ""},
      {"blank after a comma", Lines({kInfo, "FILESIGN: OFFSET=0x0 TYPE=BYTE VALUE=0x4D, 0x5A"}), false, 2, "",
       ""},
      {"type in any case", Lines({kInfo, "FILESIGN: OFFSET=0x4 TYPE=char VALUE=\"ab\""}), true, 0, "DAT",
       "4:6162"},
      {"keys are case-sensitive", Lines({kInfo, "FILESIGN: OFFSET=0x4 type=CHAR VALUE=\"ab\""}), false, 2, "",
       ""},
      {"unknown type", Lines({kInfo, "FILESIGN: OFFSET=0x4 TYPE=WORD VALUE=0x01"}), false, 2, "", ""},
      {"one quote only", Lines({kInfo, "FILESIGN: OFFSET=0x4 TYPE=CHAR VALUE=\"ab"}), false, 2, "", ""},
      {"CHAR pattern of 17 bytes",
       Lines({kInfo, "FILESIGN: OFFSET=0x0 TYPE=CHAR VALUE=\"0123456789abcdefg\""}), false, 2, "", ""},
      {"BYTE pattern of 17 bytes",
       Lines({kInfo,
              "FILESIGN: OFFSET=0x0 TYPE=BYTE "
              "VALUE=0x1,0x2,0x3,0x4,0x5,0x6,0x7,0x8,0x9,0xA,0xB,0xC,0xD,0xE,0xF,0x10,0x11"}),
       false, 2, "", ""},
      {"byte above 0xFF", Lines({kInfo, "FILESIGN: OFFSET=0x0 TYPE=BYTE VALUE=0x100,0x01"}), false, 2, "",
       ""},
      {"last byte item of 5 characters", Lines({kInfo, "FILESIGN: OFFSET=0x0 TYPE=BYTE VALUE=0x01,0x041"}),
       false, 2, "", ""},
      {"empty items between commas", Lines({kInfo, "FILESIGN: OFFSET=0x8 TYPE=BYTE VALUE=0x01,,0x02"}), true,
       0, "DAT", "8:0102"},
      {"an empty pattern beside another", Lines({kInfo, kSign, "FILESIGN: OFFSET=0x9 TYPE=CHAR VALUE=\"\""}),
       true, 0, "DAT", "0:4D5A 9:"},
      {"only empty patterns", Lines({kInfo, "FILESIGN: OFFSET=0x9 TYPE=CHAR VALUE=\"\""}), false, 0, "", ""},
      {"no pattern", Lines({kInfo, "REMARK: nothing to look for"}), false, 0, "", ""},
      {"no FILEINFO", Lines({"REMARK: x", kSign}), false, 0, "", ""},
      {"EXTNAME without quotes loses two characters", Lines({"FILEINFO: EXTNAME=DAT", kSign}), true, 0, "A",
       "0:4D5A"},
      {"the first FILEINFO counts", Lines({kInfo, "FILEINFO: EXTNAME=\"XY\"", kSign}), true, 0, "DAT",
       "0:4D5A"},
      {"extension longer than the table holds", Lines({kSign, "FILEINFO: EXTNAME=\"TOOLONG\""}), false, 2, "",
       ""},
      {"extension of 17 characters", Lines({"FILEINFO: EXTNAME=\"ABCDEFGHIJKLMNOPQ\"", kSign}), false, 1, "",
       ""},
      {"extension that is a path", Lines({"FILEINFO: EXTNAME=\"../x\"", kSign}), false, 1, "", ""},
      {"empty extension", Lines({"FILEINFO: EXTNAME=\"\"", kSign}), false, 1, "", ""},
      {"unknown keyword", Lines({kInfo, "FILETYPE: x", kSign}), false, 2, "", ""},
      {"line without a colon", Lines({kInfo, kSign, "REMARK"}), false, 3, "", ""},
      {"longer than 1024 bytes", Lines({kInfo, kSign, "REMARK: " + big}), false, 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CCustomHeader header;
    ScriptLoadError error;
    EXPECT_EQ(header.LoadText("s.fhs", c.text, &error), c.loads) << error.Reason;
    if (c.loads) {
      EXPECT_EQ(header.GetExtension(), c.extension);
      EXPECT_EQ(Describe(header), c.signatures);
    } else {
      EXPECT_EQ(error.Path, "s.fhs");
      EXPECT_EQ(error.Line, c.line) << error.Reason;
      EXPECT_FALSE(error.Reason.empty());
    }
  }
}

TEST(SignatureScript, MatchesEveryPatternOfTheFirstSector) {
  CCustomHeader header;
  ASSERT_TRUE(header.LoadText(
      "m.fhs", Lines({kInfo, kSign, "FILESIGN: OFFSET=0x1F0 TYPE=CHAR VALUE=\"tail of sector!!\""})));
  Bytes sector(512, 0x11);
  sector[0] = 0x4D;
  sector[1] = 0x5A;
  EXPECT_FALSE(header.Match(sector.data()));
  std::memcpy(sector.data() + 0x1F0, "tail of sector!!", 16);
  EXPECT_TRUE(header.Match(sector.data()));
  sector[1] = 0x5B;
  EXPECT_FALSE(header.Match(sector.data()));
}

class ScriptFolder : public testing::Test {
 protected:
  void SetUp() override { dir = corvale::test::ScratchDir(); }
  std::string Put(const std::string& name, const std::string& text) {
    WriteText(dir + "/" + name, text);
    return dir + "/" + name;
  }
  static std::string Script(const std::string& ext, const std::string& magic) {
    return Lines(
        {"FILEINFO: EXTNAME=\"" + ext + "\"", "FILESIGN: OFFSET=0x0 TYPE=CHAR VALUE=\"" + magic + "\""});
  }
  std::string dir;
};

TEST_F(ScriptFolder, LoadsInNameOrderWithStableIdsAndNamesEveryRefusedScript) {
  // Made in the reverse of the order they load in, so that the folder's own order cannot agree by
  // chance.
  Put("notes.txt", Script("TXT", "T"));
  std::filesystem::create_directory(dir + "/sub.fhs");
  Put("e.fhs", Lines({kInfo, kSign, "FILESIGN: OFFSET=0x200 TYPE=BYTE VALUE=0x01"}));
  Put("d.FHS", Script("DD", "D"));
  Put("c.fhs", Lines({kInfo, "", kSign}));
  Put("b.fhs", Script("zz", "B"));
  const std::string readOnly = Put("a.fhs", Script("ZZ", "A"));
  ::chmod(readOnly.c_str(), 0444);

  corvale::log::ScopedCapture log;
  auto table = FreshTable();
  CCustomHeaderManage scripts;
  ASSERT_TRUE(scripts.Load(dir, *table));
  std::vector<std::pair<std::string, int32_t>> loaded;
  for (const auto& h : scripts.Headers()) loaded.emplace_back(h->GetExtension(), h->GetTypeId());
  EXPECT_EQ(loaded, (std::vector<std::pair<std::string, int32_t>>{{"ZZ", 1000}, {"ZZ", 1000}, {"DD", 1001}}));
  EXPECT_STREQ(table->Extensions[1000], "ZZ");
  EXPECT_STREQ(table->Extensions[1001], "DD");
  EXPECT_STREQ(table->Extensions[1002], "");

  ASSERT_EQ(scripts.Errors().size(), 2u);
  EXPECT_EQ(scripts.Errors()[0].Path, dir + "/c.fhs");
  EXPECT_EQ(scripts.Errors()[0].Line, 2);
  EXPECT_EQ(scripts.Errors()[1].Path, dir + "/e.fhs");
  EXPECT_EQ(scripts.Errors()[1].Line, 3);
  EXPECT_TRUE(log.HasPart("Signature script " + dir + "/e.fhs, line 3: OFFSET above 0x1F0"));

  // The first script that matches wins; a sector no script describes finds none.
  Bytes sector(512, 0);
  sector[0] = 'B';
  ASSERT_NE(scripts.Match(sector.data()), nullptr);
  EXPECT_EQ(scripts.Match(sector.data()), scripts.Headers()[1].get());
  sector[0] = 'X';
  EXPECT_EQ(scripts.Match(sector.data()), nullptr);
  EXPECT_EQ(scripts.LeadBytes().count(), 3u);

  // The next run, with a new table, gives the same ids.
  auto again = FreshTable();
  CustomFileAnalyser analyser(dir, again.get());
  EXPECT_EQ(analyser.Scripts().size(), 3u);
  EXPECT_STREQ(again->Extensions[1001], "DD");
  CRawFileInfo file;
  sector[0] = 'D';
  ASSERT_TRUE(analyser.IsFileHeader(sector.data(), &file));
  EXPECT_EQ(file.GetFileType(), 1001);
  EXPECT_EQ(file.GetFileSize(), 0u);
  EXPECT_FALSE(analyser.ComputeFileSize(&file, nullptr));
}

// Running as root the scripts decide what is carved from a disk: a script that another user planted
// in the root-owned folder, one anybody may change, or a link are not loaded, and the log says why;
// a folder of another user's is not used at all.
TEST_F(ScriptFolder, AsRootScriptsOrAFolderOfAnotherUserAreNotUsed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root: the check is made with raised rights";
  ::chmod(dir.c_str(), 0755);
  Put("a.fhs", Script("AA", "A"));
  const std::string theirs = Put("b.fhs", Script("BB", "B"));
  ::chown(theirs.c_str(), corvale::test::kOtherUser, corvale::test::kOtherUser);
  const std::string open = Put("c.fhs", Script("CC", "C"));
  ::chmod(open.c_str(), 0666);
  ::symlink((dir + "/a.fhs").c_str(), (dir + "/d.fhs").c_str());

  corvale::log::ScopedCapture log;
  auto table = FreshTable();
  CCustomHeaderManage scripts;
  ASSERT_TRUE(scripts.Load(dir, *table));
  ASSERT_EQ(scripts.size(), 1u);
  EXPECT_EQ(scripts.Headers()[0]->GetExtension(), "AA");
  struct Refused {
    const char* name;
    const char* reason;
  } refused[] = {
      {"b.fhs", "belongs to user 65534"}, {"c.fhs", "other users may write it"}, {"d.fhs", "it is a link"}};
  ASSERT_EQ(scripts.Errors().size(), std::size(refused));
  for (size_t i = 0; i < std::size(refused); ++i) {
    EXPECT_EQ(scripts.Errors()[i].Path, dir + "/" + refused[i].name);
    EXPECT_NE(scripts.Errors()[i].Reason.find(refused[i].reason), std::string::npos)
        << scripts.Errors()[i].Reason;
    EXPECT_TRUE(log.HasPart("Signature script " + dir + "/" + refused[i].name + ": is not used"))
        << refused[i].name;
  }

  ::chown(dir.c_str(), corvale::test::kOtherUser, corvale::test::kOtherUser);
  EXPECT_FALSE(scripts.Load(dir, *FreshTable()));
  EXPECT_EQ(scripts.size(), 0u);
  ASSERT_EQ(scripts.Errors().size(), 1u);
  EXPECT_NE(scripts.Errors()[0].Reason.find("the folder is not used"), std::string::npos);
}

TEST_F(ScriptFolder, AScriptBeyondTheLastIdIsRefusedAndTheOthersLoad) {
  auto table = FreshTable();
  char ext[16];
  for (int32_t id = kFirstCustomRawFileType; id < kRawFileTypeCount - 1; ++id) {
    std::snprintf(ext, sizeof ext, "X%d", id);
    ASSERT_EQ(AssignCustomRawFileType(*table, ext), id);
  }
  Put("p1.fhs", Script("NEWA", "1"));
  Put("p2.fhs", Script("NEWB", "2"));
  Put("p3.fhs", Script("x1005", "3"));
  CCustomHeaderManage scripts;
  ASSERT_TRUE(scripts.Load(dir, *table));
  std::vector<std::pair<std::string, int32_t>> loaded;
  for (const auto& h : scripts.Headers()) loaded.emplace_back(h->GetExtension(), h->GetTypeId());
  EXPECT_EQ(loaded, (std::vector<std::pair<std::string, int32_t>>{{"NEWA", 1999}, {"X1005", 1005}}));
  ASSERT_EQ(scripts.Errors().size(), 1u);
  EXPECT_EQ(scripts.Errors()[0].Path, dir + "/p2.fhs");
  EXPECT_NE(scripts.Errors()[0].Reason.find("NEWB"), std::string::npos);
  EXPECT_EQ(AssignCustomRawFileType(*table, "NEWC"), kNoRawFileType);
}

TEST_F(ScriptFolder, NoFolderMeansNoScripts) {
  auto table = FreshTable();
  CustomFileAnalyser analyser(dir + "/missing", table.get());
  EXPECT_EQ(analyser.Scripts().size(), 0u);
  EXPECT_TRUE(analyser.GetLeadBytes().none());
  Bytes sector(512, 'A');
  CRawFileInfo file;
  EXPECT_FALSE(analyser.IsFileHeader(sector.data(), &file));
}

// The files of a made-up format on a wiped FAT disk, found through the user's scripts with every
// built-in type on: each begins where its file began, runs to the next file found (or the size
// limit), holds the original's bytes, and sits in the result tree under its script's extension.
TEST(SignatureScriptCarving, MadeUpFilesOfAWipedFatDiskReachTheTree) {
  CORVALE_FIXTURE(fixture, "raw_scripts.sh", "raw_scripts");
  const std::string dir = corvale::test::ScratchDir();
  WriteText(dir + "/1-zyx.fhs", Lines({"REMARK: my format", "FILEINFO: EXTNAME=\"zyx\"",
                                       "FILESIGN: OFFSET=0x0 TYPE=CHAR VALUE=\"ZYXF\"",
                                       "FILESIGN: OFFSET=0x10 TYPE=BYTE VALUE=0x01,0x02,0x03"}));
  WriteText(dir + "/2-qq.fhs",
            Lines({"FILEINFO: EXTNAME=\"QQ\"", "FILESIGN: OFFSET=0x20 TYPE=CHAR VALUE=\"QQDATA\""}));
  WriteText(dir + "/3-bad.fhs",
            Lines({"FILEINFO: EXTNAME=\"BAD\"", "FILESIGN: OFFSET=0x0 TYPE=CHAR VALUE=\"\""}));

  CImageFileDevice disk(fixture + "/scripts.img");
  ASSERT_TRUE(disk.IsOpened());
  rawtest::ScopedMaxRawFileSize limit(100000);
  CRawFileAnalyserList analysers;
  const std::vector<int> all = AllBuiltInRawFileTypes();
  CreateRawFileAnalysers(analysers, &all);
  auto scripts = std::make_unique<CustomFileAnalyser>(dir);
  ASSERT_EQ(scripts->Scripts().size(), 2u);
  ASSERT_EQ(scripts->Scripts().Errors().size(), 1u);
  const int32_t zyx = scripts->Scripts().Headers()[0]->GetTypeId();
  const int32_t qq = scripts->Scripts().Headers()[1]->GetTypeId();
  analysers.push_back(std::move(scripts));

  CRawFileInfoList found;
  CRAWSearchController controller(&analysers);
  controller.SetResultSink(&found);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&disk);
  driver.AddFileSystemSearchController(&controller);
  ASSERT_EQ(driver.Search(nullptr), 1);

  // What the scan found, in start order: the five made-up files and the two archives between them.
  std::map<std::string, Bytes> originals;
  for (const auto& e : std::filesystem::directory_iterator(fixture + "/files"))
    originals[e.path().filename().string()] = rawtest::ReadFile(e.path().string());
  const std::vector<std::pair<std::string, int32_t>> expected = {
      {"a1.zyx", zyx},         {"a2.zyx", zyx}, {"a3.zip", kRawTypeZIP}, {"a4.qq", qq}, {"a5.zyx", zyx},
      {"a6.zip", kRawTypeZIP}, {"a7.qq", qq}};
  std::vector<CRawFileInfo*> files;
  IIterator<CRawFileInfo*>* it = found.GetIterator();
  for (; !it->IsEnd(); it->Next()) files.push_back(it->Current());
  ASSERT_EQ(files.size(), expected.size());
  std::map<uint64_t, std::string> nameAt;
  for (size_t i = 0; i < files.size(); ++i) {
    const auto& [name, type] = expected[i];
    SCOPED_TRACE(name);
    const CRawFileInfo* f = files[i];
    nameAt[f->GetStartSector()] = name;
    EXPECT_EQ(f->GetFileType(), type);
    const Bytes& original = originals.at(name);
    Bytes head(512);
    ASSERT_TRUE(disk.ReadSectors(head.data(), f->GetStartSector(), 1));
    EXPECT_TRUE(std::equal(head.begin(), head.end(), original.begin())) << "not the file's first sector";
    if (type == kRawTypeZIP) continue;
    const uint64_t end = i + 1 < files.size() ? files[i + 1]->GetStartSector() * 512
                                              : std::min<uint64_t>(f->GetStartSector() * 512 + 100000,
                                                                   uint64_t(disk.GetSectorCount()) * 512);
    EXPECT_EQ(f->GetFileSize(), end - f->GetStartSector() * 512);
  }

  // The tree: one folder per type, the script types under their extensions, every file's bytes.
  CRawFilesFolderBuilder builder;
  CFileSystemNode* root = builder.BuildRawFilesFolder(&disk, found.GetIterator(), nullptr, nullptr, 0);
  ASSERT_NE(root, nullptr);
  std::map<std::string, std::vector<std::string>> folders;
  for (CFileNode* folder = root->GetFirstChild(); folder; folder = folder->GetNextSibling()) {
    for (CFileNode* file = folder->GetFirstChild(); file; file = file->GetNextSibling()) {
      auto runs = file->GetFileProperties()->CreateDataRunList();
      ASSERT_TRUE(runs && runs->GetRunCount() > 0);
      const std::string name = nameAt[runs->Runs().front().start];
      folders[folder->GetFileProperties()->GetName()].push_back(name);
      const Bytes& original = originals.at(name);
      FileDataReader reader;
      ASSERT_TRUE(reader.Open(&disk, file));
      Bytes read(original.size());
      ASSERT_EQ(reader.ReadAt(0, read.data(), read.size()), read.size());
      EXPECT_EQ(read, original) << name;
    }
  }
  FreeFileTree(root);
  for (auto& [folder, names] : folders) std::sort(names.begin(), names.end());
  EXPECT_EQ(folders, (std::map<std::string, std::vector<std::string>>{
                         {"ZYX", {"a1.zyx", "a2.zyx", "a5.zyx"}},
                         {"QQ", {"a4.qq", "a7.qq"}},
                         {GetRawFileDescription(kRawTypeZIP), {"a3.zip", "a6.zip"}}}));
}

// The scripts beside the program join every search, whatever types were chosen. Run in a child
// process: the folder exists only while it runs.
TEST(SignatureScriptSearch, TheProgramsScriptsJoinEverySearch) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto body = [] {
    const std::string folder = CustomScriptFolder();
    std::filesystem::create_directories(folder);
    WriteText(folder + "/zyx.fhs",
              Lines({"FILEINFO: EXTNAME=\"ZYX\"", "FILESIGN: OFFSET=0x0 TYPE=CHAR VALUE=\"ZYXF\"",
                     "FILESIGN: OFFSET=0x10 TYPE=BYTE VALUE=0x01,0x02,0x03"}));
    Bytes bytes = rawtest::RandomBytes(64 * 512, 7);
    for (uint64_t at : {3u, 20u}) {
      std::memcpy(bytes.data() + at * 512, "ZYXF", 4);
      std::memcpy(bytes.data() + at * 512 + 16, "\x01\x02\x03", 3);
    }
    MemoryDevice disk(bytes);
    CRawFileInfoList found;
    CRAWSearchController controller;
    controller.SetResultSink(&found);
    CIntelligentSearchController driver;
    driver.SetStartSectorSource([] { return uint64_t{0}; });
    driver.SetStorageDevice(&disk);
    driver.AddFileSystemSearchController(&controller);
    const bool searched = driver.Search(nullptr) == 1;
    std::filesystem::remove_all(folder);
    std::map<uint64_t, std::pair<std::string, uint64_t>> files;
    IIterator<CRawFileInfo*>* it = found.GetIterator();
    for (; !it->IsEnd(); it->Next())
      files[it->Current()->GetStartSector()] = {GetRawFileExtension(it->Current()->GetFileType()),
                                                it->Current()->GetFileSize()};
    return searched && files.size() == 2 &&
           files[3] == std::make_pair(std::string("ZYX"), uint64_t{17 * 512}) &&
           files[20] == std::make_pair(std::string("ZYX"), uint64_t{44 * 512});
  };
  EXPECT_EXIT(std::exit(body() ? 0 : 1), testing::ExitedWithCode(0), "");
}

// Damaged copies of good scripts: whatever loads obeys the limits, and matching stays inside the
// sector.
TEST(SignatureScriptMutation, DamagedScriptsLoadSafelyOrNotAtAll) {
  const std::vector<std::string> seeds = {
      Lines({"REMARK: seed", "FILEINFO: EXTNAME=\"ABC\"",
             "FILESIGN: OFFSET=0x1F0 TYPE=CHAR VALUE=\"0123456789abcdef\"",
             "FILESIGN: OFFSET=0x0 TYPE=BYTE VALUE=0x4D,0x5A,0xFF"}),
      Lines({"FILEINFO: EXTNAME=\"Q\"", "FILESIGN: OFFSET=0x20 TYPE=char VALUE=\"x\"  REMARK",
             "filesign: OFFSET = 0x1 TYPE = BYTE VALUE = 0x1,,0x2"}),
  };
  const std::string alphabet = "\r\n\t :=,\"0xX1F9fAEXTNAMEOFFSETTYPEVALUEBYTECHARFILESIGNREMARK\xff";
  std::mt19937 rng(2804);
  auto pick = [&](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(rng() % n); };
  Bytes sector(512);
  int loaded = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text = seeds[pick(seeds.size())];
    const int edits = 1 + static_cast<int>(pick(4));
    for (int e = 0; e < edits; ++e) {
      const size_t at = pick(text.size() + 1);
      switch (pick(5)) {
        case 0:
          if (!text.empty()) text[pick(text.size())] = static_cast<char>(rng());
          break;
        case 1:
          text.insert(at, 1, alphabet[pick(alphabet.size())]);
          break;
        case 2:
          text.erase(at, pick(8));
          break;
        case 3:
          text.insert(at, text.substr(pick(text.size()), pick(40)));
          break;
        default:
          text.resize(pick(text.size() + 1));
          break;
      }
    }
    if (round % 500 == 0) text += std::string(1100 - text.size() % 1100, 'y');
    CCustomHeader header;
    ScriptLoadError error;
    if (!header.LoadText("m.fhs", text, &error)) {
      EXPECT_FALSE(error.Reason.empty());
      EXPECT_GE(error.Line, 0);
      continue;
    }
    ++loaded;
    ASSERT_FALSE(header.GetExtension().empty());
    ASSERT_LE(header.GetExtension().size(), kScriptMaxExtension);
    ASSERT_FALSE(header.GetSignatures().empty());
    for (const CustomSignature& s : header.GetSignatures()) {
      ASSERT_LE(s.Length, kScriptMaxPattern);
      ASSERT_LE(s.Offset + s.Length, 512u);
    }
    for (uint8_t& b : sector) b = static_cast<uint8_t>(rng());
    header.Match(sector.data());
    for (const CustomSignature& s : header.GetSignatures())
      std::memcpy(sector.data() + s.Offset, s.Value, s.Length);
    // Patterns that overlap may ask for different bytes at one place; otherwise the sector matches.
    bool overlap = false;
    const auto& sig = header.GetSignatures();
    for (size_t i = 0; i < sig.size(); ++i)
      for (size_t j = i + 1; j < sig.size(); ++j)
        overlap = overlap || (sig[i].Offset < sig[j].Offset + sig[j].Length &&
                              sig[j].Offset < sig[i].Offset + sig[i].Length);
    if (!overlap) {
      EXPECT_TRUE(header.Match(sector.data())) << text;
    }
  }
  EXPECT_GT(loaded, 0);
}

}  // namespace
