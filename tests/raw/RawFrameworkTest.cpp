// The carving framework: the file-type table, which analysers each type calls for, the analyser
// list, the forward reader and the limits every length walk shares.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <typeinfo>

#include "RawTestSupport.h"
#include "raw/FileJPGAnalyser.h"
#include "raw/FileTIFAnalyser.h"
#include "raw/ImageAnalysers.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawSectorReader.h"

namespace {

using namespace rawtest;
using C = RawAnalyserClass;

TEST(RawFileTypeTable, BuiltInRowsAsUsersSeeThem) {
  struct Row {
    int32_t id;
    const char* extension;
    const char* description;
  };
  const Row rows[] = {
      {0, "Raw", "Raw"},
      {1, "3DS", "3DS file"},
      {11, "CDR", "COREL Darw file"},
      {36, "MID", "Musical Instrument Digital Interface file"},
      {37, "MDB", "Access Database file"},
      {65, "WPG", "WordPerfect Documents and Graphics v8"},
      {67, "XLS", "Microsoft Excel XML Documents"},
      {69, "DOCX", "Microsoft DOCX file"},
      {72, "ACCDB", "Microsoft ACCDB file"},
      {73, "NEF", "Nikon NEF file"},
  };
  for (const Row& r : rows) {
    EXPECT_STREQ(GetRawFileExtension(r.id), r.extension) << r.id;
    EXPECT_STREQ(GetRawFileDescription(r.id), r.description) << r.id;
  }
}

TEST(RawFileTypeTable, ExtensionsAreShortUpperCaseAndTheRestIsEmpty) {
  for (int32_t id = 1; id <= kLastBuiltInRawFileType; ++id) {
    const std::string ext = GetRawFileExtension(id);
    EXPECT_GE(ext.size(), 2u) << id;
    EXPECT_LE(ext.size(), 5u) << id;
    for (char c : ext)
      EXPECT_TRUE(isupper(static_cast<unsigned char>(c)) || isdigit(static_cast<unsigned char>(c))) << id;
    EXPECT_NE(std::string(GetRawFileDescription(id)), "") << id;
  }
  for (int32_t id : {74, 999, 1000, 1999}) {
    EXPECT_STREQ(GetRawFileExtension(id), "") << id;
    EXPECT_STREQ(GetRawFileDescription(id), "") << id;
  }
  // Ids outside the table answer an empty text instead of reading past it.
  for (int32_t id : {-1, 2000, 65535}) {
    EXPECT_STREQ(GetRawFileExtension(id), "") << id;
    EXPECT_FALSE(IsRawFileTypeIdInTable(id));
  }
}

TEST(RawAnalyserClasses, WhatEachFileTypeCallsFor) {
  struct Case {
    int id;
    std::vector<C> classes;
  };
  const Case cases[] = {
      {20, {}},
      {26, {}},
      {21, {C::FileOLE, C::FileLowDoc}},
      {31, {C::FileHTM, C::FileUnicodeHTM}},
      {57, {C::FileOLE, C::FileWPD}},
      {64, {C::FileOLE, C::FileWPD}},
      {65, {C::FileOLE, C::FileWPD}},
      {0, {C::Custom}},
      {74, {C::Custom}},
      {1000, {C::Custom}},
      {-1, {C::Custom}},
      // Access projects are compound files.
      {3, {C::FileOLE}},
      {18, {C::FileICO}},
      {32, {C::FileICO}},
      {33, {C::FileJPG}},
      {60, {C::FileTIF}},
      {73, {C::FileTIF}},
      {69, {C::FileZIP}},
      {72, {C::FileMDB}},
  };
  for (const Case& c : cases) EXPECT_EQ(RawAnalyserClassesForType(c.id), c.classes) << c.id;
  EXPECT_STREQ(RawAnalyserClassName(C::File3DS), "File3DSAnalyser");
  EXPECT_STREQ(RawAnalyserClassName(C::Custom), "CustomFileAnalyser");
}

std::vector<std::string> ClassNames(const CRawFileAnalyserList& list) {
  std::vector<std::string> names;
  for (IRawFileAnalyser* a : list) {
    for (int32_t i = 0; i < kRawAnalyserClassCount; ++i) {
      auto probe = MakeRawFileAnalyser(static_cast<C>(i));
      if (probe && typeid(*probe) == typeid(*a)) names.push_back(RawAnalyserClassName(static_cast<C>(i)));
    }
  }
  return names;
}

TEST(RawFileAnalyserList, FactoriesCreateOneAnalyserPerCallAndMergeNothing) {
  CRawFileAnalyserList list;
  const std::vector<int> ids = {18, 9, 32, 20, 26, 33, 73};
  CreateRawFileAnalysers(list, &ids);
  EXPECT_EQ(ClassNames(list),
            (std::vector<std::string>{"FileICOAnalyser", "FileBMPAnalyser", "FileICOAnalyser",
                                      "FileJPGAnalyser", "FileTIFAnalyser"}));
  CreateRawFileAnalysers(list, nullptr);
  EXPECT_EQ(list.size(), 5u);

  const std::vector<int> none = {20, 26};
  list.Rebuild(&none);
  EXPECT_TRUE(list.empty());
}

TEST(RawFileAnalyserList, EveryAnalyserInClassOrderWithItsDefaultId) {
  CRawFileAnalyserList all;
  CreateAllRawFileAnalysers(all);
  EXPECT_EQ(ClassNames(all),
            (std::vector<std::string>{
                "File3DSAnalyser", "File3GPAnalyser",    "FileASFAnalyser",  "FileAUAnalyser",
                "FileBMPAnalyser", "FileCABAnalyser",    "FileCHMAnalyser",  "FileCPTAnalyser",
                "FileCRWAnalyser", "FileDBXAnalyser",    "FileDWGAnalyser",  "FileDXFAnalyser",
                "FileEMFAnalyser", "FileEPSAnalyser",    "FileFH11Analyser", "FileGIFAnalyser",
                "FileGZAnalyser",  "FileHLPAnalyser",    "FileHTMAnalyser",  "FileICOAnalyser",
                "FileJPGAnalyser", "FileLowDocAnalyser", "FileLZHAnalyser",  "FileMDBAnalyser",
                "FileMIDAnalyser", "FileMNYAnalyser",    "FileMOVAnalyser",  "FileMP3Analyser",
                "FileMP4Analyser", "FileOLEAnalyser",    "FileONEAnalyser",  "FilePDFAnalyser",
                "FilePNGAnalyser", "FilePSDAnalyser",    "FilePSPAnalyser",  "FilePSTAnalyser",
                "FileRARAnalyser", "FileRIFFAnalyser",   "FileRTFAnalyser",  "FileSWFAnalyser",
                "FileTARAnalyser", "FileTIFAnalyser",    "FileTTFAnalyser",  "FileUnicodeHTMAnalyser",
                "FileWMFAnalyser", "FileWPDAnalyser",    "FileZIPAnalyser",  "CustomFileAnalyser"}));
  std::vector<int32_t> ids;
  for (IRawFileAnalyser* a : all) ids.push_back(a->GetTypeId());
  EXPECT_EQ(ids, (std::vector<int32_t>{1,  2,  6,  7,  9,  10, 12, 15, 16, 19, 22, 23, 24, 25, 27, 28,
                                       29, 30, 31, 32, 33, 21, 34, 37, 36, 38, 40, 41, 42, 44, 45, 46,
                                       47, 50, 51, 52, 54, 55, 56, 58, 59, 60, 61, 31, 66, 64, 68, -1}));

  // In a fresh process the program-wide list holds every analyser (other tests here rebuild it).
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::vector<std::string> expected = ClassNames(all);
  EXPECT_EXIT(std::exit(ClassNames(GetRawFileAnalyserList()) == expected ? 0 : 1), testing::ExitedWithCode(0),
              "");
}

TEST(RawFileAnalyserList, DefaultChoiceGivesTheAnalysersInIdOrder) {
  CRawFileAnalyserList list;
  const std::vector<int> ids = AllBuiltInRawFileTypes();
  list.Rebuild(&ids);
  // One analyser for each id that calls for it, in id order: nothing is merged (the compound-file
  // analyser comes once for each of the formats it types, the ZIP one for each of ZIP, DOCX, XLSX
  // and PPTX), and Word documents take the compound-file analyser before the older formats' one.
  EXPECT_EQ(ClassNames(list),
            (std::vector<std::string>{
                "File3DSAnalyser",    "File3GPAnalyser",  "FileOLEAnalyser",        "FileRIFFAnalyser",
                "FilePDFAnalyser",    "FileASFAnalyser",  "FileAUAnalyser",         "FileRIFFAnalyser",
                "FileBMPAnalyser",    "FileCABAnalyser",  "FileRIFFAnalyser",       "FileCHMAnalyser",
                "FileRIFFAnalyser",   "FileRIFFAnalyser", "FileCPTAnalyser",        "FileCRWAnalyser",
                "FileRIFFAnalyser",   "FileICOAnalyser",  "FileDBXAnalyser",        "FileOLEAnalyser",
                "FileLowDocAnalyser", "FileDWGAnalyser",  "FileDXFAnalyser",        "FileEMFAnalyser",
                "FileEPSAnalyser",    "FileFH11Analyser", "FileGIFAnalyser",        "FileGZAnalyser",
                "FileHLPAnalyser",    "FileHTMAnalyser",  "FileUnicodeHTMAnalyser", "FileICOAnalyser",
                "FileJPGAnalyser",    "FileLZHAnalyser",  "FileOLEAnalyser",        "FileMIDAnalyser",
                "FileMDBAnalyser",    "FileMNYAnalyser",  "FileOLEAnalyser",        "FileMOVAnalyser",
                "FileMP3Analyser",    "FileMP4Analyser",  "FileOLEAnalyser",        "FileOLEAnalyser",
                "FileONEAnalyser",    "FilePDFAnalyser",  "FilePNGAnalyser",        "FileOLEAnalyser",
                "FileOLEAnalyser",    "FilePSDAnalyser",  "FilePSPAnalyser",        "FilePSTAnalyser",
                "FileOLEAnalyser",    "FileRARAnalyser",  "FileRIFFAnalyser",       "FileRTFAnalyser",
                "FileOLEAnalyser",    "FileWPDAnalyser",  "FileSWFAnalyser",        "FileTARAnalyser",
                "FileTIFAnalyser",    "FileTTFAnalyser",  "FileOLEAnalyser",        "FileRIFFAnalyser",
                "FileOLEAnalyser",    "FileWPDAnalyser",  "FileOLEAnalyser",        "FileWPDAnalyser",
                "FileWMFAnalyser",    "FileOLEAnalyser",  "FileZIPAnalyser",        "FileZIPAnalyser",
                "FileZIPAnalyser",    "FileZIPAnalyser",  "FileMDBAnalyser",        "FileTIFAnalyser"}));
}

// --- The forward reader ------------------------------------------------------------------------

class SectorReader : public testing::TestWithParam<uint32_t> {
 protected:
  uint32_t ss() const { return GetParam(); }
  Bytes Pattern(uint64_t sectors) {
    Bytes b(sectors * ss());
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return b;
  }
};

TEST_P(SectorReader, OneDeviceReadPerWindow) {
  MemoryDevice device(Pattern(600), static_cast<int32_t>(ss()));
  CRawSectorReader reader(&device, 10);
  const uint64_t window = 128ull * ss();
  EXPECT_EQ(reader.ReadAt(0).u8(0), device.Bytes()[10 * ss()]);
  EXPECT_EQ(reader.ReadAt(window - 1).u8(0), device.Bytes()[10 * ss() + window - 1]);
  EXPECT_EQ(device.ReadCount(), 1u);
  EXPECT_EQ(device.ReadLog().front(), (std::pair<uint64_t, uint64_t>{10, 129}));
  EXPECT_EQ(reader.ReadAt(window).u8(0), device.Bytes()[10 * ss() + window]);
  EXPECT_EQ(device.ReadCount(), 2u);
  EXPECT_EQ(device.ReadLog().back(), (std::pair<uint64_t, uint64_t>{138, 129}));
}

TEST_P(SectorReader, ViewsEndWithTheDataRead) {
  // 128 sectors after the start exactly: the window's read is cut to them, and nothing past the
  // device's end is ever answered, not even stale bytes of an earlier read.
  MemoryDevice device(Pattern(138), static_cast<int32_t>(ss()));
  CRawSectorReader reader(&device, 10);
  EXPECT_EQ(reader.BytesToDeviceEnd(), 128ull * ss());
  EXPECT_EQ(reader.ReadAt(0).size(), 128ull * ss());
  EXPECT_EQ(device.ReadLog().back(), (std::pair<uint64_t, uint64_t>{10, 128}));
  EXPECT_EQ(reader.ReadAt(128ull * ss()).size(), 0u);
  EXPECT_EQ(reader.Read(128ull * ss() - 4, 4).size(), 4u);
  EXPECT_EQ(reader.Read(128ull * ss() - 4, 5).size(), 0u);
  EXPECT_EQ(reader.Read(UINT64_MAX - 2, 8).size(), 0u);

  CRawSectorReader pastEnd(&device, 138);
  EXPECT_EQ(pastEnd.BytesToDeviceEnd(), 0u);
  EXPECT_EQ(pastEnd.ReadAt(0).size(), 0u);
}

TEST_P(SectorReader, SpansAcrossWindowsAreReadWhole) {
  MemoryDevice device(Pattern(2000), static_cast<int32_t>(ss()));
  CRawSectorReader reader(&device, 3);
  const uint64_t window = 128ull * ss();
  for (uint64_t at : {uint64_t{window + 129ull * ss() - 10}, uint64_t{5 * window - 3}, uint64_t{7}}) {
    for (uint64_t length : {20ull, 70000ull, 300000ull}) {
      const corvale::ByteReader r = reader.Read(at, length);
      ASSERT_EQ(r.size(), length) << at << " " << length;
      EXPECT_EQ(std::memcmp(r.data(), device.Bytes().data() + 3 * ss() + at, length), 0);
    }
  }
  EXPECT_EQ(reader.Read(0, CRawSectorReader::kMaxSpanBytes + 1).size(), 0u);
}

TEST_P(SectorReader, ReadersKeepTheirOwnData) {
  MemoryDevice device(Pattern(1000), static_cast<int32_t>(ss()));
  CRawSectorReader a(&device, 0), b(&device, 500);
  const corvale::ByteReader va = a.ReadAt(100);
  const uint8_t before = va.u8(0);
  b.ReadAt(100);
  EXPECT_EQ(va.u8(0), before);
  EXPECT_EQ(before, device.Bytes()[100]);
}

TEST_P(SectorReader, FailedReadAnswersNothing) {
  MemoryDevice device(Pattern(400), static_cast<int32_t>(ss()));
  device.SetBadSector(200);
  CRawSectorReader reader(&device, 0);
  EXPECT_EQ(reader.ReadAt(0).size(), 129ull * ss());
  EXPECT_EQ(reader.ReadAt(128ull * ss()).size(), 0u);
}

TEST_P(SectorReader, AViewOfADeviceTakesTheWholeDevicesEnd) {
  MemoryDevice device(Pattern(300), static_cast<int32_t>(ss()));
  CRawSectorReader reader(&device, 100, 5000);
  EXPECT_EQ(reader.BytesToDeviceEnd(), 4900ull * ss());
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, SectorReader, testing::Values(512u, 4096u));

// --- Limits and the pump -----------------------------------------------------------------------

TEST(RawWalkLimits, SizeLimitBelowFourGigabytesOnly) {
  struct Case {
    int64_t max;
    uint64_t walk;
    uint64_t capped;  // of a 10^10-byte size on a 10^12-byte device
  };
  const Case cases[] = {
      {50000000, 50000000, 50000000},         {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
      {0x100000000, UINT64_MAX, 0x100000000}, {20000000000, UINT64_MAX, 10000000000},
      {-1, UINT64_MAX, 10000000000},
  };
  for (const Case& c : cases) {
    ScopedMaxRawFileSize limit(c.max);
    EXPECT_EQ(corvale::RawWalkLimit(), c.walk) << c.max;
    EXPECT_EQ(corvale::CapRawFileSize(10000000000, 1000000000000), c.capped) << c.max;
  }
  ScopedMaxRawFileSize limit(50000000);
  EXPECT_EQ(corvale::CapRawFileSize(80000000, 70000000), 50000000u);
  EXPECT_EQ(corvale::CapRawFileSize(80000000, 1000), 1000u);
}

int g_pumped = 0;

TEST(RawWalkPump, EveryTenthStepOnTheThreadThatAsked) {
  g_pumped = 0;
  corvale::SetRawWalkPumpHook([] { ++g_pumped; });
  corvale::RawWalkPump pump;
  for (int i = 0; i < 21; ++i) pump.Step();  // steps 0, 10, 20
  EXPECT_EQ(g_pumped, 3);
  pump.Steps(5);  // 21..25: none
  EXPECT_EQ(g_pumped, 3);
  pump.Steps(100);  // 26..125: once for the whole stretch
  EXPECT_EQ(g_pumped, 4);

  std::thread other([] {
    corvale::RawWalkPump p;
    for (int i = 0; i < 50; ++i) p.Step();
  });
  other.join();
  EXPECT_EQ(g_pumped, 4);
  corvale::SetRawWalkPumpHook(nullptr);
}

}  // namespace
