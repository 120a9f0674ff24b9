// The flat owner-drawn menu: item sizes, the selected item's frame and fill, the check mark.
#include <gtest/gtest.h>

#include <QAction>
#include <QFontMetrics>
#include <QImage>
#include <QStyle>
#include <QTest>

#include "controls/XPMenu.h"
#include "support/QtTestApp.h"
#include "ui/Pictures.h"

namespace {

class XPMenu : public ::testing::Test {
 protected:
  void SetUp() override { corvale::test::TestApplication(); }
};

// Whether `image` has, in the rectangle, a pixel that is nearly black (the check mark).
bool HasDarkPixel(const QImage& image, const QRect& area) {
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) {
      QColor c = image.pixelColor(x, y);
      if (c.red() < 80 && c.green() < 80 && c.blue() < 80) return true;
    }
  return false;
}

}  // namespace

TEST_F(XPMenu, ItemsAreAsHighAsAMenuLineAndWideEnoughForCheckTextAndMargin) {
  CXPMenu menu;
  QAction* option = menu.AddItem("Option", 1013);
  menu.AddItem("About", 1007);
  menu.popup(QPoint(0, 0));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
  const QRect item = menu.actionGeometry(option);
  EXPECT_EQ(item.height(), CXPMenu::kItemHeight);
  const int text = QFontMetrics(menu.font()).horizontalAdvance("Option");
  EXPECT_GE(item.width(), CXPMenu::kItemExtraWidth + text + CXPMenu::kCheckWidth);
  EXPECT_EQ(CXPMenu::CommandOf(option), 1013);
  EXPECT_EQ(CXPMenu::CommandOf(nullptr), 0);
  menu.close();
}

TEST_F(XPMenu, ACheckedItemShowsTheCheckMarkSelectedOrNotAndTheSelectedOneIsFramedAndFilled) {
  CXPMenu menu;
  QAction* plain = menu.AddItem("Deutsch", 1023, true, false);
  QAction* checked = menu.AddItem("English", 1022, true, true);
  menu.popup(QPoint(0, 0));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));

  QImage shown = menu.grab().toImage();
  const QRect checkedRect = menu.actionGeometry(checked);
  const QRect plainRect = menu.actionGeometry(plain);
  const QRect checkColumn(checkedRect.left(), checkedRect.top(), CXPMenu::kCheckWidth, checkedRect.height());
  EXPECT_TRUE(HasDarkPixel(shown, checkColumn));
  EXPECT_FALSE(HasDarkPixel(
      shown, QRect(plainRect.left(), plainRect.top(), CXPMenu::kCheckWidth, plainRect.height())));
  EXPECT_EQ(shown.pixelColor(plainRect.right() - 3, plainRect.center().y()), QColor(Qt::white));

  menu.setActiveAction(checked);
  shown = menu.grab().toImage();
  EXPECT_EQ(shown.pixelColor(checkedRect.topLeft()), QColor(Qt::black));
  EXPECT_EQ(shown.pixelColor(checkedRect.right() - 3, checkedRect.center().y()),
            corvale::ui::kMenuSelectionColor);
  EXPECT_TRUE(HasDarkPixel(shown, checkColumn)) << "the mark shows on the selection too";
  menu.close();
}

TEST_F(XPMenu, SubmenusLookTheSame) {
  CXPMenu menu;
  CXPMenu* languages = menu.AddSubMenu("Language");
  languages->AddItem("English", 1022, true, true);
  EXPECT_EQ(menu.actions().size(), 1);
  EXPECT_EQ(menu.actions()[0]->menu(), languages);
  EXPECT_EQ(languages->style()->metaObject()->className(), menu.style()->metaObject()->className());
}
