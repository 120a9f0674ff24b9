#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/WorkerPump.h"

namespace {

// A pump that counts its turns and notes the thread that turned it.
struct CountingPump {
  std::atomic<int> turns{0};
  std::thread::id thread;
  WorkerPumpHook Hook() {
    return [this] {
      thread = std::this_thread::get_id();
      ++turns;
    };
  }
};

// Waits (bounded, so a broken helper fails instead of hanging) until `pump` has turned `n` times.
bool WaitForTurns(const CountingPump& pump, int n) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (pump.turns.load() < n) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace

TEST(WorkerPump, GivesTheWorkersResultAndTurnsThePumpOnTheCallersThread) {
  CountingPump pump;
  std::thread::id workerThread;
  const std::optional<int> result = RunOnWorkerWithPump(
      [&] {
        workerThread = std::this_thread::get_id();
        return 42;
      },
      pump.Hook());
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, 42);
  EXPECT_NE(workerThread, std::this_thread::get_id());
  // A worker that ends at once still lets the caller handle its messages once.
  EXPECT_GE(pump.turns.load(), 1);
  EXPECT_EQ(pump.thread, std::this_thread::get_id());
}

TEST(WorkerPump, WithoutAPumpTheCallerJustWaitsForTheResult) {
  const std::optional<std::string> result = RunOnWorkerWithPump(
      [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return std::string("done");
      },
      nullptr);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, "done");
}

// The work only ends once the caller has turned its pump a few times: a caller that waited without
// pumping would never see it end.
TEST(WorkerPump, ThePumpKeepsTurningWhileTheWorkerWaitsForIt) {
  CountingPump pump;
  const std::optional<bool> sawTurns =
      RunOnWorkerWithPump([&] { return WaitForTurns(pump, 5); }, pump.Hook());
  ASSERT_TRUE(sawTurns.has_value());
  EXPECT_TRUE(*sawTurns);
  EXPECT_GE(pump.turns.load(), 5);
}

// Between turns the caller sleeps on the worker's end: over a quarter of a second of work it turns
// the pump a few dozen times at most, where a caller that spun would turn it many thousand times.
TEST(WorkerPump, TheCallerSleepsBetweenTurnsInsteadOfSpinning) {
  CountingPump pump;
  const std::optional<int> result = RunOnWorkerWithPump(
      [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        return 1;
      },
      pump.Hook());
  ASSERT_TRUE(result.has_value());
  EXPECT_GE(pump.turns.load(), 1);
  EXPECT_LE(pump.turns.load(), 250 / 10 * 4);
}

class WorkerPumpThrowingWork : public ::testing::TestWithParam<bool> {};

TEST_P(WorkerPumpThrowingWork, TheWorkersExceptionReachesTheCaller) {
  CountingPump pump;
  const WorkerPumpHook hook = GetParam() ? pump.Hook() : WorkerPumpHook{};
  try {
    RunOnWorkerWithPump([]() -> int { throw std::runtime_error("bad chain"); }, hook);
    FAIL() << "no exception reached the caller";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "bad chain");
  }
  // Work without a result goes the same way.
  EXPECT_THROW(RunWorkWithPump([] { throw std::length_error("too long"); }, hook), std::length_error);
}

INSTANTIATE_TEST_SUITE_P(WorkerPump, WorkerPumpThrowingWork, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "with_pump" : "without_pump"; });

// A pump that throws does not leave the worker running on the caller's objects: the caller waits for
// the work to end before the exception goes on.
TEST(WorkerPump, APumpsExceptionReachesTheCallerAfterTheWorkHasEnded) {
  std::atomic<bool> workEnded{false};
  std::atomic<int> turns{0};
  EXPECT_THROW(RunWorkWithPump(
                   [&] {
                     while (turns.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                     std::this_thread::sleep_for(std::chrono::milliseconds(30));
                     workEnded = true;
                   },
                   [&] {
                     ++turns;
                     throw std::logic_error("pump failed");
                   }),
               std::logic_error);
  EXPECT_TRUE(workEnded.load());
  EXPECT_EQ(turns.load(), 1);
}
