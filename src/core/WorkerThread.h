#pragma once
// Runs a piece of engine work on a thread of its own while the calling thread waits for it: for the
// callers that ask the engine for "a worker thread" (a one-file recovery, the RAW folder build) from
// a thread that may itself be a window's job. Nothing here touches an event loop; a window never
// calls this on its own thread, it hands the whole job to its worker (CWorkerJob) instead.
//
// Whatever the work throws reaches the caller: the worker keeps the exception and the caller rethrows
// it once the worker has been joined.

#include <functional>
#include <optional>
#include <type_traits>

// Runs `work` on a new thread and waits for it. False when no thread could be started: then the work
// has not run.
bool RunOnWorkerThread(const std::function<void()>& work);

// The same for work that gives a result: the result, or nothing when no thread could be started.
template <typename Work>
auto RunOnWorker(Work&& work) -> std::optional<std::invoke_result_t<Work&>> {
  std::optional<std::invoke_result_t<Work&>> result;
  if (!RunOnWorkerThread([&] { result.emplace(work()); })) return std::nullopt;
  return result;
}
