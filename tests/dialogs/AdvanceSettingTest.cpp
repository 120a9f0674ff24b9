// The "Option" dialog and its RAW type tree, the About boxes and the desktop's file-type list.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <set>
#include <string>
#include <vector>

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "controls/RawFileTypeTreeCtrl.h"
#include "core/BuiltInFileTypes.h"
#include "dialogs/AboutBoxDlg.h"
#include "dialogs/AdvanceSettingMasterDlg.h"
#include "dialogs/AdvanceSettingPropSheet.h"
#include "platform/FileTypeExtensionSet.h"
#include "platform/RecoveryContext.h"
#include "support/QtTestApp.h"
#include "ui/AppInfo.h"
#include "ui/Shell.h"
#include "ui/SystemFileTypeList.h"

namespace {

using Tree = CRawFileTypeTreeCtrl;

class AdvanceSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    saved = GetRecoveryContext();
    GetRecoveryContext().ResetOptions();
    GetRecoveryContext().RawFileTypes = AllBuiltInRawFileTypes();
    GetFileTypeExtensionSet().Clear();
  }
  void TearDown() override { GetRecoveryContext() = saved; }

  // Opens the dialog as the pages do, ready to be used.
  static void Open(CAdvanceSettingMasterDlg& dialog, int treeSwitch) {
    dialog.SetRawTreeSwitch(treeSwitch);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  }
  static QCheckBox* Check(const QWidget* page, int id) {
    return corvale::ui::FindControl<QCheckBox>(page, id);
  }
  static QTreeWidgetItem* TypeRow(Tree& tree, const QString& text) {
    auto found = tree.findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
  }
  static void UntickAll(Tree& tree) {
    for (int c = 0; c < tree.topLevelItemCount(); ++c) {
      tree.Toggle(tree.topLevelItem(c));
      if (Tree::StateOf(tree.topLevelItem(c)) != Tree::kUnchecked) tree.Toggle(tree.topLevelItem(c));
    }
  }
  CRecoveryContext saved;
};

}  // namespace

TEST_F(AdvanceSettings, TheTreeHoldsEveryTypeOnceExceptTheContainersOfOtherFiles) {
  Tree tree;
  CAdvanceSettingRAWPage::FillTree(tree);
  ASSERT_EQ(tree.topLevelItemCount(), 6);
  std::set<int32_t> ids;
  int rows = 0;
  for (int c = 0; c < tree.topLevelItemCount(); ++c) {
    EXPECT_EQ(Tree::ItemData(tree.topLevelItem(c)), 0u);
    for (int i = 0; i < tree.topLevelItem(c)->childCount(); ++i) {
      const int32_t id = Tree::TypeIdOf(tree.topLevelItem(c)->child(i));
      EXPECT_GE(id, kFirstBuiltInFileType) << tree.topLevelItem(c)->child(i)->text(0).toStdString();
      EXPECT_LE(id, kLastBuiltInFileType);
      ids.insert(id);
      ++rows;
    }
  }
  EXPECT_EQ(rows, 68);
  EXPECT_EQ(ids.size(), 68u);
  for (const char* missing : {"DLL", "EXE", "OLE", "PUB", "RIFF"})
    for (int32_t id : ids) EXPECT_NE(std::string(GetBuiltInFileTypeExtension(id)), missing);
  EXPECT_EQ(
      Tree::TypeIdOf(TypeRow(tree, "JPEG Graphics file(.jpg.jpeg)")), 0 + [] {
        for (int32_t id = 1; id <= 73; ++id)
          if (std::string(GetBuiltInFileTypeExtension(id)) == "JPG") return id;
        return -1;
      }());
}

TEST_F(AdvanceSettings, TheTreeTicksCategoriesFromTheirTypesAndTypesFromTheirCategory) {
  Tree tree;
  CAdvanceSettingRAWPage::FillTree(tree);
  tree.resize(400, 600);
  tree.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&tree));
  QTreeWidgetItem* email = tree.topLevelItem(4);
  ASSERT_EQ(email->text(0), "Email");
  ASSERT_EQ(email->childCount(), 2);

  // An id no item carries changes no type, though the categories are worked out again.
  tree.CheckFileType(999);
  EXPECT_EQ(Tree::StateOf(email), Tree::kUnchecked);
  tree.CheckFileType(Tree::TypeIdOf(email->child(0)));
  EXPECT_EQ(Tree::StateOf(email->child(0)), Tree::kChecked);
  EXPECT_EQ(Tree::StateOf(email), Tree::kPartlyChecked);
  EXPECT_EQ(email->checkState(0), Qt::PartiallyChecked);
  EXPECT_EQ(Tree::TypeIdOf(email->child(0)), Tree::ItemData(email->child(0)) >> 16)
      << "the id stays in the high word";

  // A click on a partly ticked category's box ticks it and all its types.
  tree.scrollToItem(email);
  QRect row = tree.visualItemRect(email);
  QStyleOptionViewItem option;
  option.initFrom(&tree);
  option.rect = row;
  option.features |= QStyleOptionViewItem::HasCheckIndicator;
  const QPoint box =
      tree.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &tree).center();
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, box);
  EXPECT_EQ(Tree::StateOf(email), Tree::kChecked);
  EXPECT_EQ(Tree::StateOf(email->child(1)), Tree::kChecked);
  // A click on the text does not tick.
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, row.center() + QPoint(40, 0));
  EXPECT_EQ(Tree::StateOf(email), Tree::kChecked);

  // Unticking the types one by one: partly, then not ticked; ticking both again: ticked.
  tree.Toggle(email->child(0));
  EXPECT_EQ(Tree::StateOf(email), Tree::kPartlyChecked);
  tree.Toggle(email->child(1));
  EXPECT_EQ(Tree::StateOf(email), Tree::kUnchecked);
  tree.Toggle(email->child(0));
  tree.Toggle(email->child(1));
  EXPECT_EQ(Tree::StateOf(email), Tree::kChecked);
}

TEST_F(AdvanceSettings, OpeningShowsTheSettingsAndOkWritesEveryPageBack) {
  CRecoveryContext& context = GetRecoveryContext();
  context.CheckFatDate = 0;
  context.UseSecondFatCopy = 0;
  context.UseMftFile = 0;
  context.IgnoreBadSectors = 0;
  context.MaxRawFileSize = 1234;
  CAdvanceSettingMasterDlg dialog(1, nullptr);
  Open(dialog, 1);
  corvale::test::SaveScreenshot(dialog.grab().toImage(), "advanced-settings-fat");
  EXPECT_EQ(dialog.CurrentPage(), dialog.FatPage());
  EXPECT_FALSE(dialog.Button(CAdvanceSettingMasterDlg::kTabFat)->isEnabled());
  EXPECT_FALSE(Check(dialog.FatPage(), 1098)->isChecked());
  EXPECT_TRUE(Check(dialog.FatPage(), 1055)->isChecked());
  EXPECT_FALSE(Check(dialog.FatPage(), 1101)->isChecked());
  EXPECT_FALSE(Check(dialog.FatPage(), 1099)->isVisible()) << "hidden, but kept";
  EXPECT_FALSE(Check(dialog.NtfsPage(), 1056)->isChecked());
  EXPECT_FALSE(Check(dialog.CommonPage(), 1113)->isChecked());
  EXPECT_EQ(dialog.RawPage()->SizeEdit()->text(), "1234");
  // The page lies under the tabs and over the buttons.
  EXPECT_GT(dialog.FatPage()->y(), dialog.Button(CAdvanceSettingMasterDlg::kTabFat)->geometry().bottom());
  EXPECT_LT(dialog.FatPage()->geometry().bottom(), dialog.Button(1)->y());

  // The tabs sit in a row and each shows its page.
  const struct {
    int tab;
    const char* shot;
  } tabs[] = {{CAdvanceSettingMasterDlg::kTabNtfs, "advanced-settings-ntfs"},
              {CAdvanceSettingMasterDlg::kTabCommon, "advanced-settings-common"},
              {CAdvanceSettingMasterDlg::kTabRaw, "advanced-settings-raw"}};
  int x = dialog.Button(CAdvanceSettingMasterDlg::kTabFat)->geometry().right() + 1;
  for (const auto& t : tabs) {
    CButtonPlus* tab = dialog.Button(t.tab);
    EXPECT_EQ(tab->pos(), QPoint(x, dialog.Button(CAdvanceSettingMasterDlg::kTabFat)->y()));
    x = tab->geometry().right() + 1;
    QTest::mouseClick(tab, Qt::LeftButton);
    EXPECT_EQ(dialog.CurrentPage(), dialog.PageOfTab(t.tab));
    EXPECT_FALSE(tab->isEnabled());
    corvale::test::SaveScreenshot(dialog.grab().toImage(), t.shot);
  }

  QTest::mouseClick(
      dialog.FatPage()->isVisible() ? Check(dialog.FatPage(), 1098) : Check(dialog.NtfsPage(), 1103),
      Qt::LeftButton);  // NTFS: show $MFT-only files
  Check(dialog.FatPage(), 1100)->setChecked(false);
  Check(dialog.CommonPage(), 1113)->setChecked(true);
  Check(dialog.CommonPage(), 1106)->setChecked(false);
  dialog.RawPage()->SizeEdit()->setText("777");
  QTest::mouseClick(dialog.Button(1), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(context.CheckFatDate, 0);
  EXPECT_EQ(context.UseFirstFatCopy, 0);
  EXPECT_EQ(context.UseSecondFatCopy, 0);
  EXPECT_EQ(context.ShowMftFilesOnly, 1);
  EXPECT_EQ(context.UseMftFile, 0);
  EXPECT_EQ(context.IgnoreBadSectors, 1);
  EXPECT_EQ(context.UseBootRecords, 0);
  EXPECT_EQ(context.MaxRawFileSize, 777);
}

TEST_F(AdvanceSettings, TheSizeTextIsANonNegativeNumberWhileTyping) {
  CAdvanceSettingMasterDlg dialog(1, nullptr);
  Open(dialog, 1);
  const struct {
    const char* typed;
    const char* shown;
  } cases[] = {{"-5", "0"}, {"12ab", "0"}, {"9000000000", "9000000000"}, {"0042", "42"}};
  for (const auto& c : cases) {
    dialog.RawPage()->SizeEdit()->setText(c.typed);
    EXPECT_EQ(dialog.RawPage()->SizeEdit()->text().toStdString(), c.shown) << c.typed;
  }
  dialog.RawPage()->SizeEdit()->selectAll();
  QTest::keyClicks(dialog.RawPage()->SizeEdit(), "-5");
  EXPECT_EQ(dialog.RawPage()->SizeEdit()->text(), "0");
}

TEST_F(AdvanceSettings, TheTwoOpeningsEnableRawOnlyAndTheTreeAsTheirModeSays) {
  const struct {
    int mode;
    int treeSwitch;
    bool recoverRaw;
    bool rawOnlyEnabled;
    bool treeEnabled;
  } cases[] = {
      {0, 0, true, false, false},  {0, 1, true, false, true}, {1, 1, true, true, true},
      {1, 1, false, false, false}, {1, 0, true, true, false},
  };
  for (const auto& c : cases) {
    GetRecoveryContext().RecoverRawFiles = c.recoverRaw ? 1 : 0;
    GetRecoveryContext().RawFilesOnly = 1;
    CAdvanceSettingMasterDlg dialog(c.mode, nullptr);
    Open(dialog, c.treeSwitch);
    CAdvanceSettingRAWPage* raw = dialog.RawPage();
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " tree " << c.treeSwitch << " raw "
                                    << c.recoverRaw);
    EXPECT_EQ(raw->RawOnlyCheck()->isEnabled(), c.rawOnlyEnabled);
    EXPECT_EQ(raw->RawOnlyCheck()->isChecked(), c.mode == 1);
    EXPECT_EQ(raw->Tree()->isEnabled(), c.treeEnabled);
    EXPECT_EQ(raw->SizeEdit()->isEnabled(), c.recoverRaw);
    EXPECT_EQ(raw->Tree()->palette().color(QPalette::Base),
              c.treeEnabled ? QColor(Qt::white) : QColor(236, 233, 216));
    if (c.mode == 1 && c.recoverRaw) {
      // Switching RAW off in mode 1 also clears RAW-only.
      QTest::mouseClick(raw->RecoverRawCheck(), Qt::LeftButton);
      EXPECT_FALSE(raw->RawOnlyCheck()->isChecked());
      EXPECT_FALSE(raw->RawOnlyCheck()->isEnabled());
      EXPECT_FALSE(raw->Tree()->isEnabled());
    }
    if (c.mode == 0 && c.treeSwitch == 0) {
      dialog.ShowTab(CAdvanceSettingMasterDlg::kTabRaw);
      corvale::test::SaveScreenshot(dialog.grab().toImage(), "advanced-settings-raw-tree-off");
    }
    dialog.reject();
  }
  EXPECT_EQ(GetRecoveryContext().RawFilesOnly, 1) << "cancel writes nothing";
}

TEST_F(AdvanceSettings, OkTurnsTheTicksIntoTypeIdsWithTheirContainers) {
  const struct {
    std::vector<const char*> ticked;
    int rawOnly;
    bool extensionsChosen;
    std::vector<int32_t> expected;
  } cases[] = {
      {{"Microsoft Word Document(.doc)"}, 1, false, {21, 44}},
      {{"Microsoft Word Document(.doc)"}, 0, true, {21}},
      {{"Microsoft Word Document(.doc)"}, 1, true, {21, 44}},
      {{"Microsoft Word Document(.doc)", "Microsoft PowerPoint Presentation file(.ppt)"},
       0,
       false,
       {21, 48, 44, 44}},
      {{"Adobe Illustrator file(.ai)", "Microsoft Word2007(.docx)"}, 0, false, {5, 69, 46, 68}},
      {{}, 0, false, {}},
  };
  for (const auto& c : cases) {
    GetFileTypeExtensionSet().Clear();
    if (c.extensionsChosen) {
      ASSERT_TRUE(GetFileTypeExtensionSet().Rebuild(CFileTypeExtensionSet::kIncludeList, {".doc"}));
    }
    CAdvanceSettingMasterDlg dialog(1, nullptr);
    Open(dialog, 1);
    Tree& tree = *dialog.RawPage()->Tree();
    UntickAll(tree);
    for (const char* text : c.ticked) {
      ASSERT_NE(TypeRow(tree, text), nullptr) << text;
      tree.Toggle(TypeRow(tree, text));
    }
    dialog.RawPage()->RawOnlyCheck()->setChecked(c.rawOnly != 0);
    dialog.accept();
    EXPECT_EQ(GetRecoveryContext().RawFileTypes, c.expected);
    EXPECT_EQ(GetRecoveryContext().RawFilesOnly, c.rawOnly);
  }
  GetFileTypeExtensionSet().Clear();
}

TEST_F(AdvanceSettings, DefaultResetsEveryPageAndRefillsTheTypesAtOnce) {
  CRecoveryContext& context = GetRecoveryContext();
  context.RawFileTypes = {21};
  context.ShowMftFilesOnly = 0;
  CAdvanceSettingMasterDlg dialog(1, nullptr);
  Open(dialog, 1);
  Check(dialog.FatPage(), 1098)->setChecked(false);
  Check(dialog.CommonPage(), 1106)->setChecked(false);
  dialog.RawPage()->SizeEdit()->setText("5");
  dialog.RawPage()->RawOnlyCheck()->setChecked(true);
  QTest::mouseClick(dialog.Button(CAdvanceSettingMasterDlg::kDefaultId), Qt::LeftButton);
  EXPECT_TRUE(Check(dialog.FatPage(), 1098)->isChecked());
  EXPECT_TRUE(Check(dialog.NtfsPage(), 1103)->isChecked()) << "the page's default, unlike the settings'";
  EXPECT_TRUE(Check(dialog.CommonPage(), 1106)->isChecked());
  EXPECT_FALSE(Check(dialog.CommonPage(), 1058)->isChecked());
  EXPECT_EQ(dialog.RawPage()->SizeEdit()->text(), "50000000");
  EXPECT_FALSE(dialog.RawPage()->RawOnlyCheck()->isChecked());
  EXPECT_TRUE(dialog.RawPage()->RawOnlyCheck()->isEnabled());
  for (int c = 0; c < dialog.RawPage()->Tree()->topLevelItemCount(); ++c)
    EXPECT_EQ(Tree::StateOf(dialog.RawPage()->Tree()->topLevelItem(c)), Tree::kChecked);
  // Cancel: the type list stays refilled, the rest is as before.
  QTest::mouseClick(dialog.Button(2), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(context.RawFileTypes, AllBuiltInRawFileTypes());
  EXPECT_EQ(context.ShowMftFilesOnly, 0);
}

TEST_F(AdvanceSettings, TheHiddenSheetPaintsItsTabsInTintsOfItsYellow) {
  CAdvanceSettingMasterDlg dialog(0, nullptr);
  Open(dialog, 0);
  CAdvanceSettingPropSheet* sheet = dialog.PropSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_FALSE(sheet->isVisible());
  CEnTabCtrl* tabs = sheet->TabCtrl();
  EXPECT_EQ(tabs->DrawMode(), 2);
  EXPECT_EQ(tabs->BackColor(), QColor(246, 252, 55));
  EXPECT_EQ(CEnTabCtrl::LookFlags(), 0x1Fu);
  ASSERT_EQ(tabs->count(), 4);
  tabs->setCurrentIndex(0);
  const QImage image = tabs->grab().toImage();
  corvale::test::SaveScreenshot(sheet->grab().toImage(), "advanced-settings-tab-sheet");
  // The selected tab starts from the yellow lightened by 1.4 at its top (the gradient's first band,
  // inside its light edge); an unselected tab from the yellow darkened by 0.9, below its top edge.
  const QRect selected = tabs->ItemRect(0);
  EXPECT_EQ(image.pixelColor(selected.left() + 2, 1), QColor(255, 255, 77));
  const QRect other = tabs->ItemRect(2);
  EXPECT_EQ(image.pixelColor(other.left() + 2, other.top() + 1), QColor(221, 226, 49));
  // Right of the last tab the background colour itself shows.
  EXPECT_EQ(image.pixelColor(tabs->ItemRect(3).right() + 20, other.center().y()), QColor(246, 252, 55));
}

TEST(AboutBoxes, ShowTitleVersionAndTheMakersAddress) {
  corvale::test::TestApplication();
  std::vector<std::string> opened;
  auto previous = corvale::ui::SetUrlHandler([&](const std::string& address) {
    opened.push_back(address);
    return true;
  });
  for (int i = 0; i < 2; ++i) {
    CAboutBoxDlg about(nullptr);
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    EXPECT_EQ(about.TitleText().toStdString(), "Corvale Hard Drive Data Recovery 1.1.1.8");
    EXPECT_EQ(about.windowTitle().toStdString(), GetProductTitle());
    if (i == 0) corvale::test::SaveScreenshot(about.grab().toImage(), "about-box");
    QTest::mouseClick(about.Link(), Qt::LeftButton);
    EXPECT_TRUE(about.Link()->IsVisited());
    QTest::mouseClick(corvale::ui::FindControl<QWidget>(&about, 1), Qt::LeftButton);
    EXPECT_EQ(about.result(), QDialog::Accepted);
  }
  EXPECT_EQ(opened, (std::vector<std::string>{"https://corvale.example/", "https://corvale.example/"}));

  CCNAboutDlg regional(nullptr);
  regional.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&regional));
  EXPECT_TRUE(regional.windowTitle().endsWith(" 1.1.1.8"));
  EXPECT_EQ(corvale::ui::FindControl<QLabel>(&regional, CCNAboutDlg::kEmailId)->text().toStdString(),
            "E-mail: support@corvale.example");
  corvale::test::SaveScreenshot(regional.grab().toImage(), "about-box-regional");
  QTest::mouseClick(regional.Link(), Qt::LeftButton);
  corvale::ui::SetUrlHandler(previous);
  EXPECT_EQ(opened.back(), "https://corvale.example/");
}

TEST(SystemFileTypes, SameNamesJoinAndTheAnyFileEntriesComeFirst) {
  CSystemFileTypeList list;
  list.AddType("Zip archive", ".zip");
  list.AddType("Text", ".txt");
  list.AddType("Zip archive", ".zipx");
  EXPECT_EQ(list.ExtensionsOf("Zip archive"), ".zip;.zipx");

  corvale::test::TestApplication();
  list.LoadFromRegistry();
  ASSERT_GE(list.Types().size(), 4u);
  auto it = list.Types().begin();
  EXPECT_EQ(it->first, ".00(All Files)");
  EXPECT_EQ(it->second, "*");
  ++it;
  EXPECT_EQ(it->first.substr(0, 3), ".01");
  EXPECT_EQ(it->second, "*");
  for (const auto& [name, extensions] : list.Types()) {
    EXPECT_FALSE(name[0] >= 'a' && name[0] <= 'z') << name;
    EXPECT_EQ((";" + extensions + ";").find(";.Folder;"), std::string::npos);
  }
  // A type the desktop knows is found by its extension.
  const std::string png = CSystemFileTypeList::GetTypeName(".png");
  ASSERT_FALSE(png.empty());
  EXPECT_NE((";" + list.ExtensionsOf(png) + ";").find(";.png;"), std::string::npos);
}
