// The recovering window's figures at the edges of a run, read against a clock the test moves: sizes
// and times as texts, the remaining time from nothing done to terabytes after days, the progress
// bar's units, the once-a-second refresh, and the keys and Cancel of the window.
#include <gtest/gtest.h>

#include <QProgressBar>
#include <QTest>
#include <string>

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "dialogs/RecoveringDlg.h"
#include "dialogs/RemainingTimeEstimator.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"

namespace {

constexpr int64_t kKiB = 1024;
constexpr int64_t kMiB = 1024 * kKiB;
constexpr int64_t kGiB = 1024 * kMiB;
constexpr int64_t kTiB = 1024 * kGiB;

TEST(RecoveringFigures, SizeAndTimeTexts) {
  const struct {
    int64_t bytes;
    const char* text;
  } sizes[] = {
      {0, "0 Byte"},
      {1, "1 Byte"},
      {1023, "1023 Byte"},
      {1024, "1.00 KB"},
      {kMiB - 1, "1024.00 KB"},
      {kMiB, "1.00 MB"},
      {kGiB, "1.00 GB"},
      {5 * kGiB + kGiB / 2, "5.50 GB"},
      {3 * kTiB, "3072.00 GB"},
      {-5, "-5 Byte"},
      {-2048, "-2.00 KB"},
  };
  for (const auto& s : sizes) EXPECT_EQ(recovering::SizeText(s.bytes), s.text) << s.bytes;

  const struct {
    int64_t seconds;
    const char* text;
  } times[] = {{0, "00:00:00"}, {59, "00:00:59"}, {3661, "01:01:01"}, {90000, "25:00:00"}, {-3, "00:00:00"}};
  for (const auto& t : times) EXPECT_EQ(recovering::TimeText(t.seconds), t.text) << t.seconds;
}

TEST(RecoveringFigures, RemainingTimeAtTheExtremes) {
  const struct {
    const char* what;
    int64_t total, done;
    uint64_t elapsedMs;
    const char* text;
  } cases[] = {
      {"an empty selection", 0, 0, 60000, "Calculating..."},
      {"nothing done yet", 1, 0, 60000, "Calculating..."},
      {"within the first five seconds", 100 * kMiB, 99 * kMiB, 4999, "Calculating..."},
      {"one byte, done", 1, 1, 6000, "00:00:01"},
      {"half of 10 MiB in 10 s", 10 * kMiB, 5 * kMiB, 10000, "00:00:11"},
      {"5 GiB, 1 GiB in 100 s", 5 * kGiB, kGiB, 100000, "00:06:41"},
      {"very slow: 1 byte of 4 GiB in 10 s", 4 * kGiB + 1, 1, 10000, "11930464:42:41"},
      {"4 TiB, 1 MiB after ten hours", 4 * kTiB, kMiB, 36000000ull, "41943030:00:01"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(recovering::RemainingText(c.total, c.done, c.elapsedMs), c.text) << c.what;
  // No overflow however large: terabytes after days keep a positive estimate.
  EXPECT_GT(recovering::RemainingMs(INT64_MAX, 1, UINT32_MAX), 0);
}

TEST(RecoveringFigures, TheBarCountsBytesBelowOneGibAndMibFromThere) {
  const struct {
    int64_t total, done;
    int32_t maximum, position;
  } cases[] = {
      {0, 0, 1, 1},
      {1, 0, 1, 0},
      {1, 1, 1, 1},
      {kGiB - 1, kGiB / 2, int32_t(kGiB - 1), int32_t(kGiB / 2)},
      {kGiB, kGiB / 2, 1024, 512},
      {5 * kGiB, 6 * kGiB, 5120, 5120},
      {10 * kTiB, kTiB, 10 * 1024 * 1024, 1024 * 1024},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(recovering::BarMaximum(c.total), c.maximum) << c.total;
    EXPECT_EQ(recovering::BarPosition(c.total, c.done), c.position) << c.total << " " << c.done;
  }
}

TEST(RemainingTimeEstimator, EstimatesFromTheElapsedTenthsOfASecond) {
  uint32_t now = 0xFFFFF000u;  // the tick counter wraps during the run
  CRemainingTimeEstimator estimator([&] { return now; });
  EXPECT_EQ(estimator.GetRemainingMs(), 0);
  estimator.Start(100);
  now += 10000;
  estimator.Update(0);
  EXPECT_EQ(estimator.GetRemainingMs(), 0) << "nothing done leaves the estimate as it was";
  estimator.Update(25);
  EXPECT_EQ(estimator.GetRemainingMs(), 30000);
  now += 30000;
  estimator.Update(100);
  EXPECT_EQ(estimator.GetRemainingMs(), 0);
  estimator.Start(INT32_MAX);
  now += 4000000000u;
  estimator.Update(1);
  EXPECT_EQ(estimator.GetRemainingMs(), INT32_MAX) << "a huge estimate is held at the largest value";
}

class RecoveringWindow : public ::testing::Test {
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

  uint32_t now = 1000;
  corvale::ui::MessageAnswer answer = corvale::ui::MessageAnswer::No;
  std::vector<std::string> questions;

 private:
  corvale::ui::QuestionHandler m_previous;
};

TEST_F(RecoveringWindow, RefreshesAtMostOnceASecondAndCalculatesForFiveSeconds) {
  CRecoveringDlg dialog(nullptr, nullptr, "/tmp", nullptr, [this] { return now; });
  dialog.Begin(3, 3 * kGiB);
  dialog.Refresh(true);
  EXPECT_EQ(dialog.Text(CRecoveringDlg::kIdSelectedFiles), "3");
  EXPECT_EQ(dialog.Text(CRecoveringDlg::kIdTotalSize), "3.00 GB");
  EXPECT_EQ(dialog.Text(CRecoveringDlg::kIdRemaining), "Calculating...");

  dialog.SetCurrentFile("big.bin");
  dialog.AddBytes(kGiB);
  dialog.AddFiles(1);
  now += 1000;
  dialog.Refresh();
  EXPECT_EQ(dialog.Text(CRecoveringDlg::kIdFilesDone), "0") << "not due before more than a second";
  now += 1;
  dialog.Refresh();
  EXPECT_EQ(dialog.Text(CRecoveringDlg::kIdFilesDone), "1");
  EXPECT_EQ(dialog.Text(CRecoveringDlg::kIdDoneSize), "1.00 GB");
  EXPECT_EQ(dialog.Text(CRecoveringDlg::kIdCurrentFile), "big.bin");
  EXPECT_EQ(dialog.Text(CRecoveringDlg::kIdRemaining), "Calculating...") << "within the first five seconds";

  now += 9000 - 1;  // ten seconds in
  dialog.Refresh();
  EXPECT_EQ(dialog.Text(CRecoveringDlg::kIdElapsed), "00:00:10");
  EXPECT_EQ(dialog.Text(CRecoveringDlg::kIdRemaining), "00:00:21");
  EXPECT_EQ(dialog.ProgressBar()->maximum(), 3072);
  EXPECT_EQ(dialog.ProgressBar()->value(), 1024);

  dialog.SubtractBytes(UINT32_MAX);
  dialog.SubtractBytes(UINT32_MAX);
  EXPECT_EQ(dialog.GetRecoveredBytes(), 0) << "bytes done never go below nothing";
}

TEST_F(RecoveringWindow, KeysNeverEndItAndCancelAsksFirst) {
  CRecoveringDlg dialog(nullptr, nullptr, "/tmp", nullptr, [this] { return now; });
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QTest::keyClick(&dialog, Qt::Key_Escape);
  QTest::keyClick(&dialog, Qt::Key_Return);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_TRUE(questions.empty());
  EXPECT_EQ(dialog.Poll(), 0);

  auto* cancel = corvale::ui::FindControl<CButtonPlus>(&dialog, corvale::ui::kIdCancel);
  ASSERT_NE(cancel, nullptr);
  QTest::mouseClick(cancel, Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_EQ(questions, std::vector<std::string>{"Quit recovering?"});
  EXPECT_EQ(dialog.Poll(), 0) << "No goes on";
  answer = corvale::ui::MessageAnswer::Yes;
  QTest::mouseClick(cancel, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(dialog.Poll(), -1);
  EXPECT_EQ(dialog.AddBytes(1), -1);
  EXPECT_EQ(dialog.windowTitle(), "Cancelling...");
  EXPECT_FALSE(cancel->isEnabled());
  EXPECT_TRUE(dialog.isVisible()) << "the run ends the window, not the button";
}

TEST_F(RecoveringWindow, AnEmptySelectionEndsAtOnceWithNothingCounted) {
  CRecoveringDlg dialog(nullptr, nullptr, "/nonexistent", nullptr, [this] { return now; });
  EXPECT_EQ(dialog.DoModal(), QDialog::Accepted);
  EXPECT_EQ(dialog.GetFileCount(), 0);
  EXPECT_EQ(dialog.GetRecoveredFileCount(), 0);
  EXPECT_EQ(dialog.GetRecoveredBytes(), 0);
  EXPECT_EQ(dialog.ProgressBar()->maximum(), 1);
  EXPECT_TRUE(dialog.GetSavedFolders().empty());
}

TEST_F(RecoveringWindow, Screenshots) {
  CRecoveringDlg dialog(nullptr, nullptr, "/tmp", nullptr, [this] { return now; });
  dialog.Begin(1250, 6 * kGiB + 300 * kMiB);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  dialog.AddFiles(512);
  dialog.AddBytes(2 * kGiB + 100 * kMiB);
  dialog.SetCurrentFile("Holiday Picture 0512.jpg");
  now += 95000;
  dialog.Refresh(true);
  EXPECT_FALSE(corvale::test::SaveScreenshot(dialog.grab().toImage(), "recovering-details").empty());
  dialog.ShowDetails(false);
  EXPECT_FALSE(corvale::test::SaveScreenshot(dialog.grab().toImage(), "recovering-collapsed").empty());
  dialog.ShowDetails(true);
}

}  // namespace
