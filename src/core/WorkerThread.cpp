#include "core/WorkerThread.h"

#include <exception>
#include <system_error>
#include <thread>

bool RunOnWorkerThread(const std::function<void()>& work) {
  std::exception_ptr error;
  try {
    std::thread worker([&work, &error] {
      try {
        work();
      } catch (...) {
        // Kept for the caller, who rethrows it: nothing is swallowed here.
        error = std::current_exception();
      }
    });
    worker.join();
  } catch (const std::system_error&) {
    return false;
  }
  if (error) std::rethrow_exception(error);
  return true;
}
