// The part every progress window shares, seen through the directory-build window: a job run while
// the window stays in its event loop, the stop question holding the work at its next report, a job
// that ends while the question is still open, and what the work throws.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "dialogs/BuildDirectoryDlg.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"

using corvale::ui::MessageAnswer;

namespace {

class ProgressWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    m_previous =
        corvale::ui::SetQuestionHandler([this](const std::string& text, const std::string&,
                                               corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
          questions.push_back(text);
          return whileAsked ? whileAsked() : MessageAnswer::No;
        });
  }
  void TearDown() override { corvale::ui::SetQuestionHandler(m_previous); }

  // Clicks Cancel once the window's event loop runs.
  void ClickCancelSoon(CBuildDirectoryDlg& dialog) {
    QTimer::singleShot(0, &dialog, [&dialog] { QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton); });
  }

  std::vector<std::string> questions;
  // What the person does while the question is open; returns the answer.
  std::function<MessageAnswer()> whileAsked;

 private:
  corvale::ui::QuestionHandler m_previous;
};

// The work reports all the time; while the question is open it stands at its next report, whatever
// the window's thread does meanwhile. No lets it finish.
TEST_F(ProgressWindow, TheQuestionHoldsTheWorkAtItsNextReport) {
  CBuildDirectoryDlg dialog;
  dialog.show();
  std::atomic<int> reports{0};
  int atQuestion = -1;
  int afterWaiting = -1;
  whileAsked = [&] {
    for (int i = 0; i < 2000 && !dialog.IsWorkHeld(); ++i) QTest::qWait(5);
    atQuestion = reports.load();
    QTest::qWait(100);
    afterWaiting = reports.load();
    return MessageAnswer::No;
  };
  ClickCancelSoon(dialog);
  ASSERT_TRUE(dialog.RunJob([&] {
    for (int i = 0; i < 20000; ++i) {
      ++reports;
      ASSERT_EQ(dialog.Tick(), 0);
      if (i < 100) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }));
  EXPECT_EQ(questions, std::vector<std::string>{"Abort Building?"});
  EXPECT_GT(atQuestion, 0);
  EXPECT_EQ(afterWaiting, atQuestion) << "the work went on while the question was open";
  EXPECT_EQ(reports.load(), 20000) << "No lets the work finish";
  EXPECT_FALSE(dialog.IsCancelled());
  EXPECT_TRUE(dialog.CancelButton()->isEnabled());
}

// Work that ends without another report while the question is open cannot be held: the window waits
// for the answer before the job counts as run, and the answer still counts.
TEST_F(ProgressWindow, AJobThatEndsWhileTheQuestionIsOpenWaitsForTheAnswer) {
  for (const MessageAnswer answer : {MessageAnswer::No, MessageAnswer::Yes}) {
    SCOPED_TRACE(answer == MessageAnswer::Yes ? "Yes" : "No");
    questions.clear();
    CBuildDirectoryDlg dialog;
    dialog.show();
    std::atomic<bool> asked{false};
    bool endedWhileAsked = false;
    whileAsked = [&] {
      asked = true;
      for (int i = 0; i < 2000 && !dialog.HasJobEnded(); ++i) QTest::qWait(5);
      endedWhileAsked = dialog.HasJobEnded() && dialog.IsJobRunning();
      return answer;
    };
    ClickCancelSoon(dialog);
    ASSERT_TRUE(dialog.RunJob([&] {
      while (!asked) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }));
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_TRUE(endedWhileAsked) << "the job ended under the open question and RunJob waited";
    EXPECT_FALSE(dialog.IsJobRunning());
    EXPECT_EQ(dialog.IsCancelled(), answer == MessageAnswer::Yes);
    EXPECT_EQ(dialog.windowTitle().toStdString(),
              answer == MessageAnswer::Yes ? "Cancelling..." : "Building directory");
  }
}

TEST_F(ProgressWindow, WhatTheWorkThrowsReachesTheCaller) {
  CBuildDirectoryDlg dialog;
  dialog.show();
  EXPECT_THROW(dialog.RunJob([] { throw std::length_error("bad chain"); }), std::length_error);
  EXPECT_FALSE(dialog.IsJobRunning());
  // The window runs the next job as if nothing had happened.
  bool ran = false;
  EXPECT_TRUE(dialog.RunJob([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

}  // namespace
