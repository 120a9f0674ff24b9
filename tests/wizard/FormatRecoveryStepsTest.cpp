// Format recovery's device and found-partition steps in the wizard sheet, driven with the mouse
// over volumes that are real images made at test time: a reformatted FAT16 volume, a disk with six
// file systems searched as one volume, and an image with nothing but pictures on it.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "controls/DeviceSelectCtrl.h"
#include "controls/MultipleChoosePartitionListCtrl.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/SearchedPartitionInfo.h"
#include "dialogs/BuildDirectoryDlg.h"
#include "dialogs/IntelligentSearchingDlg.h"
#include "platform/RecoveryContext.h"
#include "storage/CompressController.h"
#include "storage/Compressor.h"
#include "storage/ImageFileDevice.h"
#include "support/QtTestApp.h"
#include "ui/AppInfo.h"
#include "wizard/CompleteRecoveryScanPartitionDeviceSelectPage.h"
#include "wizard/DeviceSelectPage.h"
#include "wizard/WizardHarness.h"
#include "wizard/controller/CompleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/CompleteRecoveryScanPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/ScanState.h"
#include "wizard/controller/WholeDeviceSearch.h"

using corvale::test::WizardHarness;

namespace {

using Sheet = CWizardSheet;

class FormatRecoverySteps : public WizardHarness {
 protected:
  void SetUp() override {
    WizardHarness::SetUp();
    CRecoveryContext& context = GetRecoveryContext();
    m_savedRawOnly = context.RawFilesOnly;
    m_savedRecoverRaw = context.RecoverRawFiles;
    context.RecoveryMode = 1;
    m_previousSearchHook = SetWholeDeviceSearchHook([this](CIntelligentSearchingDlg& dialog) {
      ++searches;
      // Cancel as the user would: the question is answered Yes by the harness.
      if (cancelSearch) dialog.reject();
    });
    m_previousBuildHook = SetSearchBuildHook([this](CBuildDirectoryDlg& dialog) {
      ++builds;
      // The window answers the user while the rest of the program waits.
      EXPECT_TRUE(dialog.isEnabled());
      EXPECT_FALSE(sheet->window()->isEnabled());
      // Cancel as the user would: the question is answered Yes by the harness.
      if (cancelBuild) QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    });
  }
  void TearDown() override {
    SetWholeDeviceSearchHook(m_previousSearchHook);
    SetSearchBuildHook(m_previousBuildHook);
    CRecoveryContext& context = GetRecoveryContext();
    context.RawFilesOnly = m_savedRawOnly;
    context.RecoverRawFiles = m_savedRecoverRaw;
    GetCompleteRecoveryPartitionDeviceSelectController()->CloseAllImages();
    WizardHarness::TearDown();
  }

  CCompleteRecoveryPartitionDeviceSelectController* Device() const {
    return GetCompleteRecoveryPartitionDeviceSelectController();
  }
  CCompleteRecoveryScanPartitionDeviceSelectController* Scan() const {
    return GetCompleteRecoveryScanPartitionDeviceSelectController();
  }
  CCompleteRecoveryScanPartitionDeviceSelectPage* ScanPage() const {
    return static_cast<CCompleteRecoveryScanPartitionDeviceSelectPage*>(
        sheet->GetPage(CompleteRecoveryScanPartitionDeviceSelect));
  }

  // Ticks or unticks a row of the found-partition page by a click on its name's box.
  void ClickTick(int row, bool ticked) const {
    CMultipleChoosePartitionListCtrl* list = ScanPage()->PartitionList();
    if ((list->GetCheck(row) != 0) == ticked) return;
    list->Table()->scrollTo(list->Model()->index(row, 0));
    const QRect box = list->NameCheckRect(row);
    ASSERT_FALSE(box.isEmpty()) << row;
    QTest::mouseClick(list->Table()->viewport(), Qt::LeftButton, {}, box.center());
    ASSERT_EQ(list->GetCheck(row) != 0, ticked) << row;
  }

  // Welcome page -> file types -> the device page, then the first volume and Next.
  void SearchFirstVolume() {
    StartRecovery(1);
    Click(Sheet::kCommandNext);
    ASSERT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryPartitionDeviceSelect);
    SelectFormatRecoveryRow(0);
    Click(Sheet::kCommandNext);
  }

  // The start sectors of the rows of the found-partition page.
  std::vector<int64_t> RowStarts() const {
    std::vector<int64_t> starts;
    for (int row = 0; row < ScanPage()->GetPartitionCount(); ++row)
      if (CSearchedPartitionInfo* info = ScanPage()->GetPartitionAt(row))
        starts.push_back(static_cast<int64_t>(info->GetStartSector()));
    return starts;
  }

  // A disk whose table is gone, with NTFS, FAT32 and Ext2 file systems full of files, searched as
  // one volume.
  bool GiveThreeFileSystems(std::string* why) {
    const std::string folder =
        corvale::test::FixtureImage("lost_three_fs_disk.sh", "lost_three_fs_disk", why);
    if (folder.empty()) return false;
    const std::string image = folder + "/disk.img";
    Device()->SetCollector([image] { return corvale::test::CollectImageVolumes({{image, "DISK", 7}}); });
    GetRecoveryContext().PageFlowSwitch = 1;
    return true;
  }

  void Save(const std::string& name) {
    QCoreApplication::processEvents();
    EXPECT_FALSE(corvale::test::SaveScreenshot(sheet->grab().toImage(), name).empty()) << name;
  }

  bool HasBox(const std::string& text) const {
    return std::any_of(boxes.begin(), boxes.end(),
                       [&](const std::string& box) { return box.find(text) != std::string::npos; });
  }
  bool HasEvent(int id) const {
    return std::any_of(events.begin(), events.end(), [&](const auto& e) { return e.eventId == id; });
  }

  int searches = 0;
  int builds = 0;
  bool cancelBuild = false;
  bool cancelSearch = false;

 private:
  int32_t m_savedRawOnly = 0;
  int32_t m_savedRecoverRaw = 1;
  WholeDeviceSearchHook m_previousSearchHook;
  SearchBuildHook m_previousBuildHook;
};

TEST_F(FormatRecoverySteps, MoreThanFourTickedPartitionsAreRefusedAndNothingIsBuilt) {
  std::string why;
  if (!GiveFormatRecoveryAVolume("parts_gpt_many.sh", "parts_gpt_many.img", "DISK", kFileSystemUnknown, &why))
    GTEST_SKIP() << why;
  SearchFirstVolume();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
  EXPECT_EQ(searches, 1);
  CMultipleChoosePartitionListCtrl* list = ScanPage()->PartitionList();
  ASSERT_GE(list->GetPartitionCount(), 5) << "the disk holds six file systems";
  for (int row = 0; row < 5; ++row) ClickTick(row, true);
  ASSERT_EQ(ScanPage()->GetCheckedCount(), 5);
  Save("format-recovery-found-partitions-five-ticked");

  Click(Sheet::kCommandNext);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
  EXPECT_TRUE(HasBox("Please select partitions, the number of partitions should be no more than 4 !"));
  EXPECT_EQ(builds, 0);
  EXPECT_EQ(GetFileSelectController()->GetFileTree(), nullptr);

  // Four are built, under one window; the disk's file systems hold no files, so the user is told
  // and stays.
  ClickTick(4, false);
  Click(Sheet::kCommandNext);
  EXPECT_EQ(builds, 1);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
  EXPECT_TRUE(HasBox("No files found!"));
  EXPECT_EQ(GetFileSelectController()->GetFileTree(), nullptr);
}

TEST_F(FormatRecoverySteps, ACancelledBuildFreesWhatWasBuiltAndStaysOnThePage) {
  std::string why;
  if (!GiveThreeFileSystems(&why)) GTEST_SKIP() << why;
  SearchFirstVolume();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
  CMultipleChoosePartitionListCtrl* list = ScanPage()->PartitionList();
  ASSERT_GE(list->GetPartitionCount(), 2);
  for (int row = 0; row < list->GetPartitionCount(); ++row) ClickTick(row, row < 2);
  const std::vector<int64_t> before = RowStarts();

  // The cancel is confirmed before the first partition is built: that one is still built, then the
  // build stops and everything built goes (the sanitizer's leak check sees the rest).
  cancelBuild = true;
  Click(Sheet::kCommandNext);
  EXPECT_EQ(builds, 1);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
  EXPECT_EQ(GetFileSelectController()->GetFileTree(), nullptr);
  EXPECT_TRUE(Scan()->WasLastBuildCancelled());
  EXPECT_TRUE(HasEvent(CCompleteRecoveryScanPartitionDeviceSelectController::kEventCancelled));
  EXPECT_EQ(RowStarts(), before) << "the search result stays for another try";
  EXPECT_TRUE(sheet->window()->isEnabled());

  cancelBuild = false;
  Click(Sheet::kCommandNext);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
}

TEST_F(FormatRecoverySteps, WithThePageSkippedBackOnTheFilePageReturnsToTheDevices) {
  std::string why;
  if (!GiveFormatRecoveryAVolume("fat16_reformatted.sh", "fat16_reformatted.img", "FAT16VOL",
                                 kFileSystemFat16, &why))
    GTEST_SKIP() << why;
  GetRecoveryContext().PageFlowSwitch = 0;
  SearchFirstVolume();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect) << "the recommended partition is built at once";
  EXPECT_EQ(builds, 1);
  EXPECT_EQ(GetFileSelectController()->GetPreviousController(), Device());
  EXPECT_TRUE(Scan()->Results().found.empty()) << "the skipped step let its search result go";
  SelectionSummary summary;
  static_cast<CFileSystemNode*>(GetFileSelectController()->GetFileTree())->GetSummary(summary);
  EXPECT_GT(summary.files, 0u);

  Click(Sheet::kCommandBack);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryPartitionDeviceSelect);
  EXPECT_EQ(questions.back(), GetProductTitle() + "|Are you sure to quit searching?");
}

TEST_F(FormatRecoverySteps, ARestoredScanShowsTheSamePartitionsAndBuildsWithoutSearching) {
  std::string why;
  if (!GiveThreeFileSystems(&why)) GTEST_SKIP() << why;
  SearchFirstVolume();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
  const std::vector<int64_t> found = RowStarts();
  ASSERT_FALSE(found.empty());

  // The next run: back home, and format recovery again, which now offers the saved scan first.
  Click(Sheet::kCommandHome);
  ASSERT_EQ(sheet->GetCurrentPageIndex(), RecoveryModeSelect);
  CCompleteRecoveryPartitionDeviceSelectController::CommitPending() = true;
  StartRecovery(1);
  Click(Sheet::kCommandNext);
  WaitForVolumeList();
  CDeviceSelectCtrl* list = Device()->GetList();
  ASSERT_EQ(list->GetCount(), 2) << "Previous Recovery... and the volume";
  EXPECT_EQ(list->CellText(0, 0).toStdString(), "Previous Recovery...");
  EXPECT_NE(list->CellText(0, 2).toStdString().find("Results for \r\nPartition \"F: DISK"), std::string::npos)
      << list->CellText(0, 1).toStdString() << "|" << list->CellText(0, 2).toStdString();

  SelectFormatRecoveryRow(0);
  Save("format-recovery-device-page-previous-recovery");
  Click(Sheet::kCommandNext);
  ASSERT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
  Save("format-recovery-found-partitions-restored");
  EXPECT_EQ(searches, 1) << "the restore did not search again";
  EXPECT_EQ(RowStarts(), found);
  EXPECT_FALSE(HasBox("Failed to restore last search result."));

  Click(Sheet::kCommandNext);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  EXPECT_EQ(searches, 1);
}

TEST_F(FormatRecoverySteps, RemoveOnTheSavedScansRowDeletesItsFile) {
  std::string why;
  if (!GiveFormatRecoveryAVolume("fat16_reformatted.sh", "fat16_reformatted.img", "FAT16VOL",
                                 kFileSystemFat16, &why))
    GTEST_SKIP() << why;
  SearchFirstVolume();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
  Click(Sheet::kCommandHome);
  CCompleteRecoveryPartitionDeviceSelectController::CommitPending() = true;
  StartRecovery(1);
  Click(Sheet::kCommandNext);
  WaitForVolumeList();
  ASSERT_EQ(Device()->GetList()->GetCount(), 2);
  const std::string last = ScanStateLastFile(kRecoveryKindComplete);
  ASSERT_TRUE(std::filesystem::exists(last));

  SelectFormatRecoveryRow(0);
  auto* page = static_cast<CDeviceSelectPage*>(sheet->GetPage(CompleteRecoveryPartitionDeviceSelect));
  std::vector<std::string> entries;
  page->SetMenuRunner([&entries](QMenu& menu, const QPoint&) -> QAction* {
    for (QAction* action : menu.actions()) entries.push_back(action->text().toStdString());
    return menu.actions().value(1);
  });
  emit Device()->GetList()->itemRightClicked(QPoint(0, 0));
  page->SetMenuRunner(nullptr);
  EXPECT_EQ(entries, (std::vector<std::string>{"Continue", "Remove"}));
  EXPECT_EQ(Device()->GetList()->GetCount(), 1);
  EXPECT_FALSE(std::filesystem::exists(last));
}

TEST_F(FormatRecoverySteps, ASavedScanWhoseVolumeIsGoneFailsWithItsMessage) {
  std::string why;
  if (!GiveFormatRecoveryAVolume("fat16_reformatted.sh", "fat16_reformatted.img", "FAT16VOL",
                                 kFileSystemFat16, &why))
    GTEST_SKIP() << why;
  SearchFirstVolume();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
  Click(Sheet::kCommandHome);

  // The next run sees another volume only.
  const std::string other =
      corvale::test::FixtureImage("carved_pictures_only.sh", "carved_pictures_only.img", &why);
  if (other.empty()) GTEST_SKIP() << why;
  Device()->SetCollector([other] { return corvale::test::CollectImageVolumes({{other, "PICS", 7}}); });
  CCompleteRecoveryPartitionDeviceSelectController::CommitPending() = true;
  StartRecovery(1);
  Click(Sheet::kCommandNext);
  WaitForVolumeList();
  ASSERT_EQ(Device()->GetList()->GetCount(), 2);
  SelectFormatRecoveryRow(0);
  Click(Sheet::kCommandNext);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryPartitionDeviceSelect);
  EXPECT_TRUE(HasBox("Failed to restore last search result."));
  EXPECT_EQ(searches, 1);
  EXPECT_TRUE(Scan()->Results().found.empty());
}

TEST_F(FormatRecoverySteps, NothingFoundButPicturesLeadsToTheCarvedFilesTree) {
  std::string why;
  if (!GiveFormatRecoveryAVolume("carved_pictures_only.sh", "carved_pictures_only.img", "PICS",
                                 kFileSystemUnknown, &why))
    GTEST_SKIP() << why;
  SearchFirstVolume();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  EXPECT_EQ(builds, 1) << "the Raw Files folder is built under the build window";
  EXPECT_EQ(GetFileSelectController()->GetPreviousController(), Device());
  auto* root = static_cast<CFileSystemNode*>(GetFileSelectController()->GetFileTree());
  ASSERT_NE(root, nullptr);
  SelectionSummary summary;
  root->GetSummary(summary);
  EXPECT_GE(summary.files, 4u) << "three JPEG and one PNG picture";
  ASSERT_NE(root->GetFirstChild(), nullptr);
  ASSERT_NE(root->GetFirstChild()->GetFileProperties(), nullptr);
  EXPECT_EQ(std::string(root->GetFirstChild()->GetFileProperties()->GetName()), "Raw Files");
  Save("format-recovery-carved-files");
}

TEST_F(FormatRecoverySteps, OnlyRawFilesWithoutRawRecoverySearchesNothingAndFindsNothing) {
  std::string why;
  if (!GiveFormatRecoveryAVolume("carved_pictures_only.sh", "carved_pictures_only.img", "PICS",
                                 kFileSystemUnknown, &why))
    GTEST_SKIP() << why;
  StartRecovery(1);
  Click(Sheet::kCommandNext);
  // The welcome page puts the options back to their defaults: they are set on the device page.
  CRecoveryContext& context = GetRecoveryContext();
  context.RawFilesOnly = 1;
  context.RecoverRawFiles = 0;
  EXPECT_TRUE(MakeWholeDeviceSearchControllers().empty());
  SelectFormatRecoveryRow(0);
  Click(Sheet::kCommandNext);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryPartitionDeviceSelect);
  EXPECT_TRUE(HasBox("No files found!"));
  EXPECT_EQ(GetFileSelectController()->GetFileTree(), nullptr);
}

// Disk images on the device page: one listed per path; a file that is no image is refused.
TEST_F(FormatRecoverySteps, AnImageIsListedOnceAndAFileThatIsNoImageIsRefused) {
  std::string why;
  const std::string source =
      corvale::test::FixtureImage("carved_pictures_only.sh", "carved_pictures_only.img", &why);
  if (source.empty()) GTEST_SKIP() << why;
  const std::string image = Folder() + "pictures.kbi";
  {
    CImageFileDevice device(source);
    CCompressController compressor;
    compressor.SetSource(&device, "PICS (F:\\ FAT16)", ~0ull, ~0ull, 255);
    compressor.SetCompressParam(COMPRESSION_ZLIB, 1, 0);
    compressor.SetImageFilePath(image);
    ASSERT_TRUE(compressor.Compress(nullptr)) << compressor.GetErrorText();
  }
  StartRecovery(1);
  Click(Sheet::kCommandNext);
  WaitForVolumeList();
  const int rowsBefore = Device()->GetList()->GetCount();

  ASSERT_TRUE(Device()->AddImage("PICS (F:\\ FAT16)", image, 16384, 512));
  EXPECT_EQ(Device()->GetList()->GetCount(), rowsBefore + 1);
  EXPECT_EQ(Device()->GetList()->CellText(rowsBefore, 0).toStdString(), "Image File, PICS (F:\\ FAT16)");

  EXPECT_FALSE(Device()->AddImage("again", image, 16384, 512));
  EXPECT_TRUE(HasBox("This image file is open!"));
  EXPECT_FALSE(Device()->AddImage("no image", source, 16384, 512));
  EXPECT_TRUE(HasBox("This is an invalid image file, please check it!"));
  EXPECT_EQ(Device()->GetList()->GetCount(), rowsBefore + 1);
  EXPECT_EQ(Device()->Images().size(), 1u);

  // The listed image is searched like a volume and saved as an image.
  SelectFormatRecoveryRow(rowsBefore);
  Click(Sheet::kCommandNext);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  EXPECT_EQ(GetRecoveryContext().SourceDriveLetter, 255);
}

TEST_F(FormatRecoverySteps, ACancelledSearchLeavesNothingAndStaysOnTheDevicePage) {
  std::string why;
  if (!GiveFormatRecoveryAVolume("fat16_reformatted.sh", "fat16_reformatted.img", "FAT16VOL",
                                 kFileSystemFat16, &why))
    GTEST_SKIP() << why;
  cancelSearch = true;
  SearchFirstVolume();
  EXPECT_EQ(searches, 1);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryPartitionDeviceSelect);
  EXPECT_TRUE(Scan()->Results().found.empty());
  EXPECT_EQ(GetFileSelectController()->GetFileTree(), nullptr);
  EXPECT_EQ(builds, 0);
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(sheet->window()->isEnabled());

  // The next try searches to the end.
  cancelSearch = false;
  SelectFormatRecoveryRow(0);
  Click(Sheet::kCommandNext);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
}

// Ctrl+O: a raw image file is searched at once, as the chosen source, and listed with the images.
TEST_F(FormatRecoverySteps, ARawImageFileIsSearchedAsTheChosenSource) {
  std::string why;
  const std::string file =
      corvale::test::FixtureImage("carved_pictures_only.sh", "carved_pictures_only.img", &why);
  if (file.empty()) GTEST_SKIP() << why;
  StartRecovery(1);
  Click(Sheet::kCommandNext);
  WaitForVolumeList();
  int asked = 0;
  Device()->SetRawImagePathAsker([&asked, file] {
    ++asked;
    return asked == 1 ? std::string() : file;
  });
  sheet->SendCommandToCurrentPage(CDeviceSelectPage::kCommandOpenRawImage);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryPartitionDeviceSelect) << "no file chosen";
  EXPECT_EQ(searches, 0);

  sheet->SendCommandToCurrentPage(CDeviceSelectPage::kCommandOpenRawImage);
  Device()->SetRawImagePathAsker(nullptr);
  EXPECT_EQ(searches, 1);
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  ASSERT_NE(Device()->GetChosen(), nullptr);
  EXPECT_EQ(Device()->GetChosen()->ImagePath, file);
  EXPECT_EQ(Device()->Images().size(), 1u);
  EXPECT_EQ(GetRecoveryContext().SourceDriveLetter, 255);
  EXPECT_EQ(GetFileSelectController()->GetSourceSelection().GetSourceDevice(), Device()->GetChosen()->Device)
      << "the file step reads the raw image, not an earlier choice";
}

// A raw image file is saved by its path, but cannot be opened again as an image: its saved scan is
// refused with the restore's message instead of reading a device of no sectors.
TEST_F(FormatRecoverySteps, ASavedScanOfARawImageFileIsRefused) {
  std::string why;
  const std::string file = corvale::test::FixtureImage("fat16_reformatted.sh", "fat16_reformatted.img", &why);
  if (file.empty()) GTEST_SKIP() << why;
  GetRecoveryContext().PageFlowSwitch = 1;
  StartRecovery(1);
  Click(Sheet::kCommandNext);
  WaitForVolumeList();
  Device()->SetRawImagePathAsker([file] { return file; });
  sheet->SendCommandToCurrentPage(CDeviceSelectPage::kCommandOpenRawImage);
  Device()->SetRawImagePathAsker(nullptr);
  ASSERT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);

  Click(Sheet::kCommandHome);
  CCompleteRecoveryPartitionDeviceSelectController::CommitPending() = true;
  StartRecovery(1);
  Click(Sheet::kCommandNext);
  WaitForVolumeList();
  ASSERT_EQ(Device()->GetList()->GetCount(), 1) << "Previous Recovery... only";
  EXPECT_NE(Device()->GetList()->CellText(0, 2).toStdString().find("Image File \"fat16_reformatted.img\""),
            std::string::npos);
  SelectFormatRecoveryRow(0);
  Click(Sheet::kCommandNext);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryPartitionDeviceSelect);
  EXPECT_TRUE(HasBox("Failed to restore last search result."));
  EXPECT_EQ(searches, 1);
}

// Without the found-partition page, a build that finds no files shows the page instead of
// throwing the search away unseen.
TEST_F(FormatRecoverySteps, WithThePageSkippedABuildThatFindsNothingShowsTheFoundPartitions) {
  std::string why;
  if (!GiveFormatRecoveryAVolume("parts_gpt_many.sh", "parts_gpt_many.img", "DISK", kFileSystemUnknown, &why))
    GTEST_SKIP() << why;
  GetRecoveryContext().PageFlowSwitch = 0;
  SearchFirstVolume();
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
  EXPECT_TRUE(HasBox("No files found!"));
  EXPECT_FALSE(Scan()->Results().found.empty());
  EXPECT_GT(ScanPage()->GetPartitionCount(), 0);
}

// The machine's own collection: every partition of the catalogue's disks is listed, whatever its
// file system, with its letter, label and file system.
TEST_F(FormatRecoverySteps, TheCataloguesVolumesAreListed) {
  std::string why;
  const std::string disk = corvale::test::FixtureImage("parts_mbr_primary.sh", "parts_mbr_primary.img", &why);
  if (disk.empty()) GTEST_SKIP() << why;
  setenv("CORVALE_DISKS", disk.c_str(), 1);
  Device()->SetCollector(nullptr);
  StartRecovery(1);
  Click(Sheet::kCommandNext);
  WaitForVolumeList();
  unsetenv("CORVALE_DISKS");
  std::vector<std::string> names;
  for (int row = 0; row < Device()->GetList()->GetCount(); ++row)
    names.push_back(Device()->GetList()->CellText(row, 0).toStdString());
  ASSERT_EQ(names.size(), 3u);
  EXPECT_NE(names[0].find("(NTFS)"), std::string::npos) << names[0];
  EXPECT_NE(names[1].find("(FAT32)"), std::string::npos) << names[1];
  EXPECT_NE(names[2].find("(EXT2)"), std::string::npos) << names[2];
  Save("format-recovery-device-page");
}

}  // namespace
