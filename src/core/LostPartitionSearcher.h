#pragma once
// The lost-partition search: finds partitions whose table entries are gone by offering the sectors
// at every cylinder start of the usual geometries (and one track after each), and at every 1 MiB
// boundary outside the partitions already found, to one tester per file system. It reads two
// sectors per cylinder and one per free MiB; the full check of a file system is read only where its
// boot sector passes.
//
// The search runs on the thread that calls it (a window runs it on its job's worker). Progress, found
// partitions and cancellation pass through IPartitionSearchCallback, called on that thread; the
// callback's PumpMessages is where a window may hold the search while it asks the user something.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "core/IPartitionFileSystemSearchController.h"
#include "core/IPartitionSearchCallback.h"
#include "core/LostPartitionRecord.h"
#include "core/PartitionSearchAlgorithm.h"

class IStorageDevice;

// Deletes a found record together with its window device.
struct LostPartitionRecordDeleter {
  void operator()(CLostPartitionRecord* record) const;
};
using LostPartitionRecordPtr = std::unique_ptr<CLostPartitionRecord, LostPartitionRecordDeleter>;
using LostPartitionRecordList = std::vector<LostPartitionRecordPtr>;

// A copy of `record` that owns a window device of its own over the same sectors.
LostPartitionRecordPtr CopyLostPartitionRecord(const CLostPartitionRecord& record);

// Fills `out` for a partition found at `start` whose file system gives `count` sectors, with a
// window device over `windowCount` sectors (0: over the record's count); a count of 0 or one running
// past the device end is cut at the device end. The label is cut to fit its field.
void FillLostPartitionRecord(CLostPartitionRecord* out, IStorageDevice* device, uint64_t start,
                             uint64_t count, int32_t type, const char* label, size_t labelLength,
                             uint64_t windowCount);

class CLostPartitionSearchBase {
 public:
  CLostPartitionSearchBase();
  virtual ~CLostPartitionSearchBase();
  CLostPartitionSearchBase(const CLostPartitionSearchBase&) = delete;
  CLostPartitionSearchBase& operator=(const CLostPartitionSearchBase&) = delete;

  // The device searched (not owned); its sector count and size are read here.
  void SetDevice(IStorageDevice* device);
  // Testers are asked in the order added (not owned).
  void AddTester(IPartitionFileSystemSearchController* tester);
  void AddAlgorithm(std::unique_ptr<IPartitionSearchAlgorithm> algorithm);
  // Runs the search on the calling thread and returns when it has ended (completed or cancelled).
  bool RunSearch(IPartitionSearchCallback* callback);
  bool IsDone() const { return m_done.load(); }
  // Sectors read at the positions of the last search.
  uint64_t GetProbeCount() const { return m_probes; }

 protected:
  // The search's body.
  void Search();
  void TestAt(uint64_t position);
  bool IsInsideFoundPartition(uint64_t position) const;

  IStorageDevice* m_device = nullptr;
  uint64_t m_sectorCount = 0;
  std::vector<IPartitionFileSystemSearchController*> m_testers;
  std::vector<std::unique_ptr<IPartitionSearchAlgorithm>> m_algorithms;
  std::vector<uint8_t> m_sector;
  CLostPartitionRecord m_current;
  // The sectors [start, end) of every partition found so far.
  std::vector<std::pair<uint64_t, uint64_t>> m_found;
  uint64_t m_probes = 0;
  std::atomic<bool> m_done{false};
  IPartitionSearchCallback* m_callback = nullptr;
};

class CLostPartitionSearcher : public CLostPartitionSearchBase {
 public:
  // Takes one tester of each file system from the engine table, in the order FAT, NTFS, Ext2.
  CLostPartitionSearcher();
  ~CLostPartitionSearcher() override;

  // Searches `device` with the 255-head walk, after it the 240-head walk when `heads` (the disk's
  // own geometry) is 240, and last the 1 MiB boundaries. Every partition found goes to `progress`
  // (may be null) and into `found`.
  bool Search(IStorageDevice* device, int32_t heads, IPartitionSearchCallback* progress,
              LostPartitionRecordList& found);

  // Searches, then drops every found partition that starts where a partition of the disk's current
  // tables starts, and appends the others to `out`.
  bool FindNewPartitions(IStorageDevice* device, int32_t heads, IPartitionSearchCallback* progress,
                         LostPartitionRecordList& out);

 private:
  std::vector<std::unique_ptr<IPartitionFileSystemSearchController>> m_ownedTesters;
};
