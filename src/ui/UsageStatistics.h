#pragma once
// Usage events for the outside usage-statistics library: the start of a run, user steps of the
// wizard with how long they took, the end of the run. The library is optional and none ships with
// the program: "libTallyeye.so" is looked for once, in the program's own folder only, and without
// it (or its export "GetTallyeye") no event goes anywhere. Nothing the library does, throwing
// included, can disturb the program. Running as root, a library that is not root's or that others
// may change is not loaded (platform::LoadTrustedLibrary), and the log says why.
//
// Tests install a recorder to see the events that are raised.

#include <cstdint>
#include <functional>

// One disk of the summary the device collection hands to the library: sector count, bytes per
// sector, bus type and the product text as a wide (UTF-16) string.
struct TallyDiskRecord {
  int64_t sectorCount;
  int32_t bytesPerSector;
  uint32_t busType;
  char16_t product[260];
};

// The object "GetTallyeye" returns: a table of operations of which the program calls the first
// (end of the run), the fifth (a timed event), the seventh (the summary of the disks found) and
// the eighth (an event); the others belong to other users of the library.
class ITallyeye {
 public:
  virtual void EndRun() = 0;
  virtual void Operation2() = 0;
  virtual void Operation3() = 0;
  virtual void Operation4() = 0;
  virtual void TimedEvent(int eventId, uint32_t elapsedMs, int reserved) = 0;
  virtual void Operation6() = 0;
  virtual void DiskSummary(const TallyDiskRecord* records, int count) = 0;
  virtual void Event(int eventId) = 0;

 protected:
  ~ITallyeye() = default;  // the library owns the object
};

namespace corvale::usage {

inline constexpr const char* kUsageLibraryName = "libTallyeye.so";

constexpr int kEventStart = 8192;

void Event(int eventId);
void TimedEvent(int eventId, uint32_t elapsedMs);
void EndRun();
// Makes the device collection hand its summary of the disks found to the library.
void InstallDiskSummary();

struct Record {
  enum Kind { kEvent, kTimedEvent, kEndRun, kDiskSummary } kind;
  int eventId;  // for a disk summary, the number of disks
  uint32_t elapsedMs;
};
// Sees every event raised, library or not. Null removes it. Returns the previous recorder.
using Recorder = std::function<void(const Record&)>;
Recorder SetRecorder(Recorder recorder);

}  // namespace corvale::usage
