#pragma once
// The two run-list forms of NTFS, which are also the form every engine's runs take when they are
// expanded from their packed mapping pairs.

#include <cstddef>
#include <cstdint>

#include "core/DataRunList.h"

// Data kept inside a FILE record: one run (the record's absolute sector, length 1) and the offset
// of the value inside the record buffer.
class CResidentNTFSDataRunList : public IDataRunList {
 public:
  bool IsResident() const override { return true; }
  uint32_t GetResidentValue() const override { return m_residentValue; }
  // The base runs, then the 4-byte resident value.
  void Save(IRSData& writer) const override;
  void Load(IRSData& reader) override;
  int32_t GetKind() const override { return kRunListNtfsResident; }

  void SetRun(uint64_t recordSector, uint64_t length, uint32_t residentValue);

 private:
  uint32_t m_residentValue = 0;
};

// Data in clusters: runs of (start cluster or kSparseRunStart, length in clusters) in VCN order.
class CNoneResidentNTFSDataRunList : public IDataRunList {
 public:
  int32_t GetKind() const override { return kRunListNtfsNonResident; }

  // Replaces the runs by those of a mapping-pairs string. A damaged string leaves no runs and
  // gives false.
  bool ParseDataRuns(const uint8_t* bytes, size_t length);
};
