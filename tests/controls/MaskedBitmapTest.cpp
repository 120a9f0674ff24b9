// Drawing bitmaps plainly, stretched, and with one colour left out.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPixmap>

#include "controls/MaskedBitmap.h"
#include "support/QtTestApp.h"

namespace {

const QColor kMagenta(255, 0, 255);
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);

// A 4 x 4 picture: magenta with a red 2 x 2 square in its middle.
QPixmap Picture() {
  QImage image(4, 4, QImage::Format_RGB32);
  image.fill(kMagenta);
  for (int y = 1; y < 3; ++y)
    for (int x = 1; x < 3; ++x) image.setPixelColor(x, y, kRed);
  return QPixmap::fromImage(image);
}

QImage Canvas(const QColor& fill) {
  QImage canvas(10, 10, QImage::Format_RGB32);
  canvas.fill(fill);
  return canvas;
}

class MaskedBitmap : public ::testing::Test {
 protected:
  void SetUp() override { corvale::test::TestApplication(); }
};

}  // namespace

TEST_F(MaskedBitmap, MagentaOverBlueLeavesBlueWhereTheBitmapWasMagenta) {
  QImage canvas = Canvas(kBlue);
  {
    QPainter painter(&canvas);
    DrawBitmapTransparent(CMaskedBitmap(Picture()), &painter, 3, 3, kMagenta);
  }
  EXPECT_EQ(canvas.pixelColor(3, 3), kBlue);
  EXPECT_EQ(canvas.pixelColor(6, 6), kBlue);
  EXPECT_EQ(canvas.pixelColor(4, 4), kRed);
  EXPECT_EQ(canvas.pixelColor(5, 5), kRed);
}

TEST_F(MaskedBitmap, PlainAndStretchedCopiesCoverTheirRectangle) {
  QImage canvas = Canvas(kBlue);
  {
    QPainter painter(&canvas);
    DrawBitmapAt(CMaskedBitmap(Picture()), &painter, 0, 0);
    StretchDrawBitmap(CMaskedBitmap(Picture()), &painter, 2, 6, 8, 4);
  }
  EXPECT_EQ(canvas.pixelColor(0, 0), kMagenta);
  EXPECT_EQ(canvas.pixelColor(1, 1), kRed);
  EXPECT_EQ(canvas.pixelColor(4, 4), kBlue);
  EXPECT_EQ(canvas.pixelColor(2, 6), kMagenta);
  EXPECT_EQ(canvas.pixelColor(9, 9), kMagenta);
  EXPECT_EQ(canvas.pixelColor(5, 7), kRed) << "the red middle, stretched";
}

TEST_F(MaskedBitmap, TransparentPixelsShowThePaintersBackgroundColourNotWhatWasDrawnBefore) {
  QImage canvas = Canvas(kBlue);
  {
    QPainter painter(&canvas);
    painter.setBackground(kGreen);
    // The key is the colour of pixel (0, 0): magenta.
    DrawTransparentBitmap(&painter, Picture(), 2, 2, 4, 4, 0, 0);
  }
  EXPECT_EQ(canvas.pixelColor(2, 2), kGreen);
  EXPECT_EQ(canvas.pixelColor(3, 3), kRed);
  EXPECT_EQ(canvas.pixelColor(1, 1), kBlue) << "outside the copied rectangle nothing changes";
}

TEST_F(MaskedBitmap, ARectangleLargerThanTheBitmapShowsBlackBeyondIt) {
  QImage canvas = Canvas(kBlue);
  {
    QPainter painter(&canvas);
    painter.setBackground(kGreen);
    DrawTransparentBitmap(&painter, Picture(), 0, 0, 6, 6, 1, 1);  // key: red
  }
  EXPECT_EQ(canvas.pixelColor(0, 0), kMagenta);
  EXPECT_EQ(canvas.pixelColor(1, 1), kGreen);
  EXPECT_EQ(canvas.pixelColor(5, 5), QColor(Qt::black));
  EXPECT_EQ(GetBitmapSize(Picture()), QSize(4, 4));
}

TEST_F(MaskedBitmap, LoadsByNumberFromTheResources) {
  CMaskedBitmap bitmap;
  EXPECT_TRUE(bitmap.LoadBitmap(143));
  EXPECT_EQ(bitmap.GetSize(), QSize(13, 13));
  EXPECT_FALSE(bitmap.LoadBitmap(99999));
  EXPECT_TRUE(bitmap.IsNull());
}
