// The main window and its view holding the wizard sheet.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "controls/HelpFile.h"
#include "platform/RecoveryContext.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "ui/Shell.h"
#include "wizard/WizardPageController.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/CompleteRecoveryPartitionDeviceSelectController.h"

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

// On the other pages the window may be made larger, and smaller down to the least size at which
// every page is usable (what the pages' layouts need, below the first size, so that the window fits
// a small screen).
TEST_F(MainFrame, OtherPagesLetTheWindowChangeDownToItsLeastSizeAndTheWelcomePageRestoresItsSize) {
  CWizardSheet* sheet = frame->ChildView()->GetWizardSheet();
  GetRecoveryContext().RecoveryMode = 2;
  ASSERT_TRUE(GetPageController(RecoveryModeSelect)->Next());
  ASSERT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
  EXPECT_TRUE(frame->IsWindowResizable());
  EXPECT_TRUE(frame->isVisible());
  const QSize least = frame->MinimumUsableSize();
  EXPECT_EQ(frame->minimumSize(), least);
  EXPECT_LT(least.width(), 1000);
  EXPECT_LT(least.height(), 700);
  EXPECT_GE(least.width(), sheet->minimumSizeHint().width());
  EXPECT_GE(least.height(), sheet->minimumSizeHint().height());
  frame->resize(400, 300);
  QCoreApplication::processEvents();
  EXPECT_EQ(frame->size(), least) << "never below the least size";
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
  SetHelpFolder(CORVALE_HELP_DIR);
  GetRecoveryContext().LanguageId = 1;  // Chinese: the user guide, the help's contents
  QTest::keyClick(frame.get(), Qt::Key_F1);
  GetRecoveryContext().LanguageId = language;
  SetHelpFolder("");
  corvale::ui::SetUrlHandler(previous);
  EXPECT_EQ(opened, std::vector<std::string>{CORVALE_HELP_DIR "/index.html"});
}

TEST_F(MainFrame, ClosingAsksFirstAndNoKeepsTheWindow) {
  const struct {
    corvale::ui::MessageAnswer answer;
    bool staysOpen;
  } cases[] = {{corvale::ui::MessageAnswer::No, true}, {corvale::ui::MessageAnswer::Yes, false}};
  for (const auto& c : cases) {
    std::vector<std::string> asked;
    auto previous = corvale::ui::SetQuestionHandler([&](const std::string& text, const std::string& caption,
                                                        corvale::ui::MessageButtons buttons,
                                                        corvale::ui::MessageIcon icon) {
      asked.push_back(text);
      EXPECT_EQ(caption, "Corvale Hard Drive Data Recovery");
      EXPECT_EQ(buttons, corvale::ui::MessageButtons::YesNo);
      EXPECT_EQ(icon, corvale::ui::MessageIcon::Question);
      return c.answer;
    });
    EXPECT_EQ(frame->close(), !c.staysOpen);
    corvale::ui::SetQuestionHandler(previous);
    EXPECT_EQ(asked, std::vector<std::string>{"Exit now?"});
    EXPECT_EQ(frame->isVisible(), c.staysOpen);
  }
}

TEST_F(MainFrame, ShortcutKeysReachThePageAndTheControlWithTheFocus) {
  CWizardSheet* sheet = frame->ChildView()->GetWizardSheet();
  sheet->ShowPage(CompleteRecoveryPartitionDeviceSelect);
  QWidget* page = sheet->GetCurrentPage();
  ASSERT_NE(page, nullptr);
  // On format recovery's device page Ctrl+O opens a raw image file: the file is asked for.
  struct AskerReset {
    ~AskerReset() { GetCompleteRecoveryPartitionDeviceSelectController()->SetRawImagePathAsker(nullptr); }
  } reset;
  int asked = 0;
  GetCompleteRecoveryPartitionDeviceSelectController()->SetRawImagePathAsker([&asked] {
    ++asked;
    return std::string();
  });
  QTest::keyClick(frame.get(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(asked, 1);

  // The edit keys act on the text control with the focus.
  auto* edit = new QLineEdit(page);
  edit->show();
  edit->setFocus();
  QTest::qWait(10);
  const struct {
    const char* before;
    bool selectAll;
    QKeyCombination key;
    const char* after;
  } cases[] = {
      {"abc", true, Qt::CTRL | Qt::Key_Insert, "abc"},  // copied
      {"", false, Qt::SHIFT | Qt::Key_Insert, "abc"},   // pasted
      {"xyz", true, Qt::SHIFT | Qt::Key_Delete, ""},    // cut
      {"", false, Qt::CTRL | Qt::Key_V, "xyz"},        {"xyz", true, Qt::CTRL | Qt::Key_X, ""},
  };
  for (const auto& c : cases) {
    if (c.selectAll) {
      edit->setText(c.before);
      edit->selectAll();
    }
    QTest::keyClick(edit, c.key.key(), c.key.keyboardModifiers());
    EXPECT_EQ(edit->text().toStdString(), c.after) << c.before;
  }
  QTest::keyClicks(edit, "q");
  QTest::keyClick(edit, Qt::Key_Backspace, Qt::AltModifier);
  EXPECT_EQ(edit->text().toStdString(), "xyz") << "Alt+Backspace undoes";
  delete edit;
  sheet->ShowPage(RecoveryModeSelect);
}

TEST_F(MainFrame, HelpOpensThePagesInstalledBesideTheProgram) {
  std::vector<std::string> opened;
  auto previous = corvale::ui::SetUrlHandler([&](const std::string& address) {
    opened.push_back(address);
    return true;
  });
  // The pages the build put beside the main program (the test programs' own help folder is the
  // scratch space of other tests).
  SetHelpFolder(CORVALE_HELP_DIR);
  GetRecoveryContext().LanguageId = 2;
  for (int topic : {46, 15, 16, 20, 23, 25, 27, 50, 51, 52}) frame->OpenHelpTopic(topic);
  QTest::keyClick(frame.get(), Qt::Key_F1);  // the welcome page's topic
  SetHelpFolder("");
  corvale::ui::SetUrlHandler(previous);
  ASSERT_EQ(opened.size(), 11u);
  for (const std::string& page : opened) {
    EXPECT_NE(page.find("/help/"), std::string::npos) << page;
    std::ifstream file(page);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("<h1>"), std::string::npos) << page;
  }
  EXPECT_NE(opened[0].find("/help/46.html"), std::string::npos);
  EXPECT_NE(opened.back().find("/help/15.html"), std::string::npos);
  // Every topic has a page of its own, none falls back to the contents.
  for (size_t i = 0; i + 1 < opened.size(); ++i)
    EXPECT_EQ(opened[i].find("/help/index.html"), std::string::npos) << opened[i];
  EXPECT_TRUE(std::ifstream(std::string(CORVALE_HELP_DIR) + "/index.html").good());
}

TEST_F(MainFrame, AboutOpensTheAboutBoxOfTheLanguage) {
  CWizardSheet* sheet = frame->ChildView()->GetWizardSheet();
  const struct {
    int language;
    const char* kind;
    const char* shot;
  } cases[] = {{2, "CAboutBoxDlg", "main-window-about"}, {1, "CCNAboutDlg", "main-window-about-regional"}};
  for (const auto& c : cases) {
    GetRecoveryContext().LanguageId = c.language;
    std::string shown;
    corvale::test::HandleNextModalDialog([&](QDialog& dialog) {
      shown = dialog.metaObject()->className();
      corvale::test::SaveScreenshot(dialog.grab().toImage(), c.shot);
      dialog.accept();
    });
    sheet->OnCommand(CWizardSheet::kCommandAbout);
    EXPECT_EQ(shown, c.kind);
  }
  GetRecoveryContext().LanguageId = 2;
}
