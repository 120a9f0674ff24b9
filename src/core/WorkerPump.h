#pragma once
// Long engine work (a directory build, a recovery, the intelligent search) runs on a worker thread
// while the thread that asked for it keeps its windows alive by turning a message pump. This is the
// one place that does it: the caller turns its pump once, then sleeps on the worker's end for at
// most kPumpInterval, turns the pump again, and so on until the worker is done. The caller never
// spins: between turns it is blocked on a condition variable, and a worker that ends wakes it at
// once. Without a pump the caller simply blocks until the worker is done.
//
// Whatever the work throws reaches the caller: the worker keeps the exception and the caller
// rethrows it once the worker has been joined. An exception from the pump itself also reaches the
// caller, after the worker has ended (the work cannot be abandoned while it uses the caller's
// objects).

#include <chrono>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

// The caller's message pump: handles what is waiting for the caller's windows and returns; it must
// not wait for more.
using WorkerPumpHook = std::function<void()>;

// The longest the caller sleeps between two turns of its pump.
inline constexpr std::chrono::milliseconds kPumpInterval{10};

// Runs `work` on a new thread and turns `pump` (when set) on the calling thread until the work is
// done. False when no thread could be started: then the work has not run.
bool RunWorkWithPump(const std::function<void()>& work, const WorkerPumpHook& pump);

// The same for work that gives a result: the result, or nothing when no thread could be started.
template <typename Work>
auto RunOnWorkerWithPump(Work&& work, const WorkerPumpHook& pump)
    -> std::optional<std::invoke_result_t<Work&>> {
  std::optional<std::invoke_result_t<Work&>> result;
  if (!RunWorkWithPump([&] { result.emplace(work()); }, pump)) return std::nullopt;
  return result;
}
