// The archive analysers on hand-made files, one rule per row: the type a ZIP's part names give,
// where each walk ends, and the header-only formats' refusals. The files made by the archivers
// themselves are carved in ArchiveCarvingImageTest.
#include <gtest/gtest.h>

#include "ArchiveHeaders.h"
#include "RawTestSupport.h"
#include "raw/RawFileTypeTable.h"

namespace {

using namespace rawtest;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Patched(Bytes b, size_t at, uint64_t value, int width) {
  Builder w;
  w.b = std::move(b);
  return w.LE(at, value, width).b;
}

Bytes ZipLocal(const std::string& name, size_t dataBytes, uint16_t method = 8) {
  Builder b(30);
  b.LE(0, 0x04034B50, 4).LE(4, 20, 2).LE(8, method, 2).LE(18, dataBytes, 4).LE(22, dataBytes, 4);
  b.LE(26, name.size(), 2).Text(30, name);
  Bytes data = RandomBytes(dataBytes, static_cast<uint32_t>(name.size()));
  b.b.insert(b.b.end(), data.begin(), data.end());
  return b.b;
}

Bytes ZipCentral(const std::string& name) {
  return Builder(46).LE(0, 0x02014B50, 4).LE(28, name.size(), 2).Text(46, name).b;
}

Bytes ZipEnd(const std::string& comment = "") {
  return Builder(22).LE(0, 0x06054B50, 4).LE(20, comment.size(), 2).Text(22, comment).b;
}

Bytes Zip(const std::vector<std::string>& names) {
  Bytes out;
  for (const std::string& n : names) out = Cat({out, ZipLocal(n, 700)});
  for (const std::string& n : names) out = Cat({out, ZipCentral(n)});
  return Cat({out, ZipEnd("made by hand")});
}

Bytes RarBlock(uint8_t type, std::initializer_list<std::pair<size_t, uint64_t>> fields, uint16_t headerSize,
               size_t dataBytes = 0) {
  Builder b(headerSize);
  b.LE(2, type, 1).LE(5, headerSize, 2);
  for (auto [at, v] : fields) b.LE(at, v, 4);
  Bytes data = RandomBytes(dataBytes, 3);
  b.b.insert(b.b.end(), data.begin(), data.end());
  return b.b;
}

const Bytes kRarMarker = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
const Bytes kRarEnd = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};

Bytes Rar(bool withEnd) {
  Bytes b = Cat({kRarMarker, RarBlock(0x73, {}, 13), RarBlock(0x74, {{7, 3000}, {11, 5000}}, 40, 3000),
                 RarBlock(0x74, {{7, 100}, {11, 100}}, 35, 100)});
  return withEnd ? Cat({b, kRarEnd}) : b;
}

Bytes TarHeader(const std::string& name, uint64_t size, char kind) {
  char digits[12];
  std::snprintf(digits, sizeof digits, "%011llo", static_cast<unsigned long long>(size));
  return Builder(512).Text(0, name).Text(124, digits).Text(156, std::string(1, kind)).Text(257, "ustar").b;
}

// A folder first, an empty file, then a file of 700 bytes, and the archive's end of two zero blocks.
Bytes Tar() {
  Bytes data = RandomBytes(700, 9);
  data.resize(1024, 0);
  return Cat({TarHeader("docs/", 0, '5'), TarHeader("docs/empty", 0, '0'), TarHeader("docs/a", 700, '0'),
              data, Bytes(1024, 0)});
}

Bytes LzhMember(const std::string& name, size_t dataBytes, const char* method = "-lh5-") {
  Builder b(22 + name.size());
  b.LE(0, 20 + name.size(), 1)
      .Text(2, method)
      .LE(7, dataBytes, 4)
      .LE(11, dataBytes, 4)
      .LE(21, name.size(), 1);
  b.Text(22, name);
  Bytes data = RandomBytes(dataBytes, 4);
  b.b.insert(b.b.end(), data.begin(), data.end());
  return b.b;
}

struct Case {
  const char* name;
  RawAnalyserClass analyser;
  Bytes file;
  bool header;
  bool measured;  // the length pass's answer (header-only formats: ignored)
  int32_t type;
  uint64_t size;
  uint32_t sectorSize = 512;
};

std::vector<Case> Cases() {
  const Bytes docx =
      Zip({"[Content_Types].xml", "_rels/.rels", "word/document.xml", "word/_rels/document.xml.rels"});
  const Bytes xlsx = Zip({"[Content_Types].xml", "xl/workbook.xml", "xl/_rels/workbook.xml.rels"});
  const Bytes pptx = Zip({"[Content_Types].xml", "ppt/_rels/presentation.xml.rels", "ppt/presentation.xml"});
  const Bytes cdr = Zip({"content/riffData.cdr", "content/data/a.bin"});
  const Bytes plain = Zip({"a.txt", "word/_rels/document.xml.rels"});
  const Bytes method12 =
      Cat({ZipLocal("a.txt", 300), ZipLocal("b.txt", 300, 12), ZipCentral("a.txt"), ZipEnd()});
  const Bytes rar = Rar(true), rarCut = Rar(false);
  const Bytes tar = Tar();
  const Bytes lzh = Cat({LzhMember("a.txt", 900), LzhMember("b.txt", 20, "-lh0-"), Bytes{0}});
  std::vector<Case> cases = {
      {"ZipOfficeWordDocument", RawAnalyserClass::FileZIP, docx, true, true, kRawTypeDOCX, docx.size()},
      {"ZipOfficeWorkbook", RawAnalyserClass::FileZIP, xlsx, true, true, kRawTypeXLSX, xlsx.size()},
      {"ZipOfficePresentation", RawAnalyserClass::FileZIP, pptx, true, true, kRawTypePPTX, pptx.size()},
      {"ZipCorelDrawing", RawAnalyserClass::FileZIP, cdr, true, true, kRawTypeCDR, cdr.size()},
      // Office part names count only when the archive begins with the content-types part.
      {"ZipPlainWithOfficePartName", RawAnalyserClass::FileZIP, plain, true, true, kRawTypeZIP, plain.size()},
      {"ZipMethod12EndsTheWalk", RawAnalyserClass::FileZIP, method12, true, true, kRawTypeZIP, 30 + 5 + 300},
      // A second archive right behind the first (its end record ends on a sector boundary here) is
      // not swallowed.
      {"ZipEndsAtItsEndRecord", RawAnalyserClass::FileZIP, Cat({Zip({"a"}), Zip({"b", "c"})}), true, true,
       kRawTypeZIP, Zip({"a"}).size()},
      {"ZipFirstRecordInvalid", RawAnalyserClass::FileZIP, Cat({ZipLocal("a", 10, 11), ZipEnd()}), true,
       false, 0, 0},
      {"RarWithEndBlock", RawAnalyserClass::FileRAR, rar, true, true, kRawTypeRAR, rar.size()},
      {"RarWithoutEndBlock", RawAnalyserClass::FileRAR, rarCut, true, true, kRawTypeRAR, rarCut.size()},
      // Packed above unpacked: the block is invalid and the walk ends before it.
      {"RarBadFileBlock", RawAnalyserClass::FileRAR,
       Cat({kRarMarker, RarBlock(0x73, {}, 13), RarBlock(0x74, {{7, 3000}, {11, 100}}, 40, 3000)}), true,
       true, kRawTypeRAR, 20},
      {"RarBadArchiveHeader", RawAnalyserClass::FileRAR, Cat({kRarMarker, RarBlock(0x73, {}, 9)}), true,
       false, 0, 0},
      // A folder and an empty file (size 0) do not end the archive; its end's first zero block counts.
      {"TarFolderFirst", RawAnalyserClass::FileTAR, tar, true, true, kRawTypeTAR, 3 * 512 + 1024 + 512},
      // Members are padded to tar's 512-byte blocks, not to the device's sectors.
      {"TarOn4096ByteSectors", RawAnalyserClass::FileTAR, tar, true, true, kRawTypeTAR, 3 * 512 + 1024 + 512,
       4096},
      {"LzhEndsBeforeItsEndByte", RawAnalyserClass::FileLZH, lzh, true, true, kRawTypeLZH, lzh.size() - 1},
      {"CabHeaderSize", RawAnalyserClass::FileCAB, CabHeader(4000), true, true, kRawTypeCAB, 4000},
      {"CabReservedField", RawAnalyserClass::FileCAB, Patched(CabHeader(4000), 12, 1, 4), false, false, 0, 0},
      {"CabVersion12", RawAnalyserClass::FileCAB, Patched(CabHeader(4000), 24, 0x0203, 2), false, false, 0,
       0},
      {"CabSizeZero", RawAnalyserClass::FileCAB, CabHeader(0), false, false, 0, 0},
      {"ChmHeaderSize", RawAnalyserClass::FileCHM, ChmHeader(9000), true, true, kRawTypeCHM, 9000},
      {"ChmSizeZero", RawAnalyserClass::FileCHM, ChmHeader(0), false, false, 0, 0},
      {"ChmSecondClassId", RawAnalyserClass::FileCHM, Patched(ChmHeader(9000), 40, 0x10, 1), false, false, 0,
       0},
      {"ChmSection", RawAnalyserClass::FileCHM, Patched(ChmHeader(9000), 112, 1, 4), false, false, 0, 0},
  };
  for (Case& c : cases) c.file.resize(std::max<size_t>(c.file.size(), 512), 0);
  return cases;
}

TEST(ArchiveAnalyser, TypeAndLengthByTheFormatsRules) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    // Zeros after the file, so that every walk has to find its end by the format's own marks.
    MemoryDevice device(Planted(c.file, 2, 8192, true, c.sectorSize), static_cast<int32_t>(c.sectorSize));
    auto analyser = Make(c.analyser);
    ASSERT_TRUE(analyser);
    Outcome out = Measure(*analyser, device, 2);
    ASSERT_EQ(out.header, c.header);
    if (!c.header) continue;
    const bool headerOnly =
        c.analyser == RawAnalyserClass::FileCAB || c.analyser == RawAnalyserClass::FileCHM;
    if (!headerOnly) {
      EXPECT_EQ(out.computed, c.measured);
    }
    if (!headerOnly && !c.measured) continue;
    EXPECT_EQ(out.file.GetFileType(), c.type);
    EXPECT_EQ(out.file.GetFileSize(), c.size);
  }
}

TEST(ArchiveAnalyser, ZipFlagsBelongToTheFileMeasured) {
  auto zip = Make(RawAnalyserClass::FileZIP);
  const Bytes docx = Zip({"[Content_Types].xml", "word/_rels/document.xml.rels"});
  const Bytes cdr = Zip({"content/riffData.cdr"});
  Bytes image = Planted(docx, 1, 0, true);
  const uint64_t second = image.size() / 512;
  image.insert(image.end(), cdr.begin(), cdr.end());
  image.resize((image.size() / 512 + 2) * 512, 0);
  MemoryDevice device(image, 512);
  EXPECT_EQ(Measure(*zip, device, 1).file.GetFileType(), kRawTypeDOCX);
  EXPECT_EQ(Measure(*zip, device, second).file.GetFileType(), kRawTypeCDR);
  EXPECT_EQ(Measure(*zip, device, 1).file.GetFileType(), kRawTypeDOCX);
}

TEST(ArchiveAnalyser, GzipTakesTheMaximumSizeCutAtTheDeviceEnd) {
  auto gz = Make(RawAnalyserClass::FileGZ);
  MemoryDevice device(Planted(Builder(512).LE(0, 0x088B1F, 3).b, 3, 100 * 512), 512);
  const uint64_t toEnd = device.Bytes().size() - 3 * 512;
  struct Row {
    int64_t max;
    uint64_t size;
  };
  // A maximum of 4 GiB or more is no limit for the walks, but still bounds this size.
  for (const Row& r : {Row{20000, 20000}, Row{int64_t{1} << 33, toEnd}, Row{int64_t{1} << 40, toEnd}}) {
    ScopedMaxRawFileSize max(r.max);
    Outcome out = Measure(*gz, device, 3);
    ASSERT_TRUE(out.header && out.computed);
    EXPECT_EQ(out.file.GetFileType(), kRawTypeGZ);
    EXPECT_EQ(out.file.GetFileSize(), r.size) << r.max;
  }
}

TEST(ArchiveAnalyser, WalksStopAtTheSizeLimit) {
  ScopedMaxRawFileSize max(1000);
  const Bytes tar = Tar();
  MemoryDevice device(Planted(tar, 0, 0, true), 512);
  auto analyser = Make(RawAnalyserClass::FileTAR);
  Outcome out = Measure(*analyser, device, 0);
  ASSERT_TRUE(out.computed);
  EXPECT_EQ(out.file.GetFileSize(), 1000u);
}

}  // namespace
