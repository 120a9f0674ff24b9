// The gate between a long job's window and its worker: a held gate stops the worker at its next
// report until the window answers; a release lets it go on, a cancel lets it go with "cancelled".
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/JobGate.h"

namespace {

// Waits (bounded, so a broken gate fails instead of hanging) until `done` holds.
template <typename Condition>
bool WaitUntil(Condition done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(JobGate, AnOpenGateNeverStopsTheWorker) {
  CJobGate gate;
  for (int i = 0; i < 1000; ++i) ASSERT_FALSE(gate.Pass());
  EXPECT_FALSE(gate.IsHeld());
  EXPECT_FALSE(gate.IsWorkerWaiting());
  gate.Cancel();
  EXPECT_TRUE(gate.Pass());
  EXPECT_TRUE(gate.IsCancelled());
  // Holding a cancelled job stops nothing: the worker is winding down.
  gate.Hold();
  EXPECT_TRUE(gate.Pass());
}

// The worker counts its reports; while the gate is held the count stands still, whatever the
// window does meanwhile, and the answer decides how the worker goes on.
TEST(JobGate, AHeldGateStopsTheWorkerUntilTheAnswer) {
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "answered Yes" : "answered No");
    CJobGate gate;
    std::atomic<int> reports{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> sawCancel{false};
    gate.Hold();
    std::thread worker([&] {
      while (!stop) {
        ++reports;
        if (gate.Pass()) {
          sawCancel = true;
          return;
        }
      }
    });
    ASSERT_TRUE(WaitUntil([&] { return gate.IsWorkerWaiting(); }));
    const int held = reports.load();
    EXPECT_EQ(held, 1) << "the first report met the held gate";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(reports.load(), held) << "nothing moves while the question is open";

    if (cancel) {
      gate.Cancel();
    } else {
      gate.Release();
      ASSERT_TRUE(WaitUntil([&] { return reports.load() > held + 100; })) << "the work goes on";
      stop = true;
    }
    worker.join();
    EXPECT_EQ(sawCancel.load(), cancel);
    EXPECT_FALSE(gate.IsWorkerWaiting());
  }
}

}  // namespace
