#pragma once
// What the device pages share about collecting their devices and the rows around them: the worker
// that collects while the program's window is disabled under a busy animation, the "Previous
// Recovery..." row, reading the record of the selected row, and the disk images listed on a page.

#include <QPointer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "controls/DeviceSelectCtrl.h"
#include "core/SourceRecords.h"
#include "platform/RecoveryContext.h"
#include "wizard/DeviceSelectPage.h"
#include "wizard/controller/DiskImageItems.h"

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

// The part of a device page's controller that keeps its list of `Record`s (a volume or a disk
// record) together with the disk images opened or made on the page: the images and their running
// numbers, the selected and chosen records, the "Previous Recovery..." row and the collection
// worker. The page's own controller fills the list and says what Next does.
template <typename Record>
class CImageListingPageController : public IDeviceSelectPageController {
 public:
  // Remembers the record of the list's selected row; false when none is selected (or it is the
  // "Previous Recovery..." row, which has no record).
  bool SelectCurrentItem() override {
    m_selected = SelectedRecord<Record>(m_list);
    return m_selected != nullptr;
  }
  bool IsImageSelected() override { return SelectCurrentItem() && m_selected->Kind == kSourceKindImage; }
  // Closes every listed image with the selected image's running number.
  void CloseSelectedImage() override {
    if (!IsImageSelected()) return;
    EraseImagesNumbered(
        m_images, m_selected->RunningNumber, [](const Record& image) { return image.RunningNumber; },
        [this](const Record& image) { ForgetImage(image); });
    m_selected = nullptr;
    FillList();
  }
  // Removes the "Previous Recovery..." row and deletes the saved result behind it.
  void RemovePreviousRecoveryItem() override { m_previousRow.Remove(m_list, GetWizardController()); }

  // The images opened or made here, and those a restored scan reopened. They stay listed across
  // collections; Home and Back close them.
  const std::vector<std::shared_ptr<Record>>& Images() const { return m_images; }
  // Forgets every listed image.
  void CloseAllImages() {
    for (const auto& image : m_images)
      if (image) ForgetImage(*image);
    m_images.clear();
    if (!m_run.IsCollecting()) FillList();
  }
  bool IsCollecting() const { return m_run.IsCollecting(); }
  // Whether the list's selected row is "Previous Recovery...".
  bool IsPreviousRecoverySelected() const { return m_previousRow.IsSelected(m_list); }
  CDeviceSelectCtrl* GetList() const { return m_list; }
  Record* GetChosen() const { return m_chosen; }

 protected:
  virtual void FillList() = 0;
  // Whether an image at `path` (the same file by another path included) is listed already.
  bool IsImageListed(const std::string& path) const {
    for (const auto& image : m_images)
      if (image && IsSameImagePath(image->ImagePath, path)) return true;
    return false;
  }
  // Lists `image` under the next running number.
  Record* ListImage(std::shared_ptr<Record> image) {
    image->RunningNumber = m_imageCounter++;
    m_images.push_back(std::move(image));
    if (!m_run.IsCollecting()) FillList();
    return m_images.back().get();
  }
  // Drops what points at `image` before it is closed.
  void ForgetImage(const Record& image) {
    CRecoveryContext& context = GetRecoveryContext();
    if (context.SourceRootDevice == image.Device) context.SourceRootDevice = nullptr;
    if (m_chosen == &image) m_chosen = nullptr;
    if (m_selected == &image) m_selected = nullptr;
  }

  CDeviceSelectCtrl* m_list = nullptr;
  std::vector<std::shared_ptr<Record>> m_images;
  int32_t m_imageCounter = 0;
  Record* m_selected = nullptr;
  Record* m_chosen = nullptr;
  CPreviousRecoveryRow m_previousRow;
  CDeviceCollectionRun m_run;
};
