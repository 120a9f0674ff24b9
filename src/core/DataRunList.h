#pragma once
// Where a found file's data lies: a list of extents (start, length), counted in the unit of the
// engine that found the file (clusters, blocks or sectors). A start of all ones marks a sparse run,
// one that holds no data on the device and reads as zeros.

#include <cstddef>
#include <cstdint>
#include <deque>

class IRSData;

inline constexpr uint64_t kSparseRunStart = ~uint64_t{0};

// Kinds of run lists; the numbers are what GetKind answers.
enum DataRunListKind : int32_t {
  kRunListFat = 0,
  kRunListNtfsResident = 1,
  kRunListNtfsNonResident = 2,
  kRunListRaw = 3,
  kRunListExt2 = 4,
};

struct DataRun {
  uint64_t start = 0;
  uint64_t length = 0;
  bool operator==(const DataRun&) const = default;
  bool IsSparse() const { return start == kSparseRunStart; }
};

// A run that starts out as "no start, no length".
struct CDataRun : DataRun {
  CDataRun() : DataRun{kSparseRunStart, 0} {}
};

class IDataRunList {
 public:
  virtual ~IDataRunList() = default;
  virtual bool IsResident() const { return false; }
  virtual uint32_t GetResidentValue() const { return 0; }
  // Run count (4 bytes), then each run as start and length (8 bytes each), little-endian.
  virtual void Save(IRSData& writer) const;
  // Reads the same and appends the runs in order. Runs are taken one by one as they arrive, so
  // a forged count ends in the stream's short-read exception rather than a huge allocation.
  virtual void Load(IRSData& reader);
  virtual int32_t GetKind() const = 0;

  // Cursor walk: GetFirst resets the cursor; both return null past the last run.
  const DataRun* GetFirst();
  const DataRun* GetNext();
  bool IsEnd() const { return m_cursor >= m_runs.size(); }
  // Appends a run as it is, without merging it into the previous one.
  void AppendRun(uint64_t start, uint64_t length) { m_runs.push_back(DataRun{start, length}); }

  size_t GetRunCount() const { return m_runs.size(); }
  const std::deque<DataRun>& Runs() const { return m_runs; }

 protected:
  std::deque<DataRun>& MutableRuns() { return m_runs; }

 private:
  // A deque keeps each run where it is while runs are appended, so pointers handed out by the
  // cursor stay valid.
  std::deque<DataRun> m_runs;
  size_t m_cursor = 0;
};
