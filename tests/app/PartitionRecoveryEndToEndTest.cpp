// Partition Recovery in the real main window over a disk whose partition table is gone: Start, the
// file types, the disk; the quick search finds the NTFS, FAT32 and Ext2 partitions at their true
// starts; each partition picked is built, every file ticked and recovered, and the files come back
// at their paths with their bytes. With the FAT32 volume's boot sector also gone the quick search
// misses it, and the Full Scan of the whole disk finds it again. A recovery exported as a result
// bundle and loaded in a new run of the program shows the same tree. The same partitions through an
// image of the disk made on the disk page.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "EndToEndSteps.h"
#include "app/MainFrame.h"
#include "app/SourceDriveQuery.h"
#include "controls/ButtonPlus.h"
#include "controls/DeviceSelectCtrl.h"
#include "controls/DialogTemplate.h"
#include "controls/LostPartitionCtrlContainer.h"
#include "controls/MultipleChoosePartitionListCtrl.h"
#include "controls/PartitionLayoutFrame.h"
#include "controls/TransButton.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "core/SearchedPartitionInfo.h"
#include "dialogs/BuildDirectoryDlg.h"
#include "dialogs/ImageDiskMasterDlg.h"
#include "dialogs/IntelligentSearchingDlg.h"
#include "dialogs/LostPartitionSearchingDlg.h"
#include "dialogs/OpenDiskImageMasterDlg.h"
#include "platform/RecoveryContext.h"
#include "storage/FileSystemCode.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "wizard/FileSelectPage.h"
#include "wizard/LostRecoveryDiskDeviceSelectPage.h"
#include "wizard/LostRecoveryPartitionDeviceSelectPage.h"
#include "wizard/LostRecoveryScanPartitionDeviceSelectPage.h"
#include "wizard/RecoveryModeSelectPage.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/LostRecoveryDiskDeviceSelectController.h"
#include "wizard/controller/LostRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/LostRecoveryScanPartitionDeviceSelectController.h"
#include "wizard/controller/ScanState.h"
#include "wizard/controller/WholeDeviceSearch.h"

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

// Every file and folder of a found tree below `node`, by its path, with its size.
void TreeEntries(CFileNode* node, const std::string& path, std::map<std::string, uint64_t>* out) {
  for (CFileNode* child = node->GetFirstChild(); child; child = child->GetNextSibling()) {
    IFileProperties* properties = child->GetFileProperties();
    const std::string name = path + "/" + (properties ? properties->GetName() : "?");
    (*out)[name] = properties ? properties->GetSize() : 0;
    TreeEntries(child, name, out);
  }
}

// The state word (deleted, lost, ...) of every node below `node`, by path.
void TreeStates(CFileNode* node, const std::string& path, std::map<std::string, uint16_t>* out) {
  for (CFileNode* child = node->GetFirstChild(); child; child = child->GetNextSibling()) {
    IFileProperties* properties = child->GetFileProperties();
    const std::string name = path + "/" + (properties ? properties->GetName() : "?");
    (*out)[name] = properties ? properties->GetTypeWord() : 0;
    TreeStates(child, name, out);
  }
}

// The files recovered below `top`, without the engines' own files (NTFS metadata) and the files
// found by signature beside the file system's own.
std::map<std::string, std::string> RecoveredFiles(const std::string& top) {
  auto recovered = FilesBelow(top);
  for (auto it = recovered.begin(); it != recovered.end();)
    it = it->first.find('$') != std::string::npos || it->first.rfind("Raw Files", 0) == 0
             ? recovered.erase(it)
             : std::next(it);
  return recovered;
}

// Keeps the picture of `window` as `name`, taken anew every 50 ms while it is shown (after
// `refresh`) and once more as it hides, so that the last one shows it as it stood when it closed
// (a search that ends between two ticks still shows its final counters).
void KeepPictureWhileShown(QWidget& window, const std::string& name, std::function<void()> refresh) {
  auto take = [&window, name, refresh] {
    refresh();
    SaveScreenshot(window.grab().toImage(), name);
  };
  auto* timer = new QTimer(&window);
  QObject::connect(timer, &QTimer::timeout, &window, [&window, take] {
    if (window.isVisible()) take();
  });
  timer->start(50);

  class OnHide : public QObject {
   public:
    OnHide(QObject* parent, std::function<void()> take) : QObject(parent), m_take(std::move(take)) {}
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Hide) m_take();
      return false;
    }

   private:
    std::function<void()> m_take;
  };
  window.installEventFilter(new OnHide(&window, take));
}

class PartitionRecoveryEndToEnd : public ::testing::TestWithParam<int> {
 protected:
  explicit PartitionRecoveryEndToEnd(const char* fixture = "lost_three_fs_disk") : m_fixtureName(fixture) {}

  void SetUp() override {
    corvale::test::TestApplication();
    std::string why;
    m_fixture = corvale::test::FixtureImage(m_fixtureName + ".sh", m_fixtureName, &why);
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
      GetLostRecoveryScanPartitionDeviceSelectController()->Cleanup();
      GetLostRecoveryPartitionDeviceSelectController()->Cleanup();
      GetLostRecoveryDiskDeviceSelectController()->Cleanup();
      frame.reset();
    }
    for (int i = 0; i < kWizardPageCount; ++i)
      GetPageController(static_cast<WIZARD_PAGE>(i))->SetPreviousController(nullptr);
    // A new run starts without Full Scan ticked.
    GetLostRecoveryPartitionDeviceSelectController()->SetFullScan(0);
    CLostRecoveryDiskDeviceSelectController::CommitPending() = true;
    frame = std::make_unique<CMainFrame>();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    sheet = frame->ChildView()->GetWizardSheet();
  }

  void TearDown() override {
    if (m_fixture.empty()) return;
    SetLostPartitionSearchShownHook(nullptr);
    SetWholeDeviceSearchHook(nullptr);
    SetSearchBuildHook(nullptr);
    CFileSelectPage::SetSavePathAsker(nullptr);
    CDeviceSelectPage::SetOpenPathAsker(nullptr);
    GetRecoveryContext().PageFlowSwitch = 0;
    GetLostRecoveryPartitionDeviceSelectController()->SetFullScan(0);
    GetFileSelectController()->Cleanup();
    GetLostRecoveryScanPartitionDeviceSelectController()->Cleanup();
    GetLostRecoveryPartitionDeviceSelectController()->Cleanup();
    GetLostRecoveryDiskDeviceSelectController()->Cleanup();
    GetLostRecoveryDiskDeviceSelectController()->CloseAllImages();
    frame.reset();
    CFileRecoverer::SetSourceDeviceQuery({});
    CFileRecoverer::SetDeviceNumbersQuery({});
    CLostRecoveryPartitionDeviceSelectController::FullScanHintEnabled() = true;
    SetScanStateFolder("");
    corvale::ui::SetMessageBoxHandler(m_previousBox);
    corvale::ui::SetQuestionHandler(m_previousQuestion);
    unsetenv("CORVALE_DISKS");
  }

  void ClickNext() {
    QTest::mouseClick(sheet->Button(CWizardSheet::kCommandNext), Qt::LeftButton, {}, QPoint(5, 5));
  }
  void ClickBack() {
    QTest::mouseClick(sheet->Button(CWizardSheet::kCommandBack), Qt::LeftButton, {}, QPoint(5, 5));
  }

  static void Select(CDeviceSelectCtrl* list, int row) {
    ASSERT_LT(row, list->GetCount());
    QTest::mouseClick(list->View()->viewport(), Qt::LeftButton, {}, list->View()->RowRect(row).center());
    ASSERT_EQ(list->GetCurSel(), row);
  }

  // From the welcome page to the lost-partition page with the mouse: Start, the file types, the
  // disk (with the found partitions to be chosen by hand when `manual`), and the search under its
  // window.
  void SearchTheDisk(bool manual = false) {
    OpenDiskPage();
    if (manual) {
      auto* page =
          static_cast<CLostRecoveryDiskDeviceSelectPage*>(sheet->GetPage(LostRecoveryDiskDeviceSelect));
      QTest::mouseClick(page->ManualSelectionBox(), Qt::LeftButton, {},
                        QPoint(5, page->ManualSelectionBox()->height() / 2));
      QCoreApplication::processEvents();
      ASSERT_EQ(GetRecoveryContext().PageFlowSwitch, 1);
    }
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
  std::string m_fixtureName;
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
  // A disk known only by its file goes by the file's name, on the page and in the wizard.
  EXPECT_EQ(diskName, "disk.img");
  EXPECT_EQ(DiskList()->CellText(0, 0).toStdString(), "disk.img");

  const std::string images = m_folder + "/images";
  fs::create_directories(images);
  const std::string descriptor = images + "/disk.kbi";
  corvale::test::RunImageMenu<CImageDiskMasterDlg>(
      DiskPage(), "Disk Image",
      [&](CImageDiskMasterDlg& wizard) {
        EXPECT_EQ(wizard.ModePage()->SourceLabel()->text().toStdString(), "disk.img");
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
  corvale::test::RunImageMenu<COpenDiskImageMasterDlg>(DiskPage(), "Open Disk Image", openDescriptor,
                                                       "partition-recovery-");
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
  EXPECT_NE(disks->CellText(0, 2).toStdString().find("Results for \r\nDisk \"disk.img\""), std::string::npos)
      << disks->CellText(0, 2).toStdString();
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

// A recovery exported from the file page as a result bundle, and the bundle loaded on the disk page
// of a new run of the program with no state files left: "Previous Recovery..." brings back the same
// tree, and its files come back whole.
TEST_F(PartitionRecoveryEndToEnd, AnExportedResultLoadedInANewRunGivesTheSameTree) {
  SearchTheDisk();
  Select(PartitionList(), 1);
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  auto* files = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
  std::map<std::string, uint64_t> before;
  TreeEntries(files->GetFileTree(), "", &before);
  ASSERT_GT(before.size(), 10u);
  std::map<std::string, uint16_t> statesBefore;
  TreeStates(files->GetFileTree(), "", &statesBefore);

  const std::string bundle = m_folder + "/result";
  int asked = 0;
  CFileSelectPage::SetSavePathAsker([&](const std::string&, const std::string&) {
    ++asked;
    return bundle;
  });
  // Export Result in the page's tool row.
  ASSERT_TRUE(files->ExportButton()->isVisible());
  QTest::mouseClick(files->ExportButton(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(asked, 1);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "The search results (.rsf) was exported successfully.");
  ASSERT_TRUE(fs::exists(bundle + ".rsf"));
  boxes.clear();

  // A new run on another machine: none of the state files are there.
  StartProgram();
  fs::remove_all(m_folder + "/state");
  fs::create_directories(m_folder + "/state");
  OpenDiskPage();
  ASSERT_EQ(DiskList()->GetCount(), 1);
  CDeviceSelectPage::SetOpenPathAsker([&](const std::string&) { return bundle + ".rsf"; });
  corvale::test::RunImageMenu<QWidget>(
      static_cast<CLostRecoveryDiskDeviceSelectPage*>(sheet->GetPage(LostRecoveryDiskDeviceSelect)),
      "Load Search Result...", nullptr);
  for (int i = 0; i < 6000 && GetLostRecoveryDiskDeviceSelectController()->IsCollecting(); ++i)
    QTest::qWait(10);
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  ASSERT_EQ(DiskList()->GetCount(), 2);
  EXPECT_EQ(DiskList()->CellText(0, 0).toStdString(), "Previous Recovery...");
  Select(DiskList(), 0);
  ClickNext();
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  files = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
  std::map<std::string, uint64_t> after;
  TreeEntries(files->GetFileTree(), "", &after);
  EXPECT_EQ(after, before) << "the same files and folders, with the same sizes";
  std::map<std::string, uint16_t> statesAfter;
  TreeStates(files->GetFileTree(), "", &statesAfter);
  EXPECT_EQ(statesAfter, statesBefore) << "and the same states (deleted, lost)";

  // The loaded tree's files are read from this run's disk.
  CFileNode* partition = files->GetFileTree()->GetFirstChild();
  ASSERT_NE(partition, nullptr);
  corvale::test::TickInTree(files, partition, frame.get());
  const std::string target = m_folder + "/recovered";
  fs::create_directories(target);
  const auto saved = corvale::test::SaveTickedFiles(sheet, target, "partition-recovery-result-loaded");
  EXPECT_EQ(saved.outcome, "All files are recovered successfully.");
  ASSERT_EQ(GetSaveFileController()->GetResultStringCount(), 1);
  EXPECT_EQ(RecoveredFiles(GetSaveFileController()->GetResultString(0)),
            FilesBelow(m_fixture + "/content/fat"));
}

// The same disk with the FAT32 volume's boot sector also zeroed.
class PartitionRecoveryFullScan : public PartitionRecoveryEndToEnd {
 protected:
  PartitionRecoveryFullScan() : PartitionRecoveryEndToEnd("lost_three_fs_disk_fat_boot_wiped") {}

  CLostRecoveryScanPartitionDeviceSelectPage* ScanPage() {
    return static_cast<CLostRecoveryScanPartitionDeviceSelectPage*>(
        sheet->GetPage(LostRecoveryScanPartitionDeviceSelect));
  }

  // The found-partition page's row of the partition whose file system starts at `start`, or -1.
  int RowAt(uint64_t start) {
    CScanPartitionDeviceSelectPage* page = ScanPage();
    for (int row = 0; row < page->GetPartitionCount(); ++row)
      if (CSearchedPartitionInfo* info = page->GetPartitionAt(row);
          info && static_cast<uint64_t>(info->GetPartitionStart()) == start)
        return row;
    return -1;
  }

  // Ticks or unticks a row of the found-partition page by a click on its name's box, scrolled into
  // view first as the user would.
  void ClickTick(int row, bool ticked) {
    CMultipleChoosePartitionListCtrl* list = ScanPage()->PartitionList();
    if ((list->GetCheck(row) != 0) == ticked) return;
    list->Table()->scrollTo(list->Model()->index(row, 0));
    const QRect box = list->NameCheckRect(row);
    ASSERT_FALSE(box.isEmpty()) << row;
    QTest::mouseClick(list->Table()->viewport(), Qt::LeftButton, {}, box.center());
    ASSERT_EQ(list->GetCheck(row) != 0, ticked) << row;
  }

  // Full Scan on the lost-partition page, with the found partitions to be chosen by hand: the
  // whole-disk search runs under its window and the found-partition page shows what it found.
  void FullScan() {
    SearchTheDisk(true);
    const auto& quick = GetLostRecoveryPartitionDeviceSelectController()->FoundPartitions();
    ASSERT_EQ(quick.size(), 2u) << "the quick search misses the volume without its boot sector";
    for (const auto& record : quick) EXPECT_NE(record->StartSector, kPartitions[1].start);

    auto* page = static_cast<CLostRecoveryPartitionDeviceSelectPage*>(
        sheet->GetPage(LostRecoveryPartitionDeviceSelect));
    QTest::mouseClick(page->FullScanBox(), Qt::LeftButton, {}, QPoint(5, page->FullScanBox()->height() / 2));
    QCoreApplication::processEvents();
    ASSERT_EQ(GetLostRecoveryPartitionDeviceSelectController()->GetFullScan(), 1);
    bool searched = false;
    std::string ext2Superblocks, ext2FileSystems;
    SetWholeDeviceSearchHook([&](CIntelligentSearchingDlg& dialog) {
      searched = true;
      // The window with its counters opened by its button, as it last stood while the search ran.
      dialog.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
      QTest::mouseClick(dialog.ExpandButton(), Qt::LeftButton, {}, QPoint(3, 3));
      EXPECT_TRUE(dialog.DetailsShown());
      KeepPictureWhileShown(dialog, "dialog-partition-recovery-full-scan", [&] {
        dialog.Refresh(true);
        ext2Superblocks = dialog.Text(CIntelligentSearchingDlg::kIdExt2Superblocks).toStdString();
        ext2FileSystems = dialog.Text(CIntelligentSearchingDlg::kIdExt2FileSystems).toStdString();
      });
    });
    ClickNext();
    EXPECT_TRUE(searched);
    // The disk's Ext2 volume shows in the search's counters: its superblock and backups, one volume.
    EXPECT_GE(std::atoi(ext2Superblocks.c_str()), 1) << ext2Superblocks;
    EXPECT_EQ(ext2FileSystems, "1");
    ASSERT_TRUE(boxes.empty()) << boxes.front();
    ASSERT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryScanPartitionDeviceSelect);
    EXPECT_EQ(GetPageController(LostRecoveryScanPartitionDeviceSelect)->GetPreviousController(),
              GetLostRecoveryPartitionDeviceSelectController());
  }

  // Ticks exactly the rows of the three volumes on the found-partition page.
  void TickTheVolumes() {
    CScanPartitionDeviceSelectPage* page = ScanPage();
    for (int row = 0; row < page->GetPartitionCount(); ++row) ClickTick(row, false);
    for (const auto& partition : kPartitions) {
      const int row = RowAt(partition.start);
      ASSERT_GE(row, 0) << "the whole-disk search finds the volume at " << partition.start;
      ClickTick(row, true);
    }
    ASSERT_EQ(page->GetCheckedCount(), 3);
  }
};

TEST_F(PartitionRecoveryFullScan, TheWholeDiskSearchFindsTheVolumeWithoutItsBootSector) {
  FullScan();
  // The picture under the list names the disk by its file.
  EXPECT_EQ(ScanPage()->Container()->GetLayoutFrame()->Title().toStdString(),
            "Partitions layout on the disk \"disk.img\":");
  TickTheVolumes();
  SaveScreenshot(frame->grab().toImage(), "partition-recovery-scan-partition-page");

  // Each ticked volume is built under its own window, from the disk.
  int windows = 0;
  SetSearchBuildHook([&](CBuildDirectoryDlg& dialog) {
    if (++windows == 1)
      KeepPictureWhileShown(dialog, "dialog-partition-recovery-build-found", [&dialog] { dialog.Refresh(); });
  });
  ClickNext();
  EXPECT_EQ(windows, 3);
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  EXPECT_EQ(GetFileSelectController()->GetPreviousController(),
            GetLostRecoveryScanPartitionDeviceSelectController());
  EXPECT_EQ(GetFileSelectController()->GetSourceDevice(),
            GetLostRecoveryDiskDeviceSelectController()->GetSourceSelection().GetDiskRecord()->Device);

  // The trees come in row order: the FAT32 volume's is the one at its row among the ticked ones.
  std::vector<int> rows;
  for (const auto& partition : kPartitions) rows.push_back(RowAt(partition.start));
  std::sort(rows.begin(), rows.end());
  const int fatIndex =
      static_cast<int>(std::find(rows.begin(), rows.end(), RowAt(kPartitions[1].start)) - rows.begin());
  auto* files = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
  CFileNode* partition = files->GetFileTree()->GetFirstChild();
  for (int i = 0; i < fatIndex && partition; ++i) partition = partition->GetNextSibling();
  ASSERT_NE(partition, nullptr);
  corvale::test::TickInTree(files, partition, frame.get());
  const std::string target = m_folder + "/recovered";
  fs::create_directories(target);
  const auto saved = corvale::test::SaveTickedFiles(sheet, target, "partition-recovery-result-full-scan");
  EXPECT_EQ(saved.outcome, "All files are recovered successfully.");
  ASSERT_EQ(GetSaveFileController()->GetResultStringCount(), 1);
  const auto expected = FilesBelow(m_fixture + "/content/fat");
  ASSERT_EQ(expected.size(), 10u);
  EXPECT_EQ(RecoveredFiles(GetSaveFileController()->GetResultString(0)), expected)
      << "every file of the volume without its boot sector, at its path, whole";

  // A new run takes the whole result up again: the same trees, read from the disk.
  std::map<std::string, uint64_t> before;
  TreeEntries(files->GetFileTree(), "", &before);
  StartProgram();
  OpenDiskPage();
  ASSERT_EQ(DiskList()->GetCount(), 2);
  Select(DiskList(), 0);
  ClickNext();
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  files = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
  std::map<std::string, uint64_t> after;
  TreeEntries(files->GetFileTree(), "", &after);
  EXPECT_EQ(after, before);
  EXPECT_EQ(GetFileSelectController()->GetSourceDevice(),
            GetLostRecoveryDiskDeviceSelectController()->GetSourceSelection().GetDiskRecord()->Device);
}

// On the found-partition page: nothing ticked, a cancel of the second build (which
// keeps nothing of the first), and Back (asked) to the lost-partition page.
TEST_F(PartitionRecoveryFullScan, TheFoundPartitionPageRefusesBadChoicesAndCancelKeepsNothing) {
  FullScan();
  CScanPartitionDeviceSelectPage* page = ScanPage();
  for (int row = 0; row < page->GetPartitionCount(); ++row) ClickTick(row, false);
  ClickNext();
  EXPECT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryScanPartitionDeviceSelect);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Please choose a partition to recover.");
  boxes.clear();

  TickTheVolumes();
  int windows = 0;
  SetSearchBuildHook([&](CBuildDirectoryDlg& dialog) {
    if (++windows == 2) {
      // Cancel, answered Yes by the test's question handler.
      SaveScreenshot(dialog.grab().toImage(), "dialog-partition-recovery-build-found-cancel");
      dialog.OnCancel();
    }
  });
  questions.clear();
  ClickNext();
  EXPECT_EQ(windows, 2) << "the third volume is not built after the cancel";
  EXPECT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryScanPartitionDeviceSelect);
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(GetLostRecoveryScanPartitionDeviceSelectController()->WasCancelled());
  EXPECT_EQ(GetFileSelectController()->GetFileTree(), nullptr) << "nothing of the first build is kept";
  SetSearchBuildHook(nullptr);

  questions.clear();
  ClickBack();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0], "Return to devices list?");
  EXPECT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryPartitionDeviceSelect);
  EXPECT_TRUE(GetLostRecoveryScanPartitionDeviceSelectController()->FoundPartitions().empty());
  // With nothing found, its Next does nothing and says nothing.
  boxes.clear();
  EXPECT_FALSE(GetLostRecoveryScanPartitionDeviceSelectController()->Next());
  EXPECT_TRUE(boxes.empty());
}

}  // namespace

// With no volume left for the quick search to find, the whole disk is searched at once; without the
// manual choice the partitions the search recommends are built straight away, and Back from the
// file page returns to the disk page.
TEST_F(PartitionRecoveryFullScan, NothingFoundQuicklySearchesTheWholeDiskAtOnce) {
  {
    // The NTFS volume's boot sector (its copy at the volume's end stays) and the Ext2 superblock go too.
    std::fstream disk(m_folder + "/disk.img", std::ios::in | std::ios::out | std::ios::binary);
    const std::string zeros(1024, '\0');
    disk.seekp(63 * 512);
    disk.write(zeros.data(), 512);
    disk.seekp(112518 * 512 + 1024);
    disk.write(zeros.data(), 1024);
    ASSERT_TRUE(disk.good());
  }
  OpenDiskPage();
  Select(DiskList(), 0);
  bool searched = false;
  SetWholeDeviceSearchHook([&](CIntelligentSearchingDlg&) { searched = true; });
  ClickNext();
  EXPECT_TRUE(searched);
  EXPECT_TRUE(GetLostRecoveryPartitionDeviceSelectController()->FoundPartitions().empty());
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  EXPECT_EQ(GetFileSelectController()->GetPreviousController(), GetLostRecoveryDiskDeviceSelectController());
  EXPECT_TRUE(GetLostRecoveryScanPartitionDeviceSelectController()->FoundPartitions().empty())
      << "the found partitions are let go once their trees are built";

  auto* files = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
  CFileNode* fat = nullptr;
  for (CFileNode* child = files->GetFileTree()->GetFirstChild(); child; child = child->GetNextSibling())
    if (child->GetFileSystemType() == kFileSystemFat32) fat = child;
  ASSERT_NE(fat, nullptr);
  corvale::test::TickInTree(files, fat, frame.get());
  const std::string target = m_folder + "/recovered";
  fs::create_directories(target);
  const auto saved = corvale::test::SaveTickedFiles(sheet, target, "partition-recovery-result-whole-disk");
  EXPECT_EQ(saved.outcome, "All files are recovered successfully.");
  ASSERT_EQ(GetSaveFileController()->GetResultStringCount(), 1);
  EXPECT_EQ(RecoveredFiles(GetSaveFileController()->GetResultString(0)),
            FilesBelow(m_fixture + "/content/fat"));

  ClickBack();
  EXPECT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryDiskDeviceSelect);
}

// Stopped on the found-partition page, a new run offers the saved search and resumes it there: the
// same partitions, and their trees are built from this run's disk without searching again.
TEST_F(PartitionRecoveryFullScan, ANewRunResumesTheFoundPartitionPage) {
  FullScan();
  std::vector<int64_t> starts;
  for (const auto& info : GetLostRecoveryScanPartitionDeviceSelectController()->FoundPartitions())
    starts.push_back(info->GetPartitionStart());
  ASSERT_FALSE(starts.empty());

  StartProgram();
  GetRecoveryContext().PageFlowSwitch = 0;
  OpenDiskPage();
  ASSERT_EQ(DiskList()->GetCount(), 2);
  Select(DiskList(), 0);
  bool searched = false;
  SetWholeDeviceSearchHook([&](CIntelligentSearchingDlg&) { searched = true; });
  ClickNext();
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryScanPartitionDeviceSelect);
  std::vector<int64_t> restored;
  for (const auto& info : GetLostRecoveryScanPartitionDeviceSelectController()->FoundPartitions())
    restored.push_back(info->GetPartitionStart());
  EXPECT_EQ(restored, starts);
  EXPECT_EQ(ScanPage()->GetPartitionCount(), static_cast<int>(starts.size()));

  TickTheVolumes();
  ClickNext();
  EXPECT_FALSE(searched);
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  EXPECT_EQ(GetFileSelectController()->GetSourceDevice(),
            GetLostRecoveryDiskDeviceSelectController()->GetSourceSelection().GetDiskRecord()->Device);
  auto* files = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
  int volumes = 0;
  for (CFileNode* child = files->GetFileTree()->GetFirstChild(); child; child = child->GetNextSibling())
    ++volumes;
  EXPECT_EQ(volumes, 3);
}
