// F1 in each modal dialog with a help topic asks for that topic, whichever control has the focus,
// while the dialog runs its own event loop as it does for the user.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/HelpFile.h"
#include "controls/SearchSuperDlg.h"
#include "dialogs/AdvanceSettingMasterDlg.h"
#include "dialogs/FindFileDlg.h"
#include "dialogs/ImageDiskMasterDlg.h"
#include "dialogs/OpenDiskImageMasterDlg.h"
#include "dialogs/SearchFileDlg.h"
#include "find/SearchMatcher.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/Shell.h"

namespace {

class DialogHelp : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    m_folder = corvale::test::ScratchDir() + "/help/";
    mkdir(m_folder.c_str(), 0755);
    for (const char* page : {"20.html", "23.html", "46.html", "index.html"})
      std::ofstream(m_folder + page) << "<html><h1>" << page << "</h1></html>";
    SetHelpFolder(m_folder);
    m_previous = corvale::ui::SetUrlHandler([this](const std::string& address) {
      opened.push_back(address);
      return true;
    });
  }
  void TearDown() override {
    corvale::ui::SetUrlHandler(m_previous);
    SetHelpFolder("");
  }

  // Runs `dialog` modally and presses F1 on the control that has the focus, then on `other` (a
  // control of the dialog, or null), then closes it. The pages asked for.
  std::vector<std::string> PressF1In(CSearchSuperDlg& dialog, const char* screenshot,
                                     std::function<QWidget*(QDialog&)> other = nullptr) {
    opened.clear();
    corvale::test::HandleNextModalDialog([&](QDialog& shown) {
      QApplication::setActiveWindow(&shown);
      if (!QTest::qWaitForWindowActive(&shown)) ADD_FAILURE() << "the dialog never became active";
      QWidget* focus = shown.focusWidget() != nullptr ? shown.focusWidget() : &shown;
      QTest::keyClick(focus, Qt::Key_F1);
      if (other) {
        QWidget* control = other(shown);
        if (control != nullptr) {
          control->setFocus();
          QTest::keyClick(control, Qt::Key_F1);
        }
      }
      EXPECT_FALSE(corvale::test::SaveScreenshot(shown.grab().toImage(), screenshot).empty());
      shown.reject();
    });
    dialog.DoModal();
    return opened;
  }
  std::string Page(int topic) const { return m_folder + std::to_string(topic) + ".html"; }

  std::vector<std::string> opened;

 private:
  std::string m_folder;
  corvale::ui::UrlHandler m_previous;
};

template <typename T>
QWidget* First(QDialog& dialog) {
  return dialog.findChild<T*>();
}

}  // namespace

TEST_F(DialogHelp, F1InEachModalDialogAsksForItsTopic) {
  const std::vector<uint8_t> bytes(1 << 20, 0);
  MemoryDevice device(bytes);
  CSearchResult result;
  struct Case {
    const char* name;
    std::function<std::unique_ptr<CSearchSuperDlg>()> make;
    int topic;
  } cases[] = {
      {"create-image-wizard",
       [&] { return std::make_unique<CImageDiskMasterDlg>(&device, "DATA (E:\\ NTFS)", 255); }, 20},
      {"open-image-wizard", [] { return std::make_unique<COpenDiskImageMasterDlg>(); }, 20},
      {"find", [] { return std::make_unique<CFindFileDlg>(nullptr, nullptr, nullptr); }, 23},
      {"search-files", [&] { return std::make_unique<CSearchFileDlg>(nullptr, nullptr, &result, nullptr); },
       23},
      {"settings", [] { return std::make_unique<CAdvanceSettingMasterDlg>(1, nullptr); }, 46},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<CSearchSuperDlg> dialog = c.make();
    EXPECT_EQ(dialog->HelpTopic(), c.topic);
    const std::string shot = std::string("dialog-help-") + c.name;
    const std::vector<std::string> pages =
        PressF1In(*dialog, shot.c_str(), [](QDialog& shown) { return First<QLineEdit>(shown); });
    ASSERT_FALSE(pages.empty()) << "F1 asked for nothing";
    for (const std::string& page : pages) EXPECT_EQ(page, Page(c.topic));
  }
}

TEST_F(DialogHelp, ADialogWithoutATopicAsksForNothing) {
  CSearchSuperDlg plain(nullptr);
  EXPECT_EQ(plain.HelpTopic(), 0);
  EXPECT_TRUE(PressF1In(plain, "dialog-help-none").empty());
  // A topic given later counts from then on.
  CSearchSuperDlg later(nullptr);
  later.SetHelpTopic(46);
  EXPECT_EQ(PressF1In(later, "dialog-help-later"), std::vector<std::string>{Page(46)});
}
