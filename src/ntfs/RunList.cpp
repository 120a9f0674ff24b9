#include "ntfs/RunList.h"

#include "core/IRSData.h"
#include "core/MappingPairs.h"
#include "storage/ByteReader.h"
#include "storage/CheckedMath.h"

using corvale::ByteReader;
namespace attr = corvale::ntfs::attr;

bool IsValidDataRunString(const uint8_t* bytes, size_t length) {
  if (!bytes) return false;
  size_t p = 0;
  while (p < length) {
    uint8_t header = bytes[p];
    if (header == 0) return true;
    unsigned lengthSize = header & 0x0F;
    unsigned offsetSize = header >> 4;
    if (lengthSize > 4 || offsetSize > 4) return false;
    p += 1 + lengthSize + offsetSize;
  }
  // Ran off the end without meeting the terminating 0.
  return false;
}

bool DecodeNTFSDataRuns(const uint8_t* bytes, size_t length, std::vector<NTFSRun>& out) {
  const size_t before = out.size();
  // The byte codec is the one the recovery core packs every engine's runs with; this only turns its
  // runs into the engine's signed form.
  corvale::MappingPairsDecoder decoder(bytes, length, 8);
  corvale::MappingPair pair;
  for (;;) {
    switch (decoder.Next(pair)) {
      case corvale::MappingPairsDecoder::Step::Run:
        // Runs are kept in signed 64 bits: a length or an end past that is no run of a volume.
        if (pair.length > uint64_t(INT64_MAX) || pair.vcn + pair.length > uint64_t(INT64_MAX)) {
          out.resize(before);
          return false;
        }
        out.push_back({pair.start == kSparseRunStart ? -1 : static_cast<int64_t>(pair.start),
                       static_cast<int64_t>(pair.vcn), static_cast<int64_t>(pair.length)});
        break;
      case corvale::MappingPairsDecoder::Step::End:
        return true;
      case corvale::MappingPairsDecoder::Step::Damaged:
        out.resize(before);
        return false;
    }
  }
}

int64_t SumDataRunLengths(const uint8_t* bytes, size_t length) {
  if (!IsValidDataRunString(bytes, length)) return -1;
  std::vector<NTFSRun> runs;
  if (!DecodeNTFSDataRuns(bytes, length, runs)) return -1;
  int64_t total = 0;
  for (const NTFSRun& run : runs) total += run.length;  // bounded: the VCNs did not overflow
  return total;
}

bool CNTFSRunList::Decode(const uint8_t* bytes, size_t length) {
  m_runs.clear();
  if (!IsValidDataRunString(bytes, length)) return false;
  return DecodeNTFSDataRuns(bytes, length, m_runs);
}

bool CNTFSRunList::AppendDecoded(const uint8_t* bytes, size_t length, int64_t lowestVcn) {
  if (!IsValidDataRunString(bytes, length)) return false;
  std::vector<NTFSRun> runs;
  if (!DecodeNTFSDataRuns(bytes, length, runs)) return false;
  for (NTFSRun& run : runs) {
    int64_t end;
    if (__builtin_add_overflow(run.vcn, lowestVcn, &run.vcn) || run.vcn < 0 ||
        __builtin_add_overflow(run.vcn, run.length, &end))
      return false;
  }
  m_runs.insert(m_runs.end(), runs.begin(), runs.end());
  return true;
}

int64_t CNTFSRunList::VcnToLcn(int64_t vcn) const {
  for (const NTFSRun& run : m_runs) {
    if (vcn >= run.vcn && vcn - run.vcn < run.length) return run.lcn < 0 ? -1 : run.lcn + (vcn - run.vcn);
  }
  return -1;
}

int64_t CNTFSRunList::LcnToVcn(int64_t lcn) const {
  for (const NTFSRun& run : m_runs) {
    if (run.lcn < 0) continue;
    if (lcn >= run.lcn && lcn - run.lcn < run.length) return run.vcn + (lcn - run.lcn);
  }
  return -1;
}

int64_t CNTFSRunList::GetTotalClusters() const {
  int64_t total = 0;
  for (const NTFSRun& run : m_runs) {
    if (__builtin_add_overflow(total, run.length, &total)) return INT64_MAX;
  }
  return total;
}

void CNTFSRunList::Save(IRSData& stream) const {
  uint8_t field[24];
  corvale::putLE(field, m_runs.size(), 8);
  stream.Write(field, 8);
  for (const NTFSRun& run : m_runs) {
    corvale::putLE(field, static_cast<uint64_t>(run.lcn), 8);
    corvale::putLE(field + 8, static_cast<uint64_t>(run.length), 8);
    corvale::putLE(field + 16, static_cast<uint64_t>(run.vcn), 8);
    stream.Write(field, sizeof field);
  }
}

bool CNTFSRunList::Load(IRSData& stream) {
  m_runs.clear();
  uint8_t field[24];
  if (stream.Read(field, 8) != 8) return false;
  uint64_t count = ByteReader(field, 8).u64(0);
  // The count comes from a file: runs are read one at a time, so a count larger than the stream
  // ends at the stream's end instead of at an allocation of that size.
  for (uint64_t i = 0; i < count; ++i) {
    if (stream.Read(field, sizeof field) != sizeof field) {
      m_runs.clear();
      return false;
    }
    ByteReader r(field, sizeof field);
    m_runs.push_back(
        {static_cast<int64_t>(r.u64(0)), static_cast<int64_t>(r.u64(16)), static_cast<int64_t>(r.u64(8))});
  }
  return true;
}

CNTFSFileRecordDataRunsAttribute::CNTFSFileRecordDataRunsAttribute(const CNTFSFileRecordAttribute& attribute)
    : CNTFSFileRecordAttribute(attribute) {
  m_parsed = ParseAttributeRuns(*this, m_runs);
}

bool ParseAttributeRuns(const CNTFSFileRecordAttribute& attribute, CNTFSRunList& list) {
  list.Clear();
  if (!attribute || !attribute.IsNonResident()) return false;
  ByteReader runs = attribute.GetRunString();
  if (runs.size() == 0) return false;
  return list.Decode(runs.data(), runs.size());
}

int64_t GetAttributeRunTotal(const CNTFSFileRecordAttribute& attribute) {
  if (!attribute || !attribute.IsNonResident()) return -1;
  ByteReader runs = attribute.GetRunString();
  if (runs.size() == 0) return -1;
  return SumDataRunLengths(runs.data(), runs.size());
}

bool GetDataRunListOfRecord(const uint8_t* record, size_t length, CNTFSRunList& list, bool checkTotals,
                            int64_t* outDataSize) {
  for (int i = 0;; ++i) {
    CNTFSFileRecordAttribute data = FindAttribute(record, length, attr::kData, i);
    if (!data) return true;
    // Named streams are other data of the file, not the file's contents.
    if (data.IsNamed()) continue;
    if (!data.IsNonResident() || data.GetRunString().size() == 0) return false;
    if (checkTotals && !data.IsCompressed()) {
      int64_t total = GetAttributeRunTotal(data);
      int64_t span;
      if (total < 0 || __builtin_sub_overflow(data.GetHighestVcn(), data.GetLowestVcn(), &span) ||
          __builtin_add_overflow(span, 1, &span) || total != span)
        return false;
    }
    ByteReader runs = data.GetRunString();
    if (!list.AppendDecoded(runs.data(), runs.size(), data.GetLowestVcn())) return false;
    if (data.GetLowestVcn() == 0 && outDataSize) *outDataSize = data.GetDataSize();
  }
}

uint32_t RoundUpToClusterSize(uint64_t n) {
  for (uint32_t size = 1; size <= 128; size *= 2) {
    if (n >= 1 && n <= size) return size;
  }
  return 0;
}

bool InferSectorsPerCluster(const uint8_t* record, size_t length, uint32_t sectorSize, uint32_t& out) {
  if (sectorSize == 0 || sectorSize % 512 != 0) sectorSize = 512;
  CNTFSRunList runs;
  int64_t dataSize = -1;
  if (!GetDataRunListOfRecord(record, length, runs, true, &dataSize)) return false;
  int64_t clusters = runs.GetTotalClusters();
  if (clusters <= 0 || dataSize <= 0) return false;
  auto sectorBytesOfRuns = corvale::checkedMul(uint64_t(clusters), sectorSize);
  if (!sectorBytesOfRuns) return false;
  // Rounded up: the last cluster of the data may be partly used.
  uint64_t n = uint64_t(dataSize) / *sectorBytesOfRuns + (uint64_t(dataSize) % *sectorBytesOfRuns != 0);
  out = RoundUpToClusterSize(n);
  return out != 0;
}
