#include "core/WorkerPump.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// What the worker hands back to the caller. It lives on the caller's stack, which the caller leaves
// only after the worker has been joined.
struct WorkerEnd {
  std::mutex mutex;
  std::condition_variable signal;
  bool done = false;
  std::exception_ptr error;

  bool WaitFor(std::chrono::milliseconds interval) {
    std::unique_lock<std::mutex> lock(mutex);
    return signal.wait_for(lock, interval, [this] { return done; });
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex);
    signal.wait(lock, [this] { return done; });
  }
};

}  // namespace

bool RunWorkWithPump(const std::function<void()>& work, const WorkerPumpHook& pump) {
  WorkerEnd end;
  std::thread worker;
  try {
    worker = std::thread([&work, &end] {
      std::exception_ptr error;
      try {
        work();
      } catch (...) {
        // Kept for the caller, who rethrows it: nothing is swallowed here.
        error = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(end.mutex);
      end.error = error;
      end.done = true;
      end.signal.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }

  std::exception_ptr pumpError;
  if (pump) {
    // The caller's messages are handled at least once, however quickly the worker ends.
    try {
      do {
        pump();
      } while (!end.WaitFor(kPumpInterval));
    } catch (...) {
      pumpError = std::current_exception();
    }
  }
  end.Wait();
  worker.join();
  if (end.error) std::rethrow_exception(end.error);
  if (pumpError) std::rethrow_exception(pumpError);
  return true;
}
