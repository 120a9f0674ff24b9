// Cancel in the middle of a whole-volume search and of a recovery, clicked on the real windows of the
// real main window over a FAT32 volume named by CORVALE_DISKS (cancel_hold_fat32.sh). While the real
// stop question is up the work stands still: the figures the window shows and the files in the target
// folder do not change however long the question stays open. No lets the work run to its end, every
// file recovered whole; Yes stops it where it stood, leaves no file half written, and the result says
// the recovery was cancelled and how many files were written.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "EndToEndSteps.h"
#include "app/MainFrame.h"
#include "app/SourceDriveQuery.h"
#include "controls/ButtonPlus.h"
#include "controls/DeviceSelectCtrl.h"
#include "controls/TransButton.h"
#include "core/FileNode.h"
#include "core/FileRecoverer.h"
#include "core/IntelligentSearchSummary.h"
#include "dialogs/IntelligentSearchingDlg.h"
#include "dialogs/RecoveringDlg.h"
#include "platform/RecoveryContext.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "wizard/CompleteRecoveryPartitionDeviceSelectPage.h"
#include "wizard/CompleteRecoveryScanPartitionDeviceSelectPage.h"
#include "wizard/FileSelectPage.h"
#include "wizard/RecoveryModeSelectPage.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/CompleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/CompleteRecoveryScanPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/SaveFileController.h"
#include "wizard/controller/ScanState.h"
#include "wizard/controller/WholeDeviceSearch.h"

namespace fs = std::filesystem;
using corvale::test::FilesBelow;
using corvale::test::SaveScreenshot;

namespace {

const std::vector<std::string> kStopQuestions = {"Do you want to stop searching?", "Quit recovering?"};

// One cancel of a running job, as a person does it: once `ready` says the work is well under way,
// Cancel is clicked on the job's window; when the real question box is up and the work has come to a
// stop at it, the window's figures are read, read again `kQuestionOpenMs` later, and the box is
// answered by clicking `answer`.
struct CancelStep {
  std::function<bool()> ready;
  std::function<QAbstractButton*()> cancelButton;
  std::function<QWidget*()> window;
  std::function<bool()> held;
  // Whether the work still runs (a question about work that has ended holds nothing).
  std::function<bool()> running;
  std::function<std::string()> reading;
  QMessageBox::StandardButton answer = QMessageBox::No;
  std::string screenshot;

  // What was seen.
  std::string question;
  std::string firstReading;
  std::string secondReading;
  bool answered = false;
};

constexpr int kQuestionOpenMs = 700;

CRecoveringDlg* RecoveringWindow() {
  for (QWidget* window : QApplication::topLevelWidgets())
    if (auto* recovering = qobject_cast<CRecoveringDlg*>(window); recovering && recovering->isVisible())
      return recovering;
  return nullptr;
}

// Plays the steps in order. A step is armed when its window is shown (or at once when it is up
// already): from the window's own event loop, the player waits the few milliseconds until `ready`
// and clicks Cancel; a recovery from a cached image copies fast, so the click must not wait for a
// timer's next turn. The question's box runs a loop of its own until it is answered; a timer of the
// player's own watches it meanwhile.
class CancelPlayer : public QObject {
 public:
  explicit CancelPlayer(std::vector<CancelStep>* steps) : m_steps(steps) {
    QApplication::instance()->installEventFilter(this);
    connect(&m_timer, &QTimer::timeout, this, [this] { Tick(); });
    m_timer.start(10);
  }
  ~CancelPlayer() override { QApplication::instance()->removeEventFilter(this); }
  bool Finished() const { return m_index >= m_steps->size(); }

  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Show && !Finished() && m_state == State::WaitWindow &&
        object == (*m_steps)[m_index].window())
      Arm();
    return false;
  }

 private:
  enum class State { WaitWindow, WaitQuestion, QuestionOpen };

  void Arm() {
    m_state = State::WaitQuestion;
    m_armed.start();
    WaitUntilReady();
  }

  // Looks again every millisecond, with the window's thread free in between (the work starts from
  // the window's event loop), and clicks Cancel once the step is ready (or after 30 seconds).
  void WaitUntilReady() {
    CancelStep& step = (*m_steps)[m_index];
    QTimer::singleShot(1, this, [this, &step] {
      if (!step.ready() && m_armed.elapsed() < 30000) {
        WaitUntilReady();
        return;
      }
      if (QAbstractButton* cancel = step.cancelButton())
        QTest::mouseClick(cancel, Qt::LeftButton, {}, QPoint(5, 5));
    });
  }

  void Tick() {
    if (Finished()) return;
    CancelStep& step = (*m_steps)[m_index];
    switch (m_state) {
      case State::WaitWindow:
        if (QWidget* window = step.window(); window != nullptr && window->isVisible()) Arm();
        return;
      case State::WaitQuestion: {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        if (!step.held()) {
          // Work that ended before it reached the held gate cannot be held: the step failed, and
          // the box is answered so that the test goes on to say so instead of waiting for ever.
          if (!step.running()) {
            step.question = box->text().toStdString();
            step.firstReading = "ended before it was held";
            Next();
            QTest::mouseClick(box->button(step.answer), Qt::LeftButton);
          }
          return;
        }
        step.question = box->text().toStdString();
        step.firstReading = step.reading();
        if (!step.screenshot.empty()) {
          if (QWidget* window = step.window()) SaveScreenshot(window->grab().toImage(), step.screenshot);
          SaveScreenshot(box->grab().toImage(), step.screenshot + "-question");
        }
        m_open.start();
        m_state = State::QuestionOpen;
        return;
      }
      case State::QuestionOpen: {
        if (m_open.elapsed() < kQuestionOpenMs) return;
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        step.secondReading = step.reading();
        step.answered = true;
        Next();
        QTest::mouseClick(box->button(step.answer), Qt::LeftButton);
        return;
      }
    }
  }

  void Next() {
    ++m_index;
    m_state = State::WaitWindow;
  }

  std::vector<CancelStep>* m_steps;
  size_t m_index = 0;
  State m_state = State::WaitWindow;
  QTimer m_timer;
  QElapsedTimer m_open;
  QElapsedTimer m_armed;
};

// The first folder named `name` below `folder`, or empty.
fs::path FolderNamed(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
    if (entry.is_directory() && entry.path().filename() == name) return entry.path();
  return {};
}

// Every file below `folder` by its path with its size, as text: what a person sees of a target folder.
std::string Listing(const fs::path& folder) {
  std::string text;
  std::error_code ec;
  std::map<std::string, uintmax_t> sizes;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
    if (entry.is_regular_file()) sizes[fs::relative(entry.path(), folder).string()] = entry.file_size();
  for (const auto& [path, size] : sizes) text += path + " " + std::to_string(size) + "\n";
  return text;
}

class CancelHoldsTheWork : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    std::string why;
    m_fixture = corvale::test::FixtureImage("cancel_hold_fat32.sh", "cancel_hold_fat32", &why);
    if (m_fixture.empty()) GTEST_SKIP() << "fixture unavailable: " << why;
    m_folder = corvale::test::ScratchDir();
    // The program only ever reads its sources: the cached image is named as it is.
    setenv("CORVALE_DISKS", (m_fixture + "/fat32.img").c_str(), 1);

    m_previousBox =
        corvale::ui::SetMessageBoxHandler([this](const std::string& text, const std::string&,
                                                 corvale::ui::MessageIcon) { boxes.push_back(text); });
    // The stop questions are the program's own real boxes, answered by clicking; the others (the
    // same-drive caution) are answered Yes here.
    m_previousQuestion = corvale::ui::SetQuestionHandler(
        [this](const std::string& text, const std::string& caption, corvale::ui::MessageButtons buttons,
               corvale::ui::MessageIcon icon) {
          questions.push_back(text);
          if (std::find(kStopQuestions.begin(), kStopQuestions.end(), text) == kStopQuestions.end())
            return corvale::ui::MessageAnswer::Yes;
          corvale::ui::QuestionHandler self = corvale::ui::SetQuestionHandler(nullptr);
          const corvale::ui::MessageAnswer answer = corvale::ui::AskMessageBox(text, caption, buttons, icon);
          corvale::ui::SetQuestionHandler(self);
          return answer;
        });
    corvale::ui::ShowRealBoxesEverywhere(true);
    InstallSourceDriveQuery();
    SetScanStateFolder(m_folder + "/state/");
    fs::create_directories(m_folder + "/state");
    m_savedFlow = GetRecoveryContext().PageFlowSwitch;

    for (int i = 0; i < kWizardPageCount; ++i)
      GetPageController(static_cast<WIZARD_PAGE>(i))->SetPreviousController(nullptr);
    CCompleteRecoveryPartitionDeviceSelectController::CommitPending() = true;
    frame = std::make_unique<CMainFrame>();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    sheet = frame->ChildView()->GetWizardSheet();
  }

  void TearDown() override {
    if (m_fixture.empty()) return;
    SetWholeDeviceSearchHook(nullptr);
    GetFileSelectController()->Cleanup();
    GetCompleteRecoveryScanPartitionDeviceSelectController()->Cleanup();
    GetCompleteRecoveryPartitionDeviceSelectController()->Cleanup();
    frame.reset();
    CFileRecoverer::SetSourceDeviceQuery({});
    SetScanStateFolder("");
    GetRecoveryContext().PageFlowSwitch = m_savedFlow;
    corvale::ui::ShowRealBoxesEverywhere(false);
    corvale::ui::SetMessageBoxHandler(m_previousBox);
    corvale::ui::SetQuestionHandler(m_previousQuestion);
    unsetenv("CORVALE_DISKS");
  }

  void ClickNext() {
    QTest::mouseClick(sheet->Button(CWizardSheet::kCommandNext), Qt::LeftButton, {}, QPoint(5, 5));
  }

  // Format Recovery from the welcome page: every file type, the volume selected, the found
  // partitions to be chosen by hand.
  void OpenDevicePage() {
    auto* welcome = static_cast<CRecoveryModeSelectPage*>(sheet->GetPage(RecoveryModeSelect));
    QTest::mouseClick(welcome->ModeButton(CRecoveryModeSelectPage::kCommandFormat), Qt::LeftButton, {},
                      QPoint(10, 10));
    ASSERT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
    ClickNext();
    ASSERT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryPartitionDeviceSelect);
    for (int i = 0; i < 6000 && GetCompleteRecoveryPartitionDeviceSelectController()->IsCollecting(); ++i)
      QTest::qWait(10);
    auto* page = static_cast<CCompleteRecoveryPartitionDeviceSelectPage*>(
        sheet->GetPage(CompleteRecoveryPartitionDeviceSelect));
    CDeviceSelectCtrl* list = page->GetDeviceSelectCtrl();
    ASSERT_EQ(list->GetCount(), 1);
    QTest::mouseClick(list->View()->viewport(), Qt::LeftButton, {}, list->View()->RowRect(0).center());
    ASSERT_EQ(list->GetCurSel(), 0);
    CTransButton* box = page->ManualSelectionBox();
    ASSERT_NE(box, nullptr);
    if (!box->isChecked()) QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    for (int i = 0; i < 200 && GetRecoveryContext().PageFlowSwitch == 0; ++i) QTest::qWait(5);
    ASSERT_NE(GetRecoveryContext().PageFlowSwitch, 0);
  }

  std::vector<std::string> StopQuestionsAsked() const {
    std::vector<std::string> asked;
    for (const std::string& q : questions)
      if (std::find(kStopQuestions.begin(), kStopQuestions.end(), q) != kStopQuestions.end())
        asked.push_back(q);
    return asked;
  }

  // A cancel of the recovering window once it has written `files` files, answered `answer`.
  CancelStep RecoveryCancel(int files, QMessageBox::StandardButton answer, const std::string& target,
                            const std::string& screenshot) {
    CancelStep step;
    step.ready = [files] {
      CRecoveringDlg* window = RecoveringWindow();
      return window != nullptr && window->GetRecoveredFileCount() >= files;
    };
    step.cancelButton = [] {
      CRecoveringDlg* window = RecoveringWindow();
      return window != nullptr ? static_cast<QAbstractButton*>(window->CancelButton()) : nullptr;
    };
    step.window = [] { return static_cast<QWidget*>(RecoveringWindow()); };
    step.held = [] {
      CRecoveringDlg* window = RecoveringWindow();
      return window != nullptr && window->IsWorkHeld();
    };
    step.running = [] {
      CRecoveringDlg* window = RecoveringWindow();
      return window != nullptr && window->IsJobRunning() && !window->HasJobEnded();
    };
    step.reading = [target] {
      CRecoveringDlg* window = RecoveringWindow();
      if (window == nullptr) return std::string("no window");
      return std::to_string(window->GetRecoveredFileCount()) + " files, " +
             std::to_string(window->GetRecoveredBytes()) + " bytes\n" + Listing(target);
    };
    step.answer = answer;
    step.screenshot = screenshot;
    return step;
  }

  std::unique_ptr<CMainFrame> frame;
  CWizardSheet* sheet = nullptr;
  std::vector<std::string> boxes;
  std::vector<std::string> questions;
  std::string m_fixture;
  std::string m_folder;

 private:
  corvale::ui::MessageBoxHandler m_previousBox;
  corvale::ui::QuestionHandler m_previousQuestion;
  int32_t m_savedFlow = 0;
};

// The search of the volume, stopped twice: answered No it goes on from the block it stood at;
// answered Yes it stops there, before the end of the volume, and the wizard stays on the device page.
TEST_F(CancelHoldsTheWork, TheSearchStandsStillWhileItsStopQuestionIsOpen) {
  ASSERT_NO_FATAL_FAILURE(OpenDevicePage());
  QPointer<CIntelligentSearchingDlg> window;
  SetWholeDeviceSearchHook([&](CIntelligentSearchingDlg& dialog) { window = &dialog; });
  const auto reading = [&] {
    if (!window) return std::string("no window");
    IntelligentSearchSummary summary;
    window->GetSummary(&summary);
    return "block " + std::to_string(window->ReportedBlock()) + ", files " +
           std::to_string(summary.TotalFilesFound) + ", FAT folders " + std::to_string(summary.FATFolders);
  };
  const auto held = [&] { return window && window->IsWorkHeld(); };
  const auto running = [&] { return window && window->IsJobRunning() && !window->HasJobEnded(); };
  const auto cancel = [&] {
    return window ? static_cast<QAbstractButton*>(window->CancelButton()) : nullptr;
  };
  const auto shown = [&] { return static_cast<QWidget*>(window.data()); };
  int64_t heldAt = -1;
  int64_t last = -1;

  std::vector<CancelStep> steps(2);
  steps[0].ready = [&] { return window && window->isVisible() && window->ReportedBlock() >= 1; };
  steps[0].answer = QMessageBox::No;
  steps[0].screenshot = "dialog-intelligent-search-asking";
  steps[1].ready = [&] {
    if (heldAt < 0 && window) heldAt = window->ReportedBlock();
    return window && window->ReportedBlock() > heldAt;
  };
  steps[1].answer = QMessageBox::Yes;
  for (CancelStep& step : steps) {
    step.reading = reading;
    step.held = held;
    step.running = running;
    step.cancelButton = cancel;
    step.window = shown;
  }
  // The last block the window heard of, until it goes.
  QTimer follow;
  bool pictured = false;
  QObject::connect(&follow, &QTimer::timeout, [&] {
    if (!window) return;
    last = window->ReportedBlock();
    if (!pictured && window->IsCancelled() && window->isVisible()) {
      pictured = true;
      SaveScreenshot(window->grab().toImage(), "dialog-intelligent-search-cancelling");
    }
  });
  follow.start(5);
  {
    CancelPlayer player(&steps);
    ClickNext();
    EXPECT_TRUE(player.Finished());
  }
  follow.stop();

  EXPECT_EQ(StopQuestionsAsked(), (std::vector<std::string>(2, "Do you want to stop searching?")));
  for (const CancelStep& step : steps) {
    EXPECT_TRUE(step.answered);
    EXPECT_EQ(step.question, "Do you want to stop searching?");
    EXPECT_FALSE(step.firstReading.empty());
    EXPECT_EQ(step.secondReading, step.firstReading) << "the search went on while the question was open";
  }
  // 64 MiB in blocks of 4 MiB: the last block is number 15.
  EXPECT_GT(last, heldAt) << "No lets the search go on";
  EXPECT_LT(last, 15) << "Yes stops the search before the end of the volume";
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_TRUE(frame->isEnabled());
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryPartitionDeviceSelect);
}

// The recovery of every file of the volume, stopped twice in two runs: answered No it runs to its
// end and every file is there whole; answered Yes it stops, the file being written is not left half
// written, and the result page says the recovery was cancelled with the count of files written.
TEST_F(CancelHoldsTheWork, TheCopyStandsStillWhileItsQuitQuestionIsOpen) {
  ASSERT_NO_FATAL_FAILURE(OpenDevicePage());
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  auto* files = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
  ASSERT_NE(files->GetFileTree(), nullptr);
  CFileNode* partition = files->GetFileTree()->GetFirstChild();
  ASSERT_NE(partition, nullptr);
  corvale::test::TickInTree(files, partition, frame.get());
  const auto expected = FilesBelow(m_fixture + "/content/data");
  ASSERT_EQ(expected.size(), 5004u);

  // Answered No: the recovery runs to its end.
  {
    const std::string target = m_folder + "/recovered";
    fs::create_directories(target);
    std::vector<CancelStep> steps{RecoveryCancel(1, QMessageBox::No, target, "dialog-recovering-asking")};
    CancelPlayer player(&steps);
    const auto saved = corvale::test::SaveTickedFiles(sheet, target, "cancel-hold-result-completed");
    EXPECT_TRUE(player.Finished());
    EXPECT_TRUE(steps[0].answered);
    EXPECT_EQ(steps[0].question, "Quit recovering?");
    EXPECT_NE(steps[0].firstReading.find("bytes"), std::string::npos);
    EXPECT_NE(steps[0].firstReading.rfind("5004 files", 0), 0u) << "the question came before the end";
    EXPECT_EQ(steps[0].secondReading, steps[0].firstReading)
        << "the copy went on while the question was open";
    EXPECT_EQ(saved.outcome, "All files are recovered successfully.");
    ASSERT_EQ(GetSaveFileController()->GetResultStringCount(), 1);
    const fs::path data = FolderNamed(GetSaveFileController()->GetResultString(0), "data");
    ASSERT_FALSE(data.empty());
    EXPECT_EQ(FilesBelow(data), expected) << "every file, at its path, whole";
  }

  // Answered Yes: what was written is whole, the rest is not there.
  {
    const std::string target = m_folder + "/stopped";
    fs::create_directories(target);
    std::vector<CancelStep> steps{RecoveryCancel(10, QMessageBox::Yes, target, "")};
    CancelPlayer player(&steps);
    const auto saved = corvale::test::SaveTickedFiles(sheet, target, "cancel-hold-result-cancelled");
    EXPECT_TRUE(player.Finished());
    EXPECT_EQ(steps[0].secondReading, steps[0].firstReading)
        << "the copy went on while the question was open";
    EXPECT_EQ(saved.outcome, "The recovery was cancelled.");
    const int written = GetSaveFileController()->GetRecoveredFileCount();
    EXPECT_GE(written, 10) << "files were written before the cancel";
    EXPECT_LT(written, GetSaveFileController()->GetFileCount());
    ASSERT_EQ(GetSaveFileController()->GetResultStringCount(), 1);
    const fs::path top = GetSaveFileController()->GetResultString(0);
    const fs::path data = FolderNamed(top, "data");
    ASSERT_FALSE(data.empty());
    const auto recovered = FilesBelow(data);
    EXPECT_EQ(FilesBelow(top).size(), recovered.size()) << "nothing was written outside the folder";
    EXPECT_EQ(static_cast<int>(recovered.size()), written) << "the result counts the files written";
    for (const auto& [path, bytes] : recovered) {
      ASSERT_TRUE(expected.count(path)) << path;
      EXPECT_EQ(bytes, expected.at(path)) << path << " is whole";
    }
  }
  EXPECT_EQ(StopQuestionsAsked(), (std::vector<std::string>(2, "Quit recovering?")));
  EXPECT_TRUE(boxes.empty()) << boxes.front();
}

}  // namespace
