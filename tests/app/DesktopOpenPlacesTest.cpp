// Every place where the program opens a page, a file or a folder for the user, driven as the user
// drives it (a key, a button, a link, a menu item, the answer to the update question), opens it
// through the one opener: with a stand-in in xdg-open's place that records who it ran as, each
// click must leave one record, as user nobody who asked through sudo, with the right address. For
// nobody known, the same clicks start nothing and the message says what to open.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "app/UpdateCheck.h"
#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "controls/HelpFile.h"
#include "dialogs/AboutBoxDlg.h"
#include "dialogs/FileSaveDlg.h"
#include "platform/RecoveryContext.h"
#include "platform/StringTable.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "support/StandInOpener.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "wizard/WizardPageController.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"

using corvale::test::ScopedVariables;
using corvale::test::StandInOpener;

namespace {

constexpr int kChinese = 1;
constexpr int kEnglish = 2;

// An update service that always has a newer version, whose details are at `details`.
class NewerVersion : public corvale::app::IUpdateService {
 public:
  int Fetch(const std::string&) override { return 0; }
  int Compare(uint32_t, uint32_t) override { return 0; }
  std::string DetailsAddress() override { return "https://corvale.example/release-notes"; }
};

class DesktopOpenPlaces : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    m_language = GetRecoveryContext().LanguageId;
    GetRecoveryContext().LanguageId = kEnglish;
    for (int i = 0; i < kWizardPageCount; ++i)
      GetPageController(static_cast<WIZARD_PAGE>(i))->SetPreviousController(nullptr);
    SetHelpFolder(CORVALE_HELP_DIR);
    m_boxes = corvale::ui::SetMessageBoxHandler([this](const std::string& text, const std::string&,
                                                       corvale::ui::MessageIcon) { boxes.push_back(text); });
    m_questions = corvale::ui::SetQuestionHandler(
        [](const std::string&, const std::string&, corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
          return corvale::ui::MessageAnswer::Yes;
        });
    frame = std::make_unique<CMainFrame>();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    sheet = frame->ChildView()->GetWizardSheet();
  }
  void TearDown() override {
    sheet->SetMenuRunner(nullptr);
    frame.reset();
    SetHelpFolder("");
    corvale::ui::SetMessageBoxHandler(m_boxes);
    corvale::ui::SetQuestionHandler(m_questions);
    GetRecoveryContext().LanguageId = m_language;
  }

  void Click(QWidget* widget, QPoint at = QPoint(5, 5)) {
    ASSERT_NE(widget, nullptr);
    ASSERT_TRUE(widget->isVisible());
    QTest::mouseClick(widget, Qt::LeftButton, {}, at);
  }

  // The sheet's menu item `text`, chosen as the user chooses it from the menu button.
  void ChooseMenuItem(const QString& text) {
    sheet->SetMenuRunner([text](QMenu& menu, const QPoint&) -> QAction* {
      for (QAction* action : menu.actions())
        if (action->text() == text) return action;
      return nullptr;
    });
    Click(sheet->Button(CWizardSheet::kCommandMenu));
  }

  // The about box the sheet opens for the language, its link clicked, then closed.
  void ClickAboutLink(int language, int button) {
    GetRecoveryContext().LanguageId = language;
    corvale::test::HandleNextModalDialog([](QDialog& dialog) {
      CHyperLink* link = nullptr;
      if (auto* about = qobject_cast<CAboutBoxDlg*>(&dialog)) link = about->Link();
      if (auto* regional = qobject_cast<CCNAboutDlg*>(&dialog)) link = regional->Link();
      if (link != nullptr) QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(3, link->height() / 2));
      dialog.reject();
    });
    Click(sheet->Button(button));
    GetRecoveryContext().LanguageId = kEnglish;
  }

  // The result panel's "saved in" link to `folder`.
  void ClickSavedInLink(const std::string& folder) {
    CFileSaveDlg panel(nullptr);
    panel.SetSavePath(folder);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    auto* link = corvale::ui::FindControl<QLabel>(&panel, CFileSaveDlg::kIdLink);
    Click(link, QPoint(4, link->height() / 2));
  }

  void AnswerUpdate() {
    corvale::app::UpdateCheckServices services;
    services.service = [] { return std::make_unique<NewerVersion>(); };
    services.owner = frame.get();
    corvale::app::CheckForNewVersion(false, true, services);
  }

  struct Place {
    const char* name;
    std::function<void()> act;
    std::string opened;  // what the opener must be given
  };

  std::vector<Place> Places(const std::string& savedIn) {
    const std::string help = CORVALE_HELP_DIR "/";
    return {
        {"F1 on the welcome page", [this] { QTest::keyClick(frame.get(), Qt::Key_F1); }, help + "15.html"},
        {"Help in the menu", [this] { ChooseMenuItem(QString::fromStdString(corvale::LoadText(212))); },
         help + "15.html"},
        {"the banner's home page button", [this] { Click(sheet->Button(CWizardSheet::kCommandHomePage)); },
         CWizardSheet::kHomePageUrl},
        {"the banner's user guide button", [this] { Click(sheet->Button(CWizardSheet::kCommandUserGuide)); },
         help + "index.html"},
        {"the about box's link", [this] { ClickAboutLink(kEnglish, CWizardSheet::kCommandAboutLink); },
         "https://corvale.example/"},
        {"the regional about box's link",
         [this] { ClickAboutLink(kChinese, CWizardSheet::kCommandAboutLink); }, "https://corvale.example/"},
        {"Help in the menu, Chinese",
         [this] {
           GetRecoveryContext().LanguageId = kChinese;
           ChooseMenuItem(QString::fromStdString(corvale::LoadText(212)));
           GetRecoveryContext().LanguageId = kEnglish;
         },
         help + "index.html"},
        {"the result's saved-in link", [this, savedIn] { ClickSavedInLink(savedIn); }, savedIn},
        {"the update's release details", [this] { AnswerUpdate(); }, "https://corvale.example/release-notes"},
        {"the small user guide button on another page",
         [this] {
           sheet->ShowPage(TypeOfFileToRecovery);
           Click(sheet->Button(CWizardSheet::kCommandUserGuideSmall));
           sheet->ShowPage(RecoveryModeSelect);
         },
         help + "index.html"},
    };
  }

  std::unique_ptr<CMainFrame> frame;
  CWizardSheet* sheet = nullptr;
  std::vector<std::string> boxes;

 private:
  int32_t m_language = kEnglish;
  corvale::ui::MessageBoxHandler m_boxes;
  corvale::ui::QuestionHandler m_questions;
};

TEST_F(DesktopOpenPlaces, EachOpensThroughTheOneOpenerAsThePersonWhoAsked) {
  CORVALE_REQUIRE_ROOT();
  StandInOpener opener;
  ASSERT_TRUE(opener.ok());
  ScopedVariables asked({{"PKEXEC_UID", nullptr}, {"SUDO_UID", "65534"}, {"SUDO_GID", nullptr}});
  corvale::test::PublicScratchDir savedIn;
  size_t expected = 0;
  for (const Place& place : Places(savedIn.path())) {
    SCOPED_TRACE(place.name);
    place.act();
    ++expected;
    ASSERT_TRUE(opener.WaitFor(expected)) << "nothing was started";
    const StandInOpener::Record r = opener.Records().back();
    EXPECT_EQ(r.uid, corvale::test::kOtherUser);
    EXPECT_EQ(r.args, std::vector<std::string>{place.opened});
    EXPECT_EQ(r.env.count("SUDO_UID"), 0u);
  }
  EXPECT_EQ(opener.Records().size(), expected) << "one start for each click";
  EXPECT_TRUE(boxes.empty()) << boxes.front();
}

// A desktop without a browser or file manager: xdg-open ends with status 3. Each place says it could
// not open the page, instead of passing it over in silence.
TEST_F(DesktopOpenPlaces, WithoutABrowserEachSaysItCouldNotOpenIt) {
  StandInOpener opener(3);
  ASSERT_TRUE(opener.ok());
  ScopedVariables asked({{"PKEXEC_UID", nullptr}, {"SUDO_UID", geteuid() == 0 ? "65534" : nullptr}});
  corvale::test::PublicScratchDir savedIn;
  size_t expected = 0;
  for (const Place& place : Places(savedIn.path())) {
    SCOPED_TRACE(place.name);
    boxes.clear();
    place.act();
    ++expected;
    ASSERT_TRUE(opener.WaitFor(expected));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !boxes.empty(); }, 20000)) << "nothing was said";
    EXPECT_EQ(boxes,
              std::vector<std::string>{"Unable to open hyperlink:\n\nThere is no application associated\n"
                                       "with the given filename extension."});
  }
}

TEST_F(DesktopOpenPlaces, ForNobodyKnownNothingStartsAndEachSaysWhatToOpen) {
  CORVALE_REQUIRE_ROOT();
  StandInOpener opener;
  ScopedVariables unknown({{"PKEXEC_UID", nullptr}, {"SUDO_UID", nullptr}, {"SUDO_GID", nullptr}});
  corvale::test::PublicScratchDir savedIn;
  for (const Place& place : Places(savedIn.path())) {
    SCOPED_TRACE(place.name);
    boxes.clear();
    place.act();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("Open it yourself:\n\n" + place.opened), std::string::npos) << boxes[0];
  }
  // The message as the user sees it.
  QMessageBox shown(QMessageBox::Warning, QString::fromStdString(GetProductTitle()),
                    QString::fromStdString(boxes.back()), QMessageBox::Ok);
  shown.show();
  QCoreApplication::processEvents();
  EXPECT_FALSE(corvale::test::SaveScreenshot(shown.grab().toImage(), "desktop-open-nobody-known").empty());
  usleep(300 * 1000);
  EXPECT_TRUE(opener.Records().empty());
}

}  // namespace
