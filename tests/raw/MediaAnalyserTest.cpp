// The media and drawing analysers on hand-made files, one rule per row: where each walk ends, the
// type each header gives, and the damaged files that are refused. Beside them the MPEG frame header
// and the ID3 text rules.
#include <gtest/gtest.h>

#include "MediaHeaders.h"
#include "RawTestSupport.h"
#include "raw/MediaAnalysers.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawHeaderDispatch.h"

namespace {

using namespace rawtest;

struct Case {
  const char* name;
  RawAnalyserClass analyser;
  Bytes file;
  bool header;
  bool measured;
  int32_t type;
  uint64_t size;
  size_t tail = 4096;  // zeros after the file
};

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Dwg2000(uint32_t locators, bool sentinel) {
  Builder b(0x3000);
  b.Text(0, "AC1015").LE(13, 0x800, 4).LE(21, locators, 4);
  const uint32_t seekers[3][2] = {{0x100, 0x400}, {0x1000, 0x1800}, {0x900, 0x200}};
  for (uint32_t i = 0; i < 3; ++i)
    b.LE(25 + 9 * i, i, 1).LE(26 + 9 * i, seekers[i][0], 4).LE(30 + 9 * i, seekers[i][1], 4);
  if (sentinel) b.Put(0x800, "\x1F\x25\x6D\x07\xD4\x36\x28\x28\x9D\x57\xCA\x3F\x9D\x44\x10\x2B", 16);
  return b.b;
}

Bytes DwgSentinel(const std::string& version, size_t at) {
  static const char* r2004 = "\x68\x40\xF8\xF7\x92\x2A\xB5\xEF\x18\xDD\x0B\xF1\xF1\xBB\xE9\xEB";
  Builder b(at + 2000);
  b.Text(0, version).Put(128, r2004, 16).Put(at, r2004, 16);
  return b.b;
}

std::vector<Case> Cases() {
  using C = RawAnalyserClass;
  const uint64_t tag = Id3v2Tag("Hand Made", "1999").size();
  const uint64_t frames3 = tag + 3 * 417;
  // A tag after the frames with bytes that are not zero behind it in its sector is not the file's
  // end: the scan goes on past it and, finding nothing more, the file ends with the last frame.
  Bytes v1Dirty = Join({Mp3File(3, true), Text("more")});
  // The next file's tag at a sector boundary ends the scan before its frames.
  Bytes beforeNext = Mp3File(3, false);
  beforeNext.resize((beforeNext.size() + 511) / 512 * 512, 0);
  beforeNext = Join({beforeNext, Mp3File(5, false)});
  // After bytes that are no frame, a frame header counts only with the next frame of its stream
  // behind it: a lone look-alike, or one followed by a frame of another stream, ends nothing.
  const Bytes gap(100, 0);
  Bytes lone = Mp3Frame();
  Bytes otherStream = Mp3Frame();
  otherStream.insert(otherStream.end(), {0xFF, 0xF3, 0x90, 0x00});  // MPEG 2 after an MPEG 1 frame
  std::vector<Case> cases = {
      {"Mp3WithClosingTag", C::FileMP3, Mp3File(3, true), true, true, kRawTypeMP3, frames3 + 128},
      {"Mp3ResyncsOnAChainOfFramesAfterAGap", C::FileMP3,
       Join({Mp3File(3, false), gap, Repeat(Mp3Frame(), 2)}), true, true, kRawTypeMP3,
       frames3 + 100 + 2 * 417},
      {"Mp3LoneFrameHeaderAfterAGapIsNoResync", C::FileMP3, Join({Mp3File(3, false), gap, lone}), true, true,
       kRawTypeMP3, frames3},
      {"Mp3FrameOfAnotherStreamIsNoChain", C::FileMP3, Join({Mp3File(3, false), gap, otherStream}), true,
       true, kRawTypeMP3, frames3},
      {"Mp3ClosingTagFollowedByBytesIsNotTheEnd", C::FileMP3, v1Dirty, true, true, kRawTypeMP3, frames3},
      {"Mp3EndsBeforeTheNextTaggedFile", C::FileMP3, beforeNext, true, true, kRawTypeMP3, frames3},
      {"Mp3TagWithoutAudioIsRefused", C::FileMP3, Id3v2Tag("Only", "2000"), true, false, kRawTypeMP3, 0},
      {"Mp3Version2TagIsNotOne", C::FileMP3, Builder(512).Text(0, "ID3").LE(3, 2, 1).b, false, false, 0, 0},
      {"Mp4Boxes", C::FileMP4, IsoFile("isom", {Box("free", 8), Box("mdat", 1000), Box("moov", 200)}), true,
       true, kRawTypeMP4, 1232},
      {"Mp4FragmentedBoxes", C::FileMP4,
       IsoFile("iSoM", {Box("moov", 100), Box("moof", 50), Box("mdat", 300), Box("mfra", 40)}), true, true,
       kRawTypeMP4, 514},
      {"Mp4EndsAtAnUnknownBox", C::FileMP4, IsoFile("mp42", {Box("mdat", 100), Box("uuid", 100)}), true, true,
       kRawTypeMP4, 124},
      {"ThreeGpBoxes", C::File3GP, IsoFile("3g2a", {Box("mdat", 100), Box("moov", 40)}), true, true,
       kRawType3GP, 164},
      {"MovAtoms", C::FileMOV, IsoFile("qt  ", {Box("wide", 8), Box("mdat", 100), Box("moov", 40)}), true,
       true, kRawTypeMOV, 172},
      {"MovLeavesMp4BrandsToTheMp4Analyser", C::FileMOV, IsoFile("isom", {Box("mdat", 100)}), false, false, 0,
       0},
      {"MovLeaves3gpBrandsToThe3gpAnalyser", C::FileMOV, IsoFile("3gp4", {Box("mdat", 100)}), false, false, 0,
       0},
      {"RiffWave", C::FileRIFF, RiffFile("WAVE", "fmt ", 4000), true, false, kRawTypeWAV, 4008},
      {"RiffAvi", C::FileRIFF, RiffFile("AVI ", "LIST", 4000), true, false, kRawTypeAVI, 4008},
      {"RiffAnimatedCursor", C::FileRIFF, RiffFile("ACON", "anih", 100), true, false, kRawTypeANI, 108},
      {"RiffCmx", C::FileRIFF,
       [] {
         Bytes b = RiffFile("CMX1", "cont", 300);
         std::memcpy(b.data() + 20, "{Corel Binary Meta File}", 24);
         return b;
       }(),
       true, false, kRawTypeCMX, 308},
      {"RiffCmxNeedsItsText", C::FileRIFF, RiffFile("CMX1", "cont", 300), true, false, kRawTypeRIFF, 308},
      {"RiffClk", C::FileRIFF, RiffFile("CARC", "vrsn", 300), true, false, kRawTypeCLK, 308},
      {"RiffCsl", C::FileRIFF, RiffFile("CSL2", "vrsn", 300), true, false, kRawTypeCSL, 308},
      {"RiffLowerCaseCdr8", C::FileRIFF, RiffFile("cdr8", "vrsn", 300), true, false, kRawTypeCDR, 308},
      {"RiffOtherForm", C::FileRIFF, RiffFile("WEBP", "VP8 ", 300), true, false, kRawTypeRIFF, 308},
      {"RiffLengthNeverWraps", C::FileRIFF, RiffFile("WAVE", "fmt ", 0xFFFFFFFF), true, false, kRawTypeWAV,
       0x100000007ull},
      {"AsfThreeObjects", C::FileASF, AsfFile({{0, 100}, {1, 200}, {2, 50}}), true, true, kRawTypeASF, 350},
      {"AsfWithoutIndex", C::FileASF, AsfFile({{0, 100}, {1, 200}}), true, true, kRawTypeASF, 300},
      {"AsfWithoutDataIsRefused", C::FileASF, AsfFile({{0, 100}, {2, 200}}), true, false, kRawTypeASF, 0},
      {"AsfSizesThatWrapAreRefused", C::FileASF, AsfFile({{0, 100}, {1, ~uint64_t{0} - 50}}), true, false,
       kRawTypeASF, 0},
      {"MidiTracks", C::FileMID, MidiFile(1, {20, 30}), true, true, kRawTypeMID, 14 + 28 + 38},
      {"MidiFormat3IsNotOne", C::FileMID, MidiFile(3, {20}), false, false, 0, 0},
      {"Au", C::FileAU, Builder(512).Text(0, ".snd").BE(4, 32, 4).BE(8, 1000, 4).b, true, false, kRawTypeAU,
       1032},
      {"AuOfUnknownLengthIsRefused", C::FileAU,
       Builder(512).Text(0, ".snd").BE(4, 32, 4).BE(8, 0xFFFFFFFF, 4).b, false, false, 0, 0},
      {"Swf", C::FileSWF, Builder(512).Text(0, "CWS").LE(4, 3000, 4).b, true, false, kRawTypeSWF, 3000},
      {"TrueTypeHalfKnown", C::FileTTF, TrueTypeHeader(10, 5), true, false, kRawTypeTTF, 12 + 160 + 1000},
      {"TrueTypeFewerThanHalfKnownIsNotOne", C::FileTTF, TrueTypeHeader(10, 4), false, false, 0, 0},
      {"TrueTypeTooManyTablesIsNotOne", C::FileTTF, TrueTypeHeader(32, 32), false, false, 0, 0},
      {"DwgR2000Locators", C::FileDWG, Dwg2000(3, true), true, true, kRawTypeDWG, 0x2800},
      {"DwgR2000WithoutImageSentinelIsRefused", C::FileDWG, Dwg2000(3, false), true, false, kRawTypeDWG, 0},
      {"DwgR2000TooManyLocatorsIsRefused", C::FileDWG, Dwg2000(101, true), true, false, kRawTypeDWG, 0},
      {"DwgR2004Sentinel", C::FileDWG, DwgSentinel("AC1018", 70000), true, true, kRawTypeDWG, 70108},
      {"DwgR2007Sentinel", C::FileDWG, DwgSentinel("AC1021", 5000), true, true, kRawTypeDWG, 6024},
      {"DwgR11IsTypedButNotSized", C::FileDWG, DwgHeader("AC1009"), true, false, kRawTypeDWG, 0},
      {"Dxf", C::FileDXF, Text("  0\r\nSECTION\r\n  2\r\nHEADER\r\n  0\r\nENDSEC\r\n  0\r\nEOF\r\n"), true,
       true, kRawTypeDXF, 50},
      {"DxfWithLineFeedsIsNotOne", C::FileDXF, Text("  0\nSECTION\n  2\nHEADER\n  0\nEOF\n"), false, false, 0,
       0},
      {"EpsPostScriptFirst", C::FileEPS, MediaHeaders()[13], true, false, kRawTypeEPS, 1530},
      {"EpsTiffFirst", C::FileEPS,
       Builder(512)
           .BE(0, 0xC5D0D3C6, 4)
           .LE(4, 700, 4)
           .LE(8, 900, 4)
           .LE(20, 30, 4)
           .LE(24, 670, 4)
           .LE(28, 0xFFFF, 2)
           .Text(30, "II*")
           .b,
       true, false, kRawTypeEPS, 1600},
      {"ThreeDs", C::File3DS, MediaHeaders()[14], true, false, kRawType3DS, 2000},
      {"ThreeDsShorterThanItsEditorChunkIsNotOne", C::File3DS,
       Builder(512).LE(0, 0x4D4D, 2).LE(2, 100, 4).LE(16, 0x3D3D, 2).LE(18, 200, 4).b, false, false, 0, 0},
  };
  return cases;
}

TEST(MediaAnalyser, TypeAndLengthByTheFormatsRules) {
  for (Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    auto analyser = Make(c.analyser);
    ASSERT_TRUE(analyser);
    MemoryDevice device(Planted(c.file, 3, c.tail, true), 512);
    const Outcome out = Measure(*analyser, device, 3);
    EXPECT_EQ(out.header, c.header);
    if (!c.header) continue;
    EXPECT_EQ(out.file.GetFileType(), c.type);
    if (out.file.GetFileSize() != 0 && !out.computed) {  // sized by the header
      EXPECT_FALSE(c.measured);
      EXPECT_EQ(out.file.GetFileSize(), c.size);
      continue;
    }
    EXPECT_EQ(out.computed, c.measured);
    if (c.measured) {
      EXPECT_EQ(out.file.GetFileSize(), c.size);
    }
  }
}

TEST(MediaAnalyser, Mp3TitleAndYearFromTheTagsAndNothingFromTheFileBefore) {
  auto mp3 = Make(RawAnalyserClass::FileMP3);
  MemoryDevice withTags(Planted(Mp3File(3, true), 2, 4096, true), 512);
  Outcome out = Measure(*mp3, withTags, 2);
  ASSERT_TRUE(out.computed);
  EXPECT_EQ(out.file.GetFirstInfoText(), "Hand Made");
  EXPECT_EQ(out.file.GetSecondInfoText(), "1999");
  EXPECT_EQ(mp3->GetFirstInfoText(), "Hand Made");

  // Only the closing ID3v1 tag names the next file; nothing of the first one is left.
  Bytes untitled = Join({Id3v2Tag("", ""), Repeat(Mp3Frame(), 2), Id3v1Tag("Old Title", "1988")});
  MemoryDevice v1Only(Planted(untitled, 2, 4096, true), 512);
  out = Measure(*mp3, v1Only, 2);
  ASSERT_TRUE(out.computed);
  EXPECT_EQ(out.file.GetFirstInfoText(), "Old Title");
  EXPECT_EQ(out.file.GetSecondInfoText(), "1988");
}

TEST(MediaAnalyser, MpegFrameHeaders) {
  struct Row {
    uint8_t b[4];
    bool valid;
    unsigned length;
  };
  const Row rows[] = {
      {{0xFF, 0xFB, 0x90, 0x00}, true, 417},  // MPEG 1 Layer III, 128 kbit/s, 44.1 kHz
      {{0xFF, 0xFB, 0x92, 0x00}, true, 418},  // the same, padded
      {{0xFF, 0xF3, 0x80, 0x00}, true, 208},  // MPEG 2 Layer III, 64 kbit/s, 22.05 kHz
      {{0xFF, 0xE3, 0x88, 0x00}, true, 576},  // MPEG 2.5 Layer III, 64 kbit/s, 8 kHz
      {{0xFF, 0xFF, 0x14, 0x00}, true, 32},   // MPEG 1 Layer I, 32 kbit/s, 48 kHz
      {{0xFF, 0xFD, 0x14, 0xC0}, true, 96},   // MPEG 1 Layer II, 32 kbit/s, 48 kHz, mono
      {{0xFF, 0xFD, 0x14, 0x00}, false, 0},   // ... in stereo
      {{0xFF, 0xFD, 0xB4, 0xC0}, false, 0},   // MPEG 1 Layer II, 224 kbit/s, mono
      {{0xFF, 0xEB, 0x90, 0x00}, false, 0},   // reserved version
      {{0xFF, 0xF9, 0x90, 0x00}, false, 0},   // reserved layer
      {{0xFF, 0xFB, 0x00, 0x00}, false, 0},   // free bit rate
      {{0xFF, 0xFB, 0x9C, 0x00}, false, 0},   // reserved sampling rate
      {{0xFF, 0xFB, 0x90, 0x02}, false, 0},   // reserved emphasis
  };
  FileMP3Analyser mp3;
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(std::vector<int>(r.b, r.b + 4)));
    EXPECT_EQ(mp3.ParseFrameHeader(r.b), r.valid);
    if (r.valid) {
      EXPECT_EQ(mp3.GetFrameLength(), r.length);
    }
  }
}

TEST(MediaAnalyser, Id3TextsAreCutToTheirBufferAndMalformedTextEnds) {
  struct Row {
    const char* name;
    Bytes body;
    size_t capacity;
    std::string expected;
  };
  auto bytes = [](std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) b.push_back(static_cast<uint8_t>(x));
    return b;
  };
  const Row rows[] = {
      {"Latin1", bytes({0, 'a', 0xE9, 'b'}), 16,
       "a\xC3\xA9"
       "b"},
      {"Latin1CutBeforeTheNul", bytes({0, 'a', 'b', 'c', 'd'}), 4, "abc"},
      {"Utf16", bytes({1, 0xFF, 0xFE, 'h', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE}), 16,
       "h\xC3\xA9\xF0\x9F\x98\x80"},
      {"Utf16WithoutByteOrderMark", bytes({1, 'h', 0, 'i', 0}), 16, "unchanged"},
      {"Utf16OddLengthAndLoneSurrogate", bytes({1, 0xFF, 0xFE, 'o', 0, 0x00, 0xDC, 'x'}), 16, "o"},
      {"Utf8", bytes({3, 'G', 0xC3, 0xBC}), 16, "G\xC3\xBC"},
      {"Utf8Malformed", bytes({3, 'a', 0xC3, 'b'}), 16, "a"},
      {"Utf8AboveTheLastCodePoint", bytes({3, 'a', 0xF4, 0x90, 0x80, 0x80}), 16, "a"},
      {"Utf8NeverSplitsACharacter", bytes({3, 'a', 'b', 0xC3, 0xBC}), 4, "ab"},
      {"Utf16BigEndianIsNotRead", bytes({2, 0xFE, 0xFF, 0, 'h'}), 16, "unchanged"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string out = "unchanged";
    FileMP3Analyser::DecodeId3Text(r.body.data(), r.body.size(), &out, r.capacity);
    EXPECT_EQ(out, r.expected);
  }
}

TEST(MediaAnalyser, DxfWithoutEndRunsToTheSizeLimitAndOneByte) {
  ScopedMaxRawFileSize limit(20000);
  auto dxf = Make(RawAnalyserClass::FileDXF);
  const Bytes file = Text("  0\r\nSECTION\r\n  2\r\nHEADER\r\n  9\r\n$ACADVER\r\n");
  MemoryDevice device(Planted(file, 1, 65536, true), 512);
  const Outcome out = Measure(*dxf, device, 1);
  ASSERT_TRUE(out.computed);
  EXPECT_EQ(out.file.GetFileSize(), 20001u);
}

// With both types chosen in the order of their ids, a QuickTime movie is a MOV file and an MP4 file
// an MP4 file, whichever analyser the search asks first.
TEST(MediaAnalyser, FileTypeBoxGoesToTheAnalyserOfItsBrand) {
  const std::vector<int> ids = {2, 40, 42};
  CRawFileAnalyserList list;
  CreateRawFileAnalysers(list, &ids);
  const struct {
    const char* brand;
    int32_t type;
  } rows[] = {{"qt  ", kRawTypeMOV}, {"isom", kRawTypeMP4}, {"M4V ", kRawTypeMP4}, {"3gp4", kRawType3GP}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.brand);
    Bytes sector = IsoFile(r.brand, {Box("mdat", 100)});
    sector.resize(512, 0);
    CRawFileInfo file;
    IRawFileAnalyser* winner = corvale::OfferToEveryAnalyser(list, sector.data(), &file);
    ASSERT_NE(winner, nullptr);
    EXPECT_EQ(file.GetFileType(), r.type);
  }
}

}  // namespace
