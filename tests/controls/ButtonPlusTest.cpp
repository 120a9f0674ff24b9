// The four-state picture button: its size, and the picture it shows on hover, press and disable.
#include <gtest/gtest.h>

#include <QCursor>
#include <QEnterEvent>
#include <QTest>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "controls/ButtonPlus.h"
#include "support/QtTestApp.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"

using Face = CButtonPlus::Face;

namespace {

constexpr corvale::ui::ButtonBitmaps kNext = corvale::ui::buttons::kNext;

// A shown window holding one button at (20, 20).
class ButtonPlus : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    window = std::make_unique<QWidget>();
    window->resize(200, 100);
    button = new CButtonPlus(kNext.normal, kNext.hover, kNext.push, kNext.disable, window.get());
    button->MoveTo(20, 20);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }

  QImage Shown() { return button->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  static QImage Picture(uint32_t id) {
    return corvale::ui::LoadBitmapResource(id).toImage().convertToFormat(QImage::Format_RGB32);
  }

  std::unique_ptr<QWidget> window;
  CButtonPlus* button = nullptr;
};

struct Prompts : IButtonPromptChange {
  void SetPrompt(int id, const std::string& prompt) override {
    calls.push_back("set " + std::to_string(id) + " " + prompt);
  }
  void RestorePrompt(int id) override { calls.push_back("restore " + std::to_string(id)); }
  std::vector<std::string> calls;
};

}  // namespace

TEST_F(ButtonPlus, IsExactlyAsLargeAsItsNormalPicture) {
  EXPECT_EQ(button->GetBitmapSize(), QSize(90, 32));
  EXPECT_EQ(button->size(), QSize(90, 32));
  EXPECT_EQ(button->geometry(), QRect(20, 20, 90, 32));
  CButtonPlus empty;
  EXPECT_EQ(empty.GetBitmapSize(), QSize(0, 0));
}

TEST_F(ButtonPlus, GoesThroughItsFourPicturesOnHoverPressAndDisable) {
  EXPECT_EQ(button->CurrentFace(), Face::Normal);
  EXPECT_EQ(Shown(), Picture(kNext.normal));

  QTest::mouseMove(window.get(), QPoint(5, 5));
  QTest::mouseMove(button, QPoint(10, 10));
  EXPECT_TRUE(button->IsHovered());
  EXPECT_EQ(button->CurrentFace(), Face::Hover);
  EXPECT_EQ(Shown(), Picture(kNext.hover));

  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(button->CurrentFace(), Face::Push);
  EXPECT_EQ(Shown(), Picture(kNext.push));
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(button->CurrentFace(), Face::Hover);

  QTest::mouseMove(window.get(), QPoint(190, 90));
  EXPECT_FALSE(button->IsHovered());
  EXPECT_EQ(button->CurrentFace(), Face::Normal);

  button->setEnabled(false);
  EXPECT_EQ(button->CurrentFace(), Face::Disable);
  EXPECT_EQ(Shown(), Picture(kNext.disable));
}

TEST_F(ButtonPlus, AStateWithoutAPictureShowsTheNormalOne) {
  CButtonPlus plain(kNext.normal, 0, 0, 99999, window.get());
  plain.setEnabled(false);
  EXPECT_EQ(plain.CurrentFace(), Face::Normal);
  EXPECT_EQ(plain.grab().toImage().convertToFormat(QImage::Format_RGB32), Picture(kNext.normal));
  // Loading again with zeros keeps the pictures there are; a new one replaces its state only.
  plain.LoadBitmaps(0, 0, 0, kNext.disable);
  EXPECT_EQ(plain.CurrentFace(), Face::Disable);
  EXPECT_EQ(plain.Bitmap(Face::Normal).GetSize(), QSize(90, 32));
}

TEST_F(ButtonPlus, AClickReportsItAndTheListenerHearsTheMouseComeAndGo) {
  Prompts prompts;
  button->SetControlId(1004);
  button->SetPromptListener(&prompts, "Go on");
  int clicks = 0;
  QObject::connect(button, &QAbstractButton::clicked, [&] { ++clicks; });
  QTest::mouseMove(window.get(), QPoint(5, 5));
  QTest::mouseMove(button, QPoint(10, 10));
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseMove(window.get(), QPoint(190, 90));
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(prompts.calls, (std::vector<std::string>{"set 1004 Go on", "restore 1004"}));
}

TEST_F(ButtonPlus, ShowsItsOwnCursorOverIt) {
  button->SetHoverCursor(QCursor(Qt::PointingHandCursor));
  EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
}
