// The main window and its view holding the wizard sheet.
#include <gtest/gtest.h>

#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "platform/RecoveryContext.h"
#include "support/QtTestApp.h"
#include "ui/Shell.h"
#include "wizard/WizardPageController.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"

namespace {

class MainFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    for (int i = 0; i < kWizardPageCount; ++i)
      GetPageController(static_cast<WIZARD_PAGE>(i))->SetPreviousController(nullptr);
    frame = std::make_unique<CMainFrame>();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  }
  std::unique_ptr<CMainFrame> frame;
};

}  // namespace

TEST_F(MainFrame, ItsViewHoldsTheSheetOnTheWelcomePageAtTheFixedFirstSize) {
  CWizardSheet* sheet = frame->ChildView()->GetWizardSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(GetWizardSheet(), sheet);
  EXPECT_EQ(sheet->parentWidget(), frame->ChildView());
  EXPECT_EQ(frame->ChildView()->size(), QSize(1000, 700));
  EXPECT_EQ(sheet->geometry(), QRect(0, 0, 1000, 700));
  EXPECT_EQ(sheet->GetCurrentPageIndex(), RecoveryModeSelect);
  EXPECT_EQ(sheet->GetSheetController(), &frame->ChildView()->SheetController());
  EXPECT_EQ(frame->ChildView()->SheetController().GetWizardSheet(), sheet);
  EXPECT_EQ(frame->windowTitle().toStdString(), "Corvale Hard Drive Data Recovery");

  EXPECT_FALSE(frame->IsWindowResizable());
  EXPECT_EQ(frame->minimumSize(), QSize(1000, 700));
  EXPECT_EQ(frame->maximumSize(), QSize(1000, 700));
  EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(MainFrame, OtherPagesLetTheWindowGrowButNotShrinkAndTheWelcomePageRestoresItsSize) {
  CWizardSheet* sheet = frame->ChildView()->GetWizardSheet();
  GetRecoveryContext().RecoveryMode = 2;
  ASSERT_TRUE(GetPageController(RecoveryModeSelect)->Next());
  ASSERT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
  EXPECT_TRUE(frame->IsWindowResizable());
  EXPECT_TRUE(frame->isVisible());
  EXPECT_EQ(frame->minimumSize(), QSize(1000, 700));
  EXPECT_GT(frame->maximumSize().width(), 10000);
  EXPECT_TRUE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);

  frame->resize(1200, 800);
  QCoreApplication::processEvents();
  EXPECT_EQ(sheet->size(), QSize(1200, 800)) << "the sheet fills the view";

  GetPageController(TypeOfFileToRecovery)->Home();
  EXPECT_EQ(sheet->GetCurrentPageIndex(), RecoveryModeSelect);
  EXPECT_FALSE(frame->IsWindowResizable());
  EXPECT_EQ(frame->size(), QSize(1000, 700));
  EXPECT_TRUE(frame->isVisible());
}

TEST_F(MainFrame, ClosingWithoutAskingEndsTheWindowAndTheSheetGoesWithIt) {
  QPointer<CWizardSheet> sheet = frame->ChildView()->GetWizardSheet();
  frame->CloseWithoutAsking();
  EXPECT_FALSE(frame->isVisible());
  frame.reset();
  EXPECT_TRUE(sheet.isNull());
}

TEST_F(MainFrame, F1AsksForTheHelpOfThePageShown) {
  std::vector<std::string> opened;
  auto previous = corvale::ui::SetUrlHandler([&](const std::string& address) {
    opened.push_back(address);
    return true;
  });
  const int32_t language = GetRecoveryContext().LanguageId;
  GetRecoveryContext().LanguageId = 1;  // Chinese: the online guide, whatever the help folder holds
  QTest::keyClick(frame.get(), Qt::Key_F1);
  GetRecoveryContext().LanguageId = language;
  corvale::ui::SetUrlHandler(previous);
  EXPECT_EQ(opened, std::vector<std::string>{CWizardSheet::kUserGuideUrl});
}
