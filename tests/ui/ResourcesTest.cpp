// Resources by type and number: texts from the string tables, bitmaps drawn by the program itself.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "support/QtTestApp.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"

using corvale::ui::BitmapResourceSize;
using corvale::ui::ButtonBitmaps;
using corvale::ui::HasResource;
using corvale::ui::LoadBitmapResource;
using corvale::ui::ResourceType;

namespace {

class Resources : public ::testing::Test {
 protected:
  void SetUp() override { corvale::test::TestApplication(); }
};

struct SizedBitmap {
  const char* what;
  uint32_t id;
  int width;
  int height;
};

// The windows place their parts by these sizes.
const SizedBitmap kSheetBitmaps[] = {
    {"welcome banner", 134, 1000, 64},
    {"bottom bar", 133, 1000, 58},
    {"logo", 145, 200, 38},
    {"menu check mark", 143, 13, 13},
    {"deleted: file types", 516, 1000, 64},
    {"deleted: volume", 517, 1000, 64},
    {"deleted: files", 515, 1000, 64},
    {"format: file types", 519, 1000, 64},
    {"format: device", 520, 1000, 64},
    {"format: files", 518, 1000, 64},
    {"partition: file types", 522, 1000, 64},
    {"partition: disk", 523, 1000, 64},
    {"partition: partition", 524, 1000, 64},
    {"partition: files", 521, 1000, 64},
    {"Home", 425, 90, 32},
    {"Back", 420, 90, 32},
    {"Next", 353, 90, 32},
    {"Next of the file page", 370, 110, 32},
    {"home-page link", 509, 200, 38},
    {"user guide", 407, 80, 20},
    {"about", 513, 60, 20},
    {"user guide, second row", 538, 80, 18},
    {"about, second row", 542, 50, 18},
    {"menu button", 560, 60, 20},
};

const ButtonBitmaps kButtonSets[] = {
    corvale::ui::buttons::kHome,           corvale::ui::buttons::kBack,
    corvale::ui::buttons::kNext,           corvale::ui::buttons::kNextFilePage,
    corvale::ui::buttons::kHomePageLink,   corvale::ui::buttons::kUserGuideLink,
    corvale::ui::buttons::kAboutLink,      corvale::ui::buttons::kUserGuideSmallLink,
    corvale::ui::buttons::kAboutSmallLink, corvale::ui::buttons::kSheetMenu,
};

}  // namespace

TEST_F(Resources, EveryBitmapOfTheSheetIsDrawnAtTheSizeItsWindowPlacesItBy) {
  for (const SizedBitmap& b : kSheetBitmaps) {
    SCOPED_TRACE(b.what);
    EXPECT_TRUE(HasResource({ResourceType::Bitmap, b.id}));
    EXPECT_EQ(BitmapResourceSize(b.id), QSize(b.width, b.height));
    QImage image = LoadBitmapResource(b.id).toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(b.width, b.height));
  }
}

TEST_F(Resources, TheFourPicturesOfAButtonAreDistinctBitmapsOfOneSize) {
  std::set<uint32_t> seen;
  for (const ButtonBitmaps& set : kButtonSets) {
    SCOPED_TRACE(set.normal);
    const QSize size = BitmapResourceSize(set.normal);
    ASSERT_FALSE(size.isEmpty());
    std::vector<QImage> faces;
    for (uint32_t id : {set.normal, set.hover, set.push, set.disable}) {
      EXPECT_TRUE(seen.insert(id).second) << "bitmap " << id << " is used twice";
      EXPECT_EQ(BitmapResourceSize(id), size);
      faces.push_back(LoadBitmapResource(id).toImage());
    }
    // A state that looked like another would not show the user anything.
    for (size_t i = 0; i < faces.size(); ++i)
      for (size_t j = i + 1; j < faces.size(); ++j) EXPECT_NE(faces[i], faces[j]) << i << " and " << j;
  }
}

TEST_F(Resources, MenuCheckMarkIsDrawnOnItsColourKey) {
  QImage check = LoadBitmapResource(corvale::ui::bitmap::kMenuCheck).toImage();
  ASSERT_EQ(check.size(), QSize(13, 13));
  int key = 0;
  int dark = 0;
  for (int y = 0; y < check.height(); ++y)
    for (int x = 0; x < check.width(); ++x) {
      QColor c = check.pixelColor(x, y);
      if (c == corvale::ui::kMenuSelectionColor) ++key;
      if (c.red() < 80 && c.green() < 80 && c.blue() < 80) ++dark;
    }
  EXPECT_EQ(check.pixelColor(0, 0), corvale::ui::kMenuSelectionColor);
  EXPECT_GT(key, 100) << "the background is exactly the key colour";
  EXPECT_GT(dark, 10) << "the mark itself";
}

TEST_F(Resources, TextsAndBitmapsOfOneNumberAreDifferentResources) {
  // 202 is a bitmap and no text; 214 a text and no bitmap; 143 both.
  EXPECT_TRUE(HasResource({ResourceType::Bitmap, 202}));
  EXPECT_FALSE(HasResource({ResourceType::String, 202}));
  EXPECT_TRUE(HasResource({ResourceType::Bitmap, 143}));
  EXPECT_TRUE(HasResource({ResourceType::String, 143}));
  EXPECT_TRUE(HasResource({ResourceType::String, 214}));
  EXPECT_FALSE(HasResource({ResourceType::Bitmap, 214}));
  EXPECT_EQ(corvale::ui::LoadStringResource(214).toStdString(), "Are you sure to return to home page?");
}

TEST_F(Resources, AFallbackTextStandsOnlyWhereTheTableHasNone) {
  EXPECT_EQ(corvale::ui::StringOr(214, "x").toStdString(), "Are you sure to return to home page?");
  EXPECT_EQ(corvale::ui::StringOrUtf8(214, "x"), "Are you sure to return to home page?");
  EXPECT_EQ(corvale::ui::StringOr(99999,
                                  "Stra\xc3\x9f"
                                  "e")
                .toStdString(),
            "Stra\xc3\x9f"
            "e");
  EXPECT_EQ(corvale::ui::StringOrUtf8(99999, "none"), "none");
}

TEST_F(Resources, AnUnknownBitmapIsNullAndABitmapIsDrawnOnce) {
  EXPECT_TRUE(LoadBitmapResource(99999).isNull());
  EXPECT_TRUE(BitmapResourceSize(99999).isEmpty());
  EXPECT_EQ(LoadBitmapResource(133).cacheKey(), LoadBitmapResource(133).cacheKey());
  // Every number in the picture table draws at its size.
  for (uint32_t id : corvale::ui::PictureIds())
    EXPECT_EQ(LoadBitmapResource(id).size(), BitmapResourceSize(id)) << id;
}
