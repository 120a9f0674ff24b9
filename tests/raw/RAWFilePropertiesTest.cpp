// The properties of carved files and of the folders of the "Raw Files" tree: what the tree sees, the
// exact saved record, a round trip through a state file, and records no writer makes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/FileProperties.h"
#include "core/MemoryStateStream.h"
#include "core/RSDataEx.h"
#include "core/StateIo.h"
#include "platform/Log.h"
#include "raw/RAWFileProperties.h"
#include "raw/RawFileInfo.h"
#include "support/Fixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;

const RSGuid kSection = TestSection(0x3A);

CRawFileInfo Record(uint64_t start, uint64_t size, std::string comment = "") {
  CRawFileInfo r;
  r.SetStartSector(start);
  r.SetFileSize(size);
  r.SetSecondInfoText(std::move(comment));
  return r;
}

std::unique_ptr<CRAWFileProperties> CarvedFile(const char* name, uint64_t start, uint64_t size,
                                               const char* comment) {
  auto p = std::make_unique<CRAWFileProperties>();
  const CRawFileInfo r = Record(start, size, comment);
  p->InitFromRawFileInfo(&r);
  p->SetAttributes(CRAWFileProperties::kAttributeFile);
  p->SetRawFileName(name);
  p->SetComment(comment);
  return p;
}

std::unique_ptr<CRAWFileProperties> Folder(const char* name) {
  auto p = std::make_unique<CRAWFileProperties>();
  p->SetAttributes(kAttributeFolder);
  p->SetRawFileName(name);
  p->SetTypeByte(CRAWFileProperties::kTypeFolder);
  return p;
}

std::vector<DataRun> RunsOf(const IFileProperties& p) {
  auto runs = p.CreateDataRunList();
  if (!runs) return {};
  return std::vector<DataRun>(runs->Runs().begin(), runs->Runs().end());
}

std::string Describe(const IFileProperties& p) {
  std::string text = std::string(p.GetName()) + "|" + std::to_string(p.GetNameLength()) + "|" +
                     p.GetExtraText() + "|" + std::to_string(p.GetSize()) + "|" +
                     std::to_string(p.GetAttributes()) + "|" + std::to_string(p.GetTypeWord()) + "|" +
                     std::to_string(p.GetCheckState()) + "|" + std::to_string(p.GetFlagByte());
  for (const DataRun& r : RunsOf(p)) text += "|" + std::to_string(r.start) + "+" + std::to_string(r.length);
  return text;
}

Bytes Saved(const CRAWFileProperties& p) {
  MemoryStateStream stream;
  stream.BeginSection(kSection);
  EXPECT_TRUE(p.Save(stream));
  stream.EndSection();
  return stream.Section(kSection);
}

// Loads `bytes` into `p`; the exception's code, or 0 when the record loaded.
int32_t LoadFrom(const Bytes& bytes, CRAWFileProperties& p) {
  MemoryStateStream stream;
  stream.Section(kSection) = bytes;
  stream.StartReading();
  stream.BeginSection(kSection);
  try {
    p.Load(stream);
  } catch (const IRSException& e) {
    return e.GetCode();
  }
  return 0;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Text(const std::string& s) { return Bytes(s.c_str(), s.c_str() + s.size() + 1); }

TEST(RAWFileProperties, WhatTheTreeSees) {
  auto p = CarvedFile("FILE001.JPG", 100, 1025, "2011:05:06");
  EXPECT_EQ(p->GetPersistenceCode(), kPropertiesRaw);
  EXPECT_EQ(p->GetValidMask(), 0x1CFu);
  EXPECT_EQ(p->GetNameLength(), 12);
  EXPECT_STREQ(p->GetName(), "FILE001.JPG");
  EXPECT_EQ(p->GetExtraText(), "2011:05:06");
  EXPECT_EQ(p->GetSize(), 1025u);
  EXPECT_EQ(p->GetCreationTime() | p->GetTime2() | p->GetTime3(), 0u);
  EXPECT_EQ(p->GetTypeWord(), 0);
  // Carved files are named by the tree builder alone.
  p->SetName("other.jpg");
  EXPECT_STREQ(p->GetName(), "FILE001.JPG");
  p->SetCheckState(kChecked);
  EXPECT_EQ(p->GetCheckState(), kChecked);
  EXPECT_EQ(p->SetFlagByte(5), 0);
  EXPECT_EQ(p->SetFlagByte(6), 5);
  // One run over the file's sectors, counted in 512-byte units.
  auto runs = p->CreateDataRunList();
  ASSERT_NE(runs, nullptr);
  EXPECT_EQ(RunsOf(*p), (std::vector<DataRun>{{100, 3}}));

  CRAWDataRunList list;
  EXPECT_EQ(list.GetKind(), kRunListRaw);
  // A folder has no data.
  EXPECT_EQ(Folder("Raw Files")->CreateDataRunList(), nullptr);
  const CRawFileInfo exact = Record(7, 1024);
  CRAWFileProperties two;
  two.InitFromRawFileInfo(&exact);
  EXPECT_EQ(RunsOf(two), (std::vector<DataRun>{{7, 2}}));

  // Names and comments are counted in one byte with their NUL.
  CRAWFileProperties fresh;
  EXPECT_EQ(fresh.GetNameLength(), 0);
  fresh.SetRawFileName(std::string(300, 'n').c_str());
  EXPECT_EQ(fresh.GetNameLength(), 255);
  fresh.SetComment(std::string(300, 'c'));
  EXPECT_EQ(fresh.GetExtraText().size(), CRAWFileProperties::kMaxTextLength);
  corvale::log::ScopedCapture capture;
  fresh.SetRawFileName(nullptr);
  EXPECT_STREQ(fresh.GetName(), "UnkownName");
}

TEST(RAWFileProperties, SavedRecordByteForByte) {
  auto file = CarvedFile("FILE001.JPG", 100, 1025, "x");
  file->SetCheckState(kChecked);
  const Bytes expectedFile = Concat({{12},
                                     Text("FILE001.JPG"),
                                     {2},
                                     Text("x"),
                                     {0x01, 0x04, 0, 0, 0, 0, 0, 0},
                                     {0x20, 0x00},
                                     {0},
                                     {4, 0, 0, 0, 0x11, 0x03, 0x64, 0x00, 0, 0}});
  EXPECT_EQ(Saved(*file), expectedFile);
  // A folder: no comment set, no runs; its run string holds only the terminator.
  const Bytes expectedFolder =
      Concat({{10}, Text("Raw Files"), {0}, Bytes(8, 0), {0x10, 0x00}, {16}, {1, 0, 0, 0, 0, 0, 0}});
  EXPECT_EQ(Saved(*Folder("Raw Files")), expectedFolder);
  // An object never named still saves a name a reader takes.
  EXPECT_EQ(Saved(CRAWFileProperties()),
            Concat({{1, 0, 0}, Bytes(8, 0), {0, 0}, {0}, {1, 0, 0, 0, 0, 0, 0}}));
}

TEST(RAWFileProperties, RoundTripThroughAStateFile) {
  // The engine registered its properties when the program started.
  ASSERT_NE(std::unique_ptr<IFileProperties>(CreateFileProperties(kPropertiesRaw)), nullptr);
  std::vector<std::unique_ptr<CRAWFileProperties>> saved;
  saved.push_back(CarvedFile("Canon EOS 5D001.JPG", 123456789012ULL, 5000000, "2011:05:06 07:08:09"));
  saved.push_back(CarvedFile(std::string(254, 'n').c_str(), 1, 1, std::string(254, 'c').c_str()));
  saved.push_back(CarvedFile("FILE002.PNG", 0, 512, ""));
  saved.push_back(Folder("Raw Files"));
  saved.push_back(Folder("301-600"));
  saved.push_back(std::make_unique<CRAWFileProperties>());
  for (auto& p : saved) {
    p->SetCheckState(kChecked);
    p->SetFlagByte(3);
  }

  const std::string path = corvale::test::ScratchDir() + "/raw.rdf";
  {
    CRSDataEx writer(RS_MODE_WRITE);
    ASSERT_TRUE(writer.Open(path, 1));
    uint8_t header[132] = {};
    std::memcpy(header, corvale::kRSMarker.bytes.data(), 16);
    writer.WriteHeader(header);
    ASSERT_TRUE(writer.BeginSection(kSection));
    for (const auto& p : saved) SavePropertiesRecord(writer, p.get());
    writer.EndSection();
    writer.SetStatus(1);
    writer.Close();
  }
  CRSDataEx reader(RS_MODE_READ);
  ASSERT_TRUE(reader.Open(path, 0));
  ASSERT_TRUE(reader.BeginSection(kSection));
  for (auto& p : saved) {
    std::unique_ptr<IFileProperties> back = LoadPropertiesRecord(reader);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->GetPersistenceCode(), kPropertiesRaw);
    // The user's marks are not kept.
    p->SetCheckState(0);
    p->SetFlagByte(0);
    // An object never named comes back with the empty name it was saved with.
    if (p->GetNameLength() == 0) p->SetRawFileName("");
    EXPECT_EQ(Describe(*back), Describe(*p));
  }
  uint8_t extra;
  EXPECT_EQ(reader.Read(&extra, 1), 0u);
  reader.Close();
}

// Records no writer of ours makes: each is refused as a whole, and the object keeps what it held.
struct BadRecord {
  const char* name;
  Bytes bytes;
  int32_t code;
};

class RAWFilePropertiesBadRecord : public ::testing::TestWithParam<BadRecord> {};

TEST_P(RAWFilePropertiesBadRecord, IsRefusedAndChangesNothing) {
  auto p = CarvedFile("kept.jpg", 5, 600, "kept");
  const std::string before = Describe(*p);
  EXPECT_EQ(LoadFrom(GetParam().bytes, *p), GetParam().code);
  EXPECT_EQ(Describe(*p), before);
}

const Bytes kTail = Concat({Bytes(8, 0), {0x20, 0}, {0}, {1, 0, 0, 0, 0, 0, 0}});

INSTANTIATE_TEST_SUITE_P(
    Records, RAWFilePropertiesBadRecord,
    ::testing::Values(
        BadRecord{"NameLengthZero", Concat({{0}, {0}, kTail}), RS_ERROR_BAD_DATA},
        BadRecord{"NameWithoutItsNul", Concat({{3}, {'a', 'b', 'c'}, {0}, kTail}), RS_ERROR_BAD_DATA},
        BadRecord{"NulInsideTheName", Concat({{4}, {'a', 0, 'c', 0}, {0}, kTail}), RS_ERROR_BAD_DATA},
        BadRecord{"CommentWithoutItsNul", Concat({{2}, Text("a"), {2}, {'x', 'y'}, kTail}),
                  RS_ERROR_BAD_DATA},
        BadRecord{"RunStringLengthZero",
                  Concat({{2}, Text("a"), {0}, Bytes(8, 0), {0x20, 0}, {0}, {0, 0, 0, 0}}),
                  RS_ERROR_BAD_DATA},
        BadRecord{
            "ResidentValue",
            Concat({{2}, Text("a"), {0}, Bytes(8, 0), {0x20, 0}, {0}, {4, 0, 0, 0, 0x11, 3, 0x64, 0, 1, 0}}),
            RS_ERROR_BAD_DATA},
        BadRecord{"RunStringPastItsLength",
                  Concat({{2}, Text("a"), {0}, Bytes(8, 0), {0x20, 0}, {0}, {2, 0, 0, 0, 0x11, 3, 0, 0}}),
                  RS_ERROR_BAD_DATA},
        BadRecord{"CutInTheName", Concat({{200}, Text("short")}), RS_ERROR_SHORT_READ},
        BadRecord{"CutBeforeTheRuns", Concat({{2}, Text("a"), {0}, Bytes(8, 0)}), RS_ERROR_SHORT_READ}),
    [](const auto& info) { return std::string(info.param.name); });

// Every byte of a saved record changed in turn, and every cut of it: each load either gives a sound
// object or is refused with the stream's exception.
TEST(RAWFileProperties, DamagedRecordsLoadSoundlyOrAreRefused) {
  const Bytes good = Saved(*CarvedFile("Canon EOS 5D001.JPG", 0x123456, 70000, "2004:01:02"));
  const uint8_t flips[] = {0x01, 0x80, 0xFF};
  size_t loaded = 0;
  size_t refused = 0;
  auto check = [&](const Bytes& bytes) {
    CRAWFileProperties p;
    const int32_t code = LoadFrom(bytes, p);
    if (code != 0) {
      EXPECT_TRUE(code == RS_ERROR_BAD_DATA || code == RS_ERROR_SHORT_READ) << code;
      ++refused;
      return;
    }
    ++loaded;
    EXPECT_EQ(p.GetNameLength(), std::strlen(p.GetName()) + 1);
    EXPECT_LE(p.GetExtraText().size(), 254u);
    EXPECT_EQ(std::strlen(p.GetExtraText().c_str()), p.GetExtraText().size());
    RunsOf(p);
  };
  for (size_t i = 0; i < good.size(); ++i) {
    for (uint8_t flip : flips) {
      Bytes bytes = good;
      bytes[i] ^= flip;
      check(bytes);
    }
  }
  for (size_t n = 0; n < good.size(); ++n) check(Bytes(good.begin(), good.begin() + static_cast<long>(n)));
  EXPECT_GT(loaded, 0u);
  EXPECT_GT(refused, 0u);
}

}  // namespace
