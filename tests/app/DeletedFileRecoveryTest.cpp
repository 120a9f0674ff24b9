// Deleted File Recovery in the real main window, from the welcome page to the tree of deleted files
// handed to the file step, over real NTFS, FAT32 and ext2 volumes named by CORVALE_DISKS.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "controls/ButtonPlus.h"
#include "controls/DeviceSelectCtrl.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "dialogs/BuildDirectoryDlg.h"
#include "dialogs/DirectoryTreeBuilder.h"
#include "dialogs/HasCheckboxPromptDlg.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "platform/Registry.h"
#include "storage/FileSystemCode.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "ui/UsageStatistics.h"
#include "wizard/DeleteRecoveryPartitionDeviceSelectPage.h"
#include "wizard/RecoveryModeSelectPage.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/HintSettings.h"

namespace fs = std::filesystem;
using corvale::test::SaveScreenshot;

namespace {

struct Volume {
  const char* image;
  const char* row;       // the row's first cell
  const char* capacity;  // its second
  int32_t fileSystem;
};

const Volume kVolumes[] = {
    {"ntfs.img", "C : DelNtfs  (NTFS)", "16.00 MB", kFileSystemNtfs},
    {"fat32.img", "D : DELFAT32  (FAT32)", "40.00 MB", kFileSystemFat32},
    {"ext2.img", "E : delext2  (EXT2)", "8.00 MB", kFileSystemExt2},
};

std::set<std::string> ReadLines(const std::string& path) {
  std::set<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.insert(line);
  return lines;
}

// FAT keeps a deleted entry's name but overwrites its first byte; the engine shows '#' there.
std::set<std::string> AsFatShowsThem(const std::set<std::string>& paths) {
  std::set<std::string> shown;
  for (std::string path : paths) {
    const size_t name = path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1;
    path[name] = '#';
    shown.insert(path);
  }
  return shown;
}

// The files of a tree by their paths below `top`.
std::set<std::string> FilePaths(CFileNode* top) {
  std::set<std::string> paths;
  WalkSubtree(top, [&](CFileNode* node) {
    IFileProperties* p = node->GetFileProperties();
    if (node == top || !p || p->IsFolder()) return;
    std::string path = p->GetName();
    for (CFileNode* up = node->GetParent(); up && up != top; up = up->GetParent())
      path = std::string(up->GetFileProperties() ? up->GetFileProperties()->GetName() : "?") + "/" + path;
    paths.insert(path);
  });
  return paths;
}

class DeletedFileRecovery : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    std::string why;
    m_fixture = corvale::test::FixtureImage("deleted_three_volumes.sh", "deleted_three_volumes", &why);
    if (m_fixture.empty()) GTEST_SKIP() << "fixture unavailable: " << why;
    // The tests damage their copies, never the cached fixture.
    m_folder = corvale::test::ScratchDir();
    std::string disks;
    for (const Volume& v : kVolumes) {
      fs::copy_file(m_fixture + "/" + v.image, m_folder + "/" + v.image);
      disks += m_folder + "/" + v.image + ":";
    }
    // A disk with nothing on it and one that does not exist are listed by no volume.
    { std::ofstream(m_folder + "/blank.img").write(std::string(1 << 20, '\0').data(), 1 << 20); }
    disks += m_folder + "/blank.img:" + m_folder + "/missing.img";
    setenv("CORVALE_DISKS", disks.c_str(), 1);
    // The hint's "Don't show this message again." is kept in the settings file: a file of the test's.
    setenv("CORVALE_REGISTRY", (m_folder + "/registry.ini").c_str(), 1);

    m_previousBox =
        corvale::ui::SetMessageBoxHandler([this](const std::string& text, const std::string&,
                                                 corvale::ui::MessageIcon) { boxes.push_back(text); });
    m_previousQuestion =
        corvale::ui::SetQuestionHandler([this](const std::string& text, const std::string&,
                                               corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
          questions.push_back(text);
          return abortAnswer;
        });
    m_previousRecorder =
        corvale::usage::SetRecorder([this](const corvale::usage::Record& r) { events.push_back(r); });
    for (int i = 0; i < kWizardPageCount; ++i)
      GetPageController(static_cast<WIZARD_PAGE>(i))->SetPreviousController(nullptr);
    CDeleteRecoveryPartitionDeviceSelectController::ModeHintEnabled() = true;

    frame = std::make_unique<CMainFrame>();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    sheet = frame->ChildView()->GetWizardSheet();
    page = static_cast<CDeleteRecoveryPartitionDeviceSelectPage*>(
        sheet->GetPage(DeleteRecoveryPartitionDeviceSelect));
    list = page->GetDeviceSelectCtrl();
  }

  void TearDown() override {
    if (m_fixture.empty()) return;
    CDirectoryTreeBuilder::SetShownHook(nullptr);
    GetDeleteRecoveryPartitionDeviceSelectController()->Cleanup();
    GetFileSelectController()->Cleanup();
    frame.reset();
    corvale::ui::SetMessageBoxHandler(m_previousBox);
    corvale::ui::SetQuestionHandler(m_previousQuestion);
    corvale::usage::SetRecorder(m_previousRecorder);
    unsetenv("CORVALE_DISKS");
    unsetenv("CORVALE_REGISTRY");
    CDeleteRecoveryPartitionDeviceSelectController::ModeHintEnabled() = true;
  }

  // From the welcome page with the mouse: the Deleted File Recovery button, Next on the file types,
  // then wait for the volume list.
  void OpenVolumePage() {
    auto* welcome = static_cast<CRecoveryModeSelectPage*>(sheet->GetPage(RecoveryModeSelect));
    QTest::mouseClick(welcome->ModeButton(CRecoveryModeSelectPage::kCommandDeleted), Qt::LeftButton, {},
                      QPoint(10, 10));
    ASSERT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
    ClickNext();
    ASSERT_EQ(sheet->GetCurrentPageIndex(), DeleteRecoveryPartitionDeviceSelect);
    WaitForList();
  }

  void WaitForList() {
    for (int i = 0; i < 6000 && GetDeleteRecoveryPartitionDeviceSelectController()->IsCollecting(); ++i)
      QTest::qWait(10);
    ASSERT_FALSE(GetDeleteRecoveryPartitionDeviceSelectController()->IsCollecting());
    EXPECT_TRUE(frame->isEnabled());
  }

  void ClickNext() {
    QTest::mouseClick(sheet->Button(CWizardSheet::kCommandNext), Qt::LeftButton, {}, QPoint(5, 5));
  }

  void SelectRow(int row) {
    ASSERT_LT(row, list->GetCount());
    QTest::mouseClick(list->View()->viewport(), Qt::LeftButton, {}, list->View()->RowRect(row).center());
    ASSERT_EQ(list->GetCurSel(), row);
  }

  // Answers the hint after a build, once it is up: with its box ticked or not. Its picture is kept.
  void AnswerHint(bool tick) {
    auto* timer = new QTimer(frame.get());
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [this, timer, tick] {
      auto* hint = qobject_cast<CHasCheckboxPromptDlg*>(QApplication::activeModalWidget());
      if (!hint) return;
      ++hintsShown;
      hint->CheckBox()->setChecked(tick);
      SaveScreenshot(hint->grab().toImage(), "dialog-mode-hint");
      QTest::mouseClick(hint->OkButton(), Qt::LeftButton);
      timer->deleteLater();
    });
    timer->start();
  }

  CFileSystemNode* HandedTree() {
    return dynamic_cast<CFileSystemNode*>(GetFileSelectController()->GetFileTree());
  }

  std::unique_ptr<CMainFrame> frame;
  CWizardSheet* sheet = nullptr;
  CDeleteRecoveryPartitionDeviceSelectPage* page = nullptr;
  CDeviceSelectCtrl* list = nullptr;
  std::vector<std::string> boxes;
  std::vector<std::string> questions;
  std::vector<corvale::usage::Record> events;
  corvale::ui::MessageAnswer abortAnswer = corvale::ui::MessageAnswer::Yes;
  int hintsShown = 0;
  std::string m_fixture;
  std::string m_folder;

 private:
  corvale::ui::MessageBoxHandler m_previousBox;
  corvale::ui::QuestionHandler m_previousQuestion;
  corvale::usage::Recorder m_previousRecorder;
};

bool HasEvent(const std::vector<corvale::usage::Record>& events, int id) {
  return std::any_of(events.begin(), events.end(), [id](const auto& r) { return r.eventId == id; });
}

}  // namespace

TEST_F(DeletedFileRecovery, ListsEachVolumeAndHandsOnExactlyItsDeletedFilesAtTheirPaths) {
  OpenVolumePage();
  ASSERT_EQ(list->GetCount(), 3) << "the blank and the missing disk give no volume";
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(kVolumes[i].image);
    EXPECT_EQ(list->CellText(i, 0).toStdString(), kVolumes[i].row);
    EXPECT_EQ(list->CellText(i, 1).toStdString(), kVolumes[i].capacity);
    EXPECT_NE(list->CellText(i, 2).toStdString().find(m_folder + "/" + kVolumes[i].image), std::string::npos);
  }
  EXPECT_EQ(list->Header()->ColumnText(0).toStdString(), "Partition");
  // Refresh collects the same volumes again.
  auto* refresh = page->findChild<CButtonPlus*>(
      QString::number(CDeleteRecoveryPartitionDeviceSelectPage::kCommandRefresh));
  ASSERT_NE(refresh, nullptr);
  QTest::mouseClick(refresh, Qt::LeftButton, {}, QPoint(5, 5));
  WaitForList();
  ASSERT_EQ(list->GetCount(), 3);
  SelectRow(1);
  SaveScreenshot(frame->grab().toImage(), "wizard-deleted-2-volume-list");

  // The hint comes after every build until the user ticks its box.
  const bool tickHint[3] = {false, true, false};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(kVolumes[i].image);
    corvale::log::ScopedCapture log;
    events.clear();
    SelectRow(i);
    AnswerHint(tickHint[i]);
    // The last volume goes on by a double click on its row.
    if (i == 2)
      QTest::mouseDClick(list->View()->viewport(), Qt::LeftButton, {}, list->View()->RowRect(i).center());
    else
      ClickNext();
    ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect) << (boxes.empty() ? "" : boxes.back());
    EXPECT_EQ(hintsShown, i < 2 ? i + 1 : 2);
    EXPECT_TRUE(HasEvent(events, CDeleteRecoveryPartitionDeviceSelectController::kEventNext));
    EXPECT_TRUE(HasEvent(events, CDeleteRecoveryPartitionDeviceSelectController::kEventBuilt));
    EXPECT_TRUE(log.Has("Completely search the selected device."));
    EXPECT_FALSE(log.Has("Found nothing."));

    CFileSystemNode* root = HandedTree();
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->GetFileProperties()->GetName(), "Root");
    CFileNode* deleted = root->GetFirstChild();
    ASSERT_NE(deleted, nullptr);
    EXPECT_EQ(deleted->GetNextSibling(), nullptr);
    EXPECT_EQ(deleted->GetFileSystemType(), kVolumes[i].fileSystem);
    std::set<std::string> expected = ReadLines(
        m_fixture + "/deleted-" +
        std::string(kVolumes[i].image).substr(0, std::string(kVolumes[i].image).find('.')) + ".txt");
    ASSERT_EQ(expected.size(), 3u);
    if (kVolumes[i].fileSystem == kFileSystemFat32) expected = AsFatShowsThem(expected);
    EXPECT_EQ(FilePaths(deleted), expected);
    SelectionSummary summary;
    root->GetSummary(summary);
    EXPECT_EQ(summary.files, 3u);
    EXPECT_EQ(GetDeleteRecoveryPartitionDeviceSelectController()->GetSourceSelection().GetPartitionRecord(),
              &static_cast<CollectedVolume*>(list->GetItemData(i))->record);
    // The found files are read from the chosen volume, and the same-disk check asks about it.
    EXPECT_EQ(GetFileSelectController()->GetSourceDevice(),
              static_cast<CollectedVolume*>(list->GetItemData(i))->volume.get());
    EXPECT_EQ(GetRecoveryContext().SourceRootDevice, GetFileSelectController()->GetSourceDevice());

    // Back to the volumes: the file step lets its tree go, the list is collected again.
    QTest::mouseClick(sheet->Button(CWizardSheet::kCommandBack), Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_EQ(sheet->GetCurrentPageIndex(), DeleteRecoveryPartitionDeviceSelect);
    EXPECT_EQ(HandedTree(), nullptr);
    WaitForList();
    ASSERT_EQ(list->GetCount(), 3);
  }

  // The answer outlives the run: the settings file keeps it, and the next run (the program started
  // anew, its own flag on again) shows no hint after a build.
  std::string kept;
  ASSERT_EQ(
      platform::RegistryGetString(corvale::hints::kHintsKey, corvale::hints::kFormatRecoveryHint, &kept),
      platform::RegistryStatus::Ok);
  EXPECT_EQ(kept, "0");
  GetDeleteRecoveryPartitionDeviceSelectController()->Cleanup();
  GetFileSelectController()->Cleanup();
  frame.reset();
  CDeleteRecoveryPartitionDeviceSelectController::ModeHintEnabled() = true;
  frame = std::make_unique<CMainFrame>();
  frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  sheet = frame->ChildView()->GetWizardSheet();
  page = static_cast<CDeleteRecoveryPartitionDeviceSelectPage*>(
      sheet->GetPage(DeleteRecoveryPartitionDeviceSelect));
  list = page->GetDeviceSelectCtrl();
  OpenVolumePage();
  SelectRow(0);
  AnswerHint(false);
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect) << (boxes.empty() ? "" : boxes.back());
  EXPECT_EQ(hintsShown, 2) << "no hint in the new run";
}

TEST_F(DeletedFileRecovery, NextWithoutAVolumeAsksForOneAndCancelDuringTheBuildLeavesNothingBuilt) {
  OpenVolumePage();
  ClickNext();
  EXPECT_EQ(sheet->GetCurrentPageIndex(), DeleteRecoveryPartitionDeviceSelect);
  ASSERT_EQ(boxes, std::vector<std::string>{"Select a partition to recover please."});

  struct Case {
    corvale::ui::MessageAnswer answer;
    bool cancelled;
  } cases[] = {{corvale::ui::MessageAnswer::No, false}, {corvale::ui::MessageAnswer::Yes, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cancelled);
    abortAnswer = c.answer;
    questions.clear();
    boxes.clear();
    events.clear();
    corvale::log::ScopedCapture log;
    bool windowDisabled = false;
    CDirectoryTreeBuilder::SetShownHook([&](CBuildDirectoryDlg& dialog) {
      windowDisabled = !frame->isEnabled();
      SaveScreenshot(dialog.grab().toImage(), "dialog-build-directory");
      QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
      if (c.cancelled) SaveScreenshot(dialog.grab().toImage(), "dialog-build-directory-cancelling");
    });
    SelectRow(0);
    if (!c.cancelled) AnswerHint(false);
    ClickNext();
    CDirectoryTreeBuilder::SetShownHook(nullptr);
    EXPECT_TRUE(windowDisabled);
    EXPECT_EQ(questions, std::vector<std::string>{"Abort Building?"});
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(frame->isEnabled());
    if (c.cancelled) {
      EXPECT_EQ(sheet->GetCurrentPageIndex(), DeleteRecoveryPartitionDeviceSelect);
      EXPECT_EQ(HandedTree(), nullptr);
      EXPECT_TRUE(log.Has("User abort."));
      EXPECT_TRUE(HasEvent(events, CDeleteRecoveryPartitionDeviceSelectController::kEventCancelled));
      EXPECT_EQ(list->GetCount(), 3) << "the page stays as it was";
    } else {
      EXPECT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
      ASSERT_NE(HandedTree(), nullptr);
      // Back from the file step asks before it lets the found files go.
      abortAnswer = corvale::ui::MessageAnswer::Yes;
      QTest::mouseClick(sheet->Button(CWizardSheet::kCommandBack), Qt::LeftButton, {}, QPoint(5, 5));
      EXPECT_EQ(questions.back(), "Are you sure to quit searching?");
      ASSERT_EQ(sheet->GetCurrentPageIndex(), DeleteRecoveryPartitionDeviceSelect);
      EXPECT_EQ(HandedTree(), nullptr);
      WaitForList();
    }
  }
}

TEST_F(DeletedFileRecovery,
       AVolumeThatCannotBeReadOrHoldsNoFileSystemAnyMoreIsReportedAndThePageStaysUsable) {
  OpenVolumePage();
  ASSERT_EQ(list->GetCount(), 3);
  // After the list was made, the FAT32 volume is wiped and the ext2 volume cut short.
  {
    std::fstream fat(m_folder + "/fat32.img", std::ios::in | std::ios::out | std::ios::binary);
    const std::string zeros(40 << 20, '\0');
    fat.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  }
  fs::resize_file(m_folder + "/ext2.img", 512);

  for (int row : {1, 2}) {
    SCOPED_TRACE(row);
    boxes.clear();
    corvale::log::ScopedCapture log;
    SelectRow(row);
    ClickNext();
    EXPECT_EQ(sheet->GetCurrentPageIndex(), DeleteRecoveryPartitionDeviceSelect);
    EXPECT_EQ(boxes, std::vector<std::string>{"No files found, please go to Format Recovery mode!"});
    EXPECT_TRUE(log.Has("Found nothing."));
    EXPECT_EQ(HandedTree(), nullptr);
    EXPECT_TRUE(frame->isEnabled());
  }
  // The page still works: the NTFS volume is built and handed on.
  SelectRow(0);
  AnswerHint(true);
  ClickNext();
  EXPECT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  EXPECT_NE(HandedTree(), nullptr);
}
