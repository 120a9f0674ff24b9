// Deleted File Recovery on the volumes of dynamic disks, in the real main window: two disks whose
// LDM database describes a FAT32 volume spanned over both and an ext2 simple volume (each made by
// its own tool, with files deleted by the tools), named by CORVALE_DISKS. Both volumes are listed
// with letters; the chosen one is built, and its deleted files come back by path and bytes.
#include <fstream>
#include <iterator>

#include "app/DeletedRecoveryWindowTest.h"
#include "support/LdmImageBuilder.h"

namespace {

namespace ldm = corvale::test::ldm;

std::vector<uint8_t> WholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The rows of the volume list, in the order of the volumes: the fixture's FAT32 and ext2 volumes.
const struct {
  const char* volume;
  const char* text;
} kRows[] = {{"fat32", "C : DELFAT32  (FAT32)"}, {"ext2", "D : delext2  (EXT2)"}};

class DynamicVolumeRecoveryEndToEnd : public corvale::test::DeletedFileRecoveryWindowTest {};

TEST_P(DynamicVolumeRecoveryEndToEnd, TheDeletedFilesOfADynamicVolumeComeBackWhole) {
  if (!corvale::test::HaveTool("sfdisk")) GTEST_SKIP() << "sfdisk is not installed";
  const int row = GetParam();
  const std::string volume = kRows[row].volume;

  // The 40 MiB FAT32 volume spans both disks, 24 MiB on the first; the 8 MiB ext2 volume follows
  // it on the second.
  const std::vector<uint8_t> fat = WholeFile(m_fixture + "/fat32.img");
  const std::vector<uint8_t> ext2 = WholeFile(m_fixture + "/ext2.img");
  ASSERT_EQ(fat.size(), 40u << 20);
  ASSERT_EQ(ext2.size(), 8u << 20);
  constexpr uint64_t kFirstPiece = 24 * 2048;
  const uint64_t fatSectors = fat.size() / 512;
  ldm::PlacedVolume spanned{"Volume1", fat, {{0, kFirstPiece}, {1, fatSectors - kFirstPiece}}, 0x0C, {}};
  ldm::PlacedVolume simple{"Volume2", ext2, {{1, ext2.size() / 512}}, 0x83, {}};
  spanned.guid[0] = 0x11;
  simple.guid[0] = 0x22;
  const std::vector<std::string> disks = {m_folder + "/dynamic0.img", m_folder + "/dynamic1.img"};
  std::string why;
  ASSERT_TRUE(ldm::WriteDynamicDisks(disks, 32 * 2048, {spanned, simple}, &why)) << why;
  setenv("CORVALE_DISKS", (disks[0] + ":" + disks[1]).c_str(), 1);

  auto* welcome = static_cast<CRecoveryModeSelectPage*>(sheet->GetPage(RecoveryModeSelect));
  QTest::mouseClick(welcome->ModeButton(CRecoveryModeSelectPage::kCommandDeleted), Qt::LeftButton, {},
                    QPoint(10, 10));
  ASSERT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), DeleteRecoveryPartitionDeviceSelect);
  for (int i = 0; i < 6000 && GetDeleteRecoveryPartitionDeviceSelectController()->IsCollecting(); ++i)
    QTest::qWait(10);
  auto* list = static_cast<CDeleteRecoveryPartitionDeviceSelectPage*>(
                   sheet->GetPage(DeleteRecoveryPartitionDeviceSelect))
                   ->GetDeviceSelectCtrl();
  ASSERT_EQ(list->GetCount(), 2);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(list->CellText(i, 0).toStdString(), kRows[i].text) << i;
  EXPECT_EQ(list->CellText(0, 2).toStdString(), "SPANNED volume on " + disks[0] + ", " + disks[1]);
  EXPECT_EQ(list->CellText(1, 2).toStdString(), "SIMPLE volume on " + disks[1]);
  if (row == 0) corvale::test::SaveScreenshot(frame->grab().toImage(), "deleted-recovery-dynamic-volumes");

  QTest::mouseClick(list->View()->viewport(), Qt::LeftButton, {}, list->View()->RowRect(row).center());
  ASSERT_EQ(list->GetCurSel(), row);
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect) << (boxes.empty() ? "" : boxes.back());
  ASSERT_TRUE(boxes.empty()) << boxes.front();

  RecoverDeletedFilesAndCompare(volume);
}

INSTANTIATE_TEST_SUITE_P(Volumes, DynamicVolumeRecoveryEndToEnd, ::testing::Values(0, 1));

}  // namespace
