// The whole-device search window: the bar's scale, the remaining and elapsed time with a clock the
// test moves, the collapsed and expanded views, Cancel asked first, and a real search run
// under it to its end and cancelled.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <string>
#include <vector>

#include "controls/DialogTemplate.h"
#include "core/IntelligentSearchController.h"
#include "dialogs/IntelligentSearchingDlg.h"
#include "platform/RecoveryContext.h"
#include "storage/MemoryDevice.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "ui/UsageStatistics.h"

using corvale::test::SaveScreenshot;
using corvale::ui::MessageAnswer;

namespace {

class IntelligentSearching : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    m_previous =
        corvale::ui::SetQuestionHandler([this](const std::string& text, const std::string&,
                                               corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
          questions.push_back(text);
          return answer;
        });
    m_previousRecorder =
        corvale::usage::SetRecorder([this](const corvale::usage::Record& r) { events.push_back(r.eventId); });
  }
  void TearDown() override {
    corvale::ui::SetQuestionHandler(m_previous);
    corvale::usage::SetRecorder(m_previousRecorder);
  }

  TickClock Clock() {
    return [this] { return now; };
  }

  uint32_t now = 1000;
  std::vector<std::string> questions;
  std::vector<int> events;
  MessageAnswer answer = MessageAnswer::Yes;

 private:
  corvale::ui::QuestionHandler m_previous;
  corvale::usage::Recorder m_previousRecorder;
};

TEST(IntelligentSearchingScale, TheBarHasAtMostAThousandUnits) {
  const struct {
    int64_t blocks, scale;
  } cases[] = {{0, 1},      {1, 1},      {1000, 1},    {1001, 10},
               {10000, 10}, {10009, 10}, {10010, 100}, {INT64_MAX, 10000000000000000}};
  for (const auto& c : cases) EXPECT_EQ(CIntelligentSearchingDlg::ScaleFor(c.blocks), c.scale) << c.blocks;
}

TEST_F(IntelligentSearching, RemainingTimeCalculatesFirstThenFollowsTheClock) {
  CIntelligentSearchingDlg dialog(nullptr, Clock());
  dialog.SetRange(0, 2000);
  dialog.Refresh(true);
  EXPECT_EQ(dialog.ProgressBar()->maximum(), 200);
  // Within 300 ms of the last refresh nothing is taken over.
  dialog.SetProgress(9);
  dialog.Refresh();
  EXPECT_EQ(dialog.ProgressBar()->value(), 0);
  // No time has a rate yet: "Calculating...".
  dialog.Refresh(true);
  EXPECT_EQ(dialog.ProgressBar()->value(), 1);
  EXPECT_EQ(dialog.Text(CIntelligentSearchingDlg::kIdRemaining), "Calculating...");
  // Half done after 20 s: 20 s left.
  now += 20000;
  dialog.SetProgress(999);
  IntelligentSearchSummary summary;
  summary.NTFSBootRecords = 2;
  summary.TotalFilesFound = 1234;
  dialog.SetSummary(&summary);
  dialog.Refresh();
  EXPECT_EQ(dialog.ProgressBar()->value(), 100);
  EXPECT_EQ(dialog.Text(CIntelligentSearchingDlg::kIdRemaining), "00:00:20");
  EXPECT_EQ(dialog.Text(1020), "2");
  EXPECT_EQ(dialog.Text(CIntelligentSearchingDlg::kIdTotalCollapsed), "1234");
  // Once a time was shown, an estimate of nothing left reads 00:00:00.
  now += 20000;
  dialog.SetProgress(1999);
  dialog.Refresh();
  EXPECT_EQ(dialog.Text(CIntelligentSearchingDlg::kIdRemaining), "00:00:00");
  // The elapsed time is read from the clock, however many ticks of the window's timer came.
  for (int i = 0; i < 5; ++i) dialog.OnSecond();
  EXPECT_EQ(dialog.Text(CIntelligentSearchingDlg::kIdElapsed), "00:00:40");
  now += 21000;
  dialog.OnSecond();
  EXPECT_EQ(dialog.Text(CIntelligentSearchingDlg::kIdElapsed), "00:01:01");
}

TEST_F(IntelligentSearching, CollapsedShowsOnlyTheTotalAndExpandedEveryCounter) {
  CIntelligentSearchingDlg dialog(nullptr, Clock());
  dialog.show();
  EXPECT_FALSE(dialog.DetailsShown());
  auto visible = [&](int id) { return corvale::ui::FindControl<QLabel>(&dialog, id)->isVisible(); };
  EXPECT_TRUE(visible(CIntelligentSearchingDlg::kIdTotalCollapsed));
  for (int id : CIntelligentSearchingDlg::kCounterIds) EXPECT_FALSE(visible(id));
  SaveScreenshot(dialog.grab().toImage(), "dialog-intelligent-search-collapsed");
  dialog.ShowDetails(true);
  EXPECT_FALSE(visible(CIntelligentSearchingDlg::kIdTotalCollapsed));
  for (int id : CIntelligentSearchingDlg::kCounterIds) EXPECT_TRUE(visible(id));
  SaveScreenshot(dialog.grab().toImage(), "dialog-intelligent-search-expanded");
}

TEST_F(IntelligentSearching, CancelAsksFirstAndTellsTheRecoveryMode) {
  CIntelligentSearchingDlg dialog(nullptr, Clock());
  GetRecoveryContext().RecoveryMode = 1;
  answer = MessageAnswer::No;
  dialog.reject();
  EXPECT_FALSE(dialog.IsCancelled());
  EXPECT_EQ(questions.size(), 1u);
  answer = MessageAnswer::Yes;
  now += 5000;
  dialog.reject();
  EXPECT_TRUE(dialog.IsCancelled());
  EXPECT_EQ(dialog.windowTitle(), "Cancelling...");
  EXPECT_EQ(events, std::vector<int>{8216});
  // A second Cancel does not ask again.
  dialog.reject();
  EXPECT_EQ(questions.size(), 2u);
}

TEST_F(IntelligentSearching, ARealSearchRunsToItsEndUnderTheWindow) {
  MemoryDevice device(std::vector<uint8_t>(64u << 20, 0));
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&device);
  CIntelligentSearchingDlg dialog(nullptr);
  EXPECT_EQ(dialog.RunSearch(driver), 1);
  EXPECT_TRUE(dialog.IsFinished());
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.ProgressBar()->value(), dialog.ProgressBar()->maximum());
}

TEST_F(IntelligentSearching, ACancelledSearchStopsAtTheNextBlock) {
  MemoryDevice device(std::vector<uint8_t>(64u << 20, 0));
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&device);
  CIntelligentSearchingDlg dialog(nullptr);
  dialog.reject();  // answered Yes before the first block
  EXPECT_EQ(dialog.RunSearch(driver), 1);
  EXPECT_TRUE(dialog.IsFinished());
  EXPECT_LT(dialog.ProgressBar()->value(), dialog.ProgressBar()->maximum());
}

}  // namespace
