// The first two steps of every recovery, driven with the mouse: the welcome page starts a recovery
// of each mode, the file-type page ticks and unticks types in its tree, and Next hands the choice to
// the engines (the set of wanted extensions, the RAW types to carve) and the wizard to the mode's
// device step.
#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "controls/ButtonPlus.h"
#include "core/BuiltInFileTypes.h"
#include "platform/FileTypeExtensionSet.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "wizard/RecoveryModeSelectPage.h"
#include "wizard/TypeOfFileToRecoveryPage.h"
#include "wizard/TypeRecoveryTreeCtrl.h"
#include "wizard/WizardHarness.h"
#include "wizard/controller/MapFileTypeInfo.h"
#include "wizard/controller/RecoveryModeSelectController.h"
#include "wizard/controller/TypeOfFileToRecoveryController.h"

using corvale::test::WizardHarness;

namespace {

// Stands in for the welcome page's controller and notes the recovery mode of the settings at the
// moment it is told.
class SpyModeController : public IRecoveryModeSelectController {
 public:
  void Activate() override {}
  void Home() override {}
  void Back() override {}
  bool Next() override {
    ++nexts;
    return true;
  }
  void SetPreviousController(IWizardPageController*) override {}
  IWizardPageController* GetPreviousController() override { return nullptr; }
  void SetRecoveryMode(int mode) override {
    told.push_back(mode);
    inSettings.push_back(GetRecoveryContext().RecoveryMode);
  }
  int GetRecoveryMode() override { return told.empty() ? -1 : told.back(); }

  std::vector<int> told;
  std::vector<int> inSettings;
  int nexts = 0;
};

class FileTypePages : public WizardHarness {
 protected:
  CRecoveryModeSelectPage* Welcome() const {
    return static_cast<CRecoveryModeSelectPage*>(sheet->GetPage(RecoveryModeSelect));
  }
  CTypeOfFileToRecoveryPage* TypesPage() const {
    return static_cast<CTypeOfFileToRecoveryPage*>(sheet->GetPage(TypeOfFileToRecovery));
  }
  CTypeRecoveryDrawTreeCtrl* Tree() const { return TypesPage()->Tree(); }
  CMapFileTypeInfo& Catalogue() const { return *TypesPage()->GetFileTypeCatalogue(); }

  // The record of the type or category described as `description`.
  FILE_TYPE_RECORD* Find(const std::string& description) const {
    for (int32_t id : Catalogue().GetTypeIds())
      if (Catalogue().FindType(id)->description == description) return Catalogue().FindType(id);
    ADD_FAILURE() << description;
    return nullptr;
  }
  int16_t State(const std::string& description) const { return Find(description)->checkState; }

  // A click with the mouse on the check box of `description`'s row, scrolled into view first.
  void ClickBox(const std::string& description) {
    auto* item = static_cast<QTreeWidgetItem*>(Find(description)->treeItem);
    ASSERT_NE(item, nullptr);
    Tree()->scrollToItem(item);
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->CheckBoxRect(item).center());
  }

  bool NextEnabled() const { return sheet->Button(CWizardSheet::kCommandNext)->isEnabled(); }

  void OnTypesPage() {
    StartRecovery(2);
    ASSERT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
  }
};

}  // namespace

TEST_F(FileTypePages, EachStartButtonSetsTheModeInTheSettingsBeforeTheControllerIsTold) {
  SpyModeController spy;
  Welcome()->SetController(&spy);
  const int modes[] = {2, 0, 1};
  for (int mode : modes) {
    GetRecoveryContext().RecoveryMode = 7;
    StartRecovery(mode);
  }
  Welcome()->SetController(GetRecoveryModeSelectController());
  EXPECT_EQ(spy.told, (std::vector<int>{2, 0, 1}));
  EXPECT_EQ(spy.inSettings, (std::vector<int>{2, 0, 1})) << "the settings held the mode first";
  EXPECT_EQ(spy.nexts, 3);
  std::vector<int> ids;
  for (const auto& e : events) ids.push_back(e.eventId);
  EXPECT_EQ(ids, (std::vector<int>{8240, 8213})) << "Start and Format Recovery are counted";
  EXPECT_FALSE(Welcome()->OnCommand(1003)) << "other commands are not the page's";
}

TEST_F(FileTypePages, EachModeGoesStraightToTheFileTypePageAndBackReturns) {
  for (int mode : {0, 1, 2}) {
    SCOPED_TRACE(mode);
    StartRecovery(mode);
    EXPECT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
    EXPECT_EQ(GetRecoveryContext().RecoveryMode, mode);
    EXPECT_EQ(GetRecoveryModeSelectController()->GetRecoveryMode(), mode);
    EXPECT_EQ(GetTypeOfFileToRecoveryController()->GetRecoveryMode(), mode);
    EXPECT_EQ(GetTypeOfFileToRecoveryController()->GetRecoveryKind(), mode);
    EXPECT_EQ(GetTypeOfFileToRecoveryController()->GetPreviousController(),
              GetRecoveryModeSelectController());
    Click(CWizardSheet::kCommandBack);
    EXPECT_EQ(sheet->GetCurrentPageIndex(), RecoveryModeSelect);
  }
  GetTypeOfFileToRecoveryController()->SetRecoveryMode(9);
  EXPECT_EQ(GetTypeOfFileToRecoveryController()->GetRecoveryKind(), kRecoveryKindDeleted);
  GetRecoveryModeSelectController()->Back();
  EXPECT_EQ(sheet->GetCurrentPageIndex(), RecoveryModeSelect) << "Back on the welcome page does nothing";
  sheet->ShowPage(LostRecoveryDiskDeviceSelect);
  GetRecoveryModeSelectController()->Home();
  EXPECT_EQ(sheet->GetCurrentPageIndex(), RecoveryModeSelect) << "Home shows the welcome page again";
}

TEST_F(FileTypePages, TickingAGroupTicksItsTypesAndTheRowsAboveFollow) {
  OnTypesPage();
  ASSERT_EQ(State("All types"), 2) << "the shipped catalogue starts with everything ticked";
  EXPECT_TRUE(NextEnabled());

  ClickBox("Email");
  EXPECT_EQ(State("Email"), 0);
  EXPECT_EQ(State("Outlook Email file"), 0);
  EXPECT_EQ(State("Outlook Express Email file"), 0);
  EXPECT_EQ(State("All types"), 1) << "some categories ticked";

  ClickBox("Outlook Email file");
  EXPECT_EQ(State("Email"), 1) << "some of its types ticked";
  EXPECT_EQ(State("All types"), 1);

  ClickBox("Email");
  EXPECT_EQ(State("Email"), 2) << "a partly ticked group becomes ticked";
  EXPECT_EQ(State("Outlook Express Email file"), 2);
  EXPECT_EQ(State("All types"), 2) << "every category ticked again";

  ClickBox("All types");
  for (int32_t id : Catalogue().GetTypeIds()) EXPECT_EQ(Catalogue().FindType(id)->checkState, 0) << id;
  EXPECT_FALSE(NextEnabled()) << "nothing ticked";

  ClickBox("Outlook Email file");
  EXPECT_TRUE(NextEnabled());
  EXPECT_EQ(State("Email"), 1);
  EXPECT_EQ(State("All types"), 0) << "a partly ticked category counts as unticked for the root";
  ClickBox("Outlook Email file");
  EXPECT_FALSE(NextEnabled()) << "unticking the last type";

  // A click on a row's text is no click on its box.
  auto* item = static_cast<QTreeWidgetItem*>(Find("Email")->treeItem);
  QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualItemRect(item).center());
  EXPECT_EQ(State("Email"), 0);
  EXPECT_EQ(Tree()->currentItem(), nullptr);
  EXPECT_TRUE(item->isExpanded());

  // Next disabled does nothing.
  Click(CWizardSheet::kCommandNext);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
}

TEST_F(FileTypePages, NextLeavesExactlyTheTickedTypesForTheEnginesAndGoesToTheModesDevicePage) {
  const std::vector<std::pair<int, WIZARD_PAGE>> modes = {{0, DeleteRecoveryPartitionDeviceSelect},
                                                          {1, CompleteRecoveryPartitionDeviceSelect},
                                                          {2, LostRecoveryDiskDeviceSelect}};
  for (const auto& [mode, device] : modes) {
    SCOPED_TRACE(mode);
    StartRecovery(mode);
    if (State("All types") != 0) ClickBox("All types");
    if (State("All types") != 0) ClickBox("All types");
    ClickBox("JPEG Graphics file");
    ClickBox("Email");
    GetRecoveryContext().RawFileTypes = {1, 2, 3, 1000};
    events.clear();
    corvale::log::ScopedCapture log;
    Click(CWizardSheet::kCommandNext);
    EXPECT_EQ(sheet->GetCurrentPageIndex(), device);
    EXPECT_EQ(GetPageController(device)->GetPreviousController(), GetTypeOfFileToRecoveryController());

    const CFileTypeExtensionSet& set = GetFileTypeExtensionSet();
    EXPECT_EQ(set.GetMode(), CFileTypeExtensionSet::kIncludeList);
    EXPECT_EQ(set.GetSize(), 4u);
    for (const char* yes : {".jpg", ".JPEG", ".pst", ".dbx"}) EXPECT_TRUE(set.IsFileTypeInList(yes)) << yes;
    for (const char* no : {".png", ".doc", ".exe"}) EXPECT_FALSE(set.IsFileTypeInList(no)) << no;
    // JPG 33, DBX 19, PST 52: rebuilt from empty, nothing of the earlier list kept.
    EXPECT_EQ(GetRecoveryContext().RawFileTypes, (std::vector<int32_t>{19, 33, 52}));

    const char* lines[] = {"Performing Deleted File Recovery...", "Performing Complete File Recovery...",
                           "Performing Partition Recovery..."};
    EXPECT_TRUE(log.HasPart(lines[mode]));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].eventId, CTypeOfFileToRecoveryController::kEventNext[mode]);
    EXPECT_EQ(events[0].kind, corvale::usage::Record::kTimedEvent);

    Click(CWizardSheet::kCommandBack);
    EXPECT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
    EXPECT_EQ(State("JPEG Graphics file"), 2) << "the ticks survive going back";
    Click(CWizardSheet::kCommandBack);
  }

  // Everything ticked: no list, every type wanted, every RAW type carved.
  StartRecovery(2);
  ClickBox("All types");
  if (State("All types") != 2) ClickBox("All types");
  Click(CWizardSheet::kCommandNext);
  EXPECT_EQ(GetFileTypeExtensionSet().GetSize(), 0u);
  EXPECT_EQ(GetRecoveryContext().RawFileTypes.size(), 73u);
  EXPECT_EQ(GetRecoveryContext().RawFileTypes.front(), 1);

  // Home from the disk step walks back to the welcome page.
  Click(CWizardSheet::kCommandHome);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), RecoveryModeSelect);
}

TEST_F(FileTypePages, ABrokenCatalogueFileIsReportedAndTheBuiltInOneIsShown) {
  const std::string path = Folder() + "FileFilter.xml";
  std::ofstream(path) << "<FileFilter><FileCategory Description='x'><Virus/></FileCategory></FileFilter>";
  CTypeOfFileToRecoveryPage page(nullptr, path);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("could not be read"), std::string::npos) << boxes[0];
  EXPECT_NE(boxes[0].find(path), std::string::npos) << boxes[0];
  EXPECT_NE(boxes[0].find("<Virus>"), std::string::npos) << boxes[0];
  EXPECT_NE(boxes[0].find("built-in list"), std::string::npos) << boxes[0];
  EXPECT_TRUE(page.IsAllTypesChecked());
  EXPECT_EQ(page.Tree()->topLevelItemCount(), 1);
  EXPECT_EQ(page.Tree()->topLevelItem(0)->text(0).toStdString(), "All types");
  EXPECT_EQ(page.Tree()->topLevelItem(0)->childCount(), 7);
}

TEST_F(FileTypePages, ATypeListedBeforeItsCategoryIsStillShownUnderIt) {
  CTypeRecoveryDrawTreeCtrl tree;
  FILE_TYPE_RECORD root;
  root.description = "All types";
  FILE_TYPE_RECORD type;
  type.id = 1;
  type.level = 2;
  type.parentId = 2;
  type.extensions = {".a"};
  type.checkState = 2;
  FILE_TYPE_RECORD category;
  category.id = 2;
  category.level = 1;
  category.parentId = 0;
  FILE_TYPE_RECORD orphan;
  orphan.id = 3;
  orphan.level = 2;
  orphan.parentId = 99;
  orphan.extensions = {".b"};
  for (const FILE_TYPE_RECORD* r : {&root, &type, &category, &orphan}) tree.GetCatalogue().AddRecord(r);
  tree.FillTree();
  QTreeWidgetItem* rootItem = tree.ItemOf(0);
  ASSERT_NE(rootItem, nullptr);
  ASSERT_EQ(rootItem->childCount(), 2) << "the category, and the type whose category is missing";
  EXPECT_EQ(rootItem->child(0), tree.ItemOf(2));
  EXPECT_EQ(tree.ItemOf(1)->parent(), tree.ItemOf(2));
  EXPECT_EQ(tree.ItemOf(3)->parent(), rootItem);
  EXPECT_EQ(tree.GetCatalogue().FindType(2)->checkState, 2) << "the category follows its types";
  EXPECT_EQ(tree.GetCatalogue().FindType(0)->checkState, 1) << "one of two children ticked";
}

TEST_F(FileTypePages, TheCataloguesOwnTicksDecideWhetherNextStartsEnabled) {
  const std::string path = Folder() + "FileFilter.xml";
  struct Case {
    const char* selected;
    bool next;
  } cases[] = {{"0", false}, {"2", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selected);
    std::ofstream(path) << "<R RootName='All types'><FileCategory Description='C'><FileType Description='T'>"
                           "<Extention>.a</Extention><Selected>"
                        << c.selected << "</Selected></FileType></FileCategory></R>";
    sheet->EnableNextButton(!c.next);
    auto* page = new CTypeOfFileToRecoveryPage(sheet, path);
    EXPECT_EQ(NextEnabled(), c.next);
    EXPECT_EQ(page->IsAllTypesChecked(), c.next) << "the root follows its only type";
    CTypeRecoveryDrawTreeCtrl* tree = page->Tree();
    tree->ToggleCheck(tree->ItemOf(2));
    EXPECT_EQ(NextEnabled(), !c.next) << "a click on the only type switches Next";
    delete page;
  }
  EXPECT_TRUE(boxes.empty());
}

TEST_F(FileTypePages, ThePagesPlaceTheirPartsAndAnswerTheirHelpTopics) {
  CRecoveryModeSelectPage* welcome = Welcome();
  EXPECT_EQ(welcome->InitResult(), 0);
  // Below the picture, in one row: deleted-file recovery, Start, format recovery; at the window's
  // first size Start stands where the picture's middle card ends, centred under it.
  const auto at = [welcome](const QWidget* part) {
    return QRect(part->mapTo(welcome, QPoint(0, 0)), part->size());
  };
  const QRect start = at(welcome->StartButton());
  EXPECT_EQ(start.size(), QSize(164, 47));
  EXPECT_GT(start.top(), welcome->Picture()->geometry().bottom());
  EXPECT_LE(start.bottom(), welcome->height() - 10) << "clear of the bottom bar";
  EXPECT_NEAR(start.center().x(), welcome->width() / 2, 2);
  for (int command : {1000, 1001}) {
    EXPECT_EQ(at(welcome->ModeButton(command)).top(), start.top());
    EXPECT_FALSE(at(welcome->ModeButton(command)).intersects(start));
  }
  EXPECT_LT(at(welcome->ModeButton(1000)).left(), start.left());
  EXPECT_GT(at(welcome->ModeButton(1001)).left(), start.left());
  EXPECT_EQ(welcome->GetHelpContextId(corvale::kLanguageEnglish), 15);
  EXPECT_EQ(TypesPage()->GetHelpContextId(corvale::kLanguageEnglish), 52);

  // The title line draws nothing below the buttons; the recoveries' prompts their descriptions.
  EXPECT_EQ(welcome->DescriptionFor(welcome->CurrentPrompt()), "");
  EXPECT_EQ(welcome->DescriptionFor("  Format Recovery  ").rfind("Recover formatted files", 0), 0u);
  EXPECT_EQ(welcome->DescriptionFor("Add device driver"),
            "Installing the driver of the specified device, such as RAID.");
  EXPECT_EQ(welcome->DescriptionFor("anything else"), "");
  welcome->SetPrompt(1000, "  Deleted File Recovery  ");
  EXPECT_EQ(welcome->CurrentPrompt(), "  Deleted File Recovery  ");
  welcome->RestorePrompt(1000);
  EXPECT_EQ(welcome->DescriptionFor(welcome->CurrentPrompt()), "");

  StartRecovery(2);
  const QRect subtitle = TypesPage()->SubtitleRect();
  const QRect tree = Tree()->geometry();
  EXPECT_EQ(tree.topLeft(), subtitle.topLeft());
  EXPECT_EQ(tree.width(), subtitle.width());
  EXPECT_EQ(tree.bottom(), TypesPage()->BottomRect().bottom());
  EXPECT_EQ(Tree()->ItemHeight(), 65);
  EXPECT_EQ(Tree()->visualItemRect(Tree()->ItemOf(0)).height(), 65);
  // The frame round the tree.
  const QImage shot = TypesPage()->grab().toImage();
  EXPECT_EQ(shot.pixelColor(tree.left() - 1, tree.top() + 10), QColor(203, 212, 219));
}
