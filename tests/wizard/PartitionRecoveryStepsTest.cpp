// Partition recovery's first steps over a real disk whose partition table is gone: the disk page
// lists the disk, the search runs under its window and finds the NTFS, FAT32 and Ext2 partitions at
// their starts, and each one picked on the lost-partition step is built and handed to the file step.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "controls/DeviceSelectCtrl.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "dialogs/LostPartitionSearchingDlg.h"
#include "storage/FileSystemCode.h"
#include "storage/ImageFileDevice.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "ui/UsageStatistics.h"
#include "wizard/LostRecoveryDiskDeviceSelectPage.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/LostRecoveryDiskDeviceSelectController.h"
#include "wizard/controller/LostRecoveryPartitionDeviceSelectController.h"

namespace fs = std::filesystem;
using corvale::test::SaveScreenshot;

namespace {

struct Partition {
  uint64_t start;
  int32_t type;
  const char* row;
  const char* content;
};

// Where lost_three_fs_disk.sh put its volumes.
const Partition kPartitions[] = {
    {63, kFileSystemNtfs, "NTFSVOL-NTFS", "ntfs"},
    {32130, kFileSystemFat32, "FATVOL-FAT32", "fat"},
    {112518, kFileSystemExt2, "extvol-EXT2", "ext2"},
};

std::set<std::string> FilesBelow(const fs::path& folder) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), folder).string());
  return files;
}

// The files of a tree by their paths below the partition node under `root`; the engines' own
// entries (NTFS metadata files, lost+found, found-by-signature folders) are left out.
std::set<std::string> FilePaths(CFileNode* root) {
  std::set<std::string> paths;
  CFileNode* top = root->GetFirstChild();
  if (!top) return paths;
  WalkSubtree(top, [&](CFileNode* node) {
    IFileProperties* p = node->GetFileProperties();
    if (node == top || !p || p->IsFolder()) return;
    std::string path = p->GetName();
    for (CFileNode* up = node->GetParent(); up && up != top; up = up->GetParent())
      path = std::string(up->GetFileProperties() ? up->GetFileProperties()->GetName() : "?") + "/" + path;
    if (path[0] == '$' || path.rfind("Raw Files", 0) == 0 || path.rfind("lost+found", 0) == 0) return;
    paths.insert(path);
  });
  return paths;
}

class PartitionRecoverySteps : public ::testing::Test {
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
    m_previousRecorder =
        corvale::usage::SetRecorder([this](const corvale::usage::Record& r) { events.push_back(r); });
    CLostRecoveryPartitionDeviceSelectController::FullScanHintEnabled() = false;
    window = std::make_unique<QWidget>();
    window->resize(900, 600);
    page = new CLostRecoveryDiskDeviceSelectPage(window.get());
    page->setGeometry(0, 0, 900, 600);
    partitions = new CDeviceSelectCtrl(window.get());
    partitions->SetCtrlStyle(CtrlStylePartition);
    partitions->setGeometry(0, 0, 900, 400);
    window->show();
    disk = GetLostRecoveryDiskDeviceSelectController();
    disk->SetPage(page, page->GetDeviceSelectCtrl());
    page->SetController(disk);
    lost = GetLostRecoveryPartitionDeviceSelectController();
    lost->SetPage(nullptr, partitions);
  }

  void TearDown() override {
    if (m_fixture.empty()) return;
    SetLostPartitionSearchShownHook(nullptr);
    GetFileSelectController()->Cleanup();
    lost->Cleanup();
    lost->SetPage(nullptr, nullptr);
    disk->Cleanup();
    disk->SetPage(nullptr, nullptr);
    CLostRecoveryPartitionDeviceSelectController::FullScanHintEnabled() = true;
    window.reset();
    corvale::ui::SetMessageBoxHandler(m_previousBox);
    corvale::ui::SetQuestionHandler(m_previousQuestion);
    corvale::usage::SetRecorder(m_previousRecorder);
    unsetenv("CORVALE_DISKS");
  }

  void CollectDisks() {
    disk->Activate();
    for (int i = 0; i < 6000 && disk->IsCollecting(); ++i) QTest::qWait(10);
    ASSERT_FALSE(disk->IsCollecting());
  }

  static void Select(CDeviceSelectCtrl* list, int row) {
    ASSERT_LT(row, list->GetCount());
    QTest::mouseClick(list->View()->viewport(), Qt::LeftButton, {}, list->View()->RowRect(row).center());
    ASSERT_EQ(list->GetCurSel(), row);
  }

  std::unique_ptr<QWidget> window;
  CLostRecoveryDiskDeviceSelectPage* page = nullptr;
  CDeviceSelectCtrl* partitions = nullptr;
  CLostRecoveryDiskDeviceSelectController* disk = nullptr;
  CLostRecoveryPartitionDeviceSelectController* lost = nullptr;
  std::vector<std::string> boxes;
  std::vector<std::string> questions;
  std::vector<corvale::usage::Record> events;
  std::string m_fixture;
  std::string m_folder;

 private:
  corvale::ui::MessageBoxHandler m_previousBox;
  corvale::ui::QuestionHandler m_previousQuestion;
  corvale::usage::Recorder m_previousRecorder;
};

TEST(LostPartitionSearchingWindow, RemainingTimeFollowsTheShareDone) {
  struct Case {
    int64_t total, done;
    uint64_t elapsedMs;
    const char* shown;
  };
  const Case cases[] = {
      {100, 0, 6000, "Calculating..."},   // nothing done yet
      {100, 50, 4999, "Calculating..."},  // the first five seconds
      {100, 50, 10000, "00:00:11"},       // as long again, and the second begun
      {100, 1, 3600000, "99:00:01"},      // hours do not wrap at 24
      {100, 150, 9000, "00:00:01"},       // more done than announced: nothing left
  };
  for (const Case& c : cases)
    EXPECT_EQ(CLostPartitionSearchingDialog::RemainingText(c.total, c.done, c.elapsedMs), c.shown)
        << c.total << " " << c.done << " " << c.elapsedMs;
}

TEST_F(PartitionRecoverySteps, TheSearchFindsTheThreeVolumesAtTheirStarts) {
  CImageFileDevice device(m_folder + "/disk.img");
  ASSERT_TRUE(device.IsOpened());
  bool shown = false;
  SetLostPartitionSearchShownHook([&](CLostPartitionSearchingDialog& dialog) {
    shown = true;
    EXPECT_FALSE(window->isEnabled());
    EXPECT_EQ(dialog.windowTitle(), "Quick Partition Searching");
    EXPECT_EQ(dialog.RemainingLabel()->text(), "00:00:00");
  });
  LostPartitionRecordList found;
  ASSERT_TRUE(RunLostPartitionSearch(&device, window.get(), found));
  EXPECT_TRUE(shown);
  EXPECT_TRUE(window->isEnabled());
  ASSERT_EQ(found.size(), 3u);
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found[i]->StartSector, kPartitions[i].start);
    EXPECT_EQ(found[i]->FileSystemType, kPartitions[i].type);
    ASSERT_NE(found[i]->Device, nullptr);
  }
}

TEST_F(PartitionRecoverySteps, CancelAnsweredYesStopsTheSearch) {
  CImageFileDevice device(m_folder + "/disk.img");
  ASSERT_TRUE(device.IsOpened());
  CLostPartitionSearchingDialog* seen = nullptr;
  SetLostPartitionSearchShownHook([&](CLostPartitionSearchingDialog& dialog) {
    seen = &dialog;
    QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.IsCancelled(), 1);
    EXPECT_FALSE(dialog.CancelButton()->isEnabled());
    EXPECT_EQ(dialog.windowTitle(), "Cancelling...");
    // A second Cancel asks nothing more.
    dialog.OnCancel();
  });
  LostPartitionRecordList found;
  ASSERT_TRUE(RunLostPartitionSearch(&device, window.get(), found));
  ASSERT_NE(seen, nullptr);
  EXPECT_TRUE(found.empty());
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0], "Do you want to stop searching?");
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().eventId, CLostPartitionSearchingDialog::kEventCancelled);
}

TEST_F(PartitionRecoverySteps, EachFoundPartitionIsBuiltAndHandedToTheFileStep) {
  CollectDisks();
  CDeviceSelectCtrl* disks = page->GetDeviceSelectCtrl();
  ASSERT_EQ(disks->GetCount(), 1);
  SaveScreenshot(page->grab().toImage(), "partition-recovery-disk-page");

  // Next with nothing selected stays.
  disks->ClearSelection();
  EXPECT_FALSE(disk->Next());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Select a disk to recover please.");
  boxes.clear();

  bool searched = false;
  SetLostPartitionSearchShownHook([&](CLostPartitionSearchingDialog& dialog) {
    searched = true;
    SaveScreenshot(dialog.grab().toImage(), "dialog-quick-partition-searching");
  });
  Select(disks, 0);
  ASSERT_TRUE(disk->Next());
  EXPECT_TRUE(searched);
  ASSERT_NE(disk->GetChosen(), nullptr);
  EXPECT_EQ(disk->GetSourceSelection().GetDiskRecord(), disk->GetChosen());
  EXPECT_EQ(lost->GetPreviousController(), disk);
  EXPECT_EQ(lost->GetRecoveryKind(), kRecoveryKindPartition);
  ASSERT_EQ(lost->FoundPartitions().size(), 3u);
  ASSERT_EQ(partitions->GetCount(), 3);
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(lost->FoundPartitions()[row]->StartSector, kPartitions[row].start);
    EXPECT_EQ(partitions->CellText(row, 0).toStdString(), kPartitions[row].row);
  }

  // Nothing picked: the step stays and says so.
  partitions->ClearSelection();
  EXPECT_FALSE(lost->Next());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Select a partition to recover please.");
  boxes.clear();

  for (int row = 0; row < 3; ++row) {
    SCOPED_TRACE(kPartitions[row].row);
    Select(partitions, row);
    ASSERT_TRUE(lost->Next());
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    EXPECT_EQ(GetFileSelectController()->GetPreviousController(), lost);
    EXPECT_EQ(GetFileSelectController()->GetSourceDevice(), lost->FoundPartitions()[row]->Device);
    EXPECT_EQ(lost->GetSourceSelection().GetOtherRecord(), lost->FoundPartitions()[row].get());
    CFileNode* root = GetFileSelectController()->GetFileTree();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(FilePaths(root), FilesBelow(m_fixture + "/content/" + kPartitions[row].content));
  }

  // Back returns to the disk step, which lists the disk again.
  lost->Back();
  EXPECT_TRUE(lost->FoundPartitions().empty());
  EXPECT_EQ(partitions->GetCount(), 0);
  for (int i = 0; i < 6000 && disk->IsCollecting(); ++i) QTest::qWait(10);
  EXPECT_EQ(disks->GetCount(), 1);
}

}  // namespace
