// Deleted File Recovery as a person does it in the real main window: the mode, the volume, the
// build, ticking the deleted files, the target folder and the recovery, over real NTFS, FAT32 and
// ext2 volumes named by CORVALE_DISKS; the recovered files are compared with those deleted.
#include "app/DeletedRecoveryWindowTest.h"

namespace {

using corvale::test::kVolumes;

class DeletedFileRecoveryEndToEnd : public corvale::test::DeletedFileRecoveryWindowTest {};

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

  RecoverDeletedFilesAndCompare(volume);
}

INSTANTIATE_TEST_SUITE_P(Volumes, DeletedFileRecoveryEndToEnd, ::testing::Values(0, 1, 2));

}  // namespace
