// Deleted File Recovery as a person does it in the real main window: the mode, the volume, the
// build, ticking the deleted files, the target folder and the recovery, over real NTFS, FAT32 and
// ext2 volumes named by CORVALE_DISKS; the recovered files are compared with those deleted.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "EndToEndSteps.h"
#include "app/MainFrame.h"
#include "app/SourceDriveQuery.h"
#include "controls/ButtonPlus.h"
#include "controls/DeviceSelectCtrl.h"
#include "controls/FileTreeCtrl.h"
#include "controls/ShellTreeCtrl.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "dialogs/FileSaveDlg.h"
#include "dialogs/SaveFilePathDlg.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "wizard/DeleteRecoveryPartitionDeviceSelectPage.h"
#include "wizard/FileSelectPage.h"
#include "wizard/RecoveryModeSelectPage.h"
#include "wizard/SaveFilePage.h"
#include "wizard/SaveResultPage.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/SaveFileController.h"

namespace fs = std::filesystem;

namespace {

const char* const kVolumes[] = {"ntfs", "fat32", "ext2"};

using corvale::test::FilesBelow;

class DeletedFileRecoveryEndToEnd : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    std::string why;
    m_fixture = corvale::test::FixtureImage("deleted_three_volumes.sh", "deleted_three_volumes", &why);
    if (m_fixture.empty()) GTEST_SKIP() << "fixture unavailable: " << why;
    m_folder = corvale::test::ScratchDir();
    std::string disks;
    for (const char* volume : kVolumes) {
      fs::copy_file(m_fixture + "/" + volume + ".img", m_folder + "/" + volume + ".img");
      disks += m_folder + "/" + volume + ".img:";
    }
    disks.pop_back();
    setenv("CORVALE_DISKS", disks.c_str(), 1);

    m_previousBox =
        corvale::ui::SetMessageBoxHandler([this](const std::string& text, const std::string&,
                                                 corvale::ui::MessageIcon) { boxes.push_back(text); });
    m_previousQuestion =
        corvale::ui::SetQuestionHandler([this](const std::string& text, const std::string&,
                                               corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
          questions.push_back(text);
          return corvale::ui::MessageAnswer::Yes;
        });
    // As the program does at its start: the same-disk warning asks about the recovery's source.
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
    if (m_fixture.empty()) return;
    SetSaveDialogRunner(m_previousRunner);
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

  std::unique_ptr<CMainFrame> frame;
  CWizardSheet* sheet = nullptr;
  std::vector<std::string> boxes;
  std::vector<std::string> questions;
  std::string m_fixture;
  std::string m_folder;
  SaveDialogRunner m_previousRunner;

 private:
  corvale::ui::MessageBoxHandler m_previousBox;
  corvale::ui::QuestionHandler m_previousQuestion;
};

TEST_P(DeletedFileRecoveryEndToEnd, TheDeletedFilesOfTheChosenVolumeComeBackWhole) {
  const int row = GetParam();
  const std::string volume = kVolumes[row];

  // The mode, then the file types.
  auto* welcome = static_cast<CRecoveryModeSelectPage*>(sheet->GetPage(RecoveryModeSelect));
  QTest::mouseClick(welcome->ModeButton(CRecoveryModeSelectPage::kCommandDeleted), Qt::LeftButton, {},
                    QPoint(10, 10));
  ASSERT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), DeleteRecoveryPartitionDeviceSelect);

  // The volume, once the list is made; Next builds its tree and shows the file page.
  for (int i = 0; i < 6000 && GetDeleteRecoveryPartitionDeviceSelectController()->IsCollecting(); ++i)
    QTest::qWait(10);
  auto* volumes = static_cast<CDeleteRecoveryPartitionDeviceSelectPage*>(
                      sheet->GetPage(DeleteRecoveryPartitionDeviceSelect))
                      ->GetDeviceSelectCtrl();
  ASSERT_EQ(volumes->GetCount(), 3);
  QTest::mouseClick(volumes->View()->viewport(), Qt::LeftButton, {}, volumes->View()->RowRect(row).center());
  ASSERT_EQ(volumes->GetCurSel(), row);
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  ASSERT_TRUE(boxes.empty()) << boxes.front();

  // Tick the folder of the deleted files in the tree pane.
  auto* files = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
  CFileNode* root = files->GetFileTree();
  ASSERT_NE(root, nullptr);
  CFileNode* deleted = root->GetFirstChild();
  ASSERT_NE(deleted, nullptr);
  corvale::test::TickInTree(files, deleted, frame.get());

  // Next on the file page: the target window, where a folder is chosen in its tree and OK pressed,
  // then the result window.
  const std::string target = m_folder + "/recovered";
  fs::create_directories(target);
  const auto saved = corvale::test::SaveTickedFiles(sheet, target, "deleted-recovery-result-" + volume);
  const int targetWindows = saved.targetWindows;
  const std::string outcome = saved.outcome;

  EXPECT_EQ(targetWindows, 1);
  // The target lies on the disk the images are on: the same-disk warning is given (and accepted).
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_NE(questions[0].find("same drive"), std::string::npos) << questions[0];
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_EQ(outcome, "All files are recovered successfully.");
  ASSERT_EQ(GetSaveFileController()->GetResultStringCount(), 1);
  const fs::path top = GetSaveFileController()->GetResultString(0);
  EXPECT_EQ(top.parent_path(), fs::path(target));
  const auto expected = FilesBelow(m_fixture + "/deleted-" + volume, volume == "fat32");
  ASSERT_EQ(expected.size(), 3u);
  EXPECT_EQ(FilesBelow(top), expected) << "every deleted file, at its path, whole";
  EXPECT_EQ(GetSaveFileController()->GetRecoveredFileCount(), 3);
}

INSTANTIATE_TEST_SUITE_P(Volumes, DeletedFileRecoveryEndToEnd, ::testing::Values(0, 1, 2));

}  // namespace
