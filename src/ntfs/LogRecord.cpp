#include "ntfs/LogRecord.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "ntfs/UpdateSequence.h"
#include "storage/ByteReader.h"

using corvale::ByteReader;
using corvale::ntfs::ParseResult;
namespace lp = corvale::ntfs::logpage;

namespace {

bool HasMagic(const uint8_t* b, size_t length, const char* magic) {
  return b && length >= 4 && std::memcmp(b, magic, 4) == 0;
}

// The eight stride ends of a page against the sequence number at `numberOffset`. The page keeps no
// update-sequence array that the scan reads: only the number is compared.
ParseResult CheckStrideEnds(const uint8_t* page, size_t numberOffset) {
  corvale::ntfs::UpdateSequence sequence;
  ParseResult read = corvale::ntfs::ReadUpdateSequence(page, lp::kPageSize, numberOffset, lp::kStrides + 1,
                                                       corvale::ntfs::StrideFit::Required, sequence);
  if (!read.IsValid()) return read;
  return corvale::ntfs::VerifyUpdateSequence(page, lp::kPageSize, sequence);
}

}  // namespace

bool IsLogRecordPage(const uint8_t* buffer, size_t length) { return HasMagic(buffer, length, "RCRD"); }

ParseResult CheckLogRecordPage(const uint8_t* buffer, size_t length) {
  if (!HasMagic(buffer, length, "RCRD")) return ParseResult::NotThis("magic", "is not \"RCRD\"");
  if (length < lp::kPageSize)
    return ParseResult::Damaged("log record page", "is shorter than 4096 bytes", length, 0, lp::kPageSize);
  ByteReader r(buffer, length);
  if (r.u16(lp::kUsaCount) != lp::kRecordUsaCount)
    return ParseResult::Damaged("update-sequence count", "is not 9", r.u16(lp::kUsaCount), lp::kUsaCount,
                                lp::kRecordUsaCount);
  if (r.u16(lp::kUsaOffset) != lp::kRecordUsaOffset)
    return ParseResult::Damaged("update-sequence offset", "is not 40", r.u16(lp::kUsaOffset), lp::kUsaOffset,
                                lp::kRecordUsaOffset);
  return CheckStrideEnds(buffer, lp::kRecordUsaOffset);
}

bool IsValidLogRecordPage(const uint8_t* buffer, size_t length) {
  return CheckLogRecordPage(buffer, length).IsValid();
}

bool IsRestartPage(const uint8_t* buffer, size_t length) { return HasMagic(buffer, length, "RSTR"); }

ParseResult CheckRestartPage(const uint8_t* buffer, size_t length) {
  static const uint8_t kClient[8] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
  if (!HasMagic(buffer, length, "RSTR")) return ParseResult::NotThis("magic", "is not \"RSTR\"");
  if (length < lp::kPageSize)
    return ParseResult::Damaged("restart page", "is shorter than 4096 bytes", length, 0, lp::kPageSize);
  if (std::memcmp(buffer + lp::kRestartClientName, kClient, sizeof kClient) != 0)
    return ParseResult::Damaged("client name", "is not \"NTFS\"",
                                ByteReader(buffer, length).u64(lp::kRestartClientName),
                                lp::kRestartClientName);
  return CheckStrideEnds(buffer, lp::kRestartSequenceNumber);
}

bool IsValidRestartPage(const uint8_t* buffer, size_t length) {
  return CheckRestartPage(buffer, length).IsValid();
}

std::string DescribeLogPage(const uint8_t* buffer, size_t length) {
  ByteReader r(buffer, length);
  char text[384];
  if (IsRestartPage(buffer, length)) {
    std::snprintf(text, sizeof text,
                  "RSTR page (%s)\nupdate-sequence offset %u\nupdate-sequence count %u\nchkdsk LSN %" PRIu64
                  "\nsystem page size %u\nlog page size %u\nrestart area offset %u\nversion %d.%d",
                  CheckRestartPage(buffer, length).describe().c_str(), r.u16(lp::kUsaOffset),
                  r.u16(lp::kUsaCount), r.u64(lp::kRestartChkdskLsn), r.u32(lp::kRestartSystemPageSize),
                  r.u32(lp::kRestartLogPageSize), r.u16(lp::kRestartAreaOffset),
                  static_cast<int16_t>(r.u16(lp::kRestartMajorVersion)),
                  static_cast<int16_t>(r.u16(lp::kRestartMinorVersion)));
  } else {
    std::snprintf(
        text, sizeof text,
        "RCRD page (%s)\nupdate-sequence offset %u\nupdate-sequence count %u\nlast LSN %" PRIu64
        "\nflags 0x%X\npage count %u\npage position %u\nnext record offset %u\nlast end LSN %" PRIu64,
        CheckLogRecordPage(buffer, length).describe().c_str(), r.u16(lp::kUsaOffset), r.u16(lp::kUsaCount),
        r.u64(lp::kRecordLastLsn), r.u32(lp::kRecordFlags), r.u16(lp::kRecordPageCount),
        r.u16(lp::kRecordPagePosition), r.u16(lp::kRecordNextRecordOffset), r.u64(lp::kRecordLastEndLsn));
  }
  return text;
}
