// The wizard sheet driven through its buttons and menu, with the real controllers behind the pages.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "controls/ButtonPlus.h"
#include "controls/XPMenu.h"
#include "core/FileNode.h"
#include "core/MyFileProperties.h"
#include "core/SearchedPartitionInfo.h"
#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "platform/StringTable.h"
#include "raw/RawFileInfoList.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"
#include "support/qt/LayoutCheck.h"
#include "wizard/WizardHarness.h"
#include "wizard/controller/CompleteRecoveryScanPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/LostRecoveryScanPartitionDeviceSelectController.h"
#include "wizard/controller/VolumeCollection.h"

using corvale::log::ScopedCapture;
using corvale::test::WizardHarness;

namespace {

using Sheet = CWizardSheet;

class WizardSheet : public WizardHarness {
 protected:
  // Deutsch and Japanese are installed: their translations lie in the folder the program reads
  // translations from.
  void SetUp() override {
    WizardHarness::SetUp();
    m_languages = Folder() + "languages/";
    mkdir(m_languages.c_str(), 0755);
    InstallLanguages({"Deutsch.txt", "Japanese.txt"});
    corvale::SetLanguageFolderForTesting(m_languages);
  }
  void TearDown() override {
    corvale::SetLanguageFolderForTesting("");
    InstallLanguages({});
    WizardHarness::TearDown();
  }
  // Leaves exactly the translation files `files` installed.
  void InstallLanguages(std::initializer_list<const char*> files) {
    for (const char* file : {"Chinese.txt", "Deutsch.txt", "Japanese.txt"})
      unlink((m_languages + file).c_str());
    for (const char* file : files) std::ofstream(m_languages + file) << "300\tWillkommen\n";
  }

  // The pages whose windows are shown in the sheet now.
  std::vector<int> VisiblePages() const {
    std::vector<int> visible;
    for (int i = 0; i < kWizardPageCount; ++i)
      if (sheet->GetPage(static_cast<WIZARD_PAGE>(i))->isVisibleTo(sheet)) visible.push_back(i);
    return visible;
  }
  bool Shown(int command) const { return sheet->Button(command)->isVisibleTo(sheet); }

  // The menu as text: items separated by '|', a submenu's items in brackets, '*' after a ticked one.
  std::string MenuText() {
    std::unique_ptr<CXPMenu> menu = sheet->BuildSheetMenu();
    std::string text;
    for (QAction* action : menu->actions()) {
      if (!text.empty()) text += "|";
      text += action->text().toStdString();
      if (QMenu* sub = action->menu()) {
        text += "[";
        bool first = true;
        for (QAction* item : sub->actions()) {
          if (!first) text += ',';
          text.append(item->text().toStdString());
          if (item->isChecked()) text += '*';
          first = false;
        }
        text += "]";
      }
    }
    return text;
  }

  std::string m_languages;

  // The Language submenu as the user sees it after clicking Menu: its items, '*' after the ticked
  // one.
  std::string LanguageMenuAsShown(const char* screenshot = nullptr) {
    std::string shown;
    sheet->SetMenuRunner([&shown, screenshot](QMenu& menu, const QPoint&) -> QAction* {
      for (QAction* action : menu.actions())
        if (QMenu* sub = action->menu()) {
          for (QAction* item : sub->actions())
            shown += (shown.empty() ? "" : ",") + item->text().toStdString() + (item->isChecked() ? "*" : "");
          if (screenshot) {
            EXPECT_FALSE(corvale::test::SaveScreenshot(sub->grab().toImage(), screenshot).empty());
          }
        }
      return nullptr;
    });
    Click(Sheet::kCommandMenu);
    sheet->SetMenuRunner(nullptr);
    return shown;
  }

  // Chooses the menu item of `command` the next time the menu opens.
  void ChooseFromMenu(int command) {
    sheet->SetMenuRunner([command](QMenu& menu, const QPoint&) -> QAction* {
      for (QAction* action : menu.actions()) {
        if (CXPMenu::CommandOf(action) == command) return action;
        if (QMenu* sub = action->menu())
          for (QAction* item : sub->actions())
            if (CXPMenu::CommandOf(item) == command) return item;
      }
      return nullptr;
    });
  }
};

const std::string kTitle = "Corvale Hard Drive Data Recovery";

// A translation that spells the language names in its own way.
class OwnSpelling : public corvale::IStringTable {
 public:
  std::string Get(uint32_t id) const override {
    switch (id) {
      case 301:
        return "Englisch";
      case 302:
        return "Deutsch (Deutschland)";
      case 483:
        return "Japanisch";
      default:
        return corvale::EnglishStrings().Get(id);
    }
  }
};

}  // namespace

TEST_F(WizardSheet, StartsOnTheWelcomePageWithoutTheBottomBar) {
  EXPECT_EQ(sheet->GetCurrentPageIndex(), RecoveryModeSelect);
  EXPECT_EQ(VisiblePages(), std::vector<int>{0});
  EXPECT_EQ(sheet->GetCurrentPage()->geometry(), sheet->PageRect());
  EXPECT_EQ(sheet->PageRect(), QRect(0, 64, 1000, 700 - 64 - 58));
  for (int command : {Sheet::kCommandHome, Sheet::kCommandBack, Sheet::kCommandNext})
    EXPECT_FALSE(Shown(command));
  EXPECT_FALSE(sheet->FileNextButton()->isVisibleTo(sheet));
  for (int command :
       {Sheet::kCommandHomePage, Sheet::kCommandUserGuide, Sheet::kCommandAboutLink, Sheet::kCommandMenu})
    EXPECT_TRUE(Shown(command)) << command;
  EXPECT_FALSE(Shown(Sheet::kCommandUserGuideSmall));
  EXPECT_FALSE(Shown(Sheet::kCommandAboutSmall));
  EXPECT_EQ(frame->resizableCalls, std::vector<bool>{false}) << "the welcome page keeps the window's size";
  EXPECT_EQ(sheet->BannerBitmapId(), 134u);
  EXPECT_EQ(sheet->InitResult(), 0);
  EXPECT_EQ(GetWizardSheet(), sheet);
}

TEST_F(WizardSheet, EveryOtherPageShowsHomeBackAndNextAndTheFilePageItsOwnNext) {
  for (int page : {10, 1, 2, 3, 4, 7, 8, 9}) {
    SCOPED_TRACE(page);
    sheet->ShowPage(static_cast<WIZARD_PAGE>(page));
    EXPECT_EQ(sheet->GetCurrentPageIndex(), page);
    EXPECT_EQ(VisiblePages(), std::vector<int>{page});
    EXPECT_EQ(sheet->GetCurrentPage()->geometry(), sheet->PageRect());
    EXPECT_TRUE(Shown(Sheet::kCommandHome));
    EXPECT_TRUE(Shown(Sheet::kCommandBack));
    EXPECT_EQ(Shown(Sheet::kCommandNext), page != FileSelect);
    EXPECT_EQ(sheet->FileNextButton()->isVisibleTo(sheet), page == FileSelect);
    EXPECT_FALSE(Shown(Sheet::kCommandHomePage));
    EXPECT_FALSE(Shown(Sheet::kCommandUserGuide));
    EXPECT_FALSE(Shown(Sheet::kCommandAboutLink));
    EXPECT_TRUE(Shown(Sheet::kCommandUserGuideSmall));
    EXPECT_TRUE(Shown(Sheet::kCommandAboutSmall));
    EXPECT_TRUE(Shown(Sheet::kCommandMenu));
    EXPECT_TRUE(frame->resizableCalls.back());
  }
  sheet->ShowPage(RecoveryModeSelect);
  EXPECT_FALSE(frame->resizableCalls.back());
  EXPECT_FALSE(Shown(Sheet::kCommandHome));
  EXPECT_TRUE(Shown(Sheet::kCommandHomePage));
}

TEST_F(WizardSheet, TheSavePagesNeverBecomeCurrentAndTheSamePageStaysShown) {
  sheet->ShowPage(LostRecoveryDiskDeviceSelect);
  for (WIZARD_PAGE page : {SaveFile, SaveResult, LostRecoveryDiskDeviceSelect}) {
    sheet->ShowPage(page);
    EXPECT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryDiskDeviceSelect);
    EXPECT_EQ(VisiblePages(), std::vector<int>{3});
    EXPECT_TRUE(Shown(Sheet::kCommandNext));
  }
  sheet->ShowPage(static_cast<WIZARD_PAGE>(11));
  sheet->ShowPage(static_cast<WIZARD_PAGE>(-1));
  EXPECT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryDiskDeviceSelect) << "numbers of no page are ignored";
}

TEST_F(WizardSheet, TheWelcomePagePutsTheRecoveryOptionsBackToTheirDefaults) {
  CRecoveryContext& context = GetRecoveryContext();
  sheet->ShowPage(TypeOfFileToRecovery);
  context.IgnoreBadSectors = 0;
  context.RecoverRawFiles = 0;
  context.MaxRawFileSize = 123;
  context.RecoveryMode = 1;
  sheet->ShowPage(RecoveryModeSelect);
  EXPECT_EQ(context.IgnoreBadSectors, 1);
  EXPECT_EQ(context.RecoverRawFiles, 1);
  EXPECT_EQ(context.MaxRawFileSize, 50000000);
  EXPECT_EQ(context.RecoveryMode, 1) << "the mode is the run's choice, not an option";
}

// The bars keep their arrangement at every width, from the sheet's least size up: Home at the
// left, Back just left of Next at the right, the links at the banner's right end (in its first row
// on the welcome page, lower on the others), the menu button left of them, and the banner's steps
// drawn only between the logo and the links, so that no link covers a step.
TEST_F(WizardSheet, TheBarsKeepTheirArrangementAndTheStepsStayClearOfTheLinks) {
  const QSize least = sheet->minimumSizeHint();
  EXPECT_LE(least.width(), 800) << "narrow screens still hold the sheet";
  EXPECT_LE(least.height(), 560);
  for (QSize size : {least, QSize(1000, 700), QSize(1920, 1080)}) {
    SCOPED_TRACE(size.width());
    for (int mode : {0, 2}) {
      GetRecoveryContext().RecoveryMode = mode;
      for (WIZARD_PAGE page : {RecoveryModeSelect, TypeOfFileToRecovery, FileSelect}) {
        SCOPED_TRACE(page);
        sheet->ShowPage(page);
        frame->resize(size.expandedTo(frame->size()));
        const QStringList problems = layoutcheck::ProblemsAtSize(sheet, size);
        EXPECT_TRUE(problems.isEmpty()) << problems.join("\n").toStdString();
        // Where a part stands in the sheet.
        const auto at = [this](const QWidget* part) {
          return QRect(part->mapTo(sheet, QPoint(0, 0)), part->size());
        };
        const int w = sheet->width();
        EXPECT_EQ(sheet->GetCurrentPage()->geometry(), sheet->PageRect());
        EXPECT_EQ(sheet->BottomRect(), QRect(0, sheet->height() - 58, w, 58));
        const auto [textLeft, textRight] = sheet->BannerTextColumns();
        EXPECT_LT(textLeft, textRight) << "room for the steps";
        const bool welcome = page == RecoveryModeSelect;
        const QRect menu = at(sheet->Button(Sheet::kCommandMenu));
        const QRect guide =
            at(sheet->Button(welcome ? Sheet::kCommandUserGuide : Sheet::kCommandUserGuideSmall));
        const QRect about = at(sheet->Button(welcome ? Sheet::kCommandAboutLink : Sheet::kCommandAboutSmall));
        EXPECT_GE(menu.left(), textRight) << "the menu stays right of the steps";
        EXPECT_EQ(menu.top(), guide.top());
        EXPECT_EQ(menu.right() + 1 + 7, guide.left());
        EXPECT_EQ(guide.right() + 1, about.left());
        EXPECT_EQ(about.right() + 1, w - (welcome ? 20 : 37));
        EXPECT_EQ(about.top(), welcome ? 10 : 40);
        if (welcome) {
          EXPECT_EQ(at(sheet->Button(Sheet::kCommandHomePage)).topLeft(), QPoint(50, 11));
          continue;
        }
        const QRect next =
            at(page == FileSelect ? sheet->FileNextButton() : sheet->Button(Sheet::kCommandNext));
        const QRect back = at(sheet->Button(Sheet::kCommandBack));
        const QRect home = at(sheet->Button(Sheet::kCommandHome));
        const QRect bar = sheet->BottomRect();
        EXPECT_EQ(next.right() + 1, w - 50);
        EXPECT_EQ(next.top(), bar.top() + (58 - next.height()) / 2 + 2);
        EXPECT_EQ(back.right() + 1, next.left() - 5);
        EXPECT_EQ(back.top(), next.top());
        EXPECT_EQ(home.topLeft(), QPoint(50, next.top()));
      }
    }
  }
}

TEST_F(WizardSheet, TheBannerShowsTheStepOfTheModeAndKeepsThePictureWhereThereIsNone) {
  const std::map<std::pair<int, int>, uint32_t> table = {
      {{0, 0}, 134}, {{0, 1}, 134}, {{0, 2}, 134}, {{10, 0}, 516}, {{10, 1}, 519}, {{10, 2}, 522},
      {{1, 0}, 517}, {{2, 1}, 520}, {{3, 2}, 523}, {{2, 0}, 517},  {{3, 1}, 520},  {{7, 1}, 520},
      {{7, 2}, 524}, {{8, 2}, 524}, {{9, 0}, 515}, {{9, 1}, 518},  {{9, 2}, 521},  {{7, 0}, 0},
      {{8, 0}, 0},   {{4, 2}, 0},   {{5, 1}, 0},   {{6, 2}, 0},    {{10, 3}, 0},   {{9, -1}, 0},
  };
  for (const auto& [key, id] : table)
    EXPECT_EQ(Sheet::BannerBitmapFor(key.first, key.second), id) << key.first << " " << key.second;

  GetRecoveryContext().RecoveryMode = 2;
  sheet->ShowPage(LostRecoveryDiskDeviceSelect);
  EXPECT_EQ(sheet->BannerBitmapId(), 523u);
  sheet->ShowPage(LostRecoveryPartitionDeviceSelect);
  EXPECT_EQ(sheet->BannerBitmapId(), 523u) << "the found-partition page keeps the disk step's picture";
  sheet->ShowPage(LostRecoveryScanPartitionDeviceSelect);
  EXPECT_EQ(sheet->BannerBitmapId(), 524u);
}

TEST_F(WizardSheet, NextWalksTheChainsOfEachModeAndBackWalksThemBack) {
  std::string why;
  if (!GiveFormatRecoveryAVolume("fat16_reformatted.sh", "fat16_reformatted.img", "FAT16VOL",
                                 kFileSystemFat16, &why))
    GTEST_SKIP() << why;
  const std::map<int, std::vector<int>> chains = {
      // The deleted-file chain reaches its volume step and the partition-recovery chain its disk
      // step, which go on only with a volume or a disk chosen. Format recovery searches the
      // volume it is given and shows what it found.
      {0, {0, 10, 1}},
      {1, {0, 10, 2, 7, 9}},
      {2, {0, 10, 3}},
  };
  for (const auto& [mode, pages] : chains) {
    SCOPED_TRACE(mode);
    const size_t questionsBefore = questions.size();
    StartRecovery(mode);
    for (size_t i = 1; i < pages.size(); ++i) {
      EXPECT_EQ(sheet->GetCurrentPageIndex(), pages[i]);
      if (pages[i] == CompleteRecoveryPartitionDeviceSelect) SelectFormatRecoveryRow(0);
      if (i + 1 < pages.size()) Click(Sheet::kCommandNext);
    }
    if (pages.back() == FileSelect) {
      EXPECT_EQ(GetPageController(FileSelect)->GetRecoveryKind(), mode)
          << "the chain leads back to the mode's device step";
    }
    for (size_t i = pages.size() - 1; i > 0; --i) {
      EXPECT_EQ(sheet->GetCurrentPageIndex(), pages[i]);
      Click(Sheet::kCommandBack);
    }
    EXPECT_EQ(sheet->GetCurrentPageIndex(), RecoveryModeSelect);
    // Next and Back ask nothing, except Back from the file step, which leaves the found files, and
    // Back from the found partitions, which drops the search.
    if (pages.back() == FileSelect) {
      ASSERT_EQ(questions.size(), questionsBefore + 2);
      EXPECT_EQ(questions[questionsBefore], kTitle + "|Are you sure to quit searching?");
      EXPECT_EQ(questions.back(), kTitle + "|Return to devices list?");
    } else {
      EXPECT_EQ(questions.size(), questionsBefore);
    }
  }
}

TEST_F(WizardSheet, HomeAsksAndThenWalksTheChainBackReleasingEveryStep) {
  std::string why;
  if (!GiveFormatRecoveryAVolume("fat16_reformatted.sh", "fat16_reformatted.img", "FAT16VOL",
                                 kFileSystemFat16, &why))
    GTEST_SKIP() << why;
  StartRecovery(1);
  Click(Sheet::kCommandNext);
  SelectFormatRecoveryRow(0);
  for (int i = 0; i < 2; ++i) Click(Sheet::kCommandNext);
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);

  confirm = false;
  Click(Sheet::kCommandHome);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0], kTitle + "|Are you sure to return to home page?");

  // Steps of other recoveries hold something of their own: Home leaves them alone.
  CDeleteRecoveryPartitionDeviceSelectController* volumes =
      GetDeleteRecoveryPartitionDeviceSelectController();
  volumes->SetCollector([] {
    auto volume = std::make_unique<CollectedVolume>();
    volume->volume = std::make_unique<MemoryDevice>(std::vector<uint8_t>(64 * 512));
    volume->record.Device = volume->volume.get();
    volume->sectorCount = 64;
    std::vector<std::unique_ptr<CollectedVolume>> list;
    list.push_back(std::move(volume));
    return list;
  });
  volumes->StartDeviceCollection();
  WaitForVolumeList();
  ASSERT_EQ(volumes->Volumes().size(), 1u);
  CLostRecoveryScanPartitionDeviceSelectController* found =
      GetLostRecoveryScanPartitionDeviceSelectController();
  SearchedPartitionInfoList partitions;
  partitions.push_back(std::make_unique<CSearchedPartitionInfo>(512));
  found->SetSearchResults(std::move(partitions), {}, nullptr);
  ASSERT_EQ(found->FoundPartitions().size(), 1u);
  ASSERT_NE(GetFileSelectController()->GetFileTree(), nullptr);
  ASSERT_FALSE(GetCompleteRecoveryScanPartitionDeviceSelectController()->Results().found.empty());
  ASSERT_NE(GetCompleteRecoveryPartitionDeviceSelectController()->GetChosen(), nullptr);
  confirm = true;
  Click(Sheet::kCommandHome);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), RecoveryModeSelect);
  EXPECT_TRUE(GetCompleteRecoveryScanPartitionDeviceSelectController()->Results().found.empty())
      << "the found-partition step released the search";
  EXPECT_TRUE(GetCompleteRecoveryScanPartitionDeviceSelectController()->Results().controllers.empty());
  EXPECT_EQ(GetCompleteRecoveryPartitionDeviceSelectController()->GetChosen(), nullptr)
      << "the device step released its volumes";
  EXPECT_EQ(GetFileSelectController()->GetFileTree(), nullptr) << "the file step released its tree";
  EXPECT_EQ(volumes->Volumes().size(), 1u) << "the deleted-file volume step is not in this chain";
  EXPECT_EQ(found->FoundPartitions().size(), 1u)
      << "partition recovery's found partitions are not in this chain";
  volumes->Cleanup();
  found->Cleanup();
}

TEST_F(WizardSheet, TheFilePagesNextLeadsToTheSaveStepsWithoutLeavingThePage) {
  std::string why;
  if (!GiveFormatRecoveryAVolume("fat16_reformatted.sh", "fat16_reformatted.img", "FAT16VOL",
                                 kFileSystemFat16, &why))
    GTEST_SKIP() << why;
  StartRecovery(1);
  Click(Sheet::kCommandNext);
  SelectFormatRecoveryRow(0);
  Click(Sheet::kCommandNext);
  Click(Sheet::kCommandNext);
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  // The file step goes on only with a ticked file: a tree of one, ticked.
  CFileSystemNode* root = CreateFileSystemNode();
  MyFileInfo info;
  info.name = "file.txt";
  info.size = 10;
  info.attributes = 0x20;
  info.validMask = 0x7F;
  root->AddChild(CreateFileNode())->SetFileProperties(new CMyFileProperties(info));
  root->RecountSummary();
  root->ToggleCheck(root->GetFirstChild(), false);
  GetFileSelectController()->SetDirectoryTree(root);
  Click(Sheet::kCommandNext);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  EXPECT_EQ(GetPageController(SaveFile)->GetPreviousController(), GetPageController(FileSelect));
}

TEST_F(WizardSheet, TheMenuDependsOnThePageAndTheLanguage) {
  struct Case {
    int page;
    int language;
    const char* menu;
  } cases[] = {
      {0, corvale::kLanguageEnglish, "Option|Language[English*,Deutsch,Japanese]|Help|About"},
      {0, corvale::kLanguageDeutsch, "Option|Language[English,Deutsch*,Japanese]|Help|About"},
      {0, corvale::kLanguageChinese, "Option|Help|About"},
      {3, corvale::kLanguageEnglish, "Option|Help|About"},
      {10, corvale::kLanguageJapanese, "Option|Help|About"},
      {9, corvale::kLanguageEnglish, "Help|About"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    sheet->ShowPage(static_cast<WIZARD_PAGE>(c.page));
    GetRecoveryContext().LanguageId = c.language;
    EXPECT_EQ(MenuText(), c.menu);
  }
}

TEST_F(WizardSheet, TheLanguageMenuOffersOnlyTheInstalledLanguagesAndTicksTheOneShown) {
  struct Case {
    std::initializer_list<const char*> installed;
    int language;
    const char* shown;
  } cases[] = {
      {{}, corvale::kLanguageEnglish, "English*"},
      {{"Deutsch.txt"}, corvale::kLanguageEnglish, "English*,Deutsch"},
      {{"Japanese.txt"}, corvale::kLanguageJapanese, "English,Japanese*"},
      // The stored language lost its translation: the window is English, and English is ticked.
      {{"Japanese.txt"}, corvale::kLanguageDeutsch, "English*,Japanese"},
      // Chinese has no entry of its own.
      {{"Chinese.txt", "Deutsch.txt", "Japanese.txt"},
       corvale::kLanguageEnglish,
       "English*,Deutsch,Japanese"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    InstallLanguages(c.installed);
    GetRecoveryContext().LanguageId = c.language;
    EXPECT_EQ(LanguageMenuAsShown(c.installed.size() == 1 ? "wizard-sheet-language-menu" : nullptr), c.shown);
  }
  // A translation the program cannot read is not offered.
  GetRecoveryContext().LanguageId = corvale::kLanguageEnglish;
  InstallLanguages({"Deutsch.txt"});
  mkdir((m_languages + "Japanese.txt").c_str(), 0755);
  EXPECT_EQ(LanguageMenuAsShown(), "English*,Deutsch");
  rmdir((m_languages + "Japanese.txt").c_str());

  // A language that is not installed cannot be chosen, not even by its command.
  sheet->OnCommand(Sheet::kCommandLanguageBase + corvale::kLanguageJapanese);
  EXPECT_TRUE(questions.empty());
  EXPECT_TRUE(started.empty());
}

TEST_F(WizardSheet, OptionReportsItsUsageEventAndOpensTheSettingsOfTheCurrentStep) {
  // Every step has its controller now: the found-partition step opens the settings window.
  sheet->ShowPage(CompleteRecoveryScanPartitionDeviceSelect);
  ChooseFromMenu(Sheet::kCommandOption);
  std::string shown;
  corvale::test::HandleNextModalDialog([&shown](QDialog& dialog) {
    shown = dialog.metaObject()->className();
    dialog.reject();
  });
  Click(Sheet::kCommandMenu);
  EXPECT_EQ(shown, "CAdvanceSettingMasterDlg");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, corvale::usage::Record::kEvent);
  EXPECT_EQ(events[0].eventId, 8262);
  // A menu closed without a choice does nothing.
  sheet->SetMenuRunner([](QMenu&, const QPoint&) { return nullptr; });
  Click(Sheet::kCommandMenu);
  EXPECT_EQ(events.size(), 1u);
}

TEST_F(WizardSheet, HelpOpensTheCurrentPagesTopicOrTheUserGuideForChinese) {
  // The file-type page's topic and the contents, as pages of the help folder beside this test
  // program.
  const std::string folder = platform::ExecutableDirectory() + "help/";
  mkdir(folder.c_str(), 0755);
  const std::string topic = folder + "52.html";
  const std::string contents = folder + "index.html";
  std::ofstream(topic) << "<html>file types</html>";
  const bool hadContents = access(contents.c_str(), F_OK) == 0;
  if (!hadContents) std::ofstream(contents) << "<html>contents</html>";
  sheet->ShowPage(TypeOfFileToRecovery);
  ChooseFromMenu(Sheet::kCommandHelp);
  Click(Sheet::kCommandMenu);
  GetRecoveryContext().LanguageId = corvale::kLanguageChinese;
  sheet->OnHelp();
  unlink(topic.c_str());
  if (!hadContents) unlink(contents.c_str());
  EXPECT_EQ(opened, (std::vector<std::string>{topic, contents}));
}

TEST_F(WizardSheet, TheBannerLinksOpenTheMakersPageAndTheInstalledUserGuide) {
  const std::string folder = platform::ExecutableDirectory() + "help/";
  mkdir(folder.c_str(), 0755);
  const std::string contents = folder + "index.html";
  const bool hadContents = access(contents.c_str(), F_OK) == 0;
  if (!hadContents) std::ofstream(contents) << "<html>contents</html>";
  Click(Sheet::kCommandHomePage);
  Click(Sheet::kCommandUserGuide);
  sheet->ShowPage(TypeOfFileToRecovery);
  Click(Sheet::kCommandUserGuideSmall);
  if (!hadContents) unlink(contents.c_str());
  EXPECT_EQ(opened, (std::vector<std::string>{Sheet::kHomePageUrl, contents, contents}));
}

TEST_F(WizardSheet, ALanguageChangeIsStoredAndTheProgramRestartedAndClosedWithoutAsking) {
  ChooseFromMenu(Sheet::kCommandLanguageBase + corvale::kLanguageDeutsch);
  Click(Sheet::kCommandMenu);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0],
            kTitle + "|You have modified the system setting, please restart to apply. Restart now?");
  std::string stored;
  platform::RegistryGetString(corvale::kLanguageKey, corvale::kLanguageValue, &stored);
  EXPECT_EQ(stored, "Deutsch");
  EXPECT_EQ(started, std::vector<std::string>{platform::ExecutableDirectory() + "QBXRestart"});
  EXPECT_EQ(frame->closes, 1);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(WizardSheet, TheStoredNameIsTheLanguagesOwnNameNotTheMenusTranslation) {
  OwnSpelling translation;
  GetRecoveryContext().LanguageModule = &translation;
  CWizardSheet translated(145, 133);  // reads the menu's names from the translation
  translated.SetMainFrame(frame.get());
  EXPECT_EQ(translated.LanguageNames()[corvale::kLanguageDeutsch], "Deutsch (Deutschland)");
  translated.OnCommand(Sheet::kCommandLanguageBase + corvale::kLanguageDeutsch);
  std::string stored;
  platform::RegistryGetString(corvale::kLanguageKey, corvale::kLanguageValue, &stored);
  EXPECT_EQ(stored, "Deutsch");
  GetRecoveryContext().LanguageModule = nullptr;
}

TEST_F(WizardSheet, TheCurrentLanguageOrACancelledQuestionChangesNothing) {
  sheet->OnCommand(Sheet::kCommandLanguageBase + corvale::kLanguageEnglish);
  EXPECT_TRUE(questions.empty());
  confirm = false;
  sheet->OnCommand(Sheet::kCommandLanguageBase + corvale::kLanguageJapanese);
  EXPECT_EQ(questions.size(), 1u);
  sheet->OnCommand(Sheet::kCommandLanguageBase + corvale::kLanguageChinese);
  sheet->OnCommand(Sheet::kCommandLanguageBase + 5);
  EXPECT_EQ(questions.size(), 1u) << "languages the menu does not offer are not asked for";
  std::string stored;
  platform::RegistryGetString(corvale::kLanguageKey, corvale::kLanguageValue, &stored);
  EXPECT_EQ(stored, "English");
  EXPECT_TRUE(started.empty());
  EXPECT_EQ(frame->closes, 0);
}

TEST_F(WizardSheet, ALanguageThatCannotBeStoredIsReportedAndNothingRestarts) {
  // A settings file without the language's key: the key cannot be opened.
  setenv("CORVALE_REGISTRY", (Folder() + "other.ini").c_str(), 1);
  ScopedCapture capture;
  sheet->OnCommand(Sheet::kCommandLanguageBase + corvale::kLanguageDeutsch);
  EXPECT_TRUE(capture.Has("RegOpenKeyEx failed with 2\n"));
  EXPECT_EQ(boxes, std::vector<std::string>{kTitle + "|Save language failed!"});
  EXPECT_TRUE(started.empty());
  EXPECT_EQ(frame->closes, 0);
}

TEST_F(WizardSheet, ARestartHelperThatCannotStartAsksForAManualRestartAndStillCloses) {
  startSucceeds = false;
  sheet->OnCommand(Sheet::kCommandLanguageBase + corvale::kLanguageJapanese);
  EXPECT_EQ(boxes, std::vector<std::string>{kTitle + "|Please restart the program manually!"});
  EXPECT_EQ(frame->closes, 1);
}

TEST_F(WizardSheet, NextCanBeDisabledAndCommandsReachTheCurrentPage) {
  sheet->ShowPage(CompleteRecoveryScanPartitionDeviceSelect);
  sheet->EnableNextButton(false);
  EXPECT_FALSE(sheet->Button(Sheet::kCommandNext)->isEnabled());
  EXPECT_TRUE(sheet->FileNextButton()->isEnabled());
  QTest::mouseClick(sheet->Button(Sheet::kCommandNext), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect)
      << "a disabled Next does nothing";
  sheet->EnableNextButton(true);
  EXPECT_TRUE(sheet->Button(Sheet::kCommandNext)->isEnabled());

  // A command reaches the current page: on format recovery's device page 32777 asks for a raw
  // image file to search.
  sheet->ShowPage(CompleteRecoveryPartitionDeviceSelect);
  int asked = 0;
  GetCompleteRecoveryPartitionDeviceSelectController()->SetRawImagePathAsker([&asked] {
    ++asked;
    return std::string();
  });
  sheet->SendCommandToCurrentPage(32777);
  GetCompleteRecoveryPartitionDeviceSelectController()->SetRawImagePathAsker(nullptr);
  EXPECT_EQ(asked, 1);
}

TEST_F(WizardSheet, TheSheetControllerWithoutASheetDoesNothing) {
  CWizardSheetController alone;
  EXPECT_FALSE(alone.Next());
  alone.Back();
  alone.Home();
  alone.Help(corvale::kLanguageEnglish);
  EXPECT_TRUE(opened.empty());
}
