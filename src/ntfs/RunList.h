#pragma once
// Run lists (FORMAT.md, "Run lists"): the mapping pairs of a non-resident attribute, checked and
// decoded into runs of (start cluster, first virtual cluster, length), and the list object the
// engine keeps them in.
//
// Decoding goes through one function, DecodeNTFSDataRuns, over the recovery core's mapping-pairs
// codec; everything that needs runs out of a run string (the list object, the sums, the attribute
// helpers) goes through it.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ntfs/FileRecordAttribute.h"

class IRSData;

// One decoded run. 24 bytes, in this order.
struct NTFSRun {
  int64_t lcn;     // start cluster; -1 for a sparse run (a hole: no clusters on disk)
  int64_t vcn;     // first virtual cluster of the run
  int64_t length;  // in clusters
  bool operator==(const NTFSRun&) const = default;
};

// The run string check that must pass before a string is decoded: for each header byte up to a 0
// byte, both the offset size (high nibble) and the length size (low nibble) are at most 4 bytes, and
// the header with its fields stays below `length`, so that the terminating 0 lies inside.
bool IsValidDataRunString(const uint8_t* bytes, size_t length);

// Decodes a run string, appending to `out`: each run's length is unsigned, its start a signed delta
// from the previous start (1 to 8 bytes, sign-extended); a header without an offset is a sparse run
// (start -1) that leaves the running start where it was; a 0 header ends the string. False, with
// `out` as it was, when the terminator is not inside `length`, a header names fields past it, a run
// length or end does not fit 63 bits, or a run that is not sparse starts before cluster 0 (such a
// run would read outside the volume). The byte codec is the recovery core's (core/MappingPairs.h).
bool DecodeNTFSDataRuns(const uint8_t* bytes, size_t length, std::vector<NTFSRun>& out);

// The sum of the run lengths of a string that passes IsValidDataRunString; -1 otherwise.
int64_t SumDataRunLengths(const uint8_t* bytes, size_t length);

class CNTFSRunList {
 public:
  // Clears the list, then checks and decodes the string; false (and an empty list) when invalid.
  bool Decode(const uint8_t* bytes, size_t length);
  // Checks and decodes the string and appends its runs with their virtual clusters moved by
  // `lowestVcn` (the lowest VCN of the attribute that holds it); false, list unchanged, when invalid.
  bool AppendDecoded(const uint8_t* bytes, size_t length, int64_t lowestVcn);
  void Append(const NTFSRun& run) { m_runs.push_back(run); }
  void Clear() { m_runs.clear(); }

  // The cluster holding virtual cluster `vcn`; -1 when no run holds it or it lies in a hole.
  int64_t VcnToLcn(int64_t vcn) const;
  // The virtual cluster held in cluster `lcn`; -1 when no run holds it. Holes hold no cluster.
  int64_t LcnToVcn(int64_t lcn) const;
  bool ContainsLcn(int64_t lcn) const { return LcnToVcn(lcn) != -1; }
  // The sum of the run lengths, holes included.
  int64_t GetTotalClusters() const;
  bool IsEqual(const CNTFSRunList& other) const { return m_runs == other.m_runs; }

  const std::vector<NTFSRun>& Runs() const { return m_runs; }
  size_t GetCount() const { return m_runs.size(); }
  bool IsEmpty() const { return m_runs.empty(); }

  // Saved form: 8-byte run count, then per run 8 bytes start cluster, 8 bytes length, 8 bytes
  // first virtual cluster. Errors of the stream are its exceptions, passed on.
  void Save(IRSData& stream) const;
  // Reads the saved form; false (list cleared) when the stream ends before the runs it announces.
  bool Load(IRSData& stream);

 private:
  std::vector<NTFSRun> m_runs;
};

// A $DATA-like attribute with its run list decoded.
class CNTFSFileRecordDataRunsAttribute : public CNTFSFileRecordAttribute {
 public:
  explicit CNTFSFileRecordDataRunsAttribute(const CNTFSFileRecordAttribute& attribute);
  // False when the attribute is not non-resident or its run string is not valid.
  bool HasRuns() const { return m_parsed; }
  const CNTFSRunList& GetRunList() const { return m_runs; }

 private:
  CNTFSRunList m_runs;
  bool m_parsed = false;
};

// The run string of a non-resident attribute (from its run-list offset to its end), checked and
// decoded into `list` (cleared first); false when the attribute is absent, resident or the string
// invalid.
bool ParseAttributeRuns(const CNTFSFileRecordAttribute& attribute, CNTFSRunList& list);
// SumDataRunLengths of the attribute's run string; -1 when it is absent or invalid.
int64_t GetAttributeRunTotal(const CNTFSFileRecordAttribute& attribute);

// The runs of the record's unnamed $DATA attributes, in order, each moved by its lowest VCN and
// appended to `list`; the data size of the one starting at VCN 0 goes to `outDataSize`. Fails at a
// resident unnamed $DATA, at a run string that is not valid, and, with `checkTotals`, at an
// uncompressed attribute whose runs do not cover exactly its lowest to highest VCN. The record is
// read as it is given (fix-up applied by the caller).
bool GetDataRunListOfRecord(const uint8_t* record, size_t length, CNTFSRunList& list, bool checkTotals,
                            int64_t* outDataSize);

// The sectors per cluster a record's $DATA implies: data size / total clusters / sector size,
// rounded up and then to a power of two by RoundUpToClusterSize. `sectorSize` is the sector size of
// the device the record came from (0 or a value that is not a multiple of 512 counts as 512).
// False when the record has no usable runs or the result is not a cluster size.
bool InferSectorsPerCluster(const uint8_t* record, size_t length, uint32_t sectorSize, uint32_t& out);
// 1 to 1, 2 to 2, 3-4 to 4, 5-8 to 8, ... 65-128 to 128; anything else 0.
uint32_t RoundUpToClusterSize(uint64_t n);
