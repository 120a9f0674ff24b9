// A volume imaged through the create-image wizard from the volume page, the image closed, opened
// again through the open-image wizard, and Deleted File Recovery run on it: every deleted file
// comes back by path and bytes, for NTFS, FAT32 and ext2 volumes made at test time.
#include <QAction>
#include <QLineEdit>
#include <QMenu>

#include "app/DeletedRecoveryWindowTest.h"
#include "dialogs/ImageDiskMasterDlg.h"
#include "dialogs/OpenDiskImageMasterDlg.h"

namespace {

using corvale::test::kVolumes;

class DiskImageEndToEnd : public corvale::test::DeletedFileRecoveryWindowTest {
 protected:
  void TearDown() override {
    // The file page's tree reads the image; it goes first.
    GetFileSelectController()->Cleanup();
    GetDeleteRecoveryPartitionDeviceSelectController()->CloseAllImages();
    DeletedFileRecoveryWindowTest::TearDown();
  }

  // Chooses the image-menu entry `text` on the volume page, and runs `drive` on the wizard it opens.
  template <typename Wizard>
  void RunImageMenu(const char* text, std::function<void(Wizard&)> drive) {
    corvale::test::RunImageMenu<Wizard>(static_cast<CDeleteRecoveryPartitionDeviceSelectPage*>(
                                            sheet->GetPage(DeleteRecoveryPartitionDeviceSelect)),
                                        text, std::move(drive));
  }

  CDeviceSelectCtrl* List() {
    return static_cast<CDeleteRecoveryPartitionDeviceSelectPage*>(
               sheet->GetPage(DeleteRecoveryPartitionDeviceSelect))
        ->GetDeviceSelectCtrl();
  }
  void SelectRow(int row) {
    CDeviceSelectCtrl* list = List();
    QTest::mouseClick(list->View()->viewport(), Qt::LeftButton, {}, list->View()->RowRect(row).center());
    ASSERT_EQ(list->GetCurSel(), row);
  }
};

TEST_P(DiskImageEndToEnd, AVolumeImagedAndOpenedAgainGivesBackEveryDeletedFile) {
  const int row = GetParam();
  const std::string volume = kVolumes[row];
  auto* welcome = static_cast<CRecoveryModeSelectPage*>(sheet->GetPage(RecoveryModeSelect));
  QTest::mouseClick(welcome->ModeButton(CRecoveryModeSelectPage::kCommandDeleted), Qt::LeftButton, {},
                    QPoint(10, 10));
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), DeleteRecoveryPartitionDeviceSelect);
  for (int i = 0; i < 6000 && GetDeleteRecoveryPartitionDeviceSelectController()->IsCollecting(); ++i)
    QTest::qWait(10);
  ASSERT_EQ(List()->GetCount(), 3);
  SelectRow(row);

  // Image the volume into slices in a folder of its own.
  const std::string images = m_folder + "/images";
  fs::create_directories(images);
  const std::string descriptor = images + "/" + volume + ".kbi";
  RunImageMenu<CImageDiskMasterDlg>("Disk Image", [&](CImageDiskMasterDlg& wizard) {
    wizard.OnNext();
    wizard.PathPage()->PathEdit()->setText(QString::fromStdString(images + "/" + volume));
    wizard.OnNext();
    ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kSummary);
    wizard.OnNext();
    ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.GetStep() == CImageDiskMasterDlg::kSuccess; }, 120000));
    corvale::test::SaveScreenshot(wizard.grab().toImage(), "image-e2e-created-" + volume);
    wizard.OnNext();
  });
  ASSERT_EQ(List()->GetCount(), 4) << (boxes.empty() ? "" : boxes.back());
  ASSERT_TRUE(fs::exists(descriptor));
  // The images lie on the disk the volumes are on: the same-disk caution is given (and accepted).
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_NE(questions[0].find("on the disk that is being imaged"), std::string::npos) << questions[0];
  questions.clear();
  corvale::test::SaveScreenshot(frame->grab().toImage(), "image-e2e-listed-" + volume);

  // Take it off the list, and open it again from its files.
  SelectRow(3);
  RunImageMenu<QDialog>("Delete Image", nullptr);
  ASSERT_EQ(List()->GetCount(), 3);
  RunImageMenu<COpenDiskImageMasterDlg>("Open Disk Image", [&](COpenDiskImageMasterDlg& wizard) {
    wizard.OnNext();
    wizard.PathPage()->PathEdit()->setText(QString::fromStdString(descriptor));
    wizard.OnNext();
    ASSERT_EQ(wizard.GetStep(), COpenDiskImageMasterDlg::kSuccess);
    wizard.OnNext();
  });
  ASSERT_EQ(List()->GetCount(), 4);

  // Deleted File Recovery on the image.
  SelectRow(3);
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect) << (boxes.empty() ? "" : boxes.back());
  RecoverDeletedFilesAndCompare(volume);
}

INSTANTIATE_TEST_SUITE_P(Volumes, DiskImageEndToEnd, ::testing::Values(0, 1, 2));

}  // namespace
