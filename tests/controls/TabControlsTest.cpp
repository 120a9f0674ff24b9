// The tinted tab bar of the settings sheet and the closable tabs of the file page.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <vector>

#include "controls/CountedPtr.h"
#include "controls/EnTabCtrl.h"
#include "controls/TabCtrlPlus.h"
#include "support/QtTestApp.h"

namespace {

const QColor kBack(246, 252, 55);
const QColor kFace(101, 151, 181);
const QColor kText(10, 20, 30);

// An enhanced tab bar on a display of a chosen depth, with a known button face and text colour.
class TestTabs : public CEnTabCtrl {
 public:
  explicit TestTabs(int depth = 32) : m_depth(depth) {
    QPalette colours = palette();
    colours.setColor(QPalette::Button, kFace);
    colours.setColor(QPalette::WindowText, kText);
    setPalette(colours);
  }

 protected:
  int DisplayDepth() const override { return m_depth; }

 private:
  int m_depth;
};

// Restores the process-wide look word after a test.
class LookGuard {
 public:
  LookGuard() : m_saved(CEnTabCtrl::LookFlags()) {}
  ~LookGuard() { CEnTabCtrl::SetLookFlags(true, m_saved); }

 private:
  uint32_t m_saved;
};

std::string Rgb(const QColor& c) {
  return std::to_string(c.red()) + "," + std::to_string(c.green()) + "," + std::to_string(c.blue());
}

}  // namespace

TEST(TabTints, LightenTakesFactorsBelowOneAsOneAndClampsAbove254) {
  struct Case {
    QColor in;
    double f;
    QColor out;
  } const cases[] = {
      {{100, 150, 200}, 0.5, {100, 150, 200}}, {{200, 10, 0}, 1.3, {255, 13, 0}},
      {{195, 196, 0}, 1.3, {253, 254, 0}},     {{128, 127, 1}, 2.0, {255, 254, 2}},
      {{246, 252, 55}, 1.4, {255, 255, 77}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Rgb(CEnTabCtrl::Lighten(c.in, c.f)), Rgb(c.out)) << Rgb(c.in) << " x" << c.f;
}

TEST(TabTints, DarkenClampsTheFactorToZeroToOneAndTruncates) {
  struct Case {
    QColor in;
    double f;
    QColor out;
  } const cases[] = {
      {{200, 101, 3}, 1.5, {200, 101, 3}},   {{200, 101, 3}, -0.5, {0, 0, 0}},
      {{200, 101, 3}, 0.75, {150, 75, 2}},   {{255, 255, 255}, 0.5, {127, 127, 127}},
      {{246, 252, 55}, 0.9, {221, 226, 49}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Rgb(CEnTabCtrl::Darken(c.in, c.f)), Rgb(c.out)) << Rgb(c.in) << " x" << c.f;
}

TEST(TabTints, TabAndTextColoursFollowTheLookBits) {
  corvale::test::TestApplication();
  LookGuard guard;
  const QColor face = kFace;
  const QColor faceDarker(90, 135, 162);    // button face x 0.9
  const QColor faceLighter(141, 211, 253);  // button face x 1.4
  const QColor faceHalf(50, 75, 90);        // button face x 0.5
  const QColor backDarker(221, 226, 49);
  const QColor backLighter(255, 255, 77);
  const QColor backHalf(123, 126, 27);
  struct Case {
    uint32_t look;
    bool back;
    QColor selected, unselected, unselectedText;
  } const cases[] = {
      {0x00, true, face, faceDarker, faceHalf},
      {0x01, true, face, kBack, backHalf},
      {0x01, false, face, face, faceHalf},
      {0x02, true, face, backDarker, backHalf},
      {0x02, false, face, faceDarker, faceHalf},
      {0x04, true, faceLighter, faceDarker, faceHalf},
      {0x06, true, backLighter, backDarker, backHalf},
      {0x11, true, face, faceDarker, backHalf},
      {0x1F, true, backLighter, backDarker, backHalf},
      {0x1F, false, faceLighter, faceDarker, faceHalf},
  };
  TestTabs tabs;
  for (const Case& c : cases) {
    CEnTabCtrl::SetLookFlags(true, c.look);
    tabs.SetBackColor(c.back ? kBack : QColor());
    EXPECT_EQ(Rgb(tabs.GetTabColor(true)), Rgb(c.selected)) << c.look << " " << c.back;
    EXPECT_EQ(Rgb(tabs.GetTabColor(false)), Rgb(c.unselected)) << c.look << " " << c.back;
    EXPECT_EQ(Rgb(tabs.GetTabTextColor(true)), Rgb(kText)) << c.look << " " << c.back;
    EXPECT_EQ(Rgb(tabs.GetTabTextColor(false)), Rgb(c.unselectedText)) << c.look << " " << c.back;
  }
  CEnTabCtrl::SetLookFlags(false, 0x1F);
  EXPECT_EQ(CEnTabCtrl::LookFlags(), 0u);
}

TEST(TabDrawMode, ModesOutsideZeroToTwoAreRefused) {
  corvale::test::TestApplication();
  CBaseTabCtrl tabs;
  EXPECT_TRUE(tabs.SetDrawMode(2));
  for (int mode : {3, -1, 100}) {
    EXPECT_FALSE(tabs.SetDrawMode(mode)) << mode;
    EXPECT_EQ(tabs.DrawMode(), 2);
  }
  EXPECT_TRUE(tabs.SetDrawMode(0));
  EXPECT_EQ(tabs.DrawMode(), 0);
}

TEST(TabDrawMode, TheGradientNeedsMoreThanFifteenBitsPerPixel) {
  corvale::test::TestApplication();
  LookGuard guard;
  CEnTabCtrl::SetLookFlags(true,
                           CEnTabCtrl::ETC_COLOR | CEnTabCtrl::ETC_SELECTION | CEnTabCtrl::ETC_GRADIENT);
  for (int depth : {8, 15, 16, 32}) {
    TestTabs tabs(depth);
    tabs.SetDrawMode(2);
    tabs.SetBackColor(kBack);
    tabs.addTab(QStringLiteral("One"));
    tabs.addTab(QStringLiteral("Two"));
    tabs.setCurrentIndex(0);
    tabs.resize(300, 120);
    const QImage image = tabs.grab().toImage();
    // The selected tab rises to the top of the bar and reaches one pixel into the page frame.
    const QRect tab = tabs.ItemRect(0);
    const int x = tab.left() + 1;
    const QColor top = image.pixelColor(x, 1);
    const QColor bottom = image.pixelColor(x, tab.bottom());
    EXPECT_EQ(Rgb(top), "255,255,77") << depth;
    // The gradient ends near the button face; without it the fill is one colour.
    EXPECT_EQ(Rgb(bottom) != Rgb(top), depth > 15) << depth;
  }
}

TEST(TabDrawMode, TheBackgroundFillsAroundTheTabsInEveryMode) {
  corvale::test::TestApplication();
  LookGuard guard;
  CEnTabCtrl::SetLookFlags(true, 0);
  for (int mode : {0, 1, 2}) {
    TestTabs tabs;
    tabs.SetDrawMode(mode);
    tabs.SetBackColor(kBack);
    tabs.addTab(QStringLiteral("One"));
    tabs.resize(300, 80);
    const QImage image = tabs.grab().toImage();
    const QRect tab = mode == 0 ? tabs.tabRect(0) : tabs.ItemRect(0);
    // Right of the last tab, level with it.
    EXPECT_EQ(Rgb(image.pixelColor(tab.right() + 10, tab.center().y())), Rgb(kBack)) << mode;
    // Below the tabs, the page area keeps the button face.
    EXPECT_EQ(Rgb(image.pixelColor(150, 70)), Rgb(kFace)) << mode;
  }
}

namespace {

class TabsPlus : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    window = std::make_unique<QWidget>();
    window->resize(600, 300);
    tabs = new CTabCtrlPlus(window.get());
    tabs->setGeometry(0, 0, 600, 300);
    for (int i = 0; i < 3; ++i) {
      pages.push_back(new QWidget);
      tabs->AddWindow(pages.back());
    }
    ASSERT_TRUE(tabs->AddTab(QStringLiteral("Files"), 0));
    ASSERT_TRUE(tabs->AddTab(QStringLiteral("Search files(*a*)"), 1));
    ASSERT_TRUE(tabs->AddTab(QStringLiteral("Search files(*b*)"), 2));
    tabs->SelectTab(0);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  std::vector<int> VisiblePages() const {
    std::vector<int> shown;
    for (size_t i = 0; i < pages.size(); ++i)
      if (pages[i]->isVisibleTo(window.get())) shown.push_back(static_cast<int>(i));
    return shown;
  }
  std::unique_ptr<QWidget> window;
  CTabCtrlPlus* tabs = nullptr;
  std::vector<QWidget*> pages;
};

}  // namespace

TEST_F(TabsPlus, SelectingATabShowsOnlyItsPageBelowTheTabs) {
  for (int i : {2, 1, 0}) {
    tabs->SelectTab(i);
    EXPECT_EQ(tabs->GetCurTab(), i);
    EXPECT_EQ(tabs->GetCurWindow(), pages[i]);
    EXPECT_EQ(VisiblePages(), std::vector<int>{i});
    EXPECT_EQ(pages[i]->geometry(),
              QRect(1, CTabCtrlPlus::kTabHeight, 598, 300 - 1 - CTabCtrlPlus::kTabHeight));
  }
  // An unknown tab changes nothing.
  tabs->SelectTab(3);
  EXPECT_EQ(tabs->GetCurTab(), 0);
}

TEST_F(TabsPlus, TabsAreLaidOutFromTheLeftAndOnlyLaterTabsHaveCloseBoxes) {
  EXPECT_EQ(tabs->GetTabCount(), 3);
  EXPECT_EQ(tabs->GetTabRect(0).left(), 0);
  for (int i = 1; i < 3; ++i) {
    EXPECT_EQ(tabs->GetTabRect(i).left(),
              tabs->GetTabRect(i - 1).left() + tabs->GetTabRect(i - 1).width() + 5 - (i == 1 ? 1 : 0));
    const QRect box = tabs->GetCloseBoxRect(i);
    EXPECT_FALSE(box.isEmpty());
    EXPECT_EQ(box.left(), tabs->GetTabRect(i).left() + tabs->GetTabRect(i).width() - 20);
  }
  EXPECT_TRUE(tabs->GetCloseBoxRect(0).isEmpty());
  // A page index past the pages adds nothing.
  EXPECT_FALSE(tabs->AddTab(QStringLiteral("x"), 3));
  EXPECT_EQ(tabs->GetTabCount(), 3);
}

TEST_F(TabsPlus, ClickingAnotherTabSelectsItAndTellsTheOwner) {
  QSignalSpy notified(tabs, &CTabCtrlPlus::CtrlNotify);
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->GetTabRect(2).topLeft() + QPoint(10, 5));
  EXPECT_EQ(tabs->GetCurTab(), 2);
  EXPECT_EQ(VisiblePages(), std::vector<int>{2});
  EXPECT_EQ(notified.count(), 1);
  // The tab already selected: nothing to tell.
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->GetTabRect(2).topLeft() + QPoint(10, 5));
  EXPECT_EQ(notified.count(), 1);
}

TEST_F(TabsPlus, ClosingATabRemovesItSelectsTabZeroAndTellsTheOwner) {
  tabs->SelectTab(1);
  const QImage before = tabs->grab().toImage();
  // The selected tab has a blue bar along its top.
  EXPECT_EQ(Rgb(before.pixelColor(tabs->GetTabRect(1).left() + 3, 2)), "161,206,239");
  corvale::test::SaveScreenshot(before, "tab-ctrl-plus");

  QSignalSpy notified(tabs, &CTabCtrlPlus::CtrlNotify);
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->GetCloseBoxRect(1).center());
  EXPECT_EQ(notified.count(), 1);
  ASSERT_EQ(tabs->GetTabCount(), 2);
  EXPECT_EQ(tabs->GetTabText(1).toStdString(), "Search files(*b*)");
  EXPECT_EQ(tabs->GetCurTab(), 0);
  EXPECT_EQ(VisiblePages(), std::vector<int>{0});
  // The tabs after it moved left into its place.
  EXPECT_EQ(tabs->GetTabRect(1).left(), tabs->GetTabRect(0).width() + 4);
}

TEST_F(TabsPlus, AClosePressReleasedElsewhereKeepsTheTab) {
  QSignalSpy notified(tabs, &CTabCtrlPlus::CtrlNotify);
  QTest::mousePress(tabs, Qt::LeftButton, {}, tabs->GetCloseBoxRect(2).center());
  QTest::mouseRelease(tabs, Qt::LeftButton, {}, QPoint(300, 200));
  EXPECT_EQ(tabs->GetTabCount(), 3);
  EXPECT_EQ(notified.count(), 0);
  EXPECT_EQ(tabs->GetCurTab(), 0);
}

TEST(TabsPlusWidth, ALaterTabThatDoesNotFitIsRefused) {
  corvale::test::TestApplication();
  CTabCtrlPlus tabs;
  tabs.resize(160, 100);
  auto* page = new QWidget;
  tabs.AddWindow(page);
  EXPECT_TRUE(tabs.AddTab(QStringLiteral("Files"), 0));
  EXPECT_FALSE(tabs.AddTab(QStringLiteral("Search files(a much longer criteria)"), 0));
  EXPECT_EQ(tabs.GetTabCount(), 1);
  EXPECT_TRUE(tabs.AddTab(QStringLiteral("b"), 0));
  EXPECT_EQ(tabs.GetTabCount(), 2);
}

namespace {

struct Counted {
  static int deleted;
  ~Counted() { ++deleted; }
};
int Counted::deleted = 0;

}  // namespace

TEST(CountedPtrTest, CopiesAndAssignmentsDeleteThePointeeOnceWhenTheLastGoes) {
  Counted::deleted = 0;
  {
    CountedPtr<Counted> first(new Counted);
    {
      CountedPtr<Counted> copy(first);
      EXPECT_EQ(first.UseCount(), 2);
      CountedPtr<Counted> other(new Counted);
      other = copy;  // the other pointee goes now
      EXPECT_EQ(Counted::deleted, 1);
      EXPECT_EQ(first.UseCount(), 3);
      other = other;
      copy = first;  // same pointee: nothing released
      EXPECT_EQ(first.UseCount(), 3);
      EXPECT_EQ(Counted::deleted, 1);
    }
    EXPECT_EQ(first.UseCount(), 1);
    first = first;
    EXPECT_EQ(Counted::deleted, 1);
    std::vector<CountedPtr<Counted>> held(4, first);
    held.erase(held.begin());
    EXPECT_EQ(first.UseCount(), 4);
  }
  EXPECT_EQ(Counted::deleted, 2);
  {
    CountedPtr<Counted> empty;
    CountedPtr<Counted> copy(empty);
    EXPECT_EQ(copy.get(), nullptr);
  }
  EXPECT_EQ(Counted::deleted, 2);
}
