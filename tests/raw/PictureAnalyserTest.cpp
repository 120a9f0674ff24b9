// The picture analysers on real files written by ImageMagick and exiftool (tests/fixtures/
// raw_pictures.sh): each file planted at a sector of a device with other data behind it, recognised
// from its first sector and measured as the search measures it.
#include <gtest/gtest.h>

#include <algorithm>

#include "RawTestSupport.h"
#include "raw/FileJPGAnalyser.h"
#include "raw/RawFileTypeTable.h"
#include "storage/ByteReader.h"

namespace {

using namespace rawtest;
using C = RawAnalyserClass;

enum class Expect { TrueSize, TiffRule, Refused, LengthFails };

struct PictureCase {
  const char* file;
  C analyser;
  int32_t type;
  Expect expect;
  const char* firstText;
  const char* secondText;
};

std::ostream& operator<<(std::ostream& os, const PictureCase& c) { return os << c.file; }

class RealPicture : public testing::TestWithParam<PictureCase> {};

TEST_P(RealPicture, IsRecognisedAndMeasuredAtItsSector) {
  CORVALE_FIXTURE(dir, "raw_pictures.sh", "raw_pictures");
  const PictureCase& c = GetParam();
  const Bytes file = ReadFile(dir + "/pictures/" + c.file);
  ASSERT_FALSE(file.empty());
  for (uint32_t sectorSize : {512u, 4096u}) {
    SCOPED_TRACE(sectorSize);
    MemoryDevice device(Planted(file, 3, 200000, false, sectorSize), static_cast<int32_t>(sectorSize));
    auto analyser = Make(c.analyser);
    const Outcome out = Measure(*analyser, device, 3);
    if (c.expect == Expect::Refused) {
      EXPECT_FALSE(out.header);
      continue;
    }
    ASSERT_TRUE(out.header);
    if (c.expect == Expect::LengthFails) {
      EXPECT_FALSE(out.computed);
      continue;
    }
    const uint64_t expected = c.expect == Expect::TrueSize ? file.size() : TiffRuleLength(file);
    EXPECT_EQ(out.file.GetFileType(), c.type);
    EXPECT_EQ(out.file.GetFileSize(), expected) << "file size " << file.size();
    EXPECT_EQ(out.file.GetFirstInfoText(), c.firstText);
    EXPECT_EQ(out.file.GetSecondInfoText(), c.secondText);
    EXPECT_EQ(analyser->GetFirstInfoText(), c.firstText);
    EXPECT_EQ(analyser->GetSecondInfoText(), c.secondText);
  }
}

INSTANTIATE_TEST_SUITE_P(
    ImageMagick, RealPicture,
    testing::Values(PictureCase{"jfif.jpg", C::FileJPG, kRawTypeJPG, Expect::TrueSize, "", ""},
                    PictureCase{"progressive.jpg", C::FileJPG, kRawTypeJPG, Expect::TrueSize, "", ""},
                    PictureCase{"large.jpg", C::FileJPG, kRawTypeJPG, Expect::TrueSize, "", ""},
                    PictureCase{"exif_thumb.jpg", C::FileJPG, kRawTypeJPG, Expect::TrueSize, "Canon EOS 5D",
                                "2011:05:06 07:08:09"},
                    PictureCase{"exif_plain.jpg", C::FileJPG, kRawTypeJPG, Expect::TrueSize, "NIKON D70",
                                "2004:01:02 03:04:05"},
                    PictureCase{"exif_placeholder.jpg", C::FileJPG, kRawTypeJPG, Expect::TrueSize, "Acme",
                                ""},
                    PictureCase{"bare.jpg", C::FileJPG, kRawTypeJPG, Expect::TrueSize, "", ""},
                    // The EXIF walk takes baseline frames only.
                    PictureCase{"progressive_exif.jpg", C::FileJPG, kRawTypeJPG, Expect::LengthFails, "", ""},
                    PictureCase{"truecolour.png", C::FilePNG, kRawTypePNG, Expect::TrueSize, "", ""},
                    PictureCase{"palette.png", C::FilePNG, kRawTypePNG, Expect::TrueSize, "", ""},
                    PictureCase{"still89.gif", C::FileGIF, kRawTypeGIF, Expect::TrueSize, "", ""},
                    PictureCase{"still87.gif", C::FileGIF, kRawTypeGIF, Expect::TrueSize, "", ""},
                    PictureCase{"animated.gif", C::FileGIF, kRawTypeGIF, Expect::TrueSize, "", ""},
                    PictureCase{"info40.bmp", C::FileBMP, kRawTypeBMP, Expect::TrueSize, "", ""},
                    PictureCase{"info124.bmp", C::FileBMP, kRawTypeBMP, Expect::TrueSize, "", ""},
                    PictureCase{"plain.tif", C::FileTIF, kRawTypeTIF, Expect::TiffRule, "", ""},
                    PictureCase{"strips.tif", C::FileTIF, kRawTypeTIF, Expect::TiffRule, "", ""},
                    PictureCase{"camera.nef", C::FileTIF, kRawTypeNEF, Expect::TiffRule, "NIKON D70", ""},
                    PictureCase{"rle.psd", C::FilePSD, kRawTypePSD, Expect::TrueSize, "", ""},
                    PictureCase{"raw.psd", C::FilePSD, kRawTypePSD, Expect::TrueSize, "", ""},
                    PictureCase{"icon.ico", C::FileICO, kRawTypeICO, Expect::TrueSize, "", ""},
                    // Other formats' files are refused by each analyser.
                    PictureCase{"jfif.jpg", C::FilePNG, 0, Expect::Refused, "", ""},
                    PictureCase{"truecolour.png", C::FileJPG, 0, Expect::Refused, "", ""},
                    PictureCase{"plain.tif", C::FileBMP, 0, Expect::Refused, "", ""}),
    [](const testing::TestParamInfo<PictureCase>& info) {
      std::string name = info.param.file;
      for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name + "_" + std::to_string(info.index);
    });

}  // namespace
