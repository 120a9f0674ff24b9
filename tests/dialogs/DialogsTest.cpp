// The directory-build window and its runner, and the waiting and hint dialogs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/FileNode.h"
#include "core/FileSystemEngine.h"
#include "core/MyFileProperties.h"
#include "dialogs/BuildDirectoryDlg.h"
#include "dialogs/DirectoryTreeBuilder.h"
#include "dialogs/HasCheckboxPromptDlg.h"
#include "dialogs/WaitingDlg.h"
#include "storage/FileSystemCode.h"
#include "storage/MemoryDevice.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"

using corvale::test::SaveScreenshot;
using corvale::ui::MessageAnswer;

namespace {

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    m_previous =
        corvale::ui::SetQuestionHandler([this](const std::string& text, const std::string&,
                                               corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
          questions.push_back(text);
          return answer;
        });
  }
  void TearDown() override { corvale::ui::SetQuestionHandler(m_previous); }

  std::vector<std::string> questions;
  MessageAnswer answer = MessageAnswer::Yes;

 private:
  corvale::ui::QuestionHandler m_previous;
};

TEST(BuildDirectoryDlgText, ElapsedTimeCountsWholeSecondsAndHoursDoNotWrap) {
  struct Case {
    uint64_t ms;
    const char* text;
  } cases[] = {{0, "00:00:00"},       {999, "00:00:00"},      {59999, "00:00:59"},
               {3600000, "01:00:00"}, {90061000, "25:01:01"}, {360000000000ull, "100000:00:00"}};
  for (const Case& c : cases) EXPECT_EQ(CBuildDirectoryDlg::FormatElapsed(c.ms), c.text) << c.ms;
}

TEST_F(Dialogs, TheWindowShowsTheWorkersSnapshotAndCancelAsksFirst) {
  CBuildDirectoryDlg dialog;
  CDIRBuildCallback callback(&dialog);
  dialog.show();
  std::thread worker([&] {
    EXPECT_EQ(callback.BeginStage("Reading the file records", 200), 0);
    for (int i = 0; i < 100000; ++i) ASSERT_EQ(callback.AddProgress(0), 0);
    EXPECT_EQ(callback.AddProgress(50), 0);
    EXPECT_EQ(callback.AddProgress(30), 0);
  });
  worker.join();
  dialog.Refresh();
  EXPECT_EQ(dialog.StepLabel()->text().toStdString(), "Reading the file records");
  EXPECT_EQ(dialog.ElapsedLabel()->text().toStdString(), "00:00:00");
  EXPECT_EQ(dialog.ProgressBar()->maximum(), 200);
  EXPECT_EQ(dialog.ProgressBar()->value(), 80);
  EXPECT_EQ(callback.StepTo(150), 0);
  dialog.Refresh();
  EXPECT_EQ(dialog.ProgressBar()->value(), 150);
  EXPECT_EQ(callback.EndStage(), 0);
  dialog.Refresh();
  EXPECT_EQ(dialog.ProgressBar()->value(), 200);
  SaveScreenshot(dialog.grab().toImage(), "dialog-build-directory-progress");
  // A step of range 0 leaves an empty bar.
  callback.BeginStage("Nothing to count", 0);
  callback.EndStage();
  dialog.Refresh();
  EXPECT_EQ(dialog.ProgressBar()->value(), 0);

  answer = MessageAnswer::No;
  QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
  EXPECT_EQ(questions, std::vector<std::string>{"Abort Building?"});
  EXPECT_EQ(callback.Poll(), 0);
  EXPECT_TRUE(dialog.CancelButton()->isEnabled());

  answer = MessageAnswer::Yes;
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_EQ(questions.size(), 2u) << "Escape is Cancel";
  EXPECT_TRUE(dialog.IsCancelled());
  EXPECT_FALSE(dialog.CancelButton()->isEnabled());
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Cancelling...");
  EXPECT_TRUE(dialog.isVisible()) << "the opener closes it once the worker is done";
  for (int32_t verdict : {callback.BeginStage("x", 1), callback.AddProgress(1), callback.StepTo(1),
                          callback.EndStage(), callback.Poll()})
    EXPECT_EQ(verdict, -1);
}

TEST_F(Dialogs, AHiddenCancelButtonIgnoresCancel) {
  CBuildDirectoryDlg dialog;
  dialog.show();
  dialog.HideCancelButton();
  EXPECT_FALSE(dialog.CancelButton()->isVisible());
  dialog.OnCancel();
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_TRUE(questions.empty());
  EXPECT_EQ(dialog.Tick(), 0);
}

// An engine in place of the NTFS one, whose build reports each step and stops at a cancel.
std::atomic<int> g_fakeCalls{0};
CFileSystemNode* FakeBuild(IStorageDevice&, int64_t, IDIRBuildCallback* callback) {
  ++g_fakeCalls;
  if (callback->BeginStage("Fake build", 3) == -1) return nullptr;
  CFileSystemNode* root = CreateFileSystemNode();
  MyFileInfo info;
  info.name = "fake";
  root->SetFileProperties(new CMyFileProperties(info));
  return root;
}

TEST_F(Dialogs, TheRunnerPicksTheEngineByFileSystemAndACancelLeavesNothing) {
  FileSystemEngine fake;
  fake.kind = kEngineNtfs;
  fake.name = "NTFS";
  fake.buildTree = FakeBuild;
  ASSERT_TRUE(RegisterFileSystemEngine(fake));
  MemoryDevice device(std::vector<uint8_t>(64 * 512));

  CDirectoryTreeBuilder builder;
  EXPECT_EQ(builder.BuildDirectoryTree(kFileSystemUnknown, &device), nullptr);
  EXPECT_EQ(builder.BuildDirectoryTree(kFileSystemRaw, &device), nullptr);
  EXPECT_EQ(g_fakeCalls, 0);

  QWidget main;
  main.show();
  bool mainDisabled = false;
  CDirectoryTreeBuilder::SetShownHook([&](CBuildDirectoryDlg&) { mainDisabled = !main.isEnabled(); });
  CFileSystemNode* tree = builder.BuildDirectoryTree(kFileSystemNtfs, &device);
  ASSERT_NE(tree, nullptr);
  EXPECT_FALSE(builder.IsCancelled());
  EXPECT_TRUE(mainDisabled);
  EXPECT_TRUE(main.isEnabled());
  FreeFileTree(tree);

  // Cancelled before the engine's first call, and cancelled after its last: no tree either way.
  for (bool engineSeesIt : {true, false}) {
    CDirectoryTreeBuilder::SetShownHook([&](CBuildDirectoryDlg& dialog) {
      if (engineSeesIt) QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    });
    if (!engineSeesIt) {
      // The build answers before anybody can press Cancel; the press comes while the window is up.
      fake.buildTree = [](IStorageDevice&, int64_t, IDIRBuildCallback*) -> CFileSystemNode* {
        for (QWidget* w : QApplication::topLevelWidgets())
          if (auto* dialog = qobject_cast<CBuildDirectoryDlg*>(w))
            QMetaObject::invokeMethod(dialog, &CBuildDirectoryDlg::OnCancel, Qt::BlockingQueuedConnection);
        return CreateFileSystemNode();
      };
      RegisterFileSystemEngine(fake);
    }
    EXPECT_EQ(builder.BuildNTFSDirectoryTree(&device), nullptr) << engineSeesIt;
    EXPECT_TRUE(builder.IsCancelled()) << engineSeesIt;
  }
  CDirectoryTreeBuilder::SetShownHook(nullptr);
}

TEST_F(Dialogs, TheHintAnswersOneOnlyForOkWithItsBoxTicked) {
  struct Case {
    bool tick;
    bool ok;
    int answer;
  } cases[] = {{true, true, 1}, {false, true, 0}, {true, false, 0}};
  for (const Case& c : cases) {
    CHasCheckboxPromptDlg hint("A hint.");
    hint.show();
    hint.CheckBox()->setChecked(c.tick);
    if (c.ok)
      QTest::mouseClick(hint.OkButton(), Qt::LeftButton);
    else
      QTest::keyClick(&hint, Qt::Key_Escape);
    EXPECT_FALSE(hint.isVisible());
    EXPECT_EQ(hint.GetAnswer(), c.answer) << c.tick << c.ok;
  }
}

TEST_F(Dialogs, TheWaitingNoticeShowsTheWaitCursorAndGivesBackTheOneBefore) {
  QApplication::setOverrideCursor(Qt::CrossCursor);
  {
    QWidget owner;
    owner.resize(600, 400);
    owner.show();
    CWaitingDlg waiting(&owner);
    waiting.ShowNow();
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_EQ(waiting.TextLabel()->text().toStdString(), "Please wait, scanning system...");
    SaveScreenshot(waiting.grab().toImage(), "dialog-waiting");
  }
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::CrossCursor);
  QApplication::restoreOverrideCursor();
}

}  // namespace
