#pragma once
// What the device pages share about collecting their devices and the rows around them: the worker
// that collects while the program's window is disabled under a busy animation, the "Previous
// Recovery..." row, and reading the record of the selected row.

#include <QPointer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "controls/DeviceSelectCtrl.h"

class CImageWnd;
class IWizardPageController;
class QObject;
class QWidget;

// One device page's collection worker. The worker never touches a window: what it collected goes
// to the window thread through a queued call, and is dropped when a newer collection began (or the
// page was cleaned up) meanwhile.
class CDeviceCollectionRun {
 public:
  CDeviceCollectionRun() = default;
  CDeviceCollectionRun(const CDeviceCollectionRun&) = delete;
  CDeviceCollectionRun& operator=(const CDeviceCollectionRun&) = delete;
  ~CDeviceCollectionRun() { Join(); }

  // Runs `collect` on a worker, with the program's window disabled and a busy animation over it.
  // On the window thread, once the worker is done, the window comes back and `done` gets the result
  // (unless `Cancel` or a newer `Run` came first). `trace` is logged when the worker ends.
  template <typename Result>
  void Run(std::function<Result()> collect, std::function<void(Result)> done, const char* trace) {
    Launch(
        [collect = std::move(collect), done = std::move(done)]() -> std::function<void()> {
          auto result = std::make_shared<Result>(collect());
          return [done, result] { done(std::move(*result)); };
        },
        trace);
  }
  // Drops a collection still running and gives the window back.
  void Cancel();
  bool IsCollecting() const { return m_collecting; }
  // Waits for a worker that has finished its work (or is about to).
  void Join();

 private:
  // Starts the worker: `work` collects and returns what the window thread runs with the result.
  void Launch(std::function<std::function<void()>()> work, const char* trace);
  void StopAnimation();

  std::thread m_worker;
  uint64_t m_generation = 0;
  bool m_collecting = false;
  QObject* m_receiver = nullptr;
  QPointer<CImageWnd> m_animation;
  QPointer<QWidget> m_disabledWindow;
};

// The "Previous Recovery..." row: listed first when a saved scan of the page's recovery can be
// resumed, showing that scan's result text; it has no record.
class CPreviousRecoveryRow {
 public:
  // Reads the result text of `controller`'s last saved scan (at most `length` characters with the
  // terminator); the row is shown when there is one.
  void Read(IWizardPageController* controller, size_t length);
  void Set(bool available, std::string text);
  void Clear() { m_available = false; }
  bool IsAvailable() const { return m_available; }
  // Adds the row, named `name`, when a saved scan can be resumed.
  void AddTo(CDeviceSelectCtrl* list, const std::string& name) const;
  // Whether the list's selected row is this row.
  bool IsSelected(const CDeviceSelectCtrl* list) const;
  // When this row is selected: takes it off the list and deletes `controller`'s saved scan.
  void Remove(CDeviceSelectCtrl* list, IWizardPageController* controller);

 private:
  bool m_available = false;
  std::string m_text;
};

// The record behind the list's selected row; null when no row (or a row without a record) is
// selected.
template <typename Record>
Record* SelectedRecord(const CDeviceSelectCtrl* list) {
  return list ? static_cast<Record*>(list->GetItemData(list->GetCurSel())) : nullptr;
}

// Milliseconds from `start` until now, for the usage events.
uint32_t ElapsedMilliseconds(std::chrono::steady_clock::time_point start);
