#pragma once
// $LogFile pages (FORMAT.md, "$LogFile pages"): restart pages ("RSTR") and log record pages ("RCRD").
// The scan takes them as evidence of an NTFS partition. Both tests read the page in place and never
// change it.

#include <cstddef>
#include <cstdint>
#include <string>

#include "ntfs/NtfsParse.h"

namespace corvale::ntfs::logpage {
constexpr size_t kPageSize = 4096;  // eight 512-byte strides
constexpr uint32_t kStride = 512;
constexpr size_t kStrides = 8;

constexpr size_t kMagic = 0x00;
constexpr size_t kUsaOffset = 0x04;
constexpr size_t kUsaCount = 0x06;

// Restart page.
constexpr size_t kRestartChkdskLsn = 0x08;
constexpr size_t kRestartSystemPageSize = 0x10;
constexpr size_t kRestartLogPageSize = 0x14;
constexpr size_t kRestartAreaOffset = 0x18;
constexpr size_t kRestartMinorVersion = 0x1A;
constexpr size_t kRestartMajorVersion = 0x1C;
constexpr size_t kRestartSequenceNumber = 0x1E;  // the update sequence number the strides carry
constexpr size_t kRestartClientName = 0x90;      // "NTFS" in UTF-16 (the log client's name)

// Log record page.
constexpr uint16_t kRecordUsaOffset = 40;
constexpr uint16_t kRecordUsaCount = 9;
constexpr size_t kRecordLastLsn = 0x08;
constexpr size_t kRecordFlags = 0x10;
constexpr size_t kRecordPageCount = 0x14;
constexpr size_t kRecordPagePosition = 0x16;
constexpr size_t kRecordNextRecordOffset = 0x18;
constexpr size_t kRecordLastEndLsn = 0x20;
}  // namespace corvale::ntfs::logpage

// "RCRD" at the start.
bool IsLogRecordPage(const uint8_t* buffer, size_t length);
// A 4096-byte page: "RCRD", update-sequence count 9, update-sequence offset 40, and the last word of
// each of the eight 512-byte strides equal to the update sequence number (the word at offset 40).
bool IsValidLogRecordPage(const uint8_t* buffer, size_t length);
corvale::ntfs::ParseResult CheckLogRecordPage(const uint8_t* buffer, size_t length);

// "RSTR" at the start.
bool IsRestartPage(const uint8_t* buffer, size_t length);
// A 4096-byte page: "RSTR", "NTFS" in UTF-16 at 0x90 (the name of the log's client), and the update
// sequence number at 0x1E at the end of each of the eight strides.
bool IsValidRestartPage(const uint8_t* buffer, size_t length);
corvale::ntfs::ParseResult CheckRestartPage(const uint8_t* buffer, size_t length);

// The header fields of either page; for trace logging.
std::string DescribeLogPage(const uint8_t* buffer, size_t length);
