// $LogFile pages. Neither mkntfs nor ntfs-3g writes log pages (a fresh $LogFile is filled with 0xFF),
// so the pages are made by hand to the published layout.

#include <gtest/gtest.h>

#include <vector>

#include "HandMadeRecords.h"
#include "NtfsTestVolume.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/LogRecord.h"

using corvale::ntfs::ParseOutcome;
namespace lp = corvale::ntfs::logpage;

namespace {

// Writes the update sequence number at each stride end, keeping what was there in the array.
void Protect(std::vector<uint8_t>& page, size_t usaOffset, uint16_t usn) {
  handmade::Put(page, usaOffset, usn, 2);
  for (size_t i = 0; i < lp::kStrides; ++i) {
    size_t end = (i + 1) * lp::kStride - 2;
    page[usaOffset + 2 + 2 * i] = page[end];
    page[usaOffset + 3 + 2 * i] = page[end + 1];
    handmade::Put(page, end, usn, 2);
  }
}

std::vector<uint8_t> RestartPage() {
  std::vector<uint8_t> page(lp::kPageSize, 0);
  std::copy_n("RSTR", 4, page.begin());
  handmade::Put(page, lp::kUsaOffset, 0x1E, 2);
  handmade::Put(page, lp::kUsaCount, 9, 2);
  handmade::Put(page, lp::kRestartSystemPageSize, 4096, 4);
  handmade::Put(page, lp::kRestartLogPageSize, 4096, 4);
  handmade::Put(page, lp::kRestartAreaOffset, 0x30, 2);
  handmade::Put(page, lp::kRestartMinorVersion, 1, 2);
  handmade::Put(page, lp::kRestartMajorVersion, 1, 2);
  // Restart area at 0x30: one log client, whose record (at 0x30 + 0x40) carries its name at 0x20.
  handmade::Put(page, 0x30 + 0x08, 1, 2);
  handmade::Put(page, 0x30 + 0x0A, 0xFFFF, 2);
  handmade::Put(page, 0x30 + 0x12, 0x40, 2);
  handmade::Put(page, 0x70 + 0x1C, 8, 4);
  const char name[] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
  std::copy(name, name + 8, page.begin() + lp::kRestartClientName);
  for (size_t i = 0x100; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i * 7);
  Protect(page, 0x1E, 0x0003);
  return page;
}

std::vector<uint8_t> LogRecordPage() {
  std::vector<uint8_t> page(lp::kPageSize, 0);
  std::copy_n("RCRD", 4, page.begin());
  handmade::Put(page, lp::kUsaOffset, lp::kRecordUsaOffset, 2);
  handmade::Put(page, lp::kUsaCount, lp::kRecordUsaCount, 2);
  handmade::Put(page, lp::kRecordLastLsn, 0x123456, 8);
  handmade::Put(page, lp::kRecordPageCount, 1, 2);
  handmade::Put(page, lp::kRecordPagePosition, 1, 2);
  handmade::Put(page, lp::kRecordNextRecordOffset, 0x58, 2);
  for (size_t i = 0x40; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i * 13);
  Protect(page, lp::kRecordUsaOffset, 0x0007);
  return page;
}

}  // namespace

TEST(NtfsLogPages, HandMadePagesPass) {
  std::vector<uint8_t> restart = RestartPage();
  const std::vector<uint8_t> original = restart;
  EXPECT_TRUE(IsRestartPage(restart.data(), restart.size()));
  EXPECT_TRUE(IsValidRestartPage(restart.data(), restart.size()));
  EXPECT_FALSE(IsValidLogRecordPage(restart.data(), restart.size()));
  EXPECT_EQ(restart, original);
  std::vector<uint8_t> record = LogRecordPage();
  EXPECT_TRUE(IsLogRecordPage(record.data(), record.size()));
  EXPECT_TRUE(IsValidLogRecordPage(record.data(), record.size()));
  EXPECT_FALSE(IsValidRestartPage(record.data(), record.size()));
  EXPECT_NE(DescribeLogPage(record.data(), record.size()).find("next record offset 88"), std::string::npos);
  EXPECT_NE(DescribeLogPage(restart.data(), restart.size()).find("log page size 4096"), std::string::npos);
}

struct LogRow {
  const char* name;
  bool restart;  // a restart page, else a log record page
  size_t offset;
  std::vector<uint8_t> bytes;
  ParseOutcome outcome;
};

class NtfsLogPageField : public ::testing::TestWithParam<LogRow> {};

TEST_P(NtfsLogPageField, OneFieldChanged) {
  const LogRow& row = GetParam();
  std::vector<uint8_t> page = row.restart ? RestartPage() : LogRecordPage();
  std::copy(row.bytes.begin(), row.bytes.end(), page.begin() + row.offset);
  corvale::ntfs::ParseResult result =
      row.restart ? CheckRestartPage(page.data(), page.size()) : CheckLogRecordPage(page.data(), page.size());
  EXPECT_EQ(result.outcome, row.outcome) << result.describe();
  bool valid = row.restart ? IsValidRestartPage(page.data(), page.size())
                           : IsValidLogRecordPage(page.data(), page.size());
  EXPECT_EQ(valid, row.outcome == ParseOutcome::Valid);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NtfsLogPageField,
    ::testing::Values(
        LogRow{"RecordUnchanged", false, 0, {}, ParseOutcome::Valid},
        LogRow{"RecordMagic", false, 0, {'R', 'C', 'R', 'X'}, ParseOutcome::NotThisStructure},
        LogRow{"RecordUsaCount8", false, lp::kUsaCount, {8, 0}, ParseOutcome::Damaged},
        LogRow{"RecordUsaOffset48", false, lp::kUsaOffset, {48, 0}, ParseOutcome::Damaged},
        LogRow{"RecordLastStrideTorn", false, 4094, {0, 0}, ParseOutcome::Damaged},
        LogRow{"RecordSequenceNumberChanged", false, 40, {9, 9}, ParseOutcome::Damaged},
        LogRow{"RestartUnchanged", true, 0, {}, ParseOutcome::Valid},
        LogRow{"RestartMagic", true, 0, {'R', 'S', 'T', 'X'}, ParseOutcome::NotThisStructure},
        LogRow{"RestartClientName", true, lp::kRestartClientName, {'X', 0}, ParseOutcome::Damaged},
        LogRow{"RestartFirstStrideTorn", true, 510, {0, 0}, ParseOutcome::Damaged},
        LogRow{
            "RestartSequenceNumberChanged", true, lp::kRestartSequenceNumber, {4, 0}, ParseOutcome::Damaged}),
    [](const ::testing::TestParamInfo<LogRow>& info) { return std::string(info.param.name); });

TEST(NtfsLogPages, ShortBuffersAreRefused) {
  std::vector<uint8_t> restart = RestartPage();
  std::vector<uint8_t> record = LogRecordPage();
  EXPECT_FALSE(IsValidRestartPage(restart.data(), 4095));
  EXPECT_FALSE(IsValidLogRecordPage(record.data(), 512));
  EXPECT_FALSE(IsValidLogRecordPage(nullptr, 4096));
  EXPECT_FALSE(IsRestartPage(restart.data(), 3));
}

TEST(NtfsLogPages, FreshLogFileHoldsNoPages) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  const std::vector<uint8_t>& r = volume->records.at(2);
  CNTFSFileRecordView view(r.data(), r.size());
  CNTFSFileRecordDataRunsAttribute data(view.FindAttribute(corvale::ntfs::attr::kData));
  ASSERT_TRUE(data.HasRuns());
  std::vector<uint8_t> log = volume->ReadRuns(data.GetRunList(), 0, size_t(data.GetDataSize()));
  for (size_t at = 0; at + lp::kPageSize <= log.size(); at += lp::kPageSize) {
    EXPECT_EQ(CheckRestartPage(log.data() + at, lp::kPageSize).outcome, ParseOutcome::NotThisStructure);
    EXPECT_EQ(CheckLogRecordPage(log.data() + at, lp::kPageSize).outcome, ParseOutcome::NotThisStructure);
  }
}
