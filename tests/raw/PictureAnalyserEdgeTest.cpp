// The picture analysers on the edges of their formats and on lying, cut and looping structures:
// real files changed in one place, and hand-made headers where no tool writes the format.
#include <gtest/gtest.h>

#include "RawTestSupport.h"
#include "raw/ExifReader.h"
#include "raw/FileTIFAnalyser.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawSectorReader.h"

namespace {

using namespace rawtest;
using C = RawAnalyserClass;

// Offset of the first byte after a JPEG's start-of-scan segment, by walking its markers.
uint64_t JpegScanStart(const Bytes& f) {
  uint64_t pos = 2;
  while (pos + 4 <= f.size()) {
    const uint64_t length = (uint64_t{f[pos + 2]} << 8) | f[pos + 3];
    if (f[pos + 1] == 0xDA) return pos + 2 + length;
    pos += 2 + length;
  }
  return 0;
}

// Offset of the first marker segment of `marker` in a JPEG.
uint64_t JpegSegment(const Bytes& f, uint8_t marker) {
  uint64_t pos = 2;
  while (pos + 4 <= f.size()) {
    if (f[pos + 1] == marker) return pos;
    pos += 2 + ((uint64_t{f[pos + 2]} << 8) | f[pos + 3]);
  }
  return 0;
}

class Pictures : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    m_dir = corvale::test::FixtureImage("raw_pictures.sh", "raw_pictures", &why);
    if (m_dir.empty()) GTEST_SKIP() << "fixture raw_pictures unavailable: " << why;
  }
  Bytes Picture(const std::string& name) { return ReadFile(m_dir + "/pictures/" + name); }
  std::string m_dir;
};

// --- JPEG ---------------------------------------------------------------------------------------

TEST_F(Pictures, JpegWithoutEndMarkerEndsAtThreeBytesAPixelAfterTheScanStart) {
  Bytes f = Picture("jfif.jpg");
  f.erase(f.end() - 2, f.end());  // drop FF D9
  const uint64_t scan = JpegScanStart(f);
  ASSERT_GT(scan, 0u);
  MemoryDevice device(Planted(f, 1, 640 * 480 * 3 + 4096, /*zeroTail=*/true));
  auto jpg = Make(C::FileJPG);
  const Outcome out = Measure(*jpg, device, 1);
  ASSERT_TRUE(out.computed);
  EXPECT_EQ(out.file.GetFileSize(), scan + 640 * 480 * 3 + 2);
}

// A picture's data cut short and followed by other bytes, as when its clusters were not contiguous:
// the file ends where its data stops being valid JPEG data, never at an end marker further on; cut
// by the next picture, it is refused (size 0 below).
TEST_F(Pictures, JpegDataEndsWhereItStopsBeingValid) {
  const Bytes good = Picture("jfif.jpg");
  const Bytes next = Picture("bare.jpg");
  const uint64_t scan = JpegScanStart(good);
  ASSERT_GT(scan, 0u);
  // A place inside the scan data that does not split an FF from the byte after it.
  uint64_t cut = scan + (good.size() - scan) / 2;
  while (good[cut - 1] == 0xFF) ++cut;
  const Bytes head(good.begin(), good.begin() + static_cast<long>(cut));
  struct Case {
    const char* what;
    Bytes after;
    uint64_t size;
  };
  const Case cases[] = {
      {"another picture", next, 0},
      {"a code no image data holds", Bytes{0x12, 0x34, 0xFF, 0x01, 0x00, 0xFF, 0xD9}, cut + 2},
      {"a frame header after the scan", Bytes{0xFF, 0xC0, 0x00, 0x11, 0xFF, 0xD9}, cut},
      {"stuffed and restart bytes, then the end", Bytes{0xFF, 0x00, 0xFF, 0xD3, 0xFF, 0xFF, 0xD9, 0xFF, 0xD8},
       cut + 7},
      {"a table segment between scans, whose bytes hold an FF D8",
       Bytes{0xFF, 0xC4, 0x00, 0x04, 0xFF, 0xD8, 0xFF, 0xD9}, cut + 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes f = head;
    f.insert(f.end(), c.after.begin(), c.after.end());
    MemoryDevice device(Planted(f, 1, 8192));
    auto jpg = Make(C::FileJPG);
    const Outcome out = Measure(*jpg, device, 1);
    EXPECT_EQ(out.computed, c.size != 0);
    if (c.size != 0) EXPECT_EQ(out.file.GetFileSize(), c.size);
  }
}

TEST_F(Pictures, JpegEndScanStopsAtTheDeviceEndAndTheSizeLimit) {
  Bytes f = Picture("large.jpg");
  f.erase(f.end() - 2, f.end());
  auto jpg = Make(C::FileJPG);
  {
    MemoryDevice device(Planted(f, 2, 0, true));
    const Outcome out = Measure(*jpg, device, 2);
    ASSERT_TRUE(out.computed);
    EXPECT_EQ(out.file.GetFileSize(), device.Bytes().size() - 2 * 512);
  }
  {
    ScopedMaxRawFileSize limit(300000);
    MemoryDevice device(Planted(Picture("large.jpg"), 2, 0, true));
    const Outcome out = Measure(*jpg, device, 2);
    ASSERT_TRUE(out.computed);
    EXPECT_EQ(out.file.GetFileSize(), 300000u);
  }
}

TEST_F(Pictures, JpegMarkerWalkRefusesBrokenSegments) {
  const Bytes good = Picture("jfif.jpg");
  const uint64_t second = 2 + 2 + ((uint64_t{good[4]} << 8) | good[5]);  // the marker after APP0
  const uint64_t sof = JpegSegment(good, 0xC0);
  ASSERT_GT(sof, 0u);
  struct Change {
    const char* what;
    uint64_t at;
    std::vector<uint8_t> bytes;
  };
  const Change changes[] = {
      {"a marker without its FF", second, {0x00}},
      {"a segment length below two", second + 2, {0x00, 0x01}},
      {"a frame of 12-bit samples", sof + 4, {12}},
      {"a scan before any frame header", sof + 1, {0xC4}},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    Bytes f = good;
    std::copy(c.bytes.begin(), c.bytes.end(), f.begin() + static_cast<long>(c.at));
    MemoryDevice device(Planted(f, 1, 4096));
    auto jpg = Make(C::FileJPG);
    const Outcome out = Measure(*jpg, device, 1);
    EXPECT_TRUE(out.header);
    EXPECT_FALSE(out.computed);
  }
}

TEST_F(Pictures, BareJpegMustBeAColourImage) {
  Bytes f = Picture("bare.jpg");
  const uint64_t sof = JpegSegment(f, 0xC0);
  ASSERT_GT(sof, 0u);
  f[sof + 9] = 1;  // one component
  MemoryDevice device(Planted(f, 1, 4096));
  auto jpg = Make(C::FileJPG);
  EXPECT_FALSE(Measure(*jpg, device, 1).computed);
}

TEST_F(Pictures, JpegFillBytesBeforeAMarkerAreSteppedOver) {
  const Bytes good = Picture("jfif.jpg");
  const uint64_t second = 2 + 2 + ((uint64_t{good[4]} << 8) | good[5]);
  Bytes f(good.begin(), good.begin() + static_cast<long>(second));
  f.insert(f.end(), {0xFF, 0xFF});
  f.insert(f.end(), good.begin() + static_cast<long>(second), good.end());
  MemoryDevice device(Planted(f, 1, 4096));
  auto jpg = Make(C::FileJPG);
  const Outcome out = Measure(*jpg, device, 1);
  ASSERT_TRUE(out.computed);
  EXPECT_EQ(out.file.GetFileSize(), f.size());
}

TEST(JpegHostile, HugeFrameAndLyingApp1StayInsideTheDevice) {
  // An EXIF header whose APP1 claims 65535 bytes on a device of two sectors, and a frame of
  // 65535 x 65535 pixels with no end marker: the sizes stay within the device, nothing overflows.
  Builder exif(1024);
  exif.BE(0, 0xFFD8FFE1, 4).BE(4, 0xFFFF, 2).Text(6, "Exif");
  MemoryDevice shortDevice(exif.Size(1024).b);
  auto jpg = Make(C::FileJPG);
  const Outcome lying = Measure(*jpg, shortDevice, 0);
  EXPECT_TRUE(lying.header);
  EXPECT_FALSE(lying.computed);
  EXPECT_EQ(lying.file.GetFirstInfoText(), "");

  Builder huge(64 * 512);
  huge.BE(0, 0xFFD8FFE0, 4).BE(4, 16, 2).Text(6, "JFIF");
  huge.BE(20, 0xFFC0, 2)
      .BE(22, 17, 2)
      .Put(24, "\x08", 1)
      .BE(25, 0xFFFF, 2)
      .BE(27, 0xFFFF, 2)
      .Put(29, "\x03", 1);
  huge.BE(39, 0xFFDA, 2).BE(41, 12, 2).Put(43, "\x03", 1);
  MemoryDevice hugeDevice(huge.b);
  const Outcome out = Measure(*jpg, hugeDevice, 0);
  ASSERT_TRUE(out.computed);
  EXPECT_EQ(out.file.GetFileSize(), hugeDevice.Bytes().size());
}

// --- EXIF ---------------------------------------------------------------------------------------

// An EXIF block: "Exif\0\0", a little-endian TIFF header with IFD0 at 8, then what the test adds.
struct ExifBlock {
  Builder b{6 + 8};
  ExifBlock() { b.Text(0, std::string("Exif\0\0II", 8)).LE(8, 42, 2).LE(10, 8, 4); }
  // An IFD at TIFF offset `at` with entries {tag, type, count, value} and a next link.
  ExifBlock& Ifd(uint64_t at, std::vector<std::array<uint32_t, 4>> entries, uint32_t next) {
    const size_t o = 6 + at;
    b.LE(o, entries.size(), 2);
    for (size_t i = 0; i < entries.size(); ++i) {
      b.LE(o + 2 + 12 * i, entries[i][0], 2).LE(o + 4 + 12 * i, entries[i][1], 2);
      b.LE(o + 6 + 12 * i, entries[i][2], 4).LE(o + 10 + 12 * i, entries[i][3], 4);
    }
    b.LE(o + 2 + 12 * entries.size(), next, 4);
    return *this;
  }
  ExifBlock& At(uint64_t tiffOffset, const std::string& text) {
    b.Text(6 + tiffOffset, text);
    return *this;
  }
  bool Read(ExifInfo& info) { return ReadExifBlock(b.b.data(), static_cast<uint32_t>(b.b.size()), &info); }
};

TEST(ExifReader, TakesMakeModelAndDateFromIfd0AndTheExifSubIfd) {
  ExifBlock e;
  e.Ifd(8, {{271, 2, 6, 100}, {272, 2, 40, 110}, {34665, 4, 1, 200}}, 0)
      .At(100, std::string("Maker\0", 6))
      .At(110, "A model name well over thirty-nine chars")
      .Ifd(200, {{36867, 2, 20, 300}}, 0)
      .At(300, std::string("2020:01:02 03:04:05\0", 20));
  ExifInfo info;
  ASSERT_TRUE(e.Read(info));
  EXPECT_STREQ(info.Make, "Maker");
  EXPECT_STREQ(info.Model, "A model name well over thirty-nine char");  // cut at 39
  EXPECT_STREQ(info.Date, "2020:01:02 03:04:05");
}

TEST(ExifReader, RefusesLoopsOverflowsAndOffsetsOutsideTheBlock) {
  struct Case {
    const char* what;
    std::function<void(ExifBlock&)> build;
  };
  const Case cases[] = {
      {"IFD0 linking to itself",
       [](ExifBlock& e) {
         e.Ifd(8, {{271, 2, 4, 0x41414141}}, 8);
       }},
      {"two IFDs linking to each other", [](ExifBlock& e) { e.Ifd(8, {}, 40).Ifd(40, {}, 8); }},
      {"a sub-IFD pointing at its parent",
       [](ExifBlock& e) {
         e.Ifd(8, {{34665, 4, 1, 40}}, 0).Ifd(40, {{40965, 4, 1, 8}}, 0);
       }},
      {"a chain longer than the IFD limit",
       [](ExifBlock& e) {
         for (uint32_t i = 0; i < 40; ++i) e.Ifd(8 + 8 * i, {}, i < 39 ? 16 + 8 * i : 0);
       }},
      {"a component count whose size wraps in 32 bits",
       [](ExifBlock& e) {
         e.Ifd(8, {{271, 5, 0x20000001, 8}}, 0).b.Size(400);
       }},
      {"a value outside the block",
       [](ExifBlock& e) {
         e.Ifd(8, {{272, 2, 40, 5000}}, 0);
       }},
      {"an entry table past the block's end", [](ExifBlock& e) { e.b.LE(6 + 8, 300, 2).Size(40); }},
      {"a field type outside 1 to 12",
       [](ExifBlock& e) {
         e.Ifd(8, {{271, 13, 1, 0}}, 0);
       }},
      {"the first IFD beyond offset 16",
       [](ExifBlock& e) {
         e.b.LE(10, 20, 4);
         e.Ifd(20, {}, 0);
       }},
      {"a byte order other than II or MM",
       [](ExifBlock& e) {
         e.b.Text(6, "IM");
         e.Ifd(8, {}, 0);
       }},
      {"a magic number other than 42",
       [](ExifBlock& e) {
         e.b.LE(8, 43, 2);
         e.Ifd(8, {}, 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExifBlock e;
    c.build(e);
    ExifInfo info;
    EXPECT_FALSE(e.Read(info));
  }
}

// --- TIFF ---------------------------------------------------------------------------------------

TEST_F(Pictures, TiffAfterANefHasNoCameraOfItsOwn) {
  auto tif = Make(C::FileTIF);
  MemoryDevice nef(Planted(Picture("camera.nef"), 1, 4096));
  EXPECT_EQ(Measure(*tif, nef, 1).file.GetFileType(), kRawTypeNEF);
  MemoryDevice plain(Planted(Picture("plain.tif"), 1, 4096));
  const Outcome out = Measure(*tif, plain, 1);
  EXPECT_EQ(out.file.GetFileType(), kRawTypeTIF);
  EXPECT_EQ(out.file.GetFirstInfoText(), "");
  EXPECT_EQ(tif->GetFirstInfoText(), "");
}

// A TIFF header and IFD0 at 8 with the given entries; `big` writes it big-endian.
Builder TiffWith(bool big, std::vector<std::array<uint32_t, 4>> entries, size_t total = 4096) {
  Builder b(total);
  auto put = [&](size_t at, uint64_t v, int n) { big ? b.BE(at, v, n) : b.LE(at, v, n); };
  b.Text(0, big ? std::string("MM\0\x2A", 4) : std::string("II\x2A\0", 4));
  put(4, 8, 4);
  put(8, entries.size(), 2);
  for (size_t i = 0; i < entries.size(); ++i) {
    put(10 + 12 * i, entries[i][0], 2);
    put(12 + 12 * i, entries[i][1], 2);
    put(14 + 12 * i, entries[i][2], 4);
    // A short in the value field sits in its first two bytes.
    if (entries[i][1] == 3 && entries[i][2] == 1) {
      put(18 + 12 * i, entries[i][3], 2);
    } else {
      put(18 + 12 * i, entries[i][3], 4);
    }
  }
  return b;
}

TEST(TiffLength, SmallAndLyingDirectories) {
  struct Case {
    const char* what;
    Builder bytes;
    uint64_t size;
    int32_t type;
  };
  Builder model64 = TiffWith(false, {{272, 2, 64, 100}, {273, 4, 1, 1000}, {279, 4, 1, 500}});
  model64.Text(100, std::string(64, 'M'));  // no NUL within the 64 bytes
  Builder nef = TiffWith(true, {{272, 2, 10, 200}, {273, 4, 1, 300}, {279, 4, 1, 100}, {330, 4, 2, 220}});
  nef.Text(200, std::string("NIKON D1X\0", 10)).BE(220, 0, 4).BE(224, 240, 4);
  nef.BE(240, 2, 2).BE(242, 273, 2).BE(244, 4, 2).BE(246, 1, 4).BE(250, 2000, 4);
  nef.BE(254, 279, 2).BE(256, 3, 2).BE(258, 1, 4).BE(262, 1500, 2);
  const Case cases[] = {
      {"an empty IFD right after the header reckons below zero", TiffWith(false, {}), 0, kRawTypeTIF},
      {"more than 512 entries", Builder(TiffWith(false, {})).LE(8, 513, 2), 0, kRawTypeTIF},
      {"an IFD beyond the size limit", Builder(TiffWith(false, {})).LE(4, 0xF0000000, 4), 0, kRawTypeTIF},
      {"a model of 64 bytes without its NUL", model64, 1500, kRawTypeTIF},
      {"a big-endian NEF with its raw image in the second sub-IFD", nef, 3500, kRawTypeNEF},
      {"a count whose value size would wrap 32 bits", TiffWith(false, {{700, 12, 0x20000000, 0}}), 4096 - 0,
       kRawTypeTIF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryDevice device(c.bytes.b);
    auto tif = Make(C::FileTIF);
    const Outcome out = Measure(*tif, device, 0);
    ASSERT_TRUE(out.computed);
    EXPECT_EQ(out.file.GetFileSize(), c.size);
    EXPECT_EQ(out.file.GetFileType(), c.type);
  }
}

TEST(TiffLength, NefNamesTheCamera) {
  Builder nef = TiffWith(false, {{272, 2, 10, 200}, {273, 4, 1, 300}, {279, 4, 1, 100}});
  nef.Text(200, std::string("NIKON D1X\0", 10));
  MemoryDevice device(nef.b);
  auto tif = Make(C::FileTIF);
  const Outcome out = Measure(*tif, device, 0);
  EXPECT_EQ(out.file.GetFileType(), kRawTypeNEF);
  EXPECT_EQ(out.file.GetFirstInfoText(), "NIKON D1X");
  EXPECT_EQ(out.file.GetFileSize(), 400u);
}

// --- PNG and GIF --------------------------------------------------------------------------------

TEST_F(Pictures, PngChunkWalkEdges) {
  const Bytes good = Picture("truecolour.png");
  auto png = Make(C::FilePNG);
  // The first chunk after IHDR (ImageMagick writes ancillary chunks there, before any IDAT).
  const uint64_t afterHeader = 33;
  // A chunk length beyond the walk's range after the image data ends the file there.
  uint64_t idatEnd = 8;
  for (uint64_t pos = 8; pos + 8 <= good.size();) {
    const uint64_t len =
        (uint64_t{good[pos]} << 24) | (good[pos + 1] << 16) | (good[pos + 2] << 8) | good[pos + 3];
    const bool idat = std::memcmp(&good[pos + 4], "IDAT", 4) == 0;
    pos += 12 + len;
    if (idat) idatEnd = pos;
  }
  struct Case {
    const char* what;
    uint64_t at;
    uint32_t value;
    bool ok;
    uint64_t size;
  };
  const Case cases[] = {
      {"a huge chunk length after the image data ends the walk", idatEnd, 0x7FFFFFFF, true, idatEnd},
      {"a huge chunk length before any image data", afterHeader, 0x7FFFFFFF, false, 0},
      {"a width of zero", 16, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes f = good;
    for (int i = 0; i < 4; ++i) f[c.at + i] = static_cast<uint8_t>(c.value >> (24 - 8 * i));
    MemoryDevice device(Planted(f, 1, 4096));
    const Outcome out = Measure(*png, device, 1);
    EXPECT_EQ(out.computed, c.ok);
    if (c.ok) {
      EXPECT_EQ(out.file.GetFileSize(), c.size);
    }
  }
  // Cut before IEND at the device's end: the walk cannot finish.
  MemoryDevice cut(Bytes(good.begin(), good.begin() + 4096));
  EXPECT_FALSE(Measure(*png, cut, 0).computed);
}

TEST_F(Pictures, GifGapBeforeTheTrailer) {
  Bytes f = Picture("still89.gif");
  auto gif = Make(C::FileGIF);
  // Junk between the last image and a trailer followed by a zero byte.
  Bytes junk = f;
  junk.pop_back();
  const size_t trailer = junk.size();
  junk.insert(junk.end(), {'x', 'y', 'z', ';', 0});
  MemoryDevice near(Planted(junk, 1, 4096));
  const Outcome out = Measure(*gif, near, 1);
  ASSERT_TRUE(out.computed);
  EXPECT_EQ(out.file.GetFileSize(), trailer + 4);
  // More than 1024 junk bytes: the walk gives up.
  Bytes far = f;
  far.pop_back();
  far.insert(far.end(), 2000, 'x');
  MemoryDevice farDevice(Planted(far, 1, 4096, true));
  EXPECT_FALSE(Measure(*gif, farDevice, 1).computed);
}

// --- Header-only formats ------------------------------------------------------------------------

struct HeaderCase {
  const char* what;
  C analyser;
  Builder bytes;
  bool accepted;
  int32_t type;   // after the test, also when refused (BMP and ICO type before refusing)
  uint64_t size;  // 0 when the header test leaves it to the length pass
};

std::ostream& operator<<(std::ostream& os, const HeaderCase& c) { return os << c.what; }

Builder Bmp(uint32_t info, uint32_t size) {
  return Builder(512).Text(0, "BM").LE(2, size, 4).LE(14, info, 4);
}

Builder Ico(int kind, std::vector<std::array<uint32_t, 3>> entries) {  // {bit count, size, offset}
  Builder b(512);
  b.LE(2, kind, 2).LE(4, entries.size(), 2);
  for (size_t i = 0; i < entries.size(); ++i) {
    b.LE(6 + 16 * i + 6, entries[i][0], 2)
        .LE(6 + 16 * i + 8, entries[i][1], 4)
        .LE(6 + 16 * i + 12, entries[i][2], 4);
  }
  return b;
}

Builder Emf(uint32_t size, uint16_t at58) {
  return Builder(512).LE(0, 1, 4).Text(40, " EMF").LE(48, size, 4).LE(58, at58, 2);
}

Builder PlaceableWmf(uint32_t words, bool goodChecksum) {
  Builder b(512);
  b.LE(0, 0x9AC6CDD7, 4).LE(6, 0, 2).LE(10, 1000, 2).LE(12, 800, 2).LE(14, 1440, 2);
  uint16_t check = 0;
  for (int i = 0; i < 10; ++i) check ^= static_cast<uint16_t>(b.b[2 * i] | (b.b[2 * i + 1] << 8));
  b.LE(20, goodChecksum ? check : check ^ 1, 2).LE(22, 0x00090001, 4).LE(28, words, 4);
  return b;
}

class HeaderOnly : public testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderOnly, TypesAndSizesFromTheFirstSector) {
  const HeaderCase& c = GetParam();
  auto analyser = Make(c.analyser);
  CRawFileInfo file;
  EXPECT_EQ(analyser->IsFileHeader(c.bytes.b.data(), &file), c.accepted);
  EXPECT_EQ(file.GetFileType(), c.type);
  EXPECT_EQ(file.GetFileSize(), c.size);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, HeaderOnly,
    testing::Values(
        HeaderCase{"BMP, 40-byte info", C::FileBMP, Bmp(40, 123456), true, kRawTypeBMP, 123456},
        HeaderCase{"BMP, 124-byte info", C::FileBMP, Bmp(124, 99), true, kRawTypeBMP, 99},
        HeaderCase{"BMP, 108-byte info is typed but refused", C::FileBMP, Bmp(108, 99), false, kRawTypeBMP,
                   0},
        HeaderCase{"BMP, reserved word set", C::FileBMP, Bmp(40, 99).LE(6, 1, 2), false, 0, 0},
        HeaderCase{"ICO, two images", C::FileICO, Ico(1, {{32, 1000, 38}, {8, 500, 1038}}), true, kRawTypeICO,
                   6 + 1016 + 516},
        HeaderCase{"CUR", C::FileICO, Ico(2, {{5, 300, 22}}), true, kRawTypeCUR, 6 + 316},
        HeaderCase{"ICO, no images", C::FileICO, Ico(1, {}), false, kRawTypeICO, 0},
        HeaderCase{"ICO, seventeen images", C::FileICO,
                   Ico(1, std::vector<std::array<uint32_t, 3>>(17, {32, 10, 10})), false, kRawTypeICO, 0},
        HeaderCase{"ICO, bit count over 256", C::FileICO, Ico(1, {{257, 10, 22}}), false, kRawTypeICO, 0},
        HeaderCase{"ICO, image over 10 MiB", C::FileICO, Ico(1, {{32, 0xA00001, 22}}), false, kRawTypeICO, 0},
        HeaderCase{"ICO, sum of 1 MiB or more", C::FileICO, Ico(1, {{32, 0x80000, 22}, {32, 0x80000, 22}}),
                   false, kRawTypeICO, 0},
        HeaderCase{"EMF", C::FileEMF, Emf(5000, 0), true, kRawTypeEMF, 5000},
        HeaderCase{"EMF, word at 58 set", C::FileEMF, Emf(5000, 1), false, 0, 0},
        HeaderCase{"EMF, size zero", C::FileEMF, Emf(0, 0), false, 0, 0},
        HeaderCase{"WMF, standard", C::FileWMF, Builder(512).LE(0, 0x00090001, 4).LE(6, 700, 4), true,
                   kRawTypeWMF, 1400},
        HeaderCase{"WMF, standard, word count that doubles past 32 bits", C::FileWMF,
                   Builder(512).LE(0, 0x00090001, 4).LE(6, 0xFFFFFFFF, 4), true, kRawTypeWMF, 0x1FFFFFFFEull},
        HeaderCase{"WMF, placeable", C::FileWMF, PlaceableWmf(700, true), true, kRawTypeWMF, 22 + 1400},
        HeaderCase{"WMF, placeable with a bad checksum", C::FileWMF, PlaceableWmf(700, false), false, 0, 0},
        HeaderCase{"CPT leaves the size to the length pass", C::FileCPT,
                   Builder(512).Text(0, "CPT9FILE").LE(52, 316, 4), true, kRawTypeCPT, 0},
        HeaderCase{"CPT, object table elsewhere", C::FileCPT, Builder(512).Text(0, "CPT9FILE").LE(52, 320, 4),
                   false, 0, 0}),
    [](const testing::TestParamInfo<HeaderCase>& info) { return "case" + std::to_string(info.index); });

// --- Walked formats without a tool to write them ------------------------------------------------

Builder Psp(std::vector<uint32_t> blockLengths) {
  Builder b(0);
  b.Text(0, std::string("Paint Shop Pro Image File\n\x1a\0\0\0\0\0", 32));
  uint64_t pos = 36;
  for (uint32_t len : blockLengths) {
    b.Text(pos, std::string("~BK\0", 4)).LE(pos + 6, len, 4);
    // A length that runs past the end of what is built leaves the rest of the file out.
    if (len > 1 << 20) break;
    pos += 10 + uint64_t{len};
  }
  return b.Size(pos + 1024);
}

// A CPT whose object table at 316 holds `objects` entries, the last pointing at object `last`.
Builder Cpt(uint32_t objects, uint32_t last, uint32_t a, uint32_t offset, uint32_t length) {
  Builder b(8192);
  b.Text(0, "CPT8FILE").LE(40, objects, 4).LE(52, 316, 4);
  if (objects > 0) b.LE(316 + 8ull * objects - 8, last, 4);
  b.LE(last + 60, a, 4).LE(last + 64, a ? 1 : 0, 4);
  if (a >= 8) b.LE(a - 8, offset, 4).LE(a - 4, length, 4);
  return b;
}

Builder Crw(uint64_t blockAt, size_t total) {
  Builder b(total);
  b.Put(0, "II\x1a\0\0\0HEAPCCDR\x02\0", 16);
  b.Text(blockAt, "High definition CCD image").Text(blockAt + 32, "CRW:High definition CCD image");
  b.Text(blockAt + 122, "Canon").Text(blockAt + 128, "Canon PowerShot G1");
  return b;
}

constexpr uint64_t kDeviceEnd = UINT64_MAX;

struct WalkCase {
  const char* what;
  C analyser;
  Builder bytes;
  bool ok;
  uint64_t size;
  uint32_t sectorSize = 512;
};

std::ostream& operator<<(std::ostream& os, const WalkCase& c) { return os << c.what; }

class Walked : public testing::TestWithParam<WalkCase> {};

TEST_P(Walked, LengthFromTheStructure) {
  const WalkCase& c = GetParam();
  Bytes bytes = c.bytes.b;
  bytes.resize((bytes.size() + c.sectorSize - 1) / c.sectorSize * c.sectorSize, 0);
  MemoryDevice device(bytes, static_cast<int32_t>(c.sectorSize));
  auto analyser = Make(c.analyser);
  const Outcome out = Measure(*analyser, device, 0);
  ASSERT_TRUE(out.header);
  EXPECT_EQ(out.computed, c.ok);
  if (c.ok) {
    EXPECT_EQ(out.file.GetFileSize(), c.size == kDeviceEnd ? bytes.size() : c.size);
  }
  EXPECT_LE(out.file.GetFileSize(), bytes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Walked,
    testing::Values(
        WalkCase{"PSP, three blocks", C::FilePSP, Psp({100, 200, 300}), true, 36 + 630},
        WalkCase{"PSP, under 512 bytes", C::FilePSP, Psp({100}), false, 0},
        WalkCase{"PSP, a block length that would wrap 32 bits ends at the device end", C::FilePSP,
                 Psp({600, 0xFFFFFFF6}), true, kDeviceEnd},
        WalkCase{"CPT, object table to the data block", C::FileCPT, Cpt(3, 1000, 2000, 1500, 700), true,
                 2200},
        WalkCase{"CPT, last object without a data block", C::FileCPT, Cpt(3, 1000, 0, 0, 0), true, 1000},
        WalkCase{"CPT, no objects", C::FileCPT, Cpt(0, 1000, 0, 0, 0), false, 0},
        WalkCase{"CPT, data pointer below 8", C::FileCPT, Cpt(2, 1000, 4, 0, 0), false, 0},
        WalkCase{"CPT, object count past the device", C::FileCPT, Cpt(0, 1000, 0, 0, 0).LE(40, 0xFFFFFFFF, 4),
                 false, 0},
        WalkCase{"CRW, camera block rounded up to a sector", C::FileCRW, Crw(3000, 8192), true, 3072},
        WalkCase{"CRW, rounded to 4096-byte sectors", C::FileCRW, Crw(3000, 16384), true, 4096, 4096},
        WalkCase{"CRW, no block before the device ends", C::FileCRW,
                 Builder(8192).Put(0, "II\x1a\0\0\0HEAPCCDR\x02\0", 16), false, 0},
        WalkCase{"CRW, block cut by the device end", C::FileCRW, Builder(Crw(8100, 8192)).Size(8192), false,
                 0}),
    [](const testing::TestParamInfo<WalkCase>& info) { return "case" + std::to_string(info.index); });

TEST(CrwLength, WithoutABlockTheFileIsTheSearchRangeWithinTheLimit) {
  ScopedMaxRawFileSize limit(1 << 20);
  Builder b(2 << 20);
  b.Put(0, "II\x1a\0\0\0HEAPCCDR\x02\0", 16);
  MemoryDevice device(b.b);
  auto crw = Make(C::FileCRW);
  const Outcome out = Measure(*crw, device, 0);
  ASSERT_TRUE(out.computed);
  EXPECT_EQ(out.file.GetFileSize(), 1u << 20);
}

TEST_F(Pictures, PsdHeaderRangesAndCompression) {
  const Bytes good = Picture("rle.psd");
  struct Case {
    const char* what;
    uint64_t at;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"57 channels", 12, {0, 57}},
      {"a height of 30001", 14, {0, 0, 0x75, 0x31}},
      {"a width of 2^32 - 1", 18, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"a depth of 7", 22, {0, 7}},
      {"version 2", 4, {0, 2}},
  };
  auto psd = Make(C::FilePSD);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes f = good;
    std::copy(c.bytes.begin(), c.bytes.end(), f.begin() + static_cast<long>(c.at));
    MemoryDevice device(Planted(f, 1, 4096));
    EXPECT_FALSE(Measure(*psd, device, 1).computed);
  }
}

}  // namespace
