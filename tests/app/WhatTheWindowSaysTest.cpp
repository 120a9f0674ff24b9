// What the main window says must be true, checked as a person meets it:
// - the caution against saving to the same drive comes only when the target lies on the source,
//   for a disk image named as a disk and for a real block device (a loop device), with a target on a
//   RAM file system the test mounts and one on the file system the source lives on;
// - the partitions of a Partition Recovery never carry the drive letter of the volume an earlier
//   Deleted File Recovery of the same run read;
// - a result bundle that is refused says why;
// - folders and files are listed as people number them (d2 before d10), and saving one file starts
//   in the person's home, then in the folder saved to last.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "EndToEndSteps.h"
#include "app/MainFrame.h"
#include "app/SourceDriveQuery.h"
#include "controls/DeviceSelectCtrl.h"
#include "controls/FileListCtrl.h"
#include "controls/FileTreeCtrl.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "platform/RecoveryContext.h"
#include "platform/RequestingUser.h"
#include "platform/StringTable.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "wizard/DeleteRecoveryPartitionDeviceSelectPage.h"
#include "wizard/FileSelectPage.h"
#include "wizard/LostRecoveryDiskDeviceSelectPage.h"
#include "wizard/LostRecoveryPartitionDeviceSelectPage.h"
#include "wizard/RecoveryModeSelectPage.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/LostRecoveryDiskDeviceSelectController.h"
#include "wizard/controller/LostRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/SaveFileController.h"
#include "wizard/controller/ScanState.h"

namespace fs = std::filesystem;
using corvale::test::FilesBelow;
using corvale::test::SaveScreenshot;

namespace {

// A RAM file system mounted by the test on a folder of its own, taken down at the end.
class TmpfsMount {
 public:
  explicit TmpfsMount(const std::string& folder) : m_folder(folder) {
    fs::create_directories(folder);
    m_mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=16m") == 0;
  }
  ~TmpfsMount() {
    if (m_mounted) ::umount2(m_folder.c_str(), MNT_DETACH);
  }
  bool ok() const { return m_mounted; }

 private:
  std::string m_folder;
  bool m_mounted = false;
};

bool StartsWithDriveLetter(const std::string& name) {
  return name.size() >= 2 && name[0] >= 'A' && name[0] <= 'Z' && name[1] == ':';
}

// The main window, with what it tells and asks recorded (questions answered by `answer`), the
// same-drive question installed as at the program's start, and the hints after a build off.
class WhatTheWindowSays : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    m_folder = corvale::test::ScratchDir();
    m_previousBox =
        corvale::ui::SetMessageBoxHandler([this](const std::string& text, const std::string&,
                                                 corvale::ui::MessageIcon) { boxes.push_back(text); });
    m_previousQuestion =
        corvale::ui::SetQuestionHandler([this](const std::string& text, const std::string&,
                                               corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
          questions.push_back(text);
          return answer;
        });
    InstallSourceDriveQuery();
    setenv("CORVALE_REGISTRY", (m_folder + "/registry.ini").c_str(), 1);
    SetScanStateFolder(m_folder + "/state/");
    fs::create_directories(m_folder + "/state");
    CDeleteRecoveryPartitionDeviceSelectController::ModeHintEnabled() = false;
    CLostRecoveryPartitionDeviceSelectController::FullScanHintEnabled() = false;
  }

  void StartProgram(const std::string& disks) {
    setenv("CORVALE_DISKS", disks.c_str(), 1);
    for (int i = 0; i < kWizardPageCount; ++i)
      GetPageController(static_cast<WIZARD_PAGE>(i))->SetPreviousController(nullptr);
    CLostRecoveryDiskDeviceSelectController::CommitPending() = true;
    frame = std::make_unique<CMainFrame>();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    sheet = frame->ChildView()->GetWizardSheet();
  }

  void TearDown() override {
    CFileSelectPage::SetSavePathAsker(nullptr);
    CDeviceSelectPage::SetOpenPathAsker(nullptr);
    GetFileSelectController()->Cleanup();
    GetDeleteRecoveryPartitionDeviceSelectController()->Cleanup();
    GetLostRecoveryPartitionDeviceSelectController()->Cleanup();
    GetLostRecoveryDiskDeviceSelectController()->Cleanup();
    GetLostRecoveryDiskDeviceSelectController()->CloseAllImages();
    frame.reset();
    CFileRecoverer::SetSourceDeviceQuery({});
    SetScanStateFolder("");
    CDeleteRecoveryPartitionDeviceSelectController::ModeHintEnabled() = true;
    CLostRecoveryPartitionDeviceSelectController::FullScanHintEnabled() = true;
    corvale::ui::SetMessageBoxHandler(m_previousBox);
    corvale::ui::SetQuestionHandler(m_previousQuestion);
    unsetenv("CORVALE_DISKS");
    unsetenv("CORVALE_REGISTRY");
  }

  void ClickButton(int command) {
    QTest::mouseClick(sheet->Button(command), Qt::LeftButton, {}, QPoint(5, 5));
  }
  void ClickNext() { ClickButton(CWizardSheet::kCommandNext); }

  static void SelectRow(CDeviceSelectCtrl* list, int row) {
    ASSERT_GE(row, 0);
    ASSERT_LT(row, list->GetCount());
    QTest::mouseClick(list->View()->viewport(), Qt::LeftButton, {}, list->View()->RowRect(row).center());
    ASSERT_EQ(list->GetCurSel(), row);
  }
  static int RowNamed(CDeviceSelectCtrl* list, const std::string& text) {
    for (int row = 0; row < list->GetCount(); ++row)
      if (list->CellText(row, 0).toStdString().find(text) != std::string::npos) return row;
    return -1;
  }

  // The welcome page's button `command`, then Next on the file types.
  void StartRecovery(int command, WIZARD_PAGE devicePage) {
    auto* welcome = static_cast<CRecoveryModeSelectPage*>(sheet->GetPage(RecoveryModeSelect));
    QTest::mouseClick(welcome->ModeButton(command), Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
    ClickNext();
    ASSERT_EQ(sheet->GetCurrentPageIndex(), devicePage);
    for (int i = 0; i < 6000 && (GetDeleteRecoveryPartitionDeviceSelectController()->IsCollecting() ||
                                 GetLostRecoveryDiskDeviceSelectController()->IsCollecting());
         ++i)
      QTest::qWait(10);
    ASSERT_TRUE(frame->isEnabled());
  }

  CDeviceSelectCtrl* VolumeList() {
    return static_cast<CDeviceSelectPage*>(sheet->GetPage(DeleteRecoveryPartitionDeviceSelect))
        ->GetDeviceSelectCtrl();
  }
  CLostRecoveryDiskDeviceSelectPage* DiskPage() {
    return static_cast<CLostRecoveryDiskDeviceSelectPage*>(sheet->GetPage(LostRecoveryDiskDeviceSelect));
  }
  CFileSelectPage* FilePage() { return static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect)); }

  // Deleted File Recovery of the volume listed as `volume`, up to its file page.
  void BuildDeletedFiles(const std::string& volume) {
    ASSERT_NO_FATAL_FAILURE(
        StartRecovery(CRecoveryModeSelectPage::kCommandDeleted, DeleteRecoveryPartitionDeviceSelect));
    ASSERT_NO_FATAL_FAILURE(SelectRow(VolumeList(), RowNamed(VolumeList(), volume)));
    ClickNext();
    ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect) << (boxes.empty() ? "" : boxes.back());
  }

  std::unique_ptr<CMainFrame> frame;
  CWizardSheet* sheet = nullptr;
  std::vector<std::string> boxes;
  std::vector<std::string> questions;
  corvale::ui::MessageAnswer answer = corvale::ui::MessageAnswer::No;
  std::string m_folder;

 private:
  corvale::ui::MessageBoxHandler m_previousBox;
  corvale::ui::QuestionHandler m_previousQuestion;
};

// ---------------------------------------------------------------------------------------------------
// The caution against saving to the same drive.

enum class SourceKind { ImageFile, LoopDevice };

class SameDriveCaution : public WhatTheWindowSays, public ::testing::WithParamInterface<SourceKind> {};

TEST_P(SameDriveCaution, IsAskedOnlyWhenTheTargetLiesOnTheSource) {
  CORVALE_REQUIRE_ROOT();
  CORVALE_FIXTURE(fixture, "deleted_three_volumes.sh", "deleted_three_volumes");
  const std::string image = m_folder + "/ext2.img";
  fs::copy_file(fixture + "/ext2.img", image);
  std::unique_ptr<corvale::test::LoopDevice> loop;
  std::string disk = image;
  if (GetParam() == SourceKind::LoopDevice) {
    loop = std::make_unique<corvale::test::LoopDevice>(image);
    if (!loop->ok()) GTEST_SKIP() << "no loop device: " << loop->error();
    disk = loop->path();
  }
  TmpfsMount ram(m_folder + "/ram");
  if (!ram.ok()) GTEST_SKIP() << "tmpfs cannot be mounted here";
  ASSERT_NO_FATAL_FAILURE(StartProgram(disk));
  ASSERT_NO_FATAL_FAILURE(BuildDeletedFiles("(EXT2)"));
  CFileNode* root = FilePage()->GetFileTree();
  ASSERT_NE(root, nullptr);
  ASSERT_NE(root->GetFirstChild(), nullptr);
  corvale::test::TickInTree(FilePage(), root->GetFirstChild(), frame.get());

  struct Target {
    const char* what;
    std::string folder;
    bool onSource;
  } targets[] = {
      // The image file, or the file behind the loop device, lies in the test's folder.
      {"beside the source", m_folder + "/recovered", true},
      {"on the RAM file system", m_folder + "/ram/recovered", false},
  };
  const std::string kind = GetParam() == SourceKind::ImageFile ? "image" : "loop";
  for (const Target& target : targets) {
    SCOPED_TRACE(target.what);
    fs::create_directories(target.folder);
    questions.clear();
    boxes.clear();
    // The caution is answered No: the target window stays (and is then cancelled), nothing written.
    answer = corvale::ui::MessageAnswer::No;
    const auto saved = corvale::test::SaveTickedFiles(
        sheet, target.folder, "same-drive-" + kind + (target.onSource ? "-on-source" : "-elsewhere"));
    EXPECT_EQ(saved.targetWindows, 1);
    ASSERT_EQ(questions.size(), target.onSource ? 1u : 0u)
        << (questions.empty() ? "no question" : questions.front());
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    if (target.onSource) {
      EXPECT_NE(questions[0].find("same drive"), std::string::npos) << questions[0];
      EXPECT_TRUE(saved.outcome.empty()) << "No keeps the target window open";
      EXPECT_TRUE(FilesBelow(target.folder).empty()) << "nothing written";
      continue;
    }
    EXPECT_EQ(saved.outcome, "All files are recovered successfully.");
    ASSERT_EQ(GetSaveFileController()->GetResultStringCount(), 1);
    EXPECT_EQ(FilesBelow(GetSaveFileController()->GetResultString(0)), FilesBelow(fixture + "/deleted-ext2"))
        << "every deleted file, at its path, whole";
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, SameDriveCaution,
                         ::testing::Values(SourceKind::ImageFile, SourceKind::LoopDevice),
                         [](const auto& info) {
                           return std::string(info.param == SourceKind::ImageFile ? "ImageFile"
                                                                                  : "LoopDevice");
                         });

// ---------------------------------------------------------------------------------------------------
// Drive letters: a Deleted File Recovery of a lettered volume, then, in the same run, a Partition
// Recovery of another disk. The found partition is no volume of the machine and has no letter.

TEST_F(WhatTheWindowSays, APartitionFoundOnADiskHasNoLetterOfAVolumeReadBefore) {
  CORVALE_FIXTURE(deleted, "deleted_three_volumes.sh", "deleted_three_volumes");
  CORVALE_FIXTURE(lost, "lost_three_fs_disk.sh", "lost_three_fs_disk");
  fs::copy_file(deleted + "/ext2.img", m_folder + "/ext2.img");
  fs::copy_file(lost + "/disk.img", m_folder + "/disk.img");
  ASSERT_NO_FATAL_FAILURE(StartProgram(m_folder + "/ext2.img:" + m_folder + "/disk.img"));

  ASSERT_NO_FATAL_FAILURE(BuildDeletedFiles("(EXT2)"));
  ASSERT_NE(FilePage()->GetFileTree(), nullptr);
  ASSERT_NE(GetRecoveryContext().SourceDriveLetter, 255) << "the Ext2 volume has a letter";

  // Home (asked, answered Yes), then Partition Recovery of the other disk and its Ext2 partition.
  answer = corvale::ui::MessageAnswer::Yes;
  ClickButton(CWizardSheet::kCommandHome);
  ASSERT_EQ(sheet->GetCurrentPageIndex(), RecoveryModeSelect);
  ASSERT_NO_FATAL_FAILURE(
      StartRecovery(CRecoveryModeSelectPage::kCommandStart, LostRecoveryDiskDeviceSelect));
  CDeviceSelectCtrl* disks = DiskPage()->GetDeviceSelectCtrl();
  ASSERT_NO_FATAL_FAILURE(SelectRow(disks, RowNamed(disks, "disk.img")));
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), LostRecoveryPartitionDeviceSelect)
      << (boxes.empty() ? "" : boxes[0]);
  CDeviceSelectCtrl* partitions =
      static_cast<CDeviceSelectPage*>(sheet->GetPage(LostRecoveryPartitionDeviceSelect))
          ->GetDeviceSelectCtrl();
  ASSERT_NO_FATAL_FAILURE(SelectRow(partitions, RowNamed(partitions, "EXT2")));
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect) << (boxes.empty() ? "" : boxes[0]);
  CFileNode* root = FilePage()->GetFileTree();
  ASSERT_NE(root, nullptr);
  ASSERT_NE(root->GetFirstChild(), nullptr);
  const std::string name = root->GetFirstChild()->GetFileProperties()->GetName();
  EXPECT_FALSE(StartsWithDriveLetter(name)) << name;
  // The folder the files would be written to is named the same way.
  EXPECT_EQ(name.find(':'), std::string::npos) << name;
  SaveScreenshot(frame->grab().toImage(), "window-partition-recovery-after-deleted-recovery");
}

// ---------------------------------------------------------------------------------------------------
// A result bundle that is not one: the message says what is wrong.

TEST_F(WhatTheWindowSays, ARefusedResultBundleSaysWhy) {
  const std::string disk = m_folder + "/blank.img";
  { std::ofstream(disk).write(std::string(1 << 20, '\0').data(), 1 << 20); }
  const std::string bundle = m_folder + "/not-a-bundle.rsf";
  { std::ofstream(bundle) << "this is no result bundle, only some text long enough to be read whole"; }
  ASSERT_NO_FATAL_FAILURE(StartProgram(disk));
  ASSERT_NO_FATAL_FAILURE(
      StartRecovery(CRecoveryModeSelectPage::kCommandStart, LostRecoveryDiskDeviceSelect));
  CDeviceSelectPage::SetOpenPathAsker([&](const std::string&) { return bundle; });
  corvale::test::RunImageMenu<QWidget>(DiskPage(), "Load Search Result...", nullptr);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_FALSE(boxes[0].empty());
  EXPECT_EQ(boxes[0], corvale::EnglishStrings().Get(61239));
}

// ---------------------------------------------------------------------------------------------------
// Names as a person reads them, and where saving one file starts.

TEST_F(WhatTheWindowSays, FoldersAndFilesAreInNumberOrderAndOneFileIsSavedFromHomeThenFromTheLastFolder) {
  if (!corvale::test::HaveTool("mke2fs") || !corvale::test::HaveTool("debugfs"))
    GTEST_SKIP() << "needs mke2fs and debugfs";
  // A small Ext2 volume whose folders d0, d1, d2, d10 each held f1.txt, f2.txt and f10.txt, all deleted.
  const std::string content = m_folder + "/content";
  const char* const folders[] = {"d10", "d2", "d0", "d1"};
  const char* const files[] = {"f10.txt", "f2.txt", "f1.txt"};
  for (const char* folder : folders) {
    fs::create_directories(content + "/" + folder);
    for (const char* file : files)
      std::ofstream(content + "/" + folder + "/" + file) << folder << "/" << file << " of the test\n";
  }
  const std::string image = m_folder + "/numbered.img";
  ASSERT_EQ(corvale::test::RunCommand("mke2fs -q -F -t ext2 -b 1024 -L numbered -d '" + content + "' '" +
                                      image + "' 2048 >/dev/null 2>&1"),
            0);
  for (const char* folder : folders)
    for (const char* file : files)
      ASSERT_EQ(corvale::test::RunCommand("debugfs -w -R 'rm /" + std::string(folder) + "/" + file + "' '" +
                                          image + "' >/dev/null 2>&1"),
                0);
  ASSERT_NO_FATAL_FAILURE(StartProgram(image));
  ASSERT_NO_FATAL_FAILURE(BuildDeletedFiles("(EXT2)"));

  // The tree: the volume, its folders d0, d1, d2, d10.
  CFileTreeModel* tree = FilePage()->Tree()->Model();
  ASSERT_EQ(tree->rowCount(), 1);
  const QModelIndex volume = tree->index(0, 0);
  std::vector<std::string> shown;
  for (int row = 0; row < tree->rowCount(volume); ++row)
    shown.push_back(tree->NodeOf(tree->index(row, 0, volume))->GetFileProperties()->GetName());
  EXPECT_EQ(shown, (std::vector<std::string>{"d0", "d1", "d2", "d10"}));

  // d10 chosen in the tree, its files sorted by a click on the name column's head.
  CTreeCtrlPlus* view = FilePage()->Tree()->GetTreeCtrl();
  const QModelIndex d10 = tree->index(3, 0, volume);
  view->scrollTo(d10);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(d10).center());
  CFileListCtrl* list = FilePage()->List();
  ASSERT_EQ(list->RowCount(), 3);
  CListCtrlPlus* report = list->ReportView();
  QHeaderView* header = report->horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(0) + 10, header->height() / 2));
  std::vector<std::string> names;
  for (int row = 0; row < list->RowCount(); ++row)
    names.push_back(list->GetNodeAt(row)->GetFileProperties()->GetName());
  EXPECT_EQ(names, (std::vector<std::string>{"f1.txt", "f2.txt", "f10.txt"}));
  SaveScreenshot(frame->grab().toImage(), "window-files-in-number-order");

  // One file saved from its context menu: the first time the window starts in the person's home,
  // the second time in the folder chosen the first time.
  std::string home;
  if (const auto user = platform::FindRequestingUser()) home = user->home;
  if (home.empty()) home = QDir::homePath().toStdString();
  const std::string savedFolder = m_folder + "/saved";
  fs::create_directories(savedFolder);
  std::vector<std::string> suggested;
  CFileSelectPage::SetSavePathAsker([&](const std::string& proposed, const std::string&) {
    suggested.push_back(proposed);
    return savedFolder + "/" + fs::path(proposed).filename().string();
  });
  answer = corvale::ui::MessageAnswer::Yes;  // the saved folder lies on the source's file system
  for (int row : {2, 0}) {
    const QRect cell = report->visualRect(list->Model()->index(row, 0));
    QTest::mouseClick(report->viewport(), Qt::LeftButton, {}, cell.center() + QPoint(20, 0));
    ASSERT_EQ(list->GetFirstSelectedItem(), row);
    QTimer::singleShot(0, [] {
      // The context menu is up: "Recovery" is clicked in it.
      QTimer* poll = new QTimer;
      QObject::connect(poll, &QTimer::timeout, poll, [poll] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) return;
        for (QAction* action : menu->actions())
          if (action->text() == QStringLiteral("Recovery")) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
            break;
          }
        poll->deleteLater();
      });
      poll->start(10);
    });
    // A right click on the row, as the window system hands it over: a context-menu request by the mouse.
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, cell.center(),
                                 report->viewport()->mapToGlobal(cell.center()));
    QApplication::sendEvent(report->viewport(), &rightClick);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(savedFolder + "/" + names[row]); }, 20000))
        << names[row];
  }
  ASSERT_EQ(suggested.size(), 2u);
  EXPECT_EQ(fs::path(suggested[0]).parent_path(), fs::path(home));
  EXPECT_EQ(fs::path(suggested[0]).filename(), "f10.txt");
  EXPECT_EQ(fs::path(suggested[1]).parent_path(), fs::path(savedFolder));
  EXPECT_EQ(corvale::test::ReadWhole(savedFolder + "/f10.txt"),
            corvale::test::ReadWhole(content + "/d10/f10.txt"));
  EXPECT_EQ(corvale::test::ReadWhole(savedFolder + "/f1.txt"),
            corvale::test::ReadWhole(content + "/d10/f1.txt"));
}

}  // namespace
