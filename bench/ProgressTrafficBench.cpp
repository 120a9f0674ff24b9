// corvale-bench progress-traffic [SECONDS]: a fake build worker reports progress as fast as it can
// for SECONDS (2 by default) to the directory-build window, shown on Qt's offscreen platform when
// there is no display. Counts the worker's calls and the events the window's thread handled
// meanwhile, and the window's refreshes: a coalescing window keeps the events per second flat
// however fast the worker calls. Ends with a JSON line.

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "bench/Bench.h"
#include "dialogs/BuildDirectoryDlg.h"

namespace {

class EventCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    ++events;
    if (event->type() == QEvent::MetaCall) ++queuedCalls;
    return false;
  }
  uint64_t events = 0;
  uint64_t queuedCalls = 0;
};

int RunProgressTraffic(int argc, char** argv) {
  const double seconds = argc > 0 ? std::atof(argv[0]) : 2.0;
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  char name[] = "corvale-bench";
  char* qtArgv[] = {name, nullptr};
  QApplication app(qtArgc, qtArgv);
  uint64_t calls = 0;
  double measured = 0;
  EventCounter counter;
  uint64_t refreshes = 0;
  {
    CBuildDirectoryDlg dialog;
    CDIRBuildCallback callback(&dialog);
    dialog.show();
    app.processEvents();
    std::atomic<bool> done{false};
    app.installEventFilter(&counter);
    const uint64_t refreshesBefore = dialog.RefreshCount();
    const auto start = std::chrono::steady_clock::now();
    std::thread worker([&] {
      callback.BeginStage("Reading the file records", 1 << 30);
      while (SecondsSince(start) < seconds) {
        for (int i = 0; i < 1000; ++i) callback.AddProgress(1);
        calls += 1000;
      }
      callback.EndStage();
      done = true;
    });
    while (!done) app.processEvents(QEventLoop::AllEvents, 5);
    worker.join();
    measured = SecondsSince(start);
    app.removeEventFilter(&counter);
    refreshes = dialog.RefreshCount() - refreshesBefore;
  }
  std::printf("fake worker: %" PRIu64 " progress calls in %.2f s (%.0f calls/s)\n", calls, measured,
              calls / measured);
  std::printf("  window thread: %" PRIu64 " events (%.1f/s), %" PRIu64 " queued calls, %" PRIu64
              " refreshes (%.1f/s)\n",
              counter.events, counter.events / measured, counter.queuedCalls, refreshes,
              refreshes / measured);
  std::printf("{\"bench\":\"progress-traffic\",\"seconds\":%.3f,\"worker_calls\":%" PRIu64
              ",\"worker_calls_per_second\":%.0f,\"gui_events\":%" PRIu64
              ",\"gui_events_per_second\":%.1f,"
              "\"queued_calls\":%" PRIu64 ",\"refreshes_per_second\":%.1f}\n",
              measured, calls, calls / measured, counter.events, counter.events / measured,
              counter.queuedCalls, refreshes / measured);
  return 0;
}

const BenchRegistration kProgressTraffic("progress-traffic", "[SECONDS]", RunProgressTraffic);

}  // namespace
