#include "ui/UsageStatistics.h"

#include <dlfcn.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "core/DeviceCollection.h"
#include "platform/ProgramFolder.h"
#include "platform/TrustedFile.h"

namespace corvale::usage {
namespace {

struct State {
  std::once_flag loaded;
  ITallyeye* library = nullptr;
  std::mutex recorderMutex;
  Recorder recorder;
};

State& TheState() {
  static State* state = new State;
  return *state;
}

ITallyeye* Library() {
  State& s = TheState();
  std::call_once(s.loaded, [&s] {
    std::string folder = platform::ExecutableDirectory();
    if (folder.empty()) return;
    // Its constructors run as soon as it is loaded: as root, only a library of root's that nobody
    // else may change is loaded at all.
    std::string why;
    void* handle = platform::LoadTrustedLibrary(folder + kUsageLibraryName, RTLD_NOW | RTLD_LOCAL, &why);
    if (!handle) return;
    using GetTallyeyeFn = ITallyeye* (*)();
    auto get = reinterpret_cast<GetTallyeyeFn>(dlsym(handle, "GetTallyeye"));
    if (!get) return;
    try {
      s.library = get();
    } catch (...) {
      s.library = nullptr;
    }
  });
  return s.library;
}

void Notify(const Record& record) {
  State& s = TheState();
  std::lock_guard<std::mutex> lock(s.recorderMutex);
  if (s.recorder) s.recorder(record);
}

}  // namespace

void Event(int eventId) {
  Notify({Record::kEvent, eventId, 0});
  if (ITallyeye* library = Library()) {
    try {
      library->Event(eventId);
    } catch (...) {
    }
  }
}

void TimedEvent(int eventId, uint32_t elapsedMs) {
  Notify({Record::kTimedEvent, eventId, elapsedMs});
  if (ITallyeye* library = Library()) {
    try {
      library->TimedEvent(eventId, elapsedMs, 0);
    } catch (...) {
    }
  }
}

void EndRun() {
  Notify({Record::kEndRun, 0, 0});
  if (ITallyeye* library = Library()) {
    try {
      library->EndRun();
    } catch (...) {
    }
  }
}

void InstallDiskSummary() {
  SetDiskSummarySink([](const std::vector<DiskUsageSummary>& disks) {
    Notify({Record::kDiskSummary, static_cast<int>(disks.size()), 0});
    ITallyeye* library = Library();
    if (library == nullptr) return;
    std::vector<TallyDiskRecord> records(disks.size());
    for (size_t i = 0; i < disks.size(); ++i) {
      TallyDiskRecord& r = records[i];
      r = {};
      r.sectorCount = disks[i].SectorCount;
      r.bytesPerSector = disks[i].BytesPerSector;
      r.busType = disks[i].BusType;
      const size_t n = std::min(disks[i].Product.size(), std::size(r.product) - 1);
      std::copy_n(disks[i].Product.begin(), n, r.product);
    }
    try {
      library->DiskSummary(records.data(), static_cast<int>(records.size()));
    } catch (...) {
    }
  });
}

Recorder SetRecorder(Recorder recorder) {
  State& s = TheState();
  std::lock_guard<std::mutex> lock(s.recorderMutex);
  std::swap(s.recorder, recorder);
  return recorder;
}

}  // namespace corvale::usage
