// Partition Recovery in the real main window over a disk whose partition table is gone: Start, the
// file types, the disk; the quick search finds the NTFS, FAT32 and Ext2 partitions at their true
// starts; each partition picked is built, every file ticked and recovered, and the files come back
// at their paths with their bytes. The same through an image of the disk made on the disk page.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "EndToEndSteps.h"
#include "app/MainFrame.h"
#include "app/SourceDriveQuery.h"
#include "controls/ButtonPlus.h"
#include "controls/DeviceSelectCtrl.h"
#include "core/FileRecoverer.h"
#include "dialogs/ImageDiskMasterDlg.h"
#include "dialogs/LostPartitionSearchingDlg.h"
#include "dialogs/OpenDiskImageMasterDlg.h"
#include "storage/FileSystemCode.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "wizard/LostRecoveryDiskDeviceSelectPage.h"
#include "wizard/LostRecoveryPartitionDeviceSelectPage.h"
#include "wizard/RecoveryModeSelectPage.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/LostRecoveryDiskDeviceSelectController.h"
#include "wizard/controller/LostRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/ScanState.h"

namespace fs = std::filesystem;
using corvale::test::FilesBelow;
using corvale::test::SaveScreenshot;

namespace {

// Where lost_three_fs_disk.sh put its volumes, the row the lost-partition page shows for each, and
// the folder of the files written onto it.
const struct {
  uint64_t start;
  int32_t type;
  const char* row;
  const char* content;
} kPartitions[] = {
    {63, kFileSystemNtfs, "NTFSVOL-NTFS", "ntfs"},
    {32130, kFileSystemFat32, "FATVOL-FAT32", "fat"},
    {112518, kFileSystemExt2, "extvol-EXT2", "ext2"},
};

class PartitionRecoveryEndToEnd : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    std::string why;
    m_fixture = corvale::test::FixtureImage("lost_three_fs_disk.sh", "lost_three_fs_disk", &why);
    if (m_fixture.empty()) GTEST_SKIP() << "fixture unavailable: " << why;
    m_folder = corvale::test::ScratchDir();
    fs::copy_file(m_fixture + "/disk.img", m_folder + "/disk.img");
    setenv("CORVALE_DISKS", (m_folder + "/disk.img").c_str(), 1);

    m_previousBox =
        corvale::ui::SetMessageBoxHandler([this](const std::string& text, const std::string&,
                                                 corvale::ui::MessageIcon) { boxes.push_back(text); });
    m_previousQuestion =
        corvale::ui::SetQuestionHandler([this](const std::string& text, const std::string&,
                                               corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
          questions.push_back(text);
          return corvale::ui::MessageAnswer::Yes;
        });
    InstallSourceDriveQuery();
    for (int i = 0; i < kWizardPageCount; ++i)
      GetPageController(static_cast<WIZARD_PAGE>(i))->SetPreviousController(nullptr);
    CLostRecoveryPartitionDeviceSelectController::FullScanHintEnabled() = false;
    SetScanStateFolder(m_folder + "/state/");
    fs::create_directories(m_folder + "/state");
    StartProgram();
  }

  // A new run of the program: the main window made anew, and the saved scan not yet committed.
  void StartProgram() {
    if (frame) {
      GetFileSelectController()->Cleanup();
      GetLostRecoveryPartitionDeviceSelectController()->Cleanup();
      GetLostRecoveryDiskDeviceSelectController()->Cleanup();
      frame.reset();
    }
    for (int i = 0; i < kWizardPageCount; ++i)
      GetPageController(static_cast<WIZARD_PAGE>(i))->SetPreviousController(nullptr);
    CLostRecoveryDiskDeviceSelectController::CommitPending() = true;
    frame = std::make_unique<CMainFrame>();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    sheet = frame->ChildView()->GetWizardSheet();
  }

  void TearDown() override {
    if (m_fixture.empty()) return;
    SetLostPartitionSearchShownHook(nullptr);
    GetFileSelectController()->Cleanup();
    GetLostRecoveryPartitionDeviceSelectController()->Cleanup();
    GetLostRecoveryDiskDeviceSelectController()->Cleanup();
    GetLostRecoveryDiskDeviceSelectController()->CloseAllImages();
    frame.reset();
    CFileRecoverer::SetSourceDeviceQuery({});
    CLostRecoveryPartitionDeviceSelectController::FullScanHintEnabled() = true;
    SetScanStateFolder("");
    corvale::ui::SetMessageBoxHandler(m_previousBox);
    corvale::ui::SetQuestionHandler(m_previousQuestion);
    unsetenv("CORVALE_DISKS");
  }

  void ClickNext() {
    QTest::mouseClick(sheet->Button(CWizardSheet::kCommandNext), Qt::LeftButton, {}, QPoint(5, 5));
  }

  static void Select(CDeviceSelectCtrl* list, int row) {
    ASSERT_LT(row, list->GetCount());
    QTest::mouseClick(list->View()->viewport(), Qt::LeftButton, {}, list->View()->RowRect(row).center());
    ASSERT_EQ(list->GetCurSel(), row);
  }

  // From the welcome page to the lost-partition page with the mouse: Start, the file types, the
  // disk, and the search under its window.
  void SearchTheDisk() {
    OpenDiskPage();
    CDeviceSelectCtrl* disks = DiskList();
    ASSERT_EQ(disks->GetCount(), 1);
    Select(disks, 0);
    SaveScreenshot(frame->grab().toImage(), "partition-recovery-disk-page");

    bool searched = false;
    SetLostPartitionSearchShownHook([&](CLostPartitionSearchingDialog& dialog) {
      searched = true;
      EXPECT_FALSE(frame->isEnabled());
      SaveScreenshot(dialog.grab().toImage(), "dialog-quick-partition-searching");
    });
    ClickNext();
    EXPECT_TRUE(searched);
    EXPECT_TRUE(frame->isEnabled());
    ASSERT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryPartitionDeviceSelect);
  }

  CLostRecoveryDiskDeviceSelectPage* DiskPage() {
    return static_cast<CLostRecoveryDiskDeviceSelectPage*>(sheet->GetPage(LostRecoveryDiskDeviceSelect));
  }
  CDeviceSelectCtrl* DiskList() { return DiskPage()->GetDeviceSelectCtrl(); }

  void OpenDiskPage() {
    auto* welcome = static_cast<CRecoveryModeSelectPage*>(sheet->GetPage(RecoveryModeSelect));
    QTest::mouseClick(welcome->ModeButton(CRecoveryModeSelectPage::kCommandDeleted + 2), Qt::LeftButton, {},
                      QPoint(10, 10));
    ASSERT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
    ClickNext();
    ASSERT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryDiskDeviceSelect);
    for (int i = 0; i < 6000 && GetLostRecoveryDiskDeviceSelectController()->IsCollecting(); ++i)
      QTest::qWait(10);
    ASSERT_TRUE(frame->isEnabled());
  }

  CDeviceSelectCtrl* PartitionList() {
    return static_cast<CLostRecoveryPartitionDeviceSelectPage*>(
               sheet->GetPage(LostRecoveryPartitionDeviceSelect))
        ->GetDeviceSelectCtrl();
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

TEST_P(PartitionRecoveryEndToEnd, ThePickedLostPartitionsFilesComeBackWhole) {
  const int row = GetParam();
  const std::string name = kPartitions[row].content;
  SearchTheDisk();

  // The three partitions, at their true starts.
  CLostRecoveryPartitionDeviceSelectController* lost = GetLostRecoveryPartitionDeviceSelectController();
  ASSERT_EQ(lost->FoundPartitions().size(), 3u);
  CDeviceSelectCtrl* partitions = PartitionList();
  ASSERT_EQ(partitions->GetCount(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(lost->FoundPartitions()[i]->StartSector, kPartitions[i].start);
    EXPECT_EQ(lost->FoundPartitions()[i]->FileSystemType, kPartitions[i].type);
    EXPECT_EQ(partitions->CellText(i, 0).toStdString(), kPartitions[i].row);
  }
  if (row == 0) SaveScreenshot(frame->grab().toImage(), "partition-recovery-lost-partition-page");

  // Next with none picked stays and says so.
  partitions->ClearSelection();
  ClickNext();
  EXPECT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryPartitionDeviceSelect);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Select a partition to recover please.");
  boxes.clear();

  // The partition, built and shown on the file page; every file ticked.
  Select(partitions, row);
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_EQ(GetFileSelectController()->GetSourceDevice(), lost->FoundPartitions()[row]->Device);
  auto* files = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
  CFileNode* root = files->GetFileTree();
  ASSERT_NE(root, nullptr);
  CFileNode* partition = root->GetFirstChild();
  ASSERT_NE(partition, nullptr);
  corvale::test::TickInTree(files, partition, frame.get());

  const std::string target = m_folder + "/recovered";
  fs::create_directories(target);
  const auto saved = corvale::test::SaveTickedFiles(sheet, target, "partition-recovery-result-" + name);
  EXPECT_EQ(saved.targetWindows, 1);
  EXPECT_EQ(saved.outcome, "All files are recovered successfully.");
  ASSERT_EQ(GetSaveFileController()->GetResultStringCount(), 1);
  const fs::path top = GetSaveFileController()->GetResultString(0);
  const auto expected = FilesBelow(m_fixture + "/content/" + name);
  ASSERT_EQ(expected.size(), 10u);
  // The engines' own files (NTFS metadata) may come along; every file written is there whole.
  auto recovered = FilesBelow(top);
  for (auto it = recovered.begin(); it != recovered.end();)
    it = it->first.find('$') != std::string::npos ? recovered.erase(it) : std::next(it);
  EXPECT_EQ(recovered, expected) << "every file, at its path, whole";
}

// The disk imaged through the disk page's image menu: the image is listed as a disk of its own, the
// same image cannot be listed twice, and searching it finds the lost partitions, whose files come
// back whole from the image.
TEST_F(PartitionRecoveryEndToEnd, ADiskImagedOnTheDiskPageIsSearchedLikeTheDisk) {
  OpenDiskPage();
  CLostRecoveryDiskDeviceSelectController* controller = GetLostRecoveryDiskDeviceSelectController();
  ASSERT_EQ(DiskList()->GetCount(), 1);
  Select(DiskList(), 0);
  const int32_t diskNumber = controller->Disks().at(0)->DiskNumber;
  const std::string diskName = controller->Disks().at(0)->DisplayText;

  const std::string images = m_folder + "/images";
  fs::create_directories(images);
  const std::string descriptor = images + "/disk.kbi";
  corvale::test::RunImageMenu<CImageDiskMasterDlg>(
      DiskPage(), "Disk Image",
      [&](CImageDiskMasterDlg& wizard) {
        wizard.OnNext();
        wizard.PathPage()->PathEdit()->setText(QString::fromStdString(images + "/disk"));
        wizard.OnNext();
        ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kSummary);
        wizard.OnNext();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return wizard.GetStep() == CImageDiskMasterDlg::kSuccess; }, 120000));
        wizard.OnNext();
      },
      "partition-recovery-");
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  ASSERT_TRUE(fs::exists(descriptor));
  ASSERT_EQ(DiskList()->GetCount(), 2);
  EXPECT_EQ(DiskList()->CellText(1, 0).toStdString(), "Image File, " + diskName);
  ASSERT_EQ(controller->Images().size(), 1u);
  EXPECT_EQ(controller->Images()[0]->DiskNumber, diskNumber) << "the image remembers the disk it was made of";
  EXPECT_EQ(controller->Images()[0]->ImagePath, descriptor);
  Select(DiskList(), 1);
  SaveScreenshot(frame->grab().toImage(), "partition-recovery-disk-page-image");

  // The same image again: refused, the list as it was.
  const auto openDescriptor = [&](COpenDiskImageMasterDlg& wizard) {
    wizard.OnNext();
    wizard.PathPage()->PathEdit()->setText(QString::fromStdString(descriptor));
    wizard.OnNext();
    ASSERT_EQ(wizard.GetStep(), COpenDiskImageMasterDlg::kSuccess);
    wizard.OnNext();
  };
  corvale::test::RunImageMenu<COpenDiskImageMasterDlg>(DiskPage(), "Open Disk Image", openDescriptor,
                                                       "partition-recovery-");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "This image file is open!");
  EXPECT_EQ(DiskList()->GetCount(), 2);
  boxes.clear();

  // Closed, the list keeps the disk only; opened again it comes back with the disk's number read
  // from the image, and stays listed when the disks are collected again.
  Select(DiskList(), 1);
  corvale::test::RunImageMenu<QDialog>(DiskPage(), "Delete Image", nullptr);
  EXPECT_EQ(DiskList()->GetCount(), 1);
  EXPECT_TRUE(controller->Images().empty());
  corvale::test::RunImageMenu<COpenDiskImageMasterDlg>(DiskPage(), "Open Disk Image", openDescriptor);
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  ASSERT_EQ(controller->Images().size(), 1u);
  EXPECT_EQ(controller->Images()[0]->DiskNumber, diskNumber);
  auto* refresh = DiskPage()->findChild<QAbstractButton*>(
      QString::number(CLostRecoveryDiskDeviceSelectPage::kCommandRefresh));
  ASSERT_NE(refresh, nullptr);
  QTest::mouseClick(refresh, Qt::LeftButton, {}, QPoint(5, 5));
  for (int i = 0; i < 6000 && controller->IsCollecting(); ++i) QTest::qWait(10);
  ASSERT_EQ(DiskList()->GetCount(), 2);

  // Searched: the three partitions at their true starts, read from the image.
  Select(DiskList(), 1);
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryPartitionDeviceSelect)
      << (boxes.empty() ? "" : boxes[0]);
  EXPECT_EQ(controller->GetChosen(), controller->Images()[0].get());
  CLostRecoveryPartitionDeviceSelectController* lost = GetLostRecoveryPartitionDeviceSelectController();
  ASSERT_EQ(lost->FoundPartitions().size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(lost->FoundPartitions()[i]->StartSector, kPartitions[i].start);

  // The FAT32 partition's files, whole.
  Select(PartitionList(), 1);
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect) << (boxes.empty() ? "" : boxes[0]);
  auto* files = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
  ASSERT_NE(files->GetFileTree(), nullptr);
  CFileNode* partition = files->GetFileTree()->GetFirstChild();
  ASSERT_NE(partition, nullptr);
  corvale::test::TickInTree(files, partition, frame.get());
  const std::string target = m_folder + "/recovered";
  fs::create_directories(target);
  const auto saved = corvale::test::SaveTickedFiles(sheet, target, "partition-recovery-result-image");
  EXPECT_EQ(saved.outcome, "All files are recovered successfully.");
  ASSERT_EQ(GetSaveFileController()->GetResultStringCount(), 1);
  const auto expected = FilesBelow(m_fixture + "/content/fat");
  ASSERT_EQ(expected.size(), 10u);
  EXPECT_EQ(FilesBelow(GetSaveFileController()->GetResultString(0)), expected);

  // Home closes the image.
  GetFileSelectController()->Home();
  EXPECT_TRUE(controller->Images().empty());
}

// Stopped after the search, a new run of the program offers the saved search on the disk page and
// resumes it: the same partitions, without searching again.
TEST_F(PartitionRecoveryEndToEnd, ANewRunResumesTheSavedSearch) {
  SearchTheDisk();
  ASSERT_EQ(GetLostRecoveryPartitionDeviceSelectController()->FoundPartitions().size(), 3u);
  StartProgram();
  OpenDiskPage();
  CDeviceSelectCtrl* disks = DiskList();
  ASSERT_EQ(disks->GetCount(), 2);
  EXPECT_EQ(disks->CellText(0, 0).toStdString(), "Previous Recovery...");
  EXPECT_NE(disks->CellText(0, 2).toStdString().find("Results for"), std::string::npos);
  SaveScreenshot(frame->grab().toImage(), "partition-recovery-disk-page-previous");
  bool searched = false;
  SetLostPartitionSearchShownHook([&](CLostPartitionSearchingDialog&) { searched = true; });
  Select(disks, 0);
  ClickNext();
  EXPECT_FALSE(searched);
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryPartitionDeviceSelect);
  const auto& found = GetLostRecoveryPartitionDeviceSelectController()->FoundPartitions();
  ASSERT_EQ(found.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(found[i]->StartSector, kPartitions[i].start);
    EXPECT_EQ(found[i]->FileSystemType, kPartitions[i].type);
    EXPECT_EQ(PartitionList()->CellText(i, 0).toStdString(), kPartitions[i].row);
  }
  // The resumed partitions are read from this run's disk.
  Select(PartitionList(), 2);
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
}

// A saved search of another disk, or a damaged state file, is refused and the page stays.
TEST_F(PartitionRecoveryEndToEnd, AStateFileOfAnotherDiskOrADamagedOneIsRefused) {
  SearchTheDisk();
  const std::string last = ScanStateLastFile(kRecoveryKindPartition);
  for (const char* fault : {"another disk", "damaged"}) {
    SCOPED_TRACE(fault);
    StartProgram();
    if (std::string(fault) == "another disk") {
      // The same size, other contents: a blank disk in its place.
      fs::remove(m_folder + "/disk.img");
      std::ofstream(m_folder + "/disk.img").close();
      fs::resize_file(m_folder + "/disk.img", fs::file_size(m_fixture + "/disk.img"));
    } else {
      fs::copy_file(m_fixture + "/disk.img", m_folder + "/disk.img", fs::copy_options::overwrite_existing);
      const std::string bytes = corvale::test::ReadWhole(last);
      ASSERT_GT(bytes.size(), 200u);
      std::ofstream(last, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    }
    OpenDiskPage();
    CDeviceSelectCtrl* disks = DiskList();
    ASSERT_EQ(disks->GetCount(), 2);
    Select(disks, 0);
    boxes.clear();
    ClickNext();
    EXPECT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryDiskDeviceSelect);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Failed to restore last search result.");
    EXPECT_TRUE(GetLostRecoveryPartitionDeviceSelectController()->FoundPartitions().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Partitions, PartitionRecoveryEndToEnd, ::testing::Values(0, 1, 2));

}  // namespace
