// corvale-bench ntfs-records IMAGE: parses every FILE record of an NTFS image's MFT. The boot sector
// gives the geometry, the $MFT record its own runs (through its attribute list when it has one); the
// MFT is then read through those runs in 1 MiB pieces and each record is checked as the directory
// build checks it. Prints records per second (reading and parsing, and parsing alone) and how many
// records failed their fix-ups.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "bench/Bench.h"
#include "ntfs/FileRecord.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/NTFSDBR.h"
#include "storage/ImageFileDevice.h"

namespace {

constexpr uint64_t kPieceBytes = 1 << 20;

// Reads `length` bytes at byte `offset` of the image (512-byte sectors).
bool ReadBytes(CImageFileDevice& image, uint64_t offset, uint64_t length, uint8_t* out,
               std::vector<uint8_t>& scratch) {
  uint64_t first = offset / 512;
  uint64_t last = (offset + length + 511) / 512;
  if (offset % 512 == 0 && length % 512 == 0) return image.ReadSectors(out, first, last - first);
  scratch.resize((last - first) * 512);
  if (!image.ReadSectors(scratch.data(), first, last - first)) return false;
  std::copy_n(scratch.data() + offset % 512, length, out);
  return true;
}

// Bytes [offset, offset + length) of the $MFT's data, through its runs; holes read as zeros.
bool ReadMft(CImageFileDevice& image, const CNTFSRunList& runs, uint32_t bytesPerCluster, uint64_t offset,
             uint64_t length, uint8_t* out, std::vector<uint8_t>& scratch) {
  uint64_t done = 0;
  while (done < length) {
    uint64_t position = offset + done;
    uint64_t vcn = position / bytesPerCluster;
    const NTFSRun* run = nullptr;
    for (const NTFSRun& r : runs.Runs()) {
      if (int64_t(vcn) >= r.vcn && int64_t(vcn) - r.vcn < r.length) {
        run = &r;
        break;
      }
    }
    if (!run) return false;
    uint64_t runEnd = uint64_t(run->vcn + run->length) * bytesPerCluster;
    uint64_t n = std::min(length - done, runEnd - position);
    if (run->lcn < 0) {
      std::fill_n(out + done, n, 0);
    } else {
      uint64_t disk =
          uint64_t(run->lcn) * bytesPerCluster + (position - uint64_t(run->vcn) * bytesPerCluster);
      if (!ReadBytes(image, disk, n, out + done, scratch)) return false;
    }
    done += n;
  }
  return true;
}

int RunNtfsRecords(int argc, char** argv) {
  if (argc < 1) {
    std::fprintf(stderr, "usage: corvale-bench ntfs-records IMAGE\n");
    return 2;
  }
  CImageFileDevice image(argv[0]);
  if (!image.IsOpened()) {
    std::fprintf(stderr, "cannot open %s\n", argv[0]);
    return 1;
  }
  std::vector<uint8_t> scratch;
  uint8_t sector[512];
  CNTFSDBR boot;
  NTFSVolumeGeometry geometry;
  if (!image.ReadSectors(sector, 0, 1) || !boot.SetDBR(sector) || !boot.GetGeometry(geometry).IsValid()) {
    std::fprintf(stderr, "%s: no usable NTFS boot sector at its start\n", argv[0]);
    return 1;
  }
  const uint32_t recordSize = geometry.fileRecordSize;

  // The $MFT record and its runs, extension records included.
  std::vector<uint8_t> mftRecord(recordSize);
  if (!ReadBytes(image, geometry.mftByteOffset, recordSize, mftRecord.data(), scratch)) {
    std::fprintf(stderr, "%s: cannot read the $MFT record\n", argv[0]);
    return 1;
  }
  CNTFSRunList runs;
  int64_t dataSize = -1;
  {
    CNTFSFileRecordView view(mftRecord.data(), mftRecord.size());
    if (!view.IsValid() ||
        !GetDataRunListOfRecord(view.GetBuffer(), view.GetLength(), runs, false, &dataSize)) {
      std::fprintf(stderr, "%s: the $MFT record gives no runs\n", argv[0]);
      return 1;
    }
    NTFSMftPlacement placement{&runs, 0, 512, geometry.bytesPerCluster, recordSize};
    auto extensions = BuildAttributeListEntries(view.GetBuffer(), view.GetLength(),
                                                int64_t(geometry.mftByteOffset / 512), 0, &image, placement);
    if (extensions) {
      CNTFSFileRecord mft(mftRecord.data(), mftRecord.size(), int64_t(geometry.mftByteOffset / 512), &image,
                          extensions.get(), recordSize, 0);
      for (const CNTFSAttributeListEntry& e : mft.GetEntries()) {
        if (e.IsLoaded()) GetDataRunListOfRecord(e.GetRecord(), e.GetRecordLength(), runs, false, nullptr);
      }
    }
  }
  if (dataSize <= 0) {
    std::fprintf(stderr, "%s: the $MFT has no data size\n", argv[0]);
    return 1;
  }
  const uint64_t records = uint64_t(dataSize) / recordSize;

  uint64_t valid = 0, damaged = 0, fixupFailed = 0, notRecords = 0, inUse = 0, directories = 0;
  double parseSeconds = 0;
  const uint64_t perPiece = std::max<uint64_t>(1, kPieceBytes / recordSize);
  std::vector<uint8_t> piece(perPiece * recordSize);
  auto start = std::chrono::steady_clock::now();
  for (uint64_t first = 0; first < records; first += perPiece) {
    uint64_t count = std::min(perPiece, records - first);
    if (!ReadMft(image, runs, geometry.bytesPerCluster, first * recordSize, count * recordSize, piece.data(),
                 scratch)) {
      std::fprintf(stderr, "%s: MFT read failed at record %" PRIu64 "\n", argv[0], first);
      return 1;
    }
    auto parseStart = std::chrono::steady_clock::now();
    for (uint64_t i = 0; i < count; ++i) {
      const uint8_t* record = piece.data() + i * recordSize;
      corvale::ntfs::ParseResult result = CheckFileRecord(record, recordSize);
      if (result.outcome == corvale::ntfs::ParseOutcome::NotThisStructure) {
        ++notRecords;
        continue;
      }
      if (IsFileRecordHeaderValid(record, recordSize) && !VerifyFileRecordFixup(record, recordSize))
        ++fixupFailed;
      if (!result.IsValid()) {
        ++damaged;
        continue;
      }
      ++valid;
      if (IsInUse(record, recordSize)) ++inUse;
      if (IsDirectoryRecord(record, recordSize)) ++directories;
    }
    parseSeconds += SecondsSince(parseStart);
  }
  double seconds = SecondsSince(start);
  double perSecond = seconds > 0 ? double(records) / seconds : 0;
  double parsePerSecond = parseSeconds > 0 ? double(records) / parseSeconds : 0;

  std::printf("image %s: %" PRIu64 " records of %u bytes in %zu runs\n", argv[0], records, recordSize,
              runs.GetCount());
  std::printf("  valid %" PRIu64 " (in use %" PRIu64 ", folders %" PRIu64 "), damaged %" PRIu64
              ", failed fix-ups %" PRIu64 ", not FILE records %" PRIu64 "\n",
              valid, inUse, directories, damaged, fixupFailed, notRecords);
  std::printf("  read and parse  %12.0f records/s  (%.3f s)\n", perSecond, seconds);
  std::printf("  parse only      %12.0f records/s  (%.3f s)\n", parsePerSecond, parseSeconds);
  std::printf(
      "{\"bench\":\"ntfs-records\",\"records\":%" PRIu64 ",\"valid\":%" PRIu64 ",\"in_use\":%" PRIu64
      ",\"damaged\":%" PRIu64 ",\"fixup_failed\":%" PRIu64 ",\"not_records\":%" PRIu64
      ",\"seconds\":%.6f,\"records_per_second\":%.0f,\"parse_seconds\":%.6f,\"parse_records_per_second\":%."
      "0f}\n",
      records, valid, inUse, damaged, fixupFailed, notRecords, seconds, perSecond, parseSeconds,
      parsePerSecond);
  return 0;
}

const BenchRegistration kNtfsRecords("ntfs-records", "IMAGE", RunNtfsRecords);

}  // namespace
