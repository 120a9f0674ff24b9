// Seeded mutation of real records, index buffers, boot sectors and run strings, each mutant handed
// to every parser. Under the sanitizers this shows that no input crashes, hangs or reads outside its
// buffer; the loop is bounded by a count so it takes seconds. Inputs that once broke a parser are
// kept in tests/fixtures/regress/ntfs/ and replayed.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "NtfsTestVolume.h"
#include "ntfs/FileRecord.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/IndexBuffer.h"
#include "ntfs/LogRecord.h"
#include "ntfs/NTFSDBR.h"
#include "ntfs/VolumeLabelReader.h"
#include "storage/MemoryDevice.h"

namespace attr = corvale::ntfs::attr;

namespace {

// Keeps the optimiser from dropping results the loop only computes.
volatile uint64_t g_sink;

const uint32_t kTypes[] = {attr::kStandardInformation, attr::kAttributeList, attr::kFileName,
                           attr::kVolumeName,          attr::kData,          attr::kIndexRoot,
                           attr::kIndexAllocation,     attr::kBitmap,        attr::kLoggedUtilityStream};

void Mutate(std::vector<uint8_t>& b, std::mt19937_64& rng) {
  static const uint64_t kValues[] = {
      0,           1,    0x7F, 0x80,  0xFF,  0x7FFF,     0x8000,     0xFFFF,
      0x10,        0x18, 0x40, 0x3F8, 0x400, 0xFFFFFFFF, 0x80000000, 0x7FFFFFFFFFFFFFFFull,
      ~uint64_t{0}};
  if (b.empty()) return;
  int edits = 1 + int(rng() % 4);
  for (int i = 0; i < edits; ++i) {
    size_t at = rng() % b.size();
    switch (rng() % 5) {
      case 0:
        b[at] ^= uint8_t(1u << (rng() % 8));
        break;
      case 1:
        b[at] = uint8_t(rng());
        break;
      case 2: {
        // A boundary value into a 2-, 4- or 8-byte field.
        unsigned width = 2u << (rng() % 3);
        uint64_t v = kValues[rng() % (sizeof kValues / sizeof kValues[0])];
        for (unsigned k = 0; k < width && at + k < b.size(); ++k) b[at + k] = uint8_t(v >> (8 * k));
        break;
      }
      case 3: {
        // Shift a stretch by a few bytes, as a lost or doubled byte would.
        size_t n = std::min<size_t>(b.size() - at, 1 + rng() % 64);
        size_t by = 1 + rng() % 8;
        if (at + by < b.size())
          std::memmove(b.data() + at, b.data() + at + by, std::min(n, b.size() - at - by));
        break;
      }
      default:
        // A small field of the headers, where most checks live.
        b[rng() % std::min<size_t>(b.size(), 0x60)] = uint8_t(rng());
        break;
    }
  }
}

// The lookups over the first `cut` bytes of a record, held in a buffer of exactly that size, so that
// a read past an attribute at the end of the buffer is a read past the allocation.
void RunLookups(const uint8_t* record, size_t cut) {
  uint64_t sink = 0;
  std::vector<uint8_t> b(record, record + cut);
  for (uint32_t type : kTypes) {
    for (int i = 0; i < 3; ++i) {
      CNTFSFileRecordAttribute a = FindAttribute(b.data(), b.size(), type, i);
      if (!a) break;
      sink += CheckAttribute(a.GetData(), a.GetLength()).IsValid() +
              CheckFileNameAttribute(a.GetData(), a.GetLength()).IsValid();
      CNTFSFileRecordFileNameAttribute name(a);
      if (name.IsUsable()) sink += name.GetFileName().NameUtf8().size();
      CNTFSFileRecordDataRunsAttribute runs(a);
      sink += runs.GetRunList().GetCount();
      sink += uint64_t(GetIndexRootParentReference(a));
    }
  }
  sink += uint64_t(CheckFileRecordAttributes(b.data(), b.size()).outcome);
  g_sink = sink;
}

void RunRecordParsers(const std::vector<uint8_t>& input, IStorageDevice* device,
                      const NTFSMftPlacement& placement, size_t cut = 0) {
  uint64_t sink = 0;
  std::vector<uint8_t> record = input;
  sink += uint64_t(CheckFileRecord(record.data(), record.size()).outcome);
  sink += IsValidNTFSFileRecord(record.data(), record.size());
  sink += IsFileRecordHeaderValid(record.data(), record.size());
  sink += VerifyFileRecordFixup(record.data(), record.size());
  {
    CNTFSFileRecordView inPlace(record.data(), record.size(), false);
    sink += inPlace.describe().size();
  }
  if (record != input) ADD_FAILURE() << "a view did not put the caller's buffer back";
  CNTFSFileRecordView view(record.data(), record.size());
  const uint8_t* b = view.IsValid() ? view.GetBuffer() : record.data();
  size_t n = view.IsValid() ? view.GetLength() : record.size();
  for (uint32_t type : kTypes) {
    sink += CountAttributes(b, n, type);
    for (int i = 0; i < 3; ++i) {
      CNTFSFileRecordAttribute a = FindAttribute(b, n, type, i);
      if (!a) break;
      sink += a.GetValue().size() + a.GetRunString().size() + a.GetNameUtf8().size();
      CNTFSFileRecordDataRunsAttribute runs(a);
      sink += runs.GetRunList().GetCount() + uint64_t(GetAttributeRunTotal(a));
      CNTFSFileRecordFileNameAttribute name(a);
      if (name.IsUsable()) sink += name.GetFileName().NameUtf8().size();
      NTFSStandardInformation info;
      sink += ParseStandardInformationValue(a.GetValue(), info).IsValid();
      sink += uint64_t(GetIndexRootParentReference(a));
      ForEachIndexRootEntry(a, [&](const NTFSIndexEntry& e) {
        NTFSFileName key;
        sink += e.GetFileName(key).IsValid() + IsIndexEntrySizeSane(e);
        return true;
      });
    }
  }
  sink += uint64_t(GetMetadataFileNumber(view)) + IsMetadataFileRecord(view) + IsMFTFileRecord(view);
  sink += HasNonResidentIndexAllocation(b, n);
  char label[kNTFSVolumeNameBytes];
  size_t written = 0;
  sink += GetNTFSVolumeName(record.data(), record.size(), label, &written) + written;
  CNTFSRunList runs;
  int64_t size = 0;
  sink += GetDataRunListOfRecord(b, n, runs, true, &size) + GetDataRunListOfRecord(b, n, runs, false, &size);
  uint32_t spc = 0;
  sink += InferSectorsPerCluster(b, n, 512, spc) + spc;
  CNTFSFileRecordHeader header;
  sink += header.CopyFileRecordHeader(record.data(), record.size());
  auto list = BuildAttributeListEntries(b, n, 100, -1, device, placement);
  CNTFSFileRecord file(record.data(), record.size(), 100, device, list.get(), placement.recordSize);
  for (uint32_t type : kTypes) sink += bool(file.FindAttribute(type, 1));
  if (cut > 0 && cut <= n) RunLookups(b, cut);
  g_sink = sink;
}

void RunIndexParsers(const std::vector<uint8_t>& input) {
  uint64_t sink = 0;
  std::vector<uint8_t> buffer = input;
  sink += uint64_t(CheckIndexBuffer(buffer.data(), buffer.size()).outcome);
  sink += IsValidIndexBuffer(buffer.data(), buffer.size()) +
          IsIndexBufferHeaderValid(buffer.data(), buffer.size());
  if (buffer != input) ADD_FAILURE() << "an index test changed its buffer";
  sink += ApplyIndexBufferFixup(buffer.data(), buffer.size());
  sink += AreIndexEntriesConsistent(buffer.data(), buffer.size());
  sink += uint64_t(GetIndexBufferParent(buffer.data(), buffer.size()));
  ForEachIndexBufferEntry(buffer.data(), buffer.size(), [&](const NTFSIndexEntry& e) {
    NTFSFileName key;
    if (e.GetFileName(key).IsValid()) sink += key.NameUtf8().size();
    sink += IsIndexEntrySizeSane(e) + GetIndexEntryFileReference(e);
    return true;
  });
  sink += RestoreIndexBufferFixup(buffer.data(), buffer.size());
  sink += DescribeIndexBuffer(buffer.data(), buffer.size()).size();
  sink +=
      IsValidLogRecordPage(buffer.data(), buffer.size()) + IsValidRestartPage(buffer.data(), buffer.size());
  g_sink = sink;
}

void RunBootParsers(const std::vector<uint8_t>& sector, IStorageDevice* device) {
  uint64_t sink = uint64_t(CheckNTFSDBR(sector.data(), sector.size()).outcome);
  CNTFSDBR dbr;
  if (dbr.SetDBR(sector.data(), sector.size())) {
    NTFSVolumeGeometry geometry;
    sink += dbr.GetGeometry(geometry).IsValid() + dbr.GetFileRecordSize() + dbr.describe().size();
    char label[kNTFSVolumeNameBytes];
    size_t written = 0;
    CNTFSVolumeLabelReader reader(device);
    sink += reader.ReadVolumeLabel(0, dbr, label, &written) + written;
  }
  g_sink = sink;
}

void RunRunStringParsers(const std::vector<uint8_t>& s) {
  uint64_t sink = IsValidDataRunString(s.data(), s.size()) + uint64_t(SumDataRunLengths(s.data(), s.size()));
  std::vector<NTFSRun> runs;
  sink += DecodeNTFSDataRuns(s.data(), s.size(), runs);
  CNTFSRunList list;
  sink += list.Decode(s.data(), s.size()) + list.AppendDecoded(s.data(), s.size(), int64_t(s.size()) << 40);
  for (const NTFSRun& run : list.Runs())
    sink += uint64_t(list.VcnToLcn(run.vcn)) + uint64_t(list.LcnToVcn(run.lcn));
  sink += uint64_t(list.GetTotalClusters());
  g_sink = sink;
}

NTFSMftPlacement PlacementOf(const NtfsTestVolume& v) {
  NTFSMftPlacement p;
  p.mftRuns = &v.mftRuns;
  p.sectorSize = v.geometry.bytesPerSector;
  p.bytesPerCluster = v.geometry.bytesPerCluster;
  p.recordSize = v.geometry.fileRecordSize;
  return p;
}

}  // namespace

TEST(NtfsMutationLoop, RealRecordsAndBuffersNeverBreakAParser) {
  for (const char* kind : {"c4096", "s4096"}) {
    CORVALE_NTFS_VOLUME(volume, kind);
    SCOPED_TRACE(kind);
    std::mt19937_64 rng(0xC0FFEE + volume->geometry.fileRecordSize);
    MemoryDevice device(volume->image, volume->geometry.bytesPerSector);
    NTFSMftPlacement placement = PlacementOf(*volume);
    const NtfsManifest& m = volume->manifest;

    // Records of every kind: system files, folders with index buffers, runs, holes, streams, an
    // attribute list, extension records, a deleted file.
    std::vector<int64_t> picks = {
        0, 1, 2, 3, 4, 5, 6, 9, 10, 11, 24, m.bigDirectory, m.hardLinked, m.sparse, m.stream};
    picks.insert(picks.end(), m.fragmented.begin(), m.fragmented.end());
    picks.push_back(m.deleted.begin()->first);
    for (size_t n = 27; n < volume->records.size(); ++n) {
      if (IsExtensionRecord(volume->records[n].data(), volume->records[n].size())) {
        picks.push_back(int64_t(n));
        break;
      }
    }
    for (int i = 0; i < 6000; ++i) {
      std::vector<uint8_t> record = volume->records.at(picks[rng() % picks.size()]);
      // Half the mutants are made on the fixed-up record and protected again, so that they pass the
      // fix-up and reach the attribute walk.
      bool reprotect = rng() % 2 == 0 && ApplyFileRecordFixup(record.data(), record.size());
      Mutate(record, rng);
      if (reprotect) RestoreFileRecordFixup(record.data(), record.size());
      RunRecordParsers(record, &device, placement, 0x30 + rng() % (record.size() - 0x30));
    }

    // Index buffers of the big folder.
    const std::vector<uint8_t>& big = volume->records.at(m.bigDirectory);
    CNTFSFileRecordView folder(big.data(), big.size());
    CNTFSFileRecordDataRunsAttribute allocation(folder.FindAttribute(attr::kIndexAllocation));
    ASSERT_TRUE(allocation.HasRuns());
    uint32_t block = folder.FindAttribute(attr::kIndexRoot).GetValue().u32(8);
    for (int i = 0; i < 3000; ++i) {
      uint64_t at = (rng() % uint64_t(allocation.GetDataSize() / block)) * block;
      std::vector<uint8_t> buffer = volume->ReadRuns(allocation.GetRunList(), at, block);
      bool reprotect = rng() % 2 == 0 && ApplyIndexBufferFixup(buffer.data(), buffer.size());
      Mutate(buffer, rng);
      if (reprotect) RestoreIndexBufferFixup(buffer.data(), buffer.size());
      RunIndexParsers(buffer);
    }

    for (int i = 0; i < 3000; ++i) {
      std::vector<uint8_t> sector(volume->image.begin(), volume->image.begin() + 512);
      Mutate(sector, rng);
      RunBootParsers(sector, &device);
    }

    // Run strings: real ones mutated, and random bytes.
    for (int i = 0; i < 6000; ++i) {
      std::vector<uint8_t> s;
      if (i % 2 == 0) {
        const std::vector<uint8_t>& r = volume->records.at(m.fragmented[rng() % m.fragmented.size()]);
        CNTFSFileRecordView view(r.data(), r.size());
        corvale::ByteReader runs = view.FindAttribute(attr::kData).GetRunString();
        s.assign(runs.data(), runs.data() + runs.size());
        Mutate(s, rng);
      } else {
        s.resize(rng() % 48);
        for (uint8_t& c : s) c = uint8_t(rng());
      }
      RunRunStringParsers(s);
    }
  }
}

TEST(NtfsMutationLoop, KeptInputsReplay) {
  namespace fs = std::filesystem;
  fs::path folder = fs::path(CORVALE_FIXTURE_SCRIPTS) / "regress" / "ntfs";
  std::error_code ec;
  size_t replayed = 0;
  NTFSMftPlacement placement;
  CNTFSRunList runs;
  runs.Append({0, 0, 64});
  placement.mftRuns = &runs;
  placement.bytesPerCluster = 4096;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().filename().string());
    MemoryDevice device(std::vector<uint8_t>(256 * 1024, 0));
    RunRecordParsers(bytes, &device, placement, bytes.size());
    RunIndexParsers(bytes);
    RunBootParsers(bytes, &device);
    RunRunStringParsers(bytes);
    ++replayed;
  }
  if (replayed == 0) GTEST_SKIP() << "no kept inputs in " << folder;
}
