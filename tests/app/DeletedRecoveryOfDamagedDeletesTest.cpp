// Deleted File Recovery over volumes where deleting left less than a whole file behind, in the real
// main window and through `corvale-bench recover`: a FAT folder whose directory went on in a second
// cluster, ext2 files whose inodes the kernel cleared, and an ext4 volume whose files use extents.
// What can come back comes back whole, at its path; what cannot is shown and counted as such.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "EndToEndSteps.h"
#include "app/MainFrame.h"
#include "app/SourceDriveQuery.h"
#include "controls/DeviceSelectCtrl.h"
#include "controls/FileListCtrl.h"
#include "controls/FileTreeCtrl.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "platform/Log.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "wizard/DeleteRecoveryPartitionDeviceSelectPage.h"
#include "wizard/FileSelectPage.h"
#include "wizard/RecoveryModeSelectPage.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/SaveFileController.h"

namespace fs = std::filesystem;
using corvale::test::FilesBelow;
using corvale::test::SaveScreenshot;

namespace {

class DeletedRecoveryOfDamagedDeletes : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    m_folder = corvale::test::ScratchDir();
    m_previousBox = corvale::ui::SetMessageBoxHandler(
        [this](const std::string& text, const std::string&, corvale::ui::MessageIcon icon) {
          boxes.push_back(text);
          icons.push_back(icon);
        });
    m_previousQuestion = corvale::ui::SetQuestionHandler(
        [](const std::string&, const std::string&, corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
          return corvale::ui::MessageAnswer::Yes;
        });
    InstallSourceDriveQuery();
    for (int i = 0; i < kWizardPageCount; ++i)
      GetPageController(static_cast<WIZARD_PAGE>(i))->SetPreviousController(nullptr);
    CDeleteRecoveryPartitionDeviceSelectController::ModeHintEnabled() = false;
    frame = std::make_unique<CMainFrame>();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    sheet = frame->ChildView()->GetWizardSheet();
  }

  void TearDown() override {
    if (!frame) return;
    GetFileSelectController()->Cleanup();
    GetDeleteRecoveryPartitionDeviceSelectController()->Cleanup();
    frame.reset();
    CFileRecoverer::SetSourceDeviceQuery({});
    CDeleteRecoveryPartitionDeviceSelectController::ModeHintEnabled() = true;
    corvale::ui::SetMessageBoxHandler(m_previousBox);
    corvale::ui::SetQuestionHandler(m_previousQuestion);
    unsetenv("CORVALE_DISKS");
  }

  void ClickNext() {
    QTest::mouseClick(sheet->Button(CWizardSheet::kCommandNext), Qt::LeftButton, {}, QPoint(5, 5));
  }

  // A copy of `image` as the only disk; then, with the mouse, the mode, the file types, the one
  // volume of the list and Next, which builds its tree.
  void BuildVolumeOf(const std::string& image) {
    const std::string copy = m_folder + "/" + fs::path(image).filename().string();
    fs::copy_file(image, copy);
    setenv("CORVALE_DISKS", copy.c_str(), 1);
    auto* welcome = static_cast<CRecoveryModeSelectPage*>(sheet->GetPage(RecoveryModeSelect));
    QTest::mouseClick(welcome->ModeButton(CRecoveryModeSelectPage::kCommandDeleted), Qt::LeftButton, {},
                      QPoint(10, 10));
    ASSERT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
    ClickNext();
    ASSERT_EQ(sheet->GetCurrentPageIndex(), DeleteRecoveryPartitionDeviceSelect);
    for (int i = 0; i < 6000 && GetDeleteRecoveryPartitionDeviceSelectController()->IsCollecting(); ++i)
      QTest::qWait(10);
    CDeviceSelectCtrl* list = static_cast<CDeleteRecoveryPartitionDeviceSelectPage*>(
                                  sheet->GetPage(DeleteRecoveryPartitionDeviceSelect))
                                  ->GetDeviceSelectCtrl();
    ASSERT_EQ(list->GetCount(), 1);
    QTest::mouseClick(list->View()->viewport(), Qt::LeftButton, {}, list->View()->RowRect(0).center());
    ASSERT_EQ(list->GetCurSel(), 0);
    ClickNext();
  }

  CFileSelectPage* FilePage() { return static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect)); }

  // The node below `from` at `path` ("a/b"), or null.
  static CFileNode* NodeAt(CFileNode* from, const std::string& path) {
    CFileNode* node = from;
    size_t begin = 0;
    while (node != nullptr && begin <= path.size()) {
      const size_t end = std::min(path.find('/', begin), path.size());
      const std::string name = path.substr(begin, end - begin);
      CFileNode* child = node->GetFirstChild();
      while (child != nullptr && name != child->GetFileProperties()->GetName())
        child = child->GetNextSibling();
      node = child;
      begin = end + 1;
    }
    return node;
  }

  std::unique_ptr<CMainFrame> frame;
  CWizardSheet* sheet = nullptr;
  std::vector<std::string> boxes;
  std::vector<corvale::ui::MessageIcon> icons;
  std::string m_folder;

 private:
  corvale::ui::MessageBoxHandler m_previousBox;
  corvale::ui::QuestionHandler m_previousQuestion;
};

// The deleted folder's first cluster is read through its entry; its second cluster, which no chain
// leads to any more, is found among the free ones and shown under "Lost Folders". Ticking the volume
// and saving brings every file of the folder back whole.
TEST_F(DeletedRecoveryOfDamagedDeletes, FatFolderInTwoClustersComesBackWithItsLaterFilesUnderLostFolders) {
  CORVALE_FIXTURE(fixture, "fat_deleted_split_folder.sh", "fat_deleted_split_folder");
  BuildVolumeOf(fixture + "/fat16.img");
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect) << (boxes.empty() ? "" : boxes.back());
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  CFileNode* volume = FilePage()->GetFileTree()->GetFirstChild();
  ASSERT_NE(volume, nullptr);
  CFileNode* lostFolders = NodeAt(volume, "Lost Folders");
  ASSERT_NE(lostFolders, nullptr);
  ASSERT_NE(lostFolders->GetFirstChild(), nullptr);
  const std::string lost =
      std::string("Lost Folders/") + lostFolders->GetFirstChild()->GetFileProperties()->GetName();
  QModelIndex item;
  ASSERT_TRUE(FilePage()->Tree()->FindNodeItem(lostFolders->GetFirstChild(), &item));
  CTreeCtrlPlus* view = FilePage()->Tree()->GetTreeCtrl();
  view->scrollTo(item);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(item).center() + QPoint(20, 0));
  SaveScreenshot(frame->grab().toImage(), "deleted-recovery-fat-lost-folders");

  corvale::test::TickInTree(FilePage(), volume, frame.get());
  const std::string target = m_folder + "/recovered";
  fs::create_directories(target);
  const corvale::test::SaveStepOutcome step =
      corvale::test::SaveTickedFiles(sheet, target, "deleted-recovery-fat-split-folder-result");
  EXPECT_EQ(step.outcome, "All files are recovered successfully.");
  ASSERT_EQ(GetSaveFileController()->GetResultStringCount(), 1);
  const fs::path top = GetSaveFileController()->GetResultString(0);

  std::map<std::string, std::string> expected;
  for (const auto& [path, bytes] : FilesBelow(fixture + "/fat16/first")) expected["#rip/" + path] = bytes;
  for (const auto& [path, bytes] : FilesBelow(fixture + "/fat16/later")) expected[lost + "/" + path] = bytes;
  EXPECT_EQ(FilesBelow(top), expected);
  EXPECT_EQ(GetSaveFileController()->GetRecoveredFileCount(), static_cast<int>(expected.size()));
}

// Files the kernel deleted keep neither size nor blocks. The file list shows them greyed, with the
// reason as their tool tip; recovered with the rest, none of them is written, and the result window
// does not call the run a success: only the file whose inode kept its blocks counts as recovered.
TEST_F(DeletedRecoveryOfDamagedDeletes, ClearedExt2FilesAreGreyedWithTheirReasonAndNotCountedAsRecovered) {
  CORVALE_FIXTURE(fixture, "ext2_cleared_deletes.sh", "ext2_cleared_deletes");
  BuildVolumeOf(fixture + "/ext2.img");
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect) << (boxes.empty() ? "" : boxes.back());
  CFileNode* volume = FilePage()->GetFileTree()->GetFirstChild();
  ASSERT_NE(volume, nullptr);

  // Every folder of the tree, clicked in the tree pane: its unrecoverable files greyed with the reason.
  const std::string reason =
      "Nothing of this file is left to recover: the file system cleared its size and data blocks when it "
      "was deleted.";
  int greyed = 0;
  int plain = 0;
  std::vector<CFileNode*> folders{volume};
  for (size_t f = 0; f < folders.size(); ++f) {
    for (CFileNode* c = folders[f]->GetFirstChild(); c != nullptr; c = c->GetNextSibling())
      if (c->GetFileProperties()->IsFolder()) folders.push_back(c);
    QModelIndex item;
    ASSERT_TRUE(FilePage()->Tree()->FindNodeItem(folders[f], &item));
    CTreeCtrlPlus* view = FilePage()->Tree()->GetTreeCtrl();
    view->scrollTo(item);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(item).center() + QPoint(20, 0));
    CFileListCtrl* list = FilePage()->List();
    for (int row = 0; row < list->RowCount(); ++row) {
      const IFileProperties* p = list->GetNodeAt(row)->GetFileProperties();
      if (p->IsFolder()) continue;
      const QModelIndex cell = list->Model()->index(row, 0);
      const QString tip = cell.data(Qt::ToolTipRole).toString();
      const QVariant color = cell.data(Qt::ForegroundRole);
      if (p->GetUnrecoverableReason() != 0) {
        ++greyed;
        EXPECT_EQ(tip.toStdString(), reason) << p->GetName();
        ASSERT_TRUE(color.isValid()) << p->GetName();
        EXPECT_EQ(color.value<QColor>(), QColor(150, 150, 150)) << p->GetName();
        if (greyed == 1) SaveScreenshot(frame->grab().toImage(), "deleted-recovery-ext2-cleared-files");
      } else {
        ++plain;
        EXPECT_TRUE(tip.isEmpty()) << p->GetName();
      }
    }
  }
  EXPECT_EQ(greyed, 4);
  EXPECT_EQ(plain, 1) << "the deleted file whose inode kept its blocks";

  corvale::test::TickInTree(FilePage(), volume, frame.get());
  const std::string target = m_folder + "/recovered";
  fs::create_directories(target);
  corvale::log::ScopedCapture log;
  const corvale::test::SaveStepOutcome step =
      corvale::test::SaveTickedFiles(sheet, target, "deleted-recovery-ext2-cleared-result");
  EXPECT_EQ(step.outcome, "Some files are recovered successfully.");
  EXPECT_EQ(GetSaveFileController()->GetFileCount(), 5);
  EXPECT_EQ(GetSaveFileController()->GetRecoveredFileCount(), 1);
  ASSERT_EQ(GetSaveFileController()->GetResultStringCount(), 1);
  const std::map<std::string, std::string> written = FilesBelow(GetSaveFileController()->GetResultString(0));
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written.begin()->second, corvale::test::ReadWhole(fixture + "/kept/backup.bin"));
  EXPECT_TRUE(log.HasPart("can be recovered: " + reason));
}

// An ext4 volume without flex_bg is taken as Ext3, but its files use extents: the build says so in a
// message (and in the log) and stays on the volume page, where before it went on silently with an
// empty volume.
TEST_F(DeletedRecoveryOfDamagedDeletes, Ext4VolumeSaysItsFilesUseExtents) {
  CORVALE_FIXTURE(fixture, "ext4_extents.sh", "ext4_extents");
  corvale::log::ScopedCapture log;
  BuildVolumeOf(fixture + "/noflex.img");
  EXPECT_EQ(sheet->GetCurrentPageIndex(), DeleteRecoveryPartitionDeviceSelect);
  ASSERT_EQ(boxes,
            std::vector<std::string>{
                "The files of this volume use extents, which Corvale cannot read. Try Format Recovery to "
                "carve them."});
  EXPECT_EQ(icons.front(), corvale::ui::MessageIcon::Warning);
  EXPECT_TRUE(log.HasPart("uses extents (ext4), which are not read"));
}

// What `corvale-bench recover` says of the same volumes: the split folder's files all recovered, the
// cleared files counted among the failures as having nothing left, the ext4 volume's notice.
TEST(RecoverBench, SaysWhatEachVolumeHoldsAndCountsWhatCannotBeRecovered) {
  struct Case {
    const char* script;
    const char* fixture;
    const char* image;
    std::vector<std::string> lines;  // parts the output must hold
  };
  const Case cases[] = {
      {"fat_deleted_split_folder.sh",
       "fat_deleted_split_folder",
       "fat32.img",
       {"13 files ticked", "recovered 13 files, 0 failures (0 with nothing left to recover)"}},
      {"ext2_cleared_deletes.sh",
       "ext2_cleared_deletes",
       "ext2.img",
       {"5 files ticked", "recovered 1 files, 4 failures (4 with nothing left to recover)"}},
      {"ext4_extents.sh",
       "ext4_extents",
       "noflex.img",
       {"The files of this volume use extents, which Corvale cannot read. Try Format Recovery to carve them.",
        "0 files ticked"}},
  };
  std::string unavailable;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image);
    std::string why;
    const std::string fixture = corvale::test::FixtureImage(c.script, c.fixture, &why);
    if (fixture.empty()) {
      unavailable += std::string(c.fixture) + ": " + why + "; ";
      continue;
    }
    const std::string out = corvale::test::ScratchDir() + "/out";
    std::string output;
    corvale::test::RunCommand(std::string("'") + CORVALE_BENCH_PROGRAM + "' recover '" + fixture + "/" +
                                  c.image + "' '" + out + "' --deleted-only",
                              &output);
    for (const std::string& line : c.lines)
      EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
  }
  if (!unavailable.empty()) GTEST_SKIP() << "fixtures unavailable: " << unavailable;
}

}  // namespace
