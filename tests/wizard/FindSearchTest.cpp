// Finding files by name and searching them by criteria on the file page, over the trees the engines
// build from real volumes: Find Next walks every folder and says when it went round, the search
// dialog lists (and may tick) exactly the files its criteria name and shows them in a tab.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "controls/FileListCtrl.h"
#include "controls/FileSelectCtrlContainer.h"
#include "controls/FileTreeCtrl.h"
#include "controls/TabCtrlPlus.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileSystemEngine.h"
#include "core/MyFileProperties.h"
#include "dialogs/FindFileDlg.h"
#include "dialogs/SearchFileDlg.h"
#include "storage/ImageFileDevice.h"
#include "wizard/FileSelectPage.h"
#include "wizard/WizardHarness.h"
#include "wizard/controller/FileSelectController.h"

using corvale::test::WizardHarness;

namespace {

void Whenever(std::function<bool()> step) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, step] {
    if (step()) timer->deleteLater(), timer->stop();
  });
  timer->start();
}

std::string NameOf(const CFileNode* n) {
  return n != nullptr && n->GetFileProperties() ? n->GetFileProperties()->GetName() : std::string();
}

CButtonPlus* OkButton(QWidget* dialog) {
  for (CButtonPlus* b : dialog->findChildren<CButtonPlus*>())
    if (b->ControlId() == corvale::ui::kIdOk) return b;
  return nullptr;
}

CFileNode* Child(CFileNode* folder, const std::string& name) {
  for (CFileNode* c = folder->GetFirstChild(); c != nullptr; c = c->GetNextSibling())
    if (NameOf(c) == name) return c;
  return nullptr;
}

class FindSearch : public WizardHarness {
 protected:
  void SetUp() override {
    WizardHarness::SetUp();
    page = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
  }
  void TearDown() override {
    GetFileSelectController()->Cleanup();
    WizardHarness::TearDown();
  }

  // The tree of the volume image at `path`, built by its engine, under a root, shown on the page.
  CFileSystemNode* ShowVolume(const std::string& path) {
    device = std::make_unique<CImageFileDevice>(path);
    CFileSystemNode* partition = nullptr;
    for (const FileSystemEngine& e : FileSystemEngines())
      if (partition == nullptr && e.buildTree && e.Recognises(*device, 0))
        partition = e.buildTree(*device, 0, nullptr);
    EXPECT_NE(partition, nullptr) << path;
    if (partition == nullptr) return nullptr;
    CFileSystemNode* root = CreateFileSystemNode();
    root->SetName("Root");
    MyFileInfo info;
    info.name = "Root";
    info.attributes = kAttributeFolder;
    info.validMask = 0x7F;
    root->SetFileProperties(new CMyFileProperties(info));
    root->AddChild(partition);
    partition->RecountSummary();
    root->RecountSummary();
    GetFileSelectController()->SetPreviousController(GetPageController(DeleteRecoveryPartitionDeviceSelect));
    GetFileSelectController()->SetDirectoryTree(root, device.get());
    GetFileSelectController()->Activate();
    return root;
  }

  // Names of the files (not folders) below `node` for which `keep` holds.
  static std::multiset<std::string> FilesBelow(CFileNode* node,
                                               const std::function<bool(const std::string&)>& keep) {
    std::multiset<std::string> names;
    WalkSubtree(node, [&](CFileNode* n) {
      const IFileProperties* p = n->GetFileProperties();
      if (n != node && p != nullptr && !p->IsFolder() && keep(p->GetName())) names.insert(p->GetName());
    });
    return names;
  }

  CFileSelectPage* page = nullptr;
  std::unique_ptr<CImageFileDevice> device;
};

}  // namespace

TEST_F(FindSearch, FindNextVisitsEveryMatchingFileOnceThenSaysNoMore) {
  CORVALE_FIXTURE(dir, "files_page_volumes.sh", "files_page_volumes");
  for (const char* image : {"ntfs.img", "fat.img", "ext2.img"}) {
    SCOPED_TRACE(image);
    CFileSystemNode* root = ShowVolume(dir + "/" + image);
    ASSERT_NE(root, nullptr);
    const auto expected = FilesBelow(
        root, [](const std::string& n) { return n.find(".TXT") != n.npos || n.find(".txt") != n.npos; });
    ASSERT_GE(expected.size(), 5u);  // top, note1-3, deep (and the deleted one where it is listed)

    CFindFileDlg dialog(page->GetFileTree(), page->List(), nullptr);
    dialog.NameEdit()->setText(".txt");
    std::multiset<std::string> found;
    std::set<CFileNode*> seen;
    boxes.clear();
    CFindFileDlg::Result result = CFindFileDlg::Result::kFound;
    for (int click = 0; click < 50 && result == CFindFileDlg::Result::kFound; ++click) {
      result = dialog.FindNext();
      if (result != CFindFileDlg::Result::kFound) break;
      CFileNode* node = page->List()->GetNodeAt(page->List()->GetFirstSelectedItem());
      ASSERT_NE(node, nullptr);
      ASSERT_TRUE(seen.insert(node).second) << "found twice before going round: " << NameOf(node);
      found.insert(NameOf(node));
      if (click == 0) corvale::test::SaveScreenshot(dialog.grab().toImage(), "dialog-find-file");
    }
    EXPECT_EQ(result, CFindFileDlg::Result::kWrapped);
    EXPECT_EQ(found, expected);
    ASSERT_FALSE(boxes.empty());
    EXPECT_NE(boxes.back().find("No more files found."), std::string::npos);
    GetFileSelectController()->Cleanup();
  }
}

TEST_F(FindSearch, FindRefusesForbiddenNamesAndNeverReportsFolders) {
  CORVALE_FIXTURE(dir, "files_page_volumes.sh", "files_page_volumes");
  CFileSystemNode* root = ShowVolume(dir + "/ntfs.img");
  ASSERT_NE(root, nullptr);
  struct Case {
    const char* name;
    bool wholeWord;
    CFindFileDlg::Result result;
    const char* message;
  } cases[] = {
      {"a:b", false, CFindFileDlg::Result::kRefused, "No files found"},
      {"sub", true, CFindFileDlg::Result::kNotFound, "No files found"},     // a folder's name only
      {"empty", false, CFindFileDlg::Result::kNotFound, "No files found"},  // likewise
  };
  for (const Case& c : cases) {
    // A dialog that has searched before reports "No more files found." instead.
    CFindFileDlg dialog(page->GetFileTree(), page->List(), nullptr);
    boxes.clear();
    dialog.NameEdit()->setText(c.name);
    dialog.WholeWordBox()->setChecked(c.wholeWord);
    EXPECT_EQ(dialog.FindNext(), c.result) << c.name;
    ASSERT_EQ(boxes.size(), 1u) << c.name;
    EXPECT_NE(boxes[0].find(c.message), std::string::npos) << c.name;
  }
  // A change of Match Case starts a new search from the file selected now.
  CFindFileDlg fresh(page->GetFileTree(), page->List(), nullptr);
  fresh.NameEdit()->setText("note");
  ASSERT_EQ(fresh.FindNext(), CFindFileDlg::Result::kFound);
  CFileNode* first = fresh.StartNode();
  ASSERT_EQ(fresh.FindNext(), CFindFileDlg::Result::kFound);
  EXPECT_EQ(fresh.StartNode(), first);
  fresh.MatchCaseBox()->setChecked(true);
  ASSERT_EQ(fresh.FindNext(), CFindFileDlg::Result::kFound);
  EXPECT_NE(fresh.StartNode(), first);
  EXPECT_EQ(fresh.StartNode(), page->List()->GetNodeAt(page->List()->GetFirstSelectedItem()));
}

TEST_F(FindSearch, SearchDialogCriteriaLocationsAndLayout) {
  CORVALE_FIXTURE(dir, "files_page_volumes.sh", "files_page_volumes");
  CFileSystemNode* root = ShowVolume(dir + "/fat.img");
  ASSERT_NE(root, nullptr);
  CFileNode* partition = root->GetFirstChild();
  CFileNode* docs = Child(partition, "DOCS") != nullptr ? Child(partition, "DOCS") : Child(partition, "docs");
  ASSERT_NE(docs, nullptr);
  CFileNode* sub = Child(docs, "SUB") != nullptr ? Child(docs, "SUB") : Child(docs, "sub");
  ASSERT_NE(sub, nullptr);
  CSearchResult result;

  // Locations: everywhere, the partition, and the folder given.
  {
    CSearchFileDlg dialog(root, sub, &result, nullptr);
    auto* location = corvale::ui::FindControl<QComboBox>(&dialog, CSearchFileDlg::kIdLocation);
    ASSERT_EQ(location->count(), 3);
    EXPECT_EQ(location->itemText(0).toStdString(), "(Everywhere)");
    EXPECT_EQ(location->itemText(1).toStdString(), NameOf(partition));
    EXPECT_EQ(location->itemText(2).toStdString(),
              NameOf(partition) + "\\" + NameOf(docs) + "\\" + NameOf(sub));
    CSearchFileDlg atPartition(root, partition, &result, nullptr);
    EXPECT_EQ(corvale::ui::FindControl<QComboBox>(&atPartition, CSearchFileDlg::kIdLocation)->count(), 2);
    CSearchFileDlg atTop(root, root, &result, nullptr);
    EXPECT_EQ(corvale::ui::FindControl<QComboBox>(&atTop, CSearchFileDlg::kIdLocation)->count(), 1);
  }

  CSearchFileDlg dialog(root, docs, &result, nullptr);
  const auto control = [&](int id) { return corvale::ui::FindControl<QWidget>(&dialog, id); };
  const int collapsed = dialog.height();
  int expected = 0;
  for (auto part : {CSearchFileDlg::kBasic, CSearchFileDlg::kCheckType, CSearchFileDlg::kCheckDate,
                    CSearchFileDlg::kCheckSize, CSearchFileDlg::kCheckOther, CSearchFileDlg::kDoSearch})
    expected += dialog.PartWidget(part)->height();
  EXPECT_EQ(collapsed, expected);
  EXPECT_EQ(dialog.PartsHeight(), expected);
  for (int id : {CSearchFileDlg::kIdCheckType, CSearchFileDlg::kIdCheckDate, CSearchFileDlg::kIdCheckSize,
                 CSearchFileDlg::kIdCheckOther})
    static_cast<QCheckBox*>(control(id))->setChecked(true);
  dialog.show();
  corvale::test::SaveScreenshot(dialog.grab().toImage(), "dialog-search-files-all-options");
  EXPECT_GT(dialog.height(), collapsed);
  EXPECT_EQ(dialog.PartStateOf(CSearchFileDlg::kDate), CSearchFileDlg::kShown);
  // Only the months field is enabled at first.
  EXPECT_TRUE(control(CSearchFileDlg::kIdMonths)->isEnabled());
  EXPECT_FALSE(control(CSearchFileDlg::kIdDays)->isEnabled());
  EXPECT_FALSE(control(CSearchFileDlg::kIdFromDate)->isEnabled());

  const QDateTime now = QDateTime::fromString(QStringLiteral("2024-06-01T12:00:00Z"), Qt::ISODate);
  auto* months = static_cast<QSpinBox*>(control(CSearchFileDlg::kIdMonths));
  auto* days = static_cast<QSpinBox*>(control(CSearchFileDlg::kIdDays));
  auto* inDays = static_cast<QRadioButton*>(control(CSearchFileDlg::kIdInDays));
  auto* inMonths = static_cast<QRadioButton*>(control(CSearchFileDlg::kIdInMonths));
  auto* sizeKb = static_cast<QSpinBox*>(control(CSearchFileDlg::kIdSizeKb));
  auto* name = static_cast<QLineEdit*>(control(CSearchFileDlg::kIdName));
  struct Case {
    const char* name;
    bool useDays;
    int months, days;
    bool ok;
  } cases[] = {
      {"", false, 1, 0, true},  // days not checked while months are chosen
      {"x", false, 0, 1, false},   {"x", false, 121, 1, false}, {"x", false, 120, 1, true},
      {"x", true, 0, 0, false},    {"x", true, 0, 32, false},   {"x", true, 0, 31, true},
      {"a:b", false, 1, 1, false},
  };
  for (const Case& c : cases) {
    name->setText(c.name);
    (c.useDays ? inDays : inMonths)->setChecked(true);
    months->setValue(c.months);
    days->setValue(c.days);
    sizeKb->setValue(10);
    boxes.clear();
    SearchCriteria criteria;
    EXPECT_EQ(dialog.BuildCriteria(&criteria, now), c.ok) << c.name << " " << c.months << " " << c.days;
    EXPECT_EQ(boxes.empty(), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(criteria.namePattern, *c.name ? std::string("*") + c.name + "*" : std::string("*"));
    EXPECT_EQ(criteria.flags, 15u);
    EXPECT_EQ(criteria.type.kind, 1u);  // (All Files)
    EXPECT_EQ(criteria.type.extensions, "*");
    EXPECT_EQ(dialog.GetNamePattern().toStdString(), "*");
    EXPECT_EQ(criteria.size.comparison, 1u);
    EXPECT_EQ(criteria.size.limit, 10240u);
    EXPECT_EQ(criteria.date.which, 1u);
    const uint64_t day = 864000000000ull;
    EXPECT_EQ(criteria.date.to - criteria.date.from, c.useDays ? c.days * day : c.months * 30 * day);
    EXPECT_EQ(criteria.caseSensitive, 0u);
    EXPECT_EQ(criteria.includeEncrypted, 1u);
    EXPECT_EQ(criteria.location, root);
  }
  EXPECT_NE(std::string(boxes.empty() ? "" : boxes.back()).find("No files match specific criteria."),
            std::string::npos);
}

TEST_F(FindSearch, SearchFromThePageTicksAndShowsExactlyWhatMatches) {
  CORVALE_FIXTURE(dir, "files_page_volumes.sh", "files_page_volumes");
  CFileSystemNode* root = ShowVolume(dir + "/ext2.img");
  ASSERT_NE(root, nullptr);
  const auto expected = FilesBelow(root, [](const std::string& n) { return n.find("note") != n.npos; });
  ASSERT_EQ(expected.size(), 3u);
  Whenever([&] {
    auto* dialog = qobject_cast<CSearchFileDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return false;
    corvale::ui::FindControl<QLineEdit>(dialog, CSearchFileDlg::kIdName)->setText("NOTE");
    corvale::ui::FindControl<QCheckBox>(dialog, CSearchFileDlg::kIdAutoSelect)->setChecked(true);
    corvale::test::SaveScreenshot(dialog->grab().toImage(), "dialog-search-files");
    QTest::mouseClick(OkButton(dialog), Qt::LeftButton, {}, QPoint(5, 5));
    return true;
  });
  page->OnCommand(CFileSelectPage::kCommandSearchFiles);
  ASSERT_EQ(page->Tabs()->GetTabCount(), 2);
  EXPECT_EQ(page->Tabs()->GetCurTab(), 1);
  EXPECT_EQ(page->Tabs()->GetTabText(1).toStdString(), "Search files(*NOTE*)");
  std::multiset<std::string> listed;
  for (int row = 0; row < page->ResultList()->RowCount(); ++row) {
    CFileNode* n = page->ResultList()->GetNodeAt(row);
    listed.insert(NameOf(n));
    EXPECT_EQ(n->GetFileProperties()->GetCheckState(), kChecked);
  }
  EXPECT_EQ(listed, expected);
  EXPECT_NE(page->SelectionText().toStdString().find(" in 3 files"), std::string::npos);
  corvale::test::SaveScreenshot(sheet->grab().toImage(), "file-page-search-results");

  // Nothing found: the dialog says so and stays open; Cancel then leaves the result tab as it was.
  boxes.clear();
  Whenever([&] {
    auto* dialog = qobject_cast<CSearchFileDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return false;
    corvale::ui::FindControl<QLineEdit>(dialog, CSearchFileDlg::kIdName)->setText("no such name");
    QTest::mouseClick(OkButton(dialog), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(dialog->isVisible());
    dialog->reject();
    return true;
  });
  page->OnCommand(CFileSelectPage::kCommandSearchFiles);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("No files match specific criteria."), std::string::npos);
  EXPECT_EQ(page->Tabs()->GetTabCount(), 2);

  // "Locate in the main list" shows the found file under tab 0 and keeps the result tab.
  CTabCtrlPlus* tabs = page->Tabs();
  CFileNode* found = page->ResultList()->GetNodeAt(page->ResultList()->GetFirstSelectedItem());
  ASSERT_NE(found, nullptr);
  page->OnCommand(CFileSelectPage::kCommandLocate);
  EXPECT_EQ(tabs->GetCurTab(), 0);
  EXPECT_EQ(tabs->GetCurWindow(), page->Container());
  EXPECT_EQ(page->SelectedFile(), found);
  // A click on the result tab goes back to it; its close box removes it and shows the found files.
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->GetTabRect(1).topLeft() + QPoint(10, 5));
  EXPECT_EQ(tabs->GetCurTab(), 1);
  EXPECT_TRUE(page->ResultList()->isVisibleTo(page));
  EXPECT_FALSE(page->Container()->isVisibleTo(page));
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->GetCloseBoxRect(1).center());
  EXPECT_EQ(tabs->GetTabCount(), 1);
  EXPECT_EQ(tabs->GetCurTab(), 0);
  EXPECT_TRUE(page->Container()->isVisibleTo(page));
  EXPECT_FALSE(page->ResultList()->isVisibleTo(page));
  EXPECT_NE(page->SelectionText().toStdString().find(" in 3 files"), std::string::npos);
}

TEST(SearchTabText, LongCriteriaAreCut) {
  EXPECT_EQ(CFileSelectPage::SearchTabText(QStringLiteral("*a*")).toStdString(), "Search files(*a*)");
  EXPECT_EQ(CFileSelectPage::SearchTabText(QStringLiteral("*abcdefghijklmnopqrstuvwxyz0123*")).toStdString(),
            "Search files(*abcdefghijklmnopqrstuvwxy...)");
}
