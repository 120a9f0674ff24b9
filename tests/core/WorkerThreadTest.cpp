#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/WorkerThread.h"

TEST(WorkerThread, GivesTheWorkersResultFromAnotherThread) {
  std::thread::id workerThread;
  const std::optional<std::string> result = RunOnWorker([&] {
    workerThread = std::this_thread::get_id();
    return std::string("done");
  });
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, "done");
  EXPECT_NE(workerThread, std::this_thread::get_id());
}

TEST(WorkerThread, TheWorkersExceptionReachesTheCaller) {
  try {
    RunOnWorker([]() -> int { throw std::runtime_error("bad chain"); });
    FAIL() << "no exception reached the caller";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "bad chain");
  }
  // Work without a result goes the same way.
  EXPECT_THROW(RunOnWorkerThread([] { throw std::length_error("too long"); }), std::length_error);
}
