// The document analysers on hand-made files, one rule per row: the type a compound file's
// directory names give, where each scan ends, and the damaged files that are refused.
#include <gtest/gtest.h>

#include "DocumentHeaders.h"
#include "RawTestSupport.h"
#include "raw/DocumentAnalysers.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawSectorReader.h"

namespace {

using namespace rawtest;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Patched(Bytes b, size_t at, uint64_t value, int width) {
  Builder w;
  w.b = std::move(b);
  return w.LE(at, value, width).b;
}

CompoundFile Named(std::u16string e1, std::u16string e2 = u"", std::u16string e3 = u"") {
  CompoundFile f;
  f.names[1] = std::move(e1);
  f.names[2] = std::move(e2);
  f.names[3] = std::move(e3);
  return f;
}

// The allocation table listed in a DIFAT sector (sector 5, after three data sectors) instead of
// the header; `next` is that sector's pointer to the next DIFAT sector.
Bytes WithDifatSector(uint32_t next) {
  CompoundFile f = Named(u"WordDocument");
  f.dataSectors = 4;  // the last data sector becomes the DIFAT sector
  f.fatInHeader = false;
  f.firstDifat = 5;
  Builder b;
  b.b = f.Make();
  const size_t difat = 512 + 5 * 512;
  for (int i = 0; i < 128; ++i) b.LE(difat + 4 * i, kCfbFree, 4);
  b.LE(difat, 0, 4).LE(difat + 4 * 127, next, 4);
  return b.b;
}

struct Case {
  const char* name;
  RawAnalyserClass analyser;
  Bytes file;
  bool header;
  bool measured;
  int32_t type;
  uint64_t size;
  uint32_t sectorSize = 512;
};

const std::string kPdfBody = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\ntrailer\n<< >>\n";

std::vector<Case> Cases() {
  using C = RawAnalyserClass;
  const uint64_t doc = 6 * 512;  // header, table, directory, three data sectors
  const std::string pdf = kPdfBody + "%%EOF\n";
  const std::string update = "2 0 obj\n<< >>\nendobj\ntrailer\n<< /Prev 9 >>\n%%EOF\n";
  const std::string xrefUpdate = "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Prev 60 >>\n%%EOF\n";
  const std::string ai = "%PDF-1.5\n%!PS-Adobe-3.0\n1 0 obj\nendobj\n%%EOF\nmore objects\n%%EOF\r\n";
  const std::string rtf = "{\\rtf1\\ansi {\\b bold} a \\} literal brace\\par }";
  CompoundFile mof;
  CompoundFile wpg = Named(u"PerfectOffice_MAIN", u"PerfectOffice_OBJECTS");
  CompoundFile wpd = wpg;
  wpd.rootClassByte = 0x11;
  CompoundFile unreadable = Named(u"WordDocument");
  unreadable.directorySector = 0x00FFFFF0;
  CompoundFile noTable = Named(u"WordDocument");
  noTable.fatInHeader = false;
  CompoundFile freeDifat = Named(u"WordDocument");
  freeDifat.firstDifat = kCfbFree;
  std::vector<Case> cases = {
      {"OleWord", C::FileOLE, Named(u"WordDocument").Make(), true, true, kRawTypeDOC, doc},
      {"OleWordOn4096", C::FileOLE, Named(u"WordDocument").Make(), true, true, kRawTypeDOC, doc, 4096},
      {"OleObjectPoolInRoot", C::FileOLE,
       [] {
         CompoundFile f;
         f.names[0] = u"ObjectPool";
         return f.Make();
       }(),
       true, true, kRawTypeDOC, doc},
      {"OleWorkbook", C::FileOLE, Named(u"Workbook").Make(), true, true, kRawTypeXLS, doc},
      {"OleBookInThirdEntry", C::FileOLE, Named(u"x", u"Book").Make(), true, true, kRawTypeXLS, doc},
      {"OleWorkbookThenPowerPoint", C::FileOLE, Named(u"Workbook", u"PowerPoint Document").Make(), true, true,
       kRawTypePPT, doc},
      {"OlePicturesPrefix", C::FileOLE, Named(u"Pictures2").Make(), true, true, kRawTypePPT, doc},
      {"OleWorkbookLongerNameIsNot", C::FileOLE, Named(u"Workbooks").Make(), true, true, kRawTypeMOF, doc},
      {"OleScene", C::FileOLE, Named(u"Scene").Make(), true, true, kRawTypeMAX, doc},
      {"OleVisioKeepsTwoSectorsMore", C::FileOLE, Named(u"VisioDocument").Make(), true, true, kRawTypeVSD,
       doc + 1024},
      {"OleWordPerfectGraphic", C::FileOLE, wpg.Make(), true, true, kRawTypeWPG, doc},
      {"OleWordPerfectDocument", C::FileOLE, wpd.Make(), true, true, kRawTypeWPD, doc},
      {"OlePresentations", C::FileOLE,
       Named(u"PerfectOffice_MAIN", u"PerfectOffice_OBJECTS", u"\x05SummaryInformation").Make(), true, true,
       kRawTypeSHW, doc},
      {"OlePublisher", C::FileOLE, Named(u"Objects", u"Quill", u"Escher").Make(), true, true, kRawTypePUB,
       doc},
      {"OleQuattro", C::FileOLE, Named(u"NativeContent_MAIN").Make(), true, true, kRawTypeQPW, doc},
      {"OleProject", C::FileOLE,
       Named(u"\x01"
             u"CompObj",
             u"   112", u"   212")
           .Make(),
       true, true, kRawTypeMPP, doc},
      {"OleAccessProject", C::FileOLE, Named(u"PropData", u"Forms", u"Reports").Make(), true, true,
       kRawTypeADP, doc},
      {"OleNoKnownName", C::FileOLE, mof.Make(), true, true, kRawTypeMOF, doc},
      {"OleDirectoryUnreadable", C::FileOLE, unreadable.Make(), true, true, kRawTypeMOF, doc},
      {"OleNoAllocationTable", C::FileOLE, noTable.Make(), true, false, 0, 0},
      {"OleFreeDifatStartIsTheEnd", C::FileOLE, freeDifat.Make(), true, true, kRawTypeDOC, doc},
      {"OleDifatSector", C::FileOLE, WithDifatSector(kCfbEndOfChain), true, true, kRawTypeDOC, 7 * 512},
      {"OleDifatLoopsToItself", C::FileOLE, WithDifatSector(5), true, true, kRawTypeDOC, 7 * 512},
      {"OleDifatPastTheDevice", C::FileOLE, WithDifatSector(0x7FFFFFF0), true, false, 0, 0},
      {"OleTablePastTheDevice", C::FileOLE, Patched(Named(u"WordDocument").Make(), 76, 0x00FFFFF0, 4), true,
       false, 0, 0},
      {"OleSignatureDamaged", C::FileOLE, Patched(Named(u"WordDocument").Make(), 7, 0, 1), false, false, 0,
       0},

      {"PdfEndsAfterTheMark", C::FilePDF, Text(pdf), true, true, kRawTypePDF, pdf.size()},
      {"PdfIncrementalUpdatesEndAtTheLastMark", C::FilePDF, Text(pdf + update + "\r\n" + xrefUpdate), true,
       true, kRawTypePDF, pdf.size() + update.size() + 2 + xrefUpdate.size()},
      {"PdfUpdateWithoutItsMarkEndsAtTheLastMark", C::FilePDF, Text(pdf + "3 0 obj\n<< /Len"), true, true,
       kRawTypePDF, pdf.size()},
      {"PdfTextAfterTheMarkIsNoUpdate", C::FilePDF, Text(pdf + "12 0 R obj\nxref\n%%EOF\n"), true, true,
       kRawTypePDF, pdf.size()},
      {"PdfNextDocumentAfterTheMarkIsNoUpdate", C::FilePDF, Text(pdf + kPdfBody + "%%EOF\n"), true, true,
       kRawTypePDF, pdf.size()},
      {"PdfNextDocumentInsideAnUpdateEndsAtTheLastMark", C::FilePDF,
       Text(pdf + "xref\n0 1\n" + kPdfBody + "%%EOF\n"), true, true, kRawTypePDF, pdf.size()},
      {"PdfNextDocumentEndsIt", C::FilePDF, Text(kPdfBody + "%PDF-1.4\n"), true, true, kRawTypePDF,
       kPdfBody.size()},
      {"IllustratorGoesOnPastTextAfterTheMark", C::FilePDF, Text(ai), true, true, kRawTypeAI, ai.size()},
      {"PdfHeaderDamaged", C::FilePDF, Text("%PDX-1.4\n"), false, false, 0, 0},

      {"RtfEndsAtTheOutermostBrace", C::FileRTF, Text(rtf + "junk{"), true, true, kRawTypeRTF, rtf.size()},
      {"RtfStopsAtNul", C::FileRTF, Text("{\\rtf1 {unclosed"), true, false, kRawTypeRTF, 16},
      {"RtfHeaderDamaged", C::FileRTF, Text("{\\rtx1}"), false, false, 0, 0},

      {"HtmlEndsAfterTheClosingTag", C::FileHTM, Text("<HTML><body>x</body></html>\n"), true, true,
       kRawTypeHTM, 27},
      {"HtmlDoctype", C::FileHTM, Text("<!doctype html>\n<p>x</p></HTML>"), true, true, kRawTypeHTM, 31},
      {"HtmlAfterAComment", C::FileHTM, Text("<!-- saved page -->\n<Html><p>x</p></HTML>"), true, true,
       kRawTypeHTM, 41},
      {"HtmlOtherMarkupIsNot", C::FileHTM, Text("<body>x</body></html>"), false, false, 0, 0},

      {"WideHtmlEndsPastTheClosingTag", C::FileUnicodeHTM, WideText("<html><body>x</body></HTML>"), true,
       true, kRawTypeHTM, 2 + 2 * 20 + 16},
      {"WideHtmlDoctype", C::FileUnicodeHTM, WideText("<!DOCTYPE x><HTML>a</html>"), true, true, kRawTypeHTM,
       2 + 2 * 19 + 16},
      {"WideHtmlStopsAtNul", C::FileUnicodeHTM, WideText("<html>abc"), true, true, kRawTypeHTM, 2 + 2 * 9},
      {"WideHtmlWithoutPageTagIsNot", C::FileUnicodeHTM, WideText("<!DOCTYPE x><body>"), false, false, 0, 0},

      {"JetPagesToTheFirstEmpty", C::FileMDB, Pages("Standard Jet DB", 4), true, true, kRawTypeMDB, 4 * 4096},
      {"AcePages", C::FileMDB, Pages("Standard ACE DB", 2), true, true, kRawTypeACCDB, 2 * 4096},
      {"OtherEngineIsNot", C::FileMDB, Pages("Standard XYZ DB", 2), false, false, 0, 0},

      {"Word6Rounded", C::FileLowDoc, DocumentHeaders()[6], true, false, kRawTypeDOC, 5120},
      {"Word2SumsDoNotWrap", C::FileLowDoc,
       Builder(512).Put(0, "\xDB\xA5\x2D\x00", 4).LE(292, 0xFFFFFFFF, 4).LE(296, 0xFFFF, 2).b, true, false,
       kRawTypeDOC, 0x100010000},
      {"LowDocCompound", C::FileLowDoc, Named(u"WordDocument").Make(), true, false, kRawTypeDOC, 6 * 512},
      {"LowDocCompoundDoesNotWrap", C::FileLowDoc, Patched(Named(u"x").Make(), 48, 0xFFFFFFFF, 4), true,
       false, kRawTypeDOC, 0x100000004ull * 512},
      {"WordPerfect", C::FileWPD, DocumentHeaders()[7], true, false, kRawTypeWPD, 7000},
      {"WordPerfectGraphic", C::FileWPD,
       Patched(Patched(DocumentHeaders()[7], 8, 0x00021601, 4), 14, 0x00030000, 4), true, false, kRawTypeWPG,
       7000},
      {"WordPerfectShow", C::FileWPD,
       Patched(Patched(DocumentHeaders()[7], 8, 0x00010F0F, 4), 14, 0x00030000, 4), true, false, kRawTypeSHW,
       7000},
      {"WordPerfectOtherKindIsNot", C::FileWPD, Patched(DocumentHeaders()[7], 14, 0x00030000, 4), false,
       false, 0, 0},
      {"WordPerfectSizeZeroIsNot", C::FileWPD, Patched(DocumentHeaders()[7], 20, 0, 4), false, false, 0, 0},
      {"PstAnsi", C::FilePST, DocumentHeaders()[8], true, false, kRawTypePST, 9000},
      {"PstUnicodeSixtyFourBit", C::FilePST,
       Patched(Patched(DocumentHeaders()[8], 10, 23, 1), 184, 0x100002000ull, 8), true, false, kRawTypePST,
       0x100002000ull},
      {"PstOtherVersion", C::FilePST, Patched(DocumentHeaders()[8], 10, 15, 1), true, false, kRawTypePST,
       0x100000},
      {"OneNote", C::FileONE, DocumentHeaders()[9], true, false, kRawTypeONE, 70000},
      {"OneNoteSizeZero", C::FileONE, Patched(DocumentHeaders()[9], 196, 0, 4), true, false, kRawTypeONE,
       0x300000},
      {"OneNoteSizeHuge", C::FileONE, Patched(DocumentHeaders()[9], 196, 0x50000000, 4), true, false,
       kRawTypeONE, 0x300000},
      {"Money", C::FileMNY, DocumentHeaders()[10], true, false, kRawTypeMNY, 0x100000},
      {"OutlookExpress", C::FileDBX, DocumentHeaders()[11], true, false, kRawTypeDBX, 20000},
      {"OutlookExpressC7", C::FileDBX, Patched(DocumentHeaders()[11], 4, 0xC7, 1), true, false, kRawTypeDBX,
       20000},
      {"OutlookExpressC8IsNot", C::FileDBX, Patched(DocumentHeaders()[11], 4, 0xC8, 1), false, false, 0, 0},
      {"OutlookExpressJmf", C::FileDBX,
       Builder(512).Text(0, std::string("JMF6\x03\0\x10\0", 8)).LE(124, 900, 4).b, true, false, kRawTypeDBX,
       900},
      {"Help", C::FileHLP, DocumentHeaders()[12], true, false, kRawTypeHLP, 10000},
      {"HelpTooSmallIsNot", C::FileHLP, Patched(DocumentHeaders()[12], 12, 100, 4), false, false, 0, 0},
      {"HelpBelowItsDirectoryIsNot", C::FileHLP, Patched(DocumentHeaders()[12], 4, 20000, 4), false, false, 0,
       0},
  };
  for (Case& c : cases) c.file.resize(std::max<size_t>(c.file.size(), 512), 0);
  return cases;
}

TEST(DocumentAnalyser, TypeAndLengthByTheFormatsRules) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    // Zeros after the file, so that every scan has to find its end by the format's own marks.
    MemoryDevice device(Planted(c.file, 2, 8192, true, c.sectorSize), static_cast<int32_t>(c.sectorSize));
    auto analyser = Make(c.analyser);
    ASSERT_TRUE(analyser);
    Outcome out = Measure(*analyser, device, 2);
    ASSERT_EQ(out.header, c.header);
    if (!c.header) continue;
    EXPECT_EQ(out.computed, c.measured);
    if (c.measured || c.size != 0) {
      EXPECT_EQ(out.file.GetFileType(), c.type);
      EXPECT_EQ(out.file.GetFileSize(), c.size);
    }
  }
}

TEST(DocumentAnalyser, CompoundFileTooLargeForAnUnreadableDirectoryIsRefused) {
  // 109 table sectors in the header and 127 more in a DIFAT sector: far above 10 MiB of sectors.
  CompoundFile f = Named(u"WordDocument");
  f.directorySector = 0x00FFFFF0;
  f.firstDifat = 2;
  Builder b;
  b.b = f.Make();
  for (int i = 0; i < 109; ++i) b.LE(76 + 4 * i, 0, 4);
  for (int i = 0; i < 127; ++i) b.LE(512 + 2 * 512 + 4 * i, 0, 4);
  b.LE(512 + 2 * 512 + 4 * 127, kCfbEndOfChain, 4);
  MemoryDevice device(Planted(b.b, 1, 4096, true), 512);
  auto ole = Make(RawAnalyserClass::FileOLE);
  EXPECT_FALSE(Measure(*ole, device, 1).computed);

  // The same with the header's tables alone is under the bound: kept, cut at the device's end.
  b.LE(68, kCfbEndOfChain, 4);
  MemoryDevice smaller(Planted(b.b, 1, 4096, true), 512);
  Outcome out = Measure(*ole, smaller, 1);
  ASSERT_TRUE(out.computed);
  EXPECT_EQ(out.file.GetFileType(), kRawTypeMOF);
  EXPECT_EQ(out.file.GetFileSize(), smaller.Bytes().size() - 512);
}

TEST(DocumentAnalyser, CompoundUnitsReadAcrossDeviceSectors) {
  const Bytes file = RandomBytes(3 * 4096, 5);
  MemoryDevice device(Planted(file, 1, 0, true, 4096), 4096);
  uint8_t units[3 * 512];
  // Units 7 to 9 straddle the file's first two device sectors.
  ASSERT_TRUE(FileOLEAnalyser::ReadCompoundSectors(units, 1, 7, 3, &device));
  EXPECT_TRUE(std::equal(units, units + 3 * 512, file.begin() + 7 * 512));
  EXPECT_FALSE(FileOLEAnalyser::ReadCompoundSectors(units, 1, 22, 3, &device));  // runs past the end
  EXPECT_FALSE(FileOLEAnalyser::ReadCompoundSectors(units, 1, 0xFFFFFFFF, 1, &device));
  EXPECT_FALSE(FileOLEAnalyser::ReadCompoundSectors(units, 1, UINT64_MAX, 1, &device));
  MemoryDevice small(Planted(file, 1, 0, true, 512), 512);
  ASSERT_TRUE(FileOLEAnalyser::ReadCompoundSectors(units, 1, 7, 3, &small));
  EXPECT_TRUE(std::equal(units, units + 3 * 512, file.begin() + 7 * 512));
  EXPECT_FALSE(FileOLEAnalyser::ReadCompoundSectors(units, 1, 22, 3, &small));
}

TEST(DocumentAnalyser, HtmlWithoutClosingTagEndsPastTheLimit) {
  MemoryDevice device(Planted(Text("<html><body>no end"), 0, 2 * FileHTMAnalyser::kTrailerLimit, true), 512);
  auto htm = Make(RawAnalyserClass::FileHTM);
  Outcome out = Measure(*htm, device, 0);
  ASSERT_TRUE(out.computed);
  EXPECT_EQ(out.file.GetFileSize(), FileHTMAnalyser::kTrailerLimit + 1);
}

TEST(DocumentAnalyser, EndMarksAcrossTheReadersWindow) {
  // Each mark starts 3 bytes before the end of the reader's first window.
  const uint64_t window = CRawSectorReader::kWindowSectors * 512;
  struct Row {
    RawAnalyserClass analyser;
    std::string head, mark;
    uint64_t size;
  };
  const Row rows[] = {
      {RawAnalyserClass::FileHTM, "<html><body>", "</HTML>", window + 4},
      {RawAnalyserClass::FilePDF, "%PDF-1.4\n", "%%EOF\n", window + 3},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.mark);
    Builder file(window - 3);
    for (size_t i = 0; i < file.b.size(); ++i) file.b[i] = 'x';
    file.Text(0, r.head).Text(window - 3, r.mark);
    MemoryDevice device(Planted(file.b, 0, 4096, true), 512);
    auto analyser = Make(r.analyser);
    Outcome out = Measure(*analyser, device, 0);
    ASSERT_TRUE(out.computed);
    EXPECT_EQ(out.file.GetFileSize(), r.size);
  }
}

}  // namespace
