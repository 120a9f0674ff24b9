// Every page of the wizard as a person reaches it in the real main window, and the target-folder and
// result windows of the save step: at the window's least size, at 1280 x 900 and at full HD every
// control shown lies inside its window and none covers another. Each page is left as a picture at
// each size in screenshots/ (page-<name>-<width>x<height>).
//
// The sources are disk images made at test time (CORVALE_DISKS): three volumes with deleted files
// for the deleted-file and format recoveries, a disk whose partition table is gone for the partition
// recovery, and a disk with three volumes.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "EndToEndSteps.h"
#include "app/MainFrame.h"
#include "app/SourceDriveQuery.h"
#include "controls/DeviceSelectCtrl.h"
#include "controls/EditPlus.h"
#include "controls/TransButton.h"
#include "core/FileNode.h"
#include "core/FileRecoverer.h"
#include "dialogs/SaveFilePathDlg.h"
#include "platform/RecoveryContext.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "support/qt/LayoutCheck.h"
#include "ui/MessageBox.h"
#include "wizard/CompleteRecoveryPartitionDeviceSelectPage.h"
#include "wizard/DeleteRecoveryPartitionDeviceSelectPage.h"
#include "wizard/FileSelectPage.h"
#include "wizard/LostRecoveryDiskDeviceSelectPage.h"
#include "wizard/LostRecoveryPartitionDeviceSelectPage.h"
#include "wizard/RecoveryModeSelectPage.h"
#include "wizard/SaveFilePage.h"
#include "wizard/SaveResultPage.h"
#include "wizard/ScanPartitionDeviceSelectPage.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/CompleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/CompleteRecoveryScanPartitionDeviceSelectController.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/LostRecoveryDiskDeviceSelectController.h"
#include "wizard/controller/LostRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/LostRecoveryScanPartitionDeviceSelectController.h"
#include "wizard/controller/SaveFileController.h"
#include "wizard/controller/ScanState.h"

namespace fs = std::filesystem;

namespace {

// The sizes every page is looked at: the least (an empty size), the common one and full HD.
const QSize kSizes[] = {QSize(), QSize(1280, 900), QSize(1920, 1080)};

class PageLayouts : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    std::string why;
    const std::string volumes =
        corvale::test::FixtureImage("deleted_three_volumes.sh", "deleted_three_volumes", &why);
    if (volumes.empty()) GTEST_SKIP() << "fixture unavailable: " << why;
    const std::string lost = corvale::test::FixtureImage("lost_three_fs_disk.sh", "lost_three_fs_disk", &why);
    if (lost.empty()) GTEST_SKIP() << "fixture unavailable: " << why;
    m_folder = corvale::test::ScratchDir();
    std::string disks;
    for (const char* volume : {"ntfs", "fat32", "ext2"}) {
      fs::copy_file(volumes + "/" + volume + ".img", m_folder + "/" + volume + ".img");
      disks += m_folder + "/" + volume + ".img:";
    }
    // A disk with its three volumes, so that the disk page shows a disk row of three volume lines.
    const std::string primary =
        corvale::test::FixtureImage("parts_mbr_primary.sh", "parts_mbr_primary.img", &why);
    if (primary.empty()) GTEST_SKIP() << "fixture unavailable: " << why;
    fs::copy_file(lost + "/disk.img", m_folder + "/disk.img");
    fs::copy_file(primary, m_folder + "/primary.img");
    disks += m_folder + "/disk.img:" + m_folder + "/primary.img";
    setenv("CORVALE_DISKS", disks.c_str(), 1);

    m_previousBox =
        corvale::ui::SetMessageBoxHandler([this](const std::string& text, const std::string&,
                                                 corvale::ui::MessageIcon) { boxes.push_back(text); });
    m_previousQuestion = corvale::ui::SetQuestionHandler(
        [](const std::string&, const std::string&, corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
          return corvale::ui::MessageAnswer::Yes;
        });
    InstallSourceDriveQuery();
    for (int i = 0; i < kWizardPageCount; ++i)
      GetPageController(static_cast<WIZARD_PAGE>(i))->SetPreviousController(nullptr);
    CDeleteRecoveryPartitionDeviceSelectController::ModeHintEnabled() = false;
    CLostRecoveryPartitionDeviceSelectController::FullScanHintEnabled() = false;
    GetLostRecoveryPartitionDeviceSelectController()->SetFullScan(0);
    SetScanStateFolder(m_folder + "/state/");
    fs::create_directories(m_folder + "/state");
    frame = std::make_unique<CMainFrame>();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    sheet = frame->ChildView()->GetWizardSheet();
  }

  void TearDown() override {
    if (m_folder.empty()) return;
    SetSaveDialogRunner(nullptr);
    GetRecoveryContext().PageFlowSwitch = 0;
    GetLostRecoveryPartitionDeviceSelectController()->SetFullScan(0);
    GetFileSelectController()->Cleanup();
    GetCompleteRecoveryScanPartitionDeviceSelectController()->Cleanup();
    GetCompleteRecoveryPartitionDeviceSelectController()->Cleanup();
    GetLostRecoveryScanPartitionDeviceSelectController()->Cleanup();
    GetLostRecoveryPartitionDeviceSelectController()->Cleanup();
    GetLostRecoveryDiskDeviceSelectController()->Cleanup();
    GetDeleteRecoveryPartitionDeviceSelectController()->Cleanup();
    frame.reset();
    CFileRecoverer::SetSourceDeviceQuery({});
    CDeleteRecoveryPartitionDeviceSelectController::ModeHintEnabled() = true;
    CLostRecoveryPartitionDeviceSelectController::FullScanHintEnabled() = true;
    SetScanStateFolder("");
    corvale::ui::SetMessageBoxHandler(m_previousBox);
    corvale::ui::SetQuestionHandler(m_previousQuestion);
    unsetenv("CORVALE_DISKS");
  }

  // `window` at its least size and at the two large ones: what the layout check finds, and its
  // picture; then back at the size it had.
  void CheckAtEverySize(QWidget* window, const std::string& name) {
    const QSize before = window->size();
    for (const QSize& wanted : kSizes) {
      const QSize size = wanted.isValid() ? wanted : window->minimumSize();
      const QStringList problems = layoutcheck::ProblemsAtSize(window, size);
      const QSize shown = window->size();
      EXPECT_EQ(shown, size.expandedTo(window->minimumSize())) << name;
      EXPECT_TRUE(problems.isEmpty()) << name << " at " << shown.width() << "x" << shown.height() << ":\n"
                                      << problems.join("\n").toStdString();
      corvale::test::SaveScreenshot(
          window->grab().toImage(),
          "page-" + name + "-" + std::to_string(shown.width()) + "x" + std::to_string(shown.height()));
    }
    window->resize(before);
    QTest::qWait(20);
  }

  // The current page of the main window at every size.
  void CheckPage(WIZARD_PAGE page, const std::string& name) {
    ASSERT_EQ(sheet->GetCurrentPageIndex(), page) << name;
    CheckAtEverySize(frame.get(), name);
  }

  void Click(QWidget* button) { QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5)); }
  void ClickNext() { Click(sheet->Button(CWizardSheet::kCommandNext)); }
  void ClickHome() { Click(sheet->Button(CWizardSheet::kCommandHome)); }

  // Starts the recovery of `mode` with its button on the welcome page: the file types are shown.
  void Start(int mode) {
    ASSERT_EQ(sheet->GetCurrentPageIndex(), RecoveryModeSelect);
    auto* welcome = static_cast<CRecoveryModeSelectPage*>(sheet->GetPage(RecoveryModeSelect));
    Click(welcome->ModeButton(CRecoveryModeSelectPage::kCommandDeleted + mode));
    ASSERT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
  }

  // Waits until the device page's collection has ended (the window is disabled meanwhile).
  void WaitForTheList() {
    for (int i = 0; i < 6000 && !frame->isEnabled(); ++i) QTest::qWait(10);
    ASSERT_TRUE(frame->isEnabled());
  }

  // Clicks row `row` of a device page's list, once the list is there.
  void PickRow(CDeviceSelectPage* page, int row) {
    WaitForTheList();
    CDeviceSelectCtrl* list = page->GetDeviceSelectCtrl();
    ASSERT_GT(list->GetCount(), row);
    QTest::mouseClick(list->View()->viewport(), Qt::LeftButton, {}, list->View()->RowRect(row).center());
    ASSERT_EQ(list->GetCurSel(), row);
  }

  // Ticks "Manually select historical partitions" on device page `page`, so that the found
  // partitions are shown for choosing.
  void TickManualSelection(CDeviceSelectPage* page) {
    WaitForTheList();
    if (GetRecoveryContext().PageFlowSwitch) return;
    CTransButton* box = page->ManualSelectionBox();
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    QCoreApplication::processEvents();
    ASSERT_EQ(GetRecoveryContext().PageFlowSwitch, 1);
  }

  template <typename Page>
  Page* PageOf(WIZARD_PAGE page) {
    return static_cast<Page*>(sheet->GetPage(page));
  }

  std::unique_ptr<CMainFrame> frame;
  CWizardSheet* sheet = nullptr;
  std::vector<std::string> boxes;
  std::string m_folder;

 private:
  corvale::ui::MessageBoxHandler m_previousBox;
  corvale::ui::QuestionHandler m_previousQuestion;
};

}  // namespace

// The welcome page keeps the window's first size; as on a screen too small for that size, it is
// also looked at down to the least size of the other pages.
TEST_F(PageLayouts, TheWelcomePageAndTheDeletedFileRecoveryToItsResult) {
  EXPECT_LT(frame->MinimumUsableSize().width(), CMainFrame::kClientWidth);
  EXPECT_LT(frame->MinimumUsableSize().height(), CMainFrame::kClientHeight);
  frame->SetWindowResizable(true);
  CheckPage(RecoveryModeSelect, "welcome");
  frame->SetWindowResizable(false);
  EXPECT_EQ(frame->size(), QSize(CMainFrame::kClientWidth, CMainFrame::kClientHeight));

  Start(0);
  CheckPage(TypeOfFileToRecovery, "deleted-1-file-types");
  ClickNext();
  auto* volumes = PageOf<CDeleteRecoveryPartitionDeviceSelectPage>(DeleteRecoveryPartitionDeviceSelect);
  PickRow(volumes, 0);
  CheckPage(DeleteRecoveryPartitionDeviceSelect, "deleted-2-volume");
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  auto* files = PageOf<CFileSelectPage>(FileSelect);
  ASSERT_NE(files->GetFileTree(), nullptr);
  corvale::test::TickInTree(files, files->GetFileTree()->GetFirstChild(), frame.get());
  CheckPage(FileSelect, "deleted-3-files");

  // The save step: the target-folder window with a folder typed in, then the result window.
  const std::string target = m_folder + "/recovered";
  int windows = 0;
  SetSaveDialogRunner([&](QDialog& dialog) {
    if (auto* folder = qobject_cast<CSaveFilePathDlg*>(&dialog)) {
      QTimer::singleShot(0, folder, [&, folder] {
        ++windows;
        QTest::keyClicks(GetSaveFileController()->GetPage()->Edit(), QString::fromStdString(target));
        QTest::qWait(CSaveFilePage::kTypingPauseMs + 100);
        CheckAtEverySize(folder, "save-target-folder");
        Click(folder->OkButton());
      });
    } else if (auto* result = qobject_cast<CSaveFileResultDlg*>(&dialog)) {
      QTimer::singleShot(0, result, [&, result] {
        ++windows;
        CheckAtEverySize(result, "save-result");
        Click(static_cast<CSaveResultPage*>(result->Page())->OkButton());
      });
    }
    return dialog.exec();
  });
  Click(sheet->FileNextButton());
  EXPECT_EQ(windows, 2);
  EXPECT_FALSE(corvale::test::FilesBelow(target).empty()) << "the ticked files were written";
}

TEST_F(PageLayouts, TheFormatRecoveryPagesDownToTheScannedPartitions) {
  Start(1);
  ClickNext();
  auto* devices = PageOf<CCompleteRecoveryPartitionDeviceSelectPage>(CompleteRecoveryPartitionDeviceSelect);
  TickManualSelection(devices);
  // The ext2 volume, the smallest to scan.
  PickRow(devices, 2);
  CheckPage(CompleteRecoveryPartitionDeviceSelect, "format-2-device");
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect)
      << (boxes.empty() ? std::string() : boxes.front());
  ASSERT_GT(
      PageOf<CScanPartitionDeviceSelectPage>(CompleteRecoveryScanPartitionDeviceSelect)->GetPartitionCount(),
      0);
  CheckPage(CompleteRecoveryScanPartitionDeviceSelect, "format-3-scanned-partitions");
}

TEST_F(PageLayouts, ThePartitionRecoveryPagesDownToTheFullScansPartitions) {
  Start(2);
  ClickNext();
  auto* disks = PageOf<CLostRecoveryDiskDeviceSelectPage>(LostRecoveryDiskDeviceSelect);
  TickManualSelection(disks);
  // The disk whose partition table is gone, after the three volumes.
  PickRow(disks, 3);
  CheckPage(LostRecoveryDiskDeviceSelect, "partition-2-disk");
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryPartitionDeviceSelect)
      << (boxes.empty() ? std::string() : boxes.front());
  auto* lost = PageOf<CLostRecoveryPartitionDeviceSelectPage>(LostRecoveryPartitionDeviceSelect);
  CheckPage(LostRecoveryPartitionDeviceSelect, "partition-3-lost-partitions");

  // Full Scan: the whole disk searched, its partitions shown for ticking.
  QTest::mouseClick(lost->FullScanBox(), Qt::LeftButton, {}, QPoint(5, lost->FullScanBox()->height() / 2));
  QCoreApplication::processEvents();
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryScanPartitionDeviceSelect)
      << (boxes.empty() ? std::string() : boxes.front());
  auto* found = PageOf<CScanPartitionDeviceSelectPage>(LostRecoveryScanPartitionDeviceSelect);
  ASSERT_GE(found->GetPartitionCount(), 3);
  CheckPage(LostRecoveryScanPartitionDeviceSelect, "partition-4-found-partitions");
}
