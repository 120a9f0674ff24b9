// The self-painted check box and radio button and the state it reports after each click.
#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <memory>
#include <utility>
#include <vector>

#include "controls/TransButton.h"
#include "support/QtTestApp.h"

namespace {

class TransButton : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    window = std::make_unique<QWidget>();
    window->resize(400, 100);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  std::unique_ptr<QWidget> window;
};

}  // namespace

TEST_F(TransButton, ACheckBoxReportsOneAfterTheClickThatTicksItAndZeroAfterTheOneThatClearsIt) {
  auto* box = new CTransButton(CTransButton::Kind::CheckBox, window.get());
  box->setText("Full Scan");
  box->setGeometry(10, 10, 200, 20);
  box->show();
  std::vector<std::pair<int, CTransButton*>> reports;
  QObject::connect(box, &CTransButton::Clicked,
                   [&](int state, CTransButton* from) { reports.emplace_back(state, from); });

  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, 10));
  EXPECT_TRUE(reports.empty()) << "the report is posted, not sent during the click";
  QCoreApplication::processEvents();
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, 10));
  QCoreApplication::processEvents();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0], std::make_pair(1, box));
  EXPECT_EQ(reports[1], std::make_pair(0, box));
}

TEST_F(TransButton, RadioButtonsOfOneWindowTickOneAnother) {
  auto* first = new CTransButton(CTransButton::Kind::RadioButton, window.get());
  auto* second = new CTransButton(CTransButton::Kind::RadioButton, window.get());
  first->setGeometry(10, 10, 100, 20);
  second->setGeometry(10, 40, 100, 20);
  QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(5, 10));
  QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(5, 10));
  EXPECT_FALSE(first->isChecked());
  EXPECT_TRUE(second->isChecked());
}

TEST_F(TransButton, PaintsItsBackgroundColourAndUsesItsOwnFont) {
  auto* box = new CTransButton(CTransButton::Kind::CheckBox, window.get());
  box->setGeometry(0, 0, 200, 20);
  box->SetBkColor(QColor(10, 200, 30));
  box->SetFont(90, "Arial", true);
  EXPECT_TRUE(box->HasOwnFont());
  EXPECT_EQ(box->OwnFont().weight(), QFont::Bold);
  EXPECT_DOUBLE_EQ(box->OwnFont().pointSizeF(), 9.0);
  box->SetFont(90, "Arial", false);
  EXPECT_EQ(box->OwnFont().weight(), QFont::Normal);
  QImage shown = box->grab().toImage();
  EXPECT_EQ(shown.pixelColor(150, 2), QColor(10, 200, 30));
  EXPECT_TRUE(box->FocusRectShown());
  box->ShowFocusRect(false);
  EXPECT_FALSE(box->FocusRectShown());
}
