#pragma once
// The real main window over the NTFS, FAT32 and ext2 volumes of deleted_three_volumes.sh (named by
// CORVALE_DISKS), with what it asks recorded and answered, and the recovery of the deleted files
// into a new folder compared by path and bytes with what the fixture deleted.
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

namespace corvale::test {

inline const char* const kVolumes[] = {"ntfs", "fat32", "ext2"};

class DeletedFileRecoveryWindowTest : public ::testing::TestWithParam<int> {
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
    GetFileSelectController()->Cleanup();
    GetDeleteRecoveryPartitionDeviceSelectController()->Cleanup();
    frame.reset();
    CFileRecoverer::SetSourceDeviceQuery({});
    CFileRecoverer::SetDeviceNumbersQuery({});
    CDeleteRecoveryPartitionDeviceSelectController::ModeHintEnabled() = true;
    corvale::ui::SetMessageBoxHandler(m_previousBox);
    corvale::ui::SetQuestionHandler(m_previousQuestion);
    unsetenv("CORVALE_DISKS");
  }

  void ClickNext() {
    QTest::mouseClick(sheet->Button(CWizardSheet::kCommandNext), Qt::LeftButton, {}, QPoint(5, 5));
  }

  // From the file page shown after a build of volume `volume` (a name of kVolumes): ticks the
  // deleted files, recovers them into a new folder and compares them by path and bytes with what
  // the fixture deleted.
  void RecoverDeletedFilesAndCompare(const std::string& volume) {
    // Tick the folder of the deleted files in the tree pane.
    auto* files = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
    CFileNode* root = files->GetFileTree();
    ASSERT_NE(root, nullptr);
    CFileNode* deleted = root->GetFirstChild();
    ASSERT_NE(deleted, nullptr);
    TickInTree(files, deleted, frame.get());

    // Next on the file page: the target window, where a folder is chosen in its tree and OK pressed,
    // then the result window.
    const std::string target = m_folder + "/recovered";
    fs::create_directories(target);
    const SaveStepOutcome step = SaveTickedFiles(sheet, target, "deleted-recovery-result-" + volume);
    const int targetWindows = step.targetWindows;
    const std::string& outcome = step.outcome;

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

  std::unique_ptr<CMainFrame> frame;
  CWizardSheet* sheet = nullptr;
  std::vector<std::string> boxes;
  std::vector<std::string> questions;
  std::string m_fixture;
  std::string m_folder;

 private:
  corvale::ui::MessageBoxHandler m_previousBox;
  corvale::ui::QuestionHandler m_previousQuestion;
};

}  // namespace corvale::test
